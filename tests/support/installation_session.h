// A test in a real installation (assembled as the set-up command does, in
// the scratch directory of scratch_session.h) with the installation's
// resource library loaded and the data layer's messages going to the
// interaction the fixture gives. The start directory of the process is put
// back at the end; the fixture starts the session of its workstation itself.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include "application.h"
#include "data/interaction.h"
#include "scratch_session.h"
#include "subprocess.h"
#include "toolkit/resources.h"

namespace testsupport {

class InstallationSession : public ScratchSession {
  protected:
    enum class Assembly {
        Fresh,  // assembled for the test
        Copy,   // a copy of one assembled once for the test program
    };

    static void SetUpTestSuite() { application(); }
    // Assembles the installation, moves into it and loads its library.
    void enterInstallation(data::Interaction& with, Assembly assembly = Assembly::Fresh) {
        ASSERT_TRUE(dir.isValid());
        if (assembly == Assembly::Fresh) {
            ASSERT_TRUE(assembleInstallation(dir.path()));
        } else {
            QProcess cp;
            cp.start(QStringLiteral("cp"),
                     {QStringLiteral("-a"), assembledOnce() + QStringLiteral("/."), dir.path()});
            ASSERT_TRUE(cp.waitForFinished(60000) && cp.exitCode() == 0);
        }
        previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        data::setInteraction(&with);
        ASSERT_TRUE(tk::ResourceLibrary::load(dir.filePath(QStringLiteral("ZariReva.rcc"))));
    }

  private:
    static QString assembledOnce() {
        static QTemporaryDir base;
        static const bool done = assembleInstallation(base.path());
        EXPECT_TRUE(done) << "installation not assembled";
        return base.path();
    }
};

}  // namespace testsupport
