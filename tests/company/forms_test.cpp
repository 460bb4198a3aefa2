// The company dialogs as a user meets them: the modify dialog's own buttons,
// short codes, "&Aceptar" on a code never visited, the bar caption after a
// change or a deletion, the company remembered after a creation, and the
// selection's brick background.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>

#include "company/selection.h"
#include "company/upkeep.h"
#include "company_fixture.h"
#include "toolkit/dialog.h"
#include "toolkit/resources.h"
#include "toolkit/testdriver.h"

namespace {

class CompanyFormsTest : public CompanyFixture {
  protected:
    void SetUp() override {
        CompanyFixture::SetUp();
        startAs("CAJA1");
        xb::assignVar("G_CAMINO", xb::Value::str("EMP00001\\"));
        company::setCaptionSink([this](const QString& t) { captions << t.trimmed(); });
    }
    void TearDown() override {
        company::setCaptionSink({});
        CompanyFixture::TearDown();
    }
    QStringList captions;
};

TEST_F(CompanyFormsTest, ModifyDialogButtonsSayWhatTheyDo) {
    tk::test::Driver driver;
    driver.watchdog(15000);
    QString modTip, cancelTip, modStatus;
    bool modIcon = false;
    QString modifyTitle;
    driver.whenOpen(QStringLiteral("ElimEmpr"), [&](tk::test::Handle& h) {
        modifyTitle = h.window()->windowTitle();
        auto* mod = qobject_cast<QPushButton*>(h.control(412));
        modTip = mod->toolTip();
        cancelTip = h.control(401)->toolTip();
        modIcon = !mod->icon().isNull();
        // The picture is the modify one, not the delete dialog's scissors.
        const QImage shown = mod->icon().pixmap(24, 24).toImage();
        const QImage scissors = tk::bitmap(QStringLiteral("Cut1")).scaled(24, 24).toImage();
        EXPECT_FALSE(shown.convertToFormat(QImage::Format_ARGB32) ==
                     scissors.convertToFormat(QImage::Format_ARGB32));
        h.press(401);
    });
    company::DATOSEMPR("M");
    EXPECT_TRUE(driver.allRun()) << driver.failures().join('|').toStdString();
    EXPECT_EQ(modifyTitle, QStringLiteral("Modificar Empresa"));
    EXPECT_TRUE(modIcon);
    EXPECT_FALSE(modTip.isEmpty());
    EXPECT_FALSE(modTip.contains(QStringLiteral("Borra"))) << modTip.toStdString();
    EXPECT_FALSE(cancelTip.contains(QStringLiteral("eliminación"))) << cancelTip.toStdString();
}

TEST_F(CompanyFormsTest, AShortCodeIsCompletedWithZerosAndTheNewCompanyIsRemembered) {
    tk::test::Driver driver;
    driver.watchdog(20000);
    QString dirShown;
    driver.whenOpen(QStringLiteral("FoldIniEmpr"), [&](tk::test::Handle& h) {
        h.onPage(101, 1);
        h.key(101, Qt::Key_A, Qt::ControlModifier);
        h.key(101, Qt::Key_Delete);
        h.type(101, QStringLiteral("7"));
        dirShown = h.text(111).trimmed();
        h.type(102, QStringLiteral("SIETE"));
        h.type(103, QStringLiteral("700"));
        h.press(200);
    });
    company::DATOSEMPR("I");
    EXPECT_TRUE(driver.allRun()) << driver.failures().join('|').toStdString();
    EXPECT_TRUE(driver.boxTexts().isEmpty()) << driver.boxTexts().join('|').toStdString();
    EXPECT_EQ(dirShown, QStringLiteral("EMP00007"));
    EXPECT_TRUE(QDir(QStringLiteral("EMP00007")).exists());
    EXPECT_EQ(xb::getVar("G_CAMINO").asString(), "EMP00007\\");
    // The workstation finds it highlighted next time.
    EXPECT_EQ(company::readRememberedCompany().value_or(""), "EMP00007");
    EXPECT_EQ(captions.value(captions.size() - 1), QStringLiteral("SIETE"));

    // A code that is no number says what a code must be; nothing is created.
    EXPECT_FALSE(company::normaliseCompanyCode("12a").has_value());
    EXPECT_FALSE(company::normaliseCompanyCode("123456").has_value());
    EXPECT_EQ(company::normaliseCompanyCode(" 42").value_or(""), "00042");
}

TEST_F(CompanyFormsTest, AcceptWithTheProposedCodeNeverVisitedSaves) {
    tk::test::Driver driver;
    driver.watchdog(20000);
    driver.whenOpen(QStringLiteral("FoldIniEmpr"), [&](tk::test::Handle& h) {
        h.onPage(101, 1);
        h.type(102, QStringLiteral("SEGUNDA"));
        h.type(103, QStringLiteral("123"), false);
        // "&Aceptar" by its key: the focus is still in the tax number.
        qobject_cast<QPushButton*>(h.control(200))->click();
    });
    company::DATOSEMPR("I");
    EXPECT_TRUE(driver.allRun()) << driver.failures().join('|').toStdString();
    EXPECT_TRUE(QDir(QStringLiteral("EMP00002")).exists());
    EXPECT_EQ(xb::getVar("G_CAMINO").asString(), "EMP00002\\");
}

TEST_F(CompanyFormsTest, TheBarCaptionFollowsAModifiedOrDeletedSessionCompany) {
    tk::test::Driver driver;
    driver.watchdog(40000);
    driver.whenOpen(QStringLiteral("ElimEmpr"), [&](tk::test::Handle& h) {
        h.press(412);  // the form opens and closes inside
        h.press(401);
    });
    driver.whenOpen(QStringLiteral("FoldIniEmpr"), [&](tk::test::Handle& h) {
        h.onPage(101, 1);
        h.type(102, QStringLiteral("PRUEBAS RENOMBRADA"));
        h.type(103, QStringLiteral("900"));  // the test company comes without one
        h.press(200);
    });
    company::DATOSEMPR("M");
    EXPECT_TRUE(driver.allRun()) << driver.failures().join('|').toStdString();
    EXPECT_EQ(captions.value(captions.size() - 1), QStringLiteral("PRUEBAS RENOMBRADA"))
        << driver.boxTexts().join('|').toStdString();
    // What is printed from now on names it too.
    EXPECT_EQ(QString::fromStdString(xb::getVar("G_EMPRESA").asString()).trimmed(),
              QStringLiteral("PRUEBAS RENOMBRADA"));

    addCompany("00002", "EMP00002", "EN USO");
    QDir().mkpath(QStringLiteral("EMP00002"));
    xb::assignVar("G_CAMINO", xb::Value::str("EMP00002\\"));
    captions.clear();
    QStringList captionsWhileSelecting;
    driver.answer({1, 1});
    driver.whenOpen(QStringLiteral("ElimEmpr"), [&](tk::test::Handle& h) {
        h.key(101, Qt::Key_Down);
        h.press(412);
    });
    driver.whenOpen(QStringLiteral("SelecEmpr"), [&](tk::test::Handle& h) {
        captionsWhileSelecting = captions;
        h.key(101, Qt::Key_Return);
    });
    company::ELIMEMPR();
    EXPECT_TRUE(driver.allRun()) << driver.failures().join('|').toStdString();
    // Gone from the bar at once, before the new selection names another.
    EXPECT_EQ(captionsWhileSelecting, QStringList{QString()});
    EXPECT_EQ(captions.value(captions.size() - 1), QStringLiteral("PRUEBAS RENOMBRADA"));
}

TEST_F(CompanyFormsTest, SelectionDialogHasTheBrickBackground) {
    tk::test::Driver driver;
    driver.watchdog(15000);
    Qt::BrushStyle style = Qt::SolidPattern;
    driver.whenOpen(QStringLiteral("SelecEmpr"), [&](tk::test::Handle& h) {
        style = h.window()->palette().brush(QPalette::Window).style();
        h.key(101, Qt::Key_Return);
    });
    company::SELEEMPR();
    EXPECT_EQ(style, Qt::TexturePattern);
}

}  // namespace

namespace {

// Where Tab leads in the company form: from the first field that takes
// typing through the fields in the order the page shows them to "&Aceptar",
// passing over the read-only code (when it is fixed) and directory and the
// tab of the folder's only page.
std::vector<int> tabWalk(const char* mode) {
    tk::test::Driver driver;
    driver.watchdog(20000);
    std::vector<int> order;
    const bool modify = std::string(mode) == "M";
    if (modify)  // the form opens from the modify dialog's button
        driver.whenOpen(QStringLiteral("ElimEmpr"), [](tk::test::Handle& h) {
            h.press(412);
            h.press(401);
        });
    driver.whenOpen(QStringLiteral("FoldIniEmpr"), [&](tk::test::Handle& h) {
        h.onPage(101, 1);
        QApplication::processEvents();
        order.push_back(h.focusedId());
        for (int i = 0; i < 12 && QApplication::focusWidget(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            order.push_back(h.focusedId());
            if (order.back() == 200) break;
        }
        h.press(201);
    });
    company::DATOSEMPR(modify ? "M" : "I");
    EXPECT_TRUE(driver.allRun()) << driver.failures().join('|').toStdString();
    return order;
}

TEST_F(CompanyFormsTest, TabWalksTheFormInTheOrderItShows) {
    EXPECT_EQ(tabWalk("I"),
              (std::vector<int>{101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 200}));
    // Modifying: the code is fixed, the name takes the first keys.
    EXPECT_EQ(tabWalk("M"), (std::vector<int>{102, 103, 104, 105, 106, 107, 108, 109, 110, 200}));
}

}  // namespace
