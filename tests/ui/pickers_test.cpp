// The record pickers and the prospect browser's filters, driven as a user
// would over the test company's salespeople and prospects.
#include <QLabel>
#include <QTableView>

#include "search_fixture.h"
#include "toolkit/browse.h"
#include "toolkit/browse_dbf.h"
#include "ui/filters.h"
#include "ui/pickers.h"

using searchtest::Fixture;
using tk::test::Handle;

namespace {

class Pickers : public Fixture {
  protected:
    void SetUp() override {
        Fixture::SetUp();
        driver.watchdog(20000);
    }
    void TearDown() override {
        EXPECT_TRUE(driver.failures().isEmpty()) << driver.failures().join("; ").toStdString();
        Fixture::TearDown();
    }
    dbf::WorkArea& salespeople() {
        dbf::WorkArea& wa = open("Vendedor", "VDRVEND", "VDRVENX1");
        add(wa, {{"CODIGO", xb::Value::str("V1")}, {"NOMBRE", xb::Value::str("ANA")}});
        add(wa, {{"CODIGO", xb::Value::str("V2")}, {"NOMBRE", xb::Value::str("LUIS")}});
        add(wa, {{"CODIGO", xb::Value::str("V3")}, {"NOMBRE", xb::Value::str("SIN CLIENTES")}});
        return wa;
    }
    tk::test::Driver driver;
};

TEST_F(Pickers, ListPickerTakesTheRowUnlessCancelled) {
    dbf::WorkArea& wa = salespeople();
    wa.goTop();
    driver.whenOpen(QStringLiteral("Seleccione Vendedor"), [](Handle& h) {
        auto* view = h.window()->findChild<QTableView*>();
        view->setCurrentIndex(view->model()->index(1, 0));
        h.pressCaption(QStringLiteral("&Aceptar"));
    });
    EXPECT_TRUE(ui::BROWFILTRVND("Vendedor"));
    EXPECT_EQ(text(wa, "CODIGO"), "V2      ");
    driver.whenOpen(QStringLiteral("Seleccione Vendedor"), [](Handle& h) {
        auto* view = h.window()->findChild<QTableView*>();
        view->setCurrentIndex(view->model()->index(2, 0));
        h.pressCaption(QStringLiteral("&Cancelar"));
    });
    EXPECT_FALSE(ui::BROWFILTRVND("Vendedor"));
    EXPECT_EQ(text(wa, "CODIGO"), "V2      ");  // back where it was
    // Escape takes the highlighted record.
    driver.whenOpen(QStringLiteral("Seleccione Vendedor"), [](Handle& h) {
        auto* view = h.window()->findChild<QTableView*>();
        view->setCurrentIndex(view->model()->index(0, 0));
        h.close();
    });
    EXPECT_TRUE(ui::BROWFILTRVND("Vendedor"));
    EXPECT_EQ(text(wa, "CODIGO"), "V1      ");
}

TEST_F(Pickers, RecordPickerClosesOnlyByAnActionAndSalirGoesBack) {
    dbf::WorkArea& wa = salespeople();
    wa.goTop();
    driver.whenOpen(QStringLiteral("BrowBusca"), [](Handle& h) {
        EXPECT_EQ(h.window()->windowTitle(), QStringLiteral("Seleccionar Vendedor"));
        h.choose(102, QStringLiteral("Detalle"));  // tells it is pending, changes nothing
        h.close();                                 // refused: no action yet
        EXPECT_TRUE(h.window()->isVisible());
        auto* view = qobject_cast<QTableView*>(h.control(101));
        view->setCurrentIndex(view->model()->index(2, 0));
        h.press(201);
    });
    ui::PickResult r = ui::BOTONBUSCA("Vendedor");
    EXPECT_FALSE(r.cancelled);
    EXPECT_TRUE(r.accepted);
    EXPECT_EQ(text(wa, "CODIGO"), "V3      ");
    EXPECT_TRUE(driver.boxTexts().contains(QStringLiteral("Pendiente el ordenamiento")));
    driver.whenOpen(QStringLiteral("BrowBusca"), [](Handle& h) {
        auto* view = qobject_cast<QTableView*>(h.control(101));
        view->setCurrentIndex(view->model()->index(0, 0));
        h.press(202);
    });
    r = ui::BOTONBUSCA("Vendedor");
    EXPECT_TRUE(r.cancelled);
    EXPECT_FALSE(r.accepted);
    EXPECT_EQ(text(wa, "CODIGO"), "V3      ");
}

// A product's code and price show in full (never "..."), the name takes
// what is left: at least forty characters.
TEST_F(Pickers, RecordPickerShowsCodesAndPricesInFullAndTheNameTakesTheRest) {
    dbf::WorkArea& wa = open("Producto", "VDRPRODC", "VDRPRDX1");
    add(wa, {{"CODIGO", xb::Value::str("PRD-2026-000123-ABCD")},
             {"NOMBRE", xb::Value::str("SERVICIO DE MANTENIMIENTO PREVENTIVO ANUAL")},
             {"PRECIO", xb::Value::num(1234567.5)}});
    wa.goTop();
    driver.whenOpen(QStringLiteral("BrowBusca"), [](Handle& h) {
        auto* view = qobject_cast<QTableView*>(h.control(101));
        const QFontMetrics fm(view->font());
        const QAbstractItemModel* m = view->model();
        for (int col : {0, 2}) {
            const QString shown = m->index(0, col).data().toString().trimmed();
            EXPECT_LE(fm.horizontalAdvance(shown) + 8, view->columnWidth(col))
                << shown.toStdString();
        }
        EXPECT_GE(view->columnWidth(1), fm.horizontalAdvance(QString(40, QLatin1Char('0'))));
        EXPECT_EQ(view->columnViewportPosition(2) + view->columnWidth(2),
                  view->viewport()->width());  // no band left, no column cut
        h.press(202);
    });
    ui::BOTONBUSCA("Producto");
}

TEST_F(Pickers, SalespersonFilterScopesTheProspectsAndTodosRemovesIt) {
    salespeople();
    dbf::WorkArea& pros = open("Prospecto", "VDRPROSP", "VDRPRPX1");
    auto prospect = [&](const char* code, const char* name, const char* vend) {
        add(pros, {{"CODPROSP", xb::Value::str(code)},
                   {"NOMBRE", xb::Value::str(name)},
                   {"CODVEND", xb::Value::str(vend)}});
    };
    prospect("P1", "ALFA", "V1");
    prospect("P2", "BETA", "V2");
    prospect("P3", "GAMMA", "V1");
    pros.goTop();
    QTableView view;
    tk::WorkAreaRows rows(pros);
    tk::Browse grid(&view, &rows,
                    {{QStringLiteral("Código"),
                      [&] { return pros.get(pros.table().fieldIndex("CODPROSP")); },
                      0,
                      {},
                      {},
                      1}});
    QLabel caption, value;
    auto pick = [&](int row) {
        driver.whenOpen(QStringLiteral("Seleccione Vendedor"), [row](Handle& h) {
            auto* v = h.window()->findChild<QTableView*>();
            v->setCurrentIndex(v->model()->index(row, 0));
            h.pressCaption(QStringLiteral("&Aceptar"));
        });
    };
    pick(0);
    ui::HACEFILTR1(&grid, &caption, &value, nullptr, "Vendedor", "Prosp", "Nombre");
    EXPECT_EQ(grid.model()->rowCount(), 2);
    EXPECT_EQ(dbf::orders(pros).orderNumber(), 3);
    EXPECT_EQ(caption.text(), QStringLiteral("VENDEDOR:"));
    EXPECT_EQ(value.text(), QStringLiteral("ANA"));
    // A salesperson without prospects: an empty browse with the caption.
    pick(2);
    ui::HACEFILTR1(&grid, &caption, &value, nullptr, "Vendedor", "Prosp", "Nombre");
    EXPECT_EQ(grid.model()->rowCount(), 0);
    EXPECT_EQ(value.text(), QStringLiteral("SIN CLIENTES"));
    ui::HACEFILTR1(&grid, &caption, &value, nullptr, "Todos", "Prosp", "Nombre");
    EXPECT_EQ(grid.model()->rowCount(), 3);
    EXPECT_EQ(dbf::orders(pros).orderNumber(), 1);
    EXPECT_TRUE(caption.text().isEmpty());
    // Another kind of browser is told the filter is pending.
    ui::HACEFILTR1(&grid, &caption, &value, nullptr, "Vendedor", "Otro", "Nombre");
    EXPECT_TRUE(driver.boxTexts().contains(QStringLiteral("Pendiente")));
}

}  // namespace
