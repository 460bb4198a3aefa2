#include "app/startup.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QScreen>

#include "app/mainwindow.h"
#include "app/single_instance.h"
#include "app/workstation.h"
#include "toolkit/msgbox.h"

namespace app {

int INICIO(int argc, char** argv) {
    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("vdrcontv"));
    const QStringList args = QApplication::arguments();

    const QString given = args.size() > 1 ? args.at(1) : QString();
    if (args.size() > 2) {
        tk::msgStop(QStringLiteral("El programa admite un solo argumento: el nombre del equipo."),
                    QStringLiteral("Atención....."));
        return 1;
    }
    if (auto problem = workstationProblem(given)) {
        tk::msgStop(*problem, QStringLiteral("Atención....."));
        return 1;
    }

    SingleInstance single(QFileInfo(QString::fromLocal8Bit(argv[0])).fileName());
    if (single.anotherIsRunning()) return 0;

    const QString termin = userTermin(given);
    const QString folder = termin.chopped(1);
    QDir start(QDir::currentPath());
    if (!start.mkpath(QStringLiteral("%1/%2").arg(QLatin1String(kWorkstationRoot), folder))) {
        tk::msgStop(QStringLiteral("No se pudo crear la carpeta del equipo \"%1\" en %2.")
                        .arg(folder, start.absolutePath()),
                    QStringLiteral("Atención....."));
        return 1;
    }

    MainWindow window;
    QObject::connect(&single, &SingleInstance::showRequested, &window, &MainWindow::bringToFront);
    // Without a window manager "maximised" means nothing; cover the screen anyway.
    if (QScreen* screen = QGuiApplication::primaryScreen()) window.setGeometry(screen->availableGeometry());
    window.showMaximized();
    return QApplication::exec();
}

}  // namespace app
