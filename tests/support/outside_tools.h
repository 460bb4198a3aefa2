// Outside programs that some tests read the program's files with (dbfread,
// pgdbf, dbf_dump, index_dump, the office). On a developer's machine a
// missing one skips what needs it; under CI (the CI variable set, as CI
// services do) the set-up has installed them all, so a missing one fails.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace testsupport {

inline bool underCI() {
    const char* ci = std::getenv("CI");
    const std::string v = ci ? ci : "";
    return !v.empty() && v != "0" && v != "false";
}

// True when the shell command runs and succeeds.
inline bool commandWorks(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

inline bool dbfreadInstalled() {
    return commandWorks("/usr/bin/python3 -c 'import dbfread'");
}

// For a comparison made only when the tool is there: false when missing,
// and under CI a failure of the test besides.
inline bool toolPresent(bool present, const std::string& what) {
    if (!present && underCI()) ADD_FAILURE() << what << " no instalado (CI)";
    return present;
}

}  // namespace testsupport

// Ends the test when an outside tool is missing: skipped, or failed under CI.
#define VDR_NEED_TOOL(present, what)                                              \
    do {                                                                          \
        if (!(present)) {                                                         \
            if (testsupport::underCI()) FAIL() << (what) << " no instalado (CI)"; \
            GTEST_SKIP() << (what) << " no instalado";                            \
        }                                                                         \
    } while (0)
