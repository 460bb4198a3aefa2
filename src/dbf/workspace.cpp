#include "dbf/workspace.h"

#include <cctype>

#include "dbf/dbffuncs.h"
#include "dbf/paths.h"
#include "xbase/error.h"

namespace dbf {

namespace {

std::string upper(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return r;
}

std::string trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && s[b] == ' ') ++b;
    while (e > b && s[e - 1] == ' ') --e;
    return std::string(s.substr(b, e - b));
}

// The default alias: the file's base name without extension, upper case, with
// characters an alias cannot hold turned into underscores.
std::string aliasFromPath(const std::string& path) {
    std::string b = baseName(path);
    size_t dot = b.rfind('.');
    if (dot != std::string::npos && dot > 0) b.erase(dot);
    for (char& c : b)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') c = '_';
    if (b.empty() || std::isdigit(static_cast<unsigned char>(b[0]))) b = "_" + b;
    return upper(b);
}

// Raises a table failure through the language's error protocol, letting the
// handler retry it; answers true when the caller should try again.
bool raiseRetry(const DbfError& e) {
    xb::RaiseResult r = xb::raise(toXbError(e, true, false));
    return r.retry;
}

}  // namespace

Workspace::~Workspace() {
    closeAll();
}

int Workspace::freeArea() const {
    for (int n = 1; n <= kMaxAreas; ++n)
        if (!areas_.count(n)) return n;
    return 0;
}

int Workspace::open(const std::string& path, std::string alias, OpenOptions options, int n) {
    if (n == 0) n = freeArea();
    if (n < 1 || n > kMaxAreas)
        throw DbfError(kErrBound, "No quedan áreas de trabajo libres.", path);
    alias = upper(trim(alias));
    if (alias.empty()) alias = aliasFromPath(resolvePath(path));
    if (WorkArea* other = area(alias); other && other->number() != n)
        throw DbfError(kErrDupAlias, "El alias «" + alias + "» ya está en uso.", path);
    close(n);
    current_ = n;
    std::unique_ptr<Table> t;
    try {
        t = Table::open(path, options);
    } catch (const DbfError& e) {
        if (e.sharingViolation()) netErr_ = true;
        throw;
    }
    netErr_ = false;
    auto wa = std::make_unique<WorkArea>(n, alias, std::move(t));
    wa->goTop();
    areas_[n] = std::move(wa);
    return n;
}

void Workspace::close(int n) {
    auto it = areas_.find(n);
    if (it == areas_.end()) return;
    std::unique_ptr<WorkArea> wa = std::move(it->second);
    areas_.erase(it);
    wa.reset();  // writes back and releases every lock
}

void Workspace::closeAll() {
    while (!areas_.empty()) close(areas_.begin()->first);
    current_ = 1;
}

int Workspace::select(int n) {
    if (n == 0) n = freeArea();
    if (n < 1 || n > kMaxAreas) return current_;
    current_ = n;
    return n;
}

int Workspace::select(std::string_view alias) {
    WorkArea* wa = area(alias);
    if (!wa) return 0;
    current_ = wa->number();
    return current_;
}

WorkArea* Workspace::area(int n) const {
    auto it = areas_.find(n);
    return it == areas_.end() ? nullptr : it->second.get();
}

WorkArea* Workspace::area(std::string_view alias) const {
    std::string a = upper(trim(alias));
    if (a.empty()) return nullptr;
    for (const auto& [n, wa] : areas_)
        if (wa->alias() == a) return wa.get();
    return nullptr;
}

std::vector<int> Workspace::openAreas() const {
    std::vector<int> v;
    for (const auto& [n, wa] : areas_) v.push_back(n);
    return v;
}

int Workspace::areaOf(std::string_view alias) {
    WorkArea* wa = area(alias);
    return wa ? wa->number() : 0;
}

uint64_t Workspace::openSerial(int n) {
    WorkArea* wa = area(n);
    return wa ? wa->serial() : 0;
}

int Workspace::fieldIndex(int n, std::string_view name) {
    WorkArea* wa = area(n);
    return wa ? wa->table().fieldIndex(name) : -1;
}

xb::Value Workspace::getField(int n, int field) {
    for (;;) {
        try {
            WorkArea* wa = area(n);
            if (!wa)
                throw DbfError(kErrNoTable,
                               "No hay tabla abierta en el área " + std::to_string(n) + ".");
            if (field < 0 || field >= wa->table().fieldCount())
                throw DbfError(kErrBound,
                               "El campo número " + std::to_string(field + 1) + " no existe.",
                               wa->table().path());
            return wa->get(field);
        } catch (const DbfError& e) {
            if (!raiseRetry(e)) return xb::Value::nil();
        }
    }
}

void Workspace::putField(int n, int field, const xb::Value& v) {
    for (;;) {
        try {
            WorkArea* wa = area(n);
            if (!wa)
                throw DbfError(kErrNoTable,
                               "No hay tabla abierta en el área " + std::to_string(n) + ".");
            wa->put(field, v);
            return;
        } catch (const DbfError& e) {
            if (!raiseRetry(e)) return;
        }
    }
}

Workspace& workspace() {
    static Workspace ws;
    return ws;
}

}  // namespace dbf
