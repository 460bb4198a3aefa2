// Julian day numbers as the tables store them (D as YYYYMMDD text, T as a day
// number): 2000-01-01 is day 2451545.
#pragma once

#include <cstdint>

namespace dbf {

inline int32_t julianFromYmd(int y, int m, int d) {
    int a = (14 - m) / 12;
    int yy = y + 4800 - a;
    int mm = m + 12 * a - 3;
    return d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
}

inline void ymdFromJulian(int32_t jd, int& y, int& m, int& d) {
    int a = jd + 32044;
    int b = (4 * a + 3) / 146097;
    int c = a - 146097 * b / 4;
    int dd = (4 * c + 3) / 1461;
    int e = c - 1461 * dd / 4;
    int mm = (5 * e + 2) / 153;
    d = e - (153 * mm + 2) / 5 + 1;
    m = mm + 3 - 12 * (mm / 10);
    y = 100 * b + dd - 4800 + mm / 10;
}

// A valid calendar date?
inline bool validYmd(int y, int m, int d) {
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int max = days[m - 1];
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) max = 29;
    return d <= max;
}

}  // namespace dbf
