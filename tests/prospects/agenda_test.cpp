// The agenda of visits on a sample company built around a day a month ago,
// so that some visits are overdue, some fall this week and some later: the
// query against an independent reader (dbfread), and the window filtered to
// one salesperson and this week, opening a card on its contacts page; the
// notice of the visits due today and its workstation setting.
#include <QComboBox>
#include <QLabel>
#include <QProcess>
#include <QTabWidget>
#include <QTableView>
#include <map>

#include "data/demo.h"
#include "outside_tools.h"
#include "prospect_fixture.h"
#include "prospects/agenda.h"
#include "toolkit/testdriver.h"
#include "transfer/agenda.h"
#include "xbase/codepage.h"

using tk::test::Handle;

namespace {

class Agenda : public ProspectFixture {
  protected:
    void SetUp() override {
        ProspectFixture::SetUp();
        dbf::workspace().closeAll();
        today = xb::todayJulian();
        data::DemoOptions o;
        o.prospects = 300;
        o.today = today - 30;
        data::fillDemoCompany(camino(), o);
        // One visit due today, after a contact yesterday, on the first
        // contact's prospect.
        pt::withTable("Contacto", [&](dbf::WorkArea& c) {
            c.goTo(1);
            std::map<std::string, std::string> link;
            for (const char* f : {"NUMPROSP", "CLIENTE", "VENDEDOR"}) link[f] = prospects::S(c, f);
            const int32_t created = prospects::D(c, "FEC_CREA");
            c.append();
            for (const auto& [f, v] : link) prospects::putS(c, f.c_str(), v);
            prospects::putD(c, "FEC_CREA", created);
            prospects::putD(c, "FEC_CONT", today - 1);
            prospects::putD(c, "FEC_REAL", today - 1);
            prospects::putD(c, "FEC_PROX", today);
            prospects::putS(c, "HOR_PROX", "08:15");
            prospects::putN(c, "NT", 9);
            c.unlock(0);
        });
    }
    static std::string camino() { return xb::getVar("G_CAMINO").asString(); }
    // The visits of this week from today on, and the overdue ones.
    std::vector<transfer::Visit> week(const std::string& vend) const {
        return transfer::nextVisits(camino(), {vend, today, transfer::endOfWeek(today)});
    }
    // The salesperson whose week has the most of both kinds of visit.
    std::string busiest() const {
        std::map<std::string, std::pair<int, int>> n;
        for (const transfer::Visit& v : week({}))
            ++(v.overdue ? n[v.vendedor].first : n[v.vendedor].second);
        std::string best;
        int most = -1;
        for (const auto& [vend, k] : n)
            if (std::min(k.first, k.second) > most) {
                most = std::min(k.first, k.second);
                best = vend;
            }
        return best;
    }
    int32_t today = 0;
};

}  // namespace

TEST_F(Agenda, OneSalespersonsWeekIsWhatAnIndependentReaderFinds) {
    VDR_NEED_TOOL(testsupport::dbfreadInstalled(), "python3-dbfread");
    const std::string vend = busiest();
    const std::vector<transfer::Visit> visits = week(vend);
    std::string ours;
    int overdue = 0;
    for (const transfer::Visit& v : visits) {
        overdue += v.overdue;
        for (const std::string& s : {xb::formatDate(v.fecProx, "dd-mm-yyyy"), v.horProx, v.cliente,
                                     v.name, v.phone, v.city, v.vendedor})
            ours += xb::cp1252ToUtf8(s) + "|";
        ours += v.overdue ? "S\n" : "N\n";
    }
    EXPECT_GT(overdue, 0);
    EXPECT_LT(overdue, static_cast<int>(visits.size()));
    QProcess py;
    py.start(QStringLiteral("/usr/bin/python3"),
             {QStringLiteral(VDR_SOURCE_DIR "/tests/prospects/transfer_check.py"),
              QStringLiteral("agenda"), QString::fromStdString(data::hostPath(camino())),
              QString::fromStdString(xb::dtos(today)), QString::fromStdString(vend)});
    ASSERT_TRUE(py.waitForFinished(120000));
    ASSERT_EQ(py.exitCode(), 0) << py.readAllStandardError().toStdString();
    EXPECT_EQ(ours, py.readAllStandardOutput().toStdString());
}

TEST_F(Agenda, TheWindowFiltersAndOpensTheCardOnItsContacts) {
    const std::string vend = busiest();
    const std::vector<transfer::Visit> visits = week(vend);
    ASSERT_FALSE(visits.empty());
    int later = 0;
    while (later < static_cast<int>(visits.size()) && visits[later].nt == "1") ++later;
    ASSERT_LT(later, static_cast<int>(visits.size())) << "no visit from a later contact";
    tk::test::Driver driver;
    driver.watchdog(60000);
    int all = 0, filtered = 0, page = 0;
    QString firstColour, count, cardTitle;
    std::string shownNt;
    driver.whenOpen(QStringLiteral("AgendaVis"), [&](Handle& h) {
        auto* view = qobject_cast<QTableView*>(h.control(101));
        all = view->model()->rowCount();
        auto* vends = qobject_cast<QComboBox*>(h.control(102));
        for (int i = 0; i < vends->count(); ++i)
            if (vends->itemText(i).startsWith(QString::fromStdString(vend) + " - "))
                h.choose(102, vends->itemText(i));
        h.choose(103, QStringLiteral("Esta semana"));
        filtered = view->model()->rowCount();
        firstColour = view->model()->index(0, 2).data(Qt::ForegroundRole).value<QColor>().name();
        count = h.window()->findChild<QLabel*>(QStringLiteral("recordCount"))->text();
        driver.whenOpen(QStringLiteral("FoldProsp"), [&](Handle& card) {
            cardTitle = card.window()->windowTitle();
            // On the contact the visit came from, not on the first one.
            dbf::WorkArea& contacts = prospects::listBuffer(2);
            shownNt = contacts.table().getString(contacts.table().fieldIndex("NT"));
            page = qobject_cast<QTabWidget*>(card.control(101))->currentIndex() + 1;
            card.onPage(101, 2).press(201);
        });
        // A visit from a prospect's later contact.
        view->setCurrentIndex(view->model()->index(later, 0));
        h.key(101, Qt::Key_Return);
        h.press(205);
    });
    prospects::AGENDAVIS();
    ASSERT_TRUE(driver.allRun()) << driver.failures().join('|').toStdString();
    EXPECT_EQ(all, static_cast<int>(transfer::nextVisits(camino(), {{}, today, 0}).size()));
    EXPECT_EQ(filtered, static_cast<int>(visits.size()));
    // Overdue visits come first, in red.
    EXPECT_TRUE(visits[0].overdue);
    EXPECT_EQ(firstColour, QStringLiteral("#c80000"));
    int overdue = 0;
    for (const transfer::Visit& v : visits) overdue += v.overdue;
    EXPECT_EQ(count, QStringLiteral("%1 visitas, %2 atrasada%3")
                         .arg(visits.size())
                         .arg(overdue)
                         .arg(overdue == 1 ? "" : "s"));
    EXPECT_EQ(cardTitle.toStdString(), "Ficha Prospecto : " + xb::cp1252ToUtf8(visits[later].name));
    EXPECT_EQ(page, 2);
    EXPECT_EQ(QString::fromStdString(shownNt).trimmed().toStdString(), visits[later].nt);
    EXPECT_FALSE(dbf::workspace().used("Prospecto"));

    // The notice: the visits due today, until this workstation turns it off.
    int dueToday = 0;
    for (const transfer::Visit& v : transfer::nextVisits(camino(), {{}, today, today}))
        dueToday += v.fecProx == today;
    ASSERT_GT(dueToday, 0);
    interaction.answer(2);  // "Ahora no"
    EXPECT_EQ(prospects::AVISOAGENDA(), dueToday);
    interaction.answer(3);  // "No avisar más"
    EXPECT_GT(prospects::AVISOAGENDA(), 0);
    EXPECT_EQ(prospects::AVISOAGENDA(), 0);
    EXPECT_EQ(interaction.of(data::ScriptedInteraction::Kind::Alert).size(), 2u);
    EXPECT_FALSE(prospects::agendaNoticeOn());
}
