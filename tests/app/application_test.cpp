// Failures that reach the event loop from a slot: the loop goes on after
// each; one that no handler has seen (a library's exception, a break thrown
// past the handler) gets the handler's full report in the error log and its
// dialog, where the user goes on; a runtime error the handler has seen
// already is only recalled in a stop box with its one line.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>

#include "app/application.h"
#include "app/errorsys.h"
#include "data/interaction.h"
#include "data/session.h"
#include "dbf/table.h"
#include "dbf/workspace.h"
#include "toolkit/msgbox.h"
#include "toolkit/smalldialogs.h"
#include "toolkit/testdriver.h"
#include "xbase/codepage.h"
#include "xbase/error.h"
#include "xbase/runtime.h"

namespace {

using Handle = tk::test::Handle;

// The log's records as (ERROR, TEXTO) in UTF-8.
std::vector<std::pair<QString, QString>> logRecords() {
    std::vector<std::pair<QString, QString>> out;
    auto t = dbf::Table::open("Error/Error.Dbf", {true, true});
    for (uint32_t r = 1; r <= t->recCount(); ++r) {
        t->read(r);
        auto text = [&](const char* f) {
            return QString::fromStdString(xb::cp1252ToUtf8(t->value(t->fieldIndex(f)).asString()));
        };
        out.push_back({text("ERROR").trimmed(), text("TEXTO")});
    }
    return out;
}

TEST(EventLoopErrors, EscapedFailuresGetTheHandlersReportAndTheLoopGoesOn) {
    // This test needs the program's own application object; it runs alone in
    // its process when the suite starts with it, otherwise it builds on the
    // one already there only if it is ours.
    static int argc = 1;
    static char arg0[] = "test_app";
    static char* argv[] = {arg0, nullptr};
    if (QCoreApplication::instance() &&
        !dynamic_cast<app::Application*>(QCoreApplication::instance()))
        GTEST_SKIP() << "another application object exists in this process";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    if (!QCoreApplication::instance()) new app::Application(argc, argv);
    xb::resetRuntime();
    tk::ToolkitInteraction interaction;
    data::setInteraction(&interaction);
    ASSERT_TRUE(data::startSession("PRUEBA"));
    app::ERRORSYS();
    std::vector<int> exits;
    app::setProgramExit([&](int code) { exits.push_back(code); });

    auto driver = std::make_unique<tk::test::Driver>();
    driver->watchdog(20000);
    QStringList dialogs;
    auto skip = [&](Handle& h) {
        dialogs << h.window()->findChild<QLabel*>(QStringLiteral("nombre"))->text();
        // Nothing to retry: the failed action is gone already.
        for (auto* b : h.window()->findChildren<QPushButton*>())
            EXPECT_NE(b->text(), QStringLiteral("&Reintentar"));
        h.pressCaption(QStringLiteral("&Omitir"));
    };
    driver->whenOpen(QStringLiteral("ERRORDIALOG"), skip);
    driver->whenOpen(QStringLiteral("ERRORDIALOG"), skip);

    QPushButton plain, quiet, seen;
    plain.setObjectName(QStringLiteral("plain"));
    QObject::connect(&plain, &QPushButton::clicked,
                     [] { throw std::runtime_error("fallo del sistema"); });
    // A break thrown past the handler (raised while errors were quiet).
    QObject::connect(&quiet, &QPushButton::clicked, [] {
        xb::QuietErrors q;
        xb::raise(xb::makeError(xb::gen::NoFunc, 1001, xb::utf8ToCp1252("Función no definida"),
                                "BROWINPROSP"));
    });
    // A runtime error the installed handler has seen and let break.
    QObject::connect(&seen, &QPushButton::clicked, [] {
        xb::setErrorHandler([](xb::Error&) { return xb::HandlerAnswer{}; });
        struct Back {
            ~Back() { app::ERRORSYS(); }
        } back;
        xb::raise(xb::makeError(xb::gen::NoVar, 1003, "Variable no existe", "CX"));
    });
    // Each action runs from its own event, as clicks do in the program, once
    // the dialog of the one before has closed.
    int ticks = 0;
    std::vector<std::function<void()>> steps = {
        [&] { plain.click(); },
        [&] {
            ++ticks;
            quiet.click();
        },
        [&] {
            ++ticks;
            seen.click();
        },
        [&] {
            ++ticks;  // the loop still runs after every failure
            QCoreApplication::exit(0);
        },
    };
    // The program's main window stays open behind the dialogs; here the
    // error dialog is the only window, and closing it must not end the loop.
    QApplication::setQuitOnLastWindowClosed(false);
    size_t next = 0;
    QTimer pump;
    QObject::connect(&pump, &QTimer::timeout, [&] {
        if (QApplication::activeModalWidget() || next >= steps.size()) return;
        steps[next++]();
    });
    pump.start(50);
    EXPECT_EQ(QCoreApplication::exec(), 0);
    QApplication::setQuitOnLastWindowClosed(true);
    EXPECT_EQ(ticks, 3);
    EXPECT_TRUE(exits.empty());
    EXPECT_TRUE(driver->failures().isEmpty())
        << driver->failures().join(QStringLiteral("; ")).toStdString();

    ASSERT_EQ(dialogs.size(), 2);
    EXPECT_TRUE(dialogs[0].contains(QStringLiteral("fallo del sistema")))
        << dialogs[0].toStdString();
    EXPECT_TRUE(dialogs[1].contains(QStringLiteral("Función no definida")))
        << dialogs[1].toStdString();
    // The handler's one-line reminder for the error it has seen.
    ASSERT_EQ(driver->boxes().size(), 1u) << driver->boxTexts().join('|').toStdString();
    EXPECT_EQ(driver->boxes()[0].title, QStringLiteral("Error"));
    EXPECT_TRUE(driver->boxes()[0].text.contains(QStringLiteral("Variable no existe")));

    // The log holds the full report of the two the handler had not seen.
    const auto log = logRecords();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_TRUE(log[0].first.contains(QStringLiteral("fallo del sistema")))
        << log[0].first.toStdString();
    EXPECT_TRUE(log[0].second.contains(QStringLiteral("Nombre del error:")));
    // The object whose event failed: here the timer that ran the click.
    EXPECT_TRUE(log[0].second.contains(QStringLiteral("QTimer"))) << log[0].second.toStdString();
    EXPECT_TRUE(log[0].second.contains(QStringLiteral("Sistema")));
    EXPECT_TRUE(log[1].first.contains(QStringLiteral("BASE/1001"))) << log[1].first.toStdString();

    driver.reset();
    app::setProgramExit({});
    dbf::workspace().closeAll();
    app::closeErrorLog();
    data::setInteraction(nullptr);
    QDir::setCurrent(previous);
}

}  // namespace
