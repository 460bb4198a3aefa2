// Files of the start directory, found whatever the case of their names
// (installations come from case-insensitive file systems).
#pragma once

#include <QString>

namespace app {

// The path of `name` in the start directory: the existing file whatever its
// case, or the name as given when there is none.
QString startFile(const QString& name);

}  // namespace app
