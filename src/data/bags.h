// The data layer's door to the index bags of a work area. Kept apart so that
// the helpers read as the procedures they are.
#pragma once

#include <string>
#include <vector>

namespace dbf {
class WorkArea;
}

namespace data {

// Closes every bag of the area (record order afterwards).
void clearBags(dbf::WorkArea& area);
// Opens the bag `path` for the area; the first bag opened makes its order 1
// the controlling order.
void addBag(dbf::WorkArea& area, const std::string& path);
// Creates in the bag `path` (created when missing) the tag `tag` on `key`
// over the records for which `forExpr` holds, on an area open exclusively; a
// tag of the same name is replaced.
void createTag(dbf::WorkArea& area, const std::string& path, const std::string& tag,
               const std::string& key, const std::string& forExpr, bool unique);

}  // namespace data
