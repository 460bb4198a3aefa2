// Codes stay unique and locks can be given up when another workstation
// works on the same file: the other workstation is a second process (this
// test program started again as a worker, or a holder of a record lock).
#include <QProcess>
#include <QThread>
#include <cstdlib>
#include <fstream>
#include <map>

#include "../data/holder.h"
#include "company/salespeople.h"
#include "search_fixture.h"
#include "ui/search.h"
#include "ui/searchbrowser.h"

using searchtest::Fixture;

namespace {

const std::string kCode =
    "C\xf3"
    "digo";

// A user who waits for a record another workstation is writing, but gives
// up waiting for the whole table (held only while another one saves).
int patient(const data::ScriptedInteraction::Shown& s) {
    return s.message.rfind("Fichero bloqueado", 0) == 0 ? 2 : 1;
}

// The worker: saves the codes it is given as new salespeople (or, with
// VDR_SEARCH_MODE "M", changes the name of the salesperson holding each code)
// and writes how each save ended to its report file. Runs only when started
// by a test.
TEST(SearchWorker, DISABLED_SavesCodes) {
    const char* dir = std::getenv("VDR_SEARCH_WORKER");
    ASSERT_NE(dir, nullptr) << "started only by the sharing tests";
    ASSERT_EQ(::chdir(dir), 0);
    searchtest::startSession("OTRA");
    data::ScriptedInteraction quiet;
    quiet.responder = patient;
    data::ScopedInteraction scoped(quiet);
    const ui::FileSpec& file = company::salespeopleFile();
    ASSERT_TRUE(data::ABRIR(file.alias, xb::getVar("VDRVEND").asString(), "S",
                            {xb::getVar("VDRVENX1").asString()}));
    // Wait for the go, so that both workstations save at the same time.
    QFile(QStringLiteral("ready")).open(QIODevice::WriteOnly);
    while (!QFile::exists(QStringLiteral("go"))) QThread::msleep(5);
    std::ofstream report(std::getenv("VDR_SEARCH_REPORT"));
    std::string codes = std::getenv("VDR_SEARCH_CODES");
    const char* modeVar = std::getenv("VDR_SEARCH_MODE");
    const std::string mode = modeVar != nullptr && *modeVar != 0 ? modeVar : "I";
    dbf::WorkArea& wa = *dbf::workspace().area(file.alias);
    dbf::orders(wa).setOrder(1);
    for (size_t i = 0; i < codes.size(); i += 4) {
        const std::string code = codes.substr(i, 3);
        if (mode == "M") {
            QThread::usleep(700 * (i / 4 % 3));
            dbf::orders(wa).seek(xb::Value::str(code));
        }
        const ui::SaveResult r = ui::saveFile(
            file, mode, {xb::Value::str(code), xb::Value::str("OTRA" + std::to_string(i / 4))});
        report << code
               << (r == ui::SaveResult::Saved       ? " S"
                   : r == ui::SaveResult::Duplicate ? " D"
                                                    : " A")
               << "\n";
    }
}

class Sharing : public Fixture {
  protected:
    QProcess* startWorker(const std::string& codes, const QString& report,
                          const QString& mode = QStringLiteral("I")) {
        auto* p = new QProcess;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VDR_SEARCH_WORKER"), dir.path());
        env.insert(QStringLiteral("VDR_SEARCH_REPORT"), dir.filePath(report));
        env.insert(QStringLiteral("VDR_SEARCH_CODES"), QString::fromStdString(codes));
        env.insert(QStringLiteral("VDR_SEARCH_MODE"), mode);
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::ForwardedChannels);
        p->start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--gtest_also_run_disabled_tests"),
                  QStringLiteral("--gtest_filter=SearchWorker.DISABLED_SavesCodes")});
        EXPECT_TRUE(p->waitForStarted());
        return p;
    }
    static void finish(QProcess* p) {
        EXPECT_TRUE(p->waitForFinished(240000));
        EXPECT_EQ(p->exitCode(), 0);
        delete p;
    }
    void go() { QFile(dir.filePath(QStringLiteral("go"))).open(QIODevice::WriteOnly); }
    dbf::WorkArea& vendedor() { return open("Vendedor", "VDRVEND", "VDRVENX1"); }
    // Codes in the file (trimmed, visible records) with how often each is there.
    std::map<std::string, int> codesInFile(dbf::WorkArea& wa) {
        std::map<std::string, int> out;
        for (wa.goTop(); !wa.eof(); wa.skip(1)) {
            std::string c = text(wa, "CODIGO");
            while (!c.empty() && c.back() == ' ') c.pop_back();
            ++out[c];
        }
        return out;
    }
};

TEST_F(Sharing, ACodeTakenAfterTheCardsCheckIsRefusedAtTheSave) {
    dbf::WorkArea& wa = vendedor();
    xb::createPrivate("LREG", xb::Value::integer(-1));
    ASSERT_TRUE(ui::CHKDUP(xb::Value::str("X1"), kCode, "Codigo"));  // free when the card checks
    go();
    finish(startWorker("X1 ", QStringLiteral("worker.txt")));  // another workstation takes it
    const ui::SaveResult r = ui::saveFile(company::salespeopleFile(), "I",
                                          {xb::Value::str("x1 "), xb::Value::str("MIA")});
    EXPECT_EQ(r, ui::SaveResult::Duplicate);
    ASSERT_FALSE(alerts().empty());
    EXPECT_EQ(alerts().back(), kCode + " ya existe");
    EXPECT_EQ(codesInFile(wa), (std::map<std::string, int>{{"X1", 1}}));
    // Nothing stays locked: the other workstation can lock every record.
    datatest::Holder other("EMP00001/VdrVend.dbf", datatest::Holder::RecordLock, 1);
}

TEST_F(Sharing, TwoWorkstationsSavingTheSameCodesAtOnceNeverDoubleOne) {
    std::string codes;
    for (int i = 0; i < 30; ++i) {
        char b[8];
        std::snprintf(b, sizeof b, "K%02d ", i);
        codes += b;
    }
    dbf::WorkArea& wa = vendedor();
    QProcess* worker = startWorker(codes, QStringLiteral("worker.txt"));
    go();
    int saved = 0;
    for (size_t i = 0; i < codes.size(); i += 4)
        if (ui::saveFile(company::salespeopleFile(), "I",
                         {xb::Value::str(codes.substr(i, 3)), xb::Value::str("AQUI")}) ==
            ui::SaveResult::Saved)
            ++saved;
    finish(worker);
    std::ifstream report(dir.filePath(QStringLiteral("worker.txt")).toStdString());
    int workerSaved = 0, lines = 0;
    for (std::string code, how; report >> code >> how; ++lines) workerSaved += how == "S";
    EXPECT_EQ(lines, 30);
    EXPECT_EQ(saved + workerSaved, 30);
    const auto inFile = codesInFile(wa);
    EXPECT_EQ(inFile.size(), 30u);
    for (const auto& [code, n] : inFile) EXPECT_EQ(n, 1) << code;
}

// Each workstation changes its own salesperson, both at the same moment,
// round after round: neither is left waiting for the table while the other
// waits for it too.
TEST_F(Sharing, TwoWorkstationsChangingDifferentRecordsAtOnceBothSave) {
    dbf::WorkArea& wa = vendedor();
    add(wa, {{"CODIGO", xb::Value::str("V1")}, {"NOMBRE", xb::Value::str("UNO")}});
    add(wa, {{"CODIGO", xb::Value::str("V2")}, {"NOMBRE", xb::Value::str("DOS")}});
    scripted.responder = patient;
    const int rounds = 50;
    std::string codes;
    for (int i = 0; i < rounds; ++i) codes += "V2  ";
    QProcess* worker = startWorker(codes, QStringLiteral("worker.txt"), QStringLiteral("M"));
    while (!QFile::exists(dir.filePath(QStringLiteral("ready")))) QThread::msleep(5);
    go();
    int saved = 0;
    // Rounds of unequal pace on each side, so that one often takes its
    // record while the other holds its own.
    for (int i = 0; i < rounds; ++i) {
        QThread::usleep(500 * (i % 3));
        wa.goTo(1);
        saved += ui::saveFile(company::salespeopleFile(), "M",
                              {xb::Value::str("V1"), xb::Value::str("AQUI" + std::to_string(i))}) ==
                 ui::SaveResult::Saved;
    }
    finish(worker);
    EXPECT_EQ(saved, rounds);
    // Waiting a moment for the record the other one is writing is fine;
    // waiting for the table until the user gives up is not.
    int stuck = 0;
    for (const std::string& a : alerts()) stuck += a.rfind("Fichero bloqueado", 0) == 0;
    EXPECT_EQ(stuck, 0);
    std::ifstream report(dir.filePath(QStringLiteral("worker.txt")).toStdString());
    int workerSaved = 0, lines = 0;
    for (std::string code, how; report >> code >> how; ++lines) workerSaved += how == "S";
    EXPECT_EQ(lines, rounds);
    EXPECT_EQ(workerSaved, rounds);
    wa.goTo(1);
    EXPECT_EQ(text(wa, "NOMBRE").substr(0, 7), "AQUI49 ");
    wa.goTo(2);
    EXPECT_EQ(text(wa, "NOMBRE").substr(0, 7), "OTRA49 ");
    EXPECT_EQ(codesInFile(wa), (std::map<std::string, int>{{"V1", 1}, {"V2", 1}}));
}

TEST_F(Sharing, GivingUpAHeldRecordAbandonsTheSaveAndTheDeletion) {
    dbf::WorkArea& wa = vendedor();
    add(wa, {{"CODIGO", xb::Value::str("V1")}, {"NOMBRE", xb::Value::str("UNO")}});
    add(wa, {{"CODIGO", xb::Value::str("V2")}, {"NOMBRE", xb::Value::str("DOS")}});
    datatest::Holder other("EMP00001/VdrVend.dbf", datatest::Holder::RecordLock, 1);
    wa.goTo(1);
    scripted.answer(1);  // wait once
    scripted.answer(2);  // then give up
    EXPECT_EQ(ui::saveFile(company::salespeopleFile(), "M",
                           {xb::Value::str("V1"), xb::Value::str("CAMBIADO")}),
              ui::SaveResult::Abandoned);
    ASSERT_EQ(alerts().size(), 3u);
    EXPECT_EQ(alerts()[0], "Registro bloqueado en VENDEDOR. Por favor espere ...");
    EXPECT_EQ(alerts()[2], "Registro no est\xe1 disponible.");
    // The deletion: "  &Si  ", then give up at once by closing the box.
    scripted.clear();
    scripted.answer(1);
    scripted.answer(0);
    wa.goTo(1);
    EXPECT_FALSE(ui::deleteFile(company::salespeopleFile(), nullptr));
    EXPECT_EQ(alerts().size(), 3u);
    other.release();
    wa.goTo(1);
    EXPECT_FALSE(wa.deleted());
    EXPECT_EQ(text(wa, "NOMBRE").substr(0, 3), "UNO");
    EXPECT_EQ(codesInFile(wa), (std::map<std::string, int>{{"V1", 1}, {"V2", 1}}));
}

TEST_F(Sharing, WaitingForAHeldRecordSavesOnceItIsFree) {
    dbf::WorkArea& wa = vendedor();
    add(wa, {{"CODIGO", xb::Value::str("V1")}, {"NOMBRE", xb::Value::str("UNO")}});
    datatest::Holder other("EMP00001/VdrVend.dbf", datatest::Holder::RecordLock, 1);
    int waits = 0;
    scripted.responder = [&](const data::ScriptedInteraction::Shown&) {
        if (++waits == 3) other.release();
        return 1;
    };
    wa.goTo(1);
    EXPECT_EQ(ui::saveFile(company::salespeopleFile(), "M",
                           {xb::Value::str("V1"), xb::Value::str("CAMBIADO")}),
              ui::SaveResult::Saved);
    EXPECT_EQ(waits, 3);
    wa.goTo(1);
    EXPECT_EQ(text(wa, "NOMBRE").substr(0, 8), "CAMBIADO");
}

TEST_F(Sharing, DeletingAtTheEndOfFileLocksAndDeletesNothing) {
    dbf::WorkArea& wa = vendedor();
    add(wa, {{"CODIGO", xb::Value::str("V1")}, {"NOMBRE", xb::Value::str("UNO")}});
    wa.goBottom();
    wa.skip(1);
    ASSERT_TRUE(wa.eof());
    EXPECT_FALSE(ui::deleteCurrent(wa));
    EXPECT_FALSE(ui::deleteFile(company::salespeopleFile(), nullptr));
    EXPECT_TRUE(scripted.shown().empty());  // not even the question
    // The phantom record was not locked: another workstation appends freely.
    datatest::Holder other("EMP00001/VdrVend.dbf", datatest::Holder::RecordLock, 2);
    EXPECT_EQ(codesInFile(wa), (std::map<std::string, int>{{"V1", 1}}));
}

}  // namespace
