// Creating, changing and deleting companies through their dialogs, on a real
// installation, as a user would.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTableView>
#include <QTemporaryDir>
#include <cstdlib>
#include <map>

#include "company/selection.h"
#include "company/upkeep.h"
#include "company_check.h"
#include "company_fixture.h"
#include "cutfs_mount.h"
#include "data/catalogue.h"
#include "data/helpers.h"
#include "data/interaction.h"
#include "data/session.h"
#include "dbf/order.h"
#include "dbf/workspace.h"
#include "subprocess.h"
#include "toolkit/dialog.h"
#include "toolkit/resources.h"
#include "toolkit/testdriver.h"
#include "xbase/error.h"
#include "xbase/runtime.h"

namespace {

class UpkeepTest : public CompanyFixture {
  protected:
    void SetUp() override {
        CompanyFixture::SetUp();
        startAs("CAJA1");
        xb::assignVar("G_CAMINO", xb::Value::str("EMP00001\\"));
    }
    int companies() {
        dbf::Workspace& ws = dbf::workspace();
        const int a = ws.open("ContEmpr.Ini", "CNT", dbf::OpenOptions{});
        const int n = static_cast<int>(ws.area(a)->countVisible());
        ws.close(a);
        return n;
    }
};

TEST_F(UpkeepTest, NewCompanyProposesNextCodeAndRefusesDuplicatesAndBlankName) {
    for (int i = 2; i <= 9; ++i) {
        char code[8];
        std::snprintf(code, sizeof code, "%05d", i);
        addCompany(code, std::string("EMP") + code, "OTRA");
    }
    tk::test::Driver driver;
    driver.watchdog(20000);
    QString proposed, proposedDir, afterDuplicate, afterFree;
    bool leftDuplicate = true;
    driver.whenOpen(QStringLiteral("FoldIniEmpr"), [&](tk::test::Handle& h) {
        h.onPage(101, 1);
        proposed = h.text(101);
        proposedDir = h.text(111);
        leftDuplicate = h.type(101, QStringLiteral("00003"));
        afterDuplicate = h.text(111);
        h.key(101, Qt::Key_Home);  // the refused code is still there: type over it
        h.type(101, QStringLiteral("00012"));
        afterFree = h.text(111);
        h.type(103, QStringLiteral("800555"));
        h.type(105, QStringLiteral("CALLE 1"));
        h.press(200);  // no name: refused, the form stays
        ASSERT_TRUE(h.window()->isVisible());
        h.type(102, QStringLiteral("NUEVA & CIA"));
        h.press(200);
    });
    company::DATOSEMPR("I");
    EXPECT_TRUE(driver.allRun()) << driver.failures().join('|').toStdString();
    EXPECT_EQ(proposed.trimmed(), QStringLiteral("00010"));
    EXPECT_EQ(proposedDir.trimmed(), QStringLiteral("EMP00010"));
    EXPECT_FALSE(leftDuplicate);
    EXPECT_EQ(afterDuplicate.trimmed(), QStringLiteral("EMP00010"));
    EXPECT_EQ(afterFree.trimmed(), QStringLiteral("EMP00012"));
    const QStringList texts = driver.boxTexts();
    ASSERT_GE(texts.size(), 2);
    EXPECT_EQ(texts[0], QStringLiteral("Código de empresa ya exite,\npor favor seleccione otro."));
    EXPECT_TRUE(
        texts.contains(QStringLiteral("Debe ingresar por lo menos Código, Dirección y Nit")));
    // Saved: the new company is the session company, with its tables.
    EXPECT_EQ(companies(), 10);
    EXPECT_EQ(xb::getVar("G_CAMINO").asString(), "EMP00012\\");
    EXPECT_TRUE(QFile::exists(QStringLiteral("EMP00012/VdrProsp.dbf")));
    EXPECT_TRUE(QFile::exists(QStringLiteral("EMP00012/VdrPrpx1.cdx")));
    EXPECT_FALSE(dbf::workspace().used("Control"));
}

TEST_F(UpkeepTest, DeletionRefusesTestCompanyAndForeignDirectoriesAndRemovesEverything) {
    addCompany("00002", "EMP00002", "BORRABLE");
    addCompany("00003", "../x", "RARA");
    addCompany("00004", "/tmp", "PELIGROSA");
    ASSERT_TRUE(QDir().mkpath(QStringLiteral("EMP00002/CAJA1/mas/hondo")));
    QFile(QStringLiteral("EMP00002/datos.dbf")).open(QIODevice::WriteOnly);
    QFile(QStringLiteral("EMP00002/CAJA1/Buffer1.dbf")).open(QIODevice::WriteOnly);
    QFile(QStringLiteral("EMP00002/CAJA1/mas/hondo/x.txt")).open(QIODevice::WriteOnly);
    QDir outside(dir.path() + QStringLiteral("/../x"));
    QDir().mkpath(outside.absolutePath());
    QFile(outside.filePath(QStringLiteral("keep.txt"))).open(QIODevice::WriteOnly);

    tk::test::Driver driver;
    driver.watchdog(20000);
    driver.answer({1, 1, 2, 1});  // test company's alert; foreign dirs' alerts; No; then Si
    driver.whenOpen(QStringLiteral("ElimEmpr"), [&](tk::test::Handle& h) {
        h.press(412);              // 00001: the test company is never deleted
        h.key(101, Qt::Key_Down);  // 00002
        h.key(101, Qt::Key_Down);  // 00003 "../x"
        h.press(412);
        h.key(101, Qt::Key_Down);  // 00004 "/tmp"
        h.press(412);
        h.key(101, Qt::Key_Up);
        h.key(101, Qt::Key_Up);  // 00002
        h.press(412);            // question answered No
        h.press(412);            // question answered Si
        h.press(401);
    });
    company::ELIMEMPR();
    EXPECT_TRUE(driver.allRun()) << driver.failures().join('|').toStdString();
    const QStringList texts = driver.boxTexts();
    ASSERT_GE(texts.size(), 4) << texts.join('|').toStdString();
    EXPECT_EQ(texts[0], QStringLiteral("Empresa de Pruebas no puede ser borrada."));
    EXPECT_TRUE(texts[1].contains(QStringLiteral("no es una carpeta de empresa")));
    EXPECT_TRUE(texts[2].contains(QStringLiteral("no es una carpeta de empresa")));
    EXPECT_EQ(texts[3], QStringLiteral("Seguro desea eliminar la empresa  \"BORRABLE\" ?"));
    EXPECT_FALSE(QDir(QStringLiteral("EMP00002")).exists());
    EXPECT_TRUE(QDir(QStringLiteral("EMP00001")).exists());
    EXPECT_TRUE(QFile::exists(outside.filePath(QStringLiteral("keep.txt"))));
    EXPECT_TRUE(QDir(QStringLiteral("/tmp")).exists());
    EXPECT_EQ(companies(), 3);  // 00001 and the two refused ones
    outside.removeRecursively();
}

TEST_F(UpkeepTest, DeletingTheSessionCompanyAsksForANewSelection) {
    addCompany("00002", "EMP00002", "EN USO");
    QDir().mkpath(QStringLiteral("EMP00002"));
    xb::assignVar("G_CAMINO", xb::Value::str("EMP00002\\"));
    tk::test::Driver driver;
    driver.watchdog(20000);
    driver.answer({1, 1});  // Si to the question; the notice
    driver.whenOpen(QStringLiteral("ElimEmpr"), [&](tk::test::Handle& h) {
        h.key(101, Qt::Key_Down);
        h.press(412);
    });
    driver.whenOpen(QStringLiteral("SelecEmpr"),
                    [&](tk::test::Handle& h) { h.key(101, Qt::Key_Return); });
    company::ELIMEMPR();
    EXPECT_TRUE(driver.allRun()) << driver.failures().join('|').toStdString();
    EXPECT_TRUE(driver.boxTexts().contains(QStringLiteral("Debe seleccionar una empresa")));
    EXPECT_EQ(xb::getVar("G_CAMINO").asString(), "EMP00001\\");
    EXPECT_FALSE(QDir(QStringLiteral("EMP00002")).exists());
}

TEST(CompanyDirectory, OnlyDirectChildrenNamedEmpAndFiveDigits) {
    EXPECT_TRUE(company::isCompanyDirectory("EMP00002"));
    EXPECT_TRUE(company::isCompanyDirectory("emp12345 "));
    for (const char* bad :
         {"../x", "/tmp", "EMP0001", "EMP000012", "EMP0000A", "EMP/0001", "", "  ", ".."})
        EXPECT_FALSE(company::isCompanyDirectory(bad)) << bad;
}

}  // namespace

namespace {

// The very first start: no catalogue at all. It is created, the creation form
// proposes 00001 (read-only) and EMP00001, and after saving the selection
// lists that company and makes it the session company.
TEST_F(UpkeepTest, FirstStartCreatesTheCatalogueAndTheFirstCompany) {
    dbf::workspace().closeAll();
    for (const char* f : {"ContEmpr.Ini", "ContEmx1.cdx"})
        ASSERT_TRUE(QFile::remove(QString::fromLatin1(f)));
    ASSERT_TRUE(QDir(QStringLiteral("EMP00001")).removeRecursively());

    tk::test::Driver driver;
    driver.watchdog(30000);
    QString code, camino;
    bool codeReadOnly = false;
    driver.whenOpen(QStringLiteral("FoldIniEmpr"), [&](tk::test::Handle& h) {
        h.onPage(101, 1);
        code = h.text(101);
        camino = h.text(111);
        codeReadOnly = qobject_cast<QLineEdit*>(h.control(101))->isReadOnly();
        h.type(102, QStringLiteral("EMPRESA DE PRUEBAS"));
        h.type(103, QStringLiteral("900111222"));
        h.press(200);
    });
    int rows = -1;
    driver.whenOpen(QStringLiteral("SelecEmpr"), [&](tk::test::Handle& h) {
        rows = h.dialog()->ctl<QTableView>(101)->model()->rowCount();
        h.key(101, Qt::Key_Return);
    });
    ASSERT_TRUE(company::SELEEMPR());
    EXPECT_TRUE(driver.allRun()) << driver.failures().join('|').toStdString();
    EXPECT_EQ(code.trimmed(), QStringLiteral("00001"));
    EXPECT_EQ(camino.trimmed(), QStringLiteral("EMP00001"));
    EXPECT_TRUE(codeReadOnly);
    EXPECT_EQ(rows, 1);
    EXPECT_EQ(xb::getVar("G_CAMINO").asString(), "EMP00001\\");
    EXPECT_TRUE(QFile::exists(QStringLiteral("ContEmpr.Ini")));
    EXPECT_TRUE(QFile::exists(QStringLiteral("ContEmx1.cdx")));
    EXPECT_TRUE(QFile::exists(QStringLiteral("EMP00001/VdrVend.dbf")));
    EXPECT_TRUE(QFile::exists(QStringLiteral("EMP00001/CAJA1/ContTrm.ini")));
}

// Giving up the first company leaves nothing to choose: the user is offered
// to end the program.
TEST_F(UpkeepTest, CancelledFirstCompanyOffersToEnd) {
    dbf::workspace().closeAll();
    for (const char* f : {"ContEmpr.Ini", "ContEmx1.cdx"})
        ASSERT_TRUE(QFile::remove(QString::fromLatin1(f)));
    tk::test::Driver driver;
    driver.watchdog(30000);
    driver.answer({1});  // Si: end the program
    driver.whenOpen(QStringLiteral("FoldIniEmpr"),
                    [&](tk::test::Handle& h) { h.onPage(101, 1).press(201); });
    EXPECT_FALSE(company::SELEEMPR());
    ASSERT_EQ(driver.boxes().size(), 1u);
    EXPECT_TRUE(driver.boxes()[0].text.contains(QStringLiteral("terminar el programa")));
    EXPECT_FALSE(dbf::workspace().used("Control"));
}

}  // namespace

namespace {

// Several workstations and interrupted creations on one catalogue. Each other
// workstation is a child process of this test; boxes it meets are accepted.
class SharedUpkeepTest : public UpkeepTest {
  protected:
    // Starts `work` as another workstation; its result is the child's exit code.
    static pid_t workstation(const std::function<int()>& work) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            static data::ScriptedInteraction quiet;
            data::setInteraction(&quiet);
            ::setenv("VDR_MSGANSWERS", "", 1);
            // A shared table the other workstation holds (the creation
            // reindexes the register of additional reports) is waited for,
            // as a user answers "Reintentar".
            xb::setErrorHandler([](xb::Error& e) {
                ::usleep(50000);
                return xb::HandlerAnswer{
                    e.tries < 200 ? xb::ErrorAction::Retry : xb::ErrorAction::Break, {}};
            });
            // Nothing may leave the child: the test's own teardown would run.
            try {
                ::_exit(work());
            } catch (const std::exception& e) {
                std::fprintf(stderr, "otro equipo: %s\n", e.what());
            }
            ::_exit(99);
        }
        return pid;
    }
    static int exitCode(pid_t pid) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    static bool openControl(const char* mode = "S") {
        return data::ABRIR("Control", data::kCompanyCatalogue, mode, {data::kCompanyCatalogueBag});
    }
    // Creates company `code` as the form saves it; true when saved.
    static bool create(const std::string& code, const char* name) {
        if (!openControl()) return false;
        company::CompanyData d = company::newCompanyData(code);
        d[company::Name] = xb::Value::str(name);
        d[company::Nit] = xb::Value::str("900123");
        bool saved = false;
        company::GRABAEMPR("I", d, saved);
        data::CERRAR("Control");
        return saved;
    }
    // The catalogue's records as code -> directory.
    static std::multimap<std::string, std::string> catalogue() {
        std::multimap<std::string, std::string> out;
        dbf::Workspace& ws = dbf::workspace();
        const int a = ws.open("ContEmpr.Ini", "LEE", dbf::OpenOptions{});
        dbf::WorkArea& wa = *ws.area(a);
        for (wa.goTop(); !wa.eof(); wa.skip(1))
            out.emplace(wa.get(ws.fieldIndex(a, "CODEMPR")).asString(),
                        wa.get(ws.fieldIndex(a, "CAMINO")).asString());
        ws.close(a);
        return out;
    }
};

// Two workstations creating companies at the same moment, each taking the
// next free code as the form proposes it: every saved company has one record,
// its own code and its tables; a code taken by the other is refused.
TEST_F(SharedUpkeepTest, TwoWorkstationsCreatingAtOnceNeverShareACode) {
    auto creator = [](const char* name) {
        return [name] {
            int saved = 0;
            for (int i = 0; i < 8; ++i) {
                if (!openControl()) return 100;
                const std::string code = company::nextCompanyCode();
                data::CERRAR("Control");
                saved += create(code, name) ? 1 : 0;
            }
            return saved;
        };
    };
    const pid_t a = workstation(creator("EQUIPO A"));
    const pid_t b = workstation(creator("EQUIPO B"));
    const int savedA = exitCode(a), savedB = exitCode(b);
    ASSERT_LT(savedA, 100);
    ASSERT_LT(savedB, 100);
    EXPECT_GT(savedA, 0);
    EXPECT_GT(savedB, 0);
    const auto records = catalogue();
    EXPECT_EQ(records.size(), static_cast<size_t>(1 + savedA + savedB));
    for (const auto& [code, camino] : records) {
        EXPECT_EQ(records.count(code), 1u) << code;
        EXPECT_TRUE(QFile::exists(QString::fromStdString(camino).trimmed() +
                                  QStringLiteral("/VdrProsp.dbf")))
            << camino;
    }
}

// A company selected on another workstation cannot be deleted from this one
// while it is in use there; once that workstation has left, it can.
TEST_F(SharedUpkeepTest, ACompanyInUseElsewhereIsNotDeleted) {
    ASSERT_TRUE(create("00002", "EN OTRO EQUIPO"));
    company::releaseCompany();  // this workstation goes back to no company
    startAs("CAJA1");
    int toChild[2], fromChild[2];
    ASSERT_EQ(::pipe(toChild), 0);
    ASSERT_EQ(::pipe(fromChild), 0);
    const pid_t other = workstation([&] {
        if (!openControl() || !dbf::orders(*dbf::workspace().area(std::string_view("Control")))
                                   .seek(xb::Value::str("00002")))
            return 1;
        company::PUTDATEMPR();
        data::CERRAR("Control");
        char c = 'r';
        if (::write(fromChild[1], &c, 1) != 1 || ::read(toChild[0], &c, 1) != 1) return 2;
        return 0;
    });
    char ready = 0;
    ASSERT_EQ(::read(fromChild[0], &ready, 1), 1);

    auto deleteIt = [&] {
        EXPECT_TRUE(openControl("E"));
        dbf::orders(*dbf::workspace().area(std::string_view("Control")))
            .seek(xb::Value::str("00002"));
        tk::test::Driver driver;
        driver.watchdog(20000);
        driver.answer({1, 1});  // Si to the question; the notice, if any
        const bool deleted = company::BORRAEMPR("EN OTRO EQUIPO", "EMP00002", "900123");
        data::CERRAR("Control");
        return std::make_pair(deleted, driver.boxTexts());
    };
    const auto [refused, texts] = deleteIt();
    EXPECT_FALSE(refused);
    ASSERT_EQ(texts.size(), 2);
    EXPECT_EQ(texts[1], QStringLiteral("La empresa \"EN OTRO EQUIPO\" está en uso en otro equipo.\n"
                                       "No se borra nada."));
    EXPECT_TRUE(QFile::exists(QStringLiteral("EMP00002/VdrProsp.dbf")));
    EXPECT_EQ(catalogue().count("00002"), 1u);

    char go = 'g';
    ASSERT_EQ(::write(toChild[1], &go, 1), 1);
    EXPECT_EQ(exitCode(other), 0);
    EXPECT_TRUE(deleteIt().first);
    EXPECT_FALSE(QDir(QStringLiteral("EMP00002")).exists());
    EXPECT_EQ(catalogue().count("00002"), 0u);
    for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]}) ::close(fd);
}

// A creation stopped at each of its steps, then a power cut: the catalogue
// holds the company or not. Held, selecting it makes whatever tables the
// creation had not made, and all of them read sound; lost, its code can be
// taken again, its empty folder with it.
TEST_F(SharedUpkeepTest, ACreationCutShortLeavesTheCompanyWholeOrItsCodeFree) {
    dbf::workspace().closeAll();
    QTemporaryDir base;
    const QString here = QDir::currentPath();
    ASSERT_EQ(
        std::system(("cp -a '" + here.toStdString() + "' '" + base.path().toStdString() + "/disk'")
                        .c_str()),
        0);
    testsupport::CutFs fs(base.path().toStdString());
    VDR_NEED_CUTFS(fs);
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(fs.mount())));
    startAs("CAJA1");
    int cuts = 0, code = 2;
    for (const char* step : {"folder", "record", "tables"}) {
        const std::string digits = "0000" + std::to_string(code++);
        const pid_t pid = workstation([step, digits] {
            company::setCreationHook([step](std::string_view at) {
                if (at == step) ::_exit(70);
            });
            create(digits, "CORTADA");
            return 0;
        });
        ASSERT_EQ(exitCode(pid), 70) << step;
        ASSERT_TRUE(fs.cut("cut " + std::to_string(++cuts)));

        startAs("CAJA1");
        const std::string camino = std::string("EMP") + digits;
        if (catalogue().count(digits) == 0) {
            EXPECT_STREQ(step, "folder");
            ASSERT_TRUE(create(digits, "OTRA VEZ")) << step;
        } else {
            company::writeRememberedCompany(camino);
            tk::test::Driver driver;
            driver.watchdog(30000);
            driver.whenOpen(QStringLiteral("SelecEmpr"),
                            [&](tk::test::Handle& h) { h.key(101, Qt::Key_Return); });
            ASSERT_TRUE(company::SELEEMPR());
            EXPECT_EQ(xb::getVar("G_CAMINO").asString(), camino + "\\") << step;
        }
        for (const data::TableDef& t : data::tables()) {
            if (!t.inCompanyDir) continue;
            const QString file = QString::fromStdString(camino + "/") + QString::fromLatin1(t.file);
            EXPECT_TRUE(QFile::exists(file)) << step << ' ' << t.file;
            // Opened once as the program opens it, mending what the cut left.
            ASSERT_TRUE(data::ABRIR("Revisada", data::tablePath(t, camino + "\\"), "S",
                                    {data::bagPath(t, camino + "\\")}))
                << step << ' ' << t.file;
            data::CERRAR("Revisada");
        }
        EXPECT_EQ(testsupport::checkCompanyTables(), "") << step;
    }
    dbf::workspace().closeAll();
    QDir::setCurrent(here);
}

}  // namespace
