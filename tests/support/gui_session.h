// What the tests of the program's windows share: the application object with
// the resource library loaded, the scratch session of scratch_session.h
// (optionally in a whole installation assembled as the set-up command does)
// with the toolkit's dialogs for messages, and the test driver with its
// watchdog. A test fixture derives from GuiSession and calls startSession()
// from its SetUp().
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <memory>

#include "application.h"
#include "data/interaction.h"
#include "data/session.h"
#include "dbf/workspace.h"
#include "print/document.h"
#include "scratch_session.h"
#include "subprocess.h"
#include "toolkit/resources.h"
#include "toolkit/smalldialogs.h"
#include "toolkit/testdriver.h"
#include "xbase/runtime.h"

namespace testsupport {

// The process's application object (a plain QApplication unless the test
// made another first) and the resource library of the build.
inline void ensureApplication() {
    application();
    if (!tk::ResourceLibrary::isLoaded())
        tk::ResourceLibrary::load(QStringLiteral(VDR_BINARY_DIR "/resources/ZariReva.rcc"));
}

// Acts on the next visible line editor with the object name `name` as soon
// as it appears (the grid's in-cell editor runs a loop of its own).
inline void whenEditor(const QString& name, std::function<void(QLineEdit*)> act) {
    auto* timer = new QTimer;
    auto done = std::make_shared<bool>(false);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, name, act, done] {
        if (*done) return;
        for (QWidget* top : QApplication::topLevelWidgets())
            for (QLineEdit* e : top->findChildren<QLineEdit*>(name))
                if (e->isVisible() && !e->property("handled").toBool()) {
                    e->setProperty("handled", true);
                    *done = true;
                    timer->stop();
                    timer->deleteLater();
                    act(e);
                    return;
                }
    });
    timer->start(20);
}

class GuiSession : public ScratchSession {
  protected:
    enum class Start { Empty, Installation };

    // Moves into a fresh scratch directory (an assembled installation when
    // asked), starts a session of `workstation` with the toolkit's dialogs
    // (or the interaction `with`, a scripted one say), and arms the test
    // driver.
    void startSession(Start start = Start::Empty, data::Interaction* with = nullptr,
                      const char* workstation = "PRUEBA") {
        ensureApplication();
        ASSERT_TRUE(tk::ResourceLibrary::isLoaded());
        ASSERT_TRUE(dir.isValid());
        if (start == Start::Installation) {
            ASSERT_TRUE(assembleInstallation(dir.path()));
        }
        startScratchSession(with ? with : &interaction, workstation);
        driver = std::make_unique<tk::test::Driver>();
        driver->watchdog(20000);
    }
    void TearDown() override {
        if (driver) {
            EXPECT_TRUE(driver->failures().isEmpty())
                << driver->failures().join(QStringLiteral("; ")).toStdString();
        }
        driver.reset();
        print::setUnattendedPdf({});
        ScratchSession::TearDown();
    }

    tk::ToolkitInteraction interaction;
    std::unique_ptr<tk::test::Driver> driver;
};

}  // namespace testsupport
