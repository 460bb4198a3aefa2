// The report layer's functions, registered in the language in one call.
#pragma once

namespace reports {

// The script store (INCLUIR, EXTRAER, VACIAR) and the report functions.
void registerReportFunctions();

// The additional-report register: choose and run one, maintain the register.
void EMIINFAD();
void INCINFAD();
void registerRegisterFunctions();

// The script store tool in its dialog.
void MAKECGFTE();
void registerStoreToolFunctions();

}  // namespace reports
