// Computing a tag's key and FOR condition from a record (KeyMaker). Keys of
// plain fields (joined by "+", DTOS(field), one field of any type) are read
// straight from the record buffer; any other expression is compiled once and
// evaluated with the order's area current. The value is then encoded as the
// tag's key type.
#include <algorithm>
#include <cctype>

#include "dbf/order.h"
#include "dbf/order_internal.h"
#include "dbf/table.h"
#include "xbase/error.h"
#include "xbase/runtime.h"

namespace dbf {

using namespace orderdetail;

namespace {

bool isIdent(std::string_view s) {
    if (s.empty() || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_')) return false;
    for (char c : s)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) return false;
    return true;
}

}  // namespace

void KeyMaker::prepare(WorkArea& wa, const std::string& keyText, const std::string& forText) {
    Table& t = wa.table();
    computable_ = false;
    nativeKey_ = false;
    terms_.clear();
    forKind_ = 0;
    keyExpr_ = xb::Expr();
    forExpr_ = xb::Expr();
    std::string f = noSpaces(forText);
    if (f.empty()) {
        forKind_ = 0;
    } else if (f == "!DELETED()" || f == ".NOT.DELETED()" || f == "NOTDELETED()") {
        forKind_ = 1;
    } else {
        forKind_ = 2;
    }
    // Native keys: FIELD, FIELD+FIELD..., DTOS(FIELD).
    std::vector<std::string> parts;
    {
        std::string cur;
        int depth = 0;
        for (char c : keyText) {
            if (c == '(') ++depth;
            if (c == ')') --depth;
            if (c == '+' && depth == 0) {
                parts.push_back(trimmed(cur));
                cur.clear();
            } else {
                cur += c;
            }
        }
        parts.push_back(trimmed(cur));
    }
    bool native = !parts.empty();
    uint16_t len = 0;
    for (const std::string& p : parts) {
        std::string u = noSpaces(p);
        bool dtos = false;
        std::string name = u;
        if (u.size() > 6 && u.compare(0, 5, "DTOS(") == 0 && u.back() == ')') {
            dtos = true;
            name = u.substr(5, u.size() - 6);
        }
        if (name.compare(0, 7, "FIELD->") == 0) name = name.substr(7);
        if (!isIdent(name)) {
            native = false;
            break;
        }
        int fi = t.fieldIndex(name);
        if (fi < 0) {
            native = false;
            break;
        }
        const Field& fd = t.fields()[static_cast<size_t>(fi)];
        if (dtos && fd.type != 'D') {
            native = false;
            break;
        }
        if (!dtos && fd.type != 'C' && parts.size() > 1) {
            native = false;
            break;
        }
        if (!dtos && fd.type != 'C') {
            if (fd.type == 'N' || fd.type == 'F' || fd.type == 'Y' || fd.type == 'B')
                fieldType_ = 'N', type_ = cdxkey::Type::Numeric, len = 8;
            else if (fd.type == 'I')
                fieldType_ = 'I', type_ = cdxkey::Type::Integer, len = 4;
            else if (fd.type == 'D' || fd.type == 'T')
                fieldType_ = 'D', type_ = cdxkey::Type::Date, len = 8;
            else if (fd.type == 'L')
                fieldType_ = 'L', type_ = cdxkey::Type::Logical, len = 1;
            else {
                native = false;
                break;
            }
        } else {
            fieldType_ = 'C';
            type_ = cdxkey::Type::Character;
            len = static_cast<uint16_t>(len + (dtos ? 8 : fd.len));
        }
        terms_.push_back({fi, dtos});
    }
    if (native && len > 0 && len <= kCdxMaxKey) {
        nativeKey_ = true;
        length_ = len;
    } else {
        nativeKey_ = false;
        terms_.clear();
        // Through the compiler: the type query tells names the table lacks
        // without raising anything.
        std::string ty = inArea(wa, [&] { return xb::typeOfText(keyText); });
        if (ty.empty() || (ty[0] == 'U' && ty != "UI")) return;
        try {
            keyExpr_ = xb::compile(keyText);
            xb::Value v = inArea(wa, [&] { return keyExpr_.eval(); });
            switch (v.type()) {
                case 'C':
                case 'M':
                    type_ = cdxkey::Type::Character;
                    length_ =
                        static_cast<uint16_t>(std::min<size_t>(v.asString().size(), kCdxMaxKey));
                    if (length_ == 0) return;
                    break;
                case 'N':
                    type_ = cdxkey::Type::Numeric;
                    length_ = 8;
                    break;
                case 'D':
                    type_ = cdxkey::Type::Date;
                    length_ = 8;
                    break;
                case 'L':
                    type_ = cdxkey::Type::Logical;
                    length_ = 1;
                    break;
                default:
                    return;
            }
        } catch (const xb::Break&) {
            return;
        }
    }
    if (forKind_ == 2) {
        std::string ty = inArea(wa, [&] { return xb::typeOfText(forText); });
        if (ty.empty() || (ty[0] == 'U' && ty != "UI")) return;
        try {
            forExpr_ = xb::compile(forText);
        } catch (const xb::Break&) {
            return;
        }
    }
    computable_ = true;
}

xb::Value KeyMaker::evalKey(WorkArea& wa) const {
    return inArea(wa, [&] { return keyExpr_.eval(); });
}

bool KeyMaker::evalFor(WorkArea& wa) const {
    switch (forKind_) {
        case 0:
            return true;
        case 1:
            return !wa.table().deleted();
        default: {
            xb::Value v = inArea(wa, [&] { return forExpr_.eval(); });
            return v.isLogical() && v.asLogical();
        }
    }
}

std::string KeyMaker::encode(const xb::Value& v, bool pad) const {
    switch (type_) {
        case cdxkey::Type::Character: {
            std::string s = v.isString() ? v.asString() : std::string();
            if (pad) return cdxkey::fromText(s, length_);
            return s.substr(0, length_);
        }
        case cdxkey::Type::Integer:
            return cdxkey::fromInteger(static_cast<int32_t>(v.asNumber()));
        case cdxkey::Type::Date:
            return cdxkey::fromDate(v.isDate() ? v.asDate() : static_cast<int32_t>(v.asNumber()));
        case cdxkey::Type::Logical:
            return cdxkey::fromLogical(v.asLogical());
        default:
            return cdxkey::fromNumber(v.isDate() ? v.asDate() : v.asNumber());
    }
}

std::optional<std::string> KeyMaker::key(WorkArea& wa, bool ignoreFor) const {
    if (!computable_) return std::nullopt;
    Table& t = wa.table();
    if (t.atPhantom()) return std::nullopt;
    if (!ignoreFor && !evalFor(wa)) return std::nullopt;
    if (nativeKey_) {
        if (fieldType_ == 'C') {
            std::string k;
            k.reserve(length_);
            for (const Term& term : terms_) k.append(t.raw(term.field));
            k.resize(length_, ' ');
            return k;
        }
        int f = terms_[0].field;
        switch (fieldType_) {
            case 'N':
                return cdxkey::fromNumber(t.getNumber(f));
            case 'I':
                return cdxkey::fromInteger(static_cast<int32_t>(t.getNumber(f)));
            case 'D':
                return cdxkey::fromDate(t.getDate(f));
            default:
                return cdxkey::fromLogical(t.getLogical(f));
        }
    }
    return encode(evalKey(wa), true);
}

}  // namespace dbf
