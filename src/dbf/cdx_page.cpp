// The page codec: a node of 512 bytes to and from its decoded form. Interior
// nodes hold whole keys with big-endian record and child numbers; leaves hold
// packed (record, duplicate bytes, trailing pad) numbers and keys compressed
// against the previous one, as FoxPro lays them out. fits() answers whether
// a node would encode without encoding it.

#include <algorithm>
#include <cstring>

#include "dbf/cdx.h"
#include "dbf/cdx_internal.h"

namespace dbf {

using namespace cdxlayout;

bool CdxBag::decode(const uint8_t* p, uint32_t off, const CdxTag& owner, CdxNode& n) const {
    const uint16_t kl = owner.keyLength();
    n.offset = off;
    // Visual FoxPro sets more bits here than root and leaf; we keep those two.
    n.attr = get16(p) & 3;
    uint32_t count = get16(p + 2);
    n.left = get32(p + 4);
    n.right = get32(p + 8);
    n.keys.clear();
    n.recnos.clear();
    n.children.clear();
    if (kl == 0 || kl > kCdxMaxKey) return false;
    if (!n.leaf()) {
        if (count > interiorCapacity(kl)) return false;
        n.keys.reserve(count * kl);
        const uint8_t* e = p + kInteriorHead;
        for (uint32_t i = 0; i < count; ++i, e += kl + 8) {
            n.keys.append(reinterpret_cast<const char*>(e), kl);
            n.recnos.push_back(get32be(e + kl));
            n.children.push_back(get32be(e + kl + 4));
        }
        return true;
    }
    int recBits = p[20], dupBits = p[21], trailBits = p[22], bpe = p[23];
    if (bpe < 1 || bpe > 8 || recBits > 32 || dupBits > 8 || trailBits > 8 ||
        recBits + dupBits + trailBits > bpe * 8)
        return count == 0 ? true : false;
    if (kLeafHead + count * static_cast<uint32_t>(bpe) > kCdxPage) return false;
    n.keys.resize(static_cast<size_t>(count) * kl);
    n.recnos.resize(count);
    uint32_t pos = kCdxPage;
    const uint32_t low = kLeafHead + count * static_cast<uint32_t>(bpe);
    n.stored = -1;  // what others wrote may compress otherwise than we do
    const char pad = owner.pad_;
    const uint64_t recMask = recBits == 0 ? 0 : (uint64_t{1} << recBits) - 1;
    const uint64_t dupMask = (uint64_t{1} << dupBits) - 1;
    const uint64_t trailMask = (uint64_t{1} << trailBits) - 1;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = p + kLeafHead + i * static_cast<uint32_t>(bpe);
        uint64_t v = 0;
        for (int b = bpe - 1; b >= 0; --b) v = (v << 8) | e[b];
        uint32_t rec = static_cast<uint32_t>(v & recMask);
        uint32_t dup = static_cast<uint32_t>((v >> recBits) & dupMask);
        uint32_t trail = static_cast<uint32_t>((v >> (recBits + dupBits)) & trailMask);
        if (dup + trail > kl) return false;
        if (i == 0 && dup != 0) return false;
        uint32_t stored = kl - dup - trail;
        if (pos < low + stored) return false;
        pos -= stored;
        char* k = n.keys.data() + static_cast<size_t>(i) * kl;
        if (dup) std::memcpy(k, k - kl, dup);
        std::memcpy(k + dup, p + pos, stored);
        std::memset(k + dup + stored, pad, trail);
        n.recnos[i] = rec;
    }
    return true;
}

bool CdxBag::encode(const CdxNode& n, const CdxTag& owner, uint8_t* p) const {
    const uint16_t kl = owner.keyLength();
    std::memset(p, 0, kCdxPage);
    put16(p, n.attr);
    put16(p + 2, static_cast<uint32_t>(n.size()));
    put32(p + 4, n.left);
    put32(p + 8, n.right);
    if (!n.leaf()) {
        if (n.size() > interiorCapacity(kl)) return false;
        uint8_t* e = p + kInteriorHead;
        for (size_t i = 0; i < n.size(); ++i, e += kl + 8) {
            std::memcpy(e, n.keys.data() + i * kl, kl);
            put32be(e + kl, n.recnos[i]);
            put32be(e + kl + 4, n.children[i]);
        }
        return true;
    }
    uint32_t maxRec = 0;
    for (uint32_t r : n.recnos) maxRec = std::max(maxRec, r);
    LeafBits lb = leafBits(maxRec, kl);
    const char pad = owner.pad_;
    size_t used = kLeafHead + n.size() * lb.bytes;
    if (used > kCdxPage) return false;
    uint32_t pos = kCdxPage;
    for (size_t i = 0; i < n.size(); ++i) {
        std::string_view k = keyAt(n, i, kl);
        size_t trail = trailOf(k, pad);
        size_t dup = i == 0 ? 0 : dupOf(k, keyAt(n, i - 1, kl), trail, pad);
        size_t stored = kl - dup - trail;
        if (pos < used + stored) return false;
        pos -= static_cast<uint32_t>(stored);
        std::memcpy(p + pos, k.data() + dup, stored);
        uint64_t v =
            n.recnos[i] | (uint64_t{dup} << lb.rec) | (uint64_t{trail} << (lb.rec + lb.dup));
        uint8_t* e = p + kLeafHead + i * lb.bytes;
        for (int b = 0; b < lb.bytes; ++b) e[b] = static_cast<uint8_t>(v >> (8 * b));
    }
    put16(p + 12, static_cast<uint32_t>(pos - used));
    put32(p + 14, static_cast<uint32_t>((uint64_t{1} << lb.rec) - 1));
    p[18] = static_cast<uint8_t>((1 << lb.dup) - 1);
    p[19] = static_cast<uint8_t>((1 << lb.trail) - 1);
    p[20] = static_cast<uint8_t>(lb.rec);
    p[21] = static_cast<uint8_t>(lb.dup);
    p[22] = static_cast<uint8_t>(lb.trail);
    p[23] = static_cast<uint8_t>(lb.bytes);
    return true;
}

bool CdxBag::fits(const CdxNode& n, const CdxTag& owner) const {
    const uint16_t kl = owner.keyLength();
    if (!n.leaf()) return n.size() <= interiorCapacity(kl);
    uint32_t maxRec = 0;
    for (uint32_t r : n.recnos) maxRec = std::max(maxRec, r);
    LeafBits lb = leafBits(maxRec, kl);
    size_t used = kLeafHead + n.size() * lb.bytes;
    if (n.stored >= 0) return used + static_cast<size_t>(n.stored) <= kCdxPage;
    for (size_t i = 0; i < n.size() && used <= kCdxPage; ++i)
        used +=
            storedBytes(keyAt(n, i, kl), i ? keyAt(n, i - 1, kl) : std::string_view(), owner.pad_);
    return used <= kCdxPage;
}

}  // namespace dbf
