// A disk that fills up in the middle of a commit of a table, its memo and
// its bag: a writer in a child process under a file-size limit (a write past
// it fails as on a full disk) appends records and changes keys and memos
// until a write fails. It stops with a clear message; nothing it committed
// before is lost; the next open leaves a sound bag.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "dbf/order.h"
#include "dbf/order_tools.h"
#include "dbf/table.h"
#include "dbf/workspace.h"
#include "dbf_test_util.h"
#include "xbase/runtime.h"

using namespace dbf;
namespace fs = std::filesystem;

namespace {

struct Rec {
    std::string code, memo;
    double n = 0;
    bool operator==(const Rec&) const = default;
};

void say(int fd, const std::string& line) {
    const std::string l = line + "\n";
    (void)!::write(fd, l.data(), l.size());
}

// Ten digits that share no beginning with their neighbours: the bag's
// leaves fill (and the bag grows) about as fast as the table.
std::string codeOf(int op) {
    return std::to_string(1000000000 + static_cast<uint64_t>(op) * 2654435761u % 1000000000);
}

std::string memoOf(int op) {
    return "nota " + std::to_string(op) + std::string(static_cast<size_t>(op * 37 % 400), '.');
}

// The writer: before each operation "B op recno" (0: an append), after its
// commit (the unlock) "C recno code op memo" (memo 1 when it wrote one);
// when a write fails, "E message" and exit code 2. Without `memos` only the
// table and the bag grow; without `bag` the table alone.
[[noreturn]] void writer(const std::string& table, const std::string& bag, int fd, rlim_t limit,
                         bool memos, bool withBag) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit rl{limit, limit};
    ::setrlimit(RLIMIT_FSIZE, &rl);
    try {
        xb::setFieldAccess(&workspace());
        WorkArea& wa = *workspace().area(workspace().open(table, "W", OpenOptions{true, false}));
        if (withBag) orders(wa).addBag(bag);
        for (int op = 1; op < 3000; ++op) {
            uint32_t r = 0;
            say(fd, "B " + std::to_string(op) + ' ' +
                        std::to_string(op % 3 == 0 ? 0 : 1 + op * 7 % wa.recCount()));
            if (op % 3 == 0) {
                r = wa.append();
            } else {
                r = 1 + static_cast<uint32_t>(op * 7 % wa.recCount());
                wa.goTo(r);
                if (!wa.lockRecord()) continue;
            }
            const std::string code = codeOf(op);
            wa.table().putString(0, code);
            wa.table().putNumber(1, op);
            if (memos) wa.table().putMemo(2, memoOf(op));
            wa.unlock();
            say(fd, "C " + std::to_string(r) + ' ' + code + ' ' + std::to_string(op) +
                        (memos ? " 1" : " 0"));
        }
        workspace().closeAll();
        ::_exit(0);
    } catch (const std::exception& e) {
        say(fd, std::string("E ") + e.what());
        ::_exit(2);
    }
}

std::string trimRight(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

}  // namespace

TEST(DiskFull, AFailedWriteInACommitLosesNothingCommittedAndTheNextOpenIsSound) {
    dbftest::TempDir d;
    const std::string table = d.file("Lleno.dbf"), bag = d.file("Lleno.cdx");
    std::map<uint32_t, Rec> start;
    {
        Table::create(table, {{"CODE", 'C', 10, 0}, {"N", 'N', 8, 0}, {"NOTA", 'M', 10, 0}});
        xb::setFieldAccess(&workspace());
        WorkArea& wa = *workspace().area(workspace().open(table, "X", OpenOptions{false, false}));
        orders(wa).createTag(bag, "CODE", "CODE");
        orders(wa).createTag(bag, "N", "N");
        for (uint32_t r = 1; r <= 30; ++r) {
            wa.append();
            start[r] = {"S" + std::to_string(r), memoOf(static_cast<int>(r)), 0};
            wa.table().putString(0, start[r].code);
            wa.table().putMemo(2, start[r].memo);
        }
        workspace().closeAll();
    }
    const std::string files[] = {table, d.file("Lleno.fpt"), bag};
    std::map<std::string, std::string> pristine;
    for (const std::string& f : files) pristine[f] = dbftest::readFile(f);

    // Limits just past each file's end and a little further, each with and
    // without memos. The first write past the limit fails, in whichever file
    // it falls: the larger bag and memo file fail before the table can grow,
    // so the table's own rounds leave the bag closed.
    struct Round {
        rlim_t limit;
        bool memos, withBag;
    };
    std::vector<Round> rounds;
    for (const std::string& f : files)
        for (rlim_t past : {1, 700})
            for (bool memos : {false, true})
                rounds.push_back({pristine[f].size() + past, memos, f != table});
    std::map<std::string, int> failedIn;
    for (const auto& [limit, memos, withBag] : rounds) {
        SCOPED_TRACE("limit " + std::to_string(limit) + (memos ? " with memos" : ""));
        for (const std::string& f : files) dbftest::writeFile(f, pristine[f]);
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            writer(table, bag, fds[1], limit, memos, withBag);
        }
        ::close(fds[1]);
        std::string out;
        char buf[4096];
        for (ssize_t got; (got = ::read(fds[0], buf, sizeof buf)) > 0;)
            out.append(buf, static_cast<size_t>(got));
        ::close(fds[0]);
        int st = 0;
        ::waitpid(pid, &st, 0);
        ASSERT_TRUE(WIFEXITED(st)) << "the writer crashed: " << out;
        ASSERT_EQ(WEXITSTATUS(st), 2) << "no write failed under the limit: " << out;

        // What the writer committed before the failure.
        // The operation under way when it failed may have happened or not.
        std::map<uint32_t, Rec> model = start;
        std::istringstream in(out);
        std::string line, message;
        int inFlight = 0;
        uint32_t inFlightRec = 0;
        while (std::getline(in, line)) {
            std::istringstream ls(line);
            std::string kind;
            ls >> kind;
            if (kind == "E") {
                message = line.substr(2);
            } else if (kind == "B") {
                ls >> inFlight >> inFlightRec;
                if (inFlightRec == 0) inFlightRec = model.rbegin()->first + 1;
            } else {
                uint32_t r = 0;
                int op = 0, memo = 0;
                std::string code;
                ls >> r >> code >> op >> memo;
                const std::string before = model.count(r) ? model[r].memo : "";
                model[r] = {code, memo ? memoOf(op) : before, static_cast<double>(op)};
                inFlight = 0;
            }
        }
        ASSERT_NE(inFlight, 0) << out;
        const Rec done{codeOf(inFlight),
                       memos                      ? memoOf(inFlight)
                       : model.count(inFlightRec) ? model[inFlightRec].memo
                                                  : "",
                       static_cast<double>(inFlight)};
        // A clear message naming the file that could not grow.
        EXPECT_NE(message.find("Lleno."), std::string::npos) << message;
        EXPECT_EQ(message.find("error del sistema"), std::string::npos) << message;
        for (const std::string& f : files)
            if (message.find(fs::path(f).filename().string()) != std::string::npos)
                ++failedIn[fs::path(f).extension().string()];

        // Every committed record as it was committed; a record begun after
        // the last commit may or may not be there.
        {
            auto t = Table::open(table, {true, true});
            ASSERT_GE(t->recCount(), model.rbegin()->first);
            for (uint32_t r = 1; r <= t->recCount(); ++r) {
                t->read(r);
                const Rec disk{trimRight(t->getString(0)), t->getMemo(2), t->getNumber(1)};
                if (r == inFlightRec && disk == done) continue;
                if (r == inFlightRec && !model.count(r)) {
                    // An append cut short: at most an empty record.
                    EXPECT_TRUE(disk.code.empty()) << "record " << r << " (" << disk.code << ")";
                    continue;
                }
                ASSERT_TRUE(model.count(r)) << "record " << r << " never written";
                EXPECT_EQ(disk, model[r]) << "record " << r << " (" << disk.code << ")";
            }
        }
        // The next open puts the bag right; then the check finds nothing.
        workspace().closeAll();
        if (!withBag) continue;  // the writer changed keys the bag never saw
        orders(*workspace().area(workspace().open(table, "N", OpenOptions{true, false})))
            .addBag(bag);
        workspace().closeAll();
        std::string faults;
        for (const std::string& f : checkBags(table, {bag})) faults += f + "\n";
        EXPECT_TRUE(faults.empty()) << faults;
    }
    // The failures that stopped the writer fell in each of the three files:
    // a bag that could not be written is told to the writer at once, as the
    // table and the memo file are.
    std::string where;
    for (const auto& [ext, n] : failedIn) where += ext + ": " + std::to_string(n) + "  ";
    EXPECT_TRUE(failedIn.count(".dbf") && failedIn.count(".fpt") && failedIn.count(".cdx"))
        << where;
    std::printf("writes that failed: %s\n", where.c_str());
}
