// The menu's functions that take a company's data out and bring it in.
#pragma once

namespace app {

void COPIAEMPR();   // backup of the current company into a chosen folder
void COPIAINST();   // backup of the whole installation into a chosen folder
void RESTEMPR();    // restore of the current company from a chosen archive
void EXPORTACSV();  // a table to CSV
void IMPORTACSV();  // rows from CSV, after a dry run the user sees
void AGENDAICS();   // the next visits as an iCalendar file

void registerTransferFunctions();

}  // namespace app
