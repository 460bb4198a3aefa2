// The prospect actions a user waits for, one at a time, for counting their
// file-system calls and timing them where every call costs a round trip:
//
//   card     open a card in the middle, change a field, save, close it, as
//            the prospect browser does after its first card (the card's
//            tables kept open between cards)
//   card1    the same as the first card of a browser (tables opened and
//            closed with the card)
//   contact  open the next card from the browser, log a new contact with
//            observations, save
//   browser  open the prospect browser (BROWINPROSP) and leave it (the
//            tables the benchmark keeps open are opened again uncounted)
//   pagedown one page down in the prospects' grid (order 2)
//
// Each action runs once to warm up, then --iterations times; its mean wall
// time is printed. Before and after each timed action the program asks for
// a path that does not exist ("/vdr-calls-mark/ACTION/begin" and ".../end"),
// so that a trace shows where each action starts and ends:
//
//   strace -f -y -o /tmp/calls.log build/bench/bench/bench_calls --records 100000
//   python3 bench/count_calls.py /tmp/calls.log
//
// With --delay-us N the installation lives on cutfs (tools/cutfs) mounted by
// the program in its scratch folder, filled without delay and then slowed to
// N microseconds a call, as a workstation on a slow network share sees it:
//
//   build/bench/bench/bench_calls --records 20000 --delay-us 300
//
// Byte-range locks are not slowed there (cutfs leaves them to the kernel).
//
// Counted on a local disk, 100,000 prospects, mean of 10 runs per action,
// before and after the first changes made to cut them down (read batches,
// one look per path, one listing for a table's replacement leftovers, one
// stat per file for the grid's stamp, the card's tables kept by the
// browser):
//
//   action                 calls before  after   syncs before  after
//   card (from browser)        1,291       520         12          8
//   card1 (first card)         1,291       999         12         12
//   browser                      555       334          0          0
//   pagedown (30 rows)           129        39          0          0
//
// and after the save's rows went in one change per table (one write-back of
// its bag, one sync of the row tables, the journal written in place), the
// records of a shared table read once per read batch and the bags' pages
// kept from one open to the next while their counter stays:
//
//   card (from browser)          520       278          8          5
//   card1 (first card)           999       586         12          9
//   browser                      334       207          0          0
//   pagedown (30 rows)            39        37          0          0
//
// and after opening a table or a bag took one open call for its name (no
// look before), the header's size and access mode were kept from the open,
// a table's opening looked only for a committed replacement's journal (not
// through its folder), and the browser's count left out the benchmark's own
// reopening of its tables:
//
//   card1 (first card)           586       489          9          9
//   browser                      207       109          0          0
//
// and after a record within the known count was locked without reading the
// header, the save's new rows and old rows' deletions of each table became
// one change of its bag, and the save's journal and the pending journals
// were found with fewer looks:
//
//   card (from browser)          278       248          5          5
//   card1 (first card)           489       459          9          9
//   browser                      109       107          0          0
//
// and after consecutive record locks became one range (the appended
// records' locks taken with their write), the save and the card's close
// stopped going to the top of tables nobody reads there, a list buffer
// already empty on the disk was not emptied again, and the journal and the
// company's folder stayed open between the cards of a browser, and a bag's
// open no longer looked at the disk to tell whether it was open already:
//
//   card (from browser)          248       149          5          5
//   card1 (first card)           459       368          9          9
//   browser                      107       103          0          0
//
// and after a list whose rows the card left as stored was no longer written
// again (the save of a field alone then writes its journal, committed, and
// the prospect), its rows compared through the tables with what the lookup
// of the prospect's rows had read, a shared memo file's size asked for only
// past the end last seen, and the browser's journal, known empty, not
// emptied again before it is written:
//
//   card (from browser)          149        63          5          2
//   card1 (first card)           368       269          9          2
//
// and a contact logged (a new action then: the contacts' table written, its
// memo, the journal and its commit mark; the rows already stored kept):
// 139 calls, 4 syncs.
//
// Mean wall time at 300 µs a call (20,000 prospects, --delay-us 300, 10
// runs, a machine shared with other work): card 958 ms before, 273 ms after
// the first changes, 98 ms after the second (card1 565 ms, then 283 ms);
// browser 438 ms, 198 ms, 115 ms, then 72 ms after the third (card1 292 ms);
// pagedown 89 ms, 31 ms, 23 ms. After the fourth: card 83 ms, card1 223 ms,
// browser 62 ms, pagedown 22 ms. After the fifth: card 53 ms, card1 189 ms,
// browser 58 ms, pagedown 23 ms. After the sixth: card 21 ms, card1 161 ms,
// contact 50 ms, browser 60 ms, pagedown 22 ms.
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QProcess>
#include <QTableView>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <string>

#include "app/functions.h"
#include "bench_support.h"
#include "company/selection.h"
#include "company_fill.h"
#include "cutfs_mount.h"
#include "data/catalogue.h"
#include "data/helpers.h"
#include "data/paths.h"
#include "data/session.h"
#include "dbf/order.h"
#include "dbf/workspace.h"
#include "prospects/card.h"
#include "prospects/fichprosp.h"
#include "prospects/rows.h"
#include "prospects/save.h"
#include "toolkit/browse.h"
#include "toolkit/browse_dbf.h"
#include "toolkit/dialog.h"
#include "toolkit/resources.h"
#include "xbase/date.h"

namespace fs = std::filesystem;
using namespace prospects;

namespace {

uint32_t g_records = 20000;
int g_iterations = 20;
long g_delayUs = 0;
std::string g_dir;  // the installation
uint32_t g_middle = 0;

Link linkOf(uint32_t i) {
    return {fmt("2025%010u", i), fmt("P%07u", i), 2460000 + static_cast<int32_t>(i % 700),
            fmt("V%u", i % 40)};
}

// The company's tables filled straight through the engine, exclusive, then
// their tags built in one pass each: `n` prospects, three rows in each list
// table for the first third of them.
void fill(uint32_t n) {
    const std::string company = g_dir + "/EMP00001/";
    dbf::Workspace& ws = dbf::workspace();
    auto open = [&](const char* tableVar) {
        const data::TableDef* d = data::findTable(tableVar);
        return ws.open(company + d->file, d->alias, dbf::OpenOptions{false, false});
    };
    std::mt19937 rng(7);
    dbf::WorkArea& v = *ws.area(open("VDRVEND"));
    for (unsigned i = 0; i < 40; ++i) {
        v.append();
        putS(v, "CODIGO", fmt("V%u", i));
        putS(v, "NOMBRE", fmt("VENDEDOR %u", i));
    }
    dbf::WorkArea& pr = *ws.area(open("VDRPRODC"));
    for (unsigned i = 0; i < 500; ++i) {
        pr.append();
        putS(pr, "CODIGO", fmt("PR%04u", i));
        putS(pr, "NOMBRE", fmt("PRODUCTO %u", i));
        putN(pr, "PRECIO", 10 + i);
    }
    dbf::WorkArea& p = *ws.area(open("VDRPROSP"));
    dbf::WorkArea& of = *ws.area(open("VDRPRDOF"));
    dbf::WorkArea& ct = *ws.area(open("VDRCONT"));
    dbf::WorkArea& vt = *ws.area(open("VDRPRDVT"));
    static const char* names[] = {"GARCIA", "LOPEZ", "PEREZ", "MARTIN", "SANCHEZ", "ROMERO"};
    for (uint32_t i = 1; i <= n; ++i) {
        const Link l = linkOf(i);
        p.append();
        putS(p, "CODVEND", l.codvend);
        putS(p, "CODPROSP", l.codprosp);
        putS(p, "NEW", "Si");
        putS(p, "TIP", "Natural");
        putS(p, "NOMBRE", fmt("%s %s %u", names[rng() % 6], names[rng() % 6], i));
        putS(p, "NUMPROSP", l.numprosp);
        putD(p, "FEC_CREA", l.fecCrea);
        putS(p, "CAT", fmt("00%u", 1 + i % 5));
        if (i > n / 3) continue;
        for (int k = 0; k < 3; ++k)
            for (int t = 1; t <= 3; ++t) {
                appendLinkRow(t == 1 ? of : t == 2 ? ct : vt, t, k, l, rng);
            }
    }
    buildCompanyTags(company, open);
    g_middle = n / 6;
}

bool install() {
    if (!assembleBenchInstallation(g_dir)) {
        std::fprintf(stderr, "no se pudo montar la instalación en %s\n", g_dir.c_str());
        return false;
    }
    data::startSession("BENCH");
    app::registerProgramFunctions();
    fill(g_records);
    data::ABRIR("Control", data::kCompanyCatalogue, "S", {data::kCompanyCatalogueBag});
    dbf::workspace().area("Control")->goTop();
    company::PUTDATEMPR();
    data::CERRAR("Control");
    return tk::ResourceLibrary::load(QString::fromStdString(g_dir + "/ZariReva.rcc"));
}

void mark(const char* action, const char* where) {
    const std::string p = std::string("/vdr-calls-mark/") + action + "/" + where;
    (void)::access(p.c_str(), F_OK);
}

void openProspects() {
    data::ABRIR("Vendedor", tableVar("VDRVEND"), "S", {tableVar("VDRVENX1")});
    data::ABRIR("Prospecto", tableVar("VDRPROSP"), "S", {tableVar("VDRPRPX1")});
}

int g_flip = 0;

// `change` is what the user does on the card before "Aceptar".
template <class F>
bool cardAction(uint32_t recno, F&& change) {
    dbf::WorkArea& p = areaOf("Prospecto");
    p.goTo(recno);
    CardValues v;
    if (!prepareCard("M", v)) return false;
    change(v);
    const bool saved = saveProspect("M", v) == SaveResult::Saved;
    closeBuffers();
    closeCardTables();
    return saved;
}

bool cardAction() {
    return cardAction(g_middle,
                      [](CardValues& v) { v.p.telef = pad(fmt("555-%04d", g_flip++), kWTelef); });
}

// A contact logged: a new row of the contacts' list, with its observations.
bool contactAction() {
    return cardAction(g_middle + 1, [](CardValues& v) {
        ContactRow c;
        c.fecCont = xb::todayJulian();
        c.tipo = "Personal";
        c.resultado = pad(fmt("LLAMADA %d", g_flip++), 120);
        c.observac = "Volver a llamar el lunes";
        writeContactRow("I", c, v);
    });
}

void browserAction() {
    dbf::workspace().closeAll();
    openBrowserUntilShown();
}

// `after` puts back what the action changed, uncounted and untimed.
template <class F, class G = void (*)()>
void run(
    const char* action, F&& f, G&& after = [] {}) {
    f();  // warm-up: first opens, caches
    after();
    using clock = std::chrono::steady_clock;
    double total = 0;
    for (int i = 0; i < g_iterations; ++i) {
        mark(action, "begin");
        const auto t0 = clock::now();
        f();
        total += std::chrono::duration<double, std::milli>(clock::now() - t0).count();
        mark(action, "end");
        after();
    }
    std::printf("%-9s %9.3f ms\n", action, total / g_iterations);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--records")
            g_records = static_cast<uint32_t>(std::atol(argv[i + 1]));
        else if (a == "--iterations")
            g_iterations = std::max(1, std::atoi(argv[i + 1]));
        else if (a == "--delay-us")
            g_delayUs = std::atol(argv[i + 1]);
        else {
            std::fprintf(stderr,
                         "Uso: bench_calls [--records N] [--iterations N] [--delay-us N]\n");
            return 2;
        }
    }
    const std::string scratch = benchDir("bench_calls");
    std::optional<testsupport::CutFs> cutfs;
    if (g_delayUs > 0) {
        cutfs.emplace(scratch);
        if (!cutfs->mounted()) {
            std::fprintf(stderr, "%s\n", cutfs->why().c_str());
            return 1;
        }
        g_dir = cutfs->mount() + "/inst";
    } else {
        g_dir = scratch + "/inst";
    }
    fs::create_directories(g_dir);
    int rc = 0;
    if (!install()) {
        rc = 1;
    } else {
        openProspects();
        if (cutfs) cutfs->setDelay(g_delayUs);
        std::printf("%u prospectos, %d veces cada acción, %ld µs por llamada\n", g_records,
                    g_iterations, g_delayUs);
        bool ok = true;
        {
            CardTablesKept keep;  // as the browser keeps them
            run("card", [&] { ok = cardAction() && ok; });
            run("contact", [&] { ok = contactAction() && ok; });
        }
        run("card1", [&] {
            CardTablesKept keep;
            ok = cardAction() && ok;
        });
        run("browser", browserAction, openProspects);
        {
            dbf::WorkArea& p = areaOf("Prospecto");
            QTableView view;
            view.resize(1000, 600);
            dbf::orders(p).setOrder(2);
            p.goTop();
            tk::WorkAreaRows rows(p);
            tk::Browse grid(&view, &rows, browserColumns());
            grid.refresh();
            view.show();
            QApplication::processEvents();
            run("pagedown", [&] {
                view.setFocus();
                QKeyEvent down(QEvent::KeyPress, Qt::Key_PageDown, Qt::NoModifier);
                QApplication::sendEvent(view.viewport(), &down);
                QApplication::processEvents();
            });
        }
        if (!ok) {
            std::fprintf(stderr, "una ficha no se abrió o no se grabó\n");
            rc = 1;
        }
        if (cutfs) cutfs->setDelay(0);
    }
    dbf::workspace().closeAll();
    // The company's in-use lock is held open: on the simulated drive a file
    // removed while open comes back under another name, and the removal of
    // the folder would never end.
    company::releaseCompany();
    QDir::setCurrent(QDir::tempPath());
    std::error_code ec;
    fs::remove_all(g_dir, ec);
    cutfs.reset();
    fs::remove_all(scratch, ec);
    return rc;
}
