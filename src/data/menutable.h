// The menu table of a new installation, "VdrMenu.ini", built from its
// readable source (install/menu/VdrMenu.txt: one record per line,
// POSITION|TYPE|TEXT|MSG|RESOURCE|ACTION, UTF-8, "#" lines skipped).
#pragma once

#include <string>

namespace data {

inline constexpr const char* kMenuTable = "VdrMenu.ini";
inline constexpr const char* kMenuBag = "VdrMenx1.cdx";

// Creates `table` (and its bag, one tag on "_Field->Position") from the
// source when the table does not exist; an existing table is left alone.
// Returns true when it was created. A faulty line throws StructureError
// naming it, before anything is written.
bool buildMenuTable(const std::string& sourcePath, const std::string& table = kMenuTable,
                    const std::string& bag = kMenuBag);

}  // namespace data
