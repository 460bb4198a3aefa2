// The table functions of the language (DBUSEAREA, DBSKIP, RECNO, FIELDGET...),
// working on the session's work areas (dbf::workspace()).
#pragma once

#include "dbf/error.h"
#include "xbase/error.h"

namespace dbf {

// Registers every table function under its usual xBase name and installs the
// session's workspace as the language's door to fields. Call it at start-up and
// again after xb::resetRuntime().
void registerDbfFunctions();

// The language's error object for an engine failure (subsystem "DBFCDX").
xb::Error toXbError(const DbfError& e, bool canRetry = true, bool canSubstitute = false);

}  // namespace dbf
