#include "dbf/cdx.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <exception>
#include <set>

#include "dbf/error.h"
#include "dbf/locks.h"
#include "dbf/paths.h"

namespace dbf {

namespace {

constexpr uint32_t kHeaderSize = 1024;
constexpr uint32_t kLeafHead = 24;
constexpr uint32_t kInteriorHead = 12;
constexpr int kMaxDepth = 48;
// The cache is dropped (after writing back) beyond this many nodes.
constexpr size_t kCacheLimit = 200000;
// Most pages read at once while counting along adjacent leaves (64 KB).
constexpr uint32_t kReadAheadPages = 128;
// A built leaf is filled to about seven eighths of its page: the keys added
// afterwards find room without splitting the leaf at once.
constexpr size_t kBuildFill = kLeafHead + (kCdxPage - kLeafHead) * 7 / 8;
// Pages a build keeps before writing them out.
constexpr size_t kBuildBatch = 4096;
// Change marks: words in the bag's own header page, and the lock bytes that
// tell whether their writers still run.
constexpr uint32_t kMarkOffset = 400;
constexpr int kMarkSlots = 24;
constexpr int64_t kSlotByte = 0x7FFFF000;

uint16_t get16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t get32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint32_t get32be(const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
void put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void put32be(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

int bitsFor(uint64_t v) {
    int b = 0;
    while (v) {
        ++b;
        v >>= 1;
    }
    return b;
}

// Layout of the numbers packed into a leaf entry for a set of entries.
struct LeafBits {
    int rec = 0, dup = 0, trail = 0, bytes = 0;
};

LeafBits leafBits(uint32_t maxRecno, uint16_t keyLength) {
    LeafBits b;
    b.dup = b.trail = bitsFor(keyLength);
    int need = std::max(bitsFor(maxRecno), 1) + b.dup + b.trail;
    b.bytes = (need + 7) / 8;
    b.rec = std::min(b.bytes * 8 - b.dup - b.trail, 32);
    return b;
}

size_t trailOf(std::string_view key, char pad) {
    size_t t = 0;
    while (t < key.size() && key[key.size() - 1 - t] == pad) ++t;
    return t;
}

size_t commonPrefix(std::string_view a, std::string_view b) {
    size_t n = std::min(a.size(), b.size()), i = 0;
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

// Bytes shared with the previous key of the node. Only the previous key's
// own bytes count, not its dropped padding: other readers rebuild keys that way.
size_t dupOf(std::string_view key, std::string_view prev, size_t trail, char pad) {
    if (prev.empty()) return 0;
    size_t lim = std::min(key.size() - trail, prev.size() - trailOf(prev, pad));
    return std::min(commonPrefix(key, prev), lim);
}

// Key bytes an entry needs after the previous key of its node.
size_t storedBytes(std::string_view key, std::string_view prev, char pad) {
    size_t trail = trailOf(key, pad);
    return key.size() - dupOf(key, prev, trail, pad) - trail;
}

std::string upperName(std::string_view s) {
    std::string r(s.substr(0, 10));
    for (char& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    while (!r.empty() && r.back() == ' ') r.pop_back();
    return r;
}

size_t interiorCapacity(uint16_t keyLength) {
    return (kCdxPage - kInteriorHead) / (keyLength + 8u);
}

std::string_view keyAt(const CdxNode& n, size_t i, uint16_t kl) {
    return std::string_view(n.keys).substr(i * kl, kl);
}

}  // namespace

// ---------------------------------------------------------------------------
// Bag: files, locks, pages

namespace {
int g_batchDepth = 0;
std::vector<CdxBag*>& batchBags() {
    static std::vector<CdxBag*> held;
    return held;
}
}  // namespace

ReadBatch::ReadBatch() {
    ++g_batchDepth;
}

ReadBatch::~ReadBatch() {
    if (--g_batchDepth == 0) releaseAll();
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
        }
        ::close(fd_);
    }
}

[[noreturn]] void CdxBag::corrupt(const std::string& what) const {
    throw DbfError(kErrCorruption, "Índice dañado: " + what, path_);
}

void CdxBag::readExact(void* buf, size_t n, uint64_t off) const {
    auto* p = static_cast<char*>(buf);
    size_t done = 0;
    while (done < n) {
        ssize_t r = ::pread(fd_, p + done, n - done, static_cast<off_t>(off + done));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) throw DbfError(kErrRead, "No se puede leer el índice", path_, errno);
        if (r == 0) corrupt("el fichero es más corto de lo que indica su estructura");
        done += static_cast<size_t>(r);
    }
}

void CdxBag::writeRaw(const void* buf, size_t n, uint64_t off) {
    if (readOnly_) throw DbfError(kErrReadonly, "El índice está abierto sólo para lectura", path_);
    auto* p = static_cast<const char*>(buf);
    size_t done = 0;
    while (done < n) {
        ssize_t r = ::pwrite(fd_, p + done, n - done, static_cast<off_t>(off + done));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) throw DbfError(kErrWrite, "No se puede escribir el índice", path_, errno);
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
    auto found = findExisting(path);
    b->path_ = found ? *found : resolvePath(path);
    b->exclusive_ = exclusive;
    b->readOnly_ = readOnly;
    if (!found) throw DbfError(kErrOpen, "No existe el índice", b->path_, ENOENT);
    b->fd_ = openFd(b->path_, false, readOnly);
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
    if (b->fileEnd_ < kHeaderSize + kCdxPage) b->corrupt("fichero demasiado corto");
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
        if (::fstat(fd_, &st) == 0) fileEnd_ = static_cast<uint64_t>(st.st_size);
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

bool CdxBag::interrupted() {
    uint8_t area[4 * kMarkSlots];
    readExact(area, sizeof area, kMarkOffset);
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

bool CdxBag::decode(const uint8_t* p, uint32_t off, const CdxTag& owner, CdxNode& n) const {
    const uint16_t kl = owner.keyLength();
    n.offset = off;
    // Visual FoxPro sets more bits here than root and leaf; we keep those two.
    n.attr = get16(p) & 3;
    uint32_t count = get16(p + 2);
    n.left = get32(p + 4);
    n.right = get32(p + 8);
    n.keys.clear();
    n.recnos.clear();
    n.children.clear();
    if (kl == 0 || kl > kCdxMaxKey) return false;
    if (!n.leaf()) {
        if (count > interiorCapacity(kl)) return false;
        n.keys.reserve(count * kl);
        const uint8_t* e = p + kInteriorHead;
        for (uint32_t i = 0; i < count; ++i, e += kl + 8) {
            n.keys.append(reinterpret_cast<const char*>(e), kl);
            n.recnos.push_back(get32be(e + kl));
            n.children.push_back(get32be(e + kl + 4));
        }
        return true;
    }
    int recBits = p[20], dupBits = p[21], trailBits = p[22], bpe = p[23];
    if (bpe < 1 || bpe > 8 || recBits > 32 || dupBits > 8 || trailBits > 8 ||
        recBits + dupBits + trailBits > bpe * 8)
        return count == 0 ? true : false;
    if (kLeafHead + count * static_cast<uint32_t>(bpe) > kCdxPage) return false;
    n.keys.resize(static_cast<size_t>(count) * kl);
    n.recnos.resize(count);
    uint32_t pos = kCdxPage;
    const uint32_t low = kLeafHead + count * static_cast<uint32_t>(bpe);
    n.stored = -1;  // what others wrote may compress otherwise than we do
    const char pad = owner.pad_;
    const uint64_t recMask = recBits == 0 ? 0 : (uint64_t{1} << recBits) - 1;
    const uint64_t dupMask = (uint64_t{1} << dupBits) - 1;
    const uint64_t trailMask = (uint64_t{1} << trailBits) - 1;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = p + kLeafHead + i * static_cast<uint32_t>(bpe);
        uint64_t v = 0;
        for (int b = bpe - 1; b >= 0; --b) v = (v << 8) | e[b];
        uint32_t rec = static_cast<uint32_t>(v & recMask);
        uint32_t dup = static_cast<uint32_t>((v >> recBits) & dupMask);
        uint32_t trail = static_cast<uint32_t>((v >> (recBits + dupBits)) & trailMask);
        if (dup + trail > kl) return false;
        if (i == 0 && dup != 0) return false;
        uint32_t stored = kl - dup - trail;
        if (pos < low + stored) return false;
        pos -= stored;
        char* k = n.keys.data() + static_cast<size_t>(i) * kl;
        if (dup) std::memcpy(k, k - kl, dup);
        std::memcpy(k + dup, p + pos, stored);
        std::memset(k + dup + stored, pad, trail);
        n.recnos[i] = rec;
    }
    return true;
}

bool CdxBag::encode(const CdxNode& n, const CdxTag& owner, uint8_t* p) const {
    const uint16_t kl = owner.keyLength();
    std::memset(p, 0, kCdxPage);
    put16(p, n.attr);
    put16(p + 2, static_cast<uint32_t>(n.size()));
    put32(p + 4, n.left);
    put32(p + 8, n.right);
    if (!n.leaf()) {
        if (n.size() > interiorCapacity(kl)) return false;
        uint8_t* e = p + kInteriorHead;
        for (size_t i = 0; i < n.size(); ++i, e += kl + 8) {
            std::memcpy(e, n.keys.data() + i * kl, kl);
            put32be(e + kl, n.recnos[i]);
            put32be(e + kl + 4, n.children[i]);
        }
        return true;
    }
    uint32_t maxRec = 0;
    for (uint32_t r : n.recnos) maxRec = std::max(maxRec, r);
    LeafBits lb = leafBits(maxRec, kl);
    const char pad = owner.pad_;
    size_t used = kLeafHead + n.size() * lb.bytes;
    if (used > kCdxPage) return false;
    uint32_t pos = kCdxPage;
    for (size_t i = 0; i < n.size(); ++i) {
        std::string_view k = keyAt(n, i, kl);
        size_t trail = trailOf(k, pad);
        size_t dup = i == 0 ? 0 : dupOf(k, keyAt(n, i - 1, kl), trail, pad);
        size_t stored = kl - dup - trail;
        if (pos < used + stored) return false;
        pos -= static_cast<uint32_t>(stored);
        std::memcpy(p + pos, k.data() + dup, stored);
        uint64_t v =
            n.recnos[i] | (uint64_t{dup} << lb.rec) | (uint64_t{trail} << (lb.rec + lb.dup));
        uint8_t* e = p + kLeafHead + i * lb.bytes;
        for (int b = 0; b < lb.bytes; ++b) e[b] = static_cast<uint8_t>(v >> (8 * b));
    }
    put16(p + 12, static_cast<uint32_t>(pos - used));
    put32(p + 14, static_cast<uint32_t>((uint64_t{1} << lb.rec) - 1));
    p[18] = static_cast<uint8_t>((1 << lb.dup) - 1);
    p[19] = static_cast<uint8_t>((1 << lb.trail) - 1);
    p[20] = static_cast<uint8_t>(lb.rec);
    p[21] = static_cast<uint8_t>(lb.dup);
    p[22] = static_cast<uint8_t>(lb.trail);
    p[23] = static_cast<uint8_t>(lb.bytes);
    return true;
}

bool CdxBag::fits(const CdxNode& n, const CdxTag& owner) const {
    const uint16_t kl = owner.keyLength();
    if (!n.leaf()) return n.size() <= interiorCapacity(kl);
    uint32_t maxRec = 0;
    for (uint32_t r : n.recnos) maxRec = std::max(maxRec, r);
    LeafBits lb = leafBits(maxRec, kl);
    size_t used = kLeafHead + n.size() * lb.bytes;
    if (n.stored >= 0) return used + static_cast<size_t>(n.stored) <= kCdxPage;
    for (size_t i = 0; i < n.size() && used <= kCdxPage; ++i)
        used +=
            storedBytes(keyAt(n, i, kl), i ? keyAt(n, i - 1, kl) : std::string_view(), owner.pad_);
    return used <= kCdxPage;
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

void CdxBag::storeBuilt(const CdxNode& n, const CdxTag& owner) {
    std::array<uint8_t, kCdxPage> page;
    if (!encode(n, owner, page.data())) corrupt("nodo demasiado lleno al escribir");
    cache_.erase(n.offset);
    leafHeads_.erase(n.offset);
    fileEnd_ = std::max<uint64_t>(fileEnd_, uint64_t{n.offset} + kCdxPage);
    ++generation_;
    dirty_[n.offset] = page;
    // A large build goes to the file as it grows instead of piling up.
    if (dirty_.size() >= kBuildBatch) writeBack();
}

uint32_t CdxBag::allocNode() {
    ++generation_;
    if (freeHead_ != 0 && freeHead_ != kCdxNone && freeHead_ % kCdxPage == 0 &&
        freeHead_ >= kHeaderSize && uint64_t{freeHead_} + kCdxPage <= fileEnd_) {
        uint32_t off = freeHead_;
        uint8_t h[4];
        auto d = dirty_.find(off);
        if (d != dirty_.end())
            std::memcpy(h, d->second.data(), 4);
        else
            readExact(h, 4, off);
        uint32_t next = get32(h);
        freeHead_ = next;
        headerDirty_ = true;
        cache_.erase(off);
        leafHeads_.erase(off);
        freed_.erase(off);
        fresh_.insert(off);
        return off;
    }
    if (freeHead_ != 0) {
        // A free list we cannot trust is dropped rather than followed.
        freeHead_ = 0;
        headerDirty_ = true;
    }
    uint64_t end = (fileEnd_ + kCdxPage - 1) / kCdxPage * kCdxPage;
    if (end + kCdxPage > 0xFFFFFE00u) throw DbfError(kErrWrite, "El índice está lleno", path_);
    fileEnd_ = end + kCdxPage;
    // Reserve the page at once so that a later allocation does not hand it out again.
    std::array<uint8_t, kCdxPage> zero{};
    dirty_[static_cast<uint32_t>(end)] = zero;
    fresh_.insert(static_cast<uint32_t>(end));
    return static_cast<uint32_t>(end);
}

void CdxBag::freeNode(uint32_t off) {
    ++generation_;
    cache_.erase(off);
    leafHeads_.erase(off);
    std::array<uint8_t, kCdxPage> page{};
    put32(page.data(), freeHead_);
    dirty_[off] = page;
    freed_.insert(off);
    freeHead_ = off;
    headerDirty_ = true;
}

uint32_t CdxBag::allocHeader() {
    // Tag headers go at the end of the file: their order there is the order of
    // creation that the tags' numbers follow.
    uint64_t end = (fileEnd_ + kCdxPage - 1) / kCdxPage * kCdxPage;
    if (end + kHeaderSize > 0xFFFFFE00u) throw DbfError(kErrWrite, "El índice está lleno", path_);
    fileEnd_ = end + kHeaderSize;
    std::array<uint8_t, kCdxPage> zero{};
    dirty_[static_cast<uint32_t>(end)] = zero;
    dirty_[static_cast<uint32_t>(end + kCdxPage)] = zero;
    fresh_.insert(static_cast<uint32_t>(end));
    fresh_.insert(static_cast<uint32_t>(end + kCdxPage));
    ++generation_;
    return static_cast<uint32_t>(end);
}

void CdxBag::writeTagHeader(const CdxTagInfo& info, uint32_t root) {
    std::array<uint8_t, kCdxPage> h{}, x{};
    put32(h.data(), root);
    put16(h.data() + 12, info.keyLength);
    h[14] = info.options;
    h[15] = 1;
    put16(h.data() + 502, info.descending ? 1 : 0);
    std::string k = info.keyExpr.substr(0, 400), f = info.forExpr.substr(0, 100);
    put16(h.data() + 504, static_cast<uint32_t>(k.size() + 1));
    put16(h.data() + 506, static_cast<uint32_t>(f.size() + 1));
    put16(h.data() + 510, static_cast<uint32_t>(k.size() + 1));
    std::memcpy(x.data(), k.data(), k.size());
    std::memcpy(x.data() + k.size() + 1, f.data(), f.size());
    if (info.header == 0) {
        // The bag's own header: the directory; keep the free list, counter
        // and the change marks of the writers.
        put32(h.data() + 4, freeHead_);
        put32(h.data() + 8, counter_);
        readExact(h.data() + kMarkOffset, 4 * kMarkSlots, kMarkOffset);
    }
    dirty_[info.header] = h;
    dirty_[info.header + kCdxPage] = x;
    headerPages_.insert(info.header);
    headerPages_.insert(info.header + kCdxPage);
    ++generation_;
}

void CdxBag::readPage(uint32_t off, uint8_t* page) const {
    auto d = dirty_.find(off);
    if (d != dirty_.end())
        std::memcpy(page, d->second.data(), kCdxPage);
    else
        readExact(page, kCdxPage, off);
}

uint32_t CdxBag::readRoot(uint32_t header) {
    uint8_t h[kCdxPage];
    readPage(header, h);
    return get32(h);
}

void CdxBag::loadDirectory() {
    if (dirLoaded_) return;
    if (!directory_) {
        CdxTagInfo di;
        di.name = "";
        di.header = 0;
        di.keyLength = 10;
        di.options = 0xE0;
        directory_.reset(new CdxTag(this, di));
    }
    directory_->rootStamp_ = ~uint64_t{0};
    {
        uint8_t h[kCdxPage];
        readPage(0, h);
        if (get16(h + 12) != 10) corrupt("la cabecera del directorio de etiquetas no es válida");
    }
    std::vector<std::pair<std::string, uint32_t>> entries;
    directory_->walk([&](std::string_view key, uint32_t rec) {
        entries.emplace_back(upperName(key), rec);
        return entries.size() < 10000;
    });
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.second < b.second; });
    std::vector<std::unique_ptr<CdxTag>> next;
    for (auto& [name, off] : entries) {
        if (off % kCdxPage != 0 || off < kHeaderSize || uint64_t{off} + kHeaderSize > fileEnd_)
            corrupt("la etiqueta " + name + " apunta fuera del fichero");
        uint8_t h[kHeaderSize];
        if (dirty_.count(off) || dirty_.count(off + kCdxPage)) {
            readPage(off, h);
            readPage(off + kCdxPage, h + kCdxPage);
        } else {
            readExact(h, kHeaderSize, off);  // both pages of the header in one read
        }
        CdxTagInfo info;
        info.name = name;
        info.header = off;
        info.keyLength = get16(h + 12);
        info.options = h[14];
        info.descending = get16(h + 502) != 0;
        if (info.keyLength == 0 || info.keyLength > kCdxMaxKey)
            corrupt("longitud de clave imposible en la etiqueta " + name);
        const char* ex = reinterpret_cast<const char*>(h + 512);
        size_t kLen = strnlen(ex, 512);
        info.keyExpr.assign(ex, kLen);
        if (kLen + 1 < 512) info.forExpr.assign(ex + kLen + 1, strnlen(ex + kLen + 1, 511 - kLen));
        // The tag object survives a reload so that orders holding it stay valid.
        std::unique_ptr<CdxTag> t;
        for (auto& old : tags_)
            if (old && old->info_.name == name) t = std::move(old);
        if (!t) {
            t.reset(new CdxTag(this, info));
            t->type_ = cdxkey::Type::Character;
            t->pad_ = ' ';
            bool guessed = false;
            if (info.keyLength == 4 || info.keyLength == 8) {
                // No type is stored in the file; until the order layer says
                // better, a key that starts with a byte no text key holds is binary.
                t->rootStamp_ = ~uint64_t{0};
                try {
                    CdxPos p = t->first();
                    if (p.valid) {
                        uint8_t c0 = static_cast<uint8_t>(p.key[0]);
                        if (c0 >= 0x80 || c0 < 0x20) guessed = true;
                    }
                } catch (const DbfError&) {
                }
                clearCache();
            }
            if (guessed) {
                t->type_ = info.keyLength == 4 ? cdxkey::Type::Integer : cdxkey::Type::Numeric;
                t->pad_ = '\0';
            }
        } else {
            t->info_ = info;
        }
        t->rootStamp_ = ~uint64_t{0};
        next.push_back(std::move(t));
    }
    tags_ = std::move(next);
    dirLoaded_ = true;
}

std::vector<CdxTag*> CdxBag::tags() {
    ReadGuard g(*this);
    loadDirectory();
    std::vector<CdxTag*> r;
    for (auto& t : tags_) r.push_back(t.get());
    return r;
}

CdxTag* CdxBag::tag(std::string_view name) {
    std::string n = upperName(name);
    for (CdxTag* t : tags())
        if (t->name() == n) return t;
    return nullptr;
}

std::vector<uint32_t> CdxBag::collectTree(CdxTag& t) {
    std::vector<uint32_t> nodes;
    std::vector<uint32_t> level{t.root()};
    std::set<uint32_t> seen;
    for (int depth = 0; depth < kMaxDepth && !level.empty(); ++depth) {
        std::vector<uint32_t> below;
        for (uint32_t off : level) {
            if (!seen.insert(off).second) continue;
            const CdxNode& nd = node(off, t);
            nodes.push_back(off);
            if (!nd.leaf()) below.insert(below.end(), nd.children.begin(), nd.children.end());
        }
        level = std::move(below);
    }
    return nodes;
}

void CdxBag::removeTag(std::string_view name) {
    WriteGuard g(*this);
    loadDirectory();
    CdxTag* t = nullptr;
    std::string n = upperName(name);
    for (auto& x : tags_)
        if (x->name() == n) t = x.get();
    if (!t) return;
    std::vector<uint32_t> nodes = collectTree(*t);
    directory_->remove(std::string(n).append(10 - n.size(), ' '), t->info_.header);
    for (uint32_t off : nodes) freeNode(off);
    freeNode(t->info_.header);
    freeNode(t->info_.header + kCdxPage);
    dirLoaded_ = false;
    loadDirectory();
}

// ---------------------------------------------------------------------------
// Building a tag in one pass

namespace {

// Eight key bytes from `at` as a number that orders as the bytes do (zeros
// past the end of the key).
uint64_t chunkAt(const char* key, size_t kl, size_t at) {
    uint8_t b[8] = {};
    if (at < kl) std::memcpy(b, key + at, std::min<size_t>(8, kl - at));
    uint64_t v = 0;
    for (uint8_t c : b) v = (v << 8) | c;
    return v;
}

// How far ahead of a walk in key order the key bytes are asked for: keys in
// that order lie anywhere in the buffer.
constexpr size_t kAhead = 16;

struct SortItem {
    uint64_t chunk;  // the key's bytes at the current depth
    uint32_t recno;
    uint32_t at;  // entry in the flat buffer
};

// Orders items[lo, hi), whose keys agree before byte `depth` and which come
// in record order, by the eight key bytes at `depth` and the record number;
// then each run of equal bytes by the next eight. Whole numbers are compared
// instead of keys read at random from a buffer of many megabytes. Large runs
// go through a stable byte-wise radix sort, which keeps the record order of
// equal keys; bytes the same in every item cost no pass.
void sortFrom(BigArray<SortItem>& items, BigArray<SortItem>& spare, size_t lo, size_t hi,
              const char* base, size_t kl, size_t depth) {
    for (size_t i = lo; i < hi; ++i) {
        if (i + kAhead < hi) __builtin_prefetch(base + size_t{items[i + kAhead].at} * kl + depth);
        items[i].chunk = chunkAt(base + size_t{items[i].at} * kl, kl, depth);
    }
    if (hi - lo < 256) {
        std::sort(items.begin() + lo, items.begin() + hi, [](const SortItem& a, const SortItem& b) {
            return a.chunk < b.chunk || (a.chunk == b.chunk && a.recno < b.recno);
        });
    } else {
        std::vector<std::array<uint32_t, 256>> counts(8, std::array<uint32_t, 256>{});
        for (size_t i = lo; i < hi; ++i)
            for (int d = 0; d < 8; ++d) ++counts[d][(items[i].chunk >> (8 * d)) & 0xFF];
        SortItem* from = items.data() + lo;
        SortItem* to = spare.data() + lo;
        const size_t n = hi - lo;
        for (int d = 0; d < 8; ++d) {
            auto& c = counts[static_cast<size_t>(d)];
            if (c[(from[0].chunk >> (8 * d)) & 0xFF] == n) continue;
            uint32_t at = 0;
            for (auto& k : c) {
                uint32_t here = k;
                k = at;
                at += here;
            }
            for (size_t i = 0; i < n; ++i) to[c[(from[i].chunk >> (8 * d)) & 0xFF]++] = from[i];
            std::swap(from, to);
        }
        if (from != items.data() + lo) std::copy(from, from + n, items.data() + lo);
    }
    if (depth + 8 >= kl) return;
    for (size_t i = lo; i < hi;) {
        size_t j = i + 1;
        while (j < hi && items[j].chunk == items[i].chunk) ++j;
        if (j - i > 1) sortFrom(items, spare, i, j, base, kl, depth + 8);
        i = j;
    }
}

// The entries of a tag being built, in key and record order: the same entry
// given twice goes in once, and a unique tag keeps the first record of each
// key.
BigArray<uint32_t> sortedEntries(const BigArray<char>& flat, const BigArray<uint32_t>& recnos,
                                 size_t kl, bool unique) {
    BigArray<SortItem> items(recnos.size());
    for (uint32_t i = 0; i < items.size(); ++i) items[i] = {0, recnos[i], i};
    if (!std::is_sorted(recnos.begin(), recnos.end()))
        std::stable_sort(items.begin(), items.end(),
                         [](const SortItem& a, const SortItem& b) { return a.recno < b.recno; });
    const char* base = flat.data();
    {
        BigArray<SortItem> spare(items.size());
        sortFrom(items, spare, 0, items.size(), base, kl, 0);
    }
    BigArray<uint32_t> sel;
    sel.reserve(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) {
            const SortItem& a = items[i - 1];
            const SortItem& b = items[i];
            bool sameKey = a.chunk == b.chunk &&
                           std::memcmp(base + size_t{a.at} * kl, base + size_t{b.at} * kl, kl) == 0;
            if (sameKey && (unique || a.recno == b.recno)) continue;
        }
        sel.push_back(items[i].at);
    }
    return sel;
}

// The last entry of each node of a level, for the level above.
struct LevelEnds {
    std::string keys;
    std::vector<uint32_t> recnos, children;
};

// Writes the nodes of one level as they fill. A full node goes out once the
// offset of the next one is taken, so that its right link is known.
struct LevelWriter {
    LevelWriter(CdxBag& b, const CdxTag& o, uint16_t k) : bag(b), owner(o), kl(k) {}
    CdxBag& bag;
    const CdxTag& owner;
    uint16_t kl;
    size_t written = 0;
    LevelEnds up;

    void start(CdxNode& cur, uint16_t attr) {
        cur = CdxNode();
        cur.attr = attr;
        cur.offset = bag.allocNode();
    }
    // `cur` is full and more entries follow: it goes out, and becomes its
    // right neighbour, empty.
    void next(CdxNode& cur) {
        cur.right = bag.allocNode();
        emit(cur);
        cur.left = cur.offset;
        cur.offset = cur.right;
        cur.right = kCdxNone;
        cur.keys.clear();
        cur.recnos.clear();
        cur.children.clear();
        cur.stored = -1;
    }
    // The level's last node; the root when it is the level's only one.
    void finish(CdxNode& cur) {
        if (written == 0) cur.attr |= 1;
        emit(cur);
    }
    void emit(const CdxNode& n) {
        if (n.size()) {
            up.keys.append(n.keys, (n.size() - 1) * kl, kl);
            up.recnos.push_back(n.recnos.back());
            up.children.push_back(n.offset);
        }
        bag.storeBuilt(n, owner);
        ++written;
    }
};

// Packs sorted entries into leaves, then levels of interior nodes, at offsets
// taken from the bag as each node starts; returns the root.
struct Builder {
    CdxBag& bag;
    const CdxTag& owner;
    uint16_t kl;
    char pad;

    // Entries sel[0..] in order, read through the flat key buffer.
    uint32_t build(const char* flat, const uint32_t* recnos, const BigArray<uint32_t>& sel) {
        LevelWriter out{bag, owner, kl};
        CdxNode cur;
        out.start(cur, 2);
        size_t stored = 0;
        uint32_t maxRec = 0;
        std::string_view prev;
        for (size_t i = 0; i < sel.size(); ++i) {
            if (i + kAhead < sel.size()) {
                const char* ahead = flat + size_t{sel[i + kAhead]} * kl;
                __builtin_prefetch(ahead);
                __builtin_prefetch(ahead + kl - 1);
            }
            uint32_t at = sel[i];
            std::string_view key(flat + size_t{at} * kl, kl);
            uint32_t rec = recnos[at];
            size_t s = storedBytes(key, prev, pad);
            uint32_t mr = std::max(maxRec, rec);
            LeafBits lb = leafBits(mr, kl);
            size_t need = kLeafHead + (cur.size() + 1) * lb.bytes + stored + s;
            if (need > kBuildFill && cur.size() > 0) {
                cur.stored = static_cast<int64_t>(stored);
                out.next(cur);
                stored = 0;
                s = storedBytes(key, {}, pad);
                mr = rec;
            }
            cur.keys.append(key);
            cur.recnos.push_back(rec);
            stored += s;
            maxRec = mr;
            prev = key;
        }
        cur.stored = static_cast<int64_t>(stored);
        uint32_t last = cur.offset;
        out.finish(cur);
        if (out.written == 1) return last;
        return buildLevels(std::move(out.up));
    }

    // Interior levels over the last entries of the nodes below, spread evenly
    // over as few nodes as hold them seven eighths full (as the leaves, so
    // that a leaf split does not split its parent as well), until one node is
    // left.
    uint32_t buildLevels(LevelEnds below) {
        const size_t cap = std::max<size_t>(2, interiorCapacity(kl) * 7 / 8);
        for (;;) {
            const size_t m = below.recnos.size();
            const size_t count = (m + cap - 1) / cap;
            const size_t per = (m + count - 1) / count;
            LevelWriter out{bag, owner, kl};
            CdxNode cur;
            out.start(cur, 0);
            for (size_t i = 0; i < m; i += per) {
                if (i) out.next(cur);
                for (size_t j = i; j < std::min(m, i + per); ++j) {
                    cur.keys.append(below.keys, j * kl, kl);
                    cur.recnos.push_back(below.recnos[j]);
                    cur.children.push_back(below.children[j]);
                }
            }
            uint32_t last = cur.offset;
            out.finish(cur);
            if (out.written == 1) return last;
            below = std::move(out.up);
        }
    }
};

}  // namespace

CdxTag* CdxBag::buildTag(std::string name, std::string keyExpr, std::string forExpr, bool unique,
                         cdxkey::Type type, uint16_t keyLength,
                         std::vector<std::pair<std::string, uint32_t>> entries) {
    const char pad = cdxkey::padByte(type);
    BigArray<char> flat;
    BigArray<uint32_t> recnos;
    flat.reserve(entries.size() * keyLength);
    recnos.reserve(entries.size());
    for (auto& e : entries) {
        e.first.resize(keyLength, pad);
        flat.append(e.first.data(), keyLength);
        recnos.push_back(e.second);
    }
    return buildTag(std::move(name), std::move(keyExpr), std::move(forExpr), unique, type,
                    keyLength, std::move(flat), std::move(recnos));
}

CdxTag* CdxBag::buildTag(std::string name, std::string keyExpr, std::string forExpr, bool unique,
                         cdxkey::Type type, uint16_t keyLength, BigArray<char> flat,
                         BigArray<uint32_t> recnos) {
    name = upperName(name);
    if (name.empty()) throw DbfError(kErrArg, "Falta el nombre de la etiqueta", path_);
    if (keyLength == 0 || keyLength > kCdxMaxKey)
        throw DbfError(kErrDataWidth,
                       "La clave de la etiqueta " + name + " mide " + std::to_string(keyLength) +
                           " bytes; el índice admite de 1 a 240",
                       path_);
    if (flat.size() != recnos.size() * keyLength)
        throw DbfError(kErrArg, "Claves de la etiqueta " + name + " mal formadas", path_);
    for (char c : name)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_'))
            throw DbfError(kErrArg, "Nombre de etiqueta no válido: " + name, path_);
    WriteGuard g(*this);
    loadDirectory();
    const char pad = cdxkey::padByte(type);
    BigArray<uint32_t> sel = sortedEntries(flat, recnos, keyLength, unique);
    CdxTag* existing = nullptr;
    for (auto& t : tags_)
        if (t->name() == name) existing = t.get();
    CdxTagInfo info;
    info.name = name;
    info.keyLength = keyLength;
    info.options = static_cast<uint8_t>(kCdxCompact | kCdxCompound | (unique ? kCdxUnique : 0) |
                                        (forExpr.empty() ? 0 : kCdxHasFor));
    info.keyExpr = std::move(keyExpr);
    info.forExpr = std::move(forExpr);
    if (existing) {
        // Same header, so the tag keeps its place among the others. The old
        // tree's pages are freed when it can be walked; a damaged one is left
        // behind rather than followed.
        std::vector<uint32_t> old;
        try {
            old = collectTree(*existing);
        } catch (const DbfError&) {
            old.clear();
            clearCache();
        }
        for (uint32_t off : old) freeNode(off);
        info.header = existing->info_.header;
    } else {
        info.header = allocHeader();
    }
    CdxTag* t = existing;
    if (!t) {
        tags_.emplace_back(new CdxTag(this, info));
        t = tags_.back().get();
    }
    t->info_ = info;
    t->type_ = type;
    t->pad_ = pad;
    Builder b{*this, *t, keyLength, pad};
    uint32_t root = b.build(flat.data(), recnos.data(), sel);
    writeTagHeader(info, root);
    t->root_ = root;
    t->rootStamp_ = epoch_;
    if (!existing) {
        std::string dirKey = name;
        dirKey.resize(10, ' ');
        directory_->insert(dirKey, info.header);
    }
    return t;
}

std::vector<CdxTagInfo> CdxBag::definitions() {
    ReadGuard g(*this);
    loadDirectory();
    std::vector<CdxTagInfo> out;
    for (auto& t : tags_) out.push_back(t->info_);
    return out;
}

void CdxBag::rebuild(std::vector<TagSource> sources) {
    for (TagSource& src : sources) {
        src.name = upperName(src.name);
        if (src.keyLength == 0 || src.keyLength > kCdxMaxKey ||
            src.flatKeys.size() != src.recnos.size() * src.keyLength)
            throw DbfError(kErrArg, "Claves de la etiqueta " + src.name + " mal formadas", path_);
    }
    if (exclusive_) {
        // Alone on the file: the new bag is written beside it and takes its
        // place whole, so that the file holds no page of the old one.
        std::string scratch = path_ + ".vdrnew";
        std::unique_ptr<CdxBag> nb = create(scratch, true);
        for (TagSource& src : sources)
            nb->buildTag(src.name, src.keyExpr, src.forExpr, src.unique, src.type, src.keyLength,
                         std::move(src.flatKeys), std::move(src.recnos));
        nb->flush();
        if (::fdatasync(nb->fd_) != 0 || ::rename(scratch.c_str(), path_.c_str()) != 0) {
            int err = errno;
            nb.reset();
            ::unlink(scratch.c_str());
            throw DbfError(kErrWrite, "No se puede reconstruir el índice", path_, err);
        }
        // The scratch file's descriptor (and its exclusive lock) is ours now.
        ::close(fd_);
        fd_ = nb->fd_;
        nb->fd_ = -1;
        fileEnd_ = nb->fileEnd_;
        counter_ = nb->counter_;
        freeHead_ = nb->freeHead_;
        headerDirty_ = false;
        slot_ = -1;
        marked_ = false;
        dropCache();
        ReadGuard g(*this);
        loadDirectory();
        for (auto& t : tags_)
            for (auto& nt : nb->tags_)
                if (nt->name() == t->name()) t->setKeyType(nt->type_);
        return;
    }
    // Shared: the headers stay where others find them; every tree is built
    // anew at the end of the file, and only then do the headers name the new
    // roots (see writeBack). The old trees and free list are abandoned, not
    // walked: a later rebuild in exclusive use gives their room back.
    WriteGuard g(*this);
    dropCache();
    loadDirectory();
    freeHead_ = 0;
    headerDirty_ = true;
    for (TagSource& src : sources) {
        CdxTag* t = nullptr;
        for (auto& x : tags_)
            if (x->name() == src.name) t = x.get();
        if (!t) throw DbfError(kErrArg, "El índice no tiene la etiqueta " + src.name, path_);
        CdxTagInfo info = t->info_;
        info.keyLength = src.keyLength;
        info.options =
            static_cast<uint8_t>(kCdxCompact | kCdxCompound | (src.unique ? kCdxUnique : 0) |
                                 (src.forExpr.empty() ? 0 : kCdxHasFor));
        info.keyExpr = src.keyExpr;
        info.forExpr = src.forExpr;
        t->info_ = info;
        t->type_ = src.type;
        t->pad_ = cdxkey::padByte(src.type);
        BigArray<uint32_t> sel = sortedEntries(src.flatKeys, src.recnos, src.keyLength, src.unique);
        Builder b{*this, *t, src.keyLength, t->pad_};
        uint32_t root = b.build(src.flatKeys.data(), src.recnos.data(), sel);
        writeTagHeader(info, root);
        t->root_ = root;
        t->rootStamp_ = epoch_;
    }
}

// ---------------------------------------------------------------------------
// Tag: the B+tree

void CdxTag::setKeyType(cdxkey::Type t) {
    if (t == type_) return;
    // Nodes decoded with the old pad byte are wrong after the change: out of
    // the cache first (written with the pad they were read with).
    bag_->clearCache();
    type_ = t;
    pad_ = cdxkey::padByte(t);
}

// Key bytes of a whole leaf, compressed our way.
static int64_t storedAll(const CdxNode& n, uint16_t kl, char pad) {
    int64_t sum = 0;
    for (size_t i = 0; i < n.size(); ++i)
        sum += static_cast<int64_t>(
            storedBytes(keyAt(n, i, kl), i ? keyAt(n, i - 1, kl) : std::string_view(), pad));
    return sum;
}

// Change in a leaf's key bytes when entry i is inserted (already in place)
// or about to be removed.
int64_t leafStoredDelta(const CdxTag& t, const CdxNode& n, size_t i, bool inserted) {
    const uint16_t kl = t.keyLength();
    std::string_view prev = i ? keyAt(n, i - 1, kl) : std::string_view();
    std::string_view self = keyAt(n, i, kl);
    int64_t d = static_cast<int64_t>(storedBytes(self, prev, t.pad_));
    if (i + 1 < n.size()) {
        std::string_view next = keyAt(n, i + 1, kl);
        d += static_cast<int64_t>(storedBytes(next, self, t.pad_)) -
             static_cast<int64_t>(storedBytes(next, prev, t.pad_));
    }
    return inserted ? d : -d;
}

std::string CdxTag::normalize(std::string_view key) const {
    std::string k(key.substr(0, info_.keyLength));
    k.resize(info_.keyLength, pad_);
    return k;
}

uint32_t CdxTag::root() {
    if (rootStamp_ != bag_->epoch_) {
        root_ = bag_->readRoot(info_.header);
        rootStamp_ = bag_->epoch_;
    }
    return root_;
}

int CdxTag::cmpEntry(const CdxNode& n, size_t i, std::string_view key, uint32_t recno) const {
    int c = std::memcmp(n.keys.data() + i * info_.keyLength, key.data(), info_.keyLength);
    if (c) return c;
    uint32_t r = n.recnos[i];
    return r < recno ? -1 : r > recno ? 1 : 0;
}

CdxPos CdxTag::at(const CdxNode& n, size_t i) {
    CdxPos p;
    p.valid = true;
    p.key = n.keys.substr(i * info_.keyLength, info_.keyLength);
    p.recno = n.recnos[i];
    p.leaf = n.offset;
    p.index = static_cast<uint32_t>(i);
    p.stamp = bag_->generation();
    return p;
}

void CdxTag::descend(std::string_view key, uint32_t recno, std::vector<PathStep>& path) {
    path.clear();
    uint32_t off = root();
    for (int depth = 0;; ++depth) {
        if (depth > kMaxDepth) bag_->corrupt("árbol demasiado profundo en la etiqueta " + name());
        const CdxNode& n = bag_->node(off, *this);
        size_t lo = 0, hi = n.size();
        while (lo < hi) {
            size_t mid = (lo + hi) / 2;
            if (cmpEntry(n, mid, key, recno) < 0)
                lo = mid + 1;
            else
                hi = mid;
        }
        if (n.leaf()) {
            path.push_back({off, lo});
            return;
        }
        if (n.size() == 0) bag_->corrupt("nodo interior vacío en la etiqueta " + name());
        if (lo == n.size()) lo = n.size() - 1;
        path.push_back({off, lo});
        off = n.children[lo];
    }
}

CdxPos CdxTag::stepFrom(const CdxNode& start, size_t i, int dir) {
    if (dir > 0 && i + 1 < start.size()) return at(start, i + 1);
    if (dir < 0 && i > 0 && i - 1 < start.size()) return at(start, i - 1);
    uint32_t off = dir > 0 ? start.right : start.left;
    for (int guard = 0; off != kCdxNone && guard < 1000000; ++guard) {
        const CdxNode& n = bag_->node(off, *this);
        if (!n.leaf()) bag_->corrupt("vecino de una hoja que no es hoja en la etiqueta " + name());
        if (n.size() > 0) return at(n, dir > 0 ? 0 : n.size() - 1);
        off = dir > 0 ? n.right : n.left;
    }
    return {};
}

CdxPos CdxTag::firstFrom(uint32_t off, bool lastOne) {
    for (int depth = 0;; ++depth) {
        if (depth > kMaxDepth) bag_->corrupt("árbol demasiado profundo en la etiqueta " + name());
        const CdxNode& n = bag_->node(off, *this);
        if (n.leaf()) {
            if (n.size() > 0) return at(n, lastOne ? n.size() - 1 : 0);
            CdxNode copy = n;
            return stepFrom(copy, lastOne ? 0 : 0, lastOne ? -1 : 1);
        }
        if (n.size() == 0) return {};
        off = n.children[lastOne ? n.size() - 1 : 0];
    }
}

CdxPos CdxTag::first() {
    CdxBag::ReadGuard g(*bag_);
    return firstFrom(root(), false);
}

CdxPos CdxTag::last() {
    CdxBag::ReadGuard g(*bag_);
    return firstFrom(root(), true);
}

CdxPos CdxTag::seekEntry(std::string_view key, uint32_t recno) {
    CdxBag::ReadGuard g(*bag_);
    std::string k = normalize(key);
    std::vector<PathStep> path;
    descend(k, recno, path);
    const CdxNode& n = bag_->node(path.back().node, *this);
    size_t i = path.back().index;
    if (i < n.size()) return at(n, i);
    if (n.size() == 0) {
        CdxNode copy = n;
        return stepFrom(copy, 0, 1);
    }
    CdxNode copy = n;
    return stepFrom(copy, n.size() - 1, 1);
}

CdxPos CdxTag::seekFirst(std::string_view prefix) {
    std::string k(prefix.substr(0, info_.keyLength));
    k.resize(info_.keyLength, '\0');
    return seekEntry(k, 0);
}

CdxPos CdxTag::seekLast(std::string_view prefix) {
    CdxBag::ReadGuard g(*bag_);
    std::string k(prefix.substr(0, info_.keyLength));
    k.resize(info_.keyLength, '\xFF');
    CdxPos p = seekEntry(k, 0xFFFFFFFFu);
    if (!p.valid) return last();
    return prev(p);
}

bool CdxTag::contains(std::string_view key, uint32_t recno) {
    CdxPos p = seekEntry(key, recno);
    return p.valid && p.recno == recno && p.key == normalize(key);
}

bool CdxTag::holds(const CdxPos& p) {
    if (!p.valid) return false;
    CdxBag::ReadGuard g(*bag_);
    if (p.stamp == bag_->generation()) {
        const CdxNode& n = bag_->node(p.leaf, *this);
        return p.index < n.size() && n.recnos[p.index] == p.recno &&
               n.keys.compare(size_t{p.index} * info_.keyLength, info_.keyLength, p.key) == 0;
    }
    return contains(p.key, p.recno);
}

CdxPos CdxTag::locate(const CdxPos& p) {
    return seekEntry(p.key, p.recno);
}

CdxPos CdxTag::next(const CdxPos& p) {
    if (!p.valid) return {};
    CdxBag::ReadGuard g(*bag_);
    if (p.stamp == bag_->generation()) {
        const CdxNode& n = bag_->node(p.leaf, *this);
        if (p.index < n.size()) return stepFrom(n, p.index, 1);
    }
    CdxPos q = locate(p);
    if (q.valid && q.recno == p.recno && q.key == p.key) {
        const CdxNode& n = bag_->node(q.leaf, *this);
        return stepFrom(n, q.index, 1);
    }
    return q;  // the entry went away: what follows it now
}

CdxPos CdxTag::prev(const CdxPos& p) {
    if (!p.valid) return {};
    CdxBag::ReadGuard g(*bag_);
    if (p.stamp == bag_->generation()) {
        const CdxNode& n = bag_->node(p.leaf, *this);
        if (p.index < n.size()) return stepFrom(n, p.index, -1);
    }
    CdxPos q = locate(p);
    if (!q.valid) return last();
    const CdxNode& n = bag_->node(q.leaf, *this);
    return stepFrom(n, q.index, -1);
}

void CdxTag::walk(const std::function<bool(std::string_view, uint32_t)>& fn) {
    CdxBag::ReadGuard g(*bag_);
    // Leaf by leaf along the neighbour links.
    uint32_t off = root();
    for (int depth = 0;; ++depth) {
        if (depth > kMaxDepth) bag_->corrupt("árbol demasiado profundo en la etiqueta " + name());
        const CdxNode& n = bag_->node(off, *this);
        if (n.leaf()) break;
        if (n.size() == 0) return;
        off = n.children[0];
    }
    std::set<uint32_t> seen;
    while (off != kCdxNone) {
        if (!seen.insert(off).second)
            bag_->corrupt("enlaces de hojas en ciclo en la etiqueta " + name());
        CdxNode n = bag_->node(off, *this);
        if (!n.leaf()) bag_->corrupt("vecino de una hoja que no es hoja en la etiqueta " + name());
        for (size_t i = 0; i < n.size(); ++i)
            if (!fn(std::string_view(n.keys).substr(i * info_.keyLength, info_.keyLength),
                    n.recnos[i]))
                return;
        off = n.right;
    }
}

uint64_t CdxTag::count() {
    uint64_t c = 0;
    walk([&](std::string_view, uint32_t) {
        ++c;
        return true;
    });
    return c;
}

// The position itself while the bag is unchanged; else found again by its
// key and record (or what follows it now).
CdxPos CdxTag::fresh(const CdxPos& p) {
    if (p.stamp == bag_->generation()) {
        const CdxNode& n = bag_->node(p.leaf, *this);
        if (p.index < n.size()) return p;
    }
    return locate(p);
}

uint64_t CdxTag::span(const CdxPos& a, const CdxPos& b) {
    if (!a.valid || !b.valid) return 0;
    CdxBag::ReadGuard g(*bag_);
    CdxPos qa = fresh(a);
    CdxPos qb = fresh(b);
    if (!qa.valid || !qb.valid) return 0;
    if (qa.leaf == qb.leaf) return qb.index >= qa.index ? qb.index - qa.index + 1 : 0;
    auto [size, right] = bag_->leafCount(qa.leaf, *this);
    uint64_t n = size > qa.index ? size - qa.index : 0;
    // A sound chain visits each page once at most.
    uint64_t guard = bag_->fileEnd_ / kCdxPage + 1;
    for (uint32_t off = right; off != kCdxNone; --guard) {
        if (guard == 0) bag_->corrupt("enlaces de hojas en ciclo en la etiqueta " + name());
        if (off == qb.leaf) return n + qb.index + 1;
        auto [c, r] = bag_->leafCount(off, *this);
        n += c;
        off = r;
    }
    return 0;  // `b` was not to the right of `a`
}

CdxPos CdxTag::advance(const CdxPos& a, uint64_t n) {
    if (!a.valid) return {};
    CdxBag::ReadGuard g(*bag_);
    CdxPos q = fresh(a);
    if (!q.valid) return {};
    auto [size, right] = bag_->leafCount(q.leaf, *this);
    if (q.index + n < size) return at(bag_->node(q.leaf, *this), q.index + static_cast<size_t>(n));
    n -= size - q.index;
    uint64_t guard = bag_->fileEnd_ / kCdxPage + 1;
    for (uint32_t off = right; off != kCdxNone; --guard) {
        if (guard == 0) bag_->corrupt("enlaces de hojas en ciclo en la etiqueta " + name());
        auto [c, r] = bag_->leafCount(off, *this);
        if (n < c) {
            const CdxNode& leaf = bag_->node(off, *this);
            if (n >= leaf.size()) return {};
            return at(leaf, static_cast<size_t>(n));
        }
        n -= c;
        off = r;
    }
    return {};
}

bool CdxTag::insert(std::string_view key, uint32_t recno) {
    CdxBag::WriteGuard g(*bag_);
    std::string k = normalize(key);
    if (unique()) {
        CdxPos p = seekEntry(k, 0);
        if (p.valid && p.key == k) return false;
    }
    std::vector<PathStep> path;
    descend(k, recno, path);
    size_t i = path.back().index;
    {
        // The usual case changes one leaf in place: the entry goes before the
        // leaf's greatest one and the leaf still has room.
        CdxNode& in = bag_->mutableNode(path.back().node, *this);
        if (!in.leaf()) bag_->corrupt("se esperaba una hoja en la etiqueta " + name());
        if (i < in.size() && cmpEntry(in, i, k, recno) == 0) return false;
        if (i < in.size()) {
            if (in.stored < 0) in.stored = storedAll(in, info_.keyLength, pad_);
            in.keys.insert(i * info_.keyLength, k);
            in.recnos.insert(in.recnos.begin() + static_cast<long>(i), recno);
            in.stored += leafStoredDelta(*this, in, i, true);
            if (bag_->fits(in, *this)) {
                bag_->touch(in.offset);
                return true;
            }
            // No room after all: undo and take the general way.
            in.stored -= leafStoredDelta(*this, in, i, true);
            in.keys.erase(i * info_.keyLength, info_.keyLength);
            in.recnos.erase(in.recnos.begin() + static_cast<long>(i));
        }
    }
    CdxNode leaf = bag_->node(path.back().node, *this);
    if (leaf.stored < 0) leaf.stored = storedAll(leaf, info_.keyLength, pad_);
    leaf.keys.insert(i * info_.keyLength, k);
    leaf.recnos.insert(leaf.recnos.begin() + static_cast<long>(i), recno);
    leaf.stored += leafStoredDelta(*this, leaf, i, true);
    std::vector<CdxNode> nodes{std::move(leaf)};
    replaceInParent(path, path.size() - 1, nodes);
    return true;
}

bool CdxTag::remove(std::string_view key, uint32_t recno) {
    CdxBag::WriteGuard g(*bag_);
    std::string k = normalize(key);
    std::vector<PathStep> path;
    descend(k, recno, path);
    size_t i = path.back().index;
    {
        // In place when the leaf keeps its greatest entry and is not emptied.
        CdxNode& in = bag_->mutableNode(path.back().node, *this);
        if (i >= in.size() || cmpEntry(in, i, k, recno) != 0) return false;
        if (i + 1 < in.size()) {
            if (in.stored < 0) in.stored = storedAll(in, info_.keyLength, pad_);
            in.stored += leafStoredDelta(*this, in, i, false);
            in.keys.erase(i * info_.keyLength, info_.keyLength);
            in.recnos.erase(in.recnos.begin() + static_cast<long>(i));
            bag_->touch(in.offset);
            return true;
        }
    }
    CdxNode leaf = bag_->node(path.back().node, *this);
    if (leaf.stored < 0) leaf.stored = storedAll(leaf, info_.keyLength, pad_);
    leaf.stored += leafStoredDelta(*this, leaf, i, false);
    leaf.keys.erase(i * info_.keyLength, info_.keyLength);
    leaf.recnos.erase(leaf.recnos.begin() + static_cast<long>(i));
    std::vector<CdxNode> nodes;
    if (leaf.size() > 0 || path.size() == 1) nodes.push_back(std::move(leaf));
    replaceInParent(path, path.size() - 1, nodes);
    return true;
}

namespace {

// Splits an overfull node into as few pieces as needed, halves when halves fit.
std::vector<CdxNode> splitNode(CdxNode n, CdxBag& bag, const CdxTag& owner) {
    std::vector<CdxNode> out;
    if (bag.fits(n, owner)) {
        out.push_back(std::move(n));
        return out;
    }
    const uint16_t kl = owner.keyLength();
    auto piece = [&](size_t from, size_t to) {
        CdxNode p;
        p.attr = n.attr & 2;
        p.keys = n.keys.substr(from * kl, (to - from) * kl);
        p.recnos.assign(n.recnos.begin() + static_cast<long>(from),
                        n.recnos.begin() + static_cast<long>(to));
        if (!n.leaf())
            p.children.assign(n.children.begin() + static_cast<long>(from),
                              n.children.begin() + static_cast<long>(to));
        return p;
    };
    size_t mid = n.size() / 2;
    CdxNode a = piece(0, mid), b = piece(mid, n.size());
    if (mid > 0 && bag.fits(a, owner) && bag.fits(b, owner)) {
        out.push_back(std::move(a));
        out.push_back(std::move(b));
    } else {
        // Uneven keys: fill greedily.
        size_t from = 0;
        while (from < n.size()) {
            size_t to = from + 1;
            while (to < n.size() && bag.fits(piece(from, to + 1), owner)) ++to;
            out.push_back(piece(from, to));
            from = to;
        }
    }
    out[0].offset = n.offset;
    out[0].left = n.left;
    out.back().right = n.right;
    return out;
}

}  // namespace

void CdxTag::replaceInParent(std::vector<PathStep>& path, size_t level,
                             std::vector<CdxNode>& nodes) {
    const uint16_t kl = info_.keyLength;
    const uint32_t self = path[level].node;
    const bool isRoot = level == 0;
    // Overfull nodes split; new pieces get pages and join the level's links.
    if (nodes.size() == 1) {
        uint16_t rootBit = nodes[0].attr & 1;
        nodes[0].attr &= 2;
        std::vector<CdxNode> pieces = splitNode(std::move(nodes[0]), *bag_, *this);
        nodes = std::move(pieces);
        if (nodes.size() == 1) nodes[0].attr |= rootBit;
    }
    if (nodes.size() > 1) {
        uint32_t oldRight = nodes.back().right;
        for (size_t j = 1; j < nodes.size(); ++j) nodes[j].offset = bag_->allocNode();
        for (size_t j = 0; j < nodes.size(); ++j) {
            if (j) nodes[j].left = nodes[j - 1].offset;
            nodes[j].right = j + 1 < nodes.size() ? nodes[j + 1].offset : oldRight;
        }
        if (oldRight != kCdxNone) {
            CdxNode r = bag_->node(oldRight, *this);
            r.left = nodes.back().offset;
            bag_->putNode(std::move(r), *this);
        }
    }
    if (nodes.empty()) {
        const CdxNode& gone = bag_->node(self, *this);
        uint32_t l = gone.left, r = gone.right;
        if (l != kCdxNone) {
            CdxNode ln = bag_->node(l, *this);
            ln.right = r;
            bag_->putNode(std::move(ln), *this);
        }
        if (r != kCdxNone) {
            CdxNode rn = bag_->node(r, *this);
            rn.left = l;
            bag_->putNode(std::move(rn), *this);
        }
        bag_->freeNode(self);
    }
    if (!isRoot && nodes.size() == 1 && nodes[0].size() > 0) {
        // Most changes stay inside one node whose greatest entry is still the
        // one its parent names: nothing above it changes.
        const CdxNode& parent = bag_->node(path[level - 1].node, *this);
        size_t idx = path[level - 1].index;
        const CdxNode& n = nodes[0];
        if (idx < parent.size() && parent.children[idx] == n.offset &&
            parent.recnos[idx] == n.recnos.back() &&
            parent.keys.compare(idx * kl, kl, n.keys, (n.size() - 1) * kl, kl) == 0) {
            bag_->putNode(std::move(nodes[0]), *this);
            return;
        }
    }
    std::vector<std::tuple<std::string, uint32_t, uint32_t>> refs;
    for (auto& n : nodes) {
        if (n.size() > 0)
            refs.emplace_back(n.keys.substr((n.size() - 1) * kl, kl), n.recnos.back(), n.offset);
        bag_->putNode(std::move(n), *this);
    }
    if (isRoot) {
        if (nodes.size() <= 1) return;
        // The root split: a new root above the pieces.
        std::vector<std::tuple<std::string, uint32_t, uint32_t>> level1 = std::move(refs);
        for (;;) {
            size_t cap = interiorCapacity(kl);
            std::vector<CdxNode> ups;
            size_t count = (level1.size() + cap - 1) / cap;
            size_t per = (level1.size() + count - 1) / count;
            for (size_t i = 0; i < level1.size(); i += per) {
                CdxNode u;
                u.attr = 0;
                u.offset = bag_->allocNode();
                for (size_t j = i; j < std::min(level1.size(), i + per); ++j) {
                    u.keys.append(std::get<0>(level1[j]));
                    u.recnos.push_back(std::get<1>(level1[j]));
                    u.children.push_back(std::get<2>(level1[j]));
                }
                ups.push_back(std::move(u));
            }
            for (size_t j = 0; j < ups.size(); ++j) {
                ups[j].left = j ? ups[j - 1].offset : kCdxNone;
                ups[j].right = j + 1 < ups.size() ? ups[j + 1].offset : kCdxNone;
            }
            if (ups.size() == 1) {
                ups[0].attr = 1;
                root_ = ups[0].offset;
                bag_->putNode(std::move(ups[0]), *this);
                break;
            }
            level1.clear();
            for (auto& u : ups) {
                level1.emplace_back(u.keys.substr((u.size() - 1) * kl, kl), u.recnos.back(),
                                    u.offset);
                bag_->putNode(std::move(u), *this);
            }
        }
        rootStamp_ = bag_->epoch_;
        bag_->writeTagHeader(info_, root_);
        return;
    }
    CdxNode parent = bag_->node(path[level - 1].node, *this);
    size_t idx = path[level - 1].index;
    if (idx >= parent.size()) bag_->corrupt("camino roto en la etiqueta " + name());
    std::string oldMaxKey = parent.keys.substr((parent.size() - 1) * kl, kl);
    uint32_t oldMaxRec = parent.recnos.back();
    size_t oldSize = parent.size();
    parent.keys.erase(idx * kl, kl);
    parent.recnos.erase(parent.recnos.begin() + static_cast<long>(idx));
    parent.children.erase(parent.children.begin() + static_cast<long>(idx));
    for (size_t j = 0; j < refs.size(); ++j) {
        parent.keys.insert((idx + j) * kl, std::get<0>(refs[j]));
        parent.recnos.insert(parent.recnos.begin() + static_cast<long>(idx + j),
                             std::get<1>(refs[j]));
        parent.children.insert(parent.children.begin() + static_cast<long>(idx + j),
                               std::get<2>(refs[j]));
    }
    bool sameShape = parent.size() == oldSize && parent.size() > 0 &&
                     parent.keys.compare((parent.size() - 1) * kl, kl, oldMaxKey) == 0 &&
                     parent.recnos.back() == oldMaxRec;
    std::vector<CdxNode> up;
    if (parent.size() == 0 && level - 1 == 0) {
        // The last key left the tree: the root becomes an empty leaf.
        parent.attr = 3;
        parent.children.clear();
    }
    if (parent.size() > 0 || level - 1 == 0) up.push_back(std::move(parent));
    if (sameShape && up.size() == 1 && bag_->fits(up[0], *this)) {
        bag_->putNode(std::move(up[0]), *this);
        return;
    }
    replaceInParent(path, level - 1, up);
}

std::vector<std::string> CdxTag::checkStructure() {
    CdxBag::ReadGuard g(*bag_);
    std::vector<std::string> faults;
    const uint16_t kl = info_.keyLength;
    auto fault = [&](const std::string& s) {
        if (faults.size() < 100) faults.push_back("etiqueta " + name() + ": " + s);
    };
    struct Item {
        uint32_t off;
        bool hasBound;
        std::string key;
        uint32_t recno;
    };
    std::vector<Item> level{{root(), false, {}, 0}};
    std::set<uint32_t> seen;
    bool rootLevel = true;
    try {
        for (int depth = 0; !level.empty(); ++depth) {
            if (depth > kMaxDepth) {
                fault("árbol demasiado profundo");
                break;
            }
            std::vector<Item> below;
            int leaves = -1;
            std::string prevKey;
            uint32_t prevRec = 0;
            bool havePrev = false;
            for (size_t li = 0; li < level.size(); ++li) {
                const Item& it = level[li];
                if (!seen.insert(it.off).second) {
                    fault("el nodo " + std::to_string(it.off) + " aparece dos veces");
                    continue;
                }
                CdxNode n = bag_->node(it.off, *this);
                if (rootLevel != static_cast<bool>(n.attr & 1))
                    fault("marca de raíz errónea en el nodo " + std::to_string(it.off));
                int isLeaf = n.leaf() ? 1 : 0;
                if (leaves == -1) leaves = isLeaf;
                if (leaves != isLeaf) fault("hojas y nodos interiores en un mismo nivel");
                uint32_t wantLeft = li ? level[li - 1].off : kCdxNone;
                uint32_t wantRight = li + 1 < level.size() ? level[li + 1].off : kCdxNone;
                if (n.left != wantLeft && !(n.left == 0 && wantLeft == kCdxNone))
                    fault("enlace izquierdo erróneo en el nodo " + std::to_string(it.off));
                if (n.right != wantRight && !(n.right == 0 && wantRight == kCdxNone))
                    fault("enlace derecho erróneo en el nodo " + std::to_string(it.off));
                if (n.size() == 0 && !rootLevel) fault("nodo vacío " + std::to_string(it.off));
                for (size_t i = 0; i < n.size(); ++i) {
                    std::string k = n.keys.substr(i * kl, kl);
                    if (havePrev) {
                        int c = prevKey.compare(k);
                        if (c > 0 || (c == 0 && prevRec >= n.recnos[i]))
                            fault("claves fuera de orden en el nodo " + std::to_string(it.off));
                        if (c == 0 && unique() && isLeaf)
                            fault("clave repetida en una etiqueta única");
                    }
                    prevKey = k;
                    prevRec = n.recnos[i];
                    havePrev = true;
                    if (!isLeaf) below.push_back({n.children[i], true, k, n.recnos[i]});
                }
                if (it.hasBound && n.size() > 0 &&
                    (n.keys.compare((n.size() - 1) * kl, kl, it.key) != 0 ||
                     n.recnos.back() != it.recno))
                    fault("la clave del padre no es la mayor del nodo " + std::to_string(it.off));
            }
            level = std::move(below);
            rootLevel = false;
        }
    } catch (const DbfError& e) {
        fault(e.description());
    }
    return faults;
}

}  // namespace dbf
