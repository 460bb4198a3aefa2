// The interpreter state: settings, memory variables, function registry, the
// error handler, the call chain and the door to the tables.
//
// There is one interpreter per process (the program runs one user-interface
// thread and every script, menu action and index key shares the same
// variables and functions), so the state is a single process-wide object
// reached through these free functions. Tests call resetRuntime() between
// cases: it drops every variable, frame and setting and re-registers the
// library functions; functions registered by other layers must be registered
// again after a reset. A reset also empties every array, block frame and
// store still alive (see breakReferenceCycles), freeing the reference cycles
// scripts may have built. Not thread-safe: use from one thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "xbase/error.h"
#include "xbase/value.h"

namespace xb {

class FieldAccess;

// ---------------------------------------------------------------- settings
struct Settings {
    bool exact = false;                     // SET EXACT
    bool deleted = true;                    // SET DELETED (read by the table engine)
    bool exclusive = false;                 // SET EXCLUSIVE
    bool century = true;                    // SET CENTURY
    bool confirm = true;                    // SET CONFIRM
    std::string dateFormat = "dd-mm-yyyy";  // with century on; "yyyy" shown as "yy" when off
    int epoch = 1940;                       // SET EPOCH
    int decimals = kDefaultDecimals;        // SET DECIMALS (division results)
};
Settings& settings();
// The date format in force, with the century setting applied.
std::string effectiveDateFormat();

// ----------------------------------------------------------------- limits
// Bounds that keep any text from exhausting the process. Exceeding one raises
// an error (general code 3, 8 or 31), never a crash.
struct Limits {
    size_t maxString = 16u * 1024 * 1024;  // bytes of one character value
    size_t maxArray = 1u << 20;            // elements of one array
    int maxDepth = 256;                    // nesting of parsing and of evaluation
    // Evaluation steps allowed before raising (0 = unlimited). The fuzzer sets
    // it so that no input runs away; the program leaves it unlimited.
    uint64_t workBudget = 0;
};
Limits& limits();
// Charges `units` of work against the budget; raises when exhausted.
void chargeWork(uint64_t units);
void resetWork();

// -------------------------------------------------------------- arguments
// Arguments of a registered function. Missing arguments read as nil.
// Arguments passed by reference (@name) can be written back with setRef().
class Args {
  public:
    Args() = default;
    Args(Value* values, std::shared_ptr<Value>* refs, size_t count)
        : values_(values), refs_(refs), count_(count) {}
    size_t size() const { return count_; }
    const Value& operator[](size_t i) const;
    bool isRef(size_t i) const { return i < count_ && refs_ && refs_[i]; }
    // Writes `v` to the variable passed by reference (and to the argument).
    void setRef(size_t i, const Value& v);
    std::shared_ptr<Value> ref(size_t i) const;

  private:
    Value* values_ = nullptr;
    std::shared_ptr<Value>* refs_ = nullptr;
    size_t count_ = 0;
};

// Owning argument list for C++ callers.
class ArgList {
  public:
    ArgList() = default;
    ArgList(std::initializer_list<Value> vals) : values_(vals), refs_(vals.size()) {}
    explicit ArgList(std::vector<Value> vals) : values_(std::move(vals)), refs_(values_.size()) {}
    void push(Value v, std::shared_ptr<Value> ref = nullptr) {
        values_.push_back(std::move(v));
        refs_.push_back(std::move(ref));
    }
    Args args() { return Args(values_.data(), refs_.data(), values_.size()); }

  private:
    std::vector<Value> values_;
    std::vector<std::shared_ptr<Value>> refs_;
};

// --------------------------------------------------------------- functions
using NativeFn = std::function<Value(Args&)>;

// Registers (or replaces) a function callable by name from expressions; names
// are case-insensitive. `pure` marks functions free of side effects, which the
// type query may run (TYPE("UPPER(x)") gives "C" rather than "UI").
void registerFunction(std::string_view name, NativeFn fn, bool pure = false);
bool functionExists(std::string_view name);
// Calls a registered function; raises "función no definida" (gen 12) when absent.
Value callFunction(std::string_view name, Args& args);
Value callFunction(std::string_view name, ArgList args = {});

// Internal: the registry entry, for compiled calls to cache.
struct FunctionEntry {
    std::string name;  // upper case
    NativeFn fn;
    bool pure = false;
};
const FunctionEntry* findFunction(std::string_view name);
uint64_t functionsGeneration();  // changes whenever the registry changes

// ------------------------------------------------------- memory variables
// Names are case-insensitive. A private belongs to the innermost procedure
// frame (see Procedure) and is released when that frame ends, also when it
// ends by an exception; it hides a public or older private of the same name.
// Without any frame, privates belong to the base level and live until
// released.
void createPublic(std::string_view name, Value v = Value::logical(false));  // no-op when exists
void createPrivate(std::string_view name, Value v = Value());
// Assigns the visible variable; creates a private at the current level when none.
void assignVar(std::string_view name, const Value& v);
bool varExists(std::string_view name);
// The visible variable's value; raises "variable no existe" (gen 14) when none.
Value getVar(std::string_view name);
bool getVar(std::string_view name, Value& out);  // false when none
// A shared handle on the visible variable's storage (for @name); nullptr when none.
std::shared_ptr<Value> varRef(std::string_view name);
void releaseVar(std::string_view name);  // the visible one; no-op when none
// Releases the visible variables matching the pattern (* any run, ? one
// character, case-insensitive); `like` false releases those NOT matching.
void releaseVars(std::string_view pattern, bool like = true);
// Names of the visible variables, upper case, sorted.
std::vector<std::string> visibleVars();
bool matchPattern(std::string_view pattern, std::string_view name);

// Internal: per-name storage that compiled expressions cache.
struct VarSlot;
VarSlot* varSlot(std::string_view upperName, bool create);
std::shared_ptr<Value> slotValue(VarSlot* s);  // visible box or nullptr
uint64_t runtimeGeneration();                  // changes at every resetRuntime()

// -------------------------------------------------------------- call chain
struct Frame {
    std::string name;
    int line = 0;
    std::string info;           // the script line being run, shown in the call chain
    std::vector<Value> params;  // shown by the error report ("Param n")
    std::vector<Value> locals;  // shown by the error report ("Local n")
};
// Enters a named procedure for its scope: pushes a frame; on destruction
// (normal return or exception) releases the privates it created and pops it.
class Procedure {
  public:
    explicit Procedure(std::string name, int line = 0);
    ~Procedure();
    Procedure(const Procedure&) = delete;
    Procedure& operator=(const Procedure&) = delete;
    void setLine(int line, std::string info = {});
    // What the error report lists for this level.
    void setParams(std::vector<Value> params);
    void setLocals(std::vector<Value> locals);

  private:
    size_t depth_;
};
// Innermost first, like the call chain of an error report.
std::vector<Frame> callStack();
size_t callDepth();
// "NAME(line)" lines, innermost first, as the error dialog lists them.
std::vector<std::string> callChainLines();

// ---------------------------------------------------------------- classes
// Names of classes registered in the object system, in registration order
// (for error reports). Registering a name twice keeps the first position.
int registerClass(std::string_view name);
std::vector<std::string> registeredClasses();

// ------------------------------------------------------------------ tables
void setFieldAccess(FieldAccess* fa);
FieldAccess* fieldAccess();

// ---------------------------------------------------------- error handler
void setErrorHandler(ErrorHandler h);  // empty = default handler
const ErrorHandler& errorHandler();

// --------------------------------------------------------------- lifetime
void resetRuntime();

}  // namespace xb
