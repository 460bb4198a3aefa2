// A scratch session with every function of the program registered and the
// message boxes recorded instead of shown, for the tests that run scripts
// against the program's classes (charts, the spreadsheet) without driving
// their windows.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QStringList>
#include <QWidget>
#include <string>
#include <vector>

#include "app/functions.h"
#include "application.h"
#include "scratch_session.h"
#include "toolkit/msgbox.h"
#include "xbase/compiler.h"
#include "xbase/runtime.h"

namespace testsupport {

inline QApplication& programApplication() {
    return application();
}

class ProgramSession : public ScratchSession {
  protected:
    void SetUp() override {
        programApplication();
        startScratchSession();
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
        ScratchSession::TearDown();
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

    QStringList boxes;
};

}  // namespace testsupport
