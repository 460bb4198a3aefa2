// Dialogs built from the templates of the resource library. A template is a
// Qt Designer file whose controls carry their numeric control ID; the program
// finds controls by ID and binds its values, pictures, rules and actions to
// them. Folders (QTabWidget) take their pages from page templates; every
// page is a Form of its own, because page templates reuse IDs.
#pragma once

#include <QBrush>
#include <QColor>
#include <QDialog>
#include <QHash>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "toolkit/entrymask.h"
#include "xbase/value.h"

class QAction;
class QComboBox;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QLabel;

namespace tk {

inline const QColor kDialogBrush{255, 235, 175};
inline const QColor kFocusedEntry{225, 255, 200};
inline const QColor kReadOnlyGrey{230, 230, 230};

// The brick pattern a few dialogs (the company selection) take as their
// background: red bricks in running bond with light mortar.
QBrush brickBrush();

// Where buttons put their status-bar message while the mouse is over them
// (the main window installs its status bar here).
void setStatusSink(std::function<void(const QString&)> sink);
void showStatus(const QString& text);

// The calendar the date fields open with F4 or Alt+Down (and their small
// button): given the field's date (a julian day, 0 when empty) and the
// window to stay over, it answers the day picked, or nothing when the user
// left it (Escape). The program's calendar installs itself here.
using DatePicker = std::function<std::optional<int32_t>(int32_t start, QWidget* owner)>;
void setDatePicker(DatePicker picker);

class EntryField;
// Leaves the entry field that has the focus in `window`, as Tab would (its
// value is assigned and validated). False when the field refused its value;
// true when it accepted it or the focus is in no entry field.
bool leaveFocusedEntry(QWidget* window);

// The kind of a control as the templates carry it: "entry", "button", "grid",
// "combo", "check", "radio", "memo", "text", "frame", "bitmap", "icon",
// "folder", "month"; empty for widgets that are no control.
QString controlKind(const QWidget* w);

struct EntryBinding {
    std::function<xb::Value()> get;
    std::function<void(const xb::Value&)> set;
    std::string picture;          // xBase picture, e.g. "@K!" or "99-99-9999"
    std::function<bool()> valid;  // run when the field is left; false keeps the focus
    std::function<bool()> when;   // enabling condition, checked on every refresh
    bool readOnly = false;
    bool confirm = true;     // a full field is left only by Enter or Tab
    std::string dateFormat;  // empty: the session's, as it is when editing starts
};

class EntryField;

struct ButtonSpec {
    QString caption;  // empty keeps the template's; "-" for none
    QString bitmaps;  // "Normal|Pressed" or one name; empty keeps the template's
    QString tooltip;
    QString message;  // status-bar message; the tooltip when empty
    std::function<void()> action;
    // A cancel button acts without leaving the field being edited, so that
    // no validation stands in its way.
    bool cancel = false;
};

// The controls of one template (a dialog or a folder page) by ID.
class Form {
  public:
    explicit Form(QWidget* root);
    QWidget* root() const { return root_; }
    // The control with `id`; a runtime error (xb::Break) when the template has none.
    QWidget* control(int id) const;
    QWidget* find(int id) const;  // nullptr when absent
    template <class T>
    T* ctl(int id) const {
        return qobject_cast<T*>(control(id));
    }
    QList<int> ids() const { return byId_.keys(); }

    EntryField* bindEntry(int id, EntryBinding binding);
    EntryField* entry(int id) const;
    QPushButton* bindButton(int id, const ButtonSpec& button);
    QComboBox* bindCombo(int id, const QStringList& items, std::function<int()> get,
                         std::function<void(int)> set, std::function<void(int)> onChange = {});
    void bindCheck(int id, std::function<bool()> get, std::function<void(bool)> set,
                   std::function<void(bool)> onToggle = {});
    // Radio items `ids` form one group; get/set work with the item number
    // (1-based, 0 = none chosen).
    void bindRadios(const QList<int>& ids, std::function<int()> get, std::function<void(int)> set);
    void bindMemo(int id, std::function<xb::Value()> get, std::function<void(const xb::Value&)> set,
                  bool readOnly = false);
    void setText(int id, const QString& text);
    void setColors(int id, const QColor& fg, const QColor& bg = QColor());
    void setEnabled(int id, bool on);
    // The static text `id` keeps the width its template gave it (and any
    // room left beside it): a longer text shows its beginning, and the whole
    // text as its tooltip, instead of widening the window.
    void keepTextWidth(int id);
    // Makes every static text transparent over the dialog's background.
    void makeTextsTransparent();
    // Re-reads every bound value and enabling condition.
    void refresh();
    // Writes every entry's value back through its binding (without validation).
    void commit();

  private:
    QWidget* root_;
    QHash<int, QWidget*> byId_;
    QHash<int, EntryField*> entries_;
    std::vector<std::function<void()>> refreshers_;
};

class Dialog : public QDialog {
    Q_OBJECT
  public:
    // Builds the dialog from `templateName`; a runtime error when the
    // library lacks it or one of its page templates.
    explicit Dialog(const QString& templateName, QWidget* owner = nullptr);
    ~Dialog() override;

    const QString& templateName() const { return name_; }
    Form& form() { return *form_; }
    // Page `n` (1-based) of the folder `folderId`.
    Form& page(int folderId, int n);
    int pageCount(int folderId);
    void setPageEnabled(int folderId, int n, bool on);

    // Shortcuts to the dialog's own form.
    QWidget* control(int id) const { return form_->control(id); }
    template <class T>
    T* ctl(int id) const {
        return form_->ctl<T>(id);
    }
    EntryField* bindEntry(int id, EntryBinding b) { return form_->bindEntry(id, std::move(b)); }
    QPushButton* bindButton(int id, const ButtonSpec& s) { return form_->bindButton(id, s); }

    // The closing rule: asked whenever the dialog is about to close (button,
    // Escape or the window's close box); false keeps it open.
    void setCloseRule(std::function<bool()> rule) { closeRule_ = std::move(rule); }
    // Run once, right after the dialog first shows.
    void setOnInit(std::function<void()> action) { onInit_ = std::move(action); }
    void setBrush(const QColor& c);
    // A patterned background (e.g. brickBrush()).
    void setBrush(const QBrush& b);
    const QBrush& brush() const { return brush_; }

    // Modal: shows centred over the owner and returns the result given to end()
    // (0 when closed otherwise).
    int run();
    // Modeless: shows centred and returns at once.
    void showModeless();
    // Closes with `result` when the closing rule allows it; returns false when refused.
    bool end(int result = 1);
    void refresh();

    // Every live dialog built from a template (for the test driver).
    static QList<Dialog*> openDialogs();
    // Every dialog built from a template and not destroyed yet, shown or not.
    static QList<Dialog*> liveDialogs();

  protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void reject() override;
    void done(int r) override;

  private:
    void loadPages(QTabWidget* folder);
    void centre();
    // Moves the window back inside the screen when its first filling made it
    // grow past an edge.
    void keepOnScreen();

    QString name_;
    std::unique_ptr<Form> form_;
    std::map<int, std::vector<std::unique_ptr<Form>>> pages_;
    std::function<bool()> closeRule_;
    std::function<void()> onInit_;
    QBrush brush_{kDialogBrush};
    bool initDone_ = false;
    bool closingChecked_ = false;
};

// The entry field: a QLineEdit edited through its picture.
class EntryField : public QObject {
    Q_OBJECT
  public:
    EntryField(QLineEdit* edit, EntryBinding binding);
    QLineEdit* edit() const { return edit_; }
    const EntryBuffer& buffer() const { return buf_; }
    // Re-reads the bound value.
    void refresh();
    // Leaves the field as Tab would: assigns the value and runs validation;
    // false when the value was refused (the focus stays).
    bool leave();
    xb::Value value() const;
    // A date field: opens the calendar on the field's date and puts the day
    // picked in the field, which goes on being edited. Nothing happens on a
    // read-only, disabled or non-date field, nor when the calendar is left.
    void pickDate();
    bool holdsDate() const { return buf_.type() == 'D'; }
    void setReadOnly(bool ro);
    void setColors(const QColor& fg, const QColor& bg);

  signals:
    void left();

  protected:
    bool eventFilter(QObject* o, QEvent* e) override;

  private:
    void show();
    void restyle();
    // The small calendar button inside a date field: shown while the field
    // takes typing and the date still fits beside it.
    void placeDateButton();
    // Starts editing when the field has the focus (or is getting it) and is
    // not being edited yet, e.g. after leave() kept the focus in it.
    void beginEdit(bool focusing = false);
    // Erases the selected part of the text; false when nothing is selected.
    bool eraseSelection();
    // Tells why a value was refused (an empty reason: already told) and
    // keeps the focus in the field.
    void refuse(const QString& why);

    QLineEdit* edit_;
    EntryBinding b_;
    EntryBuffer buf_;
    bool editing_ = false;
    bool validating_ = false;
    QColor fg_, bg_;
    QAction* dateButton_ = nullptr;
};

}  // namespace tk
