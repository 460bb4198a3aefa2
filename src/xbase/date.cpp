#include "xbase/date.h"

#include <cctype>
#include <cstdio>
#include <ctime>

namespace xb {

namespace {
// Years 1..9999 are the dates the language handles.
constexpr int32_t kMinJdn = 1721426;  // 0001-01-01
constexpr int32_t kMaxJdn = 5373484;  // 9999-12-31

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}
}  // namespace

int daysInMonth(int year, int month) {
    static const int d[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return month == 2 && isLeap(year) ? 29 : d[month - 1];
}

bool validYmd(int year, int month, int day) {
    return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
           day <= daysInMonth(year, month);
}

int32_t julianFromYmd(int y, int m, int d) {
    if (!validYmd(y, m, d)) return 0;
    // Gregorian calendar to Julian Day Number (Fliegel & Van Flandern).
    int a = (14 - m) / 12;
    int yy = y + 4800 - a;
    int mm = m + 12 * a - 3;
    return d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
}

Ymd ymdFromJulian(int32_t jdn) {
    if (jdn < kMinJdn || jdn > kMaxJdn) return {};
    int a = jdn + 32044;
    int b = (4 * a + 3) / 146097;
    int c = a - 146097 * b / 4;
    int d = (4 * c + 3) / 1461;
    int e = c - 1461 * d / 4;
    int m = (5 * e + 2) / 153;
    Ymd r;
    r.day = e - (153 * m + 2) / 5 + 1;
    r.month = m + 3 - 12 * (m / 10);
    r.year = 100 * b + d - 4800 + m / 10;
    return r;
}

std::string dtos(int32_t jdn) {
    Ymd v = ymdFromJulian(jdn);
    if (v.year == 0) return std::string(8, ' ');
    // Built by hand: index keys call this for every record.
    char buf[8];
    buf[0] = static_cast<char>('0' + v.year / 1000);
    buf[1] = static_cast<char>('0' + v.year / 100 % 10);
    buf[2] = static_cast<char>('0' + v.year / 10 % 10);
    buf[3] = static_cast<char>('0' + v.year % 10);
    buf[4] = static_cast<char>('0' + v.month / 10);
    buf[5] = static_cast<char>('0' + v.month % 10);
    buf[6] = static_cast<char>('0' + v.day / 10);
    buf[7] = static_cast<char>('0' + v.day % 10);
    return std::string(buf, 8);
}

int32_t stod(std::string_view s) {
    if (s.size() < 8) return 0;
    int v[8];
    for (int i = 0; i < 8; ++i) {
        if (!isDigit(s[i])) return 0;
        v[i] = s[i] - '0';
    }
    int y = v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3];
    int m = v[4] * 10 + v[5];
    int d = v[6] * 10 + v[7];
    return julianFromYmd(y, m, d);
}

int dayOfWeek(int32_t jdn) {
    if (ymdFromJulian(jdn).year == 0) return 0;
    // JDN 0 was a Monday; make Sunday = 1.
    return static_cast<int>((jdn + 1) % 7) + 1;
}

std::string formatDate(int32_t jdn, std::string_view fmt) {
    Ymd v = ymdFromJulian(jdn);
    std::string out;
    out.reserve(fmt.size());
    for (size_t i = 0; i < fmt.size();) {
        char c = static_cast<char>(std::tolower(static_cast<unsigned char>(fmt[i])));
        size_t run = 1;
        while (i + run < fmt.size() && std::tolower(static_cast<unsigned char>(fmt[i + run])) == c)
            ++run;
        if (c == 'd' || c == 'm' || c == 'y') {
            int val = c == 'd' ? v.day : c == 'm' ? v.month : v.year;
            if (v.year == 0) {
                out.append(run, ' ');
            } else {
                char buf[16];
                int width = static_cast<int>(run);
                if (width > 8) width = 8;
                if (c == 'y' && width < 4) val %= 100;
                std::snprintf(buf, sizeof buf, "%0*d", width, val);
                std::string s(buf);
                if (s.size() > run) s = s.substr(s.size() - run);
                out += s;
            }
        } else {
            out.append(fmt.substr(i, run));
        }
        i += run;
    }
    return out;
}

int32_t parseDate(std::string_view text, std::string_view fmt, int epoch) {
    // Walks the format: each run of d/m/y reads the digits found at that
    // point (up to the run's length), anything else skips one separator.
    int d = 0, m = 0, y = -1, yDigits = 0;
    size_t t = 0;
    bool any = false;
    for (size_t i = 0; i < fmt.size();) {
        char c = static_cast<char>(std::tolower(static_cast<unsigned char>(fmt[i])));
        size_t run = 1;
        while (i + run < fmt.size() && std::tolower(static_cast<unsigned char>(fmt[i + run])) == c)
            ++run;
        if (c == 'd' || c == 'm' || c == 'y') {
            while (t < text.size() && text[t] == ' ') ++t;
            int val = 0, n = 0;
            size_t maxDigits = c == 'y' ? 4 : 2;
            while (t < text.size() && isDigit(text[t]) && static_cast<size_t>(n) < maxDigits) {
                val = val * 10 + (text[t] - '0');
                ++t;
                ++n;
            }
            if (n > 0) any = true;
            if (c == 'd') d = n ? val : 0;
            if (c == 'm') m = n ? val : 0;
            if (c == 'y') {
                y = n ? val : -1;
                yDigits = n;
            }
        } else {
            // A separator: skip whatever non-digit stands there.
            while (t < text.size() && !isDigit(text[t])) ++t;
        }
        i += run;
    }
    if (!any || y < 0) return 0;
    if (yDigits <= 2) {
        int base = epoch - epoch % 100;
        y = base + y;
        if (y < epoch) y += 100;
    }
    return julianFromYmd(y, m, d);
}

int32_t todayJulian() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return julianFromYmd(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

}  // namespace xb
