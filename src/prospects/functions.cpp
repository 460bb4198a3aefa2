// The procedures of the prospect file, callable by name from menus and scripts.
#include <QApplication>

#include "data/maintenance.h"
#include "prospects/agenda.h"
#include "prospects/fichprosp.h"
#include "prospects/save.h"
#include "xbase/runtime.h"

namespace prospects {

namespace {

std::string textArg(xb::Args& a, size_t i, const char* def) {
    return i < a.size() && a[i].isString() ? trimmed(a[i].asString()) : std::string(def);
}

}  // namespace

void registerProspectFunctions() {
    xb::registerFunction("BROWINPROSP", [](xb::Args&) {
        BROWINPROSP();
        return xb::Value::nil();
    });
    xb::registerFunction("FICHPROSP", [](xb::Args& a) {
        FICHPROSP(textArg(a, 0, "M"));
        return xb::Value::nil();
    });
    xb::registerFunction("AGENDAVIS", [](xb::Args&) {
        AGENDAVIS(QApplication::activeWindow());
        return xb::Value::nil();
    });
    xb::registerFunction("AVISOAGENDA", [](xb::Args&) {
        return xb::Value::integer(AVISOAGENDA(QApplication::activeWindow()));
    });
    xb::registerFunction("BORRAPROSPS",
                         [](xb::Args&) { return xb::Value::logical(BORRAPROSPS()); });
    // Settles the saves and deletions that a dead workstation left half done.
    xb::registerFunction("SANEAPROSP",
                         [](xb::Args&) { return xb::Value::integer(settlePendingSaves()); });
    // A pack renumbers the rows a half-done save's journal points to, so the
    // self-maintenance settles those saves before it packs.
    data::setBeforeMaintenance("SANEAPROSP", [] { settlePendingSaves(); });
}

}  // namespace prospects
