// The search kit over a 1,000,000-record prospect table with its nine-tag
// bag, opened shared as the program opens it: the duplicate check of an
// existing and of a new code, a search in the column of the controlling
// order's key, and a "contains" search over the whole table in a column no
// order has (a text no record holds, so every record is looked at). SQLite
// is the peer: an indexed equality and a LIKE '%...%' scan.
//
//   build/bench/bench/bench_search
//   VDR_BENCH_RECORDS=N sets the table size (default 1,000,000).
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "bench_support.h"
#include "dbf/order.h"
#include "dbf/table.h"
#include "dbf/workspace.h"
#include "prospect_rows.h"
#include "prospect_tags.h"
#include "ui/search.h"
#include "xbase/runtime.h"

namespace fs = std::filesystem;

namespace {

uint32_t records() {
    return benchRecords();
}

std::string dir() {
    return benchDir("bench_search");
}

std::string codeOf(uint32_t i) {
    return fmt("P%07u", static_cast<uint32_t>((uint64_t{i} * 7919) % 9999991));
}

dbf::WorkArea* g_wa = nullptr;
sqlite3* g_db = nullptr;

void prepare() {
    xb::settings().deleted = true;
    xb::setFieldAccess(&dbf::workspace());
    const std::string table = dir() + "/VdrProsp.dbf";
    dbf::Table::create(table, kProspectRowLayout);
    int a = dbf::workspace().open(table, "Prospecto", dbf::OpenOptions{false, false});
    dbf::WorkArea* wa = dbf::workspace().area(a);
    sqlite3_open((dir() + "/prosp.db").c_str(), &g_db);
    sqliteExec(g_db, "PRAGMA journal_mode=WAL");
    sqliteExec(g_db,
               "CREATE TABLE prosp (codvend TEXT, codprosp TEXT, tip TEXT, nombre TEXT, "
               "ciudad TEXT, numprosp TEXT, fec_crea INTEGER, cat TEXT)");
    sqliteExec(g_db, "BEGIN");
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(g_db, "INSERT INTO prosp VALUES (?,?,?,?,?,?,?,?)", -1, &ins, nullptr);
    std::mt19937 rng(1);
    dbf::Table& t = wa->table();
    for (uint32_t i = 1; i <= records(); ++i) {
        appendProspectRow(*wa, ins, rng, codeOf(i));
    }
    t.flush();
    sqlite3_finalize(ins);
    sqliteExec(g_db, "COMMIT");
    sqliteExec(g_db, "CREATE INDEX icod ON prosp (codprosp)");
    dbf::Orders& o = dbf::orders(*wa);
    for (const ProspectTag& td : kProspectTags)
        o.createTag(dir() + "/VdrPrpx1.cdx", td.name, td.key, "!Deleted()", td.unique);
    dbf::workspace().close(a);
    // Shared, as every workstation opens it.
    a = dbf::workspace().open(table, "Prospecto", dbf::OpenOptions{true, false});
    g_wa = dbf::workspace().area(a);
    dbf::orders(*g_wa).addBag(dir() + "/VdrPrpx1.cdx");
    dbf::orders(*g_wa).setOrder(1);
    g_wa->goTop();
}

void BM_ChkdupExistingCode_Cdx(benchmark::State& state) {
    std::mt19937 rng(3);
    for (auto _ : state) {
        const std::string code = codeOf(1 + rng() % records());
        benchmark::DoNotOptimize(ui::findCodeHolder(*g_wa, "CodProsp", code, 0));
    }
}

void BM_ChkdupNewCode_Cdx(benchmark::State& state) {
    std::mt19937 rng(4);
    for (auto _ : state) {
        const std::string code = fmt("Q%07u", static_cast<unsigned>(rng() % 9999999));
        benchmark::DoNotOptimize(ui::findCodeHolder(*g_wa, "CodProsp", code, 0));
    }
}

void BM_ChkdupCode_Sqlite(benchmark::State& state) {
    sqlite3_stmt* q = nullptr;
    sqlite3_prepare_v2(g_db, "SELECT rowid FROM prosp WHERE upper(trim(codprosp)) = ? LIMIT 1", -1,
                       &q, nullptr);
    sqlite3_stmt* qi = nullptr;
    sqlite3_prepare_v2(g_db, "SELECT rowid FROM prosp WHERE codprosp = ? LIMIT 1", -1, &qi,
                       nullptr);
    std::mt19937 rng(3);
    for (auto _ : state) {
        const std::string code = codeOf(1 + rng() % records());
        sqlite3_bind_text(qi, 1, code.c_str(), -1, SQLITE_TRANSIENT);
        benchmark::DoNotOptimize(sqlite3_step(qi));
        sqlite3_reset(qi);
    }
    sqlite3_finalize(q);
    sqlite3_finalize(qi);
}

// BUSCA1 in the code column with the code order controlling: the keys are
// read in order until one holds the text.
void BM_SearchOrderKey_Cdx(benchmark::State& state) {
    std::mt19937 rng(5);
    ui::SearchHooks hooks;
    hooks.goOn = [](uint64_t) { return true; };
    dbf::orders(*g_wa).setOrder(1);
    for (auto _ : state) {
        const std::string code = codeOf(1 + rng() % records());
        g_wa->goTop();
        if (!ui::searchContains(*g_wa, "CodProsp", code, hooks).found)
            state.SkipWithError("not found");
    }
}

// "Contains" over the whole table in a column no order has.
void BM_ContainsWholeTable_Cdx(benchmark::State& state) {
    ui::SearchHooks hooks;
    hooks.goOn = [](uint64_t) { return true; };
    dbf::orders(*g_wa).setOrder(2);
    for (auto _ : state) {
        g_wa->goTop();
        if (ui::searchContains(*g_wa, "Ciudad", "NOWHERE", hooks).found)
            state.SkipWithError("found");
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * records());
    dbf::orders(*g_wa).setOrder(1);
}

void BM_ContainsWholeTable_Sqlite(benchmark::State& state) {
    sqlite3_stmt* q = nullptr;
    sqlite3_prepare_v2(g_db, "SELECT rowid FROM prosp WHERE ciudad LIKE '%NOWHERE%' LIMIT 1", -1,
                       &q, nullptr);
    for (auto _ : state) {
        benchmark::DoNotOptimize(sqlite3_step(q));
        sqlite3_reset(q);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * records());
    sqlite3_finalize(q);
}

}  // namespace

BENCHMARK(BM_ChkdupExistingCode_Cdx)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ChkdupNewCode_Cdx)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ChkdupCode_Sqlite)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SearchOrderKey_Cdx)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ContainsWholeTable_Cdx)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ContainsWholeTable_Sqlite)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    return runProspectBenchmarks(argc, argv, prepare, g_db, dir());
}
