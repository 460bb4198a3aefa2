// The workstation name given on the command line becomes a folder name inside
// every company directory, so only names that are one safe folder are taken.
#pragma once

#include <QString>
#include <optional>

namespace app {

inline constexpr int kMaxWorkstationName = 12;

// Returns the Spanish message that explains why `name` cannot be used, or
// nothing when the name is fine.
std::optional<QString> workstationProblem(const QString& name);

// USERTERMIN: the name in upper case followed by a backslash.
QString userTermin(const QString& name);

}  // namespace app
