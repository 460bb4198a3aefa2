// A work area: one open table plus the position in it (record number, end and
// begin of file, found flag), the record filter and the controlling order.
//
// Moves follow xBase: past the last visible record the area sits on the
// phantom record count+1 with empty fields and eof() true; skipping back from
// the first visible record leaves it there with bof() true. Records marked
// deleted are skipped while SET DELETED is on (the session default), and so
// are records the filter rejects. The controlling order is an OrderNav (record
// order when none), which the index layer plugs in.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "dbf/observer.h"
#include "dbf/table.h"
#include "xbase/value.h"

namespace dbf {

class WorkArea {
  public:
    WorkArea(int number, std::string alias, std::unique_ptr<Table> table);
    ~WorkArea();
    WorkArea(const WorkArea&) = delete;
    WorkArea& operator=(const WorkArea&) = delete;

    int number() const { return number_; }
    const std::string& alias() const { return alias_; }
    Table& table() { return *table_; }
    const Table& table() const { return *table_; }
    // Changes at every open; compiled expressions cache field indexes by it.
    uint64_t serial() const { return serial_; }

    // --- moving (each re-reads the record from the file on shared tables)
    void goTop();
    void goBottom();
    void goTo(uint32_t recno);  // no visibility test, as xBase does
    void skip(int64_t n = 1);
    // Lands on `recno` as found by an order (seek): when it is not visible, the
    // next visible record in the order is taken; 0 means the phantom record.
    void settle(uint32_t recno);
    bool eof() const { return eof_; }
    bool bof() const { return bof_; }
    bool found() const { return found_; }
    void setFound(bool f) { found_ = f; }
    void setBof(bool b) { bof_ = b; }
    void setEof(bool e) { eof_ = e; }
    uint32_t recno() const { return table_->recno(); }
    uint32_t recCount() { return table_->recCount(); }  // physical, as LASTREC
    // Number of visible records (deleted and filtered ones left out); keeps the position.
    uint32_t countVisible();
    // Does the record in the buffer pass the deleted setting and the filter?
    bool visible();

    // --- filter and order
    // `test` evaluates the filter on the record in the table's buffer.
    void setFilter(std::string text, std::function<bool()> test);
    void clearFilter();
    const std::string& filterText() const { return filterText_; }
    void setOrder(std::shared_ptr<OrderNav> order) { order_ = std::move(order); }
    OrderNav* order() const { return order_.get(); }
    // Called after every move (top, bottom, go to, skip, settle, append), so
    // that relations can follow; one hook per area, owned by the index layer.
    void setMoveHook(std::function<void(WorkArea&)> hook) { moveHook_ = std::move(hook); }
    // Where the deleted setting is read; by default the language's SET DELETED.
    static void setHideDeletedSource(std::function<bool()> source);

    // --- records
    xb::Value get(int field) const;
    void put(int field, const xb::Value& v);  // DbfError when not allowed
    bool deleted() const { return !table_->atPhantom() && table_->deleted(); }
    void deleteRecord();
    void recall();
    // Appends a blank record (locked on shared tables). A header held by another
    // user is a DbfError with oscode 32; the caller sets the network-error flag.
    uint32_t append(bool releaseOthers = true);
    bool lockRecord(uint32_t recno = 0, bool releaseOthers = true);  // 0 = current
    bool lockFile();
    void unlock(uint32_t recno = 0);  // 0 = all
    void flush() { table_->flush(); }
    void commit() { table_->commit(); }
    void pack();
    void zap();

    // --- locate / continue: `cond` tested on each record; `whileCond` may stop it.
    // Starts at the top (or at the current record when `rest`), stops on the
    // first visible match: found() tells. Remembered for continueLocate().
    bool locate(std::function<bool()> cond, std::function<bool()> whileCond = {},
                bool rest = false);
    bool continueLocate();

  private:
    uint32_t firstRec();
    uint32_t lastRec();
    uint32_t nextRec(uint32_t r);
    uint32_t prevRec(uint32_t r);
    void toPhantom();
    void skipInner(int64_t n);
    void moved() {
        if (moveHook_) moveHook_(*this);
    }

    int number_;
    std::string alias_;
    std::unique_ptr<Table> table_;
    uint64_t serial_;
    bool eof_ = true;
    bool bof_ = true;
    bool found_ = false;
    std::string filterText_;
    std::function<bool()> filter_;
    std::shared_ptr<OrderNav> order_;
    std::function<bool()> locateCond_;
    std::function<bool()> locateWhile_;
    std::function<void(WorkArea&)> moveHook_;
};

}  // namespace dbf
