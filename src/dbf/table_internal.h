// What table.cpp and table_repair.cpp share: the size of the batches of
// records written at once, the wait for the header lock before an append, and
// the trimming of field text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace dbf::tabledetail {

inline constexpr size_t kTailBytes = 1024 * 1024;  // appends batched by exclusive opens
inline constexpr int kAppendWaitMs = 500;          // how long an append waits for the header

// The read batch running now (dbf::ReadBatch): 0 when none, otherwise a
// number of its own for each outermost batch.
uint64_t readBatchNumber();

inline std::string trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\0')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\0')) --e;
    return std::string(s.substr(b, e - b));
}

}  // namespace dbf::tabledetail
