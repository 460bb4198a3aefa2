// CREA_FIC and CRE_RES interrupted at every step of the switch to the rebuilt
// table (the process killed there, or the disk full while it writes): the
// table and its memos are whole afterwards, old or new, never lost.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <csignal>

#include "data/maintenance.h"
#include "data/replace.h"
#include "dbf/table.h"
#include "fixture.h"

using namespace datatest;
using data::ReplaceStep;

namespace {

constexpr int kRecords = 24;

std::string memoText(int i) {
    return "Observaciones del prospecto " + std::to_string(i) + " " +
           std::string(1500 + 37 * i, 'a' + i % 26);
}
std::string code(int i) {
    return "P" + std::to_string(100 + i);
}
bool isDeleted(int i) {
    return i % 5 == 0;
}

class Rebuild : public Session {
  protected:
    void SetUp() override {
        Session::SetUp();
        installHere();
        company();
        auto t = dbf::Table::open("EMP00001/VdrProsp.dbf", {false, false});
        int fCode = t->fieldIndex("CODPROSP"), fObs = t->fieldIndex("OBSERVAC");
        for (int i = 1; i <= kRecords; ++i) {
            t->appendBlank();
            t->putString(fCode, code(i));
            t->putMemo(fObs, memoText(i));
            if (isDeleted(i)) t->setDeleted(true);
        }
        t->commit();
    }

    // Opens the table as the program does (which finishes an interrupted
    // switch) and tells which version it holds; fails the test on damage.
    enum class Version { Old, New };
    Version check(const std::string& newField) {
        EXPECT_TRUE(data::ABRIR("Prospecto", xb::getVar("VDRPROSP").asString(), "S"));
        data::CERRAR();
        auto t = dbf::Table::open("EMP00001/VdrProsp.dbf");
        EXPECT_TRUE(t->check().empty());
        bool isNew = t->recCount() != kRecords;
        if (!newField.empty()) {
            EXPECT_EQ(isNew, t->fieldIndex(newField) >= 0);
        }
        int fCode = t->fieldIndex("CODPROSP"), fObs = t->fieldIndex("OBSERVAC");
        uint32_t r = 0;
        for (int i = 1; i <= kRecords; ++i) {
            if (isNew && isDeleted(i)) continue;
            t->read(++r);
            EXPECT_EQ(t->getString(fCode).substr(0, code(i).size()), code(i));
            EXPECT_EQ(t->getMemo(fObs), memoText(i)) << "record " << r;
            EXPECT_EQ(t->deleted(), !isNew && isDeleted(i));
        }
        EXPECT_EQ(r, t->recCount());
        EXPECT_FALSE(exists("EMP00001/VdrProsp.RPL"));
        // Scratch copies left by a crash before the switch are cleared by
        // the next maintenance.
        data::finishInterruptedRebuilds();
        for (const char* f : {"EMP00001/TEMPORAL.DBF", "EMP00001/TEMPORAL.FPT",
                              "EMP00001/TEMP_.DBF", "EMP00001/TEMP_.FPT"})
            EXPECT_FALSE(exists(f)) << f;
        return isNew ? Version::New : Version::Old;
    }

    // Runs `work` in a child process that ends at `step` (or, with a file
    // size limit, fails for want of room); answers the child's exit code.
    template <class F>
    int inChild(F work, std::optional<ReplaceStep> step, rlim_t fileLimit = 0) {
        pid_t pid = ::fork();
        if (pid == 0) {
            if (step) {
                data::setReplaceHook([s = *step](ReplaceStep at) {
                    if (at == s) ::_exit(0);
                });
            }
            if (fileLimit) {
                std::signal(SIGXFSZ, SIG_IGN);
                rlimit rl{fileLimit, fileLimit};
                ::setrlimit(RLIMIT_FSIZE, &rl);
            }
            try {
                work();
            } catch (...) {
                ::_exit(3);
            }
            ::_exit(4);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

const ReplaceStep kSteps[] = {ReplaceStep::Built,      ReplaceStep::Staged,
                              ReplaceStep::Journaled,  ReplaceStep::MemoMoved,
                              ReplaceStep::TableMoved, ReplaceStep::Done};

std::vector<data::FieldSpec> widerProspects() {
    auto s = data::CREARDBF("VDRPROSP.INI", true);
    s.push_back({"EXTRA", 'C', 5, 0});
    return s;
}

}  // namespace

TEST_F(Rebuild, CreaFicKilledAtEveryStep) {
    auto wider = widerProspects();
    auto before = readFile("EMP00001/VdrProsp.dbf");
    auto beforeMemo = readFile("EMP00001/VdrProsp.fpt");
    for (ReplaceStep step : kSteps) {
        SCOPED_TRACE(static_cast<int>(step));
        writeFile("EMP00001/VdrProsp.dbf", before);
        writeFile("EMP00001/VdrProsp.fpt", beforeMemo);
        int rc =
            inChild([&] { data::CREA_FIC(wider, "EMP00001\\VdrProsp.dbf", "EMP00001\\"); }, step);
        ASSERT_EQ(rc, 0);
        bool committed = step >= ReplaceStep::Journaled;
        EXPECT_EQ(check("EXTRA"), committed ? Version::New : Version::Old);
    }
}

TEST_F(Rebuild, CreResKilledAtEveryStep) {
    auto before = readFile("EMP00001/VdrProsp.dbf");
    auto beforeMemo = readFile("EMP00001/VdrProsp.fpt");
    for (ReplaceStep step : kSteps) {
        SCOPED_TRACE(static_cast<int>(step));
        writeFile("EMP00001/VdrProsp.dbf", before);
        writeFile("EMP00001/VdrProsp.fpt", beforeMemo);
        int rc = inChild([&] { data::CRE_RES("VDRPROSP.INI", "EMP00001\\VdrProsp.dbf"); }, step);
        ASSERT_EQ(rc, 0);
        bool committed = step >= ReplaceStep::Journaled;
        EXPECT_EQ(check(""), committed ? Version::New : Version::Old);
    }
}

TEST_F(Rebuild, FullDiskWhileWritingTheCopyKeepsTheOldTable) {
    // The memo file is some 50 KB; the copy may not grow past 16 KB.
    int rc =
        inChild([&] { data::CREA_FIC(widerProspects(), "EMP00001\\VdrProsp.dbf", "EMP00001\\"); },
                std::nullopt, 16384);
    EXPECT_EQ(rc, 3);
    EXPECT_EQ(check("EXTRA"), Version::Old);
    rc = inChild([&] { data::CRE_RES("VDRPROSP.INI", "EMP00001\\VdrProsp.dbf"); }, std::nullopt,
                 16384);
    EXPECT_EQ(rc, 3);
    EXPECT_EQ(check(""), Version::Old);
    // With room, the same rebuild goes through.
    data::CRE_RES("VDRPROSP.INI", "EMP00001\\VdrProsp.dbf");
    EXPECT_EQ(check(""), Version::New);
}

TEST_F(Rebuild, MaintenanceFinishesAnInterruptedRebuildBeforeItsOwnWork) {
    int rc = inChild([&] { data::CRE_RES("VDRPROSP.INI", "EMP00001\\VdrProsp.dbf"); },
                     ReplaceStep::MemoMoved);
    ASSERT_EQ(rc, 0);
    EXPECT_TRUE(exists("EMP00001/VdrProsp.RPL"));
    EXPECT_EQ(data::finishInterruptedRebuilds(), 1);
    EXPECT_EQ(check(""), Version::New);
}
