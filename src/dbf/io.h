// Small helpers over POSIX I/O shared by the table and memo files: whole reads
// and writes that retry short transfers, byte order.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace dbf::io {

// Reads up to `n` bytes at `off`; answers the number read (short only at end
// of file), or -1 on failure.
ssize_t readAt(int fd, void* buf, size_t n, uint64_t off);
// Writes all `n` bytes at `off`; false on failure.
bool writeAt(int fd, const void* buf, size_t n, uint64_t off);
uint64_t fileSize(int fd);

// Makes `path` hold exactly the `n` bytes, replacing any file of that name.
// When `whole`, they are written beside it, synced and renamed into place, so
// that a power cut leaves the old file or the whole new one, never one cut
// short. A failure throws DbfError naming `what` ("la tabla"...).
void writeNewFile(const std::string& path, const void* buf, size_t n, bool whole, const char* what);
// Spanish text of an errno value, for messages.
std::string osText(int err);

inline uint16_t le16(const unsigned char* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t le32(const unsigned char* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint32_t be32(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline uint16_t be16(const unsigned char* p) {
    return uint16_t((p[0] << 8) | p[1]);
}
inline void putLe16(unsigned char* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void putLe32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void putBe32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * (3 - i)));
}
inline void putBe16(unsigned char* p, uint16_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}

}  // namespace dbf::io
