// The one module that converts text between the table/language code page
// (Windows-1252, "ANSI"), the OEM code page 850 and UTF-8 (widgets, files,
// console). Character values of the language are always 1252 bytes.
#pragma once

#include <string>
#include <string_view>

namespace xb {

std::string cp1252ToUtf8(std::string_view s);
// Characters not in 1252 become `replacement`; invalid UTF-8 bytes are taken
// as 1252 bytes as they stand (so a 1252 text passed by mistake survives).
std::string utf8ToCp1252(std::string_view s, char replacement = '?');
std::string cp850ToUtf8(std::string_view s);
std::string utf8ToCp850(std::string_view s, char replacement = '?');
std::string oemToAnsi(std::string_view s);  // 850 -> 1252
std::string ansiToOem(std::string_view s);  // 1252 -> 850

// Case of Windows-1252 letters, accented ones included.
unsigned char upper1252(unsigned char c);
unsigned char lower1252(unsigned char c);
std::string upper1252(std::string_view s);
std::string lower1252(std::string_view s);
bool isAlpha1252(unsigned char c);
bool isUpper1252(unsigned char c);
bool isLower1252(unsigned char c);

}  // namespace xb
