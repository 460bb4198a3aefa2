// A session of the data layer over a real installation built by vdrtool in a
// scratch folder, with a scripted interaction.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "data/helpers.h"
#include "data/interaction.h"
#include "data/session.h"
#include "dbf/order.h"
#include "dbf/workspace.h"
#include "tmpdir.h"
#include "xbase/compiler.h"
#include "xbase/runtime.h"

namespace datatest {

inline std::string vdrtool() {
    return VDR_BINARY_DIR "/bin/vdrtool";
}

// Builds the default installation in the current folder.
inline void installHere() {
    std::string cmd =
        vdrtool() + " install . --fuentes " VDR_SOURCE_DIR "/install > install.log 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << readFile("install.log");
}

class Session : public ::testing::Test {
  protected:
    TempDir dir;
    data::ScriptedInteraction ui;
    data::ScopedInteraction scoped{ui};

    void SetUp() override {
        dbf::workspace().closeAll();
        xb::resetRuntime();
        data::resetHelperState();
        data::setOpenRetryPause(50);
        data::applySessionSettings();
        data::registerDataFunctions();
        data::createSessionVariables("PRUEBA");
        // Failures break at once, so that a test sees them.
        xb::setErrorHandler([](xb::Error&) { return xb::HandlerAnswer{}; });
    }
    void TearDown() override {
        dbf::workspace().closeAll();
        data::setOpenRetryPause(1000);
    }
    void company(const std::string& camino = "EMP00001\\") {
        xb::assignVar("G_CAMINO", xb::Value::str(camino));
        xb::evalText("NOMBBASES()");
    }
    static std::string var(const char* name) { return xb::getVar(name).asString(); }
};

}  // namespace datatest
