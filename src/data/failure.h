// Failures of the data layer handed to the program's error handler.
//
// A failure that no helper settles (a missing file, a damaged table, a table
// another workstation keeps for itself during maintenance) is raised through
// the language's error protocol where it happens, so that the user may retry
// the operation, skip it, or end the program.
#pragma once

#include <exception>
#include <functional>
#include <string>

#include "xbase/error.h"

namespace data {

// The error that describes `e` (an engine failure, a failed replacement or
// any other exception), for the operation `operation`.
xb::Error errorFrom(const std::exception& e, const std::string& operation);

// Runs `op`. A failure goes to the error handler: "retry" runs `op` again,
// "default" skips it (the result is false), "break" throws xb::Break. A
// Break raised inside `op` passes on untouched.
bool underHandler(const std::string& operation, const std::function<void()>& op);

// Raises a failure of the data layer itself (subsystem "VDR"), break only.
[[noreturn]] void fail(int genCode, const std::string& descriptionUtf8,
                       const std::string& filename = {});

}  // namespace data
