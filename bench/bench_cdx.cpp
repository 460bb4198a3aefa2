// The index engine against SQLite on the same prospect records (the layout
// of the prospects table): building the nine prospect tags (nine CREATE
// INDEX), random exact seeks, a full ordered scan of one tag, appends with
// the nine tags kept, and changes of an indexed field. Both sides work alone
// on their files (exclusive open; one SQLite transaction per step). Last, the
// same change the way workstations make it: shared open, go to, lock (which
// reads the record again), change, unlock; SQLite commits each on its own.
//
//   build/bench-cdx/bench/bench_cdx [--benchmark_...]
//   VDR_BENCH_RECORDS=N sets the table size (default 1,000,000); 100,000
//   seeks, appends and changes (a tenth of N when N is smaller than 1,000,000).
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "dbf/order.h"
#include "dbf/table.h"
#include "dbf/workspace.h"
#include "xbase/runtime.h"

namespace fs = std::filesystem;
using namespace dbf;

namespace {

const std::vector<FieldDef> kLayout = {
    {"CODVEND", 'C', 8, 0},    {"CODPROSP", 'C', 8, 0},   {"NEW", 'C', 2, 0},
    {"TIP", 'C', 10, 0},       {"NOMBRE", 'C', 60, 0},    {"DIREC", 'C', 60, 0},
    {"TELEF", 'C', 25, 0},     {"FAX", 'C', 12, 0},       {"EMAIL", 'C', 60, 0},
    {"CIUDAD", 'C', 25, 0},    {"REPRESENT", 'C', 40, 0}, {"TELFREP", 'C', 16, 0},
    {"ENCARGADO", 'C', 40, 0}, {"NUMPROSP", 'C', 14, 0},  {"FEC_CREA", 'D', 8, 0},
    {"OBSERVAC", 'C', 80, 0},  {"VTA", 'L', 1, 0},        {"FEC_VTA", 'D', 8, 0},
    {"CAT", 'C', 3, 0},
};

struct TagDef {
    const char* name;
    const char* key;
    const char* sql;
    bool unique;
};
const TagDef kTags[] = {
    {"CodProsp", "CODPROSP", "codprosp", false},
    {"Nombre", "NOMBRE", "nombre", false},
    {"CodVend", "CODVEND+CODPROSP", "codvend, codprosp", false},
    {"FecCrea", "dtos(FEC_CREA)", "fec_crea", false},
    {"Tipo", "TIP", "tip", false},
    {"ProspUniq", "CODPROSP", "codprosp", true},
    {"VendUniq", "CODVEND", "codvend", true},
    {"CategCod", "CAT+CODPROSP", "cat, codprosp", false},
    {"NumProsp0", "NUMPROSP+CODPROSP+DtoS(FEC_CREA)+CODVEND",
     "numprosp, codprosp, fec_crea, codvend", false},
};

struct Rec {
    std::string f[19];
    int32_t fec, fecVta;
};

uint32_t records() {
    return benchRecords();
}
uint32_t operations() {
    return std::min<uint32_t>(100000, std::max<uint32_t>(records() / 10, 1));
}

std::string code(uint32_t i) {
    char b[16];
    std::snprintf(b, sizeof b, "P%07u", i);
    return b;
}

Rec makeRec(std::mt19937& rng, uint32_t i) {
    static const char* names[] = {"GARCIA", "LOPEZ",  "PEREZ", "MARTIN", "SANCHEZ",
                                  "ROMERO", "TORRES", "DIAZ",  "RUIZ",   "MORENO"};
    Rec r;
    r.f[0] = fmt("V%u", static_cast<unsigned>(rng() % 40));
    r.f[1] = code(static_cast<uint32_t>((uint64_t{i} * 7919) % 9999991));
    r.f[2] = rng() % 2 ? "Si" : "No";
    r.f[3] = rng() % 2 ? "Jurídica" : "Natural";
    char buf[96];
    const char* n1 = names[rng() % 10];
    const char* n2 = names[rng() % 10];
    std::snprintf(buf, sizeof buf, "%s %s %u", n1, n2, static_cast<unsigned>(rng() % 100000));
    r.f[4] = buf;
    r.f[5] = fmt("CALLE %u", static_cast<unsigned>(rng() % 1000));
    r.f[6] = std::to_string(600000000 + rng() % 99999999);
    r.f[7] = "";
    r.f[8] = fmt("cliente%u@correo.es", i);
    r.f[9] = names[rng() % 10];
    r.f[10] = names[rng() % 10];
    r.f[11] = "";
    r.f[12] = names[rng() % 10];
    r.f[13] = fmt("2024%u", static_cast<unsigned>(1000000000 + rng() % 999999999));
    r.f[15] = "";
    r.f[16] = "";
    r.f[18] = fmt("00%u", static_cast<unsigned>(1 + rng() % 5));
    r.fec = 2451545 + static_cast<int32_t>(rng() % 9000);
    r.fecVta = 0;
    return r;
}

std::string dir() {
    return benchDir("bench_cdx");
}

std::vector<uint32_t>& seekTargets() {
    static std::vector<uint32_t> v;
    return v;
}

WorkArea* g_wa = nullptr;
sqlite3* g_db = nullptr;

// Fills both stores with the same records (not measured).
void prepare() {
    xb::setFieldAccess(&workspace());
    std::string table = dir() + "/VdrProsp.dbf";
    Table::create(table, kLayout);
    int a = workspace().open(table, "Prospecto", OpenOptions{false, false});
    g_wa = workspace().area(a);
    sqlite3_open((dir() + "/prosp.db").c_str(), &g_db);
    sqliteExec(g_db, "PRAGMA journal_mode=WAL");
    sqliteExec(g_db, "PRAGMA synchronous=NORMAL");
    sqliteExec(g_db,
               "CREATE TABLE prosp (codvend TEXT, codprosp TEXT, new TEXT, tip TEXT, nombre TEXT, "
               "direc TEXT, telef TEXT, fax TEXT, email TEXT, ciudad TEXT, represent TEXT, telfrep "
               "TEXT, encargado TEXT, numprosp TEXT, fec_crea TEXT, observac TEXT, vta INTEGER, "
               "fec_vta TEXT, cat TEXT)");
    sqliteExec(g_db, "BEGIN");
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(g_db, "INSERT INTO prosp VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)", -1,
                       &ins, nullptr);
    std::mt19937 rng(1);
    Table& t = g_wa->table();
    for (uint32_t i = 1; i <= records(); ++i) {
        Rec r = makeRec(rng, i);
        g_wa->append();
        for (int f = 0; f < 19; ++f) {
            if (f == 14) {
                t.putDate(f, r.fec);
                sqlite3_bind_int(ins, f + 1, r.fec);
            } else if (f == 16) {
                t.putLogical(f, false);
                sqlite3_bind_int(ins, f + 1, 0);
            } else if (f == 17) {
                sqlite3_bind_null(ins, f + 1);
            } else {
                t.putString(f, r.f[f]);
                sqlite3_bind_text(ins, f + 1, r.f[f].c_str(), -1, SQLITE_TRANSIENT);
            }
        }
        sqlite3_step(ins);
        sqlite3_reset(ins);
    }
    t.flush();
    sqlite3_finalize(ins);
    sqliteExec(g_db, "COMMIT");
    std::mt19937 pick(5);
    for (uint32_t i = 0; i < operations(); ++i) seekTargets().push_back(1 + pick() % records());
}

void BM_BuildNineTags_Cdx(benchmark::State& state) {
    for (auto _ : state) {
        Orders& o = orders(*g_wa);
        for (auto& t : kTags)
            o.createTag(dir() + "/VdrPrpx1.cdx", t.name, t.key, "!Deleted()", t.unique);
        o.setOrder(1);
        o.tag(1)->bag().flush();
    }
}

void BM_BuildNineTags_Sqlite(benchmark::State& state) {
    for (auto _ : state) {
        sqliteExec(g_db, "BEGIN");
        int n = 0;
        for (auto& t : kTags) {
            std::string sql =
                std::string("CREATE INDEX i") + std::to_string(++n) + " ON prosp (" + t.sql + ")";
            sqliteExec(g_db, sql.c_str());
        }
        sqliteExec(g_db, "COMMIT");
    }
}

// The codes to seek, taken from the records (same values on both sides).
std::vector<std::string>& seekCodes() {
    static std::vector<std::string> v = [] {
        std::vector<std::string> c;
        for (uint32_t r : seekTargets())
            c.push_back(code(static_cast<uint32_t>((uint64_t{r} * 7919) % 9999991)));
        return c;
    }();
    return v;
}

void BM_Seek_Cdx(benchmark::State& state) {
    auto& codes = seekCodes();
    Orders& o = orders(*g_wa);
    o.setOrder(1);
    for (auto _ : state) {
        size_t found = 0;
        for (auto& c : codes) found += o.seek(xb::Value::str(c));
        if (found != codes.size()) state.SkipWithError("seek missed");
    }
}

void BM_Seek_Sqlite(benchmark::State& state) {
    auto& codes = seekCodes();
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(g_db, "SELECT * FROM prosp WHERE codprosp = ?", -1, &st, nullptr);
    for (auto _ : state) {
        size_t found = 0;
        for (auto& c : codes) {
            sqlite3_bind_text(st, 1, c.c_str(), -1, SQLITE_STATIC);
            if (sqlite3_step(st) == SQLITE_ROW) {
                ++found;
                benchmark::DoNotOptimize(sqlite3_column_text(st, 4));
            }
            sqlite3_reset(st);
        }
        if (found != codes.size()) state.SkipWithError("seek missed");
    }
    sqlite3_finalize(st);
}

void BM_OrderedScan_Cdx(benchmark::State& state) {
    Orders& o = orders(*g_wa);
    o.setOrder(2);  // NOMBRE
    for (auto _ : state) {
        uint64_t n = 0;
        for (g_wa->goTop(); !g_wa->eof(); g_wa->skip(1)) {
            benchmark::DoNotOptimize(g_wa->table().buffer());
            ++n;
        }
        if (n != g_wa->recCount()) state.SkipWithError("scan count");
    }
}

void BM_OrderedScan_Sqlite(benchmark::State& state) {
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(g_db, "SELECT * FROM prosp ORDER BY nombre", -1, &st, nullptr);
    for (auto _ : state) {
        uint64_t n = 0;
        while (sqlite3_step(st) == SQLITE_ROW) {
            benchmark::DoNotOptimize(sqlite3_column_text(st, 4));
            ++n;
        }
        sqlite3_reset(st);
        benchmark::DoNotOptimize(n);
    }
    sqlite3_finalize(st);
}

void BM_Append_Cdx(benchmark::State& state) {
    std::mt19937 rng(77);
    Table& t = g_wa->table();
    for (auto _ : state) {
        for (uint32_t i = 0; i < operations(); ++i) {
            Rec r = makeRec(rng, records() + 1 + i);
            r.f[1] = code(i);
            r.f[1][0] = 'N';
            g_wa->append();
            for (int f = 0; f < 19; ++f) {
                if (f == 14)
                    t.putDate(f, r.fec);
                else if (f == 16)
                    t.putLogical(f, false);
                else if (f != 17)
                    t.putString(f, r.f[f]);
            }
            t.flush();
        }
        if (CdxTag* t1 = orders(*g_wa).tag(1)) t1->bag().flush();
    }
}

void BM_Append_Sqlite(benchmark::State& state) {
    std::mt19937 rng(77);
    sqlite3_stmt* ins = nullptr;
    sqlite3_prepare_v2(g_db, "INSERT INTO prosp VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)", -1,
                       &ins, nullptr);
    for (auto _ : state) {
        sqliteExec(g_db, "BEGIN");
        for (uint32_t i = 0; i < operations(); ++i) {
            Rec r = makeRec(rng, records() + 1 + i);
            r.f[1] = code(i);
            r.f[1][0] = 'N';
            for (int f = 0; f < 19; ++f) {
                if (f == 14)
                    sqlite3_bind_int(ins, f + 1, r.fec);
                else if (f == 16)
                    sqlite3_bind_int(ins, f + 1, 0);
                else if (f == 17)
                    sqlite3_bind_null(ins, f + 1);
                else
                    sqlite3_bind_text(ins, f + 1, r.f[f].c_str(), -1, SQLITE_TRANSIENT);
            }
            sqlite3_step(ins);
            sqlite3_reset(ins);
        }
        sqliteExec(g_db, "COMMIT");
    }
    sqlite3_finalize(ins);
}

void BM_ChangeIndexedField_Cdx(benchmark::State& state) {
    Table& t = g_wa->table();
    for (auto _ : state) {
        uint32_t i = 0;
        for (uint32_t r : seekTargets()) {
            g_wa->goTo(r);
            t.putString(4, fmt("CAMBIADO %u", ++i));
            t.flush();
        }
        if (CdxTag* t1 = orders(*g_wa).tag(1)) t1->bag().flush();
    }
}

void BM_ChangeIndexedField_Sqlite(benchmark::State& state) {
    sqlite3_stmt* up = nullptr;
    sqlite3_prepare_v2(g_db, "UPDATE prosp SET nombre = ? WHERE rowid = ?", -1, &up, nullptr);
    for (auto _ : state) {
        sqliteExec(g_db, "BEGIN");
        uint32_t i = 0;
        for (uint32_t r : seekTargets()) {
            std::string v = fmt("CAMBIADO %u", ++i);
            sqlite3_bind_text(up, 1, v.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int64(up, 2, r);
            sqlite3_step(up);
            sqlite3_reset(up);
        }
        sqliteExec(g_db, "COMMIT");
    }
    sqlite3_finalize(up);
}

// The program's own way on a shared table: go to the record, lock it (which
// reads it again), change an indexed field, unlock (the record and the nine
// tags written through the bag's lock, new pages before the pages that point
// to them, the bag marked as being changed meanwhile). One change at a time,
// as workstations make them; SQLite commits each change on its own.
uint32_t sharedChanges() {
    return std::max<uint32_t>(operations() / 10, 1);
}

void BM_SharedLockChange_Cdx(benchmark::State& state) {
    // The exclusive open of the other steps gives way to a shared one.
    workspace().closeAll();
    int a = workspace().open(dir() + "/VdrProsp.dbf", "Compartida", OpenOptions{true, false});
    WorkArea& wa = *workspace().area(a);
    orders(wa).addBag(dir() + "/VdrPrpx1.cdx");
    Table& t = wa.table();
    for (auto _ : state) {
        uint32_t i = 0;
        for (uint32_t r : seekTargets()) {
            if (i == sharedChanges()) break;
            wa.goTo(r);
            if (!wa.lockRecord()) state.SkipWithError("lock");
            t.putString(4, fmt("COMPARTIDO %u", ++i));
            wa.unlock();
        }
    }
    workspace().closeAll();
}

void BM_SharedLockChange_Sqlite(benchmark::State& state) {
    sqlite3_stmt* up = nullptr;
    sqlite3_prepare_v2(g_db, "UPDATE prosp SET nombre = ? WHERE rowid = ?", -1, &up, nullptr);
    for (auto _ : state) {
        uint32_t i = 0;
        for (uint32_t r : seekTargets()) {
            if (i == sharedChanges()) break;
            std::string v = fmt("COMPARTIDO %u", ++i);
            sqlite3_bind_text(up, 1, v.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int64(up, 2, r);
            sqlite3_step(up);  // a transaction of its own
            sqlite3_reset(up);
        }
    }
    sqlite3_finalize(up);
}

}  // namespace

#define ONCE(fn) BENCHMARK(fn)->Iterations(1)->Unit(benchmark::kMillisecond)
ONCE(BM_BuildNineTags_Cdx);
ONCE(BM_BuildNineTags_Sqlite);
ONCE(BM_Seek_Cdx);
ONCE(BM_Seek_Sqlite);
ONCE(BM_OrderedScan_Cdx);
ONCE(BM_OrderedScan_Sqlite);
ONCE(BM_Append_Cdx);
ONCE(BM_Append_Sqlite);
ONCE(BM_ChangeIndexedField_Cdx);
ONCE(BM_ChangeIndexedField_Sqlite);
ONCE(BM_SharedLockChange_Cdx);
ONCE(BM_SharedLockChange_Sqlite);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    prepare();
    benchmark::RunSpecifiedBenchmarks();
    workspace().closeAll();
    sqlite3_close(g_db);
    fs::remove_all(dir());
    benchmark::Shutdown();
    return 0;
}
