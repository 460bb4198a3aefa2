// Runs a real program of the build in a folder of its own, with the
// environment a test chooses, and reads what it printed.
#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <functional>

namespace testsupport {

inline QString binary(const char* name) {
    return QStringLiteral(VDR_BINARY_DIR "/bin/") + QString::fromLatin1(name);
}

// What a program run to its end printed, and its exit code (-1 when it did
// not end by itself in time, or crashed).
struct ToolRun {
    int code = -1;
    QString out, err;
};

// Runs `program` in `dir` (the current folder when empty) to its end.
// `inChild` runs in the child before the program starts (limits, say).
inline ToolRun runProgram(const QString& program, const QStringList& args, const QString& dir = {},
                          const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
                          const std::function<void()>& inChild = {}) {
    QProcess p;
    if (!dir.isEmpty()) p.setWorkingDirectory(dir);
    p.setProcessEnvironment(env);
    if (inChild) p.setChildProcessModifier(inChild);
    p.start(program, args);
    ToolRun r;
    if (!p.waitForFinished(600000)) {
        p.kill();
        p.waitForFinished();
    } else if (p.exitStatus() == QProcess::NormalExit) {
        r.code = p.exitCode();
    }
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// The build's vdrtool, run as runProgram runs a program.
inline ToolRun runTool(const QStringList& args, const QString& dir = {},
                       const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
                       const std::function<void()>& inChild = {}) {
    return runProgram(QStringLiteral(VDR_BINARY_DIR "/bin/vdrtool"), args, dir, env, inChild);
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
