#include "reports/reports.h"

#include "reports/store.h"

namespace reports {

void registerReportFunctions() {
    registerStoreFunctions();
}

}  // namespace reports
