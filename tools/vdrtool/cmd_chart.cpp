// vdrtool chart NAME --png FILE | --pdf FILE [--company CODE]: runs a chart
// script unattended and saves the chart it draws, for documents and tests;
// no display is needed.
#include <QApplication>
#include <QFileInfo>
#include <iostream>

#include "app/functions.h"
#include "catalogue.h"
#include "charts/charts.h"
#include "command.h"
#include "data/interaction.h"
#include "dbf/workspace.h"
#include "tool_session.h"
#include "xbase/codepage.h"
#include "xbase/runtime.h"

namespace {

int runChart(const vdrtool::Args& given) {
    vdrtool::Args args = given;
    std::string company = vdrtool::takeCompanyOption(args);
    std::string name, png, pdf;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--png" && i + 1 < args.size())
            png = args[++i];
        else if (args[i] == "--pdf" && i + 1 < args.size())
            pdf = args[++i];
        else if (name.empty() && args[i].rfind("--", 0) != 0)
            name = args[i];
        else
            return vdrtool::fail("argumento no reconocido «" + args[i] + "».");
    }
    if (name.empty() || (png.empty() && pdf.empty()))
        return vdrtool::fail(
            "uso: vdrtool chart GRAFICO --png FICHERO | --pdf FICHERO [--company CÓDIGO]");
    vdrtool::loadProgramCatalogue();
    data::UnattendedInteraction quiet;
    data::ScopedInteraction scoped(quiet);
    vdrtool::startCompanySession(company);
    app::registerProgramFunctions();
    try {
        charts::GENGRAFIC(xb::utf8ToCp1252(name));
    } catch (const xb::Break& b) {
        dbf::workspace().closeAll();
        return vdrtool::fail(xb::cp1252ToUtf8(b.error.message()));
    }
    dbf::workspace().closeAll();
    charts::ChartWindow* w = charts::lastChartWindow();
    if (!w) return vdrtool::fail("el gráfico " + name + " no dibujó ningún gráfico.");
    int status = 0;
    for (const auto& [file, isPng] : {std::pair{png, true}, std::pair{pdf, false}}) {
        if (file.empty()) continue;
        QString target = QFileInfo(QString::fromStdString(file)).absoluteFilePath();
        bool ok = isPng ? w->savePng(target, QSize(800, 520)) : w->savePdf(target);
        if (!ok) {
            status = vdrtool::fail("no se pudo escribir " + file + ".");
            continue;
        }
        std::cout << target.toStdString() << "\n";
    }
    w->close();
    return status;
}

}  // namespace

VDRTOOL_COMMAND("chart", "GRAFICO --png FICHERO | --pdf FICHERO [--company CÓDIGO]",
                "dibuja el gráfico de un guion de gráficos en PNG o PDF", runChart);
