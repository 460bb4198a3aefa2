// The prospect browser over the search kit, and the card's pickers: order
// list, salesperson filter, deletion and where the cursor lands, an empty
// grid; an unknown code left through the picker's "&Salir"; the grid opens
// on its first row, in view.
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QTableView>
#include <QTest>
#include <cstdio>

#include "prospect_fixture.h"
#include "prospects/fichprosp.h"
#include "toolkit/dialog.h"
#include "toolkit/testdriver.h"
#include "xbase/runtime.h"

using namespace prospects;
using tk::test::Handle;

namespace {

std::string currentCode() {
    return trimmed(S(pt::area("Prospecto"), "CODPROSP"));
}

int gridRows(Handle& h, int id) {
    auto* v = qobject_cast<QTableView*>(h.control(id));
    return v ? v->model()->rowCount() : -1;
}

// The count beside the order list.
QString shownCount(Handle& h) {
    auto* l = h.window()->findChild<QLabel*>(QStringLiteral("recordCount"));
    return l ? l->text() : QString();
}

}  // namespace

TEST_F(ProspectFixture, BrowserOrdersFiltersAndDeletes) {
    pt::addVendor("V1", "ANA PEREZ");
    pt::addVendor("V2", "LUIS GOMEZ");
    const char* rows[][3] = {
        {"C004", "V2", "005"}, {"C001", "V1", "003"}, {"C003", "V1", "001"}, {"C002", "V2", "001"}};
    int n = 0;
    for (auto& r : rows) {
        ProspectFields f = pt::prospect(r[0], r[1], "2026031410101" + std::to_string(n++), r[0]);
        f.cat = r[2];
        pt::addProspect(f);
    }
    dbf::workspace().closeAll();
    tk::test::Driver driver;
    driver.watchdog(60000);
    int all = 0, filtered = 0, order = 0, afterTodos = 0;
    std::string lastBefore, firstByPriority, caption, afterLastDeleted, afterDeclined;
    std::string afterNewLeft;
    QString countAll, countFiltered;
    double lregNew = 0, lregChange = 0;
    uint32_t changed = 0;
    driver.whenOpen(QStringLiteral("BROWSEINPROSP"), [&](Handle& h) {
        all = gridRows(h, 101);
        countAll = shownCount(h);
        h.choose(102, QStringLiteral("Prioridad"));
        order = dbf::orders(pt::area("Prospecto")).orderNumber();
        pt::area("Prospecto").goTop();
        firstByPriority = currentCode();
        h.press(208);  // salesperson filter: V1 picked
        filtered = gridRows(h, 101);
        countFiltered = shownCount(h);
        caption = h.text(104).toStdString();
        h.press(206);
        afterTodos = gridRows(h, 101);
        h.key(101, Qt::Key_End, Qt::ControlModifier);
        lastBefore = currentCode();
        interaction.answer(1);
        h.press(203);  // the last row goes: the cursor on the new last row
        afterLastDeleted = currentCode();
        h.key(101, Qt::Key_Home, Qt::ControlModifier);
        interaction.answer(2);
        h.press(203);  // declined: one row down all the same
        afterDeclined = currentCode();
        for (double* lreg : {&lregNew, &lregChange})
            driver.whenOpen(QStringLiteral("FoldProsp"), [lreg](Handle& card) {
                *lreg = xb::getVar("LREG").asNumber();
                card.onPage(101, 1).press(201);
            });
        h.press(201);  // a new card left with "&Salir": back on that row
        afterNewLeft = currentCode();
        changed = pt::area("Prospecto").recno();
        h.press(202);
        h.press(205);
    });
    driver.whenOpen(QStringLiteral("BROWFILTRVND"),
                    [&](Handle& h) { h.pressCaption(QStringLiteral("&Aceptar")); });
    BROWINPROSP();
    ASSERT_TRUE(driver.allRun()) << driver.failures().join('|').toStdString();
    EXPECT_EQ(all, 4);
    EXPECT_EQ(order, 8);
    EXPECT_EQ(firstByPriority, "C002");  // CAT 001, then by code
    EXPECT_EQ(filtered, 2);
    EXPECT_EQ(countAll, "4 registros");
    EXPECT_EQ(countFiltered, "2 registros");
    EXPECT_EQ(caption, "VENDEDOR:");
    EXPECT_EQ(afterTodos, 4);
    EXPECT_EQ(lastBefore, "C004");
    EXPECT_EQ(afterLastDeleted, "C003");
    EXPECT_EQ(afterDeclined, "C002");
    EXPECT_EQ(afterNewLeft, "C002");
    EXPECT_EQ(lregNew, -1);
    EXPECT_EQ(lregChange, changed);
    EXPECT_FALSE(dbf::workspace().used("Prospecto"));  // leaving closes every table
}

// A click on a heading tied to an order sorts by it and the order list
// shows it; the headings without an order change nothing.
TEST_F(ProspectFixture, BrowserHeadingsChooseTheirOrder) {
    pt::addVendor("V1", "ANA PEREZ");
    const char* rows[][3] = {{"C1", "ZETA", "001"}, {"C2", "ALFA", "003"}, {"C3", "MEDIO", "002"}};
    int n = 0;
    for (auto& r : rows) {
        ProspectFields f = pt::prospect(r[0], "V1", "2026031410101" + std::to_string(n++), r[1]);
        f.cat = r[2];
        pt::addProspect(f);
    }
    dbf::workspace().closeAll();
    tk::test::Driver driver;
    driver.watchdog(60000);
    std::vector<std::string> seen;
    driver.whenOpen(QStringLiteral("BROWSEINPROSP"), [&](Handle& h) {
        auto* v = qobject_cast<QTableView*>(h.control(101));
        QHeaderView* head = v->horizontalHeader();
        for (int section : {1, 3, 5, 4, 0}) {
            QTest::mouseClick(
                head->viewport(), Qt::LeftButton, {},
                QPoint(head->sectionViewportPosition(section) + 4, head->height() / 2));
            seen.push_back(std::to_string(dbf::orders(pt::area("Prospecto")).orderNumber()) + " " +
                           h.text(102).toStdString() + " " +
                           v->model()->index(0, 0).data().toString().trimmed().toStdString());
        }
        h.press(205);
    });
    BROWINPROSP();
    ASSERT_TRUE(driver.allRun()) << driver.failures().join('|').toStdString();
    EXPECT_EQ(seen, (std::vector<std::string>{"2 Nombre C2", "2 Nombre C2", "2 Nombre C2",
                                              "8 Prioridad C1", "1 Código C1"}));
}

TEST_F(ProspectFixture, BrowserOpensWithTheFirstRowInViewAndCurrent) {
    pt::addVendor("V1", "ANA PEREZ");
    // Far more rows than the grid shows, so it can scroll.
    for (int i = 1; i <= 80; ++i) {
        char code[16];
        std::snprintf(code, sizeof code, "P%07d", i);
        pt::addProspect(pt::prospect(code, "V1", "20260314101" + std::to_string(100 + i), code));
    }
    dbf::workspace().closeAll();
    tk::test::Driver driver;
    driver.watchdog(60000);
    int rows = 0, visible = 0, topRow = -1, scrollValue = -1, current = -1;
    std::string record;
    driver.whenOpen(QStringLiteral("BROWSEINPROSP"), [&](Handle& h) {
        auto* v = qobject_cast<QTableView*>(h.control(101));
        ASSERT_NE(v, nullptr);
        // Let the dialog finish settling after it was shown.
        for (int i = 0; i < 5; ++i) QApplication::processEvents();
        rows = v->model()->rowCount();
        visible = v->viewport()->height() / std::max(v->rowHeight(0), 1);
        topRow = v->rowAt(0);
        scrollValue = v->verticalScrollBar()->value();
        current = v->currentIndex().row();
        record = currentCode();
        h.press(205);
    });
    BROWINPROSP();
    ASSERT_TRUE(driver.allRun()) << driver.failures().join('|').toStdString();
    ASSERT_EQ(rows, 80);
    ASSERT_LT(visible, rows);  // the test means nothing if every row fits
    EXPECT_EQ(topRow, 0);
    EXPECT_EQ(scrollValue, 0);
    EXPECT_EQ(current, 0);
    EXPECT_EQ(record, "P0000001");
}

// Another user holds the salespeople table and the user declines to wait:
// the browser still opens over the prospects, with no salesperson names.
TEST_F(ProspectFixture, BrowserOpensWhenTheSalespeopleTableCannotBeOpened) {
    pt::addVendor("V1", "ANA PEREZ");
    pt::addProspect(pt::prospect("C001", "V1", "20260314101010", "ACME LTDA"));
    dbf::workspace().closeAll();
    auto held = dbf::Table::open(data::hostPath(pt::var("VDRVEND")), {false, false});
    data::setOpenRetryPause(20);
    interaction.answer(2);  // "... NO ESTA DISPONIBLE. ¿ Desea reintentar ?": No
    tk::test::Driver driver;
    driver.watchdog(30000);
    int rows = -1;
    QString code, vendor;
    driver.whenOpen(QStringLiteral("BROWSEINPROSP"), [&](Handle& h) {
        auto* v = qobject_cast<QTableView*>(h.control(101));
        ASSERT_NE(v, nullptr);
        rows = v->model()->rowCount();
        code = v->model()->index(0, 0).data().toString();
        vendor = v->model()->index(0, 3).data().toString();
        h.press(205);
    });
    BROWINPROSP();
    data::setOpenRetryPause(1000);
    ASSERT_TRUE(driver.allRun()) << driver.failures().join('|').toStdString();
    EXPECT_EQ(rows, 1);
    EXPECT_EQ(code.trimmed(), QStringLiteral("C001"));
    EXPECT_TRUE(vendor.trimmed().isEmpty());
    EXPECT_FALSE(dbf::workspace().used("Prospecto"));
}

TEST_F(ProspectFixture, EmptyBrowserDoesNothingOnModifyOrDelete) {
    dbf::workspace().closeAll();
    tk::test::Driver driver;
    driver.watchdog(30000);
    int rowsShown = -1;
    driver.whenOpen(QStringLiteral("BROWSEINPROSP"), [&](Handle& h) {
        rowsShown = gridRows(h, 101);
        h.press(203);
        h.press(202);
        h.key(101, Qt::Key_Return);
        h.press(205);
    });
    BROWINPROSP();
    ASSERT_TRUE(driver.allRun()) << driver.failures().join('|').toStdString();
    EXPECT_EQ(rowsShown, 0);
    EXPECT_TRUE(interaction.shown().empty());  // no question, no card
}

TEST_F(ProspectFixture, PickersLeftWithSalirPutBackWhatTheCardHad) {
    pt::addVendor("V1", "ANA PEREZ");
    pt::addVendor("V2", "LUIS GOMEZ");
    pt::addProduct("P1", "PLAN BASICO", 1500);
    pt::addPlan("PL1", "PLAN DE VERANO");
    pt::addPlan("PL2", "PLAN DE INVIERNO");
    tk::test::Driver driver;
    driver.watchdog(60000);
    driver.answer({1});  // "&Si" to leaving the typed card unsaved
    QString afterSalir, vendName, planAfterPick, planAfterSalir, detail;
    int focusAfterSalir = 0;
    bool planOffBefore = false, planOnAfter = false;
    driver.whenOpen(QStringLiteral("FoldProsp"), [&](Handle& h) {
        h.onPage(101, 1);
        h.type(101, "VX");  // unknown: the picker opens and is left with "&Salir"
        afterSalir = h.text(101).trimmed();
        QApplication::setActiveWindow(h.window());  // back from the picker
        QApplication::processEvents();
        focusAfterSalir = h.focusedId();
        h.type(101, "V2");
        vendName = h.text(400);
        planOffBefore = !h.control(115)->isEnabled();
        h.press(501);
        planOnAfter = h.control(115)->isEnabled();
        h.type(115, "ZZ");  // unknown plan: picked from the list (PL2)
        planAfterPick = h.text(115).trimmed();
        h.press(504);  // plan picker left with "&Salir": the plan stays
        planAfterSalir = h.text(115).trimmed();
        detail = h.text(401);
        h.press(201);
    });
    driver.whenOpen(QStringLiteral("BrowBusca"), [&](Handle& h) { h.press(202); });
    driver.whenOpen(QStringLiteral("Dlg_Prd_Of"), [&](Handle& h) {
        h.type(101, "P1");
        h.press(201);
    });
    driver.whenOpen(QStringLiteral("BrowBusca"), [&](Handle& h) {
        h.key(101, Qt::Key_Down);
        h.press(201);
    });
    driver.whenOpen(QStringLiteral("BrowBusca"), [&](Handle& h) {
        h.key(101, Qt::Key_Up);
        h.press(202);
    });
    FICHPROSP("I");
    ASSERT_TRUE(driver.allRun()) << driver.failures().join('|').toStdString();
    EXPECT_EQ(afterSalir, "");
    EXPECT_EQ(focusAfterSalir, 101);
    EXPECT_EQ(vendName, "LUIS GOMEZ");
    EXPECT_TRUE(planOffBefore);
    EXPECT_TRUE(planOnAfter);
    EXPECT_EQ(planAfterPick, "PL2");
    EXPECT_EQ(planAfterSalir, "PL2");
    EXPECT_EQ(detail, "PLAN DE INVIERNO");
}
