// The script runner over real files: the three-line example with output on
// and off, bracket lines, code-block lines over a table (and over the
// records it had when the line started), _EXIT, nested runs with their own
// run variables, the line cache keyed by the whole name, names refused, the
// functions this platform cannot offer, and WAITRUN with an argument list.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <fstream>
#include <sstream>

#include "app/functions.h"
#include "app/script.h"
#include "data/interaction.h"
#include "data/session.h"
#include "dbf/table.h"
#include "dbf/workspace.h"
#include "scratch_session.h"
#include "xbase/compiler.h"
#include "xbase/runtime.h"

namespace {

class ScriptTest : public testsupport::ScratchSession {
  protected:
    void SetUp() override {
        startScratchSession();
        app::registerProgramFunctions();
        app::scriptOutput() = {};
        app::scriptOutput().consoleSink = [this](const std::string& l) { console.push_back(l); };
        app::scriptOutput().printerSink = [this](const std::string& l) { printer.push_back(l); };
        // Errors break at once, so that a test sees them as exceptions.
        xb::setErrorHandler([](xb::Error&) { return xb::HandlerAnswer{}; });
    }
    void TearDown() override {
        app::scriptOutput() = {};
        ScratchSession::TearDown();
    }
    void loose(const std::string& name, const std::string& text) {
        std::ofstream f(dir.filePath("Prueba/" + QString::fromStdString(name)).toStdString(),
                        std::ios::binary);
        f << text;
    }
    // A table T.DBF with the numbers 1..n in field N, open and current.
    void numbers(int n) {
        dbf::Table::create("T.DBF", {{"N", 'N', 5, 0}});
        {
            auto t = dbf::Table::open("T.DBF", {false, false});
            for (int i = 1; i <= n; ++i) {
                t->appendBlank();
                t->putNumber(0, i);
            }
            t->commit();
        }
        dbf::workspace().open("T.DBF", "T", {true, false}, 0);
    }
    std::vector<std::string> alerts() {
        std::vector<std::string> out;
        for (const auto& s : scripted.of(data::ScriptedInteraction::Kind::Alert))
            out.push_back(s.message);
        return out;
    }

    std::vector<std::string> console, printer;
};

TEST_F(ScriptTest, ThreeLineExamplePrintsBracketLineAndValueOnlyWithOutputOn) {
    loose("TRES.RPO", "x := 1\r\n[note\r\nx\r\n");
    xb::createPrivate("X", xb::Value());
    app::scriptOutput().printer = true;
    app::EJECUTAR("tres.rpo");
    EXPECT_EQ(printer, (std::vector<std::string>{"[note", "         1"}));
    EXPECT_EQ(xb::getVar("X").asNumber(), 1);

    printer.clear();
    xb::assignVar("X", xb::Value());
    app::scriptOutput().printer = false;
    app::EJECUTAR("TRES.RPO");
    EXPECT_TRUE(printer.empty());
    EXPECT_TRUE(console.empty());
    EXPECT_EQ(xb::getVar("X").asNumber(), 1);

    // Console and the alternate file take the same lines.
    app::scriptOutput().console = true;
    app::scriptOutput().alternate = true;
    app::scriptOutput().alternateFile = "salida.txt";
    app::EJECUTAR("TRES.RPO");
    EXPECT_EQ(console, (std::vector<std::string>{"[note", "         1"}));
    std::ifstream f(dir.filePath("salida.txt").toStdString(), std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    EXPECT_EQ(ss.str(), "[note\r\n         1\r\n");
}

TEST_F(ScriptTest, LinesSplitAtLineBreaksDroppingEmptyOnes) {
    EXPECT_EQ(app::splitScriptLines("a\r\n\r\nb\nc"), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(app::splitScriptLines("\r\n\r\n"), std::vector<std::string>{});
    EXPECT_EQ(app::splitScriptLines("only"), std::vector<std::string>{"only"});
}

TEST_F(ScriptTest, CodeBlockLineRunsOverTheRecordsTheTableHadWhenItStarted) {
    numbers(5);
    xb::createPrivate("SEEN", xb::Value::newArray());
    // The block adds a record each time: the new ones are not visited, so
    // the run ends having seen only the five records that were there. (A
    // line with an assignment in it is run for its effect only, so the block
    // does its work through functions.)
    loose("SUMA.RPO", "{|| AADD(SEEN, T->N), DBAPPEND(), FIELDPUT(1, 100), DBCOMMIT() }\r\n");
    app::EJECUTAR("SUMA.RPO");
    ASSERT_EQ(xb::getVar("SEEN").arrayPtr()->items.size(), 5u);
    EXPECT_EQ(xb::getVar("SEEN").arrayPtr()->items[4].asNumber(), 5);
    EXPECT_EQ(dbf::workspace().area("T")->recCount(), 10u);

    // With no table in the current area the block runs on nothing.
    dbf::workspace().closeAll();
    dbf::workspace().select(1);
    xb::assignVar("SEEN", xb::Value::newArray());
    app::EJECUTAR("SUMA.RPO");
    EXPECT_TRUE(xb::getVar("SEEN").arrayPtr()->items.empty());
}

TEST_F(ScriptTest, ExitEndsTheRunAfterItsLineAndNestedRunsKeepTheirOwnVariables) {
    xb::createPrivate("TRAZA", xb::Value::str(""));
    loose("INNER.RPO", "TRAZA := TRAZA + \"i\"\r\n_EXIT := .T.\r\nTRAZA := TRAZA + \"X\"\r\n");
    loose("OUTER.RPO",
          "TRAZA := TRAZA + \"a\"\r\nEJECUTAR(\"INNER.RPO\")\r\nTRAZA := TRAZA + "
          "iif(_EXIT, \"!\", \"b\")\r\n_EXIT := .T.\r\nTRAZA := TRAZA + \"Z\"\r\n");
    app::EJECUTAR("OUTER.RPO");
    // The inner _EXIT ended only the inner run; the outer one went on until
    // its own.
    EXPECT_EQ(xb::getVar("TRAZA").asString(), "aib");
    EXPECT_FALSE(xb::varExists("_EXIT"));
    EXPECT_FALSE(xb::varExists("G_REP"));
}

TEST_F(ScriptTest, RunVariablesAndLineNumberDuringTheRun) {
    numbers(2);
    xb::createPrivate("SEEN", xb::Value());
    loose("VARS.RPO", "\"hola\"\r\nSEEN := {G_REP, A_P, OAPEJEC:nLinEjec}\r\n");
    app::EJECUTAR("VARS.RPO");
    xb::Value seen = xb::getVar("SEEN");
    ASSERT_TRUE(seen.isArray());
    EXPECT_EQ(seen.arrayPtr()->items[0].asString(), "SEEN := {G_REP, A_P, OAPEJEC:nLinEjec}");
    EXPECT_EQ(seen.arrayPtr()->items[1].asNumber(), dbf::workspace().current());
    EXPECT_EQ(seen.arrayPtr()->items[2].asNumber(), 2);
    EXPECT_EQ(xb::evalText("OAPEJEC:nLinEjec").asNumber(), 0);
}

TEST_F(ScriptTest, AFailingLineNamesItsTextAndNumberInTheCallChain) {
    loose("MALO.RPO", "1\r\nNOEXISTE_FN()\r\n");
    std::string info;
    xb::setErrorHandler([&](xb::Error&) {
        for (const auto& f : xb::callStack())
            if (f.name == "EJECUTAR") info = f.info;
        return xb::HandlerAnswer{};
    });
    EXPECT_THROW(app::EJECUTAR("MALO.RPO"), xb::Break);
    EXPECT_EQ(info, "NOEXISTE_FN()");
}

TEST_F(ScriptTest, CacheKeyHoldsTheWholeNameAndFormDecidesWhatIsCached) {
    EXPECT_EQ(app::scriptCacheKey("infpro.rpo"), "VINFPRO_RPO");
    EXPECT_NE(app::scriptCacheKey("INFPRO.RPO"), app::scriptCacheKey("INFPRC.RPO"));
    EXPECT_EQ(app::scriptCacheKey("EXT"), "VEXT");
    EXPECT_EQ(app::scriptCacheKey("..\\X.RPO"), "");
    EXPECT_NE(app::scriptCacheKey("INF-1.RPO"), app::scriptCacheKey("INF_1.RPO"));

    xb::createPrivate("N", xb::Value::integer(0));
    loose("EXT", "N := N + 1\r\n");
    loose("EXTRA.RPO", "N := N + 10\r\n");
    app::EJECUTAR("EXT");
    EXPECT_TRUE(xb::varExists("VEXT"));  // "EXT" in _FORM names it
    app::EJECUTAR("EXTRA.RPO");
    EXPECT_FALSE(xb::varExists("VEXTRA_RPO"));
    // The cached lines run even after the file changed.
    loose("EXT", "N := N + 100\r\n");
    app::EJECUTAR("EXT");
    EXPECT_EQ(xb::getVar("N").asNumber(), 12);
}

TEST_F(ScriptTest, SourceArgumentRunsWhenNoLooseFileAndMissingScriptsAreTold) {
    xb::createPrivate("N", xb::Value::integer(0));
    app::EJECUTAR("NUEVO.RPO", std::string("N := 7"));
    EXPECT_EQ(xb::getVar("N").asNumber(), 7);
    loose("NUEVO.RPO", "N := 8\r\n");
    app::EJECUTAR("NUEVO.RPO", std::string("N := 7"));
    EXPECT_EQ(xb::getVar("N").asNumber(), 8);

    app::EJECUTAR("FALTA.RPO");
    ASSERT_FALSE(alerts().empty());
    EXPECT_NE(alerts().back().find("No se encuentra el formato FALTA.RPO"), std::string::npos);
}

TEST_F(ScriptTest, NamesThatReachOutsideTheScriptFolderAreRefused) {
    std::ofstream(dir.filePath("SECRETO.RPO").toStdString()) << "N := 99\r\n";
    xb::createPrivate("N", xb::Value::integer(0));
    for (const std::string& bad : std::vector<std::string>{
             "..\\SECRETO.RPO", "../SECRETO.RPO", "/etc/passwd", "\\SECRETO.RPO", "C:SECRETO.RPO",
             "SUB\\..\\..\\SECRETO.RPO", "SUB\\\\X.RPO", "A|B.RPO", "A\x01.RPO",
             std::string(300, 'A') + ".RPO"}) {
        scripted.clear();
        app::EJECUTAR(bad);
        ASSERT_EQ(alerts().size(), 1u) << bad;
        EXPECT_NE(alerts()[0].find("no es v\xe1lido"), std::string::npos) << bad;
    }
    EXPECT_EQ(xb::getVar("N").asNumber(), 0);
    xb::assignVar("CDIRRPO", xb::Value::str("..\\"));
    xb::evalText("ENCABEZADO('SECRETO.RPO')");
    EXPECT_EQ(xb::getVar("N").asNumber(), 0);

    // Names the file system holds are run: a hyphen, an accented letter,
    // the body of a short entry script, a header in a folder of its own.
    scripted.clear();
    loose("INF-1.RPO", "N := N + 1\r\n");
    loose("A\xc3\x91OS.RPO", "N := N + 10\r\n");  // as the file system names it
    loose("INF.RPc.rpo", "N := N + 100\r\n");
    QDir(dir.filePath("Prueba")).mkdir("Cabeceras");
    loose("Cabeceras/ENCAB.RPO", "N := N + 1000\r\n");
    for (const char* name : {"INF-1.RPO", "a\xf1os.rpo", "INF.RPc.rpo"}) app::EJECUTAR(name);
    xb::assignVar("CDIRRPO", xb::Value::str("Cabeceras\\"));
    xb::evalText("ENCABEZADO('ENCAB.RPO')");
    EXPECT_TRUE(alerts().empty()) << alerts()[0];
    EXPECT_EQ(xb::getVar("N").asNumber(), 1111);
}

TEST_F(ScriptTest, FunctionsThePlatformLacksFailThroughTheHandler) {
    std::string message;
    xb::setErrorHandler([&](xb::Error& e) {
        message = e.description;
        return xb::HandlerAnswer{};
    });
    EXPECT_THROW(xb::evalText("INIT_PORT(1)"), xb::Break);
    EXPECT_NE(message.find("puertos serie"), std::string::npos);
    EXPECT_THROW(xb::evalText("LIBDO(1)"), xb::Break);
    EXPECT_NE(message.find("LIBDO"), std::string::npos);
    EXPECT_FALSE(xb::evalText("KEYPUT(13)").asLogical());  // no field has the focus
    EXPECT_EQ(xb::evalText("ORDKEYCOUNT()").type(), 'N');
    EXPECT_EQ(xb::evalText("DISKSPACE() > 0").asLogical(), true);
}

TEST_F(ScriptTest, WaitRunTakesAnArgumentListWithoutAShell) {
    EXPECT_EQ(xb::evalText("WAITRUN(\"sh\", {\"-c\", \"exit 3\"})").asNumber(), 3);
    // A blank inside an argument stays inside it: nothing is split or expanded.
    EXPECT_EQ(xb::evalText("WAITRUN(\"touch\", {\"dos palabras;x\"})").asNumber(), 0);
    EXPECT_TRUE(QFile::exists(dir.filePath("dos palabras;x")));
    EXPECT_EQ(xb::evalText("WAITRUN(\"true\")").asNumber(), 0);
}

}  // namespace
