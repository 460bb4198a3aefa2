// The parameter dialog "Impres1" driven as a user would: the filter
// operator "$" with a typed value, the destination, "&Imprimir" running the
// body over the chosen records; "&Cancelar" running nothing. A picture of the
// dialog is written for the record (VDR_SHOTS=DIR).
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QListView>
#include <QPixmap>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <fstream>

#include "app/functions.h"
#include "dbf/table.h"
#include "gui_session.h"
#include "print/document.h"
#include "xbase/compiler.h"

namespace {

using Handle = tk::test::Handle;

class Impres1Test : public testsupport::GuiSession {
  protected:
    void SetUp() override {
        startSession(Start::Empty, &scripted);
        app::registerProgramFunctions();
        data::HACEPRUEBA();
        dbf::Table::create("P.DBF", {{"NOMBRE", 'C', 30, 0}, {"N", 'N', 5, 0}});
        {
            auto t = dbf::Table::open("P.DBF", {false, false});
            const char* names[] = {"GARCIA", "LOPEZ", "MARTIN", "PEREZ", "RUIZ", "GARZON"};
            for (int i = 0; i < 6; ++i) {
                t->appendBlank();
                t->putString(0, names[i]);
                t->putNumber(1, i + 1);
            }
            t->commit();
        }
        std::ofstream("Prueba/INFPRU.RPO")
            << "DBUSEAREA(.T., , \"P.DBF\", \"P\", .F.)\r\n"
               "ORDCREATE(\"P.CDX\", \"NOMBRE\", \"NOMBRE\")\r\n"
               "PANTAINF1({\"Por nombre\"}, {\"NOMBRE\"}, {\"Nombre\"}, \"Prueba\", {\"NOMBRE\", "
               "\"N\"}, .T., .F., .T., 1, .T., .T., {1}, .F., 1, \"P\")\r\n";
        std::ofstream("Prueba/INFPRUc.rpo") << "{|| AADD(VISTOS, TRIM(P->NOMBRE))}\r\n";
        xb::createPublic("VISTOS", xb::Value::newArray());
    }
    std::vector<std::string> seen() {
        std::vector<std::string> out;
        for (const auto& v : xb::getVar("VISTOS").arrayPtr()->items) out.push_back(v.asString());
        return out;
    }
};

TEST_F(Impres1Test, ContainsFilterTypedInTheDialogPrintsTheMatchingRecords) {
    print::setUnattendedPdf(dir.path());  // a printer: the printouts go to PDF files
    driver->whenOpen(QStringLiteral("Impres1"), [](Handle& h) {
        EXPECT_TRUE(h.window()->windowTitle().endsWith(QStringLiteral(":  Prueba")));
        EXPECT_FALSE(h.control(106)->isEnabled());
        EXPECT_FALSE(h.control(111)->isEnabled());
        h.choose(112, QStringLiteral("$"));
        h.type(105, QStringLiteral("ar"));
        h.check(110, true);  // printer: MPREVW false
        if (const char* shots = std::getenv("VDR_SHOTS"))
            h.window()->grab().save(QString::fromLocal8Bit(shots) + QStringLiteral("/impres1.png"));
        h.press(413);
    });
    xb::callFunction("INFORM1", {xb::Value::str("INFPRU.RPO")});
    EXPECT_EQ(seen(), (std::vector<std::string>{"GARCIA", "GARZON", "MARTIN"}));
    EXPECT_FALSE(xb::getVar("MPREVW").asLogical());
    EXPECT_EQ(xb::getVar("CCAMPFILT").asString(), "NOMBRE");
    EXPECT_TRUE(dbf::workspace().openAreas().empty());  // every table closed
}

// The script opens the dialog on its second order while the table stood on
// the first: printing without touching the list follows the order the list
// shows (and the range would be picked on), not the one before the dialog.
TEST_F(Impres1Test, PrintingKeepsTheOrderTheDialogOpenedOn) {
    std::ofstream("Prueba/INFORD.RPO")
        << "DBUSEAREA(.T., , \"P.DBF\", \"P\", .F.)\r\n"
           "ORDCREATE(\"P.CDX\", \"NOMBRE\", \"NOMBRE\")\r\n"
           "ORDCREATE(\"P.CDX\", \"INVERSO\", \"STR(10-N,2)\")\r\n"
           "DBSETORDER(1)\r\n"
           "PANTAINF1({\"Inverso\", \"Por nombre\"}, {\"N\"}, {\"N\"}, \"Orden\", {\"NOMBRE\"}, "
           ".T., .F., .T., 1, .T., .T., {2, 1}, .F., 2, \"P\")\r\n";
    std::ofstream("Prueba/INFORDc.rpo") << "{|| AADD(VISTOS, TRIM(P->NOMBRE))}\r\n";
    driver->whenOpen(QStringLiteral("Impres1"), [](Handle& h) {
        EXPECT_EQ(h.text(101), QStringLiteral("Inverso"));
        h.press(413);
    });
    xb::callFunction("INFORM1", {xb::Value::str("INFORD.RPO")});
    EXPECT_EQ(seen(),
              (std::vector<std::string>{"GARZON", "RUIZ", "PEREZ", "MARTIN", "LOPEZ", "GARCIA"}));
}

// A range start that is not in the table opens the record picker, titled
// with the field and the order; the key of the record picked is taken.
TEST_F(Impres1Test, RangeValueNotFoundOpensThePickerTitledByFieldAndOrder) {
    driver->whenOpen(QStringLiteral("Impres1"), [this](Handle& h) {
        driver->whenOpen(QStringLiteral("Seleccione Primer dato  -  [Ordenado por Por nombre]"),
                         [](Handle& p) {
                             auto* v = p.window()->findChild<QTableView*>(QStringLiteral("lista"));
                             ASSERT_TRUE(v);
                             v->setFocus();
                             QTest::keyClick(v, Qt::Key_Down);  // GARZON, second by name
                             QTest::keyClick(v, Qt::Key_Return);
                         });
        h.type(102, QStringLiteral("GAX"), false);
        EXPECT_EQ(h.text(102).trimmed(), QStringLiteral("GAX"));
        h.key(102, Qt::Key_Tab);
        EXPECT_EQ(h.text(102).trimmed(), QStringLiteral("GARZON"));
        h.type(103, QStringLiteral("LOPEZ"));  // found: no picker
        h.press(413);
    });
    xb::callFunction("INFORM1", {xb::Value::str("INFPRU.RPO")});
    EXPECT_EQ(seen(), (std::vector<std::string>{"GARZON", "LOPEZ"}));
}

// No printer installed: "&Imprimir" to the printer says so and leaves the
// user in the dialog, over the tables as they were; the preview then prints.
TEST_F(Impres1Test, PrintingWithNoPrinterSaysSoAndStaysInTheDialog) {
    if (print::printerAvailable()) GTEST_SKIP() << "this machine has a printer";
    bool stayed = false, open = false;
    std::vector<std::string> before;
    driver->whenOpen(QStringLiteral("Impres1"), [&](Handle& h) {
        h.check(110, true);
        h.press(413);
        stayed = h.window()->isVisible();
        open = dbf::workspace().used("P");
        before = seen();
        h.check(109, true);
        h.press(413);
    });
    xb::callFunction("INFORM1", {xb::Value::str("INFPRU.RPO")});
    EXPECT_TRUE(stayed);
    EXPECT_TRUE(open);
    EXPECT_TRUE(before.empty());
    EXPECT_EQ(seen().size(), 6u);
    auto alerts = scripted.of(data::ScriptedInteraction::Kind::Alert);
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].message, "No hay ninguna impresora instalada");
}

// A printout that fails once the body runs (here a PDF that cannot be
// written) is told, and the dialog comes back over the table as it was
// before "&Imprimir": no filter left, every record there.
TEST_F(Impres1Test, APrintoutThatFailsBringsTheDialogBack) {
    std::ofstream("Prueba/INFPRUc.rpo") << "OPRN := PRINTBEGIN(\"Prueba\")\r\n"
                                           "{|| AADD(VISTOS, TRIM(P->NOMBRE))}\r\n"
                                           "OPRN:End()\r\n"
                                           "AADD(VISTOS, \"DESPUES\")\r\n";
    print::setUnattendedPdf(dir.filePath("no/hay/carpeta.pdf"));
    bool back = false;
    uint32_t visible = 0;
    std::string filter = "?";
    auto* again = new QTimer;
    QObject::connect(again, &QTimer::timeout, again, [&, again] {
        QWidget* w = tk::test::Driver::findWindow(QStringLiteral("Impres1"));
        if (!w) return;
        again->stop();
        again->deleteLater();
        back = true;
        dbf::WorkArea* p = dbf::workspace().area("P");
        if (p) {
            filter = p->filterText();
            visible = p->countVisible();
        }
        Handle(w).press(401);
    });
    driver->whenOpen(QStringLiteral("Impres1"), [&](Handle& h) {
        h.choose(112, QStringLiteral("$"));
        h.type(105, QStringLiteral("ar"));
        again->start(20);
        h.press(413);
    });
    xb::callFunction("INFORM1", {xb::Value::str("INFPRU.RPO")});
    EXPECT_TRUE(back);
    EXPECT_EQ(filter, "");
    EXPECT_EQ(visible, 6u);
    EXPECT_EQ(seen(), (std::vector<std::string>{"GARCIA", "GARZON", "MARTIN"}));
    auto alerts = scripted.of(data::ScriptedInteraction::Kind::Alert);
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].message.rfind("No se pudo escribir el fichero", 0), 0u);
    EXPECT_TRUE(dbf::workspace().openAreas().empty());
}

// A long run shows its progress with "Cancelar"; to the preview, the
// preview itself opens on the first pages while the run goes on, and offers
// "Cancelar". Pressed, the run stops before the next record, leaves no PDF
// (nor any part of it) and the dialog comes back over the tables; a run from
// it then prints. Pictures of the progress and the preview are written for
// the record (VDR_SHOTS=DIR).
TEST_F(Impres1Test, CancellingARunStopsItLeavesNoFileAndTheDialogComesBack) {
    {
        auto t = dbf::Table::open("P.DBF", {false, false});
        for (int i = 0; i < 2000; ++i) {
            t->appendBlank();
            t->putString(0, "X" + std::to_string(i));
        }
        t->commit();
    }
    std::ofstream("Prueba/INFPRUc.rpo")
        << "OPRN := PRINTBEGIN(\"Largo\")\r\n"
           "{|| AADD(VISTOS, TRIM(P->NOMBRE)), OPRN:Say(0, 0, P->NOMBRE), OPRN:EndPage()}\r\n"
           "OPRN:End()\r\n";
    const QString pdf = dir.filePath(QStringLiteral("largo.pdf"));
    print::setUnattendedPdf(pdf);  // the preview as a PDF file, but for the second run
    static const QRegularExpression twoPages(QStringLiteral("Páginas: [2-9]"));
    auto click = [](QWidget* w) {
        for (QPushButton* b : w->findChildren<QPushButton*>())
            if (b->text() == QStringLiteral("&Cancelar")) QTest::mouseClick(b, Qt::LeftButton);
    };
    int step = 0;
    std::vector<size_t> readWhenCancelled, readWhenBack;
    QStringList leftBehind;
    bool tablesOpen = true, previewWhileRunning = false;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        QWidget* impres = tk::test::Driver::findWindow(QStringLiteral("Impres1"));
        if (step == 0 || step == 2) {
            QWidget* w = tk::test::Driver::findWindow(
                QString::fromLatin1(step == 0 ? "ProgresoInforme" : "PrintPreview"));
            const QString shown = step == 0 ? qobject_cast<QProgressDialog*>(w)->labelText()
                                  : w       ? w->findChild<QLabel*>()->text()
                                            : QString();
            if (!w || !shown.contains(twoPages)) return;
            if (step == 0) {
                EXPECT_TRUE(shown.contains(QStringLiteral("Informe: Largo")));
                EXPECT_TRUE(shown.contains(QStringLiteral(" de 2006")));
            } else {
                previewWhileRunning = shown.contains(QStringLiteral("preparando"));
            }
            if (const char* shots = std::getenv("VDR_SHOTS"))
                w->grab().save(QString::fromLocal8Bit(shots) +
                               (step == 0 ? QStringLiteral("/progreso.png")
                                          : QStringLiteral("/vista-previa.png")));
            ++step;
            readWhenCancelled.push_back(seen().size());
            click(w);
        } else if ((step == 1 || step == 3) && impres) {
            ++step;
            readWhenBack.push_back(seen().size());
            leftBehind << QDir(dir.path()).entryList({QStringLiteral("largo*")}, QDir::Files);
            tablesOpen = tablesOpen && dbf::workspace().used("P");
            Handle h(impres);
            if (step == 2) {
                print::setUnattendedPdf(QString());
                h.press(413);
                return;
            }
            print::setUnattendedPdf(pdf);
            h.choose(112, QStringLiteral("$"));
            h.type(105, QStringLiteral("ar"));
            h.press(413);
        }
    });
    driver->whenOpen(QStringLiteral("Impres1"), [&](Handle& h) {
        user.start(10);
        h.press(413);
    });
    xb::callFunction("INFORM1", {xb::Value::str("INFPRU.RPO")});
    EXPECT_EQ(step, 4);
    EXPECT_TRUE(previewWhileRunning);
    ASSERT_EQ(readWhenBack.size(), 2u);
    EXPECT_EQ(readWhenBack, readWhenCancelled);
    EXPECT_GE(readWhenBack[0], 2u);
    EXPECT_GE(readWhenBack[1], readWhenBack[0] + 2);
    EXPECT_LT(readWhenBack[1], readWhenBack[0] + 2006);
    EXPECT_TRUE(leftBehind.isEmpty()) << leftBehind.join(' ').toStdString();
    EXPECT_TRUE(tablesOpen);
    const std::vector<std::string> all = seen();
    EXPECT_EQ(std::vector<std::string>(all.end() - 3, all.end()),
              (std::vector<std::string>{"GARCIA", "GARZON", "MARTIN"}));
    EXPECT_TRUE(QFile::exists(pdf));
    EXPECT_TRUE(dbf::workspace().openAreas().empty());
}

TEST_F(Impres1Test, CancelRunsNothingAndClosesTheTables) {
    QString typed, afterLeavingTheList;
    double open = 0;
    driver->whenOpen(QStringLiteral("Impres1"), [&](Handle& h) {
        // The dialog is ODLGIMP1 while it runs.
        open = xb::evalText("ODLGIMP1:hWnd").asNumber();
        h.type(105, QStringLiteral("GARCIA"));
        typed = h.text(105).trimmed();
        // Through the list of filter fields without changing it.
        h.focus(104);
        h.focus(105);
        afterLeavingTheList = h.text(105).trimmed();
        h.press(401);
    });
    xb::callFunction("INFORM1", {xb::Value::str("INFPRU.RPO")});
    EXPECT_TRUE(seen().empty());
    EXPECT_TRUE(dbf::workspace().openAreas().empty());
    EXPECT_EQ(open, 1);
    EXPECT_EQ(typed, QStringLiteral("GARCIA"));
    EXPECT_EQ(afterLeavingTheList, QString());
}

}  // namespace

namespace {

// The store tool: include a loose script by name through the dialog, then
// extract it again; a picture of the dialog is written for the record.
TEST_F(Impres1Test, StoreToolIncludesAndExtractsByName) {
    std::ofstream("Prueba/HOLA.RPO") << "1\r\n";
    scripted.answer(2);  // "Desea continuar ?" -> Si
    driver->whenOpen(QStringLiteral("Dlg_cgFuente"), [this](Handle& h) {
        h.type(101, QStringLiteral("hola.rpo"));
        h.check(102, true);  // include
        if (const char* shots = std::getenv("VDR_SHOTS"))
            h.window()->grab().save(QString::fromLocal8Bit(shots) +
                                    QStringLiteral("/cgfuente.png"));
        h.press(400);
        EXPECT_FALSE(QFile::exists(QStringLiteral("Prueba/HOLA.RPO")));
        h.check(103, true);  // extract
        h.press(400);
        EXPECT_TRUE(QFile::exists(QStringLiteral("Prueba/HOLA.RPO")));
        // Choose from the store: the picked name comes into the field.
        h.type(101, QString());
        driver->whenOpen(QStringLiteral("Seleccione Formato"), [](Handle& p) {
            auto* v = p.window()->findChild<QTableView*>(QStringLiteral("lista"));
            ASSERT_TRUE(v);
            v->setFocus();
            QTest::keyClick(v, Qt::Key_Return);
        });
        h.check(106, true);
        h.press(400);
        EXPECT_EQ(h.text(101).trimmed(), QStringLiteral("HOLA.RPO"));
        h.press(402);
    });
    xb::callFunction("MAKECGFTE");
    ASSERT_FALSE(scripted.shown().empty());
    EXPECT_NE(scripted.of(data::ScriptedInteraction::Kind::Alert)[0].message.find("UNICAMENTE"),
              std::string::npos);
}

// "Editar informe...": the script folder's reports under the two filters the
// users know, whatever the case of their names; cancelled, nothing opens.
TEST_F(Impres1Test, EditingAReportOffersTheFolderScriptsWhateverTheirCase) {
    std::ofstream("Prueba/otro.rpo") << "x\r\n";
    std::ofstream("Prueba/NOTAS.TXT") << "x\r\n";
    QStringList filters, listed;
    driver->whenOpen(QStringLiteral("Seleccione un Informe"), [&](Handle& h) {
        auto* dlg = qobject_cast<QFileDialog*>(h.window());
        ASSERT_TRUE(dlg);
        filters = dlg->nameFilters();
        auto* view = dlg->findChild<QListView*>(QStringLiteral("listView"));
        ASSERT_TRUE(view);
        for (int i = 0; i < 100 && view->model()->rowCount(view->rootIndex()) < 2; ++i)
            QTest::qWait(20);
        for (int i = 0; i < view->model()->rowCount(view->rootIndex()); ++i)
            listed << view->model()->index(i, 0, view->rootIndex()).data().toString();
        dlg->reject();
    });
    xb::callFunction("EDITRPO");
    EXPECT_EQ(filters, QStringList({QStringLiteral("Informe (*.rpo)"),
                                    QStringLiteral("Adicional usuario (*.rpu)")}));
    listed.sort();
    EXPECT_EQ(listed, QStringList({QStringLiteral("INFPRU.RPO"), QStringLiteral("INFPRUc.rpo"),
                                   QStringLiteral("otro.rpo")}));
}

}  // namespace
