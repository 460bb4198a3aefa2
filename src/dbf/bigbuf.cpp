#include "dbf/bigbuf.h"

#include <sys/mman.h>

#include <cstdlib>
#include <new>

namespace dbf::bigbuf {

namespace {
constexpr size_t kHuge = size_t{2} << 20;
}

void* allocate(size_t& bytes) {
    if (bytes < kHuge) {
        bytes = std::max<size_t>(bytes, 64);
        void* p = std::malloc(bytes);
        if (!p) throw std::bad_alloc();
        return p;
    }
    bytes = (bytes + kHuge - 1) / kHuge * kHuge;
    // Mapped with room to start on a huge-page boundary; the rest goes back.
    size_t span = bytes + kHuge;
    void* m = ::mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) throw std::bad_alloc();
    auto base = reinterpret_cast<uintptr_t>(m);
    uintptr_t start = (base + kHuge - 1) / kHuge * kHuge;
    if (start > base) ::munmap(m, start - base);
    size_t tail = base + span - (start + bytes);
    if (tail) ::munmap(reinterpret_cast<void*>(start + bytes), tail);
    // Only advice: without huge pages the block works the same.
    ::madvise(reinterpret_cast<void*>(start), bytes, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(start);
}

void release(void* p, size_t bytes) {
    if (!p) return;
    if (bytes < kHuge)
        std::free(p);
    else
        ::munmap(p, bytes);
}

}  // namespace dbf::bigbuf
