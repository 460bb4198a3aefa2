// The browse grid over a real table of the engine, in two orders with a scope.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include "dbf/order.h"
#include "dbf/table.h"
#include "dbf/workspace.h"
#include "toolkit/browse_dbf.h"
#include "xbase/runtime.h"

namespace {

class BrowseTable : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        xb::settings().deleted = true;
        xb::setFieldAccess(&dbf::workspace());
        dbf::workspace().closeAll();
        table_ = dir_.filePath(QStringLiteral("VdrVend.dbf")).toStdString();
        bag_ = dir_.filePath(QStringLiteral("VdrVenx1.cdx")).toStdString();
        dbf::Table::create(table_, {{"CODIGO", 'C', 6, 0}, {"NOMBRE", 'C', 20, 0}});
        area_ = dbf::workspace().open(table_, "Vendedor");
        dbf::WorkArea& wa = *dbf::workspace().area(area_);
        const char* names[] = {"PEREZ",  "ALVAREZ", "GOMEZ", "BENITEZ",
                               "ZAMORA", "GARCIA",  "DIAZ",  "MARTINEZ"};
        for (int i = 0; i < 8; ++i) {
            wa.append();
            wa.put(0, xb::Value::str("V" + std::to_string(10 + i) + "   "));
            wa.put(1, xb::Value::str(std::string(names[i]) +
                                     std::string(20 - std::strlen(names[i]), ' ')));
            wa.unlock();
        }
        dbf::Orders& o = dbf::orders(wa);
        o.createTag(bag_, "Codigo", "CODIGO", "!Deleted()");
        o.createTag(bag_, "Nombre", "NOMBRE", "!Deleted()");
        o.setOrder(1);
        wa.goTop();
    }
    void TearDown() override { dbf::workspace().closeAll(); }
    dbf::WorkArea& wa() { return *dbf::workspace().area(area_); }

    std::vector<tk::BrowseColumn> columns() {
        dbf::WorkArea* w = &wa();
        return {{QStringLiteral("Codigo"), [w] { return w->get(0); }, 80, "", {}, 1},
                {QStringLiteral("Nombre"), [w] { return w->get(1); }, 200, "", {}, 2}};
    }
    static QString cell(QTableView& v, int r, int c) {
        return v.model()->index(r, c).data().toString().trimmed();
    }

    QTemporaryDir dir_;
    std::string table_, bag_;
    int area_ = 0;
};

TEST_F(BrowseTable, TwoOrdersAndAScope) {
    tk::WorkAreaRows rows(wa());
    QTableView view;
    view.resize(400, 300);
    tk::Browse grid(&view, &rows, columns());
    view.show();
    QApplication::processEvents();
    ASSERT_EQ(view.model()->rowCount(), 8);
    EXPECT_EQ(cell(view, 0, 0), QStringLiteral("V10"));
    EXPECT_EQ(cell(view, 7, 1), QStringLiteral("MARTINEZ"));
    EXPECT_EQ(wa().get(0).asString().substr(0, 3), "V10");  // drawing left the pointer alone

    dbf::orders(wa()).setOrder(2);
    dbf::orders(wa()).setScopeTop(xb::Value::str("B"));
    dbf::orders(wa()).setScopeBottom(xb::Value::str("G"));
    wa().goTop();
    grid.refresh();
    ASSERT_EQ(view.model()->rowCount(), 4);  // BENITEZ, DIAZ, GARCIA, GOMEZ
    EXPECT_EQ(cell(view, 0, 1), QStringLiteral("BENITEZ"));
    EXPECT_EQ(cell(view, 3, 1), QStringLiteral("GOMEZ"));

    // Grid row and record pointer together.
    view.setFocus();
    QTest::keyClick(&view, Qt::Key_Down);
    QTest::keyClick(&view, Qt::Key_Down);
    EXPECT_EQ(wa().get(1).asString().substr(0, 6), "GARCIA");
    dbf::orders(wa()).seek(xb::Value::str("DIAZ"));
    grid.syncToRecord();
    EXPECT_EQ(grid.currentRow(), 1);
}

TEST_F(BrowseTable, ChangesFromAnotherOpeningShowAfterRefresh) {
    tk::WorkAreaRows rows(wa());
    QTableView view;
    tk::Browse grid(&view, &rows, columns());
    grid.setAutoRefresh(20);
    ASSERT_EQ(view.model()->rowCount(), 8);
    // A second opening of the same files, as another workstation has.
    const int other = dbf::workspace().open(table_, "Otro");
    dbf::WorkArea& wb = *dbf::workspace().area(other);
    dbf::orders(wb).addBag(bag_);
    wb.append();
    wb.put(0, xb::Value::str("V01   "));
    wb.put(1, xb::Value::str("ACOSTA              "));
    wb.unlock();
    wb.flush();
    QTest::qWait(100);
    EXPECT_EQ(view.model()->rowCount(), 9);
    EXPECT_EQ(cell(view, 0, 1), QStringLiteral("ACOSTA"));
}

}  // namespace
