// The browse grid over a 1,000,000-record prospect table with its nine-tag
// bag: opening the grid on order 2 (count of keys, first page drawn) and
// drawing a page after jumping to the middle and to the end. SQLite is the
// peer: the same rows through an index on the name, counted and paged with
// LIMIT/OFFSET, as a grid over SQL would do.
//
//   QT_QPA_PLATFORM=offscreen build/bench/bench/bench_grid
//   VDR_BENCH_RECORDS=N sets the table size (default 1,000,000).
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <QApplication>
#include <QScrollBar>
#include <QTableView>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "bench_support.h"
#include "dbf/order.h"
#include "dbf/table.h"
#include "dbf/workspace.h"
#include "prospect_rows.h"
#include "prospect_tags.h"
#include "toolkit/browse_dbf.h"
#include "xbase/runtime.h"

namespace fs = std::filesystem;

namespace {

uint32_t records() {
    return benchRecords();
}

std::string dir() {
    return benchDir("bench_grid");
}

dbf::WorkArea* g_wa = nullptr;
sqlite3* g_db = nullptr;

void prepare() {
    xb::settings().deleted = true;
    xb::setFieldAccess(&dbf::workspace());
    const std::string table = dir() + "/VdrProsp.dbf";
    dbf::Table::create(table, kProspectRowLayout);
    const int a = dbf::workspace().open(table, "Prospecto", dbf::OpenOptions{false, false});
    g_wa = dbf::workspace().area(a);
    sqlite3_open((dir() + "/prosp.db").c_str(), &g_db);
    sqliteExec(g_db, "PRAGMA journal_mode=WAL");
    sqliteExec(
        g_db,
        "CREATE TABLE prosp (codvend TEXT, codprosp TEXT, tip TEXT, nombre TEXT, ciudad TEXT, "
        "numprosp TEXT, fec_crea INTEGER, cat TEXT)");
    sqliteExec(g_db, "BEGIN");
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(g_db, "INSERT INTO prosp VALUES (?,?,?,?,?,?,?,?)", -1, &ins, nullptr);
    std::mt19937 rng(1);
    dbf::Table& t = g_wa->table();
    for (uint32_t i = 1; i <= records(); ++i) {
        char code[16];
        std::snprintf(code, sizeof code, "P%07u",
                      static_cast<uint32_t>((uint64_t{i} * 7919) % 9999991));
        appendProspectRow(*g_wa, ins, rng, code);
    }
    t.flush();
    sqlite3_finalize(ins);
    sqliteExec(g_db, "COMMIT");
    sqliteExec(g_db, "CREATE INDEX inombre ON prosp (nombre)");
    dbf::Orders& o = dbf::orders(*g_wa);
    for (const ProspectTag& td : kProspectTags)
        o.createTag(dir() + "/VdrPrpx1.cdx", td.name, td.key, "!Deleted()", td.unique);
}

std::vector<tk::BrowseColumn> columns() {
    dbf::WorkArea* w = g_wa;
    return {{"Código", [w] { return w->get(1); }, 80, "", {}, 1},
            {"Nombre", [w] { return w->get(3); }, 300, "", {}, 2},
            {"Vendedor", [w] { return w->get(0); }, 70, "", {}, 3},
            {"Ciudad", [w] { return w->get(4); }, 150, "", {}, 0},
            {"Creado", [w] { return w->get(6); }, 90, "", {}, 4}};
}

struct Grid {
    std::unique_ptr<QTableView> view;
    std::unique_ptr<tk::WorkAreaRows> rows;
    tk::Browse* browse = nullptr;
};

Grid openGrid() {
    Grid g;
    dbf::orders(*g_wa).setOrder(2);
    g_wa->goTop();
    g.rows = std::make_unique<tk::WorkAreaRows>(*g_wa);
    g.view = std::make_unique<QTableView>();
    g.view->resize(760, 560);  // about 28 rows, a browser's size
    g.browse = new tk::Browse(g.view.get(), g.rows.get(), columns());
    g.view->show();
    QApplication::processEvents();  // lays the view out: scroll range, visible rows
    g.view->viewport()->repaint();
    return g;
}

void BM_OpenGridOnOrder2_Cdx(benchmark::State& state) {
    for (auto _ : state) {
        Grid g = openGrid();
        benchmark::DoNotOptimize(g.view->model()->rowCount());
        state.PauseTiming();
        g = Grid{};
        state.ResumeTiming();
    }
}

void pageAt(benchmark::State& state, bool middle) {
    Grid g = openGrid();
    const int rows = g.view->model()->rowCount();
    std::mt19937 rng(7);
    int64_t reads = 0;
    for (auto _ : state) {
        // Nothing drawn before is kept, so the page is read from the table.
        state.PauseTiming();
        g.browse->model()->forgetRows();
        g.view->verticalScrollBar()->setValue(0);
        g.view->viewport()->repaint();
        state.ResumeTiming();
        // The middle (a thumb dragged half way) or the last page (Ctrl+End).
        const int target = middle ? rows / 2 - 5000 + static_cast<int>(rng() % 10000)
                                  : g.view->verticalScrollBar()->maximum();
        const int64_t before = g.browse->model()->sourceReads();
        g.view->verticalScrollBar()->setValue(target);
        g.view->viewport()->repaint();
        if (g.view->verticalScrollBar()->value() != target)
            state.SkipWithError("the view did not move");
        reads += g.browse->model()->sourceReads() - before;
    }
    state.counters["source_calls_per_page"] =
        benchmark::Counter(static_cast<double>(reads), benchmark::Counter::kAvgIterations);
}

void BM_PageAfterJumpToMiddle_Cdx(benchmark::State& state) {
    pageAt(state, true);
}
void BM_PageAfterJumpToEnd_Cdx(benchmark::State& state) {
    pageAt(state, false);
}

// The peer: count the rows, then read a page of 28 by the name index.
void sqlitePage(benchmark::State& state, int where) {
    sqlite3_stmt* count = nullptr;
    sqlite3_stmt* page = nullptr;
    sqlite3_prepare_v2(g_db, "SELECT count(*) FROM prosp", -1, &count, nullptr);
    sqlite3_prepare_v2(
        g_db,
        "SELECT codprosp, nombre, codvend, ciudad, fec_crea FROM prosp ORDER BY nombre "
        "LIMIT 28 OFFSET ?",
        -1, &page, nullptr);
    std::mt19937 rng(7);
    for (auto _ : state) {
        int64_t n = 0;
        if (where == 0) {
            sqlite3_step(count);
            n = sqlite3_column_int64(count, 0);
            sqlite3_reset(count);
        } else {
            n = records();
        }
        const int64_t off = where == 0   ? 0
                            : where == 1 ? n / 2 - 5000 + static_cast<int64_t>(rng() % 10000)
                                         : n - 28;
        sqlite3_bind_int64(page, 1, off);
        int got = 0;
        while (sqlite3_step(page) == SQLITE_ROW) {
            benchmark::DoNotOptimize(sqlite3_column_text(page, 1));
            ++got;
        }
        sqlite3_reset(page);
        benchmark::DoNotOptimize(got);
    }
    sqlite3_finalize(count);
    sqlite3_finalize(page);
}

void BM_OpenGridOnOrder2_Sqlite(benchmark::State& state) {
    sqlitePage(state, 0);
}
void BM_PageAfterJumpToMiddle_Sqlite(benchmark::State& state) {
    sqlitePage(state, 1);
}
void BM_PageAfterJumpToEnd_Sqlite(benchmark::State& state) {
    sqlitePage(state, 2);
}

}  // namespace

BENCHMARK(BM_OpenGridOnOrder2_Cdx)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenGridOnOrder2_Sqlite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PageAfterJumpToMiddle_Cdx)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PageAfterJumpToMiddle_Sqlite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PageAfterJumpToEnd_Cdx)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PageAfterJumpToEnd_Sqlite)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    return runProspectBenchmarks(argc, argv, prepare, g_db, dir());
}
