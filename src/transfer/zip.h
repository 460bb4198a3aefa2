// Zip archives of the files a company is made of (deflate, no zip64): the
// backups, and the small archives an xlsx file is. Everything is held in
// memory, which suits the sizes of a company's tables.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace transfer {

struct ZipEntry {
    std::string name;
    std::string data;
};

// Builds the bytes of an archive holding `entries` in this order, stamped
// with the local time `when` (seconds since the epoch). Throws
// std::runtime_error with a Spanish message when a file is too large.
std::string makeZip(const std::vector<ZipEntry>& entries, int64_t when);

// Reads every entry of an archive, checking its structure, the sizes and the
// CRC of each entry, and the seal makeZip() puts in the archive's comment
// (a checksum of the whole archive) when there is one or `sealRequired`.
// Throws std::runtime_error with a Spanish message naming the fault.
std::vector<ZipEntry> readZip(const std::string& archive, bool sealRequired = false);

}  // namespace transfer
