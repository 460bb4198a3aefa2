#include "dbf/nodecache.h"

#include "dbf/cdx.h"

namespace dbf {

namespace {
// Nodes kept for reuse at most: about what a trimmed cache lets go at once.
constexpr size_t kPoolLimit = 65536;
}  // namespace

NodeCache::NodeCache() : slots_(1024) {}

NodeCache::~NodeCache() {
    for (Slot& s : slots_) delete s.node;
}

size_t NodeCache::home(uint32_t offset) const {
    // Offsets step by whole pages; the multiply spreads them over the table.
    return static_cast<size_t>(((offset >> 9) * 0x9E3779B1u) & (slots_.size() - 1));
}

CdxNode* NodeCache::find(uint32_t offset) const {
    const size_t mask = slots_.size() - 1;
    for (size_t i = home(offset);; i = (i + 1) & mask) {
        const Slot& s = slots_[i];
        if (!s.node) return nullptr;
        if (s.offset == offset) return s.node;
    }
}

std::unique_ptr<CdxNode> NodeCache::take() {
    if (pool_.empty()) return std::make_unique<CdxNode>();
    std::unique_ptr<CdxNode> n = std::move(pool_.back());
    pool_.pop_back();
    return n;
}

void NodeCache::give(std::unique_ptr<CdxNode> n) {
    if (!n || pool_.size() >= kPoolLimit) return;
    n->offset = 0;
    n->attr = 0;
    n->left = n->right = kCdxNone;
    n->keys.clear();
    n->recnos.clear();
    n->children.clear();
    n->stored = -1;
    n->owner = nullptr;
    n->dirty = false;
    pool_.push_back(std::move(n));
}

CdxNode& NodeCache::insert(uint32_t offset, std::unique_ptr<CdxNode> node) {
    if ((size_ + 1) * 2 > slots_.size()) grow();
    const size_t mask = slots_.size() - 1;
    for (size_t i = home(offset);; i = (i + 1) & mask) {
        Slot& s = slots_[i];
        if (s.node && s.offset != offset) continue;
        if (s.node)
            give(std::unique_ptr<CdxNode>(s.node));
        else
            ++size_;
        s.offset = offset;
        s.node = node.release();
        return *s.node;
    }
}

bool NodeCache::erase(uint32_t offset) {
    const size_t mask = slots_.size() - 1;
    for (size_t i = home(offset);; i = (i + 1) & mask) {
        if (!slots_[i].node) return false;
        if (slots_[i].offset == offset) {
            eraseAt(i);
            return true;
        }
    }
}

// Empties slot i and moves back the entries after it that would otherwise be
// cut off from their home slot (linear probing without tombstones).
void NodeCache::eraseAt(size_t i) {
    const size_t mask = slots_.size() - 1;
    give(std::unique_ptr<CdxNode>(slots_[i].node));
    slots_[i] = Slot();
    --size_;
    for (size_t j = (i + 1) & mask; slots_[j].node; j = (j + 1) & mask) {
        size_t h = home(slots_[j].offset);
        // Entry j may stay unless its home lies cyclically in (i, j].
        bool stays = i <= j ? (i < h && h <= j) : (i < h || h <= j);
        if (stays) continue;
        slots_[i] = slots_[j];
        slots_[j] = Slot();
        i = j;
    }
}

void NodeCache::clear() {
    for (Slot& s : slots_) {
        if (s.node) give(std::unique_ptr<CdxNode>(s.node));
        s = Slot();
    }
    size_ = 0;
}

void NodeCache::grow() {
    std::vector<Slot> old(slots_.size() * 2);
    old.swap(slots_);
    const size_t mask = slots_.size() - 1;
    for (const Slot& s : old) {
        if (!s.node) continue;
        size_t i = home(s.offset);
        while (slots_[i].node) i = (i + 1) & mask;
        slots_[i] = s;
    }
}

}  // namespace dbf
