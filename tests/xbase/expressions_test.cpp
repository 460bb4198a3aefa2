// Operators, precedence, comparison rules, assignment, macros, blocks and arrays.
#include "xbase/date.h"
#include "xbtest.h"

using namespace xbt;

using Expressions = XbTest;

TEST_F(Expressions, TextEqualityFollowsSetExact) {
    EXPECT_TRUE(evl(R"("ABC" = "AB")"));
    EXPECT_FALSE(evl(R"("AB" = "ABC")"));
    EXPECT_FALSE(evl(R"("ABC" == "AB")"));
    EXPECT_TRUE(evl(R"("ABC" = "")"));
    EXPECT_TRUE(evl(R"("AB" == "AB")"));
    EXPECT_TRUE(evl(R"("ABC" != "ABD")"));
    EXPECT_FALSE(evl(R"("ABC" <> "AB")"));
    EXPECT_TRUE(evl(R"("AB" < "ABC")"));
    EXPECT_FALSE(evl(R"("ABC" > "AB")"));
    EXPECT_TRUE(evl(R"("ABC" >= "AB")"));
    xb::settings().exact = true;
    EXPECT_FALSE(evl(R"("ABC" = "AB")"));
    EXPECT_TRUE(evl(R"("AB  " = "AB")"));
    EXPECT_FALSE(evl(R"("AB  " == "AB")"));
    EXPECT_TRUE(evl(R"("ABC" > "AB")"));
}

TEST_F(Expressions, ContainsOperator) {
    EXPECT_FALSE(evl(R"("" $ "ABC")"));
    EXPECT_TRUE(evl(R"("B" $ "ABC")"));
    EXPECT_FALSE(evl(R"("BD" $ "ABC")"));
    EXPECT_TRUE(evl(R"("abc" $ "xxabcxx")"));
}

TEST_F(Expressions, PrecedenceAndAssociativity) {
    EXPECT_EQ(evn("2 + 3 * 4"), 14);
    EXPECT_EQ(evn("(2 + 3) * 4"), 20);
    EXPECT_EQ(evn("2 ** 3 ** 2"), 64);  // left-associative
    EXPECT_EQ(evn("-2 ** 2"), 4);       // unary minus binds tighter
    EXPECT_EQ(evn("10 - 4 - 3"), 3);
    EXPECT_EQ(evn("17 % 5"), 2);
    EXPECT_EQ(evn("-7 % 3"), 2);  // remainder takes the divisor's sign
    EXPECT_EQ(evn("2 ^ 10"), 1024);
    EXPECT_TRUE(evl("1 < 2 .AND. 3 < 4"));
    EXPECT_TRUE(evl(".T. .OR. .F. .AND. .F."));  // AND before OR
    EXPECT_FALSE(evl(".NOT. 1 < 2"));            // NOT below comparison
    EXPECT_TRUE(evl("!.F."));
    EXPECT_TRUE(evl(".y. .and. !.n."));
}

TEST_F(Expressions, ShortCircuitLogic) {
    // The right side would fail; it must not run.
    EXPECT_FALSE(evl(".F. .AND. NOSUCHFUNC()"));
    EXPECT_TRUE(evl(".T. .OR. NOSUCHFUNC()"));
    EXPECT_EQ(errorOf(".T. .AND. 1").first, xb::gen::Arg);
}

TEST_F(Expressions, TextConcatenation) {
    EXPECT_EQ(evs(R"("AB " + "CD")"), "AB CD");
    EXPECT_EQ(evs(R"("AB  " - "CD")"), "ABCD  ");
    EXPECT_EQ(evs(R"("   " - "X")"), "X   ");
    EXPECT_EQ(evs(R"('single' + [bracket])"), "singlebracket");
    EXPECT_EQ(errorOf(R"("A" + 1)"), std::make_pair(xb::gen::Arg, 1081));
    EXPECT_EQ(errorOf(R"(1 - "A")"), std::make_pair(xb::gen::Arg, 1082));
}

TEST_F(Expressions, DateArithmetic) {
    xb::Value d = ev("CtoD('28-02-2024') + 1");
    ASSERT_EQ(d.type(), 'D');
    EXPECT_EQ(xb::dtos(d.asDate()), "20240229");
    EXPECT_EQ(xb::dtos(ev("1 + StoD('20231231')").asDate()), "20240101");
    EXPECT_EQ(xb::dtos(ev("StoD('20240301') - 1").asDate()), "20240229");
    EXPECT_EQ(evn("StoD('20240301') - StoD('20240101')"), 60);
    EXPECT_TRUE(evl("StoD('20240301') > StoD('20240101')"));
    EXPECT_EQ(ev("CtoD('') + 5").asDate(), 0);  // the empty date stays empty
    EXPECT_EQ(errorOf("StoD('20240301') + StoD('20240101')").first, xb::gen::Arg);
}

TEST_F(Expressions, DivisionByZeroRaisesCode5AndHandlerMaySubstitute) {
    EXPECT_EQ(errorOf("1/0"), std::make_pair(xb::gen::ZeroDiv, 1340));
    EXPECT_EQ(errorOf("5 % 0").first, xb::gen::ZeroDiv);
    // The program's handler answers 0 for a division by zero.
    xb::setErrorHandler([](xb::Error& e) {
        if (e.genCode == xb::gen::ZeroDiv)
            return xb::HandlerAnswer{xb::ErrorAction::Substitute, xb::Value::num(0)};
        return xb::HandlerAnswer{};
    });
    EXPECT_EQ(evn("10 + 1/0"), 10);
}

TEST_F(Expressions, NumberWidthsAndDecimalsFollowTheOperands) {
    xb::Value lit = ev("1.50");
    EXPECT_EQ(lit.numDecimals(), 2);
    EXPECT_EQ(lit.toText(), "         1.50");  // 10 integer positions
    EXPECT_EQ(ev("1.5 + 1.25").numDecimals(), 2);
    EXPECT_EQ(ev("1.5 - 1").numDecimals(), 1);
    EXPECT_EQ(ev("1.5 * 1.25").numDecimals(), 3);
    EXPECT_EQ(ev("10 / 4").toText(), "         2.50");
    EXPECT_EQ(ev("10 / 2").toText(), "         5.00");
    EXPECT_EQ(ev("7").toText(), "         7");
    EXPECT_EQ(ev("-7").toText(), "        -7");
    EXPECT_EQ(ev("123456789012").toText(), "123456789012");
    xb::settings().decimals = 4;
    EXPECT_EQ(ev("1 / 3").numDecimals(), 4);
}

TEST_F(Expressions, InlineAssignmentAndLists) {
    EXPECT_EQ(evn("(x := 4) * 2"), 8);
    EXPECT_EQ(evn("x"), 4);
    EXPECT_EQ(evn("a := b := 3, a + b"), 6);
    EXPECT_EQ(evn("x += 10"), 14);
    EXPECT_EQ(evs("s := 'A', s += 'B', s"), "AB");
    EXPECT_EQ(evn("(1, 2, 3)"), 3);
    EXPECT_EQ(evn("MAX(y := 5, 2) + y"), 10);
    EXPECT_EQ(errorOf("1 := 2").first, xb::gen::Syntax);
    EXPECT_EQ(errorOf("(1 + x) := 2").first, xb::gen::Syntax);
}

TEST_F(Expressions, IifEvaluatesOnlyTheChosenBranch) {
    EXPECT_EQ(evs("IIF(1 > 0, 'si', NOSUCH())"), "si");
    EXPECT_EQ(evs("IF(.F., NOSUCH(), 'no')"), "no");
    EXPECT_TRUE(ev("IIF(.F., 1)").isNil());
    EXPECT_EQ(errorOf("IIF(1, 2, 3)").first, xb::gen::Arg);
}

TEST_F(Expressions, MacroOperator) {
    xb::createPublic("cExpr", xb::Value::str("2 * 21"));
    EXPECT_EQ(evn("&cExpr"), 42);
    EXPECT_EQ(evn("&cExpr. + 1"), 43);
    xb::createPublic("cName", xb::Value::str("nTotal"));
    EXPECT_EQ(evn("&cName := 7"), 7);
    EXPECT_EQ(evn("nTotal"), 7);
    EXPECT_EQ(evn("&('1' + '2')"), 12);
    // A macro naming itself recurses until the nesting limit: an error, not a crash.
    xb::createPublic("cSelf", xb::Value::str("&cSelf"));
    EXPECT_EQ(errorOf("&cSelf").first, xb::gen::Complexity);
    xb::createPublic("nNum", xb::Value::num(1));
    EXPECT_EQ(errorOf("&nNum").first, xb::gen::Arg);
}

TEST_F(Expressions, CodeBlocksWithParametersAndClosures) {
    EXPECT_EQ(evn("EVAL({|a, b| a * b}, 6, 7)"), 42);
    EXPECT_EQ(evn("EVAL({|| 1, 2, 3})"), 3);
    EXPECT_TRUE(ev("EVAL({|a, b| b}, 1)").isNil());
    // Parameters are local: a memory variable of the same name is untouched.
    xb::createPublic("a", xb::Value::num(100));
    EXPECT_EQ(evn("EVAL({|a| a + 1}, 1)"), 2);
    EXPECT_EQ(evn("a"), 100);
    // An inner block sees the parameters of the block that created it.
    EXPECT_EQ(evn("EVAL(EVAL({|x| {|y| x + y}}, 10), 5)"), 15);
    EXPECT_EQ(evn("EVAL({|x| x := x * 2, x}, 21)"), 42);
    xb::Value b = xb::compileBlock("{|n| n + 1}");
    ASSERT_EQ(b.type(), 'B');
    EXPECT_EQ(xb::evalBlock(b, {xb::Value::num(1)}).asNumber(), 2);
    // Recursion through a block is bounded.
    ev("bRec := {|| EVAL(bRec)}");
    EXPECT_EQ(errorOf("EVAL(bRec)").first, xb::gen::Complexity);
}

TEST_F(Expressions, BlocksOutliveTheirText) {
    xb::Value b;
    {
        xb::Expr e = xb::compile("{|p| p + '!'}");
        b = e.eval();
    }
    for (int i = 0; i < 600; ++i) xb::evalText("1 + " + std::to_string(i));  // churns the cache
    EXPECT_EQ(xb::evalBlock(b, {xb::Value::str("hola")}).asString(), "hola!");
}

TEST_F(Expressions, ArraysAreSharedGrowAndAreBoundsChecked) {
    ev("a := {1, {2, 3}, 'x'}");
    EXPECT_EQ(evn("a[2][2]"), 3);
    EXPECT_EQ(evn("a[2, 1]"), 2);
    ev("b := a");
    ev("b[1] := 99");
    EXPECT_EQ(evn("a[1]"), 99);
    ev("AADD(a, 'new')");
    EXPECT_EQ(evn("LEN(b)"), 4);
    EXPECT_EQ(errorOf("a[0]"), std::make_pair(xb::gen::Bound, 1132));
    EXPECT_EQ(errorOf("a[5]").first, xb::gen::Bound);
    EXPECT_EQ(errorOf("a[-1] := 1"), std::make_pair(xb::gen::Bound, 1133));
    EXPECT_EQ(errorOf("a['x']").first, xb::gen::Bound);
    EXPECT_EQ(errorOf("'abc'[1]").first, xb::gen::Arg);
    EXPECT_EQ(evn("LEN({})"), 0);
    EXPECT_EQ(evn("LEN({,})"), 2);
    EXPECT_TRUE(evl("a == b"));
    EXPECT_FALSE(evl("{1} == {1}"));
}

TEST_F(Expressions, NilComparesOnlyForEquality) {
    EXPECT_TRUE(evl("NIL == NIL"));
    EXPECT_FALSE(evl("1 == NIL"));
    EXPECT_TRUE(evl("'' != NIL"));
    EXPECT_EQ(errorOf("NIL < 1").first, xb::gen::Arg);
}

TEST_F(Expressions, SyntaxErrorsAreReadable) {
    for (const char* bad : {"", "1 +", "(1", "{1, 2", "'open", "a[1", "f(1,", "1 2", "{|a b| a}",
                            "x->", "&", "IIF(1)", "\x01"}) {
        try {
            xb::compile(bad);
            ADD_FAILURE() << "compiled: " << bad;
        } catch (const xb::Break& b) {
            EXPECT_EQ(b.error.genCode, xb::gen::Syntax) << bad;
            EXPECT_NE(b.error.description.find("Error de sintaxis"), std::string::npos);
        }
    }
}

TEST_F(Expressions, DeepNestingIsRefusedNotCrashed) {
    std::string deep(100000, '(');
    EXPECT_EQ(errorOf(deep + "1").first, xb::gen::Syntax);
    std::string minus(100000, '-');
    EXPECT_EQ(errorOf(minus + "1").first, xb::gen::Syntax);
    std::string arrays;
    for (int i = 0; i < 5000; ++i) arrays += "{";
    EXPECT_EQ(errorOf(arrays).first, xb::gen::Syntax);
}

TEST_F(Expressions, CompiledOnceEvaluatedMany) {
    xb::Expr e = xb::compile("n := n + 1");
    xb::createPublic("n", xb::Value::num(0));
    for (int i = 0; i < 1000; ++i) e.eval();
    EXPECT_EQ(evn("n"), 1000);
    // A function registered after compiling is found at evaluation.
    xb::Expr late = xb::compile("LATER(2)");
    EXPECT_EQ(errorOf("LATER(2)"), std::make_pair(xb::gen::NoFunc, 1001));
    xb::registerFunction("later", [](xb::Args& a) { return xb::Value::num(a[0].asNumber() * 10); });
    EXPECT_EQ(late.eval().asNumber(), 20);
}

TEST_F(Expressions, DeeplyNestedValuesAreFreedWithoutRecursion) {
    // Each step wraps the previous list: freeing must not recurse per level.
    EXPECT_EQ(evn("a := {}, AEVAL(ARRAY(60000), {|| a := {a}}), LEN(a)"), 1);
    ev("o := TPublic(), AEVAL(ARRAY(40000), {|| o := TPublic():New():Add('x', o)})");
    ev("b := NIL, AEVAL(ARRAY(40000), {|| b := EVAL({|p| {|| p}}, b)})");
    xb::releaseVars("*");
    // Cycles: an array holding itself is freed by a reset.
    ev("c := {}, AADD(c, c)");
}

TEST_F(Expressions, FunctionNamesEndingInDollar) {
    xb::registerFunction("FINAL$", [](xb::Args&) { return xb::Value::str("fin"); });
    EXPECT_EQ(evs("FINAL$()"), "fin");
    EXPECT_EQ(evs("final$( )"), "fin");
    // Without such a function, or with a blank between, '$' is the operator.
    xb::createPublic("OTRO", xb::Value::str("B"));
    EXPECT_TRUE(evl("OTRO$('ABC')"));
    xb::createPublic("FINAL", xb::Value::str("X"));
    EXPECT_FALSE(evl("FINAL $ ('ABC')"));
    EXPECT_TRUE(evl("FINAL$'XYZ'"));
}

TEST_F(Expressions, IncrementAndDecrement) {
    ev("n := 5");
    EXPECT_EQ(evn("n++"), 5);
    EXPECT_EQ(evn("n"), 6);
    EXPECT_EQ(evn("++n"), 7);
    EXPECT_EQ(evn("n--"), 7);
    EXPECT_EQ(evn("--n"), 5);
    ev("a := {1}, a[1]++");
    EXPECT_EQ(evn("a[1]"), 2);
    EXPECT_EQ(evs("d := StoD('20240228'), DtoS(++d)"), "20240229");
    EXPECT_EQ(evn("n - -1"), 6);  // blank between the signs: two operators
    EXPECT_EQ(errorOf("++1").first, xb::gen::Syntax);
    EXPECT_EQ(errorOf("s := 'a', s++").first, xb::gen::Arg);
}

TEST_F(Expressions, MemoValuesActAsText) {
    xb::createPublic("mNota", xb::Value::memo("nota "));
    EXPECT_EQ(evs("VALTYPE(mNota)"), "M");
    EXPECT_EQ(evs("VALTYPE(mNota + 'x')"), "C");
    EXPECT_EQ(evs("VALTYPE('x' + mNota)"), "C");
    EXPECT_EQ(evs("mNota - 'x'"), "notax ");
    EXPECT_TRUE(evl("'ot' $ mNota"));
    EXPECT_TRUE(evl("mNota = 'no'"));
    EXPECT_EQ(evs("VALTYPE(UPPER(mNota))"), "M");
}
