#pragma once

namespace app {

// Program entry: checks the workstation argument, keeps one copy per desktop
// session, prepares the workstation folder and runs the main window. Returns
// the process exit status.
int INICIO(int argc, char** argv);

}  // namespace app
