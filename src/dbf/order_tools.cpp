#include "dbf/order_tools.h"

#include <cstdio>
#include <cstdlib>
#include <optional>

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

std::vector<TagSummary> describeBag(const std::string& bagPath, const std::string& tablePath) {
    auto bag = CdxBag::open(bagPath, false, true);
    std::optional<ScratchArea> sa;
    if (!tablePath.empty()) sa.emplace(tablePath, false, true);
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
        if (sa) {
            // No type is stored in the file: the expression tells it, where a
            // first key (a negative number, a date) would mislead.
            KeyMaker km;
            km.prepare(sa->wa(), s.keyExpr, s.forExpr);
            if (km.computable()) {
                s.keyType = static_cast<char>(km.type());
                t->setKeyType(km.type());  // decoded with the right pad byte
            }
        }
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
        const std::vector<std::string> found = o.check();
        for (const std::string& f : found) faults.push_back(baseName(b) + ": " + f);
        // A writing open keeps its mark until it settles, so a writer killed
        // between two changes leaves a mark over a bag that may be whole: the
        // keys just compared decide. The mark is named only beside what they
        // found, to say that the next writing open mends it.
        if (found.empty()) continue;
        try {
            if (CdxBag::open(b, false, true)->interrupted())
                faults.push_back(baseName(b) +
                                 ": un proceso que lo estaba cambiando se interrumpió; se "
                                 "reparará al abrirlo para escribir (o con vdrtool reindex)");
        } catch (const DbfError&) {
        }
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
    // Scope texts as the key's type reads them: numbers for numeric keys,
    // YYYYMMDD for dates, the text itself otherwise.
    auto asKey = [&](const std::string& text) {
        switch (o.tag()->keyType()) {
            case cdxkey::Type::Numeric:
            case cdxkey::Type::Integer:
                return xb::Value::num(std::strtod(text.c_str(), nullptr));
            case cdxkey::Type::Date: {
                int y = 0, m = 0, d = 0;
                if (std::sscanf(text.c_str(), "%4d%2d%2d", &y, &m, &d) != 3)
                    throw DbfError(kErrArg, "Fecha de ámbito no válida (AAAAMMDD): " + text,
                                   bagPath);
                // Julian day number of the civil date.
                int a = (14 - m) / 12, yy = y + 4800 - a, mm = m + 12 * a - 3;
                int32_t jd =
                    d + (153 * mm + 2) / 5 + 365 * yy + yy / 4 - yy / 100 + yy / 400 - 32045;
                return xb::Value::date(jd);
            }
            case cdxkey::Type::Logical:
                return xb::Value::logical(!text.empty() && (text[0] == 'T' || text[0] == 't'));
            default:
                return xb::Value::str(text);
        }
    };
    if (scopeTop) o.setScopeTop(asKey(*scopeTop));
    if (scopeBottom) o.setScopeBottom(asKey(*scopeBottom));
    std::vector<uint32_t> out;
    WorkArea& wa = sa.wa();
    for (wa.goTop(); !wa.eof(); wa.skip(1)) out.push_back(wa.recno());
    return out;
}

}  // namespace dbf
