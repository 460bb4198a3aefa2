#include "charts/charts.h"

#include <QAbstractBarSeries>
#include <QApplication>
#include <QBarSet>
#include <QDialog>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QVBoxLayout>
#include <set>
#include <utility>

#include "data/helpers.h"
#include "data/interaction.h"
#include "dbf/workspace.h"
#include "reports/inform.h"
#include "toolkit/text.h"
#include "xbase/compiler.h"
#include "xbase/date.h"
#include "xbase/runtime.h"

namespace charts {

namespace {

QPointer<ChartWindow> g_last;

std::string upperKey(std::string_view m) {
    std::string s(m);
    for (auto& c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return s;
}

xb::Value var(const char* name) {
    xb::Value v;
    xb::getVar(name, v);
    return v;
}

std::string filterCaption() {
    xb::Value v = var("CTITFILTRO");
    return v.isString() ? v.asString() : std::string();
}

QMdiArea* mainMdiArea() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == QLatin1String("OWIN")) return w->findChild<QMdiArea*>();
    }
    return nullptr;
}

xb::Value listOf(const std::vector<QString>& texts) {
    xb::Value a = xb::Value::newArray();
    for (const auto& t : texts) a.asArray()->items.push_back(xb::Value::str(tk::toAnsi(t)));
    return a;
}

xb::Value listOf(const std::vector<double>& nums) {
    xb::Value a = xb::Value::newArray();
    for (double d : nums) a.asArray()->items.push_back(xb::Value::num(d));
    return a;
}

void noData() {
    data::interaction().info("Debe pasar datos", "Atenci\xf3n.....");
}

}  // namespace

bool ChartObject::send(std::string_view message, xb::Args& args, xb::Value& result) {
    std::string m = upperKey(message);
    ChartWindow* w = window_.data();
    result = xb::Value();
    if (series_ >= 0) {
        const ChartSeries* s = w && static_cast<size_t>(series_) < w->model().series.size()
                                   ? &w->model().series[static_cast<size_t>(series_)]
                                   : nullptr;
        if (m == "CCAPTION")
            result = xb::Value::str(s ? tk::toAnsi(s->caption) : std::string());
        else if (m == "AVALUES")
            result = s ? listOf(s->values) : xb::Value::newArray();
        else if (m == "NCOLOR")
            result = xb::Value::integer(
                s ? s->colour.red() + s->colour.green() * 256 + s->colour.blue() * 65536 : 0);
        else if (m == "NCOLUMN")
            result = xb::Value::integer(s ? s->column : 0);
        else
            return false;
        return true;
    }
    if (m == "END" || m == "CLOSE") {
        if (w) w->closeChart();
    } else if (m == "LACTIVE") {
        result = xb::Value::logical(w != nullptr);
    } else if (m == "CTITLE") {
        result = xb::Value::str(w ? tk::toAnsi(w->model().title) : std::string());
    } else if (m == "CSUBTITLE") {
        result = xb::Value::str(w ? tk::toAnsi(w->model().subtitle) : std::string());
    } else if (m == "NSERIES") {
        result = xb::Value::integer(w ? static_cast<int64_t>(w->model().series.size()) : 0);
    } else if (m == "ACATEGORIES") {
        result = w ? listOf(w->model().categories) : xb::Value::newArray();
    } else if (m == "AVALUES") {
        // AVALUES(n): the values of series n (1-based, default 1).
        size_t n = args[0].isNum() ? static_cast<size_t>(args[0].asNumber()) : 1;
        if (w && n >= 1 && n <= w->model().series.size())
            result = listOf(w->model().series[n - 1].values);
        else
            result = xb::Value::newArray();
    } else if (m == "NTOTAL") {
        result = xb::Value::num(w ? w->model().total : 0);
    } else if (m == "SAVEPNG") {
        result = xb::Value::logical(w && args[0].isString() &&
                                    w->savePng(tk::fromAnsi(args[0].asString())));
    } else if (m == "SAVEPDF") {
        result = xb::Value::logical(w && args[0].isString() &&
                                    w->savePdf(tk::fromAnsi(args[0].asString())));
    } else if (m == "PRINT") {
        if (w) w->printDialog();
    } else {
        return false;
    }
    return true;
}

bool ChartObject::assign(std::string_view, const xb::Value&) {
    return false;
}

ChartWindow* lastChartWindow() {
    return g_last.data();
}

ChartWindow* openChart(ChartModel model, const WindowPlace& place) {
    if (!place.caption.isEmpty()) model.windowCaption = place.caption;
    const bool ownBar = place.toolBar.isBlock();
    QRect geom(place.left, place.top, std::max(1, place.right - place.left),
               std::max(1, place.bottom - place.top));
    if (place.dialog) {
        QDialog dlg(QApplication::activeWindow());
        dlg.setWindowTitle(model.windowCaption);
        auto* lay = new QVBoxLayout(&dlg);
        lay->setContentsMargins(0, 0, 0, 0);
        auto* w = new ChartWindow(std::move(model), &dlg, !ownBar);
        w->setAttribute(Qt::WA_DeleteOnClose, false);
        lay->addWidget(w);
        g_last = w;
        if (ownBar)
            xb::evalBlock(place.toolBar, {xb::Value::object(std::make_shared<ChartObject>(w))});
        dlg.setGeometry(geom);
        dlg.exec();
        return nullptr;
    }
    QMdiArea* mdi = place.ownWindow ? nullptr : mainMdiArea();
    auto* w = new ChartWindow(std::move(model), nullptr, !ownBar);
    g_last = w;
    if (mdi) {
        QMdiSubWindow* sub = mdi->addSubWindow(w);
        sub->setAttribute(Qt::WA_DeleteOnClose);
        sub->setGeometry(geom);
        sub->show();
    } else {
        w->setGeometry(geom);
        w->show();
    }
    if (ownBar) xb::evalBlock(place.toolBar, {xb::Value::object(std::make_shared<ChartObject>(w))});
    return w;
}

namespace {

int intArg(const xb::Value& v, int dflt) {
    return v.isNum() ? static_cast<int>(v.asNumber()) : dflt;
}

// Leaves the chart and its last series to the script.
xb::Value publish(ChartWindow* w) {
    if (!w) return xb::Value();
    xb::Value graph = xb::Value::object(std::make_shared<ChartObject>(w));
    xb::assignVar("OGRAPH", graph);
    int last = static_cast<int>(w->model().series.size()) - 1;
    xb::assignVar("OCOLUMN", xb::Value::object(std::make_shared<ChartObject>(w, last)));
    return graph;
}

}  // namespace

xb::Value chartFunction(ChartKind kind, xb::Args& a) {
    WindowPlace place;
    if (kind == ChartKind::ResponsesWithTotal) {
        // GRAFICO1(nTotal, xData, oParent)
        auto rows = chartRows(a[1]);
        if (rows.empty()) {
            noData();
            return xb::Value();
        }
        std::optional<QFont> font = fontFromValue(var("OFONTT"));
        ChartModel m = buildModel(kind, rows, a[0].asNumber(), filterCaption(), xb::todayJulian(),
                                  QString(), font);
        place.caption = m.windowCaption;
        place.ownWindow = a[2].isNil();
        ChartWindow* w = openChart(std::move(m), place);
        // The chart holds copies of what it draws with, so the script's
        // fonts can go now, as the script expects.
        for (const char* f : {"OFONT", "OFONTT", "OFONTX", "OFONTY", "OFONT5"})
            if (xb::varExists(f)) xb::assignVar(f, xb::Value());
        return publish(w);
    }
    place.top = intArg(a[0], 0);
    place.left = intArg(a[1], 0);
    place.bottom = intArg(a[2], 350);
    place.right = intArg(a[3], 538);
    place.caption = a[4].isString() && !a[4].asString().empty()
                        ? tk::fromAnsi(a[4].asString())
                        : QStringLiteral("Gráfico Valdrosa");
    place.dialog = a[6].isLogical() && a[6].asLogical();
    place.toolBar = a[9];
    auto rows = chartRows(a[5]);
    if (rows.empty()) {
        noData();
        return xb::Value();
    }
    QString axisX =
        kind == ChartKind::PerDay && a[13].isString() ? tk::fromAnsi(a[13].asString()) : QString();
    ChartModel m =
        buildModel(kind, rows, var("NTOTAL").asNumber(), filterCaption(), xb::todayJulian(), axisX);
    return publish(openChart(std::move(m), place));
}

void GENGRAFIC(const std::string& script) {
    // A chart run is a report run whose script draws instead of printing:
    // the same run variables, the body name from the first six characters,
    // the cached lines dropped (VGRFR for the GRF*.R* chart scripts).
    // Chart scripts are cached under VGRFR whatever their name: clear it, so
    // an edited chart script takes effect at once.
    if (xb::varExists("VGRFR")) xb::assignVar("VGRFR", xb::Value());
    // The chart keeps its own copy of what it draws, so the tables the
    // script opened can go when the run ends, as a report run closes its
    // own. The scripts end with CERRAR(), which closes only the current
    // table: left open, the others would make the next chart (or file)
    // that opens them under their aliases find them "ya en uso".
    auto& ws = dbf::workspace();
    std::set<std::pair<int, uint64_t>> before;
    for (int n : ws.openAreas()) before.emplace(n, ws.openSerial(n));
    struct CloseWhatTheRunOpened {
        dbf::Workspace& ws;
        const std::set<std::pair<int, uint64_t>>& before;
        ~CloseWhatTheRunOpened() {
            const int keep = ws.current();
            for (int n : ws.openAreas()) {
                if (before.count({n, ws.openSerial(n)})) continue;
                ws.select(n);
                data::CERRAR();
            }
            if (ws.area(keep)) ws.select(keep);
        }
    } closing{ws, before};
    reports::INFORM1(script);
}

void registerChartFunctions() {
    xb::registerFunction("GENGRAFIC", [](xb::Args& a) {
        if (a[0].isString()) GENGRAFIC(a[0].asString());
        return xb::Value();
    });
    xb::registerClass("TGRAPH");
    auto reg = [](const char* name, ChartKind kind) {
        xb::registerFunction(name, [kind](xb::Args& a) { return chartFunction(kind, a); });
    };
    reg("ACTIVAGRAF", ChartKind::Responses);
    reg("ACTIVAGRA2", ChartKind::DemosVsSales);
    reg("ACTIVAGRA3", ChartKind::OfferedVsSold);
    reg("ACTIVAGRA4", ChartKind::PerDay);
    reg("GRAFICO1", ChartKind::ResponsesWithTotal);
    xb::registerFunction("CARACTGRAF", [](xb::Args& a) {
        auto* obj = dynamic_cast<ChartObject*>(a[0].objectPtr());
        ChartWindow* w = obj ? obj->window() : nullptr;
        if (!w) return xb::Value();
        ChartModel m = w->model();
        applyCommonLook(m, filterCaption(), fontFromValue(a[2]));
        w->setModel(std::move(m));
        return a[0];
    });
}

}  // namespace charts
