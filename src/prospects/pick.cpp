#include "prospects/pick.h"

#include "dbf/workspace.h"
#include "ui/pickers.h"

namespace prospects {

bool pickRecord(const std::string& alias, const std::string& title, QWidget* owner) {
    dbf::Workspace& ws = dbf::workspace();
    const int prev = ws.current();
    ws.select(alias);
    const ui::PickResult r = ui::BOTONBUSCA(title, owner);
    ws.select(prev);
    return !r.cancelled;
}

bool pickProspect(QWidget* owner) {
    dbf::Workspace& ws = dbf::workspace();
    const int prev = ws.current();
    ws.select("Prospecto");
    const ui::PickResult r = ui::BTNSEEKPROSP("Prospecto", owner);
    ws.select(prev);
    return !r.cancelled;
}

}  // namespace prospects
