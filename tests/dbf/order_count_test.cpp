// Key counts and logical positions over tables of thousands of records,
// spread over many leaves: the answers of ORDKEYCOUNT, ORDKEYNO and
// ORDKEYGOTO checked against the rows the area shows when walked one by
// one, with and without scopes, after deletions, recalls and appends, when
// a filter or hidden deleted records leave keys out, and with another
// process changing the bag between two counts.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "dbf/order.h"
#include "dbf/table.h"
#include "dbf/workspace.h"
#include "dbf_test_util.h"
#include "xbase/runtime.h"

using namespace dbf;
using dbftest::TempDir;

namespace {

const std::vector<FieldDef> kFields = {
    {"CODIGO", 'C', 10, 0},
    {"VEND", 'C', 4, 0},
    {"NOMBRE", 'C', 40, 0},
};

// Rows the area shows in its controlling order, walked with skips.
std::vector<uint32_t> shown(WorkArea& wa) {
    std::vector<uint32_t> out;
    for (wa.goTop(); !wa.eof(); wa.skip(1)) out.push_back(wa.recno());
    return out;
}

class OrderCountTest : public ::testing::Test {
  protected:
    void SetUp() override {
        xb::settings().deleted = true;
        xb::setFieldAccess(&workspace());
        workspace().closeAll();
    }
    void TearDown() override {
        xb::settings().deleted = true;
        workspace().closeAll();
    }

    void addRows(WorkArea& wa, int n) {
        for (int i = 0; i < n; ++i) {
            wa.append();
            Table& t = wa.table();
            // Many equal codes, so that ties go by record number across leaves.
            t.putString(0, "C" + std::to_string(rng() % 900));
            t.putString(1, "V" + std::to_string(rng() % 6));
            t.putString(2, "NOMBRE LARGO DEL CLIENTE " + std::to_string(rng()));
            t.flush();
            wa.unlock();
        }
    }

    WorkArea& makeTable(int n, bool exclusive) {
        std::string path = dir.file("Clientes.dbf");
        Table::create(path, kFields);
        int a = workspace().open(path, "Clientes", OpenOptions{!exclusive, false});
        WorkArea& wa = *workspace().area(a);
        addRows(wa, n);
        Orders& o = orders(wa);
        o.createTag(bag(), "Codigo", "CODIGO", "!Deleted()");
        o.createTag(bag(), "Nombre", "NOMBRE");  // no FOR: deleted records keep their keys
        o.createTag(bag(), "VendCod", "VEND+CODIGO", "!Deleted()");
        return wa;
    }

    std::string bag() const { return dir.file("Clientes.cdx"); }

    void deleteSome(WorkArea& wa, int every, int offset) {
        uint32_t n = wa.table().recCount();
        for (uint32_t r = static_cast<uint32_t>(offset); r <= n;
             r += static_cast<uint32_t>(every)) {
            wa.goTo(r);
            ASSERT_TRUE(wa.lockRecord());
            wa.deleteRecord();
            wa.unlock();
        }
    }

    // Count, positions and jumps of the controlling order against the walk.
    void expectMatchesWalk(WorkArea& wa, const std::string& what) {
        SCOPED_TRACE(what);
        Orders& o = orders(wa);
        std::vector<uint32_t> want = shown(wa);
        ASSERT_EQ(o.keyCount(), want.size());
        uint32_t n = static_cast<uint32_t>(want.size());
        std::vector<uint32_t> at = {1, 2, n / 3, n / 2, n - 1, n};
        for (uint32_t i = 1; i <= n; i += 97) at.push_back(i);
        for (uint32_t i : at) {
            if (i < 1 || i > n) continue;
            ASSERT_TRUE(o.keyGoto(i)) << i;
            EXPECT_FALSE(wa.eof());
            ASSERT_EQ(wa.recno(), want[i - 1]) << i;
            EXPECT_EQ(o.keyNo(), i);
            // Moving on from a jump follows the order.
            if (i < n) {
                wa.skip(1);
                EXPECT_EQ(wa.recno(), want[i]) << i;
                EXPECT_EQ(o.keyNo(), i + 1);
            }
        }
        EXPECT_FALSE(o.keyGoto(n + 1));
        EXPECT_TRUE(wa.eof());
        EXPECT_EQ(o.keyNo(), 0u);
        EXPECT_FALSE(o.keyGoto(n + 5000));
        EXPECT_TRUE(wa.eof());
        EXPECT_FALSE(o.keyGoto(0));
        // Positions of records reached by number: the shown ones in order,
        // the others (deleted and hidden, outside the scope) nowhere.
        std::vector<uint32_t> pos(wa.table().recCount() + 1, 0);
        for (uint32_t i = 0; i < n; ++i) pos[want[i]] = i + 1;
        for (uint32_t r = 1; r <= wa.table().recCount(); r += 13) {
            wa.goTo(r);
            EXPECT_EQ(o.keyNo(), wa.eof() ? 0u : pos[r]) << "registro " << r;
        }
    }

    TempDir dir;
    std::mt19937 rng{7};
};

}  // namespace

TEST_F(OrderCountTest, CountsAndJumpsMatchTheWalkWithAndWithoutScopes) {
    for (bool exclusive : {true, false}) {
        SCOPED_TRACE(exclusive ? "exclusivo" : "compartido");
        WorkArea& wa = makeTable(6000, exclusive);
        Orders& o = orders(wa);
        o.setOrder("Codigo");
        expectMatchesWalk(wa, "sin ámbito");
        // A scope whose ends fall inside leaves, with whole leaves between.
        o.setScopeTop(xb::Value::str("C2"));
        o.setScopeBottom(xb::Value::str("C5"));
        expectMatchesWalk(wa, "ámbito C2-C5");
        // Only a top, only a bottom, one key, and nothing in scope.
        o.clearScope();
        o.setScopeTop(xb::Value::str("C7"));
        expectMatchesWalk(wa, "desde C7");
        o.clearScope();
        o.setScopeBottom(xb::Value::str("C15"));
        expectMatchesWalk(wa, "hasta C15");
        o.setScopeTop(xb::Value::str("C15"));
        expectMatchesWalk(wa, "sólo C15");
        o.setScopeTop(xb::Value::str("C9"));
        o.setScopeBottom(xb::Value::str("C1"));
        EXPECT_EQ(o.keyCount(), 0u);
        EXPECT_FALSE(o.keyGoto(1));
        o.clearScope();
        o.setOrder("VendCod");
        o.setScopeTop(xb::Value::str("V3"));
        o.setScopeBottom(xb::Value::str("V3"));
        expectMatchesWalk(wa, "vendedor V3");
        o.clearScope();
        workspace().closeAll();
        std::filesystem::remove(dir.file("Clientes.dbf"));
        std::filesystem::remove(bag());
    }
}

TEST_F(OrderCountTest, DeletionsRecallsAndAppendsChangeTheAnswers) {
    WorkArea& wa = makeTable(5000, false);
    Orders& o = orders(wa);
    o.setOrder("Codigo");
    expectMatchesWalk(wa, "al principio");
    deleteSome(wa, 7, 3);
    expectMatchesWalk(wa, "tras borrar");
    // Whole runs of records leave, so that leaves empty out.
    for (uint32_t r = 1000; r <= 2500; ++r) {
        wa.goTo(r);
        if (wa.eof()) continue;
        ASSERT_TRUE(wa.lockRecord());
        wa.deleteRecord();
        wa.unlock();
    }
    expectMatchesWalk(wa, "tras borrar un tramo");
    xb::settings().deleted = false;
    for (uint32_t r = 1200; r <= 1800; r += 2) {
        wa.goTo(r);
        ASSERT_TRUE(wa.lockRecord());
        wa.recall();
        wa.unlock();
    }
    xb::settings().deleted = true;
    expectMatchesWalk(wa, "tras recuperar");
    addRows(wa, 700);
    expectMatchesWalk(wa, "tras añadir");
    o.setScopeTop(xb::Value::str("C3"));
    o.setScopeBottom(xb::Value::str("C6"));
    expectMatchesWalk(wa, "con ámbito tras los cambios");
    EXPECT_TRUE(o.check().empty());
}

TEST_F(OrderCountTest, HiddenKeysAreStillCountedRecordByRecord) {
    WorkArea& wa = makeTable(4000, true);
    Orders& o = orders(wa);
    deleteSome(wa, 5, 2);
    // A tag without FOR keeps the deleted records' keys; hidden, they do not count.
    o.setOrder("Nombre");
    std::vector<uint32_t> all = shown(wa);
    EXPECT_EQ(all.size(), 4000u - 800u);
    expectMatchesWalk(wa, "sin FOR, borrados ocultos");
    // Shown again, every key of that tag counts.
    xb::settings().deleted = false;
    EXPECT_EQ(o.keyCount(), 4000u);
    expectMatchesWalk(wa, "sin FOR, borrados visibles");
    // A tag with FOR !Deleted() leaves them out even when they are shown.
    o.setOrder("Codigo");
    EXPECT_EQ(o.keyCount(), 3200u);
    xb::settings().deleted = true;
    // A filter hides keys of any tag.
    wa.setFilter("VEND = 'V1'", [&] { return wa.table().getString(1).substr(0, 2) == "V1"; });
    std::vector<uint32_t> f = shown(wa);
    ASSERT_FALSE(f.empty());
    EXPECT_LT(f.size(), 3200u);
    expectMatchesWalk(wa, "con filtro");
    o.setScopeTop(xb::Value::str("C1"));
    o.setScopeBottom(xb::Value::str("C4"));
    expectMatchesWalk(wa, "con filtro y ámbito");
    wa.clearFilter();
    expectMatchesWalk(wa, "sin filtro con ámbito");
}

TEST_F(OrderCountTest, AnotherProcessChangesAreCountedAtOnce) {
    WorkArea& wa = makeTable(3000, false);
    Orders& o = orders(wa);
    o.setOrder("Codigo");
    // Our cache holds the tree as it is now.
    expectMatchesWalk(wa, "antes");
    uint32_t before = o.keyCount();
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        int rc = 0;
        try {
            workspace().closeAll();
            int a = workspace().open(dir.file("Clientes.dbf"), "C", OpenOptions{true, false});
            WorkArea& w = *workspace().area(a);
            orders(w).addBag(bag());
            for (int i = 0; i < 400; ++i) {
                w.append();
                w.table().putString(0, "C" + std::to_string(i % 900));
                w.table().flush();
                w.unlock();
            }
            for (uint32_t r = 10; r <= 3000; r += 10) {
                w.goTo(r);
                if (!w.lockRecord()) rc = 3;
                w.deleteRecord();
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
    char c;
    ASSERT_EQ(::read(fds[0], &c, 1), 1);
    ::close(fds[0]);
    int st = 0;
    ::waitpid(pid, &st, 0);
    ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
    EXPECT_EQ(o.keyCount(), before + 400u - 300u);
    expectMatchesWalk(wa, "después");
}
