#include "transfer/import.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "data/helpers.h"
#include "data/paths.h"
#include "dbf/order.h"
#include "dbf/workarea.h"
#include "dbf/workspace.h"
#include "transfer/export.h"
#include "transfer/workbook.h"
#include "xbase/codepage.h"
#include "xbase/date.h"
#include "xbase/runtime.h"
#include "xbase/value.h"

namespace transfer {

namespace {

constexpr const char* kImportable[] = {"prospectos", "vendedores", "productos", "planes",
                                       "respuestas"};

bool validUtf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xc0) != 0x80) return false;
        i += n;
    }
    return true;
}

struct Record {
    int line = 0;
    std::vector<std::string> cells;
};

// RFC 4180 records; a quoted field may hold separators, quotes ("") and
// line ends. Each record remembers the line it starts on.
std::vector<Record> parseCsv(const std::string& text, char sep) {
    std::vector<Record> out;
    Record r{1, {}};
    std::string cell;
    bool quoted = false;
    int line = 1;
    auto endCell = [&] {
        r.cells.push_back(cell);
        cell.clear();
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                cell += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                if (c == '\n') ++line;
                cell += c;
            }
        } else if (c == '"' && cell.empty()) {
            quoted = true;
        } else if (c == sep) {
            endCell();
        } else if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            endCell();
            if (!(r.cells.size() == 1 && r.cells[0].empty())) out.push_back(r);
            r = Record{++line, {}};
        } else {
            cell += c;
        }
    }
    if (!cell.empty() || !r.cells.empty()) {
        endCell();
        if (!(r.cells.size() == 1 && r.cells[0].empty())) out.push_back(r);
    }
    return out;
}

// Semicolon when the header has more of them than commas (outside quotes).
char detectSeparator(const std::string& text) {
    int commas = 0, semis = 0;
    bool quoted = false;
    for (char c : text) {
        if (c == '"') quoted = !quoted;
        if (!quoted && (c == '\n' || c == '\r')) break;
        if (!quoted && c == ',') ++commas;
        if (!quoted && c == ';') ++semis;
    }
    return semis > commas ? ';' : ',';
}

std::string trim(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// Upper case without accents: how headers are compared.
std::string headerKey(const std::string& cp1252) {
    std::string s = xb::upper1252(trim(cp1252));
    std::string out;
    for (char ch : s) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == 0xc1 || c == 0xc0)
            out += 'A';
        else if (c == 0xc9 || c == 0xc8)
            out += 'E';
        else if (c == 0xcd || c == 0xcc)
            out += 'I';
        else if (c == 0xd3 || c == 0xd2)
            out += 'O';
        else if (c == 0xda || c == 0xd9 || c == 0xdc)
            out += 'U';
        else if (c == 0xd1)
            out += 'N';
        else if (c != '.' && c != ':')
            out += ch;
    }
    return out;
}

// The captions users know, per table: the code field first.
struct Captions {
    const char* alias;
    const char* codeField;
    std::vector<std::pair<const char*, const char*>> names;  // header key -> field
};
const std::vector<Captions>& captions() {
    static const std::vector<Captions> c = {
        {"Prospecto",
         "CODPROSP",
         {{"CODIGO", "CODPROSP"},
          {"CLIENTE", "CODPROSP"},
          {"PROSPECTO", "CODPROSP"},
          {"VENDEDOR", "CODVEND"},
          {"NOMBRE", "NOMBRE"},
          {"DIRECCION", "DIREC"},
          {"TELEFONO", "TELEF"},
          {"TELEFONOS", "TELEF"},
          {"FAX", "FAX"},
          {"CORREO", "EMAIL"},
          {"E-MAIL", "EMAIL"},
          {"CIUDAD", "CIUDAD"},
          {"REPRESENTANTE", "REPRESENT"},
          {"TELEFONO REPRESENTANTE", "TELFREP"},
          {"ENCARGADO", "ENCARGADO"},
          {"OBSERVACIONES", "OBSERVAC"},
          {"CATEGORIA", "CAT"},
          {"TIPO", "TIP"},
          {"NUEVO", "NEW"},
          {"FECHA DE CREACION", "FEC_CREA"}}},
        {"Vendedor",
         "CODIGO",
         {{"CODIGO", "CODIGO"}, {"NOMBRE", "NOMBRE"}, {"VENDEDOR", "CODIGO"}}},
        {"Producto",
         "CODIGO",
         {{"CODIGO", "CODIGO"},
          {"NOMBRE", "NOMBRE"},
          {"PRODUCTO", "CODIGO"},
          {"PRECIO", "PRECIO"}}},
        {"Plan",
         "CODIGO",
         {{"CODIGO", "CODIGO"},
          {"DETALLE", "DETALLE"},
          {"PLAN", "CODIGO"},
          {"FECHA INICIO", "FEC_INI"},
          {"FECHA DE INICIO", "FEC_INI"},
          {"FECHA FIN", "FEC_FIN"},
          {"FECHA DE FIN", "FEC_FIN"}}},
        {"Respuesta",
         "CODIGO",
         {{"CODIGO", "CODIGO"}, {"DETALLE", "DETALLE"}, {"RESPUESTA", "CODIGO"}}},
    };
    return c;
}

const Captions& captionsOf(const data::TableDef& t) {
    for (const Captions& c : captions())
        if (std::string(c.alias) == t.alias) return c;
    throw std::runtime_error(std::string("la tabla ") + t.file + " no admite importación");
}

bool parseNumber(const std::string& given, double& out) {
    std::string s = trim(given);
    if (s.empty()) {
        out = 0;
        return true;
    }
    // "1.234,56" and "1,234.56": the last of the two marks is the decimal one.
    const size_t dot = s.rfind('.'), comma = s.rfind(',');
    char dec = '.';
    if (comma != std::string::npos && (dot == std::string::npos || comma > dot)) dec = ',';
    std::string clean;
    for (char c : s) {
        if (c == dec)
            clean += '.';
        else if (c == '.' || c == ',' || c == ' ')
            continue;
        else
            clean += c;
    }
    if (clean.empty() || clean.find_first_not_of("+-0123456789.") != std::string::npos)
        return false;
    try {
        size_t used = 0;
        out = std::stod(clean, &used);
        return used == clean.size() && std::isfinite(out);
    } catch (const std::exception&) {
        return false;
    }
}

// The user's date format, or the unambiguous AAAA-MM-DD.
int32_t parseDateText(const std::string& s) {
    if (s.size() == 10 && s[4] == '-') return xb::parseDate(s, "yyyy-mm-dd", xb::settings().epoch);
    int32_t d = xb::parseDate(s, xb::effectiveDateFormat(), xb::settings().epoch);
    if (d == 0) {
        std::string slashes = s;
        for (char& c : slashes)
            if (c == '/' || c == '.') c = '-';
        d = xb::parseDate(slashes, "dd-mm-yyyy", xb::settings().epoch);
    }
    return d;
}

std::string padded(const std::string& s, size_t n) {
    return s.size() >= n ? s : s + std::string(n - s.size(), ' ');
}

struct Prepared {
    int line;
    std::string code;  // upper case, trimmed
    std::vector<std::pair<int, xb::Value>> values;
};

// Codes held by the table, trimmed and in upper case (as the cards compare them).
std::set<std::string> codesOf(dbf::Table& t, int field) {
    std::set<std::string> out;
    const uint32_t n = t.recCount();
    for (uint32_t r = 1; r <= n; ++r)
        if (t.read(r) && !t.deleted()) out.insert(xb::upper1252(trim(t.getString(field))));
    return out;
}

class OpenArea {
  public:
    OpenArea(const std::string& alias, const std::string& file, const std::string& bag)
        : alias_(alias) {
        prev_ = dbf::workspace().current();
        if (dbf::workspace().used(alias))
            throw std::runtime_error("la tabla " + alias + " ya está abierta");
        if (!data::ABRIR(alias, file, "S",
                         bag.empty() ? std::vector<std::string>{} : std::vector<std::string>{bag}))
            throw std::runtime_error("no se puede abrir la tabla " + file +
                                     " (¿en uso exclusivo en otra estación?)");
        area_ = dbf::workspace().area(alias);
    }
    ~OpenArea() {
        if (area_) dbf::workspace().close(area_->number());
        dbf::workspace().select(prev_);
    }
    OpenArea(const OpenArea&) = delete;
    OpenArea& operator=(const OpenArea&) = delete;
    dbf::WorkArea& area() { return *area_; }

  private:
    std::string alias_;
    dbf::WorkArea* area_ = nullptr;
    int prev_ = 0;
};

void lockWaiting(dbf::WorkArea& wa) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!wa.lockFile()) {
        if (std::chrono::steady_clock::now() >= until)
            throw std::runtime_error(
                "la tabla " + wa.alias() +
                " sigue bloqueada por otra estación; la importación se detuvo");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

struct Source {
    std::string format;  // "CSV", "xlsx", "ods"
    std::string encoding;
    char separator = 0;
    std::vector<Record> records;  // the header first; cells in Windows-1252
};

// The file's rows, whatever kind of file it is: a workbook by its first
// bytes, a CSV otherwise.
Source readSource(const std::string& file) {
    std::ifstream in(data::hostPath(file), std::ios::binary);
    if (!in) throw std::runtime_error("no se puede leer " + file);
    std::ostringstream buf;
    buf << in.rdbuf();
    std::string text = buf.str();
    Source src;
    if (looksLikeWorkbook(text)) {
        for (SheetRow& row : readWorkbook(text, src.format)) {
            Record r{row.row, {}};
            for (const std::string& c : row.cells) r.cells.push_back(xb::utf8ToCp1252(c));
            src.records.push_back(std::move(r));
        }
        src.encoding = "UTF-8";
        if (src.records.empty())
            throw std::runtime_error("la primera hoja de " + file + " está vacía");
        // A sheet leaves out the empty cells at the end of a row; cells
        // beyond the header's last column are of no column.
        const size_t width = src.records[0].cells.size();
        for (Record& r : src.records) {
            while (r.cells.size() > width && r.cells.back().empty()) r.cells.pop_back();
            if (r.cells.size() < width) r.cells.resize(width);
        }
        return src;
    }
    src.format = "CSV";
    if (text.rfind("\xef\xbb\xbf", 0) == 0) text.erase(0, 3);
    if (validUtf8(text)) {
        src.encoding = "UTF-8";
        text = xb::utf8ToCp1252(text);
    } else {
        src.encoding = "Windows-1252";
    }
    src.separator = detectSeparator(text);
    src.records = parseCsv(text, src.separator);
    if (src.records.empty()) throw std::runtime_error("el fichero " + file + " está vacío");
    return src;
}

// The field a header names, by its own name or a caption; -1 for none.
int fieldOfHeader(const dbf::Table& table, const Captions& cap, const std::string& header) {
    const std::string key = headerKey(header);
    int f = table.fieldIndex(key);
    if (f < 0)
        for (const auto& [caption, field] : cap.names)
            if (key == caption) f = table.fieldIndex(field);
    return f;
}

// The field of each column (-1: left out): as the user chose them, or by
// the headers, where every column must name a field.
std::vector<int> matchColumns(const dbf::Table& table, const Captions& cap, const Record& header,
                              const std::vector<std::string>& chosen, const std::string& file) {
    std::vector<int> column;
    if (!chosen.empty() && chosen.size() != header.cells.size())
        throw std::runtime_error("la elección de columnas no corresponde a las " +
                                 std::to_string(header.cells.size()) + " columnas del fichero");
    for (size_t i = 0; i < header.cells.size(); ++i) {
        int f = -1;
        if (chosen.empty()) {
            f = fieldOfHeader(table, cap, header.cells[i]);
            if (f < 0)
                throw std::runtime_error("la columna «" + xb::cp1252ToUtf8(trim(header.cells[i])) +
                                         "» no corresponde a ningún campo de " + file);
        } else if (!chosen[i].empty()) {
            f = table.fieldIndex(chosen[i]);
            if (f < 0) throw std::runtime_error("el campo " + chosen[i] + " no existe en " + file);
        }
        if (f >= 0)
            for (int c : column)
                if (c == f)
                    throw std::runtime_error("dos columnas van al campo " +
                                             table.fields()[static_cast<size_t>(f)].name);
        column.push_back(f);
    }
    return column;
}

bool importableType(char type) {
    return type == 'C' || type == 'M' || type == 'N' || type == 'F' || type == 'D' || type == 'L';
}

}  // namespace

const data::TableDef* importTableByName(const std::string& name) {
    for (const char* n : kImportable)
        if (name == n) return tableByName(name);
    return nullptr;
}

ImportPreview previewImport(const std::string& camino, const data::TableDef& t,
                            const std::string& file, int rows) {
    const Captions& cap = captionsOf(t);
    const Source src = readSource(file);
    std::unique_ptr<dbf::Table> table;
    try {
        table = dbf::Table::open(data::hostPath(data::tablePath(t, camino)), {true, true});
    } catch (const std::exception& e) {
        throw std::runtime_error(std::string("no se puede abrir la tabla ") + t.file + ": " +
                                 xb::cp1252ToUtf8(e.what()));
    }
    ImportPreview p;
    p.format = src.format;
    p.encoding = src.encoding;
    p.separator = src.separator;
    p.rows = static_cast<int>(src.records.size()) - 1;
    for (const dbf::Field& f : table->fields())
        if (importableType(f.type)) p.fields.push_back(f.name);
    std::set<int> taken;
    for (const std::string& h : src.records[0].cells) {
        p.headers.push_back(xb::cp1252ToUtf8(trim(h)));
        const int f = fieldOfHeader(*table, cap, h);
        const bool free = f >= 0 && taken.insert(f).second;
        p.matched.push_back(free ? table->fields()[static_cast<size_t>(f)].name : std::string());
    }
    for (size_t r = 1; r < src.records.size() && static_cast<int>(r) <= rows; ++r) {
        std::vector<std::string> cells;
        for (const std::string& c : src.records[r].cells) cells.push_back(xb::cp1252ToUtf8(c));
        p.first.push_back(std::move(cells));
        p.lines.push_back(src.records[r].line);
    }
    p.codeField = cap.codeField;
    return p;
}

ImportResult importFile(const std::string& camino, const data::TableDef& t, const std::string& file,
                        const ImportOptions& o) {
    const Captions& cap = captionsOf(t);
    const Source src = readSource(file);
    const std::vector<Record>& records = src.records;
    ImportResult res;
    res.format = src.format;
    res.encoding = src.encoding;
    res.separator = src.separator;

    // An alias of its own: the table may be open in a window of this program.
    OpenArea target("Importa", data::tablePath(t, camino), data::bagPath(t, camino));
    dbf::WorkArea& wa = target.area();
    dbf::Table& table = wa.table();

    const std::vector<int> column = matchColumns(table, cap, records[0], o.columns, t.file);
    int codeCol = -1, vendCol = -1;
    for (size_t i = 0; i < column.size(); ++i) {
        if (column[i] < 0) {
            res.fields.emplace_back();
            continue;
        }
        const dbf::Field& f = table.fields()[static_cast<size_t>(column[i])];
        if (!importableType(f.type))
            throw std::runtime_error("el campo " + f.name + " no se puede importar");
        if (f.name == cap.codeField) codeCol = static_cast<int>(i);
        if (f.name == "CODVEND") vendCol = static_cast<int>(i);
        res.fields.push_back(f.name);
    }
    if (codeCol < 0)
        throw std::runtime_error(std::string("falta la columna del código (") + cap.codeField +
                                 ")");
    const bool prospects = std::string(t.alias) == "Prospecto";
    if (prospects && vendCol < 0)
        throw std::runtime_error("falta la columna del vendedor (CODVEND)");

    std::set<std::string> salespeople;
    if (prospects) {
        const data::TableDef* vd = data::findTable("Vendedor");
        auto v = dbf::Table::open(data::hostPath(data::tablePath(*vd, camino)), {true, true});
        salespeople = codesOf(*v, v->fieldIndex("CODIGO"));
    }
    std::set<std::string> inTable = codesOf(table, table.fieldIndex(cap.codeField));
    std::map<std::string, int> inFile;

    std::vector<Prepared> good;
    for (size_t r = 1; r < records.size(); ++r) {
        const Record& rec = records[r];
        ++res.rows;
        auto reject = [&](const std::string& why) { res.rejected.push_back({rec.line, why}); };
        if (rec.cells.size() != column.size()) {
            reject("tiene " + std::to_string(rec.cells.size()) + " columnas y la cabecera " +
                   std::to_string(column.size()));
            continue;
        }
        Prepared p{rec.line, {}, {}};
        std::string fault;
        for (size_t c = 0; c < column.size() && fault.empty(); ++c) {
            if (column[c] < 0) continue;
            const dbf::Field& f = table.fields()[static_cast<size_t>(column[c])];
            std::string v = trim(rec.cells[c]);
            // The cards' texts take capitals only ("@!"), but for the e-mail address.
            if (f.type == 'C' && f.name != "EMAIL") v = xb::upper1252(v);
            // A line break in a cell is a space on the card's one line.
            if (f.type == 'C')
                for (char& ch : v)
                    if (ch == '\n' || ch == '\r' || ch == '\t') ch = ' ';
            const std::string shown = xb::cp1252ToUtf8(v);
            switch (f.type) {
                case 'C':
                    if (v.size() > f.len)
                        fault = f.name + " «" + shown + "» tiene " + std::to_string(v.size()) +
                                " caracteres y el campo admite " + std::to_string(f.len);
                    else
                        p.values.emplace_back(column[c], xb::Value::str(padded(v, f.len)));
                    break;
                case 'M':
                    p.values.emplace_back(column[c], xb::Value::memo(rec.cells[c]));
                    break;
                case 'N':
                case 'F': {
                    double d = 0;
                    if (!parseNumber(v, d)) {
                        fault = f.name + " «" + shown + "» no es un número";
                        break;
                    }
                    char out[64];
                    std::snprintf(out, sizeof out, "%*.*f", f.len, f.dec, d);
                    if (std::string(out).size() > f.len) {
                        fault = f.name + " «" + shown + "» no cabe en el campo";
                        break;
                    }
                    p.values.emplace_back(column[c], xb::Value::num(d, f.len, f.dec));
                    break;
                }
                case 'D': {
                    const int32_t d = v.empty() ? 0 : parseDateText(v);
                    if (!v.empty() && d == 0)
                        fault = f.name + " «" + shown + "» no es una fecha válida";
                    else
                        p.values.emplace_back(column[c], xb::Value::date(d));
                    break;
                }
                case 'L': {
                    const std::string u = xb::upper1252(v);
                    if (u == "S" || u == "SI" || u == "S\xcd" || u == "T" || u == ".T." || u == "1")
                        p.values.emplace_back(column[c], xb::Value::logical(true));
                    else if (u.empty() || u == "N" || u == "NO" || u == "F" || u == ".F." ||
                             u == "0")
                        p.values.emplace_back(column[c], xb::Value::logical(false));
                    else
                        fault = f.name + " «" + shown + "» no es Sí ni No";
                    break;
                }
                default:
                    fault = "el campo " + f.name + " no se puede importar";
            }
            if (static_cast<int>(c) == codeCol) p.code = v;
            if (fault.empty() && static_cast<int>(c) == vendCol && !salespeople.count(v))
                fault = "el vendedor «" + shown + "» no existe";
        }
        if (fault.empty() && p.code.empty()) fault = "falta el código";
        if (fault.empty() && inFile.count(p.code))
            fault = "el código «" + xb::cp1252ToUtf8(p.code) + "» está repetido (ya en la línea " +
                    std::to_string(inFile[p.code]) + ")";
        if (fault.empty() && inTable.count(p.code))
            fault = "el código «" + xb::cp1252ToUtf8(p.code) + "» ya existe en la tabla";
        if (!fault.empty()) {
            reject(fault);
            continue;
        }
        inFile[p.code] = rec.line;
        good.push_back(std::move(p));
    }
    res.accepted = static_cast<int>(good.size());
    if (o.dryRun || (o.allOrNothing && !res.rejected.empty())) return res;

    // One row at a time, under the table's lock as a card saves: others
    // wait only for one row, and the check against the table is repeated
    // under the lock (another workstation may have added the code since).
    const int codeField = table.fieldIndex(cap.codeField);
    const size_t codeLen = table.fields()[static_cast<size_t>(codeField)].len;
    std::string codeTag;
    for (const data::TagDef& tag : t.tags)
        if (std::string(tag.key) == cap.codeField && !tag.unique) codeTag = tag.name;
    const std::string stamp = data::clockNumber();
    const int32_t today = xb::todayJulian();
    int done = 0;
    for (Prepared& p : good) {
        if (o.progress && done++ % 25 == 0 && !o.progress(done - 1, res.accepted)) {
            res.cancelled = true;
            break;
        }
        lockWaiting(wa);
        struct Unlock {
            dbf::WorkArea& wa;
            ~Unlock() { wa.unlock(0); }
        } unlock{wa};
        bool taken = false;
        if (!codeTag.empty()) {
            // Codes written meanwhile came from the cards, in capitals: the
            // tag finds them without reading the table.
            dbf::Orders& ord = dbf::orders(wa);
            ord.setOrder(codeTag);
            taken = ord.seek(xb::Value::str(padded(p.code, codeLen)));
            ord.setOrder(0);
        } else {
            const uint32_t n = table.recCount();
            for (uint32_t r = 1; r <= n && !taken; ++r)
                taken = table.read(r) && !table.deleted() &&
                        xb::upper1252(trim(table.getString(codeField))) == p.code;
        }
        if (taken) {
            res.rejected.push_back({p.line, "el código «" + xb::cp1252ToUtf8(p.code) +
                                                "» ya existe en la tabla (grabado por otra "
                                                "estación durante la importación)"});
            continue;
        }
        wa.append(false);
        for (const auto& [f, v] : p.values) wa.put(f, v);
        if (prospects) {
            // The link the card gives a new prospect: its clock number and today.
            if (trim(table.getString(table.fieldIndex("NUMPROSP"))).empty())
                wa.put(table.fieldIndex("NUMPROSP"), xb::Value::str(stamp));
            if (table.getDate(table.fieldIndex("FEC_CREA")) == 0)
                wa.put(table.fieldIndex("FEC_CREA"), xb::Value::date(today));
            if (trim(table.getString(table.fieldIndex("NEW"))).empty())
                wa.put(table.fieldIndex("NEW"), xb::Value::str("Si"));
            if (trim(table.getString(table.fieldIndex("TIP"))).empty())
                wa.put(table.fieldIndex("TIP"), xb::Value::str("Jur\xed"
                                                               "dica"));
            if (trim(table.getString(table.fieldIndex("CAT"))).empty())
                wa.put(table.fieldIndex("CAT"), xb::Value::str("001"));
        }
        wa.commit();
        ++res.written;
    }
    std::sort(res.rejected.begin(), res.rejected.end(),
              [](const RejectedRow& a, const RejectedRow& b) { return a.line < b.line; });
    return res;
}

}  // namespace transfer
