#include "transfer/workbook.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <stdexcept>

#include "transfer/zip.h"
#include "xbase/date.h"
#include "xbase/utf8.h"

namespace transfer {

namespace {

// A forward-only reader of the XML a workbook is made of: elements by their
// local name (prefixes dropped), attributes likewise, text with its
// entities resolved. Enough for the parts office suites write; a part that
// is not well formed ends in an exception.
class XmlReader {
  public:
    enum Kind { Start, End, Text, Eof };

    explicit XmlReader(const std::string& s) : s_(s) {}

    Kind next() {
        if (pendingEnd_) {
            pendingEnd_ = false;
            return End;
        }
        attrs.clear();
        text.clear();
        while (at_ < s_.size()) {
            if (s_[at_] != '<') {
                const size_t lt = s_.find('<', at_);
                text =
                    decode(s_.substr(at_, lt == std::string::npos ? std::string::npos : lt - at_));
                at_ = lt == std::string::npos ? s_.size() : lt;
                return Text;
            }
            if (s_.compare(at_, 9, "<![CDATA[") == 0) {
                const size_t e = find("]]>", at_ + 9);
                text = s_.substr(at_ + 9, e - at_ - 9);
                at_ = e + 3;
                return Text;
            }
            if (s_.compare(at_, 4, "<!--") == 0) {
                at_ = find("-->", at_ + 4) + 3;
                continue;
            }
            if (s_.compare(at_, 2, "<?") == 0 || s_.compare(at_, 2, "<!") == 0) {
                at_ = find(">", at_) + 1;
                continue;
            }
            const size_t gt = tagEnd(at_);
            std::string tag = s_.substr(at_ + 1, gt - at_ - 1);
            at_ = gt + 1;
            if (!tag.empty() && tag[0] == '/') {
                name = local(trim(tag.substr(1)));
                return End;
            }
            if (!tag.empty() && tag.back() == '/') {
                tag.pop_back();
                pendingEnd_ = true;
            }
            parseTag(tag);
            return Start;
        }
        return Eof;
    }

    // The text inside the element just started, its children's included,
    // leaving the reader after its end.
    std::string innerText() {
        std::string out;
        for (int depth = 1; depth > 0;) {
            switch (next()) {
                case Start:
                    ++depth;
                    break;
                case End:
                    --depth;
                    break;
                case Text:
                    out += text;
                    break;
                case Eof:
                    throw std::runtime_error("el libro termina antes de tiempo");
            }
        }
        return out;
    }

    std::string attr(const char* n) const {
        const auto it = attrs.find(n);
        return it == attrs.end() ? std::string() : it->second;
    }

    std::string name;
    std::map<std::string, std::string> attrs;
    std::string text;

  private:
    size_t find(const char* what, size_t from) const {
        const size_t p = s_.find(what, from);
        if (p == std::string::npos) throw std::runtime_error("el libro no es XML válido");
        return p;
    }
    // The '>' closing the tag at `from`, outside quoted attribute values.
    size_t tagEnd(size_t from) const {
        char quote = 0;
        for (size_t i = from + 1; i < s_.size(); ++i) {
            const char c = s_[i];
            if (quote) {
                if (c == quote) quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '>') {
                return i;
            }
        }
        throw std::runtime_error("el libro no es XML válido");
    }
    static std::string trim(const std::string& s) {
        const size_t b = s.find_first_not_of(" \t\r\n"), e = s.find_last_not_of(" \t\r\n");
        return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
    }
    static std::string local(const std::string& n) {
        const size_t colon = n.find(':');
        return colon == std::string::npos ? n : n.substr(colon + 1);
    }
    void parseTag(const std::string& tag) {
        size_t i = tag.find_first_of(" \t\r\n");
        name = local(tag.substr(0, i));
        while (i != std::string::npos && i < tag.size()) {
            i = tag.find_first_not_of(" \t\r\n", i);
            if (i == std::string::npos) break;
            const size_t eq = tag.find('=', i);
            if (eq == std::string::npos) break;
            const std::string key = local(trim(tag.substr(i, eq - i)));
            const size_t q = tag.find_first_of("\"'", eq);
            if (q == std::string::npos) break;
            const size_t qe = tag.find(tag[q], q + 1);
            if (qe == std::string::npos) throw std::runtime_error("el libro no es XML válido");
            attrs[key] = decode(tag.substr(q + 1, qe - q - 1));
            i = qe + 1;
        }
    }
    static std::string decode(const std::string& s) {
        if (s.find('&') == std::string::npos) return s;
        std::string out;
        for (size_t i = 0; i < s.size(); ++i) {
            const size_t semi = s[i] == '&' ? s.find(';', i) : std::string::npos;
            if (semi == std::string::npos || semi - i > 10) {
                out += s[i];
                continue;
            }
            const std::string e = s.substr(i + 1, semi - i - 1);
            if (e == "amp")
                out += '&';
            else if (e == "lt")
                out += '<';
            else if (e == "gt")
                out += '>';
            else if (e == "quot")
                out += '"';
            else if (e == "apos")
                out += '\'';
            else if (e.size() > 1 && e[0] == '#') {
                const unsigned long cp = e[1] == 'x' ? std::strtoul(e.c_str() + 2, nullptr, 16)
                                                     : std::strtoul(e.c_str() + 1, nullptr, 10);
                xb::appendUtf8(out, cp > 0x10FFFF ? 0x110000u : static_cast<uint32_t>(cp));
            } else
                out += "&" + e + ";";
            i = semi;
        }
        return out;
    }

    const std::string& s_;
    size_t at_ = 0;
    bool pendingEnd_ = false;
};

// A number as a plain decimal, without an exponent or trailing zeros.
std::string plainNumber(const std::string& given) {
    char* end = nullptr;
    const double d = std::strtod(given.c_str(), &end);
    if (given.empty() || *end != '\0' || !std::isfinite(d)) return given;
    char buf[64];
    if (d == std::floor(d) && std::fabs(d) < 1e15) {
        std::snprintf(buf, sizeof buf, "%.0f", d);
        return buf;
    }
    std::snprintf(buf, sizeof buf, "%.10f", d);
    std::string s = buf;
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s;
}

std::string isoDate(int32_t jdn) {
    const std::string d = xb::dtos(jdn);
    return d.substr(0, 4) + "-" + d.substr(4, 2) + "-" + d.substr(6, 2);
}

// Cells placed by column, rows kept when they hold anything.
class Rows {
  public:
    void put(int row, int column, std::string text) {
        if (text.empty()) return;
        if (rows_.empty() || rows_.back().row != row) rows_.push_back({row, {}});
        std::vector<std::string>& cells = rows_.back().cells;
        if (static_cast<int>(cells.size()) <= column) cells.resize(static_cast<size_t>(column) + 1);
        cells[static_cast<size_t>(column)] = std::move(text);
    }
    std::vector<SheetRow> take() { return std::move(rows_); }

  private:
    std::vector<SheetRow> rows_;
};

// Sheets beyond any office's limits are damaged, not large.
constexpr int kMaxColumns = 16384;
constexpr int kMaxRows = 1048576;

// ------------------------------------------------------------------- xlsx

const std::string* part(const std::vector<ZipEntry>& parts, const std::string& name) {
    for (const ZipEntry& e : parts)
        if (e.name == name) return &e.data;
    return nullptr;
}

// Whether a number format shows a date: the built-in ones, or a code with
// days or years outside its quoted texts and [colour] blocks.
bool dateFormat(int id, const std::string& code) {
    if ((id >= 14 && id <= 17) || id == 22) return true;
    bool quoted = false;
    int bracket = 0;
    for (char c : code) {
        if (c == '"') quoted = !quoted;
        if (quoted) continue;
        if (c == '[') ++bracket;
        if (c == ']' && bracket > 0) --bracket;
        if (bracket == 0 && (c == 'd' || c == 'D' || c == 'y' || c == 'Y')) return true;
    }
    return false;
}

// For each cell style, whether it shows a date.
std::vector<bool> dateStyles(const std::string* styles) {
    std::vector<bool> out;
    if (!styles) return out;
    std::map<int, std::string> codes;
    XmlReader x(*styles);
    bool inCellXfs = false;
    for (XmlReader::Kind k; (k = x.next()) != XmlReader::Eof;) {
        if (k == XmlReader::Start && x.name == "numFmt")
            codes[std::atoi(x.attr("numFmtId").c_str())] = x.attr("formatCode");
        else if (k == XmlReader::Start && x.name == "cellXfs")
            inCellXfs = true;
        else if (k == XmlReader::End && x.name == "cellXfs")
            inCellXfs = false;
        else if (k == XmlReader::Start && inCellXfs && x.name == "xf") {
            const int id = std::atoi(x.attr("numFmtId").c_str());
            out.push_back(dateFormat(id, codes.count(id) ? codes[id] : std::string()));
        }
    }
    return out;
}

// The text of a string item (<si>, <is>) just started: its runs, leaving
// out phonetic guides.
std::string runsText(XmlReader& x) {
    std::string s;
    for (int depth = 1; depth > 0;) {
        const XmlReader::Kind k = x.next();
        if (k == XmlReader::Eof) throw std::runtime_error("el libro termina antes de tiempo");
        if (k == XmlReader::Start && x.name == "rPh")
            x.innerText();
        else if (k == XmlReader::Start && x.name == "t")
            s += x.innerText();
        else if (k == XmlReader::Start)
            ++depth;
        else if (k == XmlReader::End)
            --depth;
    }
    return s;
}

std::vector<std::string> sharedStrings(const std::string* part) {
    std::vector<std::string> out;
    if (!part) return out;
    XmlReader x(*part);
    for (XmlReader::Kind k; (k = x.next()) != XmlReader::Eof;)
        if (k == XmlReader::Start && x.name == "si") out.push_back(runsText(x));
    return out;
}

// "BC12" -> column 54 (0-based) and row 12; false when it is not a reference.
bool cellReference(const std::string& ref, int& column, int& row) {
    size_t i = 0;
    int c = 0;
    for (; i < ref.size() && std::isalpha(static_cast<unsigned char>(ref[i])); ++i) {
        c = c * 26 + (std::toupper(static_cast<unsigned char>(ref[i])) - 'A' + 1);
        if (c > kMaxColumns) return false;
    }
    if (i == 0 || i == ref.size()) return false;
    const int r = std::atoi(ref.c_str() + i);
    if (r < 1 || r > kMaxRows) return false;
    column = c - 1;
    row = r;
    return true;
}

// The part of the workbook's first sheet, through its relationships.
std::string firstSheetPath(const std::vector<ZipEntry>& parts) {
    const std::string* book = part(parts, "xl/workbook.xml");
    const std::string* rels = part(parts, "xl/_rels/workbook.xml.rels");
    std::string id;
    if (book) {
        XmlReader x(*book);
        for (XmlReader::Kind k; id.empty() && (k = x.next()) != XmlReader::Eof;)
            if (k == XmlReader::Start && x.name == "sheet") id = x.attr("id");
    }
    if (rels && !id.empty()) {
        XmlReader x(*rels);
        for (XmlReader::Kind k; (k = x.next()) != XmlReader::Eof;)
            if (k == XmlReader::Start && x.name == "Relationship" && x.attr("Id") == id) {
                std::string target = x.attr("Target");
                if (target.rfind("/", 0) == 0) return target.substr(1);
                return "xl/" + target;
            }
    }
    return "xl/worksheets/sheet1.xml";
}

std::vector<SheetRow> readXlsx(const std::vector<ZipEntry>& parts) {
    const std::string path = firstSheetPath(parts);
    const std::string* sheet = part(parts, path);
    if (!sheet) throw std::runtime_error("el libro no tiene la hoja " + path);
    const std::vector<std::string> strings = sharedStrings(part(parts, "xl/sharedStrings.xml"));
    const std::vector<bool> dates = dateStyles(part(parts, "xl/styles.xml"));
    const int32_t epoch = xb::julianFromYmd(1899, 12, 30);

    Rows rows;
    XmlReader x(*sheet);
    int row = 0, column = -1;
    for (XmlReader::Kind k; (k = x.next()) != XmlReader::Eof;) {
        if (k != XmlReader::Start) continue;
        if (x.name == "row") {
            const int r = std::atoi(x.attr("r").c_str());
            row = r > 0 ? r : row + 1;
            if (row > kMaxRows) throw std::runtime_error("la hoja tiene demasiadas filas");
            column = -1;
            continue;
        }
        if (x.name != "c") continue;
        int c = column + 1, r = row;
        const std::string ref = x.attr("r");
        if (!ref.empty() && !cellReference(ref, c, r))
            throw std::runtime_error("la celda «" + ref + "» del libro no es válida");
        if (c >= kMaxColumns) throw std::runtime_error("la hoja tiene demasiadas columnas");
        column = c;
        const std::string type = x.attr("t");
        const int style = x.attr("s").empty() ? -1 : std::atoi(x.attr("s").c_str());
        std::string v, is;
        for (int depth = 1; depth > 0;) {
            const XmlReader::Kind ck = x.next();
            if (ck == XmlReader::Eof) throw std::runtime_error("el libro termina antes de tiempo");
            if (ck == XmlReader::Start && depth == 1 && x.name == "v")
                v = x.innerText();
            else if (ck == XmlReader::Start && depth == 1 && x.name == "is")
                is = runsText(x);
            else if (ck == XmlReader::Start)
                ++depth;
            else if (ck == XmlReader::End)
                --depth;
        }
        std::string text;
        if (type == "s") {
            const size_t i = static_cast<size_t>(std::atol(v.c_str()));
            if (v.empty() || i >= strings.size())
                throw std::runtime_error("el libro está dañado: falta el texto de la celda " + ref);
            text = strings[i];
        } else if (type == "inlineStr") {
            text = is;
        } else if (type == "str" || type == "e") {
            text = v;
        } else if (type == "b") {
            text = v.empty() ? std::string() : v == "1" ? "1" : "0";
        } else if (type == "d") {
            text = v.substr(0, 10);
        } else if (!v.empty() && style >= 0 && static_cast<size_t>(style) < dates.size() &&
                   dates[static_cast<size_t>(style)]) {
            const double serial = std::strtod(v.c_str(), nullptr);
            text = serial >= 1 && serial < 2958466
                       ? isoDate(epoch + static_cast<int32_t>(std::floor(serial)))
                       : plainNumber(v);
        } else {
            text = plainNumber(v);
        }
        rows.put(r, c, std::move(text));
    }
    return rows.take();
}

// -------------------------------------------------------------------- ods

// The paragraphs of a cell just started, one line each, with the spaces,
// tabs and line breaks the format writes as elements.
std::string odsCellText(XmlReader& x) {
    std::string out;
    int paragraphs = 0;
    for (int depth = 1; depth > 0;) {
        const XmlReader::Kind k = x.next();
        if (k == XmlReader::Eof) throw std::runtime_error("el libro termina antes de tiempo");
        if (k == XmlReader::Text && depth >= 2) out += x.text;
        if (k == XmlReader::Start) {
            if (x.name == "p" && depth == 1 && paragraphs++ > 0) out += '\n';
            if (x.name == "s") {
                const int n = x.attr("c").empty() ? 1 : std::atoi(x.attr("c").c_str());
                out.append(static_cast<size_t>(std::clamp(n, 1, 1000)), ' ');
            } else if (x.name == "tab") {
                out += '\t';
            } else if (x.name == "line-break") {
                out += '\n';
            } else if (x.name == "annotation") {
                x.innerText();  // a comment on the cell, not its value
                continue;
            }
            ++depth;
        } else if (k == XmlReader::End) {
            --depth;
        }
    }
    return out;
}

int repeated(const XmlReader& x, const char* attribute) {
    const std::string n = x.attr(attribute);
    const long v = n.empty() ? 1 : std::atol(n.c_str());
    return v < 1 ? 1 : v > kMaxRows ? kMaxRows : static_cast<int>(v);
}

std::vector<SheetRow> readOds(const std::vector<ZipEntry>& parts) {
    const std::string* content = part(parts, "content.xml");
    if (!content) throw std::runtime_error("el libro no tiene contenido (content.xml)");
    Rows rows;
    XmlReader x(*content);
    int row = 0, column = 0, rowRepeat = 1;
    bool inTable = false;
    std::vector<std::pair<int, std::string>> cells;  // of the row being read
    for (XmlReader::Kind k; (k = x.next()) != XmlReader::Eof;) {
        if (k == XmlReader::Start && x.name == "table") {
            if (inTable) break;  // only the first sheet
            inTable = true;
        } else if (k == XmlReader::End && x.name == "table") {
            break;
        } else if (!inTable) {
            continue;
        } else if (k == XmlReader::Start && x.name == "table-row") {
            cells.clear();
            column = 0;
            rowRepeat = repeated(x, "number-rows-repeated");
        } else if (k == XmlReader::End && x.name == "table-row") {
            // A row repeated with contents is each of its copies; blank rows
            // repeated to the sheet's end only move the count on.
            const int copies = cells.empty() ? 1 : std::min(rowRepeat, 1000);
            for (int i = 0; i < copies; ++i) {
                ++row;
                for (const auto& [c, text] : cells) rows.put(row, c, text);
            }
            row += rowRepeat - copies;
            if (row > kMaxRows) throw std::runtime_error("la hoja tiene demasiadas filas");
        } else if (k == XmlReader::Start &&
                   (x.name == "table-cell" || x.name == "covered-table-cell")) {
            const int times = repeated(x, "number-columns-repeated");
            const std::string type = x.attr("value-type");
            std::string text;
            if (type == "float" || type == "percentage" || type == "currency")
                text = plainNumber(x.attr("value"));
            else if (type == "date")
                text = x.attr("date-value").substr(0, 10);
            else if (type == "boolean")
                text = x.attr("boolean-value") == "true" ? "1" : "0";
            const std::string shown = odsCellText(x);
            if (type.empty() || type == "string" || type == "time") text = shown;
            if (!text.empty()) {
                if (column + times > kMaxColumns && times > 1)
                    throw std::runtime_error("la hoja tiene demasiadas columnas");
                for (int i = 0; i < times; ++i) cells.emplace_back(column + i, text);
            }
            column += times;
            if (column > kMaxColumns && !text.empty())
                throw std::runtime_error("la hoja tiene demasiadas columnas");
        }
    }
    return rows.take();
}

}  // namespace

bool looksLikeWorkbook(const std::string& bytes) {
    return bytes.rfind("PK\x03\x04", 0) == 0;
}

std::vector<SheetRow> readWorkbook(const std::string& bytes, std::string& format) {
    std::vector<ZipEntry> parts;
    try {
        parts = readZip(bytes);
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(std::string("el libro está dañado: ") + e.what());
    }
    if (part(parts, "xl/workbook.xml")) {
        format = "xlsx";
        return readXlsx(parts);
    }
    const std::string* mime = part(parts, "mimetype");
    if (part(parts, "content.xml") &&
        (!mime || mime->find("opendocument.spreadsheet") != std::string::npos)) {
        format = "ods";
        return readOds(parts);
    }
    throw std::runtime_error("el archivo no es un libro xlsx ni ods");
}

}  // namespace transfer
