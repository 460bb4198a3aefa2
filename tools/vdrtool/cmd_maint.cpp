// vdrtool maint DIR [--company EMP00001]: the general self-maintenance of one
// company, unattended: every table packed, rebuilt from its template and
// reindexed, each step printed. Meant for a time when no workstation uses the
// company; a table held by another user is reported and left as it was.
#include <filesystem>
#include <iostream>

#include "catalogue.h"
#include "command.h"
#include "data/catalogue.h"
#include "data/interaction.h"
#include "data/maintenance.h"
#include "data/paths.h"
#include "data/session.h"
#include "dbf/workspace.h"
#include "xbase/codepage.h"
#include "xbase/runtime.h"

namespace {

namespace fs = std::filesystem;

int runMaint(const vdrtool::Args& args) {
    std::string dir, company = "EMP00001";
    for (size_t i = 0; i < args.size(); ++i) {
        if ((args[i] == "--company" || args[i] == "--empresa") && i + 1 < args.size())
            company = args[++i];
        else if (dir.empty() && args[i].rfind("--", 0) != 0)
            dir = args[i];
        else
            return vdrtool::fail("argumento no reconocido «" + args[i] + "».");
    }
    if (dir.empty()) return vdrtool::fail("indique la carpeta de la instalación.");
    if (!fs::is_directory(dir)) return vdrtool::fail("no existe la carpeta " + dir + ".");
    fs::current_path(dir);
    while (!company.empty() && (company.back() == '\\' || company.back() == '/'))
        company.pop_back();
    if (company.empty() || !data::dirExists(company))
        return vdrtool::fail("no existe la carpeta de la empresa «" + company + "» en " + dir +
                             ".");

    // Every dialog prints its texts; questions are declined, so a table that
    // another user holds is skipped rather than waited for.
    data::UnattendedInteraction out(true);
    data::ScopedInteraction scoped(out);
    data::applySessionSettings();
    // Every module's functions, and with them the work each one must finish
    // before the tables are packed (a half-done prospect save, for one).
    vdrtool::loadProgramCatalogue();
    data::registerDataFunctions();
    data::createSessionVariables("VDRTOOL");
    int failures = 0;
    xb::setErrorHandler([&failures](xb::Error& e) {
        ++failures;
        std::cerr << "vdrtool: " << xb::cp1252ToUtf8(e.message()) << " (se omite)\n";
        xb::HandlerAnswer a;
        a.action = e.canSubstitute ? xb::ErrorAction::Substitute : xb::ErrorAction::Break;
        return a;
    });
    xb::assignVar("G_CAMINO", xb::Value::str(company + "\\"));
    data::NOMBBASES();

    std::cout << "Automantenimiento de " << company << "\n";
    int finished = data::finishInterruptedRebuilds();
    if (finished) std::cout << "  terminadas " << finished << " reconstrucciones interrumpidas\n";
    std::cout.flush();
    data::runGeneralMaintenance();
    dbf::workspace().closeAll();
    if (failures) {
        std::cerr << "vdrtool: el automantenimiento terminó con " << failures << " fallos.\n";
        return 1;
    }
    std::cout << "Automantenimiento terminado.\n";
    return 0;
}

}  // namespace

VDRTOOL_COMMAND("maint", "CARPETA [--company EMP00001]",
                "automantenimiento de una empresa: compacta, reconstruye y reindexa", runMaint);
