// A session with the program's functions, an empty start directory and a
// recorded interaction, for the chart and spreadsheet tests.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QWidget>

#include "app/functions.h"
#include "data/interaction.h"
#include "data/session.h"
#include "dbf/workspace.h"
#include "toolkit/msgbox.h"
#include "xbase/compiler.h"
#include "xbase/runtime.h"

namespace charttest {

inline QApplication& app() {
    static int argc = 1;
    static char arg0[] = "test_charts";
    static char* argv[] = {arg0, nullptr};
    if (!QApplication::instance()) new QApplication(argc, argv);
    return *qApp;
}

class SessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        app();
        ASSERT_TRUE(dir.isValid());
        previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        xb::resetRuntime();
        data::setInteraction(&scripted);
        ASSERT_TRUE(data::startSession("PRUEBA"));
        app::registerProgramFunctions();
        tk::setMsgBoxObserver([this](const tk::BoxShown& b) {
            boxes << b.title + QLatin1Char('|') + b.text;
            return 1;
        });
    }
    void TearDown() override {
        for (QWidget* w : QApplication::topLevelWidgets()) w->close();
        QApplication::processEvents();
        tk::setMsgBoxObserver({});
        dbf::workspace().closeAll();
        data::setInteraction(nullptr);
        QDir::setCurrent(previous);
    }
    static xb::Value ev(const std::string& text) { return xb::evalText(text); }
    static double evn(const std::string& text) { return xb::evalText(text).asNumber(); }

    // A table of the given structure and rows, left open under `alias`.
    static void makeTable(const std::string& file, const std::string& alias,
                          const std::string& structure, const std::vector<std::string>& rows) {
        ev("DBCREATE('" + file + "', " + structure + ")");
        ev("DBUSEAREA(.T., NIL, '" + file + "', '" + alias + "')");
        for (const auto& r : rows) ev("DBAPPEND(), " + r);
        ev("DBCOMMIT(), DBGOTOP()");
    }

    QTemporaryDir dir;
    QString previous;
    data::ScriptedInteraction scripted;
    QStringList boxes;
};

}  // namespace charttest
