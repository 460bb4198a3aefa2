// Every default report of a new installation, run through `vdrtool report`
// on the test company filled by `vdrtool demo`, read back from its PDF with
// pdftotext: the title, a row known from the tables, the totals counted from
// the tables. Then the report run in process: a range is a scope of the
// chosen order, typed filter values are compared as values (never compiled),
// and a filter that passes nothing says so without running the body.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <functional>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>
#include <fstream>

#include "app/functions.h"
#include "data/interaction.h"
#include "data/session.h"
#include "dbf/table.h"
#include "dbf/workspace.h"
#include "gui_session.h"
#include "pdf_text.h"
#include "print/document.h"
#include "reports/inform.h"
#include "reports/printer.h"
#include "subprocess.h"
#include "xbase/abandon.h"
#include "xbase/compiler.h"
#include "xbase/runtime.h"

namespace {

using testsupport::ToolRun;

ToolRun tool(const QString& dir, const QStringList& args,
             const std::function<void()>& inChild = {}) {
    return testsupport::runTool(args, dir, QProcessEnvironment::systemEnvironment(), inChild);
}

// Runs of blanks and line ends are layout, not content.
QString pdfText(const QString& pdf) {
    return testsupport::pdfText(pdf).simplified();
}

std::string trimmed(const std::string& s) {
    size_t e = s.find_last_not_of(' ');
    return e == std::string::npos ? std::string() : s.substr(0, e + 1);
}

class ReportsEndToEnd : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir = new QTemporaryDir;
        ASSERT_TRUE(testsupport::assembleInstallation(dir->path()));
        ToolRun r = tool(dir->path(), {"demo", dir->path(), "--prospects", "120"});
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
    }
    static void TearDownTestSuite() { delete dir; }
    QString run(const char* report) {
        QString pdf = dir->filePath(QString::fromLatin1(report) + ".pdf");
        ToolRun r = tool(dir->path(), {"report", report, "--pdf", pdf});
        EXPECT_EQ(r.code, 0) << report << ": " << r.err.toStdString();
        return pdfText(pdf);
    }
    std::unique_ptr<dbf::Table> table(const char* file) {
        return dbf::Table::open((dir->path() + "/EMP00001/" + file).toStdString(), {true, true});
    }
    static QTemporaryDir* dir;
};
QTemporaryDir* ReportsEndToEnd::dir = nullptr;

TEST_F(ReportsEndToEnd, TheStoreOfANewInstallationHoldsEveryMenuReport) {
    // The scripts are stored, not loose: the store answers for them.
    EXPECT_TRUE(QFile::exists(dir->filePath("cgFuente.dbf")));
    EXPECT_FALSE(QFile::exists(dir->filePath("Prueba/INFPRO.RPO")));
    QFile menu(QStringLiteral(VDR_SOURCE_DIR "/install/menu/VdrMenu.txt"));
    ASSERT_TRUE(menu.open(QIODevice::ReadOnly));
    QString all = QString::fromUtf8(menu.readAll());
    int reports = 0;
    for (const QString& line : all.split('\n')) {
        int at = line.indexOf(QStringLiteral("INFORM1(\""));
        if (at < 0) continue;
        QString name = line.mid(at + 9).section('"', 0, 0);
        QString text = run(name.toLatin1().constData());
        EXPECT_TRUE(text.contains(QStringLiteral("EMPRESA DE PRUEBAS"))) << name.toStdString();
        ++reports;
    }
    // The three reports of old plus salespeople, products and the agenda.
    EXPECT_EQ(reports, 6);
}

TEST_F(ReportsEndToEnd, ProspectsBySalespersonListsEveryProspectUnderItsSalesperson) {
    QString text = run("INFPRO.RPO");
    EXPECT_TRUE(text.contains(QStringLiteral("Prospectos por vendedor")));
    auto t = table("VdrProsp.dbf");
    t->read(1);
    std::string code = trimmed(t->getString(t->fieldIndex("CODPROSP")));
    std::string name = trimmed(t->getString(t->fieldIndex("NOMBRE"))).substr(0, 40);
    EXPECT_TRUE(text.contains(QString::fromStdString(code + " " + name))) << code << " " << name;
    EXPECT_TRUE(text.contains(QStringLiteral("Total prospectos: %1").arg(t->recCount())));
    auto v = table("VdrVend.dbf");
    v->read(1);
    EXPECT_TRUE(text.contains(QString::fromStdString("Vendedor " + trimmed(v->getString(0)) +
                                                     " - " + trimmed(v->getString(1)))));
}

TEST_F(ReportsEndToEnd, SalesContactsListsAndAgendaCarryTheirTotals) {
    auto sold = table("VdrPrdVt.dbf");
    double units = 0, value = 0;
    for (uint32_t r = 1; r <= sold->recCount(); ++r) {
        sold->read(r);
        units += sold->getNumber(sold->fieldIndex("CANT"));
        value += sold->getNumber(sold->fieldIndex("VALORTOT"));
    }
    QString vta = run("INFVTA.RPO");
    EXPECT_TRUE(vta.contains(QStringLiteral("Productos vendidos")));
    EXPECT_TRUE(vta.contains(QStringLiteral("Total ventas: %1 Unidades: %2")
                                 .arg(sold->recCount())
                                 .arg(units, 0, 'f', 2)))
        << vta.right(200).toStdString();
    QLocale grouped(QLocale::English);  // 87,357.80 as TRANSFORM prints it
    EXPECT_TRUE(vta.contains(QStringLiteral("Valor: ") + grouped.toString(value, 'f', 2)))
        << vta.right(200).toStdString();

    auto cont = table("VdrCont.dbf");
    int visits = 0, ahead = 0;
    int32_t today = xb::evalText("DATE()").asDate();
    for (uint32_t r = 1; r <= cont->recCount(); ++r) {
        cont->read(r);
        if (trimmed(cont->getString(cont->fieldIndex("TIPO"))) == "Personal") ++visits;
        if (cont->getDate(cont->fieldIndex("FEC_PROX")) >= today) ++ahead;
    }
    QString con = run("INFCON.RPO");
    EXPECT_TRUE(con.contains(QStringLiteral("Contactos realizados")));
    EXPECT_TRUE(con.contains(
        QStringLiteral("Total contactos: %1 Visitas: %2").arg(cont->recCount()).arg(visits)));
    QString age = run("INFAGE.RPO");
    EXPECT_TRUE(age.contains(QStringLiteral("Agenda de pr\u00f3ximas visitas")));
    EXPECT_TRUE(age.contains(QStringLiteral("Total visitas previstas: %1").arg(ahead)));

    QString ven = run("INFVEN.RPO");
    EXPECT_TRUE(ven.contains(QStringLiteral("Listado de vendedores")));
    EXPECT_TRUE(ven.contains(QStringLiteral("Total vendedores: 8")));
    QString prc = run("INFPRC.RPO");
    EXPECT_TRUE(prc.contains(QStringLiteral("CAF-001 CAFETERA INDUSTRIAL DOS GRUPOS 1,850.00")));
    EXPECT_TRUE(
        prc.contains(QStringLiteral("Total productos: %1").arg(table("VdrProdc.dbf")->recCount())));
}

// What was not done exits with status 2 and its reason on standard error:
// a missing report or script, a refused name, a PDF that a full disk cut
// short (a file-size limit in the child stands for the disk); the help says
// which status means what.
TEST_F(ReportsEndToEnd, WhatWasNotDoneExitsNonZeroWithItsReason) {
    ToolRun r = tool(dir->path(), {"report", "NOHAY.RPO", "--pdf", dir->filePath("x.pdf")});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("No se encuentra el formato NOHAY.RPO")))
        << r.err.toStdString();
    r = tool(dir->path(), {"run", "NOPE.RPO"});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("No se encuentra el formato NOPE.RPO")))
        << r.err.toStdString();
    r = tool(dir->path(), {"run", "..\\..\\etc\\passwd"});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("no es válido"))) << r.err.toStdString();
    const QString pdf = dir->filePath("lleno.pdf");
    r = tool(dir->path(), {"report", "INFPRO.RPO", "--pdf", pdf}, [] {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{8192, 8192};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("No se pudo escribir el fichero ") + pdf))
        << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(pdf));
    r = tool(dir->path(), {"--help"});
    EXPECT_EQ(r.code, 0);
    EXPECT_TRUE(r.out.contains(QStringLiteral("Códigos de salida"))) << r.out.toStdString();
}

// ------------------------------------------------------------ in process

class ReportRun : public testsupport::GuiSession {
  protected:
    void SetUp() override {
        startSession(Start::Empty, &scripted);
        app::registerProgramFunctions();
        data::HACEPRUEBA();
        xb::setErrorHandler([](xb::Error&) { return xb::HandlerAnswer{}; });
        dbf::Table::create("P.DBF", {{"NOMBRE", 'C', 30, 0}, {"N", 'N', 5, 0}, {"F", 'D', 8, 0}});
        {
            auto t = dbf::Table::open("P.DBF", {false, false});
            const char* names[] = {"GARCIA", "LOPEZ", "MARTIN", "PEREZ", "RUIZ", "GARZON"};
            for (int i = 0; i < 6; ++i) {
                t->appendBlank();
                t->putString(0, names[i]);
                t->putNumber(1, i + 1);
                t->putDate(2, 2460000 + i);
            }
            t->commit();
        }
        dbf::workspace().open("P.DBF", "P", {false, false}, 0);
        xb::evalText("ORDCREATE(\"P.CDX\", \"NOMBRE\", \"NOMBRE\")");
        // The body script records the names it reads.
        std::ofstream("Prueba/CUERPO.RPO") << "{|| AADD(VISTOS, TRIM(P->NOMBRE))}\r\n";
        xb::createPublic("VISTOS", xb::Value::newArray());
    }
    std::vector<std::string> seen() {
        std::vector<std::string> out;
        for (const auto& v : xb::getVar("VISTOS").arrayPtr()->items) out.push_back(v.asString());
        xb::assignVar("VISTOS", xb::Value::newArray());
        return out;
    }
    xb::Value params(const char* from, const char* to, const char* field, const char* op1,
                     xb::Value v1, const char* op2, xb::Value v2) {
        return reports::ACTLZPARAM(xb::Value::str(from), xb::Value::str(to), field, op1, v1, op2,
                                   v2, xb::Value::date(0), xb::Value::date(0), 1);
    }
};

TEST_F(ReportRun, RangeIsAScopeOfTheChosenOrderAndItsEndIsAPrefix) {
    EXPECT_TRUE(reports::IMPFAC(
        params("GAR", "MART", "", "=", xb::Value::str(""), "=", xb::Value::str("")), "CUERPO.RPO"));
    EXPECT_EQ(seen(), (std::vector<std::string>{"GARCIA", "GARZON", "LOPEZ", "MARTIN"}));
    EXPECT_EQ(xb::evalText("ORDSCOPE(0)").asString(), "GAR");
    EXPECT_TRUE(dbf::workspace().selected()->filterText().empty());  // no whole-table filter
    xb::evalText("DBCLEARSCOPE()");
    // Start after end: nothing, and no message (that belongs to the field filter).
    scripted.clear();
    reports::IMPFAC(params("RUIZ", "GARCIA", "", "=", xb::Value::str(""), "=", xb::Value::str("")),
                    "CUERPO.RPO");
    EXPECT_TRUE(seen().empty());
    EXPECT_TRUE(scripted.shown().empty());
}

TEST_F(ReportRun, TypedValuesAreComparedAsValuesNeverCompiled) {
    // A value that would be an expression if spliced into filter text.
    xb::createPublic("PWNED", xb::Value::logical(false));
    EXPECT_FALSE(reports::IMPFAC(params("", "", "NOMBRE", "=", xb::Value::str("\".OR.(PWNED:=.T.)"),
                                        "=", xb::Value::str("x")),
                                 "CUERPO.RPO"));
    EXPECT_FALSE(xb::getVar("PWNED").asLogical());
    EXPECT_EQ(scripted.shown().back().message, "Condici\xf3n no se cumple");
    EXPECT_TRUE(seen().empty());
    EXPECT_TRUE(dbf::workspace().selected()->filterText().empty());

    // "$": value 1 anywhere in the upper-case field; value 2 ignored.
    reports::IMPFAC(params("", "", "NOMBRE", "$", xb::Value::str("AR"), "$", xb::Value::str("zz")),
                    "CUERPO.RPO");
    EXPECT_EQ(seen(), (std::vector<std::string>{"GARCIA", "GARZON", "MARTIN"}));
    // Numbers between two typed bounds.
    reports::IMPFAC(params("", "", "N", ">=", xb::Value::str("2"), "<=", xb::Value::str("4")),
                    "CUERPO.RPO");
    EXPECT_EQ(seen(), (std::vector<std::string>{"LOPEZ", "MARTIN", "PEREZ"}));
    // "==" on a 30-wide field with a short value passes nothing.
    EXPECT_FALSE(reports::IMPFAC(
        params("", "", "NOMBRE", "==", xb::Value::str("RUIZ"), "==", xb::Value::str("RUIZ")),
        "CUERPO.RPO"));
    // Dates compared as dates.
    reports::IMPFAC(
        params("", "", "F", ">", xb::Value::date(2460003), ">", xb::Value::date(2460003)),
        "CUERPO.RPO");
    EXPECT_EQ(seen(), (std::vector<std::string>{"GARZON", "RUIZ"}));
}

TEST_F(ReportRun, FilterCaptionAndBodyName) {
    reports::ACTLZPARAM(xb::Value::str(""), xb::Value::str(""), "NOMBRE", "=",
                        xb::Value::str("GARCIA"), "=", xb::Value::str("GARCIA"),
                        xb::Value::date(2460000), xb::Value::date(2460010), 1);
    EXPECT_EQ(xb::getVar("CTITFILTRO").asString(),
              "Filtro: Desde NOMBRE=GARCIA Hasta NOMBRE=GARCIA - Per\xedodo del " +
                  xb::Value::date(2460000).toText() + "  al  " + xb::Value::date(2460010).toText());
    // Only the first value: no field filter is applied, so the caption names
    // none (the period stays), and every record is read.
    const std::string blanks(20, ' ');
    EXPECT_TRUE(
        reports::IMPFAC(reports::ACTLZPARAM(xb::Value::str(""), xb::Value::str(""), "N", ">",
                                            xb::Value::str("1000"), "=", xb::Value::str(blanks),
                                            xb::Value::date(2460000), xb::Value::date(2460010), 1),
                        "CUERPO.RPO"));
    EXPECT_EQ(seen().size(), 6u);
    EXPECT_EQ(xb::getVar("CTITFILTRO").asString(),
              " - Per\xedodo del " + xb::Value::date(2460000).toText() + "  al  " +
                  xb::Value::date(2460010).toText());
    params("", "", "N", ">", xb::Value::str("1000"), "=", xb::Value::str(blanks));
    EXPECT_EQ(xb::getVar("CTITFILTRO").asString(), "");
    EXPECT_EQ(reports::bodyScriptName("INFVEN.RPO"), "INFVENc.rpo");
    EXPECT_EQ(reports::bodyScriptName("INF.RPO"), "INF.RPc.rpo");
}

// The page header is read once for each document: gone from the folder
// after the first page, it still heads the second; edited, it heads the
// next report as edited.
TEST_F(ReportRun, ReportRunsReadTheRowScriptAfreshAndTheHeaderOncePerDocument) {
    print::setUnattendedPdf(dir.filePath(QStringLiteral("renglon.pdf")));
    QFile::copy(QStringLiteral(VDR_SOURCE_DIR "/install/scripts/INICIO.RPO"),
                QStringLiteral("Prueba/INICIO.RPO"));
    std::ofstream("Prueba/INFZ.RPO") << "CTITULO := \"Prueba\"\r\nEJECUTAR(\"INFZc.rpo\")\r\n";
    std::ofstream("Prueba/INFZc.rpo")
        << "EJECUTAR(\"INICIO.RPO\")\r\nENCABEZADO(\"CAB.RPO\")\r\nBORRACAB()\r\n"
           "ENCABEZADO(\"CAB.RPO\")\r\nEJECUTAR(\"RENGLON.RPO\")\r\nOPRN:End()\r\n";
    xb::registerFunction("BORRACAB", [](xb::Args&) {
        QFile::remove(QStringLiteral("Prueba/CAB.RPO"));
        return xb::Value();
    });
    for (const char* row : {"A", "B"}) {
        std::ofstream("Prueba/CAB.RPO") << "AADD(VISTOS, \"cab" << row << "\")\r\n";
        std::ofstream("Prueba/RENGLON.RPO") << "AADD(VISTOS, \"" << row << "\")\r\n";
        reports::INFORM1("INFZ.RPO");
    }
    EXPECT_EQ(seen(), (std::vector<std::string>{"cabA", "cabA", "A", "cabB", "cabB", "B"}));
    EXPECT_EQ(xb::evalText("LEN(_FORM)").asNumber(), 2);
}

TEST_F(ReportRun, PrinterObjectDrawsCentimetresAndPixelsIntoAPdf) {
    QString pdf = dir.filePath("out.pdf");
    print::setUnattendedPdf(pdf);
    std::ofstream("Prueba/DIBUJO.RPO")
        << "OPRN := PRINTBEGIN(\"Dibujo\", .T.)\r\n"
           "F := ACTIVAFONT(\"Arial\", 0, -12, OPRN, .T., .F.)\r\n"
           "PEN := ACTIVAPEN(OPRN, 4)\r\n"
           "OPRN:StartPage()\r\n"
           "CAJARECT(1, 1, 5, 10, OPRN, PEN)\r\n"
           "LINEA(100, 100, 100, 900, OPRN, PEN, 2)\r\n"
           "CAJARECT(1, 1, 5, 10, OPRN, PEN, 3)\r\n"
           "OPRN:CmSay(2, 2, \"Hola desde el gui\xf3n\", F)\r\n"
           "RES := {OPRN:nLogPixelY(), OPRN:nVertRes() > 0, OPRN:nPage(), "
           "OPRN:GetTextHeight(\"X\", ACTIVAFONT(\"Arial\", 0, -40, OPRN)), "
           "OPRN:GetTextHeight(\"X\", ACTIVAFONT(\"Arial\", 0, 40, OPRN))}\r\n"
           "OPRN:End()\r\n";
    xb::createPublic("RES", xb::Value());
    xb::callFunction("EJECUTAR", {xb::Value::str("DIBUJO.RPO")});
    print::setUnattendedPdf(QString());
    xb::Value res = xb::getVar("RES");
    EXPECT_EQ(res.arrayPtr()->items[0].asNumber(), print::Document::kDpi);
    EXPECT_TRUE(res.arrayPtr()->items[1].asLogical());
    EXPECT_EQ(res.arrayPtr()->items[2].asNumber(), 1);
    // A positive height is the cell's: smaller characters than the same
    // negative one, whose 40 points are the characters' own.
    const double charHeight = res.arrayPtr()->items[3].asNumber();
    const double cellHeight = res.arrayPtr()->items[4].asNumber();
    EXPECT_LT(cellHeight, charHeight);
    EXPECT_NEAR(cellHeight, 40.0 * print::Document::kDpi / 72, 40.0 * print::Document::kDpi / 720);
    EXPECT_TRUE(pdfText(pdf).contains(QStringLiteral("Hola desde el gui\u00f3n")));
    // After End() the document is gone: drawing on it is an error, not a crash.
    EXPECT_THROW(xb::evalText("OPRN:Say(1, 1, \"x\")"), xb::Break);
}

// A printout that cannot be made is told in a message and given up, never
// raised as a runtime error: a PDF that cannot be written, no printer for a
// printer document.
TEST_F(ReportRun, APrintoutThatCannotBeMadeIsToldAndGivenUp) {
    std::ofstream("Prueba/FALLA.RPO")
        << "OPRN := PRINTBEGIN(\"Falla\")\r\nOPRN:End()\r\nRES := 1\r\n";
    xb::createPublic("RES", xb::Value());
    xb::createPublic("MPREVW", xb::Value::logical(true));
    const QString pdf = dir.filePath("no/hay/carpeta.pdf");
    print::setUnattendedPdf(pdf);
    EXPECT_THROW(xb::callFunction("EJECUTAR", {xb::Value::str("FALLA.RPO")}), xb::Abandon);
    print::setUnattendedPdf(QString());
    std::vector<std::string> told;
    for (const auto& a : scripted.of(data::ScriptedInteraction::Kind::Alert))
        told.push_back(a.message);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0], "No se pudo escribir el fichero " + pdf.toStdString());
    if (!print::printerAvailable()) {
        xb::assignVar("MPREVW", xb::Value::logical(false));
        EXPECT_THROW(xb::callFunction("EJECUTAR", {xb::Value::str("FALLA.RPO")}), xb::Abandon);
        auto alerts = scripted.of(data::ScriptedInteraction::Kind::Alert);
        ASSERT_EQ(alerts.size(), 2u);
        EXPECT_EQ(alerts[1].message, "No hay ninguna impresora instalada");
    }
    EXPECT_TRUE(xb::getVar("RES").isNil());
}

}  // namespace
