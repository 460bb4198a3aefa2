// The prospect browser's filters: all prospects, one prospect, or the
// prospects of one salesperson, as scopes on the prospect table's orders.
#pragma once

#include <string>

class QWidget;

namespace tk {
class Browse;
}

namespace ui {

// HACEFILTR1: `what` "Todos", "Prospecto" or "Vendedor"; `kind` "Prosp"
// (anything else shows "Pendiente"); `orderChoice` the caption chosen in
// the browser's drop-down. The current table is the prospects (alias
// "Prospecto"); the salespeople ("Vendedor") are open beside it.
// `caption` and `value` are the two texts of the browser that say which
// filter holds (any widget with a "text" property; may be null).
void HACEFILTR1(tk::Browse* browse, QWidget* caption, QWidget* value, QWidget* dialog,
                const std::string& what, const std::string& kind, const std::string& orderChoice);

void registerFilterFunctions();

}  // namespace ui
