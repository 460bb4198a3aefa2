#include "catalogue.h"

#include "data/session.h"

#ifdef VDR_PROGRAM_FUNCTIONS
#include <QApplication>
#include <QLoggingCategory>
#include <cstdlib>

#include "app/functions.h"
#endif

namespace vdrtool {

void loadProgramCatalogue() {
    static bool loaded = false;
    if (loaded) return;
    loaded = true;
#ifdef VDR_PROGRAM_FUNCTIONS
    if (QCoreApplication::instance() == nullptr) {
        // The tool never shows a window: whatever a function draws goes
        // nowhere, and the window system's notices would only mix with the
        // tool's own output.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QLoggingCategory::setFilterRules(
            QStringLiteral("*.debug=false\n*.info=false\n*.warning=false"));
        static int argc = 1;
        static char name[] = "vdrtool";
        static char* argv[] = {name, nullptr};
        // Never destroyed: tearing Qt down among the exit handlers crashes
        // once a chart has made a graphics context; the process ends anyway.
        static QApplication* qapp = new QApplication(argc, argv);
        (void)qapp;
    }
    app::registerProgramFunctions();  // the data layer's functions among them
#else
    data::registerDataFunctions();
#endif
}

}  // namespace vdrtool
