// Message boxes with the program's Spanish texts. Every box goes through here,
// so that tests can read what was shown and answer it (see MsgBoxObserver).
#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace tk {

enum class BoxKind { Info, Stop, Question, Alert };

struct BoxShown {
    BoxKind kind;
    QString title;
    QString text;
    QStringList buttons;  // captions as given, "&" included
};

// An observer sees every box before it is shown. Returning a button number
// (1-based) answers the box without showing it; 0 closes it as the window's
// close button would; -1 lets the box show normally.
using MsgBoxObserver = std::function<int(const BoxShown&)>;
void setMsgBoxObserver(MsgBoxObserver observer);

// Returns the number of the button pressed (1-based), or 0 when the box was
// closed without a button.
int showBox(BoxKind kind, const QString& title, const QString& text, const QStringList& buttons,
            QWidget* owner = nullptr, int defaultButton = 1);

// How many boxes have been asked for since the program started (shown,
// answered by an observer or from the environment alike). Lets a caller tell
// whether a step it ran already told the user something.
int boxesAsked();

// Gives the focus back, when it goes out of scope, to the widget that had it
// when it was made (or to the window that was active then), so that keys
// typed after a modal window closes go where the user was typing and never
// to a window or button behind it.
class FocusReturn {
  public:
    FocusReturn();
    ~FocusReturn();
    FocusReturn(const FocusReturn&) = delete;
    FocusReturn& operator=(const FocusReturn&) = delete;

  private:
    QPointer<QWidget> focus_;
    QPointer<QWidget> window_;
};

void msgInfo(const QString& text, const QString& title = QString(), QWidget* owner = nullptr);
void msgStop(const QString& text, const QString& title = QString(), QWidget* owner = nullptr);
// Yes/no question with the given captions; true only for the first button.
bool msgYesNo(const QString& text, const QString& title,
              const QString& yes = QStringLiteral("  &Si  "),
              const QString& no = QStringLiteral("  &No  "), QWidget* owner = nullptr);

}  // namespace tk
