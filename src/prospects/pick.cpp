#include "prospects/pick.h"

#include "dbf/workspace.h"
#include "xbase/runtime.h"

namespace prospects {

namespace {

// Calls the kit's picker by its name in the language, so that the card
// works with whatever arguments the kit gives it.
bool callPicker(const char* fn, xb::ArgList args) {
    if (!xb::functionExists(fn)) return false;
    const xb::Value r = xb::callFunction(fn, std::move(args));
    return r.isLogical() ? r.asLogical() : !r.isNil();
}

}  // namespace

bool pickRecord(const std::string& alias, const std::string& title, QWidget*) {
    dbf::Workspace& ws = dbf::workspace();
    const int prev = ws.current();
    ws.select(alias);
    const bool picked = callPicker("BOTONBUSCA", xb::ArgList{xb::Value::str(title)});
    ws.select(prev);
    return picked;
}

bool pickProspect(QWidget*) {
    return callPicker("BTNSEEKPROSP", xb::ArgList{});
}

}  // namespace prospects
