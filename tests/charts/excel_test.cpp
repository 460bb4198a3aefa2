// The spreadsheet class: its helpers, the path without an office (the
// message once, then harmless no-ops), and a script that writes a real
// workbook through LibreOffice Calc, saved as xlsx and read back from the
// file itself.
#include <QFile>
#include <QProcess>

#include "chartfixture.h"
#include "charts/excel.h"

using charttest::SessionTest;

TEST(ExcelHelpers, ColumnLettersBeyondZZ) {
    EXPECT_EQ(charts::cColumn2Letter(1), "A");
    EXPECT_EQ(charts::cColumn2Letter(26), "Z");
    EXPECT_EQ(charts::cColumn2Letter(27), "AA");
    EXPECT_EQ(charts::cColumn2Letter(52), "AZ");
    EXPECT_EQ(charts::cColumn2Letter(53), "BA");
    EXPECT_EQ(charts::cColumn2Letter(702), "ZZ");
    EXPECT_EQ(charts::cColumn2Letter(703), "AAA");
    EXPECT_EQ(charts::cColumn2Letter(16384), "XFD");
    EXPECT_EQ(charts::cColumn2Letter(0), "");
    for (int c : {1, 26, 27, 52, 702, 703, 16384})
        EXPECT_EQ(charts::cLetter2Column(charts::cColumn2Letter(c)), c);
    EXPECT_EQ(charts::cLetter2Column("a"), 1);
    EXPECT_EQ(charts::cLetter2Column("1A"), 0);
}

TEST(ExcelHelpers, RangesAndDecimals) {
    EXPECT_EQ(charts::cMakeRange(3, 2), "B3");
    EXPECT_EQ(charts::cMakeRange(1, 1, 10, 3), "A1:C10");
    EXPECT_EQ(charts::cMakeRange(2.9, 1), "A2");  // rows truncated
    EXPECT_EQ(charts::numGetDecimals(2.5), 1);
    EXPECT_EQ(charts::numGetDecimals(3), 0);
    EXPECT_EQ(charts::numGetDecimals(-0.125), 3);
    EXPECT_EQ(charts::numGetDecimals(1.0 / 3), 10);
    charts::Area a;
    ASSERT_TRUE(charts::parseRange("$B$3:A10", a));
    EXPECT_EQ(a.row1, 3);
    EXPECT_EQ(a.col1, 1);
    EXPECT_EQ(a.row2, 10);
    EXPECT_EQ(a.col2, 2);
    ASSERT_TRUE(charts::parseRange("2:4", a));
    EXPECT_EQ(a.row1, 2);
    EXPECT_EQ(a.row2, 4);
    EXPECT_FALSE(charts::parseRange("", a));
    EXPECT_FALSE(charts::parseRange("A1:?", a));
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
    ev("oXl:AddCol({|| 1}), oXl:WBrowse(1, 1, 'array'), oXl:End()");
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

}  // namespace

class ExcelOffice : public SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        if (!officeInstalled()) GTEST_SKIP() << "LibreOffice Calc is not installed";
        qputenv("VDR_OFFICE_PIPE",
                QByteArray("vdrtest_") + QByteArray::number(QCoreApplication::applicationPid()));
        qputenv("VDR_OFFICE_PROFILE", dir.filePath(QStringLiteral("perfil")).toUtf8());
    }
    void TearDown() override {
        ev("IF(TYPE('oXl') == 'O', oXl:End(), NIL)");
        qunsetenv("VDR_OFFICE_PIPE");
        qunsetenv("VDR_OFFICE_PROFILE");
        SessionTest::TearDown();
    }
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
    ev("oXl:Say(1, 1, 'Total')");
    ev("oXl:Say(2, 1, 1234.5, , , , , , , , , , , '#,##0.00')");
    ev("oXl:Say(3, 1, 10)");
    ev("oXl:Formula(4, 1, '=SUM(A2,A3)')");
    EXPECT_EQ(ev("oXl:Get(2, 1)").asString(), std::string(15, ' ') + "1234.5");
    EXPECT_EQ(evn("oXl:Get(4, 1, 'N')"), 1244.5);
    EXPECT_EQ(ev("oXl:Get(1, 1)").asString(), "Total");
    EXPECT_EQ(ev("oXl:Get(9, 9)").asString(), "");
    // A rejected formula is told and leaves the cell empty.
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
    EXPECT_NE(first, QStringLiteral("Vendedores"));
    EXPECT_TRUE(has(first + QStringLiteral("!A2=1234.5")));
    EXPECT_TRUE(has(first + QStringLiteral("!A4=f:SUM(A2,A3)")));
    EXPECT_TRUE(has(first + QStringLiteral("!A4=1244.5")));
    EXPECT_TRUE(has(first + QStringLiteral("!A2##,##0.00")))
        << cells.join(QLatin1Char(' ')).toStdString();
}

TEST_F(ExcelOffice, OdsFindReplaceAndTheNoticeForWhatCalcLacks) {
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
    ev("oXl:SendMail('a@b.c')");
    auto infos = scripted.of(data::ScriptedInteraction::Kind::Info);
    ASSERT_EQ(infos.size(), before + 1);
    EXPECT_EQ(infos.back().title, "Aviso al usuario");
    ev("oXl:Save()");
    EXPECT_EQ(evn("oXl:nFormat"), 51);
    ev("oXl:SaveAs('" + out + "')");
    EXPECT_EQ(evn("oXl:nFormat"), 60);
    ev("oXl:End()");
    QFile f(QString::fromStdString(out));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.read(128).contains("application/vnd.oasis.opendocument.spreadsheet"));
}
