// The chart functions of the language (ACTIVAGRAF, ACTIVAGRA2, ACTIVAGRA3,
// ACTIVAGRA4, GRAFICO1, CARACTGRAF and GENGRAFIC) and the chart object the
// scripts receive back (OGRAPH, OCOLUMN).
#pragma once

#include <QPointer>
#include <string>

#include "charts/chartwindow.h"
#include "xbase/value.h"

namespace charts {

// A chart window as the language sees it. Also the chart's last series
// (OCOLUMN): then `series` is its 0-based number.
class ChartObject : public xb::Object {
  public:
    explicit ChartObject(ChartWindow* w, int series = -1) : window_(w), series_(series) {}
    std::string className() const override { return series_ < 0 ? "TGRAPH" : "TSERIE"; }
    bool send(std::string_view message, xb::Args& args, xb::Value& result) override;
    bool assign(std::string_view message, const xb::Value& value) override;
    ChartWindow* window() const { return window_.data(); }

  private:
    QPointer<ChartWindow> window_;
    int series_;
};

// Where the chart functions put their window and how.
struct WindowPlace {
    int top = 0, left = 0, bottom = 350, right = 538;
    QString caption;  // empty: the model's caption
    bool dialog = false;
    bool ownWindow = false;  // a top-level window rather than a child of the main window
    xb::Value toolBar;       // a block that builds the bar instead of the standard one
};

// Opens a chart window on the model; with `place.dialog` runs it modally
// and returns when it is closed (nullptr then).
ChartWindow* openChart(ChartModel model, const WindowPlace& place);

// The chart function of the given kind, called as the language calls it.
xb::Value chartFunction(ChartKind kind, xb::Args& a);

// The last chart window opened by any chart function (for tests and tools).
ChartWindow* lastChartWindow();

// Runs a chart script (GRF*.RPO) as the report run runs a report script.
void GENGRAFIC(const std::string& script);

void registerChartFunctions();

}  // namespace charts
