// Building a tag in one pass from all its entries: they are sorted by key
// and record (radix passes over eight key bytes at a time), packed into
// leaves seven eighths full and then levels of interior nodes, and written as
// they fill. rebuild() makes every tag of the bag anew this way, without
// reading the old trees.

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "dbf/cdx.h"
#include "dbf/cdx_internal.h"
#include "dbf/error.h"

namespace dbf {

using namespace cdxlayout;

namespace {

// A built leaf is filled to about seven eighths of its page: the keys added
// afterwards find room without splitting the leaf at once.
constexpr size_t kBuildFill = kLeafHead + (kCdxPage - kLeafHead) * 7 / 8;
// Pages a build keeps before writing them out.
constexpr size_t kBuildBatch = 4096;

// Eight key bytes from `at` as a number that orders as the bytes do (zeros
// past the end of the key).
uint64_t chunkAt(const char* key, size_t kl, size_t at) {
    uint8_t b[8] = {};
    if (at < kl) std::memcpy(b, key + at, std::min<size_t>(8, kl - at));
    uint64_t v = 0;
    for (uint8_t c : b) v = (v << 8) | c;
    return v;
}

// How far ahead of a walk in key order the key bytes are asked for: keys in
// that order lie anywhere in the buffer.
constexpr size_t kAhead = 16;

struct SortItem {
    uint64_t chunk;  // the key's bytes at the current depth
    uint32_t recno;
    uint32_t at;  // entry in the flat buffer
};

// Orders items[lo, hi), whose keys agree before byte `depth` and which come
// in record order, by the eight key bytes at `depth` and the record number;
// then each run of equal bytes by the next eight. Whole numbers are compared
// instead of keys read at random from a buffer of many megabytes. Large runs
// go through a stable byte-wise radix sort, which keeps the record order of
// equal keys; bytes the same in every item cost no pass.
void sortFrom(BigArray<SortItem>& items, BigArray<SortItem>& spare, size_t lo, size_t hi,
              const char* base, size_t kl, size_t depth) {
    for (size_t i = lo; i < hi; ++i) {
        if (i + kAhead < hi) __builtin_prefetch(base + size_t{items[i + kAhead].at} * kl + depth);
        items[i].chunk = chunkAt(base + size_t{items[i].at} * kl, kl, depth);
    }
    if (hi - lo < 256) {
        std::sort(items.begin() + lo, items.begin() + hi, [](const SortItem& a, const SortItem& b) {
            return a.chunk < b.chunk || (a.chunk == b.chunk && a.recno < b.recno);
        });
    } else {
        std::vector<std::array<uint32_t, 256>> counts(8, std::array<uint32_t, 256>{});
        for (size_t i = lo; i < hi; ++i)
            for (int d = 0; d < 8; ++d) ++counts[d][(items[i].chunk >> (8 * d)) & 0xFF];
        SortItem* from = items.data() + lo;
        SortItem* to = spare.data() + lo;
        const size_t n = hi - lo;
        for (int d = 0; d < 8; ++d) {
            auto& c = counts[static_cast<size_t>(d)];
            if (c[(from[0].chunk >> (8 * d)) & 0xFF] == n) continue;
            uint32_t at = 0;
            for (auto& k : c) {
                uint32_t here = k;
                k = at;
                at += here;
            }
            for (size_t i = 0; i < n; ++i) to[c[(from[i].chunk >> (8 * d)) & 0xFF]++] = from[i];
            std::swap(from, to);
        }
        if (from != items.data() + lo) std::copy(from, from + n, items.data() + lo);
    }
    if (depth + 8 >= kl) return;
    for (size_t i = lo; i < hi;) {
        size_t j = i + 1;
        while (j < hi && items[j].chunk == items[i].chunk) ++j;
        if (j - i > 1) sortFrom(items, spare, i, j, base, kl, depth + 8);
        i = j;
    }
}

// The entries of a tag being built, in key and record order: the same entry
// given twice goes in once, and a unique tag keeps the first record of each
// key.
BigArray<uint32_t> sortedEntries(const BigArray<char>& flat, const BigArray<uint32_t>& recnos,
                                 size_t kl, bool unique) {
    BigArray<SortItem> items(recnos.size());
    for (uint32_t i = 0; i < items.size(); ++i) items[i] = {0, recnos[i], i};
    if (!std::is_sorted(recnos.begin(), recnos.end()))
        std::stable_sort(items.begin(), items.end(),
                         [](const SortItem& a, const SortItem& b) { return a.recno < b.recno; });
    const char* base = flat.data();
    {
        BigArray<SortItem> spare(items.size());
        sortFrom(items, spare, 0, items.size(), base, kl, 0);
    }
    BigArray<uint32_t> sel;
    sel.reserve(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) {
            const SortItem& a = items[i - 1];
            const SortItem& b = items[i];
            bool sameKey = a.chunk == b.chunk &&
                           std::memcmp(base + size_t{a.at} * kl, base + size_t{b.at} * kl, kl) == 0;
            if (sameKey && (unique || a.recno == b.recno)) continue;
        }
        sel.push_back(items[i].at);
    }
    return sel;
}

// The last entry of each node of a level, for the level above.
struct LevelEnds {
    std::string keys;
    std::vector<uint32_t> recnos, children;
};

// Writes the nodes of one level as they fill. A full node goes out once the
// offset of the next one is taken, so that its right link is known.
struct LevelWriter {
    LevelWriter(CdxBag& b, const CdxTag& o, uint16_t k) : bag(b), owner(o), kl(k) {}
    CdxBag& bag;
    const CdxTag& owner;
    uint16_t kl;
    size_t written = 0;
    LevelEnds up;

    void start(CdxNode& cur, uint16_t attr) {
        cur = CdxNode();
        cur.attr = attr;
        cur.offset = bag.allocNode();
    }
    // `cur` is full and more entries follow: it goes out, and becomes its
    // right neighbour, empty.
    void next(CdxNode& cur) {
        cur.right = bag.allocNode();
        emit(cur);
        cur.left = cur.offset;
        cur.offset = cur.right;
        cur.right = kCdxNone;
        cur.keys.clear();
        cur.recnos.clear();
        cur.children.clear();
        cur.stored = -1;
    }
    // The level's last node; the root when it is the level's only one.
    void finish(CdxNode& cur) {
        if (written == 0) cur.attr |= 1;
        emit(cur);
    }
    void emit(const CdxNode& n) {
        if (n.size()) {
            up.keys.append(n.keys, (n.size() - 1) * kl, kl);
            up.recnos.push_back(n.recnos.back());
            up.children.push_back(n.offset);
        }
        bag.storeBuilt(n, owner);
        ++written;
    }
};

// Packs sorted entries into leaves, then levels of interior nodes, at offsets
// taken from the bag as each node starts; returns the root.
struct Builder {
    CdxBag& bag;
    const CdxTag& owner;
    uint16_t kl;
    char pad;

    // Entries sel[0..] in order, read through the flat key buffer.
    uint32_t build(const char* flat, const uint32_t* recnos, const BigArray<uint32_t>& sel) {
        LevelWriter out{bag, owner, kl};
        CdxNode cur;
        out.start(cur, 2);
        size_t stored = 0;
        uint32_t maxRec = 0;
        std::string_view prev;
        for (size_t i = 0; i < sel.size(); ++i) {
            if (i + kAhead < sel.size()) {
                const char* ahead = flat + size_t{sel[i + kAhead]} * kl;
                __builtin_prefetch(ahead);
                __builtin_prefetch(ahead + kl - 1);
            }
            uint32_t at = sel[i];
            std::string_view key(flat + size_t{at} * kl, kl);
            uint32_t rec = recnos[at];
            size_t s = storedBytes(key, prev, pad);
            uint32_t mr = std::max(maxRec, rec);
            LeafBits lb = leafBits(mr, kl);
            size_t need = kLeafHead + (cur.size() + 1) * lb.bytes + stored + s;
            if (need > kBuildFill && cur.size() > 0) {
                cur.stored = static_cast<int64_t>(stored);
                out.next(cur);
                stored = 0;
                s = storedBytes(key, {}, pad);
                mr = rec;
            }
            cur.keys.append(key);
            cur.recnos.push_back(rec);
            stored += s;
            maxRec = mr;
            prev = key;
        }
        cur.stored = static_cast<int64_t>(stored);
        uint32_t last = cur.offset;
        out.finish(cur);
        if (out.written == 1) return last;
        return buildLevels(std::move(out.up));
    }

    // Interior levels over the last entries of the nodes below, spread evenly
    // over as few nodes as hold them seven eighths full (as the leaves, so
    // that a leaf split does not split its parent as well), until one node is
    // left.
    uint32_t buildLevels(LevelEnds below) {
        const size_t cap = std::max<size_t>(2, interiorCapacity(kl) * 7 / 8);
        for (;;) {
            const size_t m = below.recnos.size();
            const size_t count = (m + cap - 1) / cap;
            const size_t per = (m + count - 1) / count;
            LevelWriter out{bag, owner, kl};
            CdxNode cur;
            out.start(cur, 0);
            for (size_t i = 0; i < m; i += per) {
                if (i) out.next(cur);
                for (size_t j = i; j < std::min(m, i + per); ++j) {
                    cur.keys.append(below.keys, j * kl, kl);
                    cur.recnos.push_back(below.recnos[j]);
                    cur.children.push_back(below.children[j]);
                }
            }
            uint32_t last = cur.offset;
            out.finish(cur);
            if (out.written == 1) return last;
            below = std::move(out.up);
        }
    }
};

}  // namespace

void CdxBag::storeBuilt(const CdxNode& n, const CdxTag& owner) {
    std::array<uint8_t, kCdxPage> page;
    if (!encode(n, owner, page.data())) corrupt("nodo demasiado lleno al escribir");
    cache_.erase(n.offset);
    leafHeads_.erase(n.offset);
    fileEnd_ = std::max<uint64_t>(fileEnd_, uint64_t{n.offset} + kCdxPage);
    ++generation_;
    dirty_[n.offset] = page;
    // A large build goes to the file as it grows instead of piling up.
    if (dirty_.size() >= kBuildBatch) writeBack();
}

CdxTag* CdxBag::buildTag(std::string name, std::string keyExpr, std::string forExpr, bool unique,
                         cdxkey::Type type, uint16_t keyLength,
                         std::vector<std::pair<std::string, uint32_t>> entries) {
    const char pad = cdxkey::padByte(type);
    BigArray<char> flat;
    BigArray<uint32_t> recnos;
    flat.reserve(entries.size() * keyLength);
    recnos.reserve(entries.size());
    for (auto& e : entries) {
        e.first.resize(keyLength, pad);
        flat.append(e.first.data(), keyLength);
        recnos.push_back(e.second);
    }
    return buildTag(std::move(name), std::move(keyExpr), std::move(forExpr), unique, type,
                    keyLength, std::move(flat), std::move(recnos));
}

CdxTag* CdxBag::buildTag(std::string name, std::string keyExpr, std::string forExpr, bool unique,
                         cdxkey::Type type, uint16_t keyLength, BigArray<char> flat,
                         BigArray<uint32_t> recnos) {
    name = upperName(name);
    if (name.empty()) throw DbfError(kErrArg, "Falta el nombre de la etiqueta", path_);
    if (keyLength == 0 || keyLength > kCdxMaxKey)
        throw DbfError(kErrDataWidth,
                       "La clave de la etiqueta " + name + " mide " + std::to_string(keyLength) +
                           " bytes; el índice admite de 1 a 240",
                       path_);
    if (flat.size() != recnos.size() * keyLength)
        throw DbfError(kErrArg, "Claves de la etiqueta " + name + " mal formadas", path_);
    for (char c : name)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_'))
            throw DbfError(kErrArg, "Nombre de etiqueta no válido: " + name, path_);
    WriteGuard g(*this);
    loadDirectory();
    const char pad = cdxkey::padByte(type);
    BigArray<uint32_t> sel = sortedEntries(flat, recnos, keyLength, unique);
    CdxTag* existing = nullptr;
    for (auto& t : tags_)
        if (t->name() == name) existing = t.get();
    CdxTagInfo info;
    info.name = name;
    info.keyLength = keyLength;
    info.options = static_cast<uint8_t>(kCdxCompact | kCdxCompound | (unique ? kCdxUnique : 0) |
                                        (forExpr.empty() ? 0 : kCdxHasFor));
    info.keyExpr = std::move(keyExpr);
    info.forExpr = std::move(forExpr);
    if (existing) {
        // Same header, so the tag keeps its place among the others. The old
        // tree's pages are freed when it can be walked; a damaged one is left
        // behind rather than followed.
        std::vector<uint32_t> old;
        try {
            old = collectTree(*existing);
        } catch (const DbfError&) {
            old.clear();
            clearCache();
        }
        for (uint32_t off : old) freeNode(off);
        info.header = existing->info_.header;
    } else {
        info.header = allocHeader();
    }
    CdxTag* t = existing;
    if (!t) {
        tags_.emplace_back(new CdxTag(this, info));
        t = tags_.back().get();
    }
    t->info_ = info;
    t->type_ = type;
    t->pad_ = pad;
    Builder b{*this, *t, keyLength, pad};
    uint32_t root = b.build(flat.data(), recnos.data(), sel);
    writeTagHeader(info, root);
    t->root_ = root;
    t->rootStamp_ = epoch_;
    if (!existing) {
        std::string dirKey = name;
        dirKey.resize(10, ' ');
        directory_->insert(dirKey, info.header);
    }
    return t;
}

void CdxBag::rebuild(std::vector<TagSource> sources) {
    for (TagSource& src : sources) {
        src.name = upperName(src.name);
        if (src.keyLength == 0 || src.keyLength > kCdxMaxKey ||
            src.flatKeys.size() != src.recnos.size() * src.keyLength)
            throw DbfError(kErrArg, "Claves de la etiqueta " + src.name + " mal formadas", path_);
    }
    if (exclusive_) {
        // Alone on the file: the new bag is written beside it and takes its
        // place whole, so that the file holds no page of the old one.
        std::string scratch = path_ + ".vdrnew";
        std::unique_ptr<CdxBag> nb = create(scratch, true);
        for (TagSource& src : sources)
            nb->buildTag(src.name, src.keyExpr, src.forExpr, src.unique, src.type, src.keyLength,
                         std::move(src.flatKeys), std::move(src.recnos));
        nb->flush();
        if (::fdatasync(nb->fd_) != 0 || ::rename(scratch.c_str(), path_.c_str()) != 0) {
            int err = errno;
            nb.reset();
            ::unlink(scratch.c_str());
            throw DbfError(kErrWrite, "No se puede reconstruir el índice", path_, err);
        }
        // The scratch file's descriptor (and its exclusive lock) is ours now.
        ::close(fd_);
        fd_ = nb->fd_;
        nb->fd_ = -1;
        fileEnd_ = nb->fileEnd_;
        counter_ = nb->counter_;
        freeHead_ = nb->freeHead_;
        headerDirty_ = false;
        slot_ = -1;
        marked_ = false;
        dropCache();
        ReadGuard g(*this);
        loadDirectory();
        for (auto& t : tags_)
            for (auto& nt : nb->tags_)
                if (nt->name() == t->name()) t->setKeyType(nt->type_);
        return;
    }
    // Shared: the headers stay where others find them; every tree is built
    // anew at the end of the file, and only then do the headers name the new
    // roots (see writeBack). The old trees and free list are abandoned, not
    // walked: a later rebuild in exclusive use gives their room back.
    WriteGuard g(*this);
    dropCache();
    loadDirectory();
    freeHead_ = 0;
    headerDirty_ = true;
    for (TagSource& src : sources) {
        CdxTag* t = nullptr;
        for (auto& x : tags_)
            if (x->name() == src.name) t = x.get();
        if (!t) throw DbfError(kErrArg, "El índice no tiene la etiqueta " + src.name, path_);
        CdxTagInfo info = t->info_;
        info.keyLength = src.keyLength;
        info.options =
            static_cast<uint8_t>(kCdxCompact | kCdxCompound | (src.unique ? kCdxUnique : 0) |
                                 (src.forExpr.empty() ? 0 : kCdxHasFor));
        info.keyExpr = src.keyExpr;
        info.forExpr = src.forExpr;
        t->info_ = info;
        t->type_ = src.type;
        t->pad_ = cdxkey::padByte(src.type);
        BigArray<uint32_t> sel = sortedEntries(src.flatKeys, src.recnos, src.keyLength, src.unique);
        Builder b{*this, *t, src.keyLength, t->pad_};
        uint32_t root = b.build(src.flatKeys.data(), src.recnos.data(), sel);
        writeTagHeader(info, root);
        t->root_ = root;
        t->rootStamp_ = epoch_;
    }
}

}  // namespace dbf
