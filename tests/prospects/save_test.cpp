// The card's buffers, the save and the deletion of a prospect over a real
// company, with other workstations as real processes (this binary started
// again as ProspectChild.DISABLED_Run), some of them killed in the middle of a save.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <filesystem>
#include <functional>
#include <memory>

#include "cutfs_mount.h"
#include "data/maintenance.h"
#include "dbf/locks.h"
#include "prospect_fixture.h"
#include "prospects/fichprosp.h"
#include "toolkit/dialog.h"
#include "toolkit/testdriver.h"

using namespace prospects;

namespace {

const char* kNum1 = "20260314101010";
const char* kNum2 = "20260314111111";

// Two prospects with the same client code (each with its own link), the
// first with two products offered and a contact, the second with one of each
// list; a third table row of another client sits between them.
struct Company {
    ProspectFields a, b;
    uint32_t recA = 0, recB = 0;
};

Company makeCompany() {
    Company c;
    pt::addVendor("V1", "ANA PEREZ");
    pt::addVendor("V2", "LUIS GOMEZ");
    pt::addProduct("P1", "PLAN BASICO", 1500);
    pt::addProduct("P2", "PLAN PLUS", 250.5);
    pt::addPlan("PL1", "PLAN DE VERANO");
    c.a = pt::prospect("C001", "V1", kNum1, "ACME LTDA");
    c.b = pt::prospect("C001", "V2", kNum2, "ACME SUCURSAL");
    c.recA = pt::addProspect(c.a);
    c.recB = pt::addProspect(c.b);
    pt::addRow(1, c.a.link(), "P1", 3, 4500);
    pt::addRow(1, c.b.link(), "P2", 1, 250.5);
    pt::addRow(1, c.a.link(), "P2", 2, 501);
    pt::addRow(2, c.a.link(), "PRIMERA VISITA", 0, 0);
    pt::addRow(2, c.b.link(), "OTRA", 0, 0);
    pt::addRow(3, c.b.link(), "P2", 1, 250.5);
    return c;
}

void goProspect(uint32_t recno) {
    pt::area("Prospecto").goTo(recno);
}

// Whether another process finds this workstation's journal held, as a
// running operation holds it.
bool journalHeldForOthers() {
    const std::string path = data::hostPath(workstationFolder() + kJournalName);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(path.c_str(), O_RDWR);
        if (fd < 0) ::_exit(2);
        using namespace dbf::locks;
        ::_exit(tryLock(fd, kExclusiveByte, 1, Kind::Write) ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 2) << path;
    return WIFEXITED(status) && WEXITSTATUS(status) == 1;
}

using Rows = std::vector<std::string>;

}  // namespace

// ---------------------------------------------------------------- child

// Another workstation: does the operation named by VDR_PROSP_CHILD on the
// installation VDR_PROSP_DIR and ends; VDR_PROSP_KILL "step:n" kills it with
// SIGKILL at the n-th call of that step of the save.
TEST(ProspectChild, DISABLED_Run) {
    const char* action = std::getenv("VDR_PROSP_CHILD");
    ASSERT_TRUE(action && *action) << "started only as a child process";
    pt::ensureApp();
    ASSERT_TRUE(QDir::setCurrent(QString::fromLocal8Bit(std::getenv("VDR_PROSP_DIR"))));
    data::ScriptedInteraction quiet;
    data::setInteraction(&quiet);
    const char* wsName = std::getenv("VDR_PROSP_WS");
    pt::startWorkstation(wsName && *wsName ? wsName : "WS2");
    pt::openBrowserTables();
    const std::string kill = std::getenv("VDR_PROSP_KILL") ? std::getenv("VDR_PROSP_KILL") : "";
    const std::string extra = std::getenv("VDR_PROSP_EXTRA") ? std::getenv("VDR_PROSP_EXTRA") : "";
    if (!kill.empty()) {
        const int want = std::stoi(kill.substr(0, kill.find(':')));
        const int nth = std::stoi(kill.substr(kill.find(':') + 1));
        setSaveHook([want, nth](SaveStep s, int n) {
            if (static_cast<int>(s) == want && n == nth) ::raise(SIGKILL);
        });
    }
    const std::string a = action;
    // What the other workstation was told, for the parent's failure message.
    struct Tell {
        data::ScriptedInteraction& i;
        ~Tell() {
            for (const auto& s : i.shown()) std::fprintf(stderr, "[WS2] %s\n", s.message.c_str());
        }
    } tell{quiet};
    CardValues v;
    if (a == "move" || a == "rename") {
        // Opens the card of the record EXTRA, changes it and saves.
        goProspect(static_cast<uint32_t>(std::stoul(extra)));
        ASSERT_TRUE(prepareCard("M", v));
        if (a == "move") {
            v.p.codvend = pad("V2", 8);
            v.p.vta = true;
            v.docum = pad("FAC-77", 20);
            ProductRow r{"P2", "PLAN PLUS", 4, 250.5, 1002};
            writeProductRow(1, "I", r, v);
            ContactRow c;
            c.resultado = pad("SEGUNDA VISITA", 120);
            writeContactRow("I", c, v);
        } else {
            v.p.nombre = pad("CAMBIADO EN WS2", kWNombre);
        }
        ASSERT_EQ(saveProspect("M", v), SaveResult::Saved);
    } else if (a == "contact") {
        // Logs a second contact on the card of the record EXTRA.
        goProspect(static_cast<uint32_t>(std::stoul(extra)));
        ASSERT_TRUE(prepareCard("M", v));
        ContactRow c;
        c.resultado = pad("SEGUNDA VISITA", 120);
        c.observac = "VOLVER EL LUNES";
        writeContactRow("I", c, v);
        ASSERT_EQ(saveProspect("M", v), SaveResult::Saved);
    } else if (a == "delete") {
        goProspect(static_cast<uint32_t>(std::stoul(extra)));
        ASSERT_TRUE(openCardTables());
        ASSERT_TRUE(deleteProspect(static_cast<uint32_t>(std::stoul(extra))));
    } else if (a == "hold") {
        // Holds every journal of the company as its running operation
        // would, until the parent lets go.
        const QDir company(QString::fromStdString(data::hostPath(tableVar("G_CAMINO"))));
        std::vector<int> held;
        for (const QString& sub : company.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QString j = company.filePath(sub + "/" + kJournalName);
            const int fd = ::open(QFile::encodeName(j).constData(), O_RDWR);
            if (fd < 0) continue;
            ASSERT_TRUE(
                dbf::locks::tryLock(fd, dbf::locks::kExclusiveByte, 1, dbf::locks::Kind::Write));
            held.push_back(fd);
        }
        ASSERT_FALSE(held.empty());
        const QString dirPath = QString::fromLocal8Bit(std::getenv("VDR_PROSP_DIR"));
        QFile mark(dirPath + "/held");
        ASSERT_TRUE(mark.open(QIODevice::WriteOnly));
        mark.close();
        for (int i = 0; i < 3000 && !QFile::exists(dirPath + "/release"); ++i) ::usleep(10000);
        for (int fd : held) ::close(fd);
    } else if (a == "create") {
        // A new prospect C777 of V1 whose card was opened at the second EXTRA.
        ASSERT_TRUE(prepareCard("I", v));
        v.p.numprosp = extra;
        v.p.codvend = pad("V1", 8);
        v.p.codprosp = pad("C777", 8);
        writeProductRow(1, "I", ProductRow{"P1", "", 1, 1500, 1500}, v);
        // Wait for the sibling so that both save at the same moment.
        QFile go(QString::fromLocal8Bit(std::getenv("VDR_PROSP_DIR")) + "/go");
        for (int i = 0; i < 500 && !go.exists(); ++i) ::usleep(10000);
        ASSERT_EQ(saveProspect("I", v), SaveResult::Saved);
    } else if (a == "churn") {
        // Moves prospect after prospect to another salesperson (every row of
        // the prospect rewritten) until the file "stop" appears; "busy"
        // appears after the first save.
        const QString dir = QString::fromLocal8Bit(std::getenv("VDR_PROSP_DIR"));
        dbf::WorkArea& vend = pt::area("Vendedor");
        std::vector<std::string> codes;
        for (vend.goTop(); !vend.eof(); vend.skip(1)) codes.push_back(S(vend, "CODIGO"));
        ASSERT_GE(codes.size(), 2u);
        const uint32_t n = pt::area("Prospecto").recCount();
        for (uint32_t i = 0; !QFile::exists(dir + "/stop"); ++i) {
            goProspect(i % n + 1);
            ASSERT_TRUE(prepareCard("M", v));
            v.p.codvend = codes[i % codes.size()] == v.p.codvend ? codes[(i + 1) % codes.size()]
                                                                 : codes[i % codes.size()];
            // Told the record is locked (a backup holds the table), the user waits on.
            SaveResult r;
            while ((r = saveProspect("M", v)) == SaveResult::Abandoned) ::usleep(20000);
            ASSERT_EQ(r, SaveResult::Saved);
            if (i == 0) QFile(dir + "/busy").open(QIODevice::WriteOnly);
        }
    }
    dbf::workspace().closeAll();
    data::setInteraction(nullptr);
}

// ------------------------------------------------------------------ buffers

TEST_F(ProspectFixture, CardBuffersHoldOnlyTheProspectsRowsInStoredOrder) {
    Company c = makeCompany();
    goProspect(c.recA);
    CardValues v;
    ASSERT_TRUE(prepareCard("M", v));
    EXPECT_EQ(trimmed(v.vendName), "ANA PEREZ");
    ASSERT_EQ(bufferRows(1), 2);
    dbf::WorkArea& b1 = pt::area("Buffer1");
    b1.goTop();
    EXPECT_EQ(trimmed(S(b1, "CODPROD")), "P1");
    b1.skip(1);
    EXPECT_EQ(trimmed(S(b1, "CODPROD")), "P2");
    EXPECT_EQ(bufferRows(2), 1);
    EXPECT_EQ(trimmed(v.cResultado), "PRIMERA VISITA");
    // No sold rows: the sold list starts as a copy of the offers.
    ASSERT_EQ(bufferRows(3), 2);
    EXPECT_DOUBLE_EQ(v.totalOf, 5001);
    EXPECT_DOUBLE_EQ(v.totalVt, v.totalOf);
    dbf::WorkArea& b3 = pt::area("Buffer3");
    b3.goTop();
    EXPECT_EQ(S(b3, "NUMPROSP"), kNum1);
    EXPECT_TRUE(blank(S(b3, "DOCUM")));

    // The other record of the same client code has its own rows.
    closeBuffers();
    closeCardTables();
    goProspect(c.recB);
    ASSERT_TRUE(prepareCard("M", v));
    EXPECT_EQ(bufferRows(1), 1);
    EXPECT_EQ(bufferRows(2), 1);
    EXPECT_EQ(bufferRows(3), 1);
    EXPECT_EQ(trimmed(v.p.nombre), "ACME SUCURSAL");
}

// The cards of one browser share the card's tables and buffers: each card
// still shows only its own prospect's rows (the last card's are emptied
// out), saves go where they belong, and when the browser goes the tables
// close with their bags settled.
TEST_F(ProspectFixture, CardsOfOneBrowserKeepTheirTablesAndEmptyTheBuffers) {
    Company c = makeCompany();
    CardValues v;
    {
        CardTablesKept keep;
        goProspect(c.recA);
        ASSERT_TRUE(prepareCard("M", v));
        ASSERT_EQ(bufferRows(1), 2);
        ContactRow second;
        second.resultado = pad("SEGUNDA VISITA", 120);
        writeContactRow("I", second, v);
        v.p.nombre = pad("ACME CAMBIADA", kWNombre);
        ASSERT_EQ(saveProspect("M", v), SaveResult::Saved);
        closeBuffers();
        closeCardTables();
        EXPECT_TRUE(dbf::workspace().used("Producto"));
        EXPECT_TRUE(dbf::workspace().used("Buffer2"));
        // The journal stays held, and empty, between the browser's saves.
        EXPECT_TRUE(journalHeldForOthers());
        EXPECT_EQ(
            QFileInfo(QString::fromStdString(data::hostPath(workstationFolder() + kJournalName)))
                .size(),
            0);

        goProspect(c.recB);
        ASSERT_TRUE(prepareCard("M", v));
        EXPECT_EQ(trimmed(v.p.nombre), "ACME SUCURSAL");
        EXPECT_EQ(bufferRows(1), 1);
        EXPECT_EQ(bufferRows(2), 1);
        EXPECT_EQ(bufferRows(3), 1);
        closeBuffers();
        closeCardTables();

        goProspect(c.recA);
        ASSERT_TRUE(prepareCard("M", v));
        EXPECT_EQ(trimmed(v.p.nombre), "ACME CAMBIADA");
        EXPECT_EQ(bufferRows(1), 2);
        EXPECT_EQ(bufferRows(2), 2);
        closeBuffers();
        closeCardTables();
    }
    EXPECT_FALSE(dbf::workspace().used("Producto"));
    EXPECT_FALSE(dbf::workspace().used("Buffer1"));
    EXPECT_FALSE(journalHeldForOthers());  // let go with the browser
    EXPECT_EQ(pt::whatOf(2, c.a.link()), (Rows{"PRIMERA VISITA", "SEGUNDA VISITA"}));
    EXPECT_EQ(pt::vdrtoolCheck(), "");
}

TEST_F(ProspectFixture, UnknownSalespersonAndListRowsEditing) {
    Company c = makeCompany();
    ProspectFields orphan = pt::prospect("C002", "VX", "20260314121212", "SIN VENDEDOR");
    const uint32_t r = pt::addProspect(orphan);
    goProspect(r);
    CardValues v;
    ASSERT_TRUE(prepareCard("M", v));
    EXPECT_EQ(v.vendName,
              "ERROR..... C\xf3"
              "digo no registrado....");
    // Deleting the second of three rows leaves two, numbered 1 and 2.
    for (const char* code : {"P1", "P2", "P1"})
        writeProductRow(1, "I", ProductRow{code, "", 1, 10, 10}, v);
    deleteBufferRow(1, 2);
    dbf::WorkArea& b1 = pt::area("Buffer1");
    EXPECT_EQ(b1.recCount(), 2u);
    b1.goTo(2);
    EXPECT_EQ(trimmed(S(b1, "CODPROD")), "P1");
    EXPECT_DOUBLE_EQ(bufferTotal(1), 20);
    (void)c;
}

// The salesperson, plan and product fields and the sold grid's names find a
// code only whole: a code that merely begins a stored one is unknown.
TEST_F(ProspectFixture, CodesAreFoundWholeNotByTheirBeginning) {
    makeCompany();
    pt::addVendor("V30", "ROSA DIAZ");
    pt::addProduct("A10", "ARTICULO", 99);
    ASSERT_TRUE(openCardTables());
    std::string desc;
    EXPECT_FALSE(lookupCode("Vendedor", "V3", "NOMBRE", desc));
    EXPECT_FALSE(lookupCode("Vendedor", pad("V3", 8), "NOMBRE", desc));
    EXPECT_FALSE(lookupCode("Producto", "A", "NOMBRE", desc));
    EXPECT_FALSE(lookupCode("Producto", "P", "NOMBRE", desc));
    EXPECT_FALSE(lookupCode("Plan", "PL", "DETALLE", desc));
    EXPECT_FALSE(lookupCode("Vendedor", "V300000000", "NOMBRE", desc));
    EXPECT_FALSE(lookupCode("Vendedor", "        ", "NOMBRE", desc));
    ASSERT_TRUE(lookupCode("Vendedor", pad("V30", 8), "NOMBRE", desc));
    EXPECT_EQ(trimmed(desc), "ROSA DIAZ");
    ASSERT_TRUE(lookupCode("Producto", "A10", "NOMBRE", desc));
    EXPECT_EQ(trimmed(desc), "ARTICULO");
    ASSERT_TRUE(lookupCode("Plan", "PL1", "DETALLE", desc));
    EXPECT_EQ(trimmed(desc), "PLAN DE VERANO");
}

TEST(ProspectTotals, AQuantityTimesAPriceThatDoesNotFitIsRefused) {
    double t = -1;
    EXPECT_TRUE(productTotal(3, 1500, t));
    EXPECT_DOUBLE_EQ(t, 4500);
    EXPECT_TRUE(productTotal(9999999.99, 99.99, t));  // 999,999,998.00 fits
    EXPECT_FALSE(productTotal(9999999.99, 999999999.99, t));
    EXPECT_FALSE(productTotal(1000000, 1000, t));
    EXPECT_FALSE(productTotal(-1000000, 1000, t));
}

TEST(ProspectHours, OnlyAClockHourOrNoneIsTaken) {
    for (const char* ok : {"00:00", "23:59", "09:05", "  :  ", "     ", ""})
        EXPECT_TRUE(validHour(ok)) << ok;
    for (const char* bad : {"24:00", "25:99", "12:60", "1 :30", "12:3 ", " 9:30", "1230"})
        EXPECT_FALSE(validHour(bad)) << bad;
}

// ------------------------------------------------------------------ VALIDAPROSP

TEST_F(ProspectFixture, ClientLookupCopiesIdentityAndBlanksOnlyAChangedCode) {
    Company c = makeCompany();
    ProspectFields other = pt::prospect("C001", "V2", "20260101000000", "ACME ANTIGUA");
    other.email = pad("ventas@acme.example", kWEmail);
    pt::addProspect(other);
    ASSERT_TRUE(openCardTables());
    CardValues v = newCard();
    v.p.codvend = pad("V9", 8);
    // Several records with the code: the first in code order (the first stored).
    EXPECT_TRUE(lookupClient("C001", v, true));
    EXPECT_EQ(trimmed(v.p.nombre), "ACME LTDA");
    EXPECT_EQ(trimmed(v.p.codvend), "V9");  // not touched

    v.p.nombre = pad("TECLEADO", kWNombre);
    v.p.email = pad("a@b.example", kWEmail);
    EXPECT_FALSE(lookupClient("ZZZ", v, false));
    EXPECT_EQ(trimmed(v.p.nombre), "TECLEADO");
    EXPECT_FALSE(lookupClient("ZZZ", v, true));
    EXPECT_TRUE(blank(v.p.nombre));
    EXPECT_EQ(v.p.email.size(), 60u);
    EXPECT_TRUE(blank(v.p.email));
    (void)c;
}

// ------------------------------------------------------------------ save

TEST_F(ProspectFixture, NewProspectStoresEveryListWithTheFinalLink) {
    pt::addVendor("V1", "ANA PEREZ");
    pt::addProduct("P1", "PLAN BASICO", 1500);
    CardValues v;
    ASSERT_TRUE(prepareCard("I", v));
    EXPECT_EQ(v.p.numprosp.size(), 14u);
    // Rows added before the salesperson and the code were typed.
    writeProductRow(1, "I", ProductRow{"P1", "", 3, 1500, 4500}, v);
    ContactRow ct;
    ct.resultado = pad("LLAMAR", 120);
    writeContactRow("I", ct, v);
    writeProductRow(3, "I", ProductRow{"P1", "", 1, 1500, 1500}, v);
    v.docum = pad("FAC-1", 10);
    v.planVt = pad("PL1", 8);
    EXPECT_EQ(saveProspect("I", v), SaveResult::NoCode);
    EXPECT_EQ(interaction.shown().back().message,
              "Debe asignar un C\xf3"
              "digo al Prospecto.....");
    v.p.codvend = pad("V1", 8);
    v.p.codprosp = pad("N001", 8);
    v.p.nombre = pad("NUEVO CLIENTE", kWNombre);
    v.planOf = pad("PL1", 8);
    v.p.vta = false;  // mode I stores the sold list whatever VTA says
    ASSERT_EQ(saveProspect("I", v), SaveResult::Saved);
    const Link l = v.p.link();
    EXPECT_EQ(pt::whatOf(1, l), Rows{"P1"});
    EXPECT_EQ(pt::whatOf(2, l), Rows{"LLAMAR"});
    EXPECT_EQ(pt::whatOf(3, l), Rows{"P1"});
    EXPECT_EQ(pt::storedRows(1).at(0).plan, "PL1");
    // The sold rows go in as they were entered: a new card stamps no sale.
    EXPECT_EQ(pt::storedRows(3).at(0).plan, "");
    EXPECT_EQ(pt::storedRows(3).at(0).docum, "");
    EXPECT_EQ(pt::vdrtoolCheck(), "");
}

TEST_F(ProspectFixture, SalespersonChangeMovesEveryRowAndSaleReplacesSoldRows) {
    Company c = makeCompany();
    goProspect(c.recA);
    CardValues v;
    ASSERT_TRUE(prepareCard("M", v));
    v.p.codvend = pad("V2", 8);
    v.p.vta = true;
    v.docum = pad("FAC-1", 20);
    v.planVt = pad("PL1", 8);
    ASSERT_EQ(saveProspect("M", v), SaveResult::Saved);
    const Link oldL = c.a.link();
    Link newL = oldL;
    newL.codvend = pad("V2", 8);
    EXPECT_TRUE(pt::whatOf(1, oldL).empty());
    EXPECT_TRUE(pt::whatOf(2, oldL).empty());
    EXPECT_TRUE(pt::whatOf(3, oldL).empty());
    EXPECT_EQ(pt::whatOf(1, newL), (Rows{"P1", "P2"}));
    EXPECT_EQ(pt::whatOf(2, newL), Rows{"PRIMERA VISITA"});
    EXPECT_EQ(pt::whatOf(3, newL), (Rows{"P1", "P2"}));
    for (const pt::StoredRow& r : pt::storedRows(3))
        if (r.key == newL.key()) {
            EXPECT_EQ(r.docum, "FAC-1");
            EXPECT_EQ(r.plan, "PL1");
        }
    // The other record of the same code kept its rows.
    EXPECT_EQ(pt::whatOf(1, c.b.link()), Rows{"P2"});
    EXPECT_EQ(pt::whatOf(3, c.b.link()), Rows{"P2"});
    goProspect(c.recA);
    EXPECT_EQ(trimmed(S(pt::area("Prospecto"), "CODVEND")), "V2");

    // Saved again with VTA cleared: the products sold go.
    closeBuffers();
    closeCardTables();
    goProspect(c.recA);
    ASSERT_TRUE(prepareCard("M", v));
    v.p.vta = false;
    ASSERT_EQ(saveProspect("M", v), SaveResult::Saved);
    EXPECT_TRUE(pt::whatOf(3, newL).empty());
    EXPECT_EQ(pt::whatOf(1, newL).size(), 2u);
    EXPECT_EQ(pt::vdrtoolCheck(), "");
}

// A save writes again only the lists whose rows change: the others keep
// their rows, record for record, and their tables grow by nothing.
TEST_F(ProspectFixture, OnlyTheListsWhoseRowsChangeAreWrittenAgain) {
    Company c = makeCompany();
    const Link l = c.a.link();
    auto recnos = [&](int t) {
        std::vector<uint32_t> r;
        for (const pt::StoredRow& s : pt::storedRows(t))
            if (s.key == l.key()) r.push_back(s.recno);
        return r;
    };
    auto save = [&](const std::function<void(CardValues&)>& change) {
        goProspect(c.recA);
        CardValues v;
        ASSERT_TRUE(prepareCard("M", v));
        change(v);
        ASSERT_EQ(saveProspect("M", v), SaveResult::Saved);
        closeBuffers();
        closeCardTables();
    };
    // When a file was last written.
    auto written = [](const std::string& path) {
        return std::filesystem::last_write_time(data::hostPath(path));
    };
    const std::string prospects = tableVar("VDRPROSP");
    const std::string journal = workstationFolder() + kJournalName;
    const std::vector<uint32_t> offers = recnos(1), contacts = recnos(2);
    ASSERT_EQ(offers.size(), 2u);

    save([](CardValues& v) { v.p.nombre = pad("ACME CAMBIADA", kWNombre); });
    goProspect(c.recA);
    EXPECT_EQ(trimmed(S(pt::area("Prospecto"), "NOMBRE")), "ACME CAMBIADA");
    EXPECT_EQ(recnos(1), offers);
    EXPECT_EQ(recnos(2), contacts);

    // The observations of the contact (a memo): the contacts alone, not
    // the prospect's record.
    const auto prospectWritten = written(prospects);
    save([](CardValues&) {
        dbf::WorkArea& b = pt::area("Buffer2");
        b.goTop();
        putM(b, "OBSERVAC", "LLAMAR EL LUNES");
        b.flush();
    });
    EXPECT_EQ(recnos(1), offers);
    EXPECT_EQ(written(prospects), prospectWritten);
    const std::vector<uint32_t> contacts2 = recnos(2);
    ASSERT_EQ(contacts2.size(), 1u);
    EXPECT_NE(contacts2, contacts);
    pt::withTable("Contacto", [&](dbf::WorkArea& t) {
        t.goTo(contacts2[0]);
        EXPECT_EQ(S(t, "OBSERVAC"), "LLAMAR EL LUNES");
    });

    // A contact added at the end of the list: one row appended, the others
    // kept.
    save([](CardValues& v) {
        ContactRow added;
        added.resultado = pad("SEGUNDA VISITA", 120);
        writeContactRow("I", added, v);
    });
    const std::vector<uint32_t> contacts3 = recnos(2);
    ASSERT_EQ(contacts3.size(), 2u);
    EXPECT_EQ(contacts3[0], contacts2[0]);
    EXPECT_EQ(pt::whatOf(2, l), (Rows{"PRIMERA VISITA", "SEGUNDA VISITA"}));

    // The plan the save stamps on every offer: the offers alone.
    save([](CardValues& v) { v.planOf = pad("PL1", 8); });
    const std::vector<uint32_t> offers2 = recnos(1);
    EXPECT_NE(offers2, offers);
    EXPECT_EQ(recnos(2), contacts3);
    for (const pt::StoredRow& r : pt::storedRows(1))
        if (r.key == l.key()) {
            EXPECT_EQ(r.plan, "PL1");
        }

    // Nothing changed: nothing is written, not even the journal.
    const auto journalWritten = written(journal);
    save([](CardValues&) {});
    EXPECT_EQ(recnos(1), offers2);
    EXPECT_EQ(recnos(2), contacts3);
    EXPECT_EQ(written(journal), journalWritten);
    EXPECT_EQ(pt::whatOf(1, l), (Rows{"P1", "P2"}));
    EXPECT_EQ(pt::vdrtoolCheck(), "");
}

TEST_F(ProspectFixture, DeletionTakesOffersAndContactsAndKeepsSoldRows) {
    Company c = makeCompany();
    ASSERT_TRUE(openCardTables());
    ASSERT_TRUE(deleteProspect(c.recB));
    EXPECT_TRUE(pt::whatOf(1, c.b.link()).empty());
    EXPECT_TRUE(pt::whatOf(2, c.b.link()).empty());
    EXPECT_EQ(pt::whatOf(3, c.b.link()), Rows{"P2"});
    EXPECT_EQ(pt::whatOf(1, c.a.link()).size(), 2u);
    goProspect(c.recB);
    EXPECT_TRUE(pt::area("Prospecto").deleted());
    // Deleted again (another workstation got there first): nothing, and said so.
    EXPECT_FALSE(deleteProspect(c.recB));
    EXPECT_EQ(pt::vdrtoolCheck(), "");
}

// ------------------------------------------------------------------ sharing

TEST_F(ProspectFixture, ACardSavedAfterAnotherWorkstationChangedItWritesNothing) {
    Company c = makeCompany();
    goProspect(c.recA);
    CardValues v;
    ASSERT_TRUE(prepareCard("M", v));
    v.p.nombre = pad("MI CAMBIO", kWNombre);
    v.p.codvend = pad("V2", 8);

    std::unique_ptr<QProcess> other(
        pt::startChild(dir.path(), "rename", {}, QString::number(c.recA)));
    ASSERT_TRUE(other->waitForFinished(60000));
    ASSERT_EQ(other->exitCode(), 0) << other->readAll().toStdString();

    EXPECT_EQ(saveProspect("M", v), SaveResult::Changed);
    EXPECT_NE(interaction.shown().back().message.find("Otra estaci"), std::string::npos);
    goProspect(c.recA);
    EXPECT_EQ(trimmed(S(pt::area("Prospecto"), "NOMBRE")), "CAMBIADO EN WS2");
    EXPECT_EQ(trimmed(S(pt::area("Prospecto"), "CODVEND")), "V1");
    EXPECT_EQ(pt::whatOf(1, c.a.link()).size(), 2u);

    // Deleted by the other workstation: same answer.
    closeBuffers();
    closeCardTables();
    goProspect(c.recB);
    ASSERT_TRUE(prepareCard("M", v));
    other.reset(pt::startChild(dir.path(), "delete", {}, QString::number(c.recB)));
    ASSERT_TRUE(other->waitForFinished(60000));
    ASSERT_EQ(other->exitCode(), 0) << other->readAll().toStdString();
    EXPECT_EQ(saveProspect("M", v), SaveResult::Changed);
    goProspect(c.recB);
    EXPECT_TRUE(pt::area("Prospecto").deleted());
    EXPECT_TRUE(pt::whatOf(1, c.b.link()).empty());
}

TEST_F(ProspectFixture, TwoWorkstationsCreatingTheSameCodeInTheSameSecondGetDistinctLinks) {
    pt::addVendor("V1", "ANA PEREZ");
    pt::addProduct("P1", "PLAN BASICO", 1500);
    dbf::workspace().closeAll();
    std::unique_ptr<QProcess> a(pt::startChild(dir.path(), "create", {}, "20261209101500"));
    std::unique_ptr<QProcess> b(pt::startChild(dir.path(), "create", {}, "20261209101500"));
    ::usleep(1500000);
    QFile go(dir.filePath("go"));
    ASSERT_TRUE(go.open(QIODevice::WriteOnly));
    go.close();
    ASSERT_TRUE(a->waitForFinished(60000));
    ASSERT_TRUE(b->waitForFinished(60000));
    ASSERT_EQ(a->exitCode(), 0) << a->readAll().toStdString();
    ASSERT_EQ(b->exitCode(), 0) << b->readAll().toStdString();
    pt::openBrowserTables();
    std::vector<std::string> nums;
    dbf::WorkArea& p = pt::area("Prospecto");
    for (p.goTop(); !p.eof(); p.skip(1)) nums.push_back(S(p, "NUMPROSP"));
    ASSERT_EQ(nums.size(), 2u);
    EXPECT_NE(nums[0], nums[1]);
    // Each has its own product offered.
    for (const std::string& n : nums) {
        Link l{n, pad("C777", 8), xb::todayJulian(), pad("V1", 8)};
        EXPECT_EQ(pt::whatOf(1, l), Rows{"P1"}) << n;
    }
    EXPECT_EQ(pt::vdrtoolCheck(), "");
}

// ------------------------------------------------------------------ killed saves

namespace {

struct KillPoint {
    const char* action;
    SaveStep step;
    int nth;
};

}  // namespace

// A second workstation moves prospect A to salesperson V2 with one more
// product offered, one more contact and a sale; it is killed at each step in
// turn, and with `powerCut` the drive then loses part of what was written
// since each file's last sync. Once the journal is settled the prospect has
// exactly the old set of rows or exactly the new one, and every table checks
// clean. A save of the name alone (no row written) is finished whatever
// point it reached; one that logs a contact keeps the first contact's record
// and adds the second, or not, whole.
class SaveInterrupted : public ProspectFixture {
  protected:
    void atEveryStep(bool powerCut) {
        const KillPoint points[] = {
            {"move", SaveStep::Journaled, 1},         {"move", SaveStep::RowAppended, 1},
            {"move", SaveStep::RowAppended, 3},       {"move", SaveStep::RowAppended, 5},
            {"move", SaveStep::RowAppended, 7},       {"move", SaveStep::OldRowDeleted, 1},
            {"move", SaveStep::OldRowDeleted, 3},     {"move", SaveStep::Committed, 1},
            {"move", SaveStep::ProspectWritten, 1},   {"rename", SaveStep::Journaled, 1},
            {"rename", SaveStep::ProspectWritten, 1}, {"contact", SaveStep::Journaled, 1},
            {"contact", SaveStep::RowAppended, 1},    {"contact", SaveStep::Committed, 1},
        };
        for (const KillPoint& k : points) {
            const bool rename = std::string(k.action) == "rename";
            const int point = static_cast<int>(k.step) * 100 + k.nth +
                              (rename                               ? 50
                               : std::string(k.action) == "contact" ? 70
                                                                    : 0);
            SCOPED_TRACE(point);
            dbf::workspace().closeAll();
            // A fresh company for each kill, on the simulated drive for a cut.
            QTemporaryDir base;
            std::unique_ptr<testsupport::CutFs> fs;
            QString fresh = base.path();
            if (powerCut) {
                fs = std::make_unique<testsupport::CutFs>(base.path().toStdString());
                VDR_NEED_CUTFS(*fs);
                fresh = QString::fromStdString(fs->mount());
            }
            ASSERT_TRUE(testsupport::assembleInstallation(fresh));
            QDir::setCurrent(fresh);
            pt::startWorkstation("WS1");
            pt::openBrowserTables();
            Company c = makeCompany();
            dbf::workspace().closeAll();
            // What was there before the save is on the disk.
            if (powerCut) syncTree(fresh);

            const QString kill = QString("%1:%2").arg(static_cast<int>(k.step)).arg(k.nth);
            std::unique_ptr<QProcess> child(
                pt::startChild(fresh, k.action, kill, QString::number(c.recA)));
            ASSERT_TRUE(child->waitForFinished(60000));
            ASSERT_EQ(child->exitStatus(), QProcess::CrashExit) << child->readAll().toStdString();
            if (powerCut) {
                ASSERT_TRUE(fs->cut("cut " + std::to_string(point)));
            }

            pt::openBrowserTables();
            EXPECT_EQ(settlePendingSaves(), 1);
            const Link oldL = c.a.link();
            Link newL = oldL;
            newL.codvend = pad("V2", 8);
            const Rows o1 = pt::whatOf(1, oldL), n1 = pt::whatOf(1, newL);
            const Rows o2 = pt::whatOf(2, oldL), n2 = pt::whatOf(2, newL);
            const Rows o3 = pt::whatOf(3, oldL), n3 = pt::whatOf(3, newL);
            const bool contact = std::string(k.action) == "contact";
            const bool committed = !rename && k.step >= SaveStep::Committed;
            if (contact) {
                // The first contact kept where it was, the second there or not.
                EXPECT_EQ(o2, committed ? (Rows{"PRIMERA VISITA", "SEGUNDA VISITA"})
                                        : Rows{"PRIMERA VISITA"});
                EXPECT_EQ(pt::storedRows(2).at(0).what, "PRIMERA VISITA");
                EXPECT_EQ(o1, (Rows{"P1", "P2"}));
                EXPECT_TRUE(n1.empty() && n2.empty() && n3.empty());
            } else if (!committed) {
                EXPECT_EQ(o1, (Rows{"P1", "P2"}));
                EXPECT_EQ(o2, Rows{"PRIMERA VISITA"});
                EXPECT_TRUE(o3.empty());
                EXPECT_TRUE(n1.empty() && n2.empty() && n3.empty());
            } else {
                EXPECT_TRUE(o1.empty() && o2.empty() && o3.empty());
                EXPECT_EQ(n1, (Rows{"P1", "P2", "P2"}));
                EXPECT_EQ(n2, (Rows{"PRIMERA VISITA", "SEGUNDA VISITA"}));
                EXPECT_EQ(n3, (Rows{"P1", "P2"}));
            }
            // The prospect's record carries the salesperson of its rows.
            goProspect(c.recA);
            EXPECT_EQ(trimmed(S(pt::area("Prospecto"), "CODVEND")),
                      committed && !contact ? "V2" : "V1");
            EXPECT_EQ(trimmed(S(pt::area("Prospecto"), "NOMBRE")),
                      rename ? "CAMBIADO EN WS2" : "ACME LTDA");
            // The other prospect of the same code is untouched.
            EXPECT_EQ(pt::whatOf(1, c.b.link()), Rows{"P2"});
            EXPECT_EQ(pt::vdrtoolCheck(), "");
            // Settled once: a second look finds nothing.
            EXPECT_EQ(settlePendingSaves(), 0);
            dbf::workspace().closeAll();
            QDir::setCurrent(dir.path());
        }
    }

  private:
    static void syncTree(const QString& root) {
        QDirIterator it(root, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        std::vector<std::string> paths{root.toStdString()};
        while (it.hasNext()) paths.push_back(it.next().toStdString());
        for (const std::string& p : paths) {
            const int fd = ::open(p.c_str(), O_RDONLY);
            if (fd < 0) continue;
            ::fsync(fd);
            ::close(fd);
        }
    }
};

TEST_F(SaveInterrupted, KilledAtEveryStepLeavesOneSetOfRows) {
    atEveryStep(false);
}

TEST_F(SaveInterrupted, PowerCutAtEveryStepLeavesOneSetOfRows) {
    atEveryStep(true);
}

namespace {

// Another workstation's save or deletion of the prospect at `recno`, killed
// past its commit point: a deletion just after it deleted the first of the
// old rows, a save before it wrote the prospect.
void killPastCommit(const QString& dir, const char* action, uint32_t recno) {
    const SaveStep at =
        std::string(action) == "delete" ? SaveStep::OldRowDeleted : SaveStep::Committed;
    const QString kill = QString("%1:1").arg(static_cast<int>(at));
    std::unique_ptr<QProcess> child(pt::startChild(dir, action, kill, QString::number(recno)));
    ASSERT_TRUE(child->waitForFinished(60000));
    ASSERT_EQ(child->exitStatus(), QProcess::CrashExit) << child->readAll().toStdString();
}

}  // namespace

// A journal whose text is not the one written (a sector of another journal
// left in it by a cut in the middle of the write) is not trusted: settling
// does nothing with it and empties it.
TEST_F(ProspectFixture, AJournalWhoseTextWasNotWrittenWholeIsLeftAlone) {
    Company c = makeCompany();
    dbf::workspace().closeAll();
    ASSERT_NO_FATAL_FAILURE(killPastCommit(dir.path(), "move", c.recA));
    QString journal;
    for (QDirIterator it(dir.path(), {QString::fromLatin1(kJournalName)}, QDir::Files,
                         QDirIterator::Subdirectories);
         it.hasNext();)
        if (QFileInfo(it.next()).size() > 0) journal = it.filePath();
    ASSERT_FALSE(journal.isEmpty());
    QFile f(journal);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    QByteArray text = f.readAll();
    const qsizetype at = text.indexOf("\nF ");
    ASSERT_GT(at, 0);
    text[at + 4] = text[at + 4] == '4' ? '5' : '4';  // a letter of the salesperson
    f.seek(0);
    f.write(text);
    f.close();
    pt::openBrowserTables();
    EXPECT_EQ(settlePendingSaves(), 0);
    EXPECT_EQ(QFileInfo(journal).size(), 0);
    goProspect(c.recA);
    EXPECT_EQ(trimmed(S(pt::area("Prospecto"), "CODVEND")), "V1");
}

// A journal a cut brought back after its save had returned (its emptying
// lost) must not write over what another workstation saved after it: it is
// finished only while the record holds what that save found or wrote.
TEST_F(ProspectFixture, AJournalBroughtBackDoesNotUndoALaterSave) {
    Company c = makeCompany();
    dbf::workspace().closeAll();
    // Killed once the record was written and synced: the journal is still
    // full, as one whose emptying a cut lost.
    const QString kill = QString("%1:1").arg(static_cast<int>(SaveStep::ProspectWritten));
    std::unique_ptr<QProcess> child(
        pt::startChild(dir.path(), "rename", kill, QString::number(c.recA)));
    ASSERT_TRUE(child->waitForFinished(60000));
    ASSERT_EQ(child->exitStatus(), QProcess::CrashExit) << child->readAll().toStdString();

    pt::openBrowserTables();
    dbf::WorkArea& p = pt::area("Prospecto");
    p.goTo(c.recA);
    ASSERT_EQ(trimmed(S(p, "NOMBRE")), "CAMBIADO EN WS2");
    ASSERT_TRUE(p.lockRecord(0));
    putS(p, "NOMBRE", "GUARDADO DESPUES");
    p.table().commit();
    p.unlock(0);
    EXPECT_EQ(settlePendingSaves(), 1);
    goProspect(c.recA);
    EXPECT_EQ(trimmed(S(p, "NOMBRE")), "GUARDADO DESPUES");
    EXPECT_EQ(pt::whatOf(1, c.a.link()), (Rows{"P1", "P2"}));
    EXPECT_EQ(pt::vdrtoolCheck(), "");
}

// While another process holds a journal's byte-range lock (its operation
// runs there) the journal is left alone; once it lets go, it is settled.
TEST_F(ProspectFixture, DeletionKilledHalfWayIsFinishedBySettling) {
    Company c = makeCompany();
    dbf::workspace().closeAll();
    ASSERT_NO_FATAL_FAILURE(killPastCommit(dir.path(), "delete", c.recA));
    std::unique_ptr<QProcess> holder(pt::startChild(dir.path(), "hold"));
    for (int i = 0; i < 6000 && !QFile::exists(dir.filePath("held")); ++i) ::usleep(10000);
    ASSERT_TRUE(QFile::exists(dir.filePath("held"))) << holder->readAll().toStdString();
    pt::openBrowserTables();
    EXPECT_EQ(settlePendingSaves(), 0);
    QFile release(dir.filePath("release"));
    ASSERT_TRUE(release.open(QIODevice::WriteOnly));
    release.close();
    ASSERT_TRUE(holder->waitForFinished(60000));
    EXPECT_EQ(holder->exitCode(), 0) << holder->readAll().toStdString();
    goProspect(c.recA);
    EXPECT_FALSE(pt::area("Prospecto").deleted());  // not yet
    EXPECT_EQ(settlePendingSaves(), 1);
    goProspect(c.recA);
    EXPECT_TRUE(pt::area("Prospecto").deleted());
    EXPECT_TRUE(pt::whatOf(1, c.a.link()).empty());
    EXPECT_TRUE(pt::whatOf(2, c.a.link()).empty());
    EXPECT_EQ(pt::whatOf(1, c.b.link()), Rows{"P2"});
    EXPECT_EQ(pt::vdrtoolCheck(), "");
}

// The self-maintenance packs the tables, which renumbers the rows a
// half-done save's journal names: it settles the save first, so the prospect
// still ends with exactly the new set of rows.
TEST_F(ProspectFixture, SelfMaintenanceSettlesAKilledSaveBeforePacking) {
    Company c = makeCompany();
    dbf::workspace().closeAll();
    ASSERT_NO_FATAL_FAILURE(killPastCommit(dir.path(), "move", c.recA));

    data::runGeneralMaintenance();
    pt::openBrowserTables();
    EXPECT_EQ(settlePendingSaves(), 0);  // nothing left for the card to settle
    Link newL = c.a.link();
    newL.codvend = pad("V2", 8);
    EXPECT_TRUE(pt::whatOf(1, c.a.link()).empty());
    EXPECT_EQ(pt::whatOf(1, newL), (Rows{"P1", "P2", "P2"}));
    EXPECT_EQ(pt::whatOf(2, newL), (Rows{"PRIMERA VISITA", "SEGUNDA VISITA"}));
    EXPECT_EQ(pt::whatOf(1, c.b.link()), Rows{"P2"});
    EXPECT_EQ(pt::vdrtoolCheck(), "");
}

// The browser settles what a dead save left before it shows a row: the
// prospect it lists already carries the salesperson of its new rows, and
// nothing is left to settle after it.
TEST_F(ProspectFixture, TheBrowserSettlesAKilledSaveWhenItOpens) {
    Company c = makeCompany();
    dbf::workspace().closeAll();
    ASSERT_NO_FATAL_FAILURE(killPastCommit(dir.path(), "move", c.recA));

    tk::test::Driver driver;
    driver.watchdog(60000);
    std::string vendorShown;
    Rows oldRows, newRows;
    Link newL = c.a.link();
    newL.codvend = pad("V2", 8);
    driver.whenOpen(QStringLiteral("BROWSEINPROSP"), [&](tk::test::Handle& h) {
        goProspect(c.recA);
        vendorShown = trimmed(S(pt::area("Prospecto"), "CODVEND"));
        oldRows = pt::whatOf(1, c.a.link());
        newRows = pt::whatOf(1, newL);
        h.press(205);
    });
    BROWINPROSP();
    ASSERT_TRUE(driver.allRun()) << driver.failures().join('|').toStdString();
    EXPECT_EQ(vendorShown, "V2");
    EXPECT_TRUE(oldRows.empty());
    EXPECT_EQ(newRows, (Rows{"P1", "P2", "P2"}));
    pt::openBrowserTables();
    EXPECT_EQ(settlePendingSaves(), 0);
    EXPECT_EQ(pt::vdrtoolCheck(), "");
}
