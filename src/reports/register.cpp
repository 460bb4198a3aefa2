// The register of additional user reports (cgInfAd.Ini, alias INFORADIC):
// EMIINFAD picks one and runs its ".RPU" script; INCINFAD maintains the
// register in the editable grid.
#include "data/helpers.h"
#include "dbf/workspace.h"
#include "reports/reports.h"
#include "reports/store.h"
#include "ui/grid.h"
#include "xbase/codepage.h"
#include "xbase/runtime.h"

namespace reports {

namespace {

constexpr const char* kTitle = "Atenci\xf3n.....";

std::string trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && s[b] == ' ') ++b;
    while (e > b && s[e - 1] == ' ') --e;
    return std::string(s.substr(b, e - b));
}

std::string var(const char* name) {
    xb::Value v;
    return xb::getVar(name, v) && v.isString() ? v.asString() : std::string();
}

// Opens the register exclusively. When another workstation holds it, ABRIR
// has already asked whether to retry; nothing more is said here.
bool openRegister() {
    return data::ABRIR("INFORADIC", var("CGINFAD"), "E", {var("CGINFAX1")});
}

}  // namespace

void EMIINFAD() {
    if (!openRegister()) return;
    bool cancelled = false;
    xb::Value picked =
        ui::BROWSAUX1(xb::Value(), {"NomInf", "Descrip"}, {"Informe", "Descripci\xf3n"},
                      "Informe Adicional a emitir", 40, 0, 0, &cancelled);
    dbf::workspace().closeAll();
    if (cancelled || !picked.isString() || trim(picked.asString()).empty()) return;
    std::string name = xb::upper1252(trim(picked.asString()));
    std::string script = name + ".RPU";
    // The register names reports of the store: a script that is only a loose
    // file (a draft, or one extracted and never put back) is not emitted from
    // here. When it is stored, a loose copy of it is what runs (see
    // findScript), so an edited copy takes effect at once.
    bool found = false;
    if (plainScriptName(script)) {
        StoreIndex ix = readStoreIndex();
        for (const auto& e : ix.entries)
            if (e.name.compare(0, script.size(), script) == 0) {
                found = true;
                break;
            }
    }
    if (!found) {
        data::CGBELL();
        data::alertDialog("El Informe  \"" + name +
                              "\"  no est\xe1 inclu\xed"
                              "do en Manejador de Informes,\n"
                              "o hay diferencias entre el nombre inclu\xed"
                              "do en el Manejador\n"
                              "y el nombre inclu\xed"
                              "do en el Maestro de Informes.\n"
                              "Por favor verifique.",
                          kTitle, {"&Aceptar"});
        return;
    }
    xb::callFunction("EJECUTAR", {xb::Value::str(script)});
}

void INCINFAD() {
    if (!openRegister()) return;
    struct Close {
        ~Close() { data::CERRAR(std::string("INFORADIC")); }
    } close;
    ui::MIBROWSEG("Inclusi\xf3n de Informes en Maestro de Informes");
}

void registerRegisterFunctions() {
    xb::registerFunction("EMIINFAD", [](xb::Args&) {
        EMIINFAD();
        return xb::Value();
    });
    xb::registerFunction("INCINFAD", [](xb::Args&) {
        INCINFAD();
        return xb::Value();
    });
}

}  // namespace reports
