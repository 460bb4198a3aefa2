// GENGRAFIC runs a chart script as the report run runs a report script: the
// run variables exist, the body name is derived, a stale cached chart script
// is dropped, and the script's chart is drawn from what it gathered.
#include <QAbstractBarSeries>
#include <QBarSet>
#include <QDir>
#include <QFile>

#include "chartfixture.h"
#include "charts/charts.h"

using charttest::SessionTest;

class GenGrafic : public SessionTest {};

TEST_F(GenGrafic, RunsTheChartScriptWithTheReportRunVariables) {
    ASSERT_TRUE(QDir().mkpath(QStringLiteral("Prueba")));
    QFile f(QStringLiteral("Prueba/GRFTST.RPO"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(
        "[ prueba\r\nADATOS := {{'A', 2}, {'B', 3}}\r\nNTOTAL := 5\r\n"
        "NVISTO := NROW + NCOL + PAGE\r\nACTIVAGRAF(,,,, 'Prueba', ADATOS)\r\n");
    f.close();
    xb::createPublic("VGRFR", xb::Value::str("viejo"));
    xb::createPublic("NVISTO", xb::Value());  // so that the run leaves its value
    charts::GENGRAFIC("GRFTST.RPO");
    charts::ChartWindow* w = charts::lastChartWindow();
    ASSERT_NE(w, nullptr);
    auto* set = w->barSeries()->barSets().at(0);
    EXPECT_EQ(set->at(0), 2);
    EXPECT_EQ(set->at(1), 3);
    EXPECT_EQ(w->model().total, 5);
    EXPECT_EQ(ev("CCUERPO").asString(), "GRFTSTc.rpo");
    EXPECT_EQ(evn("NVISTO"), 1);  // rows and columns 0, first page
    EXPECT_EQ(ev("TYPE('VGRFR')").asString(), "U");
    // From the language, as the menu calls it.
    ev("GENGRAFIC('GRFTST.RPO')");
    EXPECT_NE(charts::lastChartWindow(), w);
}
