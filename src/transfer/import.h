// Rows brought in from a CSV file (UTF-8 or Windows-1252, comma or
// semicolon, quoted fields; all detected) or from the first sheet of a
// workbook (xlsx, ods) into prospects, salespeople,
// products, plans or responses. Every row is checked as the cards check it
// and written as the cards write it (the table's lock, its tags), one row at
// a time, so that other workstations keep working. Messages are UTF-8.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "data/catalogue.h"

namespace transfer {

struct ImportOptions {
    bool dryRun = false;        // check only
    bool allOrNothing = false;  // one rejected row: nothing written
    // The field of each column of the file ("" leaves the column out), as
    // the user matched them; empty: by the headers, every one known.
    std::vector<std::string> columns;
    // Told the rows written and the rows to write; false stops the import
    // after the last whole row.
    std::function<bool(int done, int total)> progress;
};

struct RejectedRow {
    int line = 0;  // of the file, 1 = the header
    std::string reason;
};

struct ImportResult {
    std::string format;               // "CSV", "xlsx" or "ods"
    std::string encoding;             // "UTF-8" or "Windows-1252"
    char separator = 0;               // of a CSV
    std::vector<std::string> fields;  // the table field of each column ("" left out)
    int rows = 0;                     // data rows read
    int accepted = 0;
    int written = 0;
    std::vector<RejectedRow> rejected;
    bool cancelled = false;
};

// What the import of a file would start from: its first rows and how its
// columns match the table's fields, for the user to see and correct.
struct ImportPreview {
    std::string format, encoding;
    char separator = 0;
    int rows = 0;                                 // data rows
    std::vector<std::string> headers;             // as in the file
    std::vector<std::string> matched;             // field of each column, "" for none
    std::vector<std::string> fields;              // fields a column may go to
    std::vector<std::vector<std::string>> first;  // the first data rows
    std::vector<int> lines;                       // where each starts (line or sheet row)
    std::string codeField;                        // the one every row needs
};

// The tables import knows ("prospectos", "vendedores", "productos",
// "planes", "respuestas"); nullptr for others.
const data::TableDef* importTableByName(const std::string& name);

// Reads the header and `rows` data rows of `file` for the table `t`.
// Throws std::runtime_error when the file cannot be read.
ImportPreview previewImport(const std::string& camino, const data::TableDef& t,
                            const std::string& file, int rows);

// Imports `file` into the table `t` of the company `camino` (G_CAMINO); the
// session must be started. Throws std::runtime_error when the file as a whole
// cannot be used (unreadable, no header, an unknown or missing column, the
// table unavailable); rows with faults are listed in the result.
ImportResult importFile(const std::string& camino, const data::TableDef& t, const std::string& file,
                        const ImportOptions& o);

}  // namespace transfer
