// vdrtool's backup, restore, export, agenda and import on a real installation with
// sample data, read back by independent readers (Python's zipfile, csv,
// dbfread and icalendar), with another workstation saving prospects while
// the backup runs.
#include <QComboBox>
#include <QCryptographicHash>
#include <QDate>
#include <QDirIterator>
#include <QFile>
#include <QFileDialog>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTableView>
#include <QTemporaryDir>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "app/transfer_menu.h"
#include "outside_tools.h"
#include "prospect_fixture.h"
#include "toolkit/testdriver.h"

namespace {

struct Outcome {
    int code = -1;
    std::string out, err;
};

Outcome runIn(const QString& program, const QStringList& args, const QString& cwd) {
    const testsupport::ToolRun r = testsupport::runProgram(program, args, cwd);
    return {r.code, r.out.toStdString(), r.err.toStdString()};
}

Outcome tool(const QString& inst, const QStringList& args) {
    return runIn(testsupport::binary("vdrtool"), args, inst);
}

Outcome check(const QStringList& args) {
    return runIn(
        QStringLiteral("/usr/bin/python3"),
        QStringList{QStringLiteral(VDR_SOURCE_DIR "/tests/prospects/transfer_check.py")} + args,
        QString());
}

// Every file of the company's folder and its contents' hash.
std::map<QString, QByteArray> snapshot(const QString& folder) {
    std::map<QString, QByteArray> out;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString f = it.next();
        QFile file(f);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        out[f] = QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
    }
    return out;
}

// A fresh installation whose test company holds `prospects` sample prospects.
void demoInstallation(const QString& dir, int prospects) {
    ASSERT_TRUE(testsupport::assembleInstallation(dir));
    const Outcome r = tool(dir, {"demo", dir, "--prospects", QString::number(prospects)});
    ASSERT_EQ(r.code, 0) << r.err;
}

// A second company as the program registers one: its folder with the empty
// tables of a new installation's first company, and its catalogue record.
void addCompany(const QString& inst, const char* code, const char* folder) {
    ASSERT_EQ(QProcess::execute("cp", {"-a", inst + "/EMP00001", inst + "/" + folder}), 0);
    dbf::Workspace& ws = dbf::workspace();
    const int a = ws.open((inst + "/" + data::kCompanyCatalogue).toStdString(), "CATALOGO",
                          dbf::OpenOptions{});
    dbf::orders(*ws.area(a)).addBag((inst + "/" + data::kCompanyCatalogueBag).toStdString());
    dbf::WorkArea& c = *ws.area(a);
    c.append();
    c.put(c.table().fieldIndex("CODEMPR"), xb::Value::str(code));
    c.put(c.table().fieldIndex("CAMINO"), xb::Value::str(folder));
    c.put(c.table().fieldIndex("EMPRESA"), xb::Value::str(std::string("EMPRESA ") + code));
    c.commit();
    ws.close(a);
}

const char* const kTables[][2] = {
    {"VdrVend.dbf", "VdrVenx1.cdx"},  {"VdrProsp.dbf", "VdrPrpx1.cdx"},
    {"VdrProdc.dbf", "VdrPrdx1.cdx"}, {"VdrPlan.dbf", "VdrPlnx1.cdx"},
    {"VdrPrdOf.dbf", "VdrPrOx1.cdx"}, {"VdrPrdVt.dbf", "VdrPrVx1.cdx"},
    {"VdrCont.dbf", "VdrCntx1.cdx"},  {"VdrResp.dbf", "VdrResx1.cdx"}};

}  // namespace

TEST(Transfer, BackupUnderLoadIsWholeAndRestoreTakesOnlyAnIntactArchiveOfAnIdleCompany) {
    QTemporaryDir inst, copies;
    demoInstallation(inst.path(), 120);
    const QString emp = inst.path() + "/EMP00001";
    const Outcome before = check({"links", emp});
    ASSERT_EQ(before.code, 0) << before.err;

    // Another workstation keeps moving prospects (all their rows rewritten)
    // while five backups are taken; the rotation keeps the last two.
    std::unique_ptr<QProcess> other(pt::startChild(inst.path(), "churn"));
    for (int i = 0; i < 3000 && !QFile::exists(inst.path() + "/busy"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(QFile::exists(inst.path() + "/busy")) << other->readAll().toStdString();
    for (int i = 0; i < 5; ++i) {
        const Outcome b = tool(inst.path(), {"backup", copies.path(), "--keep", "2"});
        ASSERT_EQ(b.code, 0) << b.err;
        EXPECT_NE(b.out.find("VdrProsp.dbf"), std::string::npos) << b.out;
    }
    QFile(inst.path() + "/stop").open(QIODevice::WriteOnly);
    ASSERT_TRUE(other->waitForFinished(120000));
    ASSERT_EQ(other->exitCode(), 0) << other->readAll().toStdString();
    const QStringList zips =
        QDir(copies.path()).entryList({"00001-*.zip"}, QDir::Files, QDir::Name);
    ASSERT_EQ(zips.size(), 2) << zips.join(' ').toStdString();
    const QString archive = copies.path() + "/" + zips.last();

    // A table open on a workstation: the company is in use.
    const auto untouched = snapshot(emp);
    {
        auto open = dbf::Table::open((emp + "/VdrCont.dbf").toStdString(), {true, true});
        const Outcome r = tool(inst.path(), {"restore", archive});
        EXPECT_NE(r.code, 0);
        EXPECT_NE(r.err.find("en uso"), std::string::npos) << r.err;
    }
    // One byte changed anywhere in the data: refused, nothing changed.
    QFile a(archive);
    ASSERT_TRUE(a.open(QIODevice::ReadOnly));
    QByteArray bytes = a.readAll();
    a.close();
    for (qsizetype at : {bytes.size() / 3, bytes.size() / 2, bytes.size() - 30}) {
        QByteArray bad = bytes;
        bad[at] = static_cast<char>(bad[at] ^ 0x20);
        QFile out(copies.path() + "/dañada.zip");
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(bad);
        out.close();
        const Outcome r = tool(inst.path(), {"restore", out.fileName()});
        EXPECT_NE(r.code, 0) << at;
        EXPECT_NE(r.err.find("no se ha restaurado nada"), std::string::npos) << r.err;
    }
    EXPECT_EQ(snapshot(emp), untouched);
    EXPECT_FALSE(QFileInfo::exists(emp + ".restaurando"));

    const Outcome r = tool(inst.path(), {"restore", archive});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("restaurada"), std::string::npos) << r.out;
    for (const auto& t : kTables) {
        const Outcome c = tool(inst.path(), {"check", emp + "/" + t[0], emp + "/" + t[1]});
        EXPECT_EQ(c.code, 0) << t[0] << c.out << c.err;
    }
    const Outcome m = check({"manifest", archive, emp});
    EXPECT_EQ(m.code, 0) << m.err;
    // Every row belongs to a prospect, and every prospect has all its rows.
    const Outcome after = check({"links", emp});
    EXPECT_EQ(after.code, 0) << after.err;
    EXPECT_EQ(after.out, before.out);
}

TEST(Transfer, TheWholeInstallationIsCopiedUnderLoadAndRestoredWholeIntoAnEmptyOrAnIdleOne) {
    QTemporaryDir inst, copies, fresh;
    ASSERT_TRUE(testsupport::assembleInstallation(inst.path()));
    addCompany(inst.path(), "00002", "EMP00002");
    const char* const companies[][2] = {{"00001", "/EMP00001"}, {"00002", "/EMP00002"}};
    std::map<std::string, std::string> links;
    for (const auto& c : companies) {
        const Outcome d = tool(inst.path(), {"demo", inst.path(), "--company", c[0], "--prospects",
                                             c[0][4] == '1' ? "90" : "30"});
        ASSERT_EQ(d.code, 0) << d.err;
        links[c[1]] = check({"links", inst.path() + c[1]}).out;
    }

    // Another workstation keeps moving prospects of the first company while
    // the installation is copied twice; the rotation keeps the last copy.
    std::unique_ptr<QProcess> other(pt::startChild(inst.path(), "churn"));
    for (int i = 0; i < 3000 && !QFile::exists(inst.path() + "/busy"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(QFile::exists(inst.path() + "/busy")) << other->readAll().toStdString();
    for (int i = 0; i < 2; ++i) {
        const Outcome b = tool(inst.path(), {"backup", copies.path(), "--all", "--keep", "1"});
        ASSERT_EQ(b.code, 0) << b.err;
    }
    QFile(inst.path() + "/stop").open(QIODevice::WriteOnly);
    ASSERT_TRUE(other->waitForFinished(120000));
    ASSERT_EQ(other->exitCode(), 0) << other->readAll().toStdString();
    const QStringList zips = QDir(copies.path()).entryList({"instalacion-*.zip"}, QDir::Files);
    ASSERT_EQ(zips.size(), 1) << zips.join(' ').toStdString();
    const QString archive = copies.path() + "/" + zips[0];

    // The worst day: a new machine. Every file as the manifest says, every
    // table's count its count, every company sound and whole.
    Outcome r = tool(QDir::tempPath(), {"restore", archive, "--into", fresh.path()});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(check({"manifest", archive, fresh.path()}).code, 0);
    for (const auto& c : companies) {
        const QString emp = fresh.path() + c[1];
        for (const auto& t : kTables) {
            const Outcome k = tool(fresh.path(), {"check", emp + "/" + t[0], emp + "/" + t[1]});
            EXPECT_EQ(k.code, 0) << c[1] << t[0] << k.out << k.err;
        }
        EXPECT_EQ(check({"links", emp}).out, links[c[1]]) << c[1];
    }
    EXPECT_EQ(
        tool(fresh.path(), {"check", data::kCompanyCatalogue, data::kCompanyCatalogueBag}).code, 0);

    // Over the installation, while a session elsewhere holds the second
    // company (its tables closed): refused, and a damaged archive too.
    QProcess holder;
    holder.start("/usr/bin/python3", {"-c",
                                      "import fcntl, os, sys\n"
                                      "fd = os.open(sys.argv[1], os.O_RDWR | os.O_CREAT)\n"
                                      "fcntl.lockf(fd, fcntl.LOCK_SH, 1, 0)\n"
                                      "print('held', flush=True)\n"
                                      "sys.stdin.read()\n",
                                      inst.path() + "/EMP00002/" + data::kInUseFile});
    ASSERT_TRUE(holder.waitForReadyRead(20000));
    const auto untouched = snapshot(inst.path());
    r = tool(inst.path(), {"restore", archive});
    EXPECT_NE(r.code, 0);
    EXPECT_NE(r.err.find("la empresa 00002 (EMP00002) está en uso"), std::string::npos) << r.err;
    QFile a(archive);
    ASSERT_TRUE(a.open(QIODevice::ReadOnly));
    QByteArray bytes = a.readAll();
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x01);
    QFile bad(copies.path() + "/dañada.zip");
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write(bytes);
    bad.close();
    r = tool(inst.path(), {"restore", bad.fileName()});
    EXPECT_NE(r.code, 0);
    EXPECT_NE(r.err.find("dañad"), std::string::npos) << r.err;
    EXPECT_EQ(snapshot(inst.path()), untouched);
    EXPECT_FALSE(QFileInfo::exists(inst.path() + ".restaurando"));
    holder.closeWriteChannel();
    ASSERT_TRUE(holder.waitForFinished(20000));

    // Nobody on it any more: restored, and what the archive lacks stays.
    QFile(inst.path() + "/EMP00002/nota.txt").open(QIODevice::WriteOnly);
    r = tool(inst.path(), {"restore", archive});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("Instalación restaurada"), std::string::npos) << r.out;
    EXPECT_EQ(check({"manifest", archive, inst.path()}).code, 0);
    EXPECT_TRUE(QFileInfo::exists(inst.path() + "/EMP00002/nota.txt"));
}

TEST(Transfer, ExportToCsvAndXlsxAndTheAgendaAreReadBackByIndependentReaders) {
    QTemporaryDir inst, out;
    demoInstallation(inst.path(), 60);
    const QString emp = inst.path() + "/EMP00001/";
    const char* const names[][2] = {{"prospectos", "VdrProsp.dbf"}, {"vendedores", "VdrVend.dbf"},
                                    {"productos", "VdrProdc.dbf"},  {"planes", "VdrPlan.dbf"},
                                    {"respuestas", "VdrResp.dbf"},  {"contactos", "VdrCont.dbf"},
                                    {"ofrecidos", "VdrPrdOf.dbf"},  {"vendidos", "VdrPrdVt.dbf"}};
    int i = 0;
    for (const auto& n : names) {
        const QString sep = i++ % 2 ? QStringLiteral(";") : QStringLiteral(",");
        const QString csv = out.path() + "/" + n[0] + ".csv";
        const Outcome e = tool(inst.path(), {"export", n[0], csv, "--separator", sep});
        ASSERT_EQ(e.code, 0) << n[0] << e.err;
        const Outcome c = check({"csv", emp + n[1], csv, sep});
        EXPECT_EQ(c.code, 0) << n[0] << c.err;
    }
    EXPECT_NE(tool(inst.path(), {"export", "clientes", out.path() + "/x.csv"}).code, 0);
    // A selection: the prospects of one salesperson, then their contacts and
    // products offered; each row of the file one of theirs, and all of them.
    for (int k : {0, 5, 6}) {
        const auto& n = names[k];
        const QString csv = out.path() + "/" + n[0] + "-v001.csv";
        const Outcome e = tool(inst.path(), {"export", n[0], csv, "--salesperson", "v001"});
        ASSERT_EQ(e.code, 0) << n[0] << e.err;
        const Outcome c = check({"csv", emp + n[1], csv, ",", emp + "VdrProsp.dbf", "V001"});
        EXPECT_EQ(c.code, 0) << n[0] << c.err;
        const Outcome all =
            check({"csv", emp + n[1], out.path() + "/" + n[0] + ".csv", k % 2 ? ";" : ","});
        EXPECT_LT(std::stoi(c.out), std::stoi(all.out)) << n[0];
        EXPECT_GT(std::stoi(c.out), 0) << n[0];
    }
    for (const QStringList& refused : {QStringList{"contactos", "--salesperson", "V999"},
                                       QStringList{"vendedores", "--salesperson", "V001"},
                                       QStringList{"ofrecidos", "--prospect", "NOEXISTE"}}) {
        const Outcome e = tool(
            inst.path(), {"export", refused[0], out.path() + "/no.csv", refused[1], refused[2]});
        EXPECT_NE(e.code, 0) << refused.join(' ').toStdString();
        EXPECT_FALSE(QFile::exists(out.path() + "/no.csv"));
    }
    for (const auto& n : {names[0], names[6]}) {
        const QString xlsx = out.path() + "/" + n[0] + ".xlsx";
        const Outcome e = tool(inst.path(), {"export", n[0], xlsx});
        ASSERT_EQ(e.code, 0) << n[0] << e.err;
        const Outcome c = check({"xlsx", emp + n[1], xlsx});
        EXPECT_EQ(c.code, 0) << n[0] << c.err;
    }

    const QString ics1 = out.path() + "/agenda1.ics", ics2 = out.path() + "/agenda2.ics";
    ASSERT_EQ(tool(inst.path(), {"agenda", ics1}).code, 0);
    ASSERT_EQ(tool(inst.path(), {"agenda", ics2}).code, 0);
    const Outcome both = check({"ics", ics1, ics2});
    ASSERT_EQ(both.code, 0) << both.err;
    EXPECT_GT(std::stoi(both.out), 0);
    // One salesperson's visits from a date on are fewer.
    const Outcome some =
        tool(inst.path(), {"agenda", ics1, "--salesperson", "V001", "--from", "01-01-2000"});
    ASSERT_EQ(some.code, 0) << some.err;
    const Outcome one = check({"ics", ics1});
    ASSERT_EQ(one.code, 0) << one.err;
    EXPECT_LT(std::stoi(one.out), std::stoi(both.out));
    const Outcome bad = tool(inst.path(), {"agenda", ics1, "--from", "31-02-2026"});
    EXPECT_NE(bad.code, 0);
    EXPECT_NE(bad.err.find("no es una fecha"), std::string::npos) << bad.err;
}

TEST(Transfer, ImportWritesExactlyTheGoodRowsOfBothKindsOfCsvAndNamesEachBadOneAndSurvivesAKill) {
    QTemporaryDir inst, out;
    demoInstallation(inst.path(), 20);
    const QString emp = inst.path() + "/EMP00001/";
    auto write = [&](const char* name, const QByteArray& bytes) {
        QFile f(out.path() + "/" + name);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    };
    // A spreadsheet's Windows-1252 export with semicolons, captions as headers.
    const QString prospects = write("clientes.csv",
                                    "C\xf3"
                                    "digo;Nombre;Vendedor;Direcci\xf3n;Tel\xe9"
                                    "fonos;Fecha de creaci\xf3n\r\n"
                                    "n001;Jos\xe9 Mu\xf1oz SL;v001;Calle \xd1"
                                    "ando 1;911;01-02-2025\r\n"
                                    "N002;\"Uno; dos \"\"tres\"\"\";V002;;;\r\n"
                                    "N003;Vendedor desconocido;V999;;;\r\n"
                                    "N001;Repetido en el fichero;V001;;;\r\n"
                                    "P0000001;Ya en la tabla;V001;;;\r\n"
                                    "N004;Fecha imposible;V001;;;31-02-2025\r\n"
                                    "N005;" +
                                        QByteArray(61, 'X') +
                                        ";V001;;;\r\n"
                                        "N006;Bien;V003;;;2025-03-04\r\n");
    // UTF-8 with commas and field names as headers.
    const QString products = write("productos.csv",
                                   "CODIGO,NOMBRE,PRECIO\n"
                                   "nue-1,Cámara frigorífica,\"1.234,50\"\n"
                                   "NUE-2,\"Mesa, acero\",99.9\n"
                                   "NUE-3,Precio sin número,doce\n"
                                   "FRI-002,Ya en la tabla,1\n"
                                   "NUE-2,Repetido,1\n"
                                   "CODIGO-DEMASIADO-LARGO,Largo,1\n"
                                   "NUE-4,Precio enorme,99999999999\n");
    const Outcome codesBefore = check({"codes", emp + "VdrProsp.dbf", "CODPROSP"});

    // The dry run names every bad row and writes nothing.
    Outcome r = tool(inst.path(), {"import", "prospectos", prospects, "--dry-run"});
    EXPECT_EQ(r.code, 1) << r.err;
    for (const char* line :
         {"línea 4: el vendedor «V999»", "línea 5: el código «N001» está repetido",
          "línea 6: el código «P0000001» ya existe", "línea 7: FEC_CREA", "línea 8: NOMBRE"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    EXPECT_EQ(check({"codes", emp + "VdrProsp.dbf", "CODPROSP"}).out, codesBefore.out);
    // All or nothing: nothing.
    EXPECT_EQ(tool(inst.path(), {"import", "prospectos", prospects, "--all-or-nothing"}).code, 1);
    EXPECT_EQ(check({"codes", emp + "VdrProsp.dbf", "CODPROSP"}).out, codesBefore.out);

    r = tool(inst.path(), {"import", "prospectos", prospects});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("5 rechazadas, 3 grabadas"), std::string::npos) << r.out;
    EXPECT_EQ(check({"codes", emp + "VdrProsp.dbf", "CODPROSP"}).out,
              codesBefore.out +
                  "N001|JOSÉ MUÑOZ SL|V001|01-02-2025\n"
                  "N002|UNO; DOS \"TRES\"|V002|" +
                  QDate::currentDate().toString("dd-MM-yyyy").toStdString() +
                  "\nN006|BIEN|V003|04-03-2025\n");

    r = tool(inst.path(), {"import", "productos", products});
    EXPECT_EQ(r.code, 1);
    for (const char* line :
         {"línea 4: PRECIO «doce» no es un número", "línea 5: el código «FRI-002» ya existe",
          "línea 6: el código «NUE-2» está repetido", "línea 7: CODIGO",
          "línea 8: PRECIO «99999999999» no cabe"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    const Outcome products2 = check({"codes", emp + "VdrProdc.dbf", "CODIGO"});
    EXPECT_NE(products2.out.find("NUE-1|CÁMARA FRIGORÍFICA|1234.5\nNUE-2|MESA, ACERO|99.9\n"),
              std::string::npos)
        << products2.out;
    EXPECT_EQ(products2.out.find("NUE-3"), std::string::npos);
    EXPECT_EQ(products2.out.find("NUE-4"), std::string::npos);
    for (const auto& t : {kTables[1], kTables[2]}) {
        const Outcome c = tool(inst.path(), {"check", emp + t[0], emp + t[1]});
        EXPECT_EQ(c.code, 0) << t[0] << c.out << c.err;
    }

    // An import killed half way leaves whole rows only, and sound tags.
    QByteArray many = "CODIGO;NOMBRE;PRECIO\r\n";
    for (int i = 0; i < 3000; ++i)
        many += "K" + QByteArray::number(i) + ";PRODUCTO " + QByteArray::number(i) + ";" +
                QByteArray::number(i) + ",5\r\n";
    QProcess killed;
    killed.setWorkingDirectory(inst.path());
    killed.start(testsupport::binary("vdrtool"),
                 {"import", "productos", write("muchos.csv", many)});
    ASSERT_TRUE(killed.waitForStarted());
    for (int i = 0; i < 1000 && check({"codes", emp + "VdrProdc.dbf", "CODIGO"}).out.find("K1|") ==
                                    std::string::npos;
         ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    killed.kill();
    killed.waitForFinished();
    // The kill may fall while the bag carries its writer's mark: the next
    // open for writing mends it, as the next start of the program does.
    {
        dbf::Workspace& ws = dbf::workspace();
        const int a = ws.open((emp + kTables[2][0]).toStdString(), "MENDADA", dbf::OpenOptions{});
        dbf::orders(*ws.area(a)).addBag((emp + kTables[2][1]).toStdString());
        ws.close(a);
    }
    const Outcome c = tool(inst.path(), {"check", emp + kTables[2][0], emp + kTables[2][1]});
    EXPECT_EQ(c.code, 0) << c.out << c.err;
    const Outcome rows = check({"codes", emp + "VdrProdc.dbf", "CODIGO"});
    std::istringstream lines(rows.out);
    int imported = 0;
    for (std::string l; std::getline(lines, l);)
        if (l[0] == 'K') {
            const std::string n = l.substr(1, l.find('|') - 1);
            EXPECT_EQ(l, "K" + n + "|PRODUCTO " + n + "|" + n + ".5");
            ++imported;
        }
    EXPECT_GT(imported, 0);
    EXPECT_LT(imported, 3000) << "the import ended before it was killed";
}

// Workbooks the office wrote from the same rows as a CSV: the same rows
// refused for the same reasons, real dates and numbers read as the card
// would have them, and a damaged workbook refused whole.
TEST(Transfer, WorkbooksTheOfficeWroteImportAsTheirCsvDoes) {
    VDR_NEED_TOOL(QFile::exists(QStringLiteral("/usr/lib/libreoffice/program/soffice")),
                  "LibreOffice Calc");
    QTemporaryDir inst, out;
    demoInstallation(inst.path(), 20);
    const QString emp = inst.path() + "/EMP00001/";
    const QString csv = out.path() + "/clientes.csv";
    {
        QFile f(csv);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(
            "Código,Nombre,Vendedor,Dirección,Teléfonos,Fecha de creación\n"
            "n001,José Muñoz SL,v001,Calle Ñando 1,911,2025-02-01\n"
            "N003,Vendedor desconocido,V999,,,\n"
            "N004,\"Dos\nlíneas\",V001,,,\n"
            "P0000001,Ya en la tabla,V001,,,\n"
            "N006,Bien,V003,,,2025-03-04\n"
            "N007,Fecha imposible,V003,,,31-02-2025\n");
    }
    // The office turns the dates into date cells and the telephone into a number.
    for (const char* kind : {"xlsx", "ods"}) {
        const Outcome c =
            runIn(QStringLiteral("/usr/lib/libreoffice/program/soffice"),
                  {"--headless", "-env:UserInstallation=file://" + out.path() + "/perfil",
                   "--infilter=CSV:44,34,76,1", "--convert-to", kind, "--outdir", out.path(), csv},
                  out.path());
        ASSERT_TRUE(QFile::exists(out.path() + "/clientes." + kind)) << c.out << c.err;
    }
    auto reasons = [](const std::string& report) {
        std::vector<std::string> r;
        std::istringstream lines(report);
        for (std::string l; std::getline(lines, l);)
            if (l.rfind("línea ", 0) == 0 || l.rfind("fila ", 0) == 0)
                r.push_back(l.substr(l.find(": ") + 2));
        return r;
    };
    const Outcome fromCsv = tool(inst.path(), {"import", "prospectos", csv, "--dry-run"});
    ASSERT_EQ(fromCsv.code, 1) << fromCsv.err;
    ASSERT_EQ(reasons(fromCsv.out).size(), 3u) << fromCsv.out;
    for (const char* kind : {"xlsx", "ods"}) {
        const QString book = out.path() + "/clientes." + kind;
        const Outcome r = tool(inst.path(), {"import", "prospectos", book, "--dry-run"});
        EXPECT_EQ(r.code, 1) << r.err;
        EXPECT_EQ(reasons(r.out), reasons(fromCsv.out)) << kind << "\n" << r.out;
        EXPECT_NE(r.out.find("fila 5: el código «P0000001»"), std::string::npos) << r.out;
    }
    const Outcome codesBefore = check({"codes", emp + "VdrProsp.dbf", "CODPROSP"});
    const Outcome done = tool(inst.path(), {"import", "prospectos", out.path() + "/clientes.xlsx"});
    EXPECT_NE(done.out.find("3 rechazadas, 3 grabadas"), std::string::npos) << done.out;
    EXPECT_EQ(check({"codes", emp + "VdrProsp.dbf", "CODPROSP"}).out,
              codesBefore.out + "N001|JOSÉ MUÑOZ SL|V001|01-02-2025\nN004|DOS LÍNEAS|V001|" +
                  QDate::currentDate().toString("dd-MM-yyyy").toStdString() +
                  "\nN006|BIEN|V003|04-03-2025\n");
    // The same rows from the other workbook are now all in the table.
    const Outcome again =
        tool(inst.path(), {"import", "prospectos", out.path() + "/clientes.ods", "--dry-run"});
    EXPECT_NE(again.out.find("0 aceptadas, 6 rechazadas"), std::string::npos) << again.out;

    QFile book(out.path() + "/clientes.xlsx");
    ASSERT_TRUE(book.open(QIODevice::ReadWrite));
    book.resize(book.size() / 2);
    book.close();
    const Outcome damaged =
        tool(inst.path(), {"import", "prospectos", out.path() + "/clientes.xlsx", "--dry-run"});
    EXPECT_EQ(damaged.code, 2);
    EXPECT_NE(damaged.err.find("el libro está dañado"), std::string::npos) << damaged.err;
}

// The menu's import and export windows with the browser's tables open. The
// import: the file chosen in its dialog, a column the headers do not name
// matched by the user, the check shown with the bad row, the rows written
// only after the user says yes. The export: one salesperson's prospects to
// a CSV with tabs, its extension added.
TEST_F(ProspectFixture, TheImportAndExportWindowsDoWhatTheUserChose) {
    pt::addVendor("V1", "ANA PEREZ");
    pt::addVendor("V2", "LUIS GIL");
    const QString csv = dir.filePath("nuevos.csv");
    QFile f(csv);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("Código,Nombre,Vendedor,Población\nc1,Uno,V1,Lugo\nC2,Dos,V9,Vigo\nc3,Tres,v2,Soria\n");
    f.close();
    QString report;
    auto importing = [&](std::initializer_list<int> answers) {
        tk::test::Driver d;
        d.whenOpen("Importar filas", [&](tk::test::Handle& h) {
            h.press(202);
            auto* view = qobject_cast<QTableView*>(h.control(101));
            ASSERT_NE(view, nullptr);
            auto* town = qobject_cast<QComboBox*>(view->indexWidget(view->model()->index(0, 3)));
            ASSERT_NE(town, nullptr);
            EXPECT_EQ(town->currentText(), QStringLiteral("(no importar)"));
            EXPECT_TRUE(h.text(104).contains(QStringLiteral("1 columna sin importar")))
                << h.text(104).toStdString();
            town->setCurrentIndex(town->findText(QStringLiteral("CIUDAD")));
            EXPECT_FALSE(h.control(203)->isEnabled());  // nothing checked yet
            h.press(201);
            report = qobject_cast<QPlainTextEdit*>(h.control(106))->toPlainText();
            h.press(203);
            h.press(205);
        });
        d.whenOpen("Fichero que se importa", [&](tk::test::Handle& h) {
            auto* fd = qobject_cast<QFileDialog*>(h.window());
            ASSERT_NE(fd, nullptr);
            fd->selectFile(csv);
            QMetaObject::invokeMethod(fd, "accept");
        });
        d.answer(answers);
        d.watchdog(20000);
        app::IMPORTACSV();
        EXPECT_TRUE(d.allRun()) << d.failures().join(' ').toStdString();
        return d.boxTexts();
    };
    QStringList shown = importing({2});  // "No": nothing written
    EXPECT_TRUE(report.contains(QStringLiteral("3 filas: 2 aceptadas, 1 rechazadas.")) &&
                report.contains(QStringLiteral("línea 3: el vendedor «V9» no existe")))
        << report.toStdString();
    EXPECT_EQ(pt::area("Prospecto").recCount(), 0u);
    shown = importing({1, 1});
    ASSERT_EQ(shown.size(), 2);
    EXPECT_TRUE(shown[1].contains(QStringLiteral("2 filas grabadas"))) << shown[1].toStdString();
    dbf::WorkArea& p = pt::area("Prospecto");
    ASSERT_EQ(p.recCount(), 2u);
    p.goTo(2);
    EXPECT_EQ(prospects::S(p, "CODPROSP"), "C3      ");
    EXPECT_EQ(prospects::S(p, "CODVEND"), "V2      ");
    EXPECT_EQ(QString::fromStdString(prospects::S(p, "CIUDAD")).trimmed(), "SORIA");

    const QString written = dir.filePath("de-v2");
    tk::test::Driver d;
    d.whenOpen("Exportar tabla", [&](tk::test::Handle& h) {
        h.choose(103, QStringLiteral("V2 - LUIS GIL"));
        h.choose(105, QStringLiteral("CSV separado por tabuladores"));
        EXPECT_TRUE(h.text(106).contains(QStringLiteral("vendedor V2")))
            << h.text(106).toStdString();
        h.press(201);
        h.press(205);
    });
    d.whenOpen("Fichero que se escribe", [&](tk::test::Handle& h) {
        auto* fd = qobject_cast<QFileDialog*>(h.window());
        ASSERT_NE(fd, nullptr);
        fd->selectFile(written);
        QMetaObject::invokeMethod(fd, "accept");
    });
    d.answer({1});
    d.watchdog(20000);
    app::EXPORTACSV();
    EXPECT_TRUE(d.allRun()) << d.failures().join(' ').toStdString();
    QFile out(written + ".csv");
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = out.readAll().trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].startsWith("CODPROSP\t") || lines[0].contains("\tCODPROSP\t"));
    EXPECT_TRUE(lines[1].contains("\tTRES\t") || lines[1].startsWith("C3\t")) << lines[1].data();
}
