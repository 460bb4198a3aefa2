#include "app/functions.h"

#include "app/inicial.h"
#include "app/script.h"
#include "company/selection.h"
#include "company/upkeep.h"
#include "reports/reports.h"

namespace app {

void registerProgramFunctions() {
    // One line a module; each module's own function registers its names.
    registerAppFunctions();
    company::registerCompanyFunctions();
    company::registerUpkeepFunctions();
    registerScriptFunctions();
    reports::registerReportFunctions();
}

}  // namespace app
