// Table files: creation, structure checks, typed fields, memos, repair of
// damaged files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "dbf/dates.h"
#include "dbf/fpt.h"
#include "dbf/paths.h"
#include "dbf/table.h"
#include "dbf_test_util.h"
#include "xbase/value.h"

using dbf::DbfError;
using dbf::FieldDef;
using dbf::Table;
using dbftest::TempDir;

namespace {

std::vector<FieldDef> allTypes() {
    return {{"NOMBRE", 'C', 20, 0}, {"IMPORTE", 'N', 10, 2}, {"CANT", 'N', 5, 0},
            {"FECHA", 'D', 8, 0},   {"VTA", 'L', 1, 0},      {"OBSERVAC", 'M', 10, 0}};
}

std::unique_ptr<Table> openExcl(const std::string& p) {
    return Table::open(p, {false, false});
}

uint32_t le32at(const std::string& s, size_t off) {
    auto* p = reinterpret_cast<const unsigned char*>(s.data() + off);
    return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24);
}

std::string errorOf(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const DbfError& e) {
        return e.what();
    }
    return "";
}

}  // namespace

// ------------------------------------------------------------------ creating

TEST(TableCreate, PlainTableHeaderIsFoxPro2) {
    TempDir d;
    std::string p = d.file("plain.dbf");
    Table::create(p, {{"CODIGO", 'C', 8, 0}, {"PRECIO", 'N', 12, 2}});
    std::string b = dbftest::readFile(p);
    ASSERT_EQ(b.size(), 32u + 64u + 1u + 1u);
    EXPECT_EQ(static_cast<unsigned char>(b[0]), 0x03);
    EXPECT_EQ(le32at(b, 4), 0u);
    EXPECT_EQ(static_cast<unsigned char>(b[8]) | (static_cast<unsigned char>(b[9]) << 8), 97);
    EXPECT_EQ(static_cast<unsigned char>(b[10]), 1 + 8 + 12);
    EXPECT_EQ(static_cast<unsigned char>(b[29]), 0x03);  // Windows-1252
    EXPECT_EQ(b.substr(32, 6), "CODIGO");
    EXPECT_EQ(b[32 + 11], 'C');
    EXPECT_EQ(b[96], '\x0D');
    EXPECT_EQ(b[97], '\x1A');
    EXPECT_FALSE(std::filesystem::exists(d.file("plain.fpt")));
}

TEST(TableCreate, MemoTableGetsFptOf64ByteBlocks) {
    TempDir d;
    Table::create(d.file("memo.dbf"), allTypes());
    EXPECT_EQ(static_cast<unsigned char>(dbftest::readFile(d.file("memo.dbf"))[0]), 0xF5);
    std::string m = dbftest::readFile(d.file("memo.fpt"));
    ASSERT_EQ(m.size(), 512u);
    EXPECT_EQ((unsigned char)m[3], 8);  // next free block: right after the header
    EXPECT_EQ((unsigned char)m[6], 0);
    EXPECT_EQ((unsigned char)m[7], 64);
}

TEST(TableCreate, AnyExtensionAndMemoNamedFpt) {
    TempDir d;
    Table::create(d.file("ContEmpr.Ini"), {{"NOTA", 'M', 10, 0}});
    EXPECT_TRUE(std::filesystem::exists(d.file("ContEmpr.FPT")));
    auto t = Table::open(d.file("CONTEMPR.INI"));
    EXPECT_TRUE(t->hasMemo());
}

TEST(TableCreate, RefusesBadStructuresWithClearMessages) {
    TempDir d;
    std::string p = d.file("bad.dbf");
    EXPECT_NE(errorOf([&] {
                  Table::create(p, {{"NOMBREMUYLARGO", 'C', 10, 0}});
              }).find("más de 10"),
              std::string::npos);
    EXPECT_NE(errorOf([&] {
                  Table::create(p, {{"CAMPO", 'X', 10, 0}});
              }).find("tipo desconocido"),
              std::string::npos);
    EXPECT_NE(errorOf([&] {
                  Table::create(p, {{"CAMPO", 'C', 0, 0}});
              }).find("«CAMPO»"),
              std::string::npos);
    EXPECT_NE(errorOf([&] {
                  Table::create(p, {{"CAMPO", 'C', 300, 0}});
              }).find("254"),
              std::string::npos);
    EXPECT_NE(errorOf([&] {
                  Table::create(p, {{"CAMPO", 'N', 5, 4}});
              }).find("decimales"),
              std::string::npos);
    EXPECT_NE(errorOf([&] {
                  Table::create(p, {{"A", 'C', 1, 0}, {"a", 'N', 2, 0}});
              }).find("repetido"),
              std::string::npos);
    EXPECT_NE(errorOf([&] { Table::create(p, {}); }).find("no tiene campos"), std::string::npos);
    EXPECT_NE(errorOf([&] {
                  Table::create(p, {{"1ABC", 'C', 1, 0}});
              }).find("letra"),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(p));  // nothing written for a refused structure
}

TEST(TableCreate, FixedWidthTypesTakeTheirWidth) {
    TempDir d;
    Table::create(d.file("w.dbf"),
                  {{"F", 'D', 0, 0}, {"L", 'L', 3, 0}, {"M", 'M', 4, 0}, {"n", 'n', 4, 1}});
    auto t = Table::open(d.file("w.dbf"));
    std::vector<FieldDef> want = {
        {"F", 'D', 8, 0}, {"L", 'L', 1, 0}, {"M", 'M', 10, 0}, {"N", 'N', 4, 1}};
    EXPECT_EQ(t->structure(), want);
}

// ------------------------------------------------------------------ fields

TEST(TableFields, EveryTypeRoundTripsThroughTheFile) {
    TempDir d;
    std::string p = d.file("t.dbf");
    Table::create(p, allTypes());
    int32_t jd = dbf::julianFromYmd(2024, 2, 29);
    {
        auto t = openExcl(p);
        t->appendBlank();
        t->putString(0,
                     "\xd1"
                     "and\xfa \xe1\xe9\xed\xf3\xfa");  // Windows-1252 accents
        t->putNumber(1, -1234.5);
        t->putNumber(2, 42);
        t->putDate(3, jd);
        t->putLogical(4, true);
        t->putMemo(5, "línea 1\r\nlínea 2");
        t->appendBlank();
    }
    auto t = Table::open(p);
    ASSERT_EQ(t->recCount(), 2u);
    ASSERT_TRUE(t->read(1));
    EXPECT_EQ(t->getString(0), std::string("\xd1"
                                           "and\xfa \xe1\xe9\xed\xf3\xfa") +
                                   std::string(9, ' '));
    EXPECT_EQ(t->raw(1), "  -1234.50");
    EXPECT_DOUBLE_EQ(t->getNumber(1), -1234.5);
    EXPECT_DOUBLE_EQ(t->getNumber(2), 42);
    EXPECT_EQ(t->getDate(3), jd);
    EXPECT_EQ(t->raw(3), "20240229");
    EXPECT_TRUE(t->getLogical(4));
    EXPECT_EQ(t->getMemo(5), "línea 1\r\nlínea 2");
    xb::Value v = t->value(1);
    EXPECT_EQ(v.type(), 'N');
    EXPECT_EQ(v.numWidth(), 10);
    EXPECT_EQ(v.numDecimals(), 2);
    EXPECT_EQ(t->value(5).type(), 'M');
    EXPECT_EQ(t->value(3).asDate(), jd);
    // The second record is blank: empty values of each type.
    ASSERT_TRUE(t->read(2));
    EXPECT_EQ(t->value(0).asString(), std::string(20, ' '));
    EXPECT_EQ(t->value(1).asNumber(), 0);
    EXPECT_EQ(t->value(3).asDate(), 0);
    EXPECT_FALSE(t->value(4).asLogical());
    EXPECT_EQ(t->value(5).asString(), "");
}

TEST(TableFields, NumbersRoundHalfAwayAndOverflowToAsterisks) {
    TempDir d;
    std::string p = d.file("n.dbf");
    Table::create(p, {{"A", 'N', 6, 2}, {"B", 'N', 3, 0}});
    auto t = openExcl(p);
    t->appendBlank();
    t->putNumber(0, 2.675);
    EXPECT_EQ(t->raw(0), "  2.68");
    t->putNumber(0, -0.001);
    EXPECT_EQ(t->raw(0), "  0.00");
    t->putNumber(0, -2.5);
    EXPECT_EQ(t->raw(0), " -2.50");
    t->putNumber(1, 1000);
    EXPECT_EQ(t->raw(1), "***");
    t->putNumber(1, 999.4);
    EXPECT_EQ(t->raw(1), "999");
    t->putNumber(1, -99);
    EXPECT_EQ(t->raw(1), "-99");
}

TEST(TableFields, ValueOfWrongTypeIsRefused) {
    TempDir d;
    std::string p = d.file("v.dbf");
    Table::create(p, allTypes());
    auto t = openExcl(p);
    t->appendBlank();
    EXPECT_THROW(t->putValue(1, xb::Value::str("12")), DbfError);
    EXPECT_THROW(t->putValue(3, xb::Value::num(1)), DbfError);
    EXPECT_THROW(t->putValue(0, xb::Value::logical(true)), DbfError);
    t->putValue(0, xb::Value::str("texto largo que no cabe en veinte"));
    EXPECT_EQ(t->getString(0), "texto largo que no c");
    t->putValue(5, xb::Value::str("memo"));
    EXPECT_EQ(t->getMemo(5), "memo");
}

// A changed text never overwrites the blocks of the old one (a power cut in
// between must find the old text whole); the same text keeps its block.
TEST(TableFields, MemoTakesNewBlocksWhenItsTextChanges) {
    TempDir d;
    std::string p = d.file("m.dbf");
    Table::create(p, {{"NOTA", 'M', 10, 0}});
    auto t = openExcl(p);
    t->appendBlank();
    t->putMemo(0, std::string(50, 'a'));  // 8 + 50 bytes: one block
    std::string first(t->raw(0));
    EXPECT_EQ(first, "         8");
    t->putMemo(0, std::string(50, 'a'));
    EXPECT_EQ(std::string(t->raw(0)), first);
    t->putMemo(0, std::string(56, 'b'));  // would fit the old block: a new one all the same
    EXPECT_EQ(std::string(t->raw(0)), "         9");
    t->putMemo(0, std::string(57, 'c'));  // two blocks, at the next free one
    EXPECT_EQ(std::string(t->raw(0)), "        10");
    EXPECT_EQ(t->memoFile()->nextFree(), 12u);
    EXPECT_EQ(t->getMemo(0), std::string(57, 'c'));
    t->putMemo(0, "");
    EXPECT_EQ(std::string(t->raw(0)), std::string(10, ' '));
}

TEST(TableFields, PhantomRecordIsBlankAndCannotBeWritten) {
    TempDir d;
    std::string p = d.file("ph.dbf");
    Table::create(p, allTypes());
    auto t = openExcl(p);
    EXPECT_FALSE(t->read(5));
    EXPECT_TRUE(t->atPhantom());
    EXPECT_EQ(t->recno(), 1u);
    EXPECT_EQ(t->value(1).asNumber(), 0);
    EXPECT_THROW(t->putNumber(1, 3), DbfError);
}

TEST(TableFields, DeletionMarkPersists) {
    TempDir d;
    std::string p = d.file("del.dbf");
    Table::create(p, {{"A", 'C', 1, 0}});
    {
        auto t = openExcl(p);
        t->appendBlank();
        t->appendBlank();
        t->read(1);
        t->setDeleted(true);
        t->read(2);
        t->setDeleted(true);
        t->setDeleted(false);
    }
    std::string b = dbftest::readFile(p);
    EXPECT_EQ(b[65], '*');
    EXPECT_EQ(b[67], ' ');
    auto t = Table::open(p);
    t->read(1);
    EXPECT_TRUE(t->deleted());
    t->read(2);
    EXPECT_FALSE(t->deleted());
}

TEST(TableFields, SharedWriteNeedsTheRecordLock) {
    TempDir d;
    std::string p = d.file("lk.dbf");
    Table::create(p, {{"A", 'C', 5, 0}});
    {
        auto t = openExcl(p);
        t->appendBlank();
    }
    auto t = Table::open(p);  // shared by default
    t->read(1);
    try {
        t->putString(0, "x");
        FAIL() << "an unlocked write must be refused";
    } catch (const DbfError& e) {
        EXPECT_EQ(e.gencode(), dbf::kErrUnlocked);
        EXPECT_NE(std::string(e.what()).find("no está bloqueado"), std::string::npos);
    }
    ASSERT_TRUE(t->lockRecord(1, true));
    t->putString(0, "x");
    t->unlockAll();
    EXPECT_THROW(t->putString(0, "y"), DbfError);
    // An appended record comes locked and may be written at once.
    t->appendBlank();
    t->putString(0, "nuevo");
    t->unlockAll();
    t->read(2);
    EXPECT_EQ(t->getString(0), "nuevo");
}

TEST(TableFields, ReadOnlyOpenRefusesChanges) {
    TempDir d;
    std::string p = d.file("ro.dbf");
    Table::create(p, {{"A", 'C', 5, 0}});
    auto t = Table::open(p, {true, true});
    EXPECT_THROW(t->appendBlank(), DbfError);
}

TEST(TableFields, PackAndZapNeedExclusiveUse) {
    TempDir d;
    std::string p = d.file("pk.dbf");
    Table::create(p, {{"N", 'N', 3, 0}, {"M", 'M', 10, 0}});
    {
        auto t = openExcl(p);
        for (int i = 1; i <= 5; ++i) {
            t->appendBlank();
            t->putNumber(0, i);
            t->putMemo(1, "memo " + std::to_string(i));
        }
        t->read(2);
        t->setDeleted(true);
        t->read(4);
        t->setDeleted(true);
    }
    {
        auto s = Table::open(p);
        EXPECT_THROW(s->pack(), DbfError);
        EXPECT_THROW(s->zap(), DbfError);
    }
    {
        auto t = openExcl(p);
        t->pack();
        ASSERT_EQ(t->recCount(), 3u);
        std::vector<double> got;
        for (uint32_t r = 1; r <= 3; ++r) {
            t->read(r);
            got.push_back(t->getNumber(0));
            EXPECT_EQ(t->getMemo(1), "memo " + std::to_string(int(t->getNumber(0))));
        }
        EXPECT_EQ(got, (std::vector<double>{1, 3, 5}));
    }
    EXPECT_EQ(std::filesystem::file_size(p), 32u + 64 + 1 + 3 * 14 + 1);
    {
        auto t = openExcl(p);
        t->zap();
        EXPECT_EQ(t->recCount(), 0u);
    }
    EXPECT_EQ(std::filesystem::file_size(p), 32u + 64 + 1 + 1);
    EXPECT_EQ(std::filesystem::file_size(d.file("pk.fpt")), 512u);
    {
        // Emptied again: records only appended in memory, then records and
        // memos on the disk, then nothing at all since the last zap.
        auto t = openExcl(p);
        t->appendBlank();
        t->zap();
        for (int i = 0; i < 2; ++i) {
            t->appendBlank();
            t->putNumber(0, 7);
            t->putMemo(1, "otra vez");
        }
        t->commit();
        EXPECT_GT(std::filesystem::file_size(p), 32u + 64 + 2);
        EXPECT_GT(std::filesystem::file_size(d.file("pk.fpt")), 512u);
        t->zap();
        t->zap();
        EXPECT_EQ(t->recCount(), 0u);
    }
    EXPECT_EQ(std::filesystem::file_size(p), 32u + 64 + 1 + 1);
    EXPECT_EQ(std::filesystem::file_size(d.file("pk.fpt")), 512u);
    EXPECT_EQ(Table::open(p)->recCount(), 0u);
}

// A large table used alone is read through a mapping of its file: what is
// written shows at once, records appended far past the first mapping are read
// back, and pack and zap shorten the file under it without harm.
TEST(TableFields, LargeExclusiveTableReadsWhatItWrites) {
    TempDir d;
    std::string p = d.file("grande.dbf");
    Table::create(p, {{"N", 'N', 8, 0}, {"TXT", 'C', 200, 0}});
    auto t = openExcl(p);
    auto fill = [&](uint32_t from, uint32_t to) {
        for (uint32_t i = from; i <= to; ++i) {
            t->appendBlank();
            t->putNumber(0, i);
            t->putString(1, "registro " + std::to_string(i));
        }
        t->flush();
    };
    auto expectRecord = [&](uint32_t r, double n) {
        ASSERT_TRUE(t->read(r)) << r;
        EXPECT_EQ(t->getNumber(0), n) << r;
    };
    fill(1, 8000);  // about 1.6 MB
    std::mt19937 rng(9);
    for (int i = 0; i < 500; ++i) {
        uint32_t r = 1 + rng() % 8000;
        expectRecord(r, r);
    }
    // Changed in place, then read again at random.
    for (uint32_t r = 1; r <= 8000; r += 7) {
        t->read(r);
        t->putNumber(0, r * 10.0);
    }
    t->flush();
    for (uint32_t r = 1; r <= 8000; r += 7) expectRecord(r, r * 10.0);
    // Growth within the room the mapping left, then well past it.
    fill(8001, 9000);
    expectRecord(8500, 8500);
    fill(9001, 30000);
    for (uint32_t r : {1u, 8000u, 9000u, 20000u, 30000u})
        expectRecord(r, r % 7 == 1 && r <= 8000 ? r * 10.0 : r);
    // Pack drops every other record; the file shrinks under the mapping.
    for (uint32_t r = 2; r <= 30000; r += 2) {
        t->read(r);
        t->setDeleted(true);
    }
    t->pack();
    ASSERT_EQ(t->recCount(), 15000u);
    expectRecord(15000, 29999);
    expectRecord(4001, 8001);
    EXPECT_FALSE(t->read(15001));
    t->zap();
    EXPECT_EQ(t->recCount(), 0u);
    EXPECT_FALSE(t->read(1));
    fill(1, 6000);
    expectRecord(6000, 6000);
}

// ------------------------------------------------------------------ paths

TEST(Paths, FilesAreFoundWhateverTheCaseAndSeparators) {
    TempDir d;
    std::filesystem::create_directory(d.file("Emp00002"));
    Table::create(d.file("Emp00002/VdrVend.dbf"), {{"CODIGO", 'C', 8, 0}});
    auto t = Table::open(d.path() + "\\EMP00002\\VDRVEND.DBF");
    EXPECT_EQ(t->path(), d.file("Emp00002/VdrVend.dbf"));
    EXPECT_EQ(dbf::resolvePath(d.path() + "\\emp00002\\nuevo.DBF"), d.file("Emp00002/nuevo.DBF"));
    EXPECT_FALSE(dbf::findExisting(d.path() + "/emp00003/VdrVend.dbf"));
    EXPECT_EQ(dbf::withExtension(d.file("emp00002/vdrvend.dbf"), ".cdx"),
              d.file("Emp00002/vdrvend.cdx"));
}

TEST(Paths, MissingTableIsAClearError) {
    TempDir d;
    try {
        Table::open(d.file("noexiste.dbf"));
        FAIL();
    } catch (const DbfError& e) {
        EXPECT_EQ(e.gencode(), dbf::kErrOpen);
        EXPECT_NE(e.filename().find("noexiste.dbf"), std::string::npos);
    }
}

// ------------------------------------------------------------------ repair

TEST(TableRepair, CountBeyondTheRecordsOnDiskIsCutBack) {
    TempDir d;
    std::string p = d.file("cut.dbf");
    Table::create(p, {{"A", 'C', 10, 0}});
    {
        auto t = openExcl(p);
        for (int i = 0; i < 5; ++i) {
            t->appendBlank();
            t->putString(0, "r" + std::to_string(i + 1));
        }
    }
    // A crash left the fifth record half written.
    std::string b = dbftest::readFile(p);
    dbftest::writeFile(p, b.substr(0, 65 + 4 * 11 + 6));
    {
        auto t = Table::open(p);
        EXPECT_EQ(t->recCount(), 4u);
        t->read(4);
        EXPECT_EQ(t->getString(0), "r4        ");
    }
    b = dbftest::readFile(p);
    EXPECT_EQ(le32at(b, 4), 4u);
    EXPECT_EQ(b.size(), 65u + 4 * 11 + 1);
    EXPECT_EQ(b.back(), '\x1A');
}

TEST(TableRepair, CompleteRecordBeyondTheCountIsTakenIn) {
    TempDir d;
    std::string p = d.file("more.dbf");
    Table::create(p, {{"A", 'C', 10, 0}});
    {
        auto t = openExcl(p);
        for (int i = 0; i < 3; ++i) t->appendBlank();
    }
    std::string b = dbftest::readFile(p);
    b[4] = 2;  // the header write of the last append never happened
    dbftest::writeFile(p, b);
    auto t = Table::open(p);
    EXPECT_EQ(t->recCount(), 3u);
}

TEST(TableRepair, DamagedFilesAreErrorsNamingTheFile) {
    TempDir d;
    std::string p = d.file("dam.dbf");
    auto expectDamage = [&](const std::string& bytes) {
        dbftest::writeFile(p, bytes);
        try {
            Table::open(p);
            ADD_FAILURE() << "opened a damaged file";
        } catch (const DbfError& e) {
            EXPECT_NE(e.filename().find("dam.dbf"), std::string::npos);
            EXPECT_FALSE(e.description().empty());
        }
    };
    expectDamage("");
    expectDamage(std::string(20, '\x03'));
    expectDamage(std::string("\x42") + std::string(100, '\0'));
    Table::create(p, {{"A", 'C', 10, 0}});
    std::string good = dbftest::readFile(p);
    expectDamage(good.substr(0, 40));  // header cut
    std::string bad = good;
    bad[32 + 11] = 'Z';  // unknown field type
    expectDamage(bad);
    bad = good;
    bad[10] = 3;  // record shorter than its fields
    bad[11] = 0;
    expectDamage(bad);
}

TEST(TableRepair, MissingOrDamagedMemoFile) {
    TempDir d;
    std::string p = d.file("mm.dbf");
    Table::create(p, {{"NOTA", 'M', 10, 0}});
    {
        auto t = openExcl(p);
        t->appendBlank();
        t->putMemo(0, "hola");
        t->appendBlank();
    }
    // A pointer outside the memo file reads as an error, not a crash.
    {
        std::string b = dbftest::readFile(p);
        b.replace(32 + 32 + 1 + 1 + 11 + 1, 10, "    999999");
        dbftest::writeFile(p, b);
        auto t = Table::open(p);
        t->read(2);
        EXPECT_THROW(t->getMemo(0), DbfError);
        t->read(1);
        EXPECT_EQ(t->getMemo(0), "hola");
        auto faults = t->check();
        EXPECT_EQ(faults.size(), 1u);
    }
    std::filesystem::remove(d.file("mm.fpt"));
    EXPECT_THROW(Table::open(p), DbfError);
}

// ------------------------------------------------------------------ Visual FoxPro

namespace {

// A Visual FoxPro table with two nullable fields and the hidden _NullFlags.
std::string vfpNullable() {
    struct F {
        const char* name;
        char type;
        int len;
        int flags;
    } fields[] = {{"ID", 'I', 4, 0x02}, {"NAME", 'C', 10, 0x02}, {"_NullFlags", '0', 1, 0x05}};
    uint32_t hl = 32 + 32 * 3 + 1 + 263, rl = 16;
    std::string h(hl, '\0');
    h[0] = 0x30;
    h[4] = 2;
    h[8] = static_cast<char>(hl & 0xFF);
    h[9] = static_cast<char>(hl >> 8);
    h[10] = static_cast<char>(rl);
    h[29] = 0x03;
    uint32_t off = 1;
    for (int i = 0; i < 3; ++i) {
        std::string n = fields[i].name;
        h.replace(32 + 32 * i, n.size(), n);
        h[32 + 32 * i + 11] = fields[i].type;
        h[32 + 32 * i + 12] = static_cast<char>(off);
        h[32 + 32 * i + 16] = static_cast<char>(fields[i].len);
        h[32 + 32 * i + 18] = static_cast<char>(fields[i].flags);
        off += static_cast<uint32_t>(fields[i].len);
    }
    h[32 + 96] = 0x0D;
    std::string r1 =
        std::string(" ") + std::string("\x05\0\0\0", 4) + "abc       " + std::string(1, '\0');
    std::string r2 =
        std::string(" ") + std::string(4, '\0') + std::string(10, ' ') + std::string(1, '\x03');
    return h + r1 + r2 + "\x1A";
}

}  // namespace

TEST(VisualFoxPro, NullableFieldsThroughTheNullFlags) {
    TempDir d;
    std::string p = d.file("nulos.dbf");
    dbftest::writeFile(p, vfpNullable());
    {
        auto t = openExcl(p);
        EXPECT_EQ(t->fieldCount(), 2);  // _NullFlags stays hidden
        EXPECT_EQ(t->fieldIndex("_NullFlags"), -1);
        t->read(1);
        EXPECT_FALSE(t->isNull(0));
        EXPECT_EQ(t->value(0).asNumber(), 5);
        EXPECT_EQ(t->value(1).asString(), "abc       ");
        t->read(2);
        EXPECT_TRUE(t->value(0).isNil());
        EXPECT_TRUE(t->value(1).isNil());
        t->putValue(0, xb::Value::num(7));  // a value clears the field's own bit only
        EXPECT_FALSE(t->isNull(0));
        EXPECT_TRUE(t->isNull(1));
        t->read(1);
        t->putValue(1, xb::Value::nil());
        EXPECT_TRUE(t->isNull(1));
    }
    std::string b = dbftest::readFile(p);
    uint32_t hl = 32 + 96 + 1 + 263;
    EXPECT_EQ(static_cast<unsigned char>(b[hl + 15]), 0x02);  // record 1: NAME null
    EXPECT_EQ(static_cast<unsigned char>(b[hl + 16 + 15]),
              0x02);  // record 2: ID set, NAME still null
    EXPECT_EQ(static_cast<unsigned char>(b[hl + 16 + 1]), 7);
    // Appending to a VFP table keeps its layout and zeroes binary fields.
    auto t = openExcl(p);
    t->appendBlank();
    EXPECT_EQ(t->value(0).asNumber(), 0);
    EXPECT_FALSE(t->isNull(0));
}

TEST(TableFields, MemoPointerInAWideMemoField) {
    // Some writers give memo fields more than 10 positions; the pointer goes
    // right-aligned into the whole width.
    TempDir d;
    std::string p = d.file("ancho.dbf");
    Table::create(p, {{"NOTA", 'M', 10, 0}});
    std::string b = dbftest::readFile(p);
    b[32 + 16] = 40;  // field length 40
    b[10] = 41;       // record length
    dbftest::writeFile(p, b);
    auto t = openExcl(p);
    t->appendBlank();
    t->putMemo(0, "texto");
    EXPECT_EQ(t->raw(0), std::string(39, ' ') + "8");
    EXPECT_EQ(t->getMemo(0), "texto");
}
