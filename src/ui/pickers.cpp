#include "ui/pickers.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "dbf/workspace.h"
#include "toolkit/browse.h"
#include "toolkit/browse_dbf.h"
#include "toolkit/dialog.h"
#include "toolkit/msgbox.h"
#include "ui/search.h"
#include "xbase/runtime.h"

namespace ui {

namespace {

// A column showing field `name` of the area (blank when the table lacks it).
tk::BrowseColumn fieldColumn(dbf::WorkArea& wa, const QString& header, const char* name,
                             int width = 0) {
    const int f = wa.table().fieldIndex(name);
    return tk::BrowseColumn{
        header, [&wa, f] { return f < 0 ? xb::Value::str("") : wa.get(f); }, width, {}, {}, 0};
}

// Where the table was when a picker opened, to go back on cancelling.
void goBack(dbf::WorkArea& wa, uint32_t recno, bool eof) {
    if (eof) {
        wa.goBottom();
        if (!wa.eof()) wa.skip(1);
    } else {
        wa.goTo(recno);
    }
}

}  // namespace

bool BROWFILTRVND(const std::string& what, QWidget* owner) {
    dbf::WorkArea* wa = dbf::workspace().selected();
    if (wa == nullptr) return false;
    const uint32_t startRec = wa->recno();
    const bool startEof = wa->eof();
    const bool prospect = what == "Prospecto";

    QDialog dlg(owner ? owner : QApplication::activeWindow());
    dlg.setWindowTitle(QStringLiteral("Seleccione ") + shown(what));
    dlg.setObjectName(QStringLiteral("BROWFILTRVND"));
    dlg.resize(400, 350);
    auto* lay = new QVBoxLayout(&dlg);
    auto* view = new QTableView(&dlg);
    lay->addWidget(view);
    tk::WorkAreaRows rows(*wa);
    tk::Browse grid(
        view, &rows,
        {fieldColumn(*wa, QStringLiteral("Código"), prospect ? "CODPROSP" : "CODIGO", 68),
         fieldColumn(*wa, QStringLiteral("Nombre"), "NOMBRE", 390)});
    grid.setFrozen(2);
    grid.setHeaderExtra(10);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* buttons = new QHBoxLayout;
    auto* ok = new QPushButton(QStringLiteral("&Aceptar"), &dlg);
    auto* cancel = new QPushButton(QStringLiteral("&Cancelar"), &dlg);
    cancel->setToolTip(QStringLiteral("Cancelar selección"));
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    lay->addLayout(buttons);
    bool cancelled = false;
    QObject::connect(ok, &QPushButton::clicked, &dlg, [&] { dlg.accept(); });
    QObject::connect(cancel, &QPushButton::clicked, &dlg, [&] {
        cancelled = true;
        goBack(*wa, startRec, startEof);
        dlg.reject();
    });
    grid.setOnActivate([&] { dlg.accept(); });
    dlg.exec();
    return !cancelled;
}

namespace {

PickResult picker(const std::string& title, QWidget* owner, bool prospects) {
    PickResult r;
    dbf::WorkArea* wa = dbf::workspace().selected();
    if (wa == nullptr) {
        r.cancelled = true;
        r.accepted = false;
        return r;
    }
    const uint32_t startRec = wa->recno();
    const bool startEof = wa->eof();
    tk::Dialog dlg(QStringLiteral("BrowBusca"), owner ? owner : QApplication::activeWindow());
    dlg.setWindowTitle(QStringLiteral("Seleccionar ") + shown(title));
    dlg.setBrush(tk::kDialogBrush);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(8);
    dlg.setFont(font);
    dlg.form().bindCombo(
        102, {QStringLiteral("Código"), QStringLiteral("Detalle")}, [] { return 1; }, {},
        [&](int) { tk::msgInfo(QStringLiteral("Pendiente el ordenamiento"), {}, &dlg); });
    std::vector<tk::BrowseColumn> cols;
    if (prospects) {
        cols = {fieldColumn(*wa, QStringLiteral("Código"), "CODPROSP"),
                fieldColumn(*wa, QStringLiteral("Nombre"), "NOMBRE"),
                fieldColumn(*wa, QStringLiteral("Núm.Control"), "NUMPROSP")};
    } else {
        for (const auto& f : wa->table().fields())
            cols.push_back(fieldColumn(*wa, QString::fromLatin1(f.name.c_str()), f.name.c_str()));
    }
    tk::WorkAreaRows rows(*wa);
    tk::Browse grid(dlg.ctl<QTableView>(101), &rows, std::move(cols));
    grid.setFrozen(2);
    grid.setHeaderExtra(10);
    grid.view()->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Codes, prices and dates in full; the name or detail takes the rest.
    grid.fitColumns();
    bool acted = false;
    auto accept = [&] {
        acted = true;
        r.cancelled = false;
        r.accepted = true;
        dlg.end(1);
    };
    grid.setOnActivate(accept);
    grid.setOnKey([&](int) {
        acted = true;  // any key takes the highlighted record
        return false;
    });
    dlg.bindButton(201, tk::ButtonSpec{QStringLiteral("S&eleccionar"),
                                       {},
                                       QStringLiteral("Seleccionar registro"),
                                       {},
                                       accept});
    dlg.bindButton(202, tk::ButtonSpec{QStringLiteral("&Salir"),
                                       {},
                                       {},
                                       {},
                                       [&] {
                                           acted = true;
                                           r.cancelled = true;
                                           r.accepted = false;
                                           goBack(*wa, startRec, startEof);
                                           dlg.end(0);
                                       },
                                       true});
    dlg.setCloseRule([&] { return acted; });
    dlg.run();
    return r;
}

std::string text(xb::Args& a, size_t i) {
    return a[i].isString() ? a[i].asString() : std::string();
}

}  // namespace

PickResult BOTONBUSCA(const std::string& title, QWidget* owner) {
    return picker(title, owner, false);
}

PickResult BTNSEEKPROSP(const std::string& title, QWidget* owner) {
    return picker(title, owner, true);
}

void registerPickerFunctions() {
    xb::registerFunction("BROWFILTRVND",
                         [](xb::Args& a) { return xb::Value::logical(BROWFILTRVND(text(a, 0))); });
    auto pick = [](bool prospects) {
        return [prospects](xb::Args& a) {
            const PickResult r = prospects ? BTNSEEKPROSP(text(a, 0)) : BOTONBUSCA(text(a, 0));
            if (a.isRef(1)) a.setRef(1, xb::Value::logical(r.cancelled));
            if (a.isRef(2)) a.setRef(2, xb::Value::logical(r.accepted));
            return xb::Value();
        };
    };
    xb::registerFunction("BOTONBUSCA", pick(false));
    xb::registerFunction("BTNSEEKPROSP", pick(true));
}

}  // namespace ui
