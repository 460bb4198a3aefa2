#include "app/functions.h"

#include "app/inicial.h"
#include "company/selection.h"
#include "company/upkeep.h"
#include "data/session.h"

namespace app {

void registerProgramFunctions() {
    // One line a module; each module's own function registers its names.
    data::registerDataFunctions();
    registerAppFunctions();
    company::registerCompanyFunctions();
    company::registerUpkeepFunctions();
}

}  // namespace app
