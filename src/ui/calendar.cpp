#include "ui/calendar.h"

#include <QCalendarWidget>
#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTextCharFormat>

#include "toolkit/dialog.h"
#include "toolkit/msgbox.h"
#include "xbase/date.h"
#include "xbase/runtime.h"

namespace ui {

namespace {

const char* const kMonths[12] = {"Enero",      "Febrero", "Marzo",     "Abril",
                                 "Mayo",       "Junio",   "Julio",     "Agosto",
                                 "Septiembre", "Octubre", "Noviembre", "Diciembre"};
const char* const kDays[7] = {"Domingo", "Lunes",   "Martes", "Miercoles",
                              "Jueves",  "Viernes", "Sabado"};
constexpr int kMonthLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

std::optional<QDate> g_today;
int32_t g_selected = 0;

int32_t julian(const QDate& d) {
    return xb::julianFromYmd(d.year(), d.month(), d.day());
}

// The day headers in the program's own words: the month control's header
// row is drawn here, the days by the control's own delegate.
class DayHeaders : public QStyledItemDelegate {
  public:
    DayHeaders(QAbstractItemDelegate* days, QObject* parent)
        : QStyledItemDelegate(parent), days_(days) {}
    void paint(QPainter* p, const QStyleOptionViewItem& o, const QModelIndex& i) const override {
        if (i.row() != 0) {
            days_->paint(p, o, i);
            return;
        }
        p->fillRect(o.rect, QColor(0, 0, 128));
        p->setPen(Qt::white);
        QFont f = o.font;
        f.setPointSizeF(std::max(5.0, f.pointSizeF() * 0.8));
        p->setFont(f);
        p->drawText(o.rect, Qt::AlignCenter,
                    dayHeadings(f, o.rect.width()).value(std::clamp(i.column(), 0, 6)));
    }
    QSize sizeHint(const QStyleOptionViewItem& o, const QModelIndex& i) const override {
        return days_->sizeHint(o, i);
    }

  private:
    QAbstractItemDelegate* days_;
};

void prepareMonth(QCalendarWidget* c) {
    c->setFirstDayOfWeek(Qt::Sunday);
    c->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
    c->setHorizontalHeaderFormat(QCalendarWidget::ShortDayNames);
    if (auto* view = c->findChild<QTableView*>(QStringLiteral("qt_calendar_calendarview"))) {
        if (!dynamic_cast<DayHeaders*>(view->itemDelegate()))
            view->setItemDelegate(new DayHeaders(view->itemDelegate(), view));
    }
    QTextCharFormat today;
    today.setForeground(QColor(0, 128, 0));
    today.setFontWeight(QFont::Bold);
    c->setDateTextFormat(calendarToday(), today);
}

void setMonth(QCalendarWidget* c, const QDate& d) {
    c->setSelectedDate(d);
    c->setCurrentPage(d.year(), d.month());
}

void showYear(CalendarView& v) {
    if (v.year && v.months[0])
        v.year->setText(QString::number(v.months[0]->selectedDate().year()).rightJustified(4, '0'));
}

void moveYears(CalendarView& v, int years) {
    for (QCalendarWidget* c : v.months)
        if (c) setMonth(c, c->selectedDate().addYears(years));
    showYear(v);
}

void moveMonths(QLabel* caption, QCalendarWidget* month, int n) {
    if (!month) return;
    const QDate d = month->selectedDate().addMonths(n);
    setMonth(month, d);
    if (caption)
        caption->setText(QString::fromLatin1(kMonths[d.month() - 1]) + QLatin1Char(' ') +
                         QString::number(d.year()));
    month->setFocus();
}

}  // namespace

QStringList dayHeadings(const QFont& font, int room) {
    const QFontMetrics fm(font);
    // The whole names when all seven fit, else all seven cut to the same
    // number of letters ("Mie", "Sab"): a name is never cut by an ellipsis.
    QStringList out;
    for (int letters : {0, 3, 2, 1}) {
        out.clear();
        bool fit = true;
        for (const char* day : kDays) {
            const QString name = QString::fromLatin1(day);
            out << (letters == 0 ? name : name.left(letters));
            fit = fit && fm.horizontalAdvance(out.last()) <= room - 2;
        }
        if (fit) break;
    }
    return out;
}

void setCalendarToday(std::optional<QDate> d) {
    g_today = d;
}
QDate calendarToday() {
    return g_today ? *g_today : QDate::currentDate();
}
int32_t calendarSelected() {
    return g_selected ? g_selected : julian(calendarToday());
}

QString todayCaption(const QDate& d) {
    return QStringLiteral("%1 %2 de %3")
        .arg(QString::fromLatin1(kMonths[d.month() - 1]))
        .arg(d.day(), 2, 10, QLatin1Char('0'))
        .arg(d.year(), 4, 10, QLatin1Char('0'));
}

QString calendarDateText(const QDate& d) {
    return d.toString(xb::settings().century ? QStringLiteral("dd/MM/yyyy")
                                             : QStringLiteral("dd/MM/yy"));
}

int NDIASMES(int32_t jdn) {
    if (jdn == 0) return 0;
    const xb::Ymd d = xb::ymdFromJulian(jdn);
    if (d.month < 1 || d.month > 12) return 0;
    if (d.month == 2) return xb::validYmd(d.year, 2, 29) ? 29 : 28;
    return kMonthLengths[d.month - 1];
}

void REVISAMES(CalendarView& v) {
    const QDate today = calendarToday();
    for (int m = 1; m <= 12; ++m) {
        QCalendarWidget* c = v.months[static_cast<size_t>(m - 1)];
        if (!c) continue;
        setMonth(c, m == today.month() ? today : QDate(today.year(), m, 1));
        QObject::disconnect(c, &QCalendarWidget::clicked, nullptr, nullptr);
        QObject::connect(c, &QCalendarWidget::clicked, c, [c](const QDate& d) {
            g_selected = julian(d);
            tk::msgInfo(QStringLiteral("Fecha seleccionada:\n") + calendarDateText(d), QString(),
                        c->window());
        });
        c->update();
    }
}

void ANOATRAS(CalendarView& v) {
    moveYears(v, -1);
}
void ANOADELANTE(CalendarView& v) {
    moveYears(v, 1);
}

void HOYDIA(CalendarView& v) {
    REVISAMES(v);
    const QDate today = calendarToday();
    QCalendarWidget* c = v.months[static_cast<size_t>(today.month() - 1)];
    if (c) {
        setMonth(c, today);
        c->setFocus();
    }
    showYear(v);
}

void MESATRAS(QLabel* caption, QCalendarWidget* month) {
    moveMonths(caption, month, -1);
}
void MESADELANTE(QLabel* caption, QCalendarWidget* month) {
    moveMonths(caption, month, 1);
}

namespace {

// Every month control on the year of `sel`: its own month on `sel`, the
// others on their first day.
void showYearOn(CalendarView& v, const QDate& sel) {
    for (int m = 1; m <= 12; ++m)
        if (QCalendarWidget* c = v.months[static_cast<size_t>(m - 1)])
            setMonth(c, m == sel.month() ? sel : QDate(sel.year(), m, 1));
    showYear(v);
}

// The CALEND2 dialog. Consulting (MICALENDAR): opens on today, a click
// tells the day and keeps it. Picking (a date field's): opens on `start`,
// a click or Enter on a day closes it with that day; "&Salir" and Escape
// close it with nothing, and the session's date format is left alone.
std::optional<int32_t> runCalendar(bool picking, const QDate& start, QWidget* owner) {
    const QDate today = calendarToday();
    std::optional<int32_t> picked;
    if (!picking) {
        g_selected = julian(today);
        // From here on the whole session writes and reads its dates this way.
        xb::settings().dateFormat = xb::settings().century ? "dd/mm/yyyy" : "dd/mm/yy";
    }
    tk::Dialog dlg(QStringLiteral("CALEND2"), owner);
    CalendarView v;
    for (int i = 0; i < 12; ++i) {
        v.months[static_cast<size_t>(i)] = dlg.ctl<QCalendarWidget>(120 + i);
        prepareMonth(v.months[static_cast<size_t>(i)]);
    }
    v.months[0]->setToolTip(QStringLiteral("Pulse un día para seleccionarlo"));
    v.year = dlg.ctl<QLabel>(106);
    QFont big = v.year->font();
    big.setFamily(QStringLiteral("Ms Sans Serif"));
    big.setPixelSize(18);
    big.setBold(true);
    v.year->setFont(big);
    dlg.form().setColors(106, QColor(0, 0, 88));
    dlg.form().setColors(105, QColor(0, 0, 88));
    dlg.form().setText(105, todayCaption(today));
    auto* hoy = dlg.ctl<QPushButton>(110);
    hoy->setStyleSheet(QStringLiteral("QPushButton:hover { color: red; }"));
    QObject::connect(hoy, &QPushButton::clicked, &dlg, [&v, picking, today] {
        if (!picking) return HOYDIA(v);
        showYearOn(v, today);
        v.months[static_cast<size_t>(today.month() - 1)]->setFocus();
    });
    // The two arrows are pictures: a click on them steps the year.
    struct Clicks : QObject {
        CalendarView* v;
        QWidget *back, *forward;
        bool eventFilter(QObject* o, QEvent* e) override {
            if (e->type() != QEvent::MouseButtonRelease) return false;
            if (o == back) ANOATRAS(*v);
            if (o == forward) ANOADELANTE(*v);
            return true;
        }
    } clicks;
    clicks.v = &v;
    clicks.back = dlg.control(113);
    clicks.forward = dlg.control(114);
    for (QWidget* w : {clicks.back, clicks.forward}) {
        w->setCursor(Qt::PointingHandCursor);
        w->installEventFilter(&clicks);
    }
    tk::ButtonSpec leave;
    leave.action = [&dlg] { dlg.end(0); };
    leave.cancel = true;
    dlg.bindButton(200, leave);
    const QDate first = picking ? start : today;
    if (picking) {
        showYearOn(v, start);
        for (QCalendarWidget* c : v.months) {
            auto take = [&dlg, &picked](const QDate& d) {
                picked = julian(d);
                dlg.end(1);
            };
            QObject::connect(c, &QCalendarWidget::clicked, &dlg, take);
            QObject::connect(c, &QCalendarWidget::activated, &dlg, take);
        }
    } else {
        REVISAMES(v);
        showYear(v);
    }
    dlg.setOnInit([&v, first] { v.months[static_cast<size_t>(first.month() - 1)]->setFocus(); });
    dlg.run();
    for (QWidget* w : {clicks.back, clicks.forward}) w->removeEventFilter(&clicks);
    return picked;
}

}  // namespace

int32_t MICALENDAR() {
    runCalendar(false, calendarToday(), nullptr);
    return g_selected;
}

std::optional<int32_t> pickDate(int32_t start, QWidget* owner) {
    QDate from = calendarToday();
    if (start != 0) {
        const xb::Ymd d = xb::ymdFromJulian(start);
        if (QDate(d.year, d.month, d.day).isValid()) from = QDate(d.year, d.month, d.day);
    }
    return runCalendar(true, from, owner);
}

void registerCalendarFunctions() {
    tk::setDatePicker(pickDate);
    xb::registerFunction("MICALENDAR", [](xb::Args&) { return xb::Value::date(MICALENDAR()); });
    xb::registerFunction(
        "NDIASMES", [](xb::Args& a) { return xb::Value::integer(NDIASMES(a[0].asDate())); }, true);
}

}  // namespace ui
