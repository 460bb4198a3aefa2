// Memory variables (public, private, dynamic scope), fields through the
// table interface, and the call chain.
#include "xbtest.h"

using namespace xbt;

using Variables = XbTest;

TEST_F(Variables, PrivateVanishesWhenItsFunctionReturnsPublicSurvives) {
    {
        xb::Procedure p("CREADOR");
        xb::createPrivate("cPriv", xb::Value::str("p"));
        xb::createPublic("cPub", xb::Value::str("q"));
        EXPECT_EQ(evs("cPriv"), "p");
    }
    EXPECT_FALSE(xb::varExists("cPriv"));
    EXPECT_EQ(evs("cPub"), "q");
    EXPECT_EQ(evs("TYPE('cPriv')"), "U");
}

TEST_F(Variables, PrivatesAreSeenByCalleesAndHideOuterOnes) {
    xb::createPublic("nVal", xb::Value::num(1));
    xb::registerFunction("INNER", [](xb::Args&) { return xb::getVar("nVal"); });
    {
        xb::Procedure outer("OUTER");
        xb::createPrivate("nVal", xb::Value::num(2));
        EXPECT_EQ(evn("INNER()"), 2);
        {
            xb::Procedure deeper("DEEPER");
            xb::createPrivate("NVAL", xb::Value::num(3));
            EXPECT_EQ(evn("INNER()"), 3);
            ev("nVal := 30");  // assigns the visible one
        }
        EXPECT_EQ(evn("nVal"), 2);
    }
    EXPECT_EQ(evn("nVal"), 1);
}

TEST_F(Variables, PrivateReleasedWhenFunctionEndsByError) {
    xb::registerFunction("FALLA", [](xb::Args&) {
        xb::Procedure p("FALLA", 12);
        xb::createPrivate("cTemp", xb::Value::str("x"));
        return xb::evalText("1 / 0");
    });
    size_t depth = xb::callDepth();
    EXPECT_EQ(errorOf("FALLA()").first, xb::gen::ZeroDiv);
    EXPECT_FALSE(xb::varExists("cTemp"));
    EXPECT_EQ(xb::callDepth(), depth);
}

TEST_F(Variables, AssignmentCreatesAPrivateOfTheCurrentFunction) {
    {
        xb::Procedure p("SCRIPT");
        ev("nNuevo := 5");
        EXPECT_EQ(evn("nNuevo"), 5);
    }
    EXPECT_FALSE(xb::varExists("nNuevo"));
}

TEST_F(Variables, NamesComputedAtRunTimeAndReleaseByPattern) {
    for (int i = 1; i <= 3; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "cVar%03d", i);
        xb::createPublic(name, xb::Value::num(i));
    }
    xb::createPublic("IND1", xb::Value::num(7));
    EXPECT_EQ(evn("cVar002"), 2);
    EXPECT_EQ(evn("&('cVar' + '003')"), 3);
    xb::releaseVars("cvar*");
    EXPECT_FALSE(xb::varExists("cVar001"));
    EXPECT_FALSE(xb::varExists("CVAR003"));
    EXPECT_TRUE(xb::varExists("ind1"));
    xb::createPublic("IND2", xb::Value::num(8));
    xb::releaseVars("IND?", false);  // all but those matching
    EXPECT_TRUE(xb::varExists("IND2"));
    xb::releaseVars("*");
    EXPECT_TRUE(xb::visibleVars().empty());
    EXPECT_TRUE(xb::matchPattern("A*B?", "aXXbc"));
    EXPECT_FALSE(xb::matchPattern("A*B?", "aXXb"));
}

TEST_F(Variables, ReleaseOneAndTypeQuery) {
    xb::createPublic("dHoy", xb::Value::date(2451545));
    xb::createPublic("aLista", xb::Value::newArray(2));
    EXPECT_EQ(evs("TYPE('dHoy')"), "D");
    EXPECT_EQ(evs("TYPE('aLista')"), "A");
    EXPECT_EQ(evs("TYPE('nada_de_nada')"), "U");
    EXPECT_EQ(evs("TYPE('1 +')"), "UE");
    EXPECT_EQ(evs("TYPE('MIFUNCION()')"), "UI");
    EXPECT_EQ(evs("TYPE('UPPER(\"a\")')"), "C");  // library functions are safe to try
    EXPECT_EQ(evs("TYPE('1/0')"), "U");
    EXPECT_EQ(evs("VALTYPE(dHoy)"), "D");
    xb::releaseVar("dHoy");
    EXPECT_EQ(xb::typeOfText("dHoy"), "U");
    EXPECT_EQ(errorOf("dHoy"), std::make_pair(xb::gen::NoVar, 1003));
}

TEST_F(Variables, PublicaCreatesPublicFromAFunction) {
    {
        xb::Procedure p("PUBLIBASES");
        ev("PUBLICA('VDRPROSP', 'EMP00002\\VdrProsp.dbf')");
        ev("PUBLICA('vdrprosp', 'otra')");  // exists: only assigns
    }
    EXPECT_EQ(evs("VDRPROSP"), "otra");
}

TEST_F(Variables, CallChainHasNamesAndLinesInnermostFirst) {
    xb::Procedure a("INICIO", 10);
    xb::Procedure b("EJECUTAR", 20);
    b.setLine(3, "x := 1");
    b.setParams({xb::Value::str("INFVEN.RPO")});
    b.setLocals({xb::Value::num(1), xb::Value()});
    auto st = xb::callStack();
    ASSERT_EQ(st.size(), 2u);
    EXPECT_EQ(st[0].name, "EJECUTAR");
    EXPECT_EQ(st[0].line, 3);
    EXPECT_EQ(st[1].name, "INICIO");
    ASSERT_EQ(st[0].params.size(), 1u);
    EXPECT_EQ(st[0].params[0].asString(), "INFVEN.RPO");
    EXPECT_EQ(st[0].locals.size(), 2u);
    EXPECT_TRUE(st[1].params.empty());
    auto lines = xb::callChainLines();
    EXPECT_EQ(lines[0], "EJECUTAR(3)  : x := 1");
    EXPECT_EQ(lines[1], "INICIO(10)");
}

class Fields : public XbTest {
  protected:
    FakeTables t;
    void SetUp() override {
        XbTest::SetUp();
        xb::setFieldAccess(&t);
    }
};

TEST_F(Fields, UnqualifiedNamePrefersTheFieldOfTheCurrentArea) {
    t.open(1, "Prospecto",
           {{"CLIENTE", xb::Value::str("ACME")}, {"NUMPROSP", xb::Value::str("001")}});
    xb::createPublic("cliente", xb::Value::str("memvar"));
    EXPECT_EQ(evs("CLIENTE"), "ACME");
    EXPECT_EQ(evs("M->cliente"), "memvar");
    EXPECT_EQ(evs("MEMVAR->Cliente"), "memvar");
    t.current = 0;  // no table selected
    EXPECT_EQ(evs("CLIENTE"), "memvar");
}

TEST_F(Fields, AliasQualifiedReadAndAssign) {
    t.open(1, "Control", {{"EMPRESA", xb::Value::str("Valdrosa")}});
    t.open(2, "Vendedor", {{"POSITION", xb::Value::num(3, 3, 0)}});
    EXPECT_EQ(evs("Control->Empresa"), "Valdrosa");
    EXPECT_EQ(evn("FIELD->Position"), 3);
    EXPECT_EQ(evn("_FIELD->Position"), 3);
    ev("Control->Empresa := 'Otra'");
    EXPECT_EQ(t.areas[1].record[0].asString(), "Otra");
    // Alias and field name given at run time.
    xb::createPublic("cAli", xb::Value::str("CONTROL"));
    xb::createPublic("cCampo", xb::Value::str("empresa"));
    EXPECT_EQ(evs("(cAli)->Empresa"), "Otra");
    EXPECT_EQ(evs("&cAli->Empresa"), "Otra");
    EXPECT_EQ(evs("Control->&cCampo"), "Otra");
    xb::assignText("Control->Empresa", xb::Value::str("Por texto"));
    EXPECT_EQ(evs("Control->Empresa"), "Por texto");
    EXPECT_EQ(errorOf("Nadie->Campo"), std::make_pair(xb::gen::NoAlias, 1002));
    EXPECT_EQ(errorOf("Control->NoCampo").first, xb::gen::NoField);
    EXPECT_EQ(errorOf("Vendedor->Position := 'x'").first, xb::gen::DataType);
}

TEST_F(Fields, FieldPositionsAreCachedUntilTheAreaIsReopened) {
    t.open(1, "A", {{"X", xb::Value::str("1")}, {"Y", xb::Value::str("2")}});
    xb::Expr e = xb::compile("Y + X");
    EXPECT_EQ(e.eval().asString(), "21");
    int calls = t.fieldIndexCalls;
    for (int i = 0; i < 100; ++i) e.eval();
    EXPECT_EQ(t.fieldIndexCalls, calls);
    // Reopened with another layout: positions are looked up again.
    t.open(1, "A", {{"Y", xb::Value::str("b")}, {"X", xb::Value::str("a")}});
    EXPECT_EQ(e.eval().asString(), "ba");
    // Another area current: its own fields.
    t.open(2, "B", {{"X", xb::Value::str("p")}, {"Y", xb::Value::str("q")}});
    EXPECT_EQ(e.eval().asString(), "qp");
    t.close(2);
    t.current = 1;
    EXPECT_EQ(e.eval().asString(), "ba");
}

TEST_F(Fields, AliasedExpressionRunsWithThatAreaSelected) {
    t.open(1, "A", {{"X", xb::Value::str("uno")}});
    t.open(2, "B", {{"X", xb::Value::str("dos")}});
    xb::registerFunction("DBSELECTAREA", [this](xb::Args& a) {
        t.current = static_cast<int>(a[0].asNumber());
        return xb::Value();
    });
    EXPECT_EQ(evs("A->(X + '!')"), "uno!");
    EXPECT_EQ(t.current, 2);
}

TEST_F(Fields, MissingAliasCanBeRetriedOnceTheTableIsOpen) {
    int asked = 0;
    xb::setErrorHandler([&](xb::Error& e) {
        ++asked;
        EXPECT_EQ(e.genCode, xb::gen::NoAlias);
        EXPECT_EQ(e.operation, "PLAN->CODIGO");
        t.open(3, "Plan", {{"CODIGO", xb::Value::str("P1")}});  // the user opened it
        return xb::HandlerAnswer{xb::ErrorAction::Retry, {}};
    });
    EXPECT_EQ(evs("Plan->Codigo"), "P1");
    EXPECT_EQ(asked, 1);
}

TEST_F(Fields, ReferenceToAMissingVariableIsAnErrorOrTheSubstitute) {
    xb::registerFunction("PONE", [](xb::Args& a) {
        a.setRef(0, xb::Value::num(9));
        return xb::Value();
    });
    xb::setErrorHandler([](xb::Error& e) {
        if (e.genCode == xb::gen::NoVar)
            return xb::HandlerAnswer{xb::ErrorAction::Substitute, xb::Value::num(0)};
        return xb::HandlerAnswer{};
    });
    ev("PONE(@nNueva)");
    EXPECT_EQ(evn("nNueva"), 9);  // written back by assignment: a new private
}
