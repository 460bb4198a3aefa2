// The chart functions from the language: the value rule, each chart kind from
// a small table or list with known counts (read back from the drawn chart),
// the percentage scale and its absence against a zero total, the subtitle, the
// chart's own copy of its data, and the PNG and PDF it saves.
#include <QAbstractBarSeries>
#include <QAbstractButton>
#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QFile>
#include <QFontMetricsF>
#include <QGraphicsLayout>
#include <QHorizontalBarSeries>
#include <QLegend>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QToolBar>
#include <QValueAxis>
#include <cmath>
#include <memory>

#include "charts/charts.h"
#include "program_session.h"
#include "toolkit/text.h"
#include "xbase/date.h"

using SessionTest = testsupport::ProgramSession;

namespace {

std::vector<double> setValues(const QBarSet* set) {
    std::vector<double> v;
    for (int i = 0; i < set->count(); ++i) v.push_back(set->at(i));
    return v;
}

QStringList categoriesOf(QChart* chart) {
    for (QAbstractAxis* ax : chart->axes())
        if (auto* c = qobject_cast<QBarCategoryAxis*>(ax)) return c->categories();
    return {};
}

QValueAxis* valueAxis(QChart* chart, const char* name) {
    for (QAbstractAxis* ax : chart->axes())
        if (ax->objectName() == QLatin1String(name)) return qobject_cast<QValueAxis*>(ax);
    return nullptr;
}

QString plainTitle(QChart* chart) {
    QString t = chart->title();
    t.replace(QLatin1String("<br>"), QLatin1String("\n"));
    t.remove(QRegularExpression(QStringLiteral("<[^>]*>")));
    return t;
}

int nonWhitePixels(const QImage& img) {
    int n = 0;
    for (int y = 0; y < img.height(); y += 2)
        for (int x = 0; x < img.width(); x += 2)
            if (img.pixelColor(x, y) != QColor(Qt::white)) ++n;
    return n;
}

}  // namespace

class ValueRule : public SessionTest {};

TEST_F(ValueRule, NumbersDatesTextsLogicalsAndTheRest) {
    const int32_t today = xb::todayJulian();
    EXPECT_EQ(charts::chartValue(xb::Value::num(12.5), today), 12.5);
    EXPECT_EQ(charts::chartValue(xb::Value::date(today - 10), today), 10);
    EXPECT_EQ(charts::chartValue(xb::Value::date(today + 3), today), -3);
    EXPECT_EQ(charts::chartValue(xb::Value::date(0), today), 0);  // no age for no date
    EXPECT_EQ(charts::chartValue(xb::Value::str("AB"), today), 65 + 66);
    EXPECT_EQ(charts::chartValue(xb::Value::str("\xf1"), today), 241);  // bytes, not signed chars
    EXPECT_EQ(charts::chartValue(xb::Value::logical(true), today), 1);
    EXPECT_EQ(charts::chartValue(xb::Value::logical(false), today), 0);
    EXPECT_EQ(charts::chartValue(xb::Value(), today), 0);
    EXPECT_EQ(charts::chartValue(xb::Value::newArray(2), today), 0);
}

TEST_F(ValueRule, ChartedFromTheLanguage) {
    // The same rule seen through a drawn chart: a text, a date and a logical
    // as values of one series.
    ev("NTOTAL := 100");
    ev("ADATOS := {{'T', 'AB'}, {'D', DATE() - 7}, {'L', .T.}, {'N', 4}}");
    ev("ACTIVAGRAF(,,,,, ADATOS)");
    charts::ChartWindow* w = charts::lastChartWindow();
    ASSERT_NE(w, nullptr);
    auto sets = w->barSeries()->barSets();
    ASSERT_EQ(sets.size(), 1);
    EXPECT_EQ(setValues(sets[0]), (std::vector<double>{131, 7, 1, 4}));
    EXPECT_EQ(categoriesOf(w->chart()), (QStringList{"T", "D", "L", "N"}));
}

class ChartKinds : public SessionTest {
  protected:
    // Responses counted per code: A 3, B 5, C 2 (total 10).
    void responses() {
        makeTable(
            "cuenta.dbf", "Cuenta", "{{'CODIGO','C',3,0},{'CANT','N',6,0}}",
            {"FIELD->CODIGO := 'A', FIELD->CANT := 3", "FIELD->CODIGO := 'B', FIELD->CANT := 5",
             "FIELD->CODIGO := 'C', FIELD->CANT := 2"});
    }
};

TEST_F(ChartKinds, ResponsesFromAnOpenTable) {
    responses();
    ev("NTOTAL := 10, ADATOS := {1, 2, 3}");
    xb::Value g = ev("ACTIVAGRAF(,,,, 'Respuestas', 'Cuenta')");
    ASSERT_TRUE(g.isObject());
    charts::ChartWindow* w = charts::lastChartWindow();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Respuestas"));
    auto* series = qobject_cast<QHorizontalBarSeries*>(w->barSeries());
    ASSERT_NE(series, nullptr) << "the response chart is rotated";
    ASSERT_EQ(series->barSets().size(), 1);
    QBarSet* set = series->barSets()[0];
    EXPECT_EQ(set->label(), QStringLiteral("Respuesta"));
    EXPECT_EQ(set->color(), QColor(255, 20, 20));
    EXPECT_EQ(setValues(set), (std::vector<double>{3, 5, 2}));
    EXPECT_EQ(categoriesOf(w->chart()), (QStringList{"A", "B", "C"}));
    EXPECT_TRUE(series->isLabelsVisible());
    EXPECT_TRUE(
        plainTitle(w->chart()).startsWith(QStringLiteral("Frecuencia por Tipo de Respuestas")));

    QValueAxis* left = valueAxis(w->chart(), "left");
    ASSERT_NE(left, nullptr);
    EXPECT_EQ(left->max(), 5);  // the largest count on a step of 5
    EXPECT_EQ(left->tickInterval(), 5);
    EXPECT_TRUE(left->titleText().contains(QStringLiteral("Frecuencia")));
    QValueAxis* right = valueAxis(w->chart(), "right");
    ASSERT_NE(right, nullptr);
    EXPECT_NEAR(right->max(), 50, 1e-6);  // 5 of a total of 10
    EXPECT_TRUE(right->titleText().contains(QStringLiteral("Proporcionalidad")));

    // The script sees the chart and its last series.
    EXPECT_EQ(evn("LEN(OGRAPH:aValues(1))"), 3);
    EXPECT_EQ(ev("OCOLUMN:cCaption").asString(), "Respuesta");
    EXPECT_EQ(evn("OCOLUMN:aValues[2]"), 5);
    // And the table's record was not moved by the chart reading it.
    EXPECT_EQ(evn("RECNO()"), 1);
}

TEST_F(ChartKinds, DemonstrationsAgainstSales) {
    ev("NTOTAL := 8");
    ev("ADATOS := {{'ANA', 3, 1}, {'LUIS', 4, 2}}");
    ev("ACTIVAGRA2(,,,,, ADATOS)");
    charts::ChartWindow* w = charts::lastChartWindow();
    ASSERT_NE(w, nullptr);
    auto sets = w->barSeries()->barSets();
    ASSERT_EQ(sets.size(), 2);
    EXPECT_EQ(sets[0]->label(), QStringLiteral("Demostr."));
    EXPECT_EQ(sets[1]->label(), QStringLiteral("Ventas"));
    EXPECT_EQ(sets[0]->color(), QColor(255, 20, 20));
    EXPECT_NE(sets[1]->color(), sets[0]->color());
    EXPECT_EQ(setValues(sets[0]), (std::vector<double>{3, 4}));
    EXPECT_EQ(setValues(sets[1]), (std::vector<double>{1, 2}));
    EXPECT_TRUE(plainTitle(w->chart()).startsWith(QStringLiteral("Demostraciones Vs. Ventas")));
    EXPECT_EQ(ev("OCOLUMN:cCaption").asString(), "Ventas");
}

TEST_F(ChartKinds, OfferedAgainstSold) {
    ev("NTOTAL := 40");
    ev("ADATOS := {{'P01', 12, 3}, {'P02', 25, 9}, {'P03', 1, 0}}");
    ev("ACTIVAGRA3(,,,,, ADATOS)");
    charts::ChartWindow* w = charts::lastChartWindow();
    ASSERT_NE(w, nullptr);
    auto sets = w->barSeries()->barSets();
    ASSERT_EQ(sets.size(), 2);
    EXPECT_EQ(sets[0]->label(), QStringLiteral("Ofertados"));
    EXPECT_EQ(sets[1]->label(), QStringLiteral("Vendidos"));
    EXPECT_EQ(setValues(sets[0]), (std::vector<double>{12, 25, 1}));
    EXPECT_EQ(setValues(sets[1]), (std::vector<double>{3, 9, 0}));
    EXPECT_TRUE(plainTitle(w->chart())
                    .startsWith(QStringLiteral("Productos/Servicios Ofertados Vs. Vendidos")));
    QValueAxis* left = valueAxis(w->chart(), "left");
    ASSERT_NE(left, nullptr);
    EXPECT_EQ(left->tickInterval(), 10);
    EXPECT_EQ(left->max(), 30);
    // Caption and header are both "Cantidad": said once, not "Cantidad (Cantidad)".
    EXPECT_EQ(left->titleText(), QStringLiteral("Cantidad"));
    EXPECT_NEAR(valueAxis(w->chart(), "right")->max(), 75, 1e-6);
    bool productAxis = false;
    for (QAbstractAxis* ax : w->chart()->axes())
        productAxis |= ax->titleText() == QStringLiteral("Código Productos");
    EXPECT_TRUE(productAxis);
}

TEST_F(ChartKinds, ContactsPerDayUprightWithoutLegend) {
    ev("NTOTAL := 6");
    ev("ADATOS := {{CTOD('01-12-2026'), 2}, {CTOD('02-12-2026'), 4}}");
    ev("ACTIVAGRA4(,,,,, ADATOS)");
    charts::ChartWindow* w = charts::lastChartWindow();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(qobject_cast<QHorizontalBarSeries*>(w->barSeries()), nullptr);
    EXPECT_FALSE(w->chart()->legend()->isVisible());
    EXPECT_EQ(w->barSeries()->barSets()[0]->label(), QStringLiteral("Día"));
    EXPECT_EQ(categoriesOf(w->chart()), (QStringList{"01-12-2026", "02-12-2026"}));
    bool dayAxis = false;
    for (QAbstractAxis* ax : w->chart()->axes())
        dayAxis |= ax->titleText() == QStringLiteral("Día");
    EXPECT_TRUE(dayAxis) << "the horizontal axis defaults to Día";

    ev("ACTIVAGRA4(,,,,, ADATOS,,,,,,,, 'Semana')");
    bool weekAxis = false;
    for (QAbstractAxis* ax : charts::lastChartWindow()->chart()->axes())
        weekAxis |= ax->titleText() == QStringLiteral("Semana");
    EXPECT_TRUE(weekAxis);
}

TEST_F(ChartKinds, Grafico1TakesItsTotalAndItsOwnWindow) {
    ev("ADATOS := {{'X', 1}, {'Y', 3}}");
    ev("GRAFICO1(4, ADATOS)");
    charts::ChartWindow* w = charts::lastChartWindow();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Análisis estadístico"));
    EXPECT_TRUE(w->isWindow());
    EXPECT_NEAR(valueAxis(w->chart(), "right")->max(), 125, 1e-6);  // 5 of 4
}

TEST_F(ChartKinds, NoDataShowsTheMessageAndOpensNothing) {
    ev("ADATOS := {}");
    EXPECT_TRUE(ev("ACTIVAGRAF(,,,,, ADATOS)").isNil());
    EXPECT_TRUE(ev("ACTIVAGRA2()").isNil());
    EXPECT_TRUE(ev("GRAFICO1(5, 'NoAbierta')").isNil());
    auto infos = scripted.of(data::ScriptedInteraction::Kind::Info);
    ASSERT_EQ(infos.size(), 3u);
    EXPECT_EQ(infos[0].message, "Debe pasar datos");
    EXPECT_EQ(infos[0].title, "Atenci\xf3n.....");
    EXPECT_EQ(charts::lastChartWindow(), nullptr);
}

class ChartMends : public SessionTest {};

TEST_F(ChartMends, AZeroTotalDrawsWithoutThePercentScale) {
    ev("NTOTAL := 0, ADATOS := {{'A', 2}, {'B', 7}}");
    ev("ACTIVAGRAF(,,,,, ADATOS)");
    charts::ChartWindow* w = charts::lastChartWindow();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(valueAxis(w->chart(), "right"), nullptr);
    EXPECT_NE(valueAxis(w->chart(), "left"), nullptr);
    EXPECT_GT(nonWhitePixels(w->render(QSize(538, 350))), 1000);
}

TEST_F(ChartMends, TheChartKeepsItsDataWhenTheScriptsTablesAndListsAreGone) {
    makeTable("cuenta.dbf", "Cuenta", "{{'CODIGO','C',3,0},{'CANT','N',6,0}}",
              {"FIELD->CODIGO := 'A', FIELD->CANT := 4", "FIELD->CODIGO := 'B', FIELD->CANT := 6"});
    ev("NTOTAL := 10, OFONTT := NIL");
    ev("ACTIVAGRAF(,,,,, 'Cuenta')");
    charts::ChartWindow* w = charts::lastChartWindow();
    ASSERT_NE(w, nullptr);
    ev("DBCLOSEALL(), NTOTAL := 0, ADATOS := NIL");
    QFile::remove(QStringLiteral("cuenta.dbf"));
    // Redrawn with another model and back: everything comes from its copy.
    charts::ChartModel copy = w->model();
    w->setModel(copy);
    EXPECT_EQ(setValues(w->barSeries()->barSets()[0]), (std::vector<double>{4, 6}));
    EXPECT_NEAR(valueAxis(w->chart(), "right")->max(), 100, 1e-6);
    EXPECT_GT(nonWhitePixels(w->render(QSize(538, 350))), 1000);
}

TEST_F(ChartMends, CategoriesComeFromTheDataGivenNotFromAdatos) {
    ev("ADATOS := ARRAY(12), NTOTAL := 3");
    ev("ACTIVAGRAF(,,,,, {{'A', 1}, {'B', 2}})");
    charts::ChartWindow* w = charts::lastChartWindow();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->model().viewCount, 2);
    EXPECT_EQ(categoriesOf(w->chart()).size(), 2);
    EXPECT_EQ(w->barSeries()->barSets()[0]->count(), 2);
}

class ChartLook : public SessionTest {};

TEST_F(ChartLook, SubtitleIsTheFilterCaptionOrTheIssueDate) {
    ev("ADATOS := {{'A', 1}}, NTOTAL := 1, CTITFILTRO := ''");
    ev("ACTIVAGRAF(,,,,, ADATOS)");
    QString today = QString::fromStdString(xb::formatDate(xb::todayJulian(), "dd-mm-yyyy"));
    EXPECT_EQ(charts::lastChartWindow()->model().subtitle, QStringLiteral("Emisión: ") + today);
    EXPECT_TRUE(plainTitle(charts::lastChartWindow()->chart()).contains(today));
    ev("CTITFILTRO := 'Vendedor: ANA'");
    ev("ACTIVAGRAF(,,,,, ADATOS)");
    EXPECT_EQ(charts::lastChartWindow()->model().subtitle, QStringLiteral("Vendedor: ANA"));
}

TEST_F(ChartLook, CaractgrafPutsTheCommonLookBack) {
    ev("ADATOS := {{'A', 1, 2}}, NTOTAL := 3");
    ev("ACTIVAGRA2(,,,,, ADATOS)");
    ev("CARACTGRAF(OGRAPH)");
    charts::ChartWindow* w = charts::lastChartWindow();
    EXPECT_EQ(w->model().title, QStringLiteral("Frecuencia por Tipo de Respuestas"));
    EXPECT_EQ(w->model().leftStep, 5);
    EXPECT_EQ(w->barSeries()->barSets().size(), 2);  // the data stay
    EXPECT_TRUE(ev("CARACTGRAF(NIL)").isNil());
}

namespace {

// Lays the chart out at `size`, as the window or a saved picture would.
void layOut(charts::ChartWindow* w, QSize size) {
    w->chart()->resize(size);
    w->chart()->layout()->activate();
}

}  // namespace

TEST_F(ChartLook, AScaleTooLongForItsStepIsLabelledAtAMultipleOfIt) {
    // 148 contacts on a step of 5 would be thirty labels in 800 pixels.
    ev("NTOTAL := 629, ADATOS := {{'A', 148}, {'B', 55}}");
    ev("ACTIVAGRAF(,,,,, ADATOS)");
    charts::ChartWindow* w = charts::lastChartWindow();
    ASSERT_NE(w, nullptr);
    for (QSize size : {QSize(800, 520), QSize(538, 350), QSize(1200, 700)}) {
        SCOPED_TRACE(size.width());
        layOut(w, size);
        QValueAxis* left = valueAxis(w->chart(), "left");
        QValueAxis* right = valueAxis(w->chart(), "right");
        const double interval = left->tickInterval();
        EXPECT_EQ(std::fmod(interval, 5.0), 0) << interval;
        EXPECT_GT(interval, 5);
        // Every label has the room of a wide number.
        const double labels = left->max() / interval + 1;
        const double room = QFontMetricsF(left->labelsFont()).horizontalAdvance("9,999,999") * 0.8;
        EXPECT_LE(labels * room, w->chart()->plotArea().width() + room);
        // Each percentage stands beside a count.
        EXPECT_NEAR(right->tickInterval(), interval / 629 * 100, 1e-9);
        EXPECT_EQ(right->tickAnchor(), 0);
    }
    // A short scale keeps the step.
    ev("NTOTAL := 40, ADATOS := {{'A', 20}, {'B', 15}}");
    ev("ACTIVAGRAF(,,,,, ADATOS)");
    layOut(charts::lastChartWindow(), QSize(800, 520));
    EXPECT_EQ(valueAxis(charts::lastChartWindow()->chart(), "left")->tickInterval(), 5);
}

TEST_F(ChartLook, ASmallWindowSetsItsPrintSmallerRatherThanCuttingIt) {
    // Eight responses in the scripts' default window (538 by 350, less the
    // button bar): every caption fits along its side of the plot, and every
    // category name has the height it needs, so none is cut or skipped.
    ev("NTOTAL := 629, ADATOS := {}");
    ev("AEVAL({'VOLVER A LLAMAR', 'VENTA', 'RECLAMACION', 'PRESUPUESTO', 'NO INTERESA', "
       "'INTERESADO', 'DEMOSTRACION', 'AUSENTE'}, {|c, i| AADD(ADATOS, {c, i * 17})})");
    ev("ACTIVAGRAF(,,,,, ADATOS)");
    charts::ChartWindow* w = charts::lastChartWindow();
    ASSERT_NE(w, nullptr);
    for (QSize size : {QSize(538, 298), QSize(800, 520)}) {
        SCOPED_TRACE(size.width());
        layOut(w, size);
        const QRectF plot = w->chart()->plotArea();
        for (QAbstractAxis* ax : w->chart()->axes()) {
            const bool across = ax->orientation() == Qt::Horizontal;
            const double along = across ? plot.width() : plot.height();
            EXPECT_LE(QFontMetricsF(ax->titleFont()).horizontalAdvance(ax->titleText()), along)
                << ax->titleText().toStdString();
            EXPECT_FALSE(ax->truncateLabels());
            if (qobject_cast<QBarCategoryAxis*>(ax)) {
                EXPECT_LE(QFontMetricsF(ax->labelsFont()).height(), plot.height() / 8);
            }
        }
        // Still a print to be read.
        EXPECT_GE(w->chart()->titleFont().pointSizeF(), 7);
    }
    // A full-size chart keeps the title's own size.
    EXPECT_EQ(w->chart()->titleFont().pointSizeF(), w->model().titleFont.pointSizeF());
}

TEST_F(ChartLook, DaysThatDoNotFitTheirWidthAreWrittenUpwards) {
    ev("NTOTAL := 40, ADATOS := {}");
    ev("AEVAL(ARRAY(21), {|x, i| AADD(ADATOS, {STRZERO(i, 2) + '-11', i % 4 + 1})})");
    ev("ACTIVAGRA4(,,,,, ADATOS)");
    charts::ChartWindow* w = charts::lastChartWindow();
    ASSERT_NE(w, nullptr);
    auto catAxis = [&] {
        for (QAbstractAxis* ax : w->chart()->axes())
            if (auto* c = qobject_cast<QBarCategoryAxis*>(ax)) return c;
        return static_cast<QBarCategoryAxis*>(nullptr);
    };
    layOut(w, QSize(538, 350));
    EXPECT_EQ(catAxis()->labelsAngle(), -90);
    // Three days have all the room they need.
    ev("ADATOS := {{'01-12', 2}, {'02-12', 4}, {'03-12', 1}}");
    ev("ACTIVAGRA4(,,,,, ADATOS)");
    w = charts::lastChartWindow();
    layOut(w, QSize(538, 350));
    EXPECT_EQ(catAxis()->labelsAngle(), 0);
}

TEST_F(ChartLook, SavedAsPngAndPdf) {
    ev("ADATOS := {{'P01', 12, 3}, {'P02', 25, 9}}, NTOTAL := 40");
    ev("ACTIVAGRA3(,,,,, ADATOS)");
    QString png = dir.filePath(QStringLiteral("g.png"));
    QString pdf = dir.filePath(QStringLiteral("g.pdf"));
    ASSERT_TRUE(ev("OGRAPH:SavePng('" + png.toStdString() + "')").asLogical());
    ASSERT_TRUE(ev("OGRAPH:SavePdf('" + pdf.toStdString() + "')").asLogical());
    QImage img(png);
    ASSERT_FALSE(img.isNull());
    EXPECT_GT(nonWhitePixels(img), 1000);
    // The red of the first series is on the picture.
    bool red = false;
    for (int y = 0; y < img.height() && !red; ++y)
        for (int x = 0; x < img.width() && !red; ++x)
            red = img.pixelColor(x, y) == QColor(255, 20, 20);
    EXPECT_TRUE(red);
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    ASSERT_TRUE(p.waitForFinished(30000));
    QString text = QString::fromUtf8(p.readAllStandardOutput());
    EXPECT_TRUE(text.contains(QStringLiteral("Ofertados"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("P02"))) << text.toStdString();
}

// The depth of the bars: the darker top and side of each block lie just
// beyond the bar's end and side, where a flat chart shows the plot's
// background; the front of the bar keeps the series' colour. Looked for at
// two sizes, since the faces must follow the bars when the plot area moves.
class ChartDepth : public SessionTest {
  protected:
    // Darker than the series' red (255, 20, 20), and still red.
    static bool darkRed(QColor c) {
        return c.red() >= 90 && c.red() <= 230 && c.green() < 40 && c.blue() < 40;
    }
    static bool reddish(QColor c) { return c.red() > c.green() + 60 && c.red() > c.blue() + 60; }

    struct Probe {
        QColor front, beyondEnd, beyondSide, farBeyond;
        bool faceClean = true;
    };
    // Colours of bar `cat` (value `v`) of a one-series chart drawn at `size`:
    // the middle of its front, a point 4 pixels beyond its end, one 4 pixels
    // beyond its side (the Qt default puts a lone bar over half its category,
    // centred), and one 14 pixels beyond its end, past any face.
    static Probe probe(charts::ChartWindow& w, QSize size, int cat, double v) {
        layOut(&w, size);
        QChart* ch = w.chart();
        QAbstractSeries* s = w.barSeries();
        const bool rotated = w.model().rotated;
        auto at = [&](double value, double category) {
            return rotated ? ch->mapToPosition(QPointF(value, category), s)
                           : ch->mapToPosition(QPointF(category, value), s);
        };
        const QPointF end = at(v, cat);
        const QPointF mid = at(v / 2, cat);
        const QPointF edge = at(v / 2, cat + 0.25);  // upper side, or right side
        const QImage img = w.render(size);
        auto px = [&](QPointF p) { return img.pixelColor(p.toPoint()); };
        Probe r;
        r.front = px(mid);
        // Along the whole top (rotated) or side (upright) face: no grid line
        // of the plot is drawn over it.
        const QPointF base = at(0, cat);
        if (rotated) {
            for (double x = base.x() + 6; x < end.x() - 2; x += 1)
                r.faceClean &= darkRed(px(QPointF(x, edge.y() - 4)));
        } else {
            for (double y = end.y() + 2; y < base.y() - 6; y += 1)
                r.faceClean &= darkRed(px(QPointF(edge.x() + 4, y)));
        }
        if (rotated) {
            r.beyondEnd = px(end + QPointF(4, 0));
            r.beyondSide = px(QPointF(mid.x(), edge.y() - 4));
            r.farBeyond = px(end + QPointF(14, 0));
        } else {
            r.beyondEnd = px(end + QPointF(0, -4));
            r.beyondSide = px(QPointF(edge.x() + 4, mid.y()));
            r.farBeyond = px(end + QPointF(0, -14));
        }
        return r;
    }

    void deepAndFlat(const char* call) {
        ev("NTOTAL := 20, ADATOS := {{'A', 4}, {'B', 9}, {'C', 6}}");
        ev(call);
        charts::ChartWindow* w = charts::lastChartWindow();
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(w->model().threeD);
        EXPECT_EQ(w->model().depth, 8);
        charts::ChartModel flatModel = w->model();
        flatModel.depth = 0;
        auto flat = std::make_unique<charts::ChartWindow>(flatModel);
        flat->setAttribute(Qt::WA_DeleteOnClose, false);
        for (QSize size : {QSize(800, 520), QSize(538, 350)}) {
            SCOPED_TRACE(std::string(call) + " at " + std::to_string(size.width()));
            const Probe deep = probe(*w, size, 1, 9);
            EXPECT_EQ(deep.front, QColor(255, 20, 20));
            EXPECT_TRUE(darkRed(deep.beyondEnd)) << deep.beyondEnd.name().toStdString();
            EXPECT_TRUE(darkRed(deep.beyondSide)) << deep.beyondSide.name().toStdString();
            EXPECT_FALSE(reddish(deep.farBeyond)) << deep.farBeyond.name().toStdString();
            EXPECT_TRUE(deep.faceClean);
            const Probe none = probe(*flat, size, 1, 9);
            EXPECT_EQ(none.front, QColor(255, 20, 20));
            EXPECT_FALSE(reddish(none.beyondEnd)) << none.beyondEnd.name().toStdString();
            EXPECT_FALSE(reddish(none.beyondSide)) << none.beyondSide.name().toStdString();
        }
    }
};

TEST_F(ChartDepth, RotatedBarsHaveATopAndAnEndFace) {
    deepAndFlat("ACTIVAGRAF(,,,,, ADATOS)");
}

TEST_F(ChartDepth, UprightBarsHaveATopAndASideFace) {
    deepAndFlat("ACTIVAGRA4(,,,,, ADATOS)");
}

TEST_F(ChartDepth, PaperAndPdfCarryTheDepthToo) {
    // The PDF is drawn through the same scene: its page, rasterised, shows
    // the darker faces of the red bars.
    ev("NTOTAL := 20, ADATOS := {{'A', 4}, {'B', 9}, {'C', 6}}");
    ev("ACTIVAGRAF(,,,,, ADATOS)");
    const QString pdf = dir.filePath(QStringLiteral("d.pdf"));
    ASSERT_TRUE(charts::lastChartWindow()->savePdf(pdf));
    QProcess p;
    p.start(QStringLiteral("pdftoppm"),
            {QStringLiteral("-r"), QStringLiteral("40"), QStringLiteral("-png"),
             QStringLiteral("-singlefile"), pdf, dir.filePath(QStringLiteral("d"))});
    ASSERT_TRUE(p.waitForFinished(30000));
    QImage img(dir.filePath(QStringLiteral("d.png")));
    ASSERT_FALSE(img.isNull());
    int dark = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) dark += darkRed(img.pixelColor(x, y)) ? 1 : 0;
    EXPECT_GT(dark, 20);
}

// The chart window inside the main window: its bar's "&Salir" answers
// Alt+S, and closes its own chart (frame included), not another one;
// Escape closes the chart that has the keyboard too.
TEST_F(ChartLook, AltSOrEscapeClosesOnlyTheChartThatHasTheKeyboard) {
    QMainWindow main;
    main.setObjectName(QStringLiteral("OWIN"));
    auto* mdi = new QMdiArea;
    main.setCentralWidget(mdi);
    main.resize(1000, 700);
    main.show();
    ev("NTOTAL := 5, ADATOS := {{'A', 2}, {'B', 3}}");
    ev("ACTIVAGRAF(,,,, 'Primero', ADATOS)");
    QPointer<charts::ChartWindow> first = charts::lastChartWindow();
    ev("ACTIVAGRAF(,,,, 'Segundo', ADATOS)");
    QPointer<charts::ChartWindow> second = charts::lastChartWindow();
    ASSERT_TRUE(first && second && first != second);
    ASSERT_EQ(mdi->subWindowList().size(), 2);
    QMdiSubWindow* frame = qobject_cast<QMdiSubWindow*>(second->parentWidget());
    ASSERT_NE(frame, nullptr) << "the chart sits inside the main window";
    EXPECT_EQ(frame->geometry().size(), QSize(538, 350));
    mdi->setActiveSubWindow(frame);
    QApplication::setActiveWindow(&main);
    second->view()->setFocus();
    QApplication::processEvents();
    QTest::keyClick(second->view(), Qt::Key_S, Qt::AltModifier);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
    EXPECT_TRUE(second.isNull());
    ASSERT_EQ(mdi->subWindowList().size(), 1);
    EXPECT_EQ(mdi->subWindowList()[0]->widget(), first.data());
    // The button says which key it answers to.
    QAction* salir = nullptr;
    for (QAction* a : first->buttonBar()->actions())
        if (a->text() == QStringLiteral("&Salir")) salir = a;
    ASSERT_NE(salir, nullptr);
    EXPECT_EQ(salir->toolTip(), QStringLiteral("Salir (Alt+S)"));
    // ... and shows its letter underlined.
    auto* button = qobject_cast<QAbstractButton*>(first->buttonBar()->widgetForAction(salir));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), QStringLiteral("&Salir"));
    // Escape closes a chart as it closes a dialog.
    mdi->setActiveSubWindow(mdi->subWindowList()[0]);
    first->view()->setFocus();
    QApplication::processEvents();
    QTest::keyClick(first->view(), Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
    EXPECT_TRUE(first.isNull());
    EXPECT_TRUE(mdi->subWindowList().isEmpty());
}
