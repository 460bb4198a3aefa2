// One generated prospect row, appended to the table through its work area and
// bound to the SQLite peer's insert of the same eight columns, for the
// benchmarks that build a large prospect file on both sides.
#pragma once

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QApplication>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "dbf/table.h"
#include "dbf/workarea.h"
#include "dbf/workspace.h"

// The eight columns of those rows, in the prospect file's order.
inline const std::vector<dbf::FieldDef> kProspectRowLayout = {
    {"CODVEND", 'C', 8, 0},  {"CODPROSP", 'C', 8, 0}, {"TIP", 'C', 10, 0},
    {"NOMBRE", 'C', 60, 0},  {"CIUDAD", 'C', 25, 0},  {"NUMPROSP", 'C', 14, 0},
    {"FEC_CREA", 'D', 8, 0}, {"CAT", 'C', 3, 0},
};

inline void appendProspectRow(dbf::WorkArea& wa, sqlite3_stmt* ins, std::mt19937& rng,
                              const std::string& code) {
    static const char* names[] = {"GARCIA", "LOPEZ",  "PEREZ", "MARTIN", "SANCHEZ",
                                  "ROMERO", "TORRES", "DIAZ",  "RUIZ",   "MORENO"};
    const std::string f[8] = {fmt("V%u", static_cast<unsigned>(rng() % 40)),
                              code,
                              rng() % 2 ? "Natural" : "Juridica",
                              fmt("%s %s %u", names[rng() % 10], names[rng() % 10],
                                  static_cast<unsigned>(rng() % 100000)),
                              names[rng() % 10],
                              fmt("2024%u", static_cast<unsigned>(1000000000 + rng() % 999999999)),
                              "",
                              fmt("00%u", static_cast<unsigned>(1 + rng() % 5))};
    const int32_t fec = 2451545 + static_cast<int32_t>(rng() % 9000);
    dbf::Table& t = wa.table();
    wa.append();
    for (int k = 0; k < 8; ++k) {
        if (k == 6) {
            t.putDate(k, fec);
            sqlite3_bind_int(ins, k + 1, fec);
        } else {
            t.putString(k, f[k]);
            sqlite3_bind_text(ins, k + 1, f[k].c_str(), -1, SQLITE_TRANSIENT);
        }
    }
    sqlite3_step(ins);
    sqlite3_reset(ins);
}

// The whole run of a benchmark program over the large prospect file: an
// offscreen application (the grids and searches need one), the file and its
// SQLite peer made by `prepare`, the benchmarks, and the scratch folder
// removed at the end.
inline int runProspectBenchmarks(int argc, char** argv, void (*prepare)(), sqlite3*& db,
                                 const std::string& scratch) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    prepare();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    dbf::workspace().closeAll();
    sqlite3_close(db);
    std::filesystem::remove_all(scratch);
    return 0;
}
