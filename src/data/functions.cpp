// The data layer's procedures as functions of the language, under their own
// names, so that menus and scripts call them as the program does.
#include <optional>
#include "data/failure.h"
#include "data/helpers.h"
#include "data/maintenance.h"
#include "data/msgmeter.h"
#include "data/session.h"
#include "dbf/dbffuncs.h"
#include "dbf/order.h"

#include "xbase/runtime.h"

namespace data {

namespace {

std::string str(const xb::Value& v) {
    return v.isString() ? v.asString() : std::string();
}

std::vector<std::string> bagArgs(xb::Args& a, size_t from, size_t count) {
    std::vector<std::string> bags;
    for (size_t i = from; i < from + count && i < a.size() && bags.size() < 6; ++i)
        if (a[i].isString()) bags.push_back(a[i].asString());
    return bags;
}

// Arguments actually given: trailing nils do not count.
size_t given(xb::Args& a) {
    size_t n = a.size();
    while (n > 0 && a[n - 1].isNil()) --n;
    return n;
}

xb::Value zero() {
    return xb::Value::integer(0);
}
xb::Value yes(bool b) {
    return xb::Value::logical(b);
}

// The meter behind the first argument, or a silent one.
template <class F>
xb::Value withMeter(xb::Args& a, F f) {
    PlainMeter silent;
    Meter* m = meterOf(a[0]);
    f(m ? *m : static_cast<Meter&>(silent));
    return xb::Value();
}

}  // namespace

void registerDataFunctions() {
    using xb::Args;
    using xb::Value;
    // The engine's own table and order functions come with the session, so
    // that menus and scripts can work on tables.
    dbf::registerDbfFunctions();
    dbf::registerOrderFunctions();
    // A failure escaping a procedure goes to the error handler, which may
    // have it run again or give a default value for it.
    auto reg = [](const char* name, xb::NativeFn fn) {
        xb::registerFunction(name, [name, fn = std::move(fn)](Args& a) -> Value {
            // Text evaluated on the caller's behalf must see (and may create)
            // the caller's privates: those helpers run in the caller's frame.
            std::string_view n = name;
            std::optional<xb::Procedure> frame;
            if (n != "CICLO" && n != "EVALUA" && n != "MSGMETER") frame.emplace(name);
            for (int tries = 1;; ++tries) {
                try {
                    return fn(a);
                } catch (const xb::Break&) {
                    throw;
                } catch (const std::exception& e) {
                    xb::Error err = errorFrom(e, name);
                    err.canRetry = true;
                    err.canSubstitute = true;
                    err.tries = tries;
                    xb::RaiseResult r = xb::raise(err);
                    if (!r.retry) return r.value;
                }
            }
        });
    };

    // Session and catalogue.
    reg("PUBLICAR", [](Args& a) {
        std::string ws = str(a[0]);
        if (ws.empty()) {
            Value u;
            if (xb::getVar("USERTERMIN", u) && u.isString()) ws = u.asString();
            while (!ws.empty() && ws.back() == '\\') ws.pop_back();
        }
        return yes(PUBLICAR(ws));
    });
    reg("HACEPRUEBA", [](Args&) {
        HACEPRUEBA();
        return Value();
    });
    reg("PUBLIBASES", [](Args&) {
        PUBLIBASES();
        return Value();
    });
    reg("NOMBBASES", [](Args&) {
        NOMBBASES();
        return Value();
    });

    // Opening, closing, indexes.
    reg("ABRIR", [](Args& a) {
        size_t n = given(a);
        return yes(ABRIR(str(a[0]), str(a[1]), str(a[2]), bagArgs(a, 3, n > 3 ? n - 3 : 0)));
    });
    reg("USADA", [](Args& a) { return yes(USADA(str(a[0]))); });
    reg("SET_INDEX", [](Args& a) {
        int count = static_cast<int>(a[0].asNumber());
        if (count < 0) count = 0;
        return yes(SET_INDEX(bagArgs(a, 1, static_cast<size_t>(count))));
    });
    reg("INDEXA", [](Args& a) {
        return Value::integer(INDEXA(str(a[0]), str(a[1]), str(a[2]), str(a[3]), a[4].asLogical()));
    });
    reg("CERRAR", [](Args& a) {
        if (a[0].isString())
            CERRAR(a[0].asString());
        else
            CERRAR();
        return zero();
    });
    reg("RECU_IND", [](Args&) {
        RECU_IND();
        return Value();
    });

    // Locks.
    reg("REC_LOCK", [](Args& a) {
        return yes(REC_LOCK(a[0].isNum() ? std::optional<int>(static_cast<int>(a[0].asNumber()))
                                         : std::nullopt));
    });
    reg("PROTEGER", [](Args& a) { return yes(PROTEGER(static_cast<int>(a[0].asNumber()))); });
    reg("DESPROTEGER", [](Args&) {
        DESPROTEGER();
        return Value();
    });
    reg("NETERROR", [](Args&) { return yes(NETERROR()); });

    // Names of files.
    xb::registerFunction(
        "QUITAR_CAM", [](Args& a) { return Value::str(QUITAR_CAM(str(a[0]))); }, true);
    xb::registerFunction(
        "QUITAR_EXT", [](Args& a) { return Value::str(QUITAR_EXT(str(a[0]))); }, true);
    xb::registerFunction(
        "NAME", [](Args& a) { return Value::str(NAME(str(a[0]))); }, true);

    // Structures and tables.
    reg("CREARDBF", [](Args& a) { return structureValue(CREARDBF(str(a[0]), given(a) > 1)); });
    reg("IGUALEST", [](Args& a) {
        try {
            return yes(IGUALEST(structureFromValue(a[0]), structureFromValue(a[1])));
        } catch (const std::invalid_argument&) {
            return yes(false);
        }
    });
    reg("CREA_FIC", [](Args& a) {
        if (a[0].isArray())
            CREA_FIC(structureFromValue(a[0]), str(a[1]), str(a[2]));
        else
            CREA_FIC(str(a[0]), str(a[1]), str(a[2]));
        return Value();
    });

    // Field buffer.
    reg("INIC_VAR", [](Args&) {
        INIC_VAR();
        return Value();
    });
    reg("IGUAL_VAR", [](Args&) {
        IGUAL_VAR();
        return Value();
    });
    reg("REPL_VAR", [](Args&) {
        REPL_VAR();
        return Value();
    });
    reg("LIB_VAR", [](Args&) {
        LIB_VAR();
        return Value();
    });
    reg("AREG", [](Args& a) {
        AREG(a[0], given(a) > 1);
        return Value();
    });

    // Small dialogs and utilities.
    reg("DECIS", [](Args& a) { return Value::str(DECIS(str(a[0]))); });
    reg("PARE", [](Args& a) {
        PARE(a[0].isString() ? a[0].asString() : a[0].toText());
        return zero();
    });
    reg("CGBELL", [](Args&) {
        CGBELL();
        return Value();
    });
    reg("MSGMETER", [](Args& a) { return msgMeterBlock(a[0], a[1], a[2]); });
    reg("CICLO", [](Args& a) {
        CICLO(str(a[0]), str(a[1]));
        return Value();
    });
    reg("EVALUA", [](Args& a) { return EVALUA(str(a[0])); });
    xb::registerFunction(
        "DIV_ZERO",
        [](Args& a) {
            double b = a[1].asNumber();
            if (b == 0) return Value::integer(0);
            return Value::num(a[0].asNumber() / b);
        },
        true);
    reg("ESTATICA", [](Args& a) {
        return ESTATICA(str(a[0]), given(a) > 1 ? std::optional<Value>(a[1]) : std::nullopt);
    });
    reg("GETNEWALIAS", [](Args& a) { return Value::str(GETNEWALIAS(str(a[0]))); });
    reg("CHECKALIAS", [](Args& a) {
        CHECKALIAS(str(a[0]));
        return Value();
    });
    reg("REGULAAREA", [](Args& a) {
        REGULAAREA(str(a[0]));
        return Value();
    });

    // Maintenance.
    reg("INIBASES", [](Args& a) { return withMeter(a, [](Meter& m) { INIBASES(m); }); });
    reg("INDEXBASES", [](Args& a) { return withMeter(a, [](Meter& m) { INDEXBASES(m); }); });
    reg("PACKBASES", [](Args& a) { return withMeter(a, [](Meter& m) { PACKBASES(m); }); });
    reg("RECO_BASES", [](Args& a) { return withMeter(a, [](Meter& m) { RECO_BASES(m); }); });
    reg("PACA", [](Args& a) { return yes(PACA(str(a[0]))); });
    reg("CRE_RES", [](Args& a) {
        CRE_RES(str(a[0]), str(a[1]));
        return Value();
    });
    reg("AUTOMANTEN", [](Args&) {
        AUTOMANTEN();
        return Value();
    });
}

}  // namespace data
