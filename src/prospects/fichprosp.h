// The prospect card "FoldProsp" with its three pages and the dialogs of its
// three lists ("Dlg_Prd_Of" for products offered and sold, "AddContacto"
// for contacts), and the browser "BROWSEINPROSP".
#pragma once

#include <string>

#include "prospects/card.h"

class QWidget;

namespace prospects {

// The card in mode "I" (new) or "M" (the current record of "Prospecto").
// Does nothing when a card is open already ("Producto" in use) or, in mode
// "M", when no prospect is current. `page` is the folder page shown first
// (2 the contacts).
// `contactNt`, when given, puts the contacts' list on the contact of that number.
void FICHPROSP(const std::string& mode, QWidget* owner = nullptr, int page = 1,
               const std::string& contactNt = {});

// The list dialogs over the open card's buffers (n 1 offered, 3 sold).
void ADDPRODOF(const std::string& mode, QWidget* page, CardValues& v);
void ADDPRODVT(const std::string& mode, QWidget* page, CardValues& v);
// Answers true when a contact was written.
bool ADDCONTACTO(const std::string& mode, CardValues& v, QWidget* page);
// The delete questions (two tones, "  &Si  "/"  &No  "); true when done.
bool BORRAPRODOF(uint32_t recno);
bool BORRAPRODVT(uint32_t recno);
bool BORRACONTAC(uint32_t recno);

// The prospect browser.
void BROWINPROSP(QWidget* owner = nullptr);
// Deletes the browser's current prospect after asking; true when deleted.
bool BORRAPROSPS();

// Asks `question` after the two tones, in the box titled "Atención....."
// with "  &Si  " and "  &No  "; true for "  &Si  ".
bool askDelete(const std::string& question);

// Registers the procedures of the prospect file in the language.
void registerProspectFunctions();

}  // namespace prospects
