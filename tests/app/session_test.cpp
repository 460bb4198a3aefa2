// A whole session in this process: INICIAL builds the window, the company is
// chosen, a menu action evaluated inside the running session reads the
// session's objects, the bar buttons keep out of the keyboard's way, and the
// end of the session writes "Res.Log".
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include "app/inicial.h"
#include "app/mainwindow.h"
#include "application.h"
#include "data/interaction.h"
#include "data/session.h"
#include "dbf/workspace.h"
#include "subprocess.h"
#include "toolkit/smalldialogs.h"
#include "toolkit/testdriver.h"
#include "xbase/codepage.h"
#include "xbase/compiler.h"
#include "xbase/runtime.h"

namespace {

TEST(Session, ActionsSeeTheWindowObjectsAndTheEndWritesTheResourceLog) {
    testsupport::application();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(testsupport::assembleInstallation(dir.path()));
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    // The one-window guard keeps its lock in a folder of this test alone.
    QDir().mkpath(dir.path() + QStringLiteral("/run"));
    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", (dir.path() + QStringLiteral("/run")).toUtf8());
    static tk::ToolkitInteraction interaction;
    data::setInteraction(&interaction);
    xb::resetRuntime();
    ASSERT_TRUE(data::startSession("CAJA1"));

    tk::test::Driver driver;
    driver.watchdog(30000);
    driver.whenOpen(QStringLiteral("SelecEmpr"),
                    [](tk::test::Handle& h) { h.key(101, Qt::Key_Return); });
    driver.answer({1});  // "   &Si   " to the exit question
    std::string types, title;
    bool barButtonsTakeNoFocus = true;
    int checks = 0;
    std::function<void()> check = [&] {
        app::MainWindow* w = app::mainWindow();
        if (w == nullptr || QApplication::activeModalWidget() != nullptr || ++checks < 3) {
            QTimer::singleShot(100, check);
            return;
        }
        // What a menu action would evaluate.
        types = xb::evalText("VALTYPE(OWIN) + VALTYPE(OBARWIN) + VALTYPE(OBRUSHDLG)").asString();
        title = xb::evalText("OWIN:cTitle").asString();
        for (QToolButton* b : w->buttonBar()->findChildren<QToolButton*>())
            if (!b->toolTip().isEmpty() && b->focusPolicy() != Qt::NoFocus)
                barButtonsTakeNoFocus = false;
        w->close();
    };
    QTimer::singleShot(100, check);
    const int status = app::INICIAL();

    EXPECT_EQ(status, 0);
    EXPECT_TRUE(driver.allRun()) << driver.failures().join('|').toStdString();
    EXPECT_EQ(types, "OOO");
    EXPECT_EQ(xb::cp1252ToUtf8(title), "Control de Gestión Area Comercial Valdrosa");
    EXPECT_TRUE(barButtonsTakeNoFocus);
    // After the session the objects are gone with the window.
    EXPECT_EQ(xb::evalText("VALTYPE(OWIN)").asString(), "U");
    QFile log(dir.path() + QStringLiteral("/Res.Log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_TRUE(log.readAll().contains("Recursos sin liberar: 0"));

    dbf::workspace().closeAll();
    data::setInteraction(nullptr);
    QDir::setCurrent(previous);
    qputenv("TMPDIR", oldTmp);
}

}  // namespace
