// The program's single main window: a maximised MDI frame. Closing it asks for
// confirmation; only "Si" closes.
#pragma once

#include <QMainWindow>

class QMdiArea;

namespace app {

inline const char* const kMainTitle = "Control de Gestión Area Comercial Valdrosa";

class MainWindow : public QMainWindow {
    Q_OBJECT
  public:
    explicit MainWindow(QWidget* parent = nullptr);
    QMdiArea* mdiArea() const { return mdi_; }

    // Brings the window to the front, restoring it when minimised.
    void bringToFront();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    QMdiArea* mdi_;
};

}  // namespace app
