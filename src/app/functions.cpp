#include "app/functions.h"

#include "app/inicial.h"
#include "charts/charts.h"
#include "company/selection.h"
#include "company/upkeep.h"

namespace app {

void registerProgramFunctions() {
    // One line a module; each module's own function registers its names.
    registerAppFunctions();
    company::registerCompanyFunctions();
    company::registerUpkeepFunctions();
    charts::registerChartFunctions();
}

}  // namespace app
