// vdrtool's commands register themselves, one file each, so that a new command
// never touches another one's file.
#pragma once

#include <string>
#include <vector>

namespace vdrtool {

using Args = std::vector<std::string>;
using CommandFn = int (*)(const Args& args);

struct Command {
    const char* name;
    const char* usage;    // arguments, e.g. "FICHERO [--csv]"
    const char* summary;  // one line, Spanish
    CommandFn run;
};

void registerCommand(const Command& cmd);
const std::vector<Command>& commands();

// Prints "vdrtool: <message>" on standard error and returns the exit status 2.
int fail(const std::string& message);

struct Registrar {
    explicit Registrar(const Command& cmd) { registerCommand(cmd); }
};

}  // namespace vdrtool

#define VDRTOOL_CONCAT2(a, b) a##b
#define VDRTOOL_CONCAT(a, b) VDRTOOL_CONCAT2(a, b)
#define VDRTOOL_COMMAND(name, usage, summary, fn)                 \
    static const ::vdrtool::Registrar VDRTOOL_CONCAT(vdrtoolReg_, \
                                                     __LINE__)({name, usage, summary, fn})
