// The library functions every script and menu action may call: texts,
// numbers, dates, arrays, types, EVAL and TRANSFORM. Each checks its
// arguments and raises an argument error (subsystem BASE, subcode 2000,
// operation = the function's name) rather than guessing.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>

#include <sys/statvfs.h>

#include "xbase/codepage.h"
#include "xbase/compiler.h"
#include "xbase/date.h"
#include "xbase/ops.h"
#include "xbase/picture.h"
#include "xbase/runtime.h"
#include "xbase/tpublic.h"

namespace xb {

namespace {

Value argError(const char* fn, Args& a) {
    std::vector<Value> v;
    for (size_t i = 0; i < a.size(); ++i) v.push_back(a[i]);
    return raiseArgError(2000, fn, std::move(v));
}

bool intArg(const Value& v, int64_t& out) {
    if (!v.isNum()) return false;
    double d = v.asNumber();
    if (!std::isfinite(d)) return false;
    if (d > 4e15) d = 4e15;
    if (d < -4e15) d = -4e15;
    out = static_cast<int64_t>(std::trunc(d));
    return true;
}

// Optional integer argument: nil gives `def`.
bool optInt(const Value& v, int64_t def, int64_t& out) {
    if (v.isNil()) {
        out = def;
        return true;
    }
    return intArg(v, out);
}

Value text(std::string s) {
    checkTextSize(s.size());
    return Value::str(std::move(s));
}

// Keeps the memo type of the source for functions that reshape a text.
Value sameKind(const Value& src, std::string s) {
    checkTextSize(s.size());
    return src.type() == 'M' ? Value::memo(std::move(s)) : Value::str(std::move(s));
}

std::string padSource(const Value& v) {
    switch (v.type()) {
        case 'C':
        case 'M':
            return v.asString();
        case 'N': {
            std::string s = v.toText();
            size_t b = s.find_first_not_of(' ');
            return b == std::string::npos ? std::string() : s.substr(b);
        }
        case 'D':
        case 'L':
            return v.toText();
        default:
            return {};
    }
}

Value countValue(int64_t n) {
    return Value::integer(n);
}

std::string rtrim(std::string_view s) {
    size_t e = s.find_last_not_of(' ');
    return e == std::string_view::npos ? std::string() : std::string(s.substr(0, e + 1));
}
std::string ltrim(std::string_view s) {
    size_t b = s.find_first_not_of(' ');
    return b == std::string_view::npos ? std::string() : std::string(s.substr(b));
}

const char* const kDays[] = {
    "Domingo", "Lunes", "Martes", "Mi\xE9rcoles", "Jueves", "Viernes", "S\xE1\x62\x61\x64o"};
const char* const kMonths[] = {"Enero",      "Febrero", "Marzo",     "Abril",
                               "Mayo",       "Junio",   "Julio",     "Agosto",
                               "Septiembre", "Octubre", "Noviembre", "Diciembre"};

void checkArraySize(size_t n) {
    if (n > limits().maxArray) raiseBreak(makeError(gen::Mem, 1210, "Matriz demasiado grande"));
    if (n >= 64) chargeWork(n / 16);
}

Value makeArray(Args& a, size_t dim) {
    int64_t n = 0;
    if (!intArg(a[dim], n) || n < 0) return argError("ARRAY", a);
    checkArraySize(static_cast<size_t>(n));
    auto arr = std::make_shared<Array>();
    arr->items.resize(static_cast<size_t>(n));
    if (dim + 1 < a.size())
        for (auto& item : arr->items) item = makeArray(a, dim + 1);
    return Value::array(std::move(arr));
}

// Calls a block with arguments.
Value callBlock(const Value& b, std::initializer_list<Value> args) {
    return evalBlock(b, ArgList(args));
}

int64_t clampIndex(int64_t v, int64_t lo, int64_t hi) {
    return std::max(lo, std::min(v, hi));
}

void registerStrings() {
    registerFunction(
        "UPPER",
        [](Args& a) {
            if (!a[0].isString()) return argError("UPPER", a);
            return sameKind(a[0], upper1252(a[0].asString()));
        },
        true);
    registerFunction(
        "LOWER",
        [](Args& a) {
            if (!a[0].isString()) return argError("LOWER", a);
            return sameKind(a[0], lower1252(a[0].asString()));
        },
        true);
    registerFunction(
        "ALLTRIM",
        [](Args& a) {
            if (!a[0].isString()) return argError("ALLTRIM", a);
            return sameKind(a[0], ltrim(rtrim(a[0].asString())));
        },
        true);
    registerFunction(
        "LTRIM",
        [](Args& a) {
            if (!a[0].isString()) return argError("LTRIM", a);
            return sameKind(a[0], ltrim(a[0].asString()));
        },
        true);
    auto rt = [](Args& a) {
        if (!a[0].isString()) return argError("RTRIM", a);
        return sameKind(a[0], rtrim(a[0].asString()));
    };
    registerFunction("RTRIM", rt, true);
    registerFunction("TRIM", rt, true);
    registerFunction(
        "SUBSTR",
        [](Args& a) {
            int64_t start = 0, len = 0;
            if (!a[0].isString() || !intArg(a[1], start)) return argError("SUBSTR", a);
            const std::string& s = a[0].asString();
            int64_t size = static_cast<int64_t>(s.size());
            if (start < 0) start = size + start + 1;  // counted from the end
            if (start < 1) start = 1;
            if (!optInt(a[2], size, len)) return argError("SUBSTR", a);
            if (start > size || len <= 0) return Value::str(std::string());
            len = std::min(len, size - start + 1);
            return Value::str(s.substr(static_cast<size_t>(start - 1), static_cast<size_t>(len)));
        },
        true);
    registerFunction(
        "LEFT",
        [](Args& a) {
            int64_t n = 0;
            if (!a[0].isString() || !intArg(a[1], n)) return argError("LEFT", a);
            const std::string& s = a[0].asString();
            n = clampIndex(n, 0, static_cast<int64_t>(s.size()));
            return Value::str(s.substr(0, static_cast<size_t>(n)));
        },
        true);
    registerFunction(
        "RIGHT",
        [](Args& a) {
            int64_t n = 0;
            if (!a[0].isString() || !intArg(a[1], n)) return argError("RIGHT", a);
            const std::string& s = a[0].asString();
            n = clampIndex(n, 0, static_cast<int64_t>(s.size()));
            return Value::str(s.substr(s.size() - static_cast<size_t>(n)));
        },
        true);
    registerFunction(
        "LEN",
        [](Args& a) {
            if (a[0].isString()) return countValue(static_cast<int64_t>(a[0].asString().size()));
            if (Array* arr = a[0].arrayPtr())
                return countValue(static_cast<int64_t>(arr->items.size()));
            return argError("LEN", a);
        },
        true);
    registerFunction(
        "AT",
        [](Args& a) {
            if (!a[0].isString() || !a[1].isString()) return argError("AT", a);
            const std::string& n = a[0].asString();
            if (n.empty()) return countValue(0);
            size_t p = a[1].asString().find(n);
            return countValue(p == std::string::npos ? 0 : static_cast<int64_t>(p) + 1);
        },
        true);
    registerFunction(
        "RAT",
        [](Args& a) {
            if (!a[0].isString() || !a[1].isString()) return argError("RAT", a);
            const std::string& n = a[0].asString();
            if (n.empty()) return countValue(0);
            size_t p = a[1].asString().rfind(n);
            return countValue(p == std::string::npos ? 0 : static_cast<int64_t>(p) + 1);
        },
        true);
    registerFunction(
        "STRTRAN",
        [](Args& a) {
            if (!a[0].isString() || !a[1].isString() || !(a[2].isNil() || a[2].isString()))
                return argError("STRTRAN", a);
            int64_t first = 1, count = -1;
            if (!optInt(a[3], 1, first) || !optInt(a[4], -1, count)) return argError("STRTRAN", a);
            const std::string& s = a[0].asString();
            const std::string& what = a[1].asString();
            const std::string& with = a[2].asString();
            if (what.empty()) return a[0];
            std::string out;
            size_t pos = 0;
            int64_t seen = 0, done = 0;
            for (;;) {
                size_t f = s.find(what, pos);
                if (f == std::string::npos) break;
                ++seen;
                if (seen >= first && (count < 0 || done < count)) {
                    out.append(s, pos, f - pos);
                    out += with;
                    ++done;
                    checkTextSize(out.size());
                } else {
                    out.append(s, pos, f - pos + what.size());
                }
                pos = f + what.size();
            }
            out.append(s, pos, std::string::npos);
            return sameKind(a[0], std::move(out));
        },
        true);
    registerFunction(
        "STUFF",
        [](Args& a) {
            int64_t start = 0, del = 0;
            if (!a[0].isString() || !intArg(a[1], start) || !intArg(a[2], del) ||
                !(a[3].isNil() || a[3].isString()))
                return argError("STUFF", a);
            std::string s = a[0].asString();
            int64_t size = static_cast<int64_t>(s.size());
            start = clampIndex(start, 1, size + 1);
            del = clampIndex(del, 0, size - start + 1);
            s.replace(static_cast<size_t>(start - 1), static_cast<size_t>(del), a[3].asString());
            return sameKind(a[0], std::move(s));
        },
        true);
    auto pad = [](const char* name, int where) {
        return [name, where](Args& a) {
            int64_t n = 0;
            if (!intArg(a[1], n) || !(a[2].isNil() || a[2].isString())) return argError(name, a);
            if (n <= 0) return Value::str(std::string());
            checkTextSize(static_cast<size_t>(std::min<int64_t>(n, 1LL << 40)));
            char fill = a[2].asString().empty() ? ' ' : a[2].asString()[0];
            std::string s = padSource(a[0]);
            size_t len = static_cast<size_t>(n);
            if (s.size() >= len) return Value::str(s.substr(0, len));
            size_t extra = len - s.size();
            if (where == 0) return Value::str(s + std::string(extra, fill));
            if (where == 1) return Value::str(std::string(extra, fill) + s);
            size_t left = extra / 2;
            return Value::str(std::string(left, fill) + s + std::string(extra - left, fill));
        };
    };
    registerFunction("PADR", pad("PADR", 0), true);
    registerFunction("PAD", pad("PAD", 0), true);
    registerFunction("PADL", pad("PADL", 1), true);
    registerFunction("PADC", pad("PADC", 2), true);
    registerFunction(
        "SPACE",
        [](Args& a) {
            int64_t n = 0;
            if (!intArg(a[0], n)) return argError("SPACE", a);
            if (n <= 0) return Value::str(std::string());
            checkTextSize(static_cast<size_t>(std::min<int64_t>(n, 1LL << 40)));
            return Value::str(std::string(static_cast<size_t>(n), ' '));
        },
        true);
    registerFunction(
        "REPLICATE",
        [](Args& a) {
            int64_t n = 0;
            if (!a[0].isString() || !intArg(a[1], n)) return argError("REPLICATE", a);
            const std::string& s = a[0].asString();
            if (n <= 0 || s.empty()) return Value::str(std::string());
            double total = static_cast<double>(s.size()) * static_cast<double>(n);
            checkTextSize(total > 1e15 ? static_cast<size_t>(1e15) : static_cast<size_t>(total));
            std::string out;
            out.reserve(static_cast<size_t>(total));
            for (int64_t i = 0; i < n; ++i) out += s;
            return Value::str(std::move(out));
        },
        true);
    registerFunction(
        "CHR",
        [](Args& a) {
            int64_t n = 0;
            if (!intArg(a[0], n)) return argError("CHR", a);
            return Value::str(std::string(1, static_cast<char>(((n % 256) + 256) % 256)));
        },
        true);
    registerFunction(
        "ASC",
        [](Args& a) {
            if (!a[0].isString()) return argError("ASC", a);
            const std::string& s = a[0].asString();
            return countValue(s.empty() ? 0 : static_cast<unsigned char>(s[0]));
        },
        true);
    auto charTest = [](const char* name, bool (*pred)(unsigned char)) {
        return [name, pred](Args& a) {
            if (!a[0].isString()) return argError(name, a);
            const std::string& s = a[0].asString();
            return Value::logical(!s.empty() && pred(static_cast<unsigned char>(s[0])));
        };
    };
    registerFunction("ISALPHA", charTest("ISALPHA", isAlpha1252), true);
    registerFunction("ISUPPER", charTest("ISUPPER", isUpper1252), true);
    registerFunction("ISLOWER", charTest("ISLOWER", isLower1252), true);
    registerFunction(
        "ISDIGIT", charTest("ISDIGIT", [](unsigned char c) { return c >= '0' && c <= '9'; }), true);
    registerFunction(
        "OEMTOANSI",
        [](Args& a) {
            if (!a[0].isString()) return argError("OEMTOANSI", a);
            return sameKind(a[0], oemToAnsi(a[0].asString()));
        },
        true);
    registerFunction(
        "ANSITOOEM",
        [](Args& a) {
            if (!a[0].isString()) return argError("ANSITOOEM", a);
            return sameKind(a[0], ansiToOem(a[0].asString()));
        },
        true);
}

// STR(n, [width], [decimals]).
Value strFn(Args& a, const char* name) {
    if (!a[0].isNum()) return argError(name, a);
    int64_t w = a[0].numWidth(), d = a[0].numDecimals();
    if (!a[1].isNil()) {
        if (!intArg(a[1], w)) return argError(name, a);
        d = 0;
    }
    if (!a[2].isNil() && !intArg(a[2], d)) return argError(name, a);
    if (w < 1 || w > 255) w = std::clamp<int64_t>(w, 1, 255);
    d = std::clamp<int64_t>(d, 0, std::max<int64_t>(0, w - 2));
    return Value::str(formatNumber(a[0].asNumber(), static_cast<int>(w), static_cast<int>(d)));
}

double roundHalfAway(double v, int64_t d) {
    d = std::clamp<int64_t>(d, -15, 15);
    double p = std::pow(10.0, static_cast<double>(d));
    double scaled = std::fabs(v) * p;
    if (scaled >= 1e17) return v;
    double r = std::floor(scaled + 0.5 + scaled * 4e-16) / p;
    return std::copysign(r, v);
}

void registerNumbers() {
    registerFunction(
        "STR", [](Args& a) { return strFn(a, "STR"); }, true);
    registerFunction(
        "STRZERO",
        [](Args& a) {
            Value s = strFn(a, "STRZERO");
            if (!s.isString()) return s;
            std::string t = s.asString();
            bool neg = t.find('-') != std::string::npos;
            for (auto& c : t)
                if (c == ' ' || c == '-') c = '0';
            if (neg && !t.empty()) t[0] = '-';
            return Value::str(std::move(t));
        },
        true);
    registerFunction(
        "VAL",
        [](Args& a) {
            if (!a[0].isString()) return argError("VAL", a);
            const std::string& s = a[0].asString();
            size_t i = 0;
            while (i < s.size() && s[i] == ' ') ++i;
            bool neg = false;
            if (i < s.size() && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-';
            double v = 0;
            int dec = 0, intDigits = 0;
            while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
                v = v * 10 + (s[i++] - '0');
                ++intDigits;
            }
            if (i < s.size() && s[i] == '.') {
                ++i;
                double f = 0.1;
                while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
                    v += (s[i++] - '0') * f;
                    f /= 10;
                    ++dec;
                }
            }
            if (!std::isfinite(v)) v = 0;
            v = roundHalfAway(neg ? -v : v, std::min(dec, 15));
            return arithNumber(v, intDigits + (neg ? 1 : 0), dec);
        },
        true);
    registerFunction(
        "ROUND",
        [](Args& a) {
            int64_t d = 0;
            if (!a[0].isNum() || !intArg(a[1], d)) return argError("ROUND", a);
            double r = roundHalfAway(a[0].asNumber(), d);
            return arithNumber(r, integerPart(a[0]),
                               static_cast<int>(std::clamp<int64_t>(d, 0, 15)));
        },
        true);
    registerFunction(
        "INT",
        [](Args& a) {
            if (!a[0].isNum()) return argError("INT", a);
            return arithNumber(std::trunc(a[0].asNumber()), integerPart(a[0]), 0);
        },
        true);
    registerFunction(
        "ABS",
        [](Args& a) {
            if (!a[0].isNum()) return argError("ABS", a);
            return Value::num(std::fabs(a[0].asNumber()), a[0].numWidth(), a[0].numDecimals());
        },
        true);
    auto maxmin = [](const char* name, bool isMax) {
        return [name, isMax](Args& a) {
            if (a[0].isNum() && a[1].isNum()) {
                bool first =
                    isMax ? a[0].asNumber() >= a[1].asNumber() : a[0].asNumber() <= a[1].asNumber();
                return first ? a[0] : a[1];
            }
            if (a[0].isDate() && a[1].isDate()) {
                bool first =
                    isMax ? a[0].asDate() >= a[1].asDate() : a[0].asDate() <= a[1].asDate();
                return first ? a[0] : a[1];
            }
            return argError(name, a);
        };
    };
    registerFunction("MAX", maxmin("MAX", true), true);
    registerFunction("MIN", maxmin("MIN", false), true);
    registerFunction(
        "MOD",
        [](Args& a) {
            if (!a[0].isNum() || !a[1].isNum()) return argError("MOD", a);
            return applyBinary(BinOp::Mod, a[0], a[1]);
        },
        true);
    registerFunction(
        "SQRT",
        [](Args& a) {
            if (!a[0].isNum()) return argError("SQRT", a);
            double v = a[0].asNumber();
            return arithNumber(v <= 0 ? 0.0 : std::sqrt(v), 10, settings().decimals);
        },
        true);
}

void registerDates() {
    registerFunction(
        "DATE", [](Args&) { return Value::date(todayJulian()); }, true);
    registerFunction(
        "TIME",
        [](Args&) {
            std::time_t now = std::time(nullptr);
            std::tm tm{};
            localtime_r(&now, &tm);
            char buf[16];
            std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
            return Value::str(buf);
        },
        true);
    registerFunction(
        "SECONDS",
        [](Args&) {
            auto now = std::chrono::system_clock::now();
            std::time_t t = std::chrono::system_clock::to_time_t(now);
            std::tm tm{};
            localtime_r(&t, &tm);
            auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch())
                          .count() %
                      1000;
            double s = tm.tm_hour * 3600.0 + tm.tm_min * 60.0 + tm.tm_sec + ms / 1000.0;
            return Value::num(std::floor(s * 100) / 100, 12, 2);
        },
        true);
    registerFunction(
        "DTOS",
        [](Args& a) {
            if (!a[0].isDate()) return argError("DTOS", a);
            return Value::str(dtos(a[0].asDate()));
        },
        true);
    registerFunction(
        "DTOC",
        [](Args& a) {
            if (!a[0].isDate()) return argError("DTOC", a);
            return Value::str(formatDate(a[0].asDate(), effectiveDateFormat()));
        },
        true);
    registerFunction(
        "CTOD",
        [](Args& a) {
            if (!a[0].isString()) return argError("CTOD", a);
            return Value::date(parseDate(a[0].asString(), effectiveDateFormat(), settings().epoch));
        },
        true);
    registerFunction(
        "STOD",
        [](Args& a) {
            if (!(a[0].isString() || a[0].isNil())) return argError("STOD", a);
            return Value::date(xb::stod(a[0].asString()));
        },
        true);
    auto part = [](const char* name, int which) {
        return [name, which](Args& a) {
            if (!a[0].isDate()) return argError(name, a);
            Ymd v = ymdFromJulian(a[0].asDate());
            int n = which == 0 ? v.year : which == 1 ? v.month : v.day;
            return Value::num(n, which == 0 ? 5 : 3, 0);
        };
    };
    registerFunction("YEAR", part("YEAR", 0), true);
    registerFunction("MONTH", part("MONTH", 1), true);
    registerFunction("DAY", part("DAY", 2), true);
    registerFunction(
        "DOW",
        [](Args& a) {
            if (!a[0].isDate()) return argError("DOW", a);
            return Value::num(dayOfWeek(a[0].asDate()), 3, 0);
        },
        true);
    registerFunction(
        "CDOW",
        [](Args& a) {
            if (!a[0].isDate()) return argError("CDOW", a);
            int d = dayOfWeek(a[0].asDate());
            return Value::str(d ? kDays[d - 1] : "");
        },
        true);
    registerFunction(
        "CMONTH",
        [](Args& a) {
            if (!a[0].isDate()) return argError("CMONTH", a);
            Ymd v = ymdFromJulian(a[0].asDate());
            return Value::str(v.month ? kMonths[v.month - 1] : "");
        },
        true);
}

void registerArrays() {
    registerFunction("AADD", [](Args& a) {
        Array* arr = a[0].arrayPtr();
        if (!arr) return argError("AADD", a);
        checkArraySize(arr->items.size() + 1);
        arr->items.push_back(a[1]);
        return a[1];
    });
    registerFunction("ASIZE", [](Args& a) {
        Array* arr = a[0].arrayPtr();
        int64_t n = 0;
        if (!arr || !intArg(a[1], n)) return argError("ASIZE", a);
        if (n < 0) n = 0;
        checkArraySize(static_cast<size_t>(n));
        arr->items.resize(static_cast<size_t>(n));
        return a[0];
    });
    registerFunction(
        "ARRAY",
        [](Args& a) {
            if (a.size() == 0) return argError("ARRAY", a);
            double total = 1;
            for (size_t i = 0; i < a.size(); ++i) {
                int64_t n = 0;
                if (!intArg(a[i], n) || n < 0) return argError("ARRAY", a);
                total *= static_cast<double>(n);
                if (total > static_cast<double>(limits().maxArray)) {
                    raiseBreak(makeError(gen::Mem, 1210, "Matriz demasiado grande", "ARRAY"));
                }
            }
            return makeArray(a, 0);
        },
        true);
    registerFunction("ASCAN", [](Args& a) {
        Value arrV = a[0];
        Array* arr = arrV.arrayPtr();
        int64_t start = 1, count = 0;
        if (!arr || !optInt(a[2], 1, start)) return argError("ASCAN", a);
        int64_t size = static_cast<int64_t>(arr->items.size());
        if (!optInt(a[3], size, count)) return argError("ASCAN", a);
        if (start < 1) start = 1;
        Value what = a[1];
        for (int64_t i = start; i < start + count && i <= static_cast<int64_t>(arr->items.size());
             ++i) {
            Value item = arr->items[static_cast<size_t>(i - 1)];
            bool hit;
            if (what.isBlock()) {
                Value r = callBlock(what, {item, Value::integer(i)});
                hit = r.isLogical() && r.asLogical();
            } else if (what.type() == item.type() || (what.isString() && item.isString())) {
                if (what.isArray() || what.isBlock() || what.isObject() || what.isNil())
                    hit = exactEquals(item, what);
                else
                    hit = applyBinary(BinOp::Eq, item, what).asLogical();
            } else {
                hit = false;
            }
            if (hit) return countValue(i);
        }
        return countValue(0);
    });
    registerFunction("AEVAL", [](Args& a) {
        Value arrV = a[0];
        Array* arr = arrV.arrayPtr();
        int64_t start = 1, count = 0;
        if (!arr || !a[1].isBlock() || !optInt(a[2], 1, start)) return argError("AEVAL", a);
        if (!optInt(a[3], static_cast<int64_t>(arr->items.size()), count))
            return argError("AEVAL", a);
        if (start < 1) start = 1;
        Value block = a[1];
        for (int64_t i = start; i < start + count && i <= static_cast<int64_t>(arr->items.size());
             ++i) {
            Value item = arr->items[static_cast<size_t>(i - 1)];
            callBlock(block, {item, Value::integer(i)});
        }
        return arrV;
    });
    registerFunction("ACOPY", [](Args& a) {
        Value srcV = a[0], dstV = a[1];
        Array* src = srcV.arrayPtr();
        Array* dst = dstV.arrayPtr();
        int64_t start = 1, count = 0, pos = 1;
        if (!src || !dst || !optInt(a[2], 1, start) || !optInt(a[4], 1, pos))
            return argError("ACOPY", a);
        if (!optInt(a[3], static_cast<int64_t>(src->items.size()), count))
            return argError("ACOPY", a);
        if (start < 1) start = 1;
        if (pos < 1) pos = 1;
        std::vector<Value> items = src->items;  // src and dst may be the same array
        for (int64_t i = 0; i < count; ++i) {
            int64_t s = start + i, d = pos + i;
            if (s > static_cast<int64_t>(items.size()) ||
                d > static_cast<int64_t>(dst->items.size()))
                break;
            dst->items[static_cast<size_t>(d - 1)] = items[static_cast<size_t>(s - 1)];
        }
        return dstV;
    });
    registerFunction("ADEL", [](Args& a) {
        Array* arr = a[0].arrayPtr();
        int64_t n = 0;
        if (!arr || !intArg(a[1], n)) return argError("ADEL", a);
        if (n >= 1 && n <= static_cast<int64_t>(arr->items.size())) {
            arr->items.erase(arr->items.begin() + (n - 1));
            arr->items.emplace_back();
        }
        return a[0];
    });
    registerFunction("AINS", [](Args& a) {
        Array* arr = a[0].arrayPtr();
        int64_t n = 0;
        if (!arr || !intArg(a[1], n)) return argError("AINS", a);
        if (n >= 1 && n <= static_cast<int64_t>(arr->items.size())) {
            arr->items.insert(arr->items.begin() + (n - 1), Value());
            arr->items.pop_back();
        }
        return a[0];
    });
    registerFunction(
        "ATAIL",
        [](Args& a) {
            Array* arr = a[0].arrayPtr();
            if (!arr) return argError("ATAIL", a);
            return arr->items.empty() ? Value() : arr->items.back();
        },
        true);
}

void registerMisc() {
    registerFunction(
        "TYPE",
        [](Args& a) {
            if (!a[0].isString()) return argError("TYPE", a);
            return Value::str(typeOfText(a[0].asString()));
        },
        true);
    registerFunction(
        "VALTYPE", [](Args& a) { return Value::str(std::string(1, a[0].type())); }, true);
    registerFunction(
        "EMPTY", [](Args& a) { return Value::logical(a[0].isEmpty()); }, true);
    registerFunction("EVAL", [](Args& a) {
        if (!a[0].isBlock()) return argError("EVAL", a);
        ArgList rest;
        for (size_t i = 1; i < a.size(); ++i) rest.push(a[i]);
        return evalBlock(a[0], std::move(rest));
    });
    registerFunction(
        "TRANSFORM",
        [](Args& a) {
            if (!(a[1].isString() || a[1].isNil())) return argError("TRANSFORM", a);
            return text(transform(a[0], a[1].asString()));
        },
        true);
    registerFunction("PUBLICA", [](Args& a) {
        if (!a[0].isString()) return argError("PUBLICA", a);
        createPublic(a[0].asString(), Value());
        // The public just made (or the existing one) may be hidden by a
        // private of the same name; PUBLICA assigns what the name reaches.
        assignVar(a[0].asString(), a[1]);
        return Value();
    });
}

// Functions that scripts and menu actions of the old system call and that
// need neither a table nor a window.
void registerSystem() {
    registerFunction(
        "AMPM",
        [](Args& a) {
            if (!a[0].isString()) return argError("AMPM", a);
            const std::string& t = a[0].asString();
            int h = 0;
            if (t.size() >= 2 && t[0] >= '0' && t[0] <= '9' && t[1] >= '0' && t[1] <= '9')
                h = (t[0] - '0') * 10 + (t[1] - '0');
            else
                return argError("AMPM", a);
            bool pm = h >= 12;
            int h12 = h % 12 == 0 ? 12 : h % 12;
            char buf[4];
            std::snprintf(buf, sizeof buf, "%2d", h12);
            return Value::str(std::string(buf) + t.substr(2) + (pm ? " pm" : " am"));
        },
        true);
    registerFunction(
        "OS", [](Args&) { return Value::str("Linux"); }, true);
    registerFunction("DISKSPACE", [](Args&) {
        struct statvfs st {};
        if (statvfs(".", &st) != 0) return Value::num(0, 16, 0);
        double bytes = static_cast<double>(st.f_bavail) * static_cast<double>(st.f_frsize);
        return Value::num(bytes, 16, 0);
    });
    // A script or menu action cannot stuff the keyboard buffer.
    registerFunction("KEYBOARD", [](Args&) { return Value(); });
    registerFunction("__KEYBOARD", [](Args&) { return Value(); });
}

}  // namespace

void registerLibrary() {
    registerStrings();
    registerNumbers();
    registerDates();
    registerArrays();
    registerMisc();
    registerSystem();
    registerTPublic();
}

}  // namespace xb
