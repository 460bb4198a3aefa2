// Reading a tag's tree: descending to a key, seeking, stepping to the next
// and previous entries along the leaves' links, walking and counting, and
// checking the tree's structure. A position keeps where it was found and is
// found again by its key and record once the bag has changed.

#include <cstring>
#include <set>

#include "dbf/cdx.h"
#include "dbf/cdx_internal.h"
#include "dbf/error.h"

namespace dbf {

using namespace cdxlayout;

void CdxTag::setKeyType(cdxkey::Type t) {
    if (t == type_) return;
    // Nodes decoded with the old pad byte are wrong after the change: out of
    // the cache first (written with the pad they were read with).
    bag_->clearCache();
    type_ = t;
    pad_ = cdxkey::padByte(t);
}

std::string CdxTag::normalize(std::string_view key) const {
    std::string k(key.substr(0, info_.keyLength));
    k.resize(info_.keyLength, pad_);
    return k;
}

uint32_t CdxTag::root() {
    if (rootStamp_ != bag_->epoch_) {
        root_ = bag_->readRoot(info_.header);
        rootStamp_ = bag_->epoch_;
    }
    return root_;
}

int CdxTag::cmpEntry(const CdxNode& n, size_t i, std::string_view key, uint32_t recno) const {
    int c = std::memcmp(n.keys.data() + i * info_.keyLength, key.data(), info_.keyLength);
    if (c) return c;
    uint32_t r = n.recnos[i];
    return r < recno ? -1 : r > recno ? 1 : 0;
}

CdxPos CdxTag::at(const CdxNode& n, size_t i) {
    CdxPos p;
    p.valid = true;
    p.key = n.keys.substr(i * info_.keyLength, info_.keyLength);
    p.recno = n.recnos[i];
    p.leaf = n.offset;
    p.index = static_cast<uint32_t>(i);
    p.stamp = bag_->generation();
    return p;
}

void CdxTag::descend(std::string_view key, uint32_t recno, std::vector<PathStep>& path) {
    path.clear();
    uint32_t off = root();
    for (int depth = 0;; ++depth) {
        if (depth > kMaxDepth) bag_->corrupt("árbol demasiado profundo en la etiqueta " + name());
        const CdxNode& n = bag_->node(off, *this);
        size_t lo = 0, hi = n.size();
        while (lo < hi) {
            size_t mid = (lo + hi) / 2;
            if (cmpEntry(n, mid, key, recno) < 0)
                lo = mid + 1;
            else
                hi = mid;
        }
        if (n.leaf()) {
            path.push_back({off, lo});
            return;
        }
        if (n.size() == 0) bag_->corrupt("nodo interior vacío en la etiqueta " + name());
        if (lo == n.size()) lo = n.size() - 1;
        path.push_back({off, lo});
        off = n.children[lo];
    }
}

CdxPos CdxTag::stepFrom(const CdxNode& start, size_t i, int dir) {
    if (dir > 0 && i + 1 < start.size()) return at(start, i + 1);
    if (dir < 0 && i > 0 && i - 1 < start.size()) return at(start, i - 1);
    uint32_t off = dir > 0 ? start.right : start.left;
    for (int guard = 0; off != kCdxNone && guard < 1000000; ++guard) {
        const CdxNode& n = bag_->node(off, *this);
        if (!n.leaf()) bag_->corrupt("vecino de una hoja que no es hoja en la etiqueta " + name());
        if (n.size() > 0) return at(n, dir > 0 ? 0 : n.size() - 1);
        off = dir > 0 ? n.right : n.left;
    }
    return {};
}

CdxPos CdxTag::firstFrom(uint32_t off, bool lastOne) {
    for (int depth = 0;; ++depth) {
        if (depth > kMaxDepth) bag_->corrupt("árbol demasiado profundo en la etiqueta " + name());
        const CdxNode& n = bag_->node(off, *this);
        if (n.leaf()) {
            if (n.size() > 0) return at(n, lastOne ? n.size() - 1 : 0);
            CdxNode copy = n;
            return stepFrom(copy, lastOne ? 0 : 0, lastOne ? -1 : 1);
        }
        if (n.size() == 0) return {};
        off = n.children[lastOne ? n.size() - 1 : 0];
    }
}

CdxPos CdxTag::first() {
    CdxBag::ReadGuard g(*bag_);
    return firstFrom(root(), false);
}

CdxPos CdxTag::last() {
    CdxBag::ReadGuard g(*bag_);
    return firstFrom(root(), true);
}

CdxPos CdxTag::seekEntry(std::string_view key, uint32_t recno) {
    CdxBag::ReadGuard g(*bag_);
    std::string k = normalize(key);
    std::vector<PathStep> path;
    descend(k, recno, path);
    const CdxNode& n = bag_->node(path.back().node, *this);
    size_t i = path.back().index;
    if (i < n.size()) return at(n, i);
    if (n.size() == 0) {
        CdxNode copy = n;
        return stepFrom(copy, 0, 1);
    }
    CdxNode copy = n;
    return stepFrom(copy, n.size() - 1, 1);
}

CdxPos CdxTag::seekFirst(std::string_view prefix) {
    std::string k(prefix.substr(0, info_.keyLength));
    k.resize(info_.keyLength, '\0');
    return seekEntry(k, 0);
}

CdxPos CdxTag::seekLast(std::string_view prefix) {
    CdxBag::ReadGuard g(*bag_);
    std::string k(prefix.substr(0, info_.keyLength));
    k.resize(info_.keyLength, '\xFF');
    CdxPos p = seekEntry(k, 0xFFFFFFFFu);
    if (!p.valid) return last();
    return prev(p);
}

bool CdxTag::contains(std::string_view key, uint32_t recno) {
    CdxPos p = seekEntry(key, recno);
    return p.valid && p.recno == recno && p.key == normalize(key);
}

bool CdxTag::holds(const CdxPos& p) {
    if (!p.valid) return false;
    CdxBag::ReadGuard g(*bag_);
    if (p.stamp == bag_->generation()) {
        const CdxNode& n = bag_->node(p.leaf, *this);
        return p.index < n.size() && n.recnos[p.index] == p.recno &&
               n.keys.compare(size_t{p.index} * info_.keyLength, info_.keyLength, p.key) == 0;
    }
    return contains(p.key, p.recno);
}

CdxPos CdxTag::locate(const CdxPos& p) {
    return seekEntry(p.key, p.recno);
}

CdxPos CdxTag::next(const CdxPos& p) {
    if (!p.valid) return {};
    CdxBag::ReadGuard g(*bag_);
    if (p.stamp == bag_->generation()) {
        const CdxNode& n = bag_->node(p.leaf, *this);
        if (p.index < n.size()) return stepFrom(n, p.index, 1);
    }
    CdxPos q = locate(p);
    if (q.valid && q.recno == p.recno && q.key == p.key) {
        const CdxNode& n = bag_->node(q.leaf, *this);
        return stepFrom(n, q.index, 1);
    }
    return q;  // the entry went away: what follows it now
}

CdxPos CdxTag::prev(const CdxPos& p) {
    if (!p.valid) return {};
    CdxBag::ReadGuard g(*bag_);
    if (p.stamp == bag_->generation()) {
        const CdxNode& n = bag_->node(p.leaf, *this);
        if (p.index < n.size()) return stepFrom(n, p.index, -1);
    }
    CdxPos q = locate(p);
    if (!q.valid) return last();
    const CdxNode& n = bag_->node(q.leaf, *this);
    return stepFrom(n, q.index, -1);
}

void CdxTag::walk(const std::function<bool(std::string_view, uint32_t)>& fn) {
    CdxBag::ReadGuard g(*bag_);
    // Leaf by leaf along the neighbour links.
    uint32_t off = root();
    for (int depth = 0;; ++depth) {
        if (depth > kMaxDepth) bag_->corrupt("árbol demasiado profundo en la etiqueta " + name());
        const CdxNode& n = bag_->node(off, *this);
        if (n.leaf()) break;
        if (n.size() == 0) return;
        off = n.children[0];
    }
    std::set<uint32_t> seen;
    while (off != kCdxNone) {
        if (!seen.insert(off).second)
            bag_->corrupt("enlaces de hojas en ciclo en la etiqueta " + name());
        CdxNode n = bag_->node(off, *this);
        if (!n.leaf()) bag_->corrupt("vecino de una hoja que no es hoja en la etiqueta " + name());
        for (size_t i = 0; i < n.size(); ++i)
            if (!fn(std::string_view(n.keys).substr(i * info_.keyLength, info_.keyLength),
                    n.recnos[i]))
                return;
        off = n.right;
    }
}

uint64_t CdxTag::count() {
    uint64_t c = 0;
    walk([&](std::string_view, uint32_t) {
        ++c;
        return true;
    });
    return c;
}

// The position itself while the bag is unchanged; else found again by its
// key and record (or what follows it now).
CdxPos CdxTag::fresh(const CdxPos& p) {
    if (p.stamp == bag_->generation()) {
        const CdxNode& n = bag_->node(p.leaf, *this);
        if (p.index < n.size()) return p;
    }
    return locate(p);
}

uint64_t CdxTag::span(const CdxPos& a, const CdxPos& b) {
    if (!a.valid || !b.valid) return 0;
    CdxBag::ReadGuard g(*bag_);
    CdxPos qa = fresh(a);
    CdxPos qb = fresh(b);
    if (!qa.valid || !qb.valid) return 0;
    if (qa.leaf == qb.leaf) return qb.index >= qa.index ? qb.index - qa.index + 1 : 0;
    auto [size, right] = bag_->leafCount(qa.leaf, *this);
    uint64_t n = size > qa.index ? size - qa.index : 0;
    // A sound chain visits each page once at most.
    uint64_t guard = bag_->fileEnd_ / kCdxPage + 1;
    for (uint32_t off = right; off != kCdxNone; --guard) {
        if (guard == 0) bag_->corrupt("enlaces de hojas en ciclo en la etiqueta " + name());
        if (off == qb.leaf) return n + qb.index + 1;
        auto [c, r] = bag_->leafCount(off, *this);
        n += c;
        off = r;
    }
    return 0;  // `b` was not to the right of `a`
}

CdxPos CdxTag::advance(const CdxPos& a, uint64_t n) {
    if (!a.valid) return {};
    CdxBag::ReadGuard g(*bag_);
    CdxPos q = fresh(a);
    if (!q.valid) return {};
    auto [size, right] = bag_->leafCount(q.leaf, *this);
    if (q.index + n < size) return at(bag_->node(q.leaf, *this), q.index + static_cast<size_t>(n));
    n -= size - q.index;
    uint64_t guard = bag_->fileEnd_ / kCdxPage + 1;
    for (uint32_t off = right; off != kCdxNone; --guard) {
        if (guard == 0) bag_->corrupt("enlaces de hojas en ciclo en la etiqueta " + name());
        auto [c, r] = bag_->leafCount(off, *this);
        if (n < c) {
            const CdxNode& leaf = bag_->node(off, *this);
            if (n >= leaf.size()) return {};
            return at(leaf, static_cast<size_t>(n));
        }
        n -= c;
        off = r;
    }
    return {};
}

std::vector<std::string> CdxTag::checkStructure() {
    CdxBag::ReadGuard g(*bag_);
    std::vector<std::string> faults;
    const uint16_t kl = info_.keyLength;
    auto fault = [&](const std::string& s) {
        if (faults.size() < 100) faults.push_back("etiqueta " + name() + ": " + s);
    };
    struct Item {
        uint32_t off;
        bool hasBound;
        std::string key;
        uint32_t recno;
    };
    std::vector<Item> level{{root(), false, {}, 0}};
    std::set<uint32_t> seen;
    bool rootLevel = true;
    try {
        for (int depth = 0; !level.empty(); ++depth) {
            if (depth > kMaxDepth) {
                fault("árbol demasiado profundo");
                break;
            }
            std::vector<Item> below;
            int leaves = -1;
            std::string prevKey;
            uint32_t prevRec = 0;
            bool havePrev = false;
            for (size_t li = 0; li < level.size(); ++li) {
                const Item& it = level[li];
                if (!seen.insert(it.off).second) {
                    fault("el nodo " + std::to_string(it.off) + " aparece dos veces");
                    continue;
                }
                CdxNode n = bag_->node(it.off, *this);
                if (rootLevel != static_cast<bool>(n.attr & 1))
                    fault("marca de raíz errónea en el nodo " + std::to_string(it.off));
                int isLeaf = n.leaf() ? 1 : 0;
                if (leaves == -1) leaves = isLeaf;
                if (leaves != isLeaf) fault("hojas y nodos interiores en un mismo nivel");
                uint32_t wantLeft = li ? level[li - 1].off : kCdxNone;
                uint32_t wantRight = li + 1 < level.size() ? level[li + 1].off : kCdxNone;
                if (n.left != wantLeft && !(n.left == 0 && wantLeft == kCdxNone))
                    fault("enlace izquierdo erróneo en el nodo " + std::to_string(it.off));
                if (n.right != wantRight && !(n.right == 0 && wantRight == kCdxNone))
                    fault("enlace derecho erróneo en el nodo " + std::to_string(it.off));
                if (n.size() == 0 && !rootLevel) fault("nodo vacío " + std::to_string(it.off));
                for (size_t i = 0; i < n.size(); ++i) {
                    std::string k = n.keys.substr(i * kl, kl);
                    if (havePrev) {
                        int c = prevKey.compare(k);
                        if (c > 0 || (c == 0 && prevRec >= n.recnos[i]))
                            fault("claves fuera de orden en el nodo " + std::to_string(it.off));
                        if (c == 0 && unique() && isLeaf)
                            fault("clave repetida en una etiqueta única");
                    }
                    prevKey = k;
                    prevRec = n.recnos[i];
                    havePrev = true;
                    if (!isLeaf) below.push_back({n.children[i], true, k, n.recnos[i]});
                }
                if (it.hasBound && n.size() > 0 &&
                    (n.keys.compare((n.size() - 1) * kl, kl, it.key) != 0 ||
                     n.recnos.back() != it.recno))
                    fault("la clave del padre no es la mayor del nodo " + std::to_string(it.off));
            }
            level = std::move(below);
            rootLevel = false;
        }
    } catch (const DbfError& e) {
        fault(e.description());
    }
    return faults;
}

}  // namespace dbf
