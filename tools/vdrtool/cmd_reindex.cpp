// vdrtool reindex TABLA ÍNDICE...: rebuilds every tag of the bags from the
// table's records, one pass per tag (the table is opened exclusively).
#include <iostream>

#include "command.h"
#include "dbf/error.h"
#include "dbf/order_tools.h"
#include "xbase/codepage.h"
#include "xbase/error.h"
#include "xbase/runtime.h"

namespace {
int runReindex(const vdrtool::Args& args) {
    if (args.size() < 2) return vdrtool::fail("uso: vdrtool reindex TABLA ÍNDICE...");
    xb::setErrorHandler([](xb::Error&) { return xb::HandlerAnswer{}; });
    try {
        std::vector<std::string> bags(args.begin() + 1, args.end());
        int n = dbf::reindexBags(args[0], bags);
        std::cout << n << " etiquetas reconstruidas\n";
        return 0;
    } catch (const dbf::DbfError& e) {
        return vdrtool::fail(e.what());
    } catch (const xb::Break& b) {
        return vdrtool::fail(xb::cp1252ToUtf8(b.error.message()));
    }
}
}  // namespace

VDRTOOL_COMMAND("reindex", "TABLA ÍNDICE...",
                "reconstruye todas las etiquetas de los índices a partir de la tabla", runReindex);
