// TPublic: a store of named values that reads and writes them as if they were
// properties of the store (oStore:nLinEjec, oStore:nLinEjec := 7), names
// compared without regard to case. The session keeps its bookkeeping here
// (the number of the script line being run).
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "xbase/value.h"

namespace xb {

class TPublic : public Object, public CycleMember, public std::enable_shared_from_this<TPublic> {
  public:
    explicit TPublic(bool automatic = true) : lAutomatic(automatic) {}
    ~TPublic() override;

    std::string className() const override { return "TPUBLIC"; }
    bool send(std::string_view message, Args& args, Value& result) override;
    bool assign(std::string_view message, const Value& value) override;

    // The store's methods, also callable from C++.
    void add(std::string_view name, Value v = Value());
    void del(std::string_view name);
    Value get(std::string_view name);          // raises 1004 when absent
    void set(std::string_view name, Value v);  // raises 1005 when absent
    int getPos(std::string_view name);         // 1-based; 0 when absent
    bool isDef(std::string_view name) { return getPos(name) > 0; }
    int count() const { return static_cast<int>(aVars.size()); }
    Value save() const;               // array of {name, value}
    void restore(const Value& list);  // from such an array
    void release();
    void surrender(std::vector<Value>& out) override;

    bool lAutomatic = true;
    std::vector<std::pair<std::string, Value>> aVars;  // names trimmed, upper case

    // The look-up cache: the name last given, exactly as given, and its position.
    std::string cacheName;
    int cachePos = 0;

  private:
    int find(std::string_view name);
    void raiseUnknown(std::string_view name, bool assigning);
};

// Registers TPUBLIC() and PUBLICA's class in the language.
void registerTPublic();

}  // namespace xb
