// The compound index file layer: keys, reading Visual FoxPro's bags, writing
// bags that an independent reader (index_dump of libdbd-xbase-perl) reads back,
// tree maintenance against a model, and sharing between two opens.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "dbf/cdx.h"
#include "dbf/error.h"
#include "dbf/locks.h"
#include "dbf/order.h"
#include "dbf/order_tools.h"
#include "dbf/table.h"
#include "dbf/workspace.h"
#include "outside_tools.h"
#include "xbase/runtime.h"

namespace fs = std::filesystem;
using namespace dbf;

namespace {

std::string runCapture(const std::string& cmd) {
    std::string out;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
    return out;
}

bool haveIndexDump() {
    return std::system("command -v index_dump >/dev/null 2>&1") == 0;
}

// index_dump's lines: "<key> <recno>", the key possibly with blanks inside.
std::vector<std::pair<std::string, uint32_t>> indexDump(const std::string& file,
                                                        const std::string& tag,
                                                        const std::string& type) {
    std::string cmd = "index_dump --type=" + type + " '" + file + "' " + tag + " 2>/dev/null";
    std::istringstream in(runCapture(cmd));
    std::vector<std::pair<std::string, uint32_t>> r;
    std::string line;
    while (std::getline(in, line)) {
        auto sp = line.rfind(' ');
        if (sp == std::string::npos) continue;
        std::string key = line.substr(0, sp);
        while (!key.empty() && key.back() == ' ') key.pop_back();
        r.emplace_back(key, static_cast<uint32_t>(std::stoul(line.substr(sp + 1))));
    }
    return r;
}

std::string rtrim(std::string_view s) {
    std::string r(s);
    while (!r.empty() && r.back() == ' ') r.pop_back();
    return r;
}

class TempDir {
  public:
    TempDir() {
        char tmpl[] = "/tmp/cdxtestXXXXXX";
        path_ = ::mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(path_); }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

std::vector<std::string> vfpBags() {
    std::vector<std::string> r;
    for (const char* sub : {"contacts", "expenses"})
        for (auto& e :
             fs::directory_iterator(std::string(VDR_SOURCE_DIR) + "/tests/data/vfp/" + sub))
            if (e.path().extension() == ".CDX") r.push_back(e.path().string());
    std::sort(r.begin(), r.end());
    return r;
}

std::vector<std::pair<std::string, uint32_t>> walkAll(CdxTag* t) {
    std::vector<std::pair<std::string, uint32_t>> r;
    t->walk([&](std::string_view k, uint32_t rec) {
        r.emplace_back(std::string(k), rec);
        return true;
    });
    return r;
}

}  // namespace

// ---------------------------------------------------------------------------
TEST(CdxKey, NumbersOrderAsBytes) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> d(-1e9, 1e9);
    std::vector<double> v{0.0, -0.0, 1.0, -1.0, 0.5, -0.5, 1e300, -1e300, 2451545, 1e-300};
    for (int i = 0; i < 2000; ++i) v.push_back(std::round(d(rng) * 100) / 100);
    for (double a : v) {
        EXPECT_EQ(cdxkey::toNumber(cdxkey::fromNumber(a)), a == 0 ? 0.0 : a);
        for (double b : {v[0], v[3], v[7], v[42], v[1000]}) {
            int want = a < b ? -1 : a > b ? 1 : 0;
            int got = cdxkey::fromNumber(a).compare(cdxkey::fromNumber(b));
            got = got < 0 ? -1 : got > 0 ? 1 : 0;
            EXPECT_EQ(got, want) << a << " vs " << b;
        }
    }
}

TEST(CdxKey, IntegersOrderAsBytesAndRoundTrip) {
    std::vector<int32_t> v{INT32_MIN, -70000, -1, 0, 1, 255, 256, 65536, INT32_MAX};
    for (size_t i = 0; i < v.size(); ++i) {
        EXPECT_EQ(cdxkey::toInteger(cdxkey::fromInteger(v[i])), v[i]);
        if (i) {
            EXPECT_LT(cdxkey::fromInteger(v[i - 1]), cdxkey::fromInteger(v[i]));
        }
    }
    // The bytes VFP wrote for CALL_ID = 1.
    EXPECT_EQ(cdxkey::fromInteger(1), std::string("\x80\x00\x00\x01", 4));
}

TEST(CdxKey, DatesDisplayAsDigits) {
    EXPECT_EQ(cdxkey::display(cdxkey::fromDate(2451545), cdxkey::Type::Date), "20000101");
    EXPECT_EQ(cdxkey::display(cdxkey::fromText("AB", 5), cdxkey::Type::Character), "AB");
}

// ---------------------------------------------------------------------------
TEST(CdxVfp, EveryTagWalksAsIndexDumpReadsIt) {
    VDR_NEED_TOOL(haveIndexDump(), "index_dump (libdbd-xbase-perl)");
    auto bags = vfpBags();
    ASSERT_GE(bags.size(), 8u);
    int tagsSeen = 0;
    for (const auto& path : bags) {
        SCOPED_TRACE(path);
        auto bag = CdxBag::open(path, false, true);
        auto tags = bag->tags();
        ASSERT_FALSE(tags.empty());
        for (CdxTag* t : tags) {
            SCOPED_TRACE(t->name());
            ++tagsSeen;
            EXPECT_TRUE(t->checkStructure().empty());
            bool character = t->keyType() == cdxkey::Type::Character;
            auto mine = walkAll(t);
            auto theirs = indexDump(path, t->name(), character ? "char" : "num");
            ASSERT_EQ(mine.size(), theirs.size());
            for (size_t i = 0; i < mine.size(); ++i) {
                EXPECT_EQ(mine[i].second, theirs[i].second) << "entry " << i;
                if (character) {
                    EXPECT_EQ(rtrim(mine[i].first), theirs[i].first);
                } else if (t->keyType() == cdxkey::Type::Integer) {
                    EXPECT_EQ(std::to_string(cdxkey::toInteger(mine[i].first)), theirs[i].first);
                } else {
                    EXPECT_NEAR(cdxkey::toNumber(mine[i].first), std::stod(theirs[i].first), 1.0);
                }
            }
            // Every key is found again by an exact seek.
            for (auto& [k, rec] : mine) {
                CdxPos p = t->seekFirst(k);
                ASSERT_TRUE(p.valid);
                EXPECT_EQ(p.key, k);
                EXPECT_TRUE(t->contains(k, rec));
            }
        }
    }
    EXPECT_EQ(tagsSeen, 18);  // the tags the README lists
}

TEST(CdxVfp, TagsKeepCreationOrderAndExpressions) {
    auto bag = CdxBag::open(std::string(VDR_SOURCE_DIR) + "/tests/data/vfp/contacts/calls.CDX",
                            false, true);
    auto tags = bag->tags();
    ASSERT_EQ(tags.size(), 2u);
    EXPECT_EQ(tags[0]->name(), "CALL_ID");
    EXPECT_EQ(tags[0]->info().keyExpr, "call_id");
    EXPECT_EQ(tags[0]->keyType(), cdxkey::Type::Integer);
    EXPECT_EQ(tags[1]->name(), "CONTACT_ID");
    EXPECT_EQ(tags[0]->count(), 16u);
    // Soft seek of a missing key stops on the next greater one.
    CdxPos p = tags[0]->seekFirst(cdxkey::fromInteger(0));
    ASSERT_TRUE(p.valid);
    EXPECT_EQ(cdxkey::toInteger(p.key), 1);
    EXPECT_FALSE(tags[0]->seekFirst(cdxkey::fromInteger(17)).valid);
    // Backwards from the end.
    CdxPos q = tags[0]->last();
    int n = 0;
    while (q.valid) {
        ++n;
        q = tags[0]->prev(q);
    }
    EXPECT_EQ(n, 16);

    auto emp = CdxBag::open(std::string(VDR_SOURCE_DIR) + "/tests/data/vfp/expenses/employees.CDX",
                            false, true);
    std::vector<std::string> names;
    for (CdxTag* t : emp->tags()) names.push_back(t->name());
    EXPECT_EQ(names.size(), 5u);
    EXPECT_NE(std::find(names.begin(), names.end(), "LASTNAME"), names.end());
    CdxTag* ln = emp->tag("lastname");
    ASSERT_NE(ln, nullptr);
    CdxPos d = ln->seekFirst("Dav");
    ASSERT_TRUE(d.valid);
    EXPECT_EQ(rtrim(d.key), "Davolio");
}

// ---------------------------------------------------------------------------
namespace {

using Model = std::set<std::pair<std::string, uint32_t>>;

std::string randomName(std::mt19937& rng, size_t len) {
    static const char a[] = "ABCDEFGHIJ KLMN";
    std::string s;
    size_t n = 1 + rng() % len;
    for (size_t i = 0; i < n; ++i) s += a[rng() % (sizeof a - 1)];
    return cdxkey::fromText(s, len);
}

void expectSame(CdxTag* t, const Model& m) {
    auto w = walkAll(t);
    ASSERT_EQ(w.size(), m.size());
    size_t i = 0;
    for (auto& e : m) {
        ASSERT_EQ(w[i], e) << "entry " << i;
        ++i;
    }
    auto faults = t->checkStructure();
    EXPECT_TRUE(faults.empty()) << (faults.empty() ? "" : faults[0]);
}

}  // namespace

TEST(CdxWrite, BuildInsertDeleteFollowAModel) {
    TempDir dir;
    std::string path = dir.file("prueba.cdx");
    std::mt19937 rng(11);
    Model model;
    std::vector<std::pair<std::string, uint32_t>> entries;
    for (uint32_t r = 1; r <= 3000; ++r) {
        auto k = randomName(rng, 12);
        entries.emplace_back(k, r);
        model.emplace(k, r);
    }
    {
        auto bag = CdxBag::create(path, true);
        CdxTag* t = bag->buildTag("Nombre", "NOMBRE", "!Deleted()", false, cdxkey::Type::Character,
                                  12, entries);
        expectSame(t, model);
        // Random inserts and deletes, enough to split and empty many nodes.
        uint32_t next = 3001;
        for (int i = 0; i < 6000; ++i) {
            if (rng() % 2 && !model.empty()) {
                auto it = model.begin();
                std::advance(it, rng() % model.size());
                auto e = *it;
                ASSERT_TRUE(t->remove(e.first, e.second));
                model.erase(it);
            } else {
                auto k = randomName(rng, 12);
                ASSERT_TRUE(t->insert(k, next));
                model.emplace(k, next++);
            }
        }
        expectSame(t, model);
        EXPECT_FALSE(t->remove("NO ESTA     ", 1));
    }
    // Written back on close and read again from the file.
    auto bag = CdxBag::open(path, false, false);
    CdxTag* t = bag->tag("NOMBRE");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->info().forExpr, "!Deleted()");
    expectSame(t, model);
    if (testsupport::toolPresent(haveIndexDump(), "index_dump (libdbd-xbase-perl)")) {
        auto theirs = indexDump(path, "NOMBRE", "char");
        ASSERT_EQ(theirs.size(), model.size());
        size_t i = 0;
        for (auto& e : model) {
            EXPECT_EQ(theirs[i].first, rtrim(e.first));
            EXPECT_EQ(theirs[i].second, e.second);
            ++i;
        }
    }
}

TEST(CdxWrite, EmptyingATreeAndRefillingReusesFreedPages) {
    TempDir dir;
    std::string path = dir.file("vacia.cdx");
    auto bag = CdxBag::create(path, false);
    CdxTag* t = bag->buildTag("COD", "CODIGO", "", false, cdxkey::Type::Character, 8, {});
    for (uint32_t r = 1; r <= 2000; ++r)
        ASSERT_TRUE(t->insert(cdxkey::fromText(std::to_string(r * 7919 % 2003), 8), r));
    auto size1 = fs::file_size(path);
    for (uint32_t r = 1; r <= 2000; ++r)
        ASSERT_TRUE(t->remove(cdxkey::fromText(std::to_string(r * 7919 % 2003), 8), r));
    EXPECT_EQ(t->count(), 0u);
    EXPECT_FALSE(t->first().valid);
    EXPECT_TRUE(t->checkStructure().empty());
    for (uint32_t r = 1; r <= 2000; ++r)
        ASSERT_TRUE(t->insert(cdxkey::fromText(std::to_string(r), 8), r));
    EXPECT_LE(fs::file_size(path), size1 + 4 * kCdxPage);
    EXPECT_TRUE(t->checkStructure().empty());
    EXPECT_EQ(t->count(), 2000u);
}

TEST(CdxWrite, NumericAndDateKeysReadByIndexDump) {
    TempDir dir;
    std::string path = dir.file("num.cdx");
    std::vector<std::pair<std::string, uint32_t>> e;
    std::mt19937 rng(3);
    std::multimap<double, uint32_t> model;
    for (uint32_t r = 1; r <= 1500; ++r) {
        double v = static_cast<double>(static_cast<int>(rng() % 200001) - 100000) / 100;
        e.emplace_back(cdxkey::fromNumber(v), r);
        model.emplace(v, r);
    }
    {
        auto bag = CdxBag::create(path, true);
        bag->buildTag("PRECIO", "PRECIO", "", false, cdxkey::Type::Numeric, 8, e);
        CdxTag* d = bag->buildTag("FECHA", "FEC_CREA", "", false, cdxkey::Type::Date, 8, {});
        for (uint32_t r = 1; r <= 300; ++r)
            d->insert(cdxkey::fromDate(2451545 + (r * 37) % 400), r);
    }
    auto bag = CdxBag::open(path, false, true);
    CdxTag* t = bag->tag("PRECIO");
    ASSERT_NE(t, nullptr);
    t->setKeyType(cdxkey::Type::Numeric);
    auto w = walkAll(t);
    ASSERT_EQ(w.size(), model.size());
    // Equal numbers list by record number, as in the model (multimap keeps insertion order).
    size_t i = 0;
    for (auto& [v, r] : model) {
        EXPECT_EQ(cdxkey::toNumber(w[i].first), v);
        EXPECT_EQ(w[i].second, r);
        ++i;
    }
    if (testsupport::toolPresent(haveIndexDump(), "index_dump (libdbd-xbase-perl)")) {
        auto theirs = indexDump(path, "PRECIO", "num");
        ASSERT_EQ(theirs.size(), w.size());
        for (size_t j = 0; j < w.size(); ++j) {
            EXPECT_EQ(theirs[j].second, w[j].second);
            EXPECT_NEAR(std::stod(theirs[j].first), cdxkey::toNumber(w[j].first), 0.006);
        }
        auto dates = indexDump(path, "FECHA", "num");
        EXPECT_EQ(dates.size(), 300u);
    }
    CdxTag* f = bag->tag("FECHA");
    f->setKeyType(cdxkey::Type::Date);
    CdxPos p = f->seekFirst(cdxkey::fromDate(2451545 + 10));
    ASSERT_TRUE(p.valid);
    EXPECT_GE(cdxkey::toNumber(p.key), 2451545 + 10);
    EXPECT_TRUE(f->checkStructure().empty());
}

TEST(CdxWrite, TagOrderFollowsCreationAndReplacementKeepsIt) {
    TempDir dir;
    std::string path = dir.file("orden.cdx");
    {
        auto bag = CdxBag::create(path, false);
        for (const char* n : {"Nombre", "CodVend", "Archivo", "Zeta"})
            bag->buildTag(n, n, "!Deleted()", false, cdxkey::Type::Character, 10,
                          {{"X", 1}, {"A", 2}});
        // Replacing CodVend: same place, new expression and content.
        bag->buildTag("CODVEND", "CODVEND+CODPROSP", "!Deleted()", true, cdxkey::Type::Character,
                      16, {{"B", 3}, {"B", 1}, {"A", 2}});
    }
    auto bag = CdxBag::open(path, false, false);
    auto tags = bag->tags();
    ASSERT_EQ(tags.size(), 4u);
    EXPECT_EQ(tags[0]->name(), "NOMBRE");
    EXPECT_EQ(tags[1]->name(), "CODVEND");
    EXPECT_EQ(tags[2]->name(), "ARCHIVO");
    EXPECT_EQ(tags[3]->name(), "ZETA");
    EXPECT_EQ(tags[1]->info().keyExpr, "CODVEND+CODPROSP");
    EXPECT_TRUE(tags[1]->unique());
    EXPECT_EQ(tags[1]->keyLength(), 16);
    // Unique: the first record of key "B" stays.
    auto w = walkAll(tags[1]);
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[1].second, 1u);
    EXPECT_FALSE(tags[1]->insert("B", 9));
    bag->removeTag("archivo");
    tags = bag->tags();
    ASSERT_EQ(tags.size(), 3u);
    EXPECT_EQ(tags[2]->name(), "ZETA");
    EXPECT_EQ(bag->tag("ARCHIVO"), nullptr);
    if (testsupport::toolPresent(haveIndexDump(), "index_dump (libdbd-xbase-perl)")) {
        EXPECT_EQ(indexDump(path, "ZETA", "char").size(), 2u);
    }
}

// Builds order their keys by bytes then record, in runs that share long
// prefixes, with many equal keys, records given out of order and the same
// entry twice; a unique tag keeps the lowest record of each key. A tag built
// again over the first one reuses its pages and stays sound.
TEST(CdxWrite, BuildsOrderEveryKeyShape) {
    TempDir dir;
    std::string path = dir.file("orden.cdx");
    std::mt19937 rng(23);
    for (uint16_t kl : {uint16_t{3}, uint16_t{8}, uint16_t{21}, uint16_t{64}}) {
        std::vector<std::pair<std::string, uint32_t>> entries;
        for (uint32_t r = 1; r <= 6000; ++r) {
            // A shared head longer than a machine word, then few distinct
            // tails (many equal keys), blanks and high bytes included.
            std::string k(kl > 16 ? kl - 6 : 0, 'P');
            while (k.size() < kl) k += "A \xd1z"[rng() % 4];
            entries.emplace_back(k, r);
        }
        std::shuffle(entries.begin(), entries.end(), rng);
        entries.push_back(entries.front());
        auto bag = CdxBag::create(path, true);
        for (int round = 0; round < 2; ++round) {
            std::vector<std::pair<std::string, uint32_t>> want(entries.begin(), entries.end());
            std::sort(want.begin(), want.end());
            want.erase(std::unique(want.begin(), want.end()), want.end());
            CdxTag* all =
                bag->buildTag("TODOS", "K", "", false, cdxkey::Type::Character, kl, entries);
            EXPECT_EQ(walkAll(all), want) << "kl=" << kl;
            std::vector<std::pair<std::string, uint32_t>> uniq;
            for (auto& e : want)
                if (uniq.empty() || uniq.back().first != e.first) uniq.push_back(e);
            CdxTag* one =
                bag->buildTag("UNICOS", "K", "", true, cdxkey::Type::Character, kl, entries);
            EXPECT_EQ(walkAll(one), uniq) << "kl=" << kl;
            EXPECT_TRUE(all->checkStructure().empty());
            EXPECT_TRUE(one->checkStructure().empty());
            EXPECT_FALSE(one->insert(uniq[0].first, 1));
        }
    }
}

TEST(CdxWrite, WideKeysSplitSafely) {
    TempDir dir;
    auto bag = CdxBag::create(dir.file("ancha.cdx"), true);
    CdxTag* t = bag->buildTag("ANCHA", "DETALLE", "", false, cdxkey::Type::Character, 240, {});
    std::mt19937 rng(5);
    Model m;
    for (uint32_t r = 1; r <= 400; ++r) {
        std::string k;
        for (int i = 0; i < 240; ++i) k += static_cast<char>('a' + rng() % 26);
        ASSERT_TRUE(t->insert(k, r));
        m.emplace(k, r);
    }
    expectSame(t, m);
}

// ---------------------------------------------------------------------------
namespace {

// One shared bag with a tag of "AAA" and "CCC", opened twice, as two
// workstations hold it.
struct TwoOpens {
    TempDir dir;
    std::string path = dir.file("compartida.cdx");
    std::unique_ptr<CdxBag> a = CdxBag::create(path, false);
    CdxTag* ta = a->buildTag("COD", "CODIGO", "", false, cdxkey::Type::Character, 8,
                             {{"AAA", 1}, {"CCC", 2}});
    std::unique_ptr<CdxBag> b = CdxBag::open(path, false, false);
    CdxTag* tb = b->tag("COD");
};

}  // namespace

TEST(CdxShare, AnotherOpenSeesChangesAtItsNextOperation) {
    TwoOpens two;
    auto& [dir, path, a, ta, b, tb] = two;
    ASSERT_NE(tb, nullptr);
    CdxPos pb = tb->first();
    ASSERT_TRUE(pb.valid);
    EXPECT_EQ(rtrim(pb.key), "AAA");
    uint32_t c0 = b->changeCounter();
    ASSERT_TRUE(ta->insert("BBB", 3));
    // b's position is stale now: stepping on finds the new key between.
    CdxPos nb = tb->next(pb);
    ASSERT_TRUE(nb.valid);
    EXPECT_EQ(rtrim(nb.key), "BBB");
    EXPECT_NE(b->changeCounter(), c0);
    ASSERT_TRUE(tb->remove("AAA", 1));
    EXPECT_EQ(rtrim(ta->first().key), "BBB");
    // Many changes by one open, all seen by the other.
    for (uint32_t r = 10; r < 1500; ++r) ASSERT_TRUE(ta->insert(std::to_string(r), r));
    EXPECT_EQ(tb->count(), 1492u);
    EXPECT_TRUE(tb->checkStructure().empty());
    // A new tag made by one open appears in the other's list.
    a->buildTag("OTRA", "X", "", false, cdxkey::Type::Character, 4, {{"Z", 1}});
    EXPECT_NE(b->tag("OTRA"), nullptr);
    EXPECT_EQ(b->tags().size(), 2u);
}

// A read batch looks at a shared bag once: its shared lock stays (another
// open's change would wait) until the batch ends, or until a change is made
// in it, which must neither wait for the batch's own lock nor be missed by
// the reads after it.
TEST(CdxShare, AReadBatchHoldsItsLookUntilItEndsOrAChangeComes) {
    TwoOpens two;
    auto& [dir, path, a, ta, b, tb] = two;
    ASSERT_NE(tb, nullptr);
    const int probe = ::open(path.c_str(), O_RDWR);
    ASSERT_GE(probe, 0);
    auto held = [&] {
        return locks::isLockedByOther(probe, locks::kHeaderByte, 1, locks::Kind::Write);
    };
    {
        ReadBatch batch;
        EXPECT_EQ(rtrim(tb->first().key), "AAA");
        EXPECT_TRUE(held());
        EXPECT_EQ(rtrim(tb->last().key), "CCC");
        ASSERT_TRUE(ta->insert("BBB", 3));
        EXPECT_FALSE(held());
        CdxPos p = tb->first();
        EXPECT_TRUE(held());
        p = tb->next(p);
        ASSERT_TRUE(p.valid);
        EXPECT_EQ(rtrim(p.key), "BBB");
        {
            ReadBatch inner;
            EXPECT_EQ(tb->count(), 3u);
        }
        EXPECT_TRUE(held());  // the outer batch still runs
    }
    EXPECT_FALSE(held());
    ASSERT_TRUE(ta->remove("AAA", 1));
    EXPECT_EQ(rtrim(tb->first().key), "BBB");
    EXPECT_FALSE(held());
    ::close(probe);
}

// The records of a change batch reach the other users whole at its end:
// meanwhile the table shows its old count and another append is refused
// (the header is held); afterwards every record is there, every key finds
// its record and the bag checks clean.
TEST(CdxShare, AChangeBatchShowsItsAppendsWholeAtItsEnd) {
    TempDir dir;
    const std::string table = dir.file("lote.dbf"), path = dir.file("lote.cdx");
    Table::create(table, {{"N", 'C', 6, 0}});
    Workspace writer;
    WorkArea& wa = *writer.area(writer.open(table, "W"));
    orders(wa).createTag(path, "N", "N");
    auto other = Table::open(table);
    {
        ChangeBatch batch(wa);
        for (int i = 1; i <= 5; ++i) {
            wa.append();
            wa.table().putString(0, "K" + std::to_string(i));
            wa.flush();
        }
        EXPECT_EQ(other->recCount(), 0u);
        EXPECT_THROW(other->appendBlank(), DbfError);
    }
    EXPECT_EQ(other->recCount(), 5u);
    Workspace reader;
    WorkArea& r = *reader.area(reader.open(table, "R"));
    orders(r).addBag(path);
    ASSERT_TRUE(orders(r).setOrder("N"));
    for (uint32_t i = 1; i <= 5; ++i) {
        EXPECT_TRUE(orders(r).seek(xb::Value::str("K" + std::to_string(i))));
        EXPECT_EQ(r.recno(), i);
    }
    EXPECT_TRUE(checkBags(table, {path}).empty());
}

// A bag opened again reads what changed since this process last closed it:
// another process's change (its counter moved), or another copy of the file
// written over it (the same counter, other pages).
TEST(CdxShare, ABagOpenedAgainReadsWhatChangedSinceItsLastClose) {
    TempDir dir;
    auto make = [&](const std::string& name, const std::string& prefix) {
        const std::string t = dir.file(name + ".dbf");
        Table::create(t, {{"N", 'C', 6, 0}});
        Workspace ws;
        WorkArea& wa = *ws.area(ws.open(t, "W", OpenOptions{false, false}));
        for (int i = 1; i <= 300; ++i) {
            wa.append();
            wa.table().putString(0, prefix + std::to_string(i));
        }
        orders(wa).createTag(dir.file(name + ".cdx"), "N", "N");
        return t;
    };
    auto change10 = [](const std::string& table) {
        Workspace ws;
        WorkArea& w = *ws.area(ws.open(table, "W"));
        orders(w).addBag(table.substr(0, table.size() - 4) + ".cdx");
        w.goTo(10);
        if (!w.lockRecord()) return false;
        w.table().putString(0, "Z10");
        w.unlock();
        return true;
    };
    const std::string uno = make("uno", "K"), dos = make("dos", "J");
    const std::string bag = dir.file("uno.cdx");
    auto seekIn = [&](const std::string& key) -> uint32_t {
        Workspace ws;
        WorkArea& r = *ws.area(ws.open(uno, "R"));
        orders(r).addBag(bag);
        EXPECT_TRUE(orders(r).setOrder("N"));
        return orders(r).seek(xb::Value::str(key)) ? r.recno() : 0;
    };
    EXPECT_EQ(seekIn("K10   "), 10u);
    EXPECT_EQ(seekIn("K250"), 250u);
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(change10(uno) ? 0 : 1);
    int st = 0;
    ::waitpid(pid, &st, 0);
    ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
    EXPECT_EQ(seekIn("K10   "), 0u);  // not a prefix of K100
    EXPECT_EQ(seekIn("Z10"), 10u);
    // The same change in the other bag gives it the same counter; its pages
    // then go over the first bag's, in the same file.
    ASSERT_TRUE(change10(dos));
    std::string copy;
    {
        std::ifstream in(dir.file("dos.cdx"), std::ios::binary);
        copy.assign(std::istreambuf_iterator<char>(in), {});
    }
    {
        std::ofstream out(bag, std::ios::binary | std::ios::in | std::ios::out);
        out.write(copy.data(), static_cast<std::streamsize>(copy.size()));
    }
    EXPECT_EQ(seekIn("J250"), 250u);
    EXPECT_EQ(seekIn("K250"), 0u);
}

TEST(CdxShare, ExclusiveUseIsRefusedWhileOpen) {
    TempDir dir;
    std::string path = dir.file("excl.cdx");
    auto a = CdxBag::create(path, false);
    try {
        auto b = CdxBag::open(path, true, false);
        FAIL() << "exclusive open succeeded";
    } catch (const DbfError& e) {
        EXPECT_TRUE(e.sharingViolation());
    }
    a.reset();
    auto b = CdxBag::open(path, true, false);
    EXPECT_THROW(CdxBag::open(path, false, false), DbfError);
}

// Random bytes written over the nodes of a table's bag: every damaged bag is
// either reported (an error on opening or reading it, or a finding of the
// check that vdrtool runs: the tree's structure and its keys against the
// records) or reads exactly as the whole one did; none crashes.
TEST(CdxDamage, BrokenFilesAreErrorsNotCrashes) {
    TempDir dir;
    const std::string table = dir.file("rota.dbf"), path = dir.file("rota.cdx");
    xb::setFieldAccess(&workspace());
    {
        Table::create(table, {{"N", 'C', 6, 0}});
        WorkArea& wa = *workspace().area(workspace().open(table, "R", OpenOptions{false, false}));
        for (uint32_t r = 1; r <= 500; ++r) {
            wa.append();
            wa.table().putString(0, std::to_string(r * 13));
        }
        orders(wa).createTag(path, "N", "N");
        workspace().closeAll();
    }
    auto entries = [](CdxTag* t) {
        std::vector<std::pair<std::string, uint32_t>> out;
        t->walk([&](std::string_view k, uint32_t r) {
            out.emplace_back(std::string(k), r);
            return true;
        });
        return out;
    };
    std::vector<std::pair<std::string, uint32_t>> whole;
    {
        auto bag = CdxBag::open(path, true, false);
        whole = entries(bag->tag("N"));
        ASSERT_EQ(whole.size(), 500u);
    }
    {
        // The check has nothing to say about a whole copy.
        fs::copy_file(path, dir.file("entera.cdx"));
        const auto faults = checkBags(table, {dir.file("entera.cdx")});
        ASSERT_TRUE(faults.empty()) << faults.front();
    }
    auto original = fs::file_size(path);
    std::mt19937 rng(9);
    int reported = 0, unchanged = 0;
    for (int round = 0; round < 200; ++round) {
        std::string p2 = dir.file("r" + std::to_string(round) + ".cdx");
        fs::copy_file(path, p2);
        {
            FILE* f = fopen(p2.c_str(), "r+b");
            for (int k = 0; k < 8; ++k) {
                fseek(f, static_cast<long>(1024 + rng() % (original - 1024)), SEEK_SET);
                fputc(static_cast<int>(rng() % 256), f);
            }
            fclose(f);
        }
        bool damageSeen = !checkBags(table, {p2}).empty();
        try {
            auto bag = CdxBag::open(p2, false, false);
            CdxTag* t = bag->tag("N");
            if (!damageSeen) {
                ASSERT_NE(t, nullptr) << "round " << round << ": the tag is gone unreported";
                EXPECT_EQ(entries(t), whole) << "round " << round << ": damage read as data";
                EXPECT_EQ(t->count(), whole.size()) << "round " << round;
                ++unchanged;
            }
            if (t != nullptr) {
                t->seekFirst("13");
                t->insert("777", 999);
            }
        } catch (const DbfError& e) {
            EXPECT_TRUE(damageSeen) << "round " << round << ": " << e.what();
            EXPECT_FALSE(std::string(e.what()).empty());
        }
        if (damageSeen) ++reported;
        fs::remove(p2);
    }
    // The damage reached the nodes: the rounds are no idle ones.
    EXPECT_GT(reported, 0);
    std::printf("%d rounds reported, %d read as the whole bag\n", reported, unchanged);
}
