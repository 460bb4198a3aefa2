// vdrtool demo DIR [--company CODE] [--prospects N] [--seed N]: fills a
// company of an installation with sample data, so that every report and
// chart shows something; refuses a company that already holds prospects.
#include <filesystem>
#include <iostream>

#include "command.h"
#include "data/demo.h"
#include "data/interaction.h"
#include "dbf/workspace.h"
#include "tool_session.h"
#include "xbase/codepage.h"
#include "xbase/runtime.h"

namespace {

int runDemo(const vdrtool::Args& given) {
    vdrtool::Args args = given;
    std::string company = vdrtool::takeCompanyOption(args);
    data::DemoOptions o;
    std::string dir;
    for (size_t i = 0; i < args.size(); ++i) {
        auto number = [&](const char* what) {
            if (i + 1 >= args.size())
                throw std::runtime_error(std::string("falta el número de ") + what);
            const std::string& s = args[++i];
            if (s.empty() || s.find_first_not_of("0123456789") != std::string::npos || s.size() > 9)
                throw std::runtime_error("«" + s + "» no es un número válido de " + what);
            return std::stol(s);
        };
        if (args[i] == "--prospects" || args[i] == "--prospectos")
            o.prospects = static_cast<int>(number("prospectos"));
        else if (args[i] == "--seed" || args[i] == "--semilla")
            o.seed = static_cast<uint32_t>(number("semilla"));
        else if (dir.empty() && args[i].rfind("--", 0) != 0)
            dir = args[i];
        else
            return vdrtool::fail("argumento no reconocido «" + args[i] + "».");
    }
    if (dir.empty()) return vdrtool::fail("indique la carpeta de la instalación.");
    std::error_code ec;
    std::filesystem::current_path(dir, ec);
    if (ec) return vdrtool::fail("no se puede entrar en " + dir + ": " + ec.message());
    data::UnattendedInteraction quiet;
    data::ScopedInteraction scoped(quiet);
    vdrtool::startCompanySession(company);
    xb::Value camino = xb::getVar("G_CAMINO");
    o.progress = [](const std::string& s) { std::cout << "  " << xb::cp1252ToUtf8(s) << "\n"; };
    data::DemoCounts c;
    try {
        c = data::fillDemoCompany(camino.asString(), o);
    } catch (const std::runtime_error& e) {
        return vdrtool::fail(xb::cp1252ToUtf8(e.what()));
    }
    dbf::workspace().closeAll();
    std::cout << "Datos de ejemplo: " << c.salespeople << " vendedores, " << c.products
              << " productos, " << c.plans << " planes, " << c.responses << " respuestas, "
              << c.prospects << " prospectos, " << c.offered << " productos ofrecidos, "
              << c.contacts << " contactos, " << c.sold << " ventas.\n";
    return 0;
}

}  // namespace

VDRTOOL_COMMAND("demo", "CARPETA [--company CÓDIGO] [--prospects N] [--seed N]",
                "llena una empresa vacía con datos de ejemplo", runDemo);
