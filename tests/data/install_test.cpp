// The installation that vdrtool builds, read back by an independent reader
// (python3-dbfread), and built a second time over itself without loss.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "data/catalogue.h"
#include "data/menutable.h"
#include "data/paths.h"
#include "data/structures.h"
#include "dbf/table.h"
#include "fixture.h"
#include "outside_tools.h"
#include "xbase/codepage.h"

using namespace datatest;

namespace {

namespace fs = std::filesystem;

const char* kReader = R"PY(
import sys, glob, dbfread
for f in sys.argv[1:]:
    t = dbfread.DBF(f, load=True)
    print("T|%s|%d" % (f, len(t.records)))
    for x in t.fields:
        print("F|%s|%s|%s|%d|%d" % (f, x.name, x.type, x.length, x.decimal_count))
    for r in t.records:
        print("R|%s|%s" % (f, "|".join(str(v) for v in r.values())))
)PY";

// file -> lines the reader printed for it.
std::map<std::string, std::vector<std::string>> readWithDbfread(
    const std::vector<std::string>& files) {
    writeFile("reader.py", kReader);
    std::string cmd = "/usr/bin/python3 reader.py";
    for (const auto& f : files) cmd += " '" + f + "'";
    cmd += " 2>&1";
    std::map<std::string, std::vector<std::string>> out;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[8192];
    while (std::fgets(buf, sizeof buf, p)) {
        std::string line(buf);
        if (!line.empty() && line.back() == '\n') line.pop_back();
        auto a = line.find('|'), b = line.find('|', a + 1);
        if (a == std::string::npos || b == std::string::npos) {
            ADD_FAILURE() << line;
            continue;
        }
        out[line.substr(a + 1, b - a - 1)].push_back(line.substr(0, a) + "|" + line.substr(b + 1));
    }
    ::pclose(p);
    return out;
}

class Installation : public ::testing::Test {
  protected:
    TempDir dir;
};

}  // namespace

TEST_F(Installation, AnIndependentReaderFindsTheExpectedStructures) {
    VDR_NEED_TOOL(testsupport::dbfreadInstalled(), "python3-dbfread");
    installHere();
    auto sources = data::loadStructures(VDR_SOURCE_DIR "/install/structures.txt");
    std::vector<std::string> files;
    std::map<std::string, const data::TableSource*> expected;
    for (const auto& s : sources) {
        files.push_back(s.file);
        expected[s.file] = &s;
    }
    for (const auto& t : data::tables()) {
        if (!t.inCompanyDir) continue;
        std::string f = std::string("EMP00001/") + t.file;
        files.push_back(f);
        for (const auto& s : sources)
            if (xb::upper1252(s.file) == t.templ) expected[f] = &s;
    }
    auto read = readWithDbfread(files);
    for (const auto& [file, src] : expected) {
        SCOPED_TRACE(file);
        ASSERT_TRUE(read.count(file)) << "dbfread could not read it";
        std::vector<std::string> fields;
        for (const auto& l : read[file])
            if (l.rfind("F|", 0) == 0) fields.push_back(l);
        std::vector<std::string> want;
        for (const auto& f : src->fields)
            want.push_back("F|" + f.name + "|" + f.type + "|" + std::to_string(f.width) + "|" +
                           std::to_string(f.decimals));
        EXPECT_EQ(fields, want);
    }
    // The catalogues' records.
    // The structure catalogue: one record per template, holding its structure.
    std::vector<std::string> records;
    for (const auto& src : sources)
        if (src.isTemplate)
            records.push_back("R|" + xb::upper1252(src.file) + "|" +
                              data::structureLiteral(src.fields));
    EXPECT_EQ(read["VDRBASES.INI"][0], "T|" + std::to_string(records.size()));
    for (const std::string& r : records)
        EXPECT_NE(std::find_if(read["VDRBASES.INI"].begin(), read["VDRBASES.INI"].end(),
                               [&](const std::string& l) { return l.rfind(r, 0) == 0; }),
                  read["VDRBASES.INI"].end())
            << r;
    EXPECT_EQ(read["ContEmpr.Ini"][0], "T|1");
    EXPECT_EQ(read["ContEmpr.Ini"].back().substr(0, 40),
              "R|00001|EMP00001|EMPRESA DE PRUEBAS||NIT");
    for (const auto& t : data::tables())
        EXPECT_TRUE(data::fileExists(data::bagPath(t, "EMP00001\\"))) << t.bag;
    EXPECT_TRUE(data::fileExists("VdrBases.cdx"));
    EXPECT_TRUE(data::fileExists("ContEmx1.cdx"));
}

TEST_F(Installation, ASecondInstallKeepsEveryFileAndItsData) {
    installHere();
    {
        auto t = dbf::Table::open("EMP00001/VdrVend.dbf", {false, false});
        t->appendBlank();
        t->putString(0, "V1");
        t->commit();
    }
    std::map<std::string, std::string> before;
    for (auto& e : fs::recursive_directory_iterator("."))
        if (e.is_regular_file() && e.path().filename() != "install.log")
            before[e.path().string()] = readFile(e.path().string());
    installHere();
    for (const auto& [f, bytes] : before) EXPECT_EQ(readFile(f), bytes) << f;
    // A missing bag is built again; nothing else changes.
    fs::remove("EMP00001/VdrVenx1.cdx");
    installHere();
    EXPECT_TRUE(exists("EMP00001/VdrVenx1.cdx"));
    EXPECT_EQ(readFile("EMP00001/VdrVend.dbf"), before["./EMP00001/VdrVend.dbf"]);
    // The help is no data: a page out of date is replaced by the sources'.
    std::ofstream("Ayuda/ZeriDoda.html") << "vieja";
    installHere();
    EXPECT_EQ(readFile("Ayuda/ZeriDoda.html"),
              readFile(VDR_SOURCE_DIR "/install/help/ZeriDoda.html"));
}

// Without --fuentes the tool takes the sources installed with it (install/
// beside its bin/), or its build's when run from a build; never the folder
// it runs in or the target, which hold none.
TEST_F(Installation, TheSourcesComeWithTheToolNotFromTheTarget) {
    fs::create_directories("prog/bin");
    fs::copy_file(vdrtool(), "prog/bin/vdrtool");
    fs::permissions("prog/bin/vdrtool", fs::perms::owner_all);
    fs::create_directory_symlink(VDR_SOURCE_DIR "/install", "prog/install");
    fs::create_directories("dest");
    std::string cmd = "cd dest && ../prog/bin/vdrtool install . > ../out.log 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << readFile("out.log");
    EXPECT_TRUE(exists("dest/VDRBASES.INI"));
    EXPECT_TRUE(exists("dest/EMP00001/VdrProsp.dbf"));
    EXPECT_TRUE(exists("dest/Ayuda/ZeriDoda.html"));
    fs::create_directories("built");
    cmd = "cd built && " + vdrtool() + " install . > ../out.log 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << readFile("out.log");
    EXPECT_TRUE(exists("built/VDRBASES.INI"));
}

TEST_F(Installation, FaultySourcesAreRefusedWithTheirLine) {
    fs::create_directory("src");
    writeFile("src/structures.txt", "TEMPLATE X.INI\nCODIGO C 999 0\nEND\n");
    std::string cmd = vdrtool() + " install dest --fuentes src > out.log 2>&1";
    EXPECT_NE(std::system(cmd.c_str()), 0);
    EXPECT_NE(readFile("out.log").find("línea 2"), std::string::npos) << readFile("out.log");
    EXPECT_FALSE(exists("dest/X.INI"));
}

TEST_F(Installation, TheMenuTableHoldsEveryLineOfItsSource) {
    VDR_NEED_TOOL(testsupport::dbfreadInstalled(), "python3-dbfread");
    installHere();
    std::string src = readFile(VDR_SOURCE_DIR "/install/menu/VdrMenu.txt");
    std::vector<std::string> lines;
    std::istringstream in(src);
    for (std::string l; std::getline(in, l);)
        if (!l.empty() && l[0] != '#') lines.push_back(l);
    auto read = readWithDbfread({"VdrMenu.ini"});
    auto& rows = read["VdrMenu.ini"];
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0], "T|" + std::to_string(lines.size()));
    std::vector<std::string> records;
    for (const auto& r : rows)
        if (r.rfind("R|", 0) == 0) records.push_back(r.substr(2));
    ASSERT_EQ(records.size(), lines.size());
    // dbfread reads the table's Windows-1252 text back as the source's UTF-8.
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string want = lines[i];
        while (std::count(want.begin(), want.end(), '|') < 5) want += "|";
        EXPECT_EQ(records[i], want);
    }
    EXPECT_TRUE(exists("VdrMenx1.cdx"));
}

TEST(MenuSource, TheItemsOfEachMenuHaveKeysOfTheirOwn) {
    // Two items of one menu with the same key: the key only moves between
    // them, and neither runs. Keys compared as the keyboard gives them,
    // upper and lower case alike.
    std::string src = readFile(VDR_SOURCE_DIR "/install/menu/VdrMenu.txt");
    std::istringstream in(src);
    std::vector<std::map<std::string, std::string>> open(1);  // key -> item, per open menu
    int items = 0;
    for (std::string l; std::getline(in, l);) {
        if (l.empty() || l[0] == '#') continue;
        std::vector<std::string> f;
        std::istringstream fields(l);
        for (std::string x; std::getline(fields, x, '|');) f.push_back(x);
        if (f.size() < 3) continue;
        if (f[1] == "0") {
            open.emplace_back();
        } else if (f[1] == "3") {
            ASSERT_GT(open.size(), 1u) << l;
            open.pop_back();
        } else if (f[1] == "1") {
            auto amp = f[2].find('&');
            if (amp == std::string::npos || amp + 1 >= f[2].size()) continue;
            // The key's character, whole (one to four bytes of UTF-8).
            size_t len = 1;
            for (unsigned char c = static_cast<unsigned char>(f[2][amp + 1]); (c & 0xC0) == 0xC0;
                 c = static_cast<unsigned char>(c << 1))
                ++len;
            std::string key = f[2].substr(amp + 1, len);
            if (len == 1)
                key[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(key[0])));
            auto [at, fresh] = open.back().emplace(key, f[2]);
            EXPECT_TRUE(fresh) << "«" << f[2] << "» y «" << at->second << "» con la tecla " << key;
            ++items;
        }
    }
    EXPECT_EQ(open.size(), 1u) << "submenús sin cerrar";
    EXPECT_GT(items, 20);
}

TEST_F(Installation, AFaultyMenuLineIsRefusedAndNothingIsWritten) {
    writeFile("menu.txt", "0010|1|Bien|||\n0020|7|Tipo malo|||\n");
    try {
        data::buildMenuTable("menu.txt");
        ADD_FAILURE() << "accepted";
    } catch (const data::StructureError& e) {
        EXPECT_NE(std::string(e.what()).find("línea 2"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(exists("VdrMenu.ini"));
}
