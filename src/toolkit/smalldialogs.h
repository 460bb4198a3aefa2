// The program's small dialogs: the alert dialog (several lines, a title, a
// row of buttons), the progress dialog that runs a piece of work while it is
// shown, and the two-tone bell. Every one goes through the message-box
// observer or the test driver, so tests see what the user would.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "data/interaction.h"

class QWidget;

namespace tk {

// The alert dialog: returns the number of the button pressed (from 1), or 0
// when closed without one. No buttons means one "&Aceptar"; no title means
// "Atención...".
int alert(const QString& message, const QString& title = QString(), const QStringList& buttons = {},
          QWidget* owner = nullptr);
// The same for texts held as bytes: Windows-1252, or the DOS code page 850
// when `oem` is true.
int alertBytes(const std::string& message, const std::string& title,
               const std::vector<std::string>& buttons, bool oem = false, QWidget* owner = nullptr);

// DECIS: "S" or "N"; PARE: a message with "&Aceptar".
bool decis(const QString& question, QWidget* owner = nullptr);
void pare(const QString& message, QWidget* owner = nullptr);

// The progress dialog of MSGMETER: caption, one line of text and a bar
// (total 10, position 0). `work` runs as soon as the dialog shows; the user
// cannot close it until `work` returns. An exception leaving `work` closes
// the dialog and passes on.
class MeterDialog;
void runMeter(const QString& title, const QString& text,
              const std::function<void(data::Meter&)>& work, QWidget* owner = nullptr);
// Observer of meters for tests: called with each change (title, text, total, position).
struct MeterState {
    QString title, text;
    int total = 10, position = 0;
};
void setMeterObserver(std::function<void(const MeterState&)> observer);

// Tones through the sound system when there is an output device, nothing
// otherwise. Returns at once; the tones play in the background.
void playTones(const std::vector<std::pair<int, int>>& hzAndMs);
// CGBELL: 125 Hz then 300 Hz, each of the shortest standard duration (one
// clock tick, 55 ms).
void bell();
inline constexpr int kToneTickMs = 55;
// How many tone sequences were asked for and how many could be played (tests).
int tonesRequested();
int tonesPlayed();
// The samples (16-bit mono) a tone sequence becomes at `sampleRate`.
std::vector<int16_t> toneSamples(const std::vector<std::pair<int, int>>& hzAndMs, int sampleRate);

// The data layer's interaction drawn with these dialogs.
class ToolkitInteraction : public data::Interaction {
  public:
    int alert(const std::string& message, const std::string& title,
              const std::vector<std::string>& buttons) override;
    void info(const std::string& message, const std::string& title) override;
    void stop(const std::string& message, const std::string& title) override;
    void meter(const std::string& title, const std::string& text,
               const std::function<void(data::Meter&)>& work) override;
    void tone(int hz, int ms) override;
    void beep() override;
};

}  // namespace tk
