// The program's help: a set of Spanish HTML pages in the installation,
// shown in a help window of our own (no separate viewer is needed on Linux).
#pragma once

#include <QString>

class QWidget;

namespace app {

// The pages and their pictures live in one folder of the installation; the
// first page is the index that links every other.
inline const char* const kHelpFolder = "Ayuda";
inline const char* const kHelpFile = "Ayuda/ZeriDoda.html";
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

// The help page (a path from the start directory) of `window`: the first row
// of the program's table whose window (a dialog's template name, the
// template of a folder's page in front, an object or class name) and title
// (a part of the window's caption) both fit; else the page of the window
// that owns it; else the index.
QString helpPageFor(const QWidget* window);
// F1: the page of the window in front (the active window, or the modal
// dialog in front when none is active), in the help window.
QWidget* helpForWindowInFront();
// Every page the table names, without the folder (for the tests).
QStringList helpPages();

}  // namespace app
