// Conversion between the bytes the language and the tables hold (Windows-1252,
// some stored texts in the DOS code page 850) and the Unicode text of widgets.
// Widgets are the only place where this conversion happens in the toolkit.
#pragma once

#include <QString>
#include <string>

namespace tk {

QString fromAnsi(const std::string& bytes);
// Characters outside Windows-1252 become "?".
std::string toAnsi(const QString& text);
QString fromOem(const std::string& bytes);

}  // namespace tk
