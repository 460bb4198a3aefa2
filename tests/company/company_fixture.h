// A real installation in a temporary start directory, with the session of a
// workstation started and the toolkit's dialogs in use, for the company tests.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <string>

#include "application.h"
#include "company/selection.h"
#include "company/upkeep.h"
#include "data/interaction.h"
#include "data/session.h"
#include "dbf/order.h"
#include "dbf/workspace.h"
#include "subprocess.h"
#include "toolkit/resources.h"
#include "toolkit/smalldialogs.h"
#include "xbase/runtime.h"

class CompanyFixture : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { testsupport::application(); }
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(testsupport::assembleInstallation(dir.path()));
        previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        data::setInteraction(&interaction);
        ASSERT_TRUE(tk::ResourceLibrary::load(dir.filePath(QStringLiteral("ZariReva.rcc"))));
    }
    void TearDown() override {
        dbf::workspace().closeAll();
        data::setInteraction(nullptr);
        QDir::setCurrent(previous);
    }
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

    QTemporaryDir dir;
    QString previous;
    tk::ToolkitInteraction interaction;
};
