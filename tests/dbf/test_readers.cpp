// Independent readers from Debian agree with the engine: tables the engine
// writes are read by python3-dbfread, pgdbf and dbf_dump (libdbd-xbase-perl)
// with identical values, and the engine reads the Visual FoxPro tables of the
// test material as dbfread does.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>

#include "dbf/dates.h"
#include "dbf/table.h"
#include "dbf_test_util.h"
#include "outside_tools.h"

using dbf::Table;
using dbftest::TempDir;

namespace {

const std::string kPython = "/usr/bin/python3";

std::string escape(std::string s) {
    std::string r;
    for (char c : s) {
        if (c == '\\')
            r += "\\\\";
        else if (c == '\r')
            r += "\\r";
        else if (c == '\n')
            r += "\\n";
        else
            r += c;
    }
    return r;
}

std::string rtrim(std::string_view s) {
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return std::string(s);
}

bool blank(std::string_view s) {
    return s.find_first_not_of(' ') == std::string_view::npos;
}

// The engine's reading of every live record, in the same canonical form as
// dbfread_canon.py.
std::string engineCanon(const std::string& path) {
    auto t = Table::open(path, {true, true});
    std::string out;
    uint32_t live = 0;
    char tmp[64];
    for (uint32_t r = 1; r <= t->recCount(); ++r) {
        t->read(r);
        if (t->deleted()) continue;
        ++live;
        for (int i = 0; i < t->fieldCount(); ++i) {
            const dbf::Field& f = t->fields()[static_cast<size_t>(i)];
            std::string v;
            std::string_view raw = t->raw(i);
            if (t->isNull(i)) {
                v = "NULL";
            } else {
                switch (f.type) {
                    case 'C':
                        v = rtrim(raw);
                        break;
                    case 'N':
                    case 'F':
                        if (blank(raw))
                            v = "NULL";
                        else {
                            std::snprintf(tmp, sizeof tmp, "%.*f", f.dec, t->getNumber(i));
                            v = tmp;
                        }
                        break;
                    case 'I':
                        v = std::to_string(static_cast<long long>(t->getNumber(i)));
                        break;
                    case 'Y':
                        std::snprintf(tmp, sizeof tmp, "%.4f", t->getNumber(i));
                        v = tmp;
                        break;
                    case 'B':
                        std::snprintf(tmp, sizeof tmp, "%.6f", t->getNumber(i));
                        v = tmp;
                        break;
                    case 'L':
                        v = blank(raw) || raw[0] == '?' ? "NULL" : (t->getLogical(i) ? "T" : "F");
                        break;
                    case 'D':
                        v = t->getDate(i) ? std::to_string(t->getDate(i)) : "NULL";
                        break;
                    case 'T': {
                        dbf::DateTime dt = t->getDateTime(i);
                        v = dt.julianDay
                                ? std::to_string(dt.julianDay) + " " + std::to_string(dt.millis)
                                : "NULL";
                        break;
                    }
                    case 'M': {
                        std::string m = t->getMemo(i);
                        bool none =
                            f.len == 4 ? raw == std::string_view("\0\0\0\0", 4) : blank(raw);
                        v = none ? "NULL" : m;
                        break;
                    }
                    default:
                        v = std::string(raw);
                        break;
                }
            }
            out += std::to_string(live) + "|" + f.name + "|" + escape(v) + "\n";
        }
    }
    return out;
}

std::string dbfreadCanon(const std::string& path) {
    std::string script = std::string(VDR_SOURCE_DIR) + "/tests/dbf/dbfread_canon.py";
    int st = -1;
    std::string out = dbftest::run(
        kPython + " " + dbftest::shellQuote(script) + " " + dbftest::shellQuote(path), &st);
    EXPECT_EQ(st, 0) << "dbfread failed on " << path;
    return out;
}

// One record of every type, with accents and memos, written by the engine.
struct Sample {
    std::string name;
    double amount;
    int count;
    int32_t date;
    bool flag;
    std::string memo;
};

std::vector<Sample> samples() {
    return {
        {"Jos\xe9 Mar\xed"
         "a N\xfa\xf1"
         "ez",
         1234.56, 7, dbf::julianFromYmd(1999, 12, 31), true,
         "Primera l\xednea\r\nSegunda l\xednea con \xe1\xe9\xed\xf3\xfa \xd1 \x80"},
        {"Compa\xf1\xed"
         "a",
         -0.5, -12, dbf::julianFromYmd(2024, 2, 29), false, std::string(300, 'x')},
        {"", 0, 0, 0, false, ""},
        {"Caf\xe9", 99999.99, 123, dbf::julianFromYmd(1900, 1, 1), true, "corto"},
    };
}

std::string writeSample(const TempDir& d) {
    std::string p = d.file("muestra.dbf");
    Table::create(p, {{"NOMBRE", 'C', 25, 0},
                      {"IMPORTE", 'N', 10, 2},
                      {"CANT", 'N', 4, 0},
                      {"FECHA", 'D', 8, 0},
                      {"VTA", 'L', 1, 0},
                      {"OBSERVAC", 'M', 10, 0}});
    auto t = Table::open(p, {false, false});
    for (const Sample& s : samples()) {
        t->appendBlank();
        t->putString(0, s.name);
        if (s.name.empty()) continue;  // a blank record, as appended
        t->putNumber(1, s.amount);
        t->putNumber(2, s.count);
        t->putDate(3, s.date);
        t->putLogical(4, s.flag);
        t->putMemo(5, s.memo);
    }
    // A deleted record that readers must not list as live.
    t->appendBlank();
    t->putString(0, "BORRADO");
    t->setDeleted(true);
    return p;
}

std::string toUtf8(const std::string& cp1252) {
    std::string out;
    for (unsigned char c : cp1252) {
        if (c < 0x80)
            out += static_cast<char>(c);
        else if (c == 0x80)
            out += "\xe2\x82\xac";
        else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> v;
    size_t start = 0;
    for (;;) {
        size_t p = s.find(sep, start);
        v.push_back(s.substr(start, p - start));
        if (p == std::string::npos) break;
        start = p + 1;
    }
    return v;
}

}  // namespace

TEST(IndependentReaders, DbfreadReadsWhatTheEngineWrites) {
    VDR_NEED_TOOL(testsupport::dbfreadInstalled(), "python3-dbfread");
    TempDir d;
    std::string p = writeSample(d);
    std::string theirs = dbfreadCanon(p);
    ASSERT_FALSE(theirs.empty());
    EXPECT_EQ(theirs, engineCanon(p));
    // And the values are the ones written, not merely agreed on.
    EXPECT_NE(theirs.find("1|NOMBRE|Jos\xe9 Mar\xed"
                          "a N\xfa\xf1"
                          "ez\n"),
              std::string::npos);
    EXPECT_NE(theirs.find("1|IMPORTE|1234.56\n"), std::string::npos);
    EXPECT_NE(theirs.find("2|CANT|-12\n"), std::string::npos);
    EXPECT_NE(theirs.find("1|FECHA|" + std::to_string(dbf::julianFromYmd(1999, 12, 31)) + "\n"),
              std::string::npos);
    EXPECT_NE(theirs.find("2|OBSERVAC|" + std::string(300, 'x') + "\n"), std::string::npos);
    EXPECT_EQ(theirs.find("BORRADO"), std::string::npos);
}

TEST(IndependentReaders, PgdbfReadsWhatTheEngineWrites) {
    VDR_NEED_TOOL(dbftest::haveProgram("pgdbf"), "pgdbf");
    TempDir d;
    std::string p = writeSample(d);
    int st = -1;
    std::string out =
        dbftest::run("pgdbf -s cp1252 -m " + dbftest::shellQuote(d.file("muestra.fpt")) + " " +
                         dbftest::shellQuote(p) + " 2>&1",
                     &st);
    ASSERT_EQ(st, 0) << out;
    size_t from = out.find("FROM STDIN\n");
    ASSERT_NE(from, std::string::npos) << out;
    std::vector<std::string> lines =
        split(out.substr(from + 11, out.find("\\.\n") - from - 11), '\n');
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    std::vector<Sample> want = samples();
    ASSERT_EQ(lines.size(), want.size()) << out;  // the deleted record is left out
    for (size_t i = 0; i < want.size(); ++i) {
        std::vector<std::string> f = split(lines[i], '\t');
        ASSERT_EQ(f.size(), 6u) << lines[i];
        EXPECT_EQ(f[0], toUtf8(want[i].name));
        if (want[i].name.empty()) continue;
        EXPECT_DOUBLE_EQ(std::stod(f[1]), want[i].amount);
        EXPECT_EQ(std::stoi(f[2]), want[i].count);
        int y, m, dd;
        dbf::ymdFromJulian(want[i].date, y, m, dd);
        char date[16];
        std::snprintf(date, sizeof date, "%04d-%02d-%02d", y, m, dd);
        EXPECT_EQ(f[3], date);
        EXPECT_EQ(f[4], want[i].flag ? "t" : "f");
        std::string memo = toUtf8(want[i].memo);
        std::string esc;
        for (char c : memo) {
            if (c == '\r')
                esc += "\\r";
            else if (c == '\n')
                esc += "\\n";
            else
                esc += c;
        }
        EXPECT_EQ(f[5], esc);
    }
}

TEST(IndependentReaders, DbfDumpReadsWhatTheEngineWrites) {
    VDR_NEED_TOOL(dbftest::haveProgram("dbf_dump"), "dbf_dump (libdbd-xbase-perl)");
    TempDir d;
    std::string p = writeSample(d);
    int st = -1;
    std::string out =
        dbftest::run("dbf_dump --fs '|' --rs '#END#\n' " + dbftest::shellQuote(p) + " 2>&1", &st);
    ASSERT_EQ(st, 0) << out;
    std::vector<std::string> recs = split(out, '\n');
    std::vector<std::string> lines;
    std::string cur;
    for (auto& r : recs) {
        cur += r;
        if (cur.size() >= 5 && cur.compare(cur.size() - 5, 5, "#END#") == 0) {
            lines.push_back(cur.substr(0, cur.size() - 5));
            cur.clear();
        } else {
            cur += "\n";
        }
    }
    std::vector<Sample> want = samples();
    // dbf_dump leaves the deleted record out, as the others do.
    ASSERT_EQ(lines.size(), want.size()) << out;
    for (size_t i = 0; i < want.size(); ++i) {
        std::vector<std::string> f = split(lines[i], '|');
        ASSERT_EQ(f.size(), 6u) << lines[i];
        EXPECT_EQ(rtrim(f[0]), want[i].name);
        if (want[i].name.empty()) continue;
        EXPECT_DOUBLE_EQ(std::stod(f[1]), want[i].amount);
        EXPECT_EQ(std::stoi(f[2]), want[i].count);
        int y, m, dd;
        dbf::ymdFromJulian(want[i].date, y, m, dd);
        char date[16];
        std::snprintf(date, sizeof date, "%04d%02d%02d", y, m, dd);
        EXPECT_EQ(f[3], date);
        EXPECT_EQ(f[4], want[i].flag ? "1" : "0");
        EXPECT_EQ(f[5], want[i].memo);
    }
    EXPECT_EQ(out.find("BORRADO"), std::string::npos);
}

TEST(VisualFoxProFiles, EngineReadsEveryTableAsDbfreadDoes) {
    VDR_NEED_TOOL(testsupport::dbfreadInstalled(), "python3-dbfread");
    std::string root = std::string(VDR_SOURCE_DIR) + "/tests/data/vfp";
    ASSERT_TRUE(std::filesystem::exists(root)) << root;
    int tables = 0;
    for (auto& e : std::filesystem::recursive_directory_iterator(root)) {
        if (e.path().extension() != ".dbf") continue;
        ++tables;
        std::string p = e.path().string();
        SCOPED_TRACE(p);
        std::string theirs = dbfreadCanon(p);
        ASSERT_FALSE(theirs.empty());
        EXPECT_EQ(engineCanon(p), theirs);
    }
    EXPECT_EQ(tables, 8);
}

TEST(VisualFoxProFiles, TypesAndValuesOfKnownRecords) {
    std::string root = std::string(VDR_SOURCE_DIR) + "/tests/data/vfp";
    // Asked in upper case, as the program's data names them.
    auto t = Table::open(root + "/expenses/EXPENSE DETAILS.DBF", {true, true});
    EXPECT_EQ(t->version(), 0x30);
    EXPECT_EQ(t->recCount(), 6u);
    int amount = t->fieldIndex("expenseite");
    ASSERT_GE(amount, 0);
    EXPECT_EQ(t->fields()[static_cast<size_t>(amount)].type, 'Y');
    t->read(1);
    EXPECT_DOUBLE_EQ(t->getNumber(amount), 431.0);
    xb::Value v = t->value(amount);
    EXPECT_EQ(v.type(), 'N');
    EXPECT_EQ(v.numDecimals(), 4);
    auto c = Table::open(root + "/contacts/calls.dbf", {true, true});
    c->read(1);
    EXPECT_EQ(c->getMemo(c->fieldIndex("NOTES")),
              "Nancy told me about their blends. Thinking about it. Should call back later.");
    dbf::DateTime dt = c->getDateTime(c->fieldIndex("CALL_DATE"));
    EXPECT_EQ(dt.julianDay, 2449678);
    EXPECT_EQ(dt.millis, (13 * 3600 + 35 * 60 + 39) * 1000);
    EXPECT_EQ(c->value(c->fieldIndex("CALL_ID")).asNumber(), 1);
    EXPECT_TRUE(c->check().empty());
}

TEST(VisualFoxProFiles, WritingVfpFieldsKeepsOtherReadersAgreeing) {
    VDR_NEED_TOOL(testsupport::dbfreadInstalled(), "python3-dbfread");
    TempDir d;
    std::string root = std::string(VDR_SOURCE_DIR) + "/tests/data/vfp/expenses/";
    std::filesystem::copy_file(root + "expense reports.dbf", d.file("er.dbf"));
    std::filesystem::copy_file(root + "expense reports.FPT", d.file("er.FPT"));
    std::filesystem::permissions(d.file("er.dbf"), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    std::filesystem::permissions(d.file("er.FPT"), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    {
        auto t = Table::open(d.file("er.dbf"), {false, false});
        t->read(2);
        t->putNumber(t->fieldIndex("EXPENSEREP"), -77);
        t->putNumber(t->fieldIndex("ADVANCEAMO"), 1234.5678);
        t->putDateTime(t->fieldIndex("DATESUBMIT"), {dbf::julianFromYmd(2025, 6, 30), 45296000});
        t->putLogical(t->fieldIndex("PAID"), true);
        t->putMemo(t->fieldIndex("EXPENSERP2"),
                   "Texto nuevo m\xe1s largo que el anterior, con acentos: \xe1\xe9\xed.");
        t->appendBlank();
        t->putNumber(t->fieldIndex("EXPENSEREP"), 4);
        t->putMemo(t->fieldIndex("EXPENSERP2"), "cuarto");
    }
    std::string theirs = dbfreadCanon(d.file("er.dbf"));
    EXPECT_EQ(engineCanon(d.file("er.dbf")), theirs);
    EXPECT_NE(theirs.find("2|EXPENSEREP|-77\n"), std::string::npos);
    EXPECT_NE(theirs.find("2|ADVANCEAMO|1234.5678\n"), std::string::npos);
    EXPECT_NE(theirs.find("2|DATESUBMIT|" + std::to_string(dbf::julianFromYmd(2025, 6, 30)) +
                          " 45296000\n"),
              std::string::npos);
    EXPECT_NE(theirs.find("4|EXPENSERP2|cuarto\n"), std::string::npos);
}
