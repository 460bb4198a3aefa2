// The browse grid over a row source with two orders and a scope.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>
#include <QTest>
#include <algorithm>
#include <cstdio>

#include "toolkit/browse.h"
#include "toolkit/text.h"

namespace {

struct Rec {
    uint32_t recno;
    std::string code, name;
    double price;
};

// A table held in memory that answers as a work area does: controlling
// order 1 (code) or 2 (name), a scope on the order's key, a record pointer.
class MemoryTable : public tk::RowSource {
  public:
    std::vector<Rec> recs;
    int ord = 1;
    std::string scopeLo, scopeHi;  // empty = open
    uint32_t current = 0;          // 0 = end
    uint64_t stamp = 1;
    int64_t calls = 0;

    std::vector<const Rec*> rows() const {
        std::vector<const Rec*> out;
        for (const Rec& r : recs) {
            const std::string& k = key(r);
            if (!scopeLo.empty() && k.compare(0, scopeLo.size(), scopeLo) < 0) continue;
            if (!scopeHi.empty() && k.compare(0, scopeHi.size(), scopeHi) > 0) continue;
            out.push_back(&r);
        }
        std::sort(out.begin(), out.end(), [this](const Rec* a, const Rec* b) {
            return key(*a) != key(*b) ? key(*a) < key(*b) : a->recno < b->recno;
        });
        return out;
    }
    const std::string& key(const Rec& r) const { return ord == 1 ? r.code : r.name; }
    const Rec* rec() const {
        for (const Rec& r : recs)
            if (r.recno == current) return &r;
        return nullptr;
    }

    int64_t keyCount() override { return ++calls, static_cast<int64_t>(rows().size()); }
    int64_t keyNo() override {
        ++calls;
        const auto rs = rows();
        for (size_t i = 0; i < rs.size(); ++i)
            if (rs[i]->recno == current) return static_cast<int64_t>(i) + 1;
        return 0;
    }
    bool goKeyNo(int64_t n) override {
        ++calls;
        const auto rs = rows();
        if (n < 1 || n > static_cast<int64_t>(rs.size())) {
            current = 0;
            return false;
        }
        current = rs[static_cast<size_t>(n - 1)]->recno;
        return true;
    }
    bool skip() override {
        const int64_t k = keyNo();
        return k > 0 && goKeyNo(k + 1);
    }
    uint32_t recNo() override { return current; }
    void goRecord(uint32_t r) override { current = r; }
    int order() override { return ord; }
    uint64_t changeStamp() override { return stamp; }
};

std::vector<tk::BrowseColumn> columns(MemoryTable& t) {
    return {
        {QStringLiteral("Codigo"),
         [&t] { return xb::Value::str(t.rec() ? t.rec()->code : ""); },
         80,
         "",
         {},
         1},
        {QStringLiteral("Nombre"),
         [&t] { return xb::Value::str(t.rec() ? t.rec()->name : ""); },
         200,
         "",
         {},
         2},
        {QStringLiteral("Precio"),
         [&t] { return xb::Value::num(t.rec() ? t.rec()->price : 0, 14, 2); },
         100,
         "999,999,999.99",
         {},
         0},
    };
}

MemoryTable sample() {
    MemoryTable t;
    t.recs = {{1, "C03", "ZAPATOS", 10.5},
              {2, "C01", "MESAS", 1200},
              {3, "A07", "LAMPARAS", 99.99},
              {4, "C02", "ARMARIOS", 35000},
              {5, "B10", "CAMAS", 780},
              {6, "C05",
               "\xd1"
               "ANDU",
               1}};
    t.current = 2;
    return t;
}

QString cell(QTableView& v, int row, int col) {
    return v.model()->index(row, col).data().toString();
}

TEST(Browse, FollowsTheOrderAndTheScope) {
    MemoryTable t = sample();
    t.scopeLo = "C";
    t.scopeHi = "C";
    QTableView view;
    tk::Browse grid(&view, &t, columns(t));
    ASSERT_EQ(view.model()->rowCount(), 4);  // codes C01, C02, C03, C05
    EXPECT_EQ(cell(view, 0, 0), QStringLiteral("C01"));
    EXPECT_EQ(cell(view, 3, 1), QStringLiteral("ÑANDU"));
    EXPECT_EQ(cell(view, 1, 2), QStringLiteral("     35,000.00"));
    EXPECT_EQ(view.model()->index(1, 2).data(Qt::TextAlignmentRole).value<Qt::Alignment>() &
                  Qt::AlignRight,
              Qt::AlignRight);
    EXPECT_EQ(grid.currentRow(), 0);  // the record the table was on (C01)

    // Order 2 with a scope on names starting with "C" or later up to "M".
    t.ord = 2;
    t.scopeLo = "C";
    t.scopeHi = "M";
    grid.refresh();
    ASSERT_EQ(view.model()->rowCount(), 3);  // CAMAS, LAMPARAS, MESAS
    EXPECT_EQ(cell(view, 0, 1), QStringLiteral("CAMAS"));
    EXPECT_EQ(cell(view, 2, 1), QStringLiteral("MESAS"));
    EXPECT_EQ(grid.currentRow(), 2);  // still on record 2 (MESAS)
}

TEST(Browse, GridRowAndRecordPointerMoveTogether) {
    MemoryTable t = sample();
    QTableView view;
    view.resize(400, 300);
    tk::Browse grid(&view, &t, columns(t));
    view.show();
    QApplication::processEvents();
    // Drawing read pages of rows, but left the pointer where it was.
    EXPECT_EQ(t.current, 2u);
    EXPECT_EQ(grid.currentRow(), 2);  // order by code: A07, B10, C01...
    view.setFocus();
    QTest::keyClick(&view, Qt::Key_Down);
    EXPECT_EQ(t.current, 4u);  // C02
    QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(t.current, 6u);  // C05
    // The program moves the pointer; the grid follows.
    t.current = 3;
    grid.syncToRecord();
    EXPECT_EQ(grid.currentRow(), 0);
}

TEST(Browse, ScrollPositionsCountFromOneAsTheKeysDo) {
    MemoryTable t;
    for (uint32_t i = 1; i <= 60; ++i) {
        char code[16];
        std::snprintf(code, sizeof code, "K%03u", i);
        t.recs.push_back({i, code, code, 1});
    }
    t.current = 1;
    QTableView view;
    view.resize(400, 200);  // a few rows high: most are out of view
    tk::Browse grid(&view, &t, columns(t));
    view.show();
    QApplication::processEvents();
    ASSERT_GT(view.verticalScrollBar()->maximum(), 5);
    // Position 1 is the first key: the first row at the top.
    grid.setScrollPos(1);
    EXPECT_EQ(view.rowAt(0), 0);
    EXPECT_EQ(grid.scrollPos(), 1);
    grid.setScrollPos(5);
    EXPECT_EQ(view.rowAt(0), 4);  // key 5 is row 4
    EXPECT_EQ(grid.scrollPos(), 5);
    // Past either end: as far as the bar goes.
    grid.setScrollPos(0);
    EXPECT_EQ(view.rowAt(0), 0);
    grid.setScrollPos(1000);
    EXPECT_EQ(grid.scrollPos(), view.verticalScrollBar()->maximum() + 1);
    EXPECT_EQ(grid.currentRow(), 0);  // scrolling leaves the current row alone
    EXPECT_EQ(t.current, 1u);
}

TEST(Browse, EnterAndDoubleClickRunTheAction) {
    MemoryTable t = sample();
    QTableView view;
    tk::Browse grid(&view, &t, columns(t));
    int runs = 0;
    uint32_t onRecord = 0;
    grid.setOnActivate([&] {
        ++runs;
        onRecord = t.current;
    });
    view.show();
    QApplication::processEvents();
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(onRecord, 2u);
    emit view.doubleClicked(view.model()->index(0, 0));
    EXPECT_EQ(runs, 2);
}

TEST(Browse, AnotherWorkstationsChangeIsPickedUp) {
    MemoryTable t = sample();
    QTableView view;
    tk::Browse grid(&view, &t, columns(t));
    grid.setAutoRefresh(20);
    ASSERT_EQ(view.model()->rowCount(), 6);
    // Written by another process: a new record and a changed name.
    t.recs.push_back({7, "A01", "SILLAS", 5});
    t.recs[0].name = "BOTAS";
    ++t.stamp;
    QTest::qWait(80);
    EXPECT_EQ(view.model()->rowCount(), 7);
    EXPECT_EQ(cell(view, 0, 1), QStringLiteral("SILLAS"));
    EXPECT_EQ(t.current, 2u);  // the pointer stayed
    EXPECT_EQ(cell(view, grid.currentRow(), 0), QStringLiteral("C01"));
}

TEST(Browse, HeaderMarksTheCurrentOrdersColumn) {
    MemoryTable t = sample();
    QTableView view;
    view.resize(500, 200);
    tk::Browse grid(&view, &t, columns(t));
    view.show();
    QApplication::processEvents();
    auto colourAt = [&](int section) {
        QHeaderView* h = view.horizontalHeader();
        const QImage img = h->grab().toImage();
        return img.pixelColor(h->sectionViewportPosition(section) + 2, 2);
    };
    EXPECT_EQ(colourAt(0), tk::kOrderHeaderBg);
    EXPECT_EQ(colourAt(1), tk::kHeaderBg);
    t.ord = 2;
    grid.refresh();
    QApplication::processEvents();
    EXPECT_EQ(colourAt(0), tk::kHeaderBg);
    EXPECT_EQ(colourAt(1), tk::kOrderHeaderBg);
}

// A heading wider than its column ("CANTIDAD" over a 65-pixel quantity
// column) is set smaller; one that still does not fit shows its beginning.
TEST(Browse, AHeadingWiderThanItsColumnShowsItsBeginning) {
    QFont bold = QApplication::font();
    bold.setBold(true);
    const QString heading = QStringLiteral("CANTIDAD");
    const int wide = QFontMetrics(bold).horizontalAdvance(heading);

    Qt::Alignment align = Qt::AlignRight | Qt::AlignVCenter;
    QFont same = tk::fitHeading(bold, heading, wide + 2, align);
    EXPECT_EQ(same.pointSizeF(), bold.pointSizeF());
    EXPECT_TRUE(align & Qt::AlignRight) << "a heading that fits keeps its alignment";

    // A little too wide: smaller, whole, still right-aligned over its figures.
    QFont smaller = tk::fitHeading(bold, heading, wide * 9 / 10, align);
    EXPECT_LT(smaller.pointSizeF(), bold.pointSizeF());
    EXPECT_LE(QFontMetrics(smaller).horizontalAdvance(heading), wide * 9 / 10);
    EXPECT_TRUE(align & Qt::AlignRight);

    // Far too wide: no smaller than three quarters, and its beginning shows.
    QFont least = tk::fitHeading(bold, heading, wide / 3, align);
    EXPECT_GE(least.pointSizeF(), bold.pointSizeF() * 0.75 - 0.5);
    EXPECT_TRUE(align & Qt::AlignLeft);
    EXPECT_FALSE(align & Qt::AlignRight);
}

// A million keys: positioning is cheap, and the grid must not read them all.
class MillionRows : public tk::RowSource {
  public:
    int64_t pos = 1, reads = 0, gotos = 0;
    int64_t keyCount() override { return ++reads, 1000000; }
    int64_t keyNo() override { return ++reads, pos; }
    bool goKeyNo(int64_t n) override {
        ++reads;
        ++gotos;
        pos = n;
        return n >= 1 && n <= 1000000;
    }
    bool skip() override { return ++reads, ++pos <= 1000000; }
    bool skipBy(int64_t n) override {
        ++reads;
        pos += n;
        return pos >= 1 && pos <= 1000000;
    }
    bool goLast() override { return ++reads, pos = 1000000, true; }
    uint32_t recNo() override { return static_cast<uint32_t>(pos); }
    void goRecord(uint32_t r) override { ++reads, pos = r; }
};

TEST(Browse, AMillionRowsAreReadAPageAtATime) {
    MillionRows src;
    QTableView view;
    view.resize(400, 400);
    std::vector<tk::BrowseColumn> cols{
        {QStringLiteral("N"),
         [&src] { return xb::Value::num(static_cast<double>(src.pos), 10, 0); },
         80,
         "",
         {},
         0}};
    tk::Browse grid(&view, &src, cols);
    view.show();
    QApplication::processEvents();
    EXPECT_EQ(view.model()->rowCount(), 1000000);
    EXPECT_LT(src.reads, 4 * tk::BrowseModel::kPage);
    src.reads = 0;
    view.verticalScrollBar()->setValue(500000);
    QApplication::processEvents();
    view.viewport()->repaint();
    EXPECT_LT(src.reads, 4 * tk::BrowseModel::kPage);
    EXPECT_EQ(cell(view, 500000, 0), QStringLiteral("    500001"));
    EXPECT_EQ(src.pos, 1);  // the record pointer did not follow the drawing
    // Scrolling on by a page and jumping to the end need no key position:
    // an index answers those by relative moves.
    src.gotos = 0;
    view.verticalScrollBar()->setValue(500000 + view.viewport()->height() / view.rowHeight(0));
    view.viewport()->repaint();
    view.scrollToBottom();
    view.viewport()->repaint();
    EXPECT_EQ(src.gotos, 0);
    EXPECT_EQ(cell(view, 999999, 0), QStringLiteral("   1000000"));
}

}  // namespace
