// The help window: opened from the installation's help file, replaced by a
// fresh one on a second request, closed by Escape, and nothing at all
// without a help file.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

#include "app/help.h"

namespace {

int argc = 1;
char arg0[] = "test_app";
char* argv[] = {arg0, nullptr};

void ensureApp() {
    if (!QApplication::instance()) new QApplication(argc, argv);
}

int visibleHelpWindows(const QString& title) {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->windowTitle() == title) ++n;
    return n;
}

TEST(Help, SecondPressReplacesTheWindowAndMissingFileDoesNothing) {
    ensureApp();
    QTemporaryDir dir;
    const QString previousDir = QDir::currentPath();
    QDir::setCurrent(dir.path());
    QFile f(QStringLiteral("zeridoda.HTML"));  // found whatever the case of its name
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("<html><body><h1>Ayuda de prueba</h1></body></html>");
    f.close();

    QPointer<QWidget> first =
        app::HELPINDEX(QStringLiteral("ZeriDoda.html"), QStringLiteral("HTMLHelp"));
    ASSERT_TRUE(first);
    EXPECT_TRUE(qobject_cast<QTextBrowser*>(first.data())
                    ->toPlainText()
                    .contains(QStringLiteral("Ayuda de prueba")));
    EXPECT_EQ(visibleHelpWindows(QStringLiteral("HTMLHelp")), 1);

    QPointer<QWidget> second =
        app::HELPINDEX(QStringLiteral("ZeriDoda.html"), QStringLiteral("HTMLHelp"));
    QApplication::processEvents();
    ASSERT_TRUE(second);
    EXPECT_NE(first.data(), second.data());
    EXPECT_EQ(visibleHelpWindows(QStringLiteral("HTMLHelp")), 1);

    EXPECT_EQ(app::HELPINDEX(QStringLiteral("NoExiste.html"), QStringLiteral("Otra")), nullptr);
    EXPECT_EQ(visibleHelpWindows(QStringLiteral("Otra")), 0);
    second->close();

    // The stored file and title serve a request without arguments.
    EXPECT_EQ(app::SETHELPFILE(QStringLiteral("ZeriDoda.html"), QStringLiteral("Ayuda Valdrosa")),
              QString());
    QPointer<QWidget> third = app::HELPINDEX();
    ASSERT_TRUE(third);
    EXPECT_EQ(third->windowTitle(), QStringLiteral("Ayuda Valdrosa"));
    // Escape closes it, as it closes a dialog.
    third->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(third));
    QTest::keyClick(third, Qt::Key_Escape);
    for (int i = 0; i < 50 && third; ++i) QTest::qWait(20);
    EXPECT_TRUE(third.isNull());
    QDir::setCurrent(previousDir);
}

}  // namespace
