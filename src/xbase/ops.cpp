#include "xbase/ops.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "xbase/date.h"
#include "xbase/error.h"
#include "xbase/runtime.h"

namespace xb {

namespace {

// Dates stay within years 1..9999.
constexpr double kMinJdn = 1721426, kMaxJdn = 5373484;

int digitsOf(double v) {
    double a = std::fabs(v);
    int d = 1;
    while (a >= 10.0 && d < 400) {
        a /= 10.0;
        ++d;
    }
    return d + (v < 0 ? 1 : 0);
}

int subCodeOf(BinOp op) {
    switch (op) {
        case BinOp::Add:
            return 1081;
        case BinOp::Sub:
            return 1082;
        case BinOp::Mul:
            return 1083;
        case BinOp::Div:
            return 1084;
        case BinOp::Mod:
            return 1085;
        case BinOp::Pow:
            return 1088;
        case BinOp::Eq:
            return 1071;
        case BinOp::ExactEq:
            return 1070;
        case BinOp::Ne:
            return 1072;
        case BinOp::Lt:
            return 1073;
        case BinOp::Le:
            return 1074;
        case BinOp::Gt:
            return 1075;
        case BinOp::Ge:
            return 1076;
        case BinOp::In:
            return 1109;
    }
    return 1000;
}

Value typeError(BinOp op, const Value& a, const Value& b) {
    return raiseArgError(subCodeOf(op), opName(op), {a, b});
}

Value dateResult(BinOp op, double jdn, const Value& a, const Value& b) {
    if (jdn < kMinJdn || jdn > kMaxJdn) {
        Error e =
            makeError(gen::NumOverflow, 1082, "Fecha fuera de rango", std::string(opName(op)));
        e.args = {a, b};
        e.hasArgs = true;
        e.canSubstitute = true;
        return raise(std::move(e)).value;
    }
    return Value::date(static_cast<int32_t>(jdn));
}

Value checkedNumber(BinOp op, double r, int intw, int dec, const Value& a, const Value& b) {
    if (!std::isfinite(r)) {
        Error e = makeError(gen::NumOverflow, subCodeOf(op), "Desbordamiento num\xE9rico",
                            std::string(opName(op)));
        e.args = {a, b};
        e.hasArgs = true;
        e.canSubstitute = true;
        return raise(std::move(e)).value;
    }
    return arithNumber(r, intw, dec);
}

bool bothText(const Value& a, const Value& b) {
    return a.isString() && b.isString();
}

// Ordering of two values of comparable types; false when not comparable.
bool compareValues(BinOp op, const Value& a, const Value& b, int& out) {
    if (bothText(a, b)) {
        bool exact = op == BinOp::ExactEq;
        if (exact) {
            const std::string& x = a.asString();
            const std::string& y = b.asString();
            out = x == y ? 0 : (x < y ? -1 : 1);
            if (out != 0) {
                int c = std::memcmp(x.data(), y.data(), std::min(x.size(), y.size()));
                out = c != 0 ? c : (x.size() < y.size() ? -1 : 1);
            }
        } else {
            out = compareText(a.asString(), b.asString(), settings().exact);
        }
        return true;
    }
    if (a.type() != b.type()) return false;
    switch (a.type()) {
        case 'N': {
            double x = a.asNumber(), y = b.asNumber();
            out = x < y ? -1 : (x > y ? 1 : 0);
            return true;
        }
        case 'D':
            out = a.asDate() < b.asDate() ? -1 : (a.asDate() > b.asDate() ? 1 : 0);
            return true;
        case 'L':
            out = static_cast<int>(a.asLogical()) - static_cast<int>(b.asLogical());
            return true;
        default:
            return false;
    }
}

}  // namespace

std::string_view opName(BinOp op) {
    switch (op) {
        case BinOp::Add:
            return "+";
        case BinOp::Sub:
            return "-";
        case BinOp::Mul:
            return "*";
        case BinOp::Div:
            return "/";
        case BinOp::Mod:
            return "%";
        case BinOp::Pow:
            return "**";
        case BinOp::Eq:
            return "=";
        case BinOp::ExactEq:
            return "==";
        case BinOp::Ne:
            return "!=";
        case BinOp::Lt:
            return "<";
        case BinOp::Le:
            return "<=";
        case BinOp::Gt:
            return ">";
        case BinOp::Ge:
            return ">=";
        case BinOp::In:
            return "$";
    }
    return "?";
}

int integerPart(const Value& n) {
    int w = n.numWidth() - (n.numDecimals() ? n.numDecimals() + 1 : 0);
    return w < 1 ? 1 : w;
}

Value arithNumber(double v, int intWidth, int decimals) {
    if (decimals < 0) decimals = 0;
    if (decimals > 15) decimals = 15;
    int intw = std::max({10, intWidth, digitsOf(v)});
    return Value::num(v, intw + (decimals ? decimals + 1 : 0), decimals);
}

void checkTextSize(size_t size) {
    if (size > limits().maxString) {
        raiseBreak(makeError(gen::StrOverflow, 1209, "Cadena demasiado larga"));
    }
    if (size >= 256) chargeWork(size / 64);
}

int compareText(std::string_view a, std::string_view b, bool exact) {
    if (exact) {
        // Trailing blanks do not count.
        while (!a.empty() && a.back() == ' ') a.remove_suffix(1);
        while (!b.empty() && b.back() == ' ') b.remove_suffix(1);
        size_t n = std::min(a.size(), b.size());
        int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
        if (c != 0) return c < 0 ? -1 : 1;
        if (a.size() == b.size()) return 0;
        return a.size() < b.size() ? -1 : 1;
    }
    if (b.empty()) return 0;
    size_t n = std::min(a.size(), b.size());
    int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
    if (c != 0) return c < 0 ? -1 : 1;
    return a.size() >= b.size() ? 0 : -1;
}

Value negate(const Value& a) {
    if (!a.isNum()) return raiseArgError(1080, "-", {a});
    double r = -a.asNumber();
    return Value::num(r == 0.0 ? 0.0 : r, a.numWidth(), a.numDecimals());
}

Value applyBinaryMove(BinOp op, Value&& a, const Value& b) {
    if ((op == BinOp::Add || op == BinOp::Sub) && bothText(a, b)) {
        const std::string& bs = b.asString();
        std::string& as = a.mutableString();
        checkTextSize(as.size() + bs.size());
        if (op == BinOp::Add) {
            as += bs;
        } else {
            // Trailing blanks of the left text move to the end of the result.
            size_t keep = as.find_last_not_of(' ');
            keep = keep == std::string::npos ? 0 : keep + 1;
            size_t blanks = as.size() - keep;
            as.resize(keep);
            as += bs;
            as.append(blanks, ' ');
        }
        // Joining texts gives a character value, memo operands included.
        if (a.type() == 'M') return Value::str(std::move(as));
        return std::move(a);
    }
    return applyBinary(op, a, b);
}

Value applyBinary(BinOp op, const Value& a, const Value& b) {
    switch (op) {
        case BinOp::Add:
        case BinOp::Sub: {
            if (bothText(a, b)) return applyBinaryMove(op, Value(a), b);
            if (a.isNum() && b.isNum()) {
                double r =
                    op == BinOp::Add ? a.asNumber() + b.asNumber() : a.asNumber() - b.asNumber();
                return checkedNumber(op, r, std::max(integerPart(a), integerPart(b)),
                                     std::max(a.numDecimals(), b.numDecimals()), a, b);
            }
            if (a.isDate() && b.isNum()) {
                if (a.asDate() == 0) return a;
                double n = std::trunc(b.asNumber());
                return dateResult(op, a.asDate() + (op == BinOp::Add ? n : -n), a, b);
            }
            if (op == BinOp::Add && a.isNum() && b.isDate()) {
                if (b.asDate() == 0) return b;
                return dateResult(op, b.asDate() + std::trunc(a.asNumber()), a, b);
            }
            if (op == BinOp::Sub && a.isDate() && b.isDate())
                return Value::num(static_cast<double>(a.asDate()) - b.asDate(), 10, 0);
            return typeError(op, a, b);
        }
        case BinOp::Mul:
            if (a.isNum() && b.isNum())
                return checkedNumber(op, a.asNumber() * b.asNumber(),
                                     std::max(integerPart(a), integerPart(b)),
                                     a.numDecimals() + b.numDecimals(), a, b);
            return typeError(op, a, b);
        case BinOp::Div:
        case BinOp::Mod:
            if (a.isNum() && b.isNum()) {
                if (b.asNumber() == 0.0) {
                    Error e = makeError(gen::ZeroDiv, op == BinOp::Div ? 1340 : 1341,
                                        "Divisi\xF3n por cero", std::string(opName(op)));
                    e.args = {a, b};
                    e.hasArgs = true;
                    e.canSubstitute = true;
                    return raise(std::move(e)).value;
                }
                if (op == BinOp::Div)
                    return checkedNumber(op, a.asNumber() / b.asNumber(), integerPart(a),
                                         settings().decimals, a, b);
                double r = std::fmod(a.asNumber(), b.asNumber());
                // The remainder takes the divisor's sign, as xBase does.
                if (r != 0.0 && ((r < 0) != (b.asNumber() < 0))) r += b.asNumber();
                return checkedNumber(op, r, integerPart(a),
                                     std::max(a.numDecimals(), b.numDecimals()), a, b);
            }
            return typeError(op, a, b);
        case BinOp::Pow:
            if (a.isNum() && b.isNum()) {
                double r = std::pow(a.asNumber(), b.asNumber());
                int dec = r == std::floor(r) ? 0 : settings().decimals;
                return checkedNumber(op, r, integerPart(a), dec, a, b);
            }
            return typeError(op, a, b);
        case BinOp::In:
            if (bothText(a, b)) {
                const std::string& x = a.asString();
                if (x.empty()) return Value::logical(false);
                return Value::logical(b.asString().find(x) != std::string::npos);
            }
            return typeError(op, a, b);
        case BinOp::Eq:
        case BinOp::ExactEq:
        case BinOp::Ne: {
            if (a.isNil() || b.isNil()) {
                bool eq = a.isNil() && b.isNil();
                return Value::logical(op == BinOp::Ne ? !eq : eq);
            }
            int c = 0;
            if (compareValues(op, a, b, c))
                return Value::logical(op == BinOp::Ne ? c != 0 : c == 0);
            if (a.type() == b.type() && (a.isArray() || a.isBlock() || a.isObject())) {
                bool eq = exactEquals(a, b);
                return Value::logical(op == BinOp::Ne ? !eq : eq);
            }
            return typeError(op, a, b);
        }
        case BinOp::Lt:
        case BinOp::Le:
        case BinOp::Gt:
        case BinOp::Ge: {
            int c = 0;
            if (!compareValues(op, a, b, c)) return typeError(op, a, b);
            switch (op) {
                case BinOp::Lt:
                    return Value::logical(c < 0);
                case BinOp::Le:
                    return Value::logical(c <= 0);
                case BinOp::Gt:
                    return Value::logical(c > 0);
                default:
                    return Value::logical(c >= 0);
            }
        }
    }
    return typeError(op, a, b);
}

}  // namespace xb
