#include "app/functions.h"

#include "app/errorsys.h"
#include "app/inicial.h"
#include "app/script.h"
#include "app/transfer_menu.h"
#include "charts/charts.h"
#include "company/salespeople.h"
#include "company/selection.h"
#include "company/upkeep.h"
#include "data/session.h"
#include "prospects/fichprosp.h"
#include "reference/reference.h"
#include "reports/reports.h"
#include "sheet/excel.h"
#include "ui/calendar.h"
#include "ui/grid.h"
#include "ui/messages.h"
#include "ui/search.h"

namespace app {

void registerProgramFunctions() {
    // One line a module; each module's own function registers its names.
    data::registerDataFunctions();
    registerAppFunctions();
    registerErrorFunctions();
    company::registerCompanyFunctions();
    company::registerUpkeepFunctions();
    company::registerSalespeopleFunctions();
    ui::registerSearchFunctions();
    ui::registerMessageFunctions();
    ui::registerGridFunctions();
    ui::registerCalendarFunctions();
    reference::registerReferenceFunctions();
    prospects::registerProspectFunctions();
    registerScriptFunctions();
    reports::registerReportFunctions();
    sheet::registerExcelFunctions();
    charts::registerChartFunctions();
    registerTransferFunctions();
}

}  // namespace app
