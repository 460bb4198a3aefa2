// The register of additional user reports, driven through its windows as the
// menu items "Informes adicionales..." (EMIINFAD) and "Maestro de informes
// adicionales" (INCINFAD) start it, on an installation assembled as the
// set-up command does: a report is entered in the register's grid, listed
// by the grid's print button, picked and emitted into a PDF read back with
// pdftotext. Then what goes wrong: a registered name with no stored script,
// a loose script beside the stored one, a cancelled pick, and a register
// held by another process.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QHeaderView>
#include <QTableView>
#include <QTest>
#include <fstream>

#include "app/functions.h"
#include "dbf/order.h"
#include "dbf/table.h"
#include "gui_session.h"
#include "pdf_text.h"
#include "reports/store.h"
#include "toolkit/dialog.h"
#include "xbase/compiler.h"

namespace {

using Handle = tk::test::Handle;

const QString kPicker = QStringLiteral("Seleccione Informe Adicional a emitir");
const QString kMaster = QStringLiteral("Inclusi\u00f3n de Informes en Maestro de Informes");

// An additional report as a user writes one: the .RPU script starts a report
// run whose entry script lists the register itself through the
// installation's common header, line and closing scripts.
constexpr const char* kRpu =
    "[ Informe adicional: los informes registrados\r\n"
    "INFORM1(\"INFADI.RPO\")\r\n";
constexpr const char* kEntry =
    "ABRIR(\"Adicional\", CGINFAD, \"C\", CGINFAX1)\r\n"
    "DBSELECTAREA(\"Adicional\")\r\n"
    "PANTAINF1({\"Por nombre\"}, {\"NomInf\", \"Descrip\"}, {\"Informe\", \"Descripci\xf3n\"}, "
    "\"Informes adicionales\", {\"NOMINF\", \"DESCRIP\"}, .F., .F., .F., 1, .T., .T., {1}, .F., "
    "1, \"Adicional\")\r\n";
constexpr const char* kBody =
    "CTITULO := \"Informes adicionales registrados\"\r\n"
    "EJECUTAR(\"INICIO.RPO\")\r\n"
    "ACOLS := {{\"Informe\", 0.0, 0, {|| Adicional->NOMINF}}, {\"Descripci\xf3n\", 0.2, 0, {|| "
    "Adicional->DESCRIP}}}\r\n"
    "ENCABEZADO(\"ENCAB.RPO\")\r\n"
    "{|| EJECUTAR(\"RENGLON.RPO\")}\r\n"
    "CTOTAL := \"Total informes: \" + LTRIM(STR(NTOTAL))\r\n"
    "EJECUTAR(\"CIERRE.RPO\")\r\n";

class RegisterTest : public testsupport::GuiSession {
  protected:
    void SetUp() override {
        startSession(Start::Installation);
        app::registerProgramFunctions();
        data::NOMBBASES();
        data::HACEPRUEBA();
        xb::assignVar("G_EMPRESA", xb::Value::str("EMPRESA DE PRUEBAS"));
        // Every printout of the run becomes a PDF in this folder, as an
        // unattended run of the program does.
        qputenv("VDR_PRINT_PDF", dir.filePath(QStringLiteral("pdf")).toLocal8Bit());
        QDir().mkpath(dir.filePath(QStringLiteral("pdf")));
        print::initFromEnvironment();
        qunsetenv("VDR_PRINT_PDF");
    }
    // Stores a script as the operator does: written loose, then included.
    void store(const char* name, const char* text) {
        std::ofstream(std::string("Prueba/") + name, std::ios::binary) << text;
        ASSERT_TRUE(reports::INCLUIR(name)) << name;
    }
    // A register entry, written with the register's index kept up to date.
    void enter(const char* name, const char* description) {
        dbf::Workspace& ws = dbf::workspace();
        const int a = ws.open("cgInfAd.Ini", "ENTRADA", dbf::OpenOptions{false, false});
        dbf::orders(*ws.area(a)).addBag("cgInfAx1.cdx");
        dbf::WorkArea& wa = *ws.area(a);
        wa.append();
        wa.put(0, xb::Value::str(name));
        wa.put(1, xb::Value::str(description));
        wa.unlock();
        ws.close(a);
    }
    // Picks the register entry on row `row` (from 0) in the picker.
    void pickRow(int row, QStringList* headers = nullptr, int* rows = nullptr) {
        driver->whenOpen(kPicker, [=](Handle& h) {
            auto* v = h.window()->findChild<QTableView*>(QStringLiteral("lista"));
            ASSERT_TRUE(v);
            if (headers)
                for (int c = 0; c < v->model()->columnCount(); ++c)
                    *headers << v->model()->headerData(c, Qt::Horizontal).toString();
            if (rows) *rows = v->model()->rowCount();
            v->setFocus();
            for (int i = 0; i < row; ++i) QTest::keyClick(v, Qt::Key_Down);
            QTest::keyClick(v, Qt::Key_Return);
        });
    }
    QString lastPdfText() {
        const QStringList pdfs = print::writtenPdfs();
        return pdfs.isEmpty() ? QString() : testsupport::pdfText(pdfs.last()).simplified();
    }
    bool registerOpen() { return dbf::workspace().area(std::string_view("INFORADIC")) != nullptr; }
};

TEST_F(RegisterTest, AReportEnteredInTheMasterIsListedPickedAndEmittedToAPdf) {
    store("ADIC1.RPU", kRpu);
    store("INFADI.RPO", kEntry);
    store("INFADIc.rpo", kBody);
    const int pdfsBefore = print::writtenPdfs().size();

    // "Maestro de informes adicionales": a new row, its two cells typed in.
    QString title;
    driver->whenOpen(kMaster, [&](Handle& h) {
        title = h.window()->windowTitle();
        auto* v = h.dialog()->ctl<QTableView>(101);
        EXPECT_EQ(v->model()->rowCount(), 0);
        h.press(410);  // add
        EXPECT_EQ(v->model()->rowCount(), 1);
        testsupport::whenEditor(QStringLiteral("editorCelda"), [](QLineEdit* e) {
            QTest::keyClicks(e, QStringLiteral("adic1"));  // as typed: lower case
            QTest::keyClick(e, Qt::Key_Return);
            testsupport::whenEditor(QStringLiteral("editorCelda"), [](QLineEdit* e2) {
                QTest::keyClicks(e2, QStringLiteral("Informes del maestro, de prueba"));
                QTest::keyClick(e2, Qt::Key_Return);
            });
        });
        h.press(411);  // modify: cell after cell
        h.press(413);  // the printed list
        h.press(402);
    });
    xb::evalText("INCINFAD()");
    EXPECT_EQ(title, kMaster);
    EXPECT_FALSE(registerOpen());  // closed on return
    ASSERT_EQ(print::writtenPdfs().size(), pdfsBefore + 1);
    const QString list = lastPdfText();
    EXPECT_TRUE(list.contains(QStringLiteral("Listado de Informes Adicionales")))
        << list.toStdString();
    EXPECT_TRUE(list.contains(QStringLiteral("adic1 Informes del maestro, de prueba")))
        << list.toStdString();

    // "Informes adicionales...": the picker, then the report's own dialog.
    QStringList headers;
    int rows = 0;
    pickRow(0, &headers, &rows);
    driver->whenOpen(QStringLiteral("Impres1"), [](Handle& h) {
        EXPECT_TRUE(h.window()->windowTitle().endsWith(QStringLiteral("Informes adicionales")));
        h.check(110, true);  // to the printer, which here is the PDF
        h.press(413);
    });
    xb::evalText("EMIINFAD()");
    EXPECT_EQ(headers,
              (QStringList{QStringLiteral("Informe"), QStringLiteral("Descripci\u00f3n")}));
    EXPECT_EQ(rows, 1);
    EXPECT_TRUE(driver->boxes().empty()) << driver->boxTexts().join('|').toStdString();
    ASSERT_EQ(print::writtenPdfs().size(), pdfsBefore + 2);
    const QString report = lastPdfText();
    EXPECT_TRUE(report.contains(QStringLiteral("EMPRESA DE PRUEBAS"))) << report.toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral("Informes adicionales registrados")));
    EXPECT_TRUE(report.contains(QStringLiteral("adic1 Informes del maestro, de prueba")))
        << report.toStdString();
    EXPECT_TRUE(report.contains(QStringLiteral("Total informes: 1"))) << report.toStdString();
    EXPECT_TRUE(dbf::workspace().openAreas().empty());
}

TEST_F(RegisterTest, ARegisteredNameWithoutAStoredScriptIsToldAndRunsNothing) {
    store("ADIC1.RPU", kRpu);
    enter("ADIC1", "El que existe");
    enter("NOHAY", "Registrado pero nunca incluido");
    // A loose file is no stored script: the register names what the store holds.
    std::ofstream("Prueba/SUELTO.RPU") << "INFORM1(\"INFADI.RPO\")\r\n";
    enter("SUELTO", "Solo en la carpeta");
    const int pdfsBefore = print::writtenPdfs().size();
    for (int row : {1, 2}) {
        pickRow(row);
        xb::evalText("EMIINFAD()");
    }
    ASSERT_EQ(driver->boxes().size(), 2u) << driver->boxTexts().join('|').toStdString();
    const QString told = QStringLiteral(
        "El Informe  \"%1\"  no est\u00e1 inclu\u00eddo en Manejador de Informes,\n"
        "o hay diferencias entre el nombre inclu\u00eddo en el Manejador\n"
        "y el nombre inclu\u00eddo en el Maestro de Informes.\n"
        "Por favor verifique.");
    EXPECT_EQ(driver->boxes()[0].text.toStdString(),
              told.arg(QStringLiteral("NOHAY")).toStdString());
    EXPECT_EQ(driver->boxes()[0].title, QStringLiteral("Atenci\u00f3n....."));
    EXPECT_EQ(driver->boxes()[1].text.toStdString(),
              told.arg(QStringLiteral("SUELTO")).toStdString());
    EXPECT_EQ(print::writtenPdfs().size(), pdfsBefore);
    EXPECT_TRUE(dbf::workspace().openAreas().empty());
}

TEST_F(RegisterTest, ALooseCopyOfAStoredReportIsRunInsteadOfTheStoredOne) {
    store("ADIC1.RPU", "VISTO := \"almacenado\"\r\n");
    std::ofstream("Prueba/ADIC1.RPU") << "VISTO := \"suelto\"\r\n";
    enter("  adic1", "Con blancos delante");  // trimmed and upper-cased
    xb::createPublic("VISTO", xb::Value::str(""));
    pickRow(0);
    xb::evalText("EMIINFAD()");
    EXPECT_EQ(xb::getVar("VISTO").asString(), "suelto");
    EXPECT_TRUE(driver->boxes().empty()) << driver->boxTexts().join('|').toStdString();
}

TEST_F(RegisterTest, CancellingThePickerRunsNothingAndClosesTheRegister) {
    store("ADIC1.RPU", "VISTO := \"corrido\"\r\n");
    enter("ADIC1", "Uno");
    xb::createPublic("VISTO", xb::Value::str(""));
    driver->whenOpen(kPicker, [](Handle& h) { h.pressCaption(QStringLiteral("&Cancelar")); });
    xb::evalText("EMIINFAD()");
    EXPECT_EQ(xb::getVar("VISTO").asString(), "");
    EXPECT_TRUE(driver->boxes().empty());
    EXPECT_TRUE(dbf::workspace().openAreas().empty());
}

// The register is opened exclusively: while another workstation (here a
// second process) has it open, each item asks once whether to retry (the
// driver declines) and opens no window on it.
TEST_F(RegisterTest, ARegisterOpenInAnotherProcessIsToldAndLeftAlone) {
    enter("ADIC1", "Uno");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const std::string path = dir.filePath(QStringLiteral("cgInfAd.Ini")).toStdString();
    pid_t pid = fork();
    if (pid == 0) {
        auto t = dbf::Table::open(path, {true, false});
        (void)!write(ready[1], "R", 1);
        for (;;) pause();
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    xb::evalText("EMIINFAD()");
    xb::evalText("INCINFAD()");
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    ASSERT_EQ(driver->boxes().size(), 2u) << driver->boxTexts().join('|').toStdString();
    for (const auto& b : driver->boxes())
        EXPECT_TRUE(b.text.startsWith(QStringLiteral("FICHERO cgInfAd NO ESTA DISPONIBLE")))
            << b.text.toStdString();
    EXPECT_TRUE(dbf::workspace().openAreas().empty());
}

}  // namespace
