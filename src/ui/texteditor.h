// Opening a script file in a text editor, whatever the desktop offers: its
// registered text editor (xdg-open), else the user's $VISUAL or $EDITOR in a
// terminal, else a plain editor window of the program's own. The program
// goes on without waiting for the editor.
#pragma once

#include <QString>

class QWidget;

namespace ui {

enum class EditorUsed { Desktop, Terminal, OwnWindow, None };

// Opens `file`; tells the user (and answers None) when no way could.
EditorUsed openTextEditor(const QString& file, QWidget* owner = nullptr);

// The program's own editor window over `file` (Windows-1252 text, line ends
// kept), shown modeless; nullptr, after telling the user, when the file
// cannot be read.
QWidget* openOwnEditor(const QString& file, QWidget* owner = nullptr);

}  // namespace ui
