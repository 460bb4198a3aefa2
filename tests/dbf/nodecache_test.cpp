// The node cache against a plain map: random inserts, replacements, erases
// and trims over offsets that crowd the same slots, with references to cached
// nodes checked to stay where they were.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "dbf/cdx.h"
#include "dbf/nodecache.h"

using namespace dbf;

namespace {

std::unique_ptr<CdxNode> nodeFor(NodeCache& c, uint32_t off, uint32_t tag) {
    auto n = c.take();
    EXPECT_TRUE(n->keys.empty() && n->recnos.empty() && !n->dirty);
    n->offset = off;
    n->attr = static_cast<uint16_t>(tag % 2 ? 2 : 0);
    n->recnos.assign(tag % 7 + 1, tag);
    return n;
}

}  // namespace

TEST(NodeCache, AgreesWithAMapThroughGrowthErasesAndTrims) {
    NodeCache cache;
    std::map<uint32_t, uint32_t> model;  // offset -> tag stored in the node
    std::map<uint32_t, const CdxNode*> where;
    std::mt19937 rng(3);
    uint32_t tag = 0;
    for (int round = 0; round < 40000; ++round) {
        // Few distinct offsets early (many replacements), more later (growth).
        uint32_t span = round < 10000 ? 300 : 20000;
        uint32_t off = 1024 + 512 * static_cast<uint32_t>(rng() % span);
        switch (rng() % 4) {
            case 0:
            case 1: {
                ++tag;
                CdxNode& n = cache.insert(off, nodeFor(cache, off, tag));
                model[off] = tag;
                where[off] = &n;
                break;
            }
            case 2:
                EXPECT_EQ(cache.erase(off), model.erase(off) == 1);
                where.erase(off);
                break;
            default: {
                CdxNode* n = cache.find(off);
                auto m = model.find(off);
                ASSERT_EQ(n != nullptr, m != model.end()) << off;
                if (n) {
                    EXPECT_EQ(n, where[off]);
                    EXPECT_EQ(n->offset, off);
                    EXPECT_EQ(n->recnos.front(), m->second);
                }
            }
        }
        ASSERT_EQ(cache.size(), model.size());
        if (round % 5000 == 4999) {
            // Trim leaves (odd tags) down to three quarters.
            size_t target = model.size() * 3 / 4;
            cache.eraseWhile(target, [](const CdxNode& n) { return n.leaf(); });
            for (auto it = model.begin(); it != model.end();) {
                if (!cache.find(it->first)) {
                    EXPECT_EQ(it->second % 2, 1u) << "an interior node was trimmed";
                    where.erase(it->first);
                    it = model.erase(it);
                } else {
                    ++it;
                }
            }
            ASSERT_EQ(cache.size(), model.size());
        }
    }
    for (auto& [off, t] : model) {
        CdxNode* n = cache.find(off);
        ASSERT_NE(n, nullptr);
        EXPECT_EQ(n->recnos.front(), t);
    }
    cache.clear();
    EXPECT_EQ(cache.size(), 0u);
    for (auto& [off, t] : model) EXPECT_EQ(cache.find(off), nullptr);
}
