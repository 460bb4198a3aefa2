#include "dbf/cdxkey.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace dbf::cdxkey {

std::string fromNumber(double v) {
    if (v == 0) v = 0;  // -0 keys as 0
    if (std::isnan(v)) v = 0;
    uint64_t bits = std::bit_cast<uint64_t>(v);
    if (v >= 0) {
        bits |= uint64_t{1} << 63;
    } else {
        bits = ~bits;
    }
    std::string k(8, '\0');
    for (int i = 0; i < 8; ++i) k[i] = static_cast<char>(bits >> (56 - 8 * i));
    return k;
}

double toNumber(std::string_view key) {
    if (key.size() != 8) return 0;
    uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = (bits << 8) | static_cast<uint8_t>(key[i]);
    if (bits & (uint64_t{1} << 63)) {
        bits &= ~(uint64_t{1} << 63);
    } else {
        bits = ~bits;
    }
    return std::bit_cast<double>(bits);
}

std::string fromInteger(int32_t v) {
    uint32_t u = static_cast<uint32_t>(v) ^ 0x80000000u;
    std::string k(4, '\0');
    for (int i = 0; i < 4; ++i) k[i] = static_cast<char>(u >> (24 - 8 * i));
    return k;
}

int32_t toInteger(std::string_view key) {
    if (key.size() != 4) return 0;
    uint32_t u = 0;
    for (int i = 0; i < 4; ++i) u = (u << 8) | static_cast<uint8_t>(key[i]);
    return static_cast<int32_t>(u ^ 0x80000000u);
}

std::string fromText(std::string_view text, size_t keyLength) {
    std::string k(text.substr(0, keyLength));
    k.resize(keyLength, ' ');
    return k;
}

namespace {
// Civil date of a Julian day number (Fliegel & Van Flandern).
void civil(int64_t jd, int& y, int& m, int& d) {
    int64_t l = jd + 68569;
    int64_t n = 4 * l / 146097;
    l = l - (146097 * n + 3) / 4;
    int64_t i = 4000 * (l + 1) / 1461001;
    l = l - 1461 * i / 4 + 31;
    int64_t j = 80 * l / 2447;
    d = static_cast<int>(l - 2447 * j / 80);
    l = j / 11;
    m = static_cast<int>(j + 2 - 12 * l);
    y = static_cast<int>(100 * (n - 49) + i + l);
}
}  // namespace

std::string display(std::string_view key, Type t) {
    char buf[64];
    switch (t) {
        case Type::Integer:
            std::snprintf(buf, sizeof buf, "%d", toInteger(key));
            return buf;
        case Type::Numeric:
            std::snprintf(buf, sizeof buf, "%.15g", toNumber(key));
            return buf;
        case Type::Date: {
            double v = toNumber(key);
            if (v <= 0 || v > 1e8) return "        ";
            int y, m, d;
            civil(static_cast<int64_t>(v), y, m, d);
            std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d);
            return buf;
        }
        default: {
            std::string s(key);
            while (!s.empty() && s.back() == ' ') s.pop_back();
            return s;
        }
    }
}

}  // namespace dbf::cdxkey
