// The nine tables every company owns, in the fixed order in which creation,
// packing, rebuilding and reindexing treat them, with the session variables
// that name their files and bags, their structure templates, aliases and the
// tags of their bags in creation order (the order numbers callers select).
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace data {

struct TagDef {
    const char* name;  // as created; order numbers follow this list
    const char* key;   // key expression
    bool unique;
};

struct TableDef {
    const char* tableVar;  // session variable holding the table's file name
    const char* bagVar;    // session variable holding its bag's file name
    const char* file;      // file name inside the company directory (or the working one)
    const char* bag;       // bag file name, same place
    const char* templ;     // structure template, in the working directory
    const char* alias;     // alias the program opens it under
    bool inCompanyDir;     // false: lives in the working directory, shared by all companies
    std::vector<TagDef> tags;
};

// The catalogue, rows 1 to 9.
const std::array<TableDef, 9>& tables();

// The row whose table variable, template or alias is `name` (any case), or
// nullptr.
const TableDef* findTable(std::string_view name);

// File names of a row for the company directory `camino` (G_CAMINO, e.g.
// "EMP00001\"); rows outside the company directory ignore it.
std::string tablePath(const TableDef& t, std::string_view camino);
std::string bagPath(const TableDef& t, std::string_view camino);

// Names of the installation's own files.
inline constexpr const char* kStructCatalogue = "VDRBASES.INI";
inline constexpr const char* kStructCatalogueAlias = "VDRBASES";
inline constexpr const char* kStructCatalogueBag = "VdrBases.cdx";
inline constexpr const char* kStructCatalogueTag = "Archivo";
inline constexpr const char* kStructCatalogueKey = "_Field->Archivo";
inline constexpr const char* kCompanyCatalogue = "ContEmpr.Ini";
inline constexpr const char* kCompanyCatalogueBag = "ContEmx1.cdx";
inline constexpr const char* kCompanyCatalogueTag = "ContEmpr";
inline constexpr const char* kCompanyCatalogueKey = "CodEmpr";
// In each company's folder: a session holds a shared lock on its first byte
// while the company is its own; deleting or restoring takes it exclusively.
inline constexpr const char* kInUseFile = "EnUso.lck";

}  // namespace data
