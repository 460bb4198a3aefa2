// The expression language on its hottest path: an index key compiled once and
// evaluated over a record, as the table engine does for every key it builds
// or maintains. SQLite evaluating the same concatenation through a prepared
// statement is the peer.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "xbase/compiler.h"
#include "xbase/date.h"
#include "xbase/fieldaccess.h"
#include "xbase/runtime.h"

namespace {

// One open area holding one record of the products-offered table's link.
class Record : public xb::FieldAccess {
  public:
    std::vector<std::string> names{"NUMPROSP", "CLIENTE", "FECHA", "VENDEDOR", "CODPROD"};
    std::vector<xb::Value> values{xb::Value::str("20240315101500"), xb::Value::str("CLI00042"),
                                  xb::Value::date(xb::julianFromYmd(2024, 3, 15)),
                                  xb::Value::str("VEN00007"), xb::Value::str("PROD01")};
    int currentArea() override { return 1; }
    int areaOf(std::string_view) override { return 1; }
    uint64_t openSerial(int) override { return 1; }
    int fieldIndex(int, std::string_view name) override {
        for (size_t i = 0; i < names.size(); ++i)
            if (names[i] == name) return static_cast<int>(i);
        return -1;
    }
    xb::Value getField(int, int field) override { return values[static_cast<size_t>(field)]; }
    void putField(int, int field, const xb::Value& v) override {
        values[static_cast<size_t>(field)] = v;
    }
};

void BM_IndexKey(benchmark::State& state) {
    xb::resetRuntime();
    Record rec;
    xb::setFieldAccess(&rec);
    xb::Expr key = xb::compile("NUMPROSP+CLIENTE+DtoS(FECHA)+VENDEDOR");
    for (auto _ : state) {
        xb::Value v = key.eval();
        benchmark::DoNotOptimize(v);
    }
    if (key.eval().asString() != "20240315101500CLI0004220240315VEN00007")
        state.SkipWithError("clave incorrecta");
    state.SetItemsProcessed(state.iterations());
    xb::setFieldAccess(nullptr);
}
BENCHMARK(BM_IndexKey);

void BM_FilterExpression(benchmark::State& state) {
    xb::resetRuntime();
    Record rec;
    xb::setFieldAccess(&rec);
    xb::createPublic("cVend", xb::Value::str("VEN00007"));
    xb::Expr filter = xb::compile("VENDEDOR = cVend .AND. FECHA >= CtoD('01-01-2024')");
    for (auto _ : state) {
        xb::Value v = filter.eval();
        benchmark::DoNotOptimize(v);
    }
    state.SetItemsProcessed(state.iterations());
    xb::setFieldAccess(nullptr);
}
BENCHMARK(BM_FilterExpression);

void BM_CompileAndEvaluate(benchmark::State& state) {
    xb::resetRuntime();
    Record rec;
    xb::setFieldAccess(&rec);
    for (auto _ : state) {
        xb::Value v = xb::compile("NUMPROSP+CLIENTE+DtoS(FECHA)+VENDEDOR").eval();
        benchmark::DoNotOptimize(v);
    }
    state.SetItemsProcessed(state.iterations());
    xb::setFieldAccess(nullptr);
}
BENCHMARK(BM_CompileAndEvaluate);

// The peer: SQLite building the same key from bound column values.
void BM_SqliteKey(benchmark::State& state) {
    sqlite3* db = nullptr;
    sqlite3_open(":memory:", &db);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "SELECT ?1 || ?2 || strftime('%Y%m%d', ?3) || ?4", -1, &st, nullptr);
    sqlite3_bind_text(st, 1, "20240315101500", -1, SQLITE_STATIC);
    sqlite3_bind_text(st, 2, "CLI00042", -1, SQLITE_STATIC);
    sqlite3_bind_text(st, 3, "2024-03-15", -1, SQLITE_STATIC);
    sqlite3_bind_text(st, 4, "VEN00007", -1, SQLITE_STATIC);
    for (auto _ : state) {
        if (sqlite3_step(st) != SQLITE_ROW) {
            state.SkipWithError("sqlite");
            break;
        }
        benchmark::DoNotOptimize(sqlite3_column_text(st, 0));
        sqlite3_reset(st);
    }
    state.SetItemsProcessed(state.iterations());
    sqlite3_finalize(st);
    sqlite3_close(db);
}
BENCHMARK(BM_SqliteKey);

}  // namespace

BENCHMARK_MAIN();
