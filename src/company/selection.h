// The company catalogue "ContEmpr.Ini" (alias Control, bag "ContEmx1.cdx",
// tag ContEmpr on CodEmpr) and the choice of the session company. Each
// workstation remembers the company it used last in its own folder of the
// workstation root ("cgCamino.mem").
#pragma once

#include <QString>
#include <functional>
#include <optional>
#include <string>

class QWidget;

namespace company {

inline constexpr const char* kMemoryFile = "cgCamino.mem";
inline constexpr const char* kTermFile = "ContTrm.ini";

// Creates the catalogue with its structure when the file does not exist, and
// its bag when that is missing. Returns false when it could not.
bool ensureCatalogue();

// The remembered company (CMEMCAM) of this workstation, if any.
std::optional<std::string> readRememberedCompany();
// Replaces the workstation's memory so that a crash leaves either the old
// file or the new one, never half of one.
void writeRememberedCompany(const std::string& camino);

// SELEEMPR: shows the selection dialog over the catalogue and makes the chosen
// company the session company. Returns false only when the catalogue holds no
// company (the creation of the first one was given up).
bool SELEEMPR(QWidget* owner = nullptr);
// Run after every choice of the session company, once the selection dialog
// has closed (the program offers the day's agenda there); empty for nothing.
void setAfterChoice(std::function<void()> action);
// The closing rule of the selection dialog.
bool EMPTY_EMPR(bool chosen);
// Makes the current record of Control the session company.
void PUTDATEMPR();
// The session's company is held in use (a shared lock on "EnUso.lck" in its
// folder) from PUTDATEMPR until another company takes its place or the
// program ends, so that no other workstation deletes it meanwhile.
void holdCompany(const std::string& camino);
// Gives up this workstation's hold on its company (before deleting it).
void releaseCompany();
// Holds `camino` against deletion until the returned object goes: false in
// `claimed` when some workstation has it in use. For the deletion itself.
class CompanyClaim {
  public:
    explicit CompanyClaim(const std::string& camino);
    ~CompanyClaim();
    CompanyClaim(const CompanyClaim&) = delete;
    CompanyClaim& operator=(const CompanyClaim&) = delete;
    bool claimed() const { return claimed_; }

  private:
    int fd_ = -1;
    bool claimed_ = false;
};

// The company caption of the button bar: shows `text` trimmed, with each "&"
// doubled so that it is shown literally, centred in a field of 45 characters.
void TEXTOSAYBAR(const std::string& text);
// What TEXTOSAYBAR hands to the main window (the caption as the bar shows it).
void setCaptionSink(std::function<void(const QString&)> sink);
QString captionText(const std::string& text);

// Registers SELEEMPR, PUTDATEMPR, TEXTOSAYBAR and EMPTY_EMPR in the language.
void registerCompanyFunctions();

}  // namespace company
