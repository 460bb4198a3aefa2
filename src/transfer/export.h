// Tables of a company written out for other programs: CSV (UTF-8, a header
// row of field names, dates in the user's date format), xlsx, and the next visits
// of the contacts as an iCalendar file. Messages are UTF-8.
#pragma once

#include <cstdint>
#include <string>

#include "data/catalogue.h"

namespace transfer {

// The catalogue row of a table as the commands name it ("prospectos",
// "vendedores", "productos", "planes", "respuestas", "contactos",
// "ofrecidos", "vendidos"); nullptr for any other name.
const data::TableDef* tableByName(const std::string& name);
// The names tableByName() knows, for messages.
std::string tableNames();

// Writes the live records of the table at `tablePath` to `file`, fields
// separated by `separator`. Returns the number of rows written. Throws
// std::runtime_error; a file half written is removed.
size_t exportCsv(const std::string& tablePath, const std::string& file, char separator);

// The same rows as an xlsx workbook of one sheet: texts as texts, numbers
// as numbers, dates as real dates (shown in the user's date format).
size_t exportXlsx(const std::string& tablePath, const std::string& file);

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
