// The index bag as a file: opening and creating it, the change lock that
// readers share and writers hold alone, read batches, the cache of decoded
// nodes and of pages waiting to be written, the order of the write-back, and
// the change marks (one writer slot each) that tell the next open a writer
// died in the middle of a change.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <exception>
#include <map>
#include <unordered_map>

#include "dbf/cdx.h"
#include "dbf/cdx_internal.h"
#include "dbf/error.h"
#include "dbf/locks.h"
#include "dbf/paths.h"
#include "dbf/table_internal.h"

namespace dbf {

using namespace cdxlayout;

namespace {

// The cache is dropped (after writing back) beyond this many nodes.
constexpr size_t kCacheLimit = 200000;
// Most pages read at once while counting along adjacent leaves (64 KB).
constexpr uint32_t kReadAheadPages = 128;

int g_batchDepth = 0;
uint64_t g_batchNumber = 0, g_batchesBegun = 0;
std::vector<CdxBag*>& batchBags() {
    static std::vector<CdxBag*> held;
    return held;
}
}  // namespace

// The pages of a bag this process has read or written, kept from one open to
// the next: a card or a browser opens the same bags again and again, and on a
// network drive every page read is a round trip. They are good while the
// bag's change counter, which every writer bumps and every look reads under
// the lock, is the one they were read under, and while the file is the one
// they came from (same file, size and time of change as when it was last
// closed here). Offsets below the header's end (counter, free list, writer
// marks) are always read from the file.
struct Shelf {
    uint32_t counter = 0;
    bool known = false;  // `counter` names the pages kept
    std::unordered_map<uint32_t, std::array<uint8_t, kCdxPage>> pages;
    // The file as this process left it at its last close.
    off_t size = -1;
    struct timespec mtime {};
    int opens = 0;
    uint64_t used = 0;
};

namespace {

constexpr size_t kShelfPages = 8192;  // 4 MB a bag
constexpr size_t kShelves = 24;
uint64_t g_shelfClock = 0;

// Never destroyed: bags held by static objects close after the end of main.
std::map<std::pair<dev_t, ino_t>, Shelf>& shelves() {
    static auto* all = new std::map<std::pair<dev_t, ino_t>, Shelf>;
    return *all;
}

Shelf* shelfFor(const struct stat& st) {
    auto& all = shelves();
    auto key = std::make_pair(st.st_dev, st.st_ino);
    auto it = all.find(key);
    if (it == all.end()) {
        if (all.size() >= kShelves) {
            auto oldest = all.end();
            for (auto i = all.begin(); i != all.end(); ++i)
                if (i->second.opens == 0 &&
                    (oldest == all.end() || i->second.used < oldest->second.used))
                    oldest = i;
            if (oldest != all.end()) all.erase(oldest);
        }
        it = all.emplace(key, Shelf{}).first;
    }
    Shelf& s = it->second;
    // Changed by somebody since this process closed it (another program,
    // a copy put back): nothing kept is trusted.
    if (s.opens == 0 && (s.size != st.st_size || s.mtime.tv_sec != st.st_mtim.tv_sec ||
                         s.mtime.tv_nsec != st.st_mtim.tv_nsec)) {
        s.pages.clear();
        s.known = false;
    }
    ++s.opens;
    s.used = ++g_shelfClock;
    return &s;
}

}  // namespace

uint64_t tabledetail::readBatchNumber() {
    return g_batchNumber;
}

ReadBatch::ReadBatch() {
    if (g_batchDepth++ == 0) g_batchNumber = ++g_batchesBegun;
}

ReadBatch::~ReadBatch() {
    if (--g_batchDepth > 0) return;
    g_batchNumber = 0;
    releaseAll();
}

void ReadBatch::releaseAll() {
    std::vector<CdxBag*> held;
    held.swap(batchBags());
    for (CdxBag* b : held) b->releaseBatchLock();
}

void CdxBag::releaseBatchLock() {
    if (!batchHeld_) return;
    batchHeld_ = false;
    if (readDepth_ == 0 && writeDepth_ == 0) locks::unlock(fd_, locks::kHeaderByte, 1);
}

CdxBag::~CdxBag() {
    if (batchHeld_) {
        auto& held = batchBags();
        held.erase(std::remove(held.begin(), held.end(), this), held.end());
    }
    if (fd_ >= 0) {
        try {
            settle();
        } catch (...) {
            // Closing cannot report; the bag stays as the last flush left it.
            if (shelf_) shelf_->known = false;
        }
        if (shelf_) {
            struct stat st {};
            if (::fstat(fd_, &st) == 0) {
                shelf_->size = st.st_size;
                shelf_->mtime = st.st_mtim;
            } else {
                shelf_->known = false;
            }
            --shelf_->opens;
        }
        ::close(fd_);
    }
}

[[noreturn]] void CdxBag::corrupt(const std::string& what) const {
    throw DbfError(kErrCorruption, "Índice dañado: " + what, path_);
}

void CdxBag::readExact(void* buf, size_t n, uint64_t off) const {
    auto* p = static_cast<char*>(buf);
    const bool pages = shelf_ && shelf_->known && shelf_->counter == counter_ &&
                       off >= kHeaderSize && off % kCdxPage == 0 && n % kCdxPage == 0 && n > 0;
    if (pages) {
        bool all = true;
        for (size_t i = 0; i < n && all; i += kCdxPage)
            all = shelf_->pages.count(static_cast<uint32_t>(off + i)) > 0;
        if (all) {
            for (size_t i = 0; i < n; i += kCdxPage)
                std::memcpy(p + i, shelf_->pages[static_cast<uint32_t>(off + i)].data(), kCdxPage);
            return;
        }
    }
    size_t done = 0;
    while (done < n) {
        ssize_t r = ::pread(fd_, p + done, n - done, static_cast<off_t>(off + done));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) throw DbfError(kErrRead, "No se puede leer el índice", path_, errno);
        if (r == 0) corrupt("el fichero es más corto de lo que indica su estructura");
        done += static_cast<size_t>(r);
    }
    if (pages && shelf_->pages.size() + n / kCdxPage <= kShelfPages)
        for (size_t i = 0; i < n; i += kCdxPage)
            std::memcpy(shelf_->pages[static_cast<uint32_t>(off + i)].data(), p + i, kCdxPage);
}

void CdxBag::writeRaw(const void* buf, size_t n, uint64_t off) {
    if (readOnly_) throw DbfError(kErrReadonly, "El índice está abierto sólo para lectura", path_);
    auto* p = static_cast<const char*>(buf);
    // The pages written are kept as written; anything else they overlap goes.
    if (shelf_ && off + n > kHeaderSize) {
        const bool whole = off >= kHeaderSize && off % kCdxPage == 0 && n % kCdxPage == 0;
        const uint64_t first = std::max<uint64_t>(off, kHeaderSize) / kCdxPage * kCdxPage;
        for (uint64_t at = first; at < off + n; at += kCdxPage) {
            auto it = shelf_->pages.find(static_cast<uint32_t>(at));
            if (whole && (it != shelf_->pages.end() || shelf_->pages.size() < kShelfPages))
                std::memcpy(shelf_->pages[static_cast<uint32_t>(at)].data(), p + (at - off),
                            kCdxPage);
            else if (it != shelf_->pages.end())
                shelf_->pages.erase(it);
        }
    }
    size_t done = 0;
    while (done < n) {
        ssize_t r = ::pwrite(fd_, p + done, n - done, static_cast<off_t>(off + done));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            // Half written: the file is no longer what was kept of it.
            if (shelf_) {
                shelf_->pages.clear();
                shelf_->known = false;
            }
            throw DbfError(kErrWrite, "No se puede escribir el índice", path_, errno);
        }
        done += static_cast<size_t>(r);
    }
    fileEnd_ = std::max<uint64_t>(fileEnd_, off + n);
}

static int openFd(const std::string& path, bool create, bool readOnly) {
    int flags = readOnly ? O_RDONLY : O_RDWR;
    if (create) flags |= O_CREAT | O_TRUNC;
    return ::open(path.c_str(), flags | O_CLOEXEC, 0644);
}

std::unique_ptr<CdxBag> CdxBag::open(const std::string& path, bool exclusive, bool readOnly) {
    std::unique_ptr<CdxBag> b(new CdxBag());
    b->exclusive_ = exclusive;
    b->readOnly_ = readOnly;
    b->fd_ = openExisting(path, readOnly ? O_RDONLY : O_RDWR, b->path_);
    if (b->fd_ < 0 && errno == ENOENT)
        throw DbfError(kErrOpen, "No existe el índice", b->path_, ENOENT);
    if (b->fd_ < 0 && !readOnly && (errno == EACCES || errno == EROFS)) {
        b->readOnly_ = true;
        b->fd_ = openFd(b->path_, false, true);
    }
    if (b->fd_ < 0) throw DbfError(kErrOpen, "No se puede abrir el índice", b->path_, errno);
    if (!locks::tryLock(b->fd_, locks::kExclusiveByte, 1,
                        exclusive ? locks::Kind::Write : locks::Kind::Read))
        throw DbfError(kErrOpen, "El índice está en uso por otro usuario", b->path_,
                       kOsSharingViolation);
    struct stat st {};
    if (::fstat(b->fd_, &st) != 0)
        throw DbfError(kErrOpen, "No se puede abrir el índice", b->path_, errno);
    b->fileEnd_ = static_cast<uint64_t>(st.st_size);
    b->endJustRead_ = true;
    if (b->fileEnd_ < kHeaderSize + kCdxPage) b->corrupt("fichero demasiado corto");
    if (!exclusive) b->shelf_ = shelfFor(st);
    {
        ReadGuard g(*b);
        b->loadDirectory();
    }
    return b;
}

std::unique_ptr<CdxBag> CdxBag::create(const std::string& path, bool exclusive) {
    std::unique_ptr<CdxBag> b(new CdxBag());
    b->path_ = resolvePath(path);
    b->exclusive_ = exclusive;
    b->fd_ = openFd(b->path_, false, false);
    if (b->fd_ < 0) b->fd_ = openFd(b->path_, true, false);
    if (b->fd_ < 0) throw DbfError(kErrCreate, "No se puede crear el índice", b->path_, errno);
    if (!locks::tryLock(b->fd_, locks::kExclusiveByte, 1,
                        exclusive ? locks::Kind::Write : locks::Kind::Read))
        throw DbfError(kErrCreate, "El índice está en uso por otro usuario", b->path_,
                       kOsSharingViolation);
    // Another user may have it open shared: the change lock keeps them from
    // reading half a file while we rewrite it.
    locks::waitLock(b->fd_, locks::kHeaderByte, 1, locks::Kind::Write);
    uint32_t oldCounter = 0;
    {
        uint8_t h[16] = {};
        if (::pread(b->fd_, h, 16, 0) == 16) oldCounter = get32(h + 8);
    }
    if (::ftruncate(b->fd_, 0) != 0) {
        locks::unlock(b->fd_, locks::kHeaderByte, 1);
        throw DbfError(kErrCreate, "No se puede crear el índice", b->path_, errno);
    }
    std::vector<uint8_t> buf(kHeaderSize + kCdxPage, 0);
    uint8_t* h = buf.data();
    put32(h, kHeaderSize);  // root of the directory
    put32(h + 4, 0);
    put32(h + 8, oldCounter + 1);
    put16(h + 12, 10);
    h[14] = 0xE0;
    h[15] = 1;
    put16(h + 504, 1);
    put16(h + 506, 1);
    put16(h + 510, 1);
    uint8_t* leaf = h + kHeaderSize;
    put16(leaf, 3);
    put32(leaf + 4, kCdxNone);
    put32(leaf + 8, kCdxNone);
    LeafBits lb = leafBits(0, 10);
    put16(leaf + 12, kCdxPage - kLeafHead);
    put32(leaf + 14, static_cast<uint32_t>((uint64_t{1} << lb.rec) - 1));
    leaf[18] = static_cast<uint8_t>((1 << lb.dup) - 1);
    leaf[19] = static_cast<uint8_t>((1 << lb.trail) - 1);
    leaf[20] = static_cast<uint8_t>(lb.rec);
    leaf[21] = static_cast<uint8_t>(lb.dup);
    leaf[22] = static_cast<uint8_t>(lb.trail);
    leaf[23] = static_cast<uint8_t>(lb.bytes);
    try {
        b->writeRaw(buf.data(), buf.size(), 0);
    } catch (...) {
        locks::unlock(b->fd_, locks::kHeaderByte, 1);
        throw;
    }
    locks::unlock(b->fd_, locks::kHeaderByte, 1);
    b->fileEnd_ = buf.size();
    b->counter_ = oldCounter + 1;
    {
        ReadGuard g(*b);
        b->loadDirectory();
    }
    return b;
}

void CdxBag::dropCache() {
    cache_.clear();
    leafHeads_.clear();
    dirty_.clear();
    dirtyNodes_.clear();
    fresh_.clear();
    freed_.clear();
    headerPages_.clear();
    ++generation_;
    ++epoch_;
    dirLoaded_ = false;
}

void CdxBag::refresh() {
    uint8_t h[16];
    readExact(h, sizeof h, 0);
    uint32_t c = get32(h + 8);
    uint32_t fh = get32(h + 4);
    if (c != counter_ || !dirLoaded_) {
        dropCache();
        counter_ = c;
        struct stat st {};
        if (!endJustRead_ && ::fstat(fd_, &st) == 0) fileEnd_ = static_cast<uint64_t>(st.st_size);
    }
    endJustRead_ = false;
    if (shelf_ && (!shelf_->known || shelf_->counter != c)) {
        shelf_->pages.clear();
        shelf_->counter = c;
        shelf_->known = true;
    }
    freeHead_ = fh;
}

// Waits for the change lock of the index file. A lock that cannot be had
// (not a wait: a failure of the call) is an error, never a silent go-ahead.
void CdxBag::lockOrFail(locks::Kind kind) {
    for (int tries = 0; !locks::waitLock(fd_, locks::kHeaderByte, 1, kind); ++tries) {
        if (errno == EDEADLK && tries < 1000) {
            ::usleep(1000);
            continue;
        }
        throw DbfError(kErrLock, "No se puede bloquear el índice", path_, errno);
    }
}

void CdxBag::beginRead() {
    if (readDepth_++ || writeDepth_ || batchHeld_) return;
    if (!exclusive_) {
        lockOrFail(locks::Kind::Read);
        try {
            refresh();
        } catch (...) {
            locks::unlock(fd_, locks::kHeaderByte, 1);
            --readDepth_;
            throw;
        }
    } else if (cache_.size() > kCacheLimit) {
        trimCache();
    }
}

void CdxBag::endRead() {
    if (--readDepth_ || writeDepth_ || exclusive_ || batchHeld_) return;
    if (g_batchDepth > 0) {
        batchHeld_ = true;
        batchBags().push_back(this);
        return;
    }
    locks::unlock(fd_, locks::kHeaderByte, 1);
}

void CdxBag::beginWrite() {
    if (readOnly_) throw DbfError(kErrReadonly, "El índice está abierto sólo para lectura", path_);
    if (writeDepth_++) return;
    openMarksKept_ = false;  // under the write lock the marks are read as they are
    if (!exclusive_) {
        // Locks a read batch holds go first: this one's, and the other bags'
        // that another workstation's change may be waiting for.
        ReadBatch::releaseAll();
        // A read guard around us holds the shared lock; the exclusive one
        // replaces it (and is given back as shared below).
        try {
            lockOrFail(locks::Kind::Write);
            refresh();
            if (!marked_) setMark(true);
        } catch (...) {
            --writeDepth_;
            if (readDepth_)
                locks::waitLock(fd_, locks::kHeaderByte, 1, locks::Kind::Read);
            else
                locks::unlock(fd_, locks::kHeaderByte, 1);
            throw;
        }
    } else {
        if (!marked_) setMark(true);
        if (cache_.size() > kCacheLimit) trimCache();
    }
}

void CdxBag::endWrite() {
    if (--writeDepth_) return;
    ++counter_;
    headerDirty_ = true;
    if (!exclusive_) {
        try {
            writeBack();
        } catch (...) {
            if (readDepth_)
                locks::waitLock(fd_, locks::kHeaderByte, 1, locks::Kind::Read);
            else
                locks::unlock(fd_, locks::kHeaderByte, 1);
            throw;
        }
        if (readDepth_)
            locks::waitLock(fd_, locks::kHeaderByte, 1, locks::Kind::Read);
        else
            locks::unlock(fd_, locks::kHeaderByte, 1);
    }
}

void CdxBag::spill() {
    for (uint32_t off : dirtyNodes_) {
        CdxNode* c = cache_.find(off);
        if (!c || !c->dirty) continue;
        c->dirty = false;
        if (!c->owner) corrupt("nodo sin etiqueta al escribir");
        std::array<uint8_t, kCdxPage> page;
        if (!encode(*c, *c->owner, page.data())) corrupt("nodo demasiado lleno al escribir");
        dirty_[off] = page;
    }
    dirtyNodes_.clear();
}

// Makes room in the cache of a bag used alone: changed pages go to the file,
// then leaves leave the cache; interior nodes, few and used by every
// descent, stay.
void CdxBag::trimCache() {
    if (dirtyNodes_.size() + dirty_.size() > kCacheLimit / 8) writeBack();
    const size_t target = kCacheLimit * 3 / 4;
    cache_.eraseWhile(target, [](const CdxNode& n) { return n.leaf() && !n.dirty; });
    if (cache_.size() > target) clearCache();
}

void CdxBag::clearCache() {
    spill();
    cache_.clear();
}

// Writes every changed page back. A writer killed halfway must leave no
// page pointing at one not yet written: pages new in this change go first
// (nothing on disk refers to them yet), then changed leaves, then interior
// nodes and roots, then tag headers (their roots), then freed pages, and the
// bag's header (free list, change counter) last. Inside each group neighbours
// go in one write. All stays pending until the last write succeeded.
void CdxBag::writeBack() {
    struct Item {
        int group;
        uint32_t off;
        const CdxNode* node;  // null: an encoded page of dirty_
        const uint8_t* page;
    };
    std::vector<Item> items;
    items.reserve(dirtyNodes_.size() + dirty_.size());
    auto groupOf = [&](uint32_t off, const CdxNode* c, const uint8_t* page) {
        if (freed_.count(off)) return 5;
        if (fresh_.count(off)) return 0;
        if (headerPages_.count(off)) return off < kHeaderSize ? 6 : 4;  // the bag's own last
        uint16_t attr = c ? c->attr : get16(page);  // a node spilled from the cache
        if (attr & 1) return 3;
        return attr & 2 ? 1 : 2;
    };
    std::vector<uint32_t> nodes;
    nodes.reserve(dirtyNodes_.size());
    for (uint32_t off : dirtyNodes_) {
        const CdxNode* c = cache_.find(off);
        if (c && c->dirty) nodes.push_back(off);
    }
    std::sort(nodes.begin(), nodes.end());
    nodes.erase(std::unique(nodes.begin(), nodes.end()), nodes.end());
    for (uint32_t off : nodes) {
        const CdxNode* c = cache_.find(off);
        if (!c->owner) corrupt("nodo sin etiqueta al escribir");
        items.push_back({groupOf(off, c, nullptr), off, c, nullptr});
    }
    for (auto& [off, page] : dirty_) {
        if (std::binary_search(nodes.begin(), nodes.end(), off)) continue;  // the node is newer
        items.push_back({groupOf(off, nullptr, page.data()), off, nullptr, page.data()});
    }
    std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
        return a.group != b.group ? a.group < b.group : a.off < b.off;
    });
    std::vector<uint8_t>& buf = runBuffer_;
    buf.clear();
    uint32_t runStart = 0, expect = 0;
    int runGroup = -1;
    for (const Item& it : items) {
        if (buf.empty() || it.off != expect || it.group != runGroup || buf.size() >= (1u << 20)) {
            if (!buf.empty()) writeRaw(buf.data(), buf.size(), runStart);
            buf.clear();
            runStart = it.off;
            runGroup = it.group;
        }
        buf.resize(buf.size() + kCdxPage);
        uint8_t* page = buf.data() + buf.size() - kCdxPage;
        if (it.node) {
            if (!encode(*it.node, *it.node->owner, page))
                corrupt("nodo demasiado lleno al escribir");
        } else {
            std::memcpy(page, it.page, kCdxPage);
        }
        expect = it.off + kCdxPage;
    }
    if (!buf.empty()) writeRaw(buf.data(), buf.size(), runStart);
    for (uint32_t off : nodes) cache_.find(off)->dirty = false;
    dirtyNodes_.clear();
    dirty_.clear();
    fresh_.clear();
    freed_.clear();
    headerPages_.clear();
    if (headerDirty_) {
        uint8_t h[8];
        put32(h, freeHead_);
        put32(h + 4, counter_);
        writeRaw(h, sizeof h, 4);
        headerDirty_ = false;
        // What is kept is what this change left: the file under the new counter.
        if (shelf_ && shelf_->known) shelf_->counter = counter_;
    }
    // The mark stays: these pages are not synced (see settle).
}

bool CdxBag::claimSlot() {
    for (int i = 0; i < kMarkSlots; ++i) {
        if (!locks::tryLock(fd_, kSlotByte + i, 1, locks::Kind::Write)) continue;
        uint8_t w[4];
        readExact(w, 4, kMarkOffset + 4u * static_cast<uint32_t>(i));
        if (get32(w) != 0) {
            // Left by a writer that is gone: kept for the repair of the next open.
            locks::unlock(fd_, kSlotByte + i, 1);
            continue;
        }
        slot_ = i;
        return true;
    }
    slot_ = -2;  // more writers than slots: this one goes unmarked
    return false;
}

// The mark is synced when set, before the first record or page it guards is
// written: a power cut loses any write not synced, in any order, so a mark
// merely written could be lost while the pages it guards stayed half there.
// Set once per writing open, not per change: the bag's pages are never
// synced by a change, so the mark stays until settle() has synced them.
void CdxBag::setMark(bool on) {
    if (readOnly_ || slot_ == -2) return;
    if (slot_ == -1 && !claimSlot()) return;
    uint8_t w[4];
    put32(w, on ? 1 : 0);
    writeRaw(w, 4, kMarkOffset + 4u * static_cast<uint32_t>(slot_));
    if (on) ::fdatasync(fd_);
    marked_ = on;
}

void CdxBag::settle() {
    if (fd_ < 0 || readOnly_) return;
    flush();
    if (!marked_ || holds_ > 0 || writeDepth_ > 0) return;
    if (!dirty_.empty() || !dirtyNodes_.empty() || headerDirty_) return;
    // Every page this open wrote reaches the disk before its mark goes; the
    // cleared mark itself needs no sync (lost, it costs a needless rebuild).
    ::fdatasync(fd_);
    setMark(false);
}

void CdxBag::holdChange() {
    if (readOnly_) return;
    if (holds_++ == 0 && !marked_) setMark(true);
}

void CdxBag::releaseChange() {
    if (holds_ > 0) --holds_;
}

// Right after the open the marks read with the header page serve: a mark set
// since belongs to a writer alive now, and one cleared since costs a look
// under the write lock before any repair (Orders::rebuildBag).
bool CdxBag::interrupted() {
    uint8_t area[4 * kMarkSlots];
    if (openMarksKept_) {
        std::memcpy(area, openMarks_.data(), sizeof area);
        openMarksKept_ = false;
    } else {
        readExact(area, sizeof area, kMarkOffset);
    }
    for (int i = 0; i < kMarkSlots; ++i) {
        if (i == slot_ || get32(area + 4 * i) == 0) continue;
        if (!locks::isLockedByOther(fd_, kSlotByte + i, 1, locks::Kind::Write)) return true;
    }
    return false;
}

void CdxBag::clearDeadMarks() {
    if (readOnly_) return;
    uint8_t area[4 * kMarkSlots];
    readExact(area, sizeof area, kMarkOffset);
    for (int i = 0; i < kMarkSlots; ++i) {
        if (i == slot_ || get32(area + 4 * i) == 0) continue;
        // Taken for the moment of the write, so that no new writer claims the
        // slot in between.
        if (!locks::tryLock(fd_, kSlotByte + i, 1, locks::Kind::Write)) continue;
        uint8_t zero[4] = {};
        try {
            writeRaw(zero, 4, kMarkOffset + 4u * static_cast<uint32_t>(i));
        } catch (...) {
            locks::unlock(fd_, kSlotByte + i, 1);
            throw;
        }
        locks::unlock(fd_, kSlotByte + i, 1);
    }
}

void CdxBag::flush() {
    if (fd_ < 0 || readOnly_) return;
    if (!exclusive_ && dirty_.empty() && dirtyNodes_.empty() && !headerDirty_) return;
    if (!exclusive_) {
        WriteGuard g(*this);  // only reached with nothing pending in practice
        return;
    }
    writeBack();
}

uint32_t CdxBag::changeCounter() {
    if (!exclusive_) {
        ReadGuard g(*this);
    }
    return counter_;
}

CdxBag::ReadGuard::ReadGuard(CdxBag& b) : b_(b) {
    b_.beginRead();
}
CdxBag::ReadGuard::~ReadGuard() {
    b_.endRead();
}
CdxBag::WriteGuard::WriteGuard(CdxBag& b) : b_(b), unwinding_(std::uncaught_exceptions()) {
    b_.beginWrite();
}
CdxBag::WriteGuard::~WriteGuard() noexcept(false) {
    if (std::uncaught_exceptions() == unwinding_) {
        b_.endWrite();
        return;
    }
    try {
        b_.endWrite();
    } catch (...) {
        // The failure already unwinding is the one the writer hears; the
        // bag keeps its mark, so the next open puts it right.
    }
}

void CdxBag::readPage(uint32_t off, uint8_t* page) const {
    auto d = dirty_.find(off);
    if (d != dirty_.end())
        std::memcpy(page, d->second.data(), kCdxPage);
    else
        readExact(page, kCdxPage, off);
}

const CdxNode& CdxBag::node(uint32_t off, const CdxTag& owner) {
    if (const CdxNode* c = cache_.find(off)) {
        // In a sound file every node belongs to one tag; a node reached from
        // two (a damaged file) must not be read with the other's key length.
        if (c->owner != &owner)
            corrupt("el nodo " + std::to_string(off) + " pertenece a dos etiquetas");
        return *c;
    }
    if (off % kCdxPage != 0 || off < kHeaderSize || uint64_t{off} + kCdxPage > fileEnd_)
        corrupt("referencia a un nodo fuera del fichero");
    uint8_t page[kCdxPage];
    readPage(off, page);
    std::unique_ptr<CdxNode> n = cache_.take();
    if (!decode(page, off, owner, *n)) {
        cache_.give(std::move(n));
        corrupt("nodo ilegible en la posición " + std::to_string(off));
    }
    n->owner = &owner;
    return cache_.insert(off, std::move(n));
}

std::pair<uint32_t, uint32_t> CdxBag::leafCount(uint32_t off, const CdxTag& owner) {
    if (const CdxNode* c = cache_.find(off)) {
        if (c->owner != &owner)
            corrupt("el nodo " + std::to_string(off) + " pertenece a dos etiquetas");
        if (!c->leaf()) corrupt("vecino de una hoja que no es hoja");
        return {static_cast<uint32_t>(c->size()), c->right};
    }
    auto h = leafHeads_.find(off);
    if (h != leafHeads_.end()) return h->second;
    if (off % kCdxPage != 0 || off < kHeaderSize || uint64_t{off} + kCdxPage > fileEnd_)
        corrupt("referencia a un nodo fuera del fichero");
    if (dirty_.count(off)) {
        uint8_t page[kCdxPage];
        readPage(off, page);
        if (!(get16(page) & 2)) corrupt("vecino de una hoja que no es hoja");
        return {get16(page + 2), get32(page + 8)};
    }
    // Counting walks the whole chain of leaves, and a tag built in one pass
    // lays its leaves side by side: while each leaf's right neighbour is the
    // next page, the pages after it are read in the same call (a million
    // keys are some twenty thousand leaves, one read each otherwise). The
    // heads kept are those of pages as the file has them: a page changed
    // here and not yet written is left out.
    const uint64_t room = (fileEnd_ - off) / kCdxPage;
    const uint32_t pages = static_cast<uint32_t>(std::min<uint64_t>(readAhead_, room));
    std::vector<uint8_t>& block = aheadBuffer_;
    block.resize(size_t{pages} * kCdxPage);
    readExact(block.data(), block.size(), off);
    const uint8_t* page = block.data();
    if (!(get16(page) & 2)) corrupt("vecino de una hoja que no es hoja");
    std::pair<uint32_t, uint32_t> r{get16(page + 2), get32(page + 8)};
    if (leafHeads_.size() + pages >= kCacheLimit * 4) leafHeads_.clear();
    leafHeads_.emplace(off, r);
    for (uint32_t i = 1; i < pages; ++i) {
        const uint32_t at = off + i * kCdxPage;
        const uint8_t* other = block.data() + size_t{i} * kCdxPage;
        if (!(get16(other) & 2) || dirty_.count(at)) continue;
        const CdxNode* c = cache_.find(at);
        if (c && c->dirty) continue;
        leafHeads_.emplace(at, std::pair<uint32_t, uint32_t>{get16(other + 2), get32(other + 8)});
    }
    readAhead_ =
        r.second == off + kCdxPage ? std::min<uint32_t>(readAhead_ * 2, kReadAheadPages) : 1;
    return r;
}

CdxNode& CdxBag::mutableNode(uint32_t off, const CdxTag& owner) {
    node(off, owner);
    return *cache_.find(off);
}

void CdxBag::touch(uint32_t off) {
    if (readOnly_) throw DbfError(kErrReadonly, "El índice está abierto sólo para lectura", path_);
    ++generation_;
    leafHeads_.erase(off);
    CdxNode* c = cache_.find(off);
    if (c && !c->dirty) {
        c->dirty = true;
        dirtyNodes_.push_back(off);
    }
}

void CdxBag::putNode(CdxNode n, const CdxTag& owner) {
    // Encoded when written back; checked for room now, so that a node that
    // cannot be written never gets in.
    if (!fits(n, owner)) corrupt("nodo demasiado lleno al escribir");
    n.owner = &owner;
    fileEnd_ = std::max<uint64_t>(fileEnd_, uint64_t{n.offset} + kCdxPage);
    ++generation_;
    const uint32_t off = n.offset;
    leafHeads_.erase(off);
    n.dirty = true;
    dirtyNodes_.push_back(off);
    cache_.insert(off, std::make_unique<CdxNode>(std::move(n)));
}

}  // namespace dbf
