// What the language needs from the tables. The table engine implements it;
// tests use an in-memory stand-in. Areas are numbered from 1; 0 means none.
#pragma once

#include <cstdint>
#include <string_view>

#include "xbase/value.h"

namespace xb {

class FieldAccess {
  public:
    virtual ~FieldAccess() = default;
    virtual int currentArea() = 0;                   // 0 when none selected/open
    virtual int areaOf(std::string_view alias) = 0;  // 0 when no such alias (case-insensitive)
    // Changes whenever the area is (re)opened/closed; field indices stay valid
    // while it is unchanged (compiled expressions cache them by this serial).
    virtual uint64_t openSerial(int area) = 0;
    virtual int fieldIndex(int area, std::string_view name) = 0;  // -1 when absent
    virtual Value getField(int area, int field) = 0;
    // Raises through the error protocol (error.h) on failure.
    virtual void putField(int area, int field, const Value& v) = 0;
};

}  // namespace xb
