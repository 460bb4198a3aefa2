// A real installation in a temporary start directory, with the session of a
// workstation started and the toolkit's dialogs in use, for the company tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "company/selection.h"
#include "company/upkeep.h"
#include "data/session.h"
#include "dbf/order.h"
#include "dbf/workspace.h"
#include "installation_session.h"
#include "toolkit/smalldialogs.h"
#include "xbase/runtime.h"

class CompanyFixture : public testsupport::InstallationSession {
  protected:
    void SetUp() override { enterInstallation(interaction); }
    // A fresh session of the language for `workstation`, as the program starts one.
    void startAs(const char* workstation) {
        dbf::workspace().closeAll();
        xb::resetRuntime();
        ASSERT_TRUE(data::startSession(workstation));
        company::registerCompanyFunctions();
        company::registerUpkeepFunctions();
    }
    static void addCompany(const std::string& code, const std::string& camino, const char* name) {
        dbf::Workspace& ws = dbf::workspace();
        const int a = ws.open("ContEmpr.Ini", "ADD", dbf::OpenOptions{});
        dbf::orders(*ws.area(a)).addBag("ContEmx1.cdx");
        dbf::WorkArea& wa = *ws.area(a);
        wa.append();
        wa.put(ws.fieldIndex(a, "CODEMPR"), xb::Value::str(code));
        wa.put(ws.fieldIndex(a, "CAMINO"), xb::Value::str(camino));
        wa.put(ws.fieldIndex(a, "EMPRESA"), xb::Value::str(name));
        wa.put(ws.fieldIndex(a, "NIT"), xb::Value::str("900123"));
        wa.unlock();
        ws.close(a);
    }

    tk::ToolkitInteraction interaction;
};
