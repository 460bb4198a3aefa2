// The helpers that need no table: file names, structure lists, the small
// dialogs and the session-long utilities.
#include <cctype>
#include <cstdio>
#include <ctime>
#include <map>
#include <stdexcept>

#include "data/helpers.h"
#include "data/interaction.h"
#include "dbf/workspace.h"
#include "xbase/codepage.h"
#include "xbase/compiler.h"
#include "xbase/runtime.h"

namespace data {

namespace {

struct HelperState {
    std::map<std::string, xb::Value> statics;  // ESTATICA, by upper-cased name
    int aliasCounter = 0;                      // GETNEWALIAS
};

HelperState& state() {
    static HelperState s;
    return s;
}

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

}  // namespace

void resetHelperState() {
    state() = HelperState();
}

// ---- names of files

std::string QUITAR_CAM(const std::string& path) {
    size_t k = path.rfind('\\');
    return k == std::string::npos ? path : path.substr(k + 1);
}

std::string QUITAR_EXT(const std::string& name) {
    size_t k = name.find('.');
    return k == std::string::npos ? name : name.substr(0, k);
}

std::string NAME(const std::string& path) {
    std::string n = QUITAR_EXT(QUITAR_CAM(path));
    n.resize(8, ' ');
    return n;
}

// ---- structures

bool IGUALEST(const std::vector<FieldSpec>& a, const std::vector<FieldSpec>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        // Names compare as the tables store them: upper case.
        if (xb::upper1252(a[i].name) != xb::upper1252(b[i].name) ||
            std::toupper(static_cast<unsigned char>(a[i].type)) !=
                std::toupper(static_cast<unsigned char>(b[i].type)) ||
            a[i].width != b[i].width || a[i].decimals != b[i].decimals)
            return false;
    }
    return true;
}

xb::Value structureValue(const std::vector<FieldSpec>& s) {
    xb::Value list = xb::Value::newArray(0);
    for (const auto& f : s) {
        xb::Value d = xb::Value::newArray(0);
        auto& items = d.asArray()->items;
        items.push_back(xb::Value::str(f.name));
        items.push_back(xb::Value::str(std::string(1, f.type)));
        items.push_back(xb::Value::num(f.width, 3, 0));
        items.push_back(xb::Value::num(f.decimals, 3, 0));
        list.asArray()->items.push_back(d);
    }
    return list;
}

std::vector<FieldSpec> structureFromValue(const xb::Value& v) {
    if (!v.isArray()) throw std::invalid_argument("la estructura no es una lista");
    std::vector<FieldSpec> out;
    for (const auto& d : v.asArray()->items) {
        if (!d.isArray() || d.asArray()->items.size() < 4)
            throw std::invalid_argument("descriptor de campo incompleto en la estructura");
        const auto& it = d.asArray()->items;
        if (!it[0].isString() || !it[1].isString() || it[1].asString().empty() || !it[2].isNum() ||
            !it[3].isNum())
            throw std::invalid_argument("descriptor de campo no válido en la estructura");
        FieldSpec f;
        f.name = xb::upper1252(trim(it[0].asString()));
        f.type = static_cast<char>(std::toupper(static_cast<unsigned char>(it[1].asString()[0])));
        f.width = static_cast<int>(it[2].asNumber());
        f.decimals = static_cast<int>(it[3].asNumber());
        out.push_back(f);
    }
    return out;
}

// ---- dialogs

int alertDialog(const std::string& message, const std::string& title,
                const std::vector<std::string>& buttons) {
    return interaction().alert(
        message, title.empty() ? kAlertDefaultTitle : title,
        buttons.empty() ? std::vector<std::string>{kAlertDefaultButton} : buttons);
}

std::string DECIS(const std::string& question) {
    int b = alertDialog(question, "Seleccione su opci\xf3n", {"   &Si   ", "   &No   "});
    return b == 2 || b == 0 ? "N" : "S";
}

void PARE(const std::string& message) {
    alertDialog(message, "Atenci\xf3n.....!!!", {"&Aceptar"});
}

void CGBELL() {
    // The shortest standard duration: one tick of the PC clock, 1/18.2 s.
    interaction().tone(125, 55);
    interaction().tone(300, 55);
}

// ---- utilities

xb::Value EVALUA(const std::string& text) {
    if (trim(text).empty()) return xb::Value::logical(true);
    return xb::evalText(text);
}

void CICLO(const std::string& actionText, const std::string& conditionText) {
    xb::Expr cond = xb::compile(conditionText);
    xb::Expr action = xb::compile(actionText);
    while (cond.eval().asLogical()) action.eval();
}

double DIV_ZERO(double a, double b) {
    return b == 0 ? 0.0 : a / b;
}

xb::Value ESTATICA(const std::string& name, const std::optional<xb::Value>& value) {
    std::string key = xb::upper1252(trim(name));
    auto& statics = state().statics;
    auto it = statics.find(key);
    if (it == statics.end()) {
        statics[key] = value.value_or(xb::Value());
        return xb::Value();
    }
    xb::Value before = it->second;
    if (value) it->second = *value;
    return before;
}

std::string clockNumber() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

std::string GETNEWALIAS(const std::string& prefix) {
    int n = ++state().aliasCounter;
    std::string digits = std::to_string(n);
    if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
    return prefix + digits;
}

// ---- network-error flag

bool NETERROR() {
    xb::Value v;
    bool pending = xb::getVar("NETER", v) && v.asLogical();
    // The engine keeps its own flag for opens and appends made outside the
    // helpers (scripts' USE, APPEND BLANK); both count and both are cleared.
    pending = dbf::workspace().netErr() || pending;
    dbf::workspace().setNetErr(false);
    xb::createPublic("NETER", xb::Value::logical(false));
    xb::assignVar("NETER", xb::Value::logical(false));
    return pending;
}

void setNetError() {
    xb::createPublic("NETER", xb::Value::logical(true));
    xb::assignVar("NETER", xb::Value::logical(true));
}

}  // namespace data
