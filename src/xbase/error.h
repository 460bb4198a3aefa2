// Runtime errors: the error object and the raise protocol.
//
// A failure is raised where it happens: the raiser fills an Error and calls
// raise(). The installed handler answers
//   Retry      - the raiser attempts the operation again (only when canRetry),
//   Substitute - the operation yields the handler's value (only when canSubstitute),
//   Break      - raise() throws xb::Break, which unwinds to whoever catches it.
// An answer the error does not allow is taken as Break. The default handler
// (installed until the program's own) writes the message to standard error and
// breaks.
//
// General codes (genCode) used by this program:
//    1 argument error            2 bound error (array index)
//    3 string too long           4 numeric overflow
//    5 division by zero          6 numeric error
//    7 syntax error (text does not compile)
//    8 expression too complex (nesting/recursion limit)
//   11 out of memory / size limit
//   12 undefined function       13 no exported method (1004) / variable (1005)
//   14 undefined variable       15 alias not open
//   16 unknown field            20 create error
//   21 open error               22 close error
//   23 read error               24 write error
//   30 unsupported operation    31 limit exceeded
//   32 corrupted file           33 data type error
//   34 data width error         35 no table in use
//   36 no index order           37 shared (exclusive use required)
//   38 record not locked        39 read-only
//   40 append lock failed       41 lock failed
// The table engine raises with subsystem "DBFCDX"; a sharing violation on
// open is genCode 21 with osCode 32, access denied osCode 5, always with
// canSubstitute so the program's handler can set the network-error flag.
// The language raises with subsystem "BASE" and these subcodes:
//   1001 undefined function, 1003 undefined variable, 1004 no exported method,
//   1005 no exported variable, 1068..1075 argument errors, 1132 bound error,
//   1340 division by zero, 2000+ library-function argument errors.
#pragma once

#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "xbase/value.h"

namespace xb {

namespace gen {
inline constexpr int Arg = 1, Bound = 2, StrOverflow = 3, NumOverflow = 4, ZeroDiv = 5, NumErr = 6,
                     Syntax = 7, Complexity = 8, Mem = 11, NoFunc = 12, NoMethod = 13, NoVar = 14,
                     NoAlias = 15, NoField = 16, Create = 20, Open = 21, Close = 22, Read = 23,
                     Write = 24, Unsupported = 30, Limit = 31, Corruption = 32, DataType = 33,
                     DataWidth = 34, NoTable = 35, NoOrder = 36, Shared = 37, Unlocked = 38,
                     ReadOnly = 39, AppendLock = 40, Lock = 41;
}

struct Error {
    int genCode = 0;
    int osCode = 0;
    int severity = 2;  // 2 = error, 1 = warning
    std::string subsystem = "BASE";
    int subCode = 0;
    std::string description;  // Spanish, Windows-1252 bytes
    std::string filename;
    std::string operation;
    std::vector<Value> args;
    bool hasArgs = false;  // args is "an array" (possibly empty) rather than none
    bool canRetry = false;
    bool canSubstitute = false;
    int tries = 0;  // 1 at the first raise, 2 after one retry... (0: not counted)

    // The one-line message: prefix ("Error "/"Atención "/"(DOS Error n) "),
    // subsystem, "/", subcode, description and ": " file name or operation.
    std::string message() const;
};

enum class ErrorAction { Retry, Substitute, Break };

struct HandlerAnswer {
    ErrorAction action = ErrorAction::Break;
    Value value;  // the substitute value
};

using ErrorHandler = std::function<HandlerAnswer(Error&)>;

// Thrown when an error breaks; carries the error. Catch by reference.
class Break : public std::exception {
  public:
    explicit Break(Error e, bool seenByHandler = false)
        : error(std::move(e)), handled(seenByHandler) {}
    const char* what() const noexcept override { return error.description.c_str(); }
    Error error;
    // True when the installed handler has seen the error (and chose to let it
    // break); false for a break raised quietly or thrown directly, which no
    // handler has logged or shown.
    bool handled = false;
};

struct RaiseResult {
    bool retry = false;  // true: attempt the operation again
    Value value;         // the substitute when !retry
};

// Hands the error to the installed handler. Returns when the handler answered
// retry (result.retry) or substitute (result.value); throws Break otherwise.
RaiseResult raise(Error e);

// Raise for errors that can only break (no retry, no substitute): never returns.
[[noreturn]] void raiseBreak(Error e);

// Convenience for the language's own errors (subsystem BASE, severity 2).
Error makeError(int genCode, int subCode, std::string description, std::string operation = {});

// Raises an argument/type error for an operator or function with the operands
// as arguments; allows substitution. Returns the substitute value.
Value raiseArgError(int subCode, std::string_view operation, std::vector<Value> operands,
                    std::string description = "Error de argumento");

// While one is alive, raise() breaks at once without asking the handler: the
// type query uses it to try an expression quietly.
class QuietErrors {
  public:
    QuietErrors();
    ~QuietErrors();
    QuietErrors(const QuietErrors&) = delete;
    QuietErrors& operator=(const QuietErrors&) = delete;

  private:
    bool old_;
};

// The handler that writes Error::message() to standard error and breaks.
HandlerAnswer defaultErrorHandler(Error& e);

}  // namespace xb
