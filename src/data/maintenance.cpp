#include "data/maintenance.h"

#include <algorithm>
#include <map>

#include "data/catalogue.h"
#include "data/failure.h"
#include "data/helpers.h"
#include "data/msgmeter.h"
#include "data/paths.h"
#include "data/replace.h"
#include "dbf/workspace.h"
#include "xbase/runtime.h"

namespace data {

// In helpers_tables.cpp.
void rebuildFromTemplate(const std::string& templ, const std::string& file,
                         const std::string& camino);

namespace {

std::string varText(const char* name) {
    xb::Value v;
    if (xb::getVar(name, v) && v.isString()) return v.asString();
    return {};
}

std::string camino() {
    return varText("G_CAMINO");
}

// The file a row's variable names (as NOMBBASES set it).
std::string fileOf(const TableDef& t) {
    std::string f = varText(t.tableVar);
    return f.empty() ? tablePath(t, camino()) : f;
}

std::string bagOf(const TableDef& t) {
    std::string b = varText(t.bagVar);
    return b.empty() ? bagPath(t, camino()) : b;
}

// Runs `step` for the nine tables in catalogue order, with the bar at n and
// the text `verb` + the file before table n.
template <class F>
void eachTable(Meter& meter, const char* verb, F step) {
    meter.setTotal(9);
    int n = 0;
    for (const auto& t : tables()) {
        ++n;
        meter.setPosition(n);
        meter.setText(std::string(verb) + fileOf(t));
        meter.refresh();
        step(t);
    }
}

struct KeepArea {
    int prev = dbf::workspace().current();
    ~KeepArea() { dbf::workspace().select(prev); }
};

}  // namespace

void INIBASES(Meter& meter) {
    KeepArea keep;
    eachTable(meter, "Procesando ", [](const TableDef& t) {
        std::string file = fileOf(t);
        underHandler("INIBASES",
                     [&] { CREA_FIC(t.templ, file, t.inCompanyDir ? camino() : std::string()); });
    });
}

void INDEXBASES(Meter& meter) {
    eachTable(meter, "Reindexando ", [](const TableDef& t) {
        std::string file = fileOf(t), bag = bagOf(t);
        // A bag of an older layout must not keep tags of its own.
        if (!underHandler("INDEXBASES", [&] {
                if (fileExists(bag) && !removeFile(bag))
                    fail(xb::gen::Write, "No se puede borrar el índice " + bag, bag);
            }))
            return;
        for (const auto& tag : t.tags)
            underHandler("INDEXA", [&] { INDEXA(file, bag, tag.key, tag.name, tag.unique); });
    });
}

namespace {

// A table missing, or a table without the bag its tags live in: what a
// company's creation stopped halfway (a power cut, a killed program) leaves.
bool incomplete(const TableDef& t) {
    return !fileExists(fileOf(t)) || (!t.tags.empty() && !fileExists(bagOf(t)));
}

}  // namespace

bool tablesIncomplete() {
    const auto& all = tables();
    return std::any_of(all.begin(), all.end(), incomplete);
}

void completeTables(Meter& meter) {
    KeepArea keep;
    eachTable(meter, "Procesando ", [](const TableDef& t) {
        if (!incomplete(t)) return;
        const std::string file = fileOf(t), bag = bagOf(t);
        underHandler("INIBASES", [&] {
            if (!fileExists(file))
                CREA_FIC(t.templ, file, t.inCompanyDir ? camino() : std::string());
            for (const auto& tag : t.tags) INDEXA(file, bag, tag.key, tag.name, tag.unique);
        });
    });
}

bool PACA(const std::string& file) {
    if (!ABRIR("EL_ALIAS", file, "E")) return false;
    dbf::Workspace& ws = dbf::workspace();
    int n = ws.current();
    struct CloseIt {
        int n;
        ~CloseIt() { CERRAR("EL_ALIAS"); }
    } closeIt{n};
    bool done = underHandler("PACA", [&] { ws.area(n)->pack(); });
    return done;
}

void PACKBASES(Meter& meter) {
    KeepArea keep;
    eachTable(meter, "Compactando ", [](const TableDef& t) { PACA(fileOf(t)); });
}

void CRE_RES(const std::string& templ, const std::string& file) {
    rebuildFromTemplate(templ, file, camino());
}

void RECO_BASES(Meter& meter) {
    eachTable(meter, "Procesando ", [](const TableDef& t) {
        std::string file = fileOf(t);
        underHandler("CRE_RES", [&] { CRE_RES(t.templ, file); });
    });
    MSGMETER(
        [](Meter& m) {
            INDEXBASES(m);
            return xb::Value();
        },
        kReindexingText, kWaitTitle);
    dbf::workspace().closeAll();
}

namespace {
std::map<std::string, std::function<void()>>& beforeSteps() {
    static std::map<std::string, std::function<void()>> steps;
    return steps;
}
}  // namespace

void setBeforeMaintenance(const std::string& name, std::function<void()> step) {
    beforeSteps()[name] = std::move(step);
}

void runGeneralMaintenance() {
    finishInterruptedRebuilds();
    for (const auto& [name, step] : beforeSteps()) underHandler(name, [&] { step(); });
    MSGMETER(
        [](Meter& m) {
            PACKBASES(m);
            return xb::Value();
        },
        kProcessingText, kWaitTitle);
    MSGMETER(
        [](Meter& m) {
            RECO_BASES(m);
            return xb::Value();
        },
        kProcessingText, kWaitTitle);
}

bool AUTOMANTEN() {
    int b = alertDialog("Proceder con Automantenimiento General ?", "Atenci\xf3n",
                        {"&Continuar", " &Salir  "});
    if (b != 1) return false;
    runGeneralMaintenance();
    return true;
}

int finishInterruptedRebuilds() {
    int n = 0;
    // Copies left by a rebuild that stopped before its switch: the tables
    // they were meant to replace are whole, so they are mere leftovers.
    for (const std::string& dir : {camino(), std::string()})
        for (const char* scratch : {"TEMPORAL.DBF", "TEMPORAL.FPT", "TEMP_.DBF", "TEMP_.FPT"})
            removeFile(dir + scratch);
    for (const auto& t : tables()) {
        std::string file = fileOf(t);
        underHandler("AUTOMANTEN", [&] {
            if (finishReplacement(file)) ++n;
        });
    }
    return n;
}

}  // namespace data
