#include "xbase/codepage.h"

#include "xbase/utf8.h"

#include <array>
#include <cstdint>

namespace xb {

namespace {
// Unicode code points of Windows-1252 bytes 0x80..0x9F (0 = undefined; such
// bytes map to the C1 control of the same value so they round-trip).
constexpr uint16_t k1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Code page 850, bytes 0x80..0xFF.
constexpr uint16_t k850High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0, 0x00A9, 0x2563, 0x2551, 0x2557,
    0x255D, 0x00A2, 0x00A5, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4, 0x00F0, 0x00D0, 0x00CA, 0x00CB,
    0x00C8, 0x0131, 0x00CD, 0x00CE, 0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE, 0x00DE, 0x00DA, 0x00DB, 0x00D9,
    0x00FD, 0x00DD, 0x00AF, 0x00B4, 0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0};

uint32_t cp1252ToCode(unsigned char c) {
    if (c >= 0x80 && c <= 0x9F) return k1252High[c - 0x80];
    return c;
}

uint32_t cp850ToCode(unsigned char c) {
    return c < 0x80 ? c : k850High[c - 0x80];
}

int codeTo1252(uint32_t u) {
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return static_cast<int>(u);
    for (int i = 0; i < 32; ++i)
        if (k1252High[i] == u) return 0x80 + i;
    return -1;
}

int codeTo850(uint32_t u) {
    if (u < 0x80) return static_cast<int>(u);
    for (int i = 0; i < 128; ++i)
        if (k850High[i] == u) return 0x80 + i;
    return -1;
}

// Decodes one UTF-8 sequence at s[i]; returns its length, 0 when invalid.
size_t decodeUtf8(std::string_view s, size_t i, uint32_t& u) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t len;
    if (c < 0x80) {
        u = c;
        return 1;
    } else if ((c & 0xE0) == 0xC0) {
        len = 2;
        u = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        len = 3;
        u = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        len = 4;
        u = c & 0x07;
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        unsigned char cc = static_cast<unsigned char>(s[i + k]);
        if ((cc & 0xC0) != 0x80) return 0;
        u = (u << 6) | (cc & 0x3F);
    }
    static const uint32_t minFor[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (u < minFor[len] || u > 0x10FFFF || (u >= 0xD800 && u <= 0xDFFF)) return 0;
    return len;
}

template <class ToByte>
std::string fromUtf8(std::string_view s, char replacement, ToByte toByte) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        uint32_t u = 0;
        size_t n = decodeUtf8(s, i, u);
        if (n == 0) {
            // Not UTF-8: keep the byte as it stands.
            out += s[i];
            ++i;
            continue;
        }
        int b = toByte(u);
        out += b < 0 ? replacement : static_cast<char>(b);
        i += n;
    }
    return out;
}

// 850 -> 1252 and back through Unicode, built once.
struct OemTables {
    std::array<char, 256> toAnsi{};
    std::array<char, 256> toOem{};
    OemTables() {
        for (int c = 0; c < 256; ++c) {
            int a = codeTo1252(cp850ToCode(static_cast<unsigned char>(c)));
            toAnsi[c] = static_cast<char>(a < 0 ? '?' : a);
            int o = codeTo850(cp1252ToCode(static_cast<unsigned char>(c)));
            toOem[c] = static_cast<char>(o < 0 ? '?' : o);
        }
    }
};
const OemTables& oemTables() {
    static const OemTables t;
    return t;
}
}  // namespace

std::string cp1252ToUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size() + s.size() / 8);
    for (unsigned char c : s) appendUtf8(out, cp1252ToCode(c));
    return out;
}

std::string utf8ToCp1252(std::string_view s, char replacement) {
    return fromUtf8(s, replacement, codeTo1252);
}

std::string cp850ToUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size() + s.size() / 8);
    for (unsigned char c : s) appendUtf8(out, cp850ToCode(c));
    return out;
}

std::string utf8ToCp850(std::string_view s, char replacement) {
    return fromUtf8(s, replacement, codeTo850);
}

std::string oemToAnsi(std::string_view s) {
    const auto& t = oemTables();
    std::string out(s);
    for (auto& c : out) c = t.toAnsi[static_cast<unsigned char>(c)];
    return out;
}

std::string ansiToOem(std::string_view s) {
    const auto& t = oemTables();
    std::string out(s);
    for (auto& c : out) c = t.toOem[static_cast<unsigned char>(c)];
    return out;
}

bool isUpper1252(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || c == 0x8A || c == 0x8C || c == 0x8E || c == 0x9F ||
           (c >= 0xC0 && c <= 0xDE && c != 0xD7);
}

bool isLower1252(unsigned char c) {
    return (c >= 'a' && c <= 'z') || c == 0x9A || c == 0x9C || c == 0x9E || c == 0xFF ||
           (c >= 0xDF && c <= 0xFE && c != 0xF7) || c == 0x83 || c == 0xAA || c == 0xBA ||
           c == 0xB5;
}

bool isAlpha1252(unsigned char c) {
    return isUpper1252(c) || isLower1252(c);
}

unsigned char upper1252(unsigned char c) {
    if (c >= 'a' && c <= 'z') return c - 32;
    if (c < 0x80) return c;
    switch (c) {
        case 0x9A:
            return 0x8A;  // š
        case 0x9C:
            return 0x8C;  // œ
        case 0x9E:
            return 0x8E;  // ž
        case 0xFF:
            return 0x9F;  // ÿ
    }
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
    return c;  // ß, ª, º, µ have no single-byte capital
}

unsigned char lower1252(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c + 32;
    if (c < 0x80) return c;
    switch (c) {
        case 0x8A:
            return 0x9A;
        case 0x8C:
            return 0x9C;
        case 0x8E:
            return 0x9E;
        case 0x9F:
            return 0xFF;
    }
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
    return c;
}

std::string upper1252(std::string_view s) {
    std::string out(s);
    for (auto& c : out) c = static_cast<char>(upper1252(static_cast<unsigned char>(c)));
    return out;
}

std::string lower1252(std::string_view s) {
    std::string out(s);
    for (auto& c : out) c = static_cast<char>(lower1252(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace xb
