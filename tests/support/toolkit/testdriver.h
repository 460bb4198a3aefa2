// Acts inside any modal loop as a user would: waits for a dialog to open (by
// template name or caption), types into its controls by ID and leaves them
// (so their validation runs), chooses items, presses buttons, closes the
// window; answers message boxes and keeps what every box showed. Used by
// the tests of every dialog of the program; the dialogs' own code runs
// unchanged.
#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "toolkit/msgbox.h"
#include "toolkit/smalldialogs.h"

class QWidget;
class QTimer;

namespace tk {

class Dialog;
class Form;

namespace test {

// User actions on one open window.
class Handle {
  public:
    explicit Handle(QWidget* window);
    QWidget* window() const { return window_; }
    Dialog* dialog() const;  // nullptr when the window is no template dialog

    // Controls of the dialog itself, or of page `n` of folder `folderId`
    // after onPage().
    Handle& onPage(int folderId, int n);
    Handle& onDialog();
    QWidget* control(int id) const;

    // Gives the field the focus, types `text` key by key and, when `leave`,
    // presses Tab. Returns true when the focus left the field.
    bool type(int id, const QString& text, bool leave = true);
    // Presses one key in the control (Enter, Escape, Home...).
    void key(int id, int qtKey, Qt::KeyboardModifiers mods = Qt::NoModifier);
    void focus(int id);
    // Drop-down lists: by item text or by number from 1.
    void choose(int id, const QString& item);
    void choose(int id, int item);
    void check(int id, bool on);
    void press(int id);
    void pressCaption(const QString& caption);
    // The window's close box.
    void close();
    // What the control shows (entry, label, button, combo's current item).
    QString text(int id) const;
    // ID of the control holding the focus (0 when none or no control).
    int focusedId() const;

  private:
    QPointer<QWidget> window_;
    Form* form_ = nullptr;
};

class Driver {
  public:
    Driver();
    ~Driver();
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;

    // Runs `act` as soon as a window whose template name, object name or
    // caption is `which` is open, inside that window's modal loop. Handlers
    // are used once, in the order their windows appear.
    void whenOpen(const QString& which, std::function<void(Handle&)> act, int timeoutMs = 5000);
    // Answers for the next message boxes, button numbers from 1 (0 = closed,
    // -1 = let the box show for real, for a whenOpen handler to answer).
    // With no answer queued, a box with one button is accepted and any
    // other is closed.
    void answer(std::initializer_list<int> buttons);
    const std::vector<BoxShown>& boxes() const { return boxes_; }
    QStringList boxTexts() const;
    // Every meter state shown (title, text, total, position), in order.
    const std::vector<MeterState>& meters() const { return meters_; }

    // Handlers not run before their timeout, and windows closed by the
    // watchdog because no handler took them.
    const QStringList& failures() const { return failures_; }
    bool allRun() const;
    // Closes, after `ms`, any modal window still open, so that a test that
    // went wrong ends instead of waiting for a user (recorded as a failure).
    void watchdog(int ms = 10000);

    // Finds an open window by template name, object name or caption.
    static QWidget* findWindow(const QString& which);

  private:
    struct Pending {
        QString which;
        std::function<void(Handle&)> act;
        qint64 deadline;
        bool done = false;
        QTimer* timer = nullptr;  // one each: a timer never fires inside its own handler
    };
    void poll(size_t index);

    std::vector<std::unique_ptr<Pending>> pending_;
    std::deque<int> answers_;
    std::vector<BoxShown> boxes_;
    std::vector<MeterState> meters_;
    QStringList failures_;
    QList<QPointer<QWidget>> handled_;
    QTimer* watchdog_ = nullptr;
};

}  // namespace test
}  // namespace tk
