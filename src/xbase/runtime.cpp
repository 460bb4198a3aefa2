#include "xbase/runtime.h"
#include "xbase/function_names.h"

#include <algorithm>
#include <unordered_map>

#include "xbase/codepage.h"
#include "xbase/compiler.h"

namespace xb {

struct VarEntry {
    int level;  // -1 public, else the frame depth that created the private
    std::shared_ptr<Value> box;
};

struct VarSlot {
    std::string name;
    std::vector<VarEntry> stack;  // the last one is the visible one
};

namespace {

std::string upperAscii(std::string_view s) {
    std::string out(s);
    for (auto& c : out) c = static_cast<char>(upper1252(static_cast<unsigned char>(c)));
    // Names are compared trimmed.
    size_t b = out.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    size_t e = out.find_last_not_of(' ');
    return out.substr(b, e - b + 1);
}

// The name as the variables are kept (see upperAscii()), without a copy when
// it is so already, as the names of the compiled code are; `buf` holds it
// otherwise.
std::string_view upperKey(std::string_view s, std::string& buf) {
    bool kept = !s.empty() && s.front() != ' ' && s.back() != ' ';
    for (size_t i = 0; kept && i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        kept = c < 0x80 ? !(c >= 'a' && c <= 'z') : upper1252(c) == c;
    }
    if (kept) return s;
    buf = upperAscii(s);
    return buf;
}

// Variables are looked up by a view of their name, without making a string.
struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

struct FrameRec {
    Frame frame;
    std::vector<VarSlot*> privates;
};

struct RuntimeState {
    Settings settings;
    Limits limits;
    uint64_t work = 0;
    std::unordered_map<std::string, std::unique_ptr<FunctionEntry>> funcs;
    std::unordered_map<std::string, std::unique_ptr<VarSlot>, NameHash, std::equal_to<>> vars;
    std::vector<FrameRec> frames;
    std::vector<VarSlot*> basePrivates;
    std::vector<std::string> classes;
    FieldAccess* fa = nullptr;
    ErrorHandler handler;
};

uint64_t g_generation = 1;
uint64_t g_funcGeneration = 1;
std::unique_ptr<RuntimeState> g_state;

RuntimeState& st() {
    if (!g_state) {
        g_state = std::make_unique<RuntimeState>();
        registerLibrary();
    }
    return *g_state;
}

int currentLevel() {
    return static_cast<int>(st().frames.size());
}

void notePrivate(VarSlot* s) {
    auto& S = st();
    if (S.frames.empty())
        S.basePrivates.push_back(s);
    else
        S.frames.back().privates.push_back(s);
}

const Value kNil;

}  // namespace

// ---------------------------------------------------------------- settings
Settings& settings() {
    return st().settings;
}

std::string effectiveDateFormat() {
    const Settings& s = st().settings;
    std::string f = s.dateFormat;
    if (!s.century) {
        auto p = f.find("yyyy");
        if (p == std::string::npos) p = f.find("YYYY");
        if (p != std::string::npos) f.erase(p, 2);
    } else if (f.find("yyyy") == std::string::npos && f.find("YYYY") == std::string::npos) {
        auto p = f.find("yy");
        if (p == std::string::npos) p = f.find("YY");
        if (p != std::string::npos) f.insert(p, "yy");
    }
    return f;
}

Limits& limits() {
    return st().limits;
}

void chargeWork(uint64_t units) {
    auto& S = st();
    S.work += units;
    if (S.limits.workBudget && S.work > S.limits.workBudget) {
        S.work = 0;
        raiseBreak(makeError(gen::Limit, 1500, "L\xEDmite de proceso excedido"));
    }
}

void resetWork() {
    st().work = 0;
}

// ---------------------------------------------------------------- arguments
const Value& Args::operator[](size_t i) const {
    return i < count_ ? values_[i] : kNil;
}

void Args::setRef(size_t i, const Value& v) {
    if (i >= count_) return;
    values_[i] = v;
    if (refs_ && refs_[i]) *refs_[i] = v;
}

std::shared_ptr<Value> Args::ref(size_t i) const {
    return isRef(i) ? refs_[i] : nullptr;
}

// ---------------------------------------------------------------- functions
void registerFunction(std::string_view name, NativeFn fn, bool pure) {
    auto& S = st();
    std::string key = upperAscii(name);
    auto& slot = S.funcs[key];
    if (!slot) slot = std::make_unique<FunctionEntry>();
    slot->name = key;
    slot->fn = std::move(fn);
    slot->pure = pure;
    ++g_funcGeneration;
}

const FunctionEntry* findFunction(std::string_view name) {
    auto& S = st();
    auto it = S.funcs.find(upperAscii(name));
    return it == S.funcs.end() ? nullptr : it->second.get();
}

bool functionExists(std::string_view name) {
    return findFunction(name) != nullptr;
}

uint64_t functionsGeneration() {
    return g_funcGeneration;
}

std::vector<std::string> functionNames() {
    std::vector<std::string> names;
    for (const auto& [key, entry] : st().funcs) names.push_back(key);
    std::sort(names.begin(), names.end());
    return names;
}

Value callFunction(std::string_view name, Args& args) {
    for (int attempt = 1;; ++attempt) {
        const FunctionEntry* f = findFunction(name);
        if (f) return f->fn(args);
        Error e = makeError(gen::NoFunc, 1001, "Funci\xF3n no definida", upperAscii(name));
        e.canSubstitute = true;
        e.canRetry = true;
        e.tries = attempt;
        RaiseResult r = raise(std::move(e));
        if (!r.retry) return r.value;
    }
}

Value callFunction(std::string_view name, ArgList args) {
    Args a = args.args();
    return callFunction(name, a);
}

// ------------------------------------------------------- memory variables
VarSlot* varSlot(std::string_view upperName, bool create) {
    auto& S = st();
    auto it = S.vars.find(upperName);
    if (it != S.vars.end()) return it->second.get();
    if (!create) return nullptr;
    auto slot = std::make_unique<VarSlot>();
    slot->name = std::string(upperName);
    VarSlot* p = slot.get();
    S.vars.emplace(p->name, std::move(slot));
    return p;
}

std::shared_ptr<Value> slotValue(VarSlot* s) {
    if (!s || s->stack.empty()) return nullptr;
    return s->stack.back().box;
}

uint64_t runtimeGeneration() {
    st();
    return g_generation;
}

void createPublic(std::string_view name, Value v) {
    std::string buf;
    const std::string_view key = upperKey(name, buf);
    if (key.empty()) return;
    VarSlot* s = varSlot(key, true);
    for (auto& e : s->stack)
        if (e.level < 0) return;
    s->stack.insert(s->stack.begin(), VarEntry{-1, std::make_shared<Value>(std::move(v))});
}

void createPrivate(std::string_view name, Value v) {
    std::string buf;
    const std::string_view key = upperKey(name, buf);
    if (key.empty()) return;
    VarSlot* s = varSlot(key, true);
    int level = currentLevel();
    if (!s->stack.empty() && s->stack.back().level == level) {
        *s->stack.back().box = std::move(v);
        return;
    }
    s->stack.push_back(VarEntry{level, std::make_shared<Value>(std::move(v))});
    notePrivate(s);
}

void assignVar(std::string_view name, const Value& v) {
    std::string buf;
    const std::string_view key = upperKey(name, buf);
    VarSlot* s = varSlot(key, false);
    if (s && !s->stack.empty()) {
        *s->stack.back().box = v;
        return;
    }
    createPrivate(key, v);
}

bool varExists(std::string_view name) {
    std::string buf;
    VarSlot* s = varSlot(upperKey(name, buf), false);
    return s && !s->stack.empty();
}

bool getVar(std::string_view name, Value& out) {
    std::string buf;
    VarSlot* s = varSlot(upperKey(name, buf), false);
    if (!s || s->stack.empty()) return false;
    out = *s->stack.back().box;
    return true;
}

Value getVar(std::string_view name) {
    for (int attempt = 1;; ++attempt) {
        Value v;
        if (getVar(name, v)) return v;
        Error e = makeError(gen::NoVar, 1003, "Variable no existe", upperAscii(name));
        e.canRetry = true;
        e.tries = attempt;
        e.canSubstitute = true;
        RaiseResult r = raise(std::move(e));
        if (!r.retry) return r.value;
    }
}

std::shared_ptr<Value> varRef(std::string_view name) {
    std::string buf;
    return slotValue(varSlot(upperKey(name, buf), false));
}

void releaseVar(std::string_view name) {
    std::string buf;
    VarSlot* s = varSlot(upperKey(name, buf), false);
    if (s && !s->stack.empty()) s->stack.pop_back();
}

bool matchPattern(std::string_view pattern, std::string_view name) {
    // Iterative glob with backtracking on the last '*'.
    size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
    auto up = [](char c) { return upper1252(static_cast<unsigned char>(c)); };
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || up(pattern[p]) == up(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

void releaseVars(std::string_view pattern, bool like) {
    std::string pat = upperAscii(pattern);
    for (auto& [name, slot] : st().vars) {
        if (slot->stack.empty()) continue;
        if (matchPattern(pat, name) == like) slot->stack.pop_back();
    }
}

std::vector<std::string> visibleVars() {
    std::vector<std::string> out;
    for (auto& [name, slot] : st().vars)
        if (!slot->stack.empty()) out.push_back(name);
    std::sort(out.begin(), out.end());
    return out;
}

// -------------------------------------------------------------- call chain
Procedure::Procedure(std::string name, int line) {
    auto& S = st();
    FrameRec r;
    r.frame.name = upperAscii(name);
    r.frame.line = line;
    S.frames.push_back(std::move(r));
    depth_ = S.frames.size();
}

Procedure::~Procedure() {
    if (!g_state) return;
    auto& S = *g_state;
    // Frames left by a reset or out of order are tolerated: unwind to ours.
    while (S.frames.size() >= depth_ && !S.frames.empty()) {
        int level = static_cast<int>(S.frames.size());
        for (VarSlot* s : S.frames.back().privates)
            while (!s->stack.empty() && s->stack.back().level == level) s->stack.pop_back();
        S.frames.pop_back();
        if (S.frames.size() < depth_) break;
    }
}

void Procedure::setLine(int line, std::string info) {
    auto& S = st();
    if (depth_ == 0 || depth_ > S.frames.size()) return;
    S.frames[depth_ - 1].frame.line = line;
    S.frames[depth_ - 1].frame.info = std::move(info);
}

void Procedure::setParams(std::vector<Value> params) {
    auto& S = st();
    if (depth_ == 0 || depth_ > S.frames.size()) return;
    S.frames[depth_ - 1].frame.params = std::move(params);
}

void Procedure::setLocals(std::vector<Value> locals) {
    auto& S = st();
    if (depth_ == 0 || depth_ > S.frames.size()) return;
    S.frames[depth_ - 1].frame.locals = std::move(locals);
}

std::vector<Frame> callStack() {
    std::vector<Frame> out;
    auto& S = st();
    for (auto it = S.frames.rbegin(); it != S.frames.rend(); ++it) out.push_back(it->frame);
    return out;
}

size_t callDepth() {
    return st().frames.size();
}

std::vector<std::string> callChainLines() {
    std::vector<std::string> out;
    for (const Frame& f : callStack())
        out.push_back(f.name + "(" + std::to_string(f.line) + ")" +
                      (f.info.empty() ? std::string() : "  : " + f.info));
    return out;
}

// ---------------------------------------------------------------- classes
int registerClass(std::string_view name) {
    auto& c = st().classes;
    std::string key = upperAscii(name);
    for (size_t i = 0; i < c.size(); ++i)
        if (c[i] == key) return static_cast<int>(i) + 1;
    c.push_back(key);
    return static_cast<int>(c.size());
}

std::vector<std::string> registeredClasses() {
    return st().classes;
}

// ------------------------------------------------------------------ tables
void setFieldAccess(FieldAccess* fa) {
    st().fa = fa;
}
FieldAccess* fieldAccess() {
    return st().fa;
}

// ---------------------------------------------------------- error handler
void setErrorHandler(ErrorHandler h) {
    st().handler = std::move(h);
}
const ErrorHandler& errorHandler() {
    return st().handler;
}

// --------------------------------------------------------------- lifetime
void resetRuntime() {
    g_state.reset();
    breakReferenceCycles();
    ++g_generation;
    ++g_funcGeneration;
    st();
}

}  // namespace xb
