#include "dbf/fpt.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "dbf/error.h"
#include "dbf/io.h"
#include "dbf/locks.h"

namespace dbf {

namespace {

// Memos beyond this size are taken as damage rather than data.
constexpr uint64_t kMaxMemo = 256ull * 1024 * 1024;

[[noreturn]] void damaged(const std::string& path, const std::string& what) {
    throw DbfError(kErrCorruption, "El fichero de memos está dañado: " + what + ".", path);
}

}  // namespace

void MemoFile::create(const std::string& path, uint32_t blockSize, bool whole) {
    unsigned char h[kHeaderSize] = {};
    io::putBe32(h, (kHeaderSize + blockSize - 1) / blockSize);
    io::putBe16(h + 6, static_cast<uint16_t>(blockSize));
    io::writeNewFile(path, h, sizeof h, whole, "el fichero de memos");
}

MemoFile::MemoFile(const std::string& path, bool readOnly, bool exclusive)
    : MemoFile(::open(path.c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC), path, readOnly,
               exclusive) {}

MemoFile::MemoFile(int fd, const std::string& path, bool readOnly, bool exclusive)
    : path_(path), fd_(fd), readOnly_(readOnly), exclusive_(exclusive) {
    if (fd_ < 0)
        throw DbfError(kErrOpen,
                       "No se puede abrir el fichero de memos: " + io::osText(errno) + ".", path,
                       errno);
    try {
        readHeader();
    } catch (...) {
        ::close(fd_);
        throw;
    }
}

MemoFile::~MemoFile() {
    try {
        flushHeader();
    } catch (...) {
        // Closing cannot throw; the header keeps its last written value and
        // the blocks after it are only unused.
    }
    if (fd_ >= 0) ::close(fd_);
}

void MemoFile::readHeader() {
    unsigned char h[8];
    if (io::readAt(fd_, h, sizeof h, 0) != static_cast<ssize_t>(sizeof h))
        damaged(path_, "la cabecera está incompleta");
    uint32_t bs = io::be16(h + 6);
    // FoxPro writes block sizes from 1 (then counted in bytes) to many KB.
    if (bs == 0) damaged(path_, "el tamaño de bloque es cero");
    blockSize_ = bs;
    // Alone on an empty memo file: already what clear() leaves.
    const uint32_t first = (kHeaderSize + blockSize_ - 1) / blockSize_;
    cleared_ = exclusive_ && !readOnly_ && io::be32(h) == first &&
               fileSize() == uint64_t(first) * blockSize_;
}

uint32_t MemoFile::nextFree() const {
    if (exclusive_ && nextKnown_) return next_;
    unsigned char h[4];
    if (io::readAt(fd_, h, 4, 0) != 4) damaged(path_, "la cabecera está incompleta");
    uint32_t next = io::be32(h);
    if (exclusive_) {
        next_ = next;
        nextKnown_ = true;
    }
    return next;
}

uint64_t MemoFile::fileSize() const {
    if (exclusive_ && sizeKnown_) return size_;
    uint64_t size = io::fileSize(fd_);
    if (exclusive_) {
        size_ = size;
        sizeKnown_ = true;
    }
    reached_ = size;
    return size;
}

uint64_t MemoFile::sizeReaching(uint64_t end) const {
    // A memo file shared with others only grows (emptying it or packing its
    // table needs exclusive use): a size seen once still holds.
    return reached_ >= end ? reached_ : fileSize();
}

void MemoFile::grewTo(uint64_t end) {
    if (exclusive_ && sizeKnown_) size_ = std::max(size_, end);
    reached_ = std::max(reached_, end);
}

uint32_t MemoFile::blocksFor(uint64_t dataLength) const {
    return static_cast<uint32_t>((dataLength + 8 + blockSize_ - 1) / blockSize_);
}

std::string MemoFile::read(uint32_t block) const {
    if (block == 0) return {};
    uint64_t off = uint64_t(block) * blockSize_;
    uint64_t size = sizeReaching(off + 8);
    if (off < kHeaderSize)
        damaged(path_,
                "un memo apunta dentro de la cabecera (bloque " + std::to_string(block) + ")");
    if (off + 8 > size)
        damaged(path_, "un memo apunta fuera del fichero (bloque " + std::to_string(block) + ")");
    // The block header and, for a short memo, all of its text in one read.
    unsigned char h[512];
    size_t want = static_cast<size_t>(std::min<uint64_t>(sizeof h, size - off));
    if (io::readAt(fd_, h, want, off) != static_cast<ssize_t>(want))
        damaged(path_, "no se puede leer el bloque " + std::to_string(block));
    uint64_t len = io::be32(h + 4);
    if (len <= kMaxMemo && off + 8 + len > size) size = sizeReaching(off + 8 + len);
    if (len > kMaxMemo || off + 8 + len > size)
        damaged(path_,
                "la longitud del memo del bloque " + std::to_string(block) + " sale del fichero");
    if (8 + len <= want) return std::string(reinterpret_cast<const char*>(h) + 8, len);
    std::string out(len, '\0');
    if (len && io::readAt(fd_, out.data(), len, off + 8) != static_cast<ssize_t>(len))
        damaged(path_, "no se puede leer el bloque " + std::to_string(block));
    return out;
}

std::string MemoFile::checkBlock(uint32_t block) const {
    if (block == 0) return {};
    uint64_t off = uint64_t(block) * blockSize_;
    uint64_t size = fileSize();
    if (off < kHeaderSize) return "apunta dentro de la cabecera";
    if (off + 8 > size) return "apunta fuera del fichero";
    unsigned char h[8];
    if (io::readAt(fd_, h, 8, off) != 8) return "no se puede leer";
    uint64_t len = io::be32(h + 4);
    if (off + 8 + len > size) return "su longitud sale del fichero";
    uint32_t next = nextFree();
    if (uint64_t(block) + blocksFor(len) > next)
        return "ocupa bloques más allá del siguiente bloque libre";
    return {};
}

uint32_t MemoFile::endOf(uint32_t block) const {
    if (block == 0) return 0;
    uint64_t off = uint64_t(block) * blockSize_;
    unsigned char h[8];
    if (off < kHeaderSize || io::readAt(fd_, h, 8, off) != 8) return 0;
    uint64_t len = std::min<uint64_t>(io::be32(h + 4), kMaxMemo);
    return static_cast<uint32_t>(
        std::min<uint64_t>(block + uint64_t(blocksFor(len)), 0xFFFFFFFFull));
}

void MemoFile::reserveTo(uint32_t end) {
    if (readOnly_) return;
    bool locked = !exclusive_ && locks::waitLock(fd_, locks::kHeaderByte, 1, locks::Kind::Write);
    if (nextFree() < end) writeNextFree(end);
    if (locked) locks::unlock(fd_, locks::kHeaderByte, 1);
}

void MemoFile::writeNextFree(uint32_t next) {
    cleared_ = false;
    if (exclusive_) {
        // Alone on the file: written before any record that points past the
        // header's old value (see flushHeader).
        next_ = next;
        nextKnown_ = true;
        headerPending_ = true;
        return;
    }
    storeNextFree(next);
}

void MemoFile::flushHeader() {
    if (!headerPending_) return;
    storeNextFree(next_);
    headerPending_ = false;
}

void MemoFile::sync() {
    if (readOnly_) return;
    flushHeader();
    if (!unsynced_) return;
    unsynced_ = false;
    ::fdatasync(fd_);
}

void MemoFile::storeNextFree(uint32_t next) {
    unsigned char h[4];
    io::putBe32(h, next);
    unsynced_ = true;
    if (!io::writeAt(fd_, h, 4, 0))
        throw DbfError(kErrWrite,
                       "No se puede escribir el fichero de memos: " + io::osText(errno) + ".",
                       path_, errno);
}

bool MemoFile::sameText(uint32_t block, std::string_view data) const {
    uint64_t off = uint64_t(block) * blockSize_;
    if (off < kHeaderSize || off + 8 + data.size() > fileSize()) return false;
    unsigned char h[8];
    if (io::readAt(fd_, h, 8, off) != 8 || io::be32(h + 4) != data.size()) return false;
    std::string old(data.size(), '\0');
    return io::readAt(fd_, old.data(), old.size(), off + 8) == static_cast<ssize_t>(old.size()) &&
           old == data;
}

uint32_t MemoFile::write(uint32_t oldBlock, std::string_view data) {
    if (readOnly_)
        throw DbfError(kErrReadonly, "El fichero de memos está abierto solo para lectura.", path_);
    if (data.empty()) return 0;
    cleared_ = false;
    if (data.size() > kMaxMemo)
        throw DbfError(kErrDataWidth, "El texto es demasiado largo para un memo.", path_);
    std::vector<unsigned char> img(size_t(blocksFor(data.size())) * blockSize_, 0);
    io::putBe32(img.data(), 1);
    io::putBe32(img.data() + 4, static_cast<uint32_t>(data.size()));
    std::memcpy(img.data() + 8, data.data(), data.size());

    // A memo is never rewritten where it stands, even when the new text would
    // fit its blocks: until the record that points at it is written anew, a
    // power cut must find the committed text whole. A changed text takes new
    // blocks; the old ones stay unused until the table is rebuilt.
    if (oldBlock != 0 && sameText(oldBlock, data)) return oldBlock;

    // New blocks at the end: the header's next free block is taken and moved on
    // under its lock, so that two writers never share blocks.
    bool locked = false;
    if (!exclusive_) {
        locked = locks::waitLock(fd_, locks::kHeaderByte, 1, locks::Kind::Write);
        if (!locked)
            throw DbfError(kErrLock, "No se puede bloquear el fichero de memos.", path_, errno);
    }
    struct Unlock {
        int fd;
        bool on;
        ~Unlock() {
            if (on) locks::unlock(fd, locks::kHeaderByte, 1);
        }
    } guard{fd_, locked};
    uint32_t block = nextFree();
    uint32_t first = (kHeaderSize + blockSize_ - 1) / blockSize_;
    if (block < first) block = first;
    uint32_t count = blocksFor(data.size());
    if (uint64_t(block) + count > 0xFFFFFFFFull / blockSize_)
        throw DbfError(kErrWrite, "El fichero de memos está lleno.", path_);
    // Data first, header last: a crash in between only leaves unused blocks.
    // Neither is synced here: the table syncs both before it writes a record
    // that points at them (Table::storeRecord).
    unsynced_ = true;
    if (!io::writeAt(fd_, img.data(), img.size(), uint64_t(block) * blockSize_))
        throw DbfError(kErrWrite, "No se puede escribir el memo: " + io::osText(errno) + ".", path_,
                       errno);
    grewTo(uint64_t(block) * blockSize_ + img.size());
    writeNextFree(block + count);
    return block;
}

void MemoFile::clear() {
    if (readOnly_)
        throw DbfError(kErrReadonly, "El fichero de memos está abierto solo para lectura.", path_);
    if (cleared_) return;  // alone on the file, and nothing written since
    uint32_t first = (kHeaderSize + blockSize_ - 1) / blockSize_;
    if (::ftruncate(fd_, static_cast<off_t>(uint64_t(first) * blockSize_)) != 0)
        throw DbfError(kErrWrite,
                       "No se puede vaciar el fichero de memos: " + io::osText(errno) + ".", path_,
                       errno);
    sizeKnown_ = false;
    reached_ = 0;
    writeNextFree(first);
    flushHeader();
    cleared_ = exclusive_;
}

}  // namespace dbf
