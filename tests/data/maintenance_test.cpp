// Creation and maintenance of a company's tables on a real installation.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "data/catalogue.h"
#include "data/maintenance.h"
#include "data/structures.h"
#include "dbf/table.h"
#include "fixture.h"
#include "xbase/codepage.h"

using namespace datatest;
using Kind = data::ScriptedInteraction::Kind;

namespace {

namespace fs = std::filesystem;

std::map<std::string, std::string> snapshot() {
    std::map<std::string, std::string> files;
    for (auto& e : fs::recursive_directory_iterator("."))
        if (e.is_regular_file() && e.path().string().find("Terminales") == std::string::npos)
            files[e.path().string()] = readFile(e.path().string());
    return files;
}

class Maintenance : public Session {
  protected:
    void SetUp() override {
        Session::SetUp();
        installHere();
        company();
    }

    // Appends rows through ABRIR with the table's bag, as the program does;
    // every third row is then deleted.
    void fill(const data::TableDef& t, int rows) {
        ASSERT_TRUE(data::ABRIR(t.alias, xb::getVar(t.tableVar).asString(), "S",
                                {xb::getVar(t.bagVar).asString()}));
        dbf::WorkArea& a = *dbf::workspace().area(dbf::workspace().current());
        for (int i = 1; i <= rows; ++i) {
            a.append();
            for (int f = 0; f < a.table().fieldCount(); ++f) {
                const auto& fd = a.table().fields()[f];
                // Few distinct values, so that unique tags have work to do.
                int v = (i * 7) % 5;
                switch (fd.type) {
                    case 'C':
                        a.put(f, xb::Value::str(std::to_string(v) + fd.name));
                        break;
                    case 'N':
                        a.put(f, xb::Value::num(v));
                        break;
                    case 'D':
                        a.put(f, xb::Value::date(2460000 + v));
                        break;
                    case 'L':
                        a.put(f, xb::Value::logical(v % 2));
                        break;
                    case 'M':
                        a.put(f, xb::Value::memo("nota " + std::to_string(i)));
                        break;
                }
            }
            if (i % 3 == 0) a.deleteRecord();
            a.unlock(0);
        }
        data::CERRAR();
    }

    // Every tag of the table lists exactly its live records (unique tags one
    // record per key), in key order, and the order numbers are as created.
    void expectTagsMatch(const data::TableDef& t, uint32_t live) {
        SCOPED_TRACE(t.file);
        ASSERT_TRUE(data::ABRIR(t.alias, xb::getVar(t.tableVar).asString(), "S",
                                {xb::getVar(t.bagVar).asString()}));
        dbf::WorkArea& a = *dbf::workspace().area(dbf::workspace().current());
        EXPECT_EQ(a.recCount(), live);  // the deleted ones are gone from the file
        dbf::Orders& o = dbf::orders(a);
        EXPECT_TRUE(o.check().empty());
        ASSERT_EQ(o.orderCount(), static_cast<int>(t.tags.size()));
        for (int n = 1; n <= o.orderCount(); ++n) {
            const auto& tag = t.tags[n - 1];
            EXPECT_EQ(o.orderName(n), xb::upper1252(tag.name));
            o.setOrder(n);
            xb::Expr key = xb::compile(tag.key);
            std::vector<uint32_t> seen;
            std::set<std::string> keys;
            std::string last;
            for (a.goTop(); !a.eof(); a.skip(1)) {
                EXPECT_FALSE(a.deleted());
                seen.push_back(a.recno());
                std::string k = key.eval().asString();
                EXPECT_LE(last, k) << tag.name;
                last = k;
                keys.insert(k);
            }
            if (tag.unique) {
                EXPECT_EQ(seen.size(), keys.size()) << tag.name;
            } else {
                std::sort(seen.begin(), seen.end());
                std::vector<uint32_t> all;
                for (uint32_t r = 1; r <= live; ++r) all.push_back(r);
                EXPECT_EQ(seen, all) << tag.name;
            }
        }
        data::CERRAR();
    }
};

}  // namespace

TEST_F(Maintenance, DecliningTheQuestionTouchesNothing) {
    fill(data::tables()[1], 6);
    auto before = snapshot();
    ui.answer(2);
    EXPECT_FALSE(data::AUTOMANTEN());
    auto q = ui.of(Kind::Alert);
    ASSERT_EQ(q.size(), 1u);
    EXPECT_EQ(q[0].message, "Proceder con Automantenimiento General ?");
    EXPECT_EQ(q[0].title, "Atenci\xf3n");
    EXPECT_EQ(q[0].buttons, (std::vector<std::string>{"&Continuar", " &Salir  "}));
    EXPECT_EQ(snapshot(), before);
    xb::evalText("AUTOMANTEN()");  // closed without a button
    EXPECT_EQ(snapshot(), before);
}

TEST_F(Maintenance, AfterDeletionsEveryTagListsExactlyTheLiveRecords) {
    const int rows = 12;  // 4 of them deleted
    for (const auto& t : data::tables()) fill(t, rows);
    ui.answer(1);
    EXPECT_TRUE(data::AUTOMANTEN());
    for (const auto& t : data::tables()) expectTagsMatch(t, rows - rows / 3);
    // The orders callers select by number.
    ASSERT_TRUE(data::ABRIR("Prospecto", xb::getVar("VDRPROSP").asString(), "S",
                            {xb::getVar("VDRPRPX1").asString()}));
    EXPECT_EQ(dbf::orders(*dbf::workspace().area(dbf::workspace().current())).orderName(8),
              "CATEGCOD");
    data::CERRAR();
    EXPECT_EQ(dbf::workspace().openAreas().size(), 0u);
}

TEST_F(Maintenance, ProgressDialogsShowEachStepInCatalogueOrder) {
    ui.answer(1);
    data::AUTOMANTEN();
    auto m = ui.of(Kind::Meter);
    ASSERT_EQ(m.size(), 3u);
    for (const auto& d : m) EXPECT_EQ(d.title, "Por favor espere.....");
    EXPECT_EQ(m[0].message, "Procesando datos...");
    EXPECT_EQ(m[1].message, "Procesando datos...");
    EXPECT_EQ(m[2].message, "Reindexando datos...");
    std::vector<std::string> packs, rebuilds, reindex;
    for (const auto& t : data::tables()) {
        std::string f = data::tablePath(t, "EMP00001\\");
        packs.push_back("Compactando " + f);
        rebuilds.push_back("Procesando " + f);
        reindex.push_back("Reindexando " + f);
    }
    auto tail = [](std::vector<std::string> v) {
        return std::vector<std::string>(v.begin() + 1, v.end());
    };
    EXPECT_EQ(tail(m[0].texts), packs);
    EXPECT_EQ(tail(m[1].texts), rebuilds);
    EXPECT_EQ(tail(m[2].texts), reindex);
    EXPECT_EQ(m[0].total, 9);
    EXPECT_EQ(m[2].positions, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST_F(Maintenance, IniBasesLeavesTablesInLineUntouchedAndCreatesMissingOnes) {
    fill(data::tables()[0], 5);
    fs::remove("EMP00001/VdrPlan.dbf");
    data::PlainMeter m;
    data::INIBASES(m);
    EXPECT_TRUE(exists("EMP00001/VdrPlan.dbf"));
    auto before = snapshot();
    data::INIBASES(m);
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(dbf::Table::open("EMP00001/VdrVend.dbf")->recCount(), 5u);
}

TEST_F(Maintenance, ATemplateThatGainedAFieldKeepsEveryLiveRecord) {
    fill(data::tables()[7], 9);  // responses
    {
        auto cat = dbf::Table::open("VDRBASES.INI", {false, false});
        for (uint32_t r = 1; r <= cat->recCount(); ++r) {
            cat->read(r);
            if (cat->getString(0).rfind("VDRRESP.INI", 0) != 0) continue;
            cat->putMemo(
                1, data::structureLiteral(
                       {{"CODIGO", 'C', 20, 0}, {"DETALLE", 'C', 120, 0}, {"NUEVO", 'C', 4, 0}}));
        }
        cat->commit();
    }
    fs::remove("VDRRESP.INI");  // an empty template is made again from the catalogue
    data::PlainMeter m;
    data::RECO_BASES(m);
    auto t = dbf::Table::open("EMP00001/VdrResp.dbf");
    EXPECT_EQ(t->recCount(), 6u);
    ASSERT_EQ(t->fieldIndex("NUEVO"), 2);
    t->read(1);
    EXPECT_EQ(t->getString(2), "    ");
    EXPECT_EQ(dbf::Table::open("VDRRESP.INI")->fieldIndex("NUEVO"), 2);
    expectTagsMatch(data::tables()[7], 6);
}

TEST_F(Maintenance, TheReportRegisterKeepsItsEntries) {
    fill(data::tables()[8], 4);
    ui.answer(1);
    data::AUTOMANTEN();
    EXPECT_EQ(dbf::Table::open("cgInfAd.Ini")->recCount(), 3u);
    // The register is its own template: being full, it is never emptied.
    data::CREARDBF("CGINFAD.INI");
    EXPECT_EQ(dbf::Table::open("cgInfAd.Ini")->recCount(), 3u);
}

TEST_F(Maintenance, VdrtoolMaintRunsUnattendedAndPrintsEachStep) {
    for (const auto& t : data::tables()) fill(t, 6);
    dbf::workspace().closeAll();
    std::string cmd = vdrtool() + " maint . --company EMP00001 > maint.log 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << readFile("maint.log");
    std::string log = readFile("maint.log");
    EXPECT_NE(log.find("Compactando EMP00001\\VdrProsp.dbf"), std::string::npos) << log;
    EXPECT_NE(log.find("Reindexando cgInfAd.Ini"), std::string::npos) << log;
    for (const auto& t : data::tables()) {
        expectTagsMatch(t, 4);
        std::string check = vdrtool() + " check '" + data::tablePath(t, "EMP00001/") + "' '" +
                            data::bagPath(t, "EMP00001/") + "' > check.log 2>&1";
        EXPECT_EQ(std::system(check.c_str()), 0) << readFile("check.log");
    }
    EXPECT_NE(std::system((vdrtool() + " maint . --company EMP00009 2>/dev/null").c_str()), 0);
}
