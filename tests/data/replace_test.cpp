// The switch from an old table to its rebuilt copy, interrupted at every
// step by a crash (a child process that ends itself there) or by a failure.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "data/replace.h"
#include "tmpdir.h"

using namespace datatest;
using data::ReplaceStep;

namespace {

const std::string kOldT = "old table contents", kOldM = "old memo contents";
const std::string kNewT = "NEW TABLE CONTENTS, LONGER", kNewM = "NEW MEMO";

void prepare(bool oldMemo = true, bool newMemo = true) {
    std::filesystem::create_directory("EMP00001");
    writeFile("EMP00001/VdrProsp.dbf", kOldT);
    if (oldMemo) writeFile("EMP00001/VdrProsp.FPT", kOldM);
    writeFile("EMP00001/TEMPORAL.DBF", kNewT);
    if (newMemo) writeFile("EMP00001/TEMPORAL.FPT", kNewM);
}

// The pair on disk is whole: the old table with the old memo or the new
// table with the new memo.
enum class Pair { Old, New, Mixed };
Pair pairOnDisk() {
    std::string t = readFile("EMP00001/VdrProsp.dbf"), m = readFile("EMP00001/VdrProsp.FPT");
    if (t == kOldT && m == kOldM) return Pair::Old;
    if (t == kNewT && m == kNewM) return Pair::New;
    return Pair::Mixed;
}

int leftovers() {
    int n = 0;
    for (auto& e : std::filesystem::directory_iterator("EMP00001")) {
        std::string f = e.path().filename().string();
        if (f != "VdrProsp.dbf" && f != "VdrProsp.FPT") ++n;
    }
    return n;
}

// Runs the replacement in a child process that dies at `step`.
void crashAt(ReplaceStep step) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        data::setReplaceHook([step](ReplaceStep s) {
            if (s == step) ::_exit(0);
        });
        try {
            data::replaceTable("EMP00001\\TEMPORAL.DBF", "EMP00001\\VdrProsp.dbf");
        } catch (...) {
            ::_exit(3);
        }
        ::_exit(4);  // the step was never reached
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << "the child did not stop at the step";
}

class ReplaceTest : public ::testing::Test {
  protected:
    TempDir dir;
    void TearDown() override { data::setReplaceHook(nullptr); }
};

}  // namespace

TEST_F(ReplaceTest, SwitchesTableAndMemoAndLeavesNothingBehind) {
    prepare();
    data::replaceTable("EMP00001\\TEMPORAL.DBF", "EMP00001\\VdrProsp.dbf");
    EXPECT_EQ(pairOnDisk(), Pair::New);
    EXPECT_EQ(leftovers(), 0);
    EXPECT_FALSE(data::finishReplacement("EMP00001\\VdrProsp.dbf"));
}

TEST_F(ReplaceTest, NewTableWithoutMemoRemovesTheOldMemo) {
    prepare(true, false);
    data::replaceTable("emp00001/temporal.dbf", "EMP00001\\VDRPROSP.DBF");
    EXPECT_EQ(readFile("EMP00001/VdrProsp.dbf"), kNewT);
    EXPECT_FALSE(exists("EMP00001/VdrProsp.FPT"));
    EXPECT_EQ(leftovers(), 0);
}

TEST_F(ReplaceTest, MemoFoundWhateverItsCaseIsReplacedInPlace) {
    prepare(false, true);
    writeFile("EMP00001/vdrprosp.fpt", kOldM);
    data::replaceTable("EMP00001\\TEMPORAL.DBF", "EMP00001\\VdrProsp.dbf");
    EXPECT_EQ(readFile("EMP00001/vdrprosp.fpt"), kNewM);
    EXPECT_FALSE(exists("EMP00001/VdrProsp.FPT"));
}

TEST_F(ReplaceTest, ScratchInAnotherFolder) {
    prepare(true, false);
    std::filesystem::remove("EMP00001/TEMPORAL.DBF");
    std::filesystem::create_directory("scratch");
    writeFile("scratch/TEMPORAL.DBF", kNewT);
    writeFile("scratch/TEMPORAL.FPT", kNewM);
    data::replaceTable("scratch\\TEMPORAL.DBF", "EMP00001\\VdrProsp.dbf");
    EXPECT_EQ(pairOnDisk(), Pair::New);
    EXPECT_TRUE(std::filesystem::is_empty("scratch"));
}

TEST_F(ReplaceTest, CrashAtEveryStepLeavesAWholePairAndTheNextLookFinishesIt) {
    for (ReplaceStep step : {ReplaceStep::Staged, ReplaceStep::Journaled, ReplaceStep::MemoMoved,
                             ReplaceStep::TableMoved, ReplaceStep::Done}) {
        SCOPED_TRACE(static_cast<int>(step));
        std::filesystem::remove_all("EMP00001");
        prepare();
        crashAt(step);
        bool committed = step != ReplaceStep::Staged;
        // Right after the crash, the journal tells how to finish.
        data::finishReplacement("EMP00001\\VdrProsp.dbf");
        EXPECT_EQ(pairOnDisk(), committed ? Pair::New : Pair::Old);
        EXPECT_EQ(leftovers(), 0);
        // Finishing twice is harmless.
        EXPECT_FALSE(data::finishReplacement("EMP00001\\VdrProsp.dbf"));
        EXPECT_EQ(pairOnDisk(), committed ? Pair::New : Pair::Old);
    }
}

TEST_F(ReplaceTest, CrashWithoutNewMemoFinishesWithoutTheOldMemo) {
    for (ReplaceStep step : {ReplaceStep::Journaled, ReplaceStep::MemoMoved}) {
        std::filesystem::remove_all("EMP00001");
        prepare(true, false);
        crashAt(step);
        data::finishReplacement("EMP00001\\VdrProsp.dbf");
        EXPECT_EQ(readFile("EMP00001/VdrProsp.dbf"), kNewT);
        EXPECT_FALSE(exists("EMP00001/VdrProsp.FPT"));
        EXPECT_EQ(leftovers(), 0);
    }
}

TEST_F(ReplaceTest, FailureBeforeTheCommitKeepsTheOldPairAndDropsTheNew) {
    prepare();
    data::setReplaceHook([](ReplaceStep s) {
        if (s == ReplaceStep::Staged) throw data::ReplaceError("disco lleno");
    });
    EXPECT_THROW(data::replaceTable("EMP00001\\TEMPORAL.DBF", "EMP00001\\VdrProsp.dbf"),
                 data::ReplaceError);
    EXPECT_EQ(pairOnDisk(), Pair::Old);
    EXPECT_EQ(leftovers(), 0);
}

TEST_F(ReplaceTest, FailureAfterTheCommitIsFinishedByTheNextReplacementOrLook) {
    prepare();
    data::setReplaceHook([](ReplaceStep s) {
        if (s == ReplaceStep::MemoMoved) throw data::ReplaceError("fallo de E/S");
    });
    EXPECT_THROW(data::replaceTable("EMP00001\\TEMPORAL.DBF", "EMP00001\\VdrProsp.dbf"),
                 data::ReplaceError);
    data::setReplaceHook(nullptr);
    EXPECT_TRUE(data::finishReplacement("EMP00001\\VdrProsp.dbf"));
    EXPECT_EQ(pairOnDisk(), Pair::New);
}

TEST_F(ReplaceTest, DamagedJournalIsReportedAndNothingIsTouched) {
    prepare();
    writeFile("EMP00001/VdrProsp.RPL", "VALDROSA-REEMPLAZO 1\nTABLA\tx\n");
    EXPECT_THROW(data::finishReplacement("EMP00001\\VdrProsp.dbf"), data::ReplaceError);
    EXPECT_EQ(pairOnDisk(), Pair::Old);
}
