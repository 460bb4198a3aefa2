#include "ui/filters.h"

#include <QApplication>
#include <QTableView>
#include <QVariant>
#include <QWidget>

#include "dbf/order.h"
#include "dbf/workspace.h"
#include "toolkit/browse.h"
#include "toolkit/msgbox.h"
#include "ui/pickers.h"
#include "ui/search.h"
#include "xbase/runtime.h"

namespace ui {

namespace {

std::string trim(const std::string& s) {
    const size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

void say(QWidget* w, const std::string& text) {
    if (w != nullptr) w->setProperty("text", shown(text));
}

xb::Value field(dbf::WorkArea& wa, const char* name) {
    const int f = wa.table().fieldIndex(name);
    return f < 0 ? xb::Value::str("") : wa.get(f);
}

}  // namespace

void HACEFILTR1(tk::Browse* browse, QWidget* caption, QWidget* value, QWidget* dialog,
                const std::string& what, const std::string& kind, const std::string& orderChoice) {
    int remembered = orderForChoice(orderChoice, "Prosp");
    if (remembered == 0 || remembered == 8) remembered = 1;
    if (trim(kind) != "Prosp") {
        tk::msgInfo(QStringLiteral("Pendiente"), {}, dialog);
        return;
    }
    dbf::Workspace& ws = dbf::workspace();
    dbf::WorkArea* pros = ws.area(std::string_view("PROSPECTO"));
    if (pros == nullptr) return;
    ws.select(pros->number());
    dbf::Orders& o = dbf::orders(*pros);
    auto finish = [&] {
        if (browse != nullptr) {
            browse->refresh();
            browse->view()->setFocus();
        }
    };
    auto scopeTo = [&](int order, const xb::Value& key) {
        o.setOrder(order);
        o.clearScope();
        o.setScopeTop(key);
        o.setScopeBottom(key);
        pros->goTop();
    };
    if (what == "Todos") {
        o.setOrder(1);
        o.clearScope();
        o.setOrder(3);
        o.clearScope();
        o.setOrder(1);
        pros->goTop();
        say(caption, "");
        say(value, "");
    } else if (what == "Prospecto") {
        if (BROWFILTRVND("Prospecto", dialog)) {
            const xb::Value code = field(*pros, "CODPROSP");
            const std::string name = trim(field(*pros, "NOMBRE").asString());
            o.setOrder(3);
            o.clearScope();
            scopeTo(1, code);
            say(caption, "PROSPECTO:");
            say(value, name);
        } else {
            const uint32_t rec = pros->recno();
            o.setOrder(remembered);
            pros->goTo(rec);
        }
    } else if (what == "Vendedor") {
        dbf::WorkArea* vend = ws.area(std::string_view("VENDEDOR"));
        if (vend == nullptr) return;
        ws.select(vend->number());
        const bool taken = BROWFILTRVND("Vendedor", dialog);
        const xb::Value code = field(*vend, "CODIGO");
        const std::string name = trim(field(*vend, "NOMBRE").asString());
        ws.select(pros->number());
        if (taken) {
            o.setOrder(1);
            o.clearScope();
            scopeTo(3, code);
            say(caption, "VENDEDOR:");
            say(value, name);
        }
    }
    finish();
}

void registerFilterFunctions() {
    xb::registerFunction("HACEFILTR1", [](xb::Args& a) {
        auto text = [&](size_t i) { return a[i].isString() ? a[i].asString() : std::string(); };
        HACEFILTR1(BrowseStack::top(), nullptr, nullptr, QApplication::activeWindow(), text(4),
                   text(5), text(6));
        return xb::Value();
    });
}

}  // namespace ui
