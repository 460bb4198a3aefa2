// Dates as Julian Day Numbers (2000-01-01 = 2451545); 0 is the empty date.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace xb {

struct Ymd {
    int year = 0;
    int month = 0;
    int day = 0;
};

inline constexpr int32_t kJdn2000 = 2451545;

int32_t julianFromYmd(int year, int month, int day);  // 0 when the date is not valid
Ymd ymdFromJulian(int32_t jdn);                       // {0,0,0} for 0 / out of range
bool validYmd(int year, int month, int day);
int daysInMonth(int year, int month);

std::string dtos(int32_t jdn);            // "yyyymmdd"; 8 blanks for the empty date
int32_t stod(std::string_view yyyymmdd);  // 0 when blank or invalid
int dayOfWeek(int32_t jdn);               // 1 = Sunday .. 7 = Saturday; 0 when empty

// Formats/parses with a format made of dd, mm, yy or yyyy and separators
// ("dd-mm-yyyy", "dd/mm/yyyy", "yyyy.mm.dd"...). The empty date prints as the
// format with blanks for the digits ("  -  -    "). Parsing a two-digit year
// applies the epoch: yy >= epoch%100 is (epoch century)yy, else the next one.
std::string formatDate(int32_t jdn, std::string_view format);
int32_t parseDate(std::string_view text, std::string_view format, int epoch);

int32_t todayJulian();  // local time

}  // namespace xb
