// The menu's functions that take a company's data out and bring it in.
#pragma once

namespace app {

void COPIAEMPR();   // backup of the current company into a chosen folder
void COPIAINST();   // backup of the whole installation into a chosen folder
void RESTEMPR();    // restore of the current company from a chosen archive
void EXPORTACSV();  // the "Exportar tabla" window: a table or a selection to CSV or xlsx
void IMPORTACSV();  // the "Importar filas" window: rows from CSV, xlsx or ods, checked first
void AGENDAICS();   // the next visits as an iCalendar file

void registerTransferFunctions();

}  // namespace app
