// The reference tables of a company: products and services with their
// prices, marketing plans and the responses of contacted prospects. Each is
// a description for the search kit's file browser and card; they differ
// only where their descriptions say.
#pragma once

#include <string>

#include "ui/searchbrowser.h"

class QWidget;

namespace reference {

const ui::FileSpec& productsFile();
const ui::FileSpec& plansFile();
const ui::FileSpec& responsesFile();

void BROWINPRODC(QWidget* owner = nullptr);
bool FICHPROD(const std::string& mode, QWidget* owner = nullptr);
ui::SaveResult GRABAPROD(const std::string& mode, const std::string& code, const std::string& name,
                         double price);
bool BORRAPROD(tk::Browse* browse);

void BROWINPLAN(QWidget* owner = nullptr);
bool FICHPLAN(const std::string& mode, QWidget* owner = nullptr);
// Dates as julian days (0 = empty).
ui::SaveResult GRABAPLAN(const std::string& mode, const std::string& code,
                         const std::string& description, int32_t start, int32_t end);
bool BORRAPLAN(tk::Browse* browse);

void BROWINRESP(QWidget* owner = nullptr);
bool FICHRESP(const std::string& mode, QWidget* owner = nullptr);
ui::SaveResult GRABARESP(const std::string& mode, const std::string& code, const std::string& text);
bool BORRARESP(tk::Browse* browse);

void registerReferenceFunctions();

}  // namespace reference
