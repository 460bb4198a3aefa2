// The salespeople browser and card driven as a user would, on the test
// company of a real installation.
#include <QLineEdit>
#include <QTableView>
#include <cstdlib>

#include "company/salespeople.h"
#include "company_fixture.h"
#include "data/helpers.h"
#include "toolkit/dialog.h"
#include "toolkit/testdriver.h"

namespace {

using tk::test::Handle;

// With VDR_SHOTS=DIR set, a picture of the window for a person to look at.
void shot(QWidget* w, const char* name) {
    const char* d = std::getenv("VDR_SHOTS");
    if (d == nullptr) return;
    w->grab().save(QString::fromLocal8Bit(d) + QLatin1Char('/') + QLatin1String(name) +
                   QStringLiteral(".png"));
}

class Salespeople : public CompanyFixture {
  protected:
    void SetUp() override {
        CompanyFixture::SetUp();
        startAs("CAJA1");
        xb::assignVar("G_CAMINO", xb::Value::str("EMP00001\\"));
        data::NOMBBASES();
        company::registerSalespeopleFunctions();
        driver.watchdog(30000);
    }
    void TearDown() override {
        EXPECT_TRUE(driver.failures().isEmpty()) << driver.failures().join("; ").toStdString();
        CompanyFixture::TearDown();
    }
    // The file's rows in code order: "CODE|NAME" trimmed.
    std::vector<std::string> rows() {
        EXPECT_TRUE(data::ABRIR("Vendedor", xb::getVar("VDRVEND").asString(), "S",
                                {xb::getVar("VDRVENX1").asString()}));
        dbf::WorkArea& wa = *dbf::workspace().area(std::string_view("VENDEDOR"));
        std::vector<std::string> out;
        for (wa.goTop(); !wa.eof(); wa.skip(1)) {
            auto t = [&](int f) {
                std::string s = wa.get(f).asString();
                while (!s.empty() && s.back() == ' ') s.pop_back();
                return s;
            };
            out.push_back(t(0) + "|" + t(1));
        }
        data::CERRAR("Vendedor");
        return out;
    }
    // Adds a salesperson through the browser's "&Nuevo".
    void addThroughCard(Handle& browser, const QString& code, const QString& name) {
        driver.whenOpen(QStringLiteral("Dlg_Vend"), [code, name](Handle& card) {
            card.type(101, code);
            card.type(102, name);
            shot(card.window(), "vendedor_ficha");
            card.press(201);
        });
        browser.press(201);
    }
    tk::test::Driver driver;
};

TEST_F(Salespeople, NewCardsSaveABlankCodeWithANameAndNothingWhenBothAreBlank) {
    driver.whenOpen(QStringLiteral("BrowseIn1"), [&](Handle& h) {
        EXPECT_EQ(h.window()->windowTitle(), QStringLiteral("Fichas de Vendedores"));
        addThroughCard(h, QString(), QStringLiteral("sin codigo"));
        addThroughCard(h, QStringLiteral("v1"), QStringLiteral("ana"));
        // Both blank: "&Aceptar" does nothing and the card stays open.
        driver.whenOpen(QStringLiteral("Dlg_Vend"), [](Handle& card) {
            card.press(201);
            EXPECT_TRUE(card.window()->isVisible());
            card.press(202);
        });
        h.press(201);
        h.press(205);
    });
    company::BROWINVEND();
    EXPECT_EQ(rows(), (std::vector<std::string>{"|SIN CODIGO", "V1|ANA"}));
    EXPECT_FALSE(data::USADA("Vendedor"));  // the browser closed its table
}

TEST_F(Salespeople, OwnCodeIsAcceptedAnothersRefusedWhateverCaseAndBlanks) {
    driver.whenOpen(QStringLiteral("BrowseIn1"), [&](Handle& h) {
        addThroughCard(h, QStringLiteral("V1"), QStringLiteral("UNO"));
        addThroughCard(h, QStringLiteral("V2"), QStringLiteral("DOS"));
        // The grid is on V2: its own code, in lower case and with blanks, is accepted.
        driver.whenOpen(QStringLiteral("Dlg_Vend"), [&](Handle& card) {
            EXPECT_TRUE(card.type(101, QStringLiteral("v2 ")));
            card.type(102, QStringLiteral("DOS BIS"));
            card.press(201);
        });
        h.press(202);
        // Another's code is refused and the focus stays in the field.
        driver.whenOpen(QStringLiteral("Dlg_Vend"), [&](Handle& card) {
            EXPECT_FALSE(card.type(101, QStringLiteral(" v1")));
            EXPECT_EQ(card.focusedId(), 101);
            card.press(202);
        });
        h.press(202);
        h.press(205);
    });
    company::BROWINVEND();
    EXPECT_EQ(rows(), (std::vector<std::string>{"V1|UNO", "V2|DOS BIS"}));
    QStringList texts = driver.boxTexts();
    EXPECT_TRUE(texts.contains(QStringLiteral("Código ya existe")))
        << texts.join("|").toStdString();
}

TEST_F(Salespeople, DeletingTheLastInOrderLeavesTheBrowseOnThePrevious) {
    driver.answer({1});  // "  &Si  "
    driver.whenOpen(QStringLiteral("BrowseIn1"), [&](Handle& h) {
        addThroughCard(h, QStringLiteral("A"), QStringLiteral("PRIMERO"));
        addThroughCard(h, QStringLiteral("C"), QStringLiteral("TERCERO"));
        addThroughCard(h, QStringLiteral("B"), QStringLiteral("SEGUNDO"));
        auto* view = qobject_cast<QTableView*>(h.control(101));
        // Go to the last row (C) and delete it.
        view->setCurrentIndex(view->model()->index(2, 0));
        h.press(203);
        EXPECT_EQ(view->model()->rowCount(), 2);
        EXPECT_EQ(view->currentIndex().row(), 1);
        EXPECT_EQ(view->model()->index(1, 0).data().toString().trimmed(), QStringLiteral("B"));
        h.press(205);
    });
    company::BROWINVEND();
    EXPECT_EQ(rows(), (std::vector<std::string>{"A|PRIMERO", "B|SEGUNDO"}));
    ASSERT_FALSE(driver.boxes().empty());
    EXPECT_EQ(driver.boxes().back().text,
              QStringLiteral("Seguro desea borrar vendedor de la Base de Datos ?"));
}

TEST_F(Salespeople, DeletingOnAnEmptyGridAsksNothingAndLocksNothing) {
    driver.whenOpen(QStringLiteral("BrowseIn1"), [&](Handle& h) {
        h.press(203);
        h.press(202);  // and "&Modificar" opens no card
        h.press(205);
    });
    company::BROWINVEND();
    EXPECT_TRUE(driver.boxes().empty());
    EXPECT_TRUE(rows().empty());
}

TEST_F(Salespeople, SearchAndOrderChoiceMoveTheGrid) {
    driver.whenOpen(QStringLiteral("BrowseIn1"), [&](Handle& h) {
        addThroughCard(h, QStringLiteral("V1"), QStringLiteral("ZOILA"));
        addThroughCard(h, QStringLiteral("V2"), QStringLiteral("MARIANA"));
        addThroughCard(h, QStringLiteral("V3"), QStringLiteral("ANDRES"));
        auto* view = qobject_cast<QTableView*>(h.control(101));
        driver.whenOpen(QStringLiteral("Buscar1"), [](Handle& s) {
            s.choose(101, QStringLiteral("Nombre"));
            s.type(102, QStringLiteral("ana"));
            s.press(201);
        });
        h.press(204);
        EXPECT_EQ(view->currentIndex().row(), 1);  // V2 MARIANA in code order
        h.choose(102, QStringLiteral("Nombre"));
        shot(h.window(), "vendedores");
        EXPECT_EQ(view->model()->index(0, 1).data().toString().trimmed(), QStringLiteral("ANDRES"));
        EXPECT_EQ(view->currentIndex().row(), 1);  // still MARIANA
        h.press(205);
    });
    company::BROWINVEND();
}

}  // namespace
