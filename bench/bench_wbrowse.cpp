// WBrowse of 10,000 records into a LibreOffice Calc workbook over UNO (the
// rows go as one block of values, colours as runs), against a few thousand
// single-cell writes (the cost WBrowse avoids), subtotals of 10,000 rows,
// with SQLite as the peer storing the same rows. Needs LibreOffice; without it
// the office runs are skipped.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include "app/functions.h"
#include "bench_support.h"
#include "data/interaction.h"
#include "data/session.h"
#include "dbf/workspace.h"
#include "sheet/excel.h"
#include "xbase/compiler.h"
#include "xbase/runtime.h"

namespace {

constexpr int kRows = 10000;

struct World {
    QTemporaryDir dir;
    data::UnattendedInteraction quiet;
    bool office = false;
    World() {
        static int argc = 1;
        static char arg0[] = "bench_wbrowse";
        static char* argv[] = {arg0, nullptr};
        qputenv("QT_QPA_PLATFORM", "offscreen");
        new QApplication(argc, argv);
        QDir::setCurrent(dir.path());
        qputenv("VDR_OFFICE_PIPE",
                "vdrbench_" + QByteArray::number(QCoreApplication::applicationPid()));
        qputenv("VDR_OFFICE_PROFILE", dir.filePath(QStringLiteral("perfil")).toUtf8());
        data::setInteraction(&quiet);
        data::startSession("BENCH");
        app::registerProgramFunctions();
        xb::evalText(
            "DBCREATE('filas.dbf', {{'CODIGO','C',8,0},{'NOMBRE','C',40,0},{'VENTAS','N',12,2}})");
        xb::evalText("DBUSEAREA(.T., NIL, 'filas.dbf', 'Filas')");
        for (int i = 0; i < kRows; ++i)
            xb::evalText(
                fmt("DBAPPEND(), FIELD->CODIGO := 'C%05d', FIELD->NOMBRE := 'Cliente numero %d', "
                    "FIELD->VENTAS := %d.25",
                    i, i, i % 977));
        xb::evalText("DBCOMMIT()");
        xb::evalText("oXl := TExcelScript():New()");
        office = xb::evalText("oXl:lExcel").asLogical();
    }
};

World& world() {
    static World w;
    return w;
}

void BM_WBrowseTable(benchmark::State& state) {
    if (!world().office) {
        state.SkipWithError("LibreOffice no disponible");
        return;
    }
    xb::evalText("oXl:AddCol({|| Filas->CODIGO},,,, {|| 'Codigo'})");
    xb::evalText("oXl:AddCol({|| Filas->NOMBRE},,,, {|| 'Nombre'})");
    xb::evalText("oXl:AddCol({|| Filas->VENTAS}, 4,,, {|| 'Ventas'})");
    for (auto _ : state) {
        xb::evalText("oXl:Create()");
        xb::evalText("DBSELECTAREA('Filas'), DBGOTOP()");
        xb::evalText("oXl:WBrowse(1, 1, 'Filas')");
        state.PauseTiming();
        xb::evalText("oXl:End(.F.)");
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_WBrowseTable)->Unit(benchmark::kMillisecond)->Iterations(3);

// One call per cell, as a script writing with Say would: 1,000 cells.
void BM_SayPerCell(benchmark::State& state) {
    if (!world().office) {
        state.SkipWithError("LibreOffice no disponible");
        return;
    }
    for (auto _ : state) {
        xb::evalText("oXl:Create()");
        for (int i = 1; i <= 1000; ++i) xb::evalText(fmt("oXl:Say(%d, 1, %d)", i, i));
        state.PauseTiming();
        xb::evalText("oXl:End(.F.)");
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_SayPerCell)->Unit(benchmark::kMillisecond)->Iterations(1);

// Subtotals of 10,000 rows in 100 groups (written beforehand, untimed): the
// office inserts 101 total rows, and the class finds them in one read of the
// total column and labels them.
void BM_Subtotal(benchmark::State& state) {
    if (!world().office) {
        state.SkipWithError("LibreOffice no disponible");
        return;
    }
    xb::Value rows = xb::Value::newArray();
    for (int i = 0; i < kRows; ++i) {
        xb::Value row = xb::Value::newArray();
        row.asArray()->items = {xb::Value::str(fmt("Zona %03d", i / (kRows / 100))),
                                xb::Value::num(i % 977 + 0.25)};
        rows.asArray()->items.push_back(row);
    }
    xb::createPublic("aFilasSub", rows);
    // An object of its own (without the other runs' column descriptions),
    // on the same office.
    xb::createPublic("oSub");
    xb::evalText("oSub := TExcelScript():New()");
    for (auto _ : state) {
        state.PauseTiming();
        // A heading row (blank) and the rows.
        xb::evalText("oSub:Create(), oSub:SetArray(aFilasSub), oSub:WBrowse(1, 1, 'array')");
        state.ResumeTiming();
        xb::evalText(fmt("oSub:Subtotal('A1:B%d', 1, 1, {2})", kRows + 1));
        state.PauseTiming();
        // The heading, the rows, 100 group totals and the grand total.
        bool done = xb::evalText("oSub:nRows()").asNumber() == kRows + 1 + 101;
        xb::evalText("oSub:End(.F.)");
        if (!done) {
            state.SkipWithError("los subtotales no llegaron al libro");
            break;
        }
        state.ResumeTiming();
    }
    // Let go of the office while it still answers.
    xb::evalText("oSub := NIL");
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_Subtotal)->Unit(benchmark::kMillisecond)->Iterations(3);

// The peer: the same 10,000 rows stored in SQLite in one transaction.
void BM_SqlitePeer(benchmark::State& state) {
    world();
    for (auto _ : state) {
        sqlite3* db = nullptr;
        sqlite3_open(":memory:", &db);
        sqliteExec(db, "CREATE TABLE filas(codigo TEXT, nombre TEXT, ventas REAL)");
        sqliteExec(db, "BEGIN");
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO filas VALUES(?,?,?)", -1, &st, nullptr);
        for (int i = 0; i < kRows; ++i) {
            std::string code = fmt("C%05d", i), name = fmt("Cliente numero %d", i);
            sqlite3_bind_text(st, 1, code.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(st, 2, name.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_double(st, 3, i % 977 + 0.25);
            sqlite3_step(st);
            sqlite3_reset(st);
        }
        sqlite3_finalize(st);
        sqliteExec(db, "COMMIT");
        sqlite3_close(db);
    }
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_SqlitePeer)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    if (world().office) xb::evalText("oXl:End()");
    dbf::workspace().closeAll();
    benchmark::Shutdown();
    return 0;
}
