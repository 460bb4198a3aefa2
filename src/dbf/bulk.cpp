#include "dbf/bulk.h"

#include <algorithm>
#include <cctype>

namespace dbf {

namespace {

bool wanted(const std::vector<std::string>& fields, const std::string& name) {
    if (fields.empty()) return true;
    for (const std::string& f : fields) {
        if (f.size() != name.size()) continue;
        bool eq = true;
        for (size_t i = 0; i < f.size() && eq; ++i)
            eq = std::toupper(static_cast<unsigned char>(f[i])) ==
                 static_cast<unsigned char>(name[i]);
        if (eq) return true;
    }
    return false;
}

char family(char t) {
    switch (t) {
        case 'C':
        case 'V':
        case 'M':
        case 'G':
        case 'P':
        case 'W':
            return 'C';
        case 'N':
        case 'F':
        case 'I':
        case 'Y':
        case 'B':
            return 'N';
        case 'D':
        case 'T':
            return 'D';
        case 'L':
            return 'L';
        default:
            return '?';
    }
}

}  // namespace

uint32_t forEachInScope(WorkArea& wa, const Scope& s, const std::function<void()>& fn) {
    uint32_t done = 0;
    if (s.record) {
        wa.goTo(s.record);
        if (!wa.eof() && wa.visible() && (!s.forCond || s.forCond())) {
            fn();
            ++done;
        }
        return done;
    }
    if (!s.rest && !s.whileCond && s.next == 0) wa.goTop();
    int64_t left = s.next;
    while (!wa.eof()) {
        if (s.whileCond && !s.whileCond()) break;
        if (!s.forCond || s.forCond()) {
            fn();
            ++done;
        }
        if (s.next && --left <= 0) break;
        wa.skip(1);
    }
    return done;
}

std::vector<FieldDef> portableStructure(const Table& src, const std::vector<std::string>& fields) {
    std::vector<FieldDef> out;
    for (const Field& f : src.fields()) {
        if (!wanted(fields, f.name)) continue;
        FieldDef d{f.name, f.type, f.len, f.dec};
        switch (f.type) {
            case 'I':
                d = {f.name, 'N', 11, 0};
                break;
            case 'Y':
                d = {f.name, 'N', 20, 4};
                break;
            case 'B':
                d = {f.name, 'N', 20, std::min<int>(f.dec, 15)};
                break;
            case 'T':
                d = {f.name, 'D', 8, 0};
                break;
            case 'V':
                d = {f.name, 'C', f.len, 0};
                break;
            case 'G':
            case 'P':
            case 'W':
            case 'M':
                d = {f.name, 'M', 10, 0};
                break;
            case 'Q':
                d = {f.name, 'C', f.len, 0};
                break;
            default:
                break;
        }
        if (d.type == 'C' && d.len > 254) d.len = 254;
        out.push_back(d);
    }
    return out;
}

void copyStructure(const Table& src, const std::string& path,
                   const std::vector<std::string>& fields) {
    Table::create(path, portableStructure(src, fields));
}

void copyMatchingFields(const Table& src, Table& dst, const std::vector<std::string>& fields) {
    for (int i = 0; i < src.fieldCount(); ++i) {
        const Field& sf = src.fields()[static_cast<size_t>(i)];
        if (!wanted(fields, sf.name)) continue;
        int j = dst.fieldIndex(sf.name);
        if (j < 0) continue;
        const Field& df = dst.fields()[static_cast<size_t>(j)];
        if (family(sf.type) != family(df.type)) continue;  // no conversion between kinds
        xb::Value v = src.value(i);
        if (v.isNil()) {
            if (df.nullable()) dst.putNull(j);
            continue;
        }
        if (df.type == 'T' && sf.type == 'T') {
            dst.putDateTime(j, src.getDateTime(i));
            continue;
        }
        if (df.isMemo() || df.type == 'C' || df.type == 'V') {
            if (df.isMemo())
                dst.putMemo(j, v.asString());
            else
                dst.putString(j, v.asString());
            continue;
        }
        dst.putValue(j, v);
    }
}

uint32_t copyTo(WorkArea& src, const std::string& path, const std::vector<std::string>& fields,
                const Scope& scope) {
    std::vector<FieldDef> st = portableStructure(src.table(), fields);
    Table::create(path, st);
    auto dst = Table::open(path, {false, false});
    uint32_t n = forEachInScope(src, scope, [&] {
        dst->appendBlank();
        copyMatchingFields(src.table(), *dst, fields);
        if (src.deleted()) dst->setDeleted(true);
    });
    dst->commit();
    return n;
}

uint32_t appendFrom(WorkArea& dst, WorkArea& src, const std::vector<std::string>& fields,
                    const Scope& scope) {
    return forEachInScope(src, scope, [&] {
        dst.append();
        copyMatchingFields(src.table(), dst.table(), fields);
        if (src.deleted()) dst.table().setDeleted(true);
        if (dst.table().shared())
            dst.unlock(dst.recno());
        else
            dst.flush();
    });
}

}  // namespace dbf
