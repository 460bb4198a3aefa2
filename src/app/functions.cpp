#include "app/functions.h"

#include "app/inicial.h"
#include "app/script.h"
#include "charts/charts.h"
#include "company/selection.h"
#include "company/upkeep.h"
#include "reports/reports.h"
#include "ui/calendar.h"
#include "ui/grid.h"
#include "ui/messages.h"

namespace app {

void registerProgramFunctions() {
    // One line a module; each module's own function registers its names.
    registerAppFunctions();
    company::registerCompanyFunctions();
    company::registerUpkeepFunctions();
    ui::registerMessageFunctions();
    ui::registerGridFunctions();
    ui::registerCalendarFunctions();
    registerScriptFunctions();
    reports::registerReportFunctions();
    charts::registerChartFunctions();
}

}  // namespace app
