#include <iostream>

#include "command.h"

namespace {
int runVersion(const vdrtool::Args& args) {
    if (!args.empty()) return vdrtool::fail("«version» no admite argumentos.");
    std::cout << "vdrtool 0.1 (Control de Gestión Area Comercial Valdrosa)\n";
    return 0;
}
}  // namespace

VDRTOOL_COMMAND("version", "", "muestra la versión de la herramienta", runVersion);
