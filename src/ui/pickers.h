// Record pickers: the list picker of a prospect or a salesperson that the
// prospect browser's filters use, and the pickers over the current table
// with which cards choose a related record. Each leaves the table on the
// record taken (or where it was when the user gave up).
#pragma once

#include <string>

class QWidget;

namespace ui {

// BROWFILTRVND: "Seleccione " + what ("Prospecto" or "Vendedor"), a list
// of code and name over the current table in its current order. True
// unless "&Cancelar" was pressed (which goes back to the record current
// when it opened): Escape, the close box, a double click or Enter take
// the highlighted record.
bool BROWFILTRVND(const std::string& what, QWidget* owner = nullptr);

struct PickResult {
    bool cancelled = false;  // lCancelled
    bool accepted = true;    // lAccepted
};

// BOTONBUSCA: "Seleccionar " + title over the current table, one column per
// field. BTNSEEKPROSP: the same for prospects with the columns "Código",
// "Nombre" and "Núm.Control". The dialog closes only by accepting
// ("S&eleccionar", double click, Enter) or by "&Salir" (cancelled, back to
// the record it started on).
PickResult BOTONBUSCA(const std::string& title, QWidget* owner = nullptr);
PickResult BTNSEEKPROSP(const std::string& title, QWidget* owner = nullptr);

void registerPickerFunctions();

}  // namespace ui
