// The names of every function registered in the language, for tools that
// check a menu table or a script against what the program can call.
#pragma once

#include <string>
#include <vector>

namespace xb {

// Every registered name, upper case, in alphabetical order.
std::vector<std::string> functionNames();

}  // namespace xb
