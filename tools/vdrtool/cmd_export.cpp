// vdrtool export TABLA FICHERO.csv|.xlsx [--separator ;] [--salesperson C]
// [--prospect C] and vdrtool agenda
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
    transfer::ExportOptions o;
    std::vector<std::string> plain;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool valued = a == "--separator" || a == "--separador" || a == "--salesperson" ||
                            a == "--vendedor" || a == "--prospect" || a == "--prospecto";
        if (valued && i + 1 >= args.size()) return vdrtool::fail("falta el valor de " + a + ".");
        if (a == "--separator" || a == "--separador") {
            const std::string s = args[++i];
            if (s == "tab" || s == "\\t")
                o.separator = '\t';
            else if (s.size() == 1 && (s == "," || s == ";" || s == "|" || s == "\t"))
                o.separator = s[0];
            else
                return vdrtool::fail("separador «" + s + "» no válido: use , ; | o tab.");
        } else if (a == "--salesperson" || a == "--vendedor") {
            o.salesperson = args[++i];
        } else if (a == "--prospect" || a == "--prospecto") {
            o.prospect = args[++i];
        } else if (a.rfind("--", 0) != 0) {
            plain.push_back(a);
        } else {
            return vdrtool::fail("argumento no reconocido «" + a + "».");
        }
    }
    if (plain.size() != 2)
        return vdrtool::fail(
            "uso: vdrtool export TABLA FICHERO.csv|.xlsx [--separator ;] [--salesperson CÓDIGO] "
            "[--prospect CÓDIGO] [--company CÓDIGO]");
    const data::TableDef* t = transfer::tableByName(plain[0]);
    if (!t)
        return vdrtool::fail("tabla «" + plain[0] +
                             "» desconocida; use una de: " + transfer::tableNames() + ".");
    try {
        data::UnattendedInteraction quiet;
        data::ScopedInteraction scoped(quiet);
        vdrtool::startCompanySession(company);
        const size_t rows =
            transfer::exportTable(xb::getVar("G_CAMINO").asString(), *t, plain[1], o);
        std::cout << plain[0] << ": " << rows << " filas escritas en " << plain[1] << "\n";
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

VDRTOOL_COMMAND("export",
                "TABLA FICHERO.csv|.xlsx [--separator ;] [--salesperson CÓDIGO] [--prospect "
                "CÓDIGO] [--company CÓDIGO]",
                "escribe una tabla de la empresa, o las filas de los prospectos elegidos, en CSV "
                "(UTF-8, con cabecera) o xlsx",
                runExport);
VDRTOOL_COMMAND("agenda", "FICHERO.ics [--salesperson CÓDIGO] [--from FECHA] [--company CÓDIGO]",
                "escribe las próximas visitas como calendario iCalendar", runAgenda);
