// What a chart shows, held apart from the window that draws it: the
// categories, the series with their values already turned into numbers, the
// captions, the scales and the fonts. The chart functions build one from the
// script's data at the moment of the call and keep it, so a chart stays
// drawable (and printable) after the script has closed its tables, released
// its fonts or reused its variables.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <optional>
#include <string>
#include <vector>

#include "xbase/value.h"

namespace charts {

// A value of the chart data as a number: numbers unchanged, a date as its age
// in days (today minus the date), a text as the sum of its character codes,
// a logical as 1 or 0, anything else (and the empty date) 0.
double chartValue(const xb::Value& v, int32_t today);

// The category of a row as shown on the axis: texts trimmed, numbers without
// padding, dates in the session's format.
QString categoryText(const xb::Value& v);

// The rows of the chart data: a list of rows (each a list of columns), or
// the alias of an open table whose records are the rows and whose fields
// are the columns (from the first record to the last, as shown). Empty when
// nothing usable was given.
std::vector<std::vector<xb::Value>> chartRows(const xb::Value& data);

// The colour wheel the second series takes its colour from; the first series
// is always red.
QColor wheelColour(int index);

struct ChartSeries {
    QString caption;
    QColor colour;
    int column = 2;  // 1-based column of the data
    bool filled = false;
    std::vector<double> values;
};

struct ChartModel {
    QString windowCaption = QStringLiteral("Gráfico Valdrosa");
    QString title = QStringLiteral("Frecuencia por Tipo de Respuestas");
    QString subtitle;
    QString axisXCaption = QStringLiteral("Código Respuestas");
    QString leftCaption = QStringLiteral("Frecuencia");
    QString leftHeader = QStringLiteral("Cantidad");
    double leftStep = 5;
    QString leftPicture = QStringLiteral("9,999,999");
    QString rightCaption = QStringLiteral("Proporcionalidad");
    QString rightHeader = QStringLiteral("%");
    QString legendCaption = QStringLiteral("Detalle");
    bool legendVisible = true;
    bool rotated = true;
    bool threeD = true;
    int depth = 8;
    bool valueLabels = true;
    bool popupMenu = true;
    int currentRow = 0;  // before the first row

    QColor navy{0, 0, 128};
    QColor subtitleColour{178, 0, 0};
    QColor background;  // invalid = the system's button face
    QFont titleFont;    // title, horizontal axis and both value axes

    std::vector<QString> categories;
    std::vector<ChartSeries> series;
    double total = 0;   // against which the percentage scale is computed
    int viewCount = 0;  // categories shown at once

    // The percentage scale exists only against a non-zero total.
    bool hasPercentScale() const { return total != 0; }
    std::optional<double> percentOf(double value) const;
    // Largest value of every series (0 for no values).
    double maxValue() const;
    // Top of the left scale: the largest value rounded up to a whole step.
    double scaleTop() const;
    // The distance between the left scale's labels on an axis `length`
    // pixels long where a label needs `room` pixels: the step itself, or the
    // first of its multiples by 2, 5, 10, 20, 50, ... that gives every label
    // its room (the step when the axis has no length yet).
    double tickInterval(double length, double room) const;
};

// An axis title: the caption with its header in brackets, the header left
// out when it only repeats the caption.
QString axisTitle(const QString& caption, const QString& header);

// The common look applied first by every chart; `titleFont` (when given)
// goes to the title and the axes. `filterCaption` empty gives the subtitle
// "Emisión: " and today's date.
void applyCommonLook(ChartModel& m, const std::string& filterCaption,
                     const std::optional<QFont>& titleFont);

// Fills categories (column 1) and the series' values from the rows; the view
// shows as many categories as rows were given.
void fillFromRows(ChartModel& m, const std::vector<std::vector<xb::Value>>& rows, int32_t today);

enum class ChartKind { Responses, DemosVsSales, OfferedVsSold, PerDay, ResponsesWithTotal };

// The whole model of one of the chart functions: the common look, then the
// kind's series and settings, then the data.
ChartModel buildModel(ChartKind kind, const std::vector<std::vector<xb::Value>>& rows, double total,
                      const std::string& filterCaption, int32_t today,
                      const QString& axisX = QString(),
                      const std::optional<QFont>& titleFont = std::nullopt);

// A font object of the language (a TFONT answering CFACENAME, NHEIGHT,
// LBOLD, LITALIC) as a Qt font; nothing for anything else.
std::optional<QFont> fontFromValue(const xb::Value& v);

}  // namespace charts
