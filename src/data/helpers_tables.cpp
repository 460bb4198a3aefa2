// The helpers that work on tables: opening with retry, bags, locks, the
// creation and upgrade of a table to its template, the field buffer.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <set>
#include <thread>

#include "data/bags.h"
#include "data/catalogue.h"
#include "data/failure.h"
#include "data/helpers.h"
#include "data/interaction.h"
#include "data/paths.h"
#include "data/replace.h"
#include "data/session.h"
#include "dbf/error.h"
#include "dbf/paths.h"
#include "dbf/table.h"
#include "dbf/workspace.h"
#include "xbase/codepage.h"
#include "xbase/compiler.h"
#include "xbase/runtime.h"

namespace data {

namespace {

dbf::Workspace& ws() {
    return dbf::workspace();
}

// The current area, or nullptr when it holds no table.
dbf::WorkArea* cur() {
    return ws().area(ws().current());
}

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

std::string upper(const std::string& s) {
    return xb::upper1252(s);
}

// One entry of a per-area bookkeeping array (areas 1 to 15); nullptr outside.
xb::Value* slot(const char* array, int area) {
    if (area < 1 || area > kAreas) return nullptr;
    auto ref = xb::varRef(array);
    if (!ref || !ref->isArray()) {
        // Created together at start-up; made here when a caller skipped it.
        xb::Value a = xb::Value::newArray(kAreas);
        for (auto& v : a.asArray()->items)
            v = std::string(array) == "ULT_REC"   ? xb::Value::integer(0)
                : std::string(array) == "ABIERTA" ? xb::Value::logical(false)
                                                  : xb::Value::str(" ");
        xb::createPublic(array, a);
        xb::assignVar(array, a);
        ref = xb::varRef(array);
    }
    auto& items = ref->asArray()->items;
    if (items.size() < static_cast<size_t>(area)) items.resize(area);
    return &items[area - 1];
}

void setSlot(const char* array, int area, const xb::Value& v) {
    if (xb::Value* s = slot(array, area)) *s = v;
}

xb::Value getSlot(const char* array, int area) {
    xb::Value* s = slot(array, area);
    return s ? *s : xb::Value();
}

std::vector<dbf::FieldDef> toDefs(const std::vector<FieldSpec>& s) {
    std::vector<dbf::FieldDef> d;
    for (const auto& f : s) d.push_back({f.name, f.type, f.width, f.decimals});
    return d;
}

std::vector<FieldSpec> fromDefs(const std::vector<dbf::FieldDef>& d) {
    std::vector<FieldSpec> s;
    for (const auto& f : d) s.push_back({f.name, f.type, f.len, f.dec});
    return s;
}

// Pause between open attempts; tests shorten it.
int g_openPauseMs = 1000;

// Keeps the caller's current area across a helper.
struct KeepArea {
    int prev = ws().current();
    ~KeepArea() { ws().select(prev); }
};

void removeTableFiles(const std::string& path) {
    std::string h = dbf::resolvePath(path);
    ::unlink(h.c_str());
    ::unlink(memoPathOf(h).c_str());
}

}  // namespace

void setOpenRetryPause(int ms) {
    g_openPauseMs = ms;
}

// ---------------------------------------------------------------- opening

bool USADA(const std::string& alias) {
    return ws().used(upper(trim(alias)));
}

bool SET_INDEX(const std::vector<std::string>& bags) {
    dbf::WorkArea* a = cur();
    if (!a) return true;
    clearBags(*a);
    if (bags.empty()) return true;
    std::string joined;
    size_t n = std::min<size_t>(bags.size(), 6);
    for (size_t i = 0; i < n; ++i) {
        // A missing or damaged bag goes to the error handler; skipping it
        // leaves the area with the bags that did open.
        if (!underHandler("SET_INDEX", [&] { addBag(*a, bags[i]); })) continue;
        joined += (joined.empty() ? "" : " ") + bags[i];
    }
    setSlot("INDICES", a->number(), xb::Value::str(joined.empty() ? " " : joined));
    return true;
}

namespace {

// A table the user may read but not write (a share mounted read-only, a
// folder without write permission).
bool writingDenied(const dbf::DbfError& e) {
    return e.gencode() == dbf::kErrOpen &&
           (e.oscode() == EACCES || e.oscode() == EPERM || e.oscode() == EROFS);
}

// Such a table is opened for reading; the user hears it once per folder and
// session, and a change tried later is refused by the table itself.
void tellReadOnlyFolder(const std::string& file) {
    static std::set<std::string> told;
    std::string path = dbf::resolvePath(file);
    std::string folder = path.substr(0, path.find_last_of('/') + 1);
    if (!told.insert(folder).second) return;
    alertDialog(xb::utf8ToCp1252("La carpeta " + folder +
                                 " es de sólo lectura: sus tablas se abren sólo para "
                                 "consultar, y los cambios no se podrán grabar."),
                xb::utf8ToCp1252("Atención"));
}

}  // namespace

bool ABRIR(const std::string& alias, const std::string& file, const std::string& mode,
           const std::vector<std::string>& bags) {
    if (USADA(alias)) {
        interaction().beep();
        interaction().beep();
        alertDialog("Atenci\xf3n..... Alias   << " + alias + " >>   ya est\xe1 en uso.....",
                    "Atenci\xf3n.... Error");
        ws().select(upper(trim(alias)));
        dbf::WorkArea* a = cur();
        setSlot("ULT_REC", a->number(), xb::Value::integer(a->recno()));
        setSlot("ULT_IND", a->number(), getSlot("INDICES", a->number()));
        setSlot("ABIERTA", a->number(), xb::Value::logical(true));
        a->goTop();
        return false;
    }
    bool exclusive = !mode.empty() && (mode[0] == 'E' || mode[0] == 'e');
    int caller = ws().current();
    // A rebuild interrupted on this table is finished before anyone reads it.
    if (!underHandler("ABRIR", [&] { finishCommittedReplacement(file); })) return false;
    for (;;) {
        for (int attempt = 1; attempt <= 2; ++attempt) {
            bool held = false;
            bool opened = false;
            try {
                opened = underHandler("ABRIR", [&] {
                    try {
                        ws().open(file, alias, {!exclusive, false}, 0);
                    } catch (const dbf::DbfError& e) {
                        if (e.sharingViolation()) {
                            held = true;
                        } else if (!exclusive && writingDenied(e)) {
                            ws().open(file, alias, {true, true}, 0);
                            tellReadOnlyFolder(file);
                        } else {
                            throw;
                        }
                    }
                });
            } catch (...) {
                ws().select(caller);  // the program ends or unwinds: leave its area as it was
                throw;
            }
            if (!opened) {
                ws().select(caller);
                return false;
            }
            if (!held) return SET_INDEX(bags);
            setNetError();
            if (attempt == 1) std::this_thread::sleep_for(std::chrono::milliseconds(g_openPauseMs));
        }
        ws().select(caller);
        CGBELL();
        if (DECIS("FICHERO " + trim(NAME(file)) + " NO ESTA DISPONIBLE. \xbf Desea reintentar ?") ==
            "N")
            return false;
    }
}

int INDEXA(const std::string& table, const std::string& bag, const std::string& key,
           const std::string& tag, bool unique) {
    KeepArea keep;
    int n = ws().open(table, "EL_FILE", {false, false}, 0);
    struct CloseIt {
        int n;
        ~CloseIt() { ws().close(n); }
    } closeIt{n};
    createTag(*ws().area(n), bag, tag, key, "!Deleted()", unique);
    return 0;
}

void RECU_IND() {
    dbf::WorkArea* a = cur();
    if (!a) return;
    xb::Value saved = getSlot("ULT_IND", a->number());
    std::vector<std::string> names;
    std::string list = saved.isString() ? saved.asString() : std::string();
    for (size_t i = 0; i < list.size() && names.size() < 6;) {
        size_t j = list.find(' ', i);
        if (j == std::string::npos) j = list.size();
        if (j > i) names.push_back(list.substr(i, j - i));
        i = j + 1;
    }
    SET_INDEX(names);
    a->goTo(static_cast<uint32_t>(getSlot("ULT_REC", a->number()).asNumber()));
}

void CERRAR(const std::optional<std::string>& alias) {
    if (alias && !trim(*alias).empty() && !ws().select(upper(trim(*alias)))) return;
    dbf::WorkArea* a = cur();
    if (!a) return;
    int n = a->number();
    if (getSlot("ABIERTA", n).asLogical()) {
        RECU_IND();
        setSlot("ABIERTA", n, xb::Value::logical(false));
        return;
    }
    setSlot("INDICES", n, xb::Value::str(" "));
    setSlot("ABIERTA", n, xb::Value::logical(false));
    ws().close(n);
}

// ------------------------------------------------------------------ locks

bool REC_LOCK(std::optional<int> tries) {
    dbf::WorkArea* a = cur();
    if (!a) return false;
    int limit = tries.value_or(10);
    for (int used = 0; limit == 0 || used < limit; ++used) {
        if (a->lockRecord(0, true)) return true;
        const std::string wait = "Registro bloqueado en " + a->alias() + ". Por favor espere ...";
        if (limit != 0) {
            alertDialog(wait, "Atenci\xf3n.....");
            continue;
        }
        // Without a limit the user decides how long to wait: giving up (or
        // closing the box) abandons the write that needed the lock.
        if (alertDialog(wait, "Atenci\xf3n.....", {kAlertDefaultButton, "A&bandonar"}) != 1) break;
    }
    PARE("Registro no est\xe1 disponible.");
    return false;
}

bool PROTEGER(int wait) {
    dbf::WorkArea* a = cur();
    if (!a) return true;
    // The program retried without pause; a short one spares the processor
    // and the file server while another workstation finishes its write.
    auto pause = [] { std::this_thread::sleep_for(std::chrono::milliseconds(20)); };
    if (wait == 0) {
        while (!a->lockRecord(0, true)) pause();
        return true;
    }
    if (wait == 1) {
        while (!a->lockFile()) pause();
        return true;
    }
    return a->lockFile() && !NETERROR();
}

void DESPROTEGER() {
    if (dbf::WorkArea* a = cur()) a->unlock(0);
}

// ------------------------------------------------------------- structures

namespace {

// Evaluates a structure text: whole when short, else one field descriptor at
// a time, since texts evaluated at run time had a bounded length.
std::vector<FieldSpec> evalStructureText(const std::string& text) {
    if (text.size() < 498) return structureFromValue(xb::evalText(text));
    xb::Value list = xb::Value::newArray(0);
    std::string rest = text;
    while (!rest.empty() && rest[0] != '}') {
        size_t close = rest.find('}');
        if (close == std::string::npos || close < 1)
            throw std::invalid_argument("texto de estructura sin cerrar");
        list.asArray()->items.push_back(xb::evalText(rest.substr(1, close)));
        rest = rest.substr(close + 1);
    }
    return structureFromValue(list);
}

// The catalogue's record for `key` (upper-cased template name); its bag is
// created the first time it is missing.
bool catalogueText(const std::string& key, std::string& text) {
    if (!fileExists(kStructCatalogue))
        throw dbf::DbfError(dbf::kErrOpen,
                            "No existe el catálogo de estructuras " + std::string(kStructCatalogue),
                            kStructCatalogue);
    if (!fileExists(kStructCatalogueBag))
        INDEXA(kStructCatalogue, kStructCatalogueBag, kStructCatalogueKey, kStructCatalogueTag,
               false);
    KeepArea keep;
    int n = ws().open(kStructCatalogue, kStructCatalogueAlias, {true, false}, 0);
    struct CloseIt {
        int n;
        ~CloseIt() { ws().close(n); }
    } closeIt{n};
    dbf::WorkArea& a = *ws().area(n);
    addBag(a, kStructCatalogueBag);
    int fArch = a.table().fieldIndex("ARCHIVO"), fEst = a.table().fieldIndex("ESTRUCTURA");
    if (fArch < 0 || fEst < 0)
        throw dbf::DbfError(dbf::kErrCorruption,
                            "El catálogo de estructuras no tiene los campos ARCHIVO y ESTRUCTURA",
                            kStructCatalogue);
    for (a.goTop(); !a.eof(); a.skip(1)) {
        if (upper(trim(a.get(fArch).asString())) == key) {
            text = trim(a.get(fEst).asString());
            return true;
        }
    }
    return false;
}

}  // namespace

std::vector<FieldSpec> CREARDBF(const std::string& templ, bool noCreate) {
    std::string key = upper(trim(templ));
    std::string text;
    std::vector<FieldSpec> structure;
    if (catalogueText(key, text)) {
        try {
            structure = evalStructureText(text);
        } catch (const std::invalid_argument& e) {
            throw dbf::DbfError(dbf::kErrCorruption,
                                "Estructura de " + key + " no válida en el catálogo: " + e.what(),
                                kStructCatalogue);
        }
    } else {
        auto t = dbf::Table::open(templ, {true, true});
        structure = fromDefs(t->structure());
    }
    if (!noCreate) {
        // An empty template is made anew only when its structure is not the
        // catalogue's: a template that is a live table too (the register of
        // additional reports) is not rewritten under the workstations that
        // have it open, and is replaced whole when it must be.
        bool keep = false;
        if (fileExists(templ)) {
            try {
                auto t = dbf::Table::open(templ, {true, true});
                keep = t->recCount() != 0 || IGUALEST(fromDefs(t->structure()), structure);
            } catch (const dbf::DbfError&) {
                keep = true;  // unreadable or in use: never overwritten
            }
        }
        if (!keep) dbf::Table::create(dbf::resolvePath(templ), toDefs(structure), true);
    }
    return structure;
}

namespace {

// Writes `file`'s live records into a new table `temp` of `structure`, field
// by field of the same name and type, then puts it in place of `file`.
void rebuildTable(const std::vector<FieldSpec>& structure, const std::string& file,
                  const std::string& temp) {
    std::string tempHost = dbf::resolvePath(temp);
    try {
        auto src = dbf::Table::open(file, {false, false});
        dbf::Table::create(tempHost, toDefs(structure));
        auto dst = dbf::Table::open(tempHost, {false, false});
        std::vector<int> from;
        for (const auto& f : dst->fields()) {
            int i = src->fieldIndex(f.name);
            bool sameKind = i >= 0 && (src->fields()[i].type == f.type ||
                                       (src->fields()[i].isMemo() && f.type == 'C') ||
                                       (src->fields()[i].type == 'C' && f.isMemo()));
            from.push_back(sameKind ? i : -1);
        }
        uint32_t count = src->recCount();
        for (uint32_t r = 1; r <= count; ++r) {
            src->read(r);
            if (src->deleted()) continue;
            dst->appendBlank();
            for (int k = 0; k < dst->fieldCount(); ++k) {
                if (from[k] < 0) continue;
                xb::Value v = src->value(from[k]);
                if (v.isNil()) continue;
                if (v.isString() && dst->fields()[k].isMemo()) v = xb::Value::memo(v.asString());
                if (v.type() == 'M' && !dst->fields()[k].isMemo()) v = xb::Value::str(v.asString());
                try {
                    dst->putValue(k, v);
                } catch (const dbf::DbfError& e) {
                    // A number that no longer fits its narrower field stays
                    // empty rather than stopping the rebuild.
                    if (e.gencode() != dbf::kErrDataWidth) throw;
                }
            }
        }
        dst->commit();
        dst.reset();
        src.reset();
        replaceHook(ReplaceStep::Built);
    } catch (...) {
        removeTableFiles(tempHost);
        throw;
    }
    replaceTable(tempHost, file);
}

}  // namespace

void CREA_FIC(const std::vector<FieldSpec>& structure, const std::string& file,
              const std::string& scratchDir) {
    KeepArea keep;
    finishReplacement(file);
    if (!fileExists(file)) {
        dbf::Table::create(dbf::resolvePath(file), toDefs(structure), true);
        return;
    }
    {
        auto t = dbf::Table::open(file, {true, true});
        if (IGUALEST(fromDefs(t->structure()), structure)) return;
    }
    std::string dir = scratchDir;
    if (!dir.empty() && dir.back() != '\\' && dir.back() != '/') dir += '\\';
    rebuildTable(structure, file, dir + "TEMPORAL.DBF");
}

void CREA_FIC(const std::string& templ, const std::string& file, const std::string& scratchDir) {
    CREA_FIC(CREARDBF(templ), file, scratchDir);
}

// Rebuilds `file` from its template (CRE_RES): see maintenance.h.
void rebuildFromTemplate(const std::string& templ, const std::string& file,
                         const std::string& camino) {
    std::vector<FieldSpec> structure = CREARDBF(templ);
    finishReplacement(file);
    if (!fileExists(file)) {
        dbf::Table::create(dbf::resolvePath(file), toDefs(structure), true);
        return;
    }
    rebuildTable(structure, file, camino + "TEMP_.DBF");
}

// ------------------------------------------------------------ field buffer

namespace {

std::vector<FieldSpec> bufferStructure() {
    xb::Value me;
    if (!xb::getVar("_ME", me) || !me.isArray()) return {};
    return structureFromValue(me);
}

xb::Value emptyOf(const FieldSpec& f) {
    switch (f.type) {
        case 'C':
            return xb::Value::str(std::string(f.width, ' '));
        case 'N':
            return xb::Value::num(0, f.width, f.decimals);
        case 'D':
            return xb::Value::date(0);
        case 'L':
            return xb::Value::logical(false);
        default:
            return xb::Value::str(" ");
    }
}

void setVar(const std::string& name, const xb::Value& v) {
    xb::createPublic(name, v);
    xb::assignVar(name, v);
}

void makeBuffer(bool withValues) {
    dbf::WorkArea* a = cur();
    xb::Value me;
    if (!xb::getVar("_ME", me) || !me.isArray()) {
        if (!a) fail(xb::gen::NoTable, "No hay tabla abierta en el área actual");
        setVar("_ME", structureValue(fromDefs(a->table().structure())));
    }
    for (const auto& f : bufferStructure()) {
        xb::Value v = emptyOf(f);
        if (withValues && a) {
            int i = a->table().fieldIndex(f.name);
            if (i >= 0) v = a->get(i);
        }
        setVar("M" + f.name, v);
    }
}

}  // namespace

void INIC_VAR() {
    makeBuffer(false);
}
void IGUAL_VAR() {
    makeBuffer(true);
}

void REPL_VAR() {
    dbf::WorkArea* a = cur();
    if (!a) return;
    PROTEGER(0);
    struct Release {
        ~Release() { DESPROTEGER(); }
    } release;
    if (a->eof()) return;
    for (const auto& f : bufferStructure()) {
        xb::Value v;
        int i = a->table().fieldIndex(f.name);
        if (i >= 0 && xb::getVar("M" + f.name, v)) a->put(i, v);
    }
}

void LIB_VAR() {
    for (const auto& f : bufferStructure())
        if (f.type != 'M') xb::releaseVar("M" + f.name);
}

void AREG(const xb::Value& values, bool noAppend) {
    dbf::WorkArea* a = cur();
    if (!a) fail(xb::gen::NoTable, "No hay tabla abierta en el área actual");
    if (!noAppend) a->append();
    std::vector<xb::Value> list;
    if (values.isArray()) {
        list = values.asArray()->items;
    } else if (values.isString() && trim(values.asString()).size() > 1) {
        dbf::WorkArea* from = ws().area(upper(trim(values.asString())));
        if (!from) fail(xb::gen::NoAlias, "Alias no abierto: " + trim(values.asString()));
        for (int i = 0; i < from->table().fieldCount(); ++i) list.push_back(from->get(i));
    } else if (values.isString()) {
        std::string prefix = trim(values.asString());
        for (const auto& f : a->table().fields()) {
            xb::Value v;
            if (xb::getVar(prefix + f.name, v)) list.push_back(v);
        }
    }
    PROTEGER(0);
    struct Release {
        ~Release() { DESPROTEGER(); }
    } release;
    std::vector<bool> used(a->table().fieldCount(), false);
    for (const auto& v : list) {
        char t = v.type();
        for (int i = 0; i < a->table().fieldCount(); ++i) {
            char ft = a->table().fields()[i].type;
            if (used[i] || (ft == 'F' ? 'N' : ft) != t) continue;
            a->put(i, v);
            used[i] = true;
            break;
        }
    }
}

// ------------------------------------------------------------- utilities

void CHECKALIAS(const std::string& title) {
    std::string text = trim(title).empty() ? std::string() : title + "\r\n";
    bool first = true;
    for (int n = 1; n <= 20; ++n) {
        dbf::WorkArea* a = ws().area(n);
        if (!a) continue;
        std::string num = std::to_string(n);
        if (!first) text += "\r\n";
        text += "Area #: " + std::string(10 - num.size(), ' ') + num + " - " + a->alias();
        first = false;
    }
    interaction().info(text, kAlertDefaultTitle);
}

void REGULAAREA(const std::string& alias) {
    dbf::WorkArea* a = ws().area(upper(trim(alias)));
    if (!a) return;
    int caller = ws().current();
    interaction().info("Cierra", kAlertDefaultTitle);
    int n = a->number();
    ws().close(n);
    ws().select(caller == n ? n : caller);
}

}  // namespace data
