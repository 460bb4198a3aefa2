// F5's memory box: three lines with the figures formatted as the program
// formats large numbers.
#include <gtest/gtest.h>

#include <QApplication>
#include <QRegularExpression>

#include "app/inicial.h"
#include "application.h"
#include "toolkit/msgbox.h"
#include "xbase/runtime.h"

TEST(MemoryBox, ThreeLinesWithGroupedFigures) {
    testsupport::application();
    xb::resetRuntime();
    QStringList shown;
    tk::setMsgBoxObserver([&](const tk::BoxShown& b) {
        shown << b.text;
        return 1;
    });
    app::registerAppFunctions();
    xb::callFunction("CHECKMIMEMORIA");
    tk::setMsgBoxObserver({});
    ASSERT_EQ(shown.size(), 1);
    const QRegularExpression form(QStringLiteral(
        "^MemUsed: \\d{1,3}(,\\d{3})+\\nMemMax : \\d{1,3}(,\\d{3})+\\nResources: \\d{1,3}%$"));
    EXPECT_TRUE(form.match(shown[0]).hasMatch()) << shown[0].toStdString();
}
