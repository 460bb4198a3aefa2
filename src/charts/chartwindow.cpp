#include "charts/chartwindow.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QFile>
#include <QFileDialog>
#include <QFontMetricsF>
#include <QGraphicsItem>
#include <QGraphicsLayout>
#include <QHorizontalBarSeries>
#include <QLegend>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinter>
#include <QToolBar>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <utility>
#include <vector>

namespace charts {

namespace {

QString htmlEscaped(const QString& s) {
    return s.toHtmlEscaped();
}

// The left picture "9,999,999" asks for whole numbers with thousands
// separators; Qt's axis labels take a printf format, whose grouping flag the
// platform's C library honours.
QString labelFormat(const QString& picture) {
    int decimals = 0;
    int dot = picture.indexOf(QLatin1Char('.'));
    if (dot >= 0) decimals = static_cast<int>(picture.size() - dot - 1);
    return QStringLiteral("%.%1f").arg(decimals);
}

// Qt Charts draws flat bars; the chart's look asks for solid ones. This item
// draws, for every bar, the top and the side of a block `depth` pixels deep
// (in the bar's colour, darkened: the side more than the top), so that the
// bars read as blocks seen from the front, slightly from the right and from
// above. The fronts are left to the series: the faces are clipped away from
// them, so the item may lie above or below the bars in the scene.
class DepthFaces : public QGraphicsItem {
  public:
    DepthFaces(QChart* chart, QAbstractBarSeries* series, int depth, bool rotated)
        : QGraphicsItem(chart), chart_(chart), series_(series), depth_(depth), rotated_(rotated) {
        // The chart stacks its shades at 1, its grid at 2, its axes at 3
        // and its bars at 4: the faces hide the grid behind them and stay
        // under the axes' lines.
        setZValue(2.5);
        // A new plot area moves every bar.
        QObject::connect(chart, &QChart::plotAreaChanged, series, [this] {
            prepareGeometryChange();
            update();
        });
    }

    QRectF boundingRect() const override {
        return chart_->plotArea().adjusted(-2, -depth_ - 2, depth_ + 2, 2);
    }

    void paint(QPainter* p, const QStyleOptionGraphicsItem*, QWidget*) override {
        struct Bar {
            QRectF front;
            QBarSet* set;
        };
        std::vector<Bar> bars;
        const QList<QBarSet*> sets = series_->barSets();
        const qreal n = sets.isEmpty() ? 1 : static_cast<qreal>(sets.size());
        // The sets of a category share the group's width side by side.
        const qreal group = series_->barWidth();
        for (qsizetype s = 0; s < sets.size(); ++s) {
            for (int c = 0; c < sets[s]->count(); ++c) {
                const qreal v = sets[s]->at(c);
                if (v == 0) continue;  // no block for a bar that is not there
                const qreal from = c - group / 2 + static_cast<qreal>(s) * group / n;
                const qreal to = from + group / n;
                const QPointF a = rotated_ ? chart_->mapToPosition(QPointF(0, from), series_)
                                           : chart_->mapToPosition(QPointF(from, 0), series_);
                const QPointF b = rotated_ ? chart_->mapToPosition(QPointF(v, to), series_)
                                           : chart_->mapToPosition(QPointF(to, v), series_);
                bars.push_back({QRectF(a, b).normalized(), sets[s]});
            }
        }
        if (bars.empty()) return;
        // Faces of the bars further back (to the right when upright, higher
        // up when rotated) are drawn last: where a bar's side meets the next
        // bar's top, the next bar hides it.
        std::stable_sort(bars.begin(), bars.end(), [this](const Bar& x, const Bar& y) {
            return rotated_ ? x.front.center().y() > y.front.center().y()
                            : x.front.center().x() < y.front.center().x();
        });
        QPainterPath clip;
        clip.addRect(boundingRect());
        QPainterPath fronts;
        fronts.setFillRule(Qt::WindingFill);
        for (const Bar& bar : bars) fronts.addRect(bar.front);
        p->save();
        p->setClipPath(clip.subtracted(fronts), Qt::IntersectClip);
        p->setRenderHint(QPainter::Antialiasing, false);
        // A block no deeper than its bar is thick: on a crowded chart the
        // faces would otherwise bury the fronts.
        qreal thinnest = depth_;
        for (const Bar& bar : bars)
            thinnest = std::min(thinnest, rotated_ ? bar.front.height() : bar.front.width());
        const qreal d = std::max<qreal>(2, thinnest);
        const QPointF back(d, -d);
        for (const Bar& bar : bars) {
            const QRectF& r = bar.front;
            const QColor base = bar.set->color();
            p->setPen(QPen(base.darker(190), 0));
            p->setBrush(base.darker(135));
            p->drawPolygon(
                QPolygonF{r.topLeft(), r.topLeft() + back, r.topRight() + back, r.topRight()});
            p->setBrush(base.darker(170));
            p->drawPolygon(QPolygonF{r.topRight(), r.topRight() + back, r.bottomRight() + back,
                                     r.bottomRight()});
        }
        p->restore();
    }

  private:
    QChart* chart_;
    QAbstractBarSeries* series_;
    int depth_;
    bool rotated_;
};

// VDR_TRACE (see the dialogs'): a line when a chart window is shown, with
// where its bar buttons lie in its top-level window, and one when it is gone,
// so that a test on a real display can find and close it.
void traceLine(const QString& text) {
    const QString path = qEnvironmentVariable("VDR_TRACE");
    if (path.isEmpty()) return;
    QFile f(path);
    if (f.open(QIODevice::Append | QIODevice::Text)) f.write(text.toUtf8());
}

QString traceName(QString s) {
    return s.remove(QLatin1Char('&')).replace(QLatin1Char(' '), QLatin1Char('_'));
}

}  // namespace

ChartWindow::ChartWindow(ChartModel model, QWidget* parent, bool standardBar)
    : QWidget(parent), model_(std::move(model)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(model_.windowCaption);
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, Qt::black);
    pal.setColor(QPalette::Window,
                 model_.background.isValid() ? model_.background : pal.color(QPalette::Button));
    setPalette(pal);
    setAutoFillBackground(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    if (standardBar) {
        bar_ = new QToolBar(this);
        bar_->setObjectName(QStringLiteral("chartBar"));
        const std::pair<QString, void (ChartWindow::*)()> buttons[] = {
            {QStringLiteral("&Imprimir"), &ChartWindow::printDialog},
            {QStringLiteral("Guardar &PNG"), &ChartWindow::savePngDialog},
            {QStringLiteral("Guardar P&DF"), &ChartWindow::savePdfDialog},
            {QStringLiteral("&Salir"), &ChartWindow::closeChart}};
        for (const auto& [text, slot] : buttons) {
            QAction* a = bar_->addAction(text, this, slot);
            // A bar button's letter works as in a dialog (Alt+S leaves), but
            // only in this chart's window: several charts may be open.
            a->setShortcut(QKeySequence::mnemonic(text));
            a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
            a->setToolTip(QString(text).remove(QLatin1Char('&')) + QStringLiteral(" (") +
                          a->shortcut().toString(QKeySequence::NativeText) + QLatin1Char(')'));
            // The button shows its letter underlined, as a dialog's button
            // does; the key stays the action's: the button's own would answer
            // in the whole main window and clash with the action's.
            a->setIconText(text);
            if (auto* b = qobject_cast<QAbstractButton*>(bar_->widgetForAction(a)))
                b->setShortcut(QKeySequence());
            addAction(a);
        }
        layout->addWidget(bar_);
    }
    // Escape closes the chart as it closes a dialog.
    auto* escape = new QAction(this);
    escape->setShortcut(QKeySequence(Qt::Key_Escape));
    escape->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(escape, &QAction::triggered, this, &ChartWindow::closeChart);
    addAction(escape);
    build();
    layout->addWidget(view_);
    resize(538, 350);
}

ChartWindow::~ChartWindow() {
    if (traced_) traceLine(QStringLiteral("closed chart %1\n").arg(traceName(windowTitle())));
}

void ChartWindow::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (traced_ || qEnvironmentVariable("VDR_TRACE").isEmpty()) return;
    traced_ = true;
    QString lines = QStringLiteral("shown chart %1\n").arg(traceName(windowTitle()));
    if (bar_) {
        for (QAction* a : bar_->actions()) {
            QWidget* b = bar_->widgetForAction(a);
            if (!b) continue;
            const QPoint at = b->mapTo(window(), QPoint(0, 0));
            lines += QStringLiteral("chartbutton %1 %2 %3 %4 %5\n")
                         .arg(traceName(a->text()))
                         .arg(at.x())
                         .arg(at.y())
                         .arg(b->width())
                         .arg(b->height());
        }
    }
    traceLine(lines);
}

void ChartWindow::setModel(ChartModel model) {
    model_ = std::move(model);
    setWindowTitle(model_.windowCaption);
    QSize keep = view_->size();
    delete view_;
    view_ = nullptr;
    build();
    layout()->addWidget(view_);
    view_->resize(keep);
}

void ChartWindow::build() {
    const ChartModel& m = model_;
    fontScale_ = 1;
    chart_ = new QChart;
    chart_->setTitleFont(m.titleFont);
    // Title and subtitle in one block: the subtitle (the report's filter
    // caption) in its own colour on a line of its own.
    chart_->setTitle(QStringLiteral("<div align=center><font color=%1>%2</font><br>"
                                    "<font color=%3 size=-1>%4</font></div>")
                         .arg(m.navy.name(), htmlEscaped(m.title), m.subtitleColour.name(),
                              htmlEscaped(m.subtitle)));
    chart_->setBackgroundBrush(m.background.isValid() ? QBrush(m.background) : QBrush(Qt::white));
    // The window's default size is small for all a chart carries (title,
    // subtitle, two scales with their captions, legend): no room is given
    // to frames and rounded corners around it.
    chart_->layout()->setContentsMargins(0, 0, 0, 0);
    chart_->setBackgroundRoundness(0);
    chart_->setMargins(QMargins(6, 4, 10 + m.depth, 4));

    QAbstractBarSeries* series = nullptr;
    if (m.rotated)
        series = new QHorizontalBarSeries;
    else
        series = new QBarSeries;
    for (const auto& s : m.series) {
        auto* set = new QBarSet(s.caption);
        set->setColor(s.colour);
        set->setBorderColor(s.filled ? s.colour : s.colour.darker(140));
        for (double v : s.values) set->append(v);
        series->append(set);
    }
    series->setLabelsVisible(m.valueLabels);
    series->setLabelsPosition(QAbstractBarSeries::LabelsInsideEnd);
    series->setLabelsFormat(QStringLiteral("@value"));
    // Two series side by side take more of their category, so that each
    // bar keeps some thickness for its value and its depth.
    if (m.series.size() > 1) series->setBarWidth(0.8);
    chart_->addSeries(series);
    bars_ = series;

    // Category axis: only the categories actually given.
    auto* cats = new QBarCategoryAxis;
    QStringList names;
    for (const auto& c : m.categories) names << c;
    cats->append(names);
    cats->setTitleText(m.axisXCaption);
    cats->setTitleFont(m.titleFont);
    cats->setTitleBrush(m.navy);
    cats->setLabelsColor(m.navy);

    auto* left = new QValueAxis;
    left->setRange(0, m.scaleTop());
    left->setTickType(QValueAxis::TicksDynamic);
    left->setTickAnchor(0);
    left->setTickInterval(m.leftStep > 0 ? m.leftStep : 1);
    left->setLabelFormat(labelFormat(m.leftPicture));
    left->setTitleText(axisTitle(m.leftCaption, m.leftHeader));
    left->setTitleFont(m.titleFont);
    left->setTitleBrush(m.navy);
    left->setLabelsColor(m.navy);
    left->setLinePenColor(m.navy);
    left->setObjectName(QStringLiteral("left"));

    const Qt::Alignment catSide = m.rotated ? Qt::AlignLeft : Qt::AlignBottom;
    const Qt::Alignment valueSide = m.rotated ? Qt::AlignBottom : Qt::AlignLeft;
    const Qt::Alignment percentSide = m.rotated ? Qt::AlignTop : Qt::AlignRight;
    chart_->addAxis(cats, catSide);
    chart_->addAxis(left, valueSide);
    series->attachAxis(cats);
    series->attachAxis(left);

    // The percentage scale is the left scale seen against the total; with
    // no total there is nothing to see it against, so it is left out.
    right_ = nullptr;
    if (auto top = m.percentOf(m.scaleTop())) {
        auto* right = new QValueAxis;
        right->setObjectName(QStringLiteral("right"));
        // A hair beyond the top: the last percentage tick, summed up from
        // its interval, may land a rounding error past it and go unlabelled.
        right->setRange(0, *top * (1 + 1e-9));
        // One percentage label beside each label of the left scale.
        right->setTickType(QValueAxis::TicksDynamic);
        right->setTickAnchor(0);
        right->setTickInterval(*m.percentOf(left->tickInterval()));
        right->setLabelFormat(QStringLiteral("%.1f"));
        right->setTitleText(axisTitle(m.rightCaption, m.rightHeader));
        right->setTitleFont(m.titleFont);
        right->setTitleBrush(m.navy);
        right->setLabelsColor(m.navy);
        right->setLinePenColor(m.navy);
        // Upright, the scale's tick marks run into its labels and read as
        // minus signs; the left axis's grid already marks the heights.
        if (!m.rotated) right->setLineVisible(false);
        right->setGridLineVisible(false);
        chart_->addAxis(right, percentSide);
        right_ = right;
    }
    cats_ = cats;
    left_ = left;

    // Qt cuts labels to an ellipsis as soon as its reckoning finds them a
    // pixel short, numbers included; whole labels read better.
    for (QAbstractAxis* axis : chart_->axes()) axis->setTruncateLabels(false);

    if (m.threeD && m.depth > 0) new DepthFaces(chart_, series, m.depth, m.rotated);
    connect(chart_, &QChart::plotAreaChanged, chart_, [this] { fitToPlotArea(); });
    connect(chart_, &QGraphicsWidget::geometryChanged, chart_, [this] { fitToSize(); });

    QLegend* legend = chart_->legend();
    legend->setVisible(m.legendVisible);
    legend->setAlignment(Qt::AlignBottom);
    legend->setBackgroundVisible(false);
    legend->setPen(Qt::NoPen);
    legend->setToolTip(m.legendCaption);

    view_ = new QChartView(chart_, this);
    view_->setRenderHint(QPainter::Antialiasing);
    view_->setObjectName(QStringLiteral("chartView"));
    if (m.popupMenu) {
        view_->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(view_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
            QMenu menu(this);
            menu.addAction(QStringLiteral("&Imprimir"), this, &ChartWindow::printDialog);
            menu.addAction(QStringLiteral("Guardar &PNG"), this, &ChartWindow::savePngDialog);
            menu.addAction(QStringLiteral("Guardar P&DF"), this, &ChartWindow::savePdfDialog);
            menu.exec(view_->mapToGlobal(at));
        });
    }
}

namespace {

QFont scaled(QFont f, double scale, double smallest) {
    if (f.pointSizeF() > 0)
        f.setPointSizeF(std::max(smallest, f.pointSizeF() * scale));
    else if (f.pixelSize() > 0)
        f.setPixelSize(
            std::max(static_cast<int>(smallest * 4 / 3), static_cast<int>(f.pixelSize() * scale)));
    return f;
}

}  // namespace

void ChartWindow::fitToSize() {
    // The print is made for a chart of about 800 by 520 pixels; a smaller
    // window (the scripts' default is 538 by 350, button bar included) sets
    // it smaller, so that captions and names keep their place instead of
    // being cut or skipped. Larger windows keep it as it is.
    const QSizeF size = chart_->size();
    if (size.isEmpty()) return;
    const double scale =
        std::clamp(std::min(size.width() / 800.0, size.height() / 520.0), 0.6, 1.0);
    if (scale == fontScale_) return;
    fontScale_ = scale;
    const QFont title = scaled(model_.titleFont, scale, 7);
    const QFont labels = scaled(QApplication::font(), scale, 6.5);
    chart_->setTitleFont(title);
    for (QAbstractAxis* axis : chart_->axes()) {
        axis->setTitleFont(title);
        axis->setLabelsFont(labels);
    }
    chart_->legend()->setFont(labels);
}

void ChartWindow::fitToPlotArea() {
    const ChartModel& m = model_;
    const QRectF plot = chart_->plotArea();
    if (plot.isEmpty()) return;
    // The left scale keeps its step, or a multiple of it when the labels of
    // every step would not fit side by side (or one above the other).
    const QFontMetricsF valueFont(left_->labelsFont());
    const double valueRoom =
        m.rotated ? valueFont.horizontalAdvance(QStringLiteral("9,999,999")) * 0.8 + 12
                  : valueFont.height() * 1.8;
    const double interval = m.tickInterval(m.rotated ? plot.width() : plot.height(), valueRoom);
    if (left_->tickInterval() != interval) left_->setTickInterval(interval);
    if (right_) {
        const double percent = m.percentOf(interval).value_or(1);
        if (right_->tickInterval() != percent) right_->setTickInterval(percent);
    }
    const int count = static_cast<int>(m.categories.size());
    if (count == 0) return;
    // Upright categories whose names do not fit their width are written
    // upwards, rather than cut to an ellipsis.
    if (!m.rotated) {
        const QFontMetricsF catFont(cats_->labelsFont());
        double widest = 0;
        for (const QString& c : m.categories)
            widest = std::max(widest, catFont.horizontalAdvance(c));
        const int angle = widest + 6 > plot.width() / count ? -90 : 0;
        if (cats_->labelsAngle() != angle) cats_->setLabelsAngle(angle);
    }
    // Values on thin bars in a smaller print, down to what can still be read.
    const double group = bars_->barWidth();
    const double thickness = (m.rotated ? plot.height() : plot.width()) / count * group /
                             std::max<size_t>(1, m.series.size());
    QFont font = scaled(QApplication::font(), fontScale_, 6.5);
    const double fits = thickness + 2;
    if (QFontMetricsF(font).height() > fits)
        font.setPixelSize(std::max(7, static_cast<int>(fits / 1.2)));
    for (QBarSet* set : bars_->barSets())
        if (set->labelFont() != font) set->setLabelFont(font);
}

void ChartWindow::layOutNow() const {
    // Axes, bars and their depth are placed by the chart's layout, and the
    // legend's entries by its own (anew when a new size changed the print):
    // both otherwise wait for the event loop, which a picture drawn at once
    // does not.
    for (int pass = 0; pass < 2; ++pass) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        if (chart_->layout()) chart_->layout()->activate();
    }
}

void ChartWindow::paintChart(QPainter& p, const QRectF& target) const {
    p.setRenderHint(QPainter::Antialiasing);
    // Lay the chart out at the target's own size (a window never shown has
    // no size to speak of), draw it, and give it back to the view.
    QSizeF size = target.size();
    const QSizeF before = chart_->size();
    chart_->resize(size);
    layOutNow();
    chart_->scene()->render(&p, target, QRectF(chart_->pos(), size));
    if (!before.isEmpty()) {
        chart_->resize(before);
        layOutNow();
    }
}

void ChartWindow::drawScaled(QPainter& p, const QRectF& page) const {
    // Paper has many more dots than a screen: lay out at screen size and
    // scale, so that fonts keep their proportion to the bars.
    QSizeF logical(800, 520);
    QSizeF want = logical.scaled(page.size(), Qt::KeepAspectRatio);
    p.save();
    p.translate(page.topLeft());
    p.scale(want.width() / logical.width(), want.height() / logical.height());
    paintChart(p, QRectF(QPointF(0, 0), logical));
    p.restore();
}

QImage ChartWindow::render(QSize size) const {
    if (!size.isValid()) size = view_->size().width() < 300 ? QSize(800, 520) : view_->size();
    QImage img(size, QImage::Format_ARGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    paintChart(p, QRectF(QPointF(0, 0), QSizeF(size)));
    return img;
}

bool ChartWindow::savePng(const QString& file, QSize size) const {
    return render(size).save(file, "PNG");
}

bool ChartWindow::savePdf(const QString& file) const {
    QPdfWriter pdf(file);
    pdf.setPageOrientation(QPageLayout::Landscape);
    pdf.setTitle(model_.title);
    pdf.setCreator(QStringLiteral("Valdrosa"));
    QPainter p;
    if (!p.begin(&pdf)) return false;
    QRectF page(QPointF(0, 0), QSizeF(pdf.width(), pdf.height()));
    // Keep the window's proportions inside the page.
    drawScaled(p, page);
    return p.end();
}

void ChartWindow::printOn(QPrinter& printer) const {
    QPainter p;
    if (!p.begin(&printer)) return;
    QRectF page = printer.pageLayout().paintRectPixels(printer.resolution());
    page.moveTo(0, 0);
    drawScaled(p, page);
    p.end();
}

void ChartWindow::closeChart() {
    // Inside the main window the chart sits in a frame of its own, which
    // goes with it.
    if (auto* frame = qobject_cast<QMdiSubWindow*>(parentWidget()))
        frame->close();
    else
        close();
}

void ChartWindow::printDialog() {
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageOrientation(QPageLayout::Landscape);
    QPrintDialog dlg(&printer, this);
    if (dlg.exec() == QDialog::Accepted) printOn(printer);
}

void ChartWindow::savePngDialog() {
    QString f = QFileDialog::getSaveFileName(this, QStringLiteral("Guardar gráfico"),
                                             QStringLiteral("grafico.png"),
                                             QStringLiteral("Imagen PNG (*.png)"));
    if (!f.isEmpty()) savePng(f);
}

void ChartWindow::savePdfDialog() {
    QString f = QFileDialog::getSaveFileName(this, QStringLiteral("Guardar gráfico"),
                                             QStringLiteral("grafico.pdf"),
                                             QStringLiteral("Documento PDF (*.pdf)"));
    if (!f.isEmpty()) savePdf(f);
}

}  // namespace charts
