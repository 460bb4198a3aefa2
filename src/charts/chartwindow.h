// The chart window: draws a ChartModel with Qt Charts, and prints it or saves
// it as PNG or PDF from its button bar or its pop-up menu. The window owns its
// model, so nothing of the script that made it has to outlive the call.
#pragma once

#include <QWidget>

#include "charts/chartmodel.h"

class QChart;
class QChartView;
class QPrinter;
class QToolBar;
class QAbstractBarSeries;
class QBarCategoryAxis;
class QValueAxis;

namespace charts {

class ChartWindow : public QWidget {
    Q_OBJECT
  public:
    explicit ChartWindow(ChartModel model, QWidget* parent = nullptr, bool standardBar = true);
    ~ChartWindow() override;

    const ChartModel& model() const { return model_; }
    // Redraws with another model (the common look applied afterwards).
    void setModel(ChartModel model);
    QChart* chart() const { return chart_; }
    QChartView* view() const { return view_; }
    QToolBar* buttonBar() const { return bar_; }
    QAbstractBarSeries* barSeries() const { return bars_; }

    // Draws the chart alone (no button bar) into a picture of the given size,
    // default the view's size.
    QImage render(QSize size = QSize()) const;
    bool savePng(const QString& file, QSize size = QSize()) const;
    bool savePdf(const QString& file) const;
    void printOn(QPrinter& printer) const;

  public slots:
    // "&Salir": closes the chart's window (its frame inside the main window).
    void closeChart();
    void printDialog();
    void savePngDialog();
    void savePdfDialog();

  protected:
    void showEvent(QShowEvent* e) override;

  private:
    void build();
    void paintChart(QPainter& p, const QRectF& target) const;
    void drawScaled(QPainter& p, const QRectF& page) const;
    void fitToPlotArea();
    void fitToSize();
    void layOutNow() const;

    ChartModel model_;
    QChart* chart_ = nullptr;
    QChartView* view_ = nullptr;
    QToolBar* bar_ = nullptr;
    QAbstractBarSeries* bars_ = nullptr;
    QBarCategoryAxis* cats_ = nullptr;
    QValueAxis* left_ = nullptr;
    QValueAxis* right_ = nullptr;  // none without a total
    double fontScale_ = 1;
    bool traced_ = false;
};

}  // namespace charts
