// Changing a tag one entry at a time: insert() and remove() change one leaf
// in place when they can; otherwise the leaf is split or emptied and the
// change climbs to the parents, whose keys are the greatest of the nodes
// below, up to a new root when the old one splits.

#include <algorithm>
#include <tuple>

#include "dbf/cdx.h"
#include "dbf/cdx_internal.h"

namespace dbf {

using namespace cdxlayout;

// Key bytes of a whole leaf, compressed our way.
static int64_t storedAll(const CdxNode& n, uint16_t kl, char pad) {
    int64_t sum = 0;
    for (size_t i = 0; i < n.size(); ++i)
        sum += static_cast<int64_t>(
            storedBytes(keyAt(n, i, kl), i ? keyAt(n, i - 1, kl) : std::string_view(), pad));
    return sum;
}

// Change in a leaf's key bytes when entry i is inserted (already in place)
// or about to be removed.
int64_t leafStoredDelta(const CdxTag& t, const CdxNode& n, size_t i, bool inserted) {
    const uint16_t kl = t.keyLength();
    std::string_view prev = i ? keyAt(n, i - 1, kl) : std::string_view();
    std::string_view self = keyAt(n, i, kl);
    int64_t d = static_cast<int64_t>(storedBytes(self, prev, t.pad_));
    if (i + 1 < n.size()) {
        std::string_view next = keyAt(n, i + 1, kl);
        d += static_cast<int64_t>(storedBytes(next, self, t.pad_)) -
             static_cast<int64_t>(storedBytes(next, prev, t.pad_));
    }
    return inserted ? d : -d;
}

bool CdxTag::insert(std::string_view key, uint32_t recno) {
    CdxBag::WriteGuard g(*bag_);
    std::string k = normalize(key);
    if (unique()) {
        CdxPos p = seekEntry(k, 0);
        if (p.valid && p.key == k) return false;
    }
    std::vector<PathStep> path;
    descend(k, recno, path);
    size_t i = path.back().index;
    {
        // The usual case changes one leaf in place: the entry goes before the
        // leaf's greatest one and the leaf still has room.
        CdxNode& in = bag_->mutableNode(path.back().node, *this);
        if (!in.leaf()) bag_->corrupt("se esperaba una hoja en la etiqueta " + name());
        if (i < in.size() && cmpEntry(in, i, k, recno) == 0) return false;
        if (i < in.size()) {
            if (in.stored < 0) in.stored = storedAll(in, info_.keyLength, pad_);
            in.keys.insert(i * info_.keyLength, k);
            in.recnos.insert(in.recnos.begin() + static_cast<long>(i), recno);
            in.stored += leafStoredDelta(*this, in, i, true);
            if (bag_->fits(in, *this)) {
                bag_->touch(in.offset);
                return true;
            }
            // No room after all: undo and take the general way.
            in.stored -= leafStoredDelta(*this, in, i, true);
            in.keys.erase(i * info_.keyLength, info_.keyLength);
            in.recnos.erase(in.recnos.begin() + static_cast<long>(i));
        }
    }
    CdxNode leaf = bag_->node(path.back().node, *this);
    if (leaf.stored < 0) leaf.stored = storedAll(leaf, info_.keyLength, pad_);
    leaf.keys.insert(i * info_.keyLength, k);
    leaf.recnos.insert(leaf.recnos.begin() + static_cast<long>(i), recno);
    leaf.stored += leafStoredDelta(*this, leaf, i, true);
    std::vector<CdxNode> nodes{std::move(leaf)};
    replaceInParent(path, path.size() - 1, nodes);
    return true;
}

bool CdxTag::remove(std::string_view key, uint32_t recno) {
    CdxBag::WriteGuard g(*bag_);
    std::string k = normalize(key);
    std::vector<PathStep> path;
    descend(k, recno, path);
    size_t i = path.back().index;
    {
        // In place when the leaf keeps its greatest entry and is not emptied.
        CdxNode& in = bag_->mutableNode(path.back().node, *this);
        if (i >= in.size() || cmpEntry(in, i, k, recno) != 0) return false;
        if (i + 1 < in.size()) {
            if (in.stored < 0) in.stored = storedAll(in, info_.keyLength, pad_);
            in.stored += leafStoredDelta(*this, in, i, false);
            in.keys.erase(i * info_.keyLength, info_.keyLength);
            in.recnos.erase(in.recnos.begin() + static_cast<long>(i));
            bag_->touch(in.offset);
            return true;
        }
    }
    CdxNode leaf = bag_->node(path.back().node, *this);
    if (leaf.stored < 0) leaf.stored = storedAll(leaf, info_.keyLength, pad_);
    leaf.stored += leafStoredDelta(*this, leaf, i, false);
    leaf.keys.erase(i * info_.keyLength, info_.keyLength);
    leaf.recnos.erase(leaf.recnos.begin() + static_cast<long>(i));
    std::vector<CdxNode> nodes;
    if (leaf.size() > 0 || path.size() == 1) nodes.push_back(std::move(leaf));
    replaceInParent(path, path.size() - 1, nodes);
    return true;
}

namespace {

// Splits an overfull node into as few pieces as needed, halves when halves fit.
std::vector<CdxNode> splitNode(CdxNode n, CdxBag& bag, const CdxTag& owner) {
    std::vector<CdxNode> out;
    if (bag.fits(n, owner)) {
        out.push_back(std::move(n));
        return out;
    }
    const uint16_t kl = owner.keyLength();
    auto piece = [&](size_t from, size_t to) {
        CdxNode p;
        p.attr = n.attr & 2;
        p.keys = n.keys.substr(from * kl, (to - from) * kl);
        p.recnos.assign(n.recnos.begin() + static_cast<long>(from),
                        n.recnos.begin() + static_cast<long>(to));
        if (!n.leaf())
            p.children.assign(n.children.begin() + static_cast<long>(from),
                              n.children.begin() + static_cast<long>(to));
        return p;
    };
    size_t mid = n.size() / 2;
    CdxNode a = piece(0, mid), b = piece(mid, n.size());
    if (mid > 0 && bag.fits(a, owner) && bag.fits(b, owner)) {
        out.push_back(std::move(a));
        out.push_back(std::move(b));
    } else {
        // Uneven keys: fill greedily.
        size_t from = 0;
        while (from < n.size()) {
            size_t to = from + 1;
            while (to < n.size() && bag.fits(piece(from, to + 1), owner)) ++to;
            out.push_back(piece(from, to));
            from = to;
        }
    }
    out[0].offset = n.offset;
    out[0].left = n.left;
    out.back().right = n.right;
    return out;
}

}  // namespace

void CdxTag::replaceInParent(std::vector<PathStep>& path, size_t level,
                             std::vector<CdxNode>& nodes) {
    const uint16_t kl = info_.keyLength;
    const uint32_t self = path[level].node;
    const bool isRoot = level == 0;
    // Overfull nodes split; new pieces get pages and join the level's links.
    if (nodes.size() == 1) {
        uint16_t rootBit = nodes[0].attr & 1;
        nodes[0].attr &= 2;
        std::vector<CdxNode> pieces = splitNode(std::move(nodes[0]), *bag_, *this);
        nodes = std::move(pieces);
        if (nodes.size() == 1) nodes[0].attr |= rootBit;
    }
    if (nodes.size() > 1) {
        uint32_t oldRight = nodes.back().right;
        for (size_t j = 1; j < nodes.size(); ++j) nodes[j].offset = bag_->allocNode();
        for (size_t j = 0; j < nodes.size(); ++j) {
            if (j) nodes[j].left = nodes[j - 1].offset;
            nodes[j].right = j + 1 < nodes.size() ? nodes[j + 1].offset : oldRight;
        }
        if (oldRight != kCdxNone) {
            CdxNode r = bag_->node(oldRight, *this);
            r.left = nodes.back().offset;
            bag_->putNode(std::move(r), *this);
        }
    }
    if (nodes.empty()) {
        const CdxNode& gone = bag_->node(self, *this);
        uint32_t l = gone.left, r = gone.right;
        if (l != kCdxNone) {
            CdxNode ln = bag_->node(l, *this);
            ln.right = r;
            bag_->putNode(std::move(ln), *this);
        }
        if (r != kCdxNone) {
            CdxNode rn = bag_->node(r, *this);
            rn.left = l;
            bag_->putNode(std::move(rn), *this);
        }
        bag_->freeNode(self);
    }
    if (!isRoot && nodes.size() == 1 && nodes[0].size() > 0) {
        // Most changes stay inside one node whose greatest entry is still the
        // one its parent names: nothing above it changes.
        const CdxNode& parent = bag_->node(path[level - 1].node, *this);
        size_t idx = path[level - 1].index;
        const CdxNode& n = nodes[0];
        if (idx < parent.size() && parent.children[idx] == n.offset &&
            parent.recnos[idx] == n.recnos.back() &&
            parent.keys.compare(idx * kl, kl, n.keys, (n.size() - 1) * kl, kl) == 0) {
            bag_->putNode(std::move(nodes[0]), *this);
            return;
        }
    }
    std::vector<std::tuple<std::string, uint32_t, uint32_t>> refs;
    for (auto& n : nodes) {
        if (n.size() > 0)
            refs.emplace_back(n.keys.substr((n.size() - 1) * kl, kl), n.recnos.back(), n.offset);
        bag_->putNode(std::move(n), *this);
    }
    if (isRoot) {
        if (nodes.size() <= 1) return;
        // The root split: a new root above the pieces.
        std::vector<std::tuple<std::string, uint32_t, uint32_t>> level1 = std::move(refs);
        for (;;) {
            size_t cap = interiorCapacity(kl);
            std::vector<CdxNode> ups;
            size_t count = (level1.size() + cap - 1) / cap;
            size_t per = (level1.size() + count - 1) / count;
            for (size_t i = 0; i < level1.size(); i += per) {
                CdxNode u;
                u.attr = 0;
                u.offset = bag_->allocNode();
                for (size_t j = i; j < std::min(level1.size(), i + per); ++j) {
                    u.keys.append(std::get<0>(level1[j]));
                    u.recnos.push_back(std::get<1>(level1[j]));
                    u.children.push_back(std::get<2>(level1[j]));
                }
                ups.push_back(std::move(u));
            }
            for (size_t j = 0; j < ups.size(); ++j) {
                ups[j].left = j ? ups[j - 1].offset : kCdxNone;
                ups[j].right = j + 1 < ups.size() ? ups[j + 1].offset : kCdxNone;
            }
            if (ups.size() == 1) {
                ups[0].attr = 1;
                root_ = ups[0].offset;
                bag_->putNode(std::move(ups[0]), *this);
                break;
            }
            level1.clear();
            for (auto& u : ups) {
                level1.emplace_back(u.keys.substr((u.size() - 1) * kl, kl), u.recnos.back(),
                                    u.offset);
                bag_->putNode(std::move(u), *this);
            }
        }
        rootStamp_ = bag_->epoch_;
        bag_->writeTagHeader(info_, root_);
        return;
    }
    CdxNode parent = bag_->node(path[level - 1].node, *this);
    size_t idx = path[level - 1].index;
    if (idx >= parent.size()) bag_->corrupt("camino roto en la etiqueta " + name());
    std::string oldMaxKey = parent.keys.substr((parent.size() - 1) * kl, kl);
    uint32_t oldMaxRec = parent.recnos.back();
    size_t oldSize = parent.size();
    parent.keys.erase(idx * kl, kl);
    parent.recnos.erase(parent.recnos.begin() + static_cast<long>(idx));
    parent.children.erase(parent.children.begin() + static_cast<long>(idx));
    for (size_t j = 0; j < refs.size(); ++j) {
        parent.keys.insert((idx + j) * kl, std::get<0>(refs[j]));
        parent.recnos.insert(parent.recnos.begin() + static_cast<long>(idx + j),
                             std::get<1>(refs[j]));
        parent.children.insert(parent.children.begin() + static_cast<long>(idx + j),
                               std::get<2>(refs[j]));
    }
    bool sameShape = parent.size() == oldSize && parent.size() > 0 &&
                     parent.keys.compare((parent.size() - 1) * kl, kl, oldMaxKey) == 0 &&
                     parent.recnos.back() == oldMaxRec;
    std::vector<CdxNode> up;
    if (parent.size() == 0 && level - 1 == 0) {
        // The last key left the tree: the root becomes an empty leaf.
        parent.attr = 3;
        parent.children.clear();
    }
    if (parent.size() > 0 || level - 1 == 0) up.push_back(std::move(parent));
    if (sameShape && up.size() == 1 && bag_->fits(up[0], *this)) {
        bag_->putNode(std::move(up[0]), *this);
        return;
    }
    replaceInParent(path, level - 1, up);
}

}  // namespace dbf
