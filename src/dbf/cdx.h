// Compact compound index files (".cdx" bags): a directory of tags and, for
// each tag, a B+tree of (key, record number) with compressed leaves, in the
// layout FoxPro and Visual FoxPro write, so that other programs keep reading
// our bags and we keep reading theirs.
//
// A bag opened shared is read under a shared lock and changed under an
// exclusive lock of the index file; every writer bumps the change counter in
// the file's first header, and a reader that finds the counter moved drops all
// pages it had cached. A bag opened exclusively caches freely and writes its
// changed pages back on flush() and on close.
//
// The code, a file a concern: cdx_bag.cpp (the file, its locks, the cache,
// the write-back and the change marks), cdx_page.cpp (nodes to and from
// pages), cdx_store.cpp (pages given out and freed, tag headers, the tag
// directory), cdx_build.cpp (a tag built in one pass, the bag rebuilt),
// cdx_walk.cpp (descending, seeking, stepping, counting) and cdx_update.cpp
// (entries inserted and removed one at a time).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "dbf/bigbuf.h"
#include "dbf/cdxkey.h"
#include "dbf/locks.h"
#include "dbf/nodecache.h"

namespace dbf {

class CdxBag;
class CdxTag;

inline constexpr uint32_t kCdxPage = 512;
inline constexpr uint32_t kCdxNone = 0xFFFFFFFFu;
inline constexpr size_t kCdxMaxKey = 240;

// Tag options (header byte 14).
inline constexpr uint8_t kCdxUnique = 0x01;
inline constexpr uint8_t kCdxHasFor = 0x08;
inline constexpr uint8_t kCdxCompact = 0x20;
inline constexpr uint8_t kCdxCompound = 0x40;

// One (key, record) of a tag, with where it was found so that stepping on
// from it costs nothing while the bag is unchanged.
struct CdxPos {
    bool valid = false;
    std::string key;
    uint32_t recno = 0;
    uint32_t leaf = 0;   // node offset
    uint32_t index = 0;  // entry in the node
    uint64_t stamp = 0;  // bag generation at which leaf/index were taken
};

struct CdxTagInfo {
    std::string name;     // upper case, as in the directory
    uint32_t header = 0;  // offset of the tag's header
    uint16_t keyLength = 0;
    uint8_t options = 0;
    bool descending = false;
    std::string keyExpr;
    std::string forExpr;
    bool unique() const { return options & kCdxUnique; }
};

// A decoded node: keys of keyLength bytes one after another.
struct CdxNode {
    uint32_t offset = 0;
    uint16_t attr = 0;  // 1 root, 2 leaf
    uint32_t left = kCdxNone;
    uint32_t right = kCdxNone;
    std::string keys;
    std::vector<uint32_t> recnos;
    std::vector<uint32_t> children;  // interior nodes only
    // Leaves: bytes of key data once compressed (-1: not known), kept up to
    // date by single inserts and removals so that a fit costs nothing.
    int64_t stored = -1;
    const CdxTag* owner = nullptr;  // decides key length and pad byte
    bool dirty = false;             // cached and newer than its page
    bool leaf() const { return attr & 2; }
    size_t size() const { return recnos.size(); }
};

class CdxTag {
  public:
    const CdxTagInfo& info() const { return info_; }
    const std::string& name() const { return info_.name; }
    uint16_t keyLength() const { return info_.keyLength; }
    bool unique() const { return info_.unique(); }
    cdxkey::Type keyType() const { return type_; }
    // Sets the kind of key (decides the pad byte of compressed keys). The
    // bag guesses it when opened; the order layer sets it from the key
    // expression's value.
    void setKeyType(cdxkey::Type t);
    CdxBag& bag() const { return *bag_; }

    // A key of the right length for this tag from a value already encoded.
    std::string normalize(std::string_view key) const;

    // Moving. A position whose bag changed since it was taken is found again
    // by its key and record (or the next one after it when it went away).
    CdxPos first();
    CdxPos last();
    CdxPos next(const CdxPos& p);
    CdxPos prev(const CdxPos& p);
    // First entry whose key, cut to the length of `prefix`, is >= prefix.
    CdxPos seekFirst(std::string_view prefix);
    // Last entry whose key, cut to the length of `prefix`, is <= prefix.
    CdxPos seekLast(std::string_view prefix);
    // The entry (key, recno) exactly, or the first one after it.
    CdxPos seekEntry(std::string_view key, uint32_t recno);
    bool contains(std::string_view key, uint32_t recno);
    // The tree still lists the entry at `p` (where it was found while the bag
    // is unchanged, else by seeking it).
    bool holds(const CdxPos& p);

    // Maintenance. insert() answers false when a unique tag already holds
    // the key (it keeps the first record) or the entry is already there.
    bool insert(std::string_view key, uint32_t recno);
    bool remove(std::string_view key, uint32_t recno);

    // Every entry in order; the callback answers false to stop.
    void walk(const std::function<bool(std::string_view key, uint32_t recno)>& fn);
    uint64_t count();

    // Counting by position: whole leaves are counted from their headers, so
    // only the leaves at either end are decoded. Positions taken earlier are
    // found again when the bag changed since.
    // Entries from `a` to `b`, both included; 0 when `b` comes before `a`.
    uint64_t span(const CdxPos& a, const CdxPos& b);
    // The entry `n` places after `a` (0: `a` itself); invalid past the end.
    CdxPos advance(const CdxPos& a, uint64_t n);

    // The tree's own structure: order, levels, neighbour links, parent keys,
    // node bounds. Each fault is one Spanish line.
    std::vector<std::string> checkStructure();

  private:
    friend class CdxBag;
    friend int64_t leafStoredDelta(const CdxTag&, const CdxNode&, size_t, bool);
    CdxTag(CdxBag* bag, CdxTagInfo info) : bag_(bag), info_(std::move(info)) {}
    struct PathStep {
        uint32_t node;
        size_t index;
    };
    uint32_t root();
    int cmpEntry(const CdxNode& n, size_t i, std::string_view key, uint32_t recno) const;
    int cmpPrefix(const CdxNode& n, size_t i, std::string_view prefix) const;
    CdxPos at(const CdxNode& n, size_t i);
    CdxPos firstFrom(uint32_t node, bool last);
    CdxPos stepFrom(const CdxNode& leaf, size_t i, int dir);
    CdxPos locate(const CdxPos& p);
    CdxPos fresh(const CdxPos& p);
    void descend(std::string_view key, uint32_t recno, std::vector<PathStep>& path);
    void replaceInParent(std::vector<PathStep>& path, size_t level, std::vector<CdxNode>& nodes);

    CdxBag* bag_;
    CdxTagInfo info_;
    cdxkey::Type type_ = cdxkey::Type::Character;
    char pad_ = ' ';
    uint32_t root_ = 0;
    uint64_t rootStamp_ = ~uint64_t{0};
};

// One action's reads of shared bags (drawing a page of a grid, moving to a
// row): the first read of each bag takes its shared lock and checks its
// change counter, the later ones use what was checked, and the locks go
// when the outermost batch ends. Other workstations' changes wait for that
// end, so a batch never spans a wait for the user. A change made inside the
// batch first lets go every lock the batch holds (no two workstations can
// then wait for each other), and the next read checks the counter again.
class ReadBatch {
  public:
    ReadBatch();
    ~ReadBatch();
    ReadBatch(const ReadBatch&) = delete;
    ReadBatch& operator=(const ReadBatch&) = delete;
    // Lets go of the locks held so far (a change is about to be made).
    static void releaseAll();
};

class CdxBag {
  public:
    ~CdxBag();
    CdxBag(const CdxBag&) = delete;
    CdxBag& operator=(const CdxBag&) = delete;

    // Opens an existing bag; throws DbfError (file in use: oscode 32).
    static std::unique_ptr<CdxBag> open(const std::string& path, bool exclusive, bool readOnly);
    // Creates (or truncates to) an empty bag.
    static std::unique_ptr<CdxBag> create(const std::string& path, bool exclusive);

    const std::string& path() const { return path_; }
    bool exclusive() const { return exclusive_; }
    bool readOnly() const { return readOnly_; }

    // Tags in order of creation (which is the order of their headers in the
    // file); the directory itself is sorted by name.
    std::vector<CdxTag*> tags();
    CdxTag* tag(std::string_view name);  // case-insensitive; nullptr when absent

    // Builds a tag in one pass from its entries (sorted here by key and
    // record; a unique tag keeps the first record of each key). A tag of the
    // same name is replaced and keeps its order number.
    CdxTag* buildTag(std::string name, std::string keyExpr, std::string forExpr, bool unique,
                     cdxkey::Type type, uint16_t keyLength,
                     std::vector<std::pair<std::string, uint32_t>> entries);
    // The same from keys laid one after another (keyLength bytes each, padded)
    // and their record numbers.
    CdxTag* buildTag(std::string name, std::string keyExpr, std::string forExpr, bool unique,
                     cdxkey::Type type, uint16_t keyLength, BigArray<char> flatKeys,
                     BigArray<uint32_t> recnos);
    // Takes a tag out of the bag and frees its pages.
    void removeTag(std::string_view name);

    void flush();
    uint32_t changeCounter();  // as last seen on disk

    // --- a change in progress, told to the next open when its writer dies.
    // Each writing open owns a slot: a lock byte it holds while open and a
    // word in the bag's own header (bytes 400-495, reserved in the published
    // layout, which other programs leave alone) that is set before anything
    // the bag must follow is written (a record, pages of the bag), and synced
    // then. A set word whose lock byte nobody holds was left by a writer that
    // died (killed, or the power cut) with changes the bag may not have
    // followed or that may not be on the disk: the bag must be rebuilt.
    // Holds are counted; a held mark is not cleared.
    void holdChange();
    void releaseChange();
    // A writing open keeps its word set from its first change until settle()
    // (or its closing) has synced its pages, so that after a power cut, which
    // may lose any page not synced, the next open rebuilds the bag too.
    //
    // The table's writes that the bag follows must be synced before settle():
    // the caller commits the table first (Orders does).
    void settle();
    bool marked() const { return marked_; }
    // A mark left by an open that no longer exists.
    bool interrupted();
    // Clears the marks of writers that no longer exist (after a rebuild).
    void clearDeadMarks();

    // One tag of a rebuild: its definition and its entries.
    struct TagSource {
        std::string name, keyExpr, forExpr;
        bool unique = false;
        cdxkey::Type type = cdxkey::Type::Character;
        uint16_t keyLength = 0;
        BigArray<char> flatKeys;
        BigArray<uint32_t> recnos;
    };
    // Rebuilds the bag with these tags, in this order, without reading the
    // old trees (they may be damaged). A bag used alone is written anew in a
    // scratch file that then takes its place; a shared one keeps its tag
    // headers where they are (others have them open) and gets new trees at
    // its end, so that a writer killed halfway leaves the old definitions to
    // rebuild from again. The caller holds a WriteGuard when the entries
    // were read under it.
    void rebuild(std::vector<TagSource> tags);
    // The definitions of the tags (names, expressions, key lengths) from the
    // directory and the tag headers alone.
    std::vector<CdxTagInfo> definitions();
    uint64_t generation() const { return generation_; }
    uint64_t epoch() const { return epoch_; }

    // Guards for the critical sections: reads take the shared lock, changes
    // the exclusive one (both wait; they are held only for one operation,
    // or a shared one for a ReadBatch). Nested guards are cheap.
    class ReadGuard {
      public:
        explicit ReadGuard(CdxBag& b);
        ~ReadGuard();
        ReadGuard(const ReadGuard&) = delete;
        ReadGuard& operator=(const ReadGuard&) = delete;

      private:
        CdxBag& b_;
    };
    // Ends the write by writing the pages back. A write-back that fails is
    // thrown to the writer (a full disk must not pass for a saved change),
    // unless the guard ends because another failure is already on its way.
    class WriteGuard {
      public:
        explicit WriteGuard(CdxBag& b);
        ~WriteGuard() noexcept(false);
        WriteGuard(const WriteGuard&) = delete;
        WriteGuard& operator=(const WriteGuard&) = delete;

      private:
        CdxBag& b_;
        int unwinding_;
    };

    // Page layer (used by the tags).
    const CdxNode& node(uint32_t offset, const CdxTag& owner);
    // Entries and right neighbour of a leaf, from the cached node or else from
    // the page's header alone (its keys are not decoded nor cached).
    std::pair<uint32_t, uint32_t> leafCount(uint32_t offset, const CdxTag& owner);
    void putNode(CdxNode n, const CdxTag& owner);  // throws when it does not fit
    // A node made by a build, written as it is and not kept in the cache.
    void storeBuilt(const CdxNode& n, const CdxTag& owner);
    // A cached node to change in place; touch() marks it changed.
    CdxNode& mutableNode(uint32_t offset, const CdxTag& owner);
    void touch(uint32_t offset);
    bool fits(const CdxNode& n, const CdxTag& owner) const;
    uint32_t allocNode();
    void freeNode(uint32_t offset);
    void writeTagHeader(const CdxTagInfo& info, uint32_t root);
    uint32_t readRoot(uint32_t header);
    [[noreturn]] void corrupt(const std::string& what) const;

  private:
    friend class CdxTag;
    friend class ReadBatch;
    friend class ChangeBatch;
    CdxBag() = default;
    void releaseBatchLock();
    void readExact(void* buf, size_t n, uint64_t off) const;
    void readPage(uint32_t off, uint8_t* page) const;
    void writeRaw(const void* buf, size_t n, uint64_t off);
    void refresh();  // drops caches when the counter moved
    void loadDirectory();
    void lockOrFail(locks::Kind kind);
    void beginRead();
    void endRead();
    void beginWrite();
    void endWrite();
    void writeBack();
    void spill();  // encodes the dirty cached nodes into pages
    void dropCache();
    void clearCache();  // keeps what is dirty
    void trimCache();
    uint32_t allocHeader();
    std::vector<uint32_t> collectTree(CdxTag& t);
    bool decode(const uint8_t* page, uint32_t off, const CdxTag& owner, CdxNode& out) const;
    bool encode(const CdxNode& n, const CdxTag& owner, uint8_t* page) const;

    std::string path_;
    int fd_ = -1;
    bool exclusive_ = false;
    bool readOnly_ = false;
    uint32_t counter_ = 0;
    uint32_t freeHead_ = 0;
    uint64_t fileEnd_ = 0;
    bool endJustRead_ = false;  // fileEnd_ from the open's own look at the file
    uint64_t generation_ = 1;
    int readDepth_ = 0;
    int writeDepth_ = 0;
    bool batchHeld_ = false;  // the shared lock stays for the running ReadBatch
    // The writer marks as the open read them with the header page, for the
    // first interrupted() after the open.
    std::array<uint8_t, 96> openMarks_{};
    bool openMarksKept_ = false;
    bool headerDirty_ = false;
    bool dirLoaded_ = false;
    std::unique_ptr<CdxTag> directory_;
    std::vector<std::unique_ptr<CdxTag>> tags_;
    NodeCache cache_;
    // The pages of this file that the process has seen, kept across opens
    // (see readExact); null for an exclusive open.
    struct Shelf* shelf_ = nullptr;
    // Entries and right link of leaves read only to count them (asked for
    // when the leaf is not cached); a leaf is forgotten when it changes.
    std::unordered_map<uint32_t, std::pair<uint32_t, uint32_t>> leafHeads_;
    uint32_t readAhead_ = 1;            // pages the next count read takes at once
    std::vector<uint8_t> aheadBuffer_;  // those pages
    std::vector<uint8_t> runBuffer_;    // pages on their way to the file
    std::map<uint32_t, std::array<uint8_t, kCdxPage>> dirty_;  // encoded, not yet written
    // Cached nodes marked dirty, newer than their page (an offset may be
    // there twice, or for a node since dropped: the mark decides).
    std::vector<uint32_t> dirtyNodes_;
    // Pages given out (new or from the free list) and pages freed since the
    // last write-back: they decide the order of the writes.
    std::unordered_set<uint32_t> fresh_;
    std::unordered_set<uint32_t> freed_;
    std::unordered_set<uint32_t> headerPages_;  // tag headers rewritten
    uint64_t epoch_ = 1;  // moves when the cache is dropped for another user's change
    int slot_ = -1;       // change-mark slot owned (-1 none yet, -2 none free)
    int holds_ = 0;
    bool marked_ = false;  // our word is set on disk
    void setMark(bool on);
    bool claimSlot();
};

}  // namespace dbf
