// The spreadsheet class: its helpers, the path without an office (the
// message once, then harmless no-ops), and a script that writes a real
// workbook through LibreOffice Calc, saved as xlsx and read back from the
// file itself.
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <map>

#include "outside_tools.h"
#include "program_session.h"
#include "sheet/excel.h"

using SessionTest = testsupport::ProgramSession;

TEST(ExcelHelpers, ColumnLettersBeyondZZ) {
    EXPECT_EQ(sheet::cColumn2Letter(1), "A");
    EXPECT_EQ(sheet::cColumn2Letter(26), "Z");
    EXPECT_EQ(sheet::cColumn2Letter(27), "AA");
    EXPECT_EQ(sheet::cColumn2Letter(52), "AZ");
    EXPECT_EQ(sheet::cColumn2Letter(53), "BA");
    EXPECT_EQ(sheet::cColumn2Letter(702), "ZZ");
    EXPECT_EQ(sheet::cColumn2Letter(703), "AAA");
    EXPECT_EQ(sheet::cColumn2Letter(16384), "XFD");
    EXPECT_EQ(sheet::cColumn2Letter(0), "");
    for (int c : {1, 26, 27, 52, 702, 703, 16384})
        EXPECT_EQ(sheet::cLetter2Column(sheet::cColumn2Letter(c)), c);
    EXPECT_EQ(sheet::cLetter2Column("a"), 1);
    EXPECT_EQ(sheet::cLetter2Column("1A"), 0);
}

TEST(ExcelHelpers, RangesAndDecimals) {
    EXPECT_EQ(sheet::cMakeRange(3, 2), "B3");
    EXPECT_EQ(sheet::cMakeRange(1, 1, 10, 3), "A1:C10");
    EXPECT_EQ(sheet::cMakeRange(2.9, 1), "A2");  // rows truncated
    EXPECT_EQ(sheet::numGetDecimals(2.5), 1);
    EXPECT_EQ(sheet::numGetDecimals(3), 0);
    EXPECT_EQ(sheet::numGetDecimals(-0.125), 3);
    EXPECT_EQ(sheet::numGetDecimals(1.0 / 3), 10);
    sheet::Area a;
    ASSERT_TRUE(sheet::parseRange("$B$3:A10", a));
    EXPECT_EQ(a.row1, 3);
    EXPECT_EQ(a.col1, 1);
    EXPECT_EQ(a.row2, 10);
    EXPECT_EQ(a.col2, 2);
    ASSERT_TRUE(sheet::parseRange("2:4", a));
    EXPECT_EQ(a.row1, 2);
    EXPECT_EQ(a.row2, 4);
    EXPECT_FALSE(sheet::parseRange("", a));
    EXPECT_FALSE(sheet::parseRange("A1:?", a));
}

class ExcelNoOffice : public SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        qputenv("VDR_OFFICE", QByteArray("/no/such/office"));
    }
    void TearDown() override {
        qunsetenv("VDR_OFFICE");
        SessionTest::TearDown();
    }
};

TEST_F(ExcelNoOffice, NewTellsOnceAndEveryLaterCallIsANoOp) {
    EXPECT_EQ(evn("CMAKERANGE(1, 1, 10, 3) == 'A1:C10'"), 0);  // logical, not a number
    EXPECT_TRUE(ev("CMAKERANGE(1, 1, 10, 3) == 'A1:C10'").asLogical());
    ev("oXl := TExcelScript():New()");
    EXPECT_FALSE(ev("oXl:lExcel").asLogical());
    auto infos = scripted.of(data::ScriptedInteraction::Kind::Info);
    ASSERT_EQ(infos.size(), 1u);
    EXPECT_EQ(infos[0].message, "No est\xe1 Excel Instalado en est\xe1 Pc.");
    ev("oXl:Create('x.xlsx'), oXl:Say(1, 1, 'hola'), oXl:Formula(1, 2, '=A1'), oXl:Save()");
    ev("oXl:AddCol({|| 1}), oXl:WBrowse(1, 1, 'array')");
    // The drawing and data-range methods too: nothing to act on, no notice.
    ev("oXl:SetPage(9), oXl:Subtotal('A1:B3', 1, 1, {2}), oXl:AutoFilter('A1:B3', 1, '>1')");
    ev("oXl:Chart('A1:B3'), oXl:Picture('x.png', 'A1'), oXl:AddPicture('x.png')");
    ev("oXl:AddShape(9), oXl:End()");
    EXPECT_TRUE(ev("oXl:Get(1, 1)").isNil());
    EXPECT_EQ(scripted.of(data::ScriptedInteraction::Kind::Info).size(), 1u);
    EXPECT_FALSE(QFile::exists(QStringLiteral("x.xlsx")));
    // The defaults are the class's own and still answer.
    ev("oXl:Font('Courier')");
    EXPECT_EQ(ev("oXl:cFont").asString(), "Courier");
    // An unknown message: the notice, and nothing else happens.
    EXPECT_TRUE(ev("oXl:Volar(1)").isNil());
    infos = scripted.of(data::ScriptedInteraction::Kind::Info);
    ASSERT_EQ(infos.size(), 2u);
    EXPECT_EQ(infos[1].message, "La propiedad VOLAR no existe ");
    EXPECT_EQ(infos[1].title, "Aviso al usuario");
}

namespace {

bool officeInstalled() {
    return QFile::exists(QStringLiteral("/usr/lib/libreoffice/program/soffice"));
}

// Reads an xlsx without the office: every cell as SHEET!A1=value, formulas as
// SHEET!A1=f:FORMULA, and the number format of each styled cell as
// SHEET!A1#FORMAT.
QStringList readXlsx(const QString& file) {
    static const char* script = R"PY(
import sys, zipfile, re
import xml.etree.ElementTree as ET
ns = {'m': 'http://schemas.openxmlformats.org/spreadsheetml/2006/main',
      'r': 'http://schemas.openxmlformats.org/officeDocument/2006/relationships'}
z = zipfile.ZipFile(sys.argv[1])
shared = []
if 'xl/sharedStrings.xml' in z.namelist():
    for si in ET.fromstring(z.read('xl/sharedStrings.xml')).findall('m:si', ns):
        shared.append(''.join(t.text or '' for t in si.iter('{%s}t' % ns['m'])))
styles = ET.fromstring(z.read('xl/styles.xml'))
fmts = {2: '0.00', 3: '#,##0', 4: '#,##0.00', 14: 'mm-dd-yy'}
fmts.update({int(n.get('numFmtId')): n.get('formatCode') for n in styles.iter('{%s}numFmt' % ns['m'])})
xfs = [int(x.get('numFmtId', '0')) for x in styles.find('m:cellXfs', ns).findall('m:xf', ns)]
wb = ET.fromstring(z.read('xl/workbook.xml'))
rels = ET.fromstring(z.read('xl/_rels/workbook.xml.rels'))
target = {r.get('Id'): r.get('Target') for r in rels}
for s in wb.find('m:sheets', ns):
    name = s.get('name')
    path = 'xl/' + target[s.get('{%s}id' % ns['r'])]
    for c in ET.fromstring(z.read(path)).iter('{%s}c' % ns['m']):
        ref = c.get('r'); f = c.find('m:f', ns); v = c.find('m:v', ns)
        if f is not None:
            print('%s!%s=f:%s' % (name, ref, f.text))
        if v is not None:
            val = shared[int(v.text)] if c.get('t') == 's' else v.text
            print('%s!%s=%s' % (name, ref, val))
        st = c.get('s')
        if st is not None and xfs[int(st)] in fmts:
            print('%s!%s#%s' % (name, ref, fmts[xfs[int(st)]]))
)PY";
    QProcess p;
    p.start(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromUtf8(script), file});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput())
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The names of a zip's entries (an xlsx or an ods), and one entry's text.
QStringList zipNames(const QString& file) {
    QProcess p;
    p.start(
        QStringLiteral("python3"),
        {QStringLiteral("-c"),
         QStringLiteral("import sys, zipfile\nfor n in zipfile.ZipFile(sys.argv[1]).namelist(): "
                        "print(n)"),
         file});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput())
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString zipText(const QString& file, const QString& entry) {
    QProcess p;
    p.start(
        QStringLiteral("python3"),
        {QStringLiteral("-c"),
         QStringLiteral("import sys, zipfile\n"
                        "sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read(sys.argv[2]))"),
         file, entry});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

// A small picture made here, so that no test data is needed for it.
QString makePng(const QDir& dir) {
    QImage img(40, 30, QImage::Format_RGB32);
    img.fill(QColor(0, 0, 128));
    for (int x = 0; x < 40; ++x) img.setPixel(x, x * 30 / 40, qRgb(255, 235, 175));
    QString path = dir.filePath(QStringLiteral("logo.png"));
    img.save(path, "PNG");
    return path;
}

}  // namespace

class ExcelOffice : public SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        VDR_NEED_TOOL(officeInstalled(), "LibreOffice Calc");
        qputenv("VDR_OFFICE_PIPE",
                QByteArray("vdrtest_") + QByteArray::number(QCoreApplication::applicationPid()));
        qputenv("VDR_OFFICE_PROFILE", dir.filePath(QStringLiteral("perfil")).toUtf8());
        // Headless whatever display the run inherits: an office on a display
        // would outlive the test once a workbook is shown.
        for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY"}) {
            display[v] = qgetenv(v);
            qunsetenv(v);
        }
    }
    // oXl on the test's office with a new workbook meant for `file`.
    void newBook(const QString& file) {
        ev("oXl := TExcelScript():New()");
        ASSERT_TRUE(ev("oXl:lExcel").asLogical()) << "the office did not answer";
        ev("oXl:Create('" + file.toStdString() + "')");
    }
    void TearDown() override {
        ev("IF(TYPE('oXl') == 'O', oXl:End(), NIL)");
        qunsetenv("VDR_OFFICE_PIPE");
        qunsetenv("VDR_OFFICE_PROFILE");
        for (const auto& [v, value] : display)
            if (!value.isEmpty()) qputenv(v, value);
        SessionTest::TearDown();
    }
    std::map<const char*, QByteArray> display;
};

TEST_F(ExcelOffice, AScriptWritesAWorkbookReadBackFromTheFile) {
    makeTable("vend.dbf", "Vend", "{{'CODIGO','C',4,0},{'NOMBRE','C',20,0},{'VENTAS','N',10,2}}",
              {"FIELD->CODIGO := 'V001', FIELD->NOMBRE := 'Ana Pe\xf1"
               "a', FIELD->VENTAS := 1500.5",
               "FIELD->CODIGO := 'V002', FIELD->NOMBRE := 'Luis', FIELD->VENTAS := 300"});
    ev("oXl := TExcelScript():New()");
    ASSERT_TRUE(ev("oXl:lExcel").asLogical()) << "the office did not answer";
    std::string out = dir.filePath(QStringLiteral("libro.xlsx")).toStdString();
    ev("oXl:Create('" + out + "')");
    EXPECT_TRUE(ev("oXl:SeekSheet('Hoja1')").asLogical());
    ev("oXl:Say(1, 1, 'Total')");
    ev("oXl:Say(2, 1, 1234.5, , , , , , , , , , , '#,##0.00')");
    ev("oXl:Say(3, 1, 10)");
    ev("oXl:Formula(4, 1, '=SUMA(A2;A3)')");
    EXPECT_EQ(ev("oXl:Get(2, 1)").asString(), std::string(15, ' ') + "1234.5");
    EXPECT_EQ(evn("oXl:Get(4, 1, 'N')"), 1244.5);
    EXPECT_EQ(ev("oXl:Get(1, 1)").asString(), "Total");
    EXPECT_EQ(ev("oXl:Get(9, 9)").asString(), "");
    // A rejected formula is told and leaves the cell as it was.
    ev("oXl:Formula(5, 1, '=1+)')");
    auto infos = scripted.of(data::ScriptedInteraction::Kind::Info);
    ASSERT_FALSE(infos.empty());
    EXPECT_EQ(infos.back().message, "La formula no es correcta =1+)");
    // A second sheet with the salespeople table.
    ev("oXl:AddSheet(), oXl:SetSheet(1), oXl:NameSheet(1, 'Vendedores')");
    EXPECT_EQ(evn("oXl:CountSheets()"), 2);
    EXPECT_TRUE(ev("oXl:SeekSheet('vendedores')").asLogical());
    ev("DBSELECTAREA('Vend'), DBGOTOP()");
    ev("oXl:AddCol({|| Vend->CODIGO},, , , {|| 'C\xf3"
       "digo'})");
    ev("oXl:AddCol({|| Vend->VENTAS}, 4, , , {|| 'Ventas'}, {|| 'fin'})");
    ev("oXl:WBrowse(1, 1, 'Vend')");
    EXPECT_EQ(evn("oXl:nAt"), 2);
    ev("oXl:SaveAs('" + out + "', 51)");
    ev("oXl:End()");

    QStringList cells = readXlsx(QString::fromStdString(out));
    ASSERT_FALSE(cells.isEmpty());
    auto has = [&](const QString& s) { return cells.contains(s); };
    EXPECT_TRUE(has(QStringLiteral("Vendedores!A1=Código"))) << cells.join(' ').toStdString();
    EXPECT_TRUE(has(QStringLiteral("Vendedores!B1=Ventas")));
    EXPECT_TRUE(has(QStringLiteral("Vendedores!A2=V001")));
    EXPECT_TRUE(has(QStringLiteral("Vendedores!B2=1500.5")));
    EXPECT_TRUE(has(QStringLiteral("Vendedores!B3=300")));
    EXPECT_TRUE(has(QStringLiteral("Vendedores!B4=fin")));
    EXPECT_FALSE(has(QStringLiteral("Vendedores!A4=")));
    // The first sheet's values, its formula and its format.
    QString first;
    for (const auto& c : cells)
        if (c.endsWith(QLatin1String("=Total"))) first = c.section(QLatin1Char('!'), 0, 0);
    ASSERT_FALSE(first.isEmpty());
    EXPECT_EQ(first, QStringLiteral("Hoja1"));
    EXPECT_TRUE(has(first + QStringLiteral("!A2=1234.5")));
    EXPECT_TRUE(has(first + QStringLiteral("!A4=f:SUM(A2,A3)")));
    EXPECT_TRUE(has(first + QStringLiteral("!A4=1244.5")));
    EXPECT_TRUE(has(first + QStringLiteral("!A2##,##0.00")))
        << cells.join(QLatin1Char(' ')).toStdString();
}

// The desktop's mail program and browser, as recording stand-ins first in
// the PATH: each call appends its name and arguments, one a line, to
// `calls`.
class DesktopTools {
  public:
    explicit DesktopTools(const QDir& dir) : calls(dir.filePath(QStringLiteral("llamadas.txt"))) {
        dir.mkpath(QStringLiteral("bin"));
        for (const char* tool : {"xdg-email", "xdg-open"}) {
            QFile f(dir.filePath(QStringLiteral("bin/") + QLatin1String(tool)));
            f.open(QIODevice::WriteOnly);
            f.write("#!/bin/sh\n{ basename \"$0\"; for a in \"$@\"; do echo \"$a\"; done; } >> '" +
                    calls.toUtf8() + "'\n");
            f.close();
            f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        path = qgetenv("PATH");
        use(dir.filePath(QStringLiteral("bin")).toUtf8() + ":" + path);
    }
    ~DesktopTools() { use(path); }
    static void use(const QByteArray& p) { qputenv("PATH", p); }
    // The recorded lines once `count` of them are there (the tools run
    // on their own).
    QStringList lines(int count) const {
        QStringList out;
        for (int i = 0; i < 200 && out.size() < count; ++i) {
            QFile f(calls);
            if (f.open(QIODevice::ReadOnly))
                out = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            if (out.size() < count) QThread::msleep(50);
        }
        return out;
    }
    QString calls;
    QByteArray path;
};

TEST_F(ExcelOffice, OdsFindReplaceMailAndWebPreview) {
    ev("oXl := TExcelScript():New()");
    ASSERT_TRUE(ev("oXl:lExcel").asLogical());
    std::string out = dir.filePath(QStringLiteral("libro.ods")).toStdString();
    ev("oXl:Create('" + out + "')");
    ev("oXl:SetArray({{'uno', 1}, {'dos', 2}, {'uno y dos', 3}})");
    ev("oXl:WBrowse(1, 1, 'array')");
    EXPECT_EQ(evn("oXl:nAt"), 3);
    EXPECT_EQ(evn("oXl:nRows()"), 4);
    EXPECT_TRUE(ev("oXl:Find('dos')").asLogical());
    EXPECT_EQ(ev("oXl:oFind").asString(), "A3");
    ev("oXl:SetPos('A1')");
    EXPECT_TRUE(ev("oXl:Replace('uno', 'UNO', , .T., .T.)").asLogical());
    EXPECT_EQ(ev("oXl:Get(2, 1)").asString(), "UNO");
    EXPECT_EQ(ev("oXl:Get(4, 1)").asString(), "UNO y dos");
    size_t before = scripted.of(data::ScriptedInteraction::Kind::Info).size();
    {
        DesktopTools tools{QDir(dir.path())};
        EXPECT_EQ(evn("oXl:MailSystem()"), 1);
        ev("oXl:SendeMail('')");  // nobody to ask: nothing
        ev("oXl:SendMail('a@b.c', 'Ventas de marzo')");
        QStringList mail = tools.lines(6);
        EXPECT_EQ(mail, QStringList({QStringLiteral("xdg-email"), QStringLiteral("--subject"),
                                     QStringLiteral("Ventas de marzo"), QStringLiteral("--attach"),
                                     QString::fromStdString(out), QStringLiteral("a@b.c")}));
        // The attachment is the workbook as it was when mailed.
        EXPECT_TRUE(zipNames(QString::fromStdString(out)).contains(QStringLiteral("content.xml")));
        ev("oXl:WebPagePreview()");
        QStringList all = tools.lines(8);
        ASSERT_EQ(all.size(), 8) << all.join(QLatin1Char(' ')).toStdString();
        EXPECT_EQ(all[6], QStringLiteral("xdg-open"));
        QFile page(all[7]);
        ASSERT_TRUE(page.open(QIODevice::ReadOnly)) << all[7].toStdString();
        EXPECT_TRUE(page.readAll().contains("UNO y dos"));
        page.remove();
        EXPECT_EQ(scripted.of(data::ScriptedInteraction::Kind::Info).size(), before);
        // A dialog Calc does not have, and one it has but cannot show headless.
        ev("oXl:Dialogs(999), oXl:Dialogs(5)");
        auto infos = scripted.of(data::ScriptedInteraction::Kind::Info);
        ASSERT_EQ(infos.size(), before + 2);
        EXPECT_EQ(infos[before].message,
                  "La hoja de c\xe1lculo no tiene el di\xe1logo 999; no se ha hecho nada.");
        EXPECT_EQ(infos[before].title, "Aviso al usuario");
        // Without the desktop's tools: what is missing is told.
        DesktopTools::use(dir.filePath(QStringLiteral("vacio")).toUtf8());
        EXPECT_EQ(evn("oXl:MailSystem()"), 0);
        ev("oXl:SendMail('a@b.c')");
        infos = scripted.of(data::ScriptedInteraction::Kind::Info);
        ASSERT_EQ(infos.size(), before + 3);
        EXPECT_EQ(infos.back().message,
                  "No se puede enviar el libro por correo: falta el programa xdg-email (paquete "
                  "xdg-utils)");
    }
    ev("oXl:Save()");
    EXPECT_EQ(evn("oXl:nFormat"), 51);
    ev("oXl:SaveAs('" + out + "')");
    EXPECT_EQ(evn("oXl:nFormat"), 60);
    ev("oXl:End()");
    QFile f(QString::fromStdString(out));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.read(128).contains("application/vnd.oasis.opendocument.spreadsheet"));
}

// Subtotals, an autofilter and the paper size, each read back from the xlsx
// the office saved: the subtotal rows with their SUBTOTAL formulas and totals,
// the filter with its hidden row, the page set-up's paper number.
TEST_F(ExcelOffice, SubtotalsAutofilterAndPaperSizeReachTheXlsx) {
    QString out = dir.filePath(QStringLiteral("totales.xlsx"));
    ASSERT_NO_FATAL_FAILURE(newBook(out));
    // Sheet 1: sales by zone (not in alphabetical order), summed (9 sums,
    // as any number beyond 5 does).
    const char* rows[][3] = {{"'Zona'", "'Ventas'", "'Unidades'"},
                             {"'Norte'", "10", "1"},
                             {"'Norte'", "20", "2"},
                             {"'Este'", "5", "4"}};
    auto writeSales = [&] {
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 3; ++c)
                ev("oXl:Say(" + std::to_string(r + 1) + ", " + std::to_string(c + 1) + ", " +
                   rows[r][c] + ")");
    };
    writeSales();
    ev("oXl:Subtotal('A1:C4', 1, 9, {2, 3})");
    // Two groups and the grand total: three rows more.
    EXPECT_EQ(evn("oXl:nRows()"), 7);
    ev("oXl:NameSheet(1, 'Sumas')");
    // Sheet 2: the same block averaged over one column.
    ev("oXl:AddSheet(), oXl:SetSheet(1)");
    writeSales();
    ev("oXl:Subtotal('A1:C4', 1, 2, {2})");
    ev("oXl:NameSheet(1, 'Medias')");
    // Count and the two standard deviations, one sheet each.
    for (const char* fn : {"3", "4", "5"}) {
        ev("oXl:AddSheet(), oXl:SetSheet(1)");
        writeSales();
        ev(std::string("oXl:Subtotal('A1:C4', 1, ") + fn + ", {2})");
        ev(std::string("oXl:NameSheet(1, 'F") + fn + "')");
    }
    // Sheet 3: a filter for sales over 10, on Legal paper.
    ev("oXl:AddSheet(), oXl:SetSheet(1), oXl:NameSheet(1, 'Filtro')");
    writeSales();
    ev("oXl:AutoFilter('A1:C4', 2, '>10')");
    ev("oXl:SetLandScape(), oXl:SetPage(5)");  // Legal, lying
    // An unknown paper: the notice, and the page keeps its size.
    size_t before = scripted.of(data::ScriptedInteraction::Kind::Info).size();
    ev("oXl:SetPage(777)");
    auto infos = scripted.of(data::ScriptedInteraction::Kind::Info);
    ASSERT_EQ(infos.size(), before + 1);
    EXPECT_EQ(infos.back().message, "El tama\xf1o de papel 777 no se conoce; no se ha hecho nada.");
    EXPECT_EQ(infos.back().title, "Aviso al usuario");
    ev("oXl:SaveAs('" + out.toStdString() + "', 51)");
    ev("oXl:End()");

    QStringList cells = readXlsx(out);
    auto has = [&](const QString& s) { return cells.contains(s); };
    QString all = cells.join(QLatin1Char(' '));
    const QString first = QStringLiteral("Sumas");
    EXPECT_TRUE(has(first + QStringLiteral("!B4=f:SUBTOTAL(9,$B$2:$B$3)"))) << all.toStdString();
    EXPECT_TRUE(has(first + QStringLiteral("!B4=30")));
    // The rows keep their order (no sorting before grouping), the total rows
    // are labelled in Spanish and take the numbers' format.
    EXPECT_TRUE(has(first + QStringLiteral("!A2=Norte")));
    EXPECT_TRUE(has(first + QStringLiteral("!A4=Total Norte")));
    EXPECT_TRUE(has(first + QStringLiteral("!A5=Este")));
    EXPECT_TRUE(has(first + QStringLiteral("!A6=Total Este")));
    EXPECT_TRUE(has(first + QStringLiteral("!A7=Total general")));
    EXPECT_TRUE(has(first + QStringLiteral("!B4#0")));
    EXPECT_TRUE(has(first + QStringLiteral("!C4=f:SUBTOTAL(9,$C$2:$C$3)")));
    EXPECT_TRUE(has(first + QStringLiteral("!C4=3")));
    EXPECT_TRUE(has(first + QStringLiteral("!B6=f:SUBTOTAL(9,$B$5:$B$5)")));
    EXPECT_TRUE(has(first + QStringLiteral("!B6=5")));
    EXPECT_TRUE(has(first + QStringLiteral("!B7=f:SUBTOTAL(9,$B$2:$B$5)")));
    EXPECT_TRUE(has(first + QStringLiteral("!B7=35")));
    EXPECT_TRUE(has(first + QStringLiteral("!C7=7")));
    // Averages: Excel's function 1 is the average, and only column B.
    EXPECT_TRUE(has(QStringLiteral("Medias!B4=f:SUBTOTAL(1,$B$2:$B$3)"))) << all.toStdString();
    EXPECT_TRUE(has(QStringLiteral("Medias!B4=15")));
    EXPECT_FALSE(all.contains(QStringLiteral("Medias!C4=f:")));
    // Excel's own numbers in the formulas: 3 counts the filled cells, 7 and
    // 8 are the sample and the population standard deviations.
    EXPECT_TRUE(has(QStringLiteral("F3!B4=f:SUBTOTAL(3,$B$2:$B$3)")));
    EXPECT_TRUE(has(QStringLiteral("F3!B4=2")));
    EXPECT_TRUE(has(QStringLiteral("F4!B4=f:SUBTOTAL(7,$B$2:$B$3)")));
    EXPECT_TRUE(has(QStringLiteral("F5!B4=f:SUBTOTAL(8,$B$2:$B$3)")));
    EXPECT_TRUE(has(QStringLiteral("F5!B4=5")));

    // The filter sheet: its autofilter, the condition, and rows 2 and 4
    // hidden (10 and 5 are not over 10).
    QString wb = zipText(out, QStringLiteral("xl/workbook.xml"));
    int filterSheet = -1, n = 0;
    for (const auto& m :
         QRegularExpression(QStringLiteral("<sheet [^>]*name=\"([^\"]+)\"")).globalMatch(wb)) {
        ++n;
        auto mm = m;
        if (mm.captured(1) == QLatin1String("Filtro")) filterSheet = n;
    }
    ASSERT_GT(filterSheet, 0) << wb.toStdString();
    QString xml = zipText(out, QStringLiteral("xl/worksheets/sheet%1.xml").arg(filterSheet));
    EXPECT_TRUE(xml.contains(QRegularExpression(QStringLiteral("<autoFilter ref=\"A1:C4\""))))
        << xml.toStdString();
    EXPECT_TRUE(xml.contains(
        QRegularExpression(QStringLiteral("customFilter operator=\"greaterThan\" val=\"10\""))))
        << xml.toStdString();
    auto hidden = [&](int row) {
        return xml.contains(
            QRegularExpression(QStringLiteral("<row r=\"%1\"[^>]*hidden=\"(true|1)\"").arg(row)));
    };
    EXPECT_TRUE(hidden(2));
    EXPECT_FALSE(hidden(3));
    EXPECT_TRUE(hidden(4));
    EXPECT_TRUE(xml.contains(QRegularExpression(
        QStringLiteral("<pageSetup [^>]*paperSize=\"5\"[^>]*orientation=\"landscape\""))))
        << xml.toStdString();
}

// An autofilter without criteria only puts the buttons on; a criterion with
// "<>" keeps every row but the one it names; an ods keeps the filter too.
TEST_F(ExcelOffice, AutofilterButtonsAndNotEqualCriteria) {
    QString xlsx = dir.filePath(QStringLiteral("filtro.xlsx"));
    QString ods = dir.filePath(QStringLiteral("filtro.ods"));
    ASSERT_NO_FATAL_FAILURE(newBook(xlsx));
    ev("oXl:SetArray({{'Zona', 'Ventas'}, {'Norte', 1}, {'Sur', 2}, {'Este', 3}})");
    ev("oXl:WBrowse(1, 1, 'array')");  // a blank heading row, then the list
    ev("oXl:AutoFilter('A2:B5')");
    ev("oXl:SaveAs('" + xlsx.toStdString() + "', 51)");
    QString xml = zipText(xlsx, QStringLiteral("xl/worksheets/sheet1.xml"));
    EXPECT_TRUE(xml.contains(QStringLiteral("<autoFilter ref=\"A2:B5\""))) << xml.toStdString();
    EXPECT_FALSE(xml.contains(QRegularExpression(QStringLiteral("hidden=\"(true|1)\""))));
    ev("oXl:AutoFilter('A2:B5', 1, '<>Sur')");
    ev("oXl:SaveAs('" + ods.toStdString() + "')");
    ev("oXl:SaveAs('" + xlsx.toStdString() + "', 51)");
    ev("oXl:End()");
    xml = zipText(xlsx, QStringLiteral("xl/worksheets/sheet1.xml"));
    EXPECT_TRUE(
        xml.contains(QRegularExpression(QStringLiteral("<row r=\"4\"[^>]*hidden=\"(true|1)\""))))
        << xml.toStdString();
    EXPECT_FALSE(
        xml.contains(QRegularExpression(QStringLiteral("<row r=\"3\"[^>]*hidden=\"(true|1)\""))));
    QString content = zipText(ods, QStringLiteral("content.xml"));
    EXPECT_TRUE(content.contains(QStringLiteral("table:display-filter-buttons=\"true\"")))
        << content.toStdString();
    EXPECT_TRUE(content.contains(
        QRegularExpression(QStringLiteral("table:filter-condition [^>]*table:value=\"Sur\""))));
}

// A chart, two pictures and two shapes: the xlsx holds a drawing with the
// chart part (its title and horizontal bars), the picture as a media file
// and the shapes' geometries; the ods keeps the chart object and the
// embedded picture. A missing picture file is told and adds nothing.
TEST_F(ExcelOffice, ChartPicturesAndShapesAreSavedWithTheWorkbook) {
    QString png = makePng(QDir(dir.path()));
    QString out = dir.filePath(QStringLiteral("dibujos.xlsx"));
    QString ods = dir.filePath(QStringLiteral("dibujos.ods"));
    ASSERT_NO_FATAL_FAILURE(newBook(out));
    ev("oXl:Say(1, 1, 'Zona'), oXl:Say(1, 2, 'Ventas')");
    ev("oXl:Say(2, 1, 'Norte'), oXl:Say(2, 2, 30)");
    ev("oXl:Say(3, 1, 'Sur'), oXl:Say(3, 2, 5)");
    ev("oXl:Chart('A1:B3', 'Ventas por zona', 57)");  // xlBarClustered
    ev("oXl:Chart('A1:B3')");                         // upright columns, the default title
    ev("oXl:Picture('" + png.toStdString() + "', 'E20')");
    EXPECT_EQ(ev("oXl:oCell").asString(), "E20");
    ev("oXl:AddPicture('" + png.toStdString() + "', 300, 300, 50, 40)");
    ev("oXl:AddShape(9, 10, 400, 80, 40)");  // an oval
    ev("oXl:AddShape(5)");                   // a rounded rectangle at 1, 1
    size_t before = scripted.of(data::ScriptedInteraction::Kind::Info).size();
    ev("oXl:Picture('no_esta.png', 'A1')");
    ev("oXl:AddPicture()");  // nothing without a file
    auto infos = scripted.of(data::ScriptedInteraction::Kind::Info);
    ASSERT_EQ(infos.size(), before + 1);
    EXPECT_EQ(infos.back().message,
              "No existe el archivo no_esta.png; no se ha insertado la imagen.");
    // A file that is no picture: the office's refusal, told, and nothing added.
    {
        QFile f(dir.filePath(QStringLiteral("falsa.png")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("esto no es una imagen");
    }
    ev("oXl:AddPicture('falsa.png')");
    infos = scripted.of(data::ScriptedInteraction::Kind::Info);
    ASSERT_EQ(infos.size(), before + 2);
    EXPECT_EQ(infos.back().message,
              "La hoja de c\xe1lculo no pudo hacer ADDPICTURE: El archivo falsa.png no es una "
              "imagen");
    ev("oXl:SaveAs('" + ods.toStdString() + "')");
    ev("oXl:SaveAs('" + out.toStdString() + "', 51)");
    ev("oXl:End()");

    // Ending the office closed the workbook: no lock file is left beside it.
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral(".~lock.dibujos.xlsx#"))));
    QStringList names = zipNames(out);
    QString all = names.join(QLatin1Char(' '));
    QStringList charts =
        names.filter(QRegularExpression(QStringLiteral("^xl/charts/chart\\d+\\.xml$")));
    ASSERT_EQ(charts.size(), 2) << all.toStdString();
    QString bars, columns;
    for (const auto& c : charts) {
        QString text = zipText(out, c);
        (text.contains(QStringLiteral("Ventas por zona")) ? bars : columns) = text;
    }
    ASSERT_FALSE(bars.isEmpty());
    EXPECT_TRUE(bars.contains(QStringLiteral("<c:barDir val=\"bar\"/>"))) << bars.toStdString();
    EXPECT_TRUE(bars.contains(QStringLiteral("$A$2:$A$3")));  // the zones name the categories
    EXPECT_TRUE(columns.contains(QStringLiteral("<c:barDir val=\"col\"/>")))
        << columns.toStdString();
    EXPECT_TRUE(columns.contains(QStringLiteral(">Grafica<")));
    // Both pictures are embedded: one media file each (or one shared), PNG.
    QStringList media = names.filter(QRegularExpression(QStringLiteral("^xl/media/.+\\.png$")));
    EXPECT_GE(media.size(), 1) << all.toStdString();
    QStringList drawings =
        names.filter(QRegularExpression(QStringLiteral("^xl/drawings/drawing\\d+\\.xml$")));
    ASSERT_EQ(drawings.size(), 1) << all.toStdString();
    QString drawing = zipText(out, drawings[0]);
    EXPECT_EQ(drawing.count(QStringLiteral("<xdr:pic>")), 2) << drawing.toStdString();
    EXPECT_EQ(drawing.count(QStringLiteral("<xdr:graphicFrame")), 2);
    EXPECT_TRUE(drawing.contains(QStringLiteral("prst=\"ellipse\""))) << drawing.toStdString();
    EXPECT_TRUE(drawing.contains(QStringLiteral("prst=\"roundRect\"")));
    // The picture placed at E20 starts in column E (index 4), row 20 (index 19).
    EXPECT_TRUE(drawing.contains(QRegularExpression(QStringLiteral(
        "<xdr:from><xdr:col>4</xdr:col><xdr:colOff>0</xdr:colOff><xdr:row>19</xdr:row>"))))
        << drawing.toStdString();

    QStringList odsNames = zipNames(ods);
    EXPECT_FALSE(
        odsNames.filter(QRegularExpression(QStringLiteral("^Pictures/.+\\.png$"))).isEmpty())
        << odsNames.join(QLatin1Char(' ')).toStdString();
    QString content = zipText(ods, QStringLiteral("content.xml"));
    EXPECT_TRUE(content.contains(QStringLiteral("<draw:object ")));
    EXPECT_TRUE(content.contains(QStringLiteral("draw:type=\"ellipse\"")));
}

// The program's own paths: backslashes and any case, relative to the
// installation, for the workbook and the pictures; a folder that is not
// there is told and nothing is written. Formulas in the user's Spanish
// notation, read back from the saved file; a refused one is told and the
// cell keeps its value.
TEST_F(ExcelOffice, ProgramPathsAndLocalFormulas) {
    makePng(QDir(dir.path()));
    ASSERT_NO_FATAL_FAILURE(newBook(QStringLiteral(".\\Prueba\\LIBRO.XLS")));
    ev("oXl:Say(1, 1, 10), oXl:Say(2, 1, 20), oXl:Say(3, 1, 12)");
    ev("oXl:Picture('.\\LOGO.PNG', 'C5')");
    size_t before = scripted.of(data::ScriptedInteraction::Kind::Info).size();
    ev("oXl:Formula(4, 1, '=SUMA(A1:A3)'), oXl:Formula(5, 1, '=1,5*2')");
    ev("oXl:Formula(6, 1, '=PROMEDIO(1;2;3)')");
    ev("oXl:Formula(1, 2, '=SI(CONTAR(A1:A3)>2;\"muchos\";\"pocos\")')");
    EXPECT_EQ(scripted.of(data::ScriptedInteraction::Kind::Info).size(), before);
    EXPECT_EQ(evn("oXl:Get(4, 1, 'N')"), 42);
    EXPECT_EQ(evn("oXl:Get(5, 1, 'N')"), 3);
    ev("oXl:Formula(3, 1, '=SUMA(1;')");
    auto infos = scripted.of(data::ScriptedInteraction::Kind::Info);
    ASSERT_EQ(infos.size(), before + 1);
    EXPECT_EQ(infos.back().message, "La formula no es correcta =SUMA(1;");
    EXPECT_EQ(infos.back().title, "Aviso al usuario");
    EXPECT_EQ(evn("oXl:Get(3, 1, 'N')"), 12);
    ++before;
    ev("oXl:Save()");
    EXPECT_EQ(scripted.of(data::ScriptedInteraction::Kind::Info).size(), before);
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("Prueba/LIBRO.XLS"))));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral(".\\Prueba\\LIBRO.XLS"))));
    ev("oXl:SaveAs('.\\NoHay\\OTRO.XLS')");
    infos = scripted.of(data::ScriptedInteraction::Kind::Info);
    ASSERT_EQ(infos.size(), before + 1);
    EXPECT_EQ(infos.back().message,
              "No se puede grabar el archivo .\\NoHay\\OTRO.XLS: no existe su carpeta");
    EXPECT_EQ(ev("oXl:cFile").asString(), ".\\Prueba\\LIBRO.XLS");
    ev("oXl:End(.F.)");
    // Read back from the file, named in another case.
    ev("oXl:Open('.\\prueba\\libro.xls')");
    EXPECT_EQ(scripted.of(data::ScriptedInteraction::Kind::Info).size(), before + 1);
    EXPECT_EQ(evn("oXl:Get(2, 1, 'N')"), 20);
    EXPECT_EQ(evn("oXl:Get(3, 1, 'N')"), 12);
    EXPECT_EQ(evn("oXl:Get(4, 1, 'N')"), 42);
    EXPECT_EQ(evn("oXl:Get(5, 1, 'N')"), 3);
    EXPECT_EQ(evn("oXl:Get(6, 1, 'N')"), 2);
    EXPECT_EQ(ev("oXl:Get(1, 2)").asString(), "muchos");
    EXPECT_EQ(evn("oXl:nFormat"), 56);
}
