// The decoded nodes of a bag by their offset in the file. Every descent of a
// tree looks its nodes up here, so a lookup costs one probe of a flat table
// instead of the chain of a node-based map. Nodes stay where they are while
// cached (references to them hold until they are erased); erased nodes are
// kept for reuse, so that the buffers of the keys are not given back and
// asked for again with each page read.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace dbf {

struct CdxNode;

class NodeCache {
  public:
    NodeCache();
    ~NodeCache();
    NodeCache(const NodeCache&) = delete;
    NodeCache& operator=(const NodeCache&) = delete;

    CdxNode* find(uint32_t offset) const;
    // A node to fill before insert(): a recycled one when there is any.
    std::unique_ptr<CdxNode> take();
    // Puts `node` at `offset`, replacing (and recycling) what was there.
    CdxNode& insert(uint32_t offset, std::unique_ptr<CdxNode> node);
    void give(std::unique_ptr<CdxNode> node);  // back to the reuse pool
    bool erase(uint32_t offset);
    void clear();
    size_t size() const { return size_; }

    // Erases nodes for which `pred(node)` holds until `size()` is at most
    // `target`.
    template <class Pred>
    void eraseWhile(size_t target, Pred pred) {
        for (size_t i = 0; i < slots_.size() && size_ > target;) {
            Slot& s = slots_[i];
            if (s.node && pred(*s.node))
                eraseAt(i);  // a later entry may have moved into slot i
            else
                ++i;
        }
    }

  private:
    struct Slot {
        uint32_t offset = 0;
        CdxNode* node = nullptr;  // owned; null: empty slot
    };
    size_t home(uint32_t offset) const;
    void grow();
    void eraseAt(size_t i);

    std::vector<Slot> slots_;  // a power of two, at most half full
    size_t size_ = 0;
    std::vector<std::unique_ptr<CdxNode>> pool_;
};

}  // namespace dbf
