#include "dbf/report.h"

#include <cstdio>

#include "dbf/dates.h"
#include "dbf/fpt.h"
#include "dbf/paths.h"
#include "xbase/codepage.h"

namespace dbf {

std::string versionName(uint8_t v) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", v);
    const char* name = "desconocida";
    switch (v) {
        case 0x03:
            name = "FoxPro 2.x / dBase III sin memos";
            break;
        case 0x83:
            name = "dBase III con memos DBT";
            break;
        case 0xF5:
            name = "FoxPro 2.x con memos FPT";
            break;
        case 0x30:
            name = "Visual FoxPro";
            break;
        case 0x31:
            name = "Visual FoxPro con autoincremento";
            break;
        case 0x32:
            name = "Visual FoxPro con campos variables";
            break;
        case 0x8B:
            name = "dBase IV con memos";
            break;
        case 0xFB:
            name = "FoxBASE";
            break;
        default:
            break;
    }
    return std::string(hex) + " " + name;
}

std::string codePageName(uint8_t m) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", m);
    const char* name = "desconocida";
    switch (m) {
        case 0x00:
            name = "sin marca";
            break;
        case 0x01:
            name = "OEM 437";
            break;
        case 0x02:
            name = "OEM 850";
            break;
        case 0x03:
            name = "Windows-1252";
            break;
        case 0xC8:
            name = "Windows-1250";
            break;
        case 0xC9:
            name = "Windows-1251";
            break;
        default:
            break;
    }
    return std::string(hex) + " " + name;
}

void describeTable(Table& t, std::ostream& out) {
    int y, m, d;
    t.lastUpdate(y, m, d);
    // Visual FoxPro keeps only two digits of the year there; FoxPro 2.x the
    // years since 1900.
    if (y < 1980) y += 100;
    char date[40];  // room for any int the compiler can imagine there
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", y, m, d);
    out << "Tabla:               " << t.path() << "\n"
        << "Versión:             " << versionName(t.version()) << "\n"
        << "Página de códigos:   " << codePageName(t.codePage()) << "\n"
        << "Última modificación: " << date << "\n"
        << "Registros:           " << t.recCount() << "\n"
        << "Longitud cabecera:   " << t.headerLength() << "\n"
        << "Longitud registro:   " << t.recordLength() << "\n"
        << "Campos:              " << t.fieldCount() << "\n";
    out << "  Nº  Nombre      Tipo  Long  Dec\n";
    int i = 0;
    for (const Field& f : t.fields()) {
        char line[96];
        std::snprintf(line, sizeof line, "  %2d  %-10s  %c   %5u  %3u%s\n", ++i, f.name.c_str(),
                      f.type, static_cast<unsigned>(f.len), static_cast<unsigned>(f.dec),
                      f.nullable() ? "  (admite nulo)" : "");
        out << line;
    }
    if (MemoFile* mf = t.memoFile()) {
        out << "Fichero de memos:    " << mf->path() << "\n"
            << "  Tamaño de bloque:  " << mf->blockSize() << "\n"
            << "  Siguiente libre:   " << mf->nextFree() << "\n";
    } else {
        out << "Fichero de memos:    ninguno\n";
    }
}

std::string fieldText(const Table& t, int i) {
    const Field& f = t.fields()[static_cast<size_t>(i)];
    if (t.isNull(i)) return "NULL";
    std::string_view raw = t.raw(i);
    auto rtrim = [](std::string_view s) {
        while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
        return std::string(s);
    };
    auto ltrim = [](std::string s) {
        size_t b = s.find_first_not_of(' ');
        return b == std::string::npos ? std::string() : s.substr(b);
    };
    char tmp[64];
    switch (f.type) {
        case 'N':
        case 'F':
            return ltrim(rtrim(raw));
        case 'I':
            std::snprintf(tmp, sizeof tmp, "%.0f", t.getNumber(i));
            return tmp;
        case 'Y':
            std::snprintf(tmp, sizeof tmp, "%.4f", t.getNumber(i));
            return tmp;
        case 'B':
            std::snprintf(tmp, sizeof tmp, "%.*f", f.dec, t.getNumber(i));
            return tmp;
        case 'D': {
            int32_t jd = t.getDate(i);
            if (!jd) return "";
            int y, m, d;
            ymdFromJulian(jd, y, m, d);
            std::snprintf(tmp, sizeof tmp, "%04d-%02d-%02d", y, m, d);
            return tmp;
        }
        case 'T': {
            DateTime dt = t.getDateTime(i);
            if (!dt.julianDay) return "";
            int y, m, d;
            ymdFromJulian(dt.julianDay, y, m, d);
            int s = dt.millis / 1000;
            std::snprintf(tmp, sizeof tmp, "%04d-%02d-%02d %02d:%02d:%02d", y, m, d, s / 3600,
                          s / 60 % 60, s % 60);
            return tmp;
        }
        case 'L': {
            char c = raw[0];
            if (c == ' ' || c == '?') return "";
            return t.getLogical(i) ? "T" : "F";
        }
        case 'M':
        case 'G':
        case 'P':
        case 'W':
            return t.getMemo(i);
        default:
            return rtrim(raw);
    }
}

std::string toTerminal(const Table& t, const std::string& bytes) {
    if (t.codePage() == 0x01 || t.codePage() == 0x02) return xb::cp850ToUtf8(bytes);
    return xb::cp1252ToUtf8(bytes);
}

}  // namespace dbf
