// cutfs: a pass-through file system (FUSE) for testing what a power cut or a
// slow network drive does to the tables.
//
//   cutfs [--delay-us N] [--page BYTES] BACKING MOUNTPOINT [FUSE options]
//
// Everything under MOUNTPOINT is BACKING's. Each file's writes (and size
// changes) since its last fsync/fdatasync are remembered, cut into pieces at
// page boundaries, as a disk's cache holds them. Writing a command to the
// control file MOUNTPOINT/.cutfs acts at once:
//
//   cut [SEED]     power cut: each page keeps the writes made to it up to a
//                  random point since the last sync and loses the later ones
//                  (a disk writes a page out with all it held then); pages,
//                  and the file's size changes, go or stay independently
//   cut all        every piece not yet synced is lost
//   cut keep SUFFIX  the files whose name ends with SUFFIX keep all their
//                  pieces, the others lose all theirs (one chosen order)
//   delay N        every later call waits N microseconds first (0: none)
//
// Whoever cuts the power must first stop the processes that use the files,
// as the cut stops them, and open them again only afterwards: the kernel
// drops its copy of a file's pages at each open (no kernel cache here).
// Directory changes (create, rename, unlink) count as synced at once.
// Ends with `fusermount3 -u MOUNTPOINT` (or SIGTERM).
#define FUSE_USE_VERSION 31

#include <dirent.h>
#include <fcntl.h>
#include <fuse.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr const char* kControl = "/.cutfs";
constexpr uint64_t kControlFh = ~0ull;

std::string g_backing;
std::atomic<long> g_delayUs{0};
uint64_t g_page = 4096;

// One piece of a write or a size change not yet synced, with what it hid.
struct Piece {
    bool resize = false;
    off_t off = 0;       // write: where; resize: the new size
    std::string data;    // write: the bytes written
    off_t oldSize = 0;   // the file's size before
    std::string before;  // what the write covered, or what a shrink cut off
};

struct FileLog {
    off_t syncedSize = 0;
    std::vector<Piece> pieces;
};

std::mutex g_mu;
std::map<ino_t, FileLog> g_logs;       // files with writes since their last sync
std::map<ino_t, std::string> g_names;  // for the cut: where to reopen them

void wait() {
    long us = g_delayUs.load(std::memory_order_relaxed);
    if (us > 0) std::this_thread::sleep_for(std::chrono::microseconds(us));
}

std::string real(const char* path) {
    return g_backing + path;
}

off_t sizeOf(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? st.st_size : 0;
}

ino_t inodeOf(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? st.st_ino : 0;
}

std::string readRange(int fd, off_t off, size_t len) {
    std::string s(len, '\0');
    ssize_t got = ::pread(fd, s.data(), len, off);
    s.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return s;
}

// The log of the file open as `fd`, begun with its present state as synced.
FileLog& logOf(int fd, const char* path) {
    ino_t ino = inodeOf(fd);
    auto it = g_logs.find(ino);
    if (it == g_logs.end()) {
        it = g_logs.emplace(ino, FileLog{}).first;
        it->second.syncedSize = sizeOf(fd);
    }
    g_names[ino] = real(path);
    return it->second;
}

void writeAll(int fd, const std::string& s, off_t off) {
    size_t done = 0;
    while (done < s.size()) {
        ssize_t w = ::pwrite(fd, s.data() + done, s.size() - done, off + static_cast<off_t>(done));
        if (w <= 0) return;
        done += static_cast<size_t>(w);
    }
}

// Back to the last synced state (undoing every piece, last first), then the
// kept pieces again in their order.
void cutFile(int fd, FileLog& log, const std::vector<bool>& keep) {
    for (size_t i = log.pieces.size(); i-- > 0;) {
        const Piece& p = log.pieces[i];
        if (p.resize) {
            if (::ftruncate(fd, p.oldSize) != 0) return;
            writeAll(fd, p.before, p.off);
        } else {
            writeAll(fd, p.before, p.off);
            if (::ftruncate(fd, p.oldSize) != 0) return;
        }
    }
    if (::ftruncate(fd, log.syncedSize) != 0) return;
    for (size_t i = 0; i < log.pieces.size(); ++i) {
        if (!keep[i]) continue;
        const Piece& p = log.pieces[i];
        if (p.resize) {
            if (::ftruncate(fd, p.off) != 0) return;
        } else {
            writeAll(fd, p.data, p.off);
        }
    }
}

bool endsWith(const std::string& s, const std::string& end) {
    return !end.empty() && s.size() >= end.size() &&
           s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// `keepSuffix` empty: a random first part of each page's pieces kept (none
// when `all`); else all the pieces of the files named so, none of the others.
void powerCut(bool all, unsigned seed, const std::string& keepSuffix = {}) {
    std::lock_guard lock(g_mu);
    std::mt19937 rng(seed);
    int lost = 0, kept = 0;
    for (auto& [ino, log] : g_logs) {
        std::vector<bool> keep(log.pieces.size());
        bool keepFile = endsWith(g_names[ino], keepSuffix);
        // Per page (size changes count as one more "page"): how many of its
        // pieces, in their order, reached the disk.
        std::map<int64_t, std::pair<size_t, size_t>> pages;  // page: pieces, kept
        auto pageOf = [](const Piece& p) {
            return p.resize ? int64_t(-1)
                            : static_cast<int64_t>(static_cast<uint64_t>(p.off) / g_page);
        };
        for (const Piece& p : log.pieces) ++pages[pageOf(p)].first;
        for (auto& [page, n] : pages) n.second = all ? 0 : rng() % (n.first + 1);
        std::map<int64_t, size_t> seen;
        for (size_t i = 0; i < keep.size(); ++i) {
            int64_t page = pageOf(log.pieces[i]);
            keep[i] = keepSuffix.empty() ? seen[page]++ < pages[page].second : keepFile;
            keep[i] ? ++kept : ++lost;
        }
        int fd = ::open(g_names[ino].c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0 || inodeOf(fd) != ino) {  // gone or replaced: nothing to lose
            if (fd >= 0) ::close(fd);
            continue;
        }
        cutFile(fd, log, keep);
        ::fsync(fd);
        ::close(fd);
    }
    g_logs.clear();
    g_names.clear();
    std::fprintf(stderr, "cutfs: corte: %d trozos perdidos, %d escritos\n", lost, kept);
}

int control(const char* buf, size_t size) {
    std::string cmd(buf, size);
    while (!cmd.empty() && (cmd.back() == '\n' || cmd.back() == ' ')) cmd.pop_back();
    if (cmd == "cut all") {
        powerCut(true, 0);
    } else if (cmd.rfind("cut keep ", 0) == 0) {
        powerCut(false, 0, cmd.substr(9));
    } else if (cmd.rfind("cut", 0) == 0) {
        unsigned seed = cmd.size() > 4
                            ? static_cast<unsigned>(std::strtoul(cmd.c_str() + 4, nullptr, 10))
                            : std::random_device{}();
        powerCut(false, seed);
    } else if (cmd.rfind("delay ", 0) == 0) {
        g_delayUs = std::strtol(cmd.c_str() + 6, nullptr, 10);
    } else {
        return -EINVAL;
    }
    return static_cast<int>(size);
}

int fs_getattr(const char* path, struct stat* st, struct fuse_file_info* fi) {
    wait();
    if (std::strcmp(path, kControl) == 0) {
        std::memset(st, 0, sizeof *st);
        st->st_mode = S_IFREG | 0666;
        st->st_nlink = 1;
        return 0;
    }
    int r = fi && fi->fh != kControlFh ? ::fstat(static_cast<int>(fi->fh), st)
                                       : ::lstat(real(path).c_str(), st);
    return r == 0 ? 0 : -errno;
}

int fs_readdir(const char* path, void* buf, fuse_fill_dir_t fill, off_t, struct fuse_file_info*,
               enum fuse_readdir_flags) {
    wait();
    DIR* d = ::opendir(real(path).c_str());
    if (!d) return -errno;
    while (struct dirent* e = ::readdir(d)) {
        struct stat st {};
        st.st_ino = e->d_ino;
        st.st_mode = static_cast<mode_t>(e->d_type) << 12;
        if (fill(buf, e->d_name, &st, 0, static_cast<fuse_fill_dir_flags>(0))) break;
    }
    ::closedir(d);
    return 0;
}

// O_TRUNC of a file already there is a size change like any other.
int openReal(const char* path, int flags, mode_t mode, struct fuse_file_info* fi) {
    bool trunc = flags & O_TRUNC;
    int fd = ::open(real(path).c_str(), (flags & ~O_TRUNC) | O_CLOEXEC, mode);
    if (fd < 0) return -errno;
    if (trunc && sizeOf(fd) > 0) {
        std::lock_guard lock(g_mu);
        FileLog& log = logOf(fd, path);
        Piece p;
        p.resize = true;
        p.off = 0;
        p.oldSize = sizeOf(fd);
        p.before = readRange(fd, 0, static_cast<size_t>(p.oldSize));
        if (::ftruncate(fd, 0) != 0) {
            int e = errno;
            ::close(fd);
            return -e;
        }
        log.pieces.push_back(std::move(p));
    }
    fi->fh = static_cast<uint64_t>(fd);
    return 0;
}

int fs_open(const char* path, struct fuse_file_info* fi) {
    wait();
    if (std::strcmp(path, kControl) == 0) {
        fi->fh = kControlFh;
        fi->direct_io = 1;
        return 0;
    }
    return openReal(path, fi->flags, 0, fi);
}

int fs_create(const char* path, mode_t mode, struct fuse_file_info* fi) {
    wait();
    return openReal(path, fi->flags | O_CREAT, mode, fi);
}

int fs_read(const char*, char* buf, size_t size, off_t off, struct fuse_file_info* fi) {
    wait();
    if (fi->fh == kControlFh) return 0;
    ssize_t r = ::pread(static_cast<int>(fi->fh), buf, size, off);
    return r >= 0 ? static_cast<int>(r) : -errno;
}

int fs_write(const char* path, const char* buf, size_t size, off_t off, struct fuse_file_info* fi) {
    wait();
    if (fi->fh == kControlFh) return control(buf, size);
    int fd = static_cast<int>(fi->fh);
    std::lock_guard lock(g_mu);
    FileLog& log = logOf(fd, path);
    off_t oldSize = sizeOf(fd);
    // One piece per page touched: a disk keeps or loses whole pages.
    for (size_t at = 0; at < size;) {
        off_t o = off + static_cast<off_t>(at);
        size_t n = std::min<size_t>(size - at, g_page - static_cast<uint64_t>(o) % g_page);
        Piece p;
        p.off = o;
        p.data.assign(buf + at, n);
        p.oldSize = oldSize;
        p.before = readRange(fd, o, n);
        log.pieces.push_back(std::move(p));
        oldSize = std::max<off_t>(oldSize, o + static_cast<off_t>(n));
        at += n;
    }
    ssize_t w = ::pwrite(fd, buf, size, off);
    return w >= 0 ? static_cast<int>(w) : -errno;
}

int resize(int fd, const char* path, off_t size) {
    std::lock_guard lock(g_mu);
    FileLog& log = logOf(fd, path);
    Piece p;
    p.resize = true;
    p.off = size;
    p.oldSize = sizeOf(fd);
    if (size < p.oldSize) p.before = readRange(fd, size, static_cast<size_t>(p.oldSize - size));
    if (::ftruncate(fd, size) != 0) return -errno;
    log.pieces.push_back(std::move(p));
    return 0;
}

int fs_truncate(const char* path, off_t size, struct fuse_file_info* fi) {
    wait();
    if (fi && fi->fh != kControlFh) return resize(static_cast<int>(fi->fh), path, size);
    if (std::strcmp(path, kControl) == 0) return 0;
    int fd = ::open(real(path).c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return -errno;
    int r = resize(fd, path, size);
    ::close(fd);
    return r;
}

int fs_fsync(const char*, int, struct fuse_file_info* fi) {
    wait();
    if (fi->fh == kControlFh) return 0;
    int fd = static_cast<int>(fi->fh);
    std::lock_guard lock(g_mu);
    g_logs.erase(inodeOf(fd));  // on the disk now
    return 0;
}

int fs_release(const char*, struct fuse_file_info* fi) {
    if (fi->fh != kControlFh) ::close(static_cast<int>(fi->fh));
    return 0;
}

int fs_flush(const char*, struct fuse_file_info*) {
    wait();
    return 0;
}

int fs_fsyncdir(const char*, int, struct fuse_file_info*) {
    wait();
    return 0;
}

int fs_unlink(const char* path) {
    wait();
    return ::unlink(real(path).c_str()) == 0 ? 0 : -errno;
}

int fs_mkdir(const char* path, mode_t mode) {
    wait();
    return ::mkdir(real(path).c_str(), mode) == 0 ? 0 : -errno;
}

int fs_rmdir(const char* path) {
    wait();
    return ::rmdir(real(path).c_str()) == 0 ? 0 : -errno;
}

int fs_rename(const char* from, const char* to, unsigned int flags) {
    wait();
    if (flags) return -EINVAL;
    return ::rename(real(from).c_str(), real(to).c_str()) == 0 ? 0 : -errno;
}

int fs_chmod(const char* path, mode_t mode, struct fuse_file_info*) {
    wait();
    return ::chmod(real(path).c_str(), mode) == 0 ? 0 : -errno;
}

int fs_chown(const char* path, uid_t uid, gid_t gid, struct fuse_file_info*) {
    wait();
    return ::lchown(real(path).c_str(), uid, gid) == 0 ? 0 : -errno;
}

int fs_utimens(const char* path, const struct timespec tv[2], struct fuse_file_info*) {
    wait();
    return ::utimensat(AT_FDCWD, real(path).c_str(), tv, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : -errno;
}

int fs_access(const char* path, int mask) {
    wait();
    if (std::strcmp(path, kControl) == 0) return 0;
    return ::access(real(path).c_str(), mask) == 0 ? 0 : -errno;
}

int fs_statfs(const char* path, struct statvfs* st) {
    wait();
    return ::statvfs(real(path).c_str(), st) == 0 ? 0 : -errno;
}

void* fs_init(struct fuse_conn_info*, struct fuse_config* cfg) {
    // Every open reads the files anew, and sizes are asked each time: after
    // a cut nothing the kernel kept may stand for what is on the "disk".
    cfg->kernel_cache = 0;
    cfg->auto_cache = 0;
    cfg->attr_timeout = 0;
    cfg->entry_timeout = 0;
    cfg->negative_timeout = 0;
    cfg->use_ino = 1;
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> args{argv[0]};
    std::vector<std::string> pos;
    int i = 1;
    for (; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--delay-us" && i + 1 < argc) {
            g_delayUs = std::atol(argv[++i]);
        } else if (a == "--page" && i + 1 < argc) {
            g_page = std::max(1ul, std::strtoul(argv[++i], nullptr, 10));
        } else if (pos.size() < 2 && a[0] != '-') {
            pos.push_back(a);
        } else {
            args.push_back(argv[i]);
        }
    }
    if (pos.size() != 2) {
        std::fprintf(stderr,
                     "Uso: cutfs [--delay-us N] [--page BYTES] DIRECTORIO PUNTO_DE_MONTAJE "
                     "[opciones de FUSE]\n");
        return 2;
    }
    char* back = ::realpath(pos[0].c_str(), nullptr);
    if (!back) {
        std::fprintf(stderr, "cutfs: no existe el directorio %s\n", pos[0].c_str());
        return 2;
    }
    g_backing = back;
    std::free(back);
    if (g_backing == "/") g_backing.clear();
    static std::string mnt = pos[1];
    args.push_back(mnt.data());
    static char fg[] = "-f";
    args.push_back(fg);

    static fuse_operations ops{};
    ops.getattr = fs_getattr;
    ops.readdir = fs_readdir;
    ops.open = fs_open;
    ops.create = fs_create;
    ops.read = fs_read;
    ops.write = fs_write;
    ops.truncate = fs_truncate;
    ops.fsync = fs_fsync;
    ops.fsyncdir = fs_fsyncdir;
    ops.flush = fs_flush;
    ops.release = fs_release;
    ops.unlink = fs_unlink;
    ops.mkdir = fs_mkdir;
    ops.rmdir = fs_rmdir;
    ops.rename = fs_rename;
    ops.chmod = fs_chmod;
    ops.chown = fs_chown;
    ops.utimens = fs_utimens;
    ops.access = fs_access;
    ops.statfs = fs_statfs;
    ops.init = fs_init;
    ::umask(0);
    return fuse_main(static_cast<int>(args.size()), args.data(), &ops, nullptr);
}
