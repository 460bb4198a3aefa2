// The program's application object. It installs the program's error handler
// (ERRORSYS). A failure that reaches the event loop is never the end of the
// session: a runtime error the handler has seen already (and let break) is
// shown in a stop box with its one-line message; any other failure - an
// exception of the libraries, a break raised quietly - goes to the handler
// now, which writes its full report to the error log and shows its dialog,
// where the user goes on in the main window or leaves the program.
#pragma once

#include <QApplication>

namespace app {

class Application : public QApplication {
  public:
    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Makes Qt's own dialogs, buttons and context menus (file and print
// dialogs, the standard buttons, a text field's menu) speak Spanish, as the
// rest of the program does. False when the translations are not installed.
bool installQtTranslations();

// Tells the error of the exception being handled, as above; `receiver` (the
// object whose event failed) names the operation in the report. Call only
// from inside a catch block.
void reportUnhandledError(const QObject* receiver = nullptr);

}  // namespace app
