// vdrtool import TABLA FICHERO [--dry-run] [--all-or-nothing]: rows of a
// CSV file or a workbook (xlsx, ods) checked as the cards check them and written as they write
// them; the rejected rows are listed on standard output.
#include <iostream>

#include "command.h"
#include "data/interaction.h"
#include "dbf/workspace.h"
#include "tool_session.h"
#include "transfer/import.h"
#include "xbase/runtime.h"

namespace {

int runImport(const vdrtool::Args& given) {
    vdrtool::Args args = given;
    const std::string company = vdrtool::takeCompanyOption(args);
    transfer::ImportOptions o;
    std::vector<std::string> plain;
    for (const std::string& a : args) {
        if (a == "--dry-run" || a == "--prueba")
            o.dryRun = true;
        else if (a == "--all-or-nothing" || a == "--todo-o-nada")
            o.allOrNothing = true;
        else if (a.rfind("--", 0) != 0)
            plain.push_back(a);
        else
            return vdrtool::fail("argumento no reconocido «" + a + "».");
    }
    if (plain.size() != 2)
        return vdrtool::fail(
            "uso: vdrtool import TABLA FICHERO.csv|.xlsx|.ods [--dry-run] [--all-or-nothing] "
            "[--company "
            "CÓDIGO]");
    const data::TableDef* t = transfer::importTableByName(plain[0]);
    if (!t)
        return vdrtool::fail("tabla «" + plain[0] +
                             "» no importable; use prospectos, vendedores, productos, planes o "
                             "respuestas.");
    try {
        data::UnattendedInteraction quiet;
        data::ScopedInteraction scoped(quiet);
        vdrtool::startCompanySession(company);
        const transfer::ImportResult r =
            transfer::importFile(xb::getVar("G_CAMINO").asString(), *t, plain[1], o);
        dbf::workspace().closeAll();
        // A CSV's rows are counted by its lines, a sheet's by its row numbers.
        const char* row = r.format == "CSV" ? "línea " : "fila ";
        for (const transfer::RejectedRow& b : r.rejected)
            std::cout << row << b.line << ": " << b.reason << "\n";
        std::cout << plain[1] << " ("
                  << (r.format == "CSV"
                          ? r.encoding + ", separador «" + std::string(1, r.separator) + "»"
                          : r.format)
                  << "): " << r.rows << " filas, " << r.accepted << " aceptadas, "
                  << r.rejected.size() << " rechazadas, " << r.written << " grabadas en "
                  << plain[0] << ".\n";
        if (o.allOrNothing && !r.rejected.empty() && r.written == 0 && !o.dryRun)
            std::cerr << "vdrtool: hay filas rechazadas; con --all-or-nothing no se ha grabado "
                         "ninguna.\n";
        return r.rejected.empty() ? 0 : 1;
    } catch (const std::runtime_error& e) {
        return vdrtool::fail(e.what());
    }
}

}  // namespace

VDRTOOL_COMMAND("import",
                "TABLA FICHERO.csv|.xlsx|.ods [--dry-run] [--all-or-nothing] [--company CÓDIGO]",
                "importa filas de un CSV o de la primera hoja de un libro comprobándolas como las "
                "fichas; lista las rechazadas",
                runImport);
