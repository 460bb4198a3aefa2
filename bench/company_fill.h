// What the prospect benchmarks share: the installation assembled from the
// build, the rows of a prospect's list tables, the tags built over the filled
// tables, and the prospect browser opened until it has shown itself.
#pragma once

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QString>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "data/catalogue.h"
#include "dbf/order.h"
#include "dbf/workarea.h"
#include "dbf/workspace.h"
#include "prospects/card.h"
#include "prospects/fichprosp.h"
#include "prospects/rows.h"
#include "toolkit/browse.h"
#include "toolkit/dialog.h"

// This build's installation assembled in `dir`, made the current folder;
// false when it could not be.
inline bool assembleBenchInstallation(const std::string& dir) {
    QProcess as;
    as.start("bash",
             {VDR_SOURCE_DIR "/scripts/assemble.sh", VDR_BINARY_DIR, QString::fromStdString(dir)});
    if (!as.waitForFinished(600000) || as.exitCode() != 0) return false;
    QDir::setCurrent(QString::fromStdString(dir));
    return true;
}

// Every tag of the company's tables (in `company`, ending in a slash) built
// anew, in one pass each, over what the tables hold; `open` opens a table of
// the catalogue by its variable and gives its area.
inline void buildCompanyTags(const std::string& company,
                             const std::function<int(const char*)>& open) {
    dbf::Workspace& ws = dbf::workspace();
    for (const data::TableDef& d : data::tables()) {
        if (!d.inCompanyDir) continue;
        dbf::WorkArea* a = ws.area(d.alias);
        if (!a) a = ws.area(open(d.tableVar));
        std::filesystem::remove(company + d.bag);
        for (const data::TagDef& t : d.tags)
            dbf::orders(*a).createTag(company + d.bag, t.name, t.key, "!Deleted()", t.unique);
    }
    ws.closeAll();
}

// The k-th row of a prospect in list table `t` (1 products offered,
// 2 contacts, 3 products sold), its product drawn from `rng`.
inline void appendLinkRow(dbf::WorkArea& d, int t, int k, const prospects::Link& l,
                          std::mt19937& rng) {
    using namespace prospects;
    d.append();
    putS(d, "NUMPROSP", l.numprosp);
    putS(d, "CLIENTE", l.codprosp);
    putD(d, dateField(t), l.fecCrea);
    putS(d, "VENDEDOR", l.codvend);
    if (t == 2) {
        putS(d, "TIPO", "Personal");
        putS(d, "RESULTADO", "INTERESADO");
        putN(d, "NT", 1);
    } else {
        putS(d, "CODPROD", fmt("PR%04u", static_cast<unsigned>(rng() % 500)));
        putN(d, "CANT", 1 + k);
        putN(d, "VALORTOT", 100.0 * (1 + k));
    }
}

// The prospect browser's grid columns, read from the "Prospecto" area.
inline std::vector<tk::BrowseColumn> browserColumns() {
    using prospects::areaOf;
    auto f = [](const char* name) {
        return [name] {
            return areaOf("Prospecto").get(areaOf("Prospecto").table().fieldIndex(name));
        };
    };
    return {{"Código", f("CODPROSP"), 68, {}, {}, 1},
            {"Nombre", f("NOMBRE"), 390, {}, {}, 2},
            {"Cod.Vend", f("CODVEND"), 68, {}, {}, 3},
            {"Prioridad", f("CAT"), 68, {}, {}, 8},
            {"Fech.Creac.", f("FEC_CREA"), 390, {}, {}, 0}};
}

// The prospect browser opened, left as soon as it has refreshed and painted
// its first page.
inline void openBrowserUntilShown() {
    QTimer closer;
    closer.setInterval(0);
    QObject::connect(&closer, &QTimer::timeout, [&closer] {
        for (tk::Dialog* d : tk::Dialog::openDialogs())
            if (d->templateName() == QStringLiteral("BROWSEINPROSP")) {
                closer.stop();
                QApplication::processEvents();  // its first refresh and paint
                d->end(0);
            }
    });
    closer.start();
    prospects::BROWINPROSP();
}
