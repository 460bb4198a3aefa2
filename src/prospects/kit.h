// The browser's calls into the search kit of the user-interface layer:
// order choice, the filters as scopes, and the search dialog.
#pragma once

#include <string>
#include <vector>

namespace tk {
class Browse;
class Dialog;
class Form;
}  // namespace tk

namespace prospects::kit {

// COMBOINDEX: the order named by `choice` for the kind `kind`.
void chooseOrder(tk::Browse& grid, const std::string& choice, const std::string& kind);
// HACEFILTR1: filter `filterKind` ("Todos", "Prospecto", "Vendedor"),
// captions in the labels `captionId` and `valueId` of `form`.
void filter(tk::Browse& grid, tk::Form& form, int captionId, int valueId, tk::Dialog& dlg,
            const std::string& filterKind, const std::string& kind, const std::string& choice);
// BUSCA1 over `alias` with the searchable fields and their labels.
void search(tk::Dialog& dlg, tk::Browse& grid, const std::string& alias,
            const std::vector<std::string>& fields, const std::vector<std::string>& labels);

// ESTABILIZA.
void stabilise(tk::Browse& grid);

}  // namespace prospects::kit
