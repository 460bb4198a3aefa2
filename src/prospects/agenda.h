// The salesperson's agenda "AgendaVis": the next visits of the company by
// day and hour, for one salesperson or all, today, this week or every day
// ahead, with the overdue ones in red; Enter or a double click opens the
// prospect's card on its contacts page. And the notice that offers it when
// a company is chosen and visits fall due today.
#pragma once

#include <string>

class QWidget;

namespace prospects {

// Periods of the agenda's list 103.
enum class AgendaPeriod { Today = 1, Week = 2, All = 3 };

void AGENDAVIS(QWidget* owner = nullptr, AgendaPeriod period = AgendaPeriod::All);

// The workstation setting that turns the notice off ("N") or on.
inline constexpr const char* kAgendaNoticeSetting = "AVISOAGENDA";
bool agendaNoticeOn();
void setAgendaNoticeOn(bool on);

// When the workstation wants the notice and the session company has visits
// due today, asks whether to open the agenda of today; the answer "No
// avisar más" turns the notice off for this workstation. Answers the number
// of visits due today (0 when it said nothing).
int AVISOAGENDA(QWidget* owner = nullptr);

}  // namespace prospects
