// The script store: report and chart scripts kept in one table and one text
// file in the working directory, beside the loose script files of the folder
// PRUEBA. A loose file always wins over the stored text of the same name.
//
//   cgFuente.dbf  one record per script: NOMBRE C(12), BEGIN N, LENGTH N,
//                 in the order in which the texts lie in the text file
//   cgFuente.dbt  the texts one after the other, nothing between them
//   cgFuente.cdx  tag NOMBRE, rebuilt with every rewrite
//
// Every rewrite of the store (inclusion, emptying) writes complete new files
// under temporary names, syncs them, writes the swap marker cgFuente.swp and
// only then renames them into place; whoever opens the store next finishes an
// interrupted swap (marker present) or drops the half-written files (marker
// absent). So a killed process never leaves the store without a script it
// held, and a loose file is removed only once the store holding it is in place.
//
// Texts are Windows-1252 bytes; messages go through data::interaction().
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace reports {

inline constexpr const char* kStoreTable = "cgFuente.dbf";
inline constexpr const char* kStoreBag = "cgFuente.cdx";
inline constexpr const char* kStoreText = "cgFuente.dbt";
inline constexpr const char* kStoreMarker = "cgFuente.swp";
inline constexpr const char* kLooseFolder = "PRUEBA";

// ---- names

// The name as the store keeps it: trimmed, upper case, with a point appended
// when it has none ("infpro.rpo" -> "INFPRO.RPO", "ABC" -> "ABC."), "/" as
// "\\". Nothing when the name could reach outside the script folder ("..",
// a drive, a leading separator) or is no file name a shared drive can hold
// (control characters, < > : " | ? *, parts over 255 bytes).
std::optional<std::string> plainScriptName(std::string_view given);
// The store key: the plain name without a trailing point.
std::string storeKey(const std::string& plain);
// Where the loose file of a plain name lives: "PRUEBA\NAME", or the name
// itself in the working directory when it contains ".CG".
std::string loosePath(const std::string& plain);
// The public variable that caches a script's lines: "V" + the name with its
// point as "_" ("INFPRO.RPO" -> "VINFPRO_RPO"), so that no two scripts share
// a cache entry. Empty for a name that is no plain name.
std::string scriptCacheVariable(std::string_view name);
// A script's lines: split at line breaks ("\r\n" or "\n"), empty ones dropped.
std::vector<std::string> scriptLines(std::string_view text);
// Tells the user that `given` is no plain script name.
void refuseName(std::string_view given);

// ---- reading

struct StoredScript {
    std::string name;  // trimmed, upper case
    uint64_t begin = 0;
    uint64_t length = 0;
    bool damaged = false;  // its text does not lie inside the text file
};

enum class StoreStatus { Ok, Missing, Busy, Damaged };

// Where a script's text came from.
enum class Source { Loose, Stored, None };

struct ScriptText {
    Source source = Source::None;
    std::string text;
};

// Finds a script by name: the loose file first, then the store (opened
// shared; while another workstation holds it, the user is asked to wait and
// may cancel). A name that is refused, missing, or whose stored text is
// damaged gives Source::None; when `tell`, the user is told why.
ScriptText findScript(std::string_view given, bool tell = true);

// The records of the store in record order, each checked to lie inside the
// text file. Status Missing when the store does not exist.
struct StoreIndex {
    StoreStatus status = StoreStatus::Missing;
    std::vector<StoredScript> entries;
    std::string problem;  // what is damaged, for the message
};
StoreIndex readStoreIndex();

// ---- writing (operator actions; each tells the user what went wrong)

// Moves "PRUEBA\" + name into the store, replacing the script of exactly
// that name or appending it. True when the store holds it.
bool INCLUIR(std::string_view name);
// Writes the stored script to "PRUEBA\" + name. True when written.
bool EXTRAER(std::string_view name);
// Writes every stored script to the loose folder and empties the store.
// A script whose stored name is no valid script name is told and stays in
// the store. True when the store was emptied.
bool VACIAR();

// Finishes or undoes a rewrite that a killed process left half done.
void recoverStore();

// The cleaning the emptying applies to a text before writing it loose: at
// most one blank line in a row, no line breaks or blanks at the end or the
// start, and an even length (one blank appended when odd).
std::string cleanForLoose(std::string text);

// Registers INCLUIR, EXTRAER, VACIAR in the language.
void registerStoreFunctions();

// Test hook: called at each step of a rewrite ("temp-text", "temp-written",
// "marker", "renamed-text", "store-in-place", "loose-written"); a test may
// end the process there to prove that no step leaves a script behind.
void setStoreHook(std::function<void(std::string_view step)> hook);

}  // namespace reports
