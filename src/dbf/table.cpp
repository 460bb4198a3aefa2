#include "dbf/table.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <thread>

#include "dbf/dates.h"
#include "dbf/fpt.h"
#include "dbf/io.h"
#include "dbf/locks.h"
#include "dbf/paths.h"
#include "dbf/table_internal.h"

namespace dbf {

using namespace tabledetail;

namespace {

constexpr size_t kWindowBytes = 64 * 1024;  // read-ahead of sequential reads
constexpr size_t kSeenRecords = 256;        // records kept for a read batch beside the window
// Every write of a record or a count of a shared table by this process: what
// a shared table keeps for a read batch is good only while this stays (an
// exclusive open's writes go to a file no shared open has).
uint64_t g_tableWrites = 0;
constexpr uint64_t kMapMin = 1 << 20;  // exclusive tables from this size are mapped

std::string upper(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return r;
}

void todayYmd(int& y, int& m, int& d) {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    y = tm.tm_year + 1900;
    m = tm.tm_mon + 1;
    d = tm.tm_mday;
}

// The memo file of a table as its name is written: the extension replaced by
// FPT, in the extension's case.
std::string memoNameAsWritten(const std::string& tablePath) {
    std::string p = normalizeSeparators(tablePath);
    size_t slash = p.rfind('/');
    size_t dot = p.rfind('.');
    const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    // "calls.dbf" pairs with "calls.fpt"; any other extension ("ContEmpr.Ini",
    // "TEMP_.DBF") with "FPT", as FoxPro names them.
    bool lower = false;
    if (hasExt && dot + 1 < p.size()) {
        lower = true;
        for (size_t i = dot + 1; i < p.size(); ++i)
            if (!std::islower(static_cast<unsigned char>(p[i]))) lower = false;
    }
    if (hasExt) p.erase(dot);
    return p + (lower ? ".fpt" : ".FPT");
}

// The same name as it stands on the disk (an existing file is found whatever
// its case).
std::string memoNameFor(const std::string& tablePath) {
    return resolvePath(memoNameAsWritten(tablePath));
}

// xBase rounds halves away from zero on the decimal value the user sees; the
// tiny relative nudge keeps 2.675 (stored as 2.67499999...) rounding up.
std::string formatNumber(double v, int len, int dec) {
    char tmp[512];
    if (!std::isfinite(v)) return std::string(len, '*');
    double scale = std::pow(10.0, dec);
    double r = std::round(v * scale * (1 + 4e-15));
    double out = r / scale;
    if (out == 0) out = 0;  // no "-0.00"
    int n = std::snprintf(tmp, sizeof tmp, "%*.*f", len, dec, out);
    if (n < 0 || n > len) return std::string(len, '*');
    return std::string(tmp, static_cast<size_t>(n));
}

}  // namespace

// ---------------------------------------------------------------- structure

bool Table::knownType(char t) {
    switch (t) {
        case 'C':
        case 'N':
        case 'F':
        case 'D':
        case 'L':
        case 'M':
        case 'I':
        case 'T':
        case 'Y':
        case 'B':
        case 'G':
        case 'P':
        case 'W':
        case 'V':
        case 'Q':
        case '0':
            return true;
        default:
            return false;
    }
}

std::vector<FieldDef> Table::validateStructure(const std::vector<FieldDef>& in) {
    if (in.empty()) throw DbfError(kErrArg, "La estructura no tiene campos.");
    if (in.size() > 255) throw DbfError(kErrArg, "La estructura tiene más de 255 campos.");
    std::vector<FieldDef> out;
    uint32_t recLen = 1;
    for (const FieldDef& f : in) {
        FieldDef d;
        d.name = upper(trim(f.name));
        d.type = static_cast<char>(std::toupper(static_cast<unsigned char>(f.type)));
        d.len = f.len;
        d.dec = f.dec;
        const std::string shown = "«" + d.name + "»";
        if (d.name.empty()) throw DbfError(kErrArg, "Un campo de la estructura no tiene nombre.");
        if (d.name.size() > 10)
            throw DbfError(kErrArg, "El nombre de campo " + shown + " tiene más de 10 caracteres.");
        if (!std::isalpha(static_cast<unsigned char>(d.name[0])))
            throw DbfError(kErrArg, "El nombre de campo " + shown + " debe empezar por una letra.");
        for (char c : d.name)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
                throw DbfError(kErrArg,
                               "El nombre de campo " + shown + " tiene caracteres no válidos.");
        for (const FieldDef& prev : out)
            if (prev.name == d.name)
                throw DbfError(kErrArg, "El campo " + shown + " está repetido.");
        switch (d.type) {
            case 'C':
                if (d.len < 1 || d.len > 254)
                    throw DbfError(kErrArg, "El campo " + shown +
                                                " de tipo carácter debe tener entre 1 y 254 "
                                                "posiciones (tiene " +
                                                std::to_string(d.len) + ").");
                d.dec = 0;
                break;
            case 'N':
            case 'F':
                if (d.len < 1 || d.len > 20)
                    throw DbfError(kErrArg, "El campo " + shown +
                                                " numérico debe tener entre 1 y 20 posiciones "
                                                "(tiene " +
                                                std::to_string(d.len) + ").");
                if (d.dec < 0 || (d.dec > 0 && d.dec > d.len - 2) || d.dec > 15)
                    throw DbfError(kErrArg, "El campo " + shown + " no admite " +
                                                std::to_string(d.dec) + " decimales con " +
                                                std::to_string(d.len) + " posiciones.");
                break;
            case 'D':
                d.len = 8;
                d.dec = 0;
                break;
            case 'L':
                d.len = 1;
                d.dec = 0;
                break;
            case 'M':
                d.len = 10;
                d.dec = 0;
                break;
            default:
                throw DbfError(kErrArg, "El campo " + shown + " tiene un tipo desconocido «" +
                                            std::string(1, f.type ? f.type : '?') +
                                            "» (se admiten C, N, F, D, L y M).");
        }
        recLen += static_cast<uint32_t>(d.len);
        out.push_back(d);
    }
    if (recLen > 65500) throw DbfError(kErrArg, "Los campos de la estructura ocupan demasiado.");
    return out;
}

void Table::create(const std::string& rawPath, const std::vector<FieldDef>& fields, bool whole) {
    std::vector<FieldDef> defs = validateStructure(fields);
    std::string path = resolvePath(rawPath);
    bool memo =
        std::any_of(defs.begin(), defs.end(), [](const FieldDef& f) { return f.type == 'M'; });
    uint32_t hl = 32 + 32 * static_cast<uint32_t>(defs.size()) + 1;
    uint32_t rl = 1;
    for (auto& f : defs) rl += static_cast<uint32_t>(f.len);
    std::vector<unsigned char> h(hl + 1, 0);
    h[0] = memo ? 0xF5 : 0x03;
    int y, m, d;
    todayYmd(y, m, d);
    h[1] = static_cast<unsigned char>(y - 1900);
    h[2] = static_cast<unsigned char>(m);
    h[3] = static_cast<unsigned char>(d);
    io::putLe16(&h[8], static_cast<uint16_t>(hl));
    io::putLe16(&h[10], static_cast<uint16_t>(rl));
    h[29] = 0x03;
    uint32_t off = 1;
    for (size_t i = 0; i < defs.size(); ++i) {
        unsigned char* p = &h[32 + 32 * i];
        std::memcpy(p, defs[i].name.data(), defs[i].name.size());
        p[11] = static_cast<unsigned char>(defs[i].type);
        io::putLe32(p + 12, off);
        p[16] = static_cast<unsigned char>(defs[i].len);
        p[17] = static_cast<unsigned char>(defs[i].dec);
        off += static_cast<uint32_t>(defs[i].len);
    }
    h[hl - 1] = 0x0D;
    h[hl] = 0x1A;
    // The memo file first: a table whose memo file is missing cannot be opened.
    if (memo) MemoFile::create(memoNameFor(path), MemoFile::kDefaultBlockSize, whole);
    io::writeNewFile(path, h.data(), h.size(), whole, "la tabla");
}

// ---------------------------------------------------------------- open / close

std::unique_ptr<Table> Table::open(const std::string& path, OpenOptions options) {
    std::unique_ptr<Table> t(new Table());
    t->openFile(path, options);
    return t;
}

void Table::fail(int gencode, const std::string& what, int oscode) const {
    throw DbfError(gencode, what, path_, oscode);
}

void Table::openFile(const std::string& rawPath, OpenOptions options) {
    shared_ = options.shared;
    readOnly_ = options.readOnly;
    bool readable = readOnly_ && shared_;  // opened for reading only
    fd_ = openExisting(rawPath, readable ? O_RDONLY : O_RDWR, path_);
    if (fd_ < 0 && errno == ENOENT) fail(kErrOpen, "No existe la tabla.", ENOENT);
    if (fd_ < 0 && readOnly_ && !shared_ && (errno == EACCES || errno == EROFS)) {
        fd_ = ::open(path_.c_str(), O_CLOEXEC | O_RDONLY);
        readable = true;
    }
    if (fd_ < 0) fail(kErrOpen, "No se puede abrir la tabla: " + io::osText(errno) + ".", errno);
    // Exclusive use between processes: every open holds the extra byte, shared
    // ones for reading, exclusive ones for writing.
    locks::Kind kind = shared_ || readable ? locks::Kind::Read : locks::Kind::Write;
    if (!locks::tryLock(fd_, locks::kExclusiveByte, 1, kind)) {
        if (errno == EAGAIN || errno == EACCES)
            fail(kErrOpen, "La tabla está en uso por otro usuario.", kOsSharingViolation);
        fail(kErrOpen, "No se puede bloquear la tabla: " + io::osText(errno) + ".", errno);
    }
    uint64_t size = parseHeader();
    bool needMemo =
        std::any_of(fields_.begin(), fields_.end(), [](const Field& f) { return f.isMemo(); });
    if (needMemo) {
        std::string mp;
        const int mfd = openExisting(memoNameAsWritten(path_), readOnly_ ? O_RDONLY : O_RDWR, mp);
        if (mfd < 0 && errno == ENOENT)
            fail(kErrOpen, "Falta el fichero de memos " + baseName(mp) + " de la tabla.", ENOENT);
        memo_ = std::make_unique<MemoFile>(mfd, mp, readOnly_, !shared_);
    }
    buf_.assign(recordLength_, ' ');
    if (!readOnly_ && recoverPack()) size = io::fileSize(fd_);
    repairCount(size);
    // An empty table used alone is what zap() would leave: it need not
    // write that again.
    emptyOnDisk_ = !shared_ && !readOnly_ && count_ == 0 && size == headerLength_ + 1ull;
    // At the end, on the count just read.
    blankRecord(buf_.data());
    recno_ = count_ + 1;
    phantom_ = true;
}

uint64_t Table::parseHeader() {
    unsigned char h[32];
    const uint64_t size = io::fileSize(fd_);
    if (size < 32 || io::readAt(fd_, h, 32, 0) != 32) {
        struct stat st {};
        if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode))
            fail(kErrOpen, "Es una carpeta, no una tabla.", EISDIR);
        fail(kErrCorruption, "La tabla está dañada o truncada: la cabecera está incompleta.");
    }
    version_ = h[0];
    switch (version_) {
        case 0x03:
        case 0x83:
        case 0xF5:
        case 0x30:
        case 0x31:
        case 0x32:
        case 0x8B:
        case 0xFB:
            break;
        default: {
            char v[8];
            std::snprintf(v, sizeof v, "0x%02X", version_);
            fail(kErrCorruption,
                 std::string("El fichero no es una tabla DBF reconocida (versión ") + v + ").");
        }
    }
    count_ = io::le32(h + 4);
    headerLength_ = io::le16(h + 8);
    recordLength_ = io::le16(h + 10);
    codePage_ = h[29];
    if (headerLength_ < 32 + 32 + 1 || recordLength_ < 2)
        fail(kErrCorruption, "La tabla está dañada: longitudes de cabecera o registro imposibles.");
    if (headerLength_ > size)
        fail(kErrCorruption, "La tabla está dañada o truncada: falta parte de la cabecera.");
    std::vector<unsigned char> desc(headerLength_ - 32);
    if (io::readAt(fd_, desc.data(), desc.size(), 32) != static_cast<ssize_t>(desc.size()))
        fail(kErrRead, "No se puede leer la cabecera de la tabla.");
    uint32_t off = 0;
    int nullBits = 0;
    bool terminated = false;
    for (size_t pos = 0; pos + 1 <= desc.size(); pos += 32) {
        if (desc[pos] == 0x0D) {
            terminated = true;
            break;
        }
        if (pos + 32 > desc.size()) break;
        const unsigned char* p = &desc[pos];
        Field f;
        size_t n = 0;
        while (n < 11 && p[n]) ++n;
        f.name = upper(trim(std::string_view(reinterpret_cast<const char*>(p), n)));
        f.type = static_cast<char>(std::toupper(p[11]));
        f.len = p[16];
        f.dec = p[17];
        f.flags = isVfp() ? p[18] : 0;
        // FoxPro stores character fields longer than 255 with the high byte in
        // the decimals.
        if (f.type == 'C' && !isVfp() && f.dec) {
            f.len = static_cast<uint16_t>(p[16] | (p[17] << 8));
            f.dec = 0;
        }
        if (f.name.empty() || !knownType(f.type) || f.len == 0) {
            std::string what = f.name.empty() ? "un campo sin nombre" : "el campo «" + f.name + "»";
            fail(kErrCorruption,
                 "La tabla está dañada: " + what + " tiene un tipo o una longitud imposibles.");
        }
        for (char c : f.name)
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
                fail(kErrCorruption, "La tabla está dañada: un nombre de campo no es válido.");
        f.offset = off;
        off += f.len;
        if (f.type == '0') {
            nullFlagsOffset_ = static_cast<int>(f.offset);
            nullFlagsLen_ = f.len;
            continue;
        }
        if (isVfp() && (f.type == 'V' || f.type == 'Q')) ++nullBits;  // length bit
        if (isVfp() && (f.flags & 0x02)) f.nullBit = nullBits++;
        fields_.push_back(std::move(f));
        if (fields_.size() > 1024) fail(kErrCorruption, "La tabla está dañada: demasiados campos.");
    }
    if (!terminated && fields_.empty())
        fail(kErrCorruption, "La tabla está dañada: no tiene campos.");
    if (fields_.empty()) fail(kErrCorruption, "La tabla está dañada: no tiene campos.");
    if (off + 1 > recordLength_)
        fail(kErrCorruption,
             "La tabla está dañada: los campos no caben en la longitud del registro.");
    if (nullBits > nullFlagsLen_ * 8) {
        // Nullable fields without room for their flags: treat them as ordinary.
        for (Field& f : fields_) f.nullBit = -1;
    }
    return size;
}

std::string Table::memoPath() const {
    return memo_ ? memo_->path() : memoNameFor(path_);
}

uint32_t Table::readHeaderCount() {
    unsigned char b[4];
    if (io::readAt(fd_, b, 4, 4) != 4)
        fail(kErrRead, "No se puede leer la cabecera de la tabla.", errno);
    return io::le32(b);
}

void Table::writeHeaderCount(uint32_t count) {
    unsigned char h[7];
    int y, m, d;
    todayYmd(y, m, d);
    h[0] = static_cast<unsigned char>(y - 1900);
    h[1] = static_cast<unsigned char>(m);
    h[2] = static_cast<unsigned char>(d);
    io::putLe32(h + 3, count);
    unsynced_ = true;
    emptyOnDisk_ = false;
    if (shared_) ++g_tableWrites;
    if (!io::writeAt(fd_, h, 7, 1))
        fail(kErrWrite, "No se puede escribir la cabecera de la tabla: " + io::osText(errno) + ".",
             errno);
}

Table::~Table() {
    try {
        for (TableObserver* o : std::vector<TableObserver*>(observers_)) o->tableClosing(*this);
        if (fd_ >= 0 && !readOnly_) {
            flush();
            flushTail();
        }
    } catch (...) {
        // Closing must not throw; what could not be written is lost with the
        // process's handle, as a crash would lose it, and the file stays sound.
    }
    dropMap();
    if (fd_ >= 0) ::close(fd_);  // releases every lock of this open
}

// An exclusive open reads a large table through a mapping of its file: a
// record then costs a copy instead of a system call, which is what random
// reads in index order are made of. Only this open changes the file's length,
// and it lets the mapping go before it shortens the file. The mapping leaves
// room to grow; bytes past the end of the file are never touched, since the
// length is checked again before a record beyond the part known to exist.
const char* Table::mapped(uint64_t end) {
    if (end <= mapValid_) return map_;
    // Small tables are read as before, without asking for the file's size.
    if (mapFailed_ || headerLength_ + uint64_t(count_) * recordLength_ < kMapMin) return nullptr;
    uint64_t size = io::fileSize(fd_);
    if (size < kMapMin || end > size) return nullptr;
    if (size <= mapLen_) {
        mapValid_ = size;
        return map_;
    }
    dropMap();
    uint64_t len = size + size / 4;
    void* m = ::mmap(nullptr, len, PROT_READ, MAP_SHARED, fd_, 0);
    if (m == MAP_FAILED) {
        mapFailed_ = true;  // reads go on through the file
        return nullptr;
    }
    map_ = static_cast<const char*>(m);
    mapLen_ = len;
    mapValid_ = size;
    return map_;
}

void Table::dropMap() {
    if (map_) ::munmap(const_cast<char*>(map_), mapLen_);
    map_ = nullptr;
    mapLen_ = mapValid_ = 0;
}

// ---------------------------------------------------------------- records

void Table::blankRecord(char* dst) const {
    std::memset(dst, ' ', recordLength_);
    for (const Field& f : fields_) {
        char* p = dst + 1 + f.offset;
        switch (f.type) {
            case 'I':
            case 'T':
            case 'Y':
            case 'B':
            case 'Q':
                std::memset(p, 0, f.len);
                break;
            case 'M':
            case 'G':
            case 'P':
            case 'W':
                if (f.len == 4) std::memset(p, 0, 4);
                break;
            default:
                break;
        }
    }
    if (nullFlagsOffset_ >= 0) std::memset(dst + 1 + nullFlagsOffset_, 0, nullFlagsLen_);
}

uint32_t Table::recCount() {
    // While this open batches appends under its header lock, nobody else can
    // append and its own count is the true one.
    if (shared_ && tail_.empty()) {
        // A read batch reads the count once, like its records; an append or
        // a file lock (which must know the true count) reads it again.
        const uint64_t batch = tabledetail::readBatchNumber();
        if (batch && !headerLocked_ && !fileLocked_ && countBatch_ == batch &&
            countWrites_ == g_tableWrites)
            return count_;
        countBatch_ = batch;
        countWrites_ = g_tableWrites;
        uint32_t c = readHeaderCount();
        if (c > count_) {
            // Believe the header only as far as complete records exist.
            uint64_t disk = (io::fileSize(fd_) - headerLength_) / recordLength_;
            if (c > disk) c = static_cast<uint32_t>(disk);
        }
        count_ = c;
    }
    return count_;
}

// Within a read batch (one action: a page of a grid, a card's rows) a shared
// table reads each record once: what it read is kept until the batch ends or
// this process writes anything, and a walk forward reads ahead a window at a
// time, as an exclusive open does. Another workstation's change made during
// the batch is seen by the next action, as if the action had read it all at
// its start; a record locked is read again (`fresh`).
bool Table::batchSeen(uint64_t batch) {
    if (seenBatch_ == batch && seenWrites_ == g_tableWrites) return true;
    seen_.clear();
    windowCount_ = 0;
    seenBatch_ = batch;
    seenWrites_ = g_tableWrites;
    return false;
}

void Table::forgetSeen(uint32_t recno) {
    if (!shared_) return;
    if (recno == 0) {
        seen_.clear();
        windowCount_ = 0;
        return;
    }
    seen_.erase(recno);
    if (recno >= windowFirst_ && recno < windowFirst_ + windowCount_) windowCount_ = 0;
}

// Reads records `recno` onwards, as many as a window holds and no further
// than `onDisk`, into the window; the first goes to `dst`. False when the
// file did not give them all (the caller reads the one record).
bool Table::readWindow(uint32_t recno, uint32_t onDisk, char* dst) {
    const uint32_t n =
        std::min(std::max<uint32_t>(1, static_cast<uint32_t>(kWindowBytes / recordLength_)),
                 onDisk - recno + 1);
    window_.resize(size_t(n) * recordLength_);
    const ssize_t r = io::readAt(fd_, window_.data(), window_.size(),
                                 headerLength_ + uint64_t(recno - 1) * recordLength_);
    if (r != static_cast<ssize_t>(window_.size())) {
        windowCount_ = 0;
        return false;
    }
    windowFirst_ = recno;
    windowCount_ = n;
    std::memcpy(dst, window_.data(), recordLength_);
    return true;
}

void Table::readOne(uint32_t recno, char* dst) {
    const ssize_t r =
        io::readAt(fd_, dst, recordLength_, headerLength_ + uint64_t(recno - 1) * recordLength_);
    if (r == static_cast<ssize_t>(recordLength_)) return;
    if (r < 0)
        fail(kErrRead,
             "No se puede leer el registro " + std::to_string(recno) + ": " + io::osText(errno) +
                 ".",
             errno);
    fail(kErrCorruption,
         "La tabla está truncada: el registro " + std::to_string(recno) + " está incompleto.");
}

void Table::loadRecord(uint32_t recno, char* dst, bool fresh) {
    if (!tail_.empty() && recno >= tailFirst_) {
        std::memcpy(dst, tail_.data() + size_t(recno - tailFirst_) * recordLength_, recordLength_);
        return;
    }
    const uint64_t batch = shared_ ? tabledetail::readBatchNumber() : 0;
    if (batch) {
        batchSeen(batch);
        const uint32_t previous = lastRead_;
        lastRead_ = recno;
        const bool inWindow = recno >= windowFirst_ && recno < windowFirst_ + windowCount_;
        char* kept =
            inWindow ? window_.data() + size_t(recno - windowFirst_) * recordLength_ : nullptr;
        auto seen = seen_.find(recno);
        if (!fresh) {
            if (kept) {
                std::memcpy(dst, kept, recordLength_);
                return;
            }
            if (seen != seen_.end()) {
                std::memcpy(dst, seen->second.data(), recordLength_);
                return;
            }
            // Appends batched in the tail are not on the disk yet.
            const uint32_t onDisk = tail_.empty() ? count_ : tailFirst_ - 1;
            if (recno == previous + 1 && recno <= onDisk && readWindow(recno, onDisk, dst)) return;
        }
        readOne(recno, dst);
        if (kept) std::memcpy(kept, dst, recordLength_);
        if (seen != seen_.end()) {
            seen->second.assign(dst, recordLength_);
        } else {
            if (seen_.size() >= kSeenRecords) seen_.clear();
            seen_.emplace(recno, std::string(dst, recordLength_));
        }
        return;
    }
    if (!shared_) {
        const uint32_t previous = lastRead_;
        lastRead_ = recno;
        if (recno >= windowFirst_ && recno < windowFirst_ + windowCount_) {
            std::memcpy(dst, window_.data() + size_t(recno - windowFirst_) * recordLength_,
                        recordLength_);
            return;
        }
        // Walking forward reads ahead a window at a time; other reads take
        // the record from the mapping of a large file, or one record.
        if ((recno == previous + 1 || (windowCount_ && recno == windowFirst_ + windowCount_)) &&
            readWindow(recno, tail_.empty() ? count_ : tailFirst_ - 1, dst))
            return;
        const uint64_t at = headerLength_ + uint64_t(recno - 1) * recordLength_;
        if (const char* m = mapped(at + recordLength_)) {
            std::memcpy(dst, m + at, recordLength_);
            return;
        }
    }
    readOne(recno, dst);
    if (!shared_) {
        // Remember it as a one-record window so that the next one reads ahead.
        window_.assign(dst, dst + recordLength_);
        windowFirst_ = recno;
        windowCount_ = 1;
    }
}

void Table::storeRecord(uint32_t recno, const char* src) {
    if (!tail_.empty() && recno >= tailFirst_) {
        std::memcpy(tail_.data() + size_t(recno - tailFirst_) * recordLength_, src, recordLength_);
        return;
    }
    if (shared_) ++g_tableWrites;
    // The memos this record points at, and the memo file's header that counts
    // their blocks as taken, are on the disk before the record can be: a power
    // cut may keep the record and lose any write not yet synced.
    if (memo_) memo_->sync();
    unsynced_ = true;
    emptyOnDisk_ = false;
    if (!io::writeAt(fd_, src, recordLength_, headerLength_ + uint64_t(recno - 1) * recordLength_))
        fail(kErrWrite,
             "No se puede escribir el registro " + std::to_string(recno) + ": " +
                 io::osText(errno) + ".",
             errno);
    if (recno >= windowFirst_ && recno < windowFirst_ + windowCount_)
        std::memcpy(window_.data() + size_t(recno - windowFirst_) * recordLength_, src,
                    recordLength_);
}

bool Table::read(uint32_t recno) {
    flush();
    // Records never leave a shared table (pack and zap need exclusive use), so a
    // record within the count already known exists; the header is read again
    // only to look beyond it, where another user may have appended.
    uint32_t count = recno >= 1 && recno <= count_ ? count_ : recCount();
    changeAnnounced_ = false;
    if (recno < 1 || recno > count) {
        blankRecord(buf_.data());
        recno_ = count + 1;
        phantom_ = true;
        return false;
    }
    loadRecord(recno, buf_.data());
    recno_ = recno;
    phantom_ = false;
    return true;
}

void Table::reread() {
    if (dirty_) return;  // our own pending change wins until it is written
    forgetSeen(recno_);
    if (phantom_) {
        read(recCount() + 1);
        return;
    }
    read(recno_);
}

void Table::flush() {
    if (!dirty_ || phantom_) {
        dirty_ = false;
        return;
    }
    for (TableObserver* o : observers_) o->beforeWrite(*this, recno_);
    storeRecord(recno_, buf_.data());
    dirty_ = false;
    changeAnnounced_ = false;
    for (TableObserver* o : observers_) o->afterChange(*this, recno_);
}

void Table::flushTail() {
    if (tail_.empty()) return;
    if (shared_) {
        ++g_tableWrites;
        lockTail();
    }
    uint64_t off = headerLength_ + uint64_t(tailFirst_ - 1) * recordLength_;
    // Records first, end mark, then the count: a crash before the header is
    // written leaves complete records that the next open counts in. Their
    // memos, and the header that takes their blocks, reach the disk before.
    if (memo_) memo_->sync();
    tail_.push_back(0x1A);
    bool ok = io::writeAt(fd_, tail_.data(), tail_.size(), off);
    tail_.clear();
    if (!ok)
        fail(kErrWrite, "No se pueden escribir los registros añadidos: " + io::osText(errno) + ".",
             errno);
    writeHeaderCount(count_);
}

// One sync of the table when this open wrote to it since the last; the memo
// file was synced before its records were written (storeRecord).
void Table::commit() {
    if (readOnly_) return;
    flush();
    flushTail();
    if (memo_) memo_->sync();
    if (!unsynced_) return;
    unsynced_ = false;
    ::fdatasync(fd_);
}

void Table::commitTogether(const std::vector<Table*>& tables) {
    std::vector<Table*> writable;
    for (Table* t : tables)
        if (t && !t->readOnly_ && std::find(writable.begin(), writable.end(), t) == writable.end())
            writable.push_back(t);
    for (Table* t : writable) {
        t->flush();
        t->flushTail();
        if (writable.size() > 1) ::sync_file_range(t->fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
    }
    for (Table* t : writable) {
        if (t->memo_) t->memo_->sync();
        if (!t->unsynced_) continue;
        t->unsynced_ = false;
        ::fdatasync(t->fd_);
    }
}

uint32_t Table::appendBlank(bool releaseOthers) {
    if (readOnly_)
        fail(kErrReadonly,
             "La tabla está abierta solo para lectura: no se pueden añadir registros.");
    flush();
    changeAnnounced_ = false;
    for (TableObserver* o : observers_) o->beforeWrite(*this, 0);
    if (!shared_) {
        if (tail_.empty()) tailFirst_ = count_ + 1;
        size_t at = tail_.size();
        tail_.resize(at + recordLength_);
        blankRecord(tail_.data() + at);
        ++count_;
        recno_ = count_;
        phantom_ = false;
        blankRecord(buf_.data());
        if (tail_.size() >= kTailBytes) flushTail();
    } else {
        bool own = !fileLocked_ && !headerLocked_;
        if (!own) {
            // The caller holds the header (a file lock for bulk work): nobody
            // else can append, so records are batched and written, with the
            // count, when the lock is released or the table committed.
            if (tail_.empty()) {
                uint32_t n = recCount();
                uint64_t disk = (io::fileSize(fd_) - headerLength_) / recordLength_;
                count_ = disk < n ? static_cast<uint32_t>(disk) : n;
                tailFirst_ = count_ + 1;
            }
            size_t at = tail_.size();
            tail_.resize(at + recordLength_);
            blankRecord(tail_.data() + at);
            ++count_;
            recno_ = count_;
            phantom_ = false;
            blankRecord(buf_.data());
            // Ours from now on; the lock itself is taken with the others of
            // the tail, in one call, before the count names them (flushTail).
            if (releaseOthers) releaseRecordLocks(0);
            if (!fileLocked_) recLocks_.insert(recno_);
            if (tail_.size() >= kTailBytes) flushTail();
            for (TableObserver* o : observers_) o->afterAppend(*this, recno_);
            return recno_;
        }
        if (!lockHeader(kAppendWaitMs))
            fail(kErrAppendLock,
                 "No se puede añadir un registro: otro usuario tiene bloqueada la tabla.",
                 kOsSharingViolation);
        try {
            uint32_t n = recCount();
            uint64_t disk = (io::fileSize(fd_) - headerLength_) / recordLength_;
            if (disk < n) n = static_cast<uint32_t>(disk);
            // The new record comes locked, by default replacing the caller's
            // other record locks. The lock is taken before the count names
            // the record: another user reads the count without the header
            // lock, and must not be able to lock and change the record
            // before its appender has it.
            const bool had = recLocks_.count(n + 1) > 0;
            if (!lockRecord(n + 1, releaseOthers))
                fail(kErrAppendLock,
                     "No se puede bloquear el registro añadido: otro usuario lo tiene bloqueado.",
                     kOsSharingViolation);
            try {
                std::vector<char> rec(recordLength_ + 1);
                blankRecord(rec.data());
                rec[recordLength_] = 0x1A;
                if (!io::writeAt(fd_, rec.data(), rec.size(),
                                 headerLength_ + uint64_t(n) * recordLength_))
                    fail(kErrWrite, "No se puede añadir un registro: " + io::osText(errno) + ".",
                         errno);
                writeHeaderCount(n + 1);
            } catch (...) {
                if (!had) unlockRecord(n + 1);
                throw;
            }
            count_ = n + 1;
        } catch (...) {
            unlockHeader();
            throw;
        }
        unlockHeader();
        recno_ = count_;
        phantom_ = false;
        blankRecord(buf_.data());
    }
    for (TableObserver* o : observers_) o->afterAppend(*this, recno_);
    return recno_;
}

// ---------------------------------------------------------------- field reads

int Table::fieldIndex(std::string_view name) const {
    // Asked for at every read and write of a field by name: no copy, and the
    // stored names are upper case already.
    const size_t b = name.find_first_not_of(' ');
    if (b == std::string_view::npos) return -1;
    name = name.substr(b, name.find_last_not_of(' ') - b + 1);
    auto up = [](unsigned char c) {
        return static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c < 0x80 ? c : std::toupper(c));
    };
    for (size_t i = 0; i < fields_.size(); ++i) {
        const std::string& f = fields_[i].name;
        if (f.size() != name.size()) continue;
        size_t k = 0;
        while (k < f.size() && f[k] == up(static_cast<unsigned char>(name[k]))) ++k;
        if (k == f.size()) return static_cast<int>(i);
    }
    return -1;
}

std::vector<FieldDef> Table::structure() const {
    std::vector<FieldDef> s;
    for (const Field& f : fields_) s.push_back({f.name, f.type, f.len, f.dec});
    return s;
}

void Table::lastUpdate(int& y, int& m, int& d) const {
    unsigned char h[3] = {0, 0, 0};
    io::readAt(fd_, h, 3, 1);
    y = 1900 + h[0];
    m = h[1];
    d = h[2];
}

std::string_view Table::raw(int field) const {
    const Field& f = fields_.at(static_cast<size_t>(field));
    return {fieldPtr(field), f.len};
}

bool Table::isNull(int field) const {
    const Field& f = fields_.at(static_cast<size_t>(field));
    if (f.nullBit < 0 || nullFlagsOffset_ < 0 || phantom_) return false;
    const auto* p = reinterpret_cast<const unsigned char*>(buf_.data() + 1 + nullFlagsOffset_);
    return (p[f.nullBit / 8] >> (f.nullBit % 8)) & 1;
}

std::string Table::getString(int field) const {
    return std::string(raw(field));
}

double Table::getNumber(int field) const {
    const Field& f = fields_.at(static_cast<size_t>(field));
    const auto* p = reinterpret_cast<const unsigned char*>(fieldPtr(field));
    switch (f.type) {
        case 'I':
            return static_cast<int32_t>(io::le32(p));
        case 'Y': {
            uint64_t v = io::le32(p) | (uint64_t(io::le32(p + 4)) << 32);
            return static_cast<double>(static_cast<int64_t>(v)) / 10000.0;
        }
        case 'B': {
            double d;
            std::memcpy(&d, p, 8);
            return std::isfinite(d) ? d : 0.0;
        }
        case 'N':
        case 'F': {
            std::string s = trim(raw(field));
            if (s.empty()) return 0;
            char* end = nullptr;
            double v = std::strtod(s.c_str(), &end);
            return std::isfinite(v) ? v : 0.0;
        }
        default:
            return 0;
    }
}

int32_t Table::getDate(int field) const {
    const Field& f = fields_.at(static_cast<size_t>(field));
    if (f.type == 'T') return getDateTime(field).julianDay;
    if (f.type != 'D' || f.len < 8) return 0;
    const char* p = fieldPtr(field);
    int v[8];
    for (int i = 0; i < 8; ++i) {
        if (p[i] < '0' || p[i] > '9') return 0;
        v[i] = p[i] - '0';
    }
    int y = v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3];
    int m = v[4] * 10 + v[5];
    int d = v[6] * 10 + v[7];
    if (!validYmd(y, m, d)) return 0;
    return julianFromYmd(y, m, d);
}

DateTime Table::getDateTime(int field) const {
    const Field& f = fields_.at(static_cast<size_t>(field));
    if (f.type == 'D') return {getDate(field), 0};
    if (f.type != 'T' || f.len < 8) return {};
    const auto* p = reinterpret_cast<const unsigned char*>(fieldPtr(field));
    DateTime dt{static_cast<int32_t>(io::le32(p)), static_cast<int32_t>(io::le32(p + 4))};
    if (dt.julianDay <= 0 || dt.julianDay > 5373484) dt.julianDay = 0;
    if (dt.millis < 0 || dt.millis >= 86400000) dt.millis = 0;
    return dt;
}

bool Table::getLogical(int field) const {
    char c = raw(field)[0];
    return c == 'T' || c == 't' || c == 'Y' || c == 'y';
}

uint32_t Table::memoBlock(int field) const {
    const Field& f = fields_.at(static_cast<size_t>(field));
    const char* p = fieldPtr(field);
    if (f.len == 4) return io::le32(reinterpret_cast<const unsigned char*>(p));
    uint64_t v = 0;
    for (int i = 0; i < f.len; ++i) {
        char c = p[i];
        if (c == ' ' || c == '\0') continue;
        if (c < '0' || c > '9') return 0;
        v = v * 10 + static_cast<uint64_t>(c - '0');
        if (v > 0xFFFFFFFFull) return 0;
    }
    return static_cast<uint32_t>(v);
}

std::string Table::getMemo(int field) const {
    const Field& f = fields_.at(static_cast<size_t>(field));
    if (!f.isMemo() || !memo_ || phantom_) return {};
    return memo_->read(memoBlock(field));
}

// ---------------------------------------------------------------- field writes

void Table::markDirty() {
    if (!changeAnnounced_) {
        for (TableObserver* o : observers_) o->beforeChange(*this, recno_);
        changeAnnounced_ = true;
    }
    dirty_ = true;
}

void Table::beginWrite(int field) {
    if (field < -1 || field >= fieldCount())
        fail(kErrBound, "El campo número " + std::to_string(field + 1) + " no existe en la tabla.");
    if (readOnly_) fail(kErrReadonly, "La tabla está abierta solo para lectura.");
    if (phantom_) fail(kErrBound, "No hay registro actual (fin de fichero): no se puede escribir.");
    if (shared_ && !fileLocked_ && !recLocks_.count(recno_))
        fail(kErrUnlocked, "El registro " + std::to_string(recno_) +
                               " no está bloqueado: en una tabla compartida hay que bloquearlo "
                               "antes de escribir.");
    markDirty();
    if (field >= 0) setNullBit(field, false);
}

void Table::setNullBit(int field, bool isNull) {
    const Field& f = fields_[static_cast<size_t>(field)];
    if (f.nullBit < 0 || nullFlagsOffset_ < 0) return;
    auto* p = reinterpret_cast<unsigned char*>(buf_.data() + 1 + nullFlagsOffset_);
    if (isNull)
        p[f.nullBit / 8] = static_cast<unsigned char>(p[f.nullBit / 8] | (1u << (f.nullBit % 8)));
    else
        p[f.nullBit / 8] = static_cast<unsigned char>(p[f.nullBit / 8] & ~(1u << (f.nullBit % 8)));
}

void Table::putRaw(int field, std::string_view bytes) {
    beginWrite(field);
    const Field& f = fields_[static_cast<size_t>(field)];
    char* p = fieldPtr(field);
    size_t n = std::min<size_t>(bytes.size(), f.len);
    std::memcpy(p, bytes.data(), n);
    std::memset(p + n, ' ', f.len - n);
}

void Table::putString(int field, std::string_view s) {
    if (field < 0 || field >= fieldCount()) beginWrite(field);
    const Field& f = fields_[static_cast<size_t>(field)];
    if (f.isMemo()) return putMemo(field, s);
    if (f.type != 'C' && f.type != 'V')
        fail(kErrDataType, "El campo «" + f.name + "» no es de tipo carácter.");
    putRaw(field, s);
}

void Table::putNumber(int field, double v) {
    beginWrite(field);
    const Field& f = fields_[static_cast<size_t>(field)];
    auto* p = reinterpret_cast<unsigned char*>(fieldPtr(field));
    switch (f.type) {
        case 'N':
        case 'F': {
            std::string s = formatNumber(v, f.len, f.dec);
            std::memcpy(p, s.data(), f.len);
            break;
        }
        case 'I': {
            double r = std::round(v);
            if (!(r >= -2147483648.0 && r <= 2147483647.0))
                fail(kErrDataWidth, "El valor no cabe en el campo entero «" + f.name + "».");
            io::putLe32(p, static_cast<uint32_t>(static_cast<int32_t>(r)));
            break;
        }
        case 'Y': {
            double r = std::round(v * 10000.0);
            if (!(std::fabs(r) < 9.2e18))
                fail(kErrDataWidth, "El valor no cabe en el campo «" + f.name + "».");
            auto i = static_cast<uint64_t>(static_cast<int64_t>(r));
            io::putLe32(p, static_cast<uint32_t>(i));
            io::putLe32(p + 4, static_cast<uint32_t>(i >> 32));
            break;
        }
        case 'B':
            std::memcpy(p, &v, 8);
            break;
        default:
            fail(kErrDataType, "El campo «" + f.name + "» no es numérico.");
    }
}

void Table::putDate(int field, int32_t jd) {
    beginWrite(field);
    const Field& f = fields_[static_cast<size_t>(field)];
    if (f.type == 'T') return putDateTime(field, {jd, 0});
    if (f.type != 'D') fail(kErrDataType, "El campo «" + f.name + "» no es de tipo fecha.");
    char* p = fieldPtr(field);
    if (jd <= 0) {
        std::memset(p, ' ', 8);
        return;
    }
    int y, m, d;
    ymdFromJulian(jd, y, m, d);
    if (y < 0 || y > 9999) fail(kErrDataWidth, "La fecha no cabe en el campo «" + f.name + "».");
    char tmp[40];
    std::snprintf(tmp, sizeof tmp, "%04d%02d%02d", y, m, d);
    std::memcpy(p, tmp, 8);
}

void Table::putDateTime(int field, DateTime dt) {
    beginWrite(field);
    const Field& f = fields_[static_cast<size_t>(field)];
    if (f.type == 'D') return putDate(field, dt.julianDay);
    if (f.type != 'T') fail(kErrDataType, "El campo «" + f.name + "» no es de tipo fecha y hora.");
    auto* p = reinterpret_cast<unsigned char*>(fieldPtr(field));
    io::putLe32(p, static_cast<uint32_t>(dt.julianDay > 0 ? dt.julianDay : 0));
    io::putLe32(p + 4, static_cast<uint32_t>(dt.julianDay > 0 ? dt.millis : 0));
}

void Table::putLogical(int field, bool v) {
    beginWrite(field);
    const Field& f = fields_[static_cast<size_t>(field)];
    if (f.type != 'L') fail(kErrDataType, "El campo «" + f.name + "» no es de tipo lógico.");
    *fieldPtr(field) = v ? 'T' : 'F';
}

void Table::setMemoBlock(int field, uint32_t block) {
    const Field& f = fields_[static_cast<size_t>(field)];
    char* p = fieldPtr(field);
    if (f.len == 4) {
        io::putLe32(reinterpret_cast<unsigned char*>(p), block);
        return;
    }
    if (block == 0) {
        std::memset(p, ' ', f.len);
        return;
    }
    // Digits right-aligned in whatever width the field has (10 in FoxPro files).
    char tmp[16];
    int n = std::snprintf(tmp, sizeof tmp, "%u", block);
    if (n <= 0 || n > static_cast<int>(f.len))
        fail(kErrDataWidth, "El número de bloque del memo no cabe en el campo «" + f.name + "».");
    std::memset(p, ' ', f.len);
    std::memcpy(p + f.len - n, tmp, static_cast<size_t>(n));
}

void Table::putMemo(int field, std::string_view text) {
    beginWrite(field);
    const Field& f = fields_[static_cast<size_t>(field)];
    if (!f.isMemo() || !memo_) fail(kErrDataType, "El campo «" + f.name + "» no es de tipo memo.");
    uint32_t block = memo_->write(memoBlock(field), text);
    setMemoBlock(field, block);
}

void Table::putNull(int field) {
    beginWrite(field);
    const Field& f = fields_[static_cast<size_t>(field)];
    if (f.nullable()) {
        setNullBit(field, true);
        return;
    }
    // A field that cannot hold NULL takes its empty value.
    std::string blank(recordLength_, ' ');
    blankRecord(blank.data());
    if (f.isMemo() && memo_)
        setMemoBlock(field, 0);
    else
        std::memcpy(fieldPtr(field), blank.data() + 1 + f.offset, f.len);
}

void Table::setDeleted(bool del) {
    if (deleted() == del && !phantom_) return;
    beginWrite(-1);
    buf_[0] = del ? '*' : ' ';
    flush();
    for (TableObserver* o : observers_) {
        if (del)
            o->afterDelete(*this, recno_);
        else
            o->afterRecall(*this, recno_);
    }
}

// ---------------------------------------------------------------- locks

bool Table::lockHeader(int waitMs) {
    if (!shared_ || readOnly_) return true;
    if (headerLocked_ || fileLocked_) return true;
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (;;) {
        if (locks::tryLock(fd_, locks::kHeaderByte, 1, locks::Kind::Write)) {
            headerLocked_ = true;
            return true;
        }
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void Table::unlockHeader() {
    if (!headerLocked_) return;
    if (!fileLocked_) {
        flush();
        flushTail();
    }
    if (!fileLocked_) locks::unlock(fd_, locks::kHeaderByte, 1);
    headerLocked_ = false;
}

// The records of the tail (appended under the header lock, not yet on the
// disk) held by this open are ours without a lock on the file: nobody else
// can lock a record beyond the count while the header is ours.
bool Table::lockPending(uint32_t recno) const {
    return !tail_.empty() && recno >= tailFirst_;
}

namespace {

// Calls each(first, n) for every run of consecutive record numbers of
// `sorted`: a run's lock bytes are one range, locked or released in one call.
template <class Each>
void eachRun(const std::vector<uint32_t>& sorted, Each&& each) {
    for (size_t i = 0; i < sorted.size();) {
        size_t j = i + 1;
        while (j < sorted.size() && sorted[j] == sorted[j - 1] + 1) ++j;
        each(sorted[i], static_cast<uint32_t>(j - i));
        i = j;
    }
}

}  // namespace

int64_t Table::runStart(uint32_t first, uint32_t n) {
    return locks::recordByte(first + n - 1);  // the bytes go down as records go up
}

void Table::releaseRecordLocks(uint32_t keep) {
    std::vector<uint32_t> held;
    for (uint32_t r : recLocks_)
        if (r != keep && !lockPending(r)) held.push_back(r);
    eachRun(held,
            [this](uint32_t first, uint32_t n) { locks::unlock(fd_, runStart(first, n), n); });
    const bool had = keep && recLocks_.count(keep) > 0;
    recLocks_.clear();
    if (had) recLocks_.insert(keep);
}

void Table::lockTail() {
    if (!shared_ || fileLocked_ || tail_.empty()) return;
    const std::vector<uint32_t> pending(recLocks_.lower_bound(tailFirst_), recLocks_.end());
    eachRun(pending, [this](uint32_t first, uint32_t n) {
        if (locks::tryLock(fd_, runStart(first, n), n, locks::Kind::Write)) return;
        for (uint32_t r = first; r < first + n; ++r)
            if (!locks::tryLock(fd_, locks::recordByte(r), 1, locks::Kind::Write))
                recLocks_.erase(r);
    });
}

bool Table::lockRecords(const std::vector<uint32_t>& recnos) {
    if (!shared_ || readOnly_ || fileLocked_) return true;
    std::vector<uint32_t> want;
    for (uint32_t r : recnos)
        if (r && !recLocks_.count(r)) want.push_back(r);
    std::sort(want.begin(), want.end());
    want.erase(std::unique(want.begin(), want.end()), want.end());
    bool all = true;
    eachRun(want, [&](uint32_t first, uint32_t n) {
        if (!locks::tryLock(fd_, runStart(first, n), n, locks::Kind::Write)) {
            all = false;
            return;
        }
        for (uint32_t r = first; r < first + n; ++r) heldNow(r);
    });
    return all;
}

// A record just locked: read again, now or when it is visited, since
// another user may have changed it before the lock.
void Table::heldNow(uint32_t recno) {
    recLocks_.insert(recno);
    if (recno == recno_)
        refreshLocked();
    else
        forgetSeen(recno);
}

bool Table::lockRecord(uint32_t recno, bool releaseOthers) {
    if (!shared_ || readOnly_ || fileLocked_) return true;
    if (releaseOthers) {
        flush();
        releaseRecordLocks(recno);
    }
    if (recLocks_.count(recno)) return true;
    if (lockPending(recno)) {  // taken with the tail
        recLocks_.insert(recno);
        return true;
    }
    if (!locks::tryLock(fd_, locks::recordByte(recno), 1, locks::Kind::Write)) return false;
    heldNow(recno);
    return true;
}

// The buffer was read before the lock, and another user may have changed the
// record since: written back as it stands, it would undo their change, and the
// index upkeep would take its old keys from it. So the record is read again
// once it is ours. A change of our own still in the buffer wins (it could only
// have been made under a lock held all along).
void Table::refreshLocked() {
    if (dirty_ || phantom_) return;
    if (!tail_.empty() && recno_ >= tailFirst_) return;
    loadRecord(recno_, buf_.data(), true);
    changeAnnounced_ = false;
}

bool Table::isLocked(uint32_t recno) const {
    return !shared_ || fileLocked_ || recLocks_.count(recno) > 0;
}

bool Table::lockedByOther(uint32_t recno) const {
    if (!shared_) return false;
    return locks::isLockedByOther(fd_, locks::recordByte(recno), 1, locks::Kind::Write);
}

void Table::unlockRecord(uint32_t recno) {
    if (!recLocks_.count(recno)) return;
    if (recno == recno_) flush();
    if (!lockPending(recno)) locks::unlock(fd_, locks::recordByte(recno), 1);
    recLocks_.erase(recno);
}

bool Table::lockFile() {
    if (!shared_ || readOnly_) return true;
    if (fileLocked_) return true;
    int64_t max = locks::fileLockRecords(headerLength_, recordLength_);
    if (!locks::tryLock(fd_, locks::kHeaderByte - max, max + 1, locks::Kind::Write)) return false;
    // The record locks now lie inside the file lock and merged with it.
    recLocks_.clear();
    fileLocked_ = true;
    forgetSeen();  // every record is read again once the file is ours
    recCount();    // appends of others made before the lock
    refreshLocked();
    return true;
}

void Table::unlockAll() {
    flush();
    flushTail();  // appends batched under the lock are committed before it goes
    if (!shared_) return;
    if (fileLocked_) {
        int64_t max = locks::fileLockRecords(headerLength_, recordLength_);
        locks::unlock(fd_, locks::kHeaderByte - max, max + 1);
        fileLocked_ = false;
        headerLocked_ = false;
    }
    releaseRecordLocks(0);
}

// ---------------------------------------------------------------- bulk

void Table::zap() {
    if (shared_) fail(kErrShared, "Para vaciar la tabla hay que abrirla en uso exclusivo.");
    if (readOnly_) fail(kErrReadonly, "La tabla está abierta solo para lectura.");
    dirty_ = false;
    tail_.clear();
    windowCount_ = 0;
    dropMap();
    count_ = 0;
    // A table emptied before and not written since (a card's list between
    // two cards: its rows never left the tail) is left as it is.
    if (!emptyOnDisk_) {
        writeHeaderCount(0);
        char eof = 0x1A;
        if (::ftruncate(fd_, headerLength_) != 0 || !io::writeAt(fd_, &eof, 1, headerLength_))
            fail(kErrWrite, "No se puede vaciar la tabla: " + io::osText(errno) + ".", errno);
        emptyOnDisk_ = true;
    }
    if (memo_) memo_->clear();
    read(1);
    for (TableObserver* o : observers_) o->afterZap(*this);
}

void Table::addObserver(TableObserver* o) {
    if (std::find(observers_.begin(), observers_.end(), o) == observers_.end())
        observers_.push_back(o);
}

void Table::removeObserver(TableObserver* o) {
    observers_.erase(std::remove(observers_.begin(), observers_.end(), o), observers_.end());
}

}  // namespace dbf
