#include "app/mainwindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMdiArea>
#include <QMenuBar>
#include <QPainter>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include "toolkit/msgbox.h"

namespace app {

namespace {

// The MDI client area paints the tiled background and, over it, the emblem
// with its alpha channel, always at the same place relative to the centre.
class FrameArea : public QMdiArea {
  public:
    using QMdiArea::QMdiArea;
    void setPictures(const QPixmap& background, const QPixmap& emblem) {
        emblem_ = emblem;
        if (!background.isNull()) setBackground(QBrush(background));
        viewport()->update();
    }

  protected:
    void paintEvent(QPaintEvent* event) override {
        QMdiArea::paintEvent(event);
        if (emblem_.isNull()) return;
        QPainter p(viewport());
        p.drawPixmap(emblemPosition(viewport()->size(), emblem_.size()), emblem_);
    }

  private:
    QPixmap emblem_;
};

// A bar button that shows its second picture while it is held down.
class BitmapButton : public QToolButton {
  public:
    BitmapButton(const QPixmap& normal, const QPixmap& pressed, QWidget* parent)
        : QToolButton(parent), normal_(normal), pressed_(pressed.isNull() ? normal : pressed) {
        setIcon(normal_);
        setAutoRaise(true);  // flat, rising under the mouse
    }

  protected:
    void mousePressEvent(QMouseEvent* e) override {
        setIcon(pressed_);
        QToolButton::mousePressEvent(e);
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        setIcon(normal_);
        QToolButton::mouseReleaseEvent(e);
    }

  private:
    QPixmap normal_, pressed_;
};

// The button bar paints its own brush: the frame bitmap, stretched to the
// bar's height and tiled along it.
class ButtonBar : public QToolBar {
  public:
    using QToolBar::QToolBar;
    void setTile(const QPixmap& tile) {
        tile_ = tile;
        update();
    }

  protected:
    void paintEvent(QPaintEvent* event) override {
        if (tile_.isNull()) return QToolBar::paintEvent(event);
        QPainter p(this);
        p.fillRect(rect(), QBrush(tile_.scaled(tile_.width(), height())));
    }

  private:
    QPixmap tile_;
};

}  // namespace

KeyboardLocks keyboardLocks() {
    KeyboardLocks locks;
    // On an X display the server knows the lock state of the keyboard the
    // user types on, local or remote.
    if (x11KeyboardLocks(locks.caps, locks.num)) return locks;
    // Elsewhere, the keyboard's lock lights as the kernel exposes them; a
    // desktop reached remotely has none, and then nothing is shown.
    const QDir leds(QStringLiteral("/sys/class/leds"));
    for (const QString& led : leds.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const bool caps = led.endsWith(QLatin1String("::capslock"));
        const bool num = led.endsWith(QLatin1String("::numlock"));
        if (!caps && !num) continue;
        QFile f(leds.filePath(led) + QStringLiteral("/brightness"));
        if (!f.open(QIODevice::ReadOnly)) continue;
        const bool on = f.readAll().trimmed().toInt() > 0;
        (caps ? locks.caps : locks.num) |= on;
    }
    return locks;
}

QPoint emblemPosition(const QSize& frame, const QSize& emblem) {
    return {frame.width() / 2 - emblem.width() / 2 - 10,
            frame.height() / 2 - emblem.height() / 2 - 60};
}

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), mdi_(new FrameArea(this)), bar_(new ButtonBar(this)) {
    setWindowTitle(QString::fromUtf8(kMainTitle));
    setObjectName(QStringLiteral("OWIN"));
    setCentralWidget(mdi_);

    bar_->setObjectName(QStringLiteral("OBARWIN"));
    bar_->setMovable(false);
    bar_->setFloatable(false);
    bar_->setContextMenuPolicy(Qt::PreventContextMenu);  // a right click does nothing
    bar_->setIconSize(QSize(40, 34));
    addToolBar(Qt::TopToolBarArea, bar_);
    setContextMenuPolicy(Qt::NoContextMenu);
    buildStatusBar();
}

void MainWindow::buildStatusBar() {
    QStatusBar* sb = statusBar();
    sb->showMessage(QString::fromUtf8(kDefaultStatus));
    // The default text comes back whenever a tooltip's message is cleared.
    connect(sb, &QStatusBar::messageChanged, sb, [sb](const QString& m) {
        if (m.isEmpty()) sb->showMessage(QString::fromUtf8(kDefaultStatus));
    });
    keys_ = new QLabel(sb);
    date_ = new QLabel(sb);
    clock_ = new QLabel(sb);
    for (QLabel* l : {keys_, date_, clock_}) {
        l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        l->setAlignment(Qt::AlignCenter);
        sb->addPermanentWidget(l);
    }
    auto tick = [this] {
        const QDateTime now = QDateTime::currentDateTime();
        clock_->setText(now.toString(QStringLiteral("HH:mm:ss")));
        date_->setText(now.toString(QStringLiteral("dd-MM-yyyy")));
        const KeyboardLocks locks = keyboardLocks();
        const QString lights =
            QStringLiteral("%1 %2").arg(locks.caps ? QStringLiteral("MAY") : QStringLiteral("   "),
                                        locks.num ? QStringLiteral("NUM") : QStringLiteral("   "));
        if (lights != keys_->text()) {
            keys_->setText(lights);
            // VDR_TRACE also follows the lights, for the tests that type on a
            // real display.
            const QString trace = qEnvironmentVariable("VDR_TRACE");
            QFile f(trace);
            if (!trace.isEmpty() && f.open(QIODevice::Append | QIODevice::Text))
                f.write(QStringLiteral("keys %1\n").arg(lights.simplified()).toUtf8());
        }
    };
    tick();
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, tick);
    timer->start(1000);
}

void MainWindow::setPictures(const QPixmap& background, const QPixmap& emblem) {
    static_cast<FrameArea*>(mdi_)->setPictures(background, emblem);
}

void MainWindow::setBarBrush(const QPixmap& tile) {
    static_cast<ButtonBar*>(bar_)->setTile(tile);
}

namespace {

// A caption under the picture is drawn into the picture itself, so that the
// button keeps its fixed size whatever the bar does with its buttons' styles.
QPixmap withCaption(const QPixmap& picture, const QString& caption, const QFont& font) {
    if (caption.isEmpty() || picture.isNull()) return picture;
    QPixmap out(38, 36);
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QPixmap small = picture.scaled(22, 22, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    p.drawPixmap((out.width() - small.width()) / 2, 0, small);
    QFont f = font;
    f.setPixelSize(10);
    p.setFont(f);
    p.setPen(Qt::black);
    p.drawText(QRect(0, 23, out.width(), 13), Qt::AlignCenter, caption);
    return out;
}

}  // namespace

void MainWindow::addBarButton(const BarButton& button, const QPixmap& normal,
                              const QPixmap& pressed) {
    auto* b = new BitmapButton(withCaption(normal, button.caption, font()),
                               withCaption(pressed, button.caption, font()), bar_);
    b->setFixedSize(45, 42);
    // Bar buttons are for the mouse: a key typed after a dialog closes must
    // never press one of them.
    b->setFocusPolicy(Qt::NoFocus);
    b->setToolTip(button.text);
    b->setStatusTip(button.text);
    b->setObjectName(button.text);
    if (button.action) connect(b, &QToolButton::clicked, this, [fn = button.action] { fn(); });
    bar_->addWidget(b);
    b->setToolButtonStyle(Qt::ToolButtonIconOnly);
    b->setIconSize(QSize(38, 36));
}

void MainWindow::bringToFront() {
    if (isMinimized()) setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
    show();
    raise();
    activateWindow();
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shown_) return;
    shown_ = true;
    if (QMenuBar* bar = menuBar())
        bar->setStyleSheet(QStringLiteral("QMenuBar { background: white; }"));
    // VDR_TRACE: where each bar button lies in the window (see the dialogs').
    const QString trace = qEnvironmentVariable("VDR_TRACE");
    if (!trace.isEmpty()) {
        QFile f(trace);
        if (f.open(QIODevice::Append | QIODevice::Text)) {
            QString lines = QStringLiteral("shown %1\n").arg(objectName());
            for (QToolButton* b : bar_->findChildren<QToolButton*>()) {
                if (b->toolTip().isEmpty()) continue;
                const QPoint at = b->mapTo(this, QPoint(0, 0));
                lines += QStringLiteral("button %1 %2 %3 %4 %5\n")
                             .arg(QString(b->toolTip()).replace(QLatin1Char(' '), QLatin1Char('_')))
                             .arg(at.x())
                             .arg(at.y())
                             .arg(b->width())
                             .arg(b->height());
            }
            f.write(lines.toUtf8());
        }
    }
    if (onFirstShow_) QTimer::singleShot(0, this, [this] { onFirstShow_(); });
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (beforeQuestion_) beforeQuestion_();
    const bool yes = tk::msgYesNo(QStringLiteral("Desea terminar su sesión ?"),
                                  QStringLiteral("Seleccione su opción"),
                                  QStringLiteral("   &Si   "), QStringLiteral("   &No   "), this);
    if (yes)
        event->accept();
    else
        event->ignore();
}

}  // namespace app
