#include "app/help.h"

#include "app/files.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QShortcut>
#include <QTextBrowser>
#include <QUrl>

namespace app {

namespace {

struct HelpSettings {
    QString file;
    QString title = QString::fromUtf8(kHelpDefaultWindowTitle);
    QString topic;
};

HelpSettings& settings() {
    static HelpSettings s;
    return s;
}

}  // namespace

QString SETHELPFILE(const QString& file, const QString& title) {
    HelpSettings& s = settings();
    const QString previous = s.file;
    if (!file.isEmpty()) s.file = file;
    s.title = title.isEmpty() ? QString::fromUtf8(kHelpDefaultWindowTitle) : title;
    return previous;
}

QString SETHELPTOPIC(const QString& topic) {
    HelpSettings& s = settings();
    const QString previous = s.topic;
    if (!topic.isEmpty()) s.topic = topic;
    return previous;
}

QWidget* HELPINDEX(const QString& file, const QString& title) {
    const HelpSettings& s = settings();
    const QString helpFile = file.isEmpty() ? s.file : file;
    const QString windowTitle = title.isEmpty() ? s.title : title;
    if (helpFile.isEmpty()) return nullptr;

    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && w->windowTitle() == windowTitle &&
            w->objectName() == QLatin1String("helpWindow")) {
            w->showMinimized();
            w->close();
        }
    }
    const QString path = startFile(helpFile);
    if (!QFileInfo::exists(path))
        return nullptr;  // like a viewer that finds no file: nothing else happens

    auto* browser = new QTextBrowser(QApplication::activeWindow());
    browser->setWindowFlags(Qt::Window);
    browser->setAttribute(Qt::WA_DeleteOnClose);
    browser->setObjectName(QStringLiteral("helpWindow"));
    browser->setWindowTitle(windowTitle);
    browser->setOpenExternalLinks(true);
    browser->setSearchPaths({QFileInfo(path).absolutePath()});
    QUrl url = QUrl::fromLocalFile(path);
    if (!s.topic.isEmpty()) url.setFragment(s.topic);
    browser->setSource(url);
    browser->resize(760, 560);
    // Escape closes the help as it closes the program's dialogs.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), browser);
    QObject::connect(escape, &QShortcut::activated, browser, &QWidget::close);
    browser->show();
    return browser;
}

}  // namespace app
