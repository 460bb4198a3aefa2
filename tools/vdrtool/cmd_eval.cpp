// vdrtool eval 'EXPRESIÓN': evaluates an expression of the program's language
// and prints its value and its type letter, so that keys, filters, menu
// actions and script lines can be tried from the command line with every
// function the program offers.
#include <iostream>

#include "catalogue.h"
#include "command.h"
#include "xbase/codepage.h"
#include "xbase/compiler.h"
#include "xbase/runtime.h"

namespace {
int runEval(const vdrtool::Args& args) {
    if (args.size() != 1) return vdrtool::fail("uso: vdrtool eval 'EXPRESIÓN'");
    // The same functions as in the program, data-layer helpers included.
    vdrtool::loadProgramCatalogue();
    // Errors break at once; the message is printed here, once.
    xb::setErrorHandler([](xb::Error&) { return xb::HandlerAnswer{}; });
    try {
        xb::Value v = xb::evalText(xb::utf8ToCp1252(args[0]));
        std::cout << xb::cp1252ToUtf8(v.toText()) << "\t" << v.type() << "\n";
        return 0;
    } catch (const xb::Break& b) {
        return vdrtool::fail(xb::cp1252ToUtf8(b.error.message()));
    }
}
}  // namespace

VDRTOOL_COMMAND("eval", "'EXPRESIÓN'", "evalúa una expresión y muestra su valor y su tipo",
                runEval);
