#include <iostream>

#include "command.h"
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
    std::string file;
    bool csv = false;
    for (const std::string& a : args) {
        if (a == "--csv")
            csv = true;
        else if (file.empty())
            file = a;
        else
            return vdrtool::fail("uso: vdrtool dump FICHERO [--csv]");
    }
    if (file.empty()) return vdrtool::fail("uso: vdrtool dump FICHERO [--csv]");
    try {
        auto t = dbf::Table::open(file, {true, true});
        const char* sep = csv ? "," : " | ";
        std::cout << (csv ? "RECNO,BORRADO" : "RECNO | B");
        for (const dbf::Field& f : t->fields()) std::cout << sep << f.name;
        std::cout << (csv ? "\r\n" : "\n");
        uint32_t n = t->recCount();
        for (uint32_t r = 1; r <= n; ++r) {
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

VDRTOOL_COMMAND("dump", "FICHERO [--csv]",
                "lista los registros de una tabla (borrados marcados con *)", runDump);
