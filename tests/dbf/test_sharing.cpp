// Sharing between opens and between processes: exclusive use, record and file
// locks, the header lock around appends, and visibility of committed changes.
// Open-file-description locks make two opens in one process conflict, so many
// cases run in-process; the others fork a real second process.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <functional>
#include <thread>

#include "dbf/cdx.h"
#include "dbf/locks.h"
#include "dbf/workspace.h"
#include "dbf_test_util.h"

using dbf::DbfError;
using dbf::Table;
using dbftest::TempDir;

namespace {

std::string makeTable(const TempDir& d, int records) {
    std::string p = d.file("share.dbf");
    Table::create(p, {{"N", 'N', 6, 0}, {"TXT", 'C', 12, 0}, {"NOTA", 'M', 10, 0}});
    auto t = Table::open(p, {false, false});
    for (int i = 1; i <= records; ++i) {
        t->appendBlank();
        t->putNumber(0, i);
    }
    return p;
}

// A second process: runs `body` after the parent says "go" and reports one
// byte back; the parent then lets it finish.
class Child {
  public:
    explicit Child(std::function<char()> body) {
        if (::pipe(toChild_) != 0 || ::pipe(toParent_) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            char c;
            if (::read(toChild_[0], &c, 1) != 1) ::_exit(3);
            char r = 'x';
            try {
                r = body();
            } catch (...) {
                r = 'E';
            }
            if (::write(toParent_[1], &r, 1) != 1) ::_exit(3);
            // Hold whatever the body took until the parent lets go.
            if (::read(toChild_[0], &c, 1) != 1) ::_exit(3);
            ::_exit(0);
        }
    }
    // Starts the body and answers its report.
    char run() {
        char c = 'g';
        if (::write(toChild_[1], &c, 1) != 1) return '?';
        if (::read(toParent_[0], &c, 1) != 1) return '?';
        return c;
    }
    void finish() {
        if (pid_ <= 0) return;
        char c = 'q';
        (void)!::write(toChild_[1], &c, 1);
        int st = 0;
        ::waitpid(pid_, &st, 0);
        pid_ = -1;
    }
    ~Child() {
        finish();
        for (int fd : {toChild_[0], toChild_[1], toParent_[0], toParent_[1]}) ::close(fd);
    }

  private:
    pid_t pid_ = -1;
    int toChild_[2] = {-1, -1};
    int toParent_[2] = {-1, -1};
};

}  // namespace

TEST(Exclusive, ExclusiveOpenKeepsOthersOutWithSharingViolation) {
    TempDir d;
    std::string p = makeTable(d, 1);
    auto excl = Table::open(p, {false, false});
    try {
        Table::open(p);
        FAIL() << "a shared open got in beside an exclusive one";
    } catch (const DbfError& e) {
        EXPECT_EQ(e.oscode(), dbf::kOsSharingViolation);
        EXPECT_EQ(e.gencode(), dbf::kErrOpen);
        EXPECT_TRUE(e.sharingViolation());
    }
    EXPECT_THROW(Table::open(p, {false, false}), DbfError);
    excl.reset();
    auto s1 = Table::open(p);
    auto s2 = Table::open(p);  // shared opens live side by side
    EXPECT_THROW(Table::open(p, {false, false}), DbfError);
}

TEST(Exclusive, WorkspaceSetsTheNetworkErrorFlag) {
    TempDir d;
    std::string p = makeTable(d, 1);
    auto excl = Table::open(p, {false, false});
    dbf::Workspace ws;
    EXPECT_THROW(ws.open(p, "S"), DbfError);
    EXPECT_TRUE(ws.netErr());
    EXPECT_FALSE(ws.used("S"));
    excl.reset();
    ws.open(p, "S");
    EXPECT_FALSE(ws.netErr());
}

TEST(Exclusive, AnotherProcessHoldingTheFileExclusively) {
    TempDir d;
    std::string p = makeTable(d, 1);
    std::unique_ptr<Table> held;
    Child child([&] {
        held = Table::open(p, {false, false});
        return 'k';
    });
    ASSERT_EQ(child.run(), 'k');
    try {
        Table::open(p);
        FAIL();
    } catch (const DbfError& e) {
        EXPECT_EQ(e.oscode(), 32);
    }
    child.finish();
    EXPECT_NO_THROW(Table::open(p));  // the dead process's locks are gone
}

TEST(RecordLocks, AnswerAtOnceAndConflictBetweenOpens) {
    TempDir d;
    std::string p = makeTable(d, 3);
    auto a = Table::open(p);
    auto b = Table::open(p);
    EXPECT_TRUE(a->lockRecord(2, true));
    EXPECT_FALSE(b->lockRecord(2, true));
    EXPECT_TRUE(b->lockRecord(3, true));
    EXPECT_FALSE(a->lockFile());  // b holds record 3
    EXPECT_FALSE(b->lockFile());  // a holds record 2
    // A plain lock releases the other records this open held.
    EXPECT_TRUE(a->lockRecord(1, true));
    EXPECT_TRUE(b->lockRecord(2, false));
    EXPECT_EQ(b->lockList(), (std::vector<uint32_t>{2, 3}));
    b->unlockRecord(3);
    EXPECT_TRUE(a->lockRecord(3, false));
    a->unlockAll();
    b->unlockAll();
    ASSERT_TRUE(a->lockFile());
    EXPECT_FALSE(b->lockRecord(1, true));
    EXPECT_FALSE(b->lockFile());
    EXPECT_TRUE(a->lockRecord(2, true));  // inside its own file lock
    a->unlockAll();
    EXPECT_TRUE(b->lockRecord(1, true));
}

// Runs of records are locked and released in one call each; records
// appended under the header are locked before the count names them and
// stay locked until released.
TEST(RecordLocks, RunsAndAppendsUnderTheHeaderAreLockedRecordByRecord) {
    TempDir d;
    std::string p = makeTable(d, 6);
    auto a = Table::open(p);
    auto b = Table::open(p);
    EXPECT_TRUE(a->lockRecords({5, 2, 3}));
    for (uint32_t r : {2u, 3u, 5u}) EXPECT_FALSE(b->lockRecord(r, false)) << r;
    EXPECT_TRUE(b->lockRecord(4, false));
    EXPECT_FALSE(a->lockRecords({4, 6}));  // 4 is b's; 6 is still taken
    EXPECT_EQ(a->lockList(), (std::vector<uint32_t>{2, 3, 5, 6}));
    EXPECT_FALSE(b->lockRecord(6, false));
    a->unlockRecord(3);
    EXPECT_TRUE(b->lockRecord(3, false));
    a->unlockAll();
    for (uint32_t r : {2u, 5u, 6u}) EXPECT_TRUE(b->lockRecord(r, false)) << r;
    b->unlockAll();

    ASSERT_TRUE(a->lockHeader());
    for (int i = 0; i < 3; ++i) a->appendBlank(false);
    a->appendBlank(true);  // lets go of the three before it
    a->appendBlank(false);
    EXPECT_EQ(b->recCount(), 6u);  // not yet named by the count
    a->unlockHeader();
    EXPECT_EQ(b->recCount(), 11u);
    for (uint32_t r = 7; r <= 9; ++r) EXPECT_TRUE(b->lockRecord(r, false)) << r;
    for (uint32_t r : {10u, 11u}) EXPECT_TRUE(b->lockedByOther(r)) << r;
    EXPECT_EQ(a->lockList(), (std::vector<uint32_t>{10, 11}));
    a->unlockAll();
    for (uint32_t r : {10u, 11u}) EXPECT_TRUE(b->lockRecord(r, false)) << r;
}

TEST(RecordLocks, BytesAreWhereFoxProPutsThem) {
    TempDir d;
    std::string p = makeTable(d, 3);
    auto a = Table::open(p);
    ASSERT_TRUE(a->lockRecord(2, true));
    int fd = ::open(p.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    using namespace dbf::locks;
    EXPECT_TRUE(isLockedByOther(fd, 2147483646 - 2, 1, Kind::Write));
    EXPECT_FALSE(isLockedByOther(fd, 2147483646 - 1, 1, Kind::Write));
    EXPECT_TRUE(isLockedByOther(fd, kExclusiveByte, 1, Kind::Write));  // shared open: read lock
    EXPECT_FALSE(isLockedByOther(fd, kExclusiveByte, 1, Kind::Read));
    a->unlockAll();
    ASSERT_TRUE(a->lockFile());
    int64_t max = fileLockRecords(a->headerLength(), a->recordLength());
    EXPECT_TRUE(isLockedByOther(fd, kHeaderByte, 1, Kind::Write));
    EXPECT_TRUE(isLockedByOther(fd, kHeaderByte - max, 1, Kind::Write));
    EXPECT_FALSE(isLockedByOther(fd, kHeaderByte - max - 1, 1, Kind::Write));
    ::close(fd);
}

TEST(RecordLocks, AppendFailsWhileAnotherHoldsTheHeader) {
    TempDir d;
    std::string p = makeTable(d, 1);
    auto a = Table::open(p);
    auto b = Table::open(p);
    ASSERT_TRUE(a->lockFile());
    try {
        b->appendBlank();
        FAIL() << "appended under another user's file lock";
    } catch (const DbfError& e) {
        EXPECT_TRUE(e.sharingViolation());
        EXPECT_EQ(e.gencode(), dbf::kErrAppendLock);
    }
    EXPECT_EQ(b->recCount(), 1u);
    a->appendBlank();  // the file lock's holder may append
    a->unlockAll();
    EXPECT_EQ(b->appendBlank(), 3u);
}

TEST(Visibility, AppendsUnderAFileLockAreCommittedAtTheUnlock) {
    TempDir d;
    std::string p = makeTable(d, 2);
    auto w = Table::open(p);
    auto r = Table::open(p);
    ASSERT_TRUE(w->lockFile());
    for (int i = 0; i < 50; ++i) {
        uint32_t n = w->appendBlank();
        EXPECT_EQ(n, 3u + static_cast<uint32_t>(i));
        w->putNumber(0, 1000 + i);
        w->putMemo(2, "lote " + std::to_string(i));
    }
    w->read(10);  // the batch reads back its own records
    EXPECT_EQ(w->getNumber(0), 1007);
    EXPECT_EQ(w->recCount(), 52u);
    EXPECT_EQ(r->recCount(), 2u);  // nothing committed yet
    EXPECT_THROW(r->appendBlank(), DbfError);
    w->unlockAll();
    EXPECT_EQ(r->recCount(), 52u);
    r->read(52);
    EXPECT_EQ(r->getNumber(0), 1049);
    EXPECT_EQ(r->getMemo(2), "lote 49");
    EXPECT_EQ(r->appendBlank(), 53u);
    EXPECT_TRUE(r->check().empty());
}

TEST(Visibility, SecondOpenSeesCommittedChangesAtItsNextMove) {
    TempDir d;
    std::string p = makeTable(d, 2);
    dbf::Workspace reader;
    reader.open(p, "R");
    dbf::WorkArea& r = *reader.selected();
    auto w = Table::open(p);
    w->read(1);
    ASSERT_TRUE(w->lockRecord(1, true));
    w->putString(1, "cambiado");
    w->putMemo(2, "nota nueva");
    // Not yet written back: the reader still sees the old text.
    r.goTop();
    EXPECT_EQ(r.get(1).asString(), std::string(12, ' '));
    w->unlockAll();  // writes the record back
    r.skip(0);
    EXPECT_EQ(r.get(1).asString(), "cambiado    ");
    EXPECT_EQ(r.get(2).asString(), "nota nueva");
    // A memo written past the end the reader saw last (the reader keeps the
    // memo file's size while it has no reason to ask again).
    const std::string longer(3000, 'x');
    ASSERT_TRUE(w->lockRecord(1, true));
    w->putMemo(2, longer);
    w->unlockAll();
    r.goTo(1);
    EXPECT_EQ(r.get(2).asString(), longer);
    w->appendBlank();
    w->putNumber(0, 77);
    w->unlockAll();
    r.goBottom();
    EXPECT_EQ(r.recno(), 3u);
    EXPECT_EQ(r.get(0).asNumber(), 77);
    EXPECT_EQ(r.recCount(), 3u);
    // Skipping on from the last record finds a record appended meanwhile.
    w->appendBlank();
    w->putNumber(0, 78);
    w->unlockAll();
    r.skip();
    EXPECT_FALSE(r.eof());
    EXPECT_EQ(r.get(0).asNumber(), 78);
    // And a change to a record already counted is seen when moving onto it.
    w->read(1);
    ASSERT_TRUE(w->lockRecord(1, true));
    w->putNumber(0, 500);
    w->unlockAll();
    r.goTo(1);
    EXPECT_EQ(r.get(0).asNumber(), 500);
}

TEST(Visibility, AnotherProcessAppendsAndWrites) {
    TempDir d;
    std::string p = makeTable(d, 1);
    dbf::Workspace reader;
    reader.open(p, "R");
    dbf::WorkArea& r = *reader.selected();
    Child child([&] {
        auto t = Table::open(p);
        for (int i = 0; i < 10; ++i) {
            t->appendBlank();
            t->putNumber(0, 100 + i);
            t->putMemo(2, "memo " + std::to_string(i));
        }
        t->read(1);
        if (!t->lockRecord(1, true)) return 'L';
        t->putString(1, "del hijo");
        t->unlockAll();
        return 'k';
    });
    ASSERT_EQ(child.run(), 'k');
    r.goTop();
    EXPECT_EQ(r.get(1).asString(), "del hijo    ");
    r.goBottom();
    EXPECT_EQ(r.recno(), 11u);
    EXPECT_EQ(r.get(0).asNumber(), 109);
    EXPECT_EQ(r.get(2).asString(), "memo 9");
    child.finish();
}

// Inside a read batch a shared open reads each record once (a walk forward
// reads ahead a window); a record it locks is read again, and so is the
// count an append starts from, so that a change or an append another user
// made meanwhile is never written over; after the batch all is read afresh.
TEST(Visibility, AReadBatchReadsOnceButLocksAndAppendsReadAgain) {
    TempDir d;
    std::string p = makeTable(d, 20);
    auto r = Table::open(p);
    Child child([&] {
        auto t = Table::open(p);
        for (uint32_t n : {5u, 7u}) {
            t->read(n);
            if (!t->lockRecord(n, true)) return 'L';
            t->putNumber(0, 100 * n);
            t->unlockAll();
        }
        t->appendBlank();
        t->putNumber(0, 21);
        t->unlockAll();
        return 'k';
    });
    {
        dbf::ReadBatch batch;
        for (uint32_t n = 1; n <= 10; ++n) ASSERT_TRUE(r->read(n));
        EXPECT_EQ(r->getNumber(0), 10);
        EXPECT_EQ(r->recCount(), 20u);
        ASSERT_EQ(child.run(), 'k');
        // Locked while another record is current: read again when visited.
        ASSERT_TRUE(r->lockRecord(7, false));
        ASSERT_TRUE(r->read(7));
        EXPECT_EQ(r->getNumber(0), 700);
        // An append counts from the file: the other user's record stays.
        EXPECT_EQ(r->appendBlank(), 22u);
        r->putNumber(0, 22);
        // The current record locked is read again before it is changed.
        ASSERT_TRUE(r->read(5));
        ASSERT_TRUE(r->lockRecord(5, true));
        EXPECT_EQ(r->getNumber(0), 500);
        r->putString(1, "mio");
        r->unlockAll();
    }
    child.finish();
    ASSERT_TRUE(r->read(21));
    EXPECT_EQ(r->getNumber(0), 21);
    ASSERT_TRUE(r->read(5));
    EXPECT_EQ(r->getNumber(0), 500);
    EXPECT_EQ(r->getString(1), "mio         ");
    EXPECT_EQ(r->recCount(), 22u);
    EXPECT_TRUE(r->check().empty());
}

TEST(Visibility, ConcurrentAppendsFromTwoProcessesLoseNothing) {
    TempDir d;
    std::string p = makeTable(d, 0);
    constexpr int kEach = 200;
    auto appender = [&](int base) {
        return [&, base] {
            auto t = Table::open(p);
            for (int i = 0; i < kEach; ++i) {
                t->appendBlank();
                t->putNumber(0, base + i);
                t->putMemo(2, "m" + std::to_string(base + i));
                t->unlockAll();
            }
            return 'k';
        };
    };
    Child c1(appender(1000));
    Child c2(appender(5000));
    // Start both, then collect.
    std::thread t1([&] { EXPECT_EQ(c1.run(), 'k'); });
    EXPECT_EQ(c2.run(), 'k');
    t1.join();
    c1.finish();
    c2.finish();
    auto t = Table::open(p);
    ASSERT_EQ(t->recCount(), 2u * kEach);
    std::vector<int> seen;
    for (uint32_t r = 1; r <= t->recCount(); ++r) {
        t->read(r);
        int n = static_cast<int>(t->getNumber(0));
        seen.push_back(n);
        EXPECT_EQ(t->getMemo(2), "m" + std::to_string(n));
    }
    std::sort(seen.begin(), seen.end());
    for (int i = 0; i < kEach; ++i) {
        EXPECT_EQ(seen[static_cast<size_t>(i)], 1000 + i);
        EXPECT_EQ(seen[static_cast<size_t>(kEach + i)], 5000 + i);
    }
    EXPECT_TRUE(t->check().empty());
}
