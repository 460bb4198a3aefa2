// Fields as values of the language.
#include "dbf/table.h"
#include "xbase/value.h"

namespace dbf {

xb::Value Table::value(int field) const {
    const Field& f = fields_.at(static_cast<size_t>(field));
    if (isNull(field)) return xb::Value::nil();
    switch (f.type) {
        case 'N':
        case 'F':
            return xb::Value::num(getNumber(field), f.len, f.dec);
        case 'I':
            return xb::Value::num(getNumber(field), 10, 0);
        case 'Y':
            return xb::Value::num(getNumber(field), 20, 4);
        case 'B':
            return xb::Value::num(getNumber(field), 20, f.dec);
        case 'D':
        case 'T':
            return xb::Value::date(getDate(field));
        case 'L':
            return xb::Value::logical(getLogical(field));
        case 'M':
        case 'G':
        case 'P':
        case 'W':
            return xb::Value::memo(getMemo(field));
        default:
            return xb::Value::str(raw(field));
    }
}

void Table::putValue(int field, const xb::Value& v) {
    if (field < 0 || field >= fieldCount()) beginWrite(field);
    const Field& f = fields_[static_cast<size_t>(field)];
    if (v.isNil()) return putNull(field);
    bool ok = false;
    switch (f.type) {
        case 'C':
        case 'V':
            if ((ok = v.isString())) putString(field, v.asString());
            break;
        case 'N':
        case 'F':
        case 'I':
        case 'Y':
        case 'B':
            if ((ok = v.isNum())) putNumber(field, v.asNumber());
            break;
        case 'D':
        case 'T':
            if ((ok = v.isDate())) putDate(field, v.asDate());
            break;
        case 'L':
            if ((ok = v.isLogical())) putLogical(field, v.asLogical());
            break;
        case 'M':
        case 'G':
        case 'P':
        case 'W':
            if ((ok = v.isString())) putMemo(field, v.asString());
            break;
        default:
            if ((ok = v.isString())) putRaw(field, v.asString());
            break;
    }
    if (!ok)
        fail(kErrDataType, "Tipo de dato incorrecto para el campo «" + f.name + "» (tipo " +
                               std::string(1, f.type) + ", valor de tipo " +
                               std::string(1, v.type()) + ").");
}

}  // namespace dbf
