// Helpers shared by the benchmarks: texts of the generated records, and
// SQLite statements that must succeed.
#pragma once

#include <sqlite3.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

// Records of the large tables: VDR_BENCH_RECORDS, a million by default.
inline uint32_t benchRecords() {
    if (const char* s = std::getenv("VDR_BENCH_RECORDS"))
        return static_cast<uint32_t>(std::atol(s));
    return 1000000;
}

// The benchmark's own scratch folder under the system's temporary folder,
// made on first use (one benchmark program, one folder).
inline const std::string& benchDir(const char* name) {
    static const std::string d = [name] {
        const std::filesystem::path p = std::filesystem::temp_directory_path() /
                                        (std::string(name) + "_" + std::to_string(::getpid()));
        std::filesystem::create_directories(p);
        return p.string();
    }();
    return d;
}
