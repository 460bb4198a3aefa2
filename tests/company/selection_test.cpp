// Choosing the session company on a real installation: the remembered company
// of each workstation, the closing rule, the workstation's folder in the
// company, the memory file and the bar's caption.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTableView>
#include <QTemporaryDir>

#include "company/selection.h"
#include "company_fixture.h"
#include "data/interaction.h"
#include "data/session.h"
#include "dbf/order.h"
#include "dbf/workspace.h"
#include "subprocess.h"
#include "toolkit/dialog.h"
#include "toolkit/resources.h"
#include "toolkit/testdriver.h"
#include "xbase/codepage.h"
#include "xbase/compiler.h"
#include "xbase/runtime.h"

namespace {

class SelectionTest : public CompanyFixture {
  protected:
    void SetUp() override {
        CompanyFixture::SetUp();
        addCompany("00002", "EMP00002", "A & B LTDA");
    }
    static std::string var(const char* name) { return xb::getVar(name).asString(); }
    static int currentRow(tk::test::Handle& h) {
        return h.dialog()->ctl<QTableView>(101)->currentIndex().row();
    }
};

TEST_F(SelectionTest, EachWorkstationKeepsItsOwnCompany) {
    startAs("CAJA1");
    {
        tk::test::Driver driver;
        driver.watchdog();
        int rowAtOpen = -1;
        driver.whenOpen(QStringLiteral("SelecEmpr"), [&](tk::test::Handle& h) {
            rowAtOpen = currentRow(h);
            h.key(101, Qt::Key_Down);
            h.key(101, Qt::Key_Return);
        });
        ASSERT_TRUE(company::SELEEMPR());
        EXPECT_TRUE(driver.allRun());
        EXPECT_TRUE(driver.failures().isEmpty()) << driver.failures().join('|').toStdString();
        EXPECT_EQ(rowAtOpen, 0);  // nothing remembered yet: the first company
    }
    EXPECT_EQ(var("G_CAMINO"), "EMP00002\\");
    EXPECT_EQ(var("G_EMPRESA").substr(0, 10), "A & B LTDA");
    // Table names point into the chosen company.
    EXPECT_EQ(var("VDRPROSP").rfind("EMP00002\\", 0), 0u) << var("VDRPROSP");
    EXPECT_TRUE(QFile::exists(QStringLiteral("EMP00002/CAJA1/ContTrm.ini")));
    EXPECT_TRUE(QDir(QStringLiteral("Prueba")).exists());
    EXPECT_FALSE(dbf::workspace().used("Control"));

    startAs("CAJA2");
    {
        tk::test::Driver driver;
        driver.watchdog();
        driver.whenOpen(QStringLiteral("SelecEmpr"),
                        [&](tk::test::Handle& h) { h.key(101, Qt::Key_Return); });
        ASSERT_TRUE(company::SELEEMPR());
    }
    EXPECT_EQ(var("G_CAMINO"), "EMP00001\\");

    // Back on the first workstation, its own company is highlighted.
    startAs("CAJA1");
    {
        tk::test::Driver driver;
        driver.watchdog();
        int rowAtOpen = -1;
        driver.whenOpen(QStringLiteral("SelecEmpr"), [&](tk::test::Handle& h) {
            rowAtOpen = currentRow(h);
            h.key(101, Qt::Key_Return);
        });
        ASSERT_TRUE(company::SELEEMPR());
        EXPECT_EQ(rowAtOpen, 1);
    }
    EXPECT_EQ(var("G_CAMINO"), "EMP00002\\");
}

TEST_F(SelectionTest, ClosingWithoutChoiceIsRefusedAndForgottenCompanyFallsBackToFirst) {
    startAs("CAJA3");
    company::writeRememberedCompany("EMP00099");  // a company deleted meanwhile
    ASSERT_EQ(company::readRememberedCompany().value_or(""), "EMP00099");
    tk::test::Driver driver;
    driver.watchdog();
    int rowAtOpen = -1;
    driver.whenOpen(QStringLiteral("SelecEmpr"), [&](tk::test::Handle& h) {
        rowAtOpen = currentRow(h);
        h.close();  // refused: nothing chosen yet
        ASSERT_TRUE(h.window()->isVisible());
        h.key(101, Qt::Key_Down);  // any key takes the highlighted company...
        h.close();                 // ...so now the dialog may close
    });
    ASSERT_TRUE(company::SELEEMPR());
    EXPECT_EQ(rowAtOpen, 0);
    ASSERT_FALSE(driver.boxes().empty());
    EXPECT_EQ(driver.boxes().front().text,
              QStringLiteral("Debe seleccionar una empresa para continuar"));
    EXPECT_EQ(driver.boxes().front().title, QStringLiteral("Atención...!!!"));
    EXPECT_EQ(var("G_CAMINO"), "EMP00002\\");
    EXPECT_EQ(company::readRememberedCompany().value_or(""), "EMP00002");
}

TEST_F(SelectionTest, SelectionEmptiesTheWorkstationFileAndCaptionShowsAmpersand) {
    startAs("CAJA4");
    QDir().mkpath(QStringLiteral("EMP00001/CAJA4"));
    QFile old(QStringLiteral("EMP00001/CAJA4/ContTrm.ini"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("restos de la sesión anterior");
    old.close();

    QString caption;
    company::setCaptionSink([&](const QString& c) { caption = c; });
    tk::test::Driver driver;
    driver.watchdog();
    driver.whenOpen(QStringLiteral("SelecEmpr"),
                    [&](tk::test::Handle& h) { h.key(101, Qt::Key_Return); });
    ASSERT_TRUE(company::SELEEMPR());
    EXPECT_EQ(QFileInfo(old.fileName()).size(), 0);
    EXPECT_EQ(caption.trimmed(), QStringLiteral("EMPRESA DE PRUEBAS"));

    xb::evalText("TEXTOSAYBAR('  A & B LTDA  ')");
    EXPECT_EQ(caption.size(), 45);
    EXPECT_EQ(caption.trimmed(), QStringLiteral("A && B LTDA"));
    EXPECT_EQ(caption.indexOf(QLatin1Char('A')), (45 - 11) / 2);
    company::setCaptionSink({});
}

}  // namespace
