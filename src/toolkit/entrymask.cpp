#include "toolkit/entrymask.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "xbase/date.h"

namespace tk {

namespace {

bool isMaskChar(char m) {
    switch (m) {
        case '9':
        case '#':
        case 'A':
        case 'N':
        case 'X':
        case '!':
        case 'L':
        case 'Y':
        case 'a':
        case 'n':
        case 'x':
        case 'l':
        case 'y':
            return true;
        default:
            return false;
    }
}

bool isLetter(unsigned char c) {
    return std::isalpha(c) || (c >= 0xC0 && c != 0xD7 && c != 0xF7) || c == 0x8A || c == 0x8C ||
           c == 0x8E || c == 0x9A || c == 0x9C || c == 0x9E || c == 0x9F;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string dateMask(std::string_view format) {
    std::string m(format);
    for (char& c : m)
        if (c == 'd' || c == 'D' || c == 'm' || c == 'M' || c == 'y' || c == 'Y') c = '9';
    return m;
}

// Template of a number without a picture of its own: its width and decimals.
std::string numberMask(int width, int decimals) {
    if (width <= 0) width = 10;
    if (decimals > 0 && width > decimals + 1)
        return std::string(static_cast<size_t>(width - decimals - 1), '9') + "." +
               std::string(static_cast<size_t>(decimals), '9');
    return std::string(static_cast<size_t>(width), '9');
}

int decimalsOf(const std::string& mask) {
    const size_t point = mask.find('.');
    int n = 0;
    if (point != std::string::npos)
        for (size_t i = point + 1; i < mask.size(); ++i) n += isMaskChar(mask[i]) ? 1 : 0;
    return n;
}

}  // namespace

Picture Picture::parse(std::string_view text) {
    Picture p;
    p.text = std::string(text);
    if (!text.empty() && text.front() == '@') {
        size_t end = text.find(' ');
        std::string_view fn =
            text.substr(1, end == std::string_view::npos ? std::string_view::npos : end - 1);
        for (size_t i = 0; i < fn.size(); ++i) {
            const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(fn[i])));
            if (c == '!') p.upper = true;
            if (c == 'K') p.clearOnFirstKey = true;
            if (c == 'S') {
                int n = 0;
                while (i + 1 < fn.size() && isDigit(fn[i + 1])) n = n * 10 + (fn[++i] - '0');
                p.scroll = n;
            }
        }
        p.mask = end == std::string_view::npos ? std::string() : std::string(text.substr(end + 1));
    } else {
        p.mask = std::string(text);
    }
    return p;
}

char upperAnsi(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 'a' && u <= 'z') return static_cast<char>(u - 32);
    if (u >= 0xE0 && u <= 0xFE && u != 0xF7) return static_cast<char>(u - 0x20);
    if (u == 0x9A || u == 0x9C || u == 0x9E) return static_cast<char>(u - 0x10);
    if (u == 0xFF) return static_cast<char>(0x9F);
    return c;
}

std::string formatNumberMask(double v, std::string_view mask) {
    std::string out(mask);
    const size_t point = mask.find('.');
    int decimals = 0;
    if (point != std::string_view::npos)
        for (size_t i = point + 1; i < mask.size(); ++i) decimals += isMaskChar(mask[i]) ? 1 : 0;
    const double scale = std::pow(10.0, decimals);
    const double rounded = std::round(std::fabs(v) * scale);
    const bool negative = v < 0 && rounded > 0;
    // Digits of the integer part and of the decimals, as text.
    const double intPart = std::floor(rounded / scale);
    std::string intDigits;
    if (intPart >= 1e18) {
        return std::string(mask.size(), '*');
    }
    intDigits = std::to_string(static_cast<long long>(intPart));
    std::string decDigits;
    if (decimals > 0) {
        long long frac = static_cast<long long>(rounded - intPart * scale + 0.5);
        decDigits = std::to_string(frac);
        decDigits.insert(0,
                         static_cast<size_t>(decimals) -
                             std::min(decDigits.size(), static_cast<size_t>(decimals)),
                         '0');
    }
    if (intDigits == "0" && decimals > 0) intDigits.clear();  // ".50" shows as "0.50" below if room
    const size_t intEnd = point == std::string_view::npos ? mask.size() : point;
    // Fill integer positions from the right.
    int d = static_cast<int>(intDigits.size()) - 1;
    bool signPlaced = !negative;
    bool leadingZero = intDigits.empty();
    for (int i = static_cast<int>(intEnd) - 1; i >= 0; --i) {
        const char m = mask[static_cast<size_t>(i)];
        if (isMaskChar(m)) {
            if (d >= 0) {
                out[static_cast<size_t>(i)] = intDigits[static_cast<size_t>(d--)];
            } else if (leadingZero) {
                out[static_cast<size_t>(i)] = '0';
                leadingZero = false;
            } else if (!signPlaced) {
                out[static_cast<size_t>(i)] = '-';
                signPlaced = true;
            } else {
                out[static_cast<size_t>(i)] = ' ';
            }
        } else if (d < 0) {
            // A separator left of the first digit is not shown.
            out[static_cast<size_t>(i)] = ' ';
        }
    }
    if (d >= 0 || !signPlaced) return std::string(mask.size(), '*');
    if (point != std::string_view::npos) {
        size_t k = 0;
        for (size_t i = point + 1; i < mask.size(); ++i)
            if (isMaskChar(mask[i])) out[i] = k < decDigits.size() ? decDigits[k++] : '0';
    }
    return out;
}

void EntryBuffer::start(const xb::Value& value, const Picture& picture, std::string_view dateFormat,
                        int epoch) {
    original_ = value;
    pic_ = picture;
    dateFormat_ = std::string(dateFormat);
    epoch_ = epoch;
    type_ = value.type();
    if (type_ == 'M') type_ = 'C';
    if (type_ != 'C' && type_ != 'N' && type_ != 'D' && type_ != 'L') type_ = 'C';
    switch (type_) {
        case 'N':
            mask_ =
                pic_.mask.empty() ? numberMask(value.numWidth(), value.numDecimals()) : pic_.mask;
            break;
        case 'D':
            mask_ = pic_.mask.empty() ? dateMask(dateFormat_) : pic_.mask;
            break;
        case 'L':
            mask_ = pic_.mask.empty() ? "L" : pic_.mask;
            break;
        default: {
            const size_t width = value.asString().size();
            if (pic_.mask.empty()) {
                mask_ = std::string(width, pic_.upper ? '!' : 'X');
            } else {
                mask_ = pic_.mask;
                // A template shorter than the value edits only its own length.
            }
            break;
        }
    }
    entry_ = xb::entryMask(pic_.text, value);
    useEntry_ = entry_.width() == mask_.size();
    buf_ = render(value);
    cursor_ = nextEditable(0);
    if (cursor_ >= static_cast<int>(buf_.size())) cursor_ = 0;
    firstKey_ = true;
    changed_ = false;
    full_ = false;
    pastEnd_ = false;
    insert_ = false;
    numEntry_ = false;
    numInt_.clear();
    overflow_ = false;
}

void EntryBuffer::replaceValue(const xb::Value& v) {
    buf_ = render(v);
    cursor_ = nextEditable(0);
    if (cursor_ >= static_cast<int>(buf_.size())) cursor_ = 0;
    firstKey_ = false;
    changed_ = true;
    full_ = false;
    pastEnd_ = false;
    numEntry_ = false;
    numInt_.clear();
    overflow_ = false;
}

std::string EntryBuffer::render(const xb::Value& v) const {
    if (useEntry_) {
        std::string t = xb::entryText(v, pic_.text);
        if (t.size() == mask_.size()) return t;
    }
    switch (type_) {
        case 'N':
            return formatNumberMask(v.asNumber(), mask_);
        case 'D': {
            std::string t =
                v.asDate() == 0 ? std::string() : xb::formatDate(v.asDate(), dateFormat_);
            std::string out = mask_;
            for (size_t i = 0; i < out.size(); ++i)
                if (isMaskChar(out[i])) out[i] = i < t.size() ? t[i] : ' ';
            return out;
        }
        case 'L':
            return std::string(mask_.size() > 0 ? 1 : 0,
                               v.asLogical() ? (mask_[0] == 'Y' || mask_[0] == 'y' ? 'Y' : 'T')
                                             : (mask_[0] == 'Y' || mask_[0] == 'y' ? 'N' : 'F'));
        default: {
            const std::string& s = v.asString();
            std::string out = mask_;
            for (size_t i = 0; i < out.size(); ++i) {
                if (!isMaskChar(out[i])) continue;
                char c = i < s.size() ? s[i] : ' ';
                if (pic_.upper || out[i] == '!') c = upperAnsi(c);
                out[i] = c;
            }
            return out;
        }
    }
}

bool EntryBuffer::editable(int pos) const {
    return pos >= 0 && pos < static_cast<int>(mask_.size()) &&
           isMaskChar(mask_[static_cast<size_t>(pos)]);
}

int EntryBuffer::nextEditable(int from) const {
    int n = static_cast<int>(mask_.size());
    for (int i = std::max(from, 0); i < n; ++i)
        if (editable(i)) return i;
    return n;
}

int EntryBuffer::prevEditable(int from) const {
    for (int i = std::min(from, static_cast<int>(mask_.size()) - 1); i >= 0; --i)
        if (editable(i)) return i;
    return -1;
}

bool EntryBuffer::accepts(int pos, char& c) const {
    const char m = mask_[static_cast<size_t>(pos)];
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return false;
    if (useEntry_ && type_ != 'N') {
        if (!entry_.accepts(static_cast<size_t>(pos), u)) return false;
        c = static_cast<char>(entry_.apply(static_cast<size_t>(pos), u));
        if (pic_.upper) c = upperAnsi(c);
        return true;
    }
    if (type_ == 'N') {
        if (!(isDigit(c) || c == ' ' || ((c == '-' || c == '+') && m != 'A'))) return false;
        return true;
    }
    switch (m) {
        case '9':
            if (!isDigit(c) && !(type_ == 'C' && (c == '-' || c == '+' || c == ' '))) return false;
            break;
        case '#':
            if (!isDigit(c) && c != ' ' && c != '+' && c != '-') return false;
            break;
        case 'A':
        case 'a':
            if (!isLetter(u)) return false;
            break;
        case 'N':
        case 'n':
            if (!isLetter(u) && !isDigit(c)) return false;
            break;
        case 'L':
        case 'l': {
            const char up = upperAnsi(c);
            if (up != 'T' && up != 'F' && up != 'Y' && up != 'N' && up != 'S') return false;
            c = up;
            break;
        }
        case 'Y':
        case 'y': {
            const char up = upperAnsi(c);
            if (up != 'Y' && up != 'N' && up != 'S') return false;
            c = up;
            break;
        }
        default:
            break;
    }
    if (m == '!' || pic_.upper) c = upperAnsi(c);
    return true;
}

void EntryBuffer::clearAll() {
    for (size_t i = 0; i < buf_.size(); ++i)
        if (editable(static_cast<int>(i))) buf_[i] = ' ';
    // A cleared number shows its separators only once digits are there.
    if (type_ == 'N') buf_ = formatNumberMask(0, mask_), buf_ = std::string(buf_.size(), ' ');
    if (type_ == 'N')
        for (size_t i = 0; i < buf_.size(); ++i)
            if (mask_[i] == '.') buf_[i] = '.';
    cursor_ = nextEditable(0);
    changed_ = true;
}

bool EntryBuffer::typeChar(char c) {
    full_ = false;
    overflow_ = false;
    const size_t point = mask_.find('.');
    const bool typedPoint = type_ == 'N' && (c == '.' || c == ',') && point != std::string::npos &&
                            (c == '.' || mask_.find(',') == std::string::npos);
    // The first digit, sign or point typed into a number starts a new number,
    // whatever the picture: typing over the old one position by position
    // would mix the typed digits with what was left of it.
    if (type_ == 'N' && firstKey_ && (typedPoint || isDigit(c) || c == '-' || c == '+')) {
        clearAll();
        pastEnd_ = false;
        numEntry_ = true;
        numInt_.clear();
    }
    if (typedPoint) {
        firstKey_ = false;
        numEntry_ = false;
        numberPoint();
        return true;
    }
    if (numEntry_ && (point == std::string::npos || cursor_ < static_cast<int>(point))) {
        firstKey_ = false;
        return typeInteger(c);
    }
    if (!editable(cursor_)) cursor_ = nextEditable(cursor_);
    if (cursor_ >= static_cast<int>(buf_.size())) return false;
    char ch = c;
    if (!accepts(cursor_, ch)) return false;
    // The field is full: the key has no place (unless @K clears it first).
    if (pastEnd_ && !(pic_.clearOnFirstKey && firstKey_)) return false;
    if (pic_.clearOnFirstKey && firstKey_) clearAll(), pastEnd_ = false;
    firstKey_ = false;
    if (insert_ && type_ == 'C') {
        // Shift the following editable positions one to the right.
        int last = prevEditable(static_cast<int>(buf_.size()) - 1);
        for (int i = last; i > cursor_; --i) {
            int p = prevEditable(i - 1);
            if (p < cursor_) break;
            buf_[static_cast<size_t>(i)] = buf_[static_cast<size_t>(p)];
            i = p + 1;
        }
    }
    buf_[static_cast<size_t>(cursor_)] = ch;
    changed_ = true;
    int next = nextEditable(cursor_ + 1);
    if (next >= static_cast<int>(buf_.size())) {
        full_ = true;  // the cursor stays on the last position
        pastEnd_ = true;
    } else {
        cursor_ = next;
    }
    return true;
}

bool EntryBuffer::typeInteger(char c) {
    if (c == '+') return numInt_.empty();
    if (c == '-') {
        if (!numInt_.empty()) return false;
        numInt_ = "-";
        layInteger();
        return true;
    }
    if (!isDigit(c)) return false;
    std::string next = numInt_ + c;
    const size_t first = next[0] == '-' ? 1 : 0;
    while (next.size() > first + 1 && next[first] == '0') next.erase(first, 1);
    const size_t point = mask_.find('.');
    const int intEnd = static_cast<int>(point == std::string::npos ? mask_.size() : point);
    int room = 0;
    for (int i = 0; i < intEnd; ++i) room += editable(i) ? 1 : 0;
    if (static_cast<int>(next.size()) > room) {
        // Dropping the digit, or letting it run into the decimals, would
        // store a number other than the one typed.
        overflow_ = true;
        return false;
    }
    numInt_ = next;
    layInteger();
    // A number without decimals is complete when its positions are.
    if (point == std::string::npos && static_cast<int>(numInt_.size()) == room) full_ = true;
    return true;
}

void EntryBuffer::layInteger() {
    const size_t point = mask_.find('.');
    const size_t intEnd = point == std::string::npos ? mask_.size() : point;
    std::string laid(intEnd, ' ');
    const int last = prevEditable(static_cast<int>(intEnd) - 1);
    if (numInt_ == "-") {
        if (last >= 0) laid[static_cast<size_t>(last)] = '-';
    } else if (!numInt_.empty()) {
        laid = formatNumberMask(std::strtod(numInt_.c_str(), nullptr), mask_.substr(0, intEnd));
    }
    buf_.replace(0, intEnd, laid);
    changed_ = true;
    if (last >= 0) cursor_ = last;
}

void EntryBuffer::numberPoint() {
    const size_t point = mask_.find('.');
    std::string digits;
    for (size_t i = 0; i < point; ++i)
        if (editable(static_cast<int>(i)) && buf_[i] != ' ') digits.push_back(buf_[i]);
    const double v = digits.empty() || digits == "-" ? 0.0 : std::strtod(digits.c_str(), nullptr);
    std::string decimals = buf_.substr(point + 1);
    std::string laid = formatNumberMask(v, mask_);
    if (digits.empty()) laid = std::string(laid.size(), ' '), laid[point] = '.';
    if (!digits.empty() && digits[0] == '-' && v == 0) laid = formatNumberMask(0, mask_);
    for (size_t i = point + 1; i < buf_.size(); ++i) laid[i] = decimals[i - point - 1];
    buf_ = laid;
    changed_ = true;
    int next = nextEditable(static_cast<int>(point) + 1);
    cursor_ = next < static_cast<int>(buf_.size()) ? next : cursor_;
}

void EntryBuffer::left() {
    numEntry_ = false;
    firstKey_ = false;
    pastEnd_ = false;
    const int p = prevEditable(cursor_ - 1);
    if (p >= 0) cursor_ = p;
}

void EntryBuffer::right() {
    numEntry_ = false;
    firstKey_ = false;
    pastEnd_ = false;
    const int n = nextEditable(cursor_ + 1);
    if (n < static_cast<int>(buf_.size())) cursor_ = n;
}

void EntryBuffer::home() {
    numEntry_ = false;
    firstKey_ = false;
    pastEnd_ = false;
    const int n = nextEditable(0);
    if (n < static_cast<int>(buf_.size())) cursor_ = n;
}

void EntryBuffer::end() {
    numEntry_ = false;
    firstKey_ = false;
    pastEnd_ = false;
    // After the last non-blank character, as xBase does.
    int last = -1;
    for (int i = 0; i < static_cast<int>(buf_.size()); ++i)
        if (editable(i) && buf_[static_cast<size_t>(i)] != ' ') last = i;
    const int n = nextEditable(last + 1);
    cursor_ = n < static_cast<int>(buf_.size())
                  ? n
                  : std::max(prevEditable(static_cast<int>(buf_.size()) - 1), 0);
}

void EntryBuffer::setCursor(int pos) {
    numEntry_ = false;
    pastEnd_ = false;
    const int n = nextEditable(pos);
    if (n < static_cast<int>(buf_.size()))
        cursor_ = n;
    else if (prevEditable(pos) >= 0)
        cursor_ = prevEditable(pos);
}

void EntryBuffer::clickAt(int pos) {
    int last = -1;
    for (int i = 0; i < static_cast<int>(buf_.size()); ++i)
        if (editable(i) && buf_[static_cast<size_t>(i)] != ' ') last = i;
    // Text, times and dates are typed from the left: a click past what was
    // typed lands right after it (at the start of an empty field), where
    // typing goes on. Numbers are laid out right-aligned: any place is fine.
    if (type_ == 'C' || type_ == 'D') {
        const int after = nextEditable(last + 1);
        if (pos > after) pos = after;
    }
    setCursor(pos);
}

void EntryBuffer::eraseRange(int from, int to) {
    firstKey_ = false;
    pastEnd_ = false;
    full_ = false;
    const int n = static_cast<int>(buf_.size());
    from = std::clamp(from, 0, n);
    to = std::clamp(to, from, n);
    if (type_ == 'N' && from <= nextEditable(0) && to >= prevEditable(n - 1) + 1) {
        clearAll();
        numEntry_ = true;  // what is typed next is a new number
        numInt_.clear();
        return;
    }
    if (type_ == 'C') {
        // Close up: the editable positions after the range move to its start.
        std::string kept;
        for (int i = to; i < n; ++i)
            if (editable(i)) kept.push_back(buf_[static_cast<size_t>(i)]);
        size_t k = 0;
        for (int i = from; i < n; ++i)
            if (editable(i)) buf_[static_cast<size_t>(i)] = k < kept.size() ? kept[k++] : ' ';
    } else {
        for (int i = from; i < to; ++i)
            if (editable(i)) buf_[static_cast<size_t>(i)] = ' ';
    }
    changed_ = true;
    const int c = nextEditable(from);
    cursor_ = c < n ? c : std::max(prevEditable(n - 1), 0);
}

void EntryBuffer::del() {
    numEntry_ = false;
    firstKey_ = false;
    pastEnd_ = false;
    if (!editable(cursor_)) return;
    if (type_ == 'C') {
        // Shift the rest of the field left, over editable positions only.
        int i = cursor_;
        for (int n = nextEditable(i + 1); n < static_cast<int>(buf_.size());
             n = nextEditable(n + 1)) {
            buf_[static_cast<size_t>(i)] = buf_[static_cast<size_t>(n)];
            i = n;
        }
        buf_[static_cast<size_t>(i)] = ' ';
    } else {
        buf_[static_cast<size_t>(cursor_)] = ' ';
    }
    changed_ = true;
}

void EntryBuffer::backspace() {
    firstKey_ = false;
    const size_t point = mask_.find('.');
    if (numEntry_ && (point == std::string::npos || cursor_ < static_cast<int>(point))) {
        // The number being typed loses its last digit.
        if (!numInt_.empty()) numInt_.pop_back();
        layInteger();
        return;
    }
    const int p = prevEditable(cursor_ - 1);
    if (pastEnd_ && cursor_ == prevEditable(static_cast<int>(buf_.size()) - 1)) {
        // The last key filled the field: its character is the one to erase.
        full_ = false;
        del();
        return;
    }
    if (p < 0) return;
    cursor_ = p;
    del();
}

xb::Value EntryBuffer::value(bool* ok) const {
    if (ok) *ok = true;
    switch (type_) {
        case 'N': {
            if (useEntry_)
                return xb::entryValue(
                    buf_, pic_.text,
                    xb::Value::num(0, static_cast<int>(mask_.size()), decimalsOf(mask_)));
            const size_t point = mask_.find('.');
            std::string digits;
            for (size_t i = 0; i < buf_.size(); ++i) {
                if (!editable(static_cast<int>(i))) {
                    if (i == point) digits.push_back('.');
                    continue;
                }
                if (buf_[i] != ' ') digits.push_back(buf_[i]);
            }
            char* end = nullptr;
            double v = digits.empty() || digits == "." ? 0.0 : std::strtod(digits.c_str(), &end);
            if (end != nullptr && *end != '\0' && ok) *ok = false;
            int decimals = 0;
            if (point != std::string::npos)
                for (size_t i = point + 1; i < mask_.size(); ++i)
                    decimals += editable(static_cast<int>(i)) ? 1 : 0;
            return xb::Value::num(v, static_cast<int>(mask_.size()), decimals);
        }
        case 'D': {
            bool blank = true;
            for (size_t i = 0; i < buf_.size(); ++i)
                if (editable(static_cast<int>(i)) && buf_[i] != ' ') blank = false;
            if (blank) return xb::Value::date(0);
            const int32_t jd = xb::parseDate(buf_, dateFormat_, epoch_);
            if (jd == 0) {
                if (ok) *ok = false;
                return original_;
            }
            return xb::Value::date(jd);
        }
        case 'L': {
            const char c = buf_.empty() ? 'F' : upperAnsi(buf_[0]);
            return xb::Value::logical(c == 'T' || c == 'Y' || c == 'S');
        }
        default: {
            if (useEntry_) return xb::entryValue(buf_, pic_.text, original_);
            // Text keeps the width of the value it started from.
            std::string s = original_.asString();
            if (s.size() < buf_.size() && original_.type() != 'C' && original_.type() != 'M')
                s.resize(buf_.size(), ' ');
            for (size_t i = 0; i < buf_.size() && i < s.size(); ++i) s[i] = buf_[i];
            return original_.type() == 'M' ? xb::Value::memo(s) : xb::Value::str(s);
        }
    }
}

}  // namespace tk
