// The installation's table structures in their readable source form
// (install/structures.txt; the format is described at the top of that file)
// and the structure text of the structure catalogue ({{"NAME","C",8,0},...}).
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace data {

struct FieldSpec {
    std::string name;
    char type = 'C';
    int width = 0;
    int decimals = 0;
    bool operator==(const FieldSpec&) const = default;
};

struct TableSource {
    std::string file;  // as written in the source ("VDRVEND.INI", "cgInfAd.Ini")
    bool isTemplate = false;
    std::vector<FieldSpec> fields;
};

// A fault in the structure sources; the message (UTF-8, Spanish) names the line.
class StructureError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Reads the sources. Names are upper-cased; every field is checked (name of 1
// to 10 letters, digits or "_" starting with a letter, known type, width and
// decimals that the type allows, no name twice in a table).
std::vector<TableSource> parseStructures(std::string_view text);
std::vector<TableSource> loadStructures(const std::string& path);

// The structure as the catalogue stores it: {{"CODIGO","C",8,0},{...}}.
std::string structureLiteral(const std::vector<FieldSpec>& fields);

}  // namespace data
