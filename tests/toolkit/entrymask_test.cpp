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
