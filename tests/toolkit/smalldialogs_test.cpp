#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QTest>
#include <cmath>

#include "toolkit/msgbox.h"
#include "toolkit/smalldialogs.h"
#include "toolkit/testdriver.h"
#include "toolkit/text.h"

namespace {

using tk::test::Driver;
using tk::test::Handle;

TEST(Alert, ReturnsTheButtonNumberOrZeroWhenClosed) {
    Driver driver;
    driver.answer({2, 0});
    EXPECT_EQ(tk::alert(QStringLiteral("¿Borrar?"), QStringLiteral("Atención....."),
                        {QStringLiteral("  &Si  "), QStringLiteral("  &No  ")}),
              2);
    EXPECT_FALSE(tk::decis(QStringLiteral("Desea terminar su sesión ?")));
    ASSERT_EQ(driver.boxes().size(), 2u);
    EXPECT_EQ(driver.boxes()[1].title, QStringLiteral("Seleccione su opción"));
    EXPECT_EQ(driver.boxes()[1].buttons,
              (QStringList{QStringLiteral("   &Si   "), QStringLiteral("   &No   ")}));
}

TEST(Alert, DefaultsAreOneAcceptButtonAndItsTitle) {
    Driver driver;
    tk::alert(QStringLiteral("línea 1\r\nlínea 2"));
    ASSERT_EQ(driver.boxes().size(), 1u);
    EXPECT_EQ(driver.boxes()[0].title, QStringLiteral("Atención..."));
    EXPECT_EQ(driver.boxes()[0].buttons, QStringList{QStringLiteral("&Aceptar")});
    EXPECT_EQ(driver.boxes()[0].text, QStringLiteral("línea 1\nlínea 2"));
}

TEST(Alert, TheRealDialogAnswersItsButtonsAndItsCloseBox) {
    Driver driver;
    driver.answer({-1, -1});  // show both boxes for real
    driver.whenOpen(QStringLiteral("Pregunta"),
                    [](Handle& h) { h.pressCaption(QStringLiteral("&No")); });
    driver.whenOpen(QStringLiteral("Pregunta"), [](Handle& h) { h.close(); });
    driver.watchdog(8000);
    const QStringList buttons{QStringLiteral("  &Si  "), QStringLiteral("  &No  ")};
    EXPECT_EQ(tk::alert(QStringLiteral("uno"), QStringLiteral("Pregunta"), buttons), 2);
    EXPECT_EQ(tk::alert(QStringLiteral("dos"), QStringLiteral("Pregunta"), buttons), 0);
    EXPECT_TRUE(driver.failures().isEmpty()) << driver.failures().join(';').toStdString();
}

// A short text under a long caption: the box is as wide as its caption plus
// a window manager's icon and three frame buttons (about 100 pixels), so the
// frame does not cut it.
TEST(Alert, ABoxIsAsWideAsItsCaption) {
    Driver driver;
    driver.answer({-1});
    const QString caption = QStringLiteral("Atención..... revise los datos del informe");
    int width = 0;
    driver.whenOpen(caption, [&](Handle& h) {
        QTest::qWait(20);
        width = h.window()->width();
        h.pressCaption(QStringLiteral("&Aceptar"));
    });
    driver.watchdog(8000);
    tk::msgInfo(QStringLiteral("No"), caption);
    QFont bold = QApplication::font();
    bold.setBold(true);
    EXPECT_GE(width, QFontMetrics(bold).horizontalAdvance(caption) + 100);
    EXPECT_TRUE(driver.failures().isEmpty()) << driver.failures().join(';').toStdString();
}

TEST(Alert, TextsInTheDosCodePageAreConvertedForDisplay) {
    Driver driver;
    // "creación" and "Atención" as the DOS code page 850 stores them.
    tk::alertBytes("Error en la creaci\xa2n", "Atenci\xa2n", {}, true);
    tk::alertBytes("Atenci\xf3n", "", {}, false);  // Windows-1252
    ASSERT_EQ(driver.boxes().size(), 2u);
    EXPECT_EQ(driver.boxes()[0].text, QStringLiteral("Error en la creación"));
    EXPECT_EQ(driver.boxes()[0].title, QStringLiteral("Atención"));
    EXPECT_EQ(driver.boxes()[1].text, QStringLiteral("Atención"));
    EXPECT_EQ(tk::toAnsi(QStringLiteral("ñÑ€")), "\xf1\xd1\x80");
}

TEST(Meter, RunsItsWorkWhileShownAndCannotBeClosedMeanwhile) {
    Driver driver;
    bool visibleDuringWork = false, stillOpenAfterClose = false;
    tk::runMeter(QString(), QString(), [&](data::Meter& m) {
        QWidget* w = Driver::findWindow(QStringLiteral("MSGMETER"));
        visibleDuringWork = w != nullptr && w->isVisible();
        m.setTotal(4);
        for (int i = 1; i <= 4; ++i) {
            m.setPosition(i);
            m.refresh();
        }
        m.setText("Indexando \xe1rea");
        if (w != nullptr) {
            w->close();
            QTest::keyClick(w, Qt::Key_Escape);
            stillOpenAfterClose = w->isVisible();
        }
    });
    EXPECT_TRUE(visibleDuringWork);
    EXPECT_TRUE(stillOpenAfterClose);
    EXPECT_EQ(Driver::findWindow(QStringLiteral("MSGMETER")), nullptr);
    ASSERT_FALSE(driver.meters().empty());
    EXPECT_EQ(driver.meters().front().title, QStringLiteral("Por favor espere"));
    EXPECT_EQ(driver.meters().front().text, QStringLiteral("Procesando..."));
    EXPECT_EQ(driver.meters().back().text, QStringLiteral("Indexando área"));
    EXPECT_EQ(driver.meters().back().total, 4);
    EXPECT_EQ(driver.meters().back().position, 4);
}

TEST(Meter, AFailureInTheWorkClosesTheDialogAndPassesOn) {
    EXPECT_THROW(tk::runMeter(QStringLiteral("T"), QStringLiteral("x"),
                              [](data::Meter&) { throw std::runtime_error("falla"); }),
                 std::runtime_error);
    EXPECT_EQ(Driver::findWindow(QStringLiteral("MSGMETER")), nullptr);
}

int zeroCrossingsUp(const std::vector<int16_t>& s, size_t from, size_t to) {
    int n = 0;
    for (size_t i = from + 1; i < to; ++i) n += (s[i - 1] < 0 && s[i] >= 0) ? 1 : 0;
    return n;
}

TEST(Bell, TwoTonesOf125And300HzOneTickEach) {
    const int rate = 22050;
    const auto s = tk::toneSamples({{125, tk::kToneTickMs}, {300, tk::kToneTickMs}}, rate);
    const size_t half = static_cast<size_t>(rate * tk::kToneTickMs / 1000);
    ASSERT_EQ(s.size(), 2 * half);
    // Cycles in 55 ms: 125 Hz gives about 6.9, 300 Hz about 16.5.
    EXPECT_NEAR(zeroCrossingsUp(s, 0, half), 125.0 * tk::kToneTickMs / 1000, 1.0);
    EXPECT_NEAR(zeroCrossingsUp(s, half, s.size()), 300.0 * tk::kToneTickMs / 1000, 1.0);
    // Faded in and out, so the speaker does not click.
    EXPECT_LT(std::abs(s.front()), 200);
    EXPECT_LT(std::abs(s[half - 1]), 400);
}

TEST(Bell, SoundsOrStaysSilentWithoutError) {
    const int before = tk::tonesRequested();
    tk::bell();
    tk::ToolkitInteraction().tone(440, 10);
    EXPECT_EQ(tk::tonesRequested(), before + 2);
    EXPECT_LE(tk::tonesPlayed(), tk::tonesRequested());
}

}  // namespace
