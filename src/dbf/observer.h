// Hooks through which the index layer follows a table's records, and the
// abstract cursor through which a work area moves in an index order. Kept small
// and stable: the CDX layer builds on it.
#pragma once

#include <cstdint>

namespace dbf {

class Table;

// Told of every change to a table's records made through this open. The
// record buffer of the Table holds the record concerned during each call.
class TableObserver {
  public:
    virtual ~TableObserver() = default;
    // The current record is about to change for the first time since it was
    // read: the buffer still holds the values on disk (the old keys).
    virtual void beforeChange(Table& /*table*/, uint32_t /*recno*/) {}
    // A changed or appended record is about to be written (to the file or,
    // in exclusive use, to the records batched for it): from here until the
    // index has followed, a crash leaves keys behind.
    virtual void beforeWrite(Table& /*table*/, uint32_t /*recno*/) {}
    // The changed record has just been written to the file (the new keys).
    virtual void afterChange(Table& /*table*/, uint32_t /*recno*/) {}
    // A blank record was appended and is now the current record.
    virtual void afterAppend(Table& /*table*/, uint32_t /*recno*/) {}
    // The deletion mark was set or cleared (called after afterChange).
    virtual void afterDelete(Table& /*table*/, uint32_t /*recno*/) {}
    virtual void afterRecall(Table& /*table*/, uint32_t /*recno*/) {}
    // Whole-table changes that renumber or remove records: indexes must be rebuilt.
    virtual void afterPack(Table& /*table*/) {}
    virtual void afterZap(Table& /*table*/) {}
    // The table is closing.
    virtual void tableClosing(Table& /*table*/) {}
};

// The controlling order of a work area. Record numbers; 0 means "none" (past
// the end or before the beginning, or outside the scope). The work area adds
// the visibility rules (deleted records, filter) on top of these moves.
class OrderNav {
  public:
    virtual ~OrderNav() = default;
    virtual uint32_t first() = 0;
    virtual uint32_t last() = 0;
    // The record after / before `recno` in this order. The table's buffer holds
    // `recno` when these are called, so its key can be computed from it.
    virtual uint32_t next(uint32_t recno) = 0;
    virtual uint32_t prev(uint32_t recno) = 0;
};

}  // namespace dbf
