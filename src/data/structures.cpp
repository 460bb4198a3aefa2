#include "data/structures.h"

#include <cctype>
#include <fstream>
#include <set>
#include <sstream>

namespace data {

namespace {

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool validName(const std::string& n) {
    if (n.empty() || n.size() > 10 || !std::isalpha(static_cast<unsigned char>(n[0]))) return false;
    for (char c : n)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') return false;
    return true;
}

// The widths each type allows, as the tables store them.
std::string checkField(const FieldSpec& f) {
    switch (f.type) {
        case 'C':
            if (f.width < 1 || f.width > 254 || f.decimals != 0)
                return "un campo de caracteres ocupa de 1 a 254 posiciones, sin decimales";
            break;
        case 'N':
            if (f.width < 1 || f.width > 20 || f.decimals < 0 ||
                (f.decimals > 0 && f.decimals > f.width - 2))
                return "un campo numérico ocupa de 1 a 20 posiciones y sus decimales caben "
                       "con el punto";
            break;
        case 'D':
            if (f.width != 8 || f.decimals != 0) return "un campo de fecha ocupa 8 posiciones";
            break;
        case 'L':
            if (f.width != 1 || f.decimals != 0) return "un campo lógico ocupa 1 posición";
            break;
        case 'M':
            if (f.width != 10 || f.decimals != 0) return "un campo memo ocupa 10 posiciones";
            break;
        default:
            return std::string("tipo de campo desconocido «") + f.type + "»";
    }
    return {};
}

}  // namespace

std::vector<TableSource> parseStructures(std::string_view text) {
    std::vector<TableSource> out;
    std::istringstream in{std::string(text)};
    std::string line;
    int lineNo = 0;
    bool open = false;
    std::set<std::string> names;
    auto fail = [&](const std::string& why) {
        throw StructureError("estructuras, línea " + std::to_string(lineNo) + ": " + why);
    };
    while (std::getline(in, line)) {
        ++lineNo;
        if (auto h = line.find('#'); h != std::string::npos) line.erase(h);
        std::istringstream ls(line);
        std::vector<std::string> w;
        for (std::string t; ls >> t;) w.push_back(t);
        if (w.empty()) continue;
        std::string head = upper(w[0]);
        if (head == "TEMPLATE" || head == "TABLE") {
            if (open) fail("falta END antes de " + w[0]);
            if (w.size() != 2) fail(w[0] + " lleva un nombre de fichero");
            out.push_back({w[1], head == "TEMPLATE", {}});
            names.clear();
            open = true;
        } else if (head == "END") {
            if (!open) fail("END sin tabla");
            if (out.back().fields.empty()) fail("la tabla " + out.back().file + " no tiene campos");
            open = false;
        } else {
            if (!open) fail("campo fuera de una tabla");
            if (w.size() != 4) fail("un campo se escribe NOMBRE TIPO ANCHO DECIMALES");
            FieldSpec f;
            f.name = upper(w[0]);
            if (!validName(f.name)) fail("nombre de campo no válido «" + w[0] + "»");
            if (w[1].size() != 1) fail("el tipo es una letra");
            f.type = upper(w[1])[0];
            try {
                size_t used = 0;
                f.width = std::stoi(w[2], &used);
                if (used != w[2].size()) throw std::invalid_argument("ancho");
                f.decimals = std::stoi(w[3], &used);
                if (used != w[3].size()) throw std::invalid_argument("decimales");
            } catch (const std::exception&) {
                fail("ancho y decimales son números enteros");
            }
            if (std::string why = checkField(f); !why.empty()) fail(f.name + ": " + why);
            if (!names.insert(f.name).second) fail("el campo " + f.name + " está repetido");
            out.back().fields.push_back(f);
        }
    }
    if (open) fail("falta END al final");
    return out;
}

std::vector<TableSource> loadStructures(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) throw StructureError("no se puede leer " + path);
    std::ostringstream s;
    s << f.rdbuf();
    return parseStructures(s.str());
}

std::string structureLiteral(const std::vector<FieldSpec>& fields) {
    std::string s = "{";
    for (size_t i = 0; i < fields.size(); ++i) {
        const auto& f = fields[i];
        if (i) s += ",";
        s += "{\"" + f.name + "\",\"" + std::string(1, f.type) + "\"," + std::to_string(f.width) +
             "," + std::to_string(f.decimals) + "}";
    }
    return s + "}";
}

}  // namespace data
