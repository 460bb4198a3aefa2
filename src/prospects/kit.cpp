#include "prospects/kit.h"

#include "dbf/order.h"
#include "dbf/workspace.h"
#include "toolkit/browse.h"
#include "toolkit/dialog.h"

namespace prospects::kit {

// Until the kit is in the build, the order list sets the order itself and
// the filters and the search do nothing.
void chooseOrder(tk::Browse&, const std::string& choice, const std::string&) {
    dbf::WorkArea* p = dbf::workspace().area("Prospecto");
    if (!p) return;
    const int n = choice == "Nombre" ? 2 : choice == "Vendedor" ? 3 : choice == "Prioridad" ? 8 : 1;
    dbf::orders(*p).setOrder(n);
}

void filter(tk::Browse&, tk::Form& form, int captionId, int valueId, tk::Dialog&,
            const std::string& filterKind, const std::string&, const std::string&) {
    dbf::WorkArea* p = dbf::workspace().area("Prospecto");
    if (!p || filterKind != "Todos") return;
    dbf::orders(*p).clearScope();
    dbf::orders(*p).setOrder(1);
    form.setText(captionId, {});
    form.setText(valueId, {});
}

void search(tk::Dialog&, tk::Browse&, const std::string&, const std::vector<std::string>&,
            const std::vector<std::string>&) {}

}  // namespace prospects::kit
