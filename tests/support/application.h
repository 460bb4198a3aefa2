// The test process's one application object, made on first use: a plain
// QApplication on the platform the test environment chose (offscreen).
#pragma once

#include <QApplication>

namespace testsupport {

inline QApplication& application() {
    static int argc = 1;
    static char name[] = "vdrtest";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) new QApplication(argc, argv);
    return *qApp;
}

}  // namespace testsupport
