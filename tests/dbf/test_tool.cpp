// vdrtool info, dump and check on real files.
#include <gtest/gtest.h>

#include <filesystem>

#include "dbf/report.h"
#include "dbf/table.h"
#include "dbf_test_util.h"

using dbf::Table;
using dbftest::TempDir;

namespace {

std::string tool() {
    return std::string(VDR_BINARY_DIR) + "/bin/vdrtool";
}

std::string makeSample(const TempDir& d) {
    std::string p = d.file("Muestra.dbf");
    Table::create(p, {{"NOMBRE", 'C', 12, 0},
                      {"IMPORTE", 'N', 8, 2},
                      {"FECHA", 'D', 8, 0},
                      {"NOTA", 'M', 10, 0}});
    auto t = Table::open(p, {false, false});
    t->appendBlank();
    t->putString(0, "Mu\xf1oz, \"A\"");
    t->putNumber(1, 12.5);
    t->putDate(2, 2460000);
    t->putMemo(3, "dos\nl\xedneas");
    t->appendBlank();
    t->putString(0, "borrado");
    t->setDeleted(true);
    return p;
}

}  // namespace

TEST(Tool, FieldTextAndDescription) {
    TempDir d;
    auto t = Table::open(makeSample(d), {true, true});
    t->read(1);
    EXPECT_EQ(dbf::fieldText(*t, 0), "Mu\xf1oz, \"A\"");
    EXPECT_EQ(dbf::fieldText(*t, 1), "12.50");
    EXPECT_EQ(dbf::fieldText(*t, 2), "2023-02-24");
    EXPECT_EQ(dbf::toTerminal(*t, dbf::fieldText(*t, 3)), "dos\nl\xc3\xadneas");
    std::ostringstream out;
    dbf::describeTable(*t, out);
    EXPECT_NE(out.str().find("0xF5 FoxPro 2.x con memos FPT"), std::string::npos);
    EXPECT_NE(out.str().find("0x03 Windows-1252"), std::string::npos);
    EXPECT_NE(out.str().find("Registros:           2"), std::string::npos);
    EXPECT_NE(out.str().find("Tamaño de bloque:  64"), std::string::npos);
}

TEST(Tool, InfoDumpAndCheckCommands) {
    ASSERT_TRUE(std::filesystem::exists(tool())) << "vdrtool not built in " << tool();
    TempDir d;
    std::string p = makeSample(d);
    int st = -1;
    std::string info =
        dbftest::run(tool() + " info " + dbftest::shellQuote(d.path() + "\\MUESTRA.DBF"), &st);
    EXPECT_EQ(st, 0);
    EXPECT_NE(info.find("NOMBRE      C      12"), std::string::npos) << info;
    std::string csv = dbftest::run(tool() + " dump " + dbftest::shellQuote(p) + " --csv", &st);
    EXPECT_EQ(st, 0);
    EXPECT_EQ(csv,
              "RECNO,BORRADO,NOMBRE,IMPORTE,FECHA,NOTA\r\n"
              "1,,\"Mu\xc3\xb1oz, \"\"A\"\"\",12.50,2023-02-24,\"dos\nl\xc3\xadneas\"\r\n"
              "2,*,borrado,,,\r\n");
    std::string text = dbftest::run(tool() + " dump " + dbftest::shellQuote(p), &st);
    EXPECT_NE(text.find("2 | * | borrado"), std::string::npos) << text;
    std::string ok = dbftest::run(tool() + " check " + dbftest::shellQuote(p), &st);
    EXPECT_EQ(st, 0) << ok;
    // Damage: a letter in the number, a bad mark, a count beyond the file.
    std::string b = dbftest::readFile(p);
    size_t rec1 = 32 + 4 * 32 + 1;
    b[rec1 + 1 + 12 + 3] = 'x';
    b[rec1 + 39] = '#';
    b[4] = 9;
    dbftest::writeFile(p, b);
    std::string bad = dbftest::run(tool() + " check " + dbftest::shellQuote(p), &st);
    EXPECT_EQ(st, 1) << bad;
    EXPECT_NE(bad.find("número no válido"), std::string::npos) << bad;
    EXPECT_NE(bad.find("marca de borrado"), std::string::npos) << bad;
    EXPECT_NE(bad.find("indica 9 registros"), std::string::npos) << bad;
    dbftest::writeFile(p, "no es una tabla");
    std::string err = dbftest::run(tool() + " check " + dbftest::shellQuote(p) + " 2>&1", &st);
    EXPECT_EQ(st, 2);
    EXPECT_NE(err.find("Muestra.dbf"), std::string::npos) << err;
    // A folder given for a table is called a folder, not a damaged table.
    err = dbftest::run(tool() + " check " + dbftest::shellQuote(d.path()) + " 2>&1", &st);
    EXPECT_EQ(st, 2);
    EXPECT_NE(err.find("Es una carpeta, no una tabla."), std::string::npos) << err;
}
