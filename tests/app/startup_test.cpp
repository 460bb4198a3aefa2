// The first start of the program: the workstation argument, the folders it
// creates and the one-copy-per-desktop rule, checked on the real executable.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include "app/workstation.h"
#include "subprocess.h"

namespace {

struct ProgramRun {
    int exitCode = -1;
    bool finished = false;
    QStringList boxes;  // "title|text" of every message box shown
};

QStringList readLog(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Starts vdrcontv in `dir` with `args` and waits for it to end by itself.
ProgramRun runProgram(const QString& dir, const QStringList& args) {
    QProcess p;
    const QString log =
        dir + QStringLiteral("/../msg-") + QString::number(qHash(args.join('|'))) + ".log";
    QFile::remove(log);
    p.setProcessEnvironment(testsupport::programEnvironment(log));
    p.setWorkingDirectory(dir);
    p.start(testsupport::binary("vdrcontv"), args);
    ProgramRun r;
    r.finished = p.waitForFinished(20000);
    if (!r.finished) {
        p.kill();
        p.waitForFinished();
    }
    r.exitCode = p.exitCode();
    r.boxes = readLog(log);
    return r;
}

QStringList entries(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

class StartTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        start = tmp.path() + QStringLiteral("/inst");
        ASSERT_TRUE(QDir().mkpath(start));
    }
    QTemporaryDir tmp;
    QString start;
};

TEST_F(StartTest, WithoutArgumentShowsStopBoxAndCreatesNothing) {
    ProgramRun r = runProgram(start, {});
    ASSERT_TRUE(r.finished);
    EXPECT_NE(r.exitCode, 0);
    ASSERT_EQ(r.boxes.size(), 1);
    EXPECT_EQ(r.boxes[0],
              QStringLiteral("Atención.....|Por favor identifique el equipo en ejecución."));
    EXPECT_TRUE(entries(start).isEmpty());
}

TEST_F(StartTest, UnsafeNamesAreRefusedWithReasonAndCreateNothing) {
    const QStringList bad = {
        QStringLiteral("../X"), QStringLiteral("A/B"), QStringLiteral("ABCDEFGHIJKLM"),
        QStringLiteral(".."),   QStringLiteral("."),   QStringLiteral("A\\B"),
        QStringLiteral("A\tB")};
    for (const QString& name : bad) {
        ProgramRun r = runProgram(start, {name});
        ASSERT_TRUE(r.finished) << name.toStdString();
        EXPECT_NE(r.exitCode, 0) << name.toStdString();
        ASSERT_EQ(r.boxes.size(), 1) << name.toStdString();
        EXPECT_TRUE(r.boxes[0].startsWith(QStringLiteral("Atención.....|")))
            << r.boxes[0].toStdString();
        EXPECT_TRUE(r.boxes[0].contains(QStringLiteral("12 caracteres")))
            << r.boxes[0].toStdString();
        EXPECT_TRUE(entries(start).isEmpty()) << name.toStdString();
        EXPECT_TRUE(
            entries(tmp.path() + QStringLiteral("/inst/..")).contains(QStringLiteral("inst")));
        EXPECT_FALSE(QDir(tmp.path() + QStringLiteral("/X")).exists());
    }
}

TEST(WorkstationName, RuleAndUpperCaseForm) {
    EXPECT_FALSE(app::workstationProblem(QStringLiteral("caja1")).has_value());
    EXPECT_FALSE(
        app::workstationProblem(QStringLiteral("ABCDEFGHIJKL")).has_value());  // 12 is fine
    EXPECT_FALSE(app::workstationProblem(QStringLiteral("Almacén")).has_value());
    EXPECT_TRUE(app::workstationProblem(QStringLiteral("ABCDEFGHIJKLM")).has_value());
    EXPECT_TRUE(app::workstationProblem(QStringLiteral("A\x7f")).has_value());
    EXPECT_TRUE(app::workstationProblem(QStringLiteral("日本")).has_value());
    EXPECT_EQ(app::userTermin(QStringLiteral("caja1")), QStringLiteral("CAJA1\\"));
    EXPECT_EQ(app::userTermin(QStringLiteral("almacén")), QStringLiteral("ALMACÉN\\"));
}

// A good name starts the program, which creates the workstation's folder and
// keeps running in its main window; a second copy meanwhile ends at once
// without showing anything; a copy that was killed does not block the next.
TEST_F(StartTest, GoodNameRunsAndSecondCopyDefersToFirst) {
    ASSERT_TRUE(testsupport::assembleInstallation(start));
    const QString log = tmp.path() + QStringLiteral("/first.log");
    QProcess first;
    QProcessEnvironment env = testsupport::programEnvironment(log);
    // A private runtime folder, so that this test's copies never meet a copy
    // started by somebody else on the same machine.
    QDir().mkpath(tmp.path() + QStringLiteral("/run"));
    QFile::setPermissions(tmp.path() + QStringLiteral("/run"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    env.insert(QStringLiteral("TMPDIR"), tmp.path() + QStringLiteral("/run"));
    first.setProcessEnvironment(env);
    first.setWorkingDirectory(start);
    first.start(testsupport::binary("vdrcontv"), {QStringLiteral("caja1")});
    ASSERT_TRUE(first.waitForStarted());

    const QString folder = start + QStringLiteral("/Terminales/CAJA1");
    QElapsedTimer t;
    t.start();
    while (!QDir(folder).exists() && t.elapsed() < 15000) QThread::msleep(50);
    ASSERT_TRUE(QDir(folder).exists());
    QThread::msleep(500);  // the first copy is listening by now
    EXPECT_EQ(first.state(), QProcess::Running);

    QProcess second;
    const QString log2 = tmp.path() + QStringLiteral("/second.log");
    QProcessEnvironment env2 = env;
    env2.insert(QStringLiteral("VDR_MSGLOG"), log2);
    second.setProcessEnvironment(env2);
    second.setWorkingDirectory(start);
    second.start(testsupport::binary("vdrcontv"), {QStringLiteral("caja1")});
    ASSERT_TRUE(second.waitForFinished(15000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(readLog(log2).isEmpty());
    EXPECT_EQ(first.state(), QProcess::Running);

    // A crashed first copy leaves its socket behind; the next start takes over.
    first.kill();
    first.waitForFinished();
    QProcess third;
    third.setProcessEnvironment(env);
    third.setWorkingDirectory(start);
    third.start(testsupport::binary("vdrcontv"), {QStringLiteral("caja1")});
    ASSERT_TRUE(third.waitForStarted());
    EXPECT_FALSE(third.waitForFinished(2000));
    EXPECT_EQ(third.state(), QProcess::Running);
    third.kill();
    third.waitForFinished();
    EXPECT_TRUE(readLog(log).isEmpty()) << readLog(log).join('\n').toStdString();
}

// A copy started under another file name finds no socket of its own name,
// but the window title is taken: it says so and ends.
TEST_F(StartTest, CopyUnderAnotherNameIsCaughtByTheTitle) {
    ASSERT_TRUE(testsupport::assembleInstallation(start));
    const QString other = tmp.path() + QStringLiteral("/otro-programa");
    ASSERT_TRUE(QFile::copy(testsupport::binary("vdrcontv"), other));
    QDir().mkpath(tmp.path() + QStringLiteral("/run"));
    QProcessEnvironment env =
        testsupport::programEnvironment(tmp.path() + QStringLiteral("/first.log"));
    env.insert(QStringLiteral("TMPDIR"), tmp.path() + QStringLiteral("/run"));

    QProcess first;
    first.setProcessEnvironment(env);
    first.setWorkingDirectory(start);
    first.start(testsupport::binary("vdrcontv"), {QStringLiteral("caja1")});
    ASSERT_TRUE(first.waitForStarted());
    QThread::msleep(2500);  // until its window exists
    ASSERT_EQ(first.state(), QProcess::Running);

    QProcess copy;
    QProcessEnvironment env2 = env;
    const QString log2 = tmp.path() + QStringLiteral("/copy.log");
    env2.insert(QStringLiteral("VDR_MSGLOG"), log2);
    copy.setProcessEnvironment(env2);
    copy.setWorkingDirectory(start);
    copy.start(other, {QStringLiteral("caja2")});
    EXPECT_TRUE(copy.waitForFinished(20000));
    EXPECT_EQ(readLog(log2),
              QStringList{QStringLiteral("Atención.....|La aplicación ya está abierta.")});
    EXPECT_EQ(first.state(), QProcess::Running);
    first.kill();
    first.waitForFinished();
}

}  // namespace
