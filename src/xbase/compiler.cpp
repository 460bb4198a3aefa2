// The expression compiler and evaluator.
//
// A text is parsed once into a tree of nodes. Nodes keep what they can
// resolve ahead: the registry entry of a called function, the storage slot of
// a memory variable and, per work area and open serial, the index of a field,
// so that evaluating an index key a million times does no parsing and no
// look-up by name. Everything that may recurse (parsing, calls, blocks,
// macros) is bounded by depth and by stack use, and every failure goes
// through the error protocol.
#include "xbase/compiler.h"

#include <cmath>
#include <cstring>
#include <list>
#include <unordered_map>

#include "xbase/codepage.h"
#include "xbase/fieldaccess.h"
#include "xbase/ops.h"

namespace xb {

// The evaluator's internals live in a named namespace (not an anonymous one)
// because Block, a type of the public namespace, points into them.
namespace ev {
struct Node;
struct BlockNode;
using NodeP = std::unique_ptr<Node>;
}  // namespace ev
using namespace ev;

struct CompiledExpr {
    std::string text;
    NodeP root;
    bool hasCall = false;  // a call of an impure function
    bool hasMacro = false;
    bool hasAssign = false;
};

// Parameters of the running blocks: one frame per block call, linked to the
// frame that was current when the block was created (closures).
struct Env : CycleMember {
    ~Env() override { releaseDeep(vars); }
    std::vector<Value> vars;
    std::shared_ptr<Env> parent;
    void surrender(std::vector<Value>& out) override {
        for (auto& v : vars) out.push_back(std::move(v));
        vars.clear();  // a parent frame never refers to its children but through values
    }
};

class Block {
  public:
    std::shared_ptr<const CompiledExpr> owner;  // keeps the tree alive
    const BlockNode* node = nullptr;
    std::shared_ptr<Env> env;
};

namespace ev {

// ------------------------------------------------------------ eval state
struct EvalState {
    std::shared_ptr<Env> env;
    const std::shared_ptr<const CompiledExpr>* owner = nullptr;
    int depth = 0;
    uintptr_t stackBase = 0;
};
EvalState g_ev;

// Stack a single outermost evaluation may use before it is refused.
constexpr uintptr_t kMaxStack = 1024 * 1024;

uintptr_t stackHere() {
    return reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
}

[[noreturn]] void tooComplex() {
    raiseBreak(makeError(gen::Complexity, 1100, "Expresi\xF3n demasiado compleja"));
}

void checkStack() {
    if (g_ev.stackBase) {
        uintptr_t here = stackHere();
        if (here < g_ev.stackBase && g_ev.stackBase - here > kMaxStack) tooComplex();
    }
}

// Marks the outermost entry into the evaluator (its stack position).
struct EntryGuard {
    bool outer;
    EntryGuard() : outer(g_ev.stackBase == 0) {
        if (outer) g_ev.stackBase = stackHere();
    }
    ~EntryGuard() {
        if (outer) g_ev.stackBase = 0;
    }
};

// One level of call/block/macro nesting.
struct DepthGuard {
    DepthGuard() {
        if (g_ev.depth >= limits().maxDepth) tooComplex();
        checkStack();
        ++g_ev.depth;
    }
    ~DepthGuard() { --g_ev.depth; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
};

struct OwnerSwap {
    const std::shared_ptr<const CompiledExpr>* old;
    std::shared_ptr<Env> oldEnv;
    OwnerSwap(const std::shared_ptr<const CompiledExpr>* o, std::shared_ptr<Env> env)
        : old(g_ev.owner), oldEnv(std::move(g_ev.env)) {
        g_ev.owner = o;
        g_ev.env = std::move(env);
    }
    ~OwnerSwap() {
        g_ev.owner = old;
        g_ev.env = std::move(oldEnv);
    }
};

std::string upper(std::string_view s) {
    return upper1252(s);
}

std::string shortText(std::string_view s) {
    if (s.size() <= 120) return std::string(s);
    return std::string(s.substr(0, 117)) + "...";
}

// Converts a number to an index/count; false when not integral-representable.
bool toInt(const Value& v, int64_t& out) {
    if (!v.isNum()) return false;
    double d = v.asNumber();
    if (!std::isfinite(d) || d > 9e15 || d < -9e15) return false;
    out = static_cast<int64_t>(std::trunc(d));
    return true;
}

Value raiseNoVar(const std::string& name) {
    Error e = makeError(gen::NoVar, 1003, "Variable no existe", name);
    e.canSubstitute = true;
    return raise(std::move(e)).value;
}

// ------------------------------------------------------------------ nodes
struct Node {
    virtual ~Node() = default;
    virtual Value eval() = 0;
    virtual bool isLvalue() const { return false; }
    virtual void assign(const Value&) {
        raiseBreak(makeError(gen::Syntax, 1449, "Asignaci\xF3n no v\xE1lida"));
    }
    // Storage for a by-reference argument; nullptr when the node has none.
    virtual std::shared_ptr<Value> refBox() { return nullptr; }
};

struct ConstNode : Node {
    Value v;
    explicit ConstNode(Value x) : v(std::move(x)) {}
    Value eval() override { return v; }
};

// Memory-variable storage cached across evaluations (valid while the
// runtime generation is unchanged).
struct VarCache {
    std::string name;  // upper case
    VarSlot* slot = nullptr;
    uint64_t gen = 0;

    std::shared_ptr<Value> box() {
        uint64_t g = runtimeGeneration();
        if (!slot || gen != g) {
            slot = varSlot(name, false);
            gen = g;
        }
        return slotValue(slot);
    }
    Value* peek() {
        uint64_t g = runtimeGeneration();
        if (!slot || gen != g) {
            slot = varSlot(name, false);
            gen = g;
        }
        std::shared_ptr<Value> b = slotValue(slot);
        return b.get();  // owned by the slot, alive until released
    }
};

// Field index cache per FieldAccess, area and open serial.
struct FieldCache {
    FieldAccess* fa = nullptr;
    int area = 0;
    uint64_t serial = 0;
    int index = -1;

    int lookup(FieldAccess* f, int a, std::string_view name) {
        uint64_t s = f->openSerial(a);
        if (f != fa || a != area || s != serial) {
            fa = f;
            area = a;
            serial = s;
            index = f->fieldIndex(a, name);
        }
        return index;
    }
};

// An unqualified name: a field of the current area when it has one, else a
// memory variable. Assigning goes to the memory variable (a private is
// created when none is visible); fields are assigned with an alias.
struct NameNode : Node {
    std::string name;
    VarCache var;
    FieldCache field;
    explicit NameNode(std::string n) : name(std::move(n)) { var.name = name; }

    Value eval() override {
        if (FieldAccess* fa = fieldAccess()) {
            int area = fa->currentArea();
            if (area > 0) {
                int idx = field.lookup(fa, area, name);
                if (idx >= 0) return fa->getField(area, idx);
            }
        }
        if (Value* v = var.peek()) return *v;
        return raiseNoVar(name);
    }
    bool isLvalue() const override { return true; }
    void assign(const Value& v) override {
        if (auto b = var.box())
            *b = v;
        else
            assignVar(name, v);
    }
    // nullptr when no variable is visible: the argument is then evaluated
    // (raising "variable no existe") and written back by assignment.
    std::shared_ptr<Value> refBox() override { return var.box(); }
};

struct MemvarNode : Node {
    VarCache var;
    explicit MemvarNode(std::string n) { var.name = std::move(n); }
    Value eval() override {
        if (Value* v = var.peek()) return *v;
        return raiseNoVar(var.name);
    }
    bool isLvalue() const override { return true; }
    void assign(const Value& v) override {
        if (auto b = var.box())
            *b = v;
        else
            assignVar(var.name, v);
    }
    std::shared_ptr<Value> refBox() override { return var.box(); }
};

struct LocalNode : Node {
    int up;     // how many block frames outwards
    int index;  // parameter position
    LocalNode(int u, int i) : up(u), index(i) {}
    Value* slot() {
        Env* e = g_ev.env.get();
        for (int i = 0; i < up && e; ++i) e = e->parent.get();
        if (!e || index >= static_cast<int>(e->vars.size())) return nullptr;
        return &e->vars[index];
    }
    Value eval() override {
        Value* s = slot();
        return s ? *s : Value();
    }
    bool isLvalue() const override { return true; }
    void assign(const Value& v) override {
        if (Value* s = slot()) *s = v;
    }
};

struct MacroNode;

// alias->field. The alias is fixed (a name), the current area (FIELD->) or
// computed at run time; the field name is fixed or computed.
struct FieldNode : Node {
    enum AliasKind { Current, Named, Computed } kind = Named;
    std::string alias;  // upper case, for Named
    NodeP aliasExpr;    // for Computed
    std::string fieldName;
    NodeP fieldExpr;  // field name computed at run time
    FieldCache cache;

    int resolveArea(FieldAccess* fa, std::string& aliasText) {
        if (kind == Current) {
            aliasText = "FIELD";
            return fa->currentArea();
        }
        if (kind == Named) {
            aliasText = alias;
        } else {
            Value a = aliasExpr->eval();
            if (a.isNum()) {
                int64_t n = 0;
                toInt(a, n);
                aliasText = std::to_string(n);
                return n > 0 && n < 65536 ? static_cast<int>(n) : 0;
            }
            if (!a.isString()) {
                raiseArgError(1065, "->", {a});
                return 0;
            }
            aliasText = upper(a.asString());
            while (!aliasText.empty() && aliasText.back() == ' ') aliasText.pop_back();
        }
        return fa->areaOf(aliasText);
    }

    bool locate(FieldAccess*& fa, int& area, int& idx, std::string& fname) {
        for (int attempt = 1;; ++attempt) {
            int r = tryLocate(fa, area, idx, fname, attempt);
            if (r >= 0) return r == 1;
        }
    }
    // 1 found, 0 substituted, -1 retry.
    int tryLocate(FieldAccess*& fa, int& area, int& idx, std::string& fname, int attempt) {
        fa = fieldAccess();
        std::string aliasText;
        area = fa ? resolveArea(fa, aliasText) : 0;
        if (fieldExpr) {
            Value f = fieldExpr->eval();
            fname = upper(f.asString());
            while (!fname.empty() && fname.back() == ' ') fname.pop_back();
        } else {
            fname = fieldName;
        }
        if (!fa || area <= 0) {
            Error e = makeError(gen::NoAlias, 1002, "Alias no existe", aliasText + "->" + fname);
            e.canSubstitute = true;
            e.canRetry = true;
            e.tries = attempt;
            RaiseResult r = raise(std::move(e));
            if (r.retry) return -1;
            subst = std::move(r.value);
            return 0;
        }
        idx = fieldExpr ? fa->fieldIndex(area, fname) : cache.lookup(fa, area, fname);
        if (idx < 0) {
            Error e = makeError(gen::NoField, 1003, "Campo no existe", aliasText + "->" + fname);
            e.canSubstitute = true;
            subst = raise(std::move(e)).value;
            return 0;
        }
        return 1;
    }
    Value subst;

    Value eval() override {
        FieldAccess* fa;
        int area, idx;
        std::string fname;
        if (!locate(fa, area, idx, fname)) return std::move(subst);
        return fa->getField(area, idx);
    }
    bool isLvalue() const override { return true; }
    void assign(const Value& v) override {
        FieldAccess* fa;
        int area, idx;
        std::string fname;
        if (!locate(fa, area, idx, fname)) return;
        fa->putField(area, idx, v);
    }
};

// alias->(expression): evaluates the expression with that area selected,
// through the engine's DBSELECTAREA, and selects the previous area again.
struct AliasExprNode : Node {
    NodeP aliasNode;  // a FieldNode used only to resolve the area
    NodeP expr;
    Value eval() override {
        auto* fn = static_cast<FieldNode*>(aliasNode.get());
        FieldAccess* fa = fieldAccess();
        std::string aliasText;
        int area = fa ? fn->resolveArea(fa, aliasText) : 0;
        if (area <= 0) {
            Error e = makeError(gen::NoAlias, 1002, "Alias no existe", aliasText);
            e.canSubstitute = true;
            return raise(std::move(e)).value;
        }
        int old = fa->currentArea();
        callFunction("DBSELECTAREA", ArgList{Value::integer(area)});
        struct Back {
            int area;
            ~Back() {
                try {
                    callFunction("DBSELECTAREA", ArgList{Value::integer(area)});
                } catch (...) {
                }
            }
        } back{old};
        return expr->eval();
    }
};

struct ArrayLitNode : Node {
    std::vector<NodeP> items;
    Value eval() override {
        auto a = std::make_shared<Array>();
        a->items.reserve(items.size());
        for (auto& n : items) a->items.push_back(n ? n->eval() : Value());
        return Value::array(std::move(a));
    }
};

struct IndexNode : Node {
    NodeP base, index;
    Value* element(Value& container, int subCode) {
        Array* a = container.arrayPtr();
        Value iv = index->eval();
        int64_t i = 0;
        if (!a || !toInt(iv, i) || i < 1 || i > static_cast<int64_t>(a->items.size())) {
            Error e = makeError(a ? gen::Bound : gen::Arg, subCode,
                                a ? "Error de rango en la matriz" : "No es una matriz", "[]");
            e.args = {container, iv};
            e.hasArgs = true;
            e.canSubstitute = true;
            subst = raise(std::move(e)).value;
            return nullptr;
        }
        return &a->items[static_cast<size_t>(i - 1)];
    }
    Value subst;
    Value eval() override {
        Value c = base->eval();
        Value* e = element(c, 1132);
        if (!e) return std::move(subst);
        return *e;  // `c` keeps the array alive
    }
    bool isLvalue() const override { return true; }
    void assign(const Value& v) override {
        Value c = base->eval();
        if (Value* e = element(c, 1133)) *e = v;
    }
};

// Evaluates call arguments into a small inline buffer.
struct ArgBuffer {
    // Most calls take a few arguments: those live on the stack, and only as
    // many values as there are arguments are constructed.
    static constexpr size_t kInline = 4;
    alignas(Value) unsigned char raw[kInline * sizeof(Value)];
    std::vector<Value> vals;
    std::vector<std::shared_ptr<Value>> refs;
    Value* v;
    std::shared_ptr<Value>* r = nullptr;
    size_t n;
    ArgBuffer(size_t count, bool withRefs) : n(count) {
        if (count > kInline) {
            vals.resize(count);
            v = vals.data();
        } else {
            v = reinterpret_cast<Value*>(raw);
            for (size_t i = 0; i < count; ++i) new (v + i) Value();
        }
        if (withRefs) {
            refs.resize(count);
            r = refs.data();
        }
    }
    ~ArgBuffer() {
        if (n <= kInline)
            for (size_t i = 0; i < n; ++i) v[i].~Value();
    }
    ArgBuffer(const ArgBuffer&) = delete;
    ArgBuffer& operator=(const ArgBuffer&) = delete;
};

struct ArgSpec {
    NodeP node;  // nullptr = omitted argument (nil)
    bool byRef = false;
};

bool hasRefs(const std::vector<ArgSpec>& args) {
    for (auto& a : args)
        if (a.byRef) return true;
    return false;
}

// Fills the buffer; by-reference locals get a temporary box written back by
// writeBack().
void evalArgs(std::vector<ArgSpec>& specs, ArgBuffer& buf) {
    for (size_t i = 0; i < specs.size(); ++i) {
        ArgSpec& s = specs[i];
        if (!s.node) continue;
        if (s.byRef) {
            std::shared_ptr<Value> box = s.node->refBox();
            if (!box) box = std::make_shared<Value>(s.node->eval());
            buf.v[i] = *box;
            buf.r[i] = std::move(box);
        } else {
            buf.v[i] = s.node->eval();
        }
    }
}

void writeBack(std::vector<ArgSpec>& specs, ArgBuffer& buf) {
    for (size_t i = 0; i < specs.size(); ++i) {
        ArgSpec& s = specs[i];
        if (s.byRef && s.node && !s.node->refBox() && buf.r[i]) s.node->assign(*buf.r[i]);
    }
}

struct CallNode : Node {
    std::string name;
    std::vector<ArgSpec> args;
    bool refs = false;
    const FunctionEntry* fn = nullptr;
    uint64_t gen = 0;

    Value eval() override {
        DepthGuard depth;
        chargeWork(1);
        uint64_t g = functionsGeneration();
        if (!fn || gen != g) {
            fn = findFunction(name);
            gen = g;
        }
        ArgBuffer buf(args.size(), refs);
        evalArgs(args, buf);
        for (int attempt = 1;; ++attempt) {
            if (fn) {
                Args a(buf.v, buf.r, buf.n);
                Value r = fn->fn(a);
                if (refs) writeBack(args, buf);
                return r;
            }
            Error e = makeError(gen::NoFunc, 1001, "Funci\xF3n no definida", name);
            e.canSubstitute = true;
            e.canRetry = true;
            e.tries = attempt;
            RaiseResult rr = raise(std::move(e));
            if (!rr.retry) return rr.value;
            fn = findFunction(name);
            gen = functionsGeneration();
        }
    }
};

std::string typeName(const Value& v) {
    switch (v.type()) {
        case 'C':
            return "CHARACTER";
        case 'M':
            return "MEMO";
        case 'N':
            return "NUMERIC";
        case 'D':
            return "DATE";
        case 'L':
            return "LOGICAL";
        case 'A':
            return "ARRAY";
        case 'B':
            return "BLOCK";
        case 'U':
            return "NIL";
        default:
            return v.toText();
    }
}

struct SendNode : Node {
    NodeP target;
    std::string message;  // upper case
    std::vector<ArgSpec> args;
    Value eval() override {
        DepthGuard depth;
        chargeWork(1);
        Value obj = target->eval();
        bool withRefs = hasRefs(args);
        ArgBuffer buf(args.size(), withRefs);
        evalArgs(args, buf);
        Args a(buf.v, buf.r, buf.n);
        Value result;
        Object* o = obj.objectPtr();
        if (o && o->send(message, a, result)) {
            if (withRefs) writeBack(args, buf);
            return result;
        }
        Error e = makeError(gen::NoMethod, 1004, "M\xE9todo no exportado",
                            (o ? upper(o->className()) : typeName(obj)) + ":" + message);
        e.args = {obj};
        e.hasArgs = true;
        e.canSubstitute = true;
        return raise(std::move(e)).value;
    }
    bool isLvalue() const override { return args.empty(); }
    void assign(const Value& v) override {
        Value obj = target->eval();
        Object* o = obj.objectPtr();
        if (o && o->assign(message, v)) return;
        Error e = makeError(gen::NoMethod, 1005, "Variable no exportada",
                            (o ? upper(o->className()) : typeName(obj)) + ":" + message);
        e.args = {obj, v};
        e.hasArgs = true;
        e.canSubstitute = true;
        raise(std::move(e));
    }
};

struct IifNode : Node {
    NodeP cond, a, b;
    Value eval() override {
        Value c = cond->eval();
        if (!c.isLogical()) {
            c = raiseArgError(1066, "IIF", {c}, "Argumento no l\xF3gico");
            if (!c.isLogical()) return Value();
        }
        if (c.asLogical()) return a ? a->eval() : Value();
        return b ? b->eval() : Value();
    }
};

struct BinNode : Node {
    BinOp op;
    NodeP l, r;
    Value eval() override {
        Value a = l->eval();
        Value b = r->eval();
        return applyBinaryMove(op, std::move(a), b);
    }
};

// a + b - c + ...: a chain of additions and subtractions evaluated left to
// right like nested operators, but a text result grows in one buffer
// reserved once (index keys are such chains).
struct AddChainNode : Node {
    std::vector<NodeP> operands;
    std::vector<BinOp> ops;  // ops[i] joins operands[i] and operands[i + 1]
    Value eval() override {
        Value acc = operands[0]->eval();
        bool reserved = false;
        for (size_t i = 1; i < operands.size(); ++i) {
            Value b = operands[i]->eval();
            if (!reserved && acc.isString() && b.isString()) {
                reserved = true;
                size_t want =
                    acc.asString().size() + b.asString().size() + 16 * (operands.size() - 1 - i);
                if (want <= limits().maxString) acc.mutableString().reserve(want);
            }
            acc = applyBinaryMove(ops[i - 1], std::move(acc), b);
        }
        return acc;
    }
};

struct AndOrNode : Node {
    bool isAnd;
    NodeP l, r;
    Value eval() override {
        Value a = l->eval();
        if (!a.isLogical())
            return raiseArgError(isAnd ? 1078 : 1079, isAnd ? ".AND." : ".OR.", {a});
        if (isAnd != a.asLogical()) return a;  // short-circuit
        Value b = r->eval();
        if (!b.isLogical())
            return raiseArgError(isAnd ? 1078 : 1079, isAnd ? ".AND." : ".OR.", {a, b});
        return b;
    }
};

struct NotNode : Node {
    NodeP e;
    Value eval() override {
        Value a = e->eval();
        if (!a.isLogical()) return raiseArgError(1077, ".NOT.", {a});
        return Value::logical(!a.asLogical());
    }
};

struct NegNode : Node {
    NodeP e;
    Value eval() override { return negate(e->eval()); }
};

struct AssignNode : Node {
    NodeP target, value;
    bool compound = false;
    BinOp op = BinOp::Add;
    Value eval() override {
        Value v = value->eval();
        if (compound) v = applyBinary(op, target->eval(), v);
        target->assign(v);
        return v;
    }
};

// ++x, x++, --x, x--: numbers step by one, dates by a day.
struct IncNode : Node {
    NodeP target;
    bool increment = true;
    bool prefix = true;
    Value eval() override {
        Value old = target->eval();
        Value nv = applyBinary(increment ? BinOp::Add : BinOp::Sub, old, Value::num(1, 10, 0));
        target->assign(nv);
        return prefix ? nv : old;
    }
};

struct ListNode : Node {
    std::vector<NodeP> items;
    Value eval() override {
        Value v;
        for (auto& n : items) v = n ? n->eval() : Value();
        return v;
    }
};

}  // namespace ev

namespace ev {
struct BlockNode : Node {
    int nparams = 0;
    std::vector<NodeP> body;
    std::string text;
    Value eval() override {
        auto b = std::make_shared<Block>();
        if (g_ev.owner) b->owner = *g_ev.owner;
        b->node = this;
        b->env = g_ev.env;
        return Value::block(std::move(b));
    }
};

Value runBlock(const Block& b, Args& args) {
    DepthGuard depth;
    chargeWork(1);
    auto env = std::make_shared<Env>();
    env->vars.resize(static_cast<size_t>(b.node->nparams));
    for (size_t i = 0; i < env->vars.size() && i < args.size(); ++i) env->vars[i] = args[i];
    env->parent = b.env;
    OwnerSwap swap(&b.owner, std::move(env));
    Value r;
    for (auto& n : b.node->body) r = n ? n->eval() : Value();
    return r;
}

// ----------------------------------------------------------- macro cache
// Texts evaluated at run time (macros, evalText) stay compiled for the next
// time; the cache is bounded and simply emptied when full.
std::unordered_map<std::string, std::shared_ptr<const CompiledExpr>>& macroCache() {
    static std::unordered_map<std::string, std::shared_ptr<const CompiledExpr>> c;
    return c;
}
uint64_t g_macroGen = 0;

std::shared_ptr<const CompiledExpr> compileShared(std::string_view text);

std::shared_ptr<const CompiledExpr> cachedCompile(std::string_view text) {
    auto& c = macroCache();
    if (g_macroGen != runtimeGeneration()) {
        c.clear();
        g_macroGen = runtimeGeneration();
    }
    std::string key(text);
    auto it = c.find(key);
    if (it != c.end()) return it->second;
    auto ce = compileShared(text);
    if (key.size() > 4096) return ce;  // long texts are not worth keeping
    if (c.size() >= 512) c.clear();
    c.emplace(std::move(key), ce);
    return ce;
}

Value evalCompiled(const std::shared_ptr<const CompiledExpr>& ce) {
    EntryGuard entry;
    OwnerSwap swap(&ce, nullptr);
    return ce->root->eval();
}

struct MacroNode : Node {
    NodeP source;  // yields the text
    std::shared_ptr<const CompiledExpr> compiledFor(std::string& text) {
        Value t = source->eval();
        if (!t.isString()) {
            t = raiseArgError(1065, "&", {t}, "El operador & requiere un texto");
            if (!t.isString()) return nullptr;
        }
        text = t.asString();
        return cachedCompile(text);
    }
    Value eval() override {
        DepthGuard depth;
        chargeWork(1);
        std::string text;
        auto ce = compiledFor(text);
        if (!ce) return Value();
        OwnerSwap swap(&ce, nullptr);
        return ce->root->eval();
    }
    bool isLvalue() const override { return true; }
    void assign(const Value& v) override {
        DepthGuard depth;
        std::string text;
        auto ce = compiledFor(text);
        if (!ce) return;
        if (!ce->root->isLvalue())
            raiseBreak(makeError(gen::Syntax, 1449, "Asignaci\xF3n no v\xE1lida", shortText(text)));
        OwnerSwap swap(&ce, nullptr);
        ce->root->assign(v);
    }
};

// ------------------------------------------------------------------ lexer
enum class Tok { End, Num, Str, Ident, Op };

struct Token {
    Tok kind = Tok::End;
    std::string text;  // identifier (upper case), operator, or string contents
    double num = 0;
    int dec = 0;
    int intDigits = 0;
    size_t pos = 0;
    size_t end = 0;
};

struct SyntaxError {
    std::string what;
    size_t pos;
};

bool identStart(unsigned char c) {
    return c == '_' || isAlpha1252(c);
}
bool identChar(unsigned char c) {
    return identStart(c) || (c >= '0' && c <= '9');
}

class Lexer {
  public:
    explicit Lexer(std::string_view s) : src_(s) {}

    Token next() {
        skipBlanks();
        Token t;
        t.pos = pos_;
        if (pos_ >= src_.size()) {
            t.end = pos_;
            return t;
        }
        unsigned char c = static_cast<unsigned char>(src_[pos_]);
        if (c >= '0' && c <= '9') return number(t);
        if (c == '.' && pos_ + 1 < src_.size() && src_[pos_ + 1] >= '0' && src_[pos_ + 1] <= '9')
            return number(t);
        if (c == '.') {
            static const char* words[] = {".AND.", ".OR.", ".NOT.", ".T.", ".F.", ".Y.", ".N."};
            for (const char* w : words) {
                size_t n = std::strlen(w);
                if (pos_ + n <= src_.size() && upper(src_.substr(pos_, n)) == w) {
                    t.kind = Tok::Op;
                    t.text = w;
                    if (t.text == ".Y.") t.text = ".T.";
                    if (t.text == ".N.") t.text = ".F.";
                    pos_ += n;
                    t.end = pos_;
                    return t;
                }
            }
        }
        if (c == '"' || c == '\'') {
            size_t close = src_.find(static_cast<char>(c), pos_ + 1);
            if (close == std::string_view::npos) throw SyntaxError{"texto sin cerrar", pos_};
            t.kind = Tok::Str;
            t.text = std::string(src_.substr(pos_ + 1, close - pos_ - 1));
            pos_ = close + 1;
            t.end = pos_;
            return t;
        }
        if (identStart(c)) {
            size_t b = pos_;
            while (pos_ < src_.size() && identChar(static_cast<unsigned char>(src_[pos_]))) ++pos_;
            t.kind = Tok::Ident;
            t.text = upper(src_.substr(b, pos_ - b));
            t.end = pos_;
            return t;
        }
        static const char* ops2[] = {"**", ":=", "+=", "-=", "*=", "/=", "%=", "==",
                                     "!=", "<>", "<=", ">=", "->", "++", "--", "::"};
        for (const char* o : ops2) {
            if (pos_ + 2 <= src_.size() && src_[pos_] == o[0] && src_[pos_ + 1] == o[1]) {
                t.kind = Tok::Op;
                t.text = o;
                pos_ += 2;
                t.end = pos_;
                return t;
            }
        }
        if (std::strchr("+-*/%^=<>#$!()[]{},|:@&.", c) && c != 0) {
            t.kind = Tok::Op;
            t.text = std::string(1, static_cast<char>(c));
            ++pos_;
            t.end = pos_;
            return t;
        }
        throw SyntaxError{"car\xE1\x63ter no v\xE1lido", pos_};
    }

    // Reads a [bracketed] text starting at `at` (the '[').
    Token bracketString(size_t at) {
        size_t close = src_.find(']', at + 1);
        if (close == std::string_view::npos) throw SyntaxError{"texto sin cerrar", at};
        Token t;
        t.kind = Tok::Str;
        t.pos = at;
        t.text = std::string(src_.substr(at + 1, close - at - 1));
        pos_ = close + 1;
        t.end = pos_;
        return t;
    }

    void rewind(size_t p) { pos_ = p; }
    std::string_view source() const { return src_; }

  private:
    void skipBlanks() {
        while (pos_ < src_.size() &&
               (src_[pos_] == ' ' || src_[pos_] == '\t' || src_[pos_] == '\r' ||
                src_[pos_] == '\n' || src_[pos_] == ';'))
            ++pos_;
    }

    Token number(Token& t) {
        size_t b = pos_;
        int intDigits = 0, dec = 0;
        while (pos_ < src_.size() && src_[pos_] >= '0' && src_[pos_] <= '9') {
            ++pos_;
            ++intDigits;
        }
        if (pos_ < src_.size() && src_[pos_] == '.' &&
            !(pos_ + 1 < src_.size() && identStart(static_cast<unsigned char>(src_[pos_ + 1])))) {
            ++pos_;
            while (pos_ < src_.size() && src_[pos_] >= '0' && src_[pos_] <= '9') {
                ++pos_;
                ++dec;
            }
        }
        t.kind = Tok::Num;
        std::string digits(src_.substr(b, pos_ - b));
        t.num = std::strtod(digits.c_str(), nullptr);
        t.dec = dec;
        t.intDigits = intDigits;
        t.end = pos_;
        return t;
    }

    std::string_view src_;
    size_t pos_ = 0;
};

// ----------------------------------------------------------------- parser
class Parser {
  public:
    explicit Parser(std::string_view text, CompiledExpr& out) : lex_(text), out_(out) { advance(); }

    NodeP parseAll() {
        NodeP n = parseList();
        if (tok_.kind != Tok::End) fail("sobra texto");
        return n;
    }

  private:
    Lexer lex_;
    CompiledExpr& out_;
    Token tok_;
    int depth_ = 0;
    std::vector<std::vector<std::string>> scopes_;  // block parameters

    [[noreturn]] void fail(const std::string& what) { throw SyntaxError{what, tok_.pos}; }

    void advance() { tok_ = lex_.next(); }
    bool isOp(const char* o) const { return tok_.kind == Tok::Op && tok_.text == o; }
    bool accept(const char* o) {
        if (isOp(o)) {
            advance();
            return true;
        }
        return false;
    }
    void expect(const char* o) {
        if (!accept(o)) fail(std::string("se esperaba '") + o + "'");
    }

    struct Nest {
        Parser& p;
        explicit Nest(Parser& pp) : p(pp) {
            if (++p.depth_ > limits().maxDepth)
                throw SyntaxError{"anidamiento excesivo", p.tok_.pos};
            uintptr_t here = stackHere();
            if (g_ev.stackBase && here < g_ev.stackBase && g_ev.stackBase - here > kMaxStack)
                throw SyntaxError{"anidamiento excesivo", p.tok_.pos};
        }
        ~Nest() { --p.depth_; }
    };

    NodeP parseList() {
        NodeP first = parseExpr();
        if (!isOp(",")) return first;
        auto list = std::make_unique<ListNode>();
        list->items.push_back(std::move(first));
        while (accept(",")) list->items.push_back(parseExpr());
        return list;
    }

    NodeP parseExpr() {
        Nest nest(*this);
        NodeP lhs = parseOr();
        static const std::pair<const char*, BinOp> compound[] = {{"+=", BinOp::Add},
                                                                 {"-=", BinOp::Sub},
                                                                 {"*=", BinOp::Mul},
                                                                 {"/=", BinOp::Div},
                                                                 {"%=", BinOp::Mod}};
        if (isOp(":=")) {
            if (!lhs->isLvalue()) fail("asignaci\xF3n a algo que no es una variable");
            advance();
            auto a = std::make_unique<AssignNode>();
            a->target = std::move(lhs);
            a->value = parseExpr();
            out_.hasAssign = true;
            return a;
        }
        for (auto& [text, op] : compound) {
            if (isOp(text)) {
                if (!lhs->isLvalue()) fail("asignaci\xF3n a algo que no es una variable");
                advance();
                auto a = std::make_unique<AssignNode>();
                a->target = std::move(lhs);
                a->value = parseExpr();
                a->compound = true;
                a->op = op;
                out_.hasAssign = true;
                return a;
            }
        }
        return lhs;
    }

    NodeP parseOr() {
        NodeP l = parseAnd();
        while (isOp(".OR.")) {
            advance();
            auto n = std::make_unique<AndOrNode>();
            n->isAnd = false;
            n->l = std::move(l);
            n->r = parseAnd();
            l = std::move(n);
        }
        return l;
    }

    NodeP parseAnd() {
        NodeP l = parseNot();
        while (isOp(".AND.")) {
            advance();
            auto n = std::make_unique<AndOrNode>();
            n->isAnd = true;
            n->l = std::move(l);
            n->r = parseNot();
            l = std::move(n);
        }
        return l;
    }

    NodeP parseNot() {
        if (isOp(".NOT.") || isOp("!")) {
            Nest nest(*this);
            advance();
            auto n = std::make_unique<NotNode>();
            n->e = parseNot();
            return n;
        }
        return parseRel();
    }

    bool relOp(BinOp& op) {
        if (tok_.kind != Tok::Op) return false;
        const std::string& t = tok_.text;
        if (t == "=")
            op = BinOp::Eq;
        else if (t == "==")
            op = BinOp::ExactEq;
        else if (t == "!=" || t == "<>" || t == "#")
            op = BinOp::Ne;
        else if (t == "<")
            op = BinOp::Lt;
        else if (t == "<=")
            op = BinOp::Le;
        else if (t == ">")
            op = BinOp::Gt;
        else if (t == ">=")
            op = BinOp::Ge;
        else if (t == "$")
            op = BinOp::In;
        else
            return false;
        return true;
    }

    NodeP binary(BinOp op, NodeP l, NodeP r) {
        auto n = std::make_unique<BinNode>();
        n->op = op;
        n->l = std::move(l);
        n->r = std::move(r);
        return n;
    }

    NodeP parseRel() {
        NodeP l = parseAdd();
        BinOp op;
        while (relOp(op)) {
            advance();
            l = binary(op, std::move(l), parseAdd());
        }
        return l;
    }

    NodeP parseAdd() {
        NodeP first = parseMul();
        if (!isOp("+") && !isOp("-")) return first;
        auto chain = std::make_unique<AddChainNode>();
        chain->operands.push_back(std::move(first));
        while (isOp("+") || isOp("-")) {
            chain->ops.push_back(tok_.text == "+" ? BinOp::Add : BinOp::Sub);
            advance();
            chain->operands.push_back(parseMul());
        }
        if (chain->operands.size() == 2)
            return binary(chain->ops[0], std::move(chain->operands[0]),
                          std::move(chain->operands[1]));
        return chain;
    }

    NodeP parseMul() {
        NodeP l = parsePow();
        while (isOp("*") || isOp("/") || isOp("%")) {
            BinOp op = tok_.text == "*" ? BinOp::Mul : tok_.text == "/" ? BinOp::Div : BinOp::Mod;
            advance();
            l = binary(op, std::move(l), parsePow());
        }
        return l;
    }

    NodeP parsePow() {
        NodeP l = parseUnary();
        while (isOp("**") || isOp("^")) {
            advance();
            l = binary(BinOp::Pow, std::move(l), parseUnary());
        }
        return l;
    }

    NodeP parseUnary() {
        Nest nest(*this);
        if (accept("-")) {
            auto n = std::make_unique<NegNode>();
            n->e = parseUnary();
            return n;
        }
        if (accept("+")) return parseUnary();
        if (isOp("++") || isOp("--")) {
            bool inc = tok_.text == "++";
            advance();
            auto n = std::make_unique<IncNode>();
            n->target = parseUnary();
            if (!n->target->isLvalue()) fail("++/-- requiere una variable");
            n->increment = inc;
            out_.hasAssign = true;
            return n;
        }
        if (isOp(".NOT.") || isOp("!")) return parseNot();
        return parsePostfix(parsePrimary());
    }

    NodeP parsePostfix(NodeP n) {
        for (;;) {
            if (isOp("[")) {
                advance();
                for (;;) {
                    auto ix = std::make_unique<IndexNode>();
                    ix->base = std::move(n);
                    ix->index = parseExpr();
                    n = std::move(ix);
                    if (!accept(",")) break;
                }
                expect("]");
            } else if ((isOp("++") || isOp("--")) && n->isLvalue()) {
                auto inc = std::make_unique<IncNode>();
                inc->increment = tok_.text == "++";
                inc->prefix = false;
                inc->target = std::move(n);
                advance();
                out_.hasAssign = true;
                n = std::move(inc);
            } else if (isOp(":") || isOp("::")) {
                advance();
                if (tok_.kind != Tok::Ident) fail("se esperaba un mensaje");
                auto s = std::make_unique<SendNode>();
                s->target = std::move(n);
                s->message = tok_.text;
                advance();
                if (accept("(")) s->args = parseArgs();
                out_.hasCall = true;
                n = std::move(s);
            } else {
                return n;
            }
        }
    }

    std::vector<ArgSpec> parseArgs() {
        // After '(' up to and including ')'. Empty arguments are nil.
        std::vector<ArgSpec> args;
        if (accept(")")) return args;
        for (;;) {
            ArgSpec a;
            if (isOp(",") || isOp(")")) {
                // omitted
            } else if (accept("@")) {
                a.byRef = true;
                a.node = parseExpr();
                if (!a.node->isLvalue()) fail("@ requiere una variable");
            } else {
                a.node = parseExpr();
            }
            args.push_back(std::move(a));
            if (accept(")")) return args;
            expect(",");
        }
    }

    bool findLocal(const std::string& name, int& up, int& index) {
        for (int s = static_cast<int>(scopes_.size()) - 1; s >= 0; --s) {
            auto& v = scopes_[static_cast<size_t>(s)];
            for (size_t i = 0; i < v.size(); ++i) {
                if (v[i] == name) {
                    up = static_cast<int>(scopes_.size()) - 1 - s;
                    index = static_cast<int>(i);
                    return true;
                }
            }
        }
        return false;
    }

    // After "ALIAS->" : the field part.
    NodeP fieldPart(std::unique_ptr<FieldNode> f) {
        if (tok_.kind == Tok::Ident) {
            f->fieldName = tok_.text;
            advance();
            return f;
        }
        if (isOp("&")) {
            advance();
            f->fieldExpr = macroSource();
            out_.hasMacro = true;
            return f;
        }
        if (isOp("(")) {
            advance();
            auto n = std::make_unique<AliasExprNode>();
            n->expr = parseList();
            expect(")");
            n->aliasNode = std::move(f);
            out_.hasCall = true;
            return n;
        }
        fail("se esperaba un campo");
    }

    // After '&': the expression that yields the macro's text.
    NodeP macroSource() {
        if (tok_.kind == Tok::Ident) {
            auto n = std::make_unique<MemvarNode>(tok_.text);
            size_t end = tok_.end;
            advance();
            // An optional '.' right after the name ends the macro (&cVar.).
            if (isOp(".") && tok_.pos == end) advance();
            return n;
        }
        if (accept("(")) {
            NodeP e = parseList();
            expect(")");
            return e;
        }
        fail("se esperaba un nombre tras &");
    }

    NodeP parsePrimary() {
        Nest nest(*this);
        switch (tok_.kind) {
            case Tok::End:
                fail("expresi\xF3n incompleta");
            case Tok::Num: {
                double v = tok_.num;
                int dec = tok_.dec;
                int intw = std::max(10, tok_.intDigits);
                advance();
                return std::make_unique<ConstNode>(Value::num(v, intw + (dec ? dec + 1 : 0), dec));
            }
            case Tok::Str: {
                std::string s = tok_.text;
                advance();
                return std::make_unique<ConstNode>(Value::str(std::move(s)));
            }
            case Tok::Ident:
                return identifier();
            case Tok::Op:
                break;
        }
        if (isOp("[")) {
            tok_ = lex_.bracketString(tok_.pos);
            std::string s = tok_.text;
            advance();
            return std::make_unique<ConstNode>(Value::str(std::move(s)));
        }
        if (isOp(".T.") || isOp(".F.")) {
            bool b = tok_.text == ".T.";
            advance();
            return std::make_unique<ConstNode>(Value::logical(b));
        }
        if (accept("&")) {
            auto m = std::make_unique<MacroNode>();
            m->source = macroSource();
            out_.hasMacro = true;
            if (isOp("->")) {
                advance();
                auto f = std::make_unique<FieldNode>();
                f->kind = FieldNode::Computed;
                f->aliasExpr = std::move(m->source);
                return fieldPart(std::move(f));
            }
            return m;
        }
        if (accept("(")) {
            NodeP e = parseList();
            expect(")");
            if (isOp("->")) {
                advance();
                auto f = std::make_unique<FieldNode>();
                f->kind = FieldNode::Computed;
                f->aliasExpr = std::move(e);
                return fieldPart(std::move(f));
            }
            return e;
        }
        if (accept("{")) {
            if (accept("|")) return blockLiteral();
            if (isOp("||")) fail("bloque mal formado");
            auto a = std::make_unique<ArrayLitNode>();
            if (accept("}")) return a;
            for (;;) {
                if (isOp(",") || isOp("}"))
                    a->items.push_back(nullptr);
                else
                    a->items.push_back(parseExpr());
                if (accept("}")) return a;
                expect(",");
            }
        }
        fail("expresi\xF3n no v\xE1lida");
    }

    NodeP blockLiteral() {
        size_t start = tok_.pos;
        std::vector<std::string> params;
        if (!accept("|")) {
            for (;;) {
                if (tok_.kind != Tok::Ident) fail("se esperaba un par\xE1metro");
                params.push_back(tok_.text);
                advance();
                if (accept("|")) break;
                expect(",");
            }
        }
        auto b = std::make_unique<BlockNode>();
        b->nparams = static_cast<int>(params.size());
        scopes_.push_back(std::move(params));
        b->body.push_back(parseExpr());
        while (accept(",")) b->body.push_back(parseExpr());
        scopes_.pop_back();
        size_t end = tok_.end;
        expect("}");
        std::string_view src = lex_.source();
        if (start >= 2 && end <= src.size())
            b->text = std::string(src.substr(start - 2, end - start + 2));
        return b;
    }

    NodeP identifier() {
        std::string name = tok_.text;
        size_t nameEnd = tok_.end;
        advance();
        // The old program has functions whose names end in '$' (FINAL$):
        // NAME$( is such a call when that function exists, else '$' is the
        // substring operator.
        if (isOp("$") && tok_.pos == nameEnd && findFunction(name + "$")) {
            Token dollar = tok_;
            Token next = lex_.next();
            if (next.kind == Tok::Op && next.text == "(") {
                name += "$";
                tok_ = next;
            } else {
                lex_.rewind(dollar.end);
                tok_ = dollar;
            }
        }
        if (isOp("->")) {
            advance();
            if (name == "M" || name == "MEMVAR") {
                if (tok_.kind == Tok::Ident) {
                    auto n = std::make_unique<MemvarNode>(tok_.text);
                    advance();
                    return n;
                }
                if (accept("&")) {
                    auto m = std::make_unique<MacroNode>();
                    m->source = macroSource();
                    out_.hasMacro = true;
                    return m;
                }
                fail("se esperaba una variable");
            }
            auto f = std::make_unique<FieldNode>();
            if (name == "FIELD" || name == "_FIELD") {
                f->kind = FieldNode::Current;
            } else {
                f->kind = FieldNode::Named;
                f->alias = name;
            }
            return fieldPart(std::move(f));
        }
        if (isOp("(")) {
            advance();
            std::vector<ArgSpec> args = parseArgs();
            if (name == "IIF" || name == "IF") {
                if (args.size() < 2 || args.size() > 3 || !args[0].node)
                    fail("IIF requiere tres argumentos");
                auto n = std::make_unique<IifNode>();
                n->cond = std::move(args[0].node);
                n->a = std::move(args[1].node);
                if (args.size() == 3) n->b = std::move(args[2].node);
                return n;
            }
            const FunctionEntry* fe = findFunction(name);
            if (!fe || !fe->pure) out_.hasCall = true;
            auto c = std::make_unique<CallNode>();
            c->name = name;
            c->refs = hasRefs(args);
            c->args = std::move(args);
            return c;
        }
        if (name == "NIL") return std::make_unique<ConstNode>(Value());
        int up = 0, index = 0;
        if (findLocal(name, up, index)) return std::make_unique<LocalNode>(up, index);
        return std::make_unique<NameNode>(name);
    }
};

std::shared_ptr<const CompiledExpr> compileShared(std::string_view text) {
    EntryGuard entry;
    auto ce = std::make_shared<CompiledExpr>();
    ce->text = std::string(text);
    try {
        if (text.size() > limits().maxString) throw SyntaxError{"texto demasiado largo", 0};
        Parser p(ce->text, *ce);
        ce->root = p.parseAll();
    } catch (const SyntaxError& se) {
        Error e = makeError(
            gen::Syntax, 1449,
            "Error de sintaxis: " + se.what + " (posici\xF3n " + std::to_string(se.pos + 1) + ")",
            shortText(text));
        raiseBreak(std::move(e));
    }
    return ce;
}

}  // namespace ev

// ------------------------------------------------------------- public API
Value Expr::eval() const {
    if (!c_) return Value();
    return evalCompiled(c_);
}

const std::string& Expr::text() const {
    static const std::string empty;
    return c_ ? c_->text : empty;
}

bool Expr::hasSideEffects() const {
    return c_ && (c_->hasCall || c_->hasMacro || c_->hasAssign);
}

Expr compile(std::string_view text) {
    Expr e;
    e.c_ = compileShared(text);
    return e;
}

Value evalText(std::string_view text) {
    EntryGuard entry;
    DepthGuard depth;
    return evalCompiled(cachedCompile(text));
}

void assignText(std::string_view target, const Value& v) {
    EntryGuard entry;
    DepthGuard depth;
    auto ce = cachedCompile(target);
    if (!ce->root->isLvalue())
        raiseBreak(makeError(gen::Syntax, 1449, "Asignaci\xF3n no v\xE1lida", shortText(target)));
    OwnerSwap swap(&ce, nullptr);
    ce->root->assign(v);
}

std::string typeOfText(std::string_view text) {
    std::shared_ptr<const CompiledExpr> ce;
    try {
        QuietErrors quiet;
        ce = cachedCompile(text);
    } catch (const Break&) {
        return "UE";
    }
    if (ce->hasCall || ce->hasAssign) return "UI";
    try {
        QuietErrors quiet;
        Value v = evalCompiled(ce);
        return std::string(1, v.type());
    } catch (const Break&) {
        return "U";
    }
}

Value compileBlock(std::string_view blockText) {
    Expr e = compile(blockText);
    Value v = e.eval();
    if (!v.isBlock())
        return raiseArgError(1103, "EVAL", {v}, "El texto no es un bloque de c\xF3\x64igo");
    return v;
}

Value evalBlock(const Value& block, Args& args) {
    Block* b = block.blockPtr();
    if (!b || !b->node)
        return raiseArgError(1004, "EVAL", {block}, "No es un bloque de c\xF3\x64igo");
    EntryGuard entry;
    BlockPtr keep = block.asBlock();
    return runBlock(*keep, args);
}

Value evalBlock(const Value& block, ArgList args) {
    Args a = args.args();
    return evalBlock(block, a);
}

}  // namespace xb
