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

// The worker: saves the codes it is given as new salespeople and writes how
// each save ended to its report file. Runs only when started by a test.
TEST(SearchWorker, DISABLED_SavesCodes) {
    const char* dir = std::getenv("VDR_SEARCH_WORKER");
    ASSERT_NE(dir, nullptr) << "started only by the sharing tests";
    ASSERT_EQ(::chdir(dir), 0);
    searchtest::startSession("OTRA");
    data::ScriptedInteraction quiet;
    data::ScopedInteraction scoped(quiet);
    const ui::FileSpec& file = company::salespeopleFile();
    ASSERT_TRUE(data::ABRIR(file.alias, xb::getVar("VDRVEND").asString(), "S",
                            {xb::getVar("VDRVENX1").asString()}));
    // Wait for the go, so that both workstations save at the same time.
    while (!QFile::exists(QStringLiteral("go"))) QThread::msleep(5);
    std::ofstream report(std::getenv("VDR_SEARCH_REPORT"));
    std::string codes = std::getenv("VDR_SEARCH_CODES");
    for (size_t i = 0; i < codes.size(); i += 4) {
        const std::string code = codes.substr(i, 3);
        const ui::SaveResult r =
            ui::saveFile(file, "I", {xb::Value::str(code), xb::Value::str("OTRA")});
        report << code << (r == ui::SaveResult::Saved ? " S" : " D") << "\n";
    }
}

class Sharing : public Fixture {
  protected:
    QProcess* startWorker(const std::string& codes, const QString& report) {
        auto* p = new QProcess;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VDR_SEARCH_WORKER"), dir.path());
        env.insert(QStringLiteral("VDR_SEARCH_REPORT"), dir.filePath(report));
        env.insert(QStringLiteral("VDR_SEARCH_CODES"), QString::fromStdString(codes));
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
