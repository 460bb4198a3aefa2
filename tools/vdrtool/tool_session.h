// The session of the commands that work inside an installation on one
// company (demo, run, report): the program's settings and session variables,
// and the company chosen by its code as the program would choose it.
#pragma once

#include <string>
#include <vector>

namespace vdrtool {

// Starts the session in the current directory (an installation) on the
// company `code` (five digits; "00001", the test company, when empty):
// G_CAMINO, G_EMPRESA and the table-name variables are set. Errors break at
// once. Throws std::runtime_error with a Spanish message when the
// installation or the company is not there.
void startCompanySession(const std::string& code);

// "--company CODE" and "--empresa CODE" taken out of `args`; "" when absent.
std::string takeCompanyOption(std::vector<std::string>& args);

}  // namespace vdrtool

namespace vdrtool {

// Set by the commands built with the program's library: puts the default
// report scripts of `sourcesDir`/scripts into the store of the installation
// in the current directory (install calls it when the store is missing).
using ScriptInstaller = void (*)(const std::string& sourcesDir);
extern ScriptInstaller scriptInstaller;

}  // namespace vdrtool
