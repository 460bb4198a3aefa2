#include "transfer/export.h"

#include <fcntl.h>
#include <unistd.h>

#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>

#include "data/paths.h"
#include "dbf/error.h"
#include "dbf/table.h"
#include "transfer/agenda.h"
#include "transfer/sha256.h"
#include "transfer/zip.h"
#include "xbase/codepage.h"
#include "xbase/date.h"
#include "xbase/runtime.h"

namespace transfer {

namespace {

struct Named {
    const char* name;
    const char* alias;
};
constexpr Named kNames[] = {{"prospectos", "Prospecto"}, {"vendedores", "Vendedor"},
                            {"productos", "Producto"},   {"planes", "Plan"},
                            {"respuestas", "Respuesta"}, {"contactos", "Contacto"},
                            {"ofrecidos", "ProdOfer"},   {"vendidos", "ProdVta"}};

std::string rtrim(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
    return s;
}
std::string trim(std::string s) {
    s = rtrim(std::move(s));
    size_t b = s.find_first_not_of(' ');
    return b == std::string::npos ? std::string() : s.substr(b);
}

std::unique_ptr<dbf::Table> openForReading(const std::string& path) {
    try {
        return dbf::Table::open(path, {true, true});
    } catch (const dbf::DbfError& e) {
        throw std::runtime_error("no se puede abrir la tabla " + path + ": " +
                                 xb::cp1252ToUtf8(e.what()));
    }
}

// The field as a user reads it, in UTF-8.
std::string fieldText(const dbf::Table& t, int i) {
    const dbf::Field& f = t.fields()[static_cast<size_t>(i)];
    switch (f.type) {
        case 'C':
            return xb::cp1252ToUtf8(rtrim(t.getString(i)));
        case 'M':
            return xb::cp1252ToUtf8(t.getMemo(i));
        case 'D': {
            const int32_t d = t.getDate(i);
            return d ? xb::formatDate(d, xb::effectiveDateFormat()) : std::string();
        }
        case 'L': {
            const std::string raw(t.raw(i));
            return raw == " " || raw == "?" ? std::string() : t.getLogical(i) ? "S" : "N";
        }
        default:
            return trim(std::string(t.raw(i)));
    }
}

std::string csvField(const std::string& s, char sep) {
    if (s.find_first_of(std::string{sep, '"', '\n', '\r'}) == std::string::npos) return s;
    std::string out = "\"";
    for (char c : s) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

// Written beside the target and renamed over it: a reader never sees half a file.
void writeFile(const std::string& file, const std::string& bytes) {
    const std::string host = data::hostPath(file);
    const std::string tmp = host + ".tmp";
    const int fd = ::open(tmp.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) throw std::runtime_error("no se puede crear " + file);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    const bool ok = done == bytes.size() && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok || ::rename(tmp.c_str(), host.c_str()) != 0) {
        ::unlink(tmp.c_str());
        throw std::runtime_error("no se pudo escribir " + file + " (¿disco lleno?)");
    }
}

// ---------------------------------------------------------------- iCalendar

std::string icsText(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\\' || c == ';' || c == ',') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c != '\r') {
            out += c;
        }
    }
    return out;
}

// Lines longer than 75 octets folded, never inside a UTF-8 character.
std::string icsLine(const std::string& line) {
    std::string out;
    size_t used = 0;
    for (size_t i = 0; i < line.size();) {
        size_t len = 1;
        const unsigned char c = static_cast<unsigned char>(line[i]);
        if (c >= 0xf0)
            len = 4;
        else if (c >= 0xe0)
            len = 3;
        else if (c >= 0xc0)
            len = 2;
        if (used + len > 75) {
            out += "\r\n ";
            used = 1;
        }
        out.append(line, i, len);
        used += len;
        i += len;
    }
    return out + "\r\n";
}

std::string ymd(int32_t jdn) {
    return xb::dtos(jdn);
}

}  // namespace

const data::TableDef* tableByName(const std::string& name) {
    for (const Named& n : kNames)
        if (name == n.name) return data::findTable(n.alias);
    return nullptr;
}

std::string tableNames() {
    std::string s;
    for (const Named& n : kNames) s += (s.empty() ? "" : ", ") + std::string(n.name);
    return s;
}

namespace {

// Whether a record of the open table goes out.
using Keep = std::function<bool(const dbf::Table&)>;

size_t writeCsv(const std::unique_ptr<dbf::Table>& t, const std::string& file, char sep,
                const Keep& keep) {
    std::string out;
    for (int i = 0; i < t->fieldCount(); ++i)
        out += (i ? std::string(1, sep) : std::string()) +
               csvField(t->fields()[static_cast<size_t>(i)].name, sep);
    out += "\r\n";
    size_t rows = 0;
    const uint32_t n = t->recCount();
    for (uint32_t r = 1; r <= n; ++r) {
        if (!t->read(r) || t->deleted() || !keep(*t)) continue;
        for (int i = 0; i < t->fieldCount(); ++i)
            out += (i ? std::string(1, sep) : std::string()) + csvField(fieldText(*t, i), sep);
        out += "\r\n";
        ++rows;
    }
    writeFile(file, out);
    return rows;
}

std::string xmlText(const std::string& s) {
    std::string out;
    for (char c : s) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '"')
            out += "&quot;";
        else if (u < 0x20 && c != '\n' && c != '\t')
            continue;  // not allowed in XML 1.0
        else
            out += c;
    }
    return out;
}

// Column letters of a 0-based index: A..Z, AA...
std::string columnName(int i) {
    std::string s;
    for (++i; i > 0; i = (i - 1) / 26) s.insert(s.begin(), static_cast<char>('A' + (i - 1) % 26));
    return s;
}

// The user's date format as a spreadsheet number format ("dd-mm-yyyy" reads
// the same there).
std::string sheetDateFormat() {
    return xmlText(xb::effectiveDateFormat());
}

size_t writeXlsx(const std::unique_ptr<dbf::Table>& t, const std::string& file, const Keep& keep) {
    const int32_t epoch = xb::julianFromYmd(1899, 12, 30);
    std::string rows;
    auto cell = [](const std::string& ref, const std::string& text) {
        return "<c r=\"" + ref + "\" t=\"inlineStr\"><is><t xml:space=\"preserve\">" +
               xmlText(text) + "</t></is></c>";
    };
    rows += "<row r=\"1\">";
    for (int i = 0; i < t->fieldCount(); ++i)
        rows += cell(columnName(i) + "1", t->fields()[static_cast<size_t>(i)].name);
    rows += "</row>";
    size_t n = 0;
    const uint32_t count = t->recCount();
    for (uint32_t r = 1; r <= count; ++r) {
        if (!t->read(r) || t->deleted() || !keep(*t)) continue;
        const std::string row = std::to_string(n + 2);
        rows += "<row r=\"" + row + "\">";
        for (int i = 0; i < t->fieldCount(); ++i) {
            const dbf::Field& f = t->fields()[static_cast<size_t>(i)];
            const std::string ref = columnName(i) + row;
            const std::string shown = fieldText(*t, i);
            if (shown.empty()) continue;
            if (f.type == 'D')
                rows += "<c r=\"" + ref + "\" s=\"1\"><v>" + std::to_string(t->getDate(i) - epoch) +
                        "</v></c>";
            else if (f.type == 'N' || f.type == 'F')
                rows += "<c r=\"" + ref + "\"><v>" + xmlText(shown) + "</v></c>";
            else
                rows += cell(ref, shown);
        }
        rows += "</row>";
        ++n;
    }
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
    const std::string ns = "http://schemas.openxmlformats.org/";
    std::vector<ZipEntry> parts = {
        {"[Content_Types].xml",
         head + "<Types xmlns=\"" + ns +
             "package/2006/content-types\">"
             "<Default Extension=\"rels\" ContentType=\"application/"
             "vnd.openxmlformats-package.relationships+xml\"/>"
             "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
             "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/"
             "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
             "<Override PartName=\"/xl/worksheets/sheet1.xml\" ContentType=\"application/"
             "vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
             "<Override PartName=\"/xl/styles.xml\" ContentType=\"application/"
             "vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/></Types>"},
        {"_rels/.rels",
         head + "<Relationships xmlns=\"" + ns +
             "package/2006/relationships\">"
             "<Relationship Id=\"rId1\" Type=\"" +
             ns +
             "officeDocument/2006/relationships/officeDocument\" Target=\"xl/workbook.xml\"/>"
             "</Relationships>"},
        {"xl/workbook.xml", head + "<workbook xmlns=\"" + ns +
                                "spreadsheetml/2006/main\" xmlns:r=\"" + ns +
                                "officeDocument/2006/relationships\"><sheets><sheet name=\"Hoja1\" "
                                "sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"},
        {"xl/_rels/workbook.xml.rels",
         head + "<Relationships xmlns=\"" + ns +
             "package/2006/relationships\">"
             "<Relationship Id=\"rId1\" Type=\"" +
             ns +
             "officeDocument/2006/relationships/worksheet\" Target=\"worksheets/sheet1.xml\"/>"
             "<Relationship Id=\"rId2\" Type=\"" +
             ns +
             "officeDocument/2006/relationships/styles\" Target=\"styles.xml\"/>"
             "</Relationships>"},
        {"xl/styles.xml",
         head + "<styleSheet xmlns=\"" + ns +
             "spreadsheetml/2006/main\">"
             "<numFmts count=\"1\"><numFmt numFmtId=\"164\" formatCode=\"" +
             sheetDateFormat() +
             "\"/></numFmts>"
             "<fonts count=\"1\"><font><sz val=\"10\"/><name val=\"Arial\"/></font></fonts>"
             "<fills count=\"1\"><fill><patternFill patternType=\"none\"/></fill></fills>"
             "<borders count=\"1\"><border/></borders>"
             "<cellStyleXfs count=\"1\"><xf/></cellStyleXfs>"
             "<cellXfs count=\"2\"><xf/><xf numFmtId=\"164\" applyNumberFormat=\"1\"/></cellXfs>"
             "</styleSheet>"},
        {"xl/worksheets/sheet1.xml", head + "<worksheet xmlns=\"" + ns +
                                         "spreadsheetml/2006/main\"><sheetData>" + rows +
                                         "</sheetData></worksheet>"},
    };
    writeFile(file, makeZip(parts, std::time(nullptr)));
    return n;
}

std::string codeText(const std::string& utf8) {
    return xb::upper1252(trim(xb::utf8ToCp1252(utf8)));
}

bool endsWith(const std::string& file, const std::string& ext) {
    if (file.size() <= ext.size()) return false;
    std::string tail = file.substr(file.size() - ext.size());
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ext;
}

// The rows of the table `t` that belong to the selected prospects: the
// prospects themselves, or the rows linked to them (NUMPROSP and the code).
Keep selection(const std::string& camino, const data::TableDef& t, const ExportOptions& o) {
    if (o.salesperson.empty() && o.prospect.empty()) return [](const dbf::Table&) { return true; };
    const std::string alias = t.alias;
    if (!selectsProspects(t))
        throw std::runtime_error("la selección de prospectos no se aplica a la tabla " +
                                 std::string(t.file));
    const std::string vend = codeText(o.salesperson), code = codeText(o.prospect);
    if (!vend.empty()) {
        auto v = openForReading(data::tablePath(*data::findTable("Vendedor"), camino));
        const int f = v->fieldIndex("CODIGO");
        bool known = false;
        for (uint32_t r = 1; r <= v->recCount() && !known; ++r)
            known = v->read(r) && !v->deleted() && xb::upper1252(trim(v->getString(f))) == vend;
        if (!known)
            throw std::runtime_error("el vendedor «" + xb::cp1252ToUtf8(vend) + "» no existe");
    }
    auto chosen = [vend, code](const dbf::Table& p, int fVend, int fCode) {
        return (vend.empty() || xb::upper1252(trim(p.getString(fVend))) == vend) &&
               (code.empty() || xb::upper1252(trim(p.getString(fCode))) == code);
    };
    if (alias == "Prospecto")
        return [chosen](const dbf::Table& p) {
            return chosen(p, p.fieldIndex("CODVEND"), p.fieldIndex("CODPROSP"));
        };
    auto p = openForReading(data::tablePath(*data::findTable("Prospecto"), camino));
    const int fVend = p->fieldIndex("CODVEND"), fCode = p->fieldIndex("CODPROSP"),
              fNum = p->fieldIndex("NUMPROSP");
    auto links = std::make_shared<std::set<std::string>>();
    for (uint32_t r = 1; r <= p->recCount(); ++r)
        if (p->read(r) && !p->deleted() && chosen(*p, fVend, fCode))
            links->insert(trim(p->getString(fNum)) + "|" +
                          xb::upper1252(trim(p->getString(fCode))));
    if (!code.empty() && links->empty())
        throw std::runtime_error("el prospecto «" + xb::cp1252ToUtf8(code) + "» no existe" +
                                 (vend.empty() ? "" : " entre los del vendedor"));
    return [links](const dbf::Table& c) {
        return links->count(trim(c.getString(c.fieldIndex("NUMPROSP"))) + "|" +
                            xb::upper1252(trim(c.getString(c.fieldIndex("CLIENTE"))))) > 0;
    };
}

}  // namespace

bool selectsProspects(const data::TableDef& t) {
    const std::string a = t.alias;
    return a == "Prospecto" || a == "Contacto" || a == "ProdOfer" || a == "ProdVta";
}

size_t exportTable(const std::string& camino, const data::TableDef& t, const std::string& file,
                   const ExportOptions& o) {
    const bool xlsx = endsWith(file, ".xlsx");
    if (!xlsx && !endsWith(file, ".csv"))
        throw std::runtime_error("el fichero debe terminar en .csv o .xlsx");
    const Keep chosen = selection(camino, t, o);
    auto table = openForReading(data::tablePath(t, camino));
    const int total = static_cast<int>(table->recCount());
    int seen = 0;
    const Keep keep = [&](const dbf::Table& row) {
        if (o.progress && ++seen % 500 == 0 && !o.progress(seen, total))
            throw std::runtime_error("exportación cancelada; no se ha escrito " + file);
        return chosen(row);
    };
    return xlsx ? writeXlsx(table, file, keep) : writeCsv(table, file, o.separator, keep);
}

size_t exportAgenda(const std::string& camino, const std::string& file, const AgendaOptions& o) {
    const std::vector<Visit> visits = readVisits(camino, 0);
    const std::string wanted = trim(xb::utf8ToCp1252(o.salesperson));

    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);

    std::string out = icsLine("BEGIN:VCALENDAR") + icsLine("VERSION:2.0") +
                      icsLine("PRODID:-//Valdrosa//Control de Gestion Area Comercial//ES") +
                      icsLine("CALSCALE:GREGORIAN") + icsLine("METHOD:PUBLISH");
    size_t events = 0;
    for (const Visit& v : visits) {
        const int32_t day = v.fecProx;
        if (day < o.from) continue;
        if (!wanted.empty() && v.vendedor != wanted) continue;
        // The contact's own identity: its prospect, its date and its number.
        const std::string uid =
            sha256Hex(v.link + "|" + ymd(v.fecCont) + "|" + v.nt).substr(0, 32) + "@valdrosa";
        const std::string& hour = v.horProx;
        int hh = -1, mm = -1;
        if (hour.size() == 5 && hour[2] == ':' &&
            std::isdigit(static_cast<unsigned char>(hour[0])) &&
            std::isdigit(static_cast<unsigned char>(hour[1])) &&
            std::isdigit(static_cast<unsigned char>(hour[3])) &&
            std::isdigit(static_cast<unsigned char>(hour[4]))) {
            hh = std::stoi(hour.substr(0, 2));
            mm = std::stoi(hour.substr(3, 2));
            if (hh > 23 || mm > 59) hh = mm = -1;
        }
        out += icsLine("BEGIN:VEVENT") + icsLine("UID:" + uid) +
               icsLine("DTSTAMP:" + std::string(stamp));
        if (hh >= 0) {
            char t[32];
            std::snprintf(t, sizeof t, "T%02d%02d00", hh, mm);
            out += icsLine("DTSTART:" + ymd(day) + t) + icsLine("DURATION:PT1H");
        } else {
            out += icsLine("DTSTART;VALUE=DATE:" + ymd(day)) +
                   icsLine("DTEND;VALUE=DATE:" + ymd(day + 1));
        }
        std::string address = v.address;
        if (!v.city.empty()) address += (address.empty() ? "" : ", ") + v.city;
        out += icsLine("SUMMARY:" + icsText("Visita: " + xb::cp1252ToUtf8(v.name)));
        if (!address.empty()) out += icsLine("LOCATION:" + icsText(xb::cp1252ToUtf8(address)));
        std::string desc = "Prospecto " + xb::cp1252ToUtf8(v.cliente);
        if (!v.phone.empty()) desc += "\nTeléfono: " + xb::cp1252ToUtf8(v.phone);
        desc += "\nVendedor: " + xb::cp1252ToUtf8(v.vendedor);
        if (!v.tipo.empty() || !v.resultado.empty())
            desc += "\nÚltimo contacto: " +
                    xb::cp1252ToUtf8(v.tipo + (v.resultado.empty() ? "" : " - " + v.resultado));
        out += icsLine("DESCRIPTION:" + icsText(desc)) + icsLine("END:VEVENT");
        ++events;
    }
    out += icsLine("END:VCALENDAR");
    writeFile(file, out);
    return events;
}

}  // namespace transfer
