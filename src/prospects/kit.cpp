#include "prospects/kit.h"

#include "toolkit/browse.h"
#include "toolkit/dialog.h"
#include "ui/filters.h"
#include "ui/search.h"

namespace prospects::kit {

void chooseOrder(tk::Browse& grid, const std::string& choice, const std::string& kind) {
    int order = 0;
    ui::COMBOINDEX(&grid, choice, order, kind);
}

void filter(tk::Browse& grid, tk::Form& form, int captionId, int valueId, tk::Dialog& dlg,
            const std::string& filterKind, const std::string& kind, const std::string& choice) {
    ui::HACEFILTR1(&grid, form.find(captionId), form.find(valueId), &dlg, filterKind, kind, choice);
    ui::ESTABILIZA(&grid);
}

void search(tk::Dialog& dlg, tk::Browse& grid, const std::string& alias,
            const std::vector<std::string>& fields, const std::vector<std::string>& labels) {
    ui::BUSCA1(&dlg, &grid, alias, fields, labels);
    ui::ESTABILIZA(&grid);
}

void stabilise(tk::Browse& grid) {
    ui::ESTABILIZA(&grid);
}

}  // namespace prospects::kit
