// Figures of the running process for the memory box (F5).
#pragma once

#include <cstdint>

namespace app {

struct MemoryFigures {
    int64_t usedBytes = 0;  // resident memory now (VmRSS)
    int64_t peakBytes = 0;  // highest resident memory so far (VmHWM)
    // "Resources": what a table program runs out of first on Linux is file
    // descriptors (every table, memo and index file holds one), so the free
    // percentage is that of the process's descriptor limit not in use.
    int freeResourcesPercent = 100;
};

MemoryFigures readMemoryFigures();

// Gives unused heap memory back to the system.
void releaseUnusedMemory();

}  // namespace app
