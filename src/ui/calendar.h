// The year-at-a-glance calendar: twelve month controls (the template's
// CALEND2, controls 120 to 131), the year stepped back and forth, back to
// today, and a click on a day that becomes the selected date. Opening it
// switches the session's dates to dd/mm/yyyy for the rest of the session.
#pragma once

#include <QDate>
#include <QFont>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>

class QCalendarWidget;
class QLabel;
class QWidget;

namespace ui {

struct CalendarView {
    std::array<QCalendarWidget*, 12> months{};
    QLabel* year = nullptr;  // control 106
};

// Shows the calendar; returns the selected date (a julian day).
int32_t MICALENDAR();
// A date field's calendar: opens on `start` (today when 0), answers the
// day clicked (or chosen with Enter), nothing after "&Salir" or Escape.
// Leaves the session's date format as it is.
std::optional<int32_t> pickDate(int32_t start, QWidget* owner = nullptr);
// The date selected last (today before the first click), kept between calls.
int32_t calendarSelected();

void REVISAMES(CalendarView& v);
void ANOATRAS(CalendarView& v);
void ANOADELANTE(CalendarView& v);
void HOYDIA(CalendarView& v);
void MESATRAS(QLabel* caption, QCalendarWidget* month);
void MESADELANTE(QLabel* caption, QCalendarWidget* month);
// Days of the month of `jdn`; 0 for the empty date.
int NDIASMES(int32_t jdn);

// "Marzo 05 de 2009".
QString todayCaption(const QDate& d);
// The calendar's own text of a date: dd/mm/yyyy (dd/mm/yy without century).
QString calendarDateText(const QDate& d);
// The seven day headings, Sunday first, that fit `room` pixels in `font`:
// the whole names, or all of them cut to as many letters as fit.
QStringList dayHeadings(const QFont& font, int room);
// Tests fix "today" (nullopt = the clock's).
void setCalendarToday(std::optional<QDate> d);
QDate calendarToday();

// Registers MICALENDAR and NDIASMES, and makes this calendar the date
// fields' one (F4).
void registerCalendarFunctions();

}  // namespace ui
