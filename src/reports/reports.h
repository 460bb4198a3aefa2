// The report layer's functions, registered in the language in one call.
#pragma once

namespace reports {

// The script store (INCLUIR, EXTRAER, VACIAR) and the report functions.
void registerReportFunctions();

}  // namespace reports
