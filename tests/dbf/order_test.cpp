// Orders of a work area over real tables and bags: the prospect tags built
// over existing records, moving and seeking in order, scopes, key counts and
// positions, upkeep on appends, changes, deletions and recalls, relations,
// Visual FoxPro's own bags, and a second process seeing our changes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "dbf/cdx.h"
#include "dbf/order.h"
#include "dbf/table.h"
#include "dbf/workspace.h"
#include "dbf_test_util.h"
#include "outside_tools.h"
#include "prospect_tags.h"
#include "xbase/compiler.h"
#include "xbase/runtime.h"

using namespace dbf;
using dbftest::TempDir;

namespace {

const std::vector<FieldDef> kProspect = {
    {"CODVEND", 'C', 8, 0}, {"CODPROSP", 'C', 8, 0},  {"NOMBRE", 'C', 60, 0},
    {"TIP", 'C', 10, 0},    {"NUMPROSP", 'C', 14, 0}, {"FEC_CREA", 'D', 8, 0},
    {"CAT", 'C', 3, 0},     {"PRECIO", 'N', 12, 2},
};

struct Row {
    std::string vend, prosp, nombre, tip, num, cat;
    int32_t fec;
    double precio;
};

Row randomRow(std::mt19937& rng, int i) {
    Row r;
    r.vend = "V" + std::to_string(rng() % 7);
    r.prosp = "P" + std::to_string(10000 + (rng() % 90000));
    static const char* names[] = {"GARCIA", "LOPEZ", "PEREZ", "MARTIN", "SANCHEZ", "ROMERO"};
    r.nombre = std::string(names[rng() % 6]) + " " + std::to_string(i);
    r.tip = rng() % 2 ? "Jurídica" : "Natural";
    r.num = "2024010" + std::to_string(1000000 + rng() % 9000000);
    r.num.resize(14, '0');
    r.cat = "00" + std::to_string(1 + rng() % 5);
    r.fec = 2451545 + static_cast<int32_t>(rng() % 3000);
    r.precio = static_cast<double>(static_cast<int>(rng() % 200000) - 50000) / 100;
    return r;
}

void writeRow(WorkArea& wa, const Row& r) {
    Table& t = wa.table();
    t.putString(0, r.vend);
    t.putString(1, r.prosp);
    t.putString(2, r.nombre);
    t.putString(3, r.tip);
    t.putString(4, r.num);
    t.putDate(5, r.fec);
    t.putString(6, r.cat);
    t.putNumber(7, r.precio);
    t.flush();
}

std::string pad(std::string s, size_t n) {
    s.resize(n, ' ');
    return s;
}

std::string dtos(int32_t jd) {
    return cdxkey::display(cdxkey::fromDate(jd), cdxkey::Type::Date);
}

std::string modelKey(const Row& r, int tag) {
    switch (tag) {
        case 0:
        case 5:
            return pad(r.prosp, 8);
        case 1:
            return pad(r.nombre, 60);
        case 2:
            return pad(r.vend, 8) + pad(r.prosp, 8);
        case 3:
            return dtos(r.fec);
        case 4:
            return pad(r.tip, 10);
        case 6:
            return pad(r.vend, 8);
        case 7:
            return pad(r.cat, 3) + pad(r.prosp, 8);
        default:
            return pad(r.num, 14) + pad(r.prosp, 8) + dtos(r.fec) + pad(r.vend, 8);
    }
}

// Records in the order a tag should list them: by key, then record number;
// a unique tag keeps the first record of each key; deleted records are out.
std::vector<uint32_t> expectedOrder(const std::map<uint32_t, Row>& rows,
                                    const std::set<uint32_t>& deleted, int tag) {
    std::vector<std::pair<std::string, uint32_t>> v;
    for (auto& [rec, r] : rows)
        if (!deleted.count(rec)) v.emplace_back(modelKey(r, tag), rec);
    std::sort(v.begin(), v.end());
    std::vector<uint32_t> out;
    std::string prev;
    for (size_t i = 0; i < v.size(); ++i) {
        if (kProspectTags[tag].unique && i && v[i].first == prev) continue;
        prev = v[i].first;
        out.push_back(v[i].second);
    }
    return out;
}

std::vector<uint32_t> walk(WorkArea& wa) {
    std::vector<uint32_t> out;
    for (wa.goTop(); !wa.eof(); wa.skip(1)) out.push_back(wa.recno());
    return out;
}

class OrderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        xb::settings().deleted = true;
        xb::setFieldAccess(&workspace());
        workspace().closeAll();
    }
    void TearDown() override { workspace().closeAll(); }

    WorkArea& makeProspects(int n, bool exclusive) {
        std::string path = dir.file("VdrProsp.dbf");
        Table::create(path, kProspect);
        int a = workspace().open(path, "Prospecto", OpenOptions{!exclusive, false});
        WorkArea& wa = *workspace().area(a);
        std::mt19937 rng(21);
        for (int i = 1; i <= n; ++i) {
            Row r = randomRow(rng, i);
            uint32_t rec = wa.append();
            writeRow(wa, r);
            rows[rec] = r;
        }
        return wa;
    }
    void buildTags(WorkArea& wa) {
        for (auto& t : kProspectTags)
            orders(wa).createTag(dir.file("VdrPrpx1.cdx"), t.name, t.key, "!Deleted()", t.unique);
    }

    TempDir dir;
    std::map<uint32_t, Row> rows;
    std::set<uint32_t> deleted;
};

}  // namespace

TEST_F(OrderTest, NineProspectTagsListRecordsInKeyOrder) {
    WorkArea& wa = makeProspects(300, true);
    buildTags(wa);
    Orders& o = orders(wa);
    ASSERT_EQ(o.orderCount(), 9);
    for (int i = 1; i <= 9; ++i) {
        SCOPED_TRACE(kProspectTags[i - 1].name);
        std::string up = kProspectTags[i - 1].name;
        for (char& c : up) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(o.orderName(i), up);
        EXPECT_EQ(o.orderKey(i), kProspectTags[i - 1].key);
        EXPECT_EQ(o.orderFor(i), "!Deleted()");
        o.setOrder(i);
        EXPECT_EQ(walk(wa), expectedOrder(rows, deleted, i - 1));
    }
    // Reopened: order 1 controls; the same lists come back.
    workspace().closeAll();
    int a = workspace().open(dir.file("VDRPROSP.DBF"), "Prospecto", OpenOptions{true, false});
    WorkArea& wb = *workspace().area(a);
    orders(wb).addBag(dir.file("vdrprpx1.CDX"));
    // Named again, as before or otherwise spelt, it is not opened twice.
    orders(wb).addBag(dir.file("vdrprpx1.CDX"));
    orders(wb).addBag(dir.file("VdrPrpx1.cdx"));
    EXPECT_EQ(orders(wb).bagCount(), 1u);
    EXPECT_EQ(orders(wb).orderNumber(), 1);
    EXPECT_EQ(walk(wb), expectedOrder(rows, deleted, 0));
    EXPECT_TRUE(orders(wb).setOrder("categcod"));
    EXPECT_EQ(orders(wb).orderNumber(), 8);
    EXPECT_EQ(walk(wb), expectedOrder(rows, deleted, 7));
    EXPECT_FALSE(orders(wb).setOrder("NOEXISTE"));
    EXPECT_TRUE(orders(wb).check().empty());
    // Bags written here read the same through index_dump.
    if (testsupport::toolPresent(dbftest::haveProgram("index_dump"),
                                 "index_dump (libdbd-xbase-perl)")) {
        std::string out = dbftest::run("index_dump --type=char " + dir.file("VdrPrpx1.cdx") +
                                       " CODVEND 2>/dev/null");
        std::istringstream in(out);
        std::string line;
        std::vector<uint32_t> recs;
        while (std::getline(in, line)) recs.push_back(std::stoul(line.substr(line.rfind(' ') + 1)));
        EXPECT_EQ(recs, expectedOrder(rows, deleted, 2));
    }
    // Used alone, where a second open of the bag would be refused.
    workspace().closeAll();
    a = workspace().open(dir.file("VDRPROSP.DBF"), "Prospecto", OpenOptions{false, false});
    orders(*workspace().area(a)).addBag(dir.file("VdrPrpx1.cdx"));
    orders(*workspace().area(a)).addBag(dir.file("VDRPRPX1.CDX"));
    EXPECT_EQ(orders(*workspace().area(a)).bagCount(), 1u);
}

TEST_F(OrderTest, SeekExactSoftAndLast) {
    WorkArea& wa = makeProspects(200, true);
    buildTags(wa);
    Orders& o = orders(wa);
    o.setOrder(3);  // CODVEND+CODPROSP
    auto order = expectedOrder(rows, deleted, 2);
    // Exact seek of a salesperson's code (a prefix of the key).
    EXPECT_TRUE(o.seek(xb::Value::str("V3")));
    EXPECT_TRUE(wa.found());
    uint32_t firstV3 = 0;
    for (uint32_t r : order)
        if (rows[r].vend == "V3") {
            firstV3 = r;
            break;
        }
    EXPECT_EQ(wa.recno(), firstV3);
    // Last of the prefix.
    EXPECT_TRUE(o.seek(xb::Value::str("V3"), false, true));
    uint32_t lastV3 = 0;
    for (uint32_t r : order)
        if (rows[r].vend == "V3") lastV3 = r;
    EXPECT_EQ(wa.recno(), lastV3);
    // A miss: exact goes to end of file, soft stays on the next greater key.
    EXPECT_FALSE(o.seek(xb::Value::str("V35")));
    EXPECT_TRUE(wa.eof());
    EXPECT_FALSE(wa.found());
    EXPECT_FALSE(o.seek(xb::Value::str("V35"), true));
    EXPECT_FALSE(wa.eof());
    EXPECT_EQ(rows[wa.recno()].vend, "V4");
    EXPECT_FALSE(o.seek(xb::Value::str("ZZZ"), true));
    EXPECT_TRUE(wa.eof());
    // With SET EXACT on, the salesperson's code alone no longer matches the
    // longer key; the whole key does, trailing blanks aside.
    xb::settings().exact = true;
    EXPECT_FALSE(o.seek(xb::Value::str("V3")));
    EXPECT_TRUE(wa.eof());
    std::string whole = rows[firstV3].vend;
    whole.resize(8, ' ');
    whole += rows[firstV3].prosp;
    EXPECT_TRUE(o.seek(xb::Value::str(whole)));
    EXPECT_EQ(wa.recno(), firstV3);
    EXPECT_TRUE(o.seek(xb::Value::str(whole + "   ")));
    EXPECT_FALSE(o.seek(xb::Value::str(whole + "X")));
    EXPECT_FALSE(o.seek(xb::Value::str(whole + "  X")));  // longer than the key
    xb::settings().exact = false;
    EXPECT_TRUE(o.seek(xb::Value::str("V3")));
    // A value of another type is an error, not a match of everything.
    EXPECT_THROW(o.seek(xb::Value::num(3)), DbfError);
    EXPECT_THROW(o.seek(xb::Value::nil()), DbfError);
    // Date order seeks its DTOS text; a numeric tag seeks numbers.
    o.setOrder(4);
    const Row& some = rows[17];
    EXPECT_TRUE(o.seek(xb::Value::str(dtos(some.fec))));
    EXPECT_EQ(dtos(rows[wa.recno()].fec), dtos(some.fec));
    o.createTag(dir.file("otra.cdx"), "Precio", "PRECIO", "", false);
    EXPECT_TRUE(o.seek(xb::Value::num(rows[5].precio)));
    EXPECT_EQ(rows[wa.recno()].precio, rows[5].precio);
    EXPECT_EQ(o.bagCount(), 2u);
    EXPECT_EQ(o.orderNumber(), 10);
}

TEST_F(OrderTest, ScopesCountsAndPositions) {
    WorkArea& wa = makeProspects(250, true);
    buildTags(wa);
    Orders& o = orders(wa);
    o.setOrder(3);
    o.setScopeTop(xb::Value::str("V2"));
    o.setScopeBottom(xb::Value::str("V2"));
    std::vector<uint32_t> want;
    for (uint32_t r : expectedOrder(rows, deleted, 2))
        if (rows[r].vend == "V2") want.push_back(r);
    ASSERT_FALSE(want.empty());
    EXPECT_EQ(walk(wa), want);
    EXPECT_EQ(o.keyCount(), want.size());
    // Positions 1..n, and going to a position.
    wa.goTop();
    for (uint32_t i = 1; i <= want.size(); ++i) {
        EXPECT_EQ(o.keyNo(), i);
        wa.skip(1);
    }
    EXPECT_TRUE(wa.eof());
    EXPECT_EQ(o.keyNo(), 0u);
    EXPECT_TRUE(o.keyGoto(3));
    EXPECT_EQ(wa.recno(), want[2]);
    EXPECT_FALSE(o.keyGoto(static_cast<uint32_t>(want.size() + 1)));
    // Backwards inside the scope.
    wa.goBottom();
    EXPECT_EQ(wa.recno(), want.back());
    std::vector<uint32_t> back;
    for (; !wa.bof(); wa.skip(-1)) back.push_back(wa.recno());
    std::reverse(back.begin(), back.end());
    EXPECT_EQ(back, want);
    // A seek outside the scope finds nothing.
    EXPECT_FALSE(o.seek(xb::Value::str("V5")));
    EXPECT_EQ(o.scopeTop().asString(), "V2");
    o.clearScope();
    EXPECT_EQ(o.keyCount(), rows.size());
    // A filter combines with the order.
    wa.setFilter("CAT = '001'", [&] { return wa.table().getString(6) == "001"; });
    std::vector<uint32_t> filtered;
    for (uint32_t r : expectedOrder(rows, deleted, 2))
        if (rows[r].cat == "001") filtered.push_back(r);
    EXPECT_EQ(walk(wa), filtered);
    EXPECT_EQ(o.keyCount(), filtered.size());
}

TEST_F(OrderTest, TagsFollowAppendsChangesDeletionsAndRecalls) {
    WorkArea& wa = makeProspects(120, false);
    buildTags(wa);
    Orders& o = orders(wa);
    std::mt19937 rng(99);
    for (int step = 0; step < 400; ++step) {
        int what = static_cast<int>(rng() % 4);
        uint32_t rec = 1 + static_cast<uint32_t>(rng() % rows.size());
        if (what == 0) {
            Row r = randomRow(rng, 1000 + step);
            uint32_t n = wa.append();
            writeRow(wa, r);
            rows[n] = r;
            wa.unlock();
        } else if (what == 1) {
            wa.goTo(rec);
            ASSERT_TRUE(wa.lockRecord());
            Row r = rows[rec];
            r.vend = "V" + std::to_string(rng() % 9);
            r.fec += 3;
            r.prosp = "Q" + std::to_string(rng() % 1000);
            writeRow(wa, r);
            rows[rec] = r;
            wa.unlock();
        } else if (what == 2) {
            wa.goTo(rec);
            ASSERT_TRUE(wa.lockRecord());
            wa.deleteRecord();
            deleted.insert(rec);
            wa.unlock();
        } else {
            wa.goTo(rec);
            ASSERT_TRUE(wa.lockRecord());
            wa.recall();
            deleted.erase(rec);
            wa.unlock();
        }
    }
    auto faults = o.check();
    EXPECT_TRUE(faults.empty()) << (faults.empty() ? "" : faults[0]);
    for (int i = 1; i <= 9; ++i) {
        o.setOrder(i);
        EXPECT_EQ(walk(wa), expectedOrder(rows, deleted, i - 1)) << kProspectTags[i - 1].name;
    }
    // Unique tags: each value once.
    o.setOrder(7);
    std::set<std::string> vends;
    std::vector<uint32_t> w = walk(wa);
    for (uint32_t r : w) EXPECT_TRUE(vends.insert(rows[r].vend).second);
    // Reindexing gives the pure first-record rule back.
    o.reindex();
    EXPECT_TRUE(o.check().empty());
    o.setOrder(7);
    EXPECT_EQ(walk(wa), expectedOrder(rows, deleted, 6));
}

TEST_F(OrderTest, PackAndZapRebuildTheTags) {
    WorkArea& wa = makeProspects(60, true);
    buildTags(wa);
    Orders& o = orders(wa);
    for (uint32_t r = 1; r <= 60; r += 3) {
        wa.goTo(r);
        wa.deleteRecord();
    }
    wa.pack();
    EXPECT_TRUE(o.check().empty());
    EXPECT_EQ(o.keyCount(), 40u);
    wa.zap();
    EXPECT_TRUE(o.check().empty());
    wa.goTop();
    EXPECT_TRUE(wa.eof());
}

TEST_F(OrderTest, RelationPositionsTheChild) {
    std::string vpath = dir.file("VdrVend.dbf");
    Table::create(vpath, {{"CODIGO", 'C', 8, 0}, {"NOMBRE", 'C', 40, 0}});
    int va = workspace().open(vpath, "Vendedor", OpenOptions{false, false});
    WorkArea& vend = *workspace().area(va);
    for (int i = 0; i < 7; ++i) {
        vend.append();
        vend.table().putString(0, "V" + std::to_string(i));
        vend.table().putString(1, "VENDEDOR " + std::to_string(i));
        vend.table().flush();
    }
    orders(vend).createTag(dir.file("VdrVenx1.cdx"), "Codigo", "CODIGO", "!Deleted()");
    WorkArea& wa = makeProspects(50, true);
    buildTags(wa);
    Orders& o = orders(wa);
    o.setRelation(va, "CODVEND");
    // Every move of the parent, by skip or by seek, moves the child.
    for (wa.goTop(); !wa.eof(); wa.skip(1)) {
        ASSERT_FALSE(vend.eof());
        EXPECT_EQ(vend.table().getString(0), pad(rows[wa.recno()].vend, 8));
    }
    EXPECT_TRUE(vend.eof());  // the parent at its end: the child too
    o.setOrder(3);
    ASSERT_TRUE(o.seek(xb::Value::str("V4")));
    EXPECT_EQ(vend.table().getString(0), pad("V4", 8));
    wa.goBottom();
    EXPECT_EQ(vend.table().getString(0), pad(rows[wa.recno()].vend, 8));
    EXPECT_EQ(o.relationText(1), "CODVEND");
    EXPECT_EQ(o.relationArea(1), va);
    o.clearRelations();
    uint32_t childAt = vend.recno();
    for (wa.goTop(); !wa.eof(); wa.skip(1)) ASSERT_EQ(vend.recno(), childAt);
}

TEST(OrderVfp, ForeignBagsOpenAndWalkWithTheirTables) {
    TempDir dir;
    // Copies, since the originals are read-only.
    for (const char* f :
         {"calls.dbf", "calls.CDX", "calls.FPT", "contacts.dbf", "contacts.CDX", "contacts.FPT"})
        std::filesystem::copy_file(std::string(VDR_SOURCE_DIR) + "/tests/data/vfp/contacts/" + f,
                                   dir.file(f));
    workspace().closeAll();
    int a = workspace().open(dir.file("calls.dbf"), "calls", OpenOptions{true, false});
    WorkArea& wa = *workspace().area(a);
    Orders& o = orders(wa);
    o.addBag(dir.file("CALLS.cdx"));
    ASSERT_EQ(o.orderCount(), 2);
    EXPECT_EQ(o.orderName(), "CALL_ID");
    std::vector<uint32_t> w = walk(wa);
    EXPECT_EQ(w.size(), 16u);
    EXPECT_TRUE(std::is_sorted(w.begin(), w.end()));
    EXPECT_TRUE(o.seek(xb::Value::num(7)));
    EXPECT_EQ(wa.table().getNumber(0), 7);
    EXPECT_TRUE(o.check().empty());
    // contact_type_id names a field by its database container long name: the
    // tag is read, walked and sought, not recomputed.
    int b = workspace().open(dir.file("contacts.dbf"), "contacts", OpenOptions{true, false});
    WorkArea& wc = *workspace().area(b);
    orders(wc).addBag(dir.file("contacts.CDX"));
    ASSERT_TRUE(orders(wc).setOrder("TYPE_ID"));
    EXPECT_EQ(walk(wc).size(), 5u);
    workspace().closeAll();
}

TEST_F(OrderTest, AnotherProcessSeesOurChangesAtItsNextMove) {
    WorkArea& wa = makeProspects(30, false);
    buildTags(wa);
    workspace().closeAll();
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        int rc = 0;
        try {
            int a = workspace().open(dir.file("VdrProsp.dbf"), "P", OpenOptions{true, false});
            WorkArea& w = *workspace().area(a);
            orders(w).addBag(dir.file("VdrPrpx1.cdx"));
            for (int i = 0; i < 20; ++i) {
                w.append();
                w.table().putString(1, "ZZ" + std::to_string(100 + i));
                w.table().putString(0, "V9");
                w.table().flush();
                w.unlock();
            }
            workspace().closeAll();
        } catch (...) {
            rc = 1;
        }
        if (::write(fds[1], "x", 1) != 1) rc = 2;
        ::_exit(rc);
    }
    ::close(fds[1]);
    int a = workspace().open(dir.file("VdrProsp.dbf"), "P", OpenOptions{true, false});
    WorkArea& w = *workspace().area(a);
    orders(w).addBag(dir.file("VdrPrpx1.cdx"));
    char c;
    ASSERT_EQ(::read(fds[0], &c, 1), 1);
    int st = 0;
    ::waitpid(pid, &st, 0);
    ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
    EXPECT_TRUE(orders(w).seek(xb::Value::str("ZZ110")));
    orders(w).setOrder("CodVend");
    orders(w).setScopeTop(xb::Value::str("V9"));
    orders(w).setScopeBottom(xb::Value::str("V9"));
    EXPECT_EQ(orders(w).keyCount(), 20u);
    EXPECT_TRUE(orders(w).check().empty());
}

TEST_F(OrderTest, LanguageFunctionsWorkOnTheCurrentArea) {
    WorkArea& wa = makeProspects(80, true);
    registerOrderFunctions();
    auto ev = [](const char* text) { return xb::evalText(text); };
    std::string bag = dir.file("VdrPrpx1.cdx");
    xb::createPublic("CBAG", xb::Value::str(bag));
    ev("ORDCONDSET('!Deleted()')");
    ev("ORDCREATE(CBAG, 'CodVend', 'CODVEND+CODPROSP')");
    ev("ORDCONDSET('!Deleted()')");
    ev("ORDCREATE(CBAG, 'Nombre', 'NOMBRE')");
    ev("ORDCREATE(CBAG, 'VendUniq', 'CODVEND', NIL, .T.)");
    Orders& o = orders(wa);
    EXPECT_EQ(ev("ORDCOUNT()").asNumber(), 3);
    EXPECT_EQ(ev("ORDSETFOCUS('CODVEND')").asString(), "VENDUNIQ");
    EXPECT_EQ(ev("ORDKEY()").asString(), "CODVEND+CODPROSP");
    EXPECT_EQ(ev("ORDFOR('NOMBRE')").asString(), "!Deleted()");
    EXPECT_TRUE(ev("DBSEEK('V1')").asLogical());
    EXPECT_EQ(rows[wa.recno()].vend, "V1");
    EXPECT_FALSE(ev("DBSEEK('V1Z')").asLogical());
    EXPECT_TRUE(wa.eof());
    EXPECT_FALSE(ev("DBSEEK('V1Z', .T.)").asLogical());
    EXPECT_FALSE(wa.eof());
    ev("ORDSCOPE(0, 'V1')");
    ev("ORDSCOPE(1, 'V1')");
    size_t v1 = 0;
    for (auto& [r, row] : rows) v1 += row.vend == "V1";
    EXPECT_EQ(ev("ORDKEYCOUNT()").asNumber(), static_cast<double>(v1));
    EXPECT_TRUE(ev("ORDKEYGOTO(2)").asLogical());
    EXPECT_EQ(ev("ORDKEYNO()").asNumber(), 2);
    EXPECT_EQ(ev("ORDSCOPE(0)").asString(), "V1");
    ev("DBCLEARSCOPE()");
    EXPECT_EQ(ev("ORDKEYCOUNT()").asNumber(), static_cast<double>(rows.size()));
    EXPECT_EQ(ev("INDEXORD()").asNumber(), o.orderOf("CODVEND"));
    ev("DBSETORDER(0)");
    EXPECT_EQ(ev("INDEXORD()").asNumber(), 0);
    ev("ORDLISTCLEAR()");
    EXPECT_EQ(ev("ORDCOUNT()").asNumber(), 0);
    ev("ORDLISTADD(CBAG)");
    EXPECT_EQ(ev("ORDNAME(1)").asString(), "CODVEND");
    EXPECT_EQ(ev("INDEXORD()").asNumber(), 1);
    ev("ORDDESTROY('NOMBRE')");
    EXPECT_EQ(ev("ORDCOUNT()").asNumber(), 2);
    EXPECT_EQ(ev("ORDNAME(2)").asString(), "VENDUNIQ");
    EXPECT_EQ(ev("INDEXORD()").asNumber(), 1);
    ev("ORDLISTREBUILD()");
    EXPECT_TRUE(o.check().empty());
}
