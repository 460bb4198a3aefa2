// Code pages, dates and pictures.
#include "xbase/codepage.h"
#include "xbase/date.h"
#include "xbase/picture.h"
#include "xbtest.h"

using namespace xbt;

TEST(CodePage, RoundTripsEveryByte) {
    for (int c = 0; c < 256; ++c) {
        std::string b(1, static_cast<char>(c));
        EXPECT_EQ(xb::utf8ToCp1252(xb::cp1252ToUtf8(b)), b) << c;
        EXPECT_EQ(xb::utf8ToCp850(xb::cp850ToUtf8(b)), b) << c;
    }
}

TEST(CodePage, KnownCharacters) {
    EXPECT_EQ(xb::cp1252ToUtf8("Atenci\xF3n \x80"), "Atenci\xC3\xB3n \xE2\x82\xAC");
    EXPECT_EQ(xb::utf8ToCp1252("Compa\xC3\xB1\xC3\xAD"
                               "a \xE2\x82\xAC \xE2\x95\x94"),
              "Compa\xF1\xED"
              "a \x80 ?");
    EXPECT_EQ(xb::cp850ToUtf8("\xA4\xA2"), "\xC3\xB1\xC3\xB3");  // ñó in OEM 850
    EXPECT_EQ(xb::oemToAnsi("M\xA0quina \xA5"), "M\xE1quina \xD1");
    EXPECT_EQ(xb::ansiToOem("M\xE1quina \xD1"), "M\xA0quina \xA5");
    // Bytes that are not UTF-8 are kept as they stand.
    EXPECT_EQ(xb::utf8ToCp1252("a\xF1"
                               "b"),
              "a\xF1"
              "b");
}

TEST(CodePage, CaseOfAccentedLetters) {
    EXPECT_EQ(xb::upper1252("\xE1\xE9\xED\xF3\xFA\xF1\xFC\xE7 \x9A\x9C\xFF\xDF"),
              "\xC1\xC9\xCD\xD3\xDA\xD1\xDC\xC7 \x8A\x8C\x9F\xDF");
    EXPECT_EQ(xb::lower1252("\xC1\xC9\xCD\xD3\xDA\xD1\xD7"), "\xE1\xE9\xED\xF3\xFA\xF1\xD7");
    EXPECT_EQ(xb::upper1252("\xF7"), "\xF7");  // the division sign is no letter
}

TEST(Dates, JulianDayNumbers) {
    EXPECT_EQ(xb::julianFromYmd(2000, 1, 1), xb::kJdn2000);
    EXPECT_EQ(xb::julianFromYmd(2023, 2, 29), 0);
    EXPECT_EQ(xb::julianFromYmd(0, 1, 1), 0);
    for (int32_t j = xb::julianFromYmd(1899, 12, 25); j < xb::julianFromYmd(1901, 3, 5); ++j) {
        xb::Ymd d = xb::ymdFromJulian(j);
        EXPECT_EQ(xb::julianFromYmd(d.year, d.month, d.day), j);
    }
    EXPECT_EQ(xb::dtos(xb::julianFromYmd(2024, 2, 29)), "20240229");
    EXPECT_EQ(xb::stod("20240229"), xb::julianFromYmd(2024, 2, 29));
    EXPECT_EQ(xb::stod("2024022"), 0);
    EXPECT_EQ(xb::stod("20241301"), 0);
    EXPECT_EQ(xb::dtos(0), "        ");
    EXPECT_EQ(xb::dayOfWeek(xb::julianFromYmd(2026, 12, 9)), 4);  // a Wednesday
}

TEST(Dates, FormatsAndEpoch) {
    int32_t d = xb::julianFromYmd(2015, 4, 7);
    EXPECT_EQ(xb::formatDate(d, "dd-mm-yyyy"), "07-04-2015");
    EXPECT_EQ(xb::formatDate(d, "dd/mm/yy"), "07/04/15");
    EXPECT_EQ(xb::formatDate(0, "dd-mm-yyyy"), "  -  -    ");
    EXPECT_EQ(xb::parseDate("07-04-15", "dd-mm-yyyy", 1940), d);
    EXPECT_EQ(xb::parseDate("7-4-2015", "dd-mm-yyyy", 1940), d);
    EXPECT_EQ(xb::parseDate("07-04-45", "dd-mm-yyyy", 1940), xb::julianFromYmd(1945, 4, 7));
    EXPECT_EQ(xb::parseDate("  -  -    ", "dd-mm-yyyy", 1940), 0);
    EXPECT_EQ(xb::parseDate("32-01-2015", "dd-mm-yyyy", 1940), 0);
    EXPECT_EQ(xb::parseDate("07/04/1915", "dd/mm/yyyy", 1940), xb::julianFromYmd(1915, 4, 7));
}

using Pictures = XbTest;

TEST_F(Pictures, NumericMasks) {
    auto t = [](double v, int w, int d, const char* pic) {
        return xb::transform(xb::Value::num(v, w, d), pic);
    };
    EXPECT_EQ(t(1234567.5, 10, 2, "@K 9,999,999.99"), "1,234,567.50");
    EXPECT_EQ(t(1234.5, 10, 2, "9,999,999.99"), "    1,234.50");
    EXPECT_EQ(t(1234.5, 12, 2, "999,999,999.99"), "      1,234.50");
    EXPECT_EQ(t(0, 10, 2, "999,999,999.99"), "          0.00");
    EXPECT_EQ(t(-1234.5, 12, 2, "999,999,999.99"), "     -1,234.50");
    EXPECT_EQ(t(123456789012.0, 15, 0, "999,999,999,999"), "123,456,789,012");
    EXPECT_EQ(t(1000, 10, 0, "9,999,999"), "    1,000");
    EXPECT_EQ(t(99999999, 10, 0, "9,999,999"), "*********");
    EXPECT_EQ(t(-999, 10, 0, "999"), "***");  // no room for the sign
    EXPECT_EQ(t(42, 5, 0, "#####"), "   42");
    EXPECT_EQ(t(1234.567, 10, 3, "###,###.##"), "  1,234.57");
    EXPECT_EQ(t(1234567.5, 12, 2, "###,###,###,###.##"), "      1,234,567.50");
    EXPECT_EQ(t(1234567.5, 12, 2, "@ ###,###,###,###.##"), "      1,234,567.50");
    EXPECT_EQ(t(12.5, 12, 2, "@ 999,999,999.99"), "         12.50");
    EXPECT_EQ(t(12.5, 18, 2, "###############.##"), "             12.50");
    EXPECT_EQ(t(0, 10, 0, "@Z 999"), "   ");
    EXPECT_EQ(t(1234.5, 10, 2, "@E 9,999.99"), "1.234,50");
    EXPECT_EQ(t(-5, 10, 0, "@( 999"), " (5)");
    EXPECT_EQ(t(0.5, 10, 2, "999.99"), "  0.50");
    EXPECT_EQ(t(-0.5, 10, 2, "999.99"), " -0.50");
    EXPECT_EQ(t(42, 10, 0, "@B 9999"), "42  ");
    EXPECT_EQ(t(1.5, 12, 1, ""), "         1.5");
}

TEST_F(Pictures, TextAndDateMasks) {
    auto t = [](const char* v, const char* pic) { return xb::transform(xb::Value::str(v), pic); };
    EXPECT_EQ(t("jur\xED"
                "dica",
                "@!"),
              "JUR\xCD"
              "DICA");
    EXPECT_EQ(t("abc", "@K!"), "ABC");
    EXPECT_EQ(t("abc", "@K"), "abc");
    EXPECT_EQ(t("abcdef", "@S3"), "abcdef");  // scrolling only narrows the display
    EXPECT_EQ(t("abc", "@!S120"), "ABC");
    EXPECT_EQ(t("12-04-2015", "99-99-9999"), "12-04-2015");
    EXPECT_EQ(t("12042015", "@R 99-99-9999"), "12-04-2015");
    EXPECT_EQ(t("1230", "99:99"), "12:0 ");  // literal stands in the value's place
    EXPECT_EQ(t("12:30", "99:99"), "12:30");
    EXPECT_EQ(t("abcd", "!XX!"), "AbcD");
    EXPECT_EQ(xb::transform(xb::Value::date(xb::julianFromYmd(2015, 4, 12)), "@ 99-99-9999"),
              "12-04-2015");
    EXPECT_EQ(xb::transform(xb::Value::date(0), "@ ##-##-####"), "  -  -    ");
    EXPECT_EQ(xb::transform(xb::Value::logical(true), "Y"), "Y");
    EXPECT_EQ(xb::transform(xb::Value::logical(false), ""), "F");
    EXPECT_EQ(evs("TRANSFORM(1234.5, '9,999.99')"), "1,234.50");
}

TEST_F(Pictures, EntryMaskDescribesEveryPosition) {
    xb::EntryMask m = xb::entryMask("@K!S120", xb::Value::str(std::string(200, ' ')));
    EXPECT_TRUE(m.clearOnFirstKey);
    EXPECT_TRUE(m.upper);
    EXPECT_EQ(m.scrollWidth, 120);
    EXPECT_EQ(m.width(), 200u);
    EXPECT_EQ(m.apply(0, 'a'), 'A');
    EXPECT_EQ(m.apply(0, 0xF1), 0xD1);

    xb::EntryMask d = xb::entryMask("99-99-9999", xb::Value::str("  -  -    "));
    ASSERT_EQ(d.width(), 10u);
    EXPECT_EQ(d.positions[2].kind, xb::MaskPos::Literal);
    EXPECT_EQ(d.positions[2].literal, '-');
    EXPECT_TRUE(d.literalsStored);
    EXPECT_TRUE(d.accepts(0, '7'));
    EXPECT_FALSE(d.accepts(0, 'x'));
    EXPECT_FALSE(d.accepts(2, '-'));

    xb::EntryMask n = xb::entryMask("@K 9,999,999.99", xb::Value::num(0, 10, 2));
    EXPECT_EQ(n.type, 'N');
    EXPECT_EQ(n.pointPos, 9);
    EXPECT_EQ(n.decimals, 2);
    EXPECT_TRUE(n.thousands);
    EXPECT_FALSE(n.literalsStored);
    EXPECT_TRUE(n.accepts(0, '-'));

    xb::EntryMask plain = xb::entryMask("", xb::Value::num(0, 8, 2));
    EXPECT_EQ(plain.width(), 8u);
    EXPECT_EQ(plain.pointPos, 5);

    xb::EntryMask date = xb::entryMask("@ ##-##-####", xb::Value::date(0));
    EXPECT_EQ(date.type, 'D');
    EXPECT_EQ(date.width(), 10u);

    xb::EntryMask name = xb::entryMask("@K", xb::Value::str("AB"));
    EXPECT_EQ(name.width(), 2u);
    EXPECT_TRUE(name.accepts(1, 0xE9));
    EXPECT_EQ(xb::entryMask("AN", xb::Value::str("")).positions[0].kind, xb::MaskPos::Letter);
}

TEST_F(Pictures, EntryTextAndValueRoundTrip) {
    xb::Value n = xb::Value::num(1234567.5, 12, 2);
    std::string shown = xb::entryText(n, "@K 9,999,999.99");
    EXPECT_EQ(shown, "1,234,567.50");
    xb::Value back = xb::entryValue(shown, "@K 9,999,999.99", n);
    EXPECT_DOUBLE_EQ(back.asNumber(), 1234567.5);
    EXPECT_EQ(back.numWidth(), 12);
    EXPECT_DOUBLE_EQ(xb::entryValue("   -12.30", "", xb::Value::num(0, 9, 2)).asNumber(), -12.3);
    xb::Value d = xb::entryValue("15-03-45", "", xb::Value::date(0));
    EXPECT_EQ(xb::dtos(d.asDate()), "19450315");
    EXPECT_EQ(xb::entryValue("12-04-2015", "@R 99-99-9999", xb::Value::str("")).asString(),
              "12042015");
    EXPECT_EQ(xb::entryValue("abc", "@!", xb::Value::str("")).asString(), "ABC");
    EXPECT_TRUE(xb::entryValue("s", "", xb::Value::logical(false)).asLogical());
}

TEST_F(Pictures, EveryPictureOfTheProgramParses) {
    struct Case {
        const char* pic;
        bool upper, clear;
        int scroll;
        const char* mask;
    };
    const Case cases[] = {{"@K", false, true, 0, ""},
                          {"@!", true, false, 0, ""},
                          {"@K!", true, true, 0, ""},
                          {"@S60", false, false, 60, ""},
                          {"@!S120", true, false, 120, ""},
                          {"@K!S120", true, true, 120, ""},
                          {"@!S80", true, false, 80, ""},
                          {"#####", false, false, 0, "#####"},
                          {"99-99-9999", false, false, 0, "99-99-9999"},
                          {"@ 99-99-9999", false, false, 0, "99-99-9999"},
                          {"99:99", false, false, 0, "99:99"},
                          {"@K 9,999,999.99", false, true, 0, "9,999,999.99"},
                          {"@K 999,999,999.99", false, true, 0, "999,999,999.99"},
                          {"@ ##-##-####", false, false, 0, "##-##-####"}};
    for (const Case& c : cases) {
        xb::Picture p = xb::parsePicture(c.pic);
        EXPECT_EQ(p.fn.upper, c.upper) << c.pic;
        EXPECT_EQ(p.fn.clearOnFirstKey, c.clear) << c.pic;
        EXPECT_EQ(p.fn.scrollWidth, c.scroll) << c.pic;
        EXPECT_EQ(p.mask, c.mask) << c.pic;
    }
    // The memory figures of the F5 box: the picture, then trimmed.
    EXPECT_EQ(evs("ALLTRIM(TRANSFORM(1234567, '999,999,999,999'))"), "1,234,567");
    EXPECT_EQ(evs("TRANSFORM('09:30', '99:99')"), "09:30");
}
