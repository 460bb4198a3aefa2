#include <iostream>
#include <optional>

#include "command.h"
#include "dbf/order_tools.h"
#include "dbf/report.h"
#include "dbf/table.h"

namespace {

std::string csvField(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string r = "\"";
    for (char c : s) {
        if (c == '"') r += '"';
        r += c;
    }
    return r + "\"";
}

// Text view: one line per record, fields separated by " | "; line breaks in
// memos shown as "\n" so that each record keeps to its line.
std::string plainField(const std::string& s) {
    std::string r;
    for (char c : s) {
        if (c == '\r')
            r += "\\r";
        else if (c == '\n')
            r += "\\n";
        else
            r += c;
    }
    return r;
}

int runDump(const vdrtool::Args& args) {
    const char* usage =
        "uso: vdrtool dump FICHERO [--csv] [--bag BOLSA.cdx --order ETIQUETA [--scope "
        "ARRIBA,ABAJO]]";
    std::string file, bag, order;
    std::optional<std::string> top, bottom;
    bool csv = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--csv") {
            csv = true;
        } else if ((a == "--bag" || a == "--order" || a == "--scope") && i + 1 < args.size()) {
            const std::string& v = args[++i];
            if (a == "--bag")
                bag = v;
            else if (a == "--order")
                order = v;
            else {
                size_t comma = v.find(',');
                top = v.substr(0, comma);
                bottom = comma == std::string::npos ? *top : v.substr(comma + 1);
            }
        } else if (file.empty() && a.rfind("--", 0) != 0) {
            file = a;
        } else {
            return vdrtool::fail(usage);
        }
    }
    if (file.empty() || bag.empty() != order.empty()) return vdrtool::fail(usage);
    try {
        auto t = dbf::Table::open(file, {true, true});
        const char* sep = csv ? "," : " | ";
        std::cout << (csv ? "RECNO,BORRADO" : "RECNO | B");
        for (const dbf::Field& f : t->fields()) std::cout << sep << f.name;
        std::cout << (csv ? "\r\n" : "\n");
        // In record order, or in the order of a tag (deleted records left out).
        std::vector<uint32_t> recs;
        if (!bag.empty()) {
            recs = dbf::orderedRecords(t->path(), bag, order, top, bottom);
        } else {
            for (uint32_t r = 1, n = t->recCount(); r <= n; ++r) recs.push_back(r);
        }
        for (uint32_t r : recs) {
            t->read(r);
            std::cout << r << sep << (t->deleted() ? "*" : (csv ? "" : " "));
            for (int i = 0; i < t->fieldCount(); ++i) {
                std::string v = dbf::toTerminal(*t, dbf::fieldText(*t, i));
                std::cout << sep << (csv ? csvField(v) : plainField(v));
            }
            std::cout << (csv ? "\r\n" : "\n");
        }
    } catch (const dbf::DbfError& e) {
        std::cout.flush();
        return vdrtool::fail(e.what());
    }
    return 0;
}
}  // namespace

VDRTOOL_COMMAND("dump", "FICHERO [--csv] [--bag B --order T [--scope A,Z]]",
                "lista los registros de una tabla (borrados marcados con *)", runDump);
