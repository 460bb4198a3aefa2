// The salespeople file of the session company: its browser, card, save and
// delete, on the file browser of the search kit.
#pragma once

#include <string>

#include "ui/searchbrowser.h"

class QWidget;

namespace company {

// The description the file browser works from.
const ui::FileSpec& salespeopleFile();

void BROWINVEND(QWidget* owner = nullptr);
bool FICHVEND(const std::string& mode, QWidget* owner = nullptr);
ui::SaveResult GRABAVEND(const std::string& mode, const std::string& code, const std::string& name);
bool BORRAVEND(tk::Browse* browse);

void registerSalespeopleFunctions();

}  // namespace company
