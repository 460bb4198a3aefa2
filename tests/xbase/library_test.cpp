// The library functions: texts, numbers, dates, arrays, types.
#include "xbase/date.h"
#include "xbtest.h"

using namespace xbt;

using Library = XbTest;

TEST_F(Library, TextFunctions) {
    EXPECT_EQ(evs("UPPER('jur\xED"
                  "dica')"),
              "JUR\xCD"
              "DICA");
    EXPECT_EQ(evs("LOWER('\xC1RBOL \xD1')"), "\xE1rbol \xF1");
    EXPECT_EQ(evs("ALLTRIM('  a b  ')"), "a b");
    EXPECT_EQ(evs("LTRIM('  a ')"), "a ");
    EXPECT_EQ(evs("RTRIM('  a ')"), "  a");
    EXPECT_EQ(evs("TRIM('a  ')"), "a");
    EXPECT_EQ(evs("SUBSTR('ABCDEF', 2, 3)"), "BCD");
    EXPECT_EQ(evs("SUBSTR('ABCDEF', 4)"), "DEF");
    EXPECT_EQ(evs("SUBSTR('ABCDEF', -2)"), "EF");
    EXPECT_EQ(evs("SUBSTR('ABC', 10)"), "");
    EXPECT_EQ(evs("SUBSTR('ABC', 2, -1)"), "");
    EXPECT_EQ(evs("LEFT('ABC', 5)"), "ABC");
    EXPECT_EQ(evs("RIGHT('ABC', 2)"), "BC");
    EXPECT_EQ(evs("RIGHT('ABC', -2)"), "");
    EXPECT_EQ(evn("LEN('ABC')"), 3);
    EXPECT_EQ(evn("AT('C', 'ABCABC')"), 3);
    EXPECT_EQ(evn("RAT('C', 'ABCABC')"), 6);
    EXPECT_EQ(evn("AT('', 'ABC')"), 0);
    EXPECT_EQ(evs("STRTRAN('a-b-c', '-', '+')"), "a+b+c");
    EXPECT_EQ(evs("STRTRAN('a-b-c', '-')"), "abc");
    EXPECT_EQ(evs("STRTRAN('a-b-c-d', '-', '+', 2, 1)"), "a-b+c-d");
    EXPECT_EQ(evs("STUFF('ABCDEF', 2, 3, 'xy')"), "AxyEF");
    EXPECT_EQ(evs("STUFF('ABC', 10, 3, 'z')"), "ABCz");
    EXPECT_EQ(evs("PADR('ab', 4) + '|'"), "ab  |");
    EXPECT_EQ(evs("PADL('ab', 4, '0')"), "00ab");
    EXPECT_EQ(evs("PADC('ab', 5, '*')"), "*ab**");
    EXPECT_EQ(evs("PADR('abcdef', 3)"), "abc");
    EXPECT_EQ(evs("PADL(42, 5)"), "   42");
    EXPECT_EQ(evs("SPACE(3)"), "   ");
    EXPECT_EQ(evs("SPACE(-3)"), "");
    EXPECT_EQ(evs("REPLICATE('ab', 3)"), "ababab");
    EXPECT_EQ(evs("CHR(65) + CHR(321)"), "AA");
    EXPECT_EQ(evn("ASC('a')"), 97);
    EXPECT_EQ(evn("ASC('')"), 0);
    EXPECT_TRUE(evl("ISDIGIT('7x')"));
    EXPECT_TRUE(evl("ISALPHA('\xF1')"));
    EXPECT_EQ(errorOf("UPPER(1)"), std::make_pair(xb::gen::Arg, 2000));
    EXPECT_EQ(errorOf("SUBSTR('a')").first, xb::gen::Arg);
}

TEST_F(Library, HugeSizesRaiseInsteadOfAllocating) {
    EXPECT_EQ(errorOf("SPACE(999999999999)").first, xb::gen::StrOverflow);
    EXPECT_EQ(errorOf("REPLICATE('abc', 900000000000000)").first, xb::gen::StrOverflow);
    EXPECT_EQ(errorOf("PADR('', 99999999999)").first, xb::gen::StrOverflow);
    EXPECT_EQ(errorOf("ARRAY(1000000000)").first, xb::gen::Mem);
    EXPECT_EQ(errorOf("ARRAY(100000, 100000)").first, xb::gen::Mem);
    xb::limits().maxString = 1000;
    EXPECT_EQ(errorOf("s := SPACE(600), s + s").first, xb::gen::StrOverflow);
}

TEST_F(Library, NumberFunctions) {
    EXPECT_EQ(evs("STR(1.5)"), "         1.5");
    EXPECT_EQ(evs("STR(123)"), "       123");
    EXPECT_EQ(evs("STR(3.14159, 6, 2)"), "  3.14");
    EXPECT_EQ(evs("STR(2.5, 3)"), "  3");  // half away from zero
    EXPECT_EQ(evs("STR(-2.5, 3)"), " -3");
    EXPECT_EQ(evs("STR(12345, 3)"), "***");
    EXPECT_EQ(evs("STR(1.005, 5, 2)"), " 1.01");
    EXPECT_EQ(evs("STRZERO(42, 5)"), "00042");
    EXPECT_EQ(evs("STRZERO(-42, 5)"), "-0042");
    xb::Value v = ev("VAL('12.50')");
    EXPECT_DOUBLE_EQ(v.asNumber(), 12.5);
    EXPECT_EQ(v.numDecimals(), 2);
    EXPECT_EQ(evn("VAL('  -3abc')"), -3);
    EXPECT_EQ(evn("VAL('abc')"), 0);
    EXPECT_DOUBLE_EQ(evn("ROUND(2.345, 2)"), 2.35);
    EXPECT_DOUBLE_EQ(evn("ROUND(-2.5, 0)"), -3);
    EXPECT_DOUBLE_EQ(evn("ROUND(1234, -2)"), 1200);
    EXPECT_EQ(evn("INT(-7.9)"), -7);
    EXPECT_EQ(evn("ABS(-4)"), 4);
    EXPECT_EQ(evn("MAX(3, 9)"), 9);
    EXPECT_EQ(evn("MIN(3, 9)"), 3);
    EXPECT_EQ(evs("DtoS(MAX(StoD('20200101'), StoD('20210101')))"), "20210101");
    EXPECT_EQ(evn("MOD(-7, 3)"), 2);
    EXPECT_EQ(evn("MOD(7, -3)"), -2);
}

TEST_F(Library, DateFunctionsUseTheSessionSettings) {
    EXPECT_EQ(evs("DtoC(StoD('20240315'))"), "15-03-2024");
    EXPECT_EQ(evs("DtoC(CtoD(''))"), "  -  -    ");
    EXPECT_EQ(evs("DtoS(CtoD(''))"), "        ");
    EXPECT_EQ(evs("DtoS(CtoD('15-03-15'))"), "20150315");
    EXPECT_EQ(evs("DtoS(CtoD('15-03-45'))"), "19450315");
    EXPECT_EQ(evs("DtoS(CtoD('15-03-40'))"), "19400315");
    EXPECT_EQ(evs("DtoS(CtoD('15-03-39'))"), "20390315");
    EXPECT_EQ(evs("DtoS(CtoD('31-02-2024'))"), "        ");  // not a date: empty
    EXPECT_TRUE(evl("EMPTY(CtoD('xx'))"));
    xb::settings().dateFormat = "dd/mm/yyyy";
    EXPECT_EQ(evs("DtoC(StoD('20240315'))"), "15/03/2024");
    EXPECT_EQ(evs("DtoS(CtoD('01/12/1999'))"), "19991201");
    xb::settings().century = false;
    EXPECT_EQ(evs("DtoC(StoD('20240315'))"), "15/03/24");
    xb::settings().century = true;
    EXPECT_EQ(evn("YEAR(StoD('20240315'))"), 2024);
    EXPECT_EQ(evn("MONTH(StoD('20240315'))"), 3);
    EXPECT_EQ(evn("DAY(StoD('20240315'))"), 15);
    EXPECT_EQ(evn("DOW(StoD('20240317'))"), 1);  // a Sunday
    EXPECT_EQ(evs("CDOW(StoD('20240316'))"),
              "S\xE1"
              "bado");
    EXPECT_EQ(evs("CMONTH(StoD('20240315'))"), "Marzo");
    EXPECT_EQ(evn("YEAR(CtoD(''))"), 0);
    EXPECT_EQ(ev("DATE()").asDate(), xb::todayJulian());
    std::string t = evs("TIME()");
    ASSERT_EQ(t.size(), 8u);
    EXPECT_EQ(t[2], ':');
    double s = evn("SECONDS()");
    EXPECT_GE(s, 0);
    EXPECT_LT(s, 86400);
}

TEST_F(Library, ArrayFunctions) {
    ev("a := ARRAY(3)");
    EXPECT_EQ(evn("LEN(a)"), 3);
    EXPECT_TRUE(ev("a[1]").isNil());
    ev("m := ARRAY(2, 3)");
    EXPECT_EQ(evn("LEN(m[2])"), 3);
    EXPECT_FALSE(evl("m[1] == m[2]"));  // distinct rows
    EXPECT_EQ(evs("AADD(a, 'x')"), "x");
    EXPECT_EQ(evn("LEN(a)"), 4);
    ev("ASIZE(a, 1)");
    EXPECT_EQ(evn("LEN(a)"), 1);
    ev("b := {'PEREZ', 'GOMEZ', 'GARCIA'}");
    EXPECT_EQ(evn("ASCAN(b, 'GOMEZ')"), 2);
    EXPECT_EQ(evn("ASCAN(b, 'GA')"), 3);  // "=" rules: prefix match with EXACT off
    EXPECT_EQ(evn("ASCAN(b, 'X')"), 0);
    EXPECT_EQ(evn("ASCAN(b, {|e| 'M' $ e})"), 2);
    EXPECT_EQ(evn("ASCAN(b, 'PEREZ', 2)"), 0);
    ev("n := 0, AEVAL({1, 2, 3}, {|e, i| n := n + e * i})");
    EXPECT_EQ(evn("n"), 14);
    ev("d := ARRAY(4), ACOPY({1, 2, 3}, d, 2, 2, 3)");
    EXPECT_EQ(evn("d[3]"), 2);
    EXPECT_EQ(evn("d[4]"), 3);
    EXPECT_TRUE(ev("d[1]").isNil());
    ev("e := {1, 2, 3}, ADEL(e, 1)");
    EXPECT_EQ(evn("e[1]"), 2);
    EXPECT_TRUE(ev("e[3]").isNil());
    ev("AINS(e, 1)");
    EXPECT_TRUE(ev("e[1]").isNil());
    EXPECT_EQ(evn("e[2]"), 2);
    EXPECT_EQ(evn("ATAIL({4, 5})"), 5);
    // A block that empties the array while AEVAL walks it stops the walk.
    EXPECT_NO_THROW(ev("f := {1, 2, 3}, AEVAL(f, {|x| ASIZE(f, 0)})"));
}

TEST_F(Library, TypeEmptyAndEval) {
    EXPECT_EQ(evs("VALTYPE('a')"), "C");
    EXPECT_EQ(evs("VALTYPE(1)"), "N");
    EXPECT_EQ(evs("VALTYPE(.T.)"), "L");
    EXPECT_EQ(evs("VALTYPE(NIL)"), "U");
    EXPECT_EQ(evs("VALTYPE({})"), "A");
    EXPECT_EQ(evs("VALTYPE({|| 1})"), "B");
    EXPECT_EQ(evs("VALTYPE(TPublic())"), "O");
    EXPECT_EQ(evs("TYPE('{1}')"), "A");
    for (const char* e :
         {"EMPTY('   ')", "EMPTY(0)", "EMPTY(.F.)", "EMPTY(NIL)", "EMPTY({})", "EMPTY(CtoD(''))"})
        EXPECT_TRUE(evl(e)) << e;
    for (const char* e : {"EMPTY(' a')", "EMPTY(0.1)", "EMPTY(.T.)", "EMPTY({NIL})",
                          "EMPTY(DATE())", "EMPTY({|| 1})"})
        EXPECT_FALSE(evl(e)) << e;
    EXPECT_EQ(errorOf("EVAL(1)").first, xb::gen::Arg);
}

TEST_F(Library, ReferenceArguments) {
    xb::registerFunction("DOBLA", [](xb::Args& a) {
        a.setRef(0, xb::Value::num(a[0].asNumber() * 2));
        return xb::Value::logical(a.isRef(0));
    });
    ev("n := 21");
    EXPECT_FALSE(evl("DOBLA(n)"));
    EXPECT_EQ(evn("n"), 21);
    EXPECT_TRUE(evl("DOBLA(@n)"));
    EXPECT_EQ(evn("n"), 42);
    EXPECT_EQ(evn("EVAL({|p| DOBLA(@p), p}, 5)"), 10);
    EXPECT_EQ(errorOf("DOBLA(@nNoExiste)").first, xb::gen::NoVar);
}

TEST_F(Library, RegistryIsCaseInsensitive) {
    xb::registerFunction("MiFunc",
                         [](xb::Args& a) { return xb::Value::num(static_cast<double>(a.size())); });
    EXPECT_EQ(evn("mifunc(1, 2)"), 2);
    EXPECT_EQ(evn("MIFUNC(,,)"), 3);
    EXPECT_TRUE(xb::functionExists("MIFUNC"));
    EXPECT_EQ(xb::callFunction("miFunc", {xb::Value::num(1)}).asNumber(), 1);
    EXPECT_EQ(errorOf("NOEXISTE()"), std::make_pair(xb::gen::NoFunc, 1001));
}

TEST_F(Library, SystemFunctions) {
    EXPECT_EQ(evs("AMPM('13:45:10')"), " 1:45:10 pm");
    EXPECT_EQ(evs("AMPM('00:05:00')"), "12:05:00 am");
    EXPECT_EQ(evs("AMPM('12:00:00')"), "12:00:00 pm");
    EXPECT_EQ(evs("OS()"), "Linux");
    EXPECT_GT(evn("DISKSPACE()"), 0);
    EXPECT_TRUE(ev("KEYBOARD('x')").isNil());
    EXPECT_TRUE(ev("__KEYBOARD(CHR(13))").isNil());
}
