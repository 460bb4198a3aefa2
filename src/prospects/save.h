// Saving and deleting a prospect with its dependent rows, safe against a
// process that dies half way and against another workstation's change.
//
// A save holds the prospect's record lock from start to end (a new prospect:
// the prospect table's file lock, so that two workstations creating the same
// code in the same second cannot both take one link key). It then:
//
//   1. collects the record numbers of the prospect's stored rows (by the
//      link tags) and compares them with the card's lists: the rows stored
//      as they are, from the first on, are kept; a card that changes
//      nothing writes nothing;
//   2. writes a journal "GrabaPrs.jnl" in the workstation's folder naming
//      the old rows to delete, the tables' record counts, the old and new
//      link and the prospect's fields as found and as saved; the journal is
//      locked (a byte-range lock, as the tables' locks) by the saving
//      process while the save runs (and, from a browser, between its
//      saves); the file stays between saves, empty. A save that writes no
//      row writes its journal committed and goes on to step 5;
//   3. appends the buffers' rows past those kept, stamped with the final
//      link values, PLAN and DOCUM, deletes the old rows noted in step 2,
//      and syncs the row tables;
//   4. marks the journal committed (the commit point);
//   5. writes the prospect record (when its fields changed), and empties
//      the journal.
//
// settlePendingSaves() looks in every workstation folder of the company for
// a journal whose lock nobody holds (its process died): before the commit
// point it deletes the rows the save had appended (new link, record number
// past the count noted) and recalls the old rows it had deleted; after it,
// it finishes step 5 (and a deletion's rows), writing the prospect only
// while its record holds what the save found or wrote. Either way the
// prospect ends with one set of rows, the old or the new one. The card and
// the browser call it when they open; so does the self-maintenance.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "prospects/card.h"

namespace prospects {

enum class SaveResult {
    Saved,
    NoCode,     // blank CODPROSP: nothing written
    Changed,    // another workstation changed or deleted the prospect: nothing written
    Abandoned,  // the user gave up waiting for the prospect's lock: nothing written
};

// GRABAPROSP's work: mode "I" or "M", the card values (NUMPROSP may move on
// by seconds in mode "I" to keep link keys distinct; `v.stored`/`v.recno`
// follow the saved record). Tells the user about NoCode and Changed.
SaveResult saveProspect(const std::string& mode, CardValues& v);

// BORRAPROSPS's work after the user said yes: deletes the prospect at
// `recno` with its products offered and contacts (products sold stay).
// False, after a message, when the record was already deleted.
bool deleteProspect(uint32_t recno);

// Settles the saves and deletions left half done by dead processes; answers
// how many it settled. Opens (and closes again) the tables it needs.
int settlePendingSaves();

// While a browser keeps the card's tables (CardTablesKept), the journal of
// this workstation stays open and locked between saves (an empty journal
// whose lock is held reads as "nothing to settle") and the company's folder
// stays open for the looks for pending journals. Closes both; called when
// the last keeper goes, and after each operation when none is there.
void closeKeptFiles();

// Name of the journal inside a workstation folder.
inline constexpr const char* kJournalName = "GrabaPrs.jnl";

// Test hook: called at each step of a save or a deletion (a test may end the
// process there). `n` counts the calls of that step within the operation.
enum class SaveStep { Journaled, RowAppended, OldRowDeleted, Committed, ProspectWritten, Done };
void setSaveHook(std::function<void(SaveStep, int n)> hook);

}  // namespace prospects
