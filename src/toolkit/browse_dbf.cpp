#include "toolkit/browse_dbf.h"

#include "dbf/order.h"

namespace tk {

int64_t WorkAreaRows::keyCount() {
    return dbf::orders(wa_).keyCount();
}

int64_t WorkAreaRows::keyNo() {
    if (wa_.eof()) return 0;
    return dbf::orders(wa_).keyNo();
}

bool WorkAreaRows::goKeyNo(int64_t n) {
    if (n < 1) return false;
    return dbf::orders(wa_).keyGoto(static_cast<uint32_t>(n)) && !wa_.eof();
}

bool WorkAreaRows::skip() {
    wa_.skip(1);
    return !wa_.eof();
}

uint32_t WorkAreaRows::recNo() {
    return wa_.eof() ? 0 : wa_.recno();
}

void WorkAreaRows::goRecord(uint32_t recno) {
    if (recno == 0) {
        wa_.goBottom();
        wa_.skip(1);  // the end, where it was
        return;
    }
    wa_.goTo(recno);
}

bool WorkAreaRows::skipBy(int64_t n) {
    wa_.skip(n);
    return !wa_.eof() && !wa_.bof();
}

bool WorkAreaRows::goLast() {
    wa_.goBottom();
    return !wa_.eof();
}

int WorkAreaRows::order() {
    return dbf::orders(wa_).orderNumber();
}

uint64_t WorkAreaRows::changeStamp() {
    // The record count is re-read from the file's header on shared tables,
    // so another workstation's append shows here; the key count covers
    // its changes of keys and deletions.
    return (static_cast<uint64_t>(wa_.recCount()) << 32) ^
           static_cast<uint64_t>(dbf::orders(wa_).keyCount());
}

}  // namespace tk
