#include "app/mainwindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QLabel>
#include <QMdiArea>
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

}  // namespace

QPoint emblemPosition(const QSize& frame, const QSize& emblem) {
    return {frame.width() / 2 - emblem.width() / 2 - 10,
            frame.height() / 2 - emblem.height() / 2 - 60};
}

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), mdi_(new FrameArea(this)), bar_(new QToolBar(this)) {
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
        const Qt::KeyboardModifiers m = QGuiApplication::queryKeyboardModifiers();
        keys_->setText(m & Qt::ShiftModifier ? QStringLiteral("MAY") : QStringLiteral("   "));
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
    if (tile.isNull()) return;
    QPalette pal = bar_->palette();
    pal.setBrush(QPalette::Window, QBrush(tile));
    pal.setBrush(QPalette::Button, QBrush(tile));
    bar_->setPalette(pal);
    bar_->setAutoFillBackground(true);
}

void MainWindow::addBarButton(const BarButton& button, const QPixmap& normal,
                              const QPixmap& pressed) {
    auto* b = new BitmapButton(normal, pressed, bar_);
    b->setFixedSize(45, 42);
    b->setIconSize(QSize(40, button.caption.isEmpty() ? 34 : 24));
    b->setToolTip(button.text);
    b->setStatusTip(button.text);
    if (!button.caption.isEmpty()) {
        b->setText(button.caption);
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        QFont f = b->font();
        f.setPointSize(7);
        b->setFont(f);
    }
    b->setObjectName(button.text);
    if (button.action) connect(b, &QToolButton::clicked, this, [fn = button.action] { fn(); });
    bar_->addWidget(b);
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
