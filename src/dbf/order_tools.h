// What vdrtool does with index bags, kept in the engine so that the commands
// (check, reindex, dump, info) stay thin and the work is tested here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dbf {

struct TagSummary {
    int order = 0;  // 1-based, creation order
    std::string name;
    std::string keyExpr;
    std::string forExpr;
    bool unique = false;
    char keyType = 'C';  // C N D I L
    int keyLength = 0;
    uint64_t keys = 0;
};

// The tags of a bag. With the table, each key's type is that of its
// expression over the table's fields; without it (the file alone) it is
// guessed from the stored keys.
std::vector<TagSummary> describeBag(const std::string& bagPath, const std::string& tablePath = {});

// Every tag of every bag against the table: keys recomputed from the records
// against the keys in the tree (missing, extra, out of order, FOR condition,
// unique rule) and the tree's own structure. One Spanish line per fault; the
// bag's file name starts each line. Opens the table shared and read-only.
std::vector<std::string> checkBags(const std::string& tablePath,
                                   const std::vector<std::string>& bagPaths);

// Rebuilds every tag of the bags from the table (opened exclusively).
// Answers the number of tags rebuilt.
int reindexBags(const std::string& tablePath, const std::vector<std::string>& bagPaths);

// Record numbers in the order of `tag` of `bagPath`, deleted records left out,
// within a scope when given (prefixes of the key, as the program gives them).
std::vector<uint32_t> orderedRecords(const std::string& tablePath, const std::string& bagPath,
                                     const std::string& tag,
                                     const std::optional<std::string>& scopeTop = {},
                                     const std::optional<std::string>& scopeBottom = {});

}  // namespace dbf
