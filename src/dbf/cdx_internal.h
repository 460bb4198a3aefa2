// What the files of the index bag share, and nothing outside them reads: the
// sizes of the layout (headers, node heads), the change marks' place, the
// numbers as the file stores them, and the arithmetic of compressed leaf
// keys that the page codec, the bulk build and the single changes agree on.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>
#include <string_view>

#include "dbf/cdx.h"

namespace dbf::cdxlayout {

inline constexpr uint32_t kHeaderSize = 1024;
inline constexpr uint32_t kLeafHead = 24;
inline constexpr uint32_t kInteriorHead = 12;
inline constexpr int kMaxDepth = 48;
// Change marks: words in the bag's own header page, and the lock bytes that
// tell whether their writers still run.
inline constexpr uint32_t kMarkOffset = 400;
inline constexpr int kMarkSlots = 24;
inline constexpr int64_t kSlotByte = 0x7FFFF000;

inline uint16_t get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint32_t get32be(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
inline void put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void put32be(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

inline int bitsFor(uint64_t v) {
    int b = 0;
    while (v) {
        ++b;
        v >>= 1;
    }
    return b;
}

// Layout of the numbers packed into a leaf entry for a set of entries.
struct LeafBits {
    int rec = 0, dup = 0, trail = 0, bytes = 0;
};

inline LeafBits leafBits(uint32_t maxRecno, uint16_t keyLength) {
    LeafBits b;
    b.dup = b.trail = bitsFor(keyLength);
    int need = std::max(bitsFor(maxRecno), 1) + b.dup + b.trail;
    b.bytes = (need + 7) / 8;
    b.rec = std::min(b.bytes * 8 - b.dup - b.trail, 32);
    return b;
}

inline size_t trailOf(std::string_view key, char pad) {
    size_t t = 0;
    while (t < key.size() && key[key.size() - 1 - t] == pad) ++t;
    return t;
}

inline size_t commonPrefix(std::string_view a, std::string_view b) {
    size_t n = std::min(a.size(), b.size()), i = 0;
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

// Bytes shared with the previous key of the node. Only the previous key's
// own bytes count, not its dropped padding: other readers rebuild keys that way.
inline size_t dupOf(std::string_view key, std::string_view prev, size_t trail, char pad) {
    if (prev.empty()) return 0;
    size_t lim = std::min(key.size() - trail, prev.size() - trailOf(prev, pad));
    return std::min(commonPrefix(key, prev), lim);
}

// Key bytes an entry needs after the previous key of its node.
inline size_t storedBytes(std::string_view key, std::string_view prev, char pad) {
    size_t trail = trailOf(key, pad);
    return key.size() - dupOf(key, prev, trail, pad) - trail;
}

inline std::string upperName(std::string_view s) {
    std::string r(s.substr(0, 10));
    for (char& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    while (!r.empty() && r.back() == ' ') r.pop_back();
    return r;
}

inline size_t interiorCapacity(uint16_t keyLength) {
    return (kCdxPage - kInteriorHead) / (keyLength + 8u);
}

inline std::string_view keyAt(const CdxNode& n, size_t i, uint16_t kl) {
    return std::string_view(n.keys).substr(i * kl, kl);
}

}  // namespace dbf::cdxlayout
