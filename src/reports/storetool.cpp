// The script store tool (MAKECGFTE): include, extract, empty the store, run
// a script, or choose a name from the store, in the dialog "Dlg_cgFuente".
#include "data/helpers.h"
#include "dbf/workspace.h"
#include "reports/reports.h"
#include "reports/store.h"
#include "toolkit/dialog.h"
#include "ui/grid.h"
#include "xbase/codepage.h"
#include "xbase/runtime.h"

namespace reports {

void MAKECGFTE() {
    xb::Value form = xb::Value::newArray();
    form.arrayPtr()->items.push_back(xb::Value::str("EXT"));
    xb::createPublic("_FORM");
    xb::assignVar("_FORM", form);
    dbf::workspace().closeAll();
    data::CGBELL();
    int b = data::alertDialog(
        "Utilice este proceso con precauci\xf3n y UNICAMENTE\n"
        "si est\xe1 familiarizado con la elaboraci\xf3n de reportes\n"
        "o procesos de programaci\xf3n\n\nDesea continuar ?",
        "Precauci\xf3n............", {"   &No   ", "   &Si   "});
    if (b != 2) return;

    std::string name(12, ' ');
    int choice = 0;  // nothing chosen at first
    tk::Dialog dlg(QStringLiteral("Dlg_cgFuente"));
    tk::EntryBinding e;
    e.get = [&] { return xb::Value::str(name); };
    e.set = [&](const xb::Value& v) { name = v.isString() ? v.asString() : std::string(); };
    e.picture = "@!";
    dlg.bindEntry(101, e);
    dlg.form().bindRadios(
        {102, 103, 104, 105, 106}, [&] { return choice; }, [&](int i) { choice = i; });
    tk::ButtonSpec ok;
    ok.caption = QStringLiteral("&Aceptar");
    ok.bitmaps = QStringLiteral("OK1|OK2");
    ok.action = [&] {
        dlg.form().commit();
        std::string n = name;
        while (!n.empty() && n.back() == ' ') n.pop_back();
        switch (choice) {
            case 1:
                INCLUIR(n);
                break;
            case 2:
                EXTRAER(n);
                break;
            case 3:
                VACIAR();
                break;
            case 4:
                xb::callFunction("EJECUTAR", {xb::Value::str(n)});
                break;
            case 5:
                if (data::ABRIR("CGFUENTE", kStoreTable, "C")) {
                    bool cancelled = false;
                    xb::Value v = ui::BROWSAUX1(xb::Value::str(name), {"Nombre"}, {"Nombre"},
                                                "Formato", -260, 0, 0, &cancelled);
                    if (!cancelled && v.isString()) name = v.asString();
                }
                break;
            default:
                break;
        }
        // The current table (the store, after a choice) is closed again.
        if (dbf::workspace().selected()) data::CERRAR();
        dlg.refresh();
        if (QWidget* w = dlg.control(101)) w->setFocus();
    };
    dlg.bindButton(400, ok);
    tk::ButtonSpec out;
    out.caption = QStringLiteral("&Salir");
    out.bitmaps = QStringLiteral("Exit1|Exit2");
    out.cancel = true;
    out.action = [&] { dlg.end(0); };
    dlg.bindButton(402, out);
    dlg.run();
}

void registerStoreToolFunctions() {
    xb::registerFunction("MAKECGFTE", [](xb::Args&) {
        MAKECGFTE();
        return xb::Value();
    });
}

}  // namespace reports
