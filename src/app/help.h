// The program's help: a set of Spanish HTML pages in the installation,
// shown in a help window of our own (no separate viewer is needed on Linux).
#pragma once

#include <QString>

class QWidget;

namespace app {

inline const char* const kHelpFile = "ZeriDoda.html";
inline const char* const kHelpTitle = "Ayuda Valdrosa";
inline const char* const kHelpDefaultWindowTitle = "CHM Valdrosa Help";

// Stores the help file (unchanged when `file` is empty) and the title of the
// help window (the default title when `title` is empty); returns the previous
// help file.
QString SETHELPFILE(const QString& file = {}, const QString& title = {});
// Stores the topic (an anchor of the help pages; unchanged when empty) and
// returns the previous one.
QString SETHELPTOPIC(const QString& topic = {});

// Opens the help file in a window titled `title` (both default to the stored
// values). A help window already open with that title is closed first, so a
// second press shows one fresh window. Without a help file nothing happens.
// Returns the new window, or nullptr.
QWidget* HELPINDEX(const QString& file = {}, const QString& title = {});

}  // namespace app
