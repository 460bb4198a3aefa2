// What vdrtool does with bags: the check finds each kind of fault planted in
// a real bag, reindexing mends them, and the ordered dump follows tag and scope.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "dbf/cdx.h"
#include "dbf/order.h"
#include "dbf/order_tools.h"
#include "dbf/table.h"
#include "dbf/workspace.h"
#include "dbf_test_util.h"
#include "xbase/runtime.h"

using namespace dbf;

namespace {

bool anyContains(const std::vector<std::string>& v, const std::string& what) {
    return std::any_of(v.begin(), v.end(),
                       [&](const std::string& s) { return s.find(what) != std::string::npos; });
}

class OrderTools : public ::testing::Test {
  protected:
    void SetUp() override {
        xb::settings().deleted = true;
        xb::setFieldAccess(&workspace());
        workspace().closeAll();
        table = dir.file("VdrVend.dbf");
        bag = dir.file("VdrVenx1.cdx");
        Table::create(table, {{"CODIGO", 'C', 8, 0}, {"NOMBRE", 'C', 40, 0}});
        int a = workspace().open(table, "Vendedor", OpenOptions{false, false});
        WorkArea& wa = *workspace().area(a);
        for (int i = 1; i <= 40; ++i) {
            wa.append();
            wa.table().putString(0, "V" + std::to_string(i % 13));
            wa.table().putString(1, "NOMBRE " + std::to_string(100 - i));
            wa.table().flush();
        }
        wa.goTo(5);
        wa.deleteRecord();
        Orders& o = orders(wa);
        o.createTag(bag, "Codigo", "CODIGO", "!Deleted()");
        o.createTag(bag, "Nombre", "NOMBRE", "!Deleted()");
        o.createTag(bag, "VendUniq", "CODIGO", "!Deleted()", true);
        workspace().closeAll();
    }
    void TearDown() override { workspace().closeAll(); }

    dbftest::TempDir dir;
    std::string table, bag;
};

}  // namespace

TEST_F(OrderTools, CheckFindsPlantedFaultsAndReindexMendsThem) {
    EXPECT_TRUE(checkBags(table, {bag}).empty());
    {
        auto b = CdxBag::open(bag, true, false);
        CdxTag* cod = b->tag("CODIGO");
        CdxTag* nom = b->tag("NOMBRE");
        CdxTag* uni = b->tag("VENDUNIQ");
        ASSERT_TRUE(cod && nom && uni);
        // Missing: record 7 leaves CODIGO.
        ASSERT_TRUE(cod->remove(cdxkey::fromText("V7", 8), 7));
        // Wrong key for record 8 in NOMBRE.
        ASSERT_TRUE(nom->remove(cdxkey::fromText("NOMBRE 92", 40), 8));
        ASSERT_TRUE(nom->insert(cdxkey::fromText("OTRO", 40), 8));
        // A record that does not exist, and a deleted one that the FOR excludes.
        ASSERT_TRUE(cod->insert(cdxkey::fromText("V1", 8), 999));
        ASSERT_TRUE(cod->insert(cdxkey::fromText("V5", 8), 5));
        // The unique tag's key V2 held by its second record as well.
        auto first = uni->seekFirst(cdxkey::fromText("V2", 8));
        ASSERT_TRUE(first.valid);
        ASSERT_TRUE(uni->remove(first.key, first.recno));
        ASSERT_TRUE(uni->insert(first.key, first.recno + 13));
    }
    auto faults = checkBags(table, {bag});
    EXPECT_TRUE(anyContains(faults, "falta la clave del registro 7")) << faults.size();
    EXPECT_TRUE(anyContains(faults, "la clave del registro 8 no corresponde"));
    EXPECT_TRUE(anyContains(faults, "registro 999 inexistente"));
    EXPECT_TRUE(anyContains(faults, "el registro 5 no cumple la condición"));
    EXPECT_TRUE(anyContains(faults, "VENDUNIQ"));
    for (const auto& f : faults) EXPECT_EQ(f.rfind("VdrVenx1.cdx: ", 0), 0u) << f;

    EXPECT_EQ(reindexBags(table, {bag}), 3);
    EXPECT_TRUE(checkBags(table, {bag}).empty());
}

TEST_F(OrderTools, BrokenTreeIsReportedNotCrashed) {
    // Break the neighbour link of the first leaf of NOMBRE by hand.
    uint32_t leaf = 0;
    {
        auto b = CdxBag::open(bag, true, false);
        leaf = b->tag("NOMBRE")->first().leaf;
    }
    {
        FILE* f = std::fopen(bag.c_str(), "r+b");
        ASSERT_NE(f, nullptr);
        std::fseek(f, static_cast<long>(leaf) + 4, SEEK_SET);
        uint32_t bogus = 1024;
        std::fwrite(&bogus, 4, 1, f);
        std::fclose(f);
    }
    auto faults = checkBags(table, {bag});
    EXPECT_TRUE(anyContains(faults, "enlace izquierdo"));
}

TEST_F(OrderTools, DescribeAndOrderedDumpFollowTagAndScope) {
    auto tags = describeBag(bag);
    ASSERT_EQ(tags.size(), 3u);
    EXPECT_EQ(tags[0].name, "CODIGO");
    EXPECT_EQ(tags[1].keyExpr, "NOMBRE");
    EXPECT_TRUE(tags[2].unique);
    EXPECT_EQ(tags[0].keys, 39u);  // one deleted record left out
    EXPECT_EQ(tags[2].keys, 13u);
    EXPECT_EQ(tags[1].keyLength, 40);

    auto recs = orderedRecords(table, bag, "Codigo", std::string("V1"), std::string("V1"));
    // "V1" as a prefix also takes V10, V11, V12, as a scope on a code does.
    std::vector<uint32_t> want;
    std::vector<std::pair<std::string, uint32_t>> keyed;
    for (uint32_t r = 1; r <= 40; ++r) {
        if (r == 5) continue;
        std::string code = "V" + std::to_string(r % 13);
        if (code.rfind("V1", 0) == 0) keyed.emplace_back(code, r);
    }
    std::sort(keyed.begin(), keyed.end());
    for (auto& k : keyed) want.push_back(k.second);
    EXPECT_EQ(recs, want);
    EXPECT_THROW(orderedRecords(table, bag, "NOHAY"), DbfError);
}

TEST(OrderToolsVfp, NumericScopesReadAsNumbers) {
    dbftest::TempDir dir;
    for (const char* f : {"calls.dbf", "calls.CDX", "calls.FPT"})
        std::filesystem::copy_file(std::string(VDR_SOURCE_DIR) + "/tests/data/vfp/contacts/" + f,
                                   dir.file(f));
    auto recs = orderedRecords(dir.file("calls.dbf"), dir.file("calls.CDX"), "CALL_ID",
                               std::string("3"), std::string("5"));
    EXPECT_EQ(recs, (std::vector<uint32_t>{3, 4, 5}));
}
