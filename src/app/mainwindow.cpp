#include "app/mainwindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMdiArea>

#include "toolkit/msgbox.h"

namespace app {

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent), mdi_(new QMdiArea(this)) {
    setWindowTitle(QString::fromUtf8(kMainTitle));
    setObjectName(QStringLiteral("OWIN"));
    setCentralWidget(mdi_);
}

void MainWindow::bringToFront() {
    if (isMinimized()) setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
    show();
    raise();
    activateWindow();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    QApplication::beep();
    const bool yes = tk::msgYesNo(QStringLiteral("Desea terminar su sesión ?"),
                                  QStringLiteral("Seleccione su opción"),
                                  QStringLiteral("   &Si   "), QStringLiteral("   &No   "), this);
    if (yes)
        event->accept();
    else
        event->ignore();
}

}  // namespace app
