#include "app/functions.h"

#include "app/inicial.h"
#include "company/selection.h"
#include "company/upkeep.h"
#include "prospects/fichprosp.h"

namespace app {

void registerProgramFunctions() {
    // One line a module; each module's own function registers its names.
    registerAppFunctions();
    company::registerCompanyFunctions();
    company::registerUpkeepFunctions();
    prospects::registerProspectFunctions();
}

}  // namespace app
