// Every function the program offers to menus and scripts, registered in one
// place, so that the program, vdrtool and the tests see the same catalogue.
#pragma once

namespace app {

// Registers the functions of every module of the program (data layer,
// window, companies and each feature). Safe to call more than once.
void registerProgramFunctions();

}  // namespace app
