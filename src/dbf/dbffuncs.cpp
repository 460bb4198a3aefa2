#include "dbf/dbffuncs.h"

#include <cctype>
#include <cmath>

#include "dbf/bulk.h"
#include "dbf/workspace.h"
#include "xbase/codepage.h"
#include "xbase/compiler.h"
#include "xbase/runtime.h"

namespace dbf {

using xb::Args;
using xb::Value;

namespace {

Workspace& ws() {
    return workspace();
}

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}

[[noreturn]] void noTable(const char* op) {
    throw DbfError(kErrNoTable, "No hay tabla abierta en el área de trabajo.", {}, 0, op);
}

WorkArea& cur(const char* op) {
    WorkArea* wa = ws().selected();
    if (!wa) noTable(op);
    return *wa;
}

// Runs `fn`; an engine failure goes to the error handler, which may retry it
// or (for sharing violations and where allowed) substitute the answer.
template <class F>
Value guarded(const char* op, F&& fn, bool substitutable = false) {
    for (;;) {
        try {
            return fn();
        } catch (const DbfError& e) {
            bool sharing = e.sharingViolation();
            if (sharing) ws().setNetErr(true);
            xb::Error err = toXbError(e, true, substitutable || sharing);
            if (err.operation.empty()) err.operation = op;
            xb::RaiseResult r = xb::raise(err);
            if (r.retry) continue;
            return r.value;
        }
    }
}

bool argLogical(const Args& a, size_t i, bool dflt) {
    return a.size() > i && a[i].isLogical() ? a[i].asLogical() : dflt;
}

std::string argString(const Args& a, size_t i) {
    return a.size() > i && a[i].isString() ? a[i].asString() : std::string();
}

// A file name given by a script: Windows-1252 bytes, UTF-8 on the file system.
std::string argPath(const Args& a, size_t i) {
    return xb::cp1252ToUtf8(argString(a, i));
}

// A block (or a text compiled into one) evaluated with `area` selected.
std::function<bool()> condition(const Value& v, int area) {
    Value block = v;
    if (v.isString()) {
        std::string t = trim(v.asString());
        if (t.empty()) return {};
        block = xb::compileBlock("{||" + t + "}");
    }
    if (!block.isBlock()) return {};
    return [block, area] {
        return ws().withArea(area, [&] { return xb::evalBlock(block).asLogical(); });
    };
}

Scope scopeFrom(const Args& a, size_t first, int area) {
    // (bFor, bWhile, nNext, nRecord, lRest) from position `first`
    Scope s;
    if (a.size() > first) s.forCond = condition(a[first], area);
    if (a.size() > first + 1) s.whileCond = condition(a[first + 1], area);
    if (a.size() > first + 2 && a[first + 2].isNum())
        s.next = static_cast<int64_t>(a[first + 2].asNumber());
    if (a.size() > first + 3 && a[first + 3].isNum())
        s.record = static_cast<uint32_t>(a[first + 3].asNumber());
    s.rest = argLogical(a, first + 4, false);
    return s;
}

std::vector<std::string> fieldList(const Args& a, size_t i) {
    std::vector<std::string> out;
    if (a.size() > i && a[i].isArray())
        for (const Value& v : a[i].arrayPtr()->items)
            if (v.isString()) out.push_back(upper(trim(v.asString())));
    return out;
}

std::vector<FieldDef> structFromArray(const Value& v) {
    std::vector<FieldDef> out;
    if (!v.isArray()) throw DbfError(kErrArg, "La estructura debe ser una lista de campos.");
    for (const Value& row : v.arrayPtr()->items) {
        if (!row.isArray() || row.arrayPtr()->items.size() < 2)
            throw DbfError(
                kErrArg,
                "Cada campo de la estructura debe ser {nombre, tipo, longitud, decimales}.");
        const auto& it = row.arrayPtr()->items;
        FieldDef d;
        d.name = it[0].asString();
        std::string t = it[1].asString();
        d.type =
            t.empty() ? '?' : static_cast<char>(std::toupper(static_cast<unsigned char>(t[0])));
        d.len = it.size() > 2 ? static_cast<int>(it[2].asNumber()) : 0;
        d.dec = it.size() > 3 ? static_cast<int>(it[3].asNumber()) : 0;
        out.push_back(d);
    }
    return out;
}

Value structToArray(const Table& t) {
    Value arr = Value::newArray(0);
    for (const FieldDef& f : t.structure()) {
        Value row = Value::newArray(0);
        auto& r = row.arrayPtr()->items;
        r.push_back(Value::str(f.name));
        r.push_back(Value::str(std::string(1, f.type)));
        r.push_back(Value::integer(f.len));
        r.push_back(Value::integer(f.dec));
        arr.arrayPtr()->items.push_back(row);
    }
    return arr;
}

// DBUSEAREA(lNewArea, cDriver, cFile, cAlias, lShared, lReadOnly)
Value useArea(bool newArea, const std::string& file, const std::string& alias, bool shared,
              bool readOnly) {
    return guarded("DBUSEAREA", [&] {
        int area = newArea ? 0 : ws().current();
        ws().open(file, alias, {shared, readOnly}, area);
        return Value::logical(true);
    });
}

void reg(const char* name, xb::NativeFn fn) {
    xb::registerFunction(name, std::move(fn));
}

}  // namespace

xb::Error toXbError(const DbfError& e, bool canRetry, bool canSubstitute) {
    xb::Error err;
    err.genCode = e.gencode();
    err.osCode = e.oscode();
    err.subsystem = "DBFCDX";
    err.subCode = 1000 + e.gencode();
    // The language carries Windows-1252 text; the engine's messages and the
    // file system's names are UTF-8.
    err.description = xb::utf8ToCp1252(e.description());
    err.filename = xb::utf8ToCp1252(e.filename());
    err.operation = e.operation();
    err.canRetry = canRetry;
    err.canSubstitute = canSubstitute;
    return err;
}

void registerDbfFunctions() {
    xb::setFieldAccess(&ws());

    // ---------------------------------------------------------------- areas
    reg("DBUSEAREA", [](Args& a) {
        bool shared = argLogical(a, 4, !xb::settings().exclusive);
        return useArea(argLogical(a, 0, false), argPath(a, 2), argString(a, 3), shared,
                       argLogical(a, 5, false));
    });
    // USE(cFile, cAlias, lShared, lReadOnly) opens in the current area; USE() closes it.
    reg("USE", [](Args& a) {
        if (a.size() == 0 || a[0].isNil()) {
            ws().close(ws().current());
            return Value::logical(true);
        }
        bool shared = argLogical(a, 2, !xb::settings().exclusive);
        return useArea(false, argPath(a, 0), argString(a, 1), shared, argLogical(a, 3, false));
    });
    reg("DBCLOSEAREA", [](Args&) {
        ws().close(ws().current());
        return Value();
    });
    reg("DBCLOSEALL", [](Args&) {
        ws().closeAll();
        return Value();
    });
    reg("DBSELECTAREA", [](Args& a) {
        return guarded("DBSELECTAREA", [&] {
            if (a.size() && a[0].isString()) {
                std::string al = trim(a[0].asString());
                // A bare number given as text selects by number, as xBase allows.
                if (!al.empty() && std::isdigit(static_cast<unsigned char>(al[0]))) {
                    ws().select(std::stoi(al));
                } else if (!ws().select(al)) {
                    throw DbfError(kErrNoAlias, "El alias «" + al + "» no está abierto.");
                }
            } else if (a.size() && a[0].isNum()) {
                ws().select(static_cast<int>(a[0].asNumber()));
            }
            return Value::integer(ws().current());
        });
    });
    reg("SELECT", [](Args& a) {
        if (a.size() == 0 || a[0].isNil()) return Value::integer(ws().current());
        if (a[0].isString()) return Value::integer(ws().areaOf(a[0].asString()));
        return Value::integer(a[0].isNum() ? static_cast<int64_t>(a[0].asNumber()) : 0);
    });
    reg("ALIAS", [](Args& a) {
        int n = a.size() && a[0].isNum() ? static_cast<int>(a[0].asNumber()) : ws().current();
        WorkArea* wa = ws().area(n);
        return Value::str(wa ? wa->alias() : std::string());
    });
    reg("USED", [](Args& a) {
        if (a.size() && a[0].isString()) return Value::logical(ws().used(a[0].asString()));
        return Value::logical(ws().selected() != nullptr);
    });
    reg("NETERR", [](Args& a) {
        bool old = ws().netErr();
        if (a.size() && a[0].isLogical()) ws().setNetErr(a[0].asLogical());
        return Value::logical(old);
    });

    // ---------------------------------------------------------------- moving
    reg("DBGOTOP", [](Args&) {
        return guarded("DBGOTOP", [] {
            cur("DBGOTOP").goTop();
            return Value();
        });
    });
    reg("DBGOBOTTOM", [](Args&) {
        return guarded("DBGOBOTTOM", [] {
            cur("DBGOBOTTOM").goBottom();
            return Value();
        });
    });
    reg("DBGOTO", [](Args& a) {
        return guarded("DBGOTO", [&] {
            double n = a.size() ? a[0].asNumber() : 0;
            cur("DBGOTO").goTo(n > 0 && n < 4294967295.0 ? static_cast<uint32_t>(n) : 0);
            return Value();
        });
    });
    reg("DBSKIP", [](Args& a) {
        return guarded("DBSKIP", [&] {
            int64_t n = a.size() && a[0].isNum() ? static_cast<int64_t>(a[0].asNumber()) : 1;
            cur("DBSKIP").skip(n);
            return Value();
        });
    });
    reg("RECNO", [](Args&) {
        WorkArea* wa = ws().selected();
        return Value::integer(wa ? wa->recno() : 0);
    });
    auto count = [](Args&) {
        return guarded("RECCOUNT", [] {
            WorkArea* wa = ws().selected();
            return Value::integer(wa ? wa->recCount() : 0);
        });
    };
    reg("RECCOUNT", count);
    reg("LASTREC", count);
    reg("EOF", [](Args&) {
        WorkArea* wa = ws().selected();
        return Value::logical(wa && wa->eof());
    });
    reg("BOF", [](Args&) {
        WorkArea* wa = ws().selected();
        return Value::logical(wa && wa->bof());
    });
    reg("FOUND", [](Args&) {
        WorkArea* wa = ws().selected();
        return Value::logical(wa && wa->found());
    });
    reg("DELETED", [](Args&) {
        WorkArea* wa = ws().selected();
        return Value::logical(wa && wa->deleted());
    });

    // ---------------------------------------------------------------- locks
    reg("RLOCK", [](Args&) {
        return guarded("RLOCK", [] { return Value::logical(cur("RLOCK").lockRecord(0, true)); });
    });
    reg("DBRLOCK", [](Args& a) {
        return guarded("DBRLOCK", [&] {
            WorkArea& wa = cur("DBRLOCK");
            if (a.size() && a[0].isNum() && a[0].asNumber() >= 1)
                return Value::logical(wa.lockRecord(static_cast<uint32_t>(a[0].asNumber()), false));
            return Value::logical(wa.lockRecord(0, true));
        });
    });
    reg("DBRUNLOCK", [](Args& a) {
        return guarded("DBRUNLOCK", [&] {
            WorkArea& wa = cur("DBRUNLOCK");
            wa.unlock(a.size() && a[0].isNum() ? static_cast<uint32_t>(a[0].asNumber()) : 0);
            return Value();
        });
    });
    reg("DBRLOCKLIST", [](Args&) {
        Value arr = Value::newArray(0);
        if (WorkArea* wa = ws().selected())
            for (uint32_t r : wa->table().lockList())
                arr.arrayPtr()->items.push_back(Value::integer(r));
        return arr;
    });
    reg("FLOCK", [](Args&) {
        return guarded("FLOCK", [] { return Value::logical(cur("FLOCK").lockFile()); });
    });
    reg("DBUNLOCK", [](Args&) {
        return guarded("DBUNLOCK", [] {
            if (WorkArea* wa = ws().selected()) wa->unlock();
            return Value();
        });
    });
    reg("DBUNLOCKALL", [](Args&) {
        return guarded("DBUNLOCKALL", [] {
            for (int n : ws().openAreas()) ws().area(n)->unlock();
            return Value();
        });
    });

    // ---------------------------------------------------------------- records
    reg("DBAPPEND", [](Args& a) {
        return guarded("DBAPPEND", [&] {
            WorkArea& wa = cur("DBAPPEND");
            bool release = argLogical(a, 0, true);
            try {
                wa.append(release);
            } catch (const DbfError& e) {
                // Another user holds the header: the flag tells, no dialog.
                if (!e.sharingViolation()) throw;
                ws().setNetErr(true);
                return Value();
            }
            ws().setNetErr(false);
            return Value();
        });
    });
    reg("DBDELETE", [](Args&) {
        return guarded("DBDELETE", [] {
            cur("DBDELETE").deleteRecord();
            return Value();
        });
    });
    reg("DBRECALL", [](Args&) {
        return guarded("DBRECALL", [] {
            cur("DBRECALL").recall();
            return Value();
        });
    });
    reg("FIELDGET", [](Args& a) {
        return guarded("FIELDGET", [&] {
            WorkArea& wa = cur("FIELDGET");
            int n = a.size() ? static_cast<int>(a[0].asNumber()) : 0;
            if (n < 1 || n > wa.table().fieldCount()) return Value();
            return wa.get(n - 1);
        });
    });
    reg("FIELDPUT", [](Args& a) {
        return guarded("FIELDPUT", [&] {
            WorkArea& wa = cur("FIELDPUT");
            int n = a.size() ? static_cast<int>(a[0].asNumber()) : 0;
            if (n < 1 || n > wa.table().fieldCount()) return Value();
            Value v = a.size() > 1 ? a[1] : Value();
            wa.put(n - 1, v);
            return v;
        });
    });
    auto fieldName = [](Args& a) {
        WorkArea* wa = ws().selected();
        int n = a.size() ? static_cast<int>(a[0].asNumber()) : 0;
        if (!wa || n < 1 || n > wa->table().fieldCount()) return Value::str("");
        return Value::str(wa->table().fields()[static_cast<size_t>(n - 1)].name);
    };
    reg("FIELDNAME", fieldName);
    reg("FIELD", fieldName);
    reg("FIELDPOS", [](Args& a) {
        WorkArea* wa = ws().selected();
        if (!wa || !a.size() || !a[0].isString()) return Value::integer(0);
        return Value::integer(wa->table().fieldIndex(a[0].asString()) + 1);
    });
    reg("FCOUNT", [](Args&) {
        WorkArea* wa = ws().selected();
        return Value::integer(wa ? wa->table().fieldCount() : 0);
    });
    reg("DBSTRUCT", [](Args&) {
        WorkArea* wa = ws().selected();
        return wa ? structToArray(wa->table()) : Value::newArray(0);
    });
    reg("HEADER", [](Args&) {
        WorkArea* wa = ws().selected();
        return Value::integer(wa ? wa->table().headerLength() : 0);
    });
    reg("RECSIZE", [](Args&) {
        WorkArea* wa = ws().selected();
        return Value::integer(wa ? wa->table().recordLength() : 0);
    });
    reg("DBCOMMIT", [](Args&) {
        return guarded("DBCOMMIT", [] {
            if (WorkArea* wa = ws().selected()) wa->commit();
            return Value();
        });
    });
    reg("DBCOMMITALL", [](Args&) {
        return guarded("DBCOMMITALL", [] {
            for (int n : ws().openAreas()) ws().area(n)->commit();
            return Value();
        });
    });

    // ---------------------------------------------------------------- files
    // DBCREATE(cFile, aStruct [, cDriver, lNew, cAlias])
    reg("DBCREATE", [](Args& a) {
        return guarded("DBCREATE", [&] {
            Table::create(argPath(a, 0), structFromArray(a.size() > 1 ? a[1] : Value()));
            if (a.size() > 3 && a[3].isLogical())
                ws().open(argPath(a, 0), argString(a, 4), {!xb::settings().exclusive, false},
                          a[3].asLogical() ? 0 : ws().current());
            return Value::logical(true);
        });
    });
    reg("__DBPACK", [](Args&) {
        return guarded("__DBPACK", [] {
            cur("__DBPACK").pack();
            return Value();
        });
    });
    reg("__DBZAP", [](Args&) {
        return guarded("__DBZAP", [] {
            cur("__DBZAP").zap();
            return Value();
        });
    });
    // DBEVAL(bBlock, bFor, bWhile, nNext, nRecord, lRest)
    reg("DBEVAL", [](Args& a) {
        return guarded("DBEVAL", [&] {
            WorkArea& wa = cur("DBEVAL");
            Value block = a.size() ? a[0] : Value();
            Scope s = scopeFrom(a, 1, wa.number());
            forEachInScope(
                wa, s, [&] { ws().withArea(wa.number(), [&] { return xb::evalBlock(block); }); });
            return Value();
        });
    });
    // __DBLOCATE(bFor, bWhile, nNext, nRecord, lRest)
    reg("__DBLOCATE", [](Args& a) {
        return guarded("__DBLOCATE", [&] {
            WorkArea& wa = cur("__DBLOCATE");
            Scope s = scopeFrom(a, 0, wa.number());
            if (!s.forCond) s.forCond = [] { return true; };
            if (s.record) {
                wa.goTo(s.record);
                wa.setFound(!wa.eof() && wa.visible() && s.forCond());
                return Value::logical(wa.found());
            }
            bool rest = s.rest || s.whileCond || s.next;
            if (s.next) {
                // NEXT n: only n records from the current one.
                int64_t left = s.next;
                auto cond = s.forCond;
                auto wh = s.whileCond;
                wa.locate([cond, &left] { return left-- > 0 && cond(); },
                          [wh, &left] { return left > 0 && (!wh || wh()); }, true);
                return Value::logical(wa.found());
            }
            return Value::logical(wa.locate(s.forCond, s.whileCond, rest));
        });
    });
    reg("__DBCONTINUE", [](Args&) {
        return guarded("__DBCONTINUE",
                       [] { return Value::logical(cur("__DBCONTINUE").continueLocate()); });
    });
    reg("DBSETFILTER", [](Args& a) {
        return guarded("DBSETFILTER", [&] {
            WorkArea& wa = cur("DBSETFILTER");
            std::string text = argString(a, 1);
            Value cond = a.size() && a[0].isBlock() ? a[0] : Value::str(text);
            auto fn = condition(cond, wa.number());
            if (!fn) {
                wa.clearFilter();
                return Value();
            }
            wa.setFilter(text.empty() ? "<bloque>" : text, fn);
            return Value();
        });
    });
    reg("DBCLEARFILTER", [](Args&) {
        if (WorkArea* wa = ws().selected()) wa->clearFilter();
        return Value();
    });
    reg("DBFILTER", [](Args&) {
        WorkArea* wa = ws().selected();
        return Value::str(wa ? wa->filterText() : std::string());
    });
    // __DBCOPYSTRUCT(cFile, aFields)
    reg("__DBCOPYSTRUCT", [](Args& a) {
        return guarded("__DBCOPYSTRUCT", [&] {
            copyStructure(cur("__DBCOPYSTRUCT").table(), argPath(a, 0), fieldList(a, 1));
            return Value();
        });
    });
    // __DBCOPY(cFile, aFields, bFor, bWhile, nNext, nRecord, lRest)
    reg("__DBCOPY", [](Args& a) {
        return guarded("__DBCOPY", [&] {
            WorkArea& wa = cur("__DBCOPY");
            return Value::integer(
                copyTo(wa, argPath(a, 0), fieldList(a, 1), scopeFrom(a, 2, wa.number())));
        });
    });
    // __DBAPP(cFile, aFields, bFor, bWhile, nNext, nRecord, lRest): the source
    // is opened in a free area so that FOR and WHILE see its fields.
    reg("__DBAPP", [](Args& a) {
        return guarded("__DBAPP", [&] {
            WorkArea& dst = cur("__DBAPP");
            int keep = ws().current();
            std::string alias = "__APP" + std::to_string(dst.number());
            int srcArea = ws().open(argPath(a, 0), alias, {true, true}, 0);
            uint32_t n = 0;
            try {
                ws().select(keep);
                n = appendFrom(dst, *ws().area(srcArea), fieldList(a, 1), scopeFrom(a, 2, srcArea));
            } catch (...) {
                ws().close(srcArea);
                ws().select(keep);
                throw;
            }
            ws().close(srcArea);
            ws().select(keep);
            return Value::integer(n);
        });
    });
}

}  // namespace dbf
