// vdrtool run SCRIPT [--company CODE]: runs a script inside an installation
// with console output on, with the program's whole function set and no
// display, so that scripts can be tried and scheduled from the command line.
#include <iostream>

#include "app/functions.h"
#include "app/script.h"
#include "catalogue.h"
#include "command.h"
#include "data/interaction.h"
#include "dbf/workspace.h"
#include "tool_session.h"
#include "xbase/codepage.h"
#include "xbase/runtime.h"

namespace {

int runScript(const vdrtool::Args& given) {
    vdrtool::Args args = given;
    std::string company = vdrtool::takeCompanyOption(args);
    if (args.size() != 1 || args[0].rfind("--", 0) == 0)
        return vdrtool::fail("uso: vdrtool run GUIÓN [--company CÓDIGO]");
    vdrtool::loadProgramCatalogue();
    data::UnattendedInteraction quiet;
    data::ScopedInteraction scoped(quiet);
    vdrtool::startCompanySession(company);
    app::registerProgramFunctions();
    app::scriptOutput().console = true;
    bool ran = false;
    try {
        ran = app::EJECUTAR(xb::utf8ToCp1252(args[0]));
    } catch (const xb::Break& b) {
        dbf::workspace().closeAll();
        return vdrtool::fail(xb::cp1252ToUtf8(b.error.message()));
    }
    dbf::workspace().closeAll();
    // A refused or unknown name: the reason is on standard error already.
    if (!ran) return vdrtool::fail("no se ejecutó el guión " + args[0] + ".");
    return 0;
}

}  // namespace

VDRTOOL_COMMAND("run", "GUIÓN [--company CÓDIGO]",
                "ejecuta un guión con la salida por consola, sin pantalla", runScript);
