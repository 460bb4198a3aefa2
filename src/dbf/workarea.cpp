#include "dbf/workarea.h"

#include <atomic>

#include "xbase/runtime.h"

namespace dbf {

namespace {

std::atomic<uint64_t> g_serial{1};

std::function<bool()>& hideDeletedSource() {
    static std::function<bool()> src = [] { return xb::settings().deleted; };
    return src;
}

}  // namespace

void WorkArea::setHideDeletedSource(std::function<bool()> source) {
    hideDeletedSource() = source ? std::move(source) : [] { return xb::settings().deleted; };
}

WorkArea::WorkArea(int number, std::string alias, std::unique_ptr<Table> table)
    : number_(number), alias_(std::move(alias)), table_(std::move(table)), serial_(g_serial++) {}

WorkArea::~WorkArea() = default;

// ---------------------------------------------------------------- order

uint32_t WorkArea::firstRec() {
    if (order_) return order_->first();
    return table_->recCount() ? 1 : 0;
}

uint32_t WorkArea::lastRec() {
    if (order_) return order_->last();
    return table_->recCount();
}

uint32_t WorkArea::nextRec(uint32_t r) {
    if (order_) return order_->next(r);
    if (r < table_->knownRecCount()) return r + 1;
    return r < table_->recCount() ? r + 1 : 0;  // past the known end: look for new records
}

uint32_t WorkArea::prevRec(uint32_t r) {
    if (order_) return order_->prev(r);
    return r > 1 ? r - 1 : 0;
}

bool WorkArea::visible() {
    if (table_->atPhantom()) return false;
    if (table_->deleted() && hideDeletedSource()()) return false;
    if (filter_ && !filter_()) return false;
    return true;
}

void WorkArea::toPhantom() {
    table_->read(0);
    eof_ = true;
}

// ---------------------------------------------------------------- moves

void WorkArea::goTop() {
    found_ = false;
    bof_ = eof_ = false;
    for (uint32_t r = firstRec(); r; r = nextRec(r)) {
        table_->read(r);
        if (visible()) return moved();
    }
    toPhantom();
    bof_ = true;
    moved();
}

void WorkArea::goBottom() {
    found_ = false;
    bof_ = eof_ = false;
    for (uint32_t r = lastRec(); r; r = prevRec(r)) {
        table_->read(r);
        if (visible()) return moved();
    }
    toPhantom();
    bof_ = true;
    moved();
}

void WorkArea::goTo(uint32_t recno) {
    found_ = false;
    bool ok = table_->read(recno);
    eof_ = !ok;
    bof_ = !ok && table_->recCount() == 0;
    moved();
}

void WorkArea::settle(uint32_t recno) {
    bof_ = eof_ = false;
    for (uint32_t r = recno; r; r = nextRec(r)) {
        table_->read(r);
        if (visible()) return moved();
    }
    toPhantom();
    moved();
}

void WorkArea::skip(int64_t n) {
    skipInner(n);
    moved();
}

void WorkArea::skipInner(int64_t n) {
    found_ = false;
    if (n == 0) {
        table_->reread();
        return;
    }
    if (n > 0) {
        bof_ = false;
        if (eof_ || table_->atPhantom()) {
            toPhantom();
            return;
        }
        for (int64_t i = 0; i < n; ++i) {
            uint32_t r = table_->recno();
            bool landed = false;
            while ((r = nextRec(r)) != 0) {
                table_->read(r);
                if (visible()) {
                    landed = true;
                    break;
                }
            }
            if (!landed) {
                toPhantom();
                return;
            }
        }
        eof_ = false;
        return;
    }
    // Backwards: from the phantom record the first step lands on the last visible one.
    eof_ = false;
    int64_t steps = -n;
    if (table_->atPhantom()) {
        goBottom();
        if (eof_) return;  // nothing visible: both flags stay set
        --steps;
    }
    bof_ = false;
    for (int64_t i = 0; i < steps; ++i) {
        uint32_t from = table_->recno();
        uint32_t r = from;
        bool landed = false;
        while ((r = prevRec(r)) != 0) {
            table_->read(r);
            if (visible()) {
                landed = true;
                break;
            }
        }
        if (!landed) {
            // Stay on the first visible record, with begin-of-file set.
            table_->read(from);
            if (!visible()) {
                goTop();
            }
            bof_ = true;
            return;
        }
    }
}

uint32_t WorkArea::countVisible() {
    uint32_t keep = table_->recno();
    bool e = eof_, b = bof_, f = found_;
    uint32_t n = 0;
    for (uint32_t r = firstRec(); r; r = nextRec(r)) {
        table_->read(r);
        if (visible()) ++n;
    }
    table_->read(keep);
    eof_ = e;
    bof_ = b;
    found_ = f;
    return n;
}

// ---------------------------------------------------------------- filter

void WorkArea::setFilter(std::string text, std::function<bool()> test) {
    filterText_ = std::move(text);
    filter_ = std::move(test);
    if (filterText_.empty()) filter_ = nullptr;
}

void WorkArea::clearFilter() {
    filterText_.clear();
    filter_ = nullptr;
}

// ---------------------------------------------------------------- records

xb::Value WorkArea::get(int field) const {
    return table_->value(field);
}

void WorkArea::put(int field, const xb::Value& v) {
    table_->putValue(field, v);
}

void WorkArea::deleteRecord() {
    if (table_->atPhantom()) return;
    table_->setDeleted(true);
}

void WorkArea::recall() {
    if (table_->atPhantom()) return;
    table_->setDeleted(false);
}

uint32_t WorkArea::append(bool releaseOthers) {
    uint32_t r = table_->appendBlank(releaseOthers);
    eof_ = bof_ = false;
    found_ = false;
    moved();
    return r;
}

bool WorkArea::lockRecord(uint32_t recno, bool releaseOthers) {
    if (recno == 0) recno = table_->recno();
    if (!table_->holds(recno)) return false;
    return table_->lockRecord(recno, releaseOthers);
}

bool WorkArea::lockFile() {
    return table_->lockFile();
}

void WorkArea::unlock(uint32_t recno) {
    if (recno == 0)
        table_->unlockAll();
    else
        table_->unlockRecord(recno);
}

void WorkArea::pack() {
    table_->pack();
    goTop();
}

void WorkArea::zap() {
    table_->zap();
    goTop();
}

// ---------------------------------------------------------------- locate

bool WorkArea::locate(std::function<bool()> cond, std::function<bool()> whileCond, bool rest) {
    locateCond_ = std::move(cond);
    locateWhile_ = std::move(whileCond);
    if (!rest) goTop();
    while (!eof_) {
        if (locateWhile_ && !locateWhile_()) break;
        if (locateCond_()) {
            found_ = true;
            return true;
        }
        skip(1);
    }
    found_ = false;
    return false;
}

bool WorkArea::continueLocate() {
    if (!locateCond_) {
        found_ = false;
        return false;
    }
    skip(1);
    while (!eof_) {
        if (locateWhile_ && !locateWhile_()) break;
        if (locateCond_()) {
            found_ = true;
            return true;
        }
        skip(1);
    }
    found_ = false;
    return false;
}

}  // namespace dbf
