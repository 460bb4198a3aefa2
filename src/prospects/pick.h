// The record pickers the card and the browser use, over the search kit of
// the user-interface layer. Kept in one place so that the card speaks of
// "pick a salesperson" and not of the kit's arguments.
#pragma once

#include <string>

class QWidget;

namespace prospects {

// The record picker over the table open under `alias`, starting at its
// current record, captioned "Seleccionar " + `title`. True when the user
// picked a record (it is then the current one); false after "&Salir" (the
// table is back where it was).
bool pickRecord(const std::string& alias, const std::string& title, QWidget* owner);

// The prospect picker (Código, Nombre, Núm.Control) over "Prospecto".
bool pickProspect(QWidget* owner);

}  // namespace prospects
