#include <iostream>

#include "command.h"
#include "dbf/report.h"
#include "dbf/table.h"

namespace {
int runInfo(const vdrtool::Args& args) {
    if (args.size() != 1) return vdrtool::fail("uso: vdrtool info FICHERO");
    try {
        auto t = dbf::Table::open(args[0], {true, true});
        dbf::describeTable(*t, std::cout);
    } catch (const dbf::DbfError& e) {
        return vdrtool::fail(e.what());
    }
    return 0;
}
}  // namespace

VDRTOOL_COMMAND("info", "FICHERO",
                "versión, página de códigos, registros, estructura y memos de una tabla", runInfo);
