#include "app/sysinfo.h"

#include <dirent.h>
#include <malloc.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace app {

namespace {

int64_t statusKiB(const char* key) {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return 0;
    char line[256];
    int64_t value = 0;
    const size_t n = std::strlen(key);
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, key, n) == 0 && line[n] == ':') {
            value = std::strtoll(line + n + 1, nullptr, 10);
            break;
        }
    }
    std::fclose(f);
    return value;
}

int openDescriptors() {
    DIR* d = opendir("/proc/self/fd");
    if (!d) return 0;
    int count = 0;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') ++count;
    closedir(d);
    return count > 0 ? count - 1 : 0;  // the listing itself holds one
}

}  // namespace

MemoryFigures readMemoryFigures() {
    MemoryFigures m;
    m.usedBytes = statusKiB("VmRSS") * 1024;
    m.peakBytes = statusKiB("VmHWM") * 1024;
    if (m.peakBytes < m.usedBytes) m.peakBytes = m.usedBytes;
    rlimit lim{};
    if (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY && lim.rlim_cur > 0) {
        const double limit = static_cast<double>(lim.rlim_cur);
        const double used = openDescriptors();
        int pct = static_cast<int>((limit - used) * 100.0 / limit);
        m.freeResourcesPercent = pct < 0 ? 0 : (pct > 100 ? 100 : pct);
    }
    return m;
}

void releaseUnusedMemory() {
    malloc_trim(0);
}

}  // namespace app
