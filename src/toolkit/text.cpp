#include "toolkit/text.h"

#include "xbase/codepage.h"

namespace tk {

QString fromAnsi(const std::string& bytes) {
    return QString::fromStdString(xb::cp1252ToUtf8(bytes));
}
std::string toAnsi(const QString& text) {
    return xb::utf8ToCp1252(text.toStdString());
}
QString fromOem(const std::string& bytes) {
    return QString::fromStdString(xb::cp850ToUtf8(bytes));
}

}  // namespace tk
