// Helpers shared by the benchmarks: texts of the generated records, and
// SQLite statements that must succeed.
#pragma once

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <string>

// Texts put together by snprintf: GCC 12 misreads "literal" +
// std::to_string(...) as an overlapping copy when it inlines it in the loops
// that fill the tables.
template <class... Args>
std::string fmt(const char* format, Args... args) {
    char b[128];
    std::snprintf(b, sizeof b, format, args...);
    return b;
}

// Runs `sql` on the peer database; a failure ends the benchmark with
// SQLite's message, since the figures would mean nothing.
inline void sqliteExec(sqlite3* db, const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::fprintf(stderr, "sqlite: %s\n", err ? err : "?");
        std::abort();
    }
}
