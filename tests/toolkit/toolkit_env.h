// Shared by the toolkit tests: the application object and the resource
// library, made once for the whole test program.
#pragma once

#include <QString>

namespace tktest {
QString bundlePath();
}
