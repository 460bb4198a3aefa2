// The small dialogs and helpers that reports and scripts call by name: the
// progress message kept in ODLGMSG1, the banner, the one-value input, the
// input dialog built from lists of labels and variable names, the choice of
// print form, the last day of a month and opening a document with the
// desktop's associated application.
//
// Two dialogs stop the calling script when cancelled: they set the script
// runner's flag _EXIT (when a script runner has created it).
#pragma once

#include <QString>
#include <string>

#include "xbase/value.h"

class QWidget;

namespace ui {

// ------------------------------------------------------- progress message
// Creates the progress message window (non-modal) and keeps it in the public
// ODLGMSG1. A message still open is closed first: two progress messages are
// never on screen at once, and none is left behind without an owner.
QWidget* DLGMENSAJ(const std::string& text);
// DLGMENSAJ and one pass of the event loop, so that it is drawn at once.
QWidget* MIMENSAJ(const std::string& text);
// Closes the window held in ODLGMSG1 (nothing when none is open).
void closeProgressMessage();
// The progress message open now, or nullptr.
QWidget* progressMessage();
// A window as scripts hold it in a variable: :End() and :Close() close it,
// :hWnd is 1 while it is open and 0 after.
xb::Value windowObject(QWidget* window);

// ----------------------------------------------------------------- banner
void MSGSUBLIM1(const xb::Value& font = {});
void MSGSUBLIM2(const std::string& text, const xb::Value& font = {});
bool bannerRunning();
void stopBanner();  // end of the session (and tests)

// ----------------------------------------------------------------- inputs
// The one-value input. True on "&Aceptar", when `value` gets the edited copy.
bool MIMSGGET(const std::string& title, const std::string& prompt, xb::Value& value);
// The input dialog built at run time. `labels`: arrays {text, row, col};
// `fields`: arrays {variable name, row, col[, picture]}. Returns nil when a
// list is empty (after the message), else the logical result.
xb::Value CGDIALGET(int height, int width, const xb::Value& labels, const xb::Value& fields,
                    const std::string& title);
// A read/write block on the variable named in entry `n` (1-based) of `fields`.
xb::Value GENLOCALBLOCK(const xb::Value& fields, int n);
// The print form choice: 0 none, 1 or 2.
int SELECCFRM(const std::string& option1, const std::string& option2);

// --------------------------------------------------------------- utilities
// Julian day of the last day of the month of `jdn` (0 for the empty date).
int32_t ULT_DAY(int32_t jdn);
// Opens `file` with the desktop's associated application, without waiting.
// The file name travels as one argument of the opener (xdg-open, or the
// program in VDR_OPENER), never through a shell. False when nothing could be
// started or the file does not exist.
bool POWERPNT(const std::string& file);

// Sets the runner's stop flag _EXIT when a runner made it visible.
void setScriptExit();

void registerMessageFunctions();

}  // namespace ui
