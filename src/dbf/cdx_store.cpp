// The node store: pages given out from the free list or the end of the file
// and given back to the free list, the two pages of each tag's header, and
// the directory of tags (itself a tag of names) read into the bag's tag
// objects; removing a tag frees its whole tree.

#include <algorithm>
#include <array>
#include <cstring>
#include <set>

#include "dbf/cdx.h"
#include "dbf/cdx_internal.h"
#include "dbf/error.h"

namespace dbf {

using namespace cdxlayout;

uint32_t CdxBag::allocNode() {
    ++generation_;
    if (freeHead_ != 0 && freeHead_ != kCdxNone && freeHead_ % kCdxPage == 0 &&
        freeHead_ >= kHeaderSize && uint64_t{freeHead_} + kCdxPage <= fileEnd_) {
        uint32_t off = freeHead_;
        uint8_t h[4];
        auto d = dirty_.find(off);
        if (d != dirty_.end())
            std::memcpy(h, d->second.data(), 4);
        else
            readExact(h, 4, off);
        uint32_t next = get32(h);
        freeHead_ = next;
        headerDirty_ = true;
        cache_.erase(off);
        leafHeads_.erase(off);
        freed_.erase(off);
        fresh_.insert(off);
        return off;
    }
    if (freeHead_ != 0) {
        // A free list we cannot trust is dropped rather than followed.
        freeHead_ = 0;
        headerDirty_ = true;
    }
    uint64_t end = (fileEnd_ + kCdxPage - 1) / kCdxPage * kCdxPage;
    if (end + kCdxPage > 0xFFFFFE00u) throw DbfError(kErrWrite, "El índice está lleno", path_);
    fileEnd_ = end + kCdxPage;
    // Reserve the page at once so that a later allocation does not hand it out again.
    std::array<uint8_t, kCdxPage> zero{};
    dirty_[static_cast<uint32_t>(end)] = zero;
    fresh_.insert(static_cast<uint32_t>(end));
    return static_cast<uint32_t>(end);
}

void CdxBag::freeNode(uint32_t off) {
    ++generation_;
    cache_.erase(off);
    leafHeads_.erase(off);
    std::array<uint8_t, kCdxPage> page{};
    put32(page.data(), freeHead_);
    dirty_[off] = page;
    freed_.insert(off);
    freeHead_ = off;
    headerDirty_ = true;
}

uint32_t CdxBag::allocHeader() {
    // Tag headers go at the end of the file: their order there is the order of
    // creation that the tags' numbers follow.
    uint64_t end = (fileEnd_ + kCdxPage - 1) / kCdxPage * kCdxPage;
    if (end + kHeaderSize > 0xFFFFFE00u) throw DbfError(kErrWrite, "El índice está lleno", path_);
    fileEnd_ = end + kHeaderSize;
    std::array<uint8_t, kCdxPage> zero{};
    dirty_[static_cast<uint32_t>(end)] = zero;
    dirty_[static_cast<uint32_t>(end + kCdxPage)] = zero;
    fresh_.insert(static_cast<uint32_t>(end));
    fresh_.insert(static_cast<uint32_t>(end + kCdxPage));
    ++generation_;
    return static_cast<uint32_t>(end);
}

void CdxBag::writeTagHeader(const CdxTagInfo& info, uint32_t root) {
    std::array<uint8_t, kCdxPage> h{}, x{};
    put32(h.data(), root);
    put16(h.data() + 12, info.keyLength);
    h[14] = info.options;
    h[15] = 1;
    put16(h.data() + 502, info.descending ? 1 : 0);
    std::string k = info.keyExpr.substr(0, 400), f = info.forExpr.substr(0, 100);
    put16(h.data() + 504, static_cast<uint32_t>(k.size() + 1));
    put16(h.data() + 506, static_cast<uint32_t>(f.size() + 1));
    put16(h.data() + 510, static_cast<uint32_t>(k.size() + 1));
    std::memcpy(x.data(), k.data(), k.size());
    std::memcpy(x.data() + k.size() + 1, f.data(), f.size());
    if (info.header == 0) {
        // The bag's own header: the directory; keep the free list, counter
        // and the change marks of the writers.
        put32(h.data() + 4, freeHead_);
        put32(h.data() + 8, counter_);
        readExact(h.data() + kMarkOffset, 4 * kMarkSlots, kMarkOffset);
    }
    dirty_[info.header] = h;
    dirty_[info.header + kCdxPage] = x;
    headerPages_.insert(info.header);
    headerPages_.insert(info.header + kCdxPage);
    ++generation_;
}

uint32_t CdxBag::readRoot(uint32_t header) {
    uint8_t h[kCdxPage];
    readPage(header, h);
    return get32(h);
}

void CdxBag::loadDirectory() {
    if (dirLoaded_) return;
    const bool first = !directory_;  // the open's own load
    if (!directory_) {
        CdxTagInfo di;
        di.name = "";
        di.header = 0;
        di.keyLength = 10;
        di.options = 0xE0;
        directory_.reset(new CdxTag(this, di));
    }
    {
        uint8_t h[kCdxPage];
        readPage(0, h);
        if (get16(h + 12) != 10) corrupt("la cabecera del directorio de etiquetas no es válida");
        // The directory's root, from the page just read; so are the marks.
        directory_->root_ = get32(h);
        directory_->rootStamp_ = epoch_;
        static_assert(sizeof openMarks_ == 4 * kMarkSlots &&
                      kMarkOffset + 4 * kMarkSlots <= kCdxPage);
        if (first) {
            std::memcpy(openMarks_.data(), h + kMarkOffset, openMarks_.size());
            openMarksKept_ = true;
        }
    }
    std::vector<std::pair<std::string, uint32_t>> entries;
    directory_->walk([&](std::string_view key, uint32_t rec) {
        entries.emplace_back(upperName(key), rec);
        return entries.size() < 10000;
    });
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.second < b.second; });
    std::vector<std::unique_ptr<CdxTag>> next;
    for (auto& [name, off] : entries) {
        if (off % kCdxPage != 0 || off < kHeaderSize || uint64_t{off} + kHeaderSize > fileEnd_)
            corrupt("la etiqueta " + name + " apunta fuera del fichero");
        uint8_t h[kHeaderSize];
        if (dirty_.count(off) || dirty_.count(off + kCdxPage)) {
            readPage(off, h);
            readPage(off + kCdxPage, h + kCdxPage);
        } else {
            readExact(h, kHeaderSize, off);  // both pages of the header in one read
        }
        CdxTagInfo info;
        info.name = name;
        info.header = off;
        info.keyLength = get16(h + 12);
        info.options = h[14];
        info.descending = get16(h + 502) != 0;
        if (info.keyLength == 0 || info.keyLength > kCdxMaxKey)
            corrupt("longitud de clave imposible en la etiqueta " + name);
        const char* ex = reinterpret_cast<const char*>(h + 512);
        size_t kLen = strnlen(ex, 512);
        info.keyExpr.assign(ex, kLen);
        if (kLen + 1 < 512) info.forExpr.assign(ex + kLen + 1, strnlen(ex + kLen + 1, 511 - kLen));
        // The tag object survives a reload so that orders holding it stay valid.
        std::unique_ptr<CdxTag> t;
        for (auto& old : tags_)
            if (old && old->info_.name == name) t = std::move(old);
        if (!t) {
            t.reset(new CdxTag(this, info));
            t->type_ = cdxkey::Type::Character;
            t->pad_ = ' ';
            bool guessed = false;
            if (info.keyLength == 4 || info.keyLength == 8) {
                // No type is stored in the file; until the order layer says
                // better, a key that starts with a byte no text key holds is binary.
                t->rootStamp_ = ~uint64_t{0};
                try {
                    CdxPos p = t->first();
                    if (p.valid) {
                        uint8_t c0 = static_cast<uint8_t>(p.key[0]);
                        if (c0 >= 0x80 || c0 < 0x20) guessed = true;
                    }
                } catch (const DbfError&) {
                }
                clearCache();
            }
            if (guessed) {
                t->type_ = info.keyLength == 4 ? cdxkey::Type::Integer : cdxkey::Type::Numeric;
                t->pad_ = '\0';
            }
        } else {
            t->info_ = info;
        }
        t->rootStamp_ = ~uint64_t{0};
        next.push_back(std::move(t));
    }
    tags_ = std::move(next);
    dirLoaded_ = true;
}

std::vector<CdxTag*> CdxBag::tags() {
    ReadGuard g(*this);
    loadDirectory();
    std::vector<CdxTag*> r;
    for (auto& t : tags_) r.push_back(t.get());
    return r;
}

CdxTag* CdxBag::tag(std::string_view name) {
    std::string n = upperName(name);
    for (CdxTag* t : tags())
        if (t->name() == n) return t;
    return nullptr;
}

std::vector<uint32_t> CdxBag::collectTree(CdxTag& t) {
    std::vector<uint32_t> nodes;
    std::vector<uint32_t> level{t.root()};
    std::set<uint32_t> seen;
    for (int depth = 0; depth < kMaxDepth && !level.empty(); ++depth) {
        std::vector<uint32_t> below;
        for (uint32_t off : level) {
            if (!seen.insert(off).second) continue;
            const CdxNode& nd = node(off, t);
            nodes.push_back(off);
            if (!nd.leaf()) below.insert(below.end(), nd.children.begin(), nd.children.end());
        }
        level = std::move(below);
    }
    return nodes;
}

void CdxBag::removeTag(std::string_view name) {
    WriteGuard g(*this);
    loadDirectory();
    CdxTag* t = nullptr;
    std::string n = upperName(name);
    for (auto& x : tags_)
        if (x->name() == n) t = x.get();
    if (!t) return;
    std::vector<uint32_t> nodes = collectTree(*t);
    directory_->remove(std::string(n).append(10 - n.size(), ' '), t->info_.header);
    for (uint32_t off : nodes) freeNode(off);
    freeNode(t->info_.header);
    freeNode(t->info_.header + kCdxPage);
    dirLoaded_ = false;
    loadDirectory();
}

std::vector<CdxTagInfo> CdxBag::definitions() {
    ReadGuard g(*this);
    loadDirectory();
    std::vector<CdxTagInfo> out;
    for (auto& t : tags_) out.push_back(t->info_);
    return out;
}

}  // namespace dbf
