// Pictures as typed, key by key, on the editing rules without a widget.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "toolkit/entrymask.h"
#include "xbase/date.h"

namespace {

using tk::EntryBuffer;
using tk::Picture;

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

// One field edited key by key: the value and picture it starts with, the
// keys ("{left}", "{right}", "{end}", "{bs}", "{del}" or a typed character)
// and what the buffer shows afterwards, as (check, expected) pairs: "text"
// (or its beginning, "textStart"), the value as "str", "num" with "dec"
// decimals or "date" (yyyymmdd), "rendered" (the value at
// rest), "full", "cursor", "ok" (a valid value), "taken" (every key taken)
// and "overflowed"; the last three are checked always, by default "1", "1"
// and "0".
struct Case {
    xb::Value start;
    const char* picture;
    std::string keys;
    std::map<std::string, std::string> expect;
};

xb::Value text(const std::string& s) {
    return xb::Value::str(s);
}
xb::Value number(double n, int width = 14, int dec = 2) {
    return xb::Value::num(n, width, dec);
}
const xb::Value kNoDate = xb::Value::date(0);
const char* const kNumber = "999,999,999.99";
const char* const kDate = "99-99-9999";

const Case kCases[] = {
    // Upper case converts accented letters too ("peña" in Windows-1252).
    {text("      "),
     "@!",
     "pe\xf1"
     "a",
     {{"text",
       "PE\xd1"
       "A  "},
      {"str",
       "PE\xd1"
       "A  "}}},
    // The first typed key clears under K, unless a cursor key came first;
    // without K typing overwrites from the start.
    {text("ANTIGUO   "), "@K!", "nu", {{"text", "NU        "}}},
    {text("ANTIGUO   "), "@K!", "{end}s", {{"text", "ANTIGUOS  "}}},
    {text("ABCDEF"), "@!", "x", {{"text", "XBCDEF"}}},
    // Delete and backspace shift the text.
    {text("ABCDEF"), "", "{right}{right}{del}", {{"text", "ABDEF "}}},
    {text("ABCDEF"), "", "{right}{right}{del}{bs}", {{"text", "ADEF  "}, {"cursor", "1"}}},
    // A date mask skips its separators and refuses letters; an impossible
    // date is no value. A time mask.
    {kNoDate, kDate, "", {{"text", "  -  -    "}}},
    {kNoDate, kDate, "2903", {{"text", "29-03-    "}, {"ok", "0"}}},
    {kNoDate, kDate, "29032008", {{"date", "20080329"}, {"full", "1"}}},
    {kNoDate, kDate, "a", {{"text", "  -  -    "}, {"taken", "0"}}},
    {kNoDate, kDate, "31022009", {{"ok", "0"}}},
    {text("     "), "99:99", "0930", {{"str", "09:30"}, {"full", "1"}}},
    // Numbers with thousands and a decimal point; typed without a point, an
    // integer.
    {number(1, 12), "@K 9,999,999.99", "", {{"text", "        1.00"}}},
    {number(1, 12),
     "@K 9,999,999.99",
     "1234.5",
     {{"num", "1234.5"}, {"dec", "2"}, {"rendered", "    1,234.50"}}},
    {number(0), "@K 999,999,999.99", "25", {{"num", "25"}}},
    // Typing into a number entered afresh replaces it, with or without @K
    // and whatever its template: the digits form the integer part, a point
    // moves to the decimals.
    {number(0), kNumber, "1250", {{"num", "1250"}}},
    {number(0), kNumber, "1250.5", {{"num", "1250.5"}}},
    {number(99), kNumber, "7", {{"num", "7"}}},
    {number(0), kNumber, "-12", {{"num", "-12"}}},
    {number(1250), kNumber, "0.25", {{"num", "0.25"}}},
    {number(5), kNumber, ".5", {{"num", "0.5"}}},
    {number(0), "@K 999,999,999.99", "1250", {{"num", "1250"}}},
    {number(99), "@K 999,999,999.99", "-12.5", {{"num", "-12.5"}}},
    {number(12.5), "9999.99", "37", {{"num", "37"}}},
    {number(12), "99999", "340", {{"num", "340"}}},
    {number(12.5), "", "7", {{"num", "7"}}},
    {number(0), "", "1250.75", {{"num", "1250.75"}}},
    // A number being typed is laid out right-aligned; backspace drops a digit.
    {number(0), kNumber, "12500", {{"textStart", "     12,500"}}},
    {number(0),
     kNumber,
     "12500{bs}",
     {{"textStart", "      1,250"}, {"num", "1250"}, {"rendered", "      1,250.00"}}},
    // A number too large for the picture is refused, not cut.
    {number(0), kNumber, "123456789", {{"num", "123456789"}}},
    {number(0), kNumber, "1234567891", {{"num", "123456789"}, {"taken", "0"}, {"overflowed", "1"}}},
    {number(0, 5, 0), "9,999", "-999", {{"num", "-999"}}},
    {number(0, 5, 0), "9,999", "-9999", {{"num", "-999"}, {"taken", "0"}, {"overflowed", "1"}}},
    // Once the user has placed the cursor the digits go where it stands.
    {number(1250), kNumber, "{end}{left}3", {{"num", "1250.3"}}},
    // A number without picture uses its width.
    {number(12.5, 8), "", "", {{"text", "   12.50"}}},
    // A scroll picture keeps the full width.
    {text(std::string(120, ' ')),
     "@!S60",
     std::string(70, 'a'),
     {{"str", std::string(70, 'A') + std::string(50, ' ')}, {"cursor", "70"}}},
    // A full field reports it and stays on its last position; further keys
    // are refused, the last character stays.
    {text("   "), "@!", "ab", {{"full", "0"}}},
    {text("   "), "@!", "abc", {{"full", "1"}, {"cursor", "2"}}},
    {text("   "), "@!", "abcd", {{"text", "ABC"}, {"taken", "0"}}},
};

TEST(EntryBuffer, KeysTypedIntoAFieldGiveItsTextAndValue) {
    const std::map<std::string, void (EntryBuffer::*)()> keys = {{"left", &EntryBuffer::left},
                                                                 {"right", &EntryBuffer::right},
                                                                 {"end", &EntryBuffer::end},
                                                                 {"bs", &EntryBuffer::backspace},
                                                                 {"del", &EntryBuffer::del}};
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string("\"") + c.picture + "\" <- " + c.keys);
        EntryBuffer b;
        b.start(c.start, Picture::parse(c.picture));
        bool taken = true;
        for (size_t i = 0; i < c.keys.size(); ++i) {
            if (c.keys[i] != '{') {
                taken = b.typeChar(c.keys[i]) && taken;
                continue;
            }
            const size_t close = c.keys.find('}', i);
            (b.*keys.at(c.keys.substr(i + 1, close - i - 1)))();
            i = close;
        }
        bool ok = false;
        const xb::Value v = b.value(&ok);
        const std::map<std::string, std::string> got = {{"text", b.text()},
                                                        {"str", v.asString()},
                                                        {"date", xb::dtos(v.asDate())},
                                                        {"dec", std::to_string(v.numDecimals())},
                                                        {"rendered", b.render(v)},
                                                        {"full", b.full() ? "1" : "0"},
                                                        {"cursor", std::to_string(b.cursor())},
                                                        {"ok", ok ? "1" : "0"},
                                                        {"taken", taken ? "1" : "0"},
                                                        {"overflowed", b.overflowed() ? "1" : "0"}};
        std::map<std::string, std::string> expect = {
            {"ok", "1"}, {"taken", "1"}, {"overflowed", "0"}};
        for (const auto& [check, want] : c.expect) expect[check] = want;
        for (const auto& [check, want] : expect) {
            if (check == "num") {
                EXPECT_DOUBLE_EQ(v.asNumber(), std::stod(want));
            } else if (check == "textStart") {
                EXPECT_EQ(b.text().substr(0, want.size()), want);
            } else {
                ASSERT_TRUE(got.count(check)) << check;
                EXPECT_EQ(got.at(check), want) << check;
            }
        }
    }
}

TEST(FormatNumberMask, SeparatorsOnlyBetweenDigitsAndStarsOnOverflow) {
    EXPECT_EQ(tk::formatNumberMask(1234567.891, "9,999,999.99"), "1,234,567.89");
    EXPECT_EQ(tk::formatNumberMask(0.5, "9,999.99"), "    0.50");
    EXPECT_EQ(tk::formatNumberMask(-12, "9,999"), "  -12");
    EXPECT_EQ(tk::formatNumberMask(123456, "9,999"), "*****");
}

}  // namespace
