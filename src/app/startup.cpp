#include "app/startup.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QScreen>

#include "app/application.h"
#include "app/inicial.h"
#include "app/mainwindow.h"
#include "app/single_instance.h"
#include "app/workstation.h"
#include "data/interaction.h"
#include "data/session.h"
#include "toolkit/msgbox.h"
#include "toolkit/smalldialogs.h"
#include "xbase/codepage.h"

namespace app {

int INICIO(int argc, char** argv) {
    Application qapp(argc, argv);
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

    // The previous session's list of unreleased resources goes.
    removeResourceLog();
    // The data layer's dialogs are the toolkit's from here on.
    static tk::ToolkitInteraction interaction;
    data::setInteraction(&interaction);
    // Settings, session variables and the workstation's folder.
    if (!data::startSession(xb::utf8ToCp1252(given.toStdString()))) return 1;

    QObject::connect(&single, &SingleInstance::showRequested, &qapp, [] {
        if (MainWindow* w = mainWindow()) w->bringToFront();
    });
    try {
        return INICIAL();
    } catch (...) {
        // A failure before the event loop runs (a missing resource library,
        // say) is told to the user; the program cannot go on without it.
        reportUnhandledError();
        return 1;
    }
}

}  // namespace app
