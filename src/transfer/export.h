// Tables of a company written out for other programs: CSV (UTF-8, a header
// row of field names, dates in the user's date format), xlsx, and the next visits
// of the contacts as an iCalendar file. Messages are UTF-8.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "data/catalogue.h"

namespace transfer {

// The catalogue row of a table as the commands name it ("prospectos",
// "vendedores", "productos", "planes", "respuestas", "contactos",
// "ofrecidos", "vendidos"); nullptr for any other name.
const data::TableDef* tableByName(const std::string& name);
// The names tableByName() knows, for messages.
std::string tableNames();

struct ExportOptions {
    char separator = ',';  // of a CSV file
    // A selection of prospects (codes as the user types them; "" for any):
    // the prospects themselves, or their contacts, products offered or sold.
    std::string salesperson;
    std::string prospect;
    // Told the records read and the table's records; false stops the export
    // before anything is written (std::runtime_error).
    std::function<bool(int done, int total)> progress;
};

// Whether the table's rows can be chosen by a selection of prospects.
bool selectsProspects(const data::TableDef& t);

// Writes the live records of the table `t` of the company `camino`
// (G_CAMINO), or those of the selected prospects, to `file`: CSV when its
// name ends in .csv (a header row of field names), an xlsx workbook of one
// sheet when in .xlsx (texts as texts, numbers as numbers, dates as real
// dates shown in the user's date format). Returns the number of rows
// written. Throws std::runtime_error (an unknown code in the selection, a
// table the selection does not apply to); a file half written is removed.
size_t exportTable(const std::string& camino, const data::TableDef& t, const std::string& file,
                   const ExportOptions& o);

struct AgendaOptions {
    std::string salesperson;  // "" for all
    int32_t from = 0;         // julian day; 0 for every date
};

// Writes the next visits of the contacts of the company `camino` (G_CAMINO)
// to `file` as iCalendar. Each visit's UID follows from the contact it
// belongs to, so that importing a newer file updates the events. Returns
// the number of events.
size_t exportAgenda(const std::string& camino, const std::string& file, const AgendaOptions& o);

}  // namespace transfer
