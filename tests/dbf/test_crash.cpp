// Crash safety: a writing process killed at random moments of its appends and
// writes leaves a table that opens with every record it had committed intact.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "cutfs_mount.h"
#include "dbf/table.h"
#include "dbf_test_util.h"

using dbf::Table;
using dbftest::TempDir;

namespace {

std::string expectedText(uint32_t r) {
    return "rec " + std::to_string(r);
}
std::string expectedMemo(uint32_t r) {
    return "memo del registro " + std::to_string(r) + std::string(r % 90, '.');
}

// The child: appends records forever, each with its own number, text and memo,
// and rewrites a counter of some earlier record; after each committed record it
// reports the record number through `fd`.
[[noreturn]] void writer(const std::string& path, bool exclusive, int fd, unsigned seed) {
    try {
        auto t = Table::open(path, {!exclusive, false});
        std::mt19937 rng(seed);
        for (;;) {
            uint32_t r = t->appendBlank();
            t->putNumber(0, r);
            t->putString(1, expectedText(r));
            t->putMemo(2, expectedMemo(r));
            if (r > 1) {
                uint32_t other = 1 + rng() % (r - 1);
                t->read(other);
                if (t->lockRecord(other, false)) {
                    t->putNumber(3, t->getNumber(3) + 1);
                }
            }
            if (exclusive) {
                if (r % 25 == 0) {
                    t->commit();
                    (void)!::write(fd, &r, sizeof r);
                }
            } else {
                t->unlockAll();
                (void)!::write(fd, &r, sizeof r);
            }
        }
    } catch (...) {
        ::_exit(2);
    }
}

}  // namespace

TEST(CrashSafety, KilledWriterLeavesCommittedRecordsIntact) {
    TempDir d;
    std::string p = d.file("crash.dbf");
    Table::create(
        p, {{"N", 'N', 8, 0}, {"TXT", 'C', 20, 0}, {"NOTA", 'M', 10, 0}, {"CNT", 'N', 6, 0}});
    std::mt19937 rng(12345);
    constexpr int kKills = 30;
    // Records appended but never filled by a killed writer stay blank for good.
    std::set<uint32_t> blanks;
    for (int kill = 0; kill < kKills; ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill));
        bool exclusive = kill % 3 == 2;
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(fds[0]);
            writer(p, exclusive, fds[1], static_cast<unsigned>(kill));
        }
        ::close(fds[1]);
        std::this_thread::sleep_for(std::chrono::microseconds(2000 + rng() % 25000));
        ::kill(pid, SIGKILL);
        int st = 0;
        ::waitpid(pid, &st, 0);
        ASSERT_TRUE(WIFSIGNALED(st)) << "the writer stopped by itself: " << WEXITSTATUS(st);
        uint32_t committed = 0, r = 0;
        while (::read(fds[0], &r, sizeof r) == static_cast<ssize_t>(sizeof r)) committed = r;
        ::close(fds[0]);

        auto t = Table::open(p);
        uint32_t count = t->recCount();
        ASSERT_GE(count, committed);
        for (uint32_t i = 1; i <= count; ++i) {
            ASSERT_TRUE(t->read(i));
            double n = t->getNumber(0);
            if (n == 0 && (i > committed || blanks.count(i))) {
                blanks.insert(i);  // appended but not yet filled when killed
                continue;
            }
            ASSERT_EQ(n, i) << "record " << i << " of " << count << ", committed " << committed;
            if (n == i && (i <= committed || t->getMemo(2) == expectedMemo(i))) {
                ASSERT_EQ(t->getString(1),
                          expectedText(i) + std::string(20 - expectedText(i).size(), ' '));
                ASSERT_EQ(t->getMemo(2), expectedMemo(i));
            }
            ASSERT_FALSE(t->deleted());
        }
        // The repaired file is consistent: its count matches its size.
        std::vector<std::string> faults = t->check();
        EXPECT_TRUE(faults.empty()) << faults.front();
    }
}

// A table used alone keeps the memo file's next free block in memory. A
// process that ends without closing, right after committing, must still leave
// the memo header past every memo its committed records point at: the next
// writer would otherwise hand out those blocks again.
TEST(CrashSafety, MemosOfCommittedRecordsSurviveAnUnclosedExclusiveWriter) {
    TempDir d;
    std::string p = d.file("memos.dbf");
    Table::create(p, {{"N", 'N', 8, 0}, {"NOTA", 'M', 10, 0}});
    // Runs `work` on the table opened alone in a child that ends with the
    // table still open, as if the process died there.
    auto unclosed = [&](const std::function<void(Table&)>& work) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            try {
                auto t = Table::open(p, {false, false});
                work(*t);
                ::_exit(0);
            } catch (...) {
                ::_exit(2);
            }
        }
        int st = 0;
        ::waitpid(pid, &st, 0);
        ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
    };
    // Another writer's new memos take fresh blocks; every memo reads back.
    auto appendAndVerify = [&](uint32_t from, uint32_t to,
                               const std::map<uint32_t, uint32_t>& memoOf) {
        auto t = Table::open(p);
        std::vector<std::string> faults = t->check();
        EXPECT_TRUE(faults.empty()) << faults.front();
        for (uint32_t r = from; r <= to; ++r) {
            t->appendBlank();
            t->putNumber(0, r);
            t->putMemo(1, expectedMemo(r));
            t->unlockAll();
        }
        for (uint32_t r = 1; r <= to; ++r) {
            ASSERT_TRUE(t->read(r));
            auto m = memoOf.find(r);
            EXPECT_EQ(t->getMemo(1), expectedMemo(m == memoOf.end() ? r : m->second)) << r;
        }
    };
    // Appends committed, the memo header taken along.
    unclosed([](Table& t) {
        for (uint32_t r = 1; r <= 40; ++r) {
            t.appendBlank();
            t.putNumber(0, r);
            t.putMemo(1, expectedMemo(r));
        }
        t.commit();
    });
    appendAndVerify(41, 50, {});
    // A change in place that needs new blocks, written when the record is left.
    unclosed([](Table& t) {
        t.read(7);
        t.putMemo(1, expectedMemo(700));
        t.read(8);
    });
    appendAndVerify(51, 60, {{7, 700}});
}

// A power cut keeps any write not yet synced and loses any other, in any
// order. Here the record's write reaches the disk and the memo file's do not,
// then the other way round: either way the record is whole, old or new, memo
// included, and its memo's blocks are not handed out again.
TEST(CrashSafety, PowerCutLeavesARecordAndItsMemoOldOrNew) {
    TempDir d;
    testsupport::CutFs fs(d.path());
    VDR_NEED_CUTFS(fs);
    std::string p = fs.file("cut.dbf");
    Table::create(p, {{"NOMBRE", 'C', 10, 0}, {"NOTA", 'M', 10, 0}});
    {
        auto t = Table::open(p);
        t->appendBlank();
        t->putString(0, "VIEJO");
        t->putMemo(1, std::string(200, 'v'));
        t->commit();
        t->unlockAll();
    }
    const std::string oldMemo(200, 'v');
    for (const char* kept : {".dbf", ".fpt"}) {
        SCOPED_TRACE(kept);
        {
            // A shorter text, that would fit the old blocks, then a longer
            // one (new blocks): neither committed when the power goes.
            for (size_t len : {20u, 300u}) {
                auto t = Table::open(p);
                t->read(1);
                ASSERT_TRUE(t->lockRecord(1, true));
                t->putString(0, "NUEVO");
                t->putMemo(1, std::string(len, 'n'));
                t->flush();
            }
        }
        ASSERT_TRUE(fs.cut(std::string("cut keep ") + kept));
        auto t = Table::open(p);
        std::vector<std::string> faults = t->check();
        EXPECT_TRUE(faults.empty()) << faults.front();
        ASSERT_TRUE(t->read(1));
        std::string name = t->getString(0), memo = t->getMemo(1);
        if (name.rfind("VIEJO", 0) == 0)
            EXPECT_EQ(memo, oldMemo);
        else
            EXPECT_EQ(memo, std::string(300, 'n'));
        // A new memo takes blocks of its own.
        t->appendBlank();
        t->putMemo(1, std::string(500, 'x'));
        t->commit();
        t->unlockAll();
        t->read(1);
        EXPECT_EQ(t->getMemo(1), memo);
        EXPECT_TRUE(t->check().empty());
        // Back to the old record for the next round.
        ASSERT_TRUE(t->lockRecord(1, true));
        t->putString(0, "VIEJO");
        t->putMemo(1, oldMemo);
        t->commit();
        t->unlockAll();
    }
}

TEST(CrashSafety, KilledPackLosesNoLiveRecordAndDuplicatesNone) {
    TempDir d;
    std::string p = d.file("pack.dbf");
    constexpr uint32_t kRecs = 30000;
    std::mt19937 rng(777);
    for (int kill = 0; kill < 10; ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill));
        Table::create(p, {{"N", 'N', 8, 0}, {"TXT", 'C', 40, 0}});
        {
            auto t = Table::open(p, {false, false});
            for (uint32_t i = 1; i <= kRecs; ++i) {
                t->appendBlank();
                t->putNumber(0, i);
                t->putString(1, expectedText(i));
                if (i % 3 == 0) t->setDeleted(true);
            }
        }
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            try {
                auto t = Table::open(p, {false, false});
                t->pack();
            } catch (...) {
                ::_exit(2);
            }
            ::_exit(0);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 40000));
        ::kill(pid, SIGKILL);
        int st = 0;
        ::waitpid(pid, &st, 0);
        auto t = Table::open(p, {false, false});
        std::set<uint32_t> live;
        for (uint32_t r = 1; r <= t->recCount(); ++r) {
            t->read(r);
            if (t->deleted()) continue;
            auto n = static_cast<uint32_t>(t->getNumber(0));
            ASSERT_TRUE(live.insert(n).second) << "record " << n << " twice after the kill";
            ASSERT_EQ(t->getString(1).substr(0, expectedText(n).size()), expectedText(n));
        }
        ASSERT_EQ(live.size(), kRecs - kRecs / 3);
        EXPECT_TRUE(t->check().empty());
        EXPECT_FALSE(std::filesystem::exists(p + ".vdrpack"));
    }
}
