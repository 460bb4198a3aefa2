#include "data/session.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>

#include "data/catalogue.h"
#include "data/interaction.h"
#include "data/paths.h"
#include "dbf/workspace.h"
#include "xbase/codepage.h"
#include "xbase/compiler.h"
#include "xbase/date.h"
#include "xbase/runtime.h"
#include "xbase/tpublic.h"

namespace data {

namespace {

// The font of the generic grid's lists, as a description the toolkit turns
// into a real font; the grid may replace it by one of its own.
class FontSpec : public xb::Object {
  public:
    FontSpec() = default;
    FontSpec(std::string face, int width, int height)
        : face_(std::move(face)), width_(width), height_(height) {}
    std::string className() const override { return "TFONT"; }
    bool send(std::string_view m, xb::Args&, xb::Value& r) override {
        if (m == "CFACENAME")
            r = xb::Value::str(face_);
        else if (m == "NWIDTH")
            r = xb::Value::integer(width_);
        else if (m == "NHEIGHT")
            r = xb::Value::integer(height_);
        else if (m == "LBOLD")
            r = xb::Value::logical(false);
        else if (m == "LITALIC")
            r = xb::Value::logical(false);
        else
            return false;
        return true;
    }
    bool assign(std::string_view, const xb::Value&) override { return false; }

  private:
    std::string face_ = "Ms Sans Serif";
    int width_ = 5;
    int height_ = -1;
};

}  // namespace

xb::Value fontDescription(const std::string& face, int width, int height) {
    return xb::Value::object(std::make_shared<FontSpec>(face, width, height));
}

namespace {

xb::Value filledArray(size_t n, const xb::Value& v) {
    xb::Value a = xb::Value::newArray(n);
    for (auto& item : a.asArray()->items) item = v;
    return a;
}

// Replaces a public's value, creating it when missing.
void setPublic(const char* name, const xb::Value& v) {
    xb::createPublic(name, v);
    xb::assignVar(name, v);
}

bool makeDir(const std::string& host) {
    if (::mkdir(host.c_str(), 0777) == 0 || errno == EEXIST) return true;
    return false;
}

std::string gCamino() {
    xb::Value v;
    if (xb::getVar("G_CAMINO", v) && v.isString()) return v.asString();
    return {};
}

}  // namespace

const std::string& defaultDriver() {
    static const std::string name = kDriverName;
    return name;
}

void applySessionSettings() {
    xb::Settings& s = xb::settings();
    s.exclusive = false;
    s.century = true;
    s.dateFormat = "dd-mm-yyyy";
    s.epoch = 1940;
    s.confirm = true;
    s.deleted = true;
    // The program keeps up to 15 tables with their memo and index files open,
    // plus scripts and logs; 99 handles was its own figure.
    rlimit rl{};
    if (::getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur < 99 &&
        (rl.rlim_max == RLIM_INFINITY || rl.rlim_max >= 99)) {
        rl.rlim_cur = 99;
        ::setrlimit(RLIMIT_NOFILE, &rl);
    }
}

std::string todayText() {
    return xb::formatDate(xb::todayJulian(), "dd-mm-yyyy");
}

void PUBLIBASES() {
    for (const auto& t : tables()) {
        xb::createPublic(t.tableVar, xb::Value());
        xb::createPublic(t.bagVar, xb::Value());
    }
}

namespace {

std::string stationSettingsPath() {
    xb::Value v;
    std::string termin = xb::getVar("USERTERMIN", v) && v.isString() ? v.asString() : "";
    if (!termin.empty() && termin.back() == '\\') termin.pop_back();
    return hostPath(std::string(kWorkstationRoot) + "\\" + termin) + "/" + kStationSettingsFile;
}

std::map<std::string, std::string> stationSettings() {
    std::map<std::string, std::string> out;
    std::ifstream in(stationSettingsPath(), std::ios::binary);
    std::string line;
    // Only whole lines count: a line cut short is no setting.
    while (std::getline(in, line) && !in.eof())
        if (const size_t eq = line.find('='); eq != std::string::npos && eq > 0)
            out[line.substr(0, eq)] = line.substr(eq + 1);
    return out;
}

}  // namespace

std::string stationSetting(const std::string& name, const std::string& otherwise) {
    const auto all = stationSettings();
    const auto it = all.find(name);
    return it == all.end() ? otherwise : it->second;
}

bool setStationSetting(const std::string& name, const std::string& value) {
    auto all = stationSettings();
    all[name] = value;
    std::string text;
    for (const auto& [k, v] : all) text += k + "=" + v + "\n";
    const std::string path = stationSettingsPath(), tmp = path + ".tmp";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
                    ::fsync(fd) == 0;
    ::close(fd);
    if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

void NOMBBASES() {
    std::string camino = gCamino();
    for (const auto& t : tables()) {
        setPublic(t.tableVar, xb::Value::str(tablePath(t, camino)));
        setPublic(t.bagVar, xb::Value::str(bagPath(t, camino)));
    }
}

void HACEPRUEBA() {
    xb::Value v;
    std::string folder =
        xb::getVar("G_PRUEBA", v) && v.isString() ? v.asString() : std::string(kScriptFolder);
    if (!dirExists(folder)) makeDir(hostPath(folder));
}

bool PUBLICAR(const std::string& workstation) {
    std::string name = xb::upper1252(workstation);
    std::string root = hostPath(kWorkstationRoot);
    if (!makeDir(root) || !makeDir(hostPath(std::string(kWorkstationRoot) + "\\" + name))) {
        interaction().stop(
            xb::utf8ToCp1252("No se pudo crear la carpeta del equipo \"" + name + "\" en " +
                             kWorkstationRoot + ": " + std::strerror(errno)),
            "Atenci\xf3n.....");
        return false;
    }
    createSessionVariables(name);
    return true;
}

void createSessionVariables(const std::string& workstation) {
    std::string name = xb::upper1252(workstation);
    const xb::Value none;
    setPublic("USERTERMIN", xb::Value::str(name + "\\"));
    for (const char* n :
         {"OWIN", "OBARWIN", "OITEM", "G_CAMINO", "G_EMPRESA", "ODLGMSG1", "OBRUSHDLG", "CCAMPFILT",
          "CFILTINF1", "CFILTINF2", "CTITFILTRO", "ODLGIMP1"})
        setPublic(n, none);
    setPublic("G_FECHA", xb::Value::str(todayText()));
    setPublic("G_PRUEBA", xb::Value::str(kScriptFolder));
    setPublic("INDICES", filledArray(kAreas, xb::Value::str(" ")));
    setPublic("ULT_IND", filledArray(kAreas, xb::Value::str(" ")));
    setPublic("ULT_REC", filledArray(kAreas, xb::Value::integer(0)));
    setPublic("ABIERTA", filledArray(kAreas, xb::Value::logical(false)));
    setPublic("NETER", xb::Value::logical(false));
    setPublic("_FORM", filledArray(1, xb::Value::str("EXT")));
    setPublic("OFONTLBX", xb::Value::object(std::make_shared<FontSpec>()));
    setPublic("AMPREIMP", filledArray(9, none));
    // The store of the script line being run.
    auto lines = std::make_shared<xb::TPublic>();
    lines->add("nLinEjec", xb::Value::integer(0));
    xb::Value store = xb::Value::object(lines);
    setPublic("OAPEJEC", store);
    PUBLIBASES();
    xb::setFieldAccess(&dbf::workspace());
}

bool startSession(const std::string& workstation) {
    applySessionSettings();
    registerDataFunctions();
    if (!PUBLICAR(workstation)) return false;
    setPublic("G_FECHA", xb::Value::str(todayText()));
    return true;
}

}  // namespace data
