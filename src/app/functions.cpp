#include "app/functions.h"

#include "app/errorsys.h"
#include "app/inicial.h"
#include "company/salespeople.h"
#include "app/script.h"
#include "charts/charts.h"
#include "company/selection.h"
#include "company/upkeep.h"
#include "prospects/fichprosp.h"
#include "reference/reference.h"
#include "ui/search.h"
#include "ui/calendar.h"
#include "ui/grid.h"
#include "ui/messages.h"
#include "app/script.h"
#include "reports/reports.h"

namespace app {

void registerProgramFunctions() {
    // One line a module; each module's own function registers its names.
    registerAppFunctions();
    registerErrorFunctions();
    company::registerCompanyFunctions();
    company::registerUpkeepFunctions();
    company::registerSalespeopleFunctions();
    ui::registerSearchFunctions();
    reference::registerReferenceFunctions();
    ui::registerMessageFunctions();
    ui::registerGridFunctions();
    ui::registerCalendarFunctions();
    prospects::registerProspectFunctions();
    registerScriptFunctions();
    reports::registerReportFunctions();
    charts::registerChartFunctions();
}

}  // namespace app
