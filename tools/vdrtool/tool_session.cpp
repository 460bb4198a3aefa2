#include "tool_session.h"

#include <stdexcept>

#include "data/catalogue.h"
#include "data/paths.h"
#include "data/session.h"
#include "dbf/table.h"
#include "xbase/codepage.h"
#include "xbase/runtime.h"

namespace vdrtool {

namespace {
std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(' '), e = s.find_last_not_of(' ');
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}
}  // namespace

std::string takeCompanyOption(std::vector<std::string>& args) {
    std::string code;
    for (size_t i = 0; i < args.size();) {
        if ((args[i] == "--company" || args[i] == "--empresa") && i + 1 < args.size()) {
            code = args[i + 1];
            args.erase(args.begin() + static_cast<long>(i),
                       args.begin() + static_cast<long>(i) + 2);
        } else {
            ++i;
        }
    }
    return code;
}

void startCompanySession(const std::string& given) {
    std::string code = given.empty() ? "00001" : given;
    if (code.size() < 5 && code.find_first_not_of("0123456789") == std::string::npos)
        code = std::string(5 - code.size(), '0') + code;
    if (!data::fileExists(data::kCompanyCatalogue))
        throw std::runtime_error("esta carpeta no es una instalación (falta " +
                                 std::string(data::kCompanyCatalogue) + ")");
    data::applySessionSettings();
    data::registerDataFunctions();
    data::createSessionVariables("VDRTOOL");
    xb::setErrorHandler([](xb::Error&) { return xb::HandlerAnswer{}; });
    auto t = dbf::Table::open(data::kCompanyCatalogue, {true, true});
    int fCode = t->fieldIndex("CODEMPR"), fPath = t->fieldIndex("CAMINO"),
        fName = t->fieldIndex("EMPRESA");
    uint32_t n = t->recCount();
    for (uint32_t r = 1; r <= n; ++r) {
        t->read(r);
        if (t->deleted() || trim(t->getString(fCode)) != code) continue;
        std::string camino = trim(t->getString(fPath));
        if (camino.empty() || !data::dirExists(camino))
            throw std::runtime_error("la carpeta de la empresa " + code + " no existe");
        xb::assignVar("G_CAMINO", xb::Value::str(camino + "\\"));
        xb::assignVar("G_EMPRESA", xb::Value::str(trim(t->getString(fName))));
        data::NOMBBASES();
        data::HACEPRUEBA();
        return;
    }
    throw std::runtime_error("la empresa " + code + " no está en el catálogo");
}

}  // namespace vdrtool

namespace vdrtool {
ScriptInstaller scriptInstaller = nullptr;
}  // namespace vdrtool
