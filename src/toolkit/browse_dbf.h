// The browse grid's rows from a work area of the table engine: its
// controlling order, scope, filter and deleted setting, key counts and key
// positions from the index (never a scan of the table when an order controls).
#pragma once

#include "dbf/workarea.h"
#include "toolkit/browse.h"

namespace tk {

class WorkAreaRows : public RowSource {
  public:
    explicit WorkAreaRows(dbf::WorkArea& wa) : wa_(wa) {}
    int64_t keyCount() override;
    int64_t keyNo() override;
    bool goKeyNo(int64_t n) override;
    bool skip() override;
    uint32_t recNo() override;
    void goRecord(uint32_t recno) override;
    bool skipBy(int64_t n) override;
    bool goLast() override;
    int order() override;
    uint64_t changeStamp() override;
    dbf::WorkArea& area() { return wa_; }

  private:
    dbf::WorkArea& wa_;
};

}  // namespace tk
