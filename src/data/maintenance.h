// Creation and maintenance of a company's tables: creation or upgrade to the
// templates, packing, rebuilding and reindexing, always in catalogue order,
// each step shown in the progress dialog it runs in. A failed step goes to
// the error handler (retry, skip to the next table, or end).
#pragma once

#include <functional>
#include <string>

#include "data/interaction.h"

namespace data {

// CREA_FIC of every table to its template (scratch: G_CAMINO, the working
// directory for the register of additional reports).
void INIBASES(Meter& meter);
// Every bag erased and its tags created anew, in the listed order.
void INDEXBASES(Meter& meter);
// True when a table of the session company, or the bag of its tags, is
// missing, as a creation stopped halfway leaves them; completeTables makes
// what is missing (and nothing else) as INIBASES and INDEXBASES make it.
bool tablesIncomplete();
void completeTables(Meter& meter);
// PACA of every table.
void PACKBASES(Meter& meter);
// Packs one table opened exclusively through ABRIR (alias EL_ALIAS); a table
// the user gave up waiting for is left as it was. True when packed.
bool PACA(const std::string& file);
// CRE_RES of every table, then INDEXBASES in a progress dialog of its own,
// then every table of the session closed.
void RECO_BASES(Meter& meter);
// Rebuilds one table from its template: live records only, the template's
// structure, through a crash-safe replacement.
void CRE_RES(const std::string& templ, const std::string& file);
// The general self-maintenance: asks "Proceder con Automantenimiento General
// ?", then PACKBASES and RECO_BASES in progress dialogs. False when declined.
bool AUTOMANTEN();
// The same without the question (vdrtool maint).
void runGeneralMaintenance();

// Work that other modules must finish before the tables are packed (a pack
// renumbers records, so anything that refers to records by number settles
// first). Registered under a name: registering the same name again replaces it.
void setBeforeMaintenance(const std::string& name, std::function<void()> step);

// Finishes any interrupted replacement of the company's tables (journals
// left by a crash in a rebuild). Returns how many were finished.
int finishInterruptedRebuilds();

// Texts of the progress dialogs.
inline constexpr const char* kWaitTitle = "Por favor espere.....";
inline constexpr const char* kProcessingText = "Procesando datos...";
inline constexpr const char* kReindexingText = "Reindexando datos...";

}  // namespace data
