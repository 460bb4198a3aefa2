// Pictures as typed, key by key, on the editing rules without a widget.
#include <gtest/gtest.h>

#include "toolkit/entrymask.h"
#include "xbase/date.h"

namespace {

using tk::EntryBuffer;
using tk::Picture;

void typeAll(EntryBuffer& b, const std::string& keys) {
    for (char c : keys) b.typeChar(c);
}

TEST(Picture, FunctionsAndTemplateAreTakenApart) {
    const Picture a = Picture::parse("@!S80");
    EXPECT_TRUE(a.upper);
    EXPECT_FALSE(a.clearOnFirstKey);
    EXPECT_EQ(a.scroll, 80);
    EXPECT_EQ(a.mask, "");
    const Picture b = Picture::parse("@K 9,999,999.99");
    EXPECT_TRUE(b.clearOnFirstKey);
    EXPECT_EQ(b.mask, "9,999,999.99");
    const Picture c = Picture::parse("99-99-9999");
    EXPECT_FALSE(c.upper);
    EXPECT_EQ(c.mask, "99-99-9999");
    EXPECT_TRUE(Picture::parse("@K!").upper);
}

TEST(EntryBuffer, UpperCasePictureConvertsAccentedLettersToo) {
    EntryBuffer b;
    b.start(xb::Value::str(std::string(6, ' ')), Picture::parse("@!"));
    typeAll(b,
            "pe\xf1"
            "a");  // "peña" in Windows-1252
    EXPECT_EQ(b.text(),
              "PE\xd1"
              "A  ");
    EXPECT_EQ(b.value().asString(),
              "PE\xd1"
              "A  ");
    EXPECT_EQ(b.value().asString().size(), 6u);  // keeps the width of the field
}

TEST(EntryBuffer, FirstTypedKeyClearsUnderK) {
    EntryBuffer b;
    b.start(xb::Value::str("ANTIGUO   "), Picture::parse("@K!"));
    typeAll(b, "nu");
    EXPECT_EQ(b.text(), "NU        ");
}

TEST(EntryBuffer, CursorKeyBeforeTypingKeepsTheTextUnderK) {
    EntryBuffer b;
    b.start(xb::Value::str("ANTIGUO   "), Picture::parse("@K!"));
    b.end();
    typeAll(b, "s");
    EXPECT_EQ(b.text(), "ANTIGUOS  ");
}

TEST(EntryBuffer, WithoutKTypingOverwritesFromTheStart) {
    EntryBuffer b;
    b.start(xb::Value::str("ABCDEF"), Picture::parse("@!"));
    typeAll(b, "x");
    EXPECT_EQ(b.text(), "XBCDEF");
}

TEST(EntryBuffer, BackspaceAndDeleteShiftTheText) {
    EntryBuffer b;
    b.start(xb::Value::str("ABCDEF"), Picture::parse(""));
    b.right();
    b.right();  // on C
    b.del();
    EXPECT_EQ(b.text(), "ABDEF ");
    b.backspace();  // removes B
    EXPECT_EQ(b.text(), "ADEF  ");
    EXPECT_EQ(b.cursor(), 1);
}

TEST(EntryBuffer, DateMaskSkipsSeparatorsAndGivesTheDate) {
    EntryBuffer b;
    b.start(xb::Value::date(0), Picture::parse("99-99-9999"));
    EXPECT_EQ(b.text(), "  -  -    ");
    typeAll(b, "2903");
    EXPECT_EQ(b.text(), "29-03-    ");
    typeAll(b, "2008");
    EXPECT_TRUE(b.full());
    bool ok = false;
    const xb::Value v = b.value(&ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(v.asDate(), xb::julianFromYmd(2008, 3, 29));
}

TEST(EntryBuffer, LettersAreRefusedInDigitPositionsAndImpossibleDatesAreNotValues) {
    EntryBuffer b;
    b.start(xb::Value::date(0), Picture::parse("99-99-9999"));
    EXPECT_FALSE(b.typeChar('a'));
    typeAll(b, "31022009");
    bool ok = true;
    b.value(&ok);
    EXPECT_FALSE(ok);
}

TEST(EntryBuffer, TimeMask) {
    EntryBuffer b;
    b.start(xb::Value::str("     "), Picture::parse("99:99"));
    typeAll(b, "0930");
    EXPECT_EQ(b.value().asString(), "09:30");
    EXPECT_TRUE(b.full());
}

TEST(EntryBuffer, NumberWithThousandsAndDecimalPoint) {
    EntryBuffer b;
    b.start(xb::Value::num(1, 12, 2), Picture::parse("@K 9,999,999.99"));
    EXPECT_EQ(b.text(), "        1.00");
    typeAll(b, "1234.5");
    const xb::Value v = b.value();
    EXPECT_DOUBLE_EQ(v.asNumber(), 1234.5);
    EXPECT_EQ(v.numDecimals(), 2);
    EXPECT_EQ(b.render(v), "    1,234.50");
}

TEST(EntryBuffer, NumberTypedWithoutPointIsAnInteger) {
    EntryBuffer b;
    b.start(xb::Value::num(0, 14, 2), Picture::parse("@K 999,999,999.99"));
    typeAll(b, "25");
    EXPECT_DOUBLE_EQ(b.value().asNumber(), 25.0);
}

// Typing into a number entered afresh replaces it, with or without @K and
// whatever its template: the digits form the integer part, a point moves to
// the decimals.
TEST(EntryBuffer, TypedDigitsReplaceTheNumberUnderEveryPicture) {
    struct Case {
        const char* picture;
        double start;
        const char* keys;
        double expected;
    };
    const Case cases[] = {
        {"999,999,999.99", 0, "1250", 1250},
        {"999,999,999.99", 0, "1250.5", 1250.5},
        {"999,999,999.99", 99, "7", 7},
        {"999,999,999.99", 0, "-12", -12},
        {"999,999,999.99", 1250, "0.25", 0.25},
        {"999,999,999.99", 5, ".5", 0.5},
        {"@K 999,999,999.99", 0, "1250", 1250},
        {"@K 999,999,999.99", 99, "-12.5", -12.5},
        {"9999.99", 12.5, "37", 37},
        {"99999", 12, "340", 340},
        {"", 12.5, "7", 7},
        {"", 0, "1250.75", 1250.75},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.picture) + " <- " + c.keys);
        EntryBuffer b;
        b.start(xb::Value::num(c.start, 14, 2), Picture::parse(c.picture));
        for (const char* k = c.keys; *k; ++k) EXPECT_TRUE(b.typeChar(*k)) << *k;
        EXPECT_FALSE(b.overflowed());
        bool ok = false;
        const xb::Value v = b.value(&ok);
        EXPECT_TRUE(ok);
        EXPECT_DOUBLE_EQ(v.asNumber(), c.expected);
    }
}

TEST(EntryBuffer, NumberBeingTypedIsLaidOutRightAlignedAndBackspaceDropsADigit) {
    EntryBuffer b;
    b.start(xb::Value::num(0, 14, 2), Picture::parse("999,999,999.99"));
    typeAll(b, "12500");
    EXPECT_EQ(b.text().substr(0, 11), "     12,500");
    b.backspace();
    EXPECT_EQ(b.text().substr(0, 11), "      1,250");
    const xb::Value v = b.value();
    EXPECT_DOUBLE_EQ(v.asNumber(), 1250);
    EXPECT_EQ(b.render(v), "      1,250.00");
}

TEST(EntryBuffer, NumberTooLargeForThePictureIsRefusedNotCut) {
    EntryBuffer b;
    b.start(xb::Value::num(0, 14, 2), Picture::parse("999,999,999.99"));
    typeAll(b, "123456789");
    EXPECT_FALSE(b.overflowed());
    EXPECT_FALSE(b.typeChar('1'));  // a tenth integer digit has no place
    EXPECT_TRUE(b.overflowed());
    EXPECT_DOUBLE_EQ(b.value().asNumber(), 123456789);
    EntryBuffer n;
    n.start(xb::Value::num(0, 5, 0), Picture::parse("9,999"));
    typeAll(n, "-999");
    EXPECT_FALSE(n.typeChar('9'));
    EXPECT_TRUE(n.overflowed());
    EXPECT_DOUBLE_EQ(n.value().asNumber(), -999);
}

TEST(EntryBuffer, CursorMovedIntoANumberEditsItInPlace) {
    // Once the user has placed the cursor the digits go where it stands.
    EntryBuffer b;
    b.start(xb::Value::num(1250, 14, 2), Picture::parse("999,999,999.99"));
    b.end();
    b.left();
    typeAll(b, "3");
    EXPECT_DOUBLE_EQ(b.value().asNumber(), 1250.3);
}

TEST(EntryBuffer, NumberWithoutPictureUsesItsWidth) {
    EntryBuffer b;
    b.start(xb::Value::num(12.5, 8, 2), Picture::parse(""));
    EXPECT_EQ(b.text(), "   12.50");
}

TEST(FormatNumberMask, SeparatorsOnlyBetweenDigitsAndStarsOnOverflow) {
    EXPECT_EQ(tk::formatNumberMask(1234567.891, "9,999,999.99"), "1,234,567.89");
    EXPECT_EQ(tk::formatNumberMask(0.5, "9,999.99"), "    0.50");
    EXPECT_EQ(tk::formatNumberMask(-12, "9,999"), "  -12");
    EXPECT_EQ(tk::formatNumberMask(123456, "9,999"), "*****");
}

TEST(EntryBuffer, ScrollPictureKeepsTheFullWidth) {
    EntryBuffer b;
    b.start(xb::Value::str(std::string(120, ' ')), Picture::parse("@!S60"));
    EXPECT_EQ(b.text().size(), 120u);
    typeAll(b, std::string(70, 'a'));
    EXPECT_EQ(b.value().asString().substr(0, 70), std::string(70, 'A'));
    EXPECT_EQ(b.cursor(), 70);
}

TEST(EntryBuffer, AFullFieldReportsItAndStaysOnItsLastPosition) {
    EntryBuffer b;
    b.start(xb::Value::str("   "), Picture::parse("@!"));
    typeAll(b, "ab");
    EXPECT_FALSE(b.full());
    typeAll(b, "c");
    EXPECT_TRUE(b.full());
    EXPECT_EQ(b.cursor(), 2);
    // Further keys find no room: refused, the last character stays.
    EXPECT_FALSE(b.typeChar('d'));
    EXPECT_EQ(b.text(), "ABC");
}

}  // namespace
