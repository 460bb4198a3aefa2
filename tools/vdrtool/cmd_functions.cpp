// vdrtool functions: lists every name that menus and scripts can call in the
// program, one a line, so that a menu table or a script can be checked
// against it (`vdrtool functions | grep -qx NAME`).
#include <iostream>

#include "catalogue.h"
#include "command.h"
#include "xbase/function_names.h"

namespace {
int runFunctions(const vdrtool::Args& args) {
    if (!args.empty()) return vdrtool::fail("uso: vdrtool functions");
    vdrtool::loadProgramCatalogue();
    for (const std::string& name : xb::functionNames()) std::cout << name << "\n";
    return 0;
}
}  // namespace

VDRTOOL_COMMAND("functions", "", "lista las funciones que los menús y los guiones pueden llamar",
                runFunctions);
