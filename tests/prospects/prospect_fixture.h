// A real installation with the test company chosen, the salespeople and
// prospect tables open as the browser opens them, and helpers that put
// prospects, products and dependent rows into the company's tables. A test
// can also run a second workstation: this same test binary started as a
// child process (ProspectChild.Run) that does one operation and ends, or is
// killed at a chosen step of a save.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/functions.h"
#include "application.h"
#include "company/selection.h"
#include "company_check.h"
#include "data/catalogue.h"
#include "data/helpers.h"
#include "data/interaction.h"
#include "data/paths.h"
#include "data/session.h"
#include "dbf/order.h"
#include "dbf/workspace.h"
#include "installation_session.h"
#include "prospects/card.h"
#include "prospects/rows.h"
#include "prospects/save.h"
#include "subprocess.h"
#include "toolkit/resources.h"
#include "toolkit/smalldialogs.h"
#include "xbase/date.h"
#include "xbase/runtime.h"

namespace pt {

inline void ensureApp() {
    testsupport::application();
}

// Starts the session of `workstation` in the current directory (an
// installation) and makes the test company the session company.
inline void startWorkstation(const char* workstation) {
    dbf::workspace().closeAll();
    xb::resetRuntime();
    ASSERT_TRUE(data::startSession(workstation));
    app::registerProgramFunctions();
    ASSERT_TRUE(data::ABRIR("Control", data::kCompanyCatalogue, "S", {data::kCompanyCatalogueBag}));
    dbf::workspace().area("Control")->goTop();
    company::PUTDATEMPR();
    data::CERRAR("Control");
}

inline std::string var(const char* n) {
    return prospects::tableVar(n);
}

// "Vendedor" then "Prospecto", as the browser opens them.
inline void openBrowserTables() {
    ASSERT_TRUE(data::ABRIR("Vendedor", var("VDRVEND"), "S", {var("VDRVENX1")}));
    ASSERT_TRUE(data::ABRIR("Prospecto", var("VDRPROSP"), "S", {var("VDRPRPX1")}));
}

inline dbf::WorkArea& area(const char* alias) {
    return prospects::areaOf(alias);
}

inline void addVendor(const std::string& code, const std::string& name) {
    dbf::WorkArea& v = area("Vendedor");
    v.append();
    prospects::putS(v, "CODIGO", code);
    prospects::putS(v, "NOMBRE", name);
    v.unlock(0);
}

// A table of the company, by its alias: the open area when there is one
// (its order put back after), otherwise opened for a moment. One process
// never opens a file twice, since closing one of two opens would drop the
// locks of the other.
template <class F>
void withTable(const char* alias, F&& fn) {
    dbf::Workspace& ws = dbf::workspace();
    const int prev = ws.current();
    if (dbf::WorkArea* open = ws.area(alias)) {
        dbf::Orders& o = dbf::orders(*open);
        const int order = o.orderNumber();
        fn(*open);
        o.setOrder(order);
        open->goTop();
        ws.select(prev);
        return;
    }
    const data::TableDef* def = data::findTable(alias);
    const int a = ws.open(data::hostPath(var(def->tableVar)), alias, {});
    dbf::orders(*ws.area(a)).addBag(data::hostPath(var(def->bagVar)));
    fn(*ws.area(a));
    ws.close(a);
    ws.select(prev);
}

inline const char* aliasOf(int t) {
    return prospects::dependentAlias(t);
}

inline void addProduct(const std::string& code, const std::string& name, double price) {
    withTable("Producto", [&](dbf::WorkArea& p) {
        p.append();
        prospects::putS(p, "CODIGO", code);
        prospects::putS(p, "NOMBRE", name);
        prospects::putN(p, "PRECIO", price);
        p.unlock(0);
    });
}

inline void addPlan(const std::string& code, const std::string& det) {
    withTable("Plan", [&](dbf::WorkArea& p) {
        p.append();
        prospects::putS(p, "CODIGO", code);
        prospects::putS(p, "DETALLE", det);
        p.unlock(0);
    });
}

inline void addResponse(const std::string& code, const std::string& det) {
    withTable("Respuesta", [&](dbf::WorkArea& p) {
        p.append();
        prospects::putS(p, "CODIGO", code);
        prospects::putS(p, "DETALLE", det);
        p.unlock(0);
    });
}

// A stored prospect; answers its record number.
inline uint32_t addProspect(const prospects::ProspectFields& f) {
    dbf::WorkArea& p = area("Prospecto");
    p.append();
    prospects::writeProspect(p, f);
    const uint32_t r = p.recno();
    p.unlock(0);
    p.flush();
    return r;
}

inline prospects::ProspectFields prospect(const std::string& code, const std::string& vend,
                                          const std::string& num, const std::string& name) {
    prospects::ProspectFields f = prospects::newCard().p;
    f.codprosp = prospects::pad(code, 8);
    f.codvend = prospects::pad(vend, 8);
    f.numprosp = num;
    f.nombre = prospects::pad(name, prospects::kWNombre);
    f.fecCrea = xb::julianFromYmd(2026, 3, 14);
    return f;
}

// One stored row of dependent table t (1 offered, 2 contacts, 3 sold).
inline void addRow(int t, const prospects::Link& l, const std::string& prod, double qty,
                   double total) {
    withTable(aliasOf(t), [&](dbf::WorkArea& d) {
        d.append();
        prospects::stampLink(d, t, l);
        if (t == 2) {
            prospects::putS(d, "TIPO", "Personal");
            prospects::putS(d, "RESULTADO", prod);
            prospects::putN(d, "NT", 1);
        } else {
            prospects::putS(d, "CODPROD", prod);
            prospects::putN(d, "CANT", qty);
            prospects::putN(d, "VALORTOT", total);
        }
        d.unlock(0);
    });
}

// What a dependent table holds, read straight from the file: for each
// visible row, its link key and product code (or contact text).
struct StoredRow {
    uint32_t recno;
    std::string key;
    std::string what;
    std::string plan, docum;
};
inline std::vector<StoredRow> storedRows(int t) {
    std::vector<StoredRow> out;
    withTable(aliasOf(t), [&](dbf::WorkArea& d) {
        dbf::orders(d).setOrder(0);
        for (d.goTop(); !d.eof(); d.skip(1)) {
            prospects::Link l{prospects::S(d, "NUMPROSP"), prospects::S(d, "CLIENTE"),
                              prospects::D(d, prospects::dateField(t)),
                              prospects::S(d, "VENDEDOR")};
            StoredRow r{d.recno(), l.key(),
                        prospects::trimmed(prospects::S(d, t == 2 ? "RESULTADO" : "CODPROD")), "",
                        ""};
            if (t != 2) r.plan = prospects::trimmed(prospects::S(d, "PLAN"));
            if (t == 3) r.docum = prospects::trimmed(prospects::S(d, "DOCUM"));
            out.push_back(r);
        }
    });
    return out;
}

inline std::vector<std::string> whatOf(int t, const prospects::Link& l) {
    std::vector<std::string> out;
    for (const StoredRow& r : storedRows(t))
        if (r.key == l.key()) out.push_back(r.what);
    return out;
}

// `vdrtool check` over every table and bag of the company: the faults found.
inline std::string vdrtoolCheck() {
    return testsupport::checkCompanyTables();
}

// Starts this test binary as another workstation doing `action` in `dir`.
inline QProcess* startChild(const QString& dir, const QString& action, const QString& kill = {},
                            const QString& extra = {}) {
    auto* p = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("VDR_PROSP_CHILD", action);
    env.insert("VDR_PROSP_DIR", dir);
    env.insert("VDR_PROSP_KILL", kill);
    env.insert("VDR_PROSP_EXTRA", extra);
    static int children = 0;
    env.insert("VDR_PROSP_WS", QString("WS%1").arg(2 + children++ % 8));
    p->setProcessEnvironment(env);
    p->setProcessChannelMode(QProcess::MergedChannels);
    char self[4096] = {};
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    p->start(QString::fromLocal8Bit(self, static_cast<int>(n)),
             {"--gtest_also_run_disabled_tests", "--gtest_filter=ProspectChild.DISABLED_Run"});
    p->waitForStarted();
    return p;
}

}  // namespace pt

class ProspectFixture : public testsupport::InstallationSession {
  protected:
    void SetUp() override {
        enterInstallation(interaction);
        pt::startWorkstation("WS1");
        pt::openBrowserTables();
    }
    void TearDown() override {
        prospects::setSaveHook({});
        testsupport::InstallationSession::TearDown();
    }

    data::ScriptedInteraction interaction;
};
