// Index keys as compact compound index files store them: byte strings that
// compare with memcmp in the order the values compare.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dbf::cdxkey {

// What a tag's key holds. It decides the pad byte of the stored keys (blanks
// for text, zero bytes for the binary forms) and how keys print.
enum class Type : char {
    Character = 'C',
    Numeric = 'N',  // 8-byte double, also dates (Julian day) and VFP datetimes
    Date = 'D',
    Integer = 'I',  // VFP 4-byte integer
    Logical = 'L',
};

inline char padByte(Type t) {
    return t == Type::Character || t == Type::Logical ? ' ' : '\0';
}

// 8-byte big-endian double with the sign trick: the sign bit set for values
// >= 0 and every bit inverted for negative ones, so bytes order like numbers.
std::string fromNumber(double v);
double toNumber(std::string_view key);  // 0 when the key is not 8 bytes

// Dates are their Julian day number as a double (0 for the empty date).
inline std::string fromDate(int32_t julianDay) {
    return fromNumber(julianDay);
}

// VFP integer keys: 4 bytes big-endian with the sign bit flipped.
std::string fromInteger(int32_t v);
int32_t toInteger(std::string_view key);

inline std::string fromLogical(bool v) {
    return v ? "T" : "F";
}

// Character keys: the bytes, blank-padded (or cut) to the key length.
std::string fromText(std::string_view text, size_t keyLength);

// A key in readable form for dumps and messages: text for character keys,
// the number for the binary forms (dates as YYYYMMDD).
std::string display(std::string_view key, Type t);

}  // namespace dbf::cdxkey
