// Runs a real program of the build in a folder of its own, with the
// environment a test chooses, and reads what it printed.
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace testsupport {

inline QString binary(const char* name) {
    return QStringLiteral(VDR_BINARY_DIR "/bin/") + QString::fromLatin1(name);
}

// Environment for a program under test: offscreen platform, message boxes
// logged to `msgLog` and answered from `answers` (past them a box with one
// button is accepted and any other closed: nobody is there to press them).
inline QProcessEnvironment programEnvironment(const QString& msgLog, const QString& answers = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("VDR_MSGLOG"), msgLog);
    env.insert(QStringLiteral("VDR_MSGANSWERS"), answers);
    return env;
}

// Assembles an installation in `dir` as the set-up command does (program
// files, templates, catalogues, the test company); true on success.
inline bool assembleInstallation(const QString& dir) {
    QProcess p;
    p.start(QStringLiteral("bash"), {QStringLiteral(VDR_SOURCE_DIR "/scripts/assemble.sh"),
                                     QStringLiteral(VDR_BINARY_DIR), dir});
    return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

}  // namespace testsupport
