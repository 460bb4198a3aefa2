#include "sheet/excel.h"

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "data/interaction.h"
#include "data/paths.h"
#include "dbf/workspace.h"
#include "xbase/codepage.h"
#include "xbase/compiler.h"
#include "xbase/date.h"
#include "xbase/runtime.h"

namespace sheet {

// ------------------------------------------------------------ helpers

std::string cColumn2Letter(int col) {
    // Bijective base 26: Z is 26 and AA follows, for as many letters as the
    // column needs (the office's sheets are wider than ZZ).
    std::string s;
    while (col > 0) {
        int r = (col - 1) % 26;
        s.insert(s.begin(), static_cast<char>('A' + r));
        col = (col - 1) / 26;
    }
    return s;
}

int cLetter2Column(const std::string& letters) {
    int n = 0;
    for (char c : letters) {
        char u = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        if (u == ' ' || u == '$') continue;
        if (u < 'A' || u > 'Z') return 0;
        if (n > 1000000) return 0;
        n = n * 26 + (u - 'A' + 1);
    }
    return n;
}

std::string cMakeRange(double row1, double col1, double row2, double col2) {
    auto cell = [](double r, double c) {
        return cColumn2Letter(static_cast<int>(c)) + std::to_string(static_cast<long>(r));
    };
    std::string s = cell(std::trunc(row1), col1);
    if (row2 > 0 && col2 > 0) s += ":" + cell(std::trunc(row2), col2);
    return s;
}

int numGetDecimals(double n) {
    if (!std::isfinite(n)) return 0;
    char buf[64];
    snprintf(buf, sizeof buf, "%.10f", std::fabs(n));
    std::string s(buf);
    size_t dot = s.find('.');
    if (dot == std::string::npos) return 0;
    size_t end = s.find_last_not_of('0');
    return end <= dot ? 0 : static_cast<int>(end - dot);
}

namespace {

bool parseCell(std::string t, int& row, int& col) {
    t.erase(std::remove(t.begin(), t.end(), '$'), t.end());
    size_t i = 0;
    while (i < t.size() && isalpha(static_cast<unsigned char>(t[i]))) ++i;
    std::string letters = t.substr(0, i), digits = t.substr(i);
    if (digits.empty() && letters.empty()) return false;
    if (!std::all_of(digits.begin(), digits.end(),
                     [](char c) { return isdigit(static_cast<unsigned char>(c)); }))
        return false;
    col = letters.empty() ? 0 : cLetter2Column(letters);
    row = digits.empty() ? 0 : std::atoi(digits.c_str());
    if (!letters.empty() && col == 0) return false;
    return true;
}

std::string trimmed(const std::string& s) {
    size_t b = s.find_first_not_of(' '), e = s.find_last_not_of(' ');
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

std::string upperAscii(std::string s) {
    for (auto& c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return s;
}

long officeColour(double xbColour) {
    long c = static_cast<long>(xbColour);
    return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}

// A value of the language as the contents of a cell (texts to UTF-8).
CellValue toCell(const xb::Value& v) {
    switch (v.type()) {
        case 'N':
            return v.asNumber();
        case 'D':
            if (v.asDate() == 0) return std::string();  // an empty date is empty text
            return static_cast<double>(v.asDate() - spreadsheetEpoch());
        case 'L':
            return v.asLogical() ? std::string("VERDADERO") : std::string("FALSO");
        case 'C':
        case 'M':
            return xb::cp1252ToUtf8(v.asString());
        default:
            return std::monostate{};
    }
}

std::string cellText(const CellValue& v) {
    if (auto* s = std::get_if<std::string>(&v)) return *s;
    if (auto* d = std::get_if<double>(&v))
        return trimmed(xb::formatNumber(*d, 30, numGetDecimals(*d)));
    return {};
}

xb::Value strList(const std::vector<std::string>& v) {
    xb::Value a = xb::Value::newArray();
    for (const auto& s : v) a.asArray()->items.push_back(xb::Value::str(xb::utf8ToCp1252(s)));
    return a;
}

double num(const xb::Value& v, double d) {
    return v.isNum() ? v.asNumber() : d;
}
int inum(const xb::Value& v, int d) {
    return v.isNum() ? static_cast<int>(v.asNumber()) : d;
}

// Excel's paper-size numbers (xlPaperSize) as upright sizes in hundredths of
// a millimetre; false for a number not known here.
bool paperOf(int n, long& w, long& h) {
    struct Paper {
        int n;
        long w, h;
    };
    static const Paper papers[] = {
        {1, 21590, 27940},   // Letter
        {2, 21590, 27940},   // Letter small
        {3, 27940, 43180},   // Tabloid
        {4, 43180, 27940},   // Ledger
        {5, 21590, 35560},   // Legal
        {6, 13970, 21590},   // Statement
        {7, 18415, 26670},   // Executive
        {8, 29700, 42000},   // A3
        {9, 21000, 29700},   // A4
        {10, 21000, 29700},  // A4 small
        {11, 14800, 21000},  // A5
        {12, 25700, 36400},  // B4 (JIS)
        {13, 18200, 25700},  // B5 (JIS)
        {14, 21590, 33020},  // Folio
        {15, 21500, 27500},  // Quarto
        {17, 27940, 43180},  // 11 x 17 in
        {18, 21590, 27940},  // Note
        {20, 10478, 24130},  // Envelope #10
        {27, 11000, 22000},  // Envelope DL
        {28, 16200, 22900},  // Envelope C5
        {30, 22900, 32400},  // Envelope C4
        {31, 11400, 16200},  // Envelope C6
        {34, 17600, 25000},  // Envelope B5
        {37, 9843, 19050},   // Envelope Monarch
    };
    for (const auto& p : papers)
        if (p.n == n) {
            w = p.w, h = p.h;
            return true;
        }
    return false;
}

// Excel's subtotal function numbers: 1 sum, 2 average, 3 count, 4 and 5 the
// sample and population standard deviations; anything else sums.
TotalFunction totalOf(int n) {
    switch (n) {
        case 2:
            return TotalFunction::Average;
        case 3:
            return TotalFunction::Count;
        case 4:
            return TotalFunction::StdDev;
        case 5:
            return TotalFunction::StdDevP;
        default:
            return TotalFunction::Sum;
    }
}

// An Excel criteria text: an optional comparison (=, <>, >, >=, <, <=)
// before the value; a value that reads as a number compares as one. "=" alone
// asks for empty cells and "<>" alone for filled ones.
FilterRule criteriaOf(const xb::Value& v) {
    FilterRule r;
    if (v.isNum()) {
        r.value = v.asNumber();
        return r;
    }
    std::string t = xb::cp1252ToUtf8(v.asString());
    static const std::pair<const char*, FilterOp> ops[] = {
        {"<>", FilterOp::NotEqual}, {">=", FilterOp::GreaterEqual}, {"<=", FilterOp::LessEqual},
        {">", FilterOp::Greater},   {"<", FilterOp::Less},          {"=", FilterOp::Equal}};
    bool hadOp = false;
    for (const auto& [text, op] : ops)
        if (t.rfind(text, 0) == 0) {
            r.op = op;
            t = t.substr(std::string(text).size());
            hadOp = true;
            break;
        }
    if (hadOp && t.empty()) {
        r.op = r.op == FilterOp::NotEqual ? FilterOp::NotEmpty : FilterOp::Empty;
        return r;
    }
    char* end = nullptr;
    std::string n = trimmed(t);
    double d = n.empty() ? 0 : std::strtod(n.c_str(), &end);
    if (!n.empty() && end && *end == '\0')
        r.value = d;
    else
        r.value = t;
    return r;
}

// Excel's chart type numbers (XlChartType, and the older gallery numbers
// 1 to 5) for the kinds Calc draws; any other number is a column chart.
ChartSpec chartOf(int n) {
    ChartSpec s;
    switch (n) {
        case 2:  // xlBar
        case 57:
            s.kind = SheetChartKind::Bar;
            break;
        case 58:
        case 59:
            s.kind = SheetChartKind::Bar, s.stacked = true, s.percent = n == 59;
            break;
        case 60:
        case -4099:
            s.kind = SheetChartKind::Bar, s.threeD = true;
            break;
        case 52:
        case 53:
            s.stacked = true, s.percent = n == 53;
            break;
        case 54:
        case -4100:
            s.threeD = true;
            break;
        case 4:  // xlLine
        case 65:
            s.kind = SheetChartKind::Line;
            break;
        case 63:
            s.kind = SheetChartKind::Line, s.stacked = true;
            break;
        case -4101:
            s.kind = SheetChartKind::Line, s.threeD = true;
            break;
        case 5:  // xlPie
        case 69:
            s.kind = SheetChartKind::Pie;
            break;
        case -4102:
            s.kind = SheetChartKind::Pie, s.threeD = true;
            break;
        case -4120:
            s.kind = SheetChartKind::Doughnut;
            break;
        case 1:  // xlArea
            s.kind = SheetChartKind::Area;
            break;
        case 76:
            s.kind = SheetChartKind::Area, s.stacked = true;
            break;
        case -4098:
            s.kind = SheetChartKind::Area, s.threeD = true;
            break;
        case -4169:
            s.kind = SheetChartKind::Scatter;
            break;
        case -4151:
            s.kind = SheetChartKind::Radar;
            break;
        default:
            break;  // 51 and 3 (xlColumn): clustered columns
    }
    return s;
}

// Excel's autoshape numbers (msoAutoShapeType) as the office's preset
// geometries; any other number is a rectangle.
std::string shapeOf(int n) {
    static const std::pair<int, const char*> shapes[] = {{1, "rectangle"},
                                                         {2, "parallelogram"},
                                                         {3, "trapezoid"},
                                                         {4, "diamond"},
                                                         {5, "round-rectangle"},
                                                         {6, "octagon"},
                                                         {7, "isosceles-triangle"},
                                                         {8, "right-triangle"},
                                                         {9, "ellipse"},
                                                         {10, "hexagon"},
                                                         {11, "cross"},
                                                         {12, "pentagon"},
                                                         {13, "can"},
                                                         {14, "cube"},
                                                         {16, "paper"},
                                                         {17, "smiley"},
                                                         {18, "ring"},
                                                         {21, "heart"},
                                                         {22, "lightning"},
                                                         {23, "sun"},
                                                         {24, "moon"},
                                                         {33, "right-arrow"},
                                                         {34, "left-arrow"},
                                                         {35, "up-arrow"},
                                                         {36, "down-arrow"},
                                                         {91, "star4"},
                                                         {92, "star5"},
                                                         {93, "star8"},
                                                         {95, "star24"}};
    for (const auto& [k, name] : shapes)
        if (k == n) return name;
    return "rectangle";
}

// Left, top, width and height in points (Excel's unit for drawing objects),
// defaults 1, 1, 100, 100, as a place in hundredths of a millimetre.
Rect pointsRect(const xb::Value& l, const xb::Value& t, const xb::Value& w, const xb::Value& h) {
    auto hmm = [](double pt) { return std::lround(pt * 2540.0 / 72.0); };
    return {hmm(num(l, 1)), hmm(num(t, 1)), hmm(std::max(num(w, 100), 1.0)),
            hmm(std::max(num(h, 100), 1.0))};
}

// A file name as scripts write it (".\\Prueba\\LIBRO.XLS", any case, in the
// program's code page) as the name of the file on this system, found as
// the rest of the program finds its files.
std::string hostFile(const std::string& name) {
    return data::hostPath(xb::cp1252ToUtf8(trimmed(name)));
}

// Why a workbook cannot be written at `host`; empty when it can.
std::string unwritable(const std::string& host) {
    QFileInfo file(QString::fromStdString(host));
    QFileInfo folder(file.absolutePath());
    if (!folder.isDir()) return "no existe su carpeta";
    if (file.exists() ? !file.isWritable() : !folder.isWritable())
        return "no hay permiso para escribir en \xe9l";
    return std::string();
}

}  // namespace

// The desktop program `name` as found in the PATH; empty when missing.
static std::string desktopTool(const char* name) {
    return QStandardPaths::findExecutable(QString::fromLatin1(name)).toStdString();
}

bool parseRange(const std::string& text, Area& out) {
    std::string t = trimmed(text);
    if (t.empty()) return false;
    size_t colon = t.find(':');
    int r1 = 0, c1 = 0, r2 = 0, c2 = 0;
    if (!parseCell(t.substr(0, colon), r1, c1)) return false;
    if (colon == std::string::npos) {
        r2 = r1;
        c2 = c1;
    } else if (!parseCell(t.substr(colon + 1), r2, c2)) {
        return false;
    }
    // Whole rows ("3:5") or whole columns ("A:C").
    if (c1 == 0 && c2 == 0) c1 = 1, c2 = 1024;
    if (r1 == 0 && r2 == 0) r1 = 1, r2 = 1048576;
    if (r1 < 1 || c1 < 1 || r2 < 1 || c2 < 1) return false;
    out = {std::min(r1, r2), std::min(c1, c2), std::max(r1, r2), std::max(c1, c2)};
    return true;
}

int32_t spreadsheetEpoch() {
    static const int32_t e = xb::julianFromYmd(1899, 12, 30);
    return e;
}

#ifndef VDR_HAVE_UNO
std::unique_ptr<Office> connectOffice(const OfficePlace&) {
    return nullptr;
}
std::string officeErrorText() {
    return std::string();
}
#endif

OfficePlace programOfficePlace() {
    OfficePlace p;
    if (const char* e = std::getenv("VDR_OFFICE")) p.soffice = e;
    // One office per user, shared by every script of the session.
    std::string user = std::to_string(::getuid());
    p.pipe = "vdrcalc_" + user;
    if (const char* e = std::getenv("VDR_OFFICE_PIPE")) p.pipe = e;
    p.profile = QDir::temp().filePath(QString::fromStdString("vdrcalc_" + user)).toStdString();
    if (const char* e = std::getenv("VDR_OFFICE_PROFILE")) p.profile = e;
    return p;
}

// ------------------------------------------------------------- the class

TExcelScript::TExcelScript() = default;
TExcelScript::~TExcelScript() = default;

void TExcelScript::notice(const std::string& text) {
    data::interaction().info(text, "Aviso al usuario");
}

bool TExcelScript::writable(const std::string& file) {
    std::string why = trimmed(file).empty() ? std::string("no se ha indicado su nombre")
                                            : unwritable(hostFile(file));
    if (!why.empty()) notice("No se puede grabar el archivo " + file + ": " + why);
    return why.empty();
}

void TExcelScript::newApp() {
    office_ = connectOffice(programOfficePlace());
    lExcel = office_ != nullptr;
    if (!lExcel)
        data::interaction().info("No est\xe1 Excel Instalado en est\xe1 Pc.", "Atenci\xf3n.....");
}

Area TExcelScript::cellArea(const xb::Value& row, const xb::Value& col) {
    int r = inum(row, 0), c = inum(col, 0);
    if (r < 1 || c < 1) r = curRow_, c = curCol_;
    return {r, c, r, c};
}

Area TExcelScript::areaOf(const xb::Value& range, bool& ok) {
    Area a;
    ok = range.isString() && parseRange(range.asString(), a);
    if (!ok && range.isString() && !range.asString().empty())
        notice("El rango " + range.asString() + " no es correcto");
    return a;
}

void TExcelScript::say(xb::Args& a) {
    Area at = cellArea(a[0], a[1]);
    const xb::Value& v = a[2];
    FontSpec f;
    f.name = a[3].isString() ? xb::cp1252ToUtf8(a[3].asString()) : (lDefault ? cFont : "");
    f.size = num(a[4], lDefault ? nSize : 0);
    f.bold = a[5].isLogical() ? a[5].asLogical() : (lDefault ? lBold : -1);
    f.italic = a[6].isLogical() ? a[6].asLogical() : (lDefault ? lItalic : -1);
    f.underline = a[7].isLogical() ? a[7].asLogical() : (lDefault ? lUnderLine : -1);
    int align = a[8].isNum() ? inum(a[8], 1) : (lDefault ? nAlign : 0);
    f.colour = a[9].isNum() ? officeColour(a[9].asNumber()) : (lDefault ? 0 : -1);
    long back = a[10].isNum() ? officeColour(a[10].asNumber()) : (lDefault ? 0xFFFFFF : -1);
    int orientation = inum(a[11], 0);
    int border = a[12].isNum() ? inum(a[12], 1) : (lDefault ? 1 : INT32_MIN);
    std::string fmt = a[13].isString() ? a[13].asString() : (lDefault ? "0" : "");

    office_->setFont(at, f);
    if (v.isNum() && !fmt.empty()) office_->setNumberFormat(at, fmt);
    if (v.isDate() && v.asDate() != 0) office_->setDateFormat(at);
    if (v.isString() && !v.asString().empty() && v.asString()[0] == '=') {
        // As in a spreadsheet, a text that begins with "=" is a formula.
        office_->setFormula(at.row1, at.col1, xb::cp1252ToUtf8(v.asString()), false);
    } else {
        office_->setCell(at.row1, at.col1, toCell(v));
    }
    if (back >= 0) office_->setBackground(at, back);
    if (align != 0) {
        office_->setAlign(at, align);
        office_->setOrientation(at, orientation);
    }
    if (border != INT32_MIN) office_->setBorder(at, border);
}

xb::Value TExcelScript::get(xb::Args& a) {
    Area at = cellArea(a[0], a[1]);
    std::string type = a[2].isString() ? upperAscii(a[2].asString()) : "C";
    CellRead r = office_->cell(at.row1, at.col1);
    if (std::holds_alternative<std::monostate>(r.value)) return xb::Value::str("");
    if (auto* s = std::get_if<std::string>(&r.value)) {
        std::string bytes = xb::utf8ToCp1252(*s);
        if (type == "N") return xb::Value::num(std::atof(bytes.c_str()));
        return xb::Value::str(bytes);
    }
    double d = std::get<double>(r.value);
    if (r.isDate) {
        int32_t jd = spreadsheetEpoch() + static_cast<int32_t>(std::floor(d));
        if (type == "N") return xb::Value::date(jd);
        return xb::Value::str(xb::dtos(jd));
    }
    int dec = numGetDecimals(d);
    if (type == "N") {
        double p = std::pow(10.0, dec);
        return xb::Value::num(std::round(d * p) / p, 21, dec);
    }
    return xb::Value::str(xb::formatNumber(d, 21, dec));
}

void TExcelScript::wbrowse(xb::Args& a) {
    int row = inum(a[0], 1), col = inum(a[1], 1);
    if (!a[2].isString() || trimmed(a[2].asString()).empty()) return;
    cAlias = trimmed(a[2].asString());
    FontSpec font;
    font.name = a[3].isString() ? xb::cp1252ToUtf8(a[3].asString()) : "Tahoma";
    font.size = num(a[4], 10);
    auto colourOf = [](const xb::Value& block, long dflt) {
        if (!block.isBlock()) return dflt;
        xb::Value v = xb::evalBlock(block);
        return v.isNum() ? officeColour(v.asNumber()) : dflt;
    };
    long headText = colourOf(a[5], 0), headBack = colourOf(a[6], 0xFFFFFF);

    const bool fromArray = upperAscii(cAlias) == "ARRAY";
    dbf::WorkArea* wa = fromArray ? nullptr : dbf::workspace().area(std::string_view(cAlias));
    if (!fromArray && !wa) {
        notice("No est\xe1 abierta la tabla " + cAlias);
        return;
    }
    // Without column descriptions every field (or element) is a column.
    std::vector<std::vector<xb::Value>> cols = aExcelCols;
    if (cols.empty() && wa) {
        for (int i = 0; i < wa->table().fieldCount(); ++i) {
            std::string name = wa->table().fields()[static_cast<size_t>(i)].name;
            cols.push_back({xb::compileBlock("{|| FIELDGET(" + std::to_string(i + 1) + ")}"),
                            xb::Value::integer(1), xb::Value(), xb::Value(),
                            xb::compileBlock("{|| '" + name + "'}"), xb::Value()});
        }
    }
    size_t ncols = cols.size();
    if (ncols == 0 && fromArray && aData.isArray() && !aData.asArray()->items.empty() &&
        aData.asArray()->items[0].isArray())
        ncols = aData.asArray()->items[0].asArray()->items.size();
    if (ncols == 0) return;
    auto colItem = [&](size_t c, size_t k) {
        return c < cols.size() && k < cols[c].size() ? cols[c][k] : xb::Value();
    };
    auto textOf = [](const xb::Value& block) {
        if (!block.isBlock()) return CellValue(std::string());
        return toCell(xb::evalBlock(block));
    };
    const int lastCol = col + static_cast<int>(ncols) - 1;

    // Header row.
    std::vector<std::vector<CellValue>> head(1);
    for (size_t c = 0; c < ncols; ++c) head[0].push_back(textOf(colItem(c, 4)));
    office_->setBlock(row, col, head);
    Area headArea{row, col, row, lastCol};
    FontSpec hf = font;
    hf.colour = headText;
    office_->setFont(headArea, hf);
    office_->setBackground(headArea, headBack);
    office_->setBorder(headArea, 0);

    // Data rows, gathered first and written as one block: one call for all
    // the values instead of one per cell. Colours that blocks give per cell
    // are grouped into runs of equal colour down each column.
    std::vector<std::vector<CellValue>> rows;
    std::vector<std::vector<long>> texts(ncols), backs(ncols);
    auto addRow = [&](std::vector<CellValue> line) {
        line.resize(ncols);
        rows.push_back(std::move(line));
        for (size_t c = 0; c < ncols; ++c) {
            texts[c].push_back(colourOf(colItem(c, 2), 0));
            backs[c].push_back(colourOf(colItem(c, 3), 0xFFFFFF));
        }
    };
    if (fromArray) {
        if (aData.isArray())
            for (const auto& r : aData.asArray()->items) {
                std::vector<CellValue> line;
                if (r.isArray())
                    for (const auto& v : r.asArray()->items) line.push_back(toCell(v));
                else
                    line.push_back(toCell(r));
                addRow(std::move(line));
            }
    } else {
        int area = dbf::workspace().areaOf(cAlias);
        dbf::workspace().withArea(area, [&] {
            for (; !wa->eof(); wa->skip(1)) {
                std::vector<CellValue> line;
                for (size_t c = 0; c < ncols; ++c) line.push_back(textOf(colItem(c, 0)));
                addRow(std::move(line));
            }
            return 0;
        });
    }
    nAt = static_cast<int>(rows.size());
    int first = row + 1;
    if (!rows.empty()) {
        office_->setBlock(first, col, rows);
        Area body{first, col, first + nAt - 1, lastCol};
        office_->setFont(body, font);
        for (size_t c = 0; c < ncols; ++c) {
            int cc = col + static_cast<int>(c);
            office_->setAlign({first, cc, first + nAt - 1, cc}, inum(colItem(c, 1), 1));
            for (auto* which : {&texts[c], &backs[c]}) {
                const auto& v = *which;
                size_t s = 0;
                for (size_t i = 1; i <= v.size(); ++i) {
                    if (i < v.size() && v[i] == v[s]) continue;
                    Area run{first + static_cast<int>(s), cc, first + static_cast<int>(i) - 1, cc};
                    if (which == &texts[c]) {
                        FontSpec tf;
                        tf.colour = v[s];
                        office_->setFont(run, tf);
                    } else {
                        office_->setBackground(run, v[s]);
                    }
                    s = i;
                }
            }
        }
    }
    // Footer row, when any column has one.
    bool anyFooter = false;
    for (size_t c = 0; c < ncols; ++c) anyFooter |= colItem(c, 5).isBlock();
    if (anyFooter) {
        std::vector<std::vector<CellValue>> foot(1);
        for (size_t c = 0; c < ncols; ++c) foot[0].push_back(textOf(colItem(c, 5)));
        int fr = first + nAt;
        office_->setBlock(fr, col, foot);
        office_->setFont({fr, col, fr, lastCol}, hf);
        office_->setBackground({fr, col, fr, lastCol}, headBack);
        office_->setBorder({fr, col, fr, lastCol}, 0);
    }
    for (int c = col; c <= lastCol; ++c) office_->autoFit(c);
}

bool TExcelScript::find(const std::string& text, bool exact, bool contains) {
    findText_ = text;
    findExact_ = exact;
    findContains_ = contains;
    findRow_ = curRow_;
    findCol_ = curCol_;
    // The first search starts at the current cell itself.
    findRow_ = curRow_;
    findCol_ = curCol_ - 1;
    return findNext();
}

bool TExcelScript::findNext() {
    if (findText_.empty()) return false;
    Area used = office_->usedArea();
    auto grid = office_->block(used);
    std::string want = xb::cp1252ToUtf8(findText_);
    auto upper = [](std::string s) { return xb::utf8ToCp1252(s); };
    auto matches = [&](const std::string& t) {
        std::string a = xb::upper1252(upper(t)), b = xb::upper1252(upper(want));
        if (findContains_) return a.find(b) != std::string::npos;
        return findExact_ ? t == want : a == b;
    };
    const int prevRow = curRow_, prevCol = curCol_;
    const int startRow = findRow_ > 0 ? findRow_ : curRow_;
    const int startCol = findRow_ > 0 ? findCol_ : curCol_;
    int rows = used.row2 - used.row1 + 1, cols = used.col2 - used.col1 + 1;
    long total = static_cast<long>(rows) * cols;
    long startIdx = static_cast<long>(startRow - used.row1) * cols + (startCol - used.col1);
    // A start above or left of the used cells begins before the first of them.
    if (startRow < used.row1 || (startRow == used.row1 && startCol < used.col1)) startIdx = -1;
    for (long k = 1; k <= total; ++k) {
        long idx = ((startIdx + k) % total + total) % total;
        int r = static_cast<int>(idx / cols), c = static_cast<int>(idx % cols);
        const CellValue& v = grid[static_cast<size_t>(r)][static_cast<size_t>(c)];
        std::string t = cellText(v);
        if (t.empty() || t.find(want) == std::string::npos) {
            if (!findContains_ && !findExact_ && !t.empty() && matches(t)) {
            } else {
                continue;
            }
        }
        int hitRow = used.row1 + r, hitCol = used.col1 + c;
        // A hit at or before where the search began has come round from the
        // top: nothing more to find.
        bool wrapped = startIdx + k >= total;
        if (wrapped) {
            curRow_ = prevRow;
            curCol_ = prevCol;
            findRow_ = findCol_ = 0;
            return false;
        }
        findRow_ = hitRow;
        findCol_ = hitCol;
        if (findContains_ && !findExact_ ? true : matches(t)) {
            curRow_ = hitRow;
            curCol_ = hitCol;
            return true;
        }
    }
    findRow_ = findCol_ = 0;
    return false;
}

bool TExcelScript::replace(xb::Args& a) {
    if (!a[0].isString() || !a[1].isString()) return false;
    bool all = a[4].isLogical() && a[4].asLogical();
    bool whole = a[5].isLogical() && a[5].asLogical();
    bool any = false;
    std::string from = xb::cp1252ToUtf8(a[0].asString()), to = xb::cp1252ToUtf8(a[1].asString());
    bool ok = find(a[0].asString(), a[2].asLogical(), a[3].asLogical());
    while (ok) {
        Area at{curRow_, curCol_, curRow_, curCol_};
        if (a[6].isString()) office_->setNumberFormat(at, a[6].asString());
        std::string t = cellText(office_->cell(curRow_, curCol_).value);
        if (whole) {
            t = to;
        } else {
            for (size_t p = 0; !from.empty() && (p = t.find(from, p)) != std::string::npos;
                 p += to.size())
                t.replace(p, from.size(), to);
        }
        office_->setCell(curRow_, curCol_, t);
        any = true;
        if (!all) break;
        ok = findNext();
    }
    return any;
}

xb::Value TExcelScript::evalLine(xb::Args& a) {
    if (!a[0].isString()) return xb::Value();
    std::string line = a[0].asString();
    if (a[1].isLogical() && a[1].asLogical()) line = xb::oemToAnsi(line);
    line = trimmed(line);
    if (line.empty() || line[0] == '*' || line[0] == '/' || line[0] == '#') return xb::Value();
    xb::Procedure frame("TEXCELSCRIPT:EVAL");
    xb::createPrivate("OTHIS", xb::Value::object(shared_from_this()));
    xb::createPrivate("UPARAM", a[2]);
    if (line[0] == '!') return xb::evalText(line.substr(1));
    return xb::evalText("oThis:" + line);
}

xb::Value TExcelScript::member(const std::string& m, bool& known) {
    known = true;
    auto cellAddr = [](int r, int c) { return xb::Value::str(cMakeRange(r, c)); };
    if (m == "OEXCEL") return lExcel ? xb::Value::object(shared_from_this()) : xb::Value();
    if (m == "OBOOK" || m == "OSHEET" || m == "OSHAPE" || m == "OWORKBOOKS" || m == "OCLIP")
        return xb::Value();
    if (m == "OCELL") return cellAddr(curRow_, curCol_);
    if (m == "OFIND") return findRow_ > 0 ? cellAddr(findRow_, findCol_) : xb::Value();
    if (m == "CFILE") return xb::Value::str(cFile);
    if (m == "CFONT") return xb::Value::str(cFont);
    if (m == "NSIZE") return xb::Value::num(nSize);
    if (m == "LBOLD") return xb::Value::logical(lBold);
    if (m == "LITALIC") return xb::Value::logical(lItalic);
    if (m == "LUNDERLINE") return xb::Value::logical(lUnderLine);
    if (m == "NALIGN") return xb::Value::integer(nAlign);
    if (m == "LOPEN") return xb::Value::logical(lOpen);
    if (m == "LDEFAULT") return xb::Value::logical(lDefault);
    if (m == "AEXCELCOLS") {
        xb::Value a = xb::Value::newArray();
        for (const auto& c : aExcelCols) {
            xb::Value e = xb::Value::newArray();
            e.asArray()->items = c;
            a.asArray()->items.push_back(e);
        }
        return a;
    }
    if (m == "ADATA") return aData;
    if (m == "CALIAS") return xb::Value::str(cAlias);
    if (m == "NAT") return xb::Value::integer(nAt);
    if (m == "NFORMAT") return xb::Value::integer(nFormat);
    if (m == "LEXCEL") return xb::Value::logical(lExcel);
    if (m == "ASHEETS") return strList(aSheets);
    if (m == "NSHEETS") return xb::Value::integer(nSheets);
    if (m == "ABOOKS") return strList(aBooks);
    known = false;
    return xb::Value();
}

bool TExcelScript::assign(std::string_view message, const xb::Value& v) {
    std::string m = upperAscii(trimmed(std::string(message)));
    if (m == "CFILE")
        cFile = v.asString();
    else if (m == "CFONT")
        cFont = v.asString();
    else if (m == "NSIZE")
        nSize = v.asNumber();
    else if (m == "LBOLD")
        lBold = v.asLogical();
    else if (m == "LITALIC")
        lItalic = v.asLogical();
    else if (m == "LUNDERLINE")
        lUnderLine = v.asLogical();
    else if (m == "NALIGN")
        nAlign = inum(v, 1);
    else if (m == "LDEFAULT")
        lDefault = v.asLogical();
    else if (m == "ADATA")
        aData = v;
    else if (m == "CALIAS")
        cAlias = v.asString();
    else if (m == "NFORMAT")
        nFormat = inum(v, 0);
    else
        return false;
    return true;
}

bool TExcelScript::send(std::string_view message, xb::Args& args, xb::Value& result) {
    std::string m = upperAscii(trimmed(std::string(message)));
    bool known = false;
    result = member(m, known);
    if (known) return true;
    try {
        result = dispatch(m, args, known);
    } catch (const xb::Break&) {
        throw;
    } catch (...) {
        // The office refused: tell the user in its words and go on, as the
        // script would with a spreadsheet application that raised an error.
        std::string why = officeErrorText();
        notice("La hoja de c\xe1lculo no pudo hacer " + std::string(message) +
               (why.empty() ? std::string() : ": " + xb::utf8ToCp1252(why)));
        result = xb::Value();
        return true;
    }
    if (!known) {
        // Any other message: the program's notice, and nothing happens.
        notice("La propiedad " + std::string(message) + " no existe ");
        result = xb::Value();
    }
    return true;
}

xb::Value TExcelScript::dispatch(const std::string& m, xb::Args& a, bool& known) {
    known = true;
    auto self = [this] { return xb::Value::object(shared_from_this()); };
    if (m == "NEW") {
        newApp();
        return self();
    }
    // The defaults and column descriptions need no application.
    if (m == "FONT") {
        if (a[0].isString()) cFont = a[0].asString();
        return self();
    }
    if (m == "SIZE") {
        if (a[0].isNum()) nSize = a[0].asNumber();
        return self();
    }
    if (m == "ALIGN") {
        if (a[0].isNum()) nAlign = inum(a[0], 1);
        return self();
    }
    if (m == "ADDCOL") {
        std::vector<xb::Value> c{
            a[0], a[1].isNum() ? a[1] : xb::Value::integer(1), a[2], a[3], a[4], a[5]};
        aExcelCols.push_back(std::move(c));
        return self();
    }
    if (m == "SETARRAY") {
        aData = a[0];
        return self();
    }
    static const char* const kNames[] = {
        "OPEN",         "CREATE",         "GET",          "SAY",           "CELLFORMAT",
        "BORDERS",      "GETCELL",        "VISUALIZAR",   "NROWS",         "NCOLS",
        "AUTOFIT",      "SAVE",           "SAVEAS",       "PRINT",         "SETFONT",
        "SIZEFONT",     "WBROWSE",        "HEADERS",      "FOOTERS",       "MARGINS",
        "SETPRINTAREA", "LCENTERH",       "LCENTERV",     "ZOOM",          "SETPAGE",
        "ADDSHEET",     "COPYSHEET",      "DELSHEET",     "MOVESHEET",     "SETSHEET",
        "NAMESHEET",    "MULTILINE",      "RANMULTILINE", "ADDCOMENT",     "COMBINAR",
        "RANGEFONDO",   "COLUMNWIDTH",    "SUBTOTAL",     "AUTOFILTER",    "END",
        "READONLY",     "EVAL",           "SETPOS",       "INSERTROW",     "INSERTCOL",
        "FIND",         "FINDNEXT",       "REPLACE",      "DUPLICATE",     "CLEAR",
        "CHART",        "PICTURE",        "SETLANDSCAPE", "SETPORTRAIT",   "COPY",
        "PASTE",        "NROWSCOUNT",     "NCOLSCOUNT",   "TITLEROWS",     "SENDMAIL",
        "MAILSYSTEM",   "WEBPAGEPREVIEW", "ADDPICTURE",   "ADDSHAPE",      "DIALOGS",
        "SENDEMAIL",    "PROTECTBOOK",    "PROTECTSHEET", "UNPROTECTBOOK", "UNPROTECTSHEET",
        "PROTECT",      "UNPROTECT",      "FORMATRANGE",  "COUNTSHEETS",   "SEEKSHEET",
        "HOWSHEET",     "HPAGEBREAKS",    "FORMULA",      "NBOOKS",        "SEEKBOOK",
        "HOWBOOK"};
    if (std::find_if(std::begin(kNames), std::end(kNames), [&](const char* n) { return m == n; }) ==
        std::end(kNames)) {
        known = false;
        return xb::Value();
    }
    // Without an application every method is a harmless no-op.
    if (!office_) return xb::Value();
    bool ok = false;
    auto range = [&](const xb::Value& v) { return areaOf(v, ok); };
    auto s8 = [](const xb::Value& v) { return xb::cp1252ToUtf8(v.asString()); };

    if (m == "OPEN" || m == "CREATE") {
        if (a[0].isString()) cFile = a[0].asString();
        if (m == "OPEN") {
            office_->openBook(hostFile(cFile));
        } else {
            office_->createBook();
        }
        cFont = "Arial";
        nSize = 10;
        lBold = lItalic = lUnderLine = false;
        nAlign = 1;
        lOpen = m == "OPEN";
        lDefault = !lOpen;
        nFormat = office_->bookFormat();
        curRow_ = curCol_ = 1;
        return self();
    }
    if (m == "GET") return get(a);
    if (m == "SAY") {
        say(a);
        return self();
    }
    if (m == "CELLFORMAT") {
        Area at = cellArea(a[0], a[1]);
        if (a[2].isNum())
            office_->setBackground(at, officeColour(a[2].asNumber()));
        else if (lDefault)
            office_->setBackground(at, 0xFFFFFF);
        if (a[4].isString()) office_->setNumberFormat(at, a[4].asString());
        return self();
    }
    if (m == "BORDERS") {
        Area at = a[0].isString() ? range(a[0]) : cellArea(a[1], a[2]);
        if (a[0].isString() && !ok) return xb::Value();
        office_->setBorder(at, inum(a[3], 1));
        return self();
    }
    if (m == "GETCELL") return member("OCELL", known);
    if (m == "VISUALIZAR") {
        office_->show(!a[0].isLogical() || a[0].asLogical());
        return self();
    }
    if (m == "NROWS" || m == "NROWSCOUNT") return xb::Value::integer(office_->usedArea().row2);
    if (m == "NCOLS" || m == "NCOLSCOUNT") return xb::Value::integer(office_->usedArea().col2);
    if (m == "AUTOFIT") {
        office_->autoFit(inum(a[0], curCol_));
        return self();
    }
    if (m == "SAVE") {
        if (lOpen) {
            if (writable(cFile)) office_->saveBook();
        } else if (writable(cFile)) {
            office_->saveBookAs(hostFile(cFile), nFormat);
        }
        return self();
    }
    if (m == "SAVEAS") {
        if (!a[0].isString()) return xb::Value();
        if (!writable(a[0].asString())) return self();
        cFile = a[0].asString();
        office_->saveBookAs(hostFile(cFile), inum(a[1], nFormat));
        nFormat = office_->bookFormat();
        lOpen = true;  // from now on the workbook has its file
        return self();
    }
    if (m == "PRINT") {
        office_->printSheet();
        return self();
    }
    if (m == "SETFONT") {
        office_->sheetFont(s8(a[0]), 0);
        return self();
    }
    if (m == "SIZEFONT") {
        office_->sheetFont("", num(a[0], 0));
        return self();
    }
    if (m == "WBROWSE") {
        wbrowse(a);
        return self();
    }
    if (m == "HEADERS" || m == "FOOTERS") {
        int which = inum(a[0], 0);
        if (which >= 1 && which <= 3) office_->pageText(m == "HEADERS", which, s8(a[1]));
        return self();
    }
    if (m == "MARGINS") {
        office_->margin(inum(a[0], 0), num(a[1], 0));
        return self();
    }
    if (m == "SETPRINTAREA") {
        Area r = range(a[0]);
        if (ok) office_->printArea(r);
        return self();
    }
    if (m == "LCENTERH" || m == "LCENTERV") {
        office_->centre(m == "LCENTERH", !a[0].isLogical() || a[0].asLogical());
        return self();
    }
    if (m == "ZOOM") {
        office_->zoom(inum(a[0], 100));
        return self();
    }
    if (m == "SETLANDSCAPE" || m == "SETPORTRAIT") {
        office_->landscape(m == "SETLANDSCAPE");
        return self();
    }
    if (m == "ADDSHEET") {
        office_->addSheet();
        return self();
    }
    if (m == "COPYSHEET") {
        office_->copySheet();
        return self();
    }
    if (m == "DELSHEET") {
        office_->deleteSheet(inum(a[0], office_->activeSheet()));
        return self();
    }
    if (m == "MOVESHEET") {
        int n = inum(a[0], office_->activeSheet());
        int to = a[1].isNum() ? inum(a[1], 1) : inum(a[2], n) + 1;
        office_->moveSheet(n, to);
        return self();
    }
    if (m == "SETSHEET") {
        office_->setActiveSheet(inum(a[0], 1));
        curRow_ = curCol_ = 1;
        return self();
    }
    if (m == "NAMESHEET") {
        office_->nameSheet(inum(a[0], office_->activeSheet()), s8(a[1]));
        return self();
    }
    if (m == "MULTILINE") {
        office_->setWrap(cellArea(a[0], a[1]));
        return self();
    }
    if (m == "RANMULTILINE") {
        Area r = range(a[0]);
        if (ok) office_->setWrap(r);
        return self();
    }
    if (m == "ADDCOMENT") {
        Area at = cellArea(a[0], a[1]);
        if (a[2].isString() && !trimmed(a[2].asString()).empty())
            office_->comment(at.row1, at.col1, s8(a[2]));
        return self();
    }
    if (m == "COMBINAR") {
        Area r = range(a[0]);
        if (ok) office_->merge(r);
        return self();
    }
    if (m == "RANGEFONDO") {
        Area r = range(a[0]);
        if (ok) office_->setBackground(r, a[1].isNum() ? officeColour(a[1].asNumber()) : 0xFFFFFF);
        return self();
    }
    if (m == "COLUMNWIDTH") {
        office_->columnWidth(inum(a[0], curCol_), num(a[1], 10));
        return self();
    }
    if (m == "END") {
        bool quit = !a[0].isLogical() || a[0].asLogical();
        if (quit)
            office_->quit();
        else
            office_->closeBooks();
        clipSet_ = false;
        if (quit) {
            office_.reset();
            lExcel = false;
        }
        return xb::Value();
    }
    if (m == "READONLY") {
        bool ro = office_->bookReadOnly();
        if (ro && a[0].isLogical() && a[0].asLogical())
            notice(" El archivo " + cFile + " est\xe1 abierto en otra sesi\xf3n");
        return xb::Value::logical(ro);
    }
    if (m == "EVAL") return evalLine(a);
    if (m == "SETPOS") {
        Area r = range(a[0]);
        if (ok) curRow_ = r.row1, curCol_ = r.col1;
        return self();
    }
    if (m == "INSERTROW" || m == "INSERTCOL") {
        if (a[0].isString()) {
            Area r = range(a[0]);
            if (ok) curRow_ = r.row1, curCol_ = r.col1;
        }
        if (m == "INSERTROW")
            office_->insertRow(curRow_);
        else
            office_->insertCol(curCol_);
        return self();
    }
    if (m == "FIND") {
        if (!a[0].isString() || a[0].asString().empty()) return xb::Value::logical(false);
        return xb::Value::logical(find(a[0].asString(), a[1].asLogical(), a[2].asLogical()));
    }
    if (m == "FINDNEXT") return xb::Value::logical(findNext());
    if (m == "REPLACE") return xb::Value::logical(replace(a));
    if (m == "DUPLICATE") {
        office_->duplicateRow(inum(a[0], curRow_));
        return self();
    }
    if (m == "CLEAR") {
        Area r = range(a[0]);
        if (ok) office_->clear(r);
        return self();
    }
    if (m == "COPY") {
        if (a[0].isString()) {
            Area r = range(a[0]);
            if (ok) clip_ = r, clipSet_ = true;
        }
        return self();
    }
    if (m == "PASTE") {
        if (clipSet_) office_->copyRange(clip_, curRow_, curCol_);
        return self();
    }
    if (m == "TITLEROWS") {
        if (a[0].isString()) {
            Area r = range(a[0]);
            if (ok) office_->titleRows(r.row1, r.row2);
        }
        return self();
    }
    if (m == "HPAGEBREAKS") {
        Area r = range(a[0]);
        if (ok) office_->rowBreak(r.row1);
        return self();
    }
    if (m == "PROTECTBOOK" || m == "UNPROTECTBOOK") {
        office_->protectBook(s8(a[0]), m == "PROTECTBOOK");
        return self();
    }
    if (m == "PROTECTSHEET" || m == "UNPROTECTSHEET") {
        office_->protectSheet(s8(a[0]), m == "PROTECTSHEET");
        return self();
    }
    if (m == "PROTECT" || m == "UNPROTECT") {
        office_->protectBook(s8(a[0]), m == "PROTECT");
        office_->protectSheet(s8(a[0]), m == "PROTECT");
        return self();
    }
    if (m == "FORMATRANGE") {
        Area r = range(a[0]);
        if (!ok) return xb::Value();
        FontSpec f;
        if (a[1].isString()) f.name = s8(a[1]);
        f.size = num(a[2], 0);
        if (a[3].isLogical()) f.bold = a[3].asLogical();
        if (a[4].isLogical()) f.italic = a[4].asLogical();
        if (a[6].isNum()) f.colour = officeColour(a[6].asNumber());
        office_->setFont(r, f);
        if (a[5].isNum()) office_->setAlign(r, inum(a[5], 1));
        if (a[7].isNum()) office_->setBackground(r, officeColour(a[7].asNumber()));
        if (a[8].isNum()) office_->setBorder(r, inum(a[8], 1));
        if (a[9].isString()) office_->setNumberFormat(r, a[9].asString());
        if (!a[10].isNil())
            for (int c = r.col1; c <= std::min(r.col2, r.col1 + 1023); ++c) office_->autoFit(c);
        return self();
    }
    if (m == "COUNTSHEETS") {
        nSheets = static_cast<int>(office_->sheetNames().size());
        return xb::Value::integer(nSheets);
    }
    if (m == "SEEKSHEET") {
        std::string want = xb::upper1252(a[0].asString());
        for (const auto& n : office_->sheetNames())
            if (xb::upper1252(xb::utf8ToCp1252(n)) == want) return xb::Value::logical(true);
        return xb::Value::logical(false);
    }
    if (m == "HOWSHEET") {
        aSheets = office_->sheetNames();
        nSheets = static_cast<int>(aSheets.size());
        return strList(aSheets);
    }
    if (m == "FORMULA") {
        Area at = cellArea(a[0], a[1]);
        if (!office_->setFormula(at.row1, at.col1, s8(a[2]), true))
            notice("La formula no es correcta " + a[2].asString());
        return self();
    }
    if (m == "NBOOKS") {
        aBooks = office_->bookTitles();
        nBooksCount = static_cast<int>(aBooks.size());
        return xb::Value::integer(nBooksCount);
    }
    if (m == "SEEKBOOK") {
        std::string want = xb::upper1252(a[0].asString());
        for (const auto& n : office_->bookTitles())
            if (xb::upper1252(xb::utf8ToCp1252(n)) == want) return xb::Value::logical(true);
        return xb::Value::logical(false);
    }
    if (m == "HOWBOOK") {
        aBooks = office_->bookTitles();
        nBooksCount = static_cast<int>(aBooks.size());
        return strList(aBooks);
    }
    if (m == "SETPAGE") {
        long w = 0, h = 0;
        if (!paperOf(inum(a[0], 0), w, h)) {
            std::string n = a[0].isNum() ? std::to_string(inum(a[0], 0)) : std::string("indicado");
            notice("El tama\xf1o de papel " + n + " no se conoce; no se ha hecho nada.");
            return self();
        }
        office_->paperSize(w, h);
        return self();
    }
    if (m == "SUBTOTAL") {
        Area r = range(a[0]);
        if (!ok) return self();
        std::vector<int> cols;
        if (a[3].isArray())
            for (const auto& v : a[3].asArray()->items)
                if (v.isNum()) cols.push_back(inum(v, 0));
        if (a[3].isNum()) cols.push_back(inum(a[3], 0));
        office_->subtotals(r, inum(a[1], 1), totalOf(inum(a[2], 1)), cols);
        return self();
    }
    if (m == "AUTOFILTER") {
        Area r = range(a[0]);
        if (!ok) return self();
        if (!a[2].isString() && !a[2].isNum()) {
            office_->autoFilter(r, nullptr);
            return self();
        }
        FilterRule rule = criteriaOf(a[2]);
        rule.field = inum(a[1], 1);
        office_->autoFilter(r, &rule);
        return self();
    }
    if (m == "CHART") {
        Area r = range(a[0]);
        if (!ok) return self();
        ChartSpec want = chartOf(inum(a[2], 51));
        want.title = a[1].isString() ? s8(a[1]) : "Grafica";
        // Excel's depth and gap depth (a[3], a[4]) shape the third dimension
        // of its 3-D charts; Calc's 3-D charts have no such settings, so they
        // are taken and have no effect.
        Rect place = office_->cellRect(r.row1, r.col2 + 2);
        place.width = 16000;
        place.height = 9000;
        office_->chart(r, want, place);
        return self();
    }
    if (m == "PICTURE" || m == "ADDPICTURE") {
        if (!a[0].isString() || trimmed(a[0].asString()).empty()) return self();
        std::string file = trimmed(a[0].asString());
        if (!QFile::exists(QString::fromStdString(hostFile(file)))) {
            notice("No existe el archivo " + file + "; no se ha insertado la imagen.");
            return self();
        }
        Rect place;
        if (m == "PICTURE") {
            if (a[1].isString()) {
                Area r = range(a[1]);
                if (!ok) return self();
                curRow_ = r.row1, curCol_ = r.col1;
            }
            Rect cell = office_->cellRect(curRow_, curCol_);
            place.x = cell.x, place.y = cell.y;
        } else {
            place = pointsRect(a[1], a[2], a[3], a[4]);
        }
        office_->picture(hostFile(file), place);
        return self();
    }
    if (m == "ADDSHAPE") {
        office_->shape(shapeOf(inum(a[0], 1)), pointsRect(a[1], a[2], a[3], a[4]));
        return self();
    }
    if (m == "MAILSYSTEM")
        // Excel's answers: 1 a mail program (xlMAPI), 0 none (xlNoMailSystem).
        return xb::Value::integer(desktopTool("xdg-email").empty() ? 0 : 1);
    if (m == "SENDMAIL" || m == "SENDEMAIL") {
        std::string to = a[0].isString() ? trimmed(a[0].asString()) : std::string();
        // The review request goes to someone or nowhere.
        if (m == "SENDEMAIL" && to.empty()) return self();
        std::string subject = a[1].isString() ? a[1].asString() : "TExcel Mailer Class";
        bool attach = m == "SENDMAIL" || !a[3].isLogical() || a[3].asLogical();
        std::string tool = desktopTool("xdg-email");
        if (tool.empty()) {
            notice(
                "No se puede enviar el libro por correo: falta el programa xdg-email "
                "(paquete xdg-utils)");
            return self();
        }
        QStringList args{QStringLiteral("--subject"),
                         QString::fromStdString(xb::cp1252ToUtf8(subject))};
        if (attach) {
            // The mail carries the workbook as it is now: saved first.
            if (trimmed(cFile).empty() || !writable(cFile)) return self();
            if (lOpen)
                office_->saveBook();
            else
                office_->saveBookAs(hostFile(cFile), nFormat);
            args << QStringLiteral("--attach")
                 << QFileInfo(QString::fromStdString(hostFile(cFile))).absoluteFilePath();
        }
        if (!to.empty()) args << QString::fromStdString(xb::cp1252ToUtf8(to));
        if (!QProcess::startDetached(QString::fromStdString(tool), args))
            notice("No se pudo abrir el programa de correo");
        return self();
    }
    if (m == "WEBPAGEPREVIEW") {
        std::string tool = desktopTool("xdg-open");
        if (tool.empty()) {
            notice(
                "No se puede ver el libro como p\xe1gina web: falta el programa xdg-open "
                "(paquete xdg-utils)");
            return self();
        }
        std::string base =
            QFileInfo(QString::fromStdString(hostFile(cFile))).completeBaseName().toStdString();
        QString page = QDir::temp().filePath(QString::fromStdString(
            "vdr_" + std::to_string(::getpid()) + "_" + (base.empty() ? "libro" : base) + ".html"));
        office_->exportHtml(page.toStdString());
        if (!QProcess::startDetached(QString::fromStdString(tool), {page}))
            notice("No se pudo abrir el navegador");
        return self();
    }
    if (m == "DIALOGS") {
        // Excel's dialog numbers (xlDialog...) that have an office dialog.
        static const std::pair<int, const char*> dialogs[] = {
            {1, ".uno:Open"}, {5, ".uno:SaveAs"}, {7, ".uno:PageFormatDialog"}, {8, ".uno:Print"}};
        int n = inum(a[0], 0);
        const char* command = nullptr;
        for (const auto& [k, c] : dialogs)
            if (k == n) command = c;
        if (!command) {
            notice("La hoja de c\xe1lculo no tiene el di\xe1logo " + std::to_string(n) +
                   "; no se ha hecho nada.");
            return self();
        }
        if (!office_->dialog(command))
            notice(
                "La hoja de c\xe1lculo no muestra di\xe1logos sin pantalla; no se ha hecho "
                "nada.");
        return self();
    }
    known = false;
    return xb::Value();
}

void registerExcelFunctions() {
    xb::registerClass("TEXCELSCRIPT");
    xb::registerFunction("TEXCELSCRIPT", [](xb::Args&) {
        return xb::Value::object(std::make_shared<TExcelScript>());
    });
    xb::registerFunction(
        "CMAKERANGE",
        [](xb::Args& a) {
            return xb::Value::str(
                cMakeRange(num(a[0], 1), num(a[1], 1), num(a[2], 0), num(a[3], 0)));
        },
        true);
    xb::registerFunction(
        "CCOLUMN2LETTER", [](xb::Args& a) { return xb::Value::str(cColumn2Letter(inum(a[0], 0))); },
        true);
    xb::registerFunction(
        "CLETTER2COLUMN",
        [](xb::Args& a) { return xb::Value::integer(cLetter2Column(a[0].asString())); }, true);
    xb::registerFunction(
        "NUMGETDECIMALS",
        [](xb::Args& a) { return xb::Value::integer(numGetDecimals(a[0].asNumber())); }, true);
}

}  // namespace sheet
