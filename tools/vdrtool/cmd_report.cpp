// vdrtool report NAME --pdf FILE [--company CODE]: runs a report unattended
// with its default choices (first order, no range, no filter) into a PDF
// file, for scheduled jobs and for tests; no display is needed.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <filesystem>
#include <iostream>

#include "app/functions.h"
#include "catalogue.h"
#include "command.h"
#include "data/interaction.h"
#include "data/paths.h"
#include "data/session.h"
#include "dbf/workspace.h"
#include "print/document.h"
#include "reports/inform.h"
#include "reports/store.h"
#include "tool_session.h"
#include "xbase/codepage.h"
#include "xbase/runtime.h"

namespace {

namespace fs = std::filesystem;

int runReport(const vdrtool::Args& given) {
    vdrtool::Args args = given;
    std::string company = vdrtool::takeCompanyOption(args);
    std::string name, pdf;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--pdf" && i + 1 < args.size())
            pdf = args[++i];
        else if (name.empty() && args[i].rfind("--", 0) != 0)
            name = args[i];
        else
            return vdrtool::fail("argumento no reconocido «" + args[i] + "».");
    }
    if (name.empty() || pdf.empty())
        return vdrtool::fail("uso: vdrtool report INFORME --pdf FICHERO [--company CÓDIGO]");
    vdrtool::loadProgramCatalogue();
    QString target = QFileInfo(QString::fromStdString(pdf)).absoluteFilePath();
    QFile::remove(target);
    data::UnattendedInteraction quiet;
    data::ScopedInteraction scoped(quiet);
    vdrtool::startCompanySession(company);
    app::registerProgramFunctions();
    print::setUnattendedPdf(target);
    reports::setUnattendedReports(true);
    try {
        reports::INFORM1(xb::utf8ToCp1252(name));
    } catch (const xb::Break& b) {
        dbf::workspace().closeAll();
        return vdrtool::fail(xb::cp1252ToUtf8(b.error.message()));
    }
    dbf::workspace().closeAll();
    if (!QFileInfo::exists(target))
        return vdrtool::fail("el informe " + name + " no imprimió ningún documento.");
    std::cout << target.toStdString() << "\n";
    return 0;
}

// Each file of install/scripts goes into the store through the folder of
// loose scripts, as an operator would include it.
void installScripts(const std::string& sources) {
    data::UnattendedInteraction quiet;
    data::ScopedInteraction scoped(quiet);
    data::HACEPRUEBA();
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(sources + "/scripts"))
        if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const auto& f : files) {
        std::string plain = reports::plainScriptName(f.filename().string()).value_or("");
        if (plain.empty()) continue;
        fs::path loose = data::hostPath(reports::loosePath(plain));
        if (fs::exists(loose)) continue;  // never over a script the user has
        fs::copy_file(f, loose);
        if (!reports::INCLUIR(plain)) throw std::runtime_error("no se pudo incluir " + plain);
    }
}

const bool installerSet = [] {
    vdrtool::scriptInstaller = installScripts;
    return true;
}();

}  // namespace

VDRTOOL_COMMAND("report", "INFORME --pdf FICHERO [--company CÓDIGO]",
                "emite un informe con sus opciones por omisión en un PDF, sin pantalla", runReport);
