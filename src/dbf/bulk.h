// Work over many records: scopes (ALL, NEXT n, RECORD n, REST, FOR, WHILE),
// copying records or the structure to a new table, appending from another table
// with fields matched by name.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dbf/workarea.h"

namespace dbf {

struct Scope {
    std::function<bool()> forCond;    // records that fail it are passed over
    std::function<bool()> whileCond;  // the walk stops at the first record that fails it
    int64_t next = 0;                 // NEXT n (0 = no limit)
    uint32_t record = 0;              // RECORD n: just that record
    bool rest = false;                // from the current record instead of the top
};

// Visits the visible records of `wa` in its order within the scope, calling
// `fn` with each record passing FOR as the current record. Without WHILE, NEXT,
// RECORD or REST the walk starts at the top. Answers how many passed.
uint32_t forEachInScope(WorkArea& wa, const Scope& scope, const std::function<void()>& fn);

// The structure of `src` restricted to `fields` (all when empty), with Visual
// FoxPro types turned into what a FoxPro 2.x table holds (I, Y, B numeric;
// T date; V character; G, P, W memo).
std::vector<FieldDef> portableStructure(const Table& src, const std::vector<std::string>& fields);

// COPY STRUCTURE: creates `path` with that structure.
void copyStructure(const Table& src, const std::string& path,
                   const std::vector<std::string>& fields);

// COPY TO: creates `path` and copies the records in scope (deletion marks kept).
// Answers the number copied.
uint32_t copyTo(WorkArea& src, const std::string& path, const std::vector<std::string>& fields,
                const Scope& scope);

// APPEND FROM: appends to `dst` the records of `src` in scope, each field taking
// the value of the source field of the same name (fields limited to `fields`
// when not empty). Answers the number appended.
uint32_t appendFrom(WorkArea& dst, WorkArea& src, const std::vector<std::string>& fields,
                    const Scope& scope);

// Copies the current record of `src` into the current record of `dst` for the
// fields of the same name (and compatible type).
void copyMatchingFields(const Table& src, Table& dst, const std::vector<std::string>& fields = {});

}  // namespace dbf
