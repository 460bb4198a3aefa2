// vdrtool backup CARPETA [--keep N] and vdrtool restore ARCHIVO.zip: a
// company's snapshot in one archive, and its restoration in one step.
#include <iostream>

#include "command.h"
#include "data/interaction.h"
#include "dbf/workspace.h"
#include "tool_session.h"
#include "transfer/backup.h"
#include "xbase/codepage.h"
#include "xbase/runtime.h"

namespace {

std::string companyCode(const std::string& given) {
    std::string code = given.empty() ? "00001" : given;
    if (code.size() < 5 && code.find_first_not_of("0123456789") == std::string::npos)
        code = std::string(5 - code.size(), '0') + code;
    return code;
}

void summary(const transfer::Manifest& m) {
    for (const transfer::ArchivedFile& f : m.files) {
        std::cout << "  " << f.name << " (" << f.size << " bytes";
        if (f.records >= 0) std::cout << ", " << f.records << " registros";
        std::cout << ")\n";
    }
}

int runBackup(const vdrtool::Args& given) {
    vdrtool::Args args = given;
    const std::string company = companyCode(vdrtool::takeCompanyOption(args));
    transfer::BackupOptions o;
    std::string folder;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--keep" || args[i] == "--conservar") {
            const std::string n = i + 1 < args.size() ? args[++i] : std::string();
            if (n.empty() || n.size() > 6 ||
                n.find_first_not_of("0123456789") != std::string::npos || std::stoi(n) < 1)
                return vdrtool::fail("«" + n + "» no es un número de copias válido (1 o más).");
            o.keep = std::stoi(n);
        } else if (folder.empty() && args[i].rfind("--", 0) != 0) {
            folder = args[i];
        } else {
            return vdrtool::fail("argumento no reconocido «" + args[i] + "».");
        }
    }
    if (folder.empty()) return vdrtool::fail("indique la carpeta de las copias.");
    try {
        data::UnattendedInteraction quiet;
        data::ScopedInteraction scoped(quiet);
        vdrtool::startCompanySession(company);
        o.companyCode = company;
        o.companyName = xb::cp1252ToUtf8(xb::getVar("G_EMPRESA").asString());
        const transfer::BackupResult r =
            transfer::backupCompany(xb::getVar("G_CAMINO").asString(), folder, o);
        std::cout << "Copia de la empresa " << company << " escrita en " << r.archive << ":\n";
        summary(r.manifest);
        for (const std::string& old : r.removed)
            std::cout << "Copia antigua borrada: " << old << "\n";
        return 0;
    } catch (const std::runtime_error& e) {
        return vdrtool::fail(e.what());
    }
}

int runRestore(const vdrtool::Args& given) {
    vdrtool::Args args = given;
    const std::string company = companyCode(vdrtool::takeCompanyOption(args));
    if (args.size() != 1 || args[0].rfind("--", 0) == 0)
        return vdrtool::fail("uso: vdrtool restore ARCHIVO.zip [--company CÓDIGO]");
    try {
        data::UnattendedInteraction quiet;
        data::ScopedInteraction scoped(quiet);
        vdrtool::startCompanySession(company);
        dbf::workspace().closeAll();
        const transfer::RestoreResult r =
            transfer::restoreCompany(xb::getVar("G_CAMINO").asString(), company, args[0]);
        std::cout << "Empresa " << company << " restaurada desde " << args[0] << " (copia del "
                  << r.manifest.date << ", versión " << r.manifest.version << "):\n";
        summary(r.manifest);
        return 0;
    } catch (const std::runtime_error& e) {
        std::cerr << "vdrtool: " << e.what() << "\n";
        return vdrtool::fail("no se ha restaurado nada; la empresa " + company +
                             " sigue como estaba.");
    }
}

}  // namespace

VDRTOOL_COMMAND("backup", "CARPETA [--keep N] [--company CÓDIGO]",
                "copia la empresa entera en CARPETA/<código>-<fecha>-<hora>.zip, conservando las "
                "N últimas",
                runBackup);
VDRTOOL_COMMAND("restore", "ARCHIVO.zip [--company CÓDIGO]",
                "restaura la empresa desde una copia, comprobada antes de sustituir nada",
                runRestore);
