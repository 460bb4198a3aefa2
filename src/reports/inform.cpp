#include "reports/inform.h"

#include <QApplication>
#include <QFileDialog>
#include <optional>

#include "data/helpers.h"
#include "data/interaction.h"
#include "data/paths.h"
#include "dbf/order.h"
#include "dbf/workspace.h"
#include "reports/printer.h"
#include "reports/progress.h"
#include "reports/store.h"
#include "ui/texteditor.h"
#include "xbase/abandon.h"
#include "xbase/codepage.h"
#include "xbase/compiler.h"
#include "xbase/date.h"
#include "xbase/ops.h"
#include "xbase/runtime.h"

namespace reports {

namespace {

bool gUnattended = false;

std::string trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && s[b] == ' ') ++b;
    while (e > b && s[e - 1] == ' ') --e;
    return std::string(s.substr(b, e - b));
}

std::string str(const xb::Value& v) {
    return v.isString() ? v.asString() : std::string();
}

void setPublic(const char* name, const xb::Value& v) {
    xb::createPublic(name, v);
    xb::assignVar(name, v);
}

xb::Value call(const char* fn, xb::ArgList args = {}) {
    return xb::callFunction(fn, std::move(args));
}

std::string dateText(const xb::Value& d) {
    return xb::evalText("DTOC(STOD(\"" + (d.isDate() ? call("DTOS", {d}).asString() : "") + "\"))")
        .asString();
}

xb::BinOp opOf(const std::string& op) {
    if (op == "==") return xb::BinOp::ExactEq;
    if (op == ">") return xb::BinOp::Gt;
    if (op == ">=") return xb::BinOp::Ge;
    if (op == "<") return xb::BinOp::Lt;
    if (op == "<=") return xb::BinOp::Le;
    if (op == "$") return xb::BinOp::In;
    if (op == "<>" || op == "!=" || op == "#") return xb::BinOp::Ne;
    return xb::BinOp::Eq;
}

// Text comparison of a field with a typed value: every operator but "==" and
// "$" looks at as many leading characters of the field as the value has.
bool textTest(const std::string& field, const std::string& op, const std::string& value) {
    if (op == "==") return field == value;
    if (op == "$") return !value.empty() && field.find(value) != std::string::npos;
    int c = xb::compareText(field, value, false);
    if (op == ">") return c > 0;
    if (op == ">=") return c >= 0;
    if (op == "<") return c < 0;
    if (op == "<=") return c <= 0;
    if (op == "<>" || op == "!=" || op == "#") return c != 0;
    return c == 0;
}

bool valueTest(const xb::Value& field, const std::string& op, const xb::Value& bound) {
    return xb::applyBinary(opOf(op), field, bound).asLogical();
}

// IMPFAC from the dialog. When the printout is given up (the user was told
// why), the report's table is put back as the dialog left it, unfiltered, in
// its order and on its record, and the answer is false.
bool printOrGoBack(const xb::Value& params, const std::string& body) {
    auto& ws = dbf::workspace();
    const int area = ws.current();
    dbf::WorkArea* wa = ws.selected();
    const int order = wa ? dbf::orders(*wa).orderNumber() : 0;
    const uint32_t recno = wa ? wa->recno() : 0;
    try {
        IMPFAC(params, body);
        return true;
    } catch (const xb::Abandon&) {
        // A cancelled run leaves its unfinished document: no file, no job.
        dropOpenDocument();
        ws.select(area);
        if (dbf::WorkArea* back = ws.area(area); back == wa && wa) {
            wa->clearFilter();
            dbf::Orders& o = dbf::orders(*wa);
            o.setOrder(order);
            o.clearScope();
            wa->goTo(recno);
        }
        return false;
    }
}

// The field filter is applied only with a field and both of its values: the
// caption and the filter ask the same question, so that a caption never
// names a filter that was not applied.
bool fieldFilterGiven(const std::string& field, const xb::Value& v1, const xb::Value& v2) {
    return !trim(field).empty() && !v1.isEmpty() && !v2.isEmpty();
}

}  // namespace

std::string bodyScriptName(const std::string& entry) {
    return trim(entry).substr(0, 6) + "c.rpo";
}

void setUnattendedReports(bool on) {
    gUnattended = on;
}
bool unattendedReports() {
    return gUnattended;
}

void INFORM1(const std::string& entry) {
    for (const char* n :
         {"NROW", "NCOL", "NLINEAS", "NCOLUMS", "NROWSTEP", "NCOLSTEP", "NROWPIE", "NCONTLIN"})
        setPublic(n, xb::Value::integer(0));
    setPublic("PAGE", xb::Value::integer(1));
    setPublic("OPRN", xb::Value());
    setPublic("CCUERPO", xb::Value::str(bodyScriptName(entry)));
    xb::Value prev;
    if (!xb::getVar("MPREVW", prev)) setPublic("MPREVW", xb::Value::logical(true));
    // An edited script takes effect at once: drop the cached lines of both,
    // and of every script _FORM keeps cached (the row script, say).
    std::vector<std::string> keys{scriptCacheVariable(entry),
                                  scriptCacheVariable(bodyScriptName(entry))};
    xb::Value form;
    if (xb::getVar("_FORM", form) && form.isArray())
        for (const xb::Value& e : form.arrayPtr()->items)
            if (e.isString()) keys.push_back("V" + xb::upper1252(trim(e.asString())));
    for (const std::string& key : keys)
        if (key.size() > 1 && xb::varExists(key)) xb::releaseVar(key);
    call("EJECUTAR", {xb::Value::str(entry)});
}

xb::Value ACTLZPARAM(const xb::Value& from, const xb::Value& to, const std::string& field,
                     const std::string& op1, const xb::Value& v1, const std::string& op2,
                     const xb::Value& v2, const xb::Value& d1, const xb::Value& d2, int dest) {
    xb::Value vec = xb::Value::newArray();
    auto& it = vec.arrayPtr()->items;
    it = {from,
          to,
          xb::Value::str(field),
          xb::Value::str(op1),
          v1,
          xb::Value::str(op2),
          v2,
          d1,
          d2,
          xb::Value::str(dest == 1   ? "P"
                         : dest == 2 ? "I"
                                     : "D")};
    setPublic("CCAMPFILT", xb::Value::str(field));
    setPublic("CFILTINF1", v1);
    setPublic("CFILTINF2", v2);
    std::string caption;
    if (fieldFilterGiven(field, v1, v2)) {
        char type = field.empty() ? 'U' : xb::evalText(field).type();
        auto shown = [&](const xb::Value& v) {
            if (type == 'D') return dateText(v);
            if (type == 'N') return trim(v.isNum() ? v.toText() : str(v));
            return str(v);
        };
        std::string second = type == 'L' ? shown(v1) : shown(v2);
        caption = "Filtro: Desde " + trim(field + op1 + shown(v1)) + " Hasta " +
                  trim(field + op2 + second);
    }
    if (d1.isDate() && d2.isDate() && d1.asDate() && d2.asDate())
        caption += " - Per\xedodo del " + dateText(d1) + "  al  " + dateText(d2);
    setPublic("CTITFILTRO", xb::Value::str(caption));
    return vec;
}

bool IMPFAC(const xb::Value& params, const std::string& body) {
    xb::Procedure proc("IMPFAC");
    auto& ws = dbf::workspace();
    dbf::WorkArea* wa = ws.selected();
    auto p = [&](size_t i) {
        return params.isArray() && params.arrayPtr()->items.size() > i ? params.arrayPtr()->items[i]
                                                                       : xb::Value();
    };
    std::string from = trim(str(p(0))), to = trim(str(p(1))), field = trim(str(p(2)));
    std::string op1 = trim(str(p(3))), op2 = trim(str(p(5)));
    xb::Value v1 = p(4), v2 = p(6);
    xb::createPrivate("CCOND1", xb::Value::str(".T."));
    xb::createPrivate("CCOND2", xb::Value::str(".T."));
    xb::createPrivate("DFECHA1", v1.isDate() ? v1 : xb::Value::date(0));
    xb::createPrivate("DFECHA2", v2.isDate() ? v2 : xb::Value::date(0));
    xb::createPrivate("COPER1", xb::Value::str(op1));
    xb::createPrivate("COPER2", xb::Value::str(op2));
    xb::createPrivate("MBOOL", xb::Value::str(".and."));
    xb::createPrivate("CTIPLOG1", xb::Value::str(".F."));
    xb::createPrivate("CTIPLOG2", xb::Value::str(".F."));
    if (wa) {
        wa->goTop();
        // The range is a scope of the chosen order: its keys are read from
        // the tag, and a key that begins with the end value is inside.
        if (!from.empty() && !to.empty()) {
            call("ORDSCOPE", {xb::Value::integer(0), xb::Value::str(from)});
            call("ORDSCOPE", {xb::Value::integer(1), xb::Value::str(to)});
            std::string key = trim(call("ORDKEY").asString());
            xb::assignVar("CCOND1", xb::Value::str(key + ">=\"" + from + "\".and." + key + "<=\"" +
                                                   to + "\""));
            wa->goTop();
        }
        if (fieldFilterGiven(field, v1, v2)) {
            xb::Expr fieldExpr = xb::compile(field);
            char type = fieldExpr.eval().type();
            std::function<bool()> test;
            if (type == 'N') {
                double a = v1.isNum() ? v1.asNumber() : std::atof(trim(str(v1)).c_str());
                double b = v2.isNum() ? v2.asNumber() : std::atof(trim(str(v2)).c_str());
                test = [=] {
                    xb::Value f = fieldExpr.eval();
                    return valueTest(f, op1, xb::Value::num(a)) &&
                           valueTest(f, op2, xb::Value::num(b));
                };
            } else if (type == 'D') {
                test = [=] {
                    xb::Value f = fieldExpr.eval();
                    return valueTest(f, op1, v1) && valueTest(f, op2, v2);
                };
            } else if (type == 'L') {
                std::string t = xb::upper1252(trim(str(v1)));
                bool bound = t == "T" || t == ".T.";
                xb::assignVar("CTIPLOG1", xb::Value::str(bound ? ".T." : ".F."));
                xb::assignVar("CTIPLOG2", xb::Value::str(bound ? ".T." : ".F."));
                test = [=] {
                    xb::Value f = fieldExpr.eval();
                    return valueTest(f, op1, xb::Value::logical(bound)) &&
                           valueTest(f, op2, xb::Value::logical(bound));
                };
            } else {
                std::string a = trim(str(v1)), b = trim(str(v2));
                if (op1 == "$" || op2 == "$") {
                    test = [=] {
                        std::string f = xb::upper1252(fieldExpr.eval().asString());
                        return op1 == "$" ? textTest(f, "$", a) : textTest(a, op1, f);
                    };
                } else {
                    test = [=] {
                        std::string f = xb::upper1252(fieldExpr.eval().asString());
                        return textTest(f, op1, a) && textTest(f, op2, b);
                    };
                }
            }
            std::string shown = field + " " + op1 + " " + v1.toText() + " .and. " + field + " " +
                                op2 + " " + v2.toText();
            xb::assignVar("CCOND2", xb::Value::str(shown));
            wa->setFilter(shown, test);
            wa->goTop();
            if (wa->eof()) {
                data::CGBELL();
                data::alertDialog("Condici\xf3n no se cumple", "Atenci\xf3n.....", {"&Aceptar"});
                wa->clearFilter();
                wa->goTop();
                return false;
            }
        }
    }
    // From the program's windows the run shows its progress, with "Cancelar".
    std::optional<RunProgress> progress;
    if (!gUnattended && qobject_cast<QApplication*>(QCoreApplication::instance()))
        progress.emplace();
    call("EJECUTAR", {xb::Value::str(body)});
    return true;
}

void registerInformFunctions() {
    xb::registerFunction("INFORM1", [](xb::Args& a) {
        INFORM1(str(a[0]));
        return xb::Value();
    });
    xb::registerFunction("PANTAINF1", [](xb::Args& a) {
        xb::Procedure proc("PANTAINF1");
        xb::createPrivate("DNOMI1", xb::Value::date(0));
        xb::createPrivate("DNOMI2", xb::Value::date(0));
        xb::createPrivate("DFECHDESDE", xb::Value::date(0));
        auto& ws = dbf::workspace();
        if (a[14].isString() && !trim(a[14].asString()).empty()) ws.select(trim(a[14].asString()));
        struct CloseAll {
            ~CloseAll() { dbf::workspace().closeAll(); }
        } closeAll;
        xb::Value body;
        xb::getVar("CCUERPO", body);
        if (!gUnattended) {
            xb::Value params;
            runImpres1(a, params, [&](const xb::Value& p) { return printOrGoBack(p, str(body)); });
            return xb::Value();
        }
        // The first order offered, as the dialog preselects it.
        xb::Value tags = a[11];
        xb::Value first = tags.isArray() && !tags.arrayPtr()->items.empty()
                              ? tags.arrayPtr()->items[0]
                              : xb::Value::integer(1);
        if (ws.selected()) call("ORDSETFOCUS", {first});
        setPublic("MPREVW", xb::Value::logical(true));
        xb::Value params =
            ACTLZPARAM(xb::Value::str(""), xb::Value::str(""), "", "=", xb::Value::str(""), "=",
                       xb::Value::str(""), xb::Value::date(0), xb::Value::date(0), 1);
        IMPFAC(params, str(body));
        return xb::Value();
    });
    xb::registerFunction("ACTLZPARAM", [](xb::Args& a) {
        return ACTLZPARAM(a[0], a[1], str(a[2]), trim(str(a[3])), a[4], trim(str(a[5])), a[6], a[7],
                          a[8], static_cast<int>(a[9].asNumber()));
    });
    xb::registerFunction("IMPFAC", [](xb::Args& a) {
        IMPFAC(a[0], str(a[1]));
        return xb::Value();
    });
    xb::registerFunction("CNTCOPIAS", [](xb::Args& a) {
        int n = static_cast<int>(a[2].asNumber());
        for (int i = 0; i < n; ++i) IMPFAC(a[0], str(a[1]));
        return xb::Value();
    });
    xb::registerFunction("PONEINDEX", [](xb::Args& a) {
        // The combo's position: a number here, as unattended callers pass it.
        int pos = a[1].isNum() ? static_cast<int>(a[1].asNumber()) : 1;
        xb::Value tags = a[2];
        xb::Value order =
            tags.isArray() && static_cast<int>(tags.arrayPtr()->items.size()) >= pos && pos > 0
                ? tags.arrayPtr()->items[pos - 1]
                : xb::Value::integer(pos);
        call("ORDSETFOCUS", {order});
        call("DBGOTOP");
        return xb::Value();
    });
    xb::registerFunction("ACTUACDATO", [](xb::Args& a) {
        xb::Value tag = a[3].isNum() ? a[3] : (a[1].isNum() ? a[1] : xb::Value::integer(1));
        std::string keyText = call("ORDKEY", {tag}).asString();
        xb::Value key = keyText.empty() ? xb::Value::str("") : xb::evalText(keyText);
        // The display text: words at single blanks, runs of blanks dropped.
        std::string k = key.toText(), shown;
        size_t i = 0;
        while (i < k.size()) {
            size_t e = k.find(' ', i);
            if (e == std::string::npos) {
                shown += k.substr(i);
                break;
            }
            if (e > i) shown += k.substr(i, e - i) + " ";
            i = e + 1;
        }
        if (a.isRef(0)) a.setRef(0, key);
        if (a.isRef(2)) a.setRef(2, xb::Value::str(str(a[2]) + shown));
        return key;
    });
    xb::registerFunction("ULTIMNOMI", [](xb::Args& a) {
        xb::assignVar("DFECHDESDE", xb::Value::date(0));
        if (a.isRef(0) && !a[0].isDate()) a.setRef(0, xb::Value::date(0));
        return xb::Value();
    });
    xb::registerFunction("FULLFECNOM", [](xb::Args&) { return xb::Value(); });
    xb::registerFunction("EDITRPO", [](xb::Args&) {
        QString folder = QString::fromStdString(data::hostPath(kLooseFolder));
        // The program's own file dialog matches the patterns whatever the
        // case, so the upper-case names of older installations show too.
        QString file = QFileDialog::getOpenFileName(
            nullptr, QStringLiteral("Seleccione un Informe"), folder,
            QStringLiteral("Informe (*.rpo);;Adicional usuario (*.rpu)"));
        if (file.isEmpty()) return xb::Value();
        // A text editor, without waiting for it.
        ui::openTextEditor(file, QApplication::activeWindow());
        return xb::Value();
    });
}

}  // namespace reports
