// The products, plans and responses browsers and cards driven as a user
// would on the test company. With VDR_SHOTS=DIR set, each browser and card
// is also saved as a picture in DIR for a person to look at.
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <cstdlib>

#include "../ui/search_fixture.h"
#include "reference/reference.h"
#include "toolkit/dialog.h"
#include "toolkit/testdriver.h"
#include "xbase/date.h"

namespace {

using tk::test::Handle;

void shot(QWidget* w, const char* name) {
    const char* d = std::getenv("VDR_SHOTS");
    if (d == nullptr) return;
    w->grab().save(QString::fromLocal8Bit(d) + QLatin1Char('/') + QLatin1String(name) +
                   QStringLiteral(".png"));
}

class Reference : public searchtest::Fixture {
  protected:
    void SetUp() override {
        Fixture::SetUp();
        reference::registerReferenceFunctions();
        driver.watchdog(30000);
    }
    void TearDown() override {
        EXPECT_TRUE(driver.failures().isEmpty()) << driver.failures().join("; ").toStdString();
        Fixture::TearDown();
    }
    // The rows of a table in code order, fields joined by "|" and trimmed.
    std::vector<std::string> rows(const char* alias, const char* tableVar, const char* bagVar) {
        dbf::WorkArea& wa = open(alias, tableVar, bagVar);
        std::vector<std::string> out;
        for (wa.goTop(); !wa.eof(); wa.skip(1)) {
            std::string line;
            for (int f = 0; f < wa.table().fieldCount(); ++f) {
                const xb::Value v = wa.get(f);
                std::string s = v.type() == 'D'   ? xb::formatDate(v.asDate(), "dd-mm-yyyy")
                                : v.type() == 'N' ? std::to_string(v.asNumber())
                                                  : v.asString();
                while (!s.empty() && s.back() == ' ') s.pop_back();
                line += (f ? "|" : "") + s;
            }
            out.push_back(line);
        }
        data::CERRAR(alias);
        return out;
    }
    static QStringList headers(Handle& h) {
        auto* view = qobject_cast<QTableView*>(h.control(101));
        QStringList out;
        for (int c = 0; c < view->model()->columnCount(); ++c)
            out << view->model()->headerData(c, Qt::Horizontal).toString();
        return out;
    }
    // A click on heading `section`; answers the list's item, the grid's
    // first code and the count shown beside the list.
    static std::string clickHeading(Handle& h, int section) {
        auto* view = qobject_cast<QTableView*>(h.control(101));
        QHeaderView* head = view->horizontalHeader();
        QTest::mouseClick(head->viewport(), Qt::LeftButton, {},
                          QPoint(head->sectionViewportPosition(section) + 4, head->height() / 2));
        auto* count = h.window()->findChild<QLabel*>(QStringLiteral("recordCount"));
        return h.text(102).toStdString() + " " +
               view->model()->index(0, 0).data().toString().trimmed().toStdString() + " " +
               (count ? count->text().toStdString() : std::string("-"));
    }
    tk::test::Driver driver;
};

TEST_F(Reference, ProductsKeepPricesAndRefuseACodeThatDiffersOnlyByCase) {
    driver.whenOpen(QStringLiteral("BrowseIn1"), [&](Handle& h) {
        EXPECT_EQ(h.window()->windowTitle(), QStringLiteral("Fichas de Productos / Servicios"));
        EXPECT_EQ(headers(h), (QStringList{"Codigo", "Nombre", "Precio"}));
        EXPECT_EQ(h.control(201)->toolTip(),
                  QStringLiteral("Ingresar Datos de Productos / Servicios"));
        EXPECT_EQ(h.control(205)->toolTip(),
                  QStringLiteral("Salir de Fichas de Productos / Servicios"));
        driver.whenOpen(QStringLiteral("Dlg_Prod"), [](Handle& c) {
            EXPECT_EQ(c.window()->windowTitle(), QStringLiteral("Ficha Producto / Servicio"));
            c.type(101, QStringLiteral("pr1"));
            c.type(102, QStringLiteral("martillo"));
            shot(c.window(), "producto_ficha");
            c.press(201);
        });
        h.press(201);
        driver.whenOpen(QStringLiteral("Dlg_Prod"), [](Handle& c) {
            EXPECT_FALSE(c.type(101, QStringLiteral("Pr1 ")));  // differs only by case and blanks
            c.press(202);
        });
        h.press(201);
        // "Precio" has no order: its heading changes nothing.
        EXPECT_EQ(clickHeading(h, 2), "Código PR1 1 registro");
        shot(h.window(), "productos");
        h.press(205);
    });
    reference::BROWINPRODC();
    const auto r = rows("Producto", "VDRPRODC", "VDRPRDX1");
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].substr(0, 13), "PR1|MARTILLO|");
    EXPECT_EQ(std::stod(r[0].substr(13)), 0.0);
    // The price as the card's save writes it (typing into a number field
    // is the entry field's own business).
    open("Producto", "VDRPRODC", "VDRPRDX1");
    EXPECT_EQ(reference::GRABAPROD("I", "PR2", "CLAVO", 1250.5), ui::SaveResult::Saved);
    data::CERRAR("Producto");
    EXPECT_EQ(std::stod(rows("Producto", "VDRPRODC", "VDRPRDX1").at(1).substr(10)), 1250.5);
    EXPECT_TRUE(alerts().size() == 1 && alerts()[0] ==
                                            "C\xf3"
                                            "digo ya existe");
}

TEST_F(Reference, PriceTypedIntoTheCardIsTheNumberTyped) {
    driver.whenOpen(QStringLiteral("BrowseIn1"), [&](Handle& h) {
        const auto add = [&](const QString& code, const QString& price) {
            driver.whenOpen(QStringLiteral("Dlg_Prod"), [=](Handle& c) {
                c.type(101, code);
                c.type(102, QStringLiteral("articulo"));
                c.type(103, price);
                c.press(201);
            });
            h.press(201);
        };
        add(QStringLiteral("P1"), QStringLiteral("1250"));
        add(QStringLiteral("P2"), QStringLiteral("1250.5"));
        add(QStringLiteral("P3"), QStringLiteral("-12"));
        // Ten integer digits do not fit "999,999,999.99": refused with a word.
        driver.whenOpen(QStringLiteral("Dlg_Prod"), [](Handle& c) {
            c.type(101, QStringLiteral("P4"));
            c.type(102, QStringLiteral("caro"));
            c.type(103, QStringLiteral("1234567890"), false);
            c.press(201);
        });
        h.press(201);
        h.press(205);
    });
    reference::BROWINPRODC();
    const auto r = rows("Producto", "VDRPRODC", "VDRPRDX1");
    ASSERT_EQ(r.size(), 4u);
    const auto price = [&](size_t i) { return std::stod(r[i].substr(r[i].rfind('|') + 1)); };
    EXPECT_DOUBLE_EQ(price(0), 1250.0);
    EXPECT_DOUBLE_EQ(price(1), 1250.5);
    EXPECT_DOUBLE_EQ(price(2), -12.0);
    EXPECT_DOUBLE_EQ(price(3), 123456789.0);
    EXPECT_EQ(driver.boxTexts().filter(QStringLiteral("demasiado grande")).size(), 1);
}

TEST_F(Reference, PlansStoreDatesAsEnteredAndAreFoundByYear) {
    driver.whenOpen(QStringLiteral("BrowseIn1"), [&](Handle& h) {
        EXPECT_EQ(h.window()->windowTitle(), QStringLiteral("Planes de Mercadeo"));
        EXPECT_EQ(headers(h), (QStringList{"Codigo", "Detalle", "Fec.Inicio", "Fec.Fin"}));
        auto add = [&](const QString& code, const QString& text, const QString& from,
                       const QString& to) {
            driver.whenOpen(QStringLiteral("Dlg_Plan"), [=](Handle& c) {
                c.type(101, code);
                c.type(102, text);
                c.type(103, from);
                c.type(104, to);
                if (code == QStringLiteral("B")) shot(c.window(), "plan_ficha");
                c.press(201);
            });
            h.press(201);
        };
        add(QStringLiteral("A"), QStringLiteral("verano"), QStringLiteral("01062008"),
            QStringLiteral("31082008"));
        // An end before the start is kept as entered.
        add(QStringLiteral("B"), QStringLiteral("invierno"), QStringLiteral("01122009"),
            QStringLiteral("28022009"));
        auto* view = qobject_cast<QTableView*>(h.control(101));
        view->setCurrentIndex(view->model()->index(0, 0));
        driver.whenOpen(QStringLiteral("Buscar1"), [](Handle& s) {
            s.choose(101, QStringLiteral("Fecha Inicio"));
            s.type(102, QStringLiteral("2009"));
            s.press(201);
        });
        h.press(204);
        EXPECT_EQ(view->currentIndex().row(), 1);
        shot(h.window(), "planes");
        h.press(205);
    });
    reference::BROWINPLAN();
    EXPECT_EQ(rows("Planes", "VDRPLAN", "VDRPLNX1"),
              (std::vector<std::string>{"A|VERANO|01-06-2008|31-08-2008",
                                        "B|INVIERNO|01-12-2009|28-02-2009"}));
}

TEST_F(Reference, ResponsesAcceptTheSameTextTwiceAndOrderByIt) {
    scripted.answer(1);  // "  &Si  " to the deletion question
    driver.whenOpen(QStringLiteral("BrowseIn1"), [&](Handle& h) {
        EXPECT_EQ(h.window()->windowTitle(), QStringLiteral("Respuestas recibidas de Prospectos"));
        EXPECT_EQ(headers(h), (QStringList{"Codigo", "Detalle"}));
        auto add = [&](const QString& code, const QString& text) {
            driver.whenOpen(QStringLiteral("Dlg_Resp"), [=](Handle& c) {
                EXPECT_EQ(c.window()->windowTitle(),
                          QStringLiteral("Respuesta recibida de Prospectos"));
                c.type(101, code);
                c.type(102, text);
                if (code == QStringLiteral("R3")) shot(c.window(), "respuesta_ficha");
                c.press(201);
            });
            h.press(201);
        };
        add(QStringLiteral("R1"), QStringLiteral("no le interesa"));
        add(QStringLiteral("R2"), QStringLiteral("no le interesa"));
        add(QStringLiteral("R3"), QStringLiteral("compra la semana que viene"));
        // The headings choose their orders, and the list follows.
        EXPECT_EQ(clickHeading(h, 1), "Nombre R3 3 registros");
        EXPECT_EQ(clickHeading(h, 0), "Código R1 3 registros");
        h.choose(102, QStringLiteral("Nombre"));
        auto* view = qobject_cast<QTableView*>(h.control(101));
        EXPECT_EQ(view->model()->index(0, 0).data().toString().trimmed(), QStringLiteral("R3"));
        shot(h.window(), "respuestas");
        // Search by "Nombre" looks in the text.
        view->setCurrentIndex(view->model()->index(0, 0));
        driver.whenOpen(QStringLiteral("Buscar1"), [](Handle& s) {
            shot(s.window(), "buscar");
            s.choose(101, QStringLiteral("Nombre"));
            s.type(102, QStringLiteral("interesa"));
            s.press(201);
        });
        h.press(204);
        EXPECT_EQ(view->model()->index(view->currentIndex().row(), 0).data().toString().trimmed(),
                  QStringLiteral("R1"));
        h.press(203);  // delete R1
        EXPECT_EQ(clickHeading(h, 0), "Código R2 2 registros");
        h.press(205);
    });
    reference::BROWINRESP();
    EXPECT_EQ(rows("Respuesta", "VDRRESP", "VDRRESX1"),
              (std::vector<std::string>{"R2|NO LE INTERESA", "R3|COMPRA LA SEMANA QUE VIENE"}));
}

}  // namespace
