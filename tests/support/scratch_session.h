// A started session of a workstation in a scratch start directory of its
// own, the way most tests of the program begin: the runtime reset, the
// messages answered by a scripted interaction (or one the test gives), the
// script folder made. The start directory of the process is put back at the
// end. No window is involved (see gui_session.h for the tests of windows).
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include "data/interaction.h"
#include "data/session.h"
#include "dbf/workspace.h"
#include "xbase/runtime.h"

namespace testsupport {

class ScratchSession : public ::testing::Test {
  protected:
    // Moves into the scratch directory and starts the session of
    // `workstation`, its messages going to `with` (the scripted one when
    // none is given).
    void startScratchSession(data::Interaction* with = nullptr,
                             const char* workstation = "PRUEBA") {
        ASSERT_TRUE(dir.isValid());
        previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        xb::resetRuntime();
        data::setInteraction(with ? with : &scripted);
        ASSERT_TRUE(data::startSession(workstation));
        data::HACEPRUEBA();
    }
    void TearDown() override {
        dbf::workspace().closeAll();
        data::setInteraction(nullptr);
        if (!previous.isEmpty()) QDir::setCurrent(previous);
    }

    QTemporaryDir dir;
    QString previous;
    data::ScriptedInteraction scripted;
};

}  // namespace testsupport
