// vdrtool export TABLA FICHERO.csv [--separator ;] and vdrtool agenda
// FICHERO.ics [--salesperson CÓDIGO] [--from FECHA]: a company's tables and
// next visits for other programs.
#include <iostream>

#include "command.h"
#include "data/catalogue.h"
#include "data/interaction.h"
#include "tool_session.h"
#include "transfer/export.h"
#include "xbase/codepage.h"
#include "xbase/date.h"
#include "xbase/runtime.h"

namespace {

int runExport(const vdrtool::Args& given) {
    vdrtool::Args args = given;
    const std::string company = vdrtool::takeCompanyOption(args);
    char sep = ',';
    std::vector<std::string> plain;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--separator" || args[i] == "--separador") {
            const std::string s = i + 1 < args.size() ? args[++i] : std::string();
            if (s == "tab" || s == "\\t")
                sep = '\t';
            else if (s.size() == 1 && (s == "," || s == ";" || s == "|" || s == "\t"))
                sep = s[0];
            else
                return vdrtool::fail("separador «" + s + "» no válido: use , ; | o tab.");
        } else if (args[i].rfind("--", 0) != 0) {
            plain.push_back(args[i]);
        } else {
            return vdrtool::fail("argumento no reconocido «" + args[i] + "».");
        }
    }
    if (plain.size() != 2)
        return vdrtool::fail(
            "uso: vdrtool export TABLA FICHERO.csv|.xlsx [--separator ;] [--company CÓDIGO]");
    const data::TableDef* t = transfer::tableByName(plain[0]);
    if (!t)
        return vdrtool::fail("tabla «" + plain[0] +
                             "» desconocida; use una de: " + transfer::tableNames() + ".");
    const std::string& file = plain[1];
    auto endsWith = [&](const char* ext) {
        const std::string e = ext;
        if (file.size() <= e.size()) return false;
        std::string tail = file.substr(file.size() - e.size());
        for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return tail == e;
    };
    const bool xlsx = endsWith(".xlsx");
    if (!xlsx && !endsWith(".csv"))
        return vdrtool::fail("el fichero debe terminar en .csv o .xlsx");
    try {
        data::UnattendedInteraction quiet;
        data::ScopedInteraction scoped(quiet);
        vdrtool::startCompanySession(company);
        const std::string path = data::tablePath(*t, xb::getVar("G_CAMINO").asString());
        const size_t rows =
            xlsx ? transfer::exportXlsx(path, file) : transfer::exportCsv(path, file, sep);
        std::cout << plain[0] << ": " << rows << " filas escritas en " << file << "\n";
        return 0;
    } catch (const std::runtime_error& e) {
        return vdrtool::fail(e.what());
    }
}

int runAgenda(const vdrtool::Args& given) {
    vdrtool::Args args = given;
    const std::string company = vdrtool::takeCompanyOption(args);
    transfer::AgendaOptions o;
    std::string file, from;
    for (size_t i = 0; i < args.size(); ++i) {
        if ((args[i] == "--salesperson" || args[i] == "--vendedor") && i + 1 < args.size())
            o.salesperson = args[++i];
        else if ((args[i] == "--from" || args[i] == "--desde") && i + 1 < args.size())
            from = args[++i];
        else if (file.empty() && args[i].rfind("--", 0) != 0)
            file = args[i];
        else
            return vdrtool::fail("argumento no reconocido «" + args[i] + "».");
    }
    if (file.empty())
        return vdrtool::fail(
            "uso: vdrtool agenda FICHERO.ics [--salesperson CÓDIGO] [--from FECHA] [--company "
            "CÓDIGO]");
    try {
        data::UnattendedInteraction quiet;
        data::ScopedInteraction scoped(quiet);
        vdrtool::startCompanySession(company);
        if (!from.empty()) {
            // The user's date format, or the unambiguous AAAA-MM-DD.
            o.from = from.size() == 10 && from[4] == '-'
                         ? xb::parseDate(from, "yyyy-mm-dd", xb::settings().epoch)
                         : xb::parseDate(from, xb::effectiveDateFormat(), xb::settings().epoch);
            if (o.from == 0)
                return vdrtool::fail("«" + from + "» no es una fecha válida (" +
                                     xb::effectiveDateFormat() + " o aaaa-mm-dd).");
        }
        const size_t n = transfer::exportAgenda(xb::getVar("G_CAMINO").asString(), file, o);
        std::cout << n << (n == 1 ? " visita escrita en " : " visitas escritas en ") << file
                  << "\n";
        return 0;
    } catch (const std::runtime_error& e) {
        return vdrtool::fail(e.what());
    }
}

}  // namespace

VDRTOOL_COMMAND("export", "TABLA FICHERO.csv|.xlsx [--separator ;] [--company CÓDIGO]",
                "escribe una tabla de la empresa en CSV (UTF-8, con cabecera) o xlsx", runExport);
VDRTOOL_COMMAND("agenda", "FICHERO.ics [--salesperson CÓDIGO] [--from FECHA] [--company CÓDIGO]",
                "escribe las próximas visitas como calendario iCalendar", runAgenda);
