// Bags after faults: a writer that died between its record and its keys
// leaves a mark that the next open repairs; a bag cut short is rebuilt from
// the table by vdrtool reindex; what a power cut leaves in the table and its
// memos is mended by the same repair; a wrong key byte ends a walk with an error
// instead of an endless one; tag types told from their expressions.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "dbf/cdx.h"
#include "dbf/order.h"
#include "dbf/order_tools.h"
#include "dbf/table.h"
#include "dbf/workspace.h"
#include "dbf_test_util.h"
#include "xbase/runtime.h"

using namespace dbf;
using dbftest::TempDir;

namespace {

const char* kNames[] = {"ALFA",   "BRAVO",   "CHARLIE", "DELTA",  "ECHO",   "FOXTROT", "GOLF",
                        "HOTEL",  "INDIA",   "JULIETT", "KILO",   "LIMA",   "MIKE",    "NOVEMBER",
                        "OSCAR",  "PAPA",    "QUEBEC",  "ROMEO",  "SIERRA", "TANGO",   "UNIFORM",
                        "VICTOR", "WHISKEY", "XRAY",    "YANKEE", "ZULU"};

std::string faultsText(const std::vector<std::string>& faults) {
    std::string s;
    for (const auto& x : faults) s += x + "\n";
    return s;
}

// A table of the 26 names (N = -13 .. 12, FECHA spread) and a bag with tags
// on NOMBRE, N and FECHA.
void makeNames(const std::string& table, const std::string& bag, bool shared = false) {
    Table::create(table, {{"NOMBRE", 'C', 12, 0}, {"N", 'N', 6, 0}, {"FECHA", 'D', 8, 0}});
    xb::setFieldAccess(&workspace());
    workspace().closeAll();
    int a = workspace().open(table, "X", OpenOptions{shared, false});
    WorkArea& wa = *workspace().area(a);
    if (shared) {
        orders(wa).createTag(bag, "NOMBRE", "NOMBRE");
        orders(wa).createTag(bag, "N", "N");
        orders(wa).createTag(bag, "FECHA", "FECHA");
    }
    for (int i = 0; i < 26; ++i) {
        wa.append();
        wa.table().putString(0, kNames[i]);
        wa.table().putNumber(1, i - 13);
        wa.table().putDate(2, 2460000 + (i * 7) % 26);
        wa.unlock();
    }
    if (!shared) {
        orders(wa).createTag(bag, "NOMBRE", "NOMBRE");
        orders(wa).createTag(bag, "N", "N");
        orders(wa).createTag(bag, "FECHA", "FECHA");
    }
    workspace().closeAll();
}

std::string readAll(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeAll(const std::string& p, const std::string& s) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << s;
}

// Replaces the one stored copy of `from` in the bag by `to`.
void patchKey(const std::string& bag, const std::string& from, const std::string& to) {
    std::string b = readAll(bag);
    size_t at = b.find(from);
    ASSERT_NE(at, std::string::npos);
    ASSERT_EQ(b.find(from, at + 1), std::string::npos);
    b.replace(at, to.size(), to);
    writeAll(bag, b);
}

// Walks the NOMBRE order in one direction, at most `bound` steps; answers
// the error's text ("" when the walk ended by itself).
std::string walk(const std::string& table, const std::string& bag, int dir, int bound = 200) {
    workspace().closeAll();
    int a = workspace().open(table, "W", OpenOptions{true, false});
    WorkArea& wa = *workspace().area(a);
    orders(wa).addBag(bag);
    orders(wa).setOrder("NOMBRE");
    std::string err;
    try {
        if (dir > 0)
            wa.goTop();
        else
            wa.goBottom();
        for (int i = 0; i < bound && !(dir > 0 ? wa.eof() : wa.bof()); ++i) wa.skip(dir);
        if (!(dir > 0 ? wa.eof() : wa.bof())) err = "endless";
    } catch (const DbfError& e) {
        err = e.what();
    }
    workspace().closeAll();
    return err;
}

}  // namespace

TEST(BagRepair, WrongKeyByteEndsTheWalkWithAnError) {
    TempDir d;
    std::string table = d.file("flip.dbf"), bag = d.file("flip.cdx");
    makeNames(table, bag);
    ASSERT_EQ(walk(table, bag, 1), "");
    ASSERT_EQ(walk(table, bag, -1), "");
    // Still in order, but not the record's key: stepping back from the
    // stale entry sought the record's own key and came back to it for ever.
    patchKey(bag, "MIKE", "MIKF");
    for (int dir : {-1, 1}) {
        std::string err = walk(table, bag, dir);
        EXPECT_NE(err, "endless") << dir;
        EXPECT_NE(err.find("NOMBRE"), std::string::npos) << err;
        EXPECT_NE(err.find("flip.cdx"), std::string::npos) << err;
    }
    // Out of order.
    patchKey(bag, "MIKF", "AIKE");
    for (int dir : {-1, 1}) {
        std::string err = walk(table, bag, dir);
        EXPECT_FALSE(err.empty()) << dir;
        EXPECT_NE(err, "endless") << dir;
    }
    // The program's rebuild puts it right without walking the damaged tree.
    EXPECT_EQ(reindexBags(table, {bag}), 3);
    EXPECT_EQ(walk(table, bag, -1), "");
    EXPECT_TRUE(checkBags(table, {bag}).empty());
}

TEST(BagRepair, DeadWritersMarkIsRepairedByTheNextOpen) {
    TempDir d;
    std::string table = d.file("mark.dbf"), bag = d.file("mark.cdx");
    makeNames(table, bag);
    // A writer that wrote its record and died before its keys: emulated by
    // taking the mark and changing the record without the bag open.
    pid_t pid = ::fork();
    if (pid == 0) {
        try {
            auto b = CdxBag::open(bag, false, false);
            b->holdChange();
            auto t = Table::open(table, {true, false});
            t->read(5);
            if (!t->lockRecord(5, true)) ::_exit(2);
            t->putString(0, "HUERFANO");
            t->flush();
        } catch (...) {
            ::_exit(3);
        }
        ::_exit(0);  // no destructor: as killed
    }
    int st = 0;
    ::waitpid(pid, &st, 0);
    ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
    auto before = checkBags(table, {bag});
    std::string text = faultsText(before);
    EXPECT_NE(text.find("se interrumpi"), std::string::npos) << text;
    EXPECT_NE(text.find("registro 5"), std::string::npos) << text;

    // A live writer's mark is no reason to repair: only the dead one's.
    {
        auto live = CdxBag::open(bag, false, false);
        live->holdChange();
        auto again = CdxBag::open(bag, false, true);
        EXPECT_TRUE(again->interrupted());  // the dead one still there
        live->releaseChange();
    }
    workspace().closeAll();
    int a = workspace().open(table, "R", OpenOptions{true, false});
    WorkArea& wa = *workspace().area(a);
    orders(wa).addBag(bag);
    orders(wa).setOrder("NOMBRE");
    EXPECT_TRUE(orders(wa).seek(xb::Value::str("HUERFANO")));
    EXPECT_EQ(wa.recno(), 5u);
    EXPECT_FALSE(orders(wa).seek(xb::Value::str("ECHO")));
    workspace().closeAll();
    auto after = checkBags(table, {bag});
    EXPECT_TRUE(after.empty()) << faultsText(after);
    EXPECT_FALSE(CdxBag::open(bag, false, true)->interrupted());
}

// What a power cut in the middle of an append can leave, with the dead
// writer's mark: a last record whose lost half reads as zero bytes, and (on
// files cut before memos were synced ahead of their records) a memo header
// whose next free block is behind the memos records point at. The repair
// takes the torn record off and moves the header on, before any new memo.
TEST(BagRepair, TornAppendAndMemoHeaderBehindAreMendedByTheRepair) {
    TempDir d;
    std::string table = d.file("torn.dbf"), bag = d.file("torn.cdx");
    Table::create(table, {{"NOMBRE", 'C', 12, 0}, {"NOTA", 'M', 10, 0}});
    xb::setFieldAccess(&workspace());
    workspace().closeAll();
    uint32_t headerLength = 0, recordLength = 0;
    {
        int a = workspace().open(table, "X", OpenOptions{true, false});
        WorkArea& wa = *workspace().area(a);
        orders(wa).createTag(bag, "NOMBRE", "NOMBRE");
        for (int i = 0; i < 3; ++i) {
            wa.append();
            wa.table().putString(0, kNames[i]);
            wa.table().putMemo(1, std::string(100, static_cast<char>('a' + i)));
            wa.unlock();
        }
        headerLength = wa.table().headerLength();
        recordLength = wa.table().recordLength();
        workspace().closeAll();
    }
    {
        int fd = ::open(table.c_str(), O_RDWR);
        std::string torn(recordLength, '\0');
        torn.replace(0, 7, " MEDIO ");
        ASSERT_EQ(::pwrite(fd, torn.data(), torn.size(), headerLength + 3 * recordLength),
                  static_cast<ssize_t>(torn.size()));
        unsigned char count[4] = {4, 0, 0, 0};
        ASSERT_EQ(::pwrite(fd, count, 4, 4), 4);
        ::close(fd);
        fd = ::open(d.file("torn.fpt").c_str(), O_RDWR);
        unsigned char next[4] = {0, 0, 0, 8};  // the first block: every memo "free"
        ASSERT_EQ(::pwrite(fd, next, 4, 0), 4);
        ::close(fd);
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        auto b = CdxBag::open(bag, false, false);
        b->holdChange();
        ::_exit(0);  // no destructor: the mark stays, its writer gone
    }
    int st = 0;
    ::waitpid(pid, &st, 0);
    int a = workspace().open(table, "R", OpenOptions{true, false});
    WorkArea& wa = *workspace().area(a);
    orders(wa).addBag(bag);
    EXPECT_EQ(wa.recCount(), 3u);
    wa.append();
    wa.table().putString(0, "NUEVO");
    wa.table().putMemo(1, std::string(300, 'z'));
    wa.unlock();
    for (uint32_t r = 1; r <= 3; ++r) {
        wa.goTo(r);
        EXPECT_EQ(wa.table().getMemo(1), std::string(100, static_cast<char>('a' + r - 1))) << r;
    }
    workspace().closeAll();
    auto faults = checkBags(table, {bag});
    for (const std::string& f : Table::open(table, {true, true})->check()) faults.push_back(f);
    EXPECT_TRUE(faults.empty()) << faultsText(faults);
}

TEST(BagRepair, LiveWritersMarkIsLeftAlone) {
    TempDir d;
    std::string table = d.file("live.dbf"), bag = d.file("live.cdx");
    makeNames(table, bag);
    auto live = CdxBag::open(bag, false, false);
    live->holdChange();
    auto other = CdxBag::open(bag, false, true);
    EXPECT_FALSE(other->interrupted());
    live->releaseChange();
    live.reset();
    EXPECT_FALSE(other->interrupted());
}

TEST(BagRepair, BagCutShortIsRebuiltByReindex) {
    TempDir d;
    std::string table = d.file("cut.dbf"), bag = d.file("cut.cdx");
    Table::create(table, {{"CODE", 'C', 10, 0}, {"NOMBRE", 'C', 20, 0}, {"N", 'N', 8, 0}});
    xb::setFieldAccess(&workspace());
    workspace().closeAll();
    {
        int a = workspace().open(table, "X", OpenOptions{true, false});
        WorkArea& wa = *workspace().area(a);
        orders(wa).createTag(bag, "CODE", "CODE");
        orders(wa).createTag(bag, "NOMBRE", "NOMBRE+CODE");
        orders(wa).createTag(bag, "N", "N");
        // Appended through the tags: their splits put new pages at the end.
        for (int i = 0; i < 400; ++i) {
            wa.append();
            wa.table().putString(0, "C" + std::to_string(i * 7919 % 1000));
            wa.table().putString(1, kNames[i % 26] + std::to_string(i));
            wa.table().putNumber(2, (i * 31) % 97 - 40);
            wa.unlock();
        }
        workspace().closeAll();
    }
    ASSERT_TRUE(checkBags(table, {bag}).empty());
    auto size = std::filesystem::file_size(bag);
    std::filesystem::resize_file(bag, size - 512);
    EXPECT_FALSE(checkBags(table, {bag}).empty());
    std::string tool = std::string(VDR_BINARY_DIR) + "/bin/vdrtool";
    ASSERT_TRUE(std::filesystem::exists(tool)) << tool;
    int status = -1;
    std::string out = dbftest::run(tool + " reindex " + table + " " + bag + " 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
    out = dbftest::run(tool + " check " + table + " " + bag + " 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
    auto faults = checkBags(table, {bag});
    EXPECT_TRUE(faults.empty()) << faultsText(faults);
    // Rebuilt in one piece: no page of the old bag left behind.
    EXPECT_LE(std::filesystem::file_size(bag), size);
    EXPECT_FALSE(std::filesystem::exists(bag + ".vdrnew"));
}

TEST(BagRepair, SharedRebuildKeepsOthersReading) {
    // A rebuild in shared use while another open holds the bag: both keep
    // working on the rebuilt trees.
    TempDir d;
    std::string table = d.file("both.dbf"), bag = d.file("both.cdx");
    makeNames(table, bag, true);
    workspace().closeAll();
    int a = workspace().open(table, "A", OpenOptions{true, false});
    int b = workspace().open(table, "B", OpenOptions{true, false});
    WorkArea& wa = *workspace().area(a);
    WorkArea& wb = *workspace().area(b);
    orders(wa).addBag(bag);
    orders(wb).addBag(bag);
    orders(wb).setOrder("N");
    wb.goTop();
    orders(wa).reindex();
    wb.goTo(3);
    ASSERT_TRUE(wb.lockRecord());
    wb.table().putNumber(1, 99);
    wb.unlock();
    orders(wa).setOrder("N");
    wa.goBottom();
    EXPECT_EQ(wa.recno(), 3u);
    workspace().closeAll();
    auto faults = checkBags(table, {bag});
    EXPECT_TRUE(faults.empty()) << faultsText(faults);
}

TEST(BagRepair, TagTypesComeFromTheirExpressions) {
    TempDir d;
    std::string table = d.file("tipos.dbf"), bag = d.file("tipos.cdx");
    makeNames(table, bag);  // N's smallest key is negative
    auto tags = describeBag(bag, table);
    ASSERT_EQ(tags.size(), 3u);
    EXPECT_EQ(tags[0].keyType, 'C');
    EXPECT_EQ(tags[1].keyType, 'N');
    EXPECT_EQ(tags[2].keyType, 'D');
    EXPECT_EQ(tags[1].keys, 26u);
    std::string tool = std::string(VDR_BINARY_DIR) + "/bin/vdrtool";
    ASSERT_TRUE(std::filesystem::exists(tool)) << tool;
    int status = -1;
    std::string out = dbftest::run(tool + " info " + table + " " + bag + " 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("N           N   8"), std::string::npos) << out;
    EXPECT_NE(out.find("FECHA       D   8"), std::string::npos) << out;
}
