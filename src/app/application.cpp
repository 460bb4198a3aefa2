#include "app/application.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <exception>

#include "app/errorsys.h"
#include "print/document.h"
#include "toolkit/msgbox.h"
#include "xbase/abandon.h"
#include "xbase/codepage.h"
#include "xbase/error.h"

namespace app {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    // Every runtime error of the session goes to the program's handler;
    // unattended runs may send every printout to PDF (VDR_PRINT_PDF).
    ERRORSYS();
    print::initFromEnvironment();
    installQtTranslations();
}

bool installQtTranslations() {
    // Qt's catalogue "qt" gathers those of every module (Debian's
    // qt6-translations-l10n); without it the dialogs stay in English.
    auto* t = new QTranslator(QCoreApplication::instance());
    if (!t->load(QLocale(QLocale::Spanish, QLocale::Spain), QStringLiteral("qt"),
                 QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete t;
        return false;
    }
    return QCoreApplication::installTranslator(t);
}

void reportUnhandledError(const QObject* receiver) {
    xb::Error e;
    try {
        throw;
    } catch (const xb::Abandon&) {
        return;  // given up after the user was told why: nothing more to say
    } catch (const xb::Break& b) {
        if (b.handled || !errorSysInstalled()) {
            // The handler has logged and shown this one already (or there is
            // none yet): its one line is enough.
            tk::msgStop(QString::fromStdString(xb::cp1252ToUtf8(b.error.message())),
                        QStringLiteral("Error"));
            return;
        }
        e = b.error;
    } catch (const std::exception& x) {
        if (!errorSysInstalled()) {
            tk::msgStop(QString::fromLocal8Bit(x.what()), QStringLiteral("Error"));
            return;
        }
        e = xb::makeError(0, 0, xb::utf8ToCp1252(x.what()));
        e.subsystem = "VDRCONTV";
    } catch (...) {
        if (!errorSysInstalled()) {
            tk::msgStop(QStringLiteral("Error desconocido."), QStringLiteral("Error"));
            return;
        }
        e = xb::makeError(0, 0, "Error desconocido.");
        e.subsystem = "VDRCONTV";
    }
    // A failure no handler has seen: the handler's full report goes to the
    // log and its dialog to the user, as for any runtime error. What was
    // running has been abandoned already, so the user may only go on
    // ("Omitir") or leave the program.
    if (e.operation.empty() && receiver)
        e.operation = xb::utf8ToCp1252(receiver->metaObject()->className());
    e.canRetry = false;
    e.canSubstitute = true;
    ERRORDIALOG(e);
}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        // Nothing may leave this function: Qt cannot unwind its own frames.
        // A failure while the failure is told (the handler ending the
        // program from inside its own dialog, say) is dropped here.
        try {
            reportUnhandledError(receiver);
        } catch (...) {
        }
        return false;
    }
}

}  // namespace app
