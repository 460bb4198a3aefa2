// The script runner: reports and charts are scripts, one expression a line,
// found as loose files in PRUEBA or in the script store (reports/store.h) and
// evaluated line by line with the program's whole function set.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace app {

// Where the values of script lines go. Each destination is on or off; the
// console writes to standard output unless a sink is set, the printer to the
// printer sink (the report layer installs one), the alternate file appends
// to a file of the working directory.
struct ScriptOutput {
    bool console = false;
    bool printer = false;
    bool alternate = false;
    std::string alternateFile;  // program path, e.g. "salida.txt"
    std::function<void(const std::string&)> consoleSink;
    std::function<void(const std::string&)> printerSink;
};
ScriptOutput& scriptOutput();
// Writes one line (Windows-1252) to every destination that is on.
void outputLine(const std::string& line);

// Runs the script `name` (see the file comment). `source`, when given, is the
// text to run when the script is neither cached nor a loose file. False when
// there was nothing to run: the name was refused or no script has it (the
// user was told).
bool EJECUTAR(std::string_view name, const std::optional<std::string>& source = std::nullopt);

// The name of the public variable that caches a script's lines: "V" + the
// name with its point as "_" ("INFPRO.RPO" -> "VINFPRO_RPO"), so that no two
// scripts share a cache entry. Empty for a name that is no plain name.
std::string scriptCacheKey(std::string_view name);

// A script's text cut into its lines: at CR LF (or a lone LF), empty lines
// dropped, a last line without an ending kept when not empty.
std::vector<std::string> splitScriptLines(std::string_view text);

// Registers EJECUTAR, the output switches (SETCONSOLE, SETPRINTER,
// SETALTERNATE, QOUT) and the library functions scripts may call (WAITRUN,
// KEYPUT, ...), including those this platform cannot offer, which fail
// through the error handler with a clear message.
void registerScriptFunctions();

}  // namespace app
