// A real installation with the test company, the session of a workstation
// and the toolkit's dialogs, for the search kit and the file browsers. The
// installation is assembled once per test program and copied for each test.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QWidget>
#include <string>

#include "application.h"
#include "data/helpers.h"
#include "data/interaction.h"
#include "data/session.h"
#include "dbf/order.h"
#include "dbf/workspace.h"
#include "installation_session.h"
#include "subprocess.h"
#include "toolkit/resources.h"
#include "toolkit/smalldialogs.h"
#include "toolkit/testdriver.h"
#include "ui/search.h"
#include "xbase/codepage.h"
#include "xbase/compiler.h"
#include "xbase/runtime.h"

namespace searchtest {

// Starts the session of `workstation` in the current folder on the test company.
inline void startSession(const char* workstation) {
    dbf::workspace().closeAll();
    xb::resetRuntime();
    data::resetHelperState();
    data::setOpenRetryPause(20);
    ASSERT_TRUE(data::startSession(workstation));
    xb::assignVar("G_CAMINO", xb::Value::str("EMP00001\\"));
    data::NOMBBASES();
    ui::registerSearchFunctions();
    // Failures break at once, so that a test sees them.
    xb::setErrorHandler([](xb::Error&) { return xb::HandlerAnswer{}; });
}

class Fixture : public testsupport::InstallationSession {
  protected:
    void SetUp() override {
        enterInstallation(scripted, Assembly::Copy);
        startSession("PRUEBA");
    }
    // Opens a company table under its alias as the browsers do.
    dbf::WorkArea& open(const char* alias, const char* tableVar, const char* bagVar) {
        EXPECT_TRUE(data::ABRIR(alias, xb::getVar(tableVar).asString(), "S",
                                {xb::getVar(bagVar).asString()}));
        return *dbf::workspace().area(std::string_view(xb::upper1252(alias)));
    }
    static void add(dbf::WorkArea& wa, std::initializer_list<std::pair<const char*, xb::Value>> v) {
        wa.append();
        for (const auto& [name, value] : v) wa.put(wa.table().fieldIndex(name), value);
        wa.unlock(0);
    }
    static std::string text(dbf::WorkArea& wa, const char* field) {
        return wa.get(wa.table().fieldIndex(field)).asString();
    }
    // What the alerts of the data layer showed, in order.
    std::vector<std::string> alerts() const {
        std::vector<std::string> out;
        for (const auto& s : scripted.of(data::ScriptedInteraction::Kind::Alert))
            out.push_back(s.message);
        return out;
    }
};

}  // namespace searchtest
