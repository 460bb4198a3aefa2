#include "xbase/value.h"

#include <cmath>
#include <cstdio>

#include "xbase/compiler.h"
#include "xbase/date.h"
#include "xbase/runtime.h"

namespace xb {

namespace {
const std::string kEmptyString;

// Integer digits (with sign) a number needs when printed.
int integerWidth(double v) {
    double a = std::fabs(v);
    int digits = 1;
    while (a >= 10.0 && digits < 400) {
        a /= 10.0;
        ++digits;
    }
    return digits + (v < 0 ? 1 : 0);
}
}  // namespace

Value Value::str(std::string bytes) {
    Value v;
    v.type_ = T::Char;
    v.str_ = std::move(bytes);
    return v;
}

Value Value::memo(std::string bytes) {
    Value v;
    v.type_ = T::Memo;
    v.str_ = std::move(bytes);
    return v;
}

Value Value::num(double d, int width, int decimals) {
    Value v;
    v.type_ = T::Num;
    if (!std::isfinite(d)) d = 0.0;
    v.num_ = d;
    if (decimals < 0) decimals = 0;
    if (decimals > 30) decimals = 30;
    if (width < 1) width = 1;
    if (width > 255) width = 255;
    v.width_ = static_cast<int16_t>(width);
    v.dec_ = static_cast<int16_t>(decimals);
    return v;
}

Value Value::num(double d) {
    if (!std::isfinite(d)) d = 0.0;
    int dec = (d == std::floor(d)) ? 0 : kDefaultDecimals;
    int intw = std::max(10, integerWidth(d));
    return num(d, dec ? intw + 1 + dec : intw, dec);
}

Value Value::date(int32_t julianDay) {
    Value v;
    v.type_ = T::Date;
    v.date_ = julianDay < 0 ? 0 : julianDay;
    return v;
}

Value Value::logical(bool b) {
    Value v;
    v.type_ = T::Logical;
    v.logic_ = b;
    return v;
}

Value Value::array(ArrayPtr a) {
    Value v;
    if (!a) a = std::make_shared<Array>();
    v.type_ = T::Array;
    v.ref_ = std::move(a);
    return v;
}

Value Value::newArray(size_t n) {
    auto a = std::make_shared<Array>();
    a->items.resize(n);
    return array(std::move(a));
}

Value Value::block(BlockPtr b) {
    Value v;
    v.type_ = T::Block;
    v.ref_ = std::move(b);
    return v;
}

Value Value::object(ObjectPtr o) {
    Value v;
    v.type_ = T::Object;
    v.ref_ = std::move(o);
    return v;
}

const std::string& Value::asString() const {
    return isString() ? str_ : kEmptyString;
}

std::string& Value::mutableString() {
    return str_;
}

ArrayPtr Value::asArray() const {
    return type_ == T::Array ? std::static_pointer_cast<Array>(ref_) : nullptr;
}
BlockPtr Value::asBlock() const {
    return type_ == T::Block ? std::static_pointer_cast<Block>(ref_) : nullptr;
}
ObjectPtr Value::asObject() const {
    return type_ == T::Object ? std::static_pointer_cast<Object>(ref_) : nullptr;
}

std::string Value::toText() const {
    switch (type_) {
        case T::Char:
        case T::Memo:
            return str_;
        case T::Num:
            return formatNumber(num_, width_, dec_);
        case T::Date:
            return formatDate(date_, effectiveDateFormat());
        case T::Logical:
            return logic_ ? ".T." : ".F.";
        case T::Nil:
            return "NIL";
        case T::Array:
            return "{...}";
        case T::Block:
            return "{||...}";
        case T::Object: {
            Object* o = objectPtr();
            return o ? o->className() : std::string("OBJECT");
        }
    }
    return {};
}

bool Value::isEmpty() const {
    switch (type_) {
        case T::Char:
        case T::Memo:
            for (unsigned char c : str_)
                if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
            return true;
        case T::Num:
            return num_ == 0.0;
        case T::Date:
            return date_ == 0;
        case T::Logical:
            return !logic_;
        case T::Nil:
            return true;
        case T::Array:
            return arrayPtr()->items.empty();
        case T::Block:
        case T::Object:
            return false;
    }
    return true;
}

namespace {
CycleMember* g_members = nullptr;
}

CycleMember::CycleMember() : next_(g_members) {
    if (g_members) g_members->prev_ = this;
    g_members = this;
}

CycleMember::~CycleMember() {
    if (prev_)
        prev_->next_ = next_;
    else
        g_members = next_;
    if (next_) next_->prev_ = prev_;
}

void breakReferenceCycles() {
    // Values are moved out first and destroyed afterwards, so no holder is
    // destroyed (and unlinked) while the list is walked.
    std::vector<Value> garbage;
    for (CycleMember* m = g_members; m; m = m->next_) m->surrender(garbage);
    garbage.clear();
}

namespace {
thread_local std::vector<Value>* g_pending = nullptr;
}

void releaseDeep(std::vector<Value>& values) {
    if (g_pending) {
        // An outer release is running: hand the holders to its loop.
        for (auto& v : values)
            if (v.isArray() || v.isBlock() || v.isObject()) g_pending->push_back(std::move(v));
        values.clear();
        return;
    }
    std::vector<Value> list;
    g_pending = &list;
    for (auto& v : values)
        if (v.isArray() || v.isBlock() || v.isObject()) list.push_back(std::move(v));
    values.clear();
    while (!list.empty()) {
        Value v = std::move(list.back());
        list.pop_back();
        // `v` dies here; a holder it frees adds its own holders to `list`.
    }
    g_pending = nullptr;
}

Array::~Array() {
    releaseDeep(items);
}

void Array::surrender(std::vector<Value>& out) {
    for (auto& v : items) out.push_back(std::move(v));
    items.clear();
}

std::string formatNumber(double v, int width, int decimals) {
    if (decimals < 0) decimals = 0;
    if (decimals > 30) decimals = 30;
    if (width < 1) width = 1;
    if (width > 1024) width = 1024;
    if (!std::isfinite(v)) return std::string(width, '*');
    // Round half away from zero, as xBase does (printf would round half even).
    double p = std::pow(10.0, decimals);
    double r = v;
    if (std::fabs(v) * p < 1e17) {
        double scaled = std::fabs(v) * p;
        double rounded = std::floor(scaled + 0.5 + scaled * 4e-16);
        r = std::copysign(rounded / p, v);
    }
    if (r == 0.0) r = 0.0;  // no "-0"
    char buf[512];
    int n = std::snprintf(buf, sizeof buf, "%.*f", decimals, r);
    if (n < 0 || n >= static_cast<int>(sizeof buf) || n > width) return std::string(width, '*');
    std::string out(width - n, ' ');
    out.append(buf, n);
    return out;
}

bool exactEquals(const Value& a, const Value& b) {
    if (a.type() != b.type()) {
        if (a.isString() && b.isString()) return a.asString() == b.asString();
        return false;
    }
    switch (a.type()) {
        case 'C':
        case 'M':
            return a.asString() == b.asString();
        case 'N':
            return a.asNumber() == b.asNumber();
        case 'D':
            return a.asDate() == b.asDate();
        case 'L':
            return a.asLogical() == b.asLogical();
        case 'U':
            return true;
        case 'A':
            return a.asArray() == b.asArray();
        case 'B':
            return a.asBlock() == b.asBlock();
        case 'O':
            return a.asObject() == b.asObject();
    }
    return false;
}

}  // namespace xb
