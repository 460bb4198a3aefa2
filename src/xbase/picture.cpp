#include "xbase/picture.h"

#include <cmath>
#include <cstdio>

#include "xbase/codepage.h"
#include "xbase/date.h"
#include "xbase/runtime.h"

namespace xb {

namespace {

bool isNumTemplateChar(char c) {
    return c == '9' || c == '#' || c == '$' || c == '*';
}

bool isCharTemplateChar(char c) {
    switch (c) {
        case '9':
        case '#':
        case 'A':
        case 'a':
        case 'N':
        case 'n':
        case 'X':
        case 'x':
        case 'L':
        case 'l':
        case 'Y':
        case 'y':
        case '!':
            return true;
        default:
            return false;
    }
}

// Digits of |v| rounded to `dec` decimals: integer part and fraction part.
void splitNumber(double v, int dec, std::string& intDigits, std::string& fracDigits) {
    std::string s = formatNumber(std::fabs(v), 60, dec);
    size_t b = s.find_first_not_of(' ');
    s = b == std::string::npos ? "0" : s.substr(b);
    size_t dot = s.find('.');
    intDigits = dot == std::string::npos ? s : s.substr(0, dot);
    fracDigits = dot == std::string::npos ? std::string() : s.substr(dot + 1);
    if (s.find('*') != std::string::npos) {
        intDigits = std::string(61, '9');  // forces the overflow path
    }
}

std::string numberWithTemplate(double v, const std::string& mask, const PictureFunctions& fn) {
    size_t point = mask.find('.');
    size_t intEnd = point == std::string::npos ? mask.size() : point;
    int dec = 0;
    if (point != std::string::npos)
        for (size_t i = point + 1; i < mask.size(); ++i)
            if (isNumTemplateChar(mask[i])) ++dec;
    std::string intDigits, frac;
    splitNumber(v, dec, intDigits, frac);
    bool negative = v < 0 && (intDigits != "0" || frac.find_first_not_of('0') != std::string::npos);

    std::string out = mask;
    // Decimal part, left to right.
    size_t fi = 0;
    for (size_t i = intEnd + 1; point != std::string::npos && i < mask.size(); ++i) {
        if (isNumTemplateChar(mask[i])) out[i] = fi < frac.size() ? frac[fi++] : '0';
    }
    // Integer part, right to left.
    int di = static_cast<int>(intDigits.size()) - 1;
    bool overflow = false;
    char fill = ' ';
    for (size_t k = 0; k < intEnd; ++k)
        if (mask[k] == '*' || mask[k] == '$') {
            fill = mask[k];
            break;
        }
    int firstDigitPos = -1;
    for (int i = static_cast<int>(intEnd) - 1; i >= 0; --i) {
        char m = mask[static_cast<size_t>(i)];
        if (isNumTemplateChar(m)) {
            if (di >= 0) {
                out[static_cast<size_t>(i)] = intDigits[static_cast<size_t>(di--)];
                firstDigitPos = i;
            } else {
                out[static_cast<size_t>(i)] = fill;
            }
        } else if (m == ',') {
            out[static_cast<size_t>(i)] = di >= 0 ? ',' : fill;
        }
    }
    if (di >= 0) overflow = true;
    if (negative && !fn.parens && !fn.credit && !fn.debit) {
        // The sign goes just before the first digit, on a free position.
        int start = firstDigitPos < 0 ? static_cast<int>(intEnd) : firstDigitPos;
        int pos = -1;
        for (int i = start - 1; i >= 0; --i) {
            char m = mask[static_cast<size_t>(i)];
            if ((isNumTemplateChar(m) || m == ',') && out[static_cast<size_t>(i)] == fill) {
                pos = i;
                break;
            }
        }
        if (pos < 0)
            overflow = true;
        else
            out[static_cast<size_t>(pos)] = '-';
    }
    if (overflow) {
        for (size_t i = 0; i < out.size(); ++i)
            if (isNumTemplateChar(mask[i]) || mask[i] == ',') out[i] = '*';
    }
    return out;
}

std::string applyNumericFunctions(std::string s, double v, const PictureFunctions& fn) {
    if (fn.blankZero && v == 0.0) return std::string(s.size(), ' ');
    if (v < 0 && (fn.parens || fn.credit || fn.debit)) {
        // Shown without sign, then marked.
        size_t m = s.find('-');
        if (m != std::string::npos) s[m] = ' ';
        if (fn.parens) {
            size_t b = s.find_first_not_of(' ');
            if (b == std::string::npos) b = 0;
            if (b > 0)
                s[b - 1] = '(';
            else
                s = "(" + s;
            s += ")";
        }
        if (fn.credit) s += " CR";
        if (fn.debit) s += " DB";
    } else if (v >= 0 && fn.debit) {
        s += " DB";
    }
    if (fn.european)
        for (auto& c : s) c = c == '.' ? ',' : c == ',' ? '.' : c;
    if (fn.leftJustify) {
        size_t b = s.find_first_not_of(' ');
        if (b != std::string::npos && b > 0) s = s.substr(b) + std::string(b, ' ');
    }
    return s;
}

std::string charWithTemplate(const std::string& s, const std::string& mask,
                             const PictureFunctions& fn) {
    std::string out;
    out.reserve(mask.size());
    size_t si = 0;
    for (char m : mask) {
        if (isCharTemplateChar(m)) {
            unsigned char c = si < s.size() ? static_cast<unsigned char>(s[si]) : ' ';
            ++si;
            if (m == '!' || fn.upper) c = upper1252(c);
            out += static_cast<char>(c);
        } else {
            out += m;
            if (!fn.insertLiterals) ++si;  // the literal stands in the value's place
        }
    }
    return out;
}

}  // namespace

Picture parsePicture(std::string_view picture) {
    Picture p;
    std::string_view rest = picture;
    if (!rest.empty() && rest[0] == '@') {
        size_t sp = rest.find(' ');
        std::string_view fns = rest.substr(1, sp == std::string_view::npos ? rest.npos : sp - 1);
        rest = sp == std::string_view::npos ? std::string_view() : rest.substr(sp + 1);
        for (size_t i = 0; i < fns.size(); ++i) {
            char c = static_cast<char>(upper1252(static_cast<unsigned char>(fns[i])));
            switch (c) {
                case '!':
                    p.fn.upper = true;
                    break;
                case 'K':
                    p.fn.clearOnFirstKey = true;
                    break;
                case 'R':
                    p.fn.insertLiterals = true;
                    break;
                case 'Z':
                    p.fn.blankZero = true;
                    break;
                case 'B':
                    p.fn.leftJustify = true;
                    break;
                case 'E':
                    p.fn.european = true;
                    break;
                case 'C':
                    p.fn.credit = true;
                    break;
                case 'X':
                    p.fn.debit = true;
                    break;
                case '(':
                    p.fn.parens = true;
                    break;
                case 'D':
                    p.fn.dateFormat = true;
                    break;
                case 'S': {
                    int n = 0;
                    while (i + 1 < fns.size() && fns[i + 1] >= '0' && fns[i + 1] <= '9') {
                        if (n < 100000) n = n * 10 + (fns[i + 1] - '0');
                        ++i;
                    }
                    p.fn.scrollWidth = n;
                    break;
                }
                default:
                    break;  // functions this program does not use are ignored
            }
        }
    }
    p.mask = std::string(rest);
    return p;
}

std::string transform(const Value& v, std::string_view picture) {
    Picture p = parsePicture(picture);
    switch (v.type()) {
        case 'C':
        case 'M': {
            const std::string& s = v.asString();
            if (p.mask.empty()) return p.fn.upper ? upper1252(s) : s;
            return charWithTemplate(s, p.mask, p.fn);
        }
        case 'N': {
            std::string s = p.mask.empty()
                                ? formatNumber(v.asNumber(), v.numWidth(), v.numDecimals())
                                : numberWithTemplate(v.asNumber(), p.mask, p.fn);
            return applyNumericFunctions(std::move(s), v.asNumber(), p.fn);
        }
        case 'D':
            return formatDate(v.asDate(), effectiveDateFormat());
        case 'L': {
            bool yn = !p.mask.empty() && (p.mask[0] == 'Y' || p.mask[0] == 'y');
            return v.asLogical() ? (yn ? "Y" : "T") : (yn ? "N" : "F");
        }
        default:
            return {};
    }
}

bool EntryMask::accepts(size_t pos, unsigned char c) const {
    if (pos >= positions.size()) return false;
    const MaskPos& m = positions[pos];
    switch (m.kind) {
        case MaskPos::Digit:
            return (c >= '0' && c <= '9') || (type == 'N' && (c == '-' || c == ' '));
        case MaskPos::Sign:
            return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == ' ';
        case MaskPos::Letter:
            return isAlpha1252(c) || c == ' ';
        case MaskPos::AlphaNum:
            return isAlpha1252(c) || (c >= '0' && c <= '9') || c == ' ';
        case MaskPos::Any:
            return c >= 32;
        case MaskPos::Logical:
            return std::string_view("TFYNtfyn").find(static_cast<char>(c)) !=
                   std::string_view::npos;
        case MaskPos::YesNo:
            return std::string_view("YNyn").find(static_cast<char>(c)) != std::string_view::npos;
        case MaskPos::Literal:
            return false;
    }
    return false;
}

unsigned char EntryMask::apply(size_t pos, unsigned char c) const {
    if (pos >= positions.size()) return c;
    const MaskPos& m = positions[pos];
    if (upper || m.upper || m.kind == MaskPos::Logical || m.kind == MaskPos::YesNo)
        return upper1252(c);
    return c;
}

namespace {

MaskPos charPos(char m, bool numeric) {
    MaskPos p;
    switch (m) {
        case '9':
            p.kind = numeric ? MaskPos::Sign : MaskPos::Digit;
            break;
        case '#':
            p.kind = MaskPos::Sign;
            break;
        case '$':
        case '*':
            p.kind = numeric ? MaskPos::Digit : MaskPos::Literal;
            p.literal = m;
            break;
        case 'A':
        case 'a':
            p.kind = MaskPos::Letter;
            break;
        case 'N':
        case 'n':
            p.kind = MaskPos::AlphaNum;
            break;
        case 'X':
        case 'x':
            p.kind = MaskPos::Any;
            break;
        case 'L':
        case 'l':
            p.kind = MaskPos::Logical;
            break;
        case 'Y':
        case 'y':
            p.kind = MaskPos::YesNo;
            break;
        case '!':
            p.kind = MaskPos::Any;
            p.upper = true;
            break;
        default:
            p.kind = MaskPos::Literal;
            p.literal = m;
    }
    return p;
}

// The template a value is edited with when the picture gives none.
std::string defaultMask(const Value& v) {
    switch (v.type()) {
        case 'N': {
            int w = v.numWidth(), d = v.numDecimals();
            if (d > 0)
                return std::string(static_cast<size_t>(std::max(1, w - d - 1)), '9') + "." +
                       std::string(static_cast<size_t>(d), '9');
            return std::string(static_cast<size_t>(std::max(1, w)), '9');
        }
        case 'D': {
            std::string f = effectiveDateFormat();
            for (auto& c : f)
                if (c == 'd' || c == 'm' || c == 'y' || c == 'D' || c == 'M' || c == 'Y') c = '9';
            return f;
        }
        case 'L':
            return "L";
        default:
            return std::string(v.asString().size(), 'X');
    }
}

}  // namespace

EntryMask entryMask(std::string_view picture, const Value& v) {
    Picture p = parsePicture(picture);
    EntryMask m;
    char t = v.type();
    m.type = (t == 'M') ? 'C' : (t == 'N' || t == 'D' || t == 'L') ? t : 'C';
    m.clearOnFirstKey = p.fn.clearOnFirstKey;
    m.upper = p.fn.upper;
    m.scrollWidth = p.fn.scrollWidth;
    std::string mask = (p.mask.empty() || m.type == 'D') ? defaultMask(v) : p.mask;
    bool numeric = m.type == 'N';
    if (m.type == 'C' && !p.mask.empty() && mask.size() < v.asString().size() &&
        p.fn.insertLiterals) {
        // @R: only the editable positions hold the value.
    }
    m.literalsStored = m.type == 'C' && !p.fn.insertLiterals;
    if (numeric && p.fn.european) {
        m.pointChar = ',';
        m.thousandsChar = '.';
    }
    for (size_t i = 0; i < mask.size(); ++i) {
        char c = mask[i];
        MaskPos pos;
        if (numeric && c == '.') {
            pos.kind = MaskPos::Literal;
            pos.literal = m.pointChar;
            m.pointPos = static_cast<int>(i);
        } else if (numeric && c == ',') {
            pos.kind = MaskPos::Literal;
            pos.literal = m.thousandsChar;
            m.thousands = true;
        } else {
            pos = charPos(c, numeric);
            if (m.type == 'D' && pos.kind == MaskPos::Digit) pos.kind = MaskPos::Digit;
        }
        m.positions.push_back(pos);
    }
    if (m.pointPos >= 0)
        for (size_t i = static_cast<size_t>(m.pointPos) + 1; i < mask.size(); ++i)
            if (isNumTemplateChar(mask[i])) ++m.decimals;
    if (m.type == 'C' && p.mask.empty() && mask.empty()) {
        // An empty text still gets one editable position per character of
        // its width; the field knows its width from the value.
    }
    return m;
}

std::string entryText(const Value& v, std::string_view picture) {
    Picture p = parsePicture(picture);
    if (v.type() == 'N') {
        std::string mask = p.mask.empty() ? defaultMask(v) : p.mask;
        PictureFunctions fn = p.fn;
        std::string s = numberWithTemplate(v.asNumber(), mask, fn);
        if (fn.european)
            for (auto& c : s) c = c == '.' ? ',' : c == ',' ? '.' : c;
        return s;
    }
    if (v.type() == 'D') return formatDate(v.asDate(), effectiveDateFormat());
    if (v.isString() && !p.mask.empty()) return charWithTemplate(v.asString(), p.mask, p.fn);
    return transform(v, picture);
}

Value entryValue(std::string_view text, std::string_view picture, const Value& original) {
    Picture p = parsePicture(picture);
    switch (original.type()) {
        case 'N': {
            EntryMask m = entryMask(picture, original);
            std::string digits;
            bool neg = false;
            for (char c : text) {
                if (c >= '0' && c <= '9')
                    digits += c;
                else if (c == m.pointChar)
                    digits += '.';
                else if (c == '-' || c == '(')
                    neg = true;
            }
            double v = digits.empty() ? 0.0 : std::strtod(digits.c_str(), nullptr);
            if (!std::isfinite(v)) v = 0.0;
            return Value::num(neg ? -v : v, original.numWidth(), original.numDecimals());
        }
        case 'D':
            return Value::date(parseDate(text, effectiveDateFormat(), settings().epoch));
        case 'L': {
            char c = text.empty()
                         ? 'F'
                         : static_cast<char>(upper1252(static_cast<unsigned char>(text[0])));
            return Value::logical(c == 'T' || c == 'Y' || c == 'S');
        }
        case 'M':
        case 'C': {
            std::string s(text);
            if (p.fn.insertLiterals && !p.mask.empty()) {
                std::string raw;
                for (size_t i = 0; i < s.size() && i < p.mask.size(); ++i)
                    if (isCharTemplateChar(p.mask[i])) raw += s[i];
                s = raw;
            }
            if (p.fn.upper) s = upper1252(s);
            return original.type() == 'M' ? Value::memo(std::move(s)) : Value::str(std::move(s));
        }
        default:
            return Value::str(std::string(text));
    }
}

}  // namespace xb
