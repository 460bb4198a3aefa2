#include <QBoxLayout>
#include <QComboBox>
#include <QLabel>
#include <QPalette>
#include <QSignalBlocker>
#include <QTableView>

#include "data/helpers.h"
#include "dbf/order.h"
#include "dbf/workspace.h"
#include "prospects/fichprosp.h"
#include "prospects/kit.h"
#include "prospects/rows.h"
#include "prospects/save.h"
#include "toolkit/browse.h"
#include "toolkit/browse_dbf.h"
#include "toolkit/dialog.h"
#include "toolkit/text.h"
#include "ui/search.h"

namespace prospects {

namespace {

dbf::Workspace& ws() {
    return dbf::workspace();
}

}  // namespace

bool BORRAPROSPS() {
    dbf::WorkArea* p = ws().area("Prospecto");
    // No current record (an empty grid): nothing to delete, nothing asked.
    if (!p || p->eof() || p->deleted()) return false;
    const uint32_t recno = p->recno();
    const bool hadTables = ws().used("Producto");
    if (!hadTables && !openCardTables()) {
        closeCardTables();
        ws().select("Prospecto");
        return false;
    }
    bool done = false;
    if (askDelete("Seguro desea borrar Prospecto de la Base de Datos ?"))
        done = deleteProspect(recno);
    if (!hadTables) closeCardTables();
    ws().select("Prospecto");
    return done;
}

void BROWINPROSP(QWidget* owner) {
    // The cards opened from here share their tables and buffers.
    CardTablesKept keep;
    // Each table is opened whatever became of the other: ABRIR tells the user
    // about a failure, and the browser still opens over what there is.
    data::ABRIR("Vendedor", tableVar("VDRVEND"), "S", {tableVar("VDRVENX1")});
    data::ABRIR("Prospecto", tableVar("VDRPROSP"), "S", {tableVar("VDRPRPX1")});
    settlePendingSaves();
    dbf::WorkArea* pa = ws().area("Prospecto");
    if (!pa) {
        ws().closeAll();
        return;
    }
    dbf::WorkArea& p = *pa;
    ws().select("Prospecto");
    p.goTop();

    tk::Dialog dlg(QStringLiteral("BROWSEINPROSP"), owner);
    dlg.setWindowTitle(QStringLiteral("Fichas de Prospectos"));
    dlg.setBrush(tk::kDialogBrush);
    dlg.form().makeTextsTransparent();
    tk::Form& f = dlg.form();

    auto vendorName = [] {
        dbf::WorkArea* v = ws().area("Vendedor");
        dbf::WorkArea& pr = areaOf("Prospecto");
        if (!v || blank(S(pr, "CODVEND"))) return xb::Value::str("");
        dbf::Orders& o = dbf::orders(*v);
        // Without its bag (it could not be opened) there is no code order
        // to seek in: the name stays blank.
        if (o.orderCount() == 0) return xb::Value::str("");
        o.setOrder(1);
        return xb::Value::str(o.seek(xb::Value::str(S(pr, "CODVEND"))) ? S(*v, "NOMBRE")
                                                                       : std::string());
    };
    auto field = [](const char* name) {
        return [name] {
            return areaOf("Prospecto").get(areaOf("Prospecto").table().fieldIndex(name));
        };
    };
    tk::WorkAreaRows rows(p);
    tk::Browse grid(f.ctl<QTableView>(101), &rows,
                    {{tk::fromAnsi("C\xf3"
                                   "digo"),
                      field("CODPROSP"),
                      68,
                      {},
                      {},
                      1},
                     {QStringLiteral("Nombre"), field("NOMBRE"), 390, {}, {}, 2},
                     {QStringLiteral("Cod.Vend"), field("CODVEND"), 68, {}, {}, 3},
                     {QStringLiteral("Nombre Vendedor"), vendorName, 210, {}, {}, 0},
                     {QStringLiteral("Prioridad"), field("CAT"), 68, {}, {}, 8},
                     {QStringLiteral("Fech.Creac."), field("FEC_CREA"), 390, {}, {}, 0}});
    grid.setHeaderExtra(10);

    std::string choice =
        "C\xf3"
        "digo";
    ui::BrowseStack innermost(&grid);
    // How many prospects the order, the filter and the range let through,
    // beside the order list (in the room the list leaves free).
    QLabel* count = ui::addRecordCount(f.ctl<QComboBox>(102));
    auto showCount = [&] { ui::showRecordCount(count, grid); };
    auto after = [&] {
        kit::stabilise(grid);
        grid.refresh();
        grid.view()->setFocus();
        showCount();
    };
    f.bindCombo(
        102,
        {tk::fromAnsi("C\xf3"
                      "digo"),
         QStringLiteral("Nombre"), QStringLiteral("Vendedor"), QStringLiteral("Prioridad")},
        [&] {
            static const char* names[] = {
                "C\xf3"
                "digo",
                "Nombre", "Vendedor", "Prioridad"};
            for (int i = 0; i < 4; ++i)
                if (choice == names[i]) return i + 1;
            return 1;
        },
        [&](int i) {
            static const char* names[] = {
                "C\xf3"
                "digo",
                "Nombre", "Vendedor", "Prioridad"};
            choice = names[std::max(1, std::min(i, 4)) - 1];
        },
        [&](int) {
            kit::chooseOrder(grid, choice, "Prosp");
            after();
        });
    // A click on the heading of "Código", "Nombre", "Cod.Vend" or
    // "Prioridad" chooses that order as the list would, and the list shows it.
    ui::headingsChooseOrder(grid, f.ctl<QComboBox>(102), {1, 2, 3, 8}, [&](int i) {
        static const char* names[] = {
            "C\xf3"
            "digo",
            "Nombre", "Vendedor", "Prioridad"};
        choice = names[i];
        kit::chooseOrder(grid, choice, "Prosp");
        after();
    });
    // Dark red on the button face, bold: what the filter narrows to.
    for (int id : {104, 105})
        f.control(id)->setStyleSheet(
            QStringLiteral("QLabel { color: rgb(178,0,0); background-color: palette(button); "
                           "font-weight: bold; }"));
    auto filter = [&](const char* kind) {
        kit::filter(grid, f, 104, 105, dlg, kind, "Prosp", choice);
        after();
    };
    f.bindButton(
        206, {QStringLiteral("&Todos"), {}, QStringLiteral("Muestra todos los registros"), {}, [&] {
                  filter("Todos");
              }});
    f.bindButton(207, {QStringLiteral("&Prospecto"),
                       {},
                       QStringLiteral("Filtra por un determinado Prospecto"),
                       {},
                       [&] { filter("Prospecto"); }});
    f.bindButton(208, {QStringLiteral("&Vendedor"),
                       {},
                       QStringLiteral("Filtra por un determinado Vendedor"),
                       {},
                       [&] { filter("Vendedor"); }});

    auto card = [&](const char* mode) {
        if (std::string(mode) == "M" && (p.eof() || p.deleted())) return;
        FICHPROSP(mode, &dlg);
        ws().select("Prospecto");
        after();
    };
    grid.setOnActivate([&] { card("M"); });
    f.bindButton(201, {QStringLiteral("&Nuevo"),
                       QStringLiteral("Nuevo1|Nuevo2"),
                       QStringLiteral("Ingresar Datos de Prospectos"),
                       {},
                       [&] { card("I"); }});
    f.bindButton(202, {QStringLiteral("&Modificar"),
                       QStringLiteral("MOdif1|MOdif2"),
                       QStringLiteral("Modificar Datos de Prospectos"),
                       {},
                       [&] { card("M"); }});
    f.bindButton(203, {QStringLiteral("&Borrar"),
                       QStringLiteral("Cut1|Cut2"),
                       QStringLiteral("Eliminar Prospectos de la Base de Datos"),
                       {},
                       [&] {
                           if (p.eof()) return;  // an empty grid: nothing to delete
                           dbf::Orders& o = dbf::orders(p);
                           const uint32_t noted = o.keyNo();
                           const uint32_t rec = p.recno();
                           if (BORRAPROSPS()) {
                               const uint32_t count = o.keyCount();
                               if (count == 0)
                                   p.goTop();
                               else
                                   o.keyGoto(noted > count ? count : noted);
                           } else {
                               // Declined: one row down, as after a deletion;
                               // the last row stays where it is.
                               p.goTo(rec);
                               p.skip(1);
                               if (p.eof()) p.goTo(rec);
                           }
                           after();
                       }});
    f.bindButton(204, {QStringLiteral("B&uscar"),
                       QStringLiteral("Buscar1|Buscar2"),
                       QStringLiteral("Buscar Prospectos"),
                       {},
                       [&] {
                           kit::search(dlg, grid, "Prospecto", {"CodProsp", "Nombre"},
                                       {"C\xf3"
                                        "digo",
                                        "Nombre"});
                           after();
                       }});
    f.bindButton(205, {QStringLiteral("&Salir"),
                       QStringLiteral("Exit1|Exit2"),
                       QStringLiteral("Salir de Fichas de Prospectos"),
                       {},
                       [&] { dlg.end(0); },
                       true});
    dlg.setOnInit([&] {
        grid.refresh();
        showCount();
        // Scroll position 1 is the first key, at the top of the grid.
        grid.setScrollPos(1);
    });
    dlg.run();
    ws().closeAll();
}

}  // namespace prospects
