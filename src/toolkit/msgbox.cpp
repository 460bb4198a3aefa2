#include "toolkit/msgbox.h"

#include <QApplication>
#include <QFile>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>
#include <QTextStream>
#include <QTimer>

namespace tk {

namespace {

MsgBoxObserver& observer() {
    static MsgBoxObserver obs;
    return obs;
}

QMessageBox::Icon iconFor(BoxKind kind) {
    switch (kind) {
        case BoxKind::Info:
            return QMessageBox::Information;
        case BoxKind::Stop:
            return QMessageBox::Critical;
        case BoxKind::Question:
            return QMessageBox::Question;
        case BoxKind::Alert:
            return QMessageBox::Warning;
    }
    return QMessageBox::NoIcon;
}

// With VDR_MSGLOG set every box is appended to that file ("title|text" on
// one line, line breaks as "\n") before it is shown.
void logBox(const BoxShown& box) {
    const QString logPath = qEnvironmentVariable("VDR_MSGLOG");
    if (logPath.isEmpty()) return;
    QFile log(logPath);
    if (log.open(QIODevice::Append | QIODevice::Text)) {
        QTextStream out(&log);
        QString text = box.text;
        text.replace(QLatin1Char('\n'), QLatin1String("\\n"));
        out << box.title << '|' << text << '\n';
    }
}

// Only a build with its tests lets the environment answer the boxes, so that
// the tests can drive the real executable offscreen: VDR_MSGANSWERS (button
// numbers separated by commas, used in order; past them a box with one
// button is accepted and any other closed). The released program always
// asks the person in front of it.
int answerFromEnvironment([[maybe_unused]] const BoxShown& box) {
#ifdef VDR_BOX_ANSWERS_FROM_ENV
    if (!qEnvironmentVariableIsSet("VDR_MSGANSWERS")) return -1;
    static int next = 0;
    const QStringList answers =
        qEnvironmentVariable("VDR_MSGANSWERS").split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (next < answers.size()) return answers.at(next++).toInt();
    return box.buttons.size() <= 1 ? 1 : 0;
#else
    return -1;
#endif
}

}  // namespace

void setMsgBoxObserver(MsgBoxObserver obs) {
    observer() = std::move(obs);
}

namespace {
int g_boxesAsked = 0;
}  // namespace

int boxesAsked() {
    return g_boxesAsked;
}

FocusReturn::FocusReturn()
    : focus_(QApplication::focusWidget()), window_(QApplication::activeWindow()) {
    if (!window_ && focus_) window_ = focus_->window();
}

FocusReturn::~FocusReturn() {
    QWidget* w = window_.data();
    if (w == nullptr || !w->isVisible()) return;
    w->activateWindow();
    if (focus_ && focus_->window() == w && focus_->isVisible() && focus_->isEnabled())
        focus_->setFocus(Qt::ActiveWindowFocusReason);
}

int showBox(BoxKind kind, const QString& title, const QString& text, const QStringList& buttons,
            QWidget* owner, int defaultButton) {
    ++g_boxesAsked;
    BoxShown shown{kind, title, text,
                   buttons.isEmpty() ? QStringList{QStringLiteral("&Aceptar")} : buttons};
    if (observer()) {
        int answer = observer()(shown);
        if (answer >= 0) return answer;
    }
    logBox(shown);
    int env = answerFromEnvironment(shown);
    if (env >= 0) return env;

    QMessageBox box(iconFor(kind), title, text, QMessageBox::NoButton, owner);
    // A box sized by a short text would cut its own caption ("Aten...n.....")
    // in the window frame: it is made as wide as the caption, with room for
    // the frame's icon and buttons.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        QFont captionFont = box.font();
        captionFont.setBold(true);
        const int wide = QFontMetrics(captionFont).horizontalAdvance(title) + 120;
        grid->addItem(new QSpacerItem(wide, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
    QList<QAbstractButton*> made;
    for (const QString& caption : shown.buttons)
        made.append(box.addButton(caption, QMessageBox::AcceptRole));
    if (defaultButton >= 1 && defaultButton <= made.size())
        box.setDefaultButton(qobject_cast<QPushButton*>(made.at(defaultButton - 1)));
    // With several buttons the close button of the frame answers 0; with one, it
    // is the same as pressing it.
    if (made.size() == 1) {
        box.setEscapeButton(made.first());
    } else {
        // QMessageBox refuses to close without an escape button: give it a
        // hidden one, so that the close box and Escape answer 0.
        QPushButton* closer = box.addButton(QMessageBox::Cancel);
        closer->hide();
        box.setEscapeButton(closer);
    }
    {
        const FocusReturn back;
        box.exec();
    }
    const int index = static_cast<int>(made.indexOf(box.clickedButton()));
    return index < 0 ? 0 : index + 1;
}

void msgInfo(const QString& text, const QString& title, QWidget* owner) {
    showBox(BoxKind::Info, title, text, {}, owner);
}

void msgStop(const QString& text, const QString& title, QWidget* owner) {
    showBox(BoxKind::Stop, title, text, {}, owner);
}

bool msgYesNo(const QString& text, const QString& title, const QString& yes, const QString& no,
              QWidget* owner) {
    return showBox(BoxKind::Question, title, text, {yes, no}, owner) == 1;
}

}  // namespace tk
