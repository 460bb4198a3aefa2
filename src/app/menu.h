// ACTIVAMENU: the main menu is read from the installation's menu table
// "VdrMenu.ini" in the order of its POSITION field, through the bag
// "VdrMenx1.cdx" rebuilt each time the menu is built. Each record is a
// submenu start ("0"), an item ("1"), a separator ("2") or a submenu end
// ("3"); other kinds are skipped. An item's ACTION is compiled once, here, and
// runs with the item as its argument each time the item is chosen.
#pragma once

class QMdiArea;
class QMenuBar;
class QWidget;

namespace app {

// Builds the menu bar from the menu table of the start directory, with the
// window submenu of `mdi` appended. Errors of single records (an action that
// does not compile, a missing bitmap) are shown and that part is left out; a
// menu table that cannot be opened gives a bar with the window submenu only.
QMenuBar* ACTIVAMENU(QWidget* owner, QMdiArea* mdi);

}  // namespace app
