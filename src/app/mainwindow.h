// The program's single main window: a maximised MDI frame with the button bar,
// the status bar, a tiled background and the emblem. Closing it asks for
// confirmation; only "Si" closes.
#pragma once

#include <QMainWindow>
#include <QPixmap>
#include <functional>
#include <vector>

class QLabel;
class QMdiArea;
class QToolBar;

namespace app {

inline const char* const kMainTitle = "Control de Gestión Area Comercial Valdrosa";
inline const char* const kDefaultStatus = "Seleccione su opción";

// One shortcut of the button bar.
struct BarButton {
    QString normalBitmap;
    QString pressedBitmap;  // empty when the button has one picture only
    QString caption;        // shown under the picture; usually none
    QString text;           // tooltip and status-bar message
    std::function<void()> action;
};

// State of the keyboard's Caps Lock and Num Lock, for the status bar.
struct KeyboardLocks {
    bool caps = false;
    bool num = false;
};
KeyboardLocks keyboardLocks();
// The lock state of an X display's keyboard; false when the program does not
// run on X.
bool x11KeyboardLocks(bool& caps, bool& num);

// Where the emblem's top-left corner goes in a frame of the given size: its
// centre sits 60 pixels above and 10 pixels left of the frame's centre.
QPoint emblemPosition(const QSize& frame, const QSize& emblem);

class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    explicit MainWindow(QWidget* parent = nullptr);
    QMdiArea* mdiArea() const { return mdi_; }
    QToolBar* buttonBar() const { return bar_; }

    // Tiled background and emblem; a null pixmap leaves that part out.
    void setPictures(const QPixmap& background, const QPixmap& emblem);
    // Adds a button to the bar, in order.
    void addBarButton(const BarButton& button, const QPixmap& normal, const QPixmap& pressed);
    void setBarBrush(const QPixmap& tile);

    // Brings the window to the front, restoring it when minimised.
    void bringToFront();

    // Called before the exit question (the program's bell).
    void setBeforeCloseQuestion(std::function<void()> fn) { beforeQuestion_ = std::move(fn); }
    // Called once when the window is first shown (the company selection).
    void setOnFirstShow(std::function<void()> fn) { onFirstShow_ = std::move(fn); }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void buildStatusBar();

    QMdiArea* mdi_;
    QToolBar* bar_;
    QLabel* clock_ = nullptr;
    QLabel* date_ = nullptr;
    QLabel* keys_ = nullptr;
    std::function<void()> beforeQuestion_;
    std::function<void()> onFirstShow_;
    bool shown_ = false;
};

}  // namespace app
