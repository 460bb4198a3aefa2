// The prospect card and browser over a large company: 1,000,000 prospects
// and one million rows in each of the three list tables (products offered,
// contacts, products sold), three rows of each list per prospect for the
// first third of the prospects. Measures opening a card in the middle,
// changing a field and saving it (the buffers filled and the old rows found
// by the link tags), opening and paging the prospects' grid, and opening the
// prospect browser itself (BROWINPROSP). The peer is
// SQLite doing the same work on the same rows with the same indexes.
//
//   cmake --preset bench && cmake --build --preset bench --target bench_prospects
//   VDR_BENCH_RECORDS=1000000 build/bench/bench/bench_prospects
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QProcess>
#include <QTableView>
#include <QTimer>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>

#include "app/functions.h"
#include "bench_support.h"
#include "company/selection.h"
#include "company_fill.h"
#include "data/catalogue.h"
#include "data/helpers.h"
#include "data/paths.h"
#include "data/session.h"
#include "dbf/order.h"
#include "dbf/workspace.h"
#include "prospects/card.h"
#include "prospects/fichprosp.h"
#include "prospects/rows.h"
#include "prospects/save.h"
#include "toolkit/browse.h"
#include "toolkit/browse_dbf.h"
#include "toolkit/dialog.h"
#include "toolkit/resources.h"
#include "xbase/date.h"
#include "xbase/runtime.h"

namespace fs = std::filesystem;
using namespace prospects;

namespace {

uint32_t records() {
    return benchRecords();
}

std::string g_dir;
sqlite3* g_db = nullptr;
uint32_t g_middle = 0;

Link linkOf(uint32_t i) {
    return {fmt("2025%010u", i), fmt("P%07u", i), 2460000 + static_cast<int32_t>(i % 700),
            fmt("V%u", i % 40)};
}

// The company's nine tables filled straight through the engine, exclusive,
// then their tags built in one pass each.
void fill() {
    const std::string company = g_dir + "/EMP00001/";
    dbf::Workspace& ws = dbf::workspace();
    auto open = [&](const char* tableVar) {
        const data::TableDef* d = data::findTable(tableVar);
        return ws.open(company + d->file, d->alias, dbf::OpenOptions{false, false});
    };
    const uint32_t n = records();
    const uint32_t withRows = n / 3;
    std::mt19937 rng(7);
    {
        dbf::WorkArea& v = *ws.area(open("VDRVEND"));
        for (int i = 0; i < 40; ++i) {
            v.append();
            putS(v, "CODIGO", fmt("V%u", static_cast<unsigned>(i)));
            putS(v, "NOMBRE", fmt("VENDEDOR %u", static_cast<unsigned>(i)));
        }
        dbf::WorkArea& pr = *ws.area(open("VDRPRODC"));
        for (int i = 0; i < 500; ++i) {
            pr.append();
            putS(pr, "CODIGO", fmt("PR%04u", static_cast<unsigned>(i)));
            putS(pr, "NOMBRE", fmt("PRODUCTO %u", static_cast<unsigned>(i)));
            putN(pr, "PRECIO", 10 + i);
        }
    }
    dbf::WorkArea& p = *ws.area(open("VDRPROSP"));
    dbf::WorkArea& of = *ws.area(open("VDRPRDOF"));
    dbf::WorkArea& ct = *ws.area(open("VDRCONT"));
    dbf::WorkArea& vt = *ws.area(open("VDRPRDVT"));
    sqliteExec(g_db, "BEGIN");
    sqlite3_stmt* insP = nullptr;
    sqlite3_stmt* insR = nullptr;
    sqlite3_prepare_v2(g_db, "INSERT INTO prosp VALUES (?,?,?,?,?,?)", -1, &insP, nullptr);
    sqlite3_prepare_v2(g_db, "INSERT INTO rows VALUES (?,?,?,?,?,?,?)", -1, &insR, nullptr);
    static const char* names[] = {"GARCIA", "LOPEZ", "PEREZ", "MARTIN", "SANCHEZ", "ROMERO"};
    for (uint32_t i = 1; i <= n; ++i) {
        const Link l = linkOf(i);
        const std::string name = fmt("%s %s %u", names[rng() % 6], names[rng() % 6], i);
        p.append();
        putS(p, "CODVEND", l.codvend);
        putS(p, "CODPROSP", l.codprosp);
        putS(p, "NEW", "Si");
        putS(p, "TIP", "Natural");
        putS(p, "NOMBRE", name);
        putS(p, "NUMPROSP", l.numprosp);
        putD(p, "FEC_CREA", l.fecCrea);
        putS(p, "CAT", fmt("00%u", 1 + i % 5));
        sqlite3_bind_int(insP, 1, static_cast<int>(i));
        sqlite3_bind_text(insP, 2, l.codvend.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insP, 3, l.codprosp.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insP, 4, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insP, 5, l.numprosp.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(insP, 6, l.fecCrea);
        sqlite3_step(insP);
        sqlite3_reset(insP);
        if (i > withRows) continue;
        for (int k = 0; k < 3; ++k) {
            for (int t = 1; t <= 3; ++t) {
                appendLinkRow(t == 1 ? of : t == 2 ? ct : vt, t, k, l, rng);
                sqlite3_bind_int(insR, 1, t);
                sqlite3_bind_text(insR, 2, l.numprosp.c_str(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_text(insR, 3, l.codprosp.c_str(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_int(insR, 4, l.fecCrea);
                sqlite3_bind_text(insR, 5, l.codvend.c_str(), -1, SQLITE_TRANSIENT);
                sqlite3_bind_text(insR, 6, "PR0001", -1, SQLITE_TRANSIENT);
                sqlite3_bind_double(insR, 7, 100.0 * (1 + k));
                sqlite3_step(insR);
                sqlite3_reset(insR);
            }
        }
    }
    sqlite3_finalize(insP);
    sqlite3_finalize(insR);
    sqliteExec(g_db, "COMMIT");
    sqliteExec(g_db, "CREATE INDEX ilink ON rows (t, numprosp, cliente, fecha, vendedor)");
    sqliteExec(g_db, "CREATE INDEX inombre ON prosp (nombre)");
    buildCompanyTags(company, open);
    g_middle = withRows / 2;
}

void prepare() {
    static bool done = false;
    if (done) return;
    done = true;
    g_dir =
        (fs::temp_directory_path() / ("bench_prospects_" + std::to_string(::getpid()))).string();
    fs::create_directories(g_dir);
    if (!assembleBenchInstallation(g_dir)) {
        std::fprintf(stderr, "no se pudo montar la instalación\n");
        std::abort();
    }
    data::startSession("BENCH");
    app::registerProgramFunctions();
    sqlite3_open((g_dir + "/peer.db").c_str(), &g_db);
    sqliteExec(g_db, "PRAGMA journal_mode=WAL");
    sqliteExec(
        g_db,
        "CREATE TABLE prosp (id INTEGER PRIMARY KEY, codvend TEXT, codprosp TEXT, nombre TEXT, "
        "numprosp TEXT, fec_crea INTEGER)");
    sqliteExec(g_db,
               "CREATE TABLE rows (t INTEGER, numprosp TEXT, cliente TEXT, fecha INTEGER, "
               "vendedor TEXT, codprod TEXT, valortot REAL)");
    fill();
    data::ABRIR("Control", data::kCompanyCatalogue, "S", {data::kCompanyCatalogueBag});
    dbf::workspace().area("Control")->goTop();
    company::PUTDATEMPR();
    data::CERRAR("Control");
    data::ABRIR("Vendedor", tableVar("VDRVEND"), "S", {tableVar("VDRVENX1")});
    data::ABRIR("Prospecto", tableVar("VDRPROSP"), "S", {tableVar("VDRPRPX1")});
}

// Open a card, change a field, save, as the program does it: from the
// prospect browser (or the agenda), which keeps the card's tables open from
// one card to the next. `first` opens and closes them with each card, as
// for the first card of a browser.
void openChangeSaveCard(benchmark::State& state, bool first) {
    prepare();
    dbf::WorkArea& p = areaOf("Prospecto");
    std::optional<CardTablesKept> kept;
    if (!first) kept.emplace();
    int flip = 0;
    for (auto _ : state) {
        p.goTo(g_middle);
        CardValues v;
        if (!prepareCard("M", v)) state.SkipWithError("la ficha no abre");
        v.p.telef = pad(fmt("555-%04d", flip++), kWTelef);
        if (saveProspect("M", v) != SaveResult::Saved) state.SkipWithError("no grabó");
        closeBuffers();
        closeCardTables();
    }
}

void BM_OpenChangeSaveCard_Cdx(benchmark::State& state) {
    openChangeSaveCard(state, false);
}

void BM_OpenChangeSaveFirstCard_Cdx(benchmark::State& state) {
    openChangeSaveCard(state, true);
}

void BM_OpenChangeSaveCard_Sqlite(benchmark::State& state) {
    prepare();
    const Link l = linkOf(g_middle);
    sqlite3_stmt* sel = nullptr;
    sqlite3_stmt* selRows = nullptr;
    sqlite3_stmt* upd = nullptr;
    sqlite3_stmt* del = nullptr;
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(g_db, "SELECT * FROM prosp WHERE id=?", -1, &sel, nullptr);
    sqlite3_prepare_v2(
        g_db,
        "SELECT rowid,* FROM rows WHERE t=? AND numprosp=? AND cliente=? AND fecha=? "
        "AND vendedor=? ORDER BY rowid",
        -1, &selRows, nullptr);
    sqlite3_prepare_v2(g_db, "UPDATE prosp SET nombre=? WHERE id=?", -1, &upd, nullptr);
    sqlite3_prepare_v2(g_db, "DELETE FROM rows WHERE rowid=?", -1, &del, nullptr);
    sqlite3_prepare_v2(g_db, "INSERT INTO rows VALUES (?,?,?,?,?,?,?)", -1, &ins, nullptr);
    for (auto _ : state) {
        sqlite3_bind_int(sel, 1, static_cast<int>(g_middle));
        while (sqlite3_step(sel) == SQLITE_ROW) {
        }
        sqlite3_reset(sel);
        std::vector<std::vector<std::string>> keep;
        std::vector<int64_t> old;
        for (int t = 1; t <= 3; ++t) {
            sqlite3_bind_int(selRows, 1, t);
            sqlite3_bind_text(selRows, 2, l.numprosp.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(selRows, 3, l.codprosp.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(selRows, 4, l.fecCrea);
            sqlite3_bind_text(selRows, 5, l.codvend.c_str(), -1, SQLITE_TRANSIENT);
            while (sqlite3_step(selRows) == SQLITE_ROW) {
                old.push_back(sqlite3_column_int64(selRows, 0));
                keep.push_back({std::to_string(t),
                                reinterpret_cast<const char*>(sqlite3_column_text(selRows, 6))});
            }
            sqlite3_reset(selRows);
        }
        sqliteExec(g_db, "BEGIN");
        for (const auto& r : keep) {
            sqlite3_bind_int(ins, 1, std::stoi(r[0]));
            sqlite3_bind_text(ins, 2, l.numprosp.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(ins, 3, l.codprosp.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(ins, 4, l.fecCrea);
            sqlite3_bind_text(ins, 5, l.codvend.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(ins, 6, r[1].c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_double(ins, 7, 100);
            sqlite3_step(ins);
            sqlite3_reset(ins);
        }
        for (int64_t r : old) {
            sqlite3_bind_int64(del, 1, r);
            sqlite3_step(del);
            sqlite3_reset(del);
        }
        sqlite3_bind_text(upd, 1, "CAMBIADO", -1, SQLITE_STATIC);
        sqlite3_bind_int(upd, 2, static_cast<int>(g_middle));
        sqlite3_step(upd);
        sqlite3_reset(upd);
        sqliteExec(g_db, "COMMIT");
    }
    for (sqlite3_stmt* s : {sel, selRows, upd, del, ins}) sqlite3_finalize(s);
}

// The browser's grid on the prospect file in `order`, shown on its first page.
struct ShownGrid {
    ShownGrid(dbf::WorkArea& p, int order) : rows(p) {
        view.resize(1000, 600);
        dbf::orders(p).setOrder(order);
        p.goTop();
        grid = std::make_unique<tk::Browse>(&view, &rows, browserColumns());
        grid->refresh();
        view.show();
        QApplication::processEvents();
    }
    QTableView view;
    tk::WorkAreaRows rows;
    std::unique_ptr<tk::Browse> grid;
};

void BM_OpenBrowserGrid_Cdx(benchmark::State& state) {
    prepare();
    dbf::WorkArea& p = areaOf("Prospecto");
    for (auto _ : state) ShownGrid shown(p, 1);
}

void BM_PageDownBrowserGrid_Cdx(benchmark::State& state) {
    prepare();
    ShownGrid shown(areaOf("Prospecto"), 2);
    QTableView& view = shown.view;
    for (auto _ : state) {
        view.setFocus();
        QKeyEvent down(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
        QApplication::sendEvent(view.viewport(), &down);
        QApplication::processEvents();
    }
}

// The prospect browser as the menu opens it: its tables opened, half-done
// saves looked for, the dialog built, its grid counted and drawn on the
// first page; closed as soon as it has shown itself.
void BM_OpenBrowinprosp_Cdx(benchmark::State& state) {
    prepare();
    if (!tk::ResourceLibrary::load(QString::fromStdString(g_dir + "/ZariReva.rcc")))
        state.SkipWithError("sin biblioteca de recursos");
    // Opened from the menu, where no table is open.
    dbf::workspace().closeAll();
    for (auto _ : state) openBrowserUntilShown();
    // The browser closes every table on leaving: the others' benchmarks
    // find theirs open again.
    data::ABRIR("Vendedor", tableVar("VDRVEND"), "S", {tableVar("VDRVENX1")});
    data::ABRIR("Prospecto", tableVar("VDRPROSP"), "S", {tableVar("VDRPRPX1")});
}

}  // namespace

BENCHMARK(BM_OpenChangeSaveCard_Cdx)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenChangeSaveFirstCard_Cdx)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenChangeSaveCard_Sqlite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenBrowserGrid_Cdx)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PageDownBrowserGrid_Cdx)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenBrowinprosp_Cdx)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    dbf::workspace().closeAll();
    std::error_code ec;
    if (!g_dir.empty()) fs::remove_all(g_dir, ec);
    return 0;
}
