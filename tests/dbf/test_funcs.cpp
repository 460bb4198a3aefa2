// The table functions as scripts call them: opening, selecting, moving, field
// access, locks, network-error flag, filters, DBEVAL, locate, copy and append.
#include <gtest/gtest.h>

#include "dbf/dbffuncs.h"
#include "dbf/workspace.h"
#include "dbf_test_util.h"
#include "xbase/compiler.h"
#include "xbase/runtime.h"

using dbf::Table;
using dbftest::TempDir;
using xb::evalText;

namespace {

class Funcs : public ::testing::Test {
  protected:
    void SetUp() override {
        xb::resetRuntime();
        dbf::registerDbfFunctions();
        xb::setErrorHandler([this](xb::Error& e) {
            errors.push_back(e);
            xb::HandlerAnswer a;
            if (e.canSubstitute) {
                a.action = xb::ErrorAction::Substitute;
                a.value = xb::Value::logical(false);
            }
            return a;
        });
        p = d.file("Clientes.dbf");
        Table::create(p, {{"CODIGO", 'C', 6, 0},
                          {"NOMBRE", 'C', 20, 0},
                          {"SALDO", 'N', 10, 2},
                          {"ALTA", 'D', 8, 0},
                          {"NOTA", 'M', 10, 0}});
        auto t = Table::open(p, {false, false});
        const char* names[] = {"ANA", "BEATRIZ", "CARLOS", "DIANA", "ELENA"};
        for (int i = 0; i < 5; ++i) {
            t->appendBlank();
            t->putString(0, "C" + std::to_string(i + 1));
            t->putString(1, names[i]);
            t->putNumber(2, (i + 1) * 100.5);
        }
    }
    void TearDown() override {
        dbf::workspace().closeAll();
        xb::setErrorHandler({});
        xb::setFieldAccess(nullptr);
    }
    xb::Value ev(const std::string& text) { return evalText(text); }
    // Evaluates a text whose failure the handler answers with "break".
    void evBreak(const std::string& text) { EXPECT_THROW(evalText(text), xb::Break) << text; }
    std::string q(const std::string& s) { return "\"" + s + "\""; }
    void use(const std::string& alias = "CLI", bool shared = true) {
        ASSERT_TRUE(ev("DBUSEAREA(.T., NIL, " + q(p) + ", " + q(alias) + ", " +
                       (shared ? ".T." : ".F.") + ")")
                        .asLogical());
    }

    TempDir d;
    std::string p;
    std::vector<xb::Error> errors;
};

}  // namespace

TEST_F(Funcs, OpenSelectAliasAndUsed) {
    use("Cli");
    EXPECT_EQ(ev("ALIAS()").asString(), "CLI");
    EXPECT_EQ(ev("SELECT()").asNumber(), 1);
    EXPECT_TRUE(ev("USED()").asLogical());
    ev("DBUSEAREA(.T., NIL, " + q(d.path() + "\\CLIENTES.DBF") + ", \"OTRA\")");
    EXPECT_EQ(ev("SELECT()").asNumber(), 2);
    EXPECT_EQ(ev("SELECT(\"cli\")").asNumber(), 1);
    EXPECT_EQ(ev("SELECT()").asNumber(), 2);  // SELECT(alias) only asks
    ev("DBSELECTAREA(\"CLI\")");
    EXPECT_EQ(ev("SELECT()").asNumber(), 1);
    ev("DBSKIP(2)");
    EXPECT_EQ(ev("OTRA->(RECNO())").asNumber(), 1);
    EXPECT_EQ(ev("RECNO()").asNumber(), 3);
    ev("DBSELECTAREA(2)");
    ev("DBCLOSEAREA()");
    EXPECT_FALSE(ev("USED()").asLogical());
    EXPECT_EQ(ev("ALIAS()").asString(), "");
    evBreak("DBSELECTAREA(\"NOHAY\")");
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back().genCode, dbf::kErrNoAlias);
    EXPECT_EQ(errors.back().subsystem, "DBFCDX");
    // Descriptions reach the language in Windows-1252, as all its text.
    EXPECT_EQ(errors.back().description, "El alias \xabNOHAY\xbb no est\xe1 abierto.");
    ev("DBCLOSEALL()");
    EXPECT_TRUE(dbf::workspace().openAreas().empty());
}

TEST_F(Funcs, MovingAndReadingFields) {
    use();
    EXPECT_EQ(ev("NOMBRE").asString(), "ANA                 ");
    ev("DBGOBOTTOM()");
    EXPECT_EQ(ev("TRIM(NOMBRE)").asString(), "ELENA");
    EXPECT_EQ(ev("CLI->SALDO").asNumber(), 502.5);
    ev("DBSKIP()");
    EXPECT_TRUE(ev("EOF()").asLogical());
    EXPECT_EQ(ev("RECNO()").asNumber(), 6);
    EXPECT_EQ(ev("LASTREC()").asNumber(), 5);
    EXPECT_EQ(ev("RECCOUNT()").asNumber(), 5);
    ev("DBGOTOP()");
    ev("DBSKIP(-1)");
    EXPECT_TRUE(ev("BOF()").asLogical());
    ev("DBGOTO(4)");
    EXPECT_EQ(ev("FIELDGET(2)").asString(), "DIANA               ");
    EXPECT_EQ(ev("FIELDNAME(3)").asString(), "SALDO");
    EXPECT_EQ(ev("FIELDPOS(\"alta\")").asNumber(), 4);
    EXPECT_EQ(ev("FCOUNT()").asNumber(), 5);
    xb::Value st = ev("DBSTRUCT()");
    ASSERT_TRUE(st.isArray());
    ASSERT_EQ(st.arrayPtr()->items.size(), 5u);
    auto& row = st.arrayPtr()->items[2].arrayPtr()->items;
    EXPECT_EQ(row[0].asString(), "SALDO");
    EXPECT_EQ(row[1].asString(), "N");
    EXPECT_EQ(row[2].asNumber(), 10);
    EXPECT_EQ(row[3].asNumber(), 2);
}

TEST_F(Funcs, WritingNeedsTheLockOnSharedTables) {
    use();
    evBreak("FIELDPUT(2, \"SIN BLOQUEO\")");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].genCode, dbf::kErrUnlocked);
    EXPECT_NE(errors[0].filename.find("Clientes.dbf"), std::string::npos);
    EXPECT_TRUE(ev("RLOCK()").asLogical());
    ev("FIELDPUT(2, \"CON BLOQUEO\")");
    ev("FIELDPUT(5, \"nota larga\")");
    ev("DBUNLOCK()");
    EXPECT_EQ(errors.size(), 1u);
    auto t = Table::open(p);
    t->read(1);
    EXPECT_EQ(t->getString(1), "CON BLOQUEO         ");
    EXPECT_EQ(t->getMemo(4), "nota larga");
}

TEST_F(Funcs, AppendComesLockedAndNetErrWhenTheHeaderIsHeld) {
    use();
    ev("DBAPPEND()");
    EXPECT_FALSE(ev("NETERR()").asLogical());
    EXPECT_EQ(ev("RECNO()").asNumber(), 6);
    ev("FIELDPUT(1, \"C6\")");
    EXPECT_TRUE(errors.empty());
    // DBAPPEND(.F.) keeps the locks already held.
    ev("DBGOTO(2)");
    EXPECT_TRUE(ev("RLOCK()").asLogical());
    ev("DBAPPEND(.F.)");
    xb::Value locks = ev("DBRLOCKLIST()");
    ASSERT_EQ(locks.arrayPtr()->items.size(), 2u);
    EXPECT_EQ(locks.arrayPtr()->items[0].asNumber(), 2);
    EXPECT_EQ(locks.arrayPtr()->items[1].asNumber(), 7);
    ev("DBAPPEND()");
    EXPECT_EQ(ev("DBRLOCKLIST()").arrayPtr()->items.size(), 1u);
    ev("DBUNLOCK()");
    auto other = Table::open(p);
    ASSERT_TRUE(other->lockFile());
    ev("DBAPPEND()");
    EXPECT_TRUE(ev("NETERR()").asLogical());
    EXPECT_TRUE(errors.empty());  // settled through the flag, no error raised
    EXPECT_EQ(ev("LASTREC()").asNumber(), 8);
    EXPECT_FALSE(ev("RLOCK()").asLogical());
    EXPECT_FALSE(ev("FLOCK()").asLogical());
    other->unlockAll();
    EXPECT_TRUE(ev("FLOCK()").asLogical());
}

TEST_F(Funcs, OpenRefusedBySharingSetsNetErrSilently) {
    auto held = Table::open(p, {false, false});
    xb::Value r = ev("DBUSEAREA(.T., NIL, " + q(p) + ", \"CLI\", .T.)");
    EXPECT_FALSE(r.asLogical());
    EXPECT_TRUE(ev("NETERR()").asLogical());
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].genCode, 21);
    EXPECT_EQ(errors[0].osCode, 32);
    EXPECT_TRUE(errors[0].canSubstitute);
    EXPECT_FALSE(ev("USED()").asLogical());
    held.reset();
    use();
    EXPECT_FALSE(ev("NETERR()").asLogical());
}

TEST_F(Funcs, DeleteRecallAndDeletedHidden) {
    use();
    ev("DBGOTO(2)");
    ev("RLOCK()");
    ev("DBDELETE()");
    EXPECT_TRUE(ev("DELETED()").asLogical());
    ev("DBUNLOCK()");
    ev("DBGOTOP()");
    ev("DBSKIP()");
    EXPECT_EQ(ev("RECNO()").asNumber(), 3);  // SET DELETED is on by default
    ev("DBGOTO(2)");
    ev("RLOCK()");
    ev("DBRECALL()");
    EXPECT_FALSE(ev("DELETED()").asLogical());
}

TEST_F(Funcs, FilterEvalLocateContinue) {
    use();
    ev("DBSETFILTER(NIL, \"SALDO > 250\")");
    EXPECT_EQ(ev("DBFILTER()").asString(), "SALDO > 250");
    ev("DBGOTOP()");
    EXPECT_EQ(ev("RECNO()").asNumber(), 3);
    xb::assignVar("nSuma", xb::Value::num(0));
    ev("DBEVAL({|| nSuma := nSuma + SALDO})");
    EXPECT_DOUBLE_EQ(xb::getVar("nSuma").asNumber(), 301.5 + 402 + 502.5);
    ev("DBCLEARFILTER()");
    xb::assignVar("nCuenta", xb::Value::num(0));
    ev("DBEVAL({|| nCuenta := nCuenta + 1}, {|| \"I\" $ NOMBRE})");
    EXPECT_EQ(xb::getVar("nCuenta").asNumber(), 2);  // BEATRIZ, DIANA
    EXPECT_TRUE(ev("__DBLOCATE({|| \"I\" $ NOMBRE})").asLogical());
    EXPECT_TRUE(ev("FOUND()").asLogical());
    EXPECT_EQ(ev("RECNO()").asNumber(), 2);
    ev("__DBCONTINUE()");
    EXPECT_EQ(ev("RECNO()").asNumber(), 4);
    ev("__DBCONTINUE()");
    EXPECT_FALSE(ev("FOUND()").asLogical());
    EXPECT_TRUE(ev("EOF()").asLogical());
}

TEST_F(Funcs, CreateCopyAndAppendFrom) {
    use();
    std::string nuevo = d.file("nuevo.dbf");
    ev("DBCREATE(" + q(nuevo) +
       ", {{\"CODIGO\", \"C\", 6, 0}, {\"SALDO\", \"N\", 12, 2}, {\"EXTRA\", \"L\", 1, 0}})");
    ASSERT_TRUE(errors.empty());
    evBreak("DBCREATE(" + q(d.file("malo.dbf")) + ", {{\"NOMBREDEMASIADOLARGO\", \"C\", 6, 0}})");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].description.find("m\xe1s de 10"), std::string::npos);
    ev("DBUSEAREA(.T., NIL, " + q(nuevo) + ", \"NUEVO\", .F.)");
    EXPECT_EQ(ev("__DBAPP(" + q(p) + ", NIL, {|| SALDO > 200})").asNumber(), 4);
    EXPECT_EQ(ev("LASTREC()").asNumber(), 4);
    ev("DBGOTOP()");
    EXPECT_EQ(ev("CODIGO").asString(), "C2    ");
    EXPECT_DOUBLE_EQ(ev("SALDO").asNumber(), 201);
    ev("DBSELECTAREA(\"CLI\")");
    std::string copia = d.file("copia.dbf");
    EXPECT_EQ(
        ev("__DBCOPY(" + q(copia) + ", {\"CODIGO\", \"NOTA\"}, {|| RECNO() % 2 == 1})").asNumber(),
        3);
    auto t = Table::open(copia);
    EXPECT_EQ(t->structure(),
              (std::vector<dbf::FieldDef>{{"CODIGO", 'C', 6, 0}, {"NOTA", 'M', 10, 0}}));
    EXPECT_EQ(t->recCount(), 3u);
    t->read(3);
    EXPECT_EQ(t->getString(0), "C5    ");
    ev("__DBCOPYSTRUCT(" + q(d.file("estr.dbf")) + ")");
    auto e = Table::open(d.file("estr.dbf"));
    EXPECT_EQ(e->recCount(), 0u);
    EXPECT_EQ(e->fieldCount(), 5);
}

TEST_F(Funcs, PackAndZapNeedExclusiveUse) {
    use();
    ev("DBGOTO(1)");
    ev("RLOCK()");
    ev("DBDELETE()");
    evBreak("__DBPACK()");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].genCode, dbf::kErrShared);
    ev("DBCLOSEAREA()");
    use("CLI", false);
    ev("__DBPACK()");
    EXPECT_EQ(ev("LASTREC()").asNumber(), 4);
    EXPECT_EQ(ev("TRIM(NOMBRE)").asString(), "BEATRIZ");
    ev("__DBZAP()");
    EXPECT_EQ(ev("LASTREC()").asNumber(), 0);
    EXPECT_TRUE(ev("EOF()").asLogical());
    EXPECT_EQ(errors.size(), 1u);
}

TEST_F(Funcs, FileNamesFromScriptsAreWindows1252) {
    // "Compañía.dbf" on disk (UTF-8), named by a script in Windows-1252.
    std::string onDisk = d.file(
        "Compa\xc3\xb1\xc3\xad"
        "a.dbf");
    Table::create(onDisk, {{"A", 'C', 1, 0}});
    EXPECT_TRUE(ev("DBUSEAREA(.T., NIL, " +
                   q(d.path() + "/COMPA\xd1\xcd"
                                "A.DBF") +
                   ", \"CIA\")")
                    .asLogical());
    EXPECT_TRUE(errors.empty());
    EXPECT_EQ(dbf::workspace().selected()->table().path(), onDisk);
}

TEST_F(Funcs, UnusedAreaAnswersQuietlyButMovingIsAnError) {
    EXPECT_EQ(ev("RECNO()").asNumber(), 0);
    EXPECT_FALSE(ev("EOF()").asLogical());
    EXPECT_EQ(ev("FCOUNT()").asNumber(), 0);
    evBreak("DBSKIP()");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].genCode, dbf::kErrNoTable);
}
