// The progress of a report run started from the program's windows: a small
// window (object name "ProgresoInforme", caption "Por favor espere") that
// says which report is being made (the name of its document, once the body
// has begun it), how many records of how many have been read and how many
// pages drawn, with a "&Cancelar" button.
//
// The run happens on the window's own thread: the script runner calls
// pulse() for every record it reads, and the window answers the user there,
// a few times a second. Once the user has pressed "&Cancelar" (or closed the
// window), the next pulse gives the run up with xb::Abandon; whoever started
// the run drops its unfinished document (see dropOpenDocument() in
// printer.h), which leaves no file behind and sends no job to a printer.
#pragma once

#include <cstddef>
#include <memory>

class QWidget;

namespace reports {

class RunProgress {
  public:
    // Shows the window at once over `owner` (the active window when null).
    explicit RunProgress(QWidget* owner = nullptr);
    ~RunProgress();
    RunProgress(const RunProgress&) = delete;
    RunProgress& operator=(const RunProgress&) = delete;

    // The run in progress, or nullptr.
    static RunProgress* current();
    // A record read: `done` of `total` (0 when the records are still being
    // counted). Throws xb::Abandon once the user has cancelled.
    static void pulse(size_t done, size_t total);
    // The run has drawn everything and hands its document over (preview,
    // printer): the window goes away and cancelling is no longer offered.
    static void finished();

  private:
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace reports
