// TExcelScript: the spreadsheet class of the report scripts. It drives the
// office's spreadsheet (LibreOffice Calc, see office.h) as the scripts expect
// of a spreadsheet application: workbooks, sheets, cells with fonts, colours,
// borders and formats, formulas, tabular export of a table or a list,
// subtotals and autofilters, charts, pictures and shapes, page set-up, saving
// and printing. Without an office every call after New() is a harmless no-op.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "sheet/office.h"
#include "xbase/value.h"

namespace sheet {

// CMAKERANGE(3, 2) = "B3"; CMAKERANGE(1, 1, 10, 3) = "A1:C10".
std::string cMakeRange(double row1, double col1, double row2 = 0, double col2 = 0);
// 1 A, 26 Z, 27 AA, 702 ZZ, 703 AAA: as many letters as the column needs.
std::string cColumn2Letter(int col);
// "A" 1, "Z" 26, "AA" 27 (any number of letters, any case); 0 for no letters.
int cLetter2Column(const std::string& letters);
// Significant decimals of a number, at most 10.
int numGetDecimals(double n);
// "B3" or "A1:C10" (dollar signs allowed; "3:5" are whole rows) as an area.
bool parseRange(const std::string& text, Area& out);

// Julian day of the spreadsheet's day 0 (30-12-1899).
int32_t spreadsheetEpoch();

class TExcelScript : public xb::Object, public std::enable_shared_from_this<TExcelScript> {
  public:
    TExcelScript();
    ~TExcelScript() override;
    std::string className() const override { return "TEXCELSCRIPT"; }
    bool send(std::string_view message, xb::Args& args, xb::Value& result) override;
    bool assign(std::string_view message, const xb::Value& value) override;

    // The application, when one could be reached (for tests and tools).
    Office* office() const { return office_.get(); }

    // Members the scripts read and set.
    std::string cFile;
    std::string cFont = "Arial";
    double nSize = 10;
    bool lBold = false, lItalic = false, lUnderLine = false;
    int nAlign = 1;
    bool lOpen = false;
    bool lDefault = true;
    std::vector<std::vector<xb::Value>> aExcelCols;  // data, align, text, back, header, footer
    xb::Value aData;
    std::string cAlias;
    int nAt = 0;
    int nFormat = 0;
    bool lExcel = false;
    std::vector<std::string> aSheets;
    int nSheets = 0;
    int nBooksCount = 0;
    std::vector<std::string> aBooks;

  private:
    xb::Value dispatch(const std::string& m, xb::Args& a, bool& known);
    xb::Value member(const std::string& m, bool& known);
    void newApp();
    void say(xb::Args& a);
    xb::Value get(xb::Args& a);
    void wbrowse(xb::Args& a);
    bool find(const std::string& text, bool exact, bool contains);
    bool findNext();
    bool replace(xb::Args& a);
    xb::Value evalLine(xb::Args& a);
    void notice(const std::string& text);
    // False, after telling the user why, when the workbook cannot be
    // written to `file`.
    bool writable(const std::string& file);
    Area areaOf(const xb::Value& range, bool& ok);
    Area cellArea(const xb::Value& row, const xb::Value& col);

    std::unique_ptr<Office> office_;
    int curRow_ = 1, curCol_ = 1;    // oCell
    int findRow_ = 0, findCol_ = 0;  // oFind (0: none)
    std::string findText_;
    bool findExact_ = false, findContains_ = false;
    Area clip_{};  // the copied range
    bool clipSet_ = false;
};

// The place of the program's office: VDR_OFFICE (the office program),
// VDR_OFFICE_PIPE and VDR_OFFICE_PROFILE override the defaults.
OfficePlace programOfficePlace();

void registerExcelFunctions();

}  // namespace sheet
