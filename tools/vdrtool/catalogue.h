// The program's catalogue of functions as vdrtool sees it: the language's
// library, the data layer and, in a build with the program, every module's
// functions registered through the one place the program itself uses.
#pragma once

namespace vdrtool {

// Registers the catalogue once. Functions that open windows get an
// application object on the "offscreen" platform, so that no display is
// needed; commands that never call this stay free of the window system.
void loadProgramCatalogue();

}  // namespace vdrtool
