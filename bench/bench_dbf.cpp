// The table engine against SQLite on the prospect table's layout, 1,000,000
// records: append them all, read every field of every record in order, read
// 100,000 random records by number. SQLite works in one transaction on the
// same data; both sides build language values from what they read.
//
// Run: build/bench-dbf/bench/bench_dbf [--benchmark_filter=...]
// The files go to $VDR_BENCH_DIR (default /tmp/vdr-bench-dbf).
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "dbf/table.h"
#include "xbase/value.h"

namespace {

constexpr uint32_t kRecords = 1000000;
constexpr uint32_t kRandomReads = 100000;

std::string dir() {
    const char* d = std::getenv("VDR_BENCH_DIR");
    std::string p = d && *d ? d : "/tmp/vdr-bench-dbf";
    std::filesystem::create_directories(p);
    return p;
}

std::string dbfPath() {
    return dir() + "/VdrProsp.dbf";
}
std::string sqlitePath() {
    return dir() + "/prosp.sqlite";
}

std::vector<dbf::FieldDef> layout() {
    return {{"CODVEND", 'C', 8, 0},    {"CODPROSP", 'C', 8, 0},   {"NEW", 'C', 2, 0},
            {"TIP", 'C', 8, 0},        {"NOMBRE", 'C', 60, 0},    {"DIREC", 'C', 60, 0},
            {"TELEF", 'C', 25, 0},     {"FAX", 'C', 12, 0},       {"EMAIL", 'C', 60, 0},
            {"CIUDAD", 'C', 25, 0},    {"REPRESENT", 'C', 40, 0}, {"TELFREP", 'C', 16, 0},
            {"ENCARGADO", 'C', 40, 0}, {"NUMPROSP", 'C', 14, 0},  {"FEC_CREA", 'D', 8, 0},
            {"OBSERVAC", 'M', 10, 0},  {"VTA", 'L', 1, 0},        {"FEC_VTA", 'D', 8, 0},
            {"CAT", 'C', 3, 0}};
}

// The values of record i (1-based), the same for both stores.
struct Row {
    std::string text[14];  // the 14 character fields in order
    int32_t fecCrea;
    std::string memo;  // every tenth prospect has observations
    bool vta;
    int32_t fecVta;
    std::string cat;
};

void makeRow(uint32_t i, Row& r) {
    char b[96];
    std::snprintf(b, sizeof b, "V%05u", i % 40);
    r.text[0] = b;
    std::snprintf(b, sizeof b, "P%07u", i);
    r.text[1] = b;
    r.text[2] = i % 3 ? "No" : "Si";
    r.text[3] = i % 2 ? "Jur\xed"
                        "dica"
                      : "Natural";
    std::snprintf(b, sizeof b, "PROSPECTO N\xdaMERO %u DE LA CARTERA", i);
    r.text[4] = b;
    std::snprintf(b, sizeof b, "Calle %u, n\xfamero %u", i % 997, i % 113);
    r.text[5] = b;
    std::snprintf(b, sizeof b, "+34 9%08u", i);
    r.text[6] = b;
    std::snprintf(b, sizeof b, "9%08u", i);
    r.text[7] = b;
    std::snprintf(b, sizeof b, "prospecto%u@ejemplo.es", i);
    r.text[8] = b;
    r.text[9] = i % 5 ? "MADRID" : "M\xc1LAGA";
    std::snprintf(b, sizeof b, "REPRESENTANTE %u", i % 5000);
    r.text[10] = b;
    std::snprintf(b, sizeof b, "6%08u", i);
    r.text[11] = b;
    std::snprintf(b, sizeof b, "ENCARGADO %u", i % 7000);
    r.text[12] = b;
    std::snprintf(b, sizeof b, "2024%02u%02u%06u", 1 + i % 12, 1 + i % 28, i % 1000000);
    r.text[13] = b;
    r.fecCrea = 2460000 + static_cast<int32_t>(i % 3000);
    r.memo = i % 10 == 0
                 ? "Observaciones del prospecto " + std::to_string(i) + ": llamar en septiembre."
                 : "";
    r.vta = i % 4 == 0;
    r.fecVta = r.vta ? r.fecCrea + 30 : 0;
    r.cat = "00" + std::to_string(1 + i % 5);
}

void removeDbf() {
    std::filesystem::remove(dbfPath());
    std::filesystem::remove(dir() + "/VdrProsp.FPT");
    std::filesystem::remove(dir() + "/VdrProsp.fpt");
}

// mode 0: exclusive open; 1: shared, each record locked, written and unlocked;
// 2: shared under a file lock, as bulk work does.
void writeDbf(int mode = 0) {
    removeDbf();
    dbf::Table::create(dbfPath(), layout());
    bool shared = mode != 0;
    auto t = dbf::Table::open(dbfPath(), {shared, false});
    if (mode == 2 && !t->lockFile()) std::abort();
    Row r;
    for (uint32_t i = 1; i <= kRecords; ++i) {
        makeRow(i, r);
        t->appendBlank();
        for (int f = 0; f < 14; ++f) t->putString(f, r.text[f]);
        t->putDate(14, r.fecCrea);
        if (!r.memo.empty()) t->putMemo(15, r.memo);
        t->putLogical(16, r.vta);
        t->putDate(17, r.fecVta);
        t->putString(18, r.cat);
        if (mode == 1) t->unlockAll();  // as the program does: lock, write, unlock
    }
    t->unlockAll();
}

void check(int rc, sqlite3* db) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
        std::abort();
    }
}

void writeSqlite() {
    std::filesystem::remove(sqlitePath());
    sqlite3* db = nullptr;
    check(sqlite3_open(sqlitePath().c_str(), &db), db);
    check(
        sqlite3_exec(
            db,
            "CREATE TABLE prosp (codvend TEXT, codprosp TEXT, new TEXT, tip TEXT, nombre TEXT, "
            "direc "
            "TEXT, telef TEXT, fax TEXT, email TEXT, ciudad TEXT, represent TEXT, telfrep TEXT, "
            "encargado TEXT, numprosp TEXT, fec_crea INTEGER, observac TEXT, vta INTEGER, fec_vta "
            "INTEGER, cat TEXT)",
            nullptr, nullptr, nullptr),
        db);
    check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
    sqlite3_stmt* st = nullptr;
    check(sqlite3_prepare_v2(db, "INSERT INTO prosp VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
                             -1, &st, nullptr),
          db);
    Row r;
    for (uint32_t i = 1; i <= kRecords; ++i) {
        makeRow(i, r);
        for (int f = 0; f < 14; ++f)
            sqlite3_bind_text(st, f + 1, r.text[f].data(), static_cast<int>(r.text[f].size()),
                              SQLITE_STATIC);
        sqlite3_bind_int(st, 15, r.fecCrea);
        if (r.memo.empty())
            sqlite3_bind_null(st, 16);
        else
            sqlite3_bind_text(st, 16, r.memo.data(), static_cast<int>(r.memo.size()),
                              SQLITE_STATIC);
        sqlite3_bind_int(st, 17, r.vta);
        sqlite3_bind_int(st, 18, r.fecVta);
        sqlite3_bind_text(st, 19, r.cat.data(), static_cast<int>(r.cat.size()), SQLITE_STATIC);
        check(sqlite3_step(st), db);
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
    sqlite3_close(db);
}

// Every field of the current record as language values.
size_t readAllFields(const dbf::Table& t) {
    size_t n = 0;
    for (int f = 0; f < t.fieldCount(); ++f) {
        xb::Value v = t.value(f);
        n += v.asString().size() + static_cast<size_t>(v.asDate() != 0) +
             static_cast<size_t>(v.asLogical());
    }
    return n;
}

size_t readSqliteRow(sqlite3_stmt* st) {
    size_t n = 0;
    for (int c = 0; c < 19; ++c) {
        xb::Value v;
        if (c == 14 || c == 17) {
            v = xb::Value::date(sqlite3_column_int(st, c));
        } else if (c == 16) {
            v = xb::Value::logical(sqlite3_column_int(st, c) != 0);
        } else {
            const unsigned char* s = sqlite3_column_text(st, c);
            int len = sqlite3_column_bytes(st, c);
            std::string text(s ? reinterpret_cast<const char*>(s) : "", static_cast<size_t>(len));
            v = c == 15 ? xb::Value::memo(std::move(text)) : xb::Value::str(std::move(text));
        }
        n += v.asString().size() + static_cast<size_t>(v.asDate() != 0) +
             static_cast<size_t>(v.asLogical());
    }
    return n;
}

void ensureFiles() {
    if (!std::filesystem::exists(dbfPath())) writeDbf();
    if (!std::filesystem::exists(sqlitePath())) writeSqlite();
}

void BM_Append_Dbf(benchmark::State& state) {
    for (auto _ : state) writeDbf(static_cast<int>(state.range(0)));
    state.SetItemsProcessed(int64_t(state.iterations()) * kRecords);
}

void BM_Append_Sqlite(benchmark::State& state) {
    for (auto _ : state) writeSqlite();
    state.SetItemsProcessed(int64_t(state.iterations()) * kRecords);
}

void BM_ReadAll_Dbf(benchmark::State& state) {
    ensureFiles();
    for (auto _ : state) {
        auto t = dbf::Table::open(dbfPath(), {state.range(0) != 0, false});
        size_t n = 0;
        uint32_t count = t->recCount();
        for (uint32_t r = 1; r <= count; ++r) {
            t->read(r);
            n += readAllFields(*t);
        }
        benchmark::DoNotOptimize(n);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kRecords);
}

void BM_ReadAll_Sqlite(benchmark::State& state) {
    ensureFiles();
    for (auto _ : state) {
        sqlite3* db = nullptr;
        check(sqlite3_open(sqlitePath().c_str(), &db), db);
        check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
        sqlite3_stmt* st = nullptr;
        check(sqlite3_prepare_v2(db, "SELECT * FROM prosp ORDER BY rowid", -1, &st, nullptr), db);
        size_t n = 0;
        while (sqlite3_step(st) == SQLITE_ROW) n += readSqliteRow(st);
        sqlite3_finalize(st);
        check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
        sqlite3_close(db);
        benchmark::DoNotOptimize(n);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kRecords);
}

std::vector<uint32_t> randomRecords() {
    std::mt19937 rng(42);
    std::vector<uint32_t> v(kRandomReads);
    for (auto& r : v) r = 1 + rng() % kRecords;
    return v;
}

void BM_ReadRandom_Dbf(benchmark::State& state) {
    ensureFiles();
    std::vector<uint32_t> recs = randomRecords();
    for (auto _ : state) {
        auto t = dbf::Table::open(dbfPath(), {state.range(0) != 0, false});
        size_t n = 0;
        for (uint32_t r : recs) {
            t->read(r);
            n += readAllFields(*t);
        }
        benchmark::DoNotOptimize(n);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kRandomReads);
}

void BM_ReadRandom_Sqlite(benchmark::State& state) {
    ensureFiles();
    std::vector<uint32_t> recs = randomRecords();
    for (auto _ : state) {
        sqlite3* db = nullptr;
        check(sqlite3_open(sqlitePath().c_str(), &db), db);
        check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
        sqlite3_stmt* st = nullptr;
        check(sqlite3_prepare_v2(db, "SELECT * FROM prosp WHERE rowid = ?", -1, &st, nullptr), db);
        size_t n = 0;
        for (uint32_t r : recs) {
            sqlite3_bind_int64(st, 1, r);
            if (sqlite3_step(st) == SQLITE_ROW) n += readSqliteRow(st);
            sqlite3_reset(st);
        }
        sqlite3_finalize(st);
        check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
        sqlite3_close(db);
        benchmark::DoNotOptimize(n);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kRandomReads);
}

}  // namespace

// Argument: 0 = exclusive open (appends batched), 1 = shared open (header
// lock, record written, count updated, record lock and unlock for each one),
// 2 = shared open under a file lock (appends batched until the unlock).
// The shared runs come last so that the reads use the exclusive run's file.
BENCHMARK(BM_Append_Dbf)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Append_Sqlite)->Unit(benchmark::kMillisecond)->Iterations(1);
// Argument: 0 = exclusive open (reads ahead), 1 = shared open (every record
// and the record count read from the file at each move).
BENCHMARK(BM_ReadAll_Dbf)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ReadAll_Sqlite)->Unit(benchmark::kMillisecond)->Iterations(3);
// Argument: 0 = exclusive open, 1 = shared open (every read goes to the file).
BENCHMARK(BM_ReadRandom_Dbf)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ReadRandom_Sqlite)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Append_Dbf)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
