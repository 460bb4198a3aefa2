#include "toolkit/dialog.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QEvent>
#include <QFile>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QTabWidget>
#include <QTableView>
#include <QTextCharFormat>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QUiLoader>

#include "toolkit/msgbox.h"
#include "toolkit/resources.h"
#include "toolkit/text.h"
#include "xbase/date.h"
#include "xbase/runtime.h"

namespace tk {

namespace {
// A field without its own date format follows the session's, which the
// calendar may have changed since the dialog was built.
std::string dateFormatOf(const EntryBinding& b) {
    return b.dateFormat.empty() ? xb::effectiveDateFormat() : b.dateFormat;
}
}  // namespace

namespace {

// Set while the events of a refused validation are being handled: a button
// whose press made the field being left refuse its value does not act (the
// user is kept in the field, as the validation wants).
bool g_refusedPending = false;

std::function<void(const QString&)>& statusSink() {
    static std::function<void(const QString&)> sink;
    return sink;
}

QList<QPointer<Dialog>>& registry() {
    static QList<QPointer<Dialog>> list;
    return list;
}

// A template's text. Once told to keep its width (Form::keepTextWidth) it
// asks the layout for no more room than its template text needed, whatever
// text it is given later; a text longer than the room it gets shows its
// beginning, and the whole text as its tooltip.
class TextLabel : public QLabel {
  public:
    explicit TextLabel(QWidget* parent) : QLabel(parent) {}

    void keepWidth() {
        if (keep_) return;
        width_ = QLabel::sizeHint().width();
        keep_ = true;
        QSizePolicy sp = sizePolicy();
        sp.setHorizontalPolicy(QSizePolicy::Expanding);
        setSizePolicy(sp);
        // In a row, the room left over is the text's rather than a spacer's.
        if (parentWidget() != nullptr)
            if (QBoxLayout* row = rowOf(parentWidget()->layout())) row->setStretchFactor(this, 1);
        updateGeometry();
    }
    QSize sizeHint() const override {
        const QSize s = QLabel::sizeHint();
        return keep_ ? QSize(width_, s.height()) : s;
    }
    QSize minimumSizeHint() const override {
        const QSize s = QLabel::minimumSizeHint();
        return keep_ ? QSize(std::min(width_, s.width()), s.height()) : s;
    }

  protected:
    void paintEvent(QPaintEvent* e) override {
        const QString shown = keep_ ? elided() : text();
        if (shown == text()) {
            QLabel::paintEvent(e);
            return;
        }
        QPainter p(this);
        drawFrame(&p);
        style()->drawItemText(&p, room(),
                              int(QStyle::visualAlignment(layoutDirection(), alignment())),
                              palette(), isEnabled(), shown, foregroundRole());
    }
    bool event(QEvent* e) override {
        if (keep_ && e->type() == QEvent::ToolTip && toolTip().isEmpty()) {
            const auto* help = static_cast<QHelpEvent*>(e);
            if (elided() != text())
                QToolTip::showText(help->globalPos(), text(), this);
            else
                QToolTip::hideText();
            return true;
        }
        return QLabel::event(e);
    }

  private:
    QBoxLayout* rowOf(QLayout* layout) const {
        if (layout == nullptr) return nullptr;
        auto* box = qobject_cast<QBoxLayout*>(layout);
        if (box != nullptr && box->indexOf(this) >= 0) return box;
        for (int i = 0; i < layout->count(); ++i)
            if (QBoxLayout* found = rowOf(layout->itemAt(i)->layout())) return found;
        return nullptr;
    }
    QRect room() const {
        const int m = margin();
        return contentsRect().adjusted(m, m, -m, -m);
    }
    QString elided() const {
        if (textFormat() == Qt::RichText || wordWrap() || !pixmap().isNull()) return text();
        return fontMetrics().elidedText(text(), Qt::ElideRight, room().width());
    }

    bool keep_ = false;
    int width_ = 0;
};

// The template's root is the Dialog itself, so that the widgets the loader
// makes live in the object the program holds.
class Loader : public QUiLoader {
  public:
    explicit Loader(QWidget* root) : root_(root) {}
    QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override {
        // The first widget made is the template's root, whatever the owner.
        if (root_ != nullptr && className == QLatin1String("QDialog")) {
            QWidget* r = root_;
            root_ = nullptr;
            r->setObjectName(name);
            return r;
        }
        if (className == QLatin1String("QLabel")) {
            auto* l = new TextLabel(parent);
            l->setObjectName(name);
            return l;
        }
        return QUiLoader::createWidget(className, parent, name);
    }

  private:
    QWidget* root_;
};

QWidget* loadTemplate(const QString& name, QWidget* root, QWidget* parent) {
    const QString path = ResourceLibrary::templatePath(name);
    if (path.isEmpty())
        raiseResourceError(
            resource::kTemplate, name,
            QStringLiteral("No existe la plantilla de diálogo \"%1\" en la biblioteca de recursos")
                .arg(name));
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        raiseResourceError(
            resource::kTemplate, name,
            QStringLiteral("No se pudo leer la plantilla de diálogo \"%1\"").arg(name));
    Loader loader(root);
    QWidget* w = loader.load(&f, parent);
    if (w == nullptr)
        raiseResourceError(resource::kTemplate, name,
                           QStringLiteral("La plantilla de diálogo \"%1\" está dañada: %2")
                               .arg(name, loader.errorString()));
    return w;
}

const char* kStyle =
    "QLineEdit:focus { background-color: rgb(225,255,200); }"
    "QFrame[box=\"white\"] { border: 1px solid white; }"
    "QFrame[box=\"black\"] { border: 1px solid black; }"
    "QFrame[box=\"grey\"] { border: 1px solid rgb(0,128,0); background-color: rgb(192,192,192); }"
    "QFrame[box=\"yellow\"] { border: 1px solid rgb(120,120,120); background-color: "
    "rgb(255,255,152); }";

void paintBrush(QWidget* w, const QBrush& b) {
    QPalette pal = w->palette();
    pal.setBrush(QPalette::Window, b);
    w->setPalette(pal);
    w->setAutoFillBackground(true);
}

// Status-bar message and pressed bitmap of a button.
class ButtonLook : public QObject {
  public:
    ButtonLook(QPushButton* b, const QString& normal, const QString& pressed,
               const QString& message)
        : QObject(b), b_(b), message_(message) {
        if (!normal.isEmpty()) {
            normal_ = QIcon(bitmap(normal));
            pressed_ = pressed.isEmpty() ? normal_ : QIcon(bitmap(pressed));
            b->setIcon(normal_);
            b->setIconSize(QSize(24, 24));
            connect(b, &QPushButton::pressed, this, [this] { b_->setIcon(pressed_); });
            connect(b, &QPushButton::released, this, [this] { b_->setIcon(normal_); });
        }
        b->installEventFilter(this);
        connect(b, &QPushButton::pressed, this, [this] { refusedAtPress_ = g_refusedPending; });
    }
    void setMessage(const QString& m) { message_ = m; }
    bool refusedAtPress() const { return refusedAtPress_; }

  protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Enter && !message_.isEmpty()) showStatus(message_);
        return false;
    }

  private:
    bool refusedAtPress_ = false;
    QPushButton* b_;
    QIcon normal_, pressed_;
    QString message_;
};

// ButtonLook has no meta-object of its own, so it is told apart by its C++ type.
ButtonLook* lookOf(QPushButton* b) {
    for (QObject* c : b->children())
        if (auto* l = dynamic_cast<ButtonLook*>(c)) return l;
    return nullptr;
}

void applyButtonLook(QPushButton* b, const QString& bitmaps, const QString& message) {
    while (ButtonLook* old = lookOf(b)) {
        b->removeEventFilter(old);
        delete old;
    }
    const QStringList names = bitmaps.split(QLatin1Char('|'), Qt::SkipEmptyParts);
    new ButtonLook(b, names.value(0), names.value(1), message);
}

// A month control as the program shows it: weeks from Sunday, Spanish names,
// black days on white, a navy title band, today and the chosen day in green.
void setUpMonth(QCalendarWidget* c) {
    c->setLocale(QLocale(QLocale::Spanish, QLocale::Spain));
    c->setFirstDayOfWeek(Qt::Sunday);
    c->setHorizontalHeaderFormat(QCalendarWidget::ShortDayNames);
    QTextCharFormat plain;
    plain.setForeground(Qt::black);
    for (Qt::DayOfWeek d : {Qt::Saturday, Qt::Sunday}) c->setWeekdayTextFormat(d, plain);
    QTextCharFormat today;
    today.setForeground(QColor(0, 128, 0));
    today.setFontWeight(QFont::Bold);
    c->setDateTextFormat(QDate::currentDate(), today);
    // The month's name is a caption: no list of months behind it, which
    // would take one month of the year away from its place, and no arrow.
    if (auto* name = c->findChild<QToolButton*>(QStringLiteral("qt_calendar_monthbutton")))
        name->setMenu(nullptr);
    c->setStyleSheet(QStringLiteral(
        "QCalendarWidget QWidget#qt_calendar_navigationbar { background-color: rgb(0,0,128); }"
        "QCalendarWidget QToolButton { color: white; background-color: rgb(0,0,128); }"
        "QCalendarWidget QToolButton::menu-indicator { image: none; width: 0px; }"
        "QCalendarWidget QAbstractItemView { background-color: white; color: black;"
        " selection-background-color: rgb(0,128,0); selection-color: white; }"));
}

void focusNext(QWidget* from, bool backward = false) {
    QWidget* w = from;
    for (int guard = 0; guard < 1000; ++guard) {
        w = backward ? w->previousInFocusChain() : w->nextInFocusChain();
        if (w == nullptr || w == from) return;
        if (w->window() == from->window() && (w->focusPolicy() & Qt::TabFocus) && w->isEnabled() &&
            w->isVisibleTo(from->window())) {
            w->setFocus(backward ? Qt::BacktabFocusReason : Qt::TabFocusReason);
            return;
        }
    }
}

// The entry field being edited in `window`, if the focus is in one.
EntryField* focusedEntry(QWidget* window) {
    QWidget* f = QApplication::focusWidget();
    if (f == nullptr || f->window() != window) return nullptr;
    return f->findChild<EntryField*>(QString(), Qt::FindDirectChildrenOnly);
}

// Enter in a drop-down list takes the item shown (or, in the open list, the
// item highlighted) and moves on to the next control; it never reaches the
// dialog's default button.
class ComboKeys : public QObject {
  public:
    explicit ComboKeys(QComboBox* c) : QObject(c), c_(c) {
        c->installEventFilter(this);
        c->view()->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() != QEvent::KeyPress) return false;
        const int key = static_cast<QKeyEvent*>(e)->key();
        if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
        if (o == c_) {
            focusNext(c_);
            return true;
        }
        // In the open list: let it choose, then move on once it has closed.
        QTimer::singleShot(0, c_, [c = c_] {
            if (c->hasFocus()) focusNext(c);
        });
        return false;
    }

  private:
    QComboBox* c_;
};

}  // namespace

bool leaveFocusedEntry(QWidget* window) {
    EntryField* f = focusedEntry(window);
    return f == nullptr || f->leave();
}

void setStatusSink(std::function<void(const QString&)> sink) {
    statusSink() = std::move(sink);
}
void showStatus(const QString& text) {
    if (statusSink()) statusSink()(text);
}

QString controlKind(const QWidget* w) {
    if (w == nullptr || !w->property("ctlId").isValid()) return {};
    const QString cls = QString::fromLatin1(w->metaObject()->className());
    if (qobject_cast<const QLineEdit*>(w)) return QStringLiteral("entry");
    if (qobject_cast<const QPushButton*>(w)) return QStringLiteral("button");
    if (qobject_cast<const QTableView*>(w)) return QStringLiteral("grid");
    if (qobject_cast<const QComboBox*>(w)) return QStringLiteral("combo");
    if (qobject_cast<const QCheckBox*>(w)) return QStringLiteral("check");
    if (qobject_cast<const QRadioButton*>(w)) return QStringLiteral("radio");
    if (qobject_cast<const QPlainTextEdit*>(w)) return QStringLiteral("memo");
    if (qobject_cast<const QTabWidget*>(w)) return QStringLiteral("folder");
    if (qobject_cast<const QCalendarWidget*>(w)) return QStringLiteral("month");
    if (qobject_cast<const QLabel*>(w)) {
        if (w->property("bitmap").isValid()) return QStringLiteral("bitmap");
        if (w->property("icon").isValid()) return QStringLiteral("icon");
        return QStringLiteral("text");
    }
    if (cls == QLatin1String("QFrame")) return QStringLiteral("frame");
    return QStringLiteral("other");
}

// ---------------------------------------------------------------- Form

Form::Form(QWidget* root) : root_(root) {
    for (QWidget* w : root->findChildren<QWidget*>()) {
        const QVariant id = w->property("ctlId");
        if (!id.isValid()) continue;
        byId_.insert(id.toInt(), w);
        const QString kind = controlKind(w);
        if (kind == QLatin1String("bitmap")) {
            auto* l = static_cast<QLabel*>(w);
            l->setPixmap(bitmap(w->property("bitmap").toString()));
        } else if (kind == QLatin1String("icon")) {
            auto* l = static_cast<QLabel*>(w);
            l->setPixmap(iconPixmap(w->property("icon").toString(), 32));
        } else if (kind == QLatin1String("button")) {
            auto* b = static_cast<QPushButton*>(w);
            applyButtonLook(b, w->property("bitmaps").toString(), b->toolTip());
        } else if (kind == QLatin1String("month")) {
            setUpMonth(static_cast<QCalendarWidget*>(w));
        } else if (kind == QLatin1String("entry")) {
            if (static_cast<QLineEdit*>(w)->isReadOnly())
                w->setStyleSheet(
                    QStringLiteral("QLineEdit { background-color: rgb(230,230,230); }"));
            const int chars = w->property("chars").toInt();
            if (chars > 0) {
                const int cw = w->fontMetrics().horizontalAdvance(QLatin1Char('0'));
                w->setMinimumWidth(cw * std::min(chars, 40) + 12);
            }
        }
    }
}

QWidget* Form::find(int id) const {
    return byId_.value(id);
}

QWidget* Form::control(int id) const {
    QWidget* w = find(id);
    if (w == nullptr)
        raiseResourceError(resource::kControl, QString::number(id),
                           QStringLiteral("La plantilla \"%1\" no tiene el control %2")
                               .arg(root_->objectName())
                               .arg(id));
    return w;
}

EntryField* Form::bindEntry(int id, EntryBinding binding) {
    auto* edit = qobject_cast<QLineEdit*>(control(id));
    if (edit == nullptr)
        raiseResourceError(resource::kControl, QString::number(id),
                           QStringLiteral("El control %1 de \"%2\" no es un campo de entrada")
                               .arg(id)
                               .arg(root_->objectName()));
    delete entries_.value(id);
    auto* f = new EntryField(edit, std::move(binding));
    entries_.insert(id, f);
    refreshers_.push_back([f] { f->refresh(); });
    return f;
}

EntryField* Form::entry(int id) const {
    return entries_.value(id);
}

QPushButton* Form::bindButton(int id, const ButtonSpec& button) {
    auto* b = qobject_cast<QPushButton*>(control(id));
    if (b == nullptr) return nullptr;
    if (button.caption == QLatin1String("-"))
        b->setText(QString());
    else if (!button.caption.isEmpty())
        b->setText(button.caption);
    if (!button.tooltip.isEmpty()) b->setToolTip(button.tooltip);
    const QString bitmaps =
        button.bitmaps.isEmpty() ? b->property("bitmaps").toString() : button.bitmaps;
    applyButtonLook(b, bitmaps, button.message.isEmpty() ? b->toolTip() : button.message);
    if (button.cancel) b->setFocusPolicy(Qt::NoFocus);
    if (button.action) {
        QObject::disconnect(b, &QPushButton::clicked, nullptr, nullptr);
        auto action = button.action;
        const bool cancel = button.cancel;
        QObject::connect(b, &QPushButton::clicked, b, [b, action, cancel] {
            const ButtonLook* look = lookOf(b);
            if (look != nullptr && look->refusedAtPress()) return;
            // A button pressed by its key (Alt+letter) leaves the focus in the
            // field being edited: that field is left first, as a click would,
            // so that its value counts and its validation runs.
            if (!cancel && !leaveFocusedEntry(b->window())) return;
            action();
        });
    }
    return b;
}

QComboBox* Form::bindCombo(int id, const QStringList& items, std::function<int()> get,
                           std::function<void(int)> set, std::function<void(int)> onChange) {
    auto* c = qobject_cast<QComboBox*>(control(id));
    if (c == nullptr) return nullptr;
    // ComboKeys has no meta-object of its own: a property marks the list as done.
    if (!c->property("vdrComboKeys").toBool()) {
        c->setProperty("vdrComboKeys", true);
        new ComboKeys(c);
    }
    if (!items.isEmpty()) {
        c->clear();
        c->addItems(items);
    }
    auto refresh = [c, get] {
        if (!get) return;
        const QSignalBlocker block(c);
        c->setCurrentIndex(get() - 1);
    };
    refresh();
    refreshers_.push_back(refresh);
    QObject::connect(c, &QComboBox::currentIndexChanged, c, [set, onChange](int index) {
        if (set) set(index + 1);
        if (onChange) onChange(index + 1);
    });
    return c;
}

void Form::bindCheck(int id, std::function<bool()> get, std::function<void(bool)> set,
                     std::function<void(bool)> onToggle) {
    auto* c = qobject_cast<QCheckBox*>(control(id));
    if (c == nullptr) return;
    auto refresh = [c, get] {
        if (!get) return;
        const QSignalBlocker block(c);
        c->setChecked(get());
    };
    refresh();
    refreshers_.push_back(refresh);
    QObject::connect(c, &QCheckBox::toggled, c, [set, onToggle](bool on) {
        if (set) set(on);
        if (onToggle) onToggle(on);
    });
}

void Form::bindRadios(const QList<int>& ids, std::function<int()> get,
                      std::function<void(int)> set) {
    QList<QRadioButton*> items;
    for (int id : ids)
        if (auto* r = qobject_cast<QRadioButton*>(control(id))) items << r;
    // Radio buttons of one group must be able to show "none chosen".
    for (QRadioButton* r : items) r->setAutoExclusive(false);
    auto refresh = [items, get] {
        if (!get) return;
        const int chosen = get();
        for (int i = 0; i < items.size(); ++i) {
            const QSignalBlocker block(items[i]);
            items[i]->setChecked(i + 1 == chosen);
        }
    };
    refresh();
    refreshers_.push_back(refresh);
    for (int i = 0; i < items.size(); ++i) {
        QObject::connect(items[i], &QRadioButton::clicked, items[i], [items, i, set] {
            for (int k = 0; k < items.size(); ++k) {
                const QSignalBlocker block(items[k]);
                items[k]->setChecked(k == i);
            }
            if (set) set(i + 1);
        });
    }
}

void Form::bindMemo(int id, std::function<xb::Value()> get,
                    std::function<void(const xb::Value&)> set, bool readOnly) {
    auto* m = qobject_cast<QPlainTextEdit*>(control(id));
    if (m == nullptr) return;
    m->setReadOnly(readOnly);
    auto refresh = [m, get] {
        if (!get) return;
        const QSignalBlocker block(m);
        m->setPlainText(
            fromAnsi(get().asString()).replace(QLatin1String("\r\n"), QLatin1String("\n")));
        m->moveCursor(QTextCursor::Start);
    };
    refresh();
    refreshers_.push_back(refresh);
    if (set)
        QObject::connect(m, &QPlainTextEdit::textChanged, m, [m, set] {
            set(xb::Value::memo(
                toAnsi(m->toPlainText().replace(QLatin1Char('\n'), QLatin1String("\r\n")))));
        });
}

void Form::setText(int id, const QString& text) {
    QWidget* w = control(id);
    if (auto* l = qobject_cast<QLabel*>(w))
        l->setText(text);
    else if (auto* b = qobject_cast<QAbstractButton*>(w))
        b->setText(text);
    else if (auto* e = qobject_cast<QLineEdit*>(w))
        e->setText(text);
}

void Form::setColors(int id, const QColor& fg, const QColor& bg) {
    QWidget* w = control(id);
    if (EntryField* f = entries_.value(id)) {
        f->setColors(fg, bg);
        return;
    }
    QPalette pal = w->palette();
    if (fg.isValid()) {
        pal.setColor(QPalette::WindowText, fg);
        pal.setColor(QPalette::Text, fg);
        pal.setColor(QPalette::ButtonText, fg);
    }
    if (bg.isValid()) {
        pal.setColor(QPalette::Window, bg);
        pal.setColor(QPalette::Base, bg);
        pal.setColor(QPalette::Button, bg);
        w->setAutoFillBackground(true);
    }
    w->setPalette(pal);
}

void Form::setEnabled(int id, bool on) {
    control(id)->setEnabled(on);
}

void Form::keepTextWidth(int id) {
    if (auto* l = dynamic_cast<TextLabel*>(control(id))) l->keepWidth();
}

void Form::makeTextsTransparent() {
    for (QLabel* l : root_->findChildren<QLabel*>()) {
        if (controlKind(l) == QLatin1String("bitmap") || controlKind(l) == QLatin1String("icon"))
            continue;
        l->setAutoFillBackground(false);
        l->setAttribute(Qt::WA_TranslucentBackground);
    }
}

void Form::refresh() {
    for (auto& r : refreshers_) r();
}

void Form::commit() {
    for (EntryField* f : entries_) f->leave();
}

// ---------------------------------------------------------------- Dialog

Dialog::Dialog(const QString& templateName, QWidget* owner) : QDialog(owner), name_(templateName) {
    loadTemplate(templateName, this, owner);
    setObjectName(templateName);
    setStyleSheet(QString::fromLatin1(kStyle));
    paintBrush(this, kDialogBrush);
    form_ = std::make_unique<Form>(this);
    for (int id : form_->ids())
        if (auto* folder = qobject_cast<QTabWidget*>(form_->find(id))) loadPages(folder);
    registry().append(this);
}

Dialog::~Dialog() {
    registry().removeAll(this);
}

void Dialog::loadPages(QTabWidget* folder) {
    const int id = folder->property("ctlId").toInt();
    const QStringList names =
        folder->property("pages").toString().split(QLatin1Char('|'), Qt::SkipEmptyParts);
    auto& forms = pages_[id];
    for (const QString& n : names) {
        QWidget* page = loadTemplate(n, nullptr, nullptr);
        page->setObjectName(n);
        paintBrush(page, kDialogBrush);
        folder->addTab(page, page->windowTitle());
        forms.push_back(std::make_unique<Form>(page));
    }
}

Form& Dialog::page(int folderId, int n) {
    auto it = pages_.find(folderId);
    if (it == pages_.end() || n < 1 || n > static_cast<int>(it->second.size()))
        raiseResourceError(resource::kControl, QString::number(folderId),
                           QStringLiteral("La carpeta %1 de \"%2\" no tiene la página %3")
                               .arg(folderId)
                               .arg(name_)
                               .arg(n));
    return *it->second[static_cast<size_t>(n - 1)];
}

int Dialog::pageCount(int folderId) {
    auto it = pages_.find(folderId);
    return it == pages_.end() ? 0 : static_cast<int>(it->second.size());
}

void Dialog::setPageEnabled(int folderId, int n, bool on) {
    auto* folder = qobject_cast<QTabWidget*>(form_->control(folderId));
    if (folder == nullptr || n < 1 || n > folder->count()) return;
    folder->setTabEnabled(n - 1, on);
}

void Dialog::setBrush(const QColor& c) {
    setBrush(QBrush(c));
}

void Dialog::setBrush(const QBrush& b) {
    brush_ = b;
    paintBrush(this, b);
    for (auto& [id, forms] : pages_)
        for (auto& f : forms) paintBrush(f->root(), b);
}

QBrush brickBrush() {
    // One tile: two courses of 16 x 8 bricks, the second shifted by half a brick.
    QPixmap tile(32, 16);
    tile.fill(QColor(214, 208, 196));  // mortar
    QPainter p(&tile);
    const QColor brick(168, 64, 40);
    for (int course = 0; course < 2; ++course) {
        const int y = course * 8;
        const int shift = course == 0 ? 0 : 8;
        for (int x = -16 + shift; x < 32; x += 16) p.fillRect(x + 1, y + 1, 14, 6, brick);
    }
    p.end();
    return QBrush(tile);
}

void Dialog::centre() {
    adjustSize();
    QRect area;
    if (QWidget* o = parentWidget(); o != nullptr && o->isVisible())
        area = o->window()->frameGeometry();
    else if (QScreen* s = screen())
        area = s->availableGeometry();
    if (area.isValid()) move(area.center() - rect().center());
}

int Dialog::run() {
    centre();
    const FocusReturn back;
    return exec();
}

void Dialog::showModeless() {
    centre();
    show();
}

bool Dialog::end(int result) {
    if (closeRule_ && !closeRule_()) return false;
    closingChecked_ = true;
    QDialog::done(result);
    closingChecked_ = false;
    return true;
}

void Dialog::refresh() {
    form_->refresh();
    for (auto& [id, forms] : pages_)
        for (auto& f : forms) f->refresh();
}

QList<Dialog*> Dialog::liveDialogs() {
    QList<Dialog*> out;
    for (const QPointer<Dialog>& d : registry())
        if (d) out << d.data();
    return out;
}

QList<Dialog*> Dialog::openDialogs() {
    QList<Dialog*> out;
    for (const QPointer<Dialog>& d : registry())
        if (d && d->isVisible()) out << d.data();
    return out;
}

namespace {

// VDR_TRACE: "shown NAME" at the show, and the places of the controls.
void traceControls(Dialog& d, bool shown) {
    // VDR_TRACE names a file that receives a line per dialog shown, for
    // timing the program from outside (the start-up benchmark) and for
    // support.
    const QString trace = qEnvironmentVariable("VDR_TRACE");
    if (trace.isEmpty()) return;
    QFile f(trace);
    if (!f.open(QIODevice::Append | QIODevice::Text)) return;
    if (!shown && d.layout() != nullptr) d.layout()->activate();
    // Where each control lies in the window, so that a test on a real
    // display can point the mouse at it.
    QString lines;
    auto place = [&](const Form& form) {
        for (int id : form.ids()) {
            QWidget* w = form.find(id);
            if (!w->isVisibleTo(&d)) continue;
            const QPoint at = w->mapTo(&d, QPoint(0, 0));
            lines += QStringLiteral("control %1 %2 %3 %4 %5 %6\n")
                         .arg(d.templateName())
                         .arg(id)
                         .arg(at.x())
                         .arg(at.y())
                         .arg(w->width())
                         .arg(w->height());
        }
    };
    place(d.form());
    for (int id : d.form().ids())
        if (qobject_cast<QTabWidget*>(d.form().find(id)))
            for (int n = 1; n <= d.pageCount(id); ++n) place(d.page(id, n));
    f.write((shown ? QStringLiteral("shown %1\n").arg(d.templateName()).toUtf8() : QByteArray()) +
            lines.toUtf8());
}

}  // namespace

void Dialog::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (!initDone_) {
        initDone_ = true;
        traceControls(*this, true);
        // Filling a window (a card's lists, its pages) can make it grow
        // after it was centred; it is brought back inside the screen then.
        QTimer::singleShot(0, this, [self = QPointer<Dialog>(this)] {
            if (self && self->onInit_) self->onInit_();
            if (self) self->keepOnScreen();
            // The places again once the first filling has settled the layout:
            // the ones written at the show can be off by what the window grew.
            if (self) traceControls(*self, false);
        });
    }
}

void Dialog::keepOnScreen() {
    QScreen* s = screen();
    if (s == nullptr || !isVisible()) return;
    if (layout() != nullptr) layout()->activate();
    const QRect area = s->availableGeometry();
    const QRect frame = frameGeometry();
    QPoint shift;
    if (frame.right() > area.right()) shift.rx() = area.right() - frame.right();
    if (frame.left() + shift.x() < area.left()) shift.rx() = area.left() - frame.left();
    if (frame.bottom() > area.bottom()) shift.ry() = area.bottom() - frame.bottom();
    if (frame.top() + shift.y() < area.top()) shift.ry() = area.top() - frame.top();
    if (!shift.isNull()) move(pos() + shift);
}

void Dialog::closeEvent(QCloseEvent* e) {
    if (!closingChecked_ && closeRule_ && !closeRule_()) {
        e->ignore();
        return;
    }
    closingChecked_ = true;
    QDialog::closeEvent(e);
    closingChecked_ = false;
}

void Dialog::reject() {
    done(0);
}

void Dialog::done(int r) {
    if (!closingChecked_ && closeRule_ && !closeRule_()) return;
    QDialog::done(r);
}

// ---------------------------------------------------------------- EntryField

namespace {

DatePicker& datePicker() {
    static DatePicker picker;
    return picker;
}

// A small calendar leaf: a navy band over a white page with day dots.
QIcon calendarIcon() {
    QPixmap pm(14, 14);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setPen(QColor(90, 90, 90));
    p.setBrush(Qt::white);
    p.drawRect(0, 1, 13, 12);
    p.fillRect(1, 2, 12, 3, QColor(0, 0, 128));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 128, 0));
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 4; ++c) p.drawRect(2 + c * 3, 7 + r * 3, 1, 1);
    return QIcon(pm);
}

}  // namespace

void setDatePicker(DatePicker picker) {
    datePicker() = std::move(picker);
}

EntryField::EntryField(QLineEdit* edit, EntryBinding binding)
    : QObject(edit), edit_(edit), b_(std::move(binding)) {
    edit_->installEventFilter(this);
    edit_->setContextMenuPolicy(Qt::NoContextMenu);
    edit_->setAttribute(Qt::WA_InputMethodEnabled, false);
    const Picture pic = Picture::parse(b_.picture);
    if (pic.scroll > 0) {
        const int cw = edit_->fontMetrics().horizontalAdvance(QLatin1Char('0'));
        edit_->setMinimumWidth(cw * std::min(pic.scroll, 40) + 12);
    }
    if (b_.readOnly) edit_->setReadOnly(true);
    restyle();
    refresh();
    if (holdsDate()) {
        dateButton_ = edit_->addAction(calendarIcon(), QLineEdit::TrailingPosition);
        dateButton_->setToolTip(QStringLiteral("Calendario (F4)"));
        connect(dateButton_, &QAction::triggered, this, [this] { pickDate(); });
        placeDateButton();
    }
}

void EntryField::placeDateButton() {
    if (!dateButton_) return;
    // The date must still show whole beside the button: a field too narrow
    // for both keeps the keys only.
    const int text = edit_->fontMetrics().horizontalAdvance(
                         fromAnsi(buf_.render(xb::Value::date(xb::julianFromYmd(2000, 12, 28))))) +
                     10;
    const bool room = edit_->width() >= text + 22;
    dateButton_->setVisible(room && !b_.readOnly && datePicker() != nullptr);
}

void EntryField::pickDate() {
    if (!holdsDate() || b_.readOnly || !edit_->isEnabled() || !datePicker()) return;
    if (!edit_->hasFocus()) edit_->setFocus(Qt::OtherFocusReason);
    beginEdit(true);
    if (!editing_) return;
    bool ok = true;
    const xb::Value now = buf_.value(&ok);
    const int32_t start = ok ? now.asDate() : 0;
    const std::optional<int32_t> picked = datePicker()(start, edit_->window());
    if (!edit_->hasFocus())
        QTimer::singleShot(0, edit_, [e = QPointer<QLineEdit>(edit_)] {
            if (e) e->setFocus(Qt::OtherFocusReason);
        });
    if (!picked) return;
    buf_.replaceValue(xb::Value::date(*picked));
    show();
}

xb::Value EntryField::value() const {
    if (editing_) return buf_.value();
    return b_.get ? b_.get() : xb::Value::nil();
}

void EntryField::refresh() {
    if (!editing_) {
        buf_.start(b_.get ? b_.get() : xb::Value::str(""), Picture::parse(b_.picture),
                   dateFormatOf(b_));
        show();
    }
    if (b_.when) edit_->setEnabled(b_.when());
}

void EntryField::setReadOnly(bool ro) {
    b_.readOnly = ro;
    edit_->setReadOnly(ro);
    restyle();
    placeDateButton();
}

void EntryField::setColors(const QColor& fg, const QColor& bg) {
    fg_ = fg;
    bg_ = bg;
    restyle();
}

void EntryField::restyle() {
    QString css;
    QColor bg = bg_.isValid() ? bg_ : (b_.readOnly ? kReadOnlyGrey : QColor());
    if (fg_.isValid()) css += QStringLiteral("color: %1;").arg(fg_.name());
    if (bg.isValid()) css += QStringLiteral("background-color: %1;").arg(bg.name());
    if (css.isEmpty()) {
        edit_->setStyleSheet(QString());
        return;
    }
    QString focused =
        b_.readOnly
            ? QString()
            : QStringLiteral("QLineEdit:focus { background-color: %1; }").arg(kFocusedEntry.name());
    edit_->setStyleSheet(QStringLiteral("QLineEdit { %1 } ").arg(css) + focused);
}

bool EntryField::eraseSelection() {
    if (!edit_->hasSelectedText()) return false;
    const int from = edit_->selectionStart();
    buf_.eraseRange(from, from + static_cast<int>(edit_->selectedText().size()));
    edit_->deselect();
    return true;
}

void EntryField::show() {
    const QSignalBlocker block(edit_);
    edit_->setText(fromAnsi(buf_.text()));
    edit_->setCursorPosition(editing_ ? buf_.cursor() : 0);
}

void EntryField::refuse(const QString& why) {
    g_refusedPending = true;
    QTimer::singleShot(0, [] { g_refusedPending = false; });
    if (!why.isEmpty()) {
        validating_ = true;  // the box takes the focus for a while: no second leave
        showBox(BoxKind::Alert, QStringLiteral("Atención....."), why, {QStringLiteral("&Aceptar")},
                edit_->window());
        validating_ = false;
    }
    if (!edit_->hasFocus())
        QTimer::singleShot(0, edit_, [e = edit_] { e->setFocus(Qt::OtherFocusReason); });
}

bool EntryField::leave() {
    if (!editing_) return true;
    if (validating_) return false;
    bool ok = true;
    const xb::Value v = buf_.value(&ok);
    if (!ok) {
        QApplication::beep();
        const QString shown = fromAnsi(buf_.text()).trimmed();
        refuse(buf_.type() == 'D'
                   ? QStringLiteral("La fecha %1 no es válida.\nEscríbala como día-mes-año "
                                    "(%2) o pulse Esc para salir sin grabar.")
                         .arg(shown, QString::fromStdString(dateFormatOf(b_)))
                   : QStringLiteral("El valor %1 no es válido para este campo.\n"
                                    "Corríjalo o pulse Esc para salir sin grabar.")
                         .arg(shown));
        return false;
    }
    if (b_.set) b_.set(v);
    validating_ = true;
    const int boxesBefore = boxesAsked();
    const bool accepted = !b_.valid || b_.valid();
    validating_ = false;
    if (!accepted) {
        // A rule that said nothing still owes the user a reason.
        refuse(boxesAsked() != boxesBefore
                   ? QString()
                   : QStringLiteral("El valor de este campo no es aceptado.\n"
                                    "Corríjalo o pulse Esc para salir sin grabar."));
        return false;
    }
    editing_ = false;
    refresh();
    emit left();
    return true;
}

void EntryField::beginEdit(bool focusing) {
    if (editing_ || b_.readOnly || (!focusing && !edit_->hasFocus())) return;
    buf_.start(b_.get ? b_.get() : xb::Value::str(""), Picture::parse(b_.picture),
               dateFormatOf(b_));
    editing_ = true;
    show();
}

bool EntryField::eventFilter(QObject* watched, QEvent* e) {
    // A field whose window is destroyed while it has the focus loses the
    // focus from ~QWidget, when it is no line edit any more: nothing is left
    // to assign, validate or redraw.
    if (!qobject_cast<QLineEdit*>(watched)) return false;
    switch (e->type()) {
        case QEvent::FocusIn:
            beginEdit(true);
            return false;
        case QEvent::FocusOut: {
            auto* fe = static_cast<QFocusEvent*>(e);
            if (editing_ && !validating_ && fe->reason() != Qt::PopupFocusReason &&
                fe->reason() != Qt::ActiveWindowFocusReason) {
                if (!leave())
                    QTimer::singleShot(0, edit_,
                                       [ed = edit_] { ed->setFocus(Qt::OtherFocusReason); });
            }
            return false;
        }
        case QEvent::Resize:
            placeDateButton();
            return false;
        case QEvent::MouseButtonPress:
            beginEdit();
            return false;
        case QEvent::MouseButtonRelease:
            // A selection made by dragging or by a triple click stays, for
            // the next key to replace.
            if (editing_ && !edit_->hasSelectedText()) {
                buf_.clickAt(edit_->cursorPosition());
                buf_.noteKey();
                show();
            }
            return false;
        case QEvent::MouseButtonDblClick:
            // A double click takes the whole field, for the next key to replace.
            if (editing_) edit_->selectAll();
            return editing_;
        case QEvent::KeyPress: {
            if (b_.readOnly) return false;
            auto* k = static_cast<QKeyEvent*>(e);
            beginEdit();
            if (!editing_) return false;
            const int key = k->key();
            const bool shift = k->modifiers() & Qt::ShiftModifier;
            // F4 or Alt+Down in a date field: the calendar.
            if (holdsDate() && (key == Qt::Key_F4 ||
                                (key == Qt::Key_Down && (k->modifiers() & Qt::AltModifier)))) {
                pickDate();
                return true;
            }
            switch (key) {
                case Qt::Key_Tab:
                case Qt::Key_Backtab:
                    return !leave();  // accepted: Qt moves the focus itself
                case Qt::Key_Return:
                case Qt::Key_Enter:
                case Qt::Key_Down:
                case Qt::Key_Up:
                    if (leave()) focusNext(edit_, key == Qt::Key_Up);
                    return true;
                case Qt::Key_Left:
                    buf_.left();
                    break;
                case Qt::Key_Right:
                    buf_.right();
                    break;
                case Qt::Key_Home:
                    buf_.home();
                    break;
                case Qt::Key_End:
                    buf_.end();
                    break;
                case Qt::Key_Backspace:
                    if (!eraseSelection()) buf_.backspace();
                    break;
                case Qt::Key_Delete:
                    if (!eraseSelection()) buf_.del();
                    break;
                case Qt::Key_Insert:
                    buf_.toggleInsert();
                    break;
                case Qt::Key_Escape:
                    return false;
                default: {
                    if (k->matches(QKeySequence::Copy) || k->matches(QKeySequence::SelectAll))
                        return false;
                    QString typed = k->text();
                    if (k->matches(QKeySequence::Paste))
                        typed = QGuiApplication::clipboard()->text().remove(QLatin1Char('\n'));
                    if (typed.isEmpty() ||
                        (!k->matches(QKeySequence::Paste) &&
                         (k->modifiers() & (Qt::ControlModifier | Qt::AltModifier))))
                        return true;
                    bool moved = false;
                    // Typing over a selection replaces it.
                    eraseSelection();
                    for (char c : toAnsi(typed)) {
                        if (!buf_.typeChar(c)) {
                            QApplication::beep();
                            if (buf_.overflowed()) {
                                show();
                                refuse(QStringLiteral(
                                    "El número es demasiado grande para este campo.\n"
                                    "Corríjalo o pulse Esc para salir sin grabar."));
                                return true;
                            }
                            if (buf_.atEnd()) break;  // no room left: one beep is enough
                        }
                        if (buf_.full() && !b_.confirm) {
                            show();
                            if (leave()) focusNext(edit_);
                            moved = true;
                            break;
                        }
                    }
                    if (moved) return true;
                    break;
                }
            }
            (void)shift;
            show();
            return true;
        }
        default:
            return false;
    }
}

}  // namespace tk
