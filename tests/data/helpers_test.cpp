// The table helpers and the session variables, on real files.
#include <gtest/gtest.h>

#include "data/catalogue.h"
#include "data/helpers.h"
#include "data/paths.h"
#include "dbf/table.h"
#include "fixture.h"
#include "xbase/date.h"

using namespace datatest;
using Kind = data::ScriptedInteraction::Kind;

namespace {

dbf::WorkArea& current() {
    return *dbf::workspace().area(dbf::workspace().current());
}

void addRecord(dbf::WorkArea& a, const std::vector<std::pair<const char*, xb::Value>>& values,
               bool deleted = false) {
    a.append();
    for (auto& [f, v] : values) a.put(a.table().fieldIndex(f), v);
    if (deleted) a.deleteRecord();
    a.unlock(0);
    a.flush();
}

class Helpers : public Session {};

}  // namespace

TEST_F(Helpers, SessionVariablesAndSettings) {
    EXPECT_EQ(var("USERTERMIN"), "PRUEBA\\");
    EXPECT_EQ(var("G_PRUEBA"), ".\\Prueba");
    EXPECT_EQ(var("G_FECHA"), xb::formatDate(xb::todayJulian(), "dd-mm-yyyy"));
    EXPECT_EQ(xb::evalText("LEN(INDICES)").asNumber(), 15);
    EXPECT_EQ(xb::evalText("ULT_REC[15]").asNumber(), 0);
    EXPECT_FALSE(xb::evalText("ABIERTA[1]").asLogical());
    EXPECT_EQ(xb::evalText("_FORM[1]").asString(), "EXT");
    EXPECT_EQ(xb::evalText("LEN(AMPREIMP)").asNumber(), 9);
    EXPECT_EQ(xb::evalText("OAPEJEC:nLinEjec").asNumber(), 0);
    EXPECT_EQ(xb::evalText("OFONTLBX:cFaceName").asString(), "Ms Sans Serif");
    EXPECT_TRUE(xb::varExists("VDRPROSP"));
    EXPECT_TRUE(xb::varExists("CGINFAX1"));
    const auto& s = xb::settings();
    EXPECT_TRUE(s.deleted && s.century && s.confirm && !s.exclusive);
    EXPECT_EQ(s.epoch, 1940);
    EXPECT_EQ(xb::parseDate("01-02-45", "dd-mm-yy", s.epoch), xb::julianFromYmd(1945, 2, 1));
    EXPECT_EQ(xb::parseDate("01-02-15", "dd-mm-yy", s.epoch), xb::julianFromYmd(2015, 2, 1));
    EXPECT_FALSE(data::dirExists("Prueba"));
    xb::evalText("HACEPRUEBA()");
    EXPECT_TRUE(data::dirExists("Prueba"));
    EXPECT_TRUE(data::PUBLICAR("puesto1"));
    EXPECT_TRUE(data::dirExists("Terminales/PUESTO1"));
}

TEST_F(Helpers, CatalogueNamesFollowTheCompanyButNotTheRegister) {
    company("EMP00002\\");
    EXPECT_EQ(var("VDRPROSP"), "EMP00002\\VdrProsp.dbf");
    EXPECT_EQ(var("VDRPROX1"), "EMP00002\\VdrPrOx1.cdx");
    EXPECT_EQ(var("CGINFAD"), "cgInfAd.Ini");
    company("EMP00003\\");
    EXPECT_EQ(var("VDRVEND"), "EMP00003\\VdrVend.dbf");
    EXPECT_EQ(var("CGINFAX1"), "cgInfAx1.cdx");
}

TEST_F(Helpers, NamesAndSmallUtilities) {
    EXPECT_EQ(xb::evalText("NAME(\"EMP00001\\VdrProsp.dbf\")").asString(), "VdrProsp");
    EXPECT_EQ(xb::evalText("NAME(\"EMP00001\\VdrProsp.dbf\")").asString().size(), 8u);
    EXPECT_EQ(data::NAME("X\\AVERYLONGNAME.DBF"), "AVERYLON");
    EXPECT_EQ(data::NAME("a.b.c"), "a       ");
    EXPECT_EQ(data::QUITAR_CAM("sin\\camino\\x.dbf"), "x.dbf");
    EXPECT_EQ(data::QUITAR_CAM("x.dbf"), "x.dbf");
    EXPECT_EQ(data::QUITAR_EXT("x"), "x");
    EXPECT_EQ(xb::evalText("DIV_ZERO(5, 0)").asNumber(), 0);
    EXPECT_EQ(xb::evalText("DIV_ZERO(5, 2)").asNumber(), 2.5);
    EXPECT_EQ(xb::evalText("GETNEWALIAS(\"TMP\")").asString(), "TMP001");
    EXPECT_EQ(xb::evalText("GETNEWALIAS(\"OTRO\")").asString(), "OTRO002");
    EXPECT_TRUE(xb::evalText("ESTATICA(\"n\", 1)").isNil());
    EXPECT_EQ(xb::evalText("ESTATICA(\"N\", 2)").asNumber(), 1);
    EXPECT_EQ(xb::evalText("ESTATICA(\"N\")").asNumber(), 2);
    EXPECT_TRUE(xb::evalText("EVALUA(\"\")").asLogical());
    xb::createPublic("NCUENTA", xb::Value::integer(0));
    xb::evalText("CICLO(\"NCUENTA := NCUENTA + 1\", \"NCUENTA < 7\")");
    EXPECT_EQ(xb::getVar("NCUENTA").asNumber(), 7);
}

TEST_F(Helpers, StructuresCompareFieldByField) {
    using data::FieldSpec;
    std::vector<FieldSpec> a = {{"CODIGO", 'C', 8, 0}, {"NOMBRE", 'C', 40, 0}};
    auto b = a;
    EXPECT_TRUE(data::IGUALEST(a, b));
    b[1].width = 41;
    EXPECT_FALSE(data::IGUALEST(a, b));
    b = a;
    b.pop_back();
    EXPECT_FALSE(data::IGUALEST(a, b));
    EXPECT_TRUE(xb::evalText("IGUALEST({{\"A\",\"C\",1,0}}, {{\"a\",\"c\",1,0}})").asLogical());
}

TEST_F(Helpers, DialogsAnswerAsTheUserDoes) {
    EXPECT_EQ(xb::evalText("DECIS(\"¿Seguro?\")").asString(), "N");  // closed
    ui.answer(1);
    EXPECT_EQ(data::DECIS("x"), "S");
    ui.answer(2);
    EXPECT_EQ(data::DECIS("x"), "N");
    auto alerts = ui.of(Kind::Alert);
    ASSERT_EQ(alerts.size(), 3u);
    EXPECT_EQ(alerts[0].title, "Seleccione su opci\xf3n");
    EXPECT_EQ(alerts[0].buttons, (std::vector<std::string>{"   &Si   ", "   &No   "}));
    data::PARE("Alto");
    EXPECT_EQ(ui.shown().back().title, "Atenci\xf3n.....!!!");
    EXPECT_EQ(ui.shown().back().buttons, (std::vector<std::string>{"&Aceptar"}));
    ui.clear();
    xb::evalText("CGBELL()");
    ASSERT_EQ(ui.shown().size(), 2u);
    EXPECT_EQ(ui.shown()[0].hz, 125);
    EXPECT_EQ(ui.shown()[1].hz, 300);
}

TEST_F(Helpers, MsgMeterRunsTheBlockWithBarTextDialogAndDoneFlag) {
    xb::Value r = xb::evalText(
        "MSGMETER({|oMet, oTxt, oDlg, lEnd| oMet:nTotal := 4, oMet:Set(3), "
        "oTxt:SetText(\"Paso\"), oDlg:Refresh(), 42}, \"Empezando\", \"Espere\")");
    EXPECT_EQ(r.asNumber(), 42);
    auto m = ui.of(Kind::Meter);
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].title, "Espere");
    EXPECT_EQ(m[0].texts, (std::vector<std::string>{"Empezando", "Paso"}));
    EXPECT_EQ(m[0].total, 4);
    EXPECT_EQ(m[0].positions.back(), 3);
    xb::evalText("MSGMETER()");
    EXPECT_EQ(ui.of(Kind::Meter).back().title, "Por favor espere");
    EXPECT_EQ(ui.of(Kind::Meter).back().message, "Procesando...");
}

TEST_F(Helpers, CreardbfReadsTheCatalogueAndWritesAnEmptyTemplate) {
    installHere();
    std::filesystem::remove("VDRPLAN.INI");
    std::filesystem::remove("VdrBases.cdx");
    xb::Value s = xb::evalText("CREARDBF(\"vdrplan.ini\")");
    ASSERT_TRUE(s.isArray());
    EXPECT_EQ(s.asArray()->items.size(), 4u);
    EXPECT_EQ(s.asArray()->items[1].asArray()->items[2].asNumber(), 120);
    EXPECT_TRUE(data::fileExists("VDRPLAN.INI"));
    EXPECT_TRUE(data::fileExists("VdrBases.cdx"));
    auto t = dbf::Table::open("VDRPLAN.INI");
    EXPECT_EQ(t->fieldCount(), 4);
    // The prospects' structure text is long: it is read field by field.
    auto p = data::CREARDBF("VDRPROSP.INI", true);
    ASSERT_EQ(p.size(), 19u);
    EXPECT_EQ(p[15], (data::FieldSpec{"OBSERVAC", 'M', 10, 0}));
    EXPECT_EQ(p[18], (data::FieldSpec{"CAT", 'C', 3, 0}));
}

TEST_F(Helpers, CreaFicKeepsATableInLineAndUpgradesOneThatIsNot) {
    installHere();
    company();
    ASSERT_TRUE(data::ABRIR("Vendedor", var("VDRVEND"), "S"));
    addRecord(current(), {{"CODIGO", xb::Value::str("V1")}, {"NOMBRE", xb::Value::str("ANA")}});
    addRecord(current(), {{"CODIGO", xb::Value::str("V2")}}, true);
    addRecord(current(), {{"CODIGO", xb::Value::str("V3")}, {"NOMBRE", xb::Value::str("LUIS")}});
    data::CERRAR();
    auto before = readFile("EMP00001/VdrVend.dbf");
    data::CREA_FIC("VDRVEND.INI", var("VDRVEND"), "EMP00001\\");
    EXPECT_EQ(readFile("EMP00001/VdrVend.dbf"), before);

    std::vector<data::FieldSpec> wider = {
        {"CODIGO", 'C', 8, 0}, {"NOMBRE", 'C', 40, 0}, {"NOTA", 'M', 10, 0}};
    data::CREA_FIC(wider, var("VDRVEND"), "EMP00001\\");
    auto t = dbf::Table::open("EMP00001/VdrVend.dbf");
    ASSERT_EQ(t->recCount(), 2u);
    EXPECT_EQ(t->fieldCount(), 3);
    t->read(2);
    EXPECT_EQ(t->getString(0).substr(0, 2), "V3");
    EXPECT_EQ(t->getString(1).substr(0, 4), "LUIS");
    EXPECT_EQ(t->getMemo(2), "");
    EXPECT_FALSE(data::fileExists("EMP00001/TEMPORAL.DBF"));
}

TEST_F(Helpers, AbrirOnAnOpenAliasWarnsAndCerrarRestoresIt) {
    installHere();
    company();
    ASSERT_TRUE(xb::evalText("ABRIR(\"Vendedor\", VDRVEND, \"S\")").asLogical());
    EXPECT_EQ(xb::evalText("INDICES[1]").asString(), " ");  // three arguments: no bag
    data::CERRAR();
    ASSERT_TRUE(xb::evalText("ABRIR(\"Vendedor\", VDRVEND, \"S\", VDRVENX1)").asLogical());
    addRecord(current(), {{"CODIGO", xb::Value::str("B")}});
    addRecord(current(), {{"CODIGO", xb::Value::str("A")}});
    int area = dbf::workspace().current();
    EXPECT_EQ(xb::evalText("INDICES[" + std::to_string(area) + "]").asString(), var("VDRVENX1"));
    EXPECT_EQ(dbf::orders(current()).orderNumber(), 1);
    current().goTo(1);  // "B"
    EXPECT_FALSE(xb::evalText("ABRIR(\"vendedor\", VDRVEND, \"S\")").asLogical());
    auto alert = ui.of(Kind::Alert).back();
    EXPECT_EQ(alert.message, "Atenci\xf3n..... Alias   << vendedor >>   ya est\xe1 en uso.....");
    EXPECT_EQ(alert.title, "Atenci\xf3n.... Error");
    EXPECT_EQ(dbf::workspace().current(), area);
    EXPECT_EQ(current().recno(), 2u);  // first in code order: "A"
    data::CERRAR();
    EXPECT_TRUE(data::USADA("VENDEDOR"));
    EXPECT_EQ(current().recno(), 1u);
    EXPECT_EQ(dbf::orders(current()).orderNumber(), 1);
    data::CERRAR();
    EXPECT_FALSE(data::USADA("Vendedor"));
}

TEST_F(Helpers, FieldBufferAndAreg) {
    installHere();
    company();
    ASSERT_TRUE(data::ABRIR("Producto", var("VDRPRODC"), "S"));
    data::INIC_VAR();
    EXPECT_EQ(var("MCODIGO"), std::string(20, ' '));
    EXPECT_EQ(xb::getVar("MPRECIO").asNumber(), 0);
    data::AREG(xb::evalText("{\"P1\", \"PRIMERO\", 12.5}"));
    data::IGUAL_VAR();
    EXPECT_EQ(var("MNOMBRE").substr(0, 7), "PRIMERO");
    EXPECT_EQ(xb::getVar("MPRECIO").asNumber(), 12.5);
    xb::assignVar("MPRECIO", xb::Value::num(99.25));
    data::REPL_VAR();
    current().goTo(1);
    EXPECT_EQ(current().get(2).asNumber(), 99.25);
    data::LIB_VAR();
    EXPECT_FALSE(xb::varExists("MCODIGO"));
    EXPECT_TRUE(xb::varExists("_ME"));
    // A number first still goes to the numeric field; an extra value is dropped.
    data::AREG(xb::evalText("{7, \"P2\", \"SEGUNDO\", \"SOBRA\"}"));
    EXPECT_EQ(current().get(2).asNumber(), 7);
    EXPECT_EQ(current().get(1).asString().substr(0, 7), "SEGUNDO");
}

TEST_F(Helpers, CheckaliasListsTheOpenAreasAndRegulaareaClosesOne) {
    installHere();
    company();
    ASSERT_TRUE(data::ABRIR("Vendedor", var("VDRVEND"), "S"));
    ASSERT_TRUE(data::ABRIR("Plan", var("VDRPLAN"), "S"));
    xb::evalText("CHECKALIAS(\"Abiertas\")");
    auto info = ui.of(Kind::Info);
    ASSERT_EQ(info.size(), 1u);
    EXPECT_EQ(info[0].message,
              "Abiertas\r\nArea #:          1 - VENDEDOR\r\nArea #:          2 - PLAN");
    int caller = dbf::workspace().current();
    xb::evalText("REGULAAREA(\"vendedor\")");
    EXPECT_EQ(ui.of(Kind::Info).back().message, "Cierra");
    EXPECT_FALSE(data::USADA("Vendedor"));
    EXPECT_EQ(dbf::workspace().current(), caller);
    ui.clear();
    xb::evalText("REGULAAREA(\"NINGUNO\")");
    EXPECT_TRUE(ui.shown().empty());
}

TEST_F(Helpers, SetIndexWithNoBagOnlyClearsAndRecuIndBringsThemBack) {
    installHere();
    company();
    ASSERT_TRUE(data::ABRIR("Prospecto", var("VDRPROSP"), "S", {var("VDRPRPX1")}));
    dbf::WorkArea& a = *dbf::workspace().area(dbf::workspace().current());
    EXPECT_EQ(dbf::orders(a).orderCount(), 9);
    EXPECT_TRUE(xb::evalText("SET_INDEX(0)").asLogical());
    EXPECT_EQ(dbf::orders(a).orderCount(), 0);
    EXPECT_EQ(xb::evalText("INDICES[1]").asString(), var("VDRPRPX1"));
    xb::evalText("ULT_IND[1] := VDRPRPX1 + \" \" + VDRVENX1");
    xb::evalText("RECU_IND()");
    EXPECT_EQ(dbf::orders(a).orderCount(), 9 + 3);
    EXPECT_EQ(dbf::orders(a).orderNumber(), 1);
    EXPECT_EQ(xb::evalText("INDICES[1]").asString(), var("VDRPRPX1") + " " + var("VDRVENX1"));
    xb::evalText("CERRAR()");
    EXPECT_EQ(xb::evalText("INDICES[1]").asString(), " ");
    EXPECT_FALSE(data::USADA("Prospecto"));
}

TEST_F(Helpers, MissingFilesAreRuntimeErrorsNotCrashes) {
    // Without the structure catalogue.
    int raised = 0;
    xb::setErrorHandler([&](xb::Error& e) {
        ++raised;
        EXPECT_FALSE(e.description.empty());
        xb::HandlerAnswer a;
        a.action = xb::ErrorAction::Substitute;
        return a;
    });
    EXPECT_TRUE(xb::evalText("CREARDBF(\"VDRVEND.INI\")").isNil());
    EXPECT_FALSE(xb::evalText("ABRIR(\"X\", \"NOEXISTE.DBF\", \"S\")").asLogical());
    EXPECT_EQ(raised, 2);
    EXPECT_TRUE(xb::evalText("IGUALEST(1, {})").isLogical());
}

TEST_F(Helpers, CreardbfTakesALongStructureTextApartFieldByField) {
    installHere();
    std::vector<data::FieldSpec> many;
    for (int i = 1; i <= 40; ++i)
        many.push_back({"CAMPO" + std::to_string(i), i % 2 ? 'C' : 'N', 4 + i % 15, i % 2 ? 0 : 2});
    std::string text = data::structureLiteral(many);
    ASSERT_GE(text.size(), 498u);
    {
        auto cat = dbf::Table::open("VDRBASES.INI", {false, false});
        cat->appendBlank();
        cat->putString(0, "LARGA.INI");
        cat->putMemo(1, text);
        cat->commit();
    }
    // The bag is stale now; rebuilding it is what CREARDBF does when missing.
    std::filesystem::remove("VdrBases.cdx");
    EXPECT_EQ(data::CREARDBF("larga.ini"), many);
    EXPECT_EQ(dbf::Table::open("LARGA.INI")->fieldCount(), 40);
    // A damaged text is a runtime error naming the catalogue, not a crash.
    {
        auto cat = dbf::Table::open("VDRBASES.INI", {false, false});
        cat->read(cat->recCount());
        cat->putMemo(1, text.substr(0, 300) + std::string(300, ' '));
        cat->commit();
    }
    EXPECT_THROW(data::CREARDBF("LARGA.INI", true), std::exception);
}

TEST_F(Helpers, AMissingBagGoesToTheHandlerAndTheTableStaysOpen) {
    installHere();
    company();
    std::vector<std::string> seen;
    std::vector<std::string> chain;
    xb::setErrorHandler([&](xb::Error& e) {
        seen.push_back(e.subsystem);
        chain = xb::callChainLines();
        xb::HandlerAnswer a;
        a.action = xb::ErrorAction::Substitute;  // skip it
        return a;
    });
    EXPECT_TRUE(
        xb::evalText("ABRIR(\"Vendedor\", VDRVEND, \"S\", \"EMP00001\\NOHAY.CDX\", VDRVENX1)")
            .asLogical());
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], "DBFCDX");
    ASSERT_FALSE(chain.empty());  // the error report names the procedure
    EXPECT_EQ(chain[0].rfind("ABRIR", 0), 0u) << chain[0];
    EXPECT_EQ(xb::evalText("INDICES[1]").asString(), var("VDRVENX1"));
    EXPECT_EQ(dbf::orders(current()).orderCount(), 3);
    // Ending the program from the handler leaves the caller's area as it was.
    data::CERRAR();
    ASSERT_TRUE(data::ABRIR("Plan", var("VDRPLAN"), "S"));
    int caller = dbf::workspace().current();
    xb::setErrorHandler([](xb::Error&) { return xb::HandlerAnswer{}; });
    EXPECT_THROW(data::ABRIR("Otro", "EMP00001\\NOHAY.DBF", "S"), xb::Break);
    EXPECT_EQ(dbf::workspace().current(), caller);
}

TEST_F(Helpers, EveryProcedureIsCallableByName) {
    for (const char* name :
         {"PUBLICAR",    "HACEPRUEBA", "PUBLIBASES", "NOMBBASES",   "ABRIR",      "USADA",
          "SET_INDEX",   "INDEXA",     "CERRAR",     "RECU_IND",    "REC_LOCK",   "PROTEGER",
          "DESPROTEGER", "NETERROR",   "QUITAR_CAM", "QUITAR_EXT",  "NAME",       "CREARDBF",
          "IGUALEST",    "CREA_FIC",   "INIC_VAR",   "IGUAL_VAR",   "REPL_VAR",   "LIB_VAR",
          "AREG",        "DECIS",      "PARE",       "CGBELL",      "MSGMETER",   "CICLO",
          "EVALUA",      "DIV_ZERO",   "ESTATICA",   "GETNEWALIAS", "CHECKALIAS", "REGULAAREA",
          "INIBASES",    "INDEXBASES", "PACKBASES",  "PACA",        "RECO_BASES", "CRE_RES",
          "AUTOMANTEN"})
        EXPECT_TRUE(xb::functionExists(name)) << name;
    // A reset of the language drops them until they are registered again.
    xb::resetRuntime();
    EXPECT_FALSE(xb::functionExists("ABRIR"));
    data::registerDataFunctions();
    EXPECT_TRUE(xb::functionExists("abrir"));
}

TEST_F(Helpers, StartSessionRefusesAWorkstationFolderItCannotMake) {
    writeFile("Terminales", "un fichero, no una carpeta");
    EXPECT_FALSE(data::startSession("puesto2"));
    auto stops = ui.of(Kind::Stop);
    ASSERT_EQ(stops.size(), 1u);
    EXPECT_NE(stops[0].message.find("PUESTO2"), std::string::npos) << stops[0].message;
    EXPECT_EQ(stops[0].title, "Atenci\xf3n.....");
    std::filesystem::remove("Terminales");
    EXPECT_TRUE(data::startSession("puesto2"));
    EXPECT_TRUE(data::dirExists("Terminales/PUESTO2"));
    EXPECT_EQ(var("USERTERMIN"), "PUESTO2\\");
    EXPECT_TRUE(xb::functionExists("AUTOMANTEN"));
}
