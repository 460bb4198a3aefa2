#include "dbf/locks.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace dbf::locks {

namespace {

bool apply(int fd, int cmd, short type, int64_t start, int64_t length) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = start;
    fl.l_len = length;
    fl.l_pid = 0;  // required by open-file-description locks
    for (;;) {
        if (::fcntl(fd, cmd, &fl) == 0) return true;
        if (errno != EINTR) return false;
    }
}

}  // namespace

bool tryLock(int fd, int64_t start, int64_t length, Kind kind) {
    return apply(fd, F_OFD_SETLK, kind == Kind::Write ? F_WRLCK : F_RDLCK, start, length);
}

bool waitLock(int fd, int64_t start, int64_t length, Kind kind) {
    return apply(fd, F_OFD_SETLKW, kind == Kind::Write ? F_WRLCK : F_RDLCK, start, length);
}

void unlock(int fd, int64_t start, int64_t length) {
    apply(fd, F_OFD_SETLK, F_UNLCK, start, length);
}

bool isLockedByOther(int fd, int64_t start, int64_t length, Kind kind) {
    struct flock fl {};
    fl.l_type = kind == Kind::Write ? F_WRLCK : F_RDLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = start;
    fl.l_len = length;
    fl.l_pid = 0;
    if (::fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
    return fl.l_type != F_UNLCK;
}

}  // namespace dbf::locks
