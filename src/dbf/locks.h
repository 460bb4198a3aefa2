// Byte-range locks on table files, placed beyond the data as FoxPro places
// them so that readers are never blocked. Open-file-description locks: two opens
// of one file conflict even inside one process, and closing some other
// descriptor of the file releases nothing.
#pragma once

#include <cstdint>

namespace dbf::locks {

// Byte locked by an open: read lock when shared, write lock when exclusive.
inline constexpr int64_t kExclusiveByte = 2147483647;
// "Record 0": the table header, locked to append and to change the count.
inline constexpr int64_t kHeaderByte = 2147483646;

inline int64_t recordByte(uint32_t recno) {
    return kHeaderByte - static_cast<int64_t>(recno);
}

// Number of records covered by a file lock.
inline int64_t fileLockRecords(uint32_t headerLength, uint32_t recordLength) {
    return (2147483648LL - headerLength - 2) / (static_cast<int64_t>(recordLength) + 1);
}

enum class Kind { Read, Write };

// Tries the lock once, answering at once. False when another open holds a
// conflicting lock; other failures (bad descriptor...) are false too, with errno set.
bool tryLock(int fd, int64_t start, int64_t length, Kind kind);
// Waits for the lock (used only for short critical sections such as the memo
// file's allocation).
bool waitLock(int fd, int64_t start, int64_t length, Kind kind);
void unlock(int fd, int64_t start, int64_t length);
// True when some other open holds a lock on the range that conflicts with `kind`.
bool isLockedByOther(int fd, int64_t start, int64_t length, Kind kind);

}  // namespace dbf::locks
