// Work areas: opening under aliases, selecting, moving with end and begin of
// file, deleted records hidden, filters, locate.
#include <gtest/gtest.h>

#include "dbf/workspace.h"
#include "dbf_test_util.h"
#include "xbase/runtime.h"

using dbf::DbfError;
using dbf::Table;
using dbf::WorkArea;
using dbf::Workspace;
using dbftest::TempDir;

namespace {

// A table of `n` records numbered 1..n in field N; those in `deleted` marked.
std::string makeNumbers(const TempDir& d, const std::string& name, int n,
                        std::vector<int> deleted = {}) {
    std::string p = d.file(name);
    Table::create(p, {{"N", 'N', 5, 0}, {"TXT", 'C', 10, 0}});
    auto t = Table::open(p, {false, false});
    for (int i = 1; i <= n; ++i) {
        t->appendBlank();
        t->putNumber(0, i);
        t->putString(1, "r" + std::to_string(i));
    }
    for (int r : deleted) {
        t->read(static_cast<uint32_t>(r));
        t->setDeleted(true);
    }
    return p;
}

struct DeletedSetting {
    explicit DeletedSetting(bool on) : old(xb::settings().deleted) { xb::settings().deleted = on; }
    ~DeletedSetting() { xb::settings().deleted = old; }
    bool old;
};

double numAt(WorkArea& wa) {
    return wa.get(0).asNumber();
}

}  // namespace

TEST(WorkAreas, OpenUnderAliasInFreeAreasAndSelect) {
    TempDir d;
    std::string a = makeNumbers(d, "VdrVend.dbf", 2);
    std::string b = makeNumbers(d, "otra.dbf", 3);
    Workspace ws;
    EXPECT_EQ(ws.open(a, "Vendedor"), 1);
    EXPECT_EQ(ws.open(b, ""), 2);
    EXPECT_EQ(ws.current(), 2);
    EXPECT_EQ(ws.area(2)->alias(), "OTRA");
    EXPECT_TRUE(ws.used("vendedor"));
    EXPECT_EQ(ws.select("VENDEDOR"), 1);
    EXPECT_EQ(ws.current(), 1);
    EXPECT_EQ(ws.select("nada"), 0);
    EXPECT_EQ(ws.current(), 1);
    EXPECT_EQ(ws.areaOf("Otra"), 2);
    // The same alias twice is refused; the area it names stays open.
    EXPECT_THROW(ws.open(b, "Vendedor"), DbfError);
    EXPECT_TRUE(ws.used("Vendedor"));
    ws.close(1);
    EXPECT_FALSE(ws.used("Vendedor"));
    EXPECT_EQ(ws.freeArea(), 1);
    EXPECT_EQ(ws.open(a, "V2"), 1);  // reuses the lowest free area
    ws.select(7);
    EXPECT_EQ(ws.selected(), nullptr);
    EXPECT_EQ(ws.open(a, "V3", {true, true}, 7), 7);  // explicit area
    ws.closeAll();
    EXPECT_TRUE(ws.openAreas().empty());
    EXPECT_EQ(ws.current(), 1);
}

TEST(WorkAreas, SerialChangesAtEveryOpen) {
    TempDir d;
    std::string a = makeNumbers(d, "a.dbf", 1);
    Workspace ws;
    ws.open(a, "A");
    uint64_t s1 = ws.openSerial(1);
    ws.close(1);
    EXPECT_EQ(ws.openSerial(1), 0u);
    ws.open(a, "A");
    EXPECT_NE(ws.openSerial(1), s1);
    EXPECT_EQ(ws.fieldIndex(1, "txt"), 1);
    EXPECT_EQ(ws.fieldIndex(1, "nada"), -1);
}

TEST(Moving, TopBottomSkipAndPhantomRecord) {
    TempDir d;
    Workspace ws;
    ws.open(makeNumbers(d, "m.dbf", 3), "M");
    WorkArea& wa = *ws.selected();
    EXPECT_EQ(wa.recno(), 1u);
    EXPECT_FALSE(wa.eof());
    EXPECT_FALSE(wa.bof());
    wa.skip(2);
    EXPECT_EQ(numAt(wa), 3);
    wa.skip();
    EXPECT_TRUE(wa.eof());
    EXPECT_EQ(wa.recno(), 4u);  // the phantom record count+1
    EXPECT_EQ(numAt(wa), 0);    // with empty fields
    EXPECT_EQ(wa.get(1).asString(), std::string(10, ' '));
    wa.skip();
    EXPECT_TRUE(wa.eof());
    EXPECT_EQ(wa.recno(), 4u);
    wa.skip(-1);  // back from the phantom: the last record
    EXPECT_FALSE(wa.eof());
    EXPECT_EQ(wa.recno(), 3u);
    wa.goTop();
    wa.skip(-1);  // back from the first: stays there with begin-of-file
    EXPECT_TRUE(wa.bof());
    EXPECT_EQ(wa.recno(), 1u);
    wa.skip();
    EXPECT_FALSE(wa.bof());
    EXPECT_EQ(wa.recno(), 2u);
    wa.goBottom();
    EXPECT_EQ(wa.recno(), 3u);
    wa.skip(-10);
    EXPECT_TRUE(wa.bof());
    EXPECT_EQ(wa.recno(), 1u);
    wa.goTo(2);
    EXPECT_EQ(numAt(wa), 2);
    wa.goTo(99);
    EXPECT_TRUE(wa.eof());
    EXPECT_EQ(wa.recno(), 4u);
    wa.skip(10);
    EXPECT_TRUE(wa.eof());
}

TEST(Moving, EmptyTableIsBothEndsAtOnce) {
    TempDir d;
    Workspace ws;
    ws.open(makeNumbers(d, "e.dbf", 0), "E");
    WorkArea& wa = *ws.selected();
    EXPECT_TRUE(wa.eof());
    EXPECT_TRUE(wa.bof());
    EXPECT_EQ(wa.recno(), 1u);
    wa.goBottom();
    EXPECT_TRUE(wa.eof());
    EXPECT_TRUE(wa.bof());
    wa.skip(-1);
    EXPECT_TRUE(wa.bof());
    EXPECT_TRUE(wa.eof());
}

TEST(Moving, DeletedRecordsAreHiddenWhileTheSettingIsOn) {
    TempDir d;
    Workspace ws;
    ws.open(makeNumbers(d, "d.dbf", 5, {1, 3, 5}), "D");
    WorkArea& wa = *ws.selected();
    {
        DeletedSetting on(true);
        wa.goTop();
        EXPECT_EQ(wa.recno(), 2u);
        wa.skip();
        EXPECT_EQ(wa.recno(), 4u);
        wa.skip();
        EXPECT_TRUE(wa.eof());
        wa.goBottom();
        EXPECT_EQ(wa.recno(), 4u);
        wa.skip(-1);
        EXPECT_EQ(wa.recno(), 2u);
        wa.skip(-1);
        EXPECT_TRUE(wa.bof());
        EXPECT_EQ(wa.recno(), 2u);
        EXPECT_EQ(wa.countVisible(), 2u);
        EXPECT_EQ(wa.recno(), 2u);  // counting keeps the position
        EXPECT_EQ(wa.recCount(), 5u);
        // Going to a deleted record by number is allowed, as in xBase.
        wa.goTo(3);
        EXPECT_TRUE(wa.deleted());
    }
    {
        DeletedSetting off(false);
        wa.goTop();
        EXPECT_EQ(wa.recno(), 1u);
        EXPECT_EQ(wa.countVisible(), 5u);
    }
}

TEST(Moving, AllDeletedLeavesNothingVisible) {
    TempDir d;
    DeletedSetting on(true);
    Workspace ws;
    ws.open(makeNumbers(d, "ad.dbf", 2, {1, 2}), "AD");
    WorkArea& wa = *ws.selected();
    EXPECT_TRUE(wa.eof());
    EXPECT_TRUE(wa.bof());
    EXPECT_EQ(wa.recno(), 3u);
}

TEST(Filters, MovingAndCountingSeeOnlyMatchingRecords) {
    TempDir d;
    DeletedSetting on(true);
    Workspace ws;
    ws.open(makeNumbers(d, "f.dbf", 10, {4}), "F");
    WorkArea& wa = *ws.selected();
    wa.setFilter("N % 2 == 0", [&wa] { return static_cast<int>(wa.get(0).asNumber()) % 2 == 0; });
    EXPECT_EQ(wa.filterText(), "N % 2 == 0");
    wa.goTop();
    std::vector<int> seen;
    while (!wa.eof()) {
        seen.push_back(static_cast<int>(numAt(wa)));
        wa.skip();
    }
    EXPECT_EQ(seen, (std::vector<int>{2, 6, 8, 10}));
    EXPECT_EQ(wa.countVisible(), 4u);
    wa.goBottom();
    EXPECT_EQ(numAt(wa), 10);
    wa.clearFilter();
    EXPECT_EQ(wa.countVisible(), 9u);
}

TEST(Locate, FindsNextMatchAndContinues) {
    TempDir d;
    DeletedSetting on(true);
    Workspace ws;
    ws.open(makeNumbers(d, "l.dbf", 10, {3}), "L");
    WorkArea& wa = *ws.selected();
    auto multipleOf3 = [&wa] { return static_cast<int>(wa.get(0).asNumber()) % 3 == 0; };
    EXPECT_TRUE(wa.locate(multipleOf3));
    EXPECT_EQ(wa.recno(), 6u);  // 3 is deleted
    EXPECT_TRUE(wa.found());
    EXPECT_TRUE(wa.continueLocate());
    EXPECT_EQ(wa.recno(), 9u);
    EXPECT_FALSE(wa.continueLocate());
    EXPECT_FALSE(wa.found());
    EXPECT_TRUE(wa.eof());
    // WHILE stops the search at the first record that fails it.
    EXPECT_FALSE(wa.locate([&wa] { return wa.get(0).asNumber() == 9; },
                           [&wa] { return wa.get(0).asNumber() < 5; }));
    EXPECT_EQ(wa.recno(), 5u);
    wa.skip();
    EXPECT_FALSE(wa.found());
}

TEST(Records, AppendDeleteRecallThroughTheArea) {
    TempDir d;
    DeletedSetting on(true);
    Workspace ws;
    ws.open(makeNumbers(d, "r.dbf", 2), "R");
    WorkArea& wa = *ws.selected();
    EXPECT_EQ(wa.append(), 3u);
    wa.put(0, xb::Value::num(33));
    EXPECT_TRUE(wa.lockRecord(3));
    wa.deleteRecord();
    EXPECT_TRUE(wa.deleted());
    EXPECT_EQ(wa.recno(), 3u);  // deleting does not move
    wa.recall();
    EXPECT_FALSE(wa.deleted());
    wa.unlock();
    wa.goBottom();
    EXPECT_EQ(numAt(wa), 33);
    // Writing through the language's field door without a lock is refused.
    xb::setErrorHandler([](xb::Error&) { return xb::HandlerAnswer{}; });
    EXPECT_THROW(ws.putField(1, 0, xb::Value::num(1)), xb::Break);
    xb::setErrorHandler({});
}
