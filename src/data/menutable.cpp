#include "data/menutable.h"

#include <fstream>
#include <vector>

#include "data/bags.h"
#include "data/paths.h"
#include "data/structures.h"
#include "dbf/table.h"
#include "dbf/workspace.h"
#include "xbase/codepage.h"

namespace data {

namespace {

struct Column {
    const char* name;
    int width;
};
constexpr Column kColumns[] = {{"POSITION", 4}, {"TYPE", 1},      {"TEXT", 60},
                               {"MSG", 80},     {"RESOURCE", 12}, {"ACTION", 120}};

}  // namespace

bool buildMenuTable(const std::string& sourcePath, const std::string& table,
                    const std::string& bag) {
    if (fileExists(table)) return false;
    std::ifstream in(sourcePath, std::ios::binary);
    if (!in) throw StructureError("no se puede leer " + sourcePath);
    std::vector<std::vector<std::string>> rows;
    std::string line;
    for (int lineNo = 1; std::getline(in, line); ++lineNo) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> cells;
        for (size_t i = 0;;) {
            size_t j = line.find('|', i);
            cells.push_back(xb::utf8ToCp1252(line.substr(i, j == std::string::npos ? j : j - i)));
            if (j == std::string::npos) break;
            i = j + 1;
        }
        auto fail = [&](const std::string& why) {
            throw StructureError(sourcePath + ", línea " + std::to_string(lineNo) + ": " + why);
        };
        if (cells.size() < 2 || cells.size() > 6)
            fail("se esperan de 2 a 6 columnas separadas por «|»");
        cells.resize(6);
        for (size_t c = 0; c < 6; ++c)
            if (cells[c].size() > static_cast<size_t>(kColumns[c].width))
                fail(std::string("la columna ") + kColumns[c].name + " pasa de " +
                     std::to_string(kColumns[c].width) + " caracteres");
        if (cells[1].size() != 1 || cells[1][0] < '0' || cells[1][0] > '3')
            fail("el tipo es 0, 1, 2 o 3");
        rows.push_back(std::move(cells));
    }
    std::vector<dbf::FieldDef> defs;
    for (const auto& c : kColumns) defs.push_back({c.name, 'C', c.width, 0});
    std::string host = hostPath(table);
    dbf::Table::create(host, defs);
    try {
        auto t = dbf::Table::open(host, {false, false});
        for (const auto& r : rows) {
            t->appendBlank();
            for (int c = 0; c < 6; ++c) t->putString(c, r[c]);
        }
        t->commit();
    } catch (...) {
        removeFile(host);
        throw;
    }
    dbf::Workspace& ws = dbf::workspace();
    int prev = ws.current();
    int n = ws.open(host, "MENU", {false, false}, 0);
    struct CloseIt {
        int n, prev;
        ~CloseIt() {
            dbf::workspace().close(n);
            dbf::workspace().select(prev);
        }
    } closeIt{n, prev};
    createTag(*ws.area(n), bag, "POSITION", "_Field->Position", "", false);
    return true;
}

}  // namespace data
