#include <cstdio>
#include <iostream>

#include "command.h"
#include "dbf/order_tools.h"
#include "dbf/paths.h"
#include "dbf/report.h"
#include "dbf/table.h"

namespace {
int runInfo(const vdrtool::Args& args) {
    if (args.empty()) return vdrtool::fail("uso: vdrtool info FICHERO [BOLSA.cdx...]");
    try {
        auto t = dbf::Table::open(args[0], {true, true});
        dbf::describeTable(*t, std::cout);
        std::vector<std::string> bags(args.begin() + 1, args.end());
        // The bag of the table's own name, when there is one, is shown too.
        if (auto own = dbf::findExisting(dbf::withExtension(t->path(), ".cdx"));
            own && bags.empty())
            bags.push_back(*own);
        for (const std::string& bag : bags) {
            std::vector<dbf::TagSummary> tags = dbf::describeBag(bag, t->path());
            std::cout << "Índices en " << dbf::resolvePath(bag) << ": " << tags.size() << "\n";
            for (const dbf::TagSummary& s : tags) {
                char head[64];
                std::snprintf(head, sizeof head, "  %2d  %-10s  %c %3d  %8llu claves  ", s.order,
                              s.name.c_str(), s.keyType, s.keyLength,
                              static_cast<unsigned long long>(s.keys));
                std::cout << head << s.keyExpr;
                if (!s.forExpr.empty()) std::cout << "  FOR " << s.forExpr;
                if (s.unique) std::cout << "  (única)";
                std::cout << "\n";
            }
        }
    } catch (const dbf::DbfError& e) {
        return vdrtool::fail(e.what());
    }
    return 0;
}
}  // namespace

VDRTOOL_COMMAND("info", "FICHERO [BOLSA.cdx...]",
                "versión, página de códigos, registros, estructura, memos e índices de una tabla",
                runInfo);
