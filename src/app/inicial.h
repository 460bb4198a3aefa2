// INICIAL: builds the main window with its pictures, button bar and status
// bar, runs the company selection when it first shows, and cleans up after it
// closes. Returns the event loop's exit status.
#pragma once

#include <QString>

namespace app {

class MainWindow;

int INICIAL();

// "Res.Log": the toolkit's list of graphic resources left unreleased, written
// when the session ends and removed at start-up.
inline constexpr const char* kResourceLog = "Res.Log";
void removeResourceLog();

// The main window while the session runs (OWIN), or nullptr.
MainWindow* mainWindow();

// True when another copy of the program already shows a main window with
// this title on this desktop, even one started under another file name.
// The first caller with a title keeps the claim on it for its lifetime.
bool ISDOUBLEDWIN(const QString& title);

// The memory box bound to F5: memory in use, peak memory and the free share of
// the process's resources.
void CHECKMIMEMORIA();
QString GETSYSFONT();

// Starts the desktop's calculator when one is installed; returns false (and
// does nothing else) when there is none.
bool startCalculator();

// FINAL$: commits and closes every open table; at the end of the session it
// also releases the resource library.
void FINAL();

// Registers the window's functions in the language (HELPINDEX, CHECKMIMEMORIA, ...).
void registerAppFunctions();

}  // namespace app
