#include "app/application.h"

#include <exception>

#include "app/errorsys.h"
#include "print/document.h"
#include "toolkit/msgbox.h"
#include "xbase/codepage.h"
#include "xbase/error.h"

namespace app {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    // Every runtime error of the session goes to the program's handler;
    // unattended runs may send every printout to PDF (VDR_PRINT_PDF).
    ERRORSYS();
    print::initFromEnvironment();
}

void reportUnhandledError() {
    QString text;
    try {
        throw;
    } catch (const xb::Break& b) {
        text = QString::fromStdString(xb::cp1252ToUtf8(b.error.message()));
    } catch (const std::exception& e) {
        text = QString::fromLocal8Bit(e.what());
    } catch (...) {
        text = QStringLiteral("Error desconocido.");
    }
    tk::msgStop(text, QStringLiteral("Error"));
}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        reportUnhandledError();
        return false;
    }
}

}  // namespace app
