// Self-maintenance of the largest table (prospects): pack, rebuild to a
// changed template and the nine tags built anew, against SQLite doing the
// same work on the same rows (VACUUM after the deletions, a column added by
// table rebuild, REINDEX of nine indexes).
#include <benchmark/benchmark.h>

#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "bench_support.h"
#include "data/catalogue.h"
#include "data/helpers.h"
#include "data/session.h"
#include "dbf/table.h"
#include "dbf/workspace.h"
#include "xbase/runtime.h"

namespace {

namespace fs = std::filesystem;

std::vector<data::FieldSpec> prospectStructure() {
    return {{"CODVEND", 'C', 8, 0},    {"CODPROSP", 'C', 8, 0},   {"NEW", 'C', 2, 0},
            {"TIP", 'C', 8, 0},        {"NOMBRE", 'C', 60, 0},    {"DIREC", 'C', 60, 0},
            {"TELEF", 'C', 25, 0},     {"FAX", 'C', 12, 0},       {"EMAIL", 'C', 60, 0},
            {"CIUDAD", 'C', 25, 0},    {"REPRESENT", 'C', 40, 0}, {"TELFREP", 'C', 16, 0},
            {"ENCARGADO", 'C', 40, 0}, {"NUMPROSP", 'C', 14, 0},  {"FEC_CREA", 'D', 8, 0},
            {"OBSERVAC", 'M', 10, 0},  {"VTA", 'L', 1, 0},        {"FEC_VTA", 'D', 8, 0},
            {"CAT", 'C', 3, 0}};
}

struct Scratch {
    fs::path old = fs::current_path();
    std::string dir;
    Scratch() {
        char t[] = "/tmp/vdrbench.XXXXXX";
        dir = ::mkdtemp(t);
        fs::current_path(dir);
    }
    ~Scratch() {
        fs::current_path(old);
        fs::remove_all(dir);
    }
};

// n prospects, every third deleted, each with a short memo.
void makeProspects(const std::string& file, int n) {
    std::vector<dbf::FieldDef> defs;
    for (const auto& f : prospectStructure()) defs.push_back({f.name, f.type, f.width, f.decimals});
    dbf::Table::create(file, defs);
    auto t = dbf::Table::open(file, {false, false});
    for (int i = 0; i < n; ++i) {
        t->appendBlank();
        t->putString(0, fmt("V%d", i % 17));
        t->putString(1, fmt("P%d", i));
        t->putString(4, fmt("PROSPECTO NUMERO %lld", (i * 7919LL) % n));
        t->putString(13, fmt("%lld", 20260000000000LL + i));
        t->putDate(14, 2460000 + i % 900);
        t->putMemo(15, fmt("Observaciones %d", i));
        t->putString(18, "00" + std::to_string(1 + i % 5));
        if (i % 3 == 0) t->setDeleted(true);
    }
    t->commit();
}

void BM_ProspectMaintenance(benchmark::State& state) {
    Scratch scratch;
    xb::resetRuntime();
    data::applySessionSettings();
    data::registerDataFunctions();
    data::createSessionVariables("BENCH");
    const int n = static_cast<int>(state.range(0));
    makeProspects("master.dbf", n);
    auto wider = prospectStructure();
    wider.push_back({"EXTRA", 'C', 5, 0});
    const auto& tags = data::tables()[1].tags;
    for (auto _ : state) {
        state.PauseTiming();
        fs::copy_file("master.dbf", "VdrProsp.dbf", fs::copy_options::overwrite_existing);
        fs::copy_file("master.fpt", "VdrProsp.fpt", fs::copy_options::overwrite_existing);
        fs::remove("VdrPrpx1.cdx");
        state.ResumeTiming();
        {
            auto t = dbf::Table::open("VdrProsp.dbf", {false, false});
            t->pack();
        }
        data::CREA_FIC(wider, "VdrProsp.dbf", "");
        for (const auto& tag : tags)
            data::INDEXA("VdrProsp.dbf", "VdrPrpx1.cdx", tag.key, tag.name, tag.unique);
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_ProspectMaintenance)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);

void BM_SqliteProspectMaintenance(benchmark::State& state) {
    Scratch scratch;
    const int n = static_cast<int>(state.range(0));
    {
        sqlite3* db;
        sqlite3_open("master.db", &db);
        sqliteExec(db,
                   "CREATE TABLE p(codvend, codprosp, new, tip, nombre, direc, telef, fax, email, "
                   "ciudad, represent, telfrep, encargado, numprosp, fec_crea, observac, vta, "
                   "fec_vta, cat, deleted)");
        sqliteExec(db, "BEGIN");
        sqlite3_stmt* st;
        sqlite3_prepare_v2(db,
                           "INSERT INTO p(codvend, codprosp, nombre, numprosp, fec_crea, "
                           "observac, cat, deleted) VALUES (?,?,?,?,?,?,?,?)",
                           -1, &st, nullptr);
        for (int i = 0; i < n; ++i) {
            std::string v = fmt("V%d", i % 17), p = fmt("P%d", i),
                        nm = fmt("PROSPECTO NUMERO %lld", (i * 7919LL) % n),
                        np = fmt("%lld", 20260000000000LL + i), ob = fmt("Observaciones %d", i),
                        cat = fmt("00%d", 1 + i % 5);
            sqlite3_bind_text(st, 1, v.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(st, 2, p.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(st, 3, nm.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(st, 4, np.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(st, 5, 2460000 + i % 900);
            sqlite3_bind_text(st, 6, ob.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(st, 7, cat.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(st, 8, i % 3 == 0);
            sqlite3_step(st);
            sqlite3_reset(st);
        }
        sqlite3_finalize(st);
        sqliteExec(db, "COMMIT");
        sqlite3_close(db);
    }
    for (auto _ : state) {
        state.PauseTiming();
        fs::copy_file("master.db", "work.db", fs::copy_options::overwrite_existing);
        sqlite3* db;
        sqlite3_open("work.db", &db);
        state.ResumeTiming();
        sqliteExec(db, "DELETE FROM p WHERE deleted");
        sqliteExec(db, "VACUUM");
        sqliteExec(db,
                   "BEGIN; CREATE TABLE q AS SELECT *, '' AS extra FROM p; DROP TABLE p; "
                   "ALTER TABLE q RENAME TO p; COMMIT");
        sqliteExec(db,
                   "CREATE INDEX i1 ON p(codprosp); CREATE INDEX i2 ON p(nombre); "
                   "CREATE INDEX i3 ON p(codvend, codprosp); CREATE INDEX i4 ON p(fec_crea); "
                   "CREATE INDEX i5 ON p(tip); CREATE INDEX i6 ON p(codprosp); "
                   "CREATE INDEX i7 ON p(codvend); CREATE INDEX i8 ON p(cat, codprosp); "
                   "CREATE INDEX i9 ON p(numprosp, codprosp, fec_crea, codvend)");
        state.PauseTiming();
        sqlite3_close(db);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_SqliteProspectMaintenance)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
