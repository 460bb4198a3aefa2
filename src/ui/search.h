// The search kit every file browser uses: the search dialog and the search
// itself, the duplicate-code check of the cards and the save that keeps codes
// unique across workstations, the switch of a browse's order from its
// drop-down list, the browse's length kept in step with its order, the count
// of visible records and the throttled memory release.
//
// Everything works on the current work area and its controlling order and
// leaves the record pointer where the user chose or where it was. Texts
// handed to and from the language are Windows-1252 bytes.
//
// C++ use, from a browser built on tk::Browse over a tk::WorkAreaRows:
//
//   ui::BUSCA1(&dlg, &grid, "Vendedor", {"Codigo", "Nombre"}, {"Código", "Nombre"});
//   int order = 1;
//   ui::COMBO2INDEX(&grid, "Nombre", order);          // order becomes 2
//   ui::ESTABILIZA(&grid);                            // at every change of row
//   if (!ui::CHKDUP(code, "Código", "Codigo")) ...    // card's code field
//   ui::saveWithUniqueCode(wa, "Codigo", code, "Código", isNew, write);
//
// Each procedure is also callable by name from menus and scripts once
// registerSearchFunctions() ran; a browse argument the language cannot
// carry is taken to be the browse of the innermost browser open (see
// BrowseStack).
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dbf/workarea.h"
#include "xbase/value.h"

class QComboBox;
class QLabel;
class QWidget;

namespace tk {
class Browse;
}

namespace ui {

// ------------------------------------------------------------------ search

// The first records of the order a search looks through before it asks the
// user whether to go on through the rest of the file.
inline constexpr uint64_t kSearchLimit = 100000;

// How a long search reports and asks: `progress(done, total)` now and then
// (false cancels the search); `goOn(examined)` when the first kSearchLimit
// records of the order held no match and more remain (false stops there).
struct SearchHooks {
    std::function<bool(uint64_t done, uint64_t total)> progress;
    std::function<bool(uint64_t examined)> goOn;
};

struct SearchOutcome {
    bool found = false;
    bool cancelled = false;  // the user stopped it (progress answered false)
    bool stopped = false;    // the user chose not to go past the limit
    uint64_t examined = 0;   // records of the order looked at
    uint32_t recno = 0;      // the record found
};

// The search proper: the first visible record, in the current order of `wa`
// (its scope and filter applied), whose `expression` contains `text` (upper
// case, surrounding blanks ignored; a date expression as "dd-mm-yyyy"). On a
// match the area is left on it; otherwise it goes back where it was. An
// empty text finds nothing. A plain field, DTOS(field) or UPPER(field) is
// searched straight from the file's bytes; anything else through the
// language with CCADENA and C visible to it.
SearchOutcome searchContains(dbf::WorkArea& wa, const std::string& expression,
                             const std::string& text, const SearchHooks& hooks = {});

// The hooks the program uses: a progress dialog with "Cancelar" shown when
// a search takes long, and the question whether to go on past the limit.
SearchHooks interactiveHooks(QWidget* owner);

// BUSCA1: the "Buscar" dialog over the current table; on "&Aceptar" BUSCA2.
// Afterwards the browse (when given) is put on the record reached.
void BUSCA1(QWidget* owner, tk::Browse* browse, const std::string& alias,
            const std::vector<std::string>& fields, const std::vector<std::string>& labels);
// BUSCA2: one search by the label chosen; closes `searchDialog` when given.
// True when a record was found.
bool BUSCA2(QWidget* searchDialog, tk::Browse* browse, const std::string& alias,
            const std::string& label, const std::string& text,
            const std::vector<std::string>& fields, const std::vector<std::string>& labels);

// ------------------------------------------------------- duplicate codes

// The first visible record other than `except` whose `field`, trimmed and in
// upper case, equals `value` trimmed and in upper case; 0 when none. Seeks
// in an order whose key is the field when the area has one, and reads the
// file otherwise. Looks at the whole table (scopes and filters of the
// browse do not hide a holder of the code). The position is kept.
uint32_t findCodeHolder(dbf::WorkArea& wa, const std::string& field, const std::string& value,
                        uint32_t except = 0);

// The record a card edits, from LREG: -1 (new record) gives 0.
uint32_t editedRecord();
// DUPLICA: the duplicate rule on a record found holding the code.
bool DUPLICA(uint32_t foundRecno);
// CHKDUP: true when `value` may be used in `field` of the current table by
// the record LREG names; false with the beep and "<label> ya existe".
bool CHKDUP(const xb::Value& value, const std::string& label, const std::string& field);
void tellDuplicate(const std::string& label);

enum class SaveResult { Saved, Duplicate, Abandoned };

// A card's save that keeps codes unique across workstations: the record
// being changed is locked with REC_LOCK(0) (the user may give up); then
// the table's lock is taken (the record let go while it is waited for, so
// that two savers of one table never wait for each other), and under it
// the code is checked again, and only when no
// other record holds it is a new record appended (when `isNew`) and
// `write` called on the current record. A duplicate is told as CHKDUP
// tells it and nothing is written. Every lock is released on return.
SaveResult saveWithUniqueCode(dbf::WorkArea& wa, const std::string& field, const std::string& code,
                              const std::string& label, bool isNew,
                              const std::function<void()>& write);

// The logical deletion of the current record of a browser: nothing when
// the area is at its end or empty; else REC_LOCK(0) (the user may give
// up: nothing is deleted), the mark, the release, and the move to the next
// record or the previous one when it was the last. True when deleted.
bool deleteCurrent(dbf::WorkArea& wa);

// ---------------------------------------------------------- order switch

// COMBOINDEX / COMBO2INDEX: the order chosen by the caption's first two
// characters; keeps the record, marks the order's column, refreshes the
// browse and gives it the focus; stores the order in `order` and returns it.
int COMBOINDEX(tk::Browse* browse, const std::string& choice, int& order, const std::string& kind);
int COMBO2INDEX(tk::Browse* browse, const std::string& choice, int& order,
                const std::string& kind = {});
// The order and the column of the order for a caption (0 when none matches).
int orderForChoice(const std::string& choice, const std::string& kind, int* column = nullptr);

// The browsers' order list and their grid's headings kept together: a click
// on the heading of a column tied to an order picks the list's item for that
// order (`orders[i]` is the order of item i, from 0), without the list's own
// change signal, and runs `choose` with the item. A heading whose column has
// no order, or an order the list does not offer, does nothing.
void headingsChooseOrder(tk::Browse& grid, QComboBox* list, std::vector<int> orders,
                         std::function<void(int item)> choose);
// The count of what the grid's order, scope and filter let through, "N
// registros", in a label put right after `list` in its row (object name
// "recordCount"); showRecordCount() brings it up to date.
QLabel* addRecordCount(QComboBox* list);
void showRecordCount(QLabel* label, tk::Browse& grid);

// ESTABILIZA: the browse's length and scroll range from the key count of
// its order, counted again only when the table, its bags or its order
// changed since the last count (its own or another workstation's write).
void ESTABILIZA(tk::Browse* browse);

// NUMREGLOG: visible records (keys of the order when one controls); leaves
// the table at its first record.
uint64_t NUMREGLOG();

// Throttled memory release, each with its own timestamp.
void LIMPIAMEM();
void ENDOFFORMCLEARMEM();
// How many times the memory was released (tests).
int memoryReleases();

// ------------------------------------------------------ browse registry

// The browses of the browsers open, innermost last: functions called by
// name from the language act on the innermost one.
class BrowseStack {
  public:
    explicit BrowseStack(tk::Browse* browse);
    ~BrowseStack();
    BrowseStack(const BrowseStack&) = delete;
    BrowseStack& operator=(const BrowseStack&) = delete;
    static tk::Browse* top();
};

// Registers BUSCA1, BUSCA2, CHKDUP, DUPLICA, COMBOINDEX, COMBO2INDEX,
// ESTABILIZA, NUMREGLOG, LIMPIAMEM, ENDOFFORMCLEARMEM, and (pickers.h,
// filters.h) BROWFILTRVND, BOTONBUSCA, BTNSEEKPROSP, HACEFILTR1.
void registerSearchFunctions();

// Windows-1252 bytes to the widgets' text and back.
QString shown(const std::string& bytes);
std::string bytes(const QString& text);

}  // namespace ui
