// Rows brought in from a CSV file (UTF-8 or Windows-1252, comma or
// semicolon, quoted fields; all detected) into prospects, salespeople,
// products, plans or responses. Every row is checked as the cards check it
// and written as the cards write it (the table's lock, its tags), one row at
// a time, so that other workstations keep working. Messages are UTF-8.
#pragma once

#include <string>
#include <vector>

#include "data/catalogue.h"

namespace transfer {

struct ImportOptions {
    bool dryRun = false;        // check only
    bool allOrNothing = false;  // one rejected row: nothing written
};

struct RejectedRow {
    int line = 0;  // of the file, 1 = the header
    std::string reason;
};

struct ImportResult {
    std::string encoding;  // "UTF-8" or "Windows-1252"
    char separator = ',';
    std::vector<std::string> fields;  // the table field of each column
    int rows = 0;                     // data rows read
    int accepted = 0;
    int written = 0;
    std::vector<RejectedRow> rejected;
};

// The tables import knows ("prospectos", "vendedores", "productos",
// "planes", "respuestas"); nullptr for others.
const data::TableDef* importTableByName(const std::string& name);

// Imports `file` into the table `t` of the company `camino` (G_CAMINO); the
// session must be started. Throws std::runtime_error when the file as a whole
// cannot be used (unreadable, no header, an unknown or missing column, the
// table unavailable); rows with faults are listed in the result.
ImportResult importCsv(const std::string& camino, const data::TableDef& t, const std::string& file,
                       const ImportOptions& o);

}  // namespace transfer
