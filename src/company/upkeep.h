// Creating, changing and deleting companies. A company is one record of the
// catalogue (alias Control) and one directory "EMP" + code next to it holding
// all its tables.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "xbase/value.h"

class QWidget;

namespace company {

// The company form's values, in this order (Windows-1252 texts; the kind of
// number is "NIT" or "Cédula"; the start date a date value).
enum FormField {
    Code,
    Name,
    Nit,
    Kind,
    Address,
    Phones,
    Fax,
    City,
    Province,
    Start,
    Camino,
    FieldCount
};
using CompanyData = std::vector<xb::Value>;

// The code after the last one in code order ("00001" for an empty
// catalogue), five digits with leading zeros. Control must be open.
std::string nextCompanyCode();
CompanyData newCompanyData(const std::string& code);
// The form's values from the current record of Control.
CompanyData companyDataFromRecord();

// True when `camino` names a directory this program may remove: a direct
// child of the start directory named "EMP" followed by five digits. Any
// other value in a catalogue record (a damaged or hand-edited catalogue) is
// never taken as a directory to delete.
bool isCompanyDirectory(const std::string& camino);

void DATOSEMPR(const std::string& mode, QWidget* owner = nullptr);
// The company form; true when the company was saved.
bool PANTAEMPR(CompanyData& data, const std::string& mode, QWidget* owner = nullptr);
// A typed company code as the catalogue keeps it: up to five digits,
// completed with leading zeros ("7" is "00007"); nothing for anything else.
std::optional<std::string> normaliseCompanyCode(const std::string& typed);
// Validates a typed code: false (after telling the user) when a company has it.
bool BUSCCODEMP(const std::string& code);
// Writes the form to Control; `saved` becomes true when written.
void GRABAEMPR(const std::string& mode, const CompanyData& data, bool& saved);
void INIARC();
// Called at the steps of a company's creation ("folder", "record", "tables"),
// for the tests that stop a creation halfway; none by default.
void setCreationHook(std::function<void(std::string_view)> hook);
void MODIEMPR(QWidget* owner = nullptr);
void ELIMEMPR(QWidget* owner = nullptr);
// Deletes the company of the current record of Control (opened exclusively);
// true when it was deleted.
bool BORRAEMPR(const std::string& name, const std::string& camino, const std::string& nit);
// Empties and removes the subfolder `sub` of `dir`, deeper levels included.
bool ELISUBDIR(const std::string& dir, const std::string& sub);

void registerUpkeepFunctions();

}  // namespace company
