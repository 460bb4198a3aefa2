// The spreadsheet application as the spreadsheet class needs it: one office
// session holding one active workbook and its active sheet. The class speaks
// only to this interface; the binding to LibreOffice Calc over UNO implements
// it when the office's kit was found at build time, and nothing does
// otherwise (then connecting answers "no office").
//
// Rows and columns count from 1. Colours are 0xRRGGBB. Texts are UTF-8.
// Every method may throw OfficeError with a text for the user.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace sheet {

struct OfficeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A cell's contents: nothing, a number, or a text.
using CellValue = std::variant<std::monostate, double, std::string>;

struct CellRead {
    CellValue value;
    bool isDate = false;  // a number shown as a date
    bool isFormula = false;
};

// Which cells an attribute goes to: a rectangle, 1-based and inclusive.
struct Area {
    int row1 = 1, col1 = 1, row2 = 1, col2 = 1;
};

// A place on the sheet's drawing layer, in hundredths of a millimetre from the
// sheet's top-left corner.
struct Rect {
    long x = 0, y = 0, width = 0, height = 0;
};

// What a subtotal row computes over its group.
enum class TotalFunction { Sum, Average, Count, StdDev, StdDevP };

// One condition of a filter: the field (1-based within the range) compared
// with a value; Empty and NotEmpty take no value.
enum class FilterOp { Equal, NotEqual, Greater, GreaterEqual, Less, LessEqual, Empty, NotEmpty };
struct FilterRule {
    int field = 1;
    FilterOp op = FilterOp::Equal;
    CellValue value;
};

enum class SheetChartKind { Column, Bar, Line, Pie, Area, Scatter, Radar, Doughnut };
struct ChartSpec {
    SheetChartKind kind = SheetChartKind::Column;
    bool threeD = false;
    bool stacked = false;
    bool percent = false;  // stacked to 100 %
    std::string title;
};

struct FontSpec {
    std::string name;                            // empty: unchanged
    double size = 0;                             // 0: unchanged
    int bold = -1, italic = -1, underline = -1;  // -1: unchanged
    long colour = -1;                            // -1: unchanged
};

class Office {
  public:
    virtual ~Office() = default;

    // Workbooks.
    virtual void createBook() = 0;
    virtual void openBook(const std::string& path) = 0;
    virtual void saveBook() = 0;
    virtual void saveBookAs(const std::string& path, int format) = 0;
    virtual int bookFormat() = 0;
    virtual bool bookReadOnly() = 0;
    virtual void closeBooks() = 0;
    virtual std::vector<std::string> bookTitles() = 0;
    virtual void printSheet() = 0;
    virtual void show(bool visible) = 0;
    // A copy of the workbook as a web page; the workbook keeps its file.
    virtual void exportHtml(const std::string& path) = 0;
    // The office's own dialog of a command (".uno:SaveAs"...) over the
    // workbook, answered by the user; false when the office has no windows.
    virtual bool dialog(const std::string& command) = 0;
    virtual void quit() = 0;

    // Sheets of the active workbook (1-based).
    virtual std::vector<std::string> sheetNames() = 0;
    virtual int activeSheet() = 0;
    virtual void setActiveSheet(int n) = 0;
    virtual void addSheet() = 0;  // before the active one, which it becomes
    virtual void copySheet() = 0;
    virtual void deleteSheet(int n) = 0;
    virtual void moveSheet(int n, int to) = 0;
    virtual void nameSheet(int n, const std::string& name) = 0;

    // Cells of the active sheet.
    virtual void setCell(int row, int col, const CellValue& v) = 0;
    virtual CellRead cell(int row, int col) = 0;
    // False when the office rejects the formula; the cell then keeps what it
    // held. `local`: in the user's notation (Spanish function names, ";"
    // between arguments, "," as decimal mark); else in the office's English.
    virtual bool setFormula(int row, int col, const std::string& formula, bool local) = 0;
    // A block of values at once (rows of equal length).
    virtual void setBlock(int row, int col, const std::vector<std::vector<CellValue>>& rows) = 0;
    virtual std::vector<std::vector<CellValue>> block(const Area& a) = 0;
    virtual void copyRange(const Area& from, int row, int col) = 0;
    virtual void clear(const Area& a) = 0;
    virtual void setFont(const Area& a, const FontSpec& f) = 0;
    virtual void setBackground(const Area& a, long colour) = 0;
    virtual void setNumberFormat(const Area& a, const std::string& format) = 0;
    virtual void setDateFormat(const Area& a) = 0;
    virtual void setAlign(const Area& a, int excelAlign) = 0;
    virtual void setOrientation(const Area& a, int degrees) = 0;
    virtual void setBorder(const Area& a, int lineStyle) = 0;
    virtual void setWrap(const Area& a) = 0;
    virtual void merge(const Area& a) = 0;
    virtual void comment(int row, int col, const std::string& text) = 0;
    virtual void autoFit(int col) = 0;
    virtual void columnWidth(int col, double chars) = 0;
    virtual void sheetFont(const std::string& name, double size) = 0;
    virtual Area usedArea() = 0;
    virtual void insertRow(int row) = 0;
    virtual void insertCol(int col) = 0;
    virtual void duplicateRow(int row) = 0;
    // Page set-up.
    virtual void pageText(bool header, int which, const std::string& text) = 0;
    virtual void margin(int which, double value) = 0;
    virtual void printArea(const Area& a) = 0;
    virtual void centre(bool horizontal, bool on) = 0;
    virtual void zoom(int percent) = 0;
    virtual void landscape(bool on) = 0;
    virtual void titleRows(int row1, int row2) = 0;
    virtual void rowBreak(int row) = 0;
    // Paper size of the active sheet's page style, given upright (the
    // office swaps it when the page is in landscape).
    virtual void paperSize(long width, long height) = 0;
    virtual void protectSheet(const std::string& password, bool on) = 0;

    // Data ranges (the first row of the range holds the headings).
    // Subtotal rows after each group of equal values in column `groupBy`
    // (1-based within the range) over the given columns, and a grand total.
    virtual void subtotals(const Area& a, int groupBy, TotalFunction f,
                           const std::vector<int>& columns) = 0;
    // Autofilter buttons on the range's headings; with a rule, the rows
    // that fail it are hidden.
    virtual void autoFilter(const Area& a, const FilterRule* rule) = 0;

    // Drawing layer of the active sheet.
    virtual Rect cellRect(int row, int col) = 0;
    virtual void chart(const Area& a, const ChartSpec& want, const Rect& at) = 0;
    // A picture embedded in the workbook; a width or height of 0 takes the
    // picture's own size.
    virtual void picture(const std::string& path, const Rect& at) = 0;
    // A shape of a preset geometry, named as OpenDocument names them
    // ("rectangle", "ellipse", "round-rectangle", ...).
    virtual void shape(const std::string& geometry, const Rect& at) = 0;
    virtual void protectBook(const std::string& password, bool on) = 0;
};

// Where to find or start the office (the defaults are the installation's).
struct OfficePlace {
    std::string soffice;  // program; empty: the one found at build time
    std::string pipe;     // connection name
    std::string profile;  // the office's own profile folder
};

// Attaches to the office listening on the place's pipe, or starts one there.
// Nothing when there is no office (not built in, not installed, or not
// answering in time).
std::unique_ptr<Office> connectOffice(const OfficePlace& place);

// The office's own words for the exception being handled (for the notice).
std::string officeErrorText();

}  // namespace sheet
