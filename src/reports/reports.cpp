#include "reports/reports.h"

#include "reports/inform.h"
#include "reports/printer.h"
#include "reports/store.h"

namespace reports {

void registerReportFunctions() {
    registerStoreFunctions();
    registerPrinterFunctions();
    registerInformFunctions();
}

}  // namespace reports
