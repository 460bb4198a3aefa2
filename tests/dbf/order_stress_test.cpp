// Several processes append, change key fields, delete and recall records of
// one shared table with two bags for a bounded time. Afterwards every tag
// agrees with the records and every committed change is there: the last value
// written to each record (by the clock read while its lock was held) is the
// value on disk. VDR_STRESS_SECONDS sets the duration (default 3).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "dbf/order.h"
#include "dbf/order_tools.h"
#include "dbf/table.h"
#include "dbf/workspace.h"
#include "dbf_test_util.h"
#include "xbase/runtime.h"

using namespace dbf;

namespace {

int64_t nowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

std::string trimRight(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// One writer process: returns its exit status.
int writer(int id, const std::string& table, const std::string& bag1, const std::string& bag2,
           const std::string& logPath, int64_t until) {
    std::ofstream log(logPath);
    try {
        xb::setFieldAccess(&workspace());
        int a = workspace().open(table, "P", OpenOptions{true, false});
        WorkArea& wa = *workspace().area(a);
        orders(wa).addBag(bag1);
        orders(wa).addBag(bag2);
        std::mt19937 rng(static_cast<unsigned>(id * 7919 + 1));
        int seq = 0;
        while (nowNs() < until) {
            ++seq;
            int op = static_cast<int>(rng() % 10);
            if (op < 3) {
                std::string code = "P" + std::to_string(id) + "_" + std::to_string(seq);
                try {
                    uint32_t r = wa.append();
                    wa.table().putString(1, code);
                    wa.table().putString(0, "V" + std::to_string(rng() % 5));
                    wa.table().putString(2, "NUEVO " + code);
                    wa.table().flush();
                    log << "A " << r << ' ' << code << ' ' << nowNs() << '\n';
                    wa.unlock();
                } catch (const DbfError& e) {
                    if (!e.sharingViolation()) throw;
                }
                continue;
            }
            uint32_t n = wa.recCount();
            if (n == 0) continue;
            // Every other change goes to the newest record: the one an
            // appender may not have finished yet.
            uint32_t r = rng() % 2 ? n : 1 + static_cast<uint32_t>(rng() % n);
            if (!wa.lockRecord(r)) continue;
            wa.goTo(r);
            if (op < 7) {
                std::string nombre = "N" + std::to_string(id) + "-" + std::to_string(seq);
                std::string vend = "V" + std::to_string(rng() % 5);
                wa.table().putString(2, nombre);
                wa.table().putString(0, vend);
                wa.table().flush();
                log << "C " << r << ' ' << nombre << ' ' << vend << ' ' << nowNs() << '\n';
            } else if (op < 9) {
                wa.deleteRecord();
                log << "D " << r << " 1 " << nowNs() << '\n';
            } else {
                wa.recall();
                log << "D " << r << " 0 " << nowNs() << '\n';
            }
            wa.unlock();
        }
        workspace().closeAll();
    } catch (const std::exception& e) {
        log << "E " << e.what() << '\n';
        return 1;
    }
    return 0;
}

}  // namespace

TEST(OrderStress, WritersInSeveralProcessesKeepTagsAndChanges) {
    dbftest::TempDir dir;
    std::string table = dir.file("VdrProsp.dbf");
    std::string bag1 = dir.file("VdrPrpx1.cdx");
    std::string bag2 = dir.file("VdrPrpx2.cdx");
    xb::settings().deleted = true;
    xb::setFieldAccess(&workspace());
    workspace().closeAll();
    Table::create(table,
                  {{"CODVEND", 'C', 8, 0}, {"CODPROSP", 'C', 12, 0}, {"NOMBRE", 'C', 30, 0}});
    {
        int a = workspace().open(table, "P", OpenOptions{false, false});
        WorkArea& wa = *workspace().area(a);
        for (int i = 1; i <= 50; ++i) {
            wa.append();
            wa.table().putString(1, "INI" + std::to_string(i));
            wa.table().putString(0, "V" + std::to_string(i % 5));
            wa.table().putString(2, "INICIAL " + std::to_string(i));
            wa.table().flush();
        }
        Orders& o = orders(wa);
        o.createTag(bag1, "CodProsp", "CODPROSP", "!Deleted()");
        o.createTag(bag1, "CodVend", "CODVEND+CODPROSP", "!Deleted()");
        o.createTag(bag1, "VendUniq", "CODVEND", "!Deleted()", true);
        o.createTag(bag2, "Nombre", "NOMBRE", "!Deleted()");
        o.createTag(bag2, "Todos", "CODPROSP");
        workspace().closeAll();
    }
    int seconds = 3;
    if (const char* s = std::getenv("VDR_STRESS_SECONDS")) seconds = std::max(1, std::atoi(s));
    const int kProcs = 4;
    int64_t until = nowNs() + int64_t{seconds} * 1000000000;
    std::vector<pid_t> pids;
    for (int i = 0; i < kProcs; ++i) {
        pid_t pid = ::fork();
        if (pid == 0)
            ::_exit(writer(i, table, bag1, bag2, dir.file("log" + std::to_string(i)), until));
        pids.push_back(pid);
    }
    for (pid_t p : pids) {
        int st = 0;
        ::waitpid(p, &st, 0);
        EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0)
            << dbftest::readFile(dir.file("log" + std::to_string(&p - pids.data())));
    }
    // The indexes agree with the records.
    auto faults = checkBags(table, {bag1, bag2});
    std::string all;
    for (const auto& f : faults) all += f + "\n";
    if (!faults.empty() && std::getenv("VDR_STRESS_TRACE")) {
        for (int i = 0; i < kProcs; ++i)
            all += dbftest::readFile(dir.file("log" + std::to_string(i)));
    }
    EXPECT_TRUE(faults.empty()) << faults.size() << " faltas:\n" << all;

    // Every committed change is there.
    struct Last {
        int64_t ts = -1;
        std::string nombre, vend;
    };
    std::map<uint32_t, Last> lastChange;
    std::map<uint32_t, std::pair<int64_t, bool>> lastDel;
    std::map<uint32_t, std::string> appended;
    std::map<uint32_t, std::string> history;  // every logged step on a record, for a failure
    int ops = 0;
    for (int i = 0; i < kProcs; ++i) {
        std::istringstream log(dbftest::readFile(dir.file("log" + std::to_string(i))));
        std::string line;
        while (std::getline(log, line)) {
            ++ops;
            std::istringstream in(line);
            std::string kind;
            uint32_t r = 0;
            in >> kind >> r;
            history[r] += "P" + std::to_string(i) + ' ' + line + '\n';
            if (kind == "A") {
                std::string code;
                int64_t ts;
                in >> code >> ts;
                EXPECT_TRUE(appended.emplace(r, code).second)
                    << "record " << r << " appended twice";
            } else if (kind == "C") {
                Last l;
                in >> l.nombre >> l.vend >> l.ts;
                if (l.ts > lastChange[r].ts) lastChange[r] = l;
            } else if (kind == "D") {
                int d;
                int64_t ts;
                in >> d >> ts;
                if (!lastDel.count(r) || ts > lastDel[r].first) lastDel[r] = {ts, d == 1};
            }
        }
    }
    EXPECT_GT(ops, 100);
    auto t = Table::open(table, OpenOptions{true, true});
    EXPECT_EQ(t->recCount(), 50 + appended.size());
    for (auto& [r, code] : appended) {
        t->read(r);
        EXPECT_EQ(trimRight(t->getString(1)), code);
    }
    for (auto& [r, l] : lastChange) {
        t->read(r);
        EXPECT_EQ(trimRight(t->getString(2)), l.nombre) << "record " << r << '\n' << history[r];
        EXPECT_EQ(trimRight(t->getString(0)), l.vend) << "record " << r << '\n' << history[r];
    }
    for (auto& [r, d] : lastDel) {
        t->read(r);
        EXPECT_EQ(t->deleted(), d.second) << "record " << r << '\n' << history[r];
    }
}
