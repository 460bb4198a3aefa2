// Texts of the benchmarks' generated records, put together by snprintf: GCC
// 12 misreads "literal" + std::to_string(...) as an overlapping copy when it
// inlines it in the loops that fill the tables.
#pragma once

#include <cstdio>
#include <string>

template <class... Args>
std::string fmt(const char* format, Args... args) {
    char b[128];
    std::snprintf(b, sizeof b, format, args...);
    return b;
}
