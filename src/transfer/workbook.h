// The cells of the first sheet of a spreadsheet file (xlsx or ods), read
// directly from the archive: what an import takes from a workbook without
// the office. Texts are UTF-8; numbers as plain decimals ("1234.5"); dates
// (date-formatted numbers, date cells) as "AAAA-MM-DD"; logical cells as
// "1" or "0".
#pragma once

#include <string>
#include <vector>

namespace transfer {

struct SheetRow {
    int row = 0;  // 1 = the sheet's first row
    std::vector<std::string> cells;
};

// True when `bytes` begin as a zip archive does (a workbook, not a CSV).
bool looksLikeWorkbook(const std::string& bytes);

// The rows of the first sheet that hold anything, in order. `format` is set
// to "xlsx" or "ods". Throws std::runtime_error with a Spanish message when
// the archive is damaged or is not a workbook of either kind.
std::vector<SheetRow> readWorkbook(const std::string& bytes, std::string& format);

}  // namespace transfer
