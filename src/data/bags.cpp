#include "data/bags.h"

#include "dbf/order.h"
#include "dbf/workarea.h"

namespace data {

void clearBags(dbf::WorkArea& area) {
    dbf::orders(area).clearBags();
}

void addBag(dbf::WorkArea& area, const std::string& path) {
    dbf::orders(area).addBag(path);
}

void createTag(dbf::WorkArea& area, const std::string& path, const std::string& tag,
               const std::string& key, const std::string& forExpr, bool unique) {
    dbf::orders(area).createTag(path, tag, key, forExpr, unique);
}

}  // namespace data
