// A table kept whole through interruptions, and checked. The record count
// is put right at open when a writer died between a record and the header;
// packing goes through a journal that the next open finishes or drops; a
// bag's crash mark sends the table through mendAfterInterruption(), which
// drops the half-written records at the end; check() lists every fault it
// finds without changing anything.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "dbf/fpt.h"
#include "dbf/io.h"
#include "dbf/table.h"
#include "dbf/table_internal.h"

namespace dbf {

using namespace tabledetail;

// A crash between writing a record and writing the header leaves the count
// wrong; so does a file cut short. The complete records on disk are trusted.
void Table::repairCount(uint64_t size) {
    dropMap();
    uint64_t disk = (size - headerLength_) / recordLength_;
    if (disk > 0xFFFFFFFFull) disk = 0xFFFFFFFFull;
    // Past the last whole record only the end-of-file mark belongs; more is
    // the start of an append that never finished.
    const bool tail = size > headerLength_ + disk * recordLength_ + 1;
    if (count_ == disk && !tail) return;
    uint32_t onDisk = static_cast<uint32_t>(disk);
    if (!readOnly_ && lockHeader(0)) {
        // Under the header lock nobody is halfway through an append.
        uint32_t c = readHeaderCount();
        size = io::fileSize(fd_);
        onDisk = static_cast<uint32_t>((size - headerLength_) / recordLength_);
        uint64_t end = headerLength_ + uint64_t(onDisk) * recordLength_;
        if (c != onDisk || size > end + 1) {
            writeHeaderCount(onDisk);
            char eof = 0x1A;
            if (::ftruncate(fd_, static_cast<off_t>(end)) != 0 || !io::writeAt(fd_, &eof, 1, end)) {
                unlockHeader();
                fail(kErrWrite, "No se puede reparar la tabla: " + io::osText(errno) + ".", errno);
            }
        }
        unlockHeader();
        count_ = onDisk;
    } else {
        count_ = std::min(count_, onDisk);
        if (readOnly_) count_ = onDisk;
    }
}

// Packing rewrites records in place; a crash halfway would leave some records
// twice. So the compacted records first go to a journal beside the table,
// synced, and only then are copied in; an open that finds a complete journal
// finishes the copy, an incomplete one is dropped (the table was not touched yet).
std::string Table::packJournalPath() const {
    return path_ + ".vdrpack";
}

namespace {
constexpr char kPackMagic[8] = {'V', 'D', 'R', 'P', 'A', 'C', 'K', '1'};
constexpr char kPackEnd[4] = {'F', 'I', 'N', '!'};
}  // namespace

void Table::applyPackJournal(int jfd, uint32_t w) {
    dropMap();
    std::vector<char> chunk;
    size_t per = std::max<size_t>(1, kTailBytes / recordLength_);
    for (uint32_t done = 0; done < w;) {
        uint32_t n = static_cast<uint32_t>(std::min<size_t>(per, w - done));
        chunk.resize(size_t(n) * recordLength_);
        if (io::readAt(jfd, chunk.data(), chunk.size(), 16 + uint64_t(done) * recordLength_) !=
            static_cast<ssize_t>(chunk.size()))
            fail(kErrRead, "No se puede leer el diario de compactación.", errno);
        if (!io::writeAt(fd_, chunk.data(), chunk.size(),
                         headerLength_ + uint64_t(done) * recordLength_))
            fail(kErrWrite, "No se puede compactar la tabla: " + io::osText(errno) + ".", errno);
        done += n;
    }
    uint64_t end = headerLength_ + uint64_t(w) * recordLength_;
    char eof = 0x1A;
    if (!io::writeAt(fd_, &eof, 1, end) || ::ftruncate(fd_, static_cast<off_t>(end + 1)) != 0)
        fail(kErrWrite, "No se puede compactar la tabla: " + io::osText(errno) + ".", errno);
    writeHeaderCount(w);
    ::fdatasync(fd_);
}

bool Table::recoverPack() {
    std::string jp = packJournalPath();
    int jfd = ::open(jp.c_str(), O_RDONLY | O_CLOEXEC);
    if (jfd < 0) return false;
    struct Close {
        int fd;
        ~Close() { ::close(fd); }
    } closer{jfd};
    unsigned char h[16];
    uint64_t size = io::fileSize(jfd);
    bool complete = false;
    uint32_t w = 0;
    if (size >= 20 && io::readAt(jfd, h, 16, 0) == 16 && std::memcmp(h, kPackMagic, 8) == 0 &&
        io::le32(h + 8) == recordLength_) {
        w = io::le32(h + 12);
        char end[4];
        complete = size == 16 + uint64_t(w) * recordLength_ + 4 &&
                   io::readAt(jfd, end, 4, size - 4) == 4 && std::memcmp(end, kPackEnd, 4) == 0;
    }
    if (!lockHeader(0)) return false;  // someone is appending: leave it to a later open
    try {
        if (complete) applyPackJournal(jfd, w);
    } catch (...) {
        unlockHeader();
        throw;
    }
    unlockHeader();
    ::unlink(jp.c_str());
    return true;
}

void Table::pack() {
    if (shared_) fail(kErrShared, "Para compactar la tabla hay que abrirla en uso exclusivo.");
    if (readOnly_) fail(kErrReadonly, "La tabla está abierta solo para lectura.");
    flush();
    flushTail();
    windowCount_ = 0;
    dropMap();
    std::string jp = packJournalPath();
    int jfd = ::open(jp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (jfd < 0)
        fail(kErrCreate, "No se puede crear el diario de compactación: " + io::osText(errno) + ".",
             errno);
    struct Close {
        int fd;
        ~Close() { ::close(fd); }
    } closer{jfd};
    std::vector<char> out(16, '\0');
    std::memcpy(out.data(), kPackMagic, 8);
    io::putLe32(reinterpret_cast<unsigned char*>(out.data() + 8), recordLength_);
    uint64_t at = 0;
    uint32_t w = 0;
    std::vector<char> rec(recordLength_);
    auto spill = [&] {
        if (!io::writeAt(jfd, out.data(), out.size(), at))
            fail(kErrWrite,
                 "No se puede escribir el diario de compactación: " + io::osText(errno) + ".",
                 errno);
        at += out.size();
        out.clear();
    };
    for (uint32_t r = 1; r <= count_; ++r) {
        loadRecord(r, rec.data());
        if (rec[0] == '*') continue;
        ++w;
        out.insert(out.end(), rec.begin(), rec.end());
        if (out.size() >= kTailBytes) spill();
    }
    out.insert(out.end(), kPackEnd, kPackEnd + 4);
    spill();
    unsigned char cnt[4];
    io::putLe32(cnt, w);
    if (!io::writeAt(jfd, cnt, 4, 12) || ::fdatasync(jfd) != 0)
        fail(kErrWrite,
             "No se puede escribir el diario de compactación: " + io::osText(errno) + ".", errno);
    windowCount_ = 0;
    applyPackJournal(jfd, w);
    ::unlink(jp.c_str());
    count_ = w;
    read(1);
    for (TableObserver* o : observers_) o->afterPack(*this);
}

// A power cut keeps some pages of a write and loses others: an append in
// flight can leave, past the last synced record, a record whose lost part
// reads as zero bytes. No record this engine writes holds a zero byte when
// every field is stored as text, so such records at the end were never
// committed (a commit syncs the whole record) and go. Tables with binary
// fields are left as they are.
bool Table::mendAfterInterruption() {
    if (readOnly_) return true;
    flush();
    flushTail();
    if (!lockHeader(kAppendWaitMs)) return false;
    struct Unlock {
        Table& t;
        ~Unlock() { t.unlockHeader(); }
    } unlock{*this};
    dropMap();
    bool textOnly =
        nullFlagsLen_ == 0 && std::all_of(fields_.begin(), fields_.end(), [](const Field& f) {
            return std::string_view("CNFDL").find(f.type) != std::string_view::npos ||
                   (f.isMemo() && f.len == 10);
        });
    uint32_t n = static_cast<uint32_t>(
        std::min<uint64_t>(readHeaderCount(), (io::fileSize(fd_) - headerLength_) / recordLength_));
    uint32_t keep = n;
    std::vector<char> rec(recordLength_);
    while (textOnly && keep > 0) {
        if (io::readAt(fd_, rec.data(), recordLength_,
                       headerLength_ + uint64_t(keep - 1) * recordLength_) !=
            static_cast<ssize_t>(recordLength_))
            break;
        if (std::find(rec.begin(), rec.end(), '\0') == rec.end()) break;
        --keep;
    }
    const uint64_t end = headerLength_ + uint64_t(keep) * recordLength_;
    if (keep != n || readHeaderCount() != keep || io::fileSize(fd_) > end + 1) {
        char eof = 0x1A;
        if (::ftruncate(fd_, static_cast<off_t>(end)) != 0 || !io::writeAt(fd_, &eof, 1, end))
            fail(kErrWrite, "No se puede reparar la tabla: " + io::osText(errno) + ".", errno);
        writeHeaderCount(keep);
        count_ = keep;
        windowCount_ = 0;
    }
    if (memo_) {
        // The blocks every record's memos take, however far the header says
        // the memos reach.
        uint32_t end = 0;
        std::vector<char> saved = buf_;
        for (uint32_t r = 1; r <= count_; ++r) {
            if (io::readAt(fd_, buf_.data(), recordLength_,
                           headerLength_ + uint64_t(r - 1) * recordLength_) !=
                static_cast<ssize_t>(recordLength_))
                break;
            for (int i = 0; i < fieldCount(); ++i)
                if (fields_[static_cast<size_t>(i)].isMemo())
                    end = std::max(end, memo_->endOf(memoBlock(i)));
        }
        buf_ = saved;
        memo_->reserveTo(end);
    }
    commit();
    return true;
}

std::vector<std::string> Table::check() {
    std::vector<std::string> faults;
    flush();
    flushTail();
    uint64_t size = io::fileSize(fd_);
    uint32_t header = readHeaderCount();
    uint64_t expect = headerLength_ + uint64_t(header) * recordLength_;
    if (size < expect)
        faults.push_back("La cabecera indica " + std::to_string(header) +
                         " registros pero el fichero solo tiene " +
                         std::to_string((size - headerLength_) / recordLength_) + " completos.");
    else if (size > expect + 1)
        faults.push_back("El fichero tiene " + std::to_string(size - expect) +
                         " bytes tras los registros que indica la cabecera (" +
                         std::to_string(header) + ").");
    uint32_t n =
        static_cast<uint32_t>(std::min<uint64_t>(header, (size - headerLength_) / recordLength_));
    std::vector<char> rec(recordLength_);
    std::vector<char> saved = buf_;
    for (uint32_t r = 1; r <= n; ++r) {
        if (io::readAt(fd_, rec.data(), recordLength_,
                       headerLength_ + uint64_t(r - 1) * recordLength_) !=
            static_cast<ssize_t>(recordLength_)) {
            faults.push_back("No se puede leer el registro " + std::to_string(r) + ".");
            break;
        }
        const std::string where = "Registro " + std::to_string(r);
        if (rec[0] != ' ' && rec[0] != '*')
            faults.push_back(where + ": marca de borrado no válida.");
        std::memcpy(buf_.data(), rec.data(), recordLength_);
        phantom_ = false;
        for (int i = 0; i < fieldCount(); ++i) {
            const Field& f = fields_[static_cast<size_t>(i)];
            std::string_view v = raw(i);
            std::string bad;
            switch (f.type) {
                case 'N':
                case 'F': {
                    std::string t = trim(v);
                    bool ok = true, digit = false;
                    for (size_t k = 0; k < t.size(); ++k) {
                        char c = t[k];
                        if (c >= '0' && c <= '9')
                            digit = true;
                        else if (!(c == '.' || ((c == '-' || c == '+') && k == 0) || c == '*'))
                            ok = false;
                    }
                    if (!ok || (!t.empty() && !digit && t.find('*') == std::string::npos))
                        bad = "número no válido";
                    break;
                }
                case 'D':
                    if (trim(v).size() && getDate(i) == 0) bad = "fecha no válida";
                    break;
                case 'L':
                    if (std::string_view("TtFfYyNn? ").find(v[0]) == std::string_view::npos)
                        bad = "lógico no válido";
                    break;
                case 'M':
                case 'G':
                case 'P':
                case 'W': {
                    if (f.len != 4) {
                        std::string t = trim(v);
                        for (char c : t)
                            if (c < '0' || c > '9') bad = "puntero de memo no válido";
                    }
                    if (bad.empty() && memo_) {
                        std::string m = memo_->checkBlock(memoBlock(i));
                        if (!m.empty()) bad = "memo " + m;
                    }
                    break;
                }
                default:
                    break;
            }
            if (!bad.empty()) faults.push_back(where + ", campo " + f.name + ": " + bad + ".");
            if (faults.size() > 200) {
                faults.push_back("Demasiados errores; se interrumpe la comprobación.");
                buf_ = saved;
                return faults;
            }
        }
    }
    buf_ = saved;
    read(recno_);
    return faults;
}

}  // namespace dbf
