// A runtime error that reaches the event loop is shown and the program goes on.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTimer>

#include "app/application.h"
#include "toolkit/msgbox.h"
#include "xbase/codepage.h"
#include "xbase/error.h"

namespace {

TEST(EventLoopErrors, ShownInStopBoxAndLoopGoesOn) {
    // This test needs the program's own application object; it runs alone in
    // its process when the suite starts with it, otherwise it builds on the
    // one already there only if it is ours.
    static int argc = 1;
    static char arg0[] = "test_app";
    static char* argv[] = {arg0, nullptr};
    if (QCoreApplication::instance() &&
        !dynamic_cast<app::Application*>(QCoreApplication::instance()))
        GTEST_SKIP() << "another application object exists in this process";
    if (!QCoreApplication::instance()) new app::Application(argc, argv);

    QStringList shown;
    tk::setMsgBoxObserver([&](const tk::BoxShown& b) {
        shown << b.title + QLatin1Char('|') + b.text;
        return 1;
    });
    QPushButton failing;
    QObject::connect(&failing, &QPushButton::clicked, [] {
        xb::Error e = xb::makeError(xb::gen::NoFunc, 1001, xb::utf8ToCp1252("Función no definida"),
                                    "BROWINPROSP");
        throw xb::Break(e);
    });
    QPushButton plain;
    QObject::connect(&plain, &QPushButton::clicked,
                     [] { throw std::runtime_error("fallo del sistema"); });
    // Each action runs from its own event, as clicks do in the program.
    int ticks = 0;
    QTimer::singleShot(0, [&] { failing.click(); });
    QTimer::singleShot(0, [&] {
        ++ticks;
        plain.click();
    });
    QTimer::singleShot(0, [&] {
        ++ticks;  // the loop still runs after both failures
        QCoreApplication::exit(0);
    });
    EXPECT_EQ(QCoreApplication::exec(), 0);
    tk::setMsgBoxObserver({});
    EXPECT_EQ(ticks, 2);
    ASSERT_EQ(shown.size(), 2);
    EXPECT_TRUE(shown[0].contains(QStringLiteral("Función no definida"))) << shown[0].toStdString();
    EXPECT_TRUE(shown[0].contains(QStringLiteral("BROWINPROSP"))) << shown[0].toStdString();
    EXPECT_EQ(shown[1], QStringLiteral("Error|fallo del sistema"));
}

}  // namespace
