// The search kit's procedures by name, for menus and scripts. Dialogs and
// browses, which the language does not carry, are the active window and
// the innermost browser's browse.
#include <QApplication>

#include "ui/filters.h"
#include "ui/pickers.h"
#include "ui/search.h"
#include "xbase/compiler.h"
#include "xbase/runtime.h"

namespace ui {

namespace {

std::string text(const xb::Args& a, size_t i) {
    return a[i].isString() ? a[i].asString() : std::string();
}

std::vector<std::string> texts(const xb::Args& a, size_t i) {
    std::vector<std::string> out;
    if (!a[i].isArray()) return out;
    for (const xb::Value& v : a[i].asArray()->items)
        out.push_back(v.isString() ? v.asString() : std::string());
    return out;
}

xb::Value orderSwitch(xb::Args& a, bool two) {
    int order = a[2].isNum() ? static_cast<int>(a[2].asNumber()) : 1;
    const int n = two ? COMBO2INDEX(BrowseStack::top(), text(a, 1), order, text(a, 3))
                      : COMBOINDEX(BrowseStack::top(), text(a, 1), order, text(a, 3));
    if (a.isRef(2)) a.setRef(2, xb::Value::integer(order));
    return xb::Value::integer(n);
}

}  // namespace

void registerSearchFunctions() {
    xb::registerFunction("BUSCA1", [](xb::Args& a) {
        BUSCA1(QApplication::activeWindow(), BrowseStack::top(), text(a, 2), texts(a, 3),
               texts(a, 4));
        return xb::Value();
    });
    xb::registerFunction("BUSCA2", [](xb::Args& a) {
        return xb::Value::logical(BUSCA2(nullptr, BrowseStack::top(), text(a, 2), text(a, 3),
                                         text(a, 4), texts(a, 5), texts(a, 6)));
    });
    xb::registerFunction("CHKDUP", [](xb::Args& a) {
        return xb::Value::logical(CHKDUP(a[0], text(a, 1), text(a, 2)));
    });
    xb::registerFunction("DUPLICA", [](xb::Args&) {
        // After a LOCATE: the record found, when the locate found one.
        xb::Value found = xb::evalText("Found()");
        const uint32_t rec =
            found.asLogical() ? static_cast<uint32_t>(xb::evalText("RecNo()").asNumber()) : 0;
        return xb::Value::logical(DUPLICA(rec));
    });
    xb::registerFunction("COMBOINDEX", [](xb::Args& a) { return orderSwitch(a, false); });
    xb::registerFunction("COMBO2INDEX", [](xb::Args& a) { return orderSwitch(a, true); });
    xb::registerFunction("ESTABILIZA", [](xb::Args&) {
        ESTABILIZA(BrowseStack::top());
        return xb::Value();
    });
    xb::registerFunction("NUMREGLOG", [](xb::Args&) {
        return xb::Value::integer(static_cast<int64_t>(NUMREGLOG()));
    });
    xb::registerFunction("LIMPIAMEM", [](xb::Args&) {
        LIMPIAMEM();
        return xb::Value();
    });
    xb::registerFunction("ENDOFFORMCLEARMEM", [](xb::Args&) {
        ENDOFFORMCLEARMEM();
        return xb::Value();
    });
    registerPickerFunctions();
    registerFilterFunctions();
}

}  // namespace ui
