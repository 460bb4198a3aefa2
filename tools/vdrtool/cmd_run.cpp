// vdrtool run SCRIPT [--company CODE]: runs a script inside an installation
// with console output on, with the program's whole function set and no
// display, so that scripts can be tried and scheduled from the command line.
#include <QApplication>
#include <cstdlib>
#include <iostream>

#include "app/functions.h"
#include "app/script.h"
#include "command.h"
#include "data/interaction.h"
#include "dbf/workspace.h"
#include "tool_session.h"
#include "xbase/codepage.h"
#include "xbase/runtime.h"

namespace vdrtool {

// A Qt application without a display, for commands that draw or print.
QApplication& headlessApplication() {
    static int argc = 1;
    static char arg0[] = "vdrtool";
    static char* argv[] = {arg0, nullptr};
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

}  // namespace vdrtool

namespace {

int runScript(const vdrtool::Args& given) {
    vdrtool::Args args = given;
    std::string company = vdrtool::takeCompanyOption(args);
    if (args.size() != 1 || args[0].rfind("--", 0) == 0)
        return vdrtool::fail("uso: vdrtool run GUIÓN [--company CÓDIGO]");
    vdrtool::headlessApplication();
    data::UnattendedInteraction quiet;
    data::ScopedInteraction scoped(quiet);
    vdrtool::startCompanySession(company);
    app::registerProgramFunctions();
    app::scriptOutput().console = true;
    try {
        app::EJECUTAR(xb::utf8ToCp1252(args[0]));
    } catch (const xb::Break& b) {
        dbf::workspace().closeAll();
        return vdrtool::fail(xb::cp1252ToUtf8(b.error.message()));
    }
    dbf::workspace().closeAll();
    return 0;
}

}  // namespace

VDRTOOL_COMMAND("run", "GUIÓN [--company CÓDIGO]",
                "ejecuta un guión con la salida por consola, sin pantalla", runScript);
