#include "toolkit/testdriver.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include "toolkit/dialog.h"

namespace tk::test {

// ---------------------------------------------------------------- Handle

Handle::Handle(QWidget* window) : window_(window) {
    if (Dialog* d = dialog()) form_ = &d->form();
}

Dialog* Handle::dialog() const {
    return qobject_cast<Dialog*>(window_.data());
}

Handle& Handle::onPage(int folderId, int n) {
    form_ = &dialog()->page(folderId, n);
    return *this;
}

Handle& Handle::onDialog() {
    form_ = dialog() ? &dialog()->form() : nullptr;
    return *this;
}

QWidget* Handle::control(int id) const {
    if (form_ != nullptr) return form_->control(id);
    for (QWidget* w : window_->findChildren<QWidget*>())
        if (w->property("ctlId").toInt() == id) return w;
    return nullptr;
}

void Handle::focus(int id) {
    QWidget* w = control(id);
    if (w == nullptr) return;
    // Show the page holding the control, as a user would click its tab.
    for (QWidget* p = w->parentWidget(); p != nullptr && p != window_; p = p->parentWidget())
        if (auto* tabs = qobject_cast<QTabWidget*>(
                p->parentWidget() ? p->parentWidget()->parentWidget() : nullptr))
            if (tabs->indexOf(p) >= 0) tabs->setCurrentWidget(p);
    window_->activateWindow();
    QApplication::setActiveWindow(window_);
    w->setFocus(Qt::MouseFocusReason);
    QApplication::processEvents();
}

bool Handle::type(int id, const QString& text, bool leave) {
    focus(id);
    QWidget* w = control(id);
    if (w == nullptr) return false;
    for (QChar ch : text) {
        // The key code matters little to the fields; the text is what they type.
        const char16_t u = ch.toUpper().unicode();
        const auto code = u >= 0x20 && u < 0x7f ? static_cast<Qt::Key>(u) : Qt::Key_unknown;
        QTest::sendKeyEvent(QTest::Click, w, code, QString(ch), Qt::NoModifier);
    }
    if (!leave) return false;
    QTest::keyClick(w, Qt::Key_Tab);
    QApplication::processEvents();
    return QApplication::focusWidget() != w;
}

void Handle::key(int id, int qtKey, Qt::KeyboardModifiers mods) {
    QWidget* w = control(id);
    if (w == nullptr) return;
    if (QApplication::focusWidget() != w) focus(id);
    QTest::keyClick(w, static_cast<Qt::Key>(qtKey), mods);
}

void Handle::choose(int id, const QString& item) {
    if (auto* c = qobject_cast<QComboBox*>(control(id))) {
        const int i = c->findText(item);
        if (i >= 0) c->setCurrentIndex(i);
    }
}

void Handle::choose(int id, int item) {
    if (auto* c = qobject_cast<QComboBox*>(control(id))) c->setCurrentIndex(item - 1);
}

void Handle::check(int id, bool on) {
    if (auto* c = qobject_cast<QAbstractButton*>(control(id)))
        if (c->isChecked() != on) c->click();
}

void Handle::press(int id) {
    if (auto* b = qobject_cast<QAbstractButton*>(control(id))) {
        if (!b->isEnabled()) return;
        if (b->focusPolicy() == Qt::NoFocus) {
            b->click();  // takes no focus: the field being edited is not left
            return;
        }
        // The field being left runs its validation first, as a mouse click would.
        b->setFocus(Qt::MouseFocusReason);
        QApplication::processEvents();
        if (QApplication::focusWidget() != b && b->focusPolicy() != Qt::NoFocus &&
            window_->isActiveWindow())
            return;
        b->click();
    }
}

void Handle::pressCaption(const QString& caption) {
    for (QAbstractButton* b : window_->findChildren<QAbstractButton*>()) {
        QString t = b->text();
        if (t == caption || t.remove(QLatin1Char('&')).trimmed() ==
                                QString(caption).remove(QLatin1Char('&')).trimmed()) {
            if (b->isEnabled()) b->click();
            return;
        }
    }
}

void Handle::close() {
    window_->close();
}

QString Handle::text(int id) const {
    QWidget* w = control(id);
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    if (auto* c = qobject_cast<QComboBox*>(w)) return c->currentText();
    return {};
}

int Handle::focusedId() const {
    QWidget* f = QApplication::focusWidget();
    return f ? f->property("ctlId").toInt() : 0;
}

// ---------------------------------------------------------------- Driver

Driver::Driver() {
    setMsgBoxObserver([this](const BoxShown& box) {
        boxes_.push_back(box);
        if (!answers_.empty()) {
            const int a = answers_.front();
            answers_.pop_front();
            return a;
        }
        return box.buttons.size() <= 1 ? 1 : 0;
    });
    setMeterObserver([this](const MeterState& s) { meters_.push_back(s); });
}

Driver::~Driver() {
    setMsgBoxObserver({});
    setMeterObserver({});
    for (auto& p : pending_) delete p->timer;
    delete watchdog_;
}

void Driver::whenOpen(const QString& which, std::function<void(Handle&)> act, int timeoutMs) {
    auto p = std::make_unique<Pending>();
    p->which = which;
    p->act = std::move(act);
    p->deadline = QDateTime::currentMSecsSinceEpoch() + timeoutMs;
    p->timer = new QTimer;
    p->timer->setInterval(15);
    const size_t index = pending_.size();
    QObject::connect(p->timer, &QTimer::timeout, [this, index] { poll(index); });
    p->timer->start();
    pending_.push_back(std::move(p));
}

void Driver::answer(std::initializer_list<int> buttons) {
    for (int b : buttons) answers_.push_back(b);
}

QStringList Driver::boxTexts() const {
    QStringList out;
    for (const BoxShown& b : boxes_) out << b.text;
    return out;
}

bool Driver::allRun() const {
    // A window the watchdog had to close counts against the run too: a test
    // whose dialogs stay open has not done what it meant to.
    if (!failures_.isEmpty()) return false;
    for (const auto& p : pending_)
        if (!p->done) return false;
    return true;
}

QWidget* Driver::findWindow(const QString& which) {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (!w->isVisible()) continue;
        if (auto* d = qobject_cast<Dialog*>(w);
            d && d->templateName().compare(which, Qt::CaseInsensitive) == 0)
            return w;
        if (w->objectName().compare(which, Qt::CaseInsensitive) == 0 || w->windowTitle() == which)
            return w;
    }
    return nullptr;
}

void Driver::poll(size_t index) {
    Pending& p = *pending_[index];
    if (p.done) return;
    // Handlers run in the order they were given.
    for (size_t i = 0; i < index; ++i)
        if (!pending_[i]->done) return;
    QWidget* w = findWindow(p.which);
    bool seen = false;
    for (const QPointer<QWidget>& h : handled_) seen = seen || h == w;
    if (w != nullptr && !seen) {
        p.done = true;
        p.timer->stop();
        handled_ << w;
        Handle h(w);
        p.act(h);
        return;
    }
    if (QDateTime::currentMSecsSinceEpoch() > p.deadline) {
        p.done = true;
        p.timer->stop();
        failures_ << QStringLiteral("no se abrió: ") + p.which;
    }
}

void Driver::watchdog(int ms) {
    delete watchdog_;
    watchdog_ = new QTimer;
    watchdog_->setSingleShot(true);
    QObject::connect(watchdog_, &QTimer::timeout, [this] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible()) {
                failures_ << QStringLiteral("quedó abierto: ") + d->windowTitle();
                d->hide();  // ends its modal loop without asking its closing rule
            }
        }
    });
    watchdog_->start(ms);
}

}  // namespace tk::test
