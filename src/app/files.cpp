#include "app/files.h"

#include <QDir>

#include "dbf/paths.h"

namespace app {

QString startFile(const QString& name) {
    return QDir::current().absoluteFilePath(
        QString::fromStdString(dbf::resolvePath(name.toStdString())));
}

}  // namespace app
