// The two generic table views over the current work area: the record picker
// BROWSAUX1 and the editable grid MIBROWSEG, with the grid's actions and its
// printed list REPMIBRW.
//
// Both leave the current work area selected. The grid writes each confirmed
// cell at once under a short record lock. Delete acts on the grid only (never
// while a cell is being edited); in a shared table a deleted record is only
// marked, and the table is packed only when it is open exclusively.
#pragma once

#include <QPointer>
#include <QString>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "xbase/value.h"

class QDialog;
class QObject;
class QTableView;
class QWidget;

namespace dbf {
class WorkArea;
}
namespace tk {
class Browse;
class WorkAreaRows;
class Dialog;
}  // namespace tk

namespace ui {

// Shared colours of both views.
void PICTLISTB(QTableView* grid);
// Sets the public list font OFONTLBX as PICTLISTB leaves it.
void setListFont();

// The picker. `fields`: 1..7 column expressions (more than seven: only the
// first); `headers` the captions. Returns the first field of the picked
// record, or `value` when nothing was picked. `cancelled` is set true by
// "&Cancelar" and false by a pick; the title-bar close leaves it alone and
// is a cancel for the result.
xb::Value BROWSAUX1(const xb::Value& value, const std::vector<std::string>& fields,
                    const std::vector<std::string>& headers, const std::string& title,
                    int extraWidth = 0, int extraHeight = 0, int helpId = 0,
                    bool* cancelled = nullptr);

// The editable grid on one work area.
class EditGrid {
  public:
    EditGrid(dbf::WorkArea& area, QTableView* view);
    ~EditGrid();
    QTableView* view() const { return view_; }
    dbf::WorkArea& area() { return area_; }
    tk::Browse& browse() { return *browse_; }

    // Adds a blank record and goes to it.
    void addRecord();
    // RECDELETE: asks, then deletes the current record.
    void recDelete();
    // RECMODIFY: edits the fields of the current row in order, from field 1,
    // until the last one or the first cell left without confirming.
    void recModify();
    // EDITCELL: one cell (column from 0); memo fields in the text editor.
    void editCell(int row, int column);
    // KEYDOWN / KEYCHAR: Delete deletes, Enter modifies; true when handled.
    bool keyDown(int qtKey);
    bool keyChar(int qtKey);
    void refresh();
    bool editing() const { return editing_; }

    // The in-cell editor (object name "editorCelda"), modal over the cell:
    // the value on Enter, nothing on Escape or when the focus leaves.
    std::optional<xb::Value> editInCell(int row, int column, const xb::Value& value);
    // The text editor for memo fields (object name "editorMemo").
    static std::optional<std::string> editText(const std::string& text, const QString& caption,
                                               QWidget* owner);

  private:
    bool writeField(int field, const xb::Value& v);

    dbf::WorkArea& area_;
    QTableView* view_;
    std::unique_ptr<tk::WorkAreaRows> rows_;
    std::unique_ptr<tk::Browse> browse_;
    std::unique_ptr<QObject> filter_;
    bool editing_ = false;
};

// The grid open now (for the action functions called by name), or nullptr.
EditGrid* activeGrid();

// MIBROWSEG: the grid dialog from the template "Edit_Tabl".
void MIBROWSEG(const std::string& title);

// REPMIBRW: prints `area` (the current one when null) as a list titled
// `title` (the alias when empty). False when nothing was printed.
bool REPMIBRW(dbf::WorkArea* area, const std::string& title);

// FINFO1/FINFO2: blocks giving the name / current value of field n in alias.
xb::Value FINFO1(const std::string& alias, int field);
xb::Value FINFO2(const std::string& alias, int field);

void registerGridFunctions();

}  // namespace ui
