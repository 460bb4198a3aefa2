// The report parameter dialog "Impres1" (PANTAINF1): order, a range on the
// order's key, one field filter with two operators, two dates and the
// destination. "&Imprimir" closes it and runs IMPFAC with what was chosen.
#include <QComboBox>
#include <QFocusEvent>
#include <algorithm>
#include <functional>

#include "data/helpers.h"
#include "dbf/workspace.h"
#include "print/document.h"
#include "reports/inform.h"
#include "toolkit/dialog.h"
#include "ui/grid.h"
#include "ui/messages.h"
#include "xbase/codepage.h"
#include "xbase/compiler.h"
#include "xbase/runtime.h"

namespace reports {

namespace {

const QStringList kOps = {"=", "==", ">", ">=", "<", "<=", "$", "<>"};

QString q(const std::string& s) {
    return QString::fromStdString(xb::cp1252ToUtf8(s));
}

std::vector<std::string> texts(const xb::Value& v) {
    std::vector<std::string> out;
    if (v.isArray())
        for (const auto& e : v.arrayPtr()->items)
            out.push_back(e.isString() ? e.asString() : e.toText());
    return out;
}

xb::Value call(const char* fn, xb::ArgList args = {}) {
    return xb::callFunction(fn, std::move(args));
}

}  // namespace

// Combos and radios of the toolkit count from 1; the state here from 0.
// Shows the dialog; true when the user chose "&Imprimir" (the parameters are
// then in `params`).
bool runImpres1(xb::Args& a, xb::Value& params,
                const std::function<bool(const xb::Value&)>& printWith) {
    std::vector<std::string> orderNames = texts(a[0]), pickFields = texts(a[1]),
                             pickHeaders = texts(a[2]), filterFields = texts(a[4]);
    std::string title = a[3].isString() ? a[3].asString() : std::string();
    bool lDates = !a[5].isLogical() || a[5].asLogical();
    bool lSecond = !a[7].isLogical() || a[7].asLogical();
    bool lRange = !a[9].isLogical() || a[9].asLogical();
    bool lFilter = !a[10].isLogical() || a[10].asLogical();
    bool closeFirst = a[12].asLogical();
    xb::Value tags = a[11];
    if (a[13].isNum()) call("ORDSETFOCUS", {a[13]});
    if (filterFields.empty()) filterFields.push_back("");

    struct State {
        int order = 0, filterField = 0, op1 = 0, op2 = 0, dest = 1;
        bool orderChanged = false;
        xb::Value fromKey = xb::Value::str(""), toKey = xb::Value::str("");
        std::string fromShown, toShown;
        xb::Value v1, v2;
    } st;
    auto blankFor = [&](int field) {
        std::string f = filterFields[static_cast<size_t>(field)];
        bool isDate = !f.empty() && xb::evalText(f).isDate();
        return isDate ? xb::Value::date(0) : xb::Value::str(std::string(20, ' '));
    };
    st.v1 = st.v2 = blankFor(0);
    // Presets of the entry script (AMPREIMP 1, 2, 5, 7, 8, 9), empty ones ignored.
    xb::Value pre;
    if (xb::getVar("AMPREIMP", pre) && pre.isArray() && pre.arrayPtr()->items.size() >= 9) {
        auto& p = pre.arrayPtr()->items;
        if (!p[0].isEmpty()) st.fromKey = p[0], st.fromShown = p[0].toText();
        if (!p[1].isEmpty()) st.toKey = p[1], st.toShown = p[1].toText();
        if (!p[4].isEmpty()) st.v1 = p[4];
        if (!p[6].isEmpty()) st.v2 = p[6];
        if (!p[7].isEmpty()) xb::assignVar("DNOMI1", p[7]);
        if (!p[8].isEmpty()) xb::assignVar("DNOMI2", p[8]);
    }

    tk::Dialog dlg(QStringLiteral("Impres1"));
    dlg.setWindowTitle(QStringLiteral("Interface Preimpresi\u00f3n  :  ") + q(title));
    QStringList orders;
    for (const auto& o : orderNames) orders << q(o);
    auto orderTag = [&](int pos) {
        return tags.isArray() && static_cast<int>(tags.arrayPtr()->items.size()) > pos
                   ? tags.arrayPtr()->items[static_cast<size_t>(pos)]
                   : xb::Value::integer(pos + 1);
    };
    dlg.form().bindCombo(
        101, orders, [&] { return st.order + 1; }, [&](int i) { st.order = i - 1; },
        [&](int i) {
            st.order = i - 1;
            st.orderChanged = true;
            call("ORDSETFOCUS", {orderTag(i - 1)});
            call("DBGOTOP");
        });

    // The record picker of a range field: the key of the record left is
    // taken, and its words shown.
    auto pick = [&](xb::Value& key, std::string& shown, const char* which) {
        std::string caption = st.order < static_cast<int>(orderNames.size())
                                  ? orderNames[static_cast<size_t>(st.order)]
                                  : std::string();
        bool cancelled = false;
        ui::BROWSAUX1(xb::Value(), pickFields, pickHeaders,
                      std::string(which) + "  -  [Ordenado por " + caption + "]", 210, 80, 0,
                      &cancelled);
        if (cancelled) return;
        xb::Value k, s = xb::Value::str("");
        std::string keyText = call("ORDKEY").asString();
        k = keyText.empty() ? xb::Value::str("") : xb::evalText(keyText);
        std::string t = k.toText(), words;
        size_t i = 0;
        while (i < t.size()) {
            size_t e = t.find(' ', i);
            if (e == std::string::npos) {
                words += t.substr(i);
                break;
            }
            if (e > i) words += t.substr(i, e - i) + " ";
            i = e + 1;
        }
        key = k;
        shown = words;
    };
    // A range field is as wide as the longest key of the report's orders (at
    // least 40): an entry takes its width from its value, and an empty value
    // would take no typing at all.
    size_t rangeWidth = 40;
    for (size_t i = 0; i < orderNames.size(); ++i) {
        std::string k = call("ORDKEY", {orderTag(static_cast<int>(i))}).asString();
        if (k.empty()) continue;
        try {
            rangeWidth = std::max(rangeWidth, xb::evalText(k).toText().size());
        } catch (const xb::Break&) {
        }
    }
    auto rangeField = [&](int id, xb::Value& key, std::string& shown, const char* which) {
        tk::EntryBinding b;
        b.get = [&shown, rangeWidth] {
            return xb::Value::str(shown.size() >= rangeWidth
                                      ? shown
                                      : shown + std::string(rangeWidth - shown.size(), ' '));
        };
        b.set = [&shown, &key](const xb::Value& v) {
            shown = v.isString() ? v.asString() : v.toText();
            std::string t = shown;
            while (!t.empty() && t.back() == ' ') t.pop_back();
            key = xb::Value::str(t);
        };
        b.valid = [&, which] {
            std::string t = key.asString();
            if (t.empty()) return true;
            if (call("DBSEEK", {xb::Value::str(t)}).asLogical()) return true;
            call("DBGOTOP");
            pick(key, shown, which);
            dlg.refresh();
            return true;
        };
        b.when = [lRange] { return lRange; };
        dlg.bindEntry(id, b);
    };
    rangeField(102, st.fromKey, st.fromShown, "Primer dato");
    rangeField(103, st.toKey, st.toShown, "Segundo dato");
    auto pickButton = [&](int id, xb::Value& key, std::string& shown, const char* which,
                          const char* tip) {
        tk::ButtonSpec s;
        s.bitmaps = QStringLiteral("Buscar1|Buscar2");
        s.tooltip = q(tip);
        s.action = [&, which] {
            if (key.asString().empty() || !call("DBSEEK", {key}).asLogical()) call("DBGOTOP");
            pick(key, shown, which);
            dlg.refresh();
        };
        dlg.bindButton(id, s);
        dlg.form().setEnabled(id, lRange);
    };
    pickButton(201, st.fromKey, st.fromShown, "Primer dato", "Seleccionar intervalo 1");
    pickButton(202, st.toKey, st.toShown, "Segundo dato", "Seleccionar intervalo 2");

    QStringList fields;
    for (const auto& f : filterFields) fields << q(f);
    auto opEnables = [&] {
        const QString& op = kOps[st.op1];
        bool same = op == "=" || op == "==" || op == "$" || op == "<>";
        if (same) st.op2 = st.op1;
        dlg.form().setEnabled(106, lFilter && !same);
        dlg.form().setEnabled(113, lFilter && !same);
    };
    QComboBox* filterList = dlg.form().bindCombo(
        104, fields, [&] { return st.filterField + 1; }, [&](int i) { st.filterField = i - 1; });
    // Leaving the list of filter fields, changed or not, starts both values
    // afresh, blank in the chosen field's kind.
    struct Leaving : QObject {
        std::function<void()> act;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::FocusOut &&
                static_cast<QFocusEvent*>(e)->reason() != Qt::PopupFocusReason)
                act();
            return false;
        }
    } leaving;
    leaving.act = [&] {
        st.v1 = st.v2 = blankFor(st.filterField);
        dlg.refresh();
    };
    if (filterList) filterList->installEventFilter(&leaving);
    dlg.form().bindCombo(
        112, kOps, [&] { return st.op1 + 1; }, [&](int i) { st.op1 = i - 1; },
        [&](int i) {
            st.op1 = i - 1;
            opEnables();
            dlg.refresh();
        });
    dlg.form().bindCombo(
        113, kOps, [&] { return st.op2 + 1; }, [&](int i) { st.op2 = i - 1; });
    auto valueField = [&](int id, xb::Value& v, bool copies) {
        tk::EntryBinding b;
        b.get = [&v] { return v; };
        b.set = [&v](const xb::Value& x) {
            v = x.isString() ? xb::Value::str(xb::upper1252(x.asString())) : x;
        };
        b.picture = "@K!";
        if (copies)
            b.valid = [&] {
                st.v2 = st.v1;
                dlg.refresh();
                return true;
            };
        b.when = [lFilter] { return lFilter; };
        dlg.bindEntry(id, b);
    };
    valueField(105, st.v1, true);
    valueField(106, st.v2, false);
    auto dateField = [&](int id, const char* var, bool on) {
        tk::EntryBinding b;
        b.get = [var] { return xb::getVar(var); };
        b.set = [var](const xb::Value& v) { xb::assignVar(var, v); };
        b.when = [on] { return on; };
        dlg.bindEntry(id, b);
    };
    call("ULTIMNOMI", {xb::getVar("DNOMI1"), xb::Value::logical(false)});
    dateField(107, "DNOMI1", lDates);
    dateField(108, "DNOMI2", lDates && lSecond);
    for (int id : {203, 204}) {
        tk::ButtonSpec s;
        s.tooltip = id == 203 ? QStringLiteral("Seleccionar fecha inicial")
                              : QStringLiteral("Seleccionar fecha final");
        dlg.bindButton(id, s);
        dlg.form().setEnabled(id, false);
    }
    dlg.form().bindRadios(
        {109, 110, 111}, [&] { return st.dest; }, [&](int i) { st.dest = i; });
    dlg.form().setEnabled(111, false);
    for (int id : {104, 112, 105}) dlg.form().setEnabled(id, lFilter);
    dlg.form().setEnabled(106, false);
    dlg.form().setEnabled(113, false);

    bool print = false;
    tk::ButtonSpec imprimir;
    imprimir.caption = QStringLiteral("&Imprimir");
    imprimir.bitmaps = QStringLiteral("Impr1|Impr2");
    imprimir.tooltip = QStringLiteral("Proceder con impresi\u00f3n");
    imprimir.action = [&] {
        // No printer is an ordinary situation: said here, the user stays in
        // the dialog and may choose the preview.
        if (st.dest == 2 && !print::printerAvailable() && print::unattendedPdf().isEmpty()) {
            data::CGBELL();
            data::alertDialog("No hay ninguna impresora instalada", "Atenci\xf3n.....",
                              {"&Aceptar"});
            return;
        }
        // The order chosen in the list; left unchanged, the order the dialog
        // opened on, which the list shows and the range was picked on.
        if (st.orderChanged) call("ORDSETFOCUS", {orderTag(st.order)});
        if (closeFirst) dlg.end(1);
        xb::Value d1 = xb::getVar("DNOMI1"), d2 = xb::getVar("DNOMI2");
        params = ACTLZPARAM(st.fromKey, st.toKey, filterFields[static_cast<size_t>(st.filterField)],
                            kOps[st.op1].toStdString(), st.v1, kOps[st.op2].toStdString(), st.v2,
                            d1, d2, st.dest);
        xb::createPublic("MPREVW");
        xb::assignVar("MPREVW", xb::Value::logical(st.dest == 1));
        print = true;
        dlg.end(1);
    };
    dlg.bindButton(413, imprimir);
    tk::ButtonSpec cancelar;
    cancelar.caption = QStringLiteral("&Cancelar");
    cancelar.bitmaps = QStringLiteral("Exit1|Exit2");
    cancelar.tooltip = QStringLiteral("Cancela impresi\u00f3n");
    cancelar.cancel = true;
    cancelar.action = [&] { dlg.end(0); };
    dlg.bindButton(401, cancelar);
    xb::createPublic("ODLGIMP1");
    xb::assignVar("ODLGIMP1", ui::windowObject(&dlg));
    for (;;) {
        dlg.run();
        if (!print || !printWith || printWith(params)) break;
        print = false;  // back to the dialog, the choices kept
    }
    if (filterList) filterList->removeEventFilter(&leaving);
    return print;
}

}  // namespace reports
