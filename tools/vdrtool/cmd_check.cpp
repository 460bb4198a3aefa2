#include <iostream>

#include "command.h"
#include "dbf/table.h"

namespace {
int runCheck(const vdrtool::Args& args) {
    if (args.size() != 1) return vdrtool::fail("uso: vdrtool check FICHERO");
    try {
        // Read-only: checking must not repair what it reports.
        auto t = dbf::Table::open(args[0], {true, true});
        std::vector<std::string> faults = t->check();
        if (faults.empty()) {
            std::cout << t->path() << ": correcta (" << t->recCount() << " registros)\n";
            return 0;
        }
        std::cout << t->path() << ": " << faults.size()
                  << (faults.size() == 1 ? " error" : " errores") << "\n";
        for (const std::string& f : faults) std::cout << "  " << f << "\n";
        return 1;
    } catch (const dbf::DbfError& e) {
        return vdrtool::fail(e.what());
    }
}
}  // namespace

VDRTOOL_COMMAND("check", "FICHERO",
                "comprueba la tabla: cabecera y tamaño, marcas, contenido de los campos y memos "
                "(sale con error si "
                "hay fallos)",
                runCheck);
