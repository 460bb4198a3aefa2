#include <iostream>

#include "command.h"
#include "dbf/order_tools.h"
#include "dbf/table.h"

namespace {
int runCheck(const vdrtool::Args& args) {
    if (args.empty()) return vdrtool::fail("uso: vdrtool check FICHERO [BOLSA.cdx...]");
    try {
        std::vector<std::string> faults;
        std::string path;
        uint32_t count = 0;
        {
            // Read-only: checking must not repair what it reports.
            auto t = dbf::Table::open(args[0], {true, true});
            faults = t->check();
            path = t->path();
            count = t->recCount();
        }
        std::vector<std::string> bags(args.begin() + 1, args.end());
        if (!bags.empty()) {
            std::vector<std::string> more = dbf::checkBags(path, bags);
            faults.insert(faults.end(), more.begin(), more.end());
        }
        if (faults.empty()) {
            std::cout << path << ": correcta (" << count << " registros)\n";
            return 0;
        }
        std::cout << path << ": " << faults.size() << (faults.size() == 1 ? " error" : " errores")
                  << "\n";
        for (const std::string& f : faults) std::cout << "  " << f << "\n";
        return 1;
    } catch (const dbf::DbfError& e) {
        return vdrtool::fail(e.what());
    }
}
}  // namespace

VDRTOOL_COMMAND("check", "FICHERO [BOLSA.cdx...]",
                "comprueba la tabla (cabecera y tamaño, marcas, campos, memos) y sus índices; sale "
                "con error si hay "
                "fallos",
                runCheck);
