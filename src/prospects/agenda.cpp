#include "prospects/agenda.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QStandardItemModel>
#include <QTableView>
#include <stdexcept>

#include "data/helpers.h"
#include "data/session.h"
#include "dbf/order.h"
#include "dbf/workspace.h"
#include "prospects/card.h"
#include "prospects/fichprosp.h"
#include "prospects/rows.h"
#include "prospects/save.h"
#include "toolkit/browse.h"
#include "toolkit/dialog.h"
#include "toolkit/text.h"
#include "transfer/agenda.h"
#include "xbase/codepage.h"
#include "xbase/date.h"
#include "xbase/runtime.h"

namespace prospects {

namespace {

dbf::Workspace& ws() {
    return dbf::workspace();
}

std::string camino() {
    xb::Value v;
    return xb::getVar("G_CAMINO", v) && v.isString() ? v.asString() : std::string();
}

QString dateText(int32_t day) {
    return QString::fromStdString(xb::formatDate(day, xb::effectiveDateFormat()));
}

// Enter on the list opens the card, as a double click does.
class EnterOpens : public QObject {
  public:
    EnterOpens(QTableView* view, std::function<void()> open)
        : QObject(view), open_(std::move(open)) {
        view->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() != QEvent::KeyPress) return false;
        const int key = static_cast<QKeyEvent*>(e)->key();
        if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
        open_();
        return true;
    }

  private:
    std::function<void()> open_;
};

}  // namespace

bool agendaNoticeOn() {
    return data::stationSetting(kAgendaNoticeSetting, "S") != "N";
}

void setAgendaNoticeOn(bool on) {
    if (!data::setStationSetting(kAgendaNoticeSetting, on ? "S" : "N"))
        data::PARE(xb::utf8ToCp1252("No se ha podido guardar la preferencia de este puesto."));
}

void AGENDAVIS(QWidget* owner, AgendaPeriod period) {
    // The cards opened from here share their tables, as from the browser.
    CardTablesKept keep;
    data::ABRIR("Vendedor", tableVar("VDRVEND"), "S", {tableVar("VDRVENX1")});
    data::ABRIR("Prospecto", tableVar("VDRPROSP"), "S", {tableVar("VDRPRPX1")});
    struct CloseAll {
        ~CloseAll() { dbf::workspace().closeAll(); }
    } closeAll;
    settlePendingSaves();
    if (!ws().area("Prospecto")) return;

    // The salespeople of the list, in code order.
    QStringList vendItems{QStringLiteral("(Todos)")};
    std::vector<std::string> vendCodes{std::string()};
    if (dbf::WorkArea* v = ws().area("Vendedor")) {
        if (dbf::orders(*v).orderCount() > 0) dbf::orders(*v).setOrder(1);
        for (v->goTop(); !v->eof(); v->skip(1)) {
            const std::string code = trimmed(S(*v, "CODIGO"));
            if (code.empty()) continue;
            vendCodes.push_back(code);
            vendItems << tk::fromAnsi(code + " - " + trimmed(S(*v, "NOMBRE")));
        }
    }

    tk::Dialog dlg(QStringLiteral("AgendaVis"), owner);
    dlg.setBrush(tk::kDialogBrush);
    tk::Form& f = dlg.form();
    f.makeTextsTransparent();
    auto* vendList = f.ctl<QComboBox>(102);
    auto* periodList = f.ctl<QComboBox>(103);
    f.setText(107, QStringLiteral("&Vendedor:"));
    f.setText(108, QStringLiteral("&Periodo:"));
    f.ctl<QLabel>(107)->setBuddy(vendList);
    f.ctl<QLabel>(108)->setBuddy(periodList);
    auto* count = f.ctl<QLabel>(104);
    count->setObjectName(QStringLiteral("recordCount"));

    auto* view = f.ctl<QTableView>(101);
    auto* model = new QStandardItemModel(view);
    model->setHorizontalHeaderLabels({QStringLiteral("Fecha"), QStringLiteral("Hora"),
                                      QStringLiteral("Prospecto"),
                                      tk::fromAnsi("Tel\xe9"
                                                   "fono"),
                                      QStringLiteral("Ciudad"), QStringLiteral("Vendedor")});
    view->setModel(model);
    view->setHorizontalHeader(new tk::BrowseHeader(view));
    view->horizontalHeader()->setStretchLastSection(true);
    view->verticalHeader()->hide();
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setTabKeyNavigation(false);
    view->setWordWrap(false);
    {
        QPalette pal = view->palette();
        pal.setColor(QPalette::Base, tk::kBrowseBg);
        pal.setColor(QPalette::Highlight, tk::kFocusedRowBg);
        pal.setColor(QPalette::HighlightedText, Qt::black);
        pal.setColor(QPalette::Inactive, QPalette::Highlight, tk::kFocusedRowBg);
        pal.setColor(QPalette::Inactive, QPalette::HighlightedText, Qt::black);
        view->setPalette(pal);
    }
    const int digit = view->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const int widths[] = {10, 5, 30, 12, 14, 18};
    for (int c = 0; c < 6; ++c) view->setColumnWidth(c, digit * widths[c] + 12);

    int vendChoice = 1, periodChoice = static_cast<int>(period);
    std::vector<transfer::Visit> shown;
    auto fill = [&](uint32_t keepContact) {
        const int32_t today = xb::todayJulian();
        transfer::AgendaQuery q;
        q.salesperson = vendCodes[static_cast<size_t>(std::max(vendChoice, 1) - 1)];
        q.today = today;
        q.until = periodChoice == 1 ? today : periodChoice == 2 ? transfer::endOfWeek(today) : 0;
        try {
            shown = transfer::nextVisits(camino(), q);
        } catch (const std::runtime_error& e) {
            shown.clear();
            data::PARE(xb::utf8ToCp1252(std::string("No se puede leer la agenda: ") + e.what()));
        }
        model->removeRows(0, model->rowCount());
        int overdue = 0, current = 0;
        for (const transfer::Visit& v : shown) {
            QList<QStandardItem*> row;
            for (const QString& t :
                 {dateText(v.fecProx), tk::fromAnsi(v.horProx), tk::fromAnsi(v.name),
                  tk::fromAnsi(v.phone), tk::fromAnsi(v.city),
                  tk::fromAnsi(v.vendName.empty() ? v.vendedor : v.vendName)}) {
                auto* item = new QStandardItem(t);
                if (v.overdue) {
                    item->setForeground(QColor(200, 0, 0));
                    item->setToolTip(QStringLiteral("Visita atrasada"));
                }
                row << item;
            }
            if (v.overdue) ++overdue;
            if (v.contactRec == keepContact) current = model->rowCount();
            model->appendRow(row);
        }
        QString text = QStringLiteral("%1 visita%2")
                           .arg(shown.size())
                           .arg(QLatin1String(shown.size() == 1 ? "" : "s"));
        if (overdue > 0)
            text += QStringLiteral(", %1 atrasada%2")
                        .arg(overdue)
                        .arg(QLatin1String(overdue == 1 ? "" : "s"));
        count->setText(text);
        if (model->rowCount() > 0) view->selectRow(current);
    };
    auto currentContact = [&]() -> uint32_t {
        const int r = view->currentIndex().row();
        return r >= 0 && r < static_cast<int>(shown.size())
                   ? shown[static_cast<size_t>(r)].contactRec
                   : 0;
    };

    auto open = [&] {
        const int r = view->currentIndex().row();
        if (r < 0 || r >= static_cast<int>(shown.size())) return;
        const transfer::Visit v = shown[static_cast<size_t>(r)];
        dbf::WorkArea& p = areaOf("Prospecto");
        if (v.prospectRec != 0) p.goTo(v.prospectRec);
        if (v.prospectRec == 0 || p.eof() || p.deleted()) {
            data::PARE(xb::utf8ToCp1252("El prospecto de esta visita ya no está en el fichero."));
            return;
        }
        ws().select("Prospecto");
        FICHPROSP("M", &dlg, 2, v.nt);
        fill(v.contactRec);
        view->setFocus();
    };

    f.bindCombo(
        102, vendItems, [&] { return vendChoice; }, [&](int i) { vendChoice = i; },
        [&](int) { fill(currentContact()); });
    f.bindCombo(
        103, {QStringLiteral("Hoy"), QStringLiteral("Esta semana"), QStringLiteral("Todas")},
        [&] { return periodChoice; }, [&](int i) { periodChoice = i; },
        [&](int) { fill(currentContact()); });
    f.bindCheck(
        105, [] { return agendaNoticeOn(); }, [](bool) {}, [](bool on) { setAgendaNoticeOn(on); });
    f.bindButton(201, {QStringLiteral("&Abrir ficha"),
                       {},
                       QStringLiteral("Abrir la ficha del prospecto en sus contactos"),
                       {},
                       open});
    f.bindButton(205, {QStringLiteral("&Salir"),
                       {},
                       QStringLiteral("Salir de la agenda"),
                       {},
                       [&] { dlg.end(0); },
                       true});
    QObject::connect(view, &QTableView::doubleClicked, view, [&](const QModelIndex&) { open(); });
    new EnterOpens(view, open);
    dlg.setOnInit([&] {
        fill(0);
        view->setFocus();
    });
    dlg.run();
}

int AVISOAGENDA(QWidget* owner) {
    if (!agendaNoticeOn() || camino().empty()) return 0;
    transfer::AgendaQuery q;
    q.today = q.until = xb::todayJulian();
    int due = 0;
    try {
        for (const transfer::Visit& v : transfer::nextVisits(camino(), q))
            if (v.fecProx == q.today) ++due;
    } catch (const std::runtime_error&) {
        return 0;  // the agenda itself tells what is wrong when opened
    }
    if (due == 0) return 0;
    const std::string text = due == 1
                                 ? std::string("Hay 1 visita prevista para hoy.")
                                 : "Hay " + std::to_string(due) + " visitas previstas para hoy.";
    const int answer =
        data::alertDialog(text +
                              "\n\xbf"
                              "Desea ver la agenda?",
                          "Agenda de visitas", {"&Abrir agenda", "A&hora no", "&No avisar m\xe1s"});
    if (answer == 1)
        AGENDAVIS(owner, AgendaPeriod::Today);
    else if (answer == 3)
        setAgendaNoticeOn(false);
    return due;
}

}  // namespace prospects
