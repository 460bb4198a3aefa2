#include "dbf/order_tools.h"

#include "dbf/cdx.h"
#include "dbf/error.h"
#include "dbf/order.h"
#include "dbf/paths.h"
#include "dbf/workspace.h"
#include "xbase/runtime.h"

namespace dbf {

namespace {

// Opens the table in a work area of its own for the length of one command.
class ScratchArea {
  public:
    ScratchArea(const std::string& path, bool exclusive, bool readOnly) {
        Workspace& ws = workspace();
        if (!xb::fieldAccess()) xb::setFieldAccess(&ws);
        area_ = ws.open(path, "VDRTOOL_" + std::to_string(ws.freeArea()),
                        OpenOptions{!exclusive, readOnly});
        wa_ = ws.area(area_);
    }
    ~ScratchArea() { workspace().close(area_); }
    ScratchArea(const ScratchArea&) = delete;
    ScratchArea& operator=(const ScratchArea&) = delete;
    WorkArea& wa() { return *wa_; }

  private:
    int area_ = 0;
    WorkArea* wa_ = nullptr;
};

}  // namespace

std::vector<TagSummary> describeBag(const std::string& bagPath) {
    auto bag = CdxBag::open(bagPath, false, true);
    std::vector<TagSummary> out;
    int n = 0;
    for (CdxTag* t : bag->tags()) {
        TagSummary s;
        s.order = ++n;
        s.name = t->name();
        s.keyExpr = t->info().keyExpr;
        s.forExpr = t->info().forExpr;
        s.unique = t->unique();
        s.keyType = static_cast<char>(t->keyType());
        s.keyLength = t->keyLength();
        s.keys = t->count();
        out.push_back(std::move(s));
    }
    return out;
}

std::vector<std::string> checkBags(const std::string& tablePath,
                                   const std::vector<std::string>& bagPaths) {
    std::vector<std::string> faults;
    ScratchArea sa(tablePath, false, true);
    for (const std::string& b : bagPaths) {
        Orders& o = orders(sa.wa());
        o.clearBags();
        try {
            o.addBag(b);
        } catch (const DbfError& e) {
            faults.push_back(baseName(b) + ": " + e.description());
            continue;
        }
        for (const std::string& f : o.check()) faults.push_back(baseName(b) + ": " + f);
    }
    return faults;
}

int reindexBags(const std::string& tablePath, const std::vector<std::string>& bagPaths) {
    ScratchArea sa(tablePath, true, false);
    Orders& o = orders(sa.wa());
    for (const std::string& b : bagPaths) o.addBag(b);
    o.reindex();
    return o.orderCount();
}

std::vector<uint32_t> orderedRecords(const std::string& tablePath, const std::string& bagPath,
                                     const std::string& tag,
                                     const std::optional<std::string>& scopeTop,
                                     const std::optional<std::string>& scopeBottom) {
    ScratchArea sa(tablePath, false, true);
    Orders& o = orders(sa.wa());
    o.addBag(bagPath);
    if (!o.setOrder(tag))
        throw DbfError(kErrArg, "El índice no tiene la etiqueta " + tag + ".", bagPath);
    if (scopeTop) o.setScopeTop(xb::Value::str(*scopeTop));
    if (scopeBottom) o.setScopeBottom(xb::Value::str(*scopeBottom));
    std::vector<uint32_t> out;
    WorkArea& wa = sa.wa();
    for (wa.goTop(); !wa.eof(); wa.skip(1)) out.push_back(wa.recno());
    return out;
}

}  // namespace dbf
