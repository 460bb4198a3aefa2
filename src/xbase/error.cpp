#include "xbase/error.h"

#include <cstdio>

#include "xbase/codepage.h"
#include "xbase/runtime.h"

namespace xb {

std::string Error::message() const {
    std::string s;
    if (osCode == 0) {
        s.append(severity > 1 ? "Error " : "Atenci\xF3n ");
    } else {
        s.append("(DOS Error ");
        s.append(std::to_string(osCode));
        s.append(") ");
    }
    s.append(subsystem.empty() ? std::string_view("???") : std::string_view(subsystem));
    s.push_back('/');
    s.append(std::to_string(subCode));
    if (!description.empty()) {
        s.append("  ");
        s.append(description);
    }
    if (!filename.empty()) {
        s.append(": ");
        s.append(filename);
    } else if (!operation.empty()) {
        s.append(": ");
        s.append(operation);
    }
    return s;
}

namespace {
bool g_quiet = false;
}

QuietErrors::QuietErrors() : old_(g_quiet) {
    g_quiet = true;
}
QuietErrors::~QuietErrors() {
    g_quiet = old_;
}

RaiseResult raise(Error e) {
    if (g_quiet) throw Break(std::move(e));
    const ErrorHandler& h = errorHandler();
    HandlerAnswer a = h ? h(e) : defaultErrorHandler(e);
    if (a.action == ErrorAction::Retry && e.canRetry) return RaiseResult{true, Value()};
    if (a.action == ErrorAction::Substitute && e.canSubstitute)
        return RaiseResult{false, std::move(a.value)};
    throw Break(std::move(e), true);
}

void raiseBreak(Error e) {
    e.canRetry = false;
    e.canSubstitute = false;
    raise(e);
    throw Break(std::move(e));  // not reached: raise() breaks when nothing is allowed
}

Error makeError(int genCode, int subCode, std::string description, std::string operation) {
    Error e;
    e.genCode = genCode;
    e.subCode = subCode;
    e.description = std::move(description);
    e.operation = std::move(operation);
    return e;
}

Value raiseArgError(int subCode, std::string_view operation, std::vector<Value> operands,
                    std::string description) {
    Error e = makeError(gen::Arg, subCode, std::move(description), std::string(operation));
    e.args = std::move(operands);
    e.hasArgs = true;
    e.canSubstitute = true;
    return raise(std::move(e)).value;
}

HandlerAnswer defaultErrorHandler(Error& e) {
    std::string line = cp1252ToUtf8(e.message()) + "\n";
    std::fputs(line.c_str(), stderr);
    return HandlerAnswer{};
}

}  // namespace xb
