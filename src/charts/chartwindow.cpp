#include "charts/chartwindow.h"

#include <QAction>
#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QFileDialog>
#include <QHorizontalBarSeries>
#include <QLegend>
#include <QMenu>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinter>
#include <QToolBar>
#include <QVBoxLayout>
#include <QValueAxis>

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
        bar_->addAction(QStringLiteral("&Imprimir"), this, &ChartWindow::printDialog);
        bar_->addAction(QStringLiteral("Guardar &PNG"), this, &ChartWindow::savePngDialog);
        bar_->addAction(QStringLiteral("Guardar P&DF"), this, &ChartWindow::savePdfDialog);
        bar_->addAction(QStringLiteral("&Salir"), this, &QWidget::close);
        layout->addWidget(bar_);
    }
    build();
    layout->addWidget(view_);
    resize(538, 350);
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
    chart_ = new QChart;
    chart_->setTitleFont(m.titleFont);
    // Title and subtitle in one block: the subtitle (the report's filter
    // caption) in its own colour on a line of its own.
    chart_->setTitle(QStringLiteral("<div align=center><font color=%1>%2</font><br>"
                                    "<font color=%3 size=-1>%4</font></div>")
                         .arg(m.navy.name(), htmlEscaped(m.title), m.subtitleColour.name(),
                              htmlEscaped(m.subtitle)));
    chart_->setBackgroundBrush(m.background.isValid() ? QBrush(m.background) : QBrush(Qt::white));

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
    left->setTitleText(m.leftCaption + QStringLiteral(" (") + m.leftHeader + QStringLiteral(")"));
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
    if (auto top = m.percentOf(m.scaleTop())) {
        auto* right = new QValueAxis;
        right->setObjectName(QStringLiteral("right"));
        right->setRange(0, *top);
        // One percentage tick for each tick of the left scale.
        int ticks = static_cast<int>(m.scaleTop() / (m.leftStep > 0 ? m.leftStep : 1)) + 1;
        if (ticks >= 2 && ticks <= 21) right->setTickCount(ticks);
        right->setLabelFormat(QStringLiteral("%.1f"));
        right->setTitleText(m.rightCaption + QStringLiteral(" (") + m.rightHeader +
                            QStringLiteral(")"));
        right->setTitleFont(m.titleFont);
        right->setTitleBrush(m.navy);
        right->setLabelsColor(m.navy);
        right->setLinePenColor(m.navy);
        right->setGridLineVisible(false);
        chart_->addAxis(right, percentSide);
    }

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

void ChartWindow::paintChart(QPainter& p, const QRectF& target) const {
    p.setRenderHint(QPainter::Antialiasing);
    // Lay the chart out at the target's own size (a window never shown has
    // no size to speak of), draw it, and give it back to the view.
    QSizeF size = target.size();
    const QSizeF before = chart_->size();
    chart_->resize(size);
    chart_->scene()->render(&p, target, QRectF(chart_->pos(), size));
    if (!before.isEmpty()) chart_->resize(before);
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
