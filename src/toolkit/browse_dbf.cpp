#include "toolkit/browse_dbf.h"

#include <sys/stat.h>

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
    // Size and time of the table and of its bags: every write of any
    // workstation shows there, and asking costs a few stat() calls, not a
    // count of keys.
    auto fileStamp = [](const std::string& path) -> uint64_t {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) return 0;  // size and time in one call
        const uint64_t t = static_cast<uint64_t>(st.st_mtim.tv_sec) * 1000000000u +
                           static_cast<uint64_t>(st.st_mtim.tv_nsec);
        return (static_cast<uint64_t>(st.st_size) * 1000003u) ^ t;
    };
    uint64_t stamp = fileStamp(wa_.table().path()) ^ (static_cast<uint64_t>(wa_.recCount()) << 20);
    dbf::Orders& o = dbf::orders(wa_);
    for (size_t i = 0; i < o.bagCount(); ++i) stamp = stamp * 31 + fileStamp(o.bagPath(i));
    stamp ^= static_cast<uint64_t>(o.orderNumber()) << 56;
    return stamp == 0 ? 1 : stamp;
}

}  // namespace tk
