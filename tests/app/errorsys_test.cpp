// The program's error handler: the silent cases (one of them against a
// second process holding a table), the message prefixes, retry and skip
// with the tables still open, the log read back by an independent DBF
// reader, its viewer, the printed report as PDF text, and the ways the
// program ends (real processes: exit code 1, also from inside the handler).
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include "app/errorsys.h"
#include "app/script.h"
#include "application.h"
#include "data/interaction.h"
#include "data/session.h"
#include "dbf/order.h"
#include "dbf/table.h"
#include "dbf/workspace.h"
#include "gui_session.h"
#include "pdf_text.h"
#include "print/document.h"
#include "toolkit/smalldialogs.h"
#include "toolkit/testdriver.h"
#include "xbase/compiler.h"
#include "xbase/runtime.h"

namespace {

const QString kDialog = QStringLiteral("LISTA DE ERRORES PRODUCIDOS POR EL PROGAMA");
using Handle = tk::test::Handle;

using testsupport::runProgram;

// The log as an independent reader sees it: one line per record,
// "FECHA|HORA|ERROR|first line of TEXTO".
QStringList readLog(const QString& dir) {
    const QString script = QStringLiteral(
        "import sys, dbfread\n"
        "t = dbfread.DBF(sys.argv[1], encoding='cp1252', ignore_missing_memofile=False)\n"
        "for r in t:\n"
        "    print('%s|%s|%s|%s' % (r['FECHA'], r['HORA'], r['ERROR'].rstrip(),"
        " (r['TEXTO'] or '').split('\\r\\n')[0]))\n");
    return runProgram(QStringLiteral("/usr/bin/python3"),
                      {QStringLiteral("-c"), script, dir + QStringLiteral("/Error/Error.Dbf")})
        .out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

xb::Error failure(const char* description, bool retry, bool substitute) {
    xb::Error e = xb::makeError(xb::gen::Read, 1023, description, "LEER");
    e.filename = "CLIENTES.DBF";
    e.canRetry = retry;
    e.canSubstitute = substitute;
    return e;
}

class ErrorSysTest : public testsupport::GuiSession {
  protected:
    void SetUp() override {
        startSession();
        app::registerErrorFunctions();
        app::ERRORSYS();
        // Inside this process an end of the program is only recorded.
        app::setProgramExit([this](int code) { exitCodes.push_back(code); });
    }
    void TearDown() override {
        app::setProgramExit({});
        xb::setErrorHandler({});
        GuiSession::TearDown();
    }
    // Runs `work` inside a running event loop, as the program's actions run.
    void inEventLoop(const std::function<void()>& work) {
        QEventLoop loop;
        QTimer::singleShot(0, &loop, [&] {
            work();
            loop.quit();
        });
        loop.exec();
    }
    int table(const char* name) {
        const std::string path = dir.filePath(QString::fromLatin1(name)).toStdString() + ".dbf";
        dbf::Table::create(path, {{"CODIGO", 'C', 6, 0}, {"NOMBRE", 'C', 20, 0}});
        return dbf::workspace().open(path, name, dbf::OpenOptions{true, false});
    }

    std::vector<int> exitCodes;
};

TEST_F(ErrorSysTest, MessagePrefixesFollowOsCodeAndSeverity) {
    xb::Error e = xb::makeError(xb::gen::NoVar, 1003, "Variable no existe", "CX");
    e.severity = 2;
    EXPECT_EQ(app::ERRORMESSAGE(e), "Error BASE/1003  Variable no existe: CX");
    e.severity = 1;
    EXPECT_EQ(app::ERRORMESSAGE(e), "Atenci\xF3n BASE/1003  Variable no existe: CX");
    e.osCode = 2;
    e.filename = "NOEXISTE.DBF";
    EXPECT_EQ(app::ERRORMESSAGE(e), "(DOS Error 2) BASE/1003  Variable no existe: NOEXISTE.DBF");
    e.subsystem.clear();
    e.description.clear();
    e.filename.clear();
    e.operation.clear();
    EXPECT_EQ(app::ERRORMESSAGE(e), "(DOS Error 2) ?\?\?/1003");
    // Scripts build the condition by its fields.
    xb::assignVar("OERR", xb::evalText("ERRORNEW()"));
    xb::evalText(
        "OERR:SubSystem := 'DBFCDX', OERR:SubCode := 1021, OERR:OsCode := 32, "
        "OERR:Description := 'Error de apertura', OERR:FileName := 'CLIENTES.DBF'");
    EXPECT_EQ(xb::evalText("ERRORMESSAGE(OERR)").asString(),
              "(DOS Error 32) DBFCDX/1021  Error de apertura: CLIENTES.DBF");
    // Division by zero through ERRORDIALOG by name: 0, silently.
    xb::evalText("OERR:GenCode := 5");
    EXPECT_EQ(xb::evalText("ERRORDIALOG(OERR)").asNumber(), 0);
    EXPECT_EQ(app::CGETINFO(xb::Value::str("abc")), "\"abc\"");
    xb::Value arr = xb::Value::newArray(3);
    EXPECT_EQ(app::CGETINFO(arr), "Len:    3");
    EXPECT_EQ(app::CGETINFO(xb::Value::logical(true)), ".T.");
}

TEST_F(ErrorSysTest, SilentCasesShowNothingAndLogNothing) {
    // Division by zero yields 0.
    EXPECT_EQ(xb::evalText("10 / 0").asNumber(), 0);
    EXPECT_EQ(xb::evalText("7 % 0").asNumber(), 0);
    // A refused append lock sets the network-error flag and yields false.
    xb::Error append = xb::makeError(xb::gen::AppendLock, 1040, "Bloqueo de alta", "DBAPPEND");
    append.canSubstitute = true;
    dbf::workspace().setNetErr(false);
    EXPECT_FALSE(xb::raise(append).value.asLogical());
    EXPECT_TRUE(dbf::workspace().netErr());
    // An access denied on open, the same.
    xb::Error denied = xb::makeError(xb::gen::Open, 1021, "Acceso denegado", "DBUSEAREA");
    denied.osCode = 5;
    denied.canSubstitute = true;
    dbf::workspace().setNetErr(false);
    EXPECT_FALSE(xb::raise(denied).retry);
    EXPECT_TRUE(dbf::workspace().netErr());
    EXPECT_TRUE(driver->boxes().empty());
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("Error/Error.Dbf"))));
    EXPECT_TRUE(exitCodes.empty());
}

// Held by a second process: opens the table exclusively and waits.
TEST(ErrorSysChild, DISABLED_HoldTableExclusively) {
    const QByteArray path = qgetenv("VDR_ERRSYS_HOLD");
    ASSERT_FALSE(path.isEmpty()) << "started only by SharingViolationOnOpen";
    dbf::Workspace ws;
    ws.open(path.toStdString(), "HELD", dbf::OpenOptions{false, false});
    std::printf("ready\n");
    std::fflush(stdout);
    char buf[8];
    (void)!std::fread(buf, 1, 1, stdin);  // until the parent closes our input
}

TEST_F(ErrorSysTest, SharingViolationOnOpenIsSilentAndSetsNetErr) {
    const QString file = dir.filePath(QStringLiteral("COMUN.dbf"));
    dbf::Table::create(file.toStdString(), {{"CODIGO", 'C', 6, 0}});
    QProcess holder;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VDR_ERRSYS_HOLD"), file);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    holder.setProcessEnvironment(env);
    holder.start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--gtest_also_run_disabled_tests"),
                  QStringLiteral("--gtest_filter=ErrorSysChild.DISABLED_HoldTableExclusively")});
    QByteArray said;
    while (!said.contains("ready\n") && holder.waitForReadyRead(30000))
        said += holder.readAllStandardOutput();
    ASSERT_TRUE(said.contains("ready\n")) << said.toStdString();
    xb::assignVar("CFILE", xb::Value::str(file.toStdString()));

    const xb::Value opened = xb::evalText("DBUSEAREA(.T., NIL, CFILE, 'COMUN', .T.)");
    EXPECT_FALSE(opened.asLogical());
    EXPECT_TRUE(xb::evalText("NETERR()").asLogical());
    EXPECT_TRUE(driver->boxes().empty());
    holder.closeWriteChannel();
    holder.waitForFinished(10000);
}

TEST_F(ErrorSysTest, RetryGoesOnWithTablesOpenAndSucceedsTheSecondTime) {
    const int area = table("CLIENTES");
    driver->whenOpen(kDialog, [](Handle& h) {
        EXPECT_TRUE(h.window()->findChild<QListWidget*>(QStringLiteral("llamadas"))->count() > 0);
        h.pressCaption(QStringLiteral("&Reintentar"));
    });
    int attempts = 0;
    inEventLoop([&] {
        xb::Procedure outer("GRABAR_CLIENTE", 120);
        for (;;) {
            ++attempts;
            if (attempts >= 2) break;
            xb::Error e = failure("Lectura fallida", true, false);
            if (!xb::raise(e).retry) break;
        }
    });
    EXPECT_EQ(attempts, 2);
    EXPECT_TRUE(exitCodes.empty());
    // The tables stay open: the operation goes on where it failed.
    EXPECT_NE(dbf::workspace().area(area), nullptr);
    EXPECT_EQ(readLog(dir.path()).size(), 1);
}

TEST_F(ErrorSysTest, TwoErrorsInOneSecondAreBothLoggedWithTheirReports) {
    table("CLIENTES");
    dbf::orders(*dbf::workspace().area("CLIENTES"))
        .createTag(dir.filePath(QStringLiteral("CLIENTES.cdx")).toStdString(), "CODIGO", "CODIGO");
    QStringList chain;
    for (int i = 0; i < 2; ++i)
        driver->whenOpen(kDialog, [&chain](Handle& h) {
            auto* list = h.window()->findChild<QListWidget*>(QStringLiteral("llamadas"));
            for (int r = 0; r < list->count(); ++r) chain << list->item(r)->text();
            // Only the allowed choices are offered.
            bool retry = false;
            for (auto* b : h.window()->findChildren<QPushButton*>())
                retry = retry || b->text() == QStringLiteral("&Reintentar");
            EXPECT_FALSE(retry);
            h.pressCaption(QStringLiteral("&Omitir"));
        });
    inEventLoop([&] {
        xb::Procedure proc("INFORME_VENTAS", 42);
        proc.setParams({xb::Value::str("ENERO"), xb::Value::num(12, 10, 0)});
        proc.setLocals({xb::Value::newArray(2)});
        for (int i = 0; i < 2; ++i) {
            const xb::RaiseResult r = xb::raise(failure("Fallo de lectura", false, true));
            EXPECT_FALSE(r.retry);
            EXPECT_FALSE(r.value.asLogical());
        }
    });
    EXPECT_TRUE(exitCodes.empty());
    EXPECT_TRUE(chain.contains(QStringLiteral("Llamado por INFORME_VENTAS(42)")));
    const QStringList log = readLog(dir.path());
    ASSERT_EQ(log.size(), 2) << log.join('\n').toStdString();
    for (const QString& l : log) {
        const QStringList f = l.split(QLatin1Char('|'));
        ASSERT_EQ(f.size(), 4);
        EXPECT_EQ(f[1].size(), 8);
        EXPECT_TRUE(f[2].startsWith(QStringLiteral("Error BASE/1023  Fallo de lectura")));
        EXPECT_EQ(f[3], QStringLiteral("Aplicación:"));
    }
    // The index holds both keys; the report has every section.
    ASSERT_TRUE(app::ABREERROR());
    dbf::WorkArea* wa = dbf::workspace().area("Error");
    dbf::Orders& o = dbf::orders(*wa);
    EXPECT_EQ(o.orderName(), "ERR_DDHH");
    EXPECT_EQ(o.keyCount(), 2u);
    wa->goTop();
    const std::string report = wa->get(3).asString();
    app::closeErrorLog();
    for (const char* s : {"Aplicaci\xF3n:\r\n===========\r\n",
                          "   Path y nombre: ",
                          "   Nombre del error: Error BASE/1023",
                          "Llamadas a funciones\r\n====",
                          "   Llamado por INFORME_VENTAS(42)",
                          "Sistema\r\n=======\r\n",
                          "   CPU tipo: ",
                          "Variables en uso",
                          "     Param   1:    C    \"ENERO\"",
                          "     Param   2:    N    12",
                          "     Local   1:    A    Len:    2",
                          "Linked RDDs",
                          "Ficheros en uso",
                          "CLIENTES",
                          "RddName: DBFCDX",
                          "     RecNo    RecCount    BOF   EOF",
                          "=> CODIGO",
                          "Clases en uso:",
                          "An\xE1lisis de Memoria",
                          "      Valor m\xE1s alto: "})
        EXPECT_NE(report.find(s), std::string::npos) << s;
}

TEST_F(ErrorSysTest, AFailedScriptLineIsNamedOnceWithItsScriptAndTheRunIsListed) {
    QDir().mkpath(dir.filePath(QStringLiteral("Prueba")));
    {
        QFile f(dir.filePath(QStringLiteral("Prueba/INFX.RPO")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("X := 1\r\n[nota\r\nY := NOEXISTE_FN()\r\n");
    }
    QStringList chain;
    driver->whenOpen(kDialog, [&chain](Handle& h) {
        auto* list = h.window()->findChild<QListWidget*>(QStringLiteral("llamadas"));
        for (int r = 0; r < list->count(); ++r) chain << list->item(r)->text();
        h.pressCaption(QStringLiteral("&Salir"));
    });
    inEventLoop([] {
        try {
            app::EJECUTAR("infx.rpo");
        } catch (...) {
        }
    });
    EXPECT_EQ(exitCodes, std::vector<int>{1});
    const QString expected =
        QStringLiteral("Llamado por EJECUTAR(infx.rpo)  : Y := NOEXISTE_FN() - Lin.: 3");
    EXPECT_TRUE(chain.contains(expected)) << chain.join('\n').toStdString();
    ASSERT_TRUE(app::ABREERROR());
    dbf::WorkArea* wa = dbf::workspace().area("Error");
    wa->goBottom();
    const std::string report = wa->get(3).asString();
    app::closeErrorLog();
    EXPECT_NE(report.find("   " + expected.toStdString() + "\r\n"), std::string::npos) << report;
    EXPECT_EQ(report.find("Lin.: 3 - Lin.:"), std::string::npos);
    EXPECT_NE(report.find("   EJECUTAR\r\n"
                          "     Param   1:    C    \"infx.rpo\"\r\n"
                          "     Param   2:    U    NIL\r\n"
                          "     Local   1:    C    \"VINFX_RPO\"\r\n"
                          "     Local   2:    A    Len:    3\r\n"),
              std::string::npos)
        << report;
}

TEST_F(ErrorSysTest, AFailureWritingTheLogLosesOnlyThatRecord) {
    QDir().mkpath(dir.filePath(QStringLiteral("Error")));
    {
        QFile bad(dir.filePath(QStringLiteral("Error/Error.Dbf")));
        ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
        bad.write("esto no es una tabla");
    }
    const int area = table("CLIENTES");
    driver->whenOpen(kDialog, [](Handle& h) { h.pressCaption(QStringLiteral("&Omitir")); });
    xb::RaiseResult r;
    inEventLoop([&] { r = xb::raise(failure("Sin log", false, true)); });
    EXPECT_FALSE(r.retry);
    EXPECT_TRUE(exitCodes.empty());
    EXPECT_NE(dbf::workspace().area(area), nullptr);
    EXPECT_EQ(dbf::workspace().current(), area);
    EXPECT_FALSE(app::writeErrorLog("x", "y"));
}

TEST_F(ErrorSysTest, RetryWithoutARunningEventLoopEndsTheProgram) {
    driver->whenOpen(kDialog, [](Handle& h) { h.pressCaption(QStringLiteral("&Reintentar")); });
    EXPECT_THROW(xb::raise(failure("Antes del bucle", true, false)), xb::Break);
    EXPECT_EQ(exitCodes, std::vector<int>{1});
}

TEST_F(ErrorSysTest, PrintedReportIsBrokenIntoLinesOf65) {
    print::setUnattendedPdf(dir.path());
    std::string text = "Aplicaci\xF3n:\r\n===========\r\n";
    text += std::string(70, 'x') + "\r\n";
    const qsizetype before = print::writtenPdfs().size();
    app::IMPERROR(nullptr, text);
    ASSERT_EQ(print::writtenPdfs().size(), before + 1);
    const QString pdf = print::writtenPdfs().last();
    const QString out = testsupport::pdfText(pdf);
    EXPECT_TRUE(out.contains(QStringLiteral("ERROR DEL PROGRAMA "))) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("Descripción del error")));
    EXPECT_TRUE(out.contains(QStringLiteral("Fecha :")));
    EXPECT_TRUE(out.contains(QStringLiteral("Hora :")));
    EXPECT_TRUE(out.contains(QStringLiteral("Aplicación:")));
    EXPECT_TRUE(out.contains(QStringLiteral("Página 1")));
    EXPECT_TRUE(out.contains(QString(65, QLatin1Char('x'))));
    EXPECT_FALSE(out.contains(QString(66, QLatin1Char('x'))));
}

TEST_F(ErrorSysTest, ViewerListsTheLogAndShowsTheSelectedReport) {
    ASSERT_TRUE(app::writeErrorLog("Error uno", "Informe uno\r\nsegunda"));
    ASSERT_TRUE(app::writeErrorLog("Error dos", "Informe dos"));
    int rows = 0;
    QString shown;
    driver->whenOpen(QStringLiteral("_SHOWERROR"), [&](Handle& h) {
        auto* grid = h.window()->findChild<QTableView*>(QStringLiteral("registro"));
        rows = grid->model()->rowCount();
        EXPECT_EQ(grid->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Fecha"));
        grid->setCurrentIndex(grid->model()->index(0, 0));
        QApplication::processEvents();
        shown = h.window()->findChild<QPlainTextEdit*>(QStringLiteral("texto"))->toPlainText();
        h.pressCaption(QStringLiteral("&Salir"));
    });
    app::_SHOWERROR();
    EXPECT_EQ(rows, 2);
    EXPECT_EQ(shown, QStringLiteral("Informe uno\nsegunda"));
    EXPECT_EQ(dbf::workspace().area("Error"), nullptr);  // closed again
}

// ---------------------------------------------------------- real processes
// The scenarios run in a child copy of this test program.
TEST(ErrorSysChild, DISABLED_Scenario) {
    const QByteArray scenario = qgetenv("VDR_ERRSYS_SCENARIO");
    ASSERT_FALSE(scenario.isEmpty()) << "started only by EndsWithExitCode1";
    testsupport::application();
    xb::resetRuntime();
    if (scenario.startsWith("log ")) {
        // A workstation writing its own errors into the shared log, from
        // the moment the test says "go" to both.
        const std::string who = scenario.mid(4).toStdString();
        std::printf("ready\n");
        std::fflush(stdout);
        while (!QFileInfo::exists(QStringLiteral("go"))) QThread::usleep(200);
        for (int i = 0; i < 30; ++i) {
            const std::string n = who + " " + std::to_string(i);
            if (!app::writeErrorLog("Error " + n, "Informe " + n + "\r\nsegunda")) {
                std::printf("lost %s\n", n.c_str());
                std::_Exit(3);
            }
        }
        std::_Exit(0);
    }
    app::ERRORSYS();
    tk::test::Driver driver;
    if (scenario == "salir") {
        driver.whenOpen(kDialog, [](Handle& h) { h.pressCaption(QStringLiteral("&Salir")); });
    } else if (scenario == "recursion") {
        driver.whenOpen(kDialog, [](Handle&) {
            // A failure while the handler is at work.
            xb::evalText("FUNCION_QUE_NO_EXISTE()");
        });
    }
    xb::Error e = xb::makeError(xb::gen::NoFunc, 1001, "Funcion no definida", "PRUEBA");
    try {
        xb::raise(e);
    } catch (...) {
    }
    std::printf("still running\n");
    std::fflush(stdout);
    std::_Exit(7);
}

void startChild(QProcess& p, const QString& scenario, const QString& cwd) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VDR_ERRSYS_SCENARIO"), scenario);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(cwd);
    p.start(QCoreApplication::applicationFilePath(),
            {QStringLiteral("--gtest_also_run_disabled_tests"),
             QStringLiteral("--gtest_filter=ErrorSysChild.DISABLED_Scenario")});
}

int childExit(const QString& scenario, const QString& cwd, QString* out) {
    QProcess p;
    startChild(p, scenario, cwd);
    if (!p.waitForFinished(60000)) return -1;
    *out = QString::fromUtf8(p.readAllStandardOutput());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
}

TEST_F(ErrorSysTest, ANonRetryableErrorEndsTheProgramWithExitCode1) {
    QString out;
    EXPECT_EQ(childExit(QStringLiteral("salir"), dir.path(), &out), 1) << out.toStdString();
    EXPECT_FALSE(out.contains(QStringLiteral("still running")));
    const QStringList log = readLog(dir.path());
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log[0].contains(QStringLiteral("Error BASE/1001  Funcion no definida: PRUEBA")));
}

// Two workstations writing their errors into a log that neither has
// created yet: every record of both is there once, with its own report, and
// the log's index holds them all.
TEST_F(ErrorSysTest, TwoWorkstationsWritingTheLogAtOnceLoseNoRecord) {
    QProcess a, b;
    startChild(a, QStringLiteral("log A"), dir.path());
    startChild(b, QStringLiteral("log B"), dir.path());
    for (QProcess* p : {&a, &b}) {
        QByteArray said;
        while (!said.contains("ready\n") && p->waitForReadyRead(60000)) said += p->readAll();
        ASSERT_TRUE(said.contains("ready\n")) << said.toStdString();
    }
    QFile(dir.filePath(QStringLiteral("go"))).open(QIODevice::WriteOnly);
    for (QProcess* p : {&a, &b}) {
        ASSERT_TRUE(p->waitForFinished(120000));
        EXPECT_EQ(p->exitCode(), 0)
            << p->readAllStandardOutput().toStdString() << p->readAllStandardError().toStdString();
    }
    QStringList want;
    for (const char* who : {"A", "B"})
        for (int i = 0; i < 30; ++i)
            want << QStringLiteral("Error %1 %2|Informe %1 %2").arg(QLatin1String(who)).arg(i);
    QStringList got;
    for (const QString& l : readLog(dir.path())) got << l.section(QLatin1Char('|'), 2);
    want.sort();
    got.sort();
    EXPECT_EQ(got.join(QLatin1Char('\n')).toStdString(),
              want.join(QLatin1Char('\n')).toStdString());
    ASSERT_TRUE(app::ABREERROR());
    EXPECT_EQ(dbf::orders(*dbf::workspace().area("Error")).keyCount(), 60u);
    app::closeErrorLog();
}

TEST_F(ErrorSysTest, AFailureInsideTheHandlerEndsWithExitCode1InsteadOfRecursing) {
    QString out;
    EXPECT_EQ(childExit(QStringLiteral("recursion"), dir.path(), &out), 1) << out.toStdString();
    EXPECT_FALSE(out.contains(QStringLiteral("still running")));
    // The first failure was logged before the dialog showed.
    EXPECT_EQ(readLog(dir.path()).size(), 1);
}

}  // namespace

namespace {

// Pictures for the record, when VDR_SCREENSHOTS names a folder (run under a
// real display, e.g. Xvfb): the error dialog with a real call chain and the
// log viewer. A picture maker, not a test: started on purpose with
// --gtest_also_run_disabled_tests --gtest_filter=ErrorSysTest.DISABLED_Screenshots.
TEST_F(ErrorSysTest, DISABLED_Screenshots) {
    const QString out = qEnvironmentVariable("VDR_SCREENSHOTS");
    ASSERT_FALSE(out.isEmpty()) << "VDR_SCREENSHOTS not set";
    table("CLIENTES");
    driver->whenOpen(kDialog, [&](Handle& h) {
        h.window()->grab().save(out + QStringLiteral("/error_dialog.png"));
        driver->whenOpen(QStringLiteral("_SHOWERROR"), [&](Handle& v) {
            QApplication::processEvents();
            v.window()->grab().save(out + QStringLiteral("/error_log_viewer.png"));
            v.pressCaption(QStringLiteral("&Salir"));
        });
        h.pressCaption(QStringLiteral("&Mas..."));
        h.pressCaption(QStringLiteral("&Omitir"));
    });
    inEventLoop([&] {
        xb::Procedure menu("ACTIVAMENU", 88);
        xb::Procedure report("INFORM1", 57);
        report.setParams({xb::Value::str("VENTAS.RPO")});
        xb::Procedure body("IMPFAC", 212);
        xb::evalText("CLIENTES->NOMBRE + 5");
    });
}

}  // namespace
