// vdrtool backup CARPETA [--all] [--keep N] and vdrtool restore ARCHIVO.zip
// [--into CARPETA]: a company's snapshot (or the whole installation's) in
// one archive, and its restoration in one step.
#include <filesystem>
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

// An installation's archive told company by company.
void installationSummary(const transfer::Manifest& m) {
    size_t shared = m.files.size();
    for (const transfer::Manifest::Company& c : m.companies) {
        size_t files = 0;
        int64_t records = 0;
        for (const transfer::ArchivedFile& f : m.files)
            if (f.name.rfind(c.folder + "/", 0) == 0) {
                ++files;
                if (f.records >= 0) records += f.records;
            }
        shared -= files;
        std::cout << "  empresa " << c.code << " " << c.name << " (" << c.folder << "): " << files
                  << " archivos, " << records << " registros\n";
    }
    std::cout << "  ficheros comunes de la instalación: " << shared << "\n";
}

int runBackup(const vdrtool::Args& given) {
    vdrtool::Args args = given;
    const std::string company = companyCode(vdrtool::takeCompanyOption(args));
    transfer::BackupOptions o;
    std::string folder;
    bool all = false;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--all" || args[i] == "--todo") {
            all = true;
        } else if (args[i] == "--keep" || args[i] == "--conservar") {
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
    if (all && args.size() != given.size())
        return vdrtool::fail("--all copia todas las empresas: no admite --company.");
    if (all) {
        try {
            const transfer::BackupResult r = transfer::backupInstallation(folder, o);
            std::cout << "Copia de toda la instalación escrita en " << r.archive << ":\n";
            installationSummary(r.manifest);
            for (const std::string& n : r.notes) std::cout << "Aviso: " << n << "\n";
            for (const std::string& old : r.removed)
                std::cout << "Copia antigua borrada: " << old << "\n";
            return 0;
        } catch (const std::runtime_error& e) {
            return vdrtool::fail(e.what());
        }
    }
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
    std::string into;
    for (size_t i = 0; i + 1 < args.size(); ++i)
        if (args[i] == "--into" || args[i] == "--en") {
            into = args[i + 1];
            args.erase(args.begin() + static_cast<long>(i),
                       args.begin() + static_cast<long>(i) + 2);
            break;
        }
    if (args.size() != 1 || args[0].rfind("--", 0) == 0)
        return vdrtool::fail(
            "uso: vdrtool restore ARCHIVO.zip [--company CÓDIGO] [--into CARPETA]");
    enum { Unknown, Company, Installation } kind = Unknown;
    try {
        const bool installation = transfer::readManifest(args[0]).installation;
        kind = installation ? Installation : Company;
        if (installation) {
            const std::string target =
                into.empty() ? std::filesystem::current_path().string() : into;
            const transfer::RestoreResult r = transfer::restoreInstallation(target, args[0]);
            std::cout << "Instalación restaurada en " << target << " desde " << args[0]
                      << " (copia del " << r.manifest.date << ", versión " << r.manifest.version
                      << "):\n";
            installationSummary(r.manifest);
            return 0;
        }
        if (!into.empty())
            throw std::runtime_error("la copia " + args[0] +
                                     " es de una empresa; --into sólo sirve para las copias de "
                                     "toda la instalación");
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
        return vdrtool::fail(
            kind == Installation
                ? "no se ha restaurado nada; " +
                      (into.empty() ? std::string("la instalación") : "la carpeta " + into) +
                      " sigue como estaba."
            : kind == Company
                ? "no se ha restaurado nada; la empresa " + company + " sigue como estaba."
                : "no se ha restaurado nada.");
    }
}

}  // namespace

VDRTOOL_COMMAND("backup", "CARPETA [--keep N] [--company CÓDIGO | --all]",
                "copia la empresa entera en CARPETA/<código>-<fecha>-<hora>.zip (con --all, toda "
                "la instalación en CARPETA/instalacion-<fecha>-<hora>.zip), conservando las N "
                "últimas",
                runBackup);
VDRTOOL_COMMAND("restore", "ARCHIVO.zip [--company CÓDIGO] [--into CARPETA]",
                "restaura la empresa, o toda la instalación (aquí o en una carpeta vacía con "
                "--into), desde una copia comprobada antes de sustituir nada",
                runRestore);
