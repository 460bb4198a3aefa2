// The order and index functions of the language, under their usual xBase
// names, working on the current work area.
#include <string>

#include "dbf/error.h"
#include "dbf/order.h"
#include "dbf/paths.h"
#include "dbf/workspace.h"
#include "xbase/compiler.h"
#include "xbase/error.h"
#include "xbase/runtime.h"

namespace dbf {

namespace {

using xb::Args;
using xb::Value;

// The FOR condition ORDCONDSET leaves for the next ORDCREATE.
std::string& pendingFor() {
    static std::string s;
    return s;
}

// Runs `fn`, raising engine failures through the language's error protocol
// (the handler may retry); a break unwinds as usual.
template <class F>
Value guarded(const char* op, F&& fn) {
    for (;;) {
        try {
            return fn();
        } catch (const DbfError& e) {
            xb::Error err;
            err.genCode = e.gencode();
            err.osCode = e.oscode();
            err.subsystem = "DBFCDX";
            err.subCode = 1000 + e.gencode();
            err.description = e.description();
            err.filename = e.filename();
            err.operation = op;
            err.canRetry = true;
            err.canSubstitute = true;
            xb::RaiseResult r = xb::raise(err);
            if (!r.retry) return r.value;
        }
    }
}

WorkArea& areaOrFail() {
    WorkArea* wa = workspace().selected();
    if (!wa) throw DbfError(kErrNoTable, "No hay ninguna tabla abierta en el área actual.");
    return *wa;
}

Orders* ordersOrNull() {
    WorkArea* wa = workspace().selected();
    return wa ? &orders(*wa) : nullptr;
}

// An order given as number, tag name or nothing (the controlling one).
int orderArg(Orders& o, const Value& v) {
    if (v.isNum()) return static_cast<int>(v.asNumber());
    if (v.isString()) return o.orderOf(v.asString());
    return o.orderNumber();
}

std::string str(const Value& v) {
    return v.isString() ? v.asString() : std::string();
}

void def(const char* name, xb::NativeFn fn) {
    xb::registerFunction(name, std::move(fn));
}

}  // namespace

void registerOrderFunctions() {
    // The table driver linked in answers to its name, as scripts expect of
    // every driver the program carries.
    def("DBFCDX", [](Args&) { return Value::nil(); });
    def("ORDSETFOCUS", [](Args& a) {
        return guarded("ORDSETFOCUS", [&] {
            Orders* o = ordersOrNull();
            if (!o) return Value::str("");
            Value prev = Value::str(o->orderName());
            if (a.size() > 0 && a[0].isNum())
                o->setOrder(static_cast<int>(a[0].asNumber()));
            else if (a.size() > 0 && a[0].isString())
                o->setOrder(a[0].asString());
            return prev;
        });
    });
    def("DBSETORDER", [](Args& a) {
        return guarded("DBSETORDER", [&] {
            Orders* o = ordersOrNull();
            if (o) o->setOrder(static_cast<int>(a[0].asNumber()));
            return Value::nil();
        });
    });
    def("INDEXORD", [](Args&) {
        Orders* o = ordersOrNull();
        return Value::integer(o ? o->orderNumber() : 0);
    });
    def("ORDNUMBER", [](Args& a) {
        Orders* o = ordersOrNull();
        if (!o) return Value::integer(0);
        return Value::integer(a.size() > 0 && a[0].isString() ? o->orderOf(a[0].asString())
                                                              : o->orderNumber());
    });
    def("ORDNAME", [](Args& a) {
        Orders* o = ordersOrNull();
        return Value::str(o ? o->orderName(orderArg(*o, a[0])) : std::string());
    });
    def("ORDKEY", [](Args& a) {
        Orders* o = ordersOrNull();
        return Value::str(o ? o->orderKey(orderArg(*o, a[0])) : std::string());
    });
    def("INDEXKEY", [](Args& a) {
        Orders* o = ordersOrNull();
        int n = a[0].isNum() ? static_cast<int>(a[0].asNumber()) : 0;
        return Value::str(o ? o->orderKey(n) : std::string());
    });
    def("ORDFOR", [](Args& a) {
        Orders* o = ordersOrNull();
        return Value::str(o ? o->orderFor(orderArg(*o, a[0])) : std::string());
    });
    def("ORDBAGNAME", [](Args& a) {
        Orders* o = ordersOrNull();
        std::string p = o ? o->orderBag(orderArg(*o, a[0])) : std::string();
        return Value::str(p.empty() ? p : baseName(p));
    });
    def("ORDCOUNT", [](Args&) {
        Orders* o = ordersOrNull();
        return Value::integer(o ? o->orderCount() : 0);
    });
    def("DBSEEK", [](Args& a) {
        return guarded("DBSEEK", [&] {
            WorkArea& wa = areaOrFail();
            bool soft = a.size() > 1 && a[1].isLogical() && a[1].asLogical();
            bool last = a.size() > 2 && a[2].asLogical();
            return Value::logical(orders(wa).seek(a[0], soft, last));
        });
    });
    def("ORDSCOPE", [](Args& a) {
        return guarded("ORDSCOPE", [&] {
            Orders* o = ordersOrNull();
            if (!o) return Value::nil();
            int which = static_cast<int>(a[0].asNumber());
            Value prev = which == 0 ? o->scopeTop() : o->scopeBottom();
            if (a.size() > 1) {
                if (which == 0)
                    o->setScopeTop(a[1]);
                else
                    o->setScopeBottom(a[1]);
            }
            return prev;
        });
    });
    def("DBCLEARSCOPE", [](Args&) {
        if (Orders* o = ordersOrNull()) o->clearScope();
        return Value::nil();
    });
    def("ORDKEYCOUNT", [](Args&) {
        return guarded("ORDKEYCOUNT", [&] {
            Orders* o = ordersOrNull();
            return Value::integer(o ? o->keyCount() : 0);
        });
    });
    def("ORDKEYNO", [](Args&) {
        return guarded("ORDKEYNO", [&] {
            Orders* o = ordersOrNull();
            return Value::integer(o ? o->keyNo() : 0);
        });
    });
    def("ORDKEYGOTO", [](Args& a) {
        return guarded("ORDKEYGOTO", [&] {
            Orders* o = ordersOrNull();
            return Value::logical(o && o->keyGoto(static_cast<uint32_t>(a[0].asNumber())));
        });
    });
    def("ORDKEYVAL", [](Args&) {
        return guarded("ORDKEYVAL", [&] {
            Orders* o = ordersOrNull();
            return o ? o->keyValue() : Value::nil();
        });
    });
    def("ORDCONDSET", [](Args& a) {
        pendingFor() = str(a[0]);
        return Value::logical(true);
    });
    def("ORDCREATE", [](Args& a) {
        return guarded("ORDCREATE", [&] {
            WorkArea& wa = areaOrFail();
            std::string bag = str(a[0]);
            std::string tag = str(a[1]);
            std::string key = str(a[2]);
            bool unique = a.size() > 4 && a[4].asLogical();
            if (bag.empty()) bag = withExtension(wa.table().path(), ".cdx");
            if (tag.empty()) {
                tag = baseName(bag);
                if (auto dot = tag.rfind('.'); dot != std::string::npos) tag.erase(dot);
            }
            std::string forText = pendingFor();
            pendingFor().clear();
            orders(wa).createTag(bag, tag, key, forText, unique);
            return Value::nil();
        });
    });
    def("DBCREATEINDEX", [](Args& a) {
        return guarded("DBCREATEINDEX", [&] {
            WorkArea& wa = areaOrFail();
            std::string bag = str(a[0]);
            std::string tag = baseName(bag);
            if (auto dot = tag.rfind('.'); dot != std::string::npos) tag.erase(dot);
            if (bag.find('.') == std::string::npos) bag += ".cdx";
            std::string forText = pendingFor();
            pendingFor().clear();
            orders(wa).createTag(bag, tag, str(a[1]), forText, a.size() > 3 && a[3].asLogical());
            return Value::nil();
        });
    });
    auto listAdd = [](Args& a) {
        return guarded("ORDLISTADD", [&] {
            WorkArea& wa = areaOrFail();
            std::string bag = str(a[0]);
            if (bag.find('.') == std::string::npos) bag += ".cdx";
            orders(wa).addBag(bag);
            return Value::nil();
        });
    };
    def("ORDLISTADD", listAdd);
    def("DBSETINDEX", listAdd);
    auto listClear = [](Args&) {
        if (Orders* o = ordersOrNull()) o->clearBags();
        return Value::nil();
    };
    def("ORDLISTCLEAR", listClear);
    def("DBCLEARINDEX", listClear);
    auto rebuild = [](Args&) {
        return guarded("ORDLISTREBUILD", [&] {
            WorkArea& wa = areaOrFail();
            orders(wa).reindex();
            wa.goTop();
            return Value::nil();
        });
    };
    def("ORDLISTREBUILD", rebuild);
    def("DBREINDEX", rebuild);
    def("ORDDESTROY", [](Args& a) {
        return guarded("ORDDESTROY", [&] {
            WorkArea& wa = areaOrFail();
            orders(wa).destroyTag(str(a[0]));
            return Value::nil();
        });
    });
    def("DBSETRELATION", [](Args& a) {
        return guarded("DBSETRELATION", [&] {
            WorkArea& wa = areaOrFail();
            int child =
                a[0].isNum() ? static_cast<int>(a[0].asNumber()) : workspace().areaOf(str(a[0]));
            if (child <= 0 || !workspace().area(child))
                throw DbfError(kErrNoAlias,
                               "El alias de la relación no está abierto: " + str(a[0]));
            std::string text = a.size() > 2 && a[2].isString() ? a[2].asString() : str(a[1]);
            if (a[1].isBlock())
                orders(wa).setRelation(child, text, a[1]);
            else
                orders(wa).setRelation(child, text);
            return Value::nil();
        });
    });
    def("DBCLEARRELATION", [](Args&) {
        if (Orders* o = ordersOrNull()) o->clearRelations();
        return Value::nil();
    });
    def("DBRELATION", [](Args& a) {
        Orders* o = ordersOrNull();
        return Value::str(o ? o->relationText(a[0].isNum() ? static_cast<int>(a[0].asNumber()) : 1)
                            : std::string());
    });
    def("DBRSELECT", [](Args& a) {
        Orders* o = ordersOrNull();
        return Value::integer(
            o ? o->relationArea(a[0].isNum() ? static_cast<int>(a[0].asNumber()) : 1) : 0);
    });
}

}  // namespace dbf
