// ABRIR, REC_LOCK and PACA against another process that holds the file or
// the record.
#include <gtest/gtest.h>

#include <filesystem>

#include "cutfs_mount.h"
#include "data/helpers.h"
#include "data/maintenance.h"
#include "dbf/paths.h"
#include "dbf/table.h"
#include "fixture.h"
#include "holder.h"

using namespace datatest;
using Kind = data::ScriptedInteraction::Kind;

namespace {

class Sharing : public Session {
  protected:
    void SetUp() override {
        Session::SetUp();
        installHere();
        company();
        // Three salespeople, the second one deleted.
        auto t = dbf::Table::open("EMP00001/VdrVend.dbf", {false, false});
        for (const char* code : {"V1", "V2", "V3"}) {
            t->appendBlank();
            t->putString(0, code);
        }
        t->read(2);
        t->setDeleted(true);
        t->commit();
    }
};

const std::string kBusy = "FICHERO VdrVend NO ESTA DISPONIBLE. \xbf Desea reintentar ?";

}  // namespace

TEST_F(Sharing, AbrirAsksAfterTwoAttemptsAndGivesUpWhenTheUserDeclines) {
    Holder other("EMP00001/VdrVend.dbf", Holder::Exclusive);
    ui.answer(1);  // retry once
    ui.answer(2);  // then give up
    EXPECT_FALSE(xb::evalText("ABRIR(\"Vendedor\", VDRVEND, \"S\", VDRVENX1)").asLogical());
    auto alerts = ui.of(Kind::Alert);
    ASSERT_EQ(alerts.size(), 2u);
    for (const auto& a : alerts) EXPECT_EQ(a.message, kBusy);
    EXPECT_EQ(ui.of(Kind::Tone).size(), 4u);  // the bell before each question
    EXPECT_FALSE(data::USADA("Vendedor"));
    EXPECT_TRUE(xb::evalText("NETERROR()").asLogical());
    EXPECT_FALSE(xb::evalText("NETERROR()").asLogical());
}

TEST_F(Sharing, AbrirOpensOnceTheOtherWorkstationLetsGo) {
    Holder other("EMP00001/VdrVend.dbf", Holder::Exclusive);
    ui.responder = [&](const data::ScriptedInteraction::Shown&) {
        other.release();
        return 1;
    };
    EXPECT_TRUE(data::ABRIR("Vendedor", xb::getVar("VDRVEND").asString(), "E"));
    EXPECT_EQ(ui.of(Kind::Alert).size(), 1u);
    EXPECT_TRUE(data::USADA("vendedor"));
}

TEST_F(Sharing, RecLockGivesUpAfterTenAttemptsByDefault) {
    Holder other("EMP00001/VdrVend.dbf", Holder::RecordLock, 1);
    ASSERT_TRUE(data::ABRIR("Vendedor", xb::getVar("VDRVEND").asString(), "S"));
    dbf::workspace().area(dbf::workspace().current())->goTo(1);
    EXPECT_FALSE(xb::evalText("REC_LOCK()").asLogical());
    auto alerts = ui.of(Kind::Alert);
    ASSERT_EQ(alerts.size(), 11u);
    EXPECT_EQ(alerts[0].message, "Registro bloqueado en VENDEDOR. Por favor espere ...");
    EXPECT_EQ(alerts[0].title, "Atenci\xf3n.....");
    EXPECT_EQ(alerts[10].message, "Registro no est\xe1 disponible.");
    ui.clear();
    EXPECT_FALSE(data::REC_LOCK(3));
    EXPECT_EQ(ui.of(Kind::Alert).size(), 4u);
    // Another record is free.
    dbf::workspace().area(dbf::workspace().current())->goTo(3);
    EXPECT_TRUE(data::REC_LOCK());
}

TEST_F(Sharing, RecLockZeroWaitsAsLongAsItTakes) {
    Holder other("EMP00001/VdrVend.dbf", Holder::RecordLock, 1);
    ASSERT_TRUE(data::ABRIR("Vendedor", xb::getVar("VDRVEND").asString(), "S"));
    dbf::workspace().area(dbf::workspace().current())->goTo(1);
    int waits = 0;
    ui.responder = [&](const data::ScriptedInteraction::Shown&) {
        if (++waits == 15) other.release();
        return 1;
    };
    EXPECT_TRUE(xb::evalText("REC_LOCK(0)").asLogical());
    EXPECT_EQ(waits, 15);
}

TEST_F(Sharing, RecLockZeroLetsTheUserGiveUp) {
    Holder other("EMP00001/VdrVend.dbf", Holder::RecordLock, 1);
    ASSERT_TRUE(data::ABRIR("Vendedor", xb::getVar("VDRVEND").asString(), "S"));
    dbf::workspace().area(dbf::workspace().current())->goTo(1);
    ui.answer(1);  // wait once
    ui.answer(2);  // then give up
    EXPECT_FALSE(data::REC_LOCK(0));
    auto alerts = ui.of(Kind::Alert);
    ASSERT_EQ(alerts.size(), 3u);
    EXPECT_EQ(alerts[0].buttons, (std::vector<std::string>{"&Aceptar", "A&bandonar"}));
    EXPECT_EQ(alerts[2].message, "Registro no est\xe1 disponible.");
    // Closing the box gives up too.
    ui.clear();
    EXPECT_FALSE(xb::evalText("REC_LOCK(0)").asLogical());
    EXPECT_EQ(ui.of(Kind::Alert).size(), 2u);
}

TEST_F(Sharing, PacaLeavesAHeldTableAsItWasAndPacksItWhenFree) {
    {
        Holder other("EMP00001/VdrVend.dbf", Holder::Shared);
        EXPECT_FALSE(data::PACA(xb::getVar("VDRVEND").asString()));
        EXPECT_EQ(ui.of(Kind::Alert).back().message, kBusy);
        EXPECT_EQ(dbf::Table::open("EMP00001/VdrVend.dbf")->recCount(), 3u);
    }
    EXPECT_TRUE(data::PACA(xb::getVar("VDRVEND").asString()));
    auto t = dbf::Table::open("EMP00001/VdrVend.dbf");
    ASSERT_EQ(t->recCount(), 2u);
    t->read(2);
    EXPECT_EQ(t->getString(0).substr(0, 2), "V3");
    EXPECT_FALSE(data::USADA("EL_ALIAS"));
}

TEST_F(Sharing, ProtegerWaitsForTheRecordAndTriesTheFileOnceWhenAsked) {
    Holder other("EMP00001/VdrVend.dbf", Holder::RecordLock, 3);
    ASSERT_TRUE(data::ABRIR("Vendedor", xb::getVar("VDRVEND").asString(), "S"));
    dbf::WorkArea& a = *dbf::workspace().area(dbf::workspace().current());
    EXPECT_FALSE(xb::evalText("PROTEGER(2)").asLogical());  // one attempt at the file
    a.goTo(1);
    EXPECT_TRUE(xb::evalText("PROTEGER(0)").asLogical());  // record 1 is free
    xb::evalText("DESPROTEGER()");
    other.release();
    EXPECT_TRUE(xb::evalText("PROTEGER(2)").asLogical());
    xb::evalText("DESPROTEGER()");
    EXPECT_TRUE(ui.shown().empty());  // PROTEGER shows nothing
}

TEST_F(Sharing, RecLockReadsWhatAnotherWorkstationWroteMeanwhile) {
    ASSERT_TRUE(data::ABRIR("Vendedor", xb::getVar("VDRVEND").asString(), "S"));
    dbf::WorkArea& a = *dbf::workspace().area(dbf::workspace().current());
    a.goTo(3);  // on the user's screen, being edited
    pid_t pid = ::fork();
    if (pid == 0) {
        try {
            auto t = dbf::Table::open("EMP00001/VdrVend.dbf", {true, false});
            t->read(3);
            if (!t->lockRecord(3, true)) ::_exit(2);
            t->putString(1, "OTRO PUESTO");
            t->unlockAll();
        } catch (...) {
            ::_exit(3);
        }
        ::_exit(0);
    }
    int st = 0;
    ::waitpid(pid, &st, 0);
    ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
    EXPECT_TRUE(xb::evalText("REC_LOCK(0)").asLogical());
    EXPECT_EQ(a.table().getString(1).substr(0, 11), "OTRO PUESTO");
    a.table().putString(0, "V3B");
    xb::evalText("DESPROTEGER()");
    auto t = dbf::Table::open("EMP00001/VdrVend.dbf", {true, true});
    t->read(3);
    EXPECT_EQ(t->getString(0).substr(0, 3), "V3B");
    EXPECT_EQ(t->getString(1).substr(0, 11), "OTRO PUESTO");  // the other's change kept
}

// A company on a share the user may only read: its tables open for reading,
// the user is told once, and a change is refused by the error handler.
TEST_F(Sharing, AbrirOpensTheTablesOfAReadOnlyFolderForReading) {
    std::filesystem::create_directories("ro/disk");
    for (const char* f : {"VdrVend.dbf", "VdrVenx1.cdx", "VdrProsp.dbf", "VdrProsp.fpt"}) {
        auto found = dbf::findExisting("EMP00001/" + std::string(f));
        ASSERT_TRUE(found) << f;
        std::filesystem::copy_file(*found, std::string("ro/disk/") + f);
    }
    testsupport::CutFs fs(std::filesystem::absolute("ro").string(), 0, true);
    VDR_NEED_CUTFS(fs);
    std::vector<std::string> failures;
    xb::setErrorHandler([&](xb::Error& e) {
        failures.push_back(e.description);
        return xb::HandlerAnswer{};
    });
    ASSERT_TRUE(data::ABRIR("Vendedor", fs.file("VdrVend.dbf"), "S", {fs.file("VdrVenx1.cdx")}));
    ASSERT_TRUE(data::ABRIR("Prospecto", fs.file("VdrProsp.dbf"), "S"));
    auto alerts = ui.of(Kind::Alert);
    ASSERT_EQ(alerts.size(), 1u);  // one word for the folder, not one per table
    EXPECT_NE(alerts[0].message.find("es de s\xf3lo lectura"), std::string::npos);
    EXPECT_TRUE(failures.empty());

    EXPECT_EQ(xb::evalText("VENDEDOR->(DBGOTO(1), CODIGO)").asString().substr(0, 2), "V1");
    EXPECT_ANY_THROW(xb::evalText("VENDEDOR->CODIGO := 'X'"));
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find("lectura"), std::string::npos) << failures[0];
    // Exclusive use needs writing: refused, nothing opened.
    EXPECT_ANY_THROW(data::ABRIR("Otro", fs.file("VdrVend.dbf"), "E"));
    EXPECT_EQ(failures.size(), 2u);
    EXPECT_FALSE(data::USADA("Otro"));
}
