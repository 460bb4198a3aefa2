// GENGRAFIC runs a chart script as the report run runs a report script: the
// run variables exist, the body name is derived, a stale cached chart script
// is dropped, and the script's chart is drawn from what it gathered.
#include <QAbstractBarSeries>
#include <QBarSet>
#include <QDir>
#include <QFile>

#include "charts/charts.h"
#include "dbf/workspace.h"
#include "program_session.h"

using SessionTest = testsupport::ProgramSession;

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

TEST_F(GenGrafic, TheTablesTheScriptLeftOpenAreClosedAndTheChartRunsAgain) {
    // Like the installation's chart scripts: two tables opened, and the
    // closing CERRAR() closes only the current one.
    makeTable("antes.dbf", "Antes", "{{'X','C',1,0}}", {"FIELD->X := 'a'"});
    makeTable("resp.dbf", "Resp", "{{'CODIGO','C',3,0}}",
              {"FIELD->CODIGO := 'A'", "FIELD->CODIGO := 'B'"});
    makeTable("cont.dbf", "Cont", "{{'COD','C',3,0}}", {"FIELD->COD := 'A'"});
    ev("DBCLOSEAREA()");
    ev("DBSELECTAREA('Resp'), DBCLOSEAREA(), DBSELECTAREA('Antes')");
    ASSERT_TRUE(QDir().mkpath(QStringLiteral("Prueba")));
    QFile f(QStringLiteral("Prueba/GRFDOS.RPO"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(
        "ABRIR('Resp', 'resp.dbf', 'C')\r\nABRIR('Cont', 'cont.dbf', 'C')\r\n"
        "ADATOS := {{'A', Cont->(LASTREC())}, {'B', Resp->(LASTREC())}}\r\nNTOTAL := 3\r\n"
        "DBSELECTAREA('Resp')\r\nACTIVAGRAF(,,,, 'Dos', ADATOS)\r\nCERRAR()\r\n");
    f.close();
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        charts::GENGRAFIC("GRFDOS.RPO");
        charts::ChartWindow* w = charts::lastChartWindow();
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->barSeries()->barSets().at(0)->at(1), 2);
        EXPECT_FALSE(dbf::workspace().used("CONT"));
        EXPECT_FALSE(dbf::workspace().used("RESP"));
        // What was open before the run stays open, and selected.
        EXPECT_TRUE(dbf::workspace().used("ANTES"));
        EXPECT_EQ(ev("ALIAS()").asString(), "ANTES");
    }
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('\n').toStdString();
    for (auto kind : {data::ScriptedInteraction::Kind::Info, data::ScriptedInteraction::Kind::Alert,
                      data::ScriptedInteraction::Kind::Stop})
        EXPECT_TRUE(scripted.of(kind).empty());
}
