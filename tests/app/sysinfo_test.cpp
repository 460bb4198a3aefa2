#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <vector>

#include "app/sysinfo.h"

TEST(MemoryFigures, GrowWithUseAndResourcesFallWithOpenFiles) {
    const app::MemoryFigures before = app::readMemoryFigures();
    EXPECT_GT(before.usedBytes, 0);
    EXPECT_GE(before.peakBytes, before.usedBytes);
    EXPECT_GE(before.freeResourcesPercent, 0);
    EXPECT_LE(before.freeResourcesPercent, 100);

    // Touch 64 MiB: the peak must follow.
    std::vector<char> block(64 << 20, 1);
    const app::MemoryFigures during = app::readMemoryFigures();
    EXPECT_GE(during.peakBytes, before.usedBytes + (48 << 20));

    // Hold most of the descriptor limit open: the free share must drop.
    std::vector<int> fds;
    const long limit = sysconf(_SC_OPEN_MAX);
    for (long i = 0; i < limit * 3 / 4; ++i) {
        int fd = open("/dev/null", O_RDONLY);
        if (fd < 0) break;
        fds.push_back(fd);
    }
    const app::MemoryFigures held = app::readMemoryFigures();
    EXPECT_LE(held.freeResourcesPercent, 30);
    for (int fd : fds) close(fd);
    EXPECT_GE(app::readMemoryFigures().freeResourcesPercent, before.freeResourcesPercent - 2);
    EXPECT_EQ(block[123], 1);
}
