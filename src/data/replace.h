// Crash-safe replacement of a table and its memo file by a rebuilt copy.
//
// Rebuilding a table (CREA_FIC, CRE_RES) writes the new table and memo under
// scratch names and then puts them in place of the old ones. Erasing the old
// files first and renaming afterwards would lose the table to a crash or a
// full disk in between, so the switch is made in this order:
//
//   1. the new table and memo are complete and flushed to disk (fsync), and
//      moved next to the target when they were built elsewhere;
//   2. a small journal "<target name>.RPL" naming both moves is written under
//      a scratch name, flushed and renamed into place: the commit point;
//   3. the new memo is renamed over the old one (or the old memo removed when
//      the new table has none), then the new table over the old one; rename
//      replaces atomically, so the target name always names a whole file;
//   4. the directory is flushed and the journal removed.
//
// Before the commit point the old table and memo are untouched and the
// scratch files are mere leftovers; after it the journal names everything
// needed to finish. finishReplacement() completes an interrupted switch; the
// table helpers call it before opening or rebuilding a table.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

namespace data {

// Points at which a replacement can be interrupted, in order.
enum class ReplaceStep {
    Built,       // the new files exist under their scratch names (called by the rebuilders)
    Staged,      // new files flushed and next to the target
    Journaled,   // the journal is in place (commit point passed)
    MemoMoved,   // the memo is switched
    TableMoved,  // the table is switched
    Done,        // the journal is gone
};

// Raised when a file operation of the replacement fails; the message is in
// Spanish and names the file.
class ReplaceError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Replaces `target` (and its memo) by `newTable` (and its memo, when one
// exists beside it). Paths are as the program gives them (backslashes and any
// case accepted). Throws ReplaceError; an error before the commit point
// leaves the old files as they were and removes the new ones.
void replaceTable(const std::string& newTable, const std::string& target);

// Finishes a replacement of `target` interrupted after its commit point, and
// clears the leftovers of one interrupted before it. Returns true when an
// interrupted replacement was found. Throws ReplaceError when a step fails.
bool finishReplacement(const std::string& target);
// The same, only when the replacement passed its commit point (its journal
// is there): what must be done before the table is read, in two looks at the
// disk instead of a look through its folder. Leftovers of a replacement
// interrupted before the commit point are harmless and wait for the next
// replacement or finishReplacement().
bool finishCommittedReplacement(const std::string& target);

// The memo file of a table: the existing file when there is one (any case),
// otherwise the table's name with its last three characters replaced by "FPT".
std::string memoPathOf(const std::string& table);

// Name of the journal of `target`.
std::string journalPathOf(const std::string& target);

// Test hook: called at every step of every replacement; it may throw (a
// simulated failure) or end the process (a simulated crash).
void setReplaceHook(std::function<void(ReplaceStep)> hook);
void replaceHook(ReplaceStep step);

}  // namespace data
