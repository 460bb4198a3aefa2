// The program's application object. It installs the program's error handler
// (ERRORSYS). A runtime error that reaches the event loop has been through
// that handler already (which let it break) and is shown in a stop box with
// its one-line message, as is any other failure that reaches the loop; the
// program goes on in the main window: an action that failed must never end
// the session silently.
#pragma once

#include <QApplication>

namespace app {

class Application : public QApplication {
  public:
    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Shows the error of the exception being handled in a stop box. Call only
// from inside a catch block.
void reportUnhandledError();

}  // namespace app
