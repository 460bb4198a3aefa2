// The data layer never draws a window: every question, message, progress
// dialog and bell goes through the Interaction installed for the process. The
// program installs one drawn with the toolkit; vdrtool runs unattended; tests
// install a ScriptedInteraction that records what was shown and answers as told.
//
// Every text crossing this interface is in Windows-1252, one byte per
// character, as the language and the tables hold it; the implementation that
// draws converts at its edge.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace data {

// The progress dialog as the work running inside it sees it: a bar with a
// total and a position, and one line of text.
class Meter {
  public:
    virtual ~Meter() = default;
    virtual void setTotal(int total) = 0;
    virtual void setPosition(int position) = 0;
    virtual void setText(const std::string& text) = 0;
    // Lets the screen repaint after a change.
    virtual void refresh() = 0;
    virtual int total() const = 0;
    virtual int position() const = 0;
    virtual std::string text() const = 0;
};

class Interaction {
  public:
    virtual ~Interaction() = default;

    // The alert dialog: a message of one or more lines ("\n" or "\r\n"
    // separated), a title and a row of buttons. Returns the number of the
    // button pressed, counted from 1, or 0 when the dialog was closed without
    // one. Callers pass the defaults themselves (see alertDefaults()).
    virtual int alert(const std::string& message, const std::string& title,
                      const std::vector<std::string>& buttons) = 0;
    // Information box (one button).
    virtual void info(const std::string& message, const std::string& title) = 0;
    // Stop box (one button, stop icon).
    virtual void stop(const std::string& message, const std::string& title) = 0;
    // Modal progress dialog with `title` as caption, `text` as its line and a
    // bar of total 10 at position 0. `work` runs once as soon as the dialog
    // is shown; the dialog closes when it returns and the user cannot close
    // it before. An exception leaving `work` closes the dialog and passes on.
    virtual void meter(const std::string& title, const std::string& text,
                       const std::function<void(Meter&)>& work) = 0;
    // One tone of `hz` for `ms` milliseconds.
    virtual void tone(int hz, int ms) = 0;
    // The system's own beep.
    virtual void beep() = 0;
};

// Texts the alert dialog uses when its caller gives none.
inline constexpr const char* kAlertDefaultTitle = "Atenci\xf3n...";
inline constexpr const char* kAlertDefaultButton = "&Aceptar";

// The interaction of the process. Until one is installed, an unattended one
// is used: it writes every message to standard error and answers every
// question by closing it (0), which declines every offer to retry.
Interaction& interaction();
// Installs `i` (not owned; nullptr restores the unattended one). Returns the
// previous one so that a caller can put it back.
Interaction* setInteraction(Interaction* i);

// Installs an interaction for the life of a scope.
class ScopedInteraction {
  public:
    explicit ScopedInteraction(Interaction& i) : prev_(setInteraction(&i)) {}
    ~ScopedInteraction() { setInteraction(prev_); }
    ScopedInteraction(const ScopedInteraction&) = delete;
    ScopedInteraction& operator=(const ScopedInteraction&) = delete;

  private:
    Interaction* prev_;
};

// A meter that only remembers its state; the unattended and scripted
// interactions hand it to the work they run.
class PlainMeter : public Meter {
  public:
    // Called after every change with the new state (may be empty).
    std::function<void(const PlainMeter&)> onChange;
    void setTotal(int total) override;
    void setPosition(int position) override;
    void setText(const std::string& text) override;
    void refresh() override {}
    int total() const override { return total_; }
    int position() const override { return position_; }
    std::string text() const override { return text_; }

  private:
    int total_ = 10;
    int position_ = 0;
    std::string text_;
};

// Writes messages to standard error and, when `verbose`, progress to
// standard output (converted to UTF-8); answers every question with 0. With
// `verbose` false only alerts and stop boxes are written.
class UnattendedInteraction : public Interaction {
  public:
    explicit UnattendedInteraction(bool verbose = false) : verbose_(verbose) {}
    int alert(const std::string& message, const std::string& title,
              const std::vector<std::string>& buttons) override;
    void info(const std::string& message, const std::string& title) override;
    void stop(const std::string& message, const std::string& title) override;
    void meter(const std::string& title, const std::string& text,
               const std::function<void(Meter&)>& work) override;
    void tone(int, int) override {}
    void beep() override {}

  private:
    bool verbose_;
};

// For tests: records everything shown, in order, and answers alerts from a
// queue of button numbers (or a responder function), 0 when neither has one.
class ScriptedInteraction : public Interaction {
  public:
    enum class Kind { Alert, Info, Stop, Meter, Tone, Beep };
    struct Shown {
        Kind kind = Kind::Alert;
        std::string title;
        std::string message;               // alert/info/stop text; a meter's first text
        std::vector<std::string> buttons;  // alert only
        int answer = 0;                    // alert only
        std::vector<std::string> texts;    // meter: every text it showed, in order
        std::vector<int> positions;        // meter: every position it showed, in order
        int total = 10;                    // meter: its last total
        int hz = 0, ms = 0;                // tone
    };

    // Answers of the next alerts, in order.
    void answer(int button) { answers_.push_back(button); }
    // Called for an alert when the queue is empty; its result is the answer.
    std::function<int(const Shown&)> responder;

    const std::vector<Shown>& shown() const { return shown_; }
    // The shown items of one kind, in order.
    std::vector<Shown> of(Kind kind) const;
    size_t pendingAnswers() const { return answers_.size(); }
    void clear() { shown_.clear(); }

    int alert(const std::string& message, const std::string& title,
              const std::vector<std::string>& buttons) override;
    void info(const std::string& message, const std::string& title) override;
    void stop(const std::string& message, const std::string& title) override;
    void meter(const std::string& title, const std::string& text,
               const std::function<void(Meter&)>& work) override;
    void tone(int hz, int ms) override;
    void beep() override;

  private:
    std::vector<Shown> shown_;
    std::deque<int> answers_;
};

}  // namespace data
