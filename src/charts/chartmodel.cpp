#include "charts/chartmodel.h"

#include <algorithm>
#include <cmath>

#include "dbf/workspace.h"
#include "toolkit/text.h"
#include "xbase/date.h"
#include "xbase/runtime.h"

namespace charts {

double chartValue(const xb::Value& v, int32_t today) {
    switch (v.type()) {
        case 'N':
            return v.asNumber();
        case 'D':
            // The empty date has no age: counting from the start of the
            // calendar would dwarf every other bar.
            return v.asDate() == 0 ? 0.0 : static_cast<double>(today - v.asDate());
        case 'C':
        case 'M': {
            double sum = 0;
            for (unsigned char c : v.asString()) sum += c;
            return sum;
        }
        case 'L':
            return v.asLogical() ? 1.0 : 0.0;
        default:
            return 0.0;
    }
}

QString categoryText(const xb::Value& v) {
    if (v.isNil()) return QString();
    return tk::fromAnsi(v.toText()).trimmed();
}

std::vector<std::vector<xb::Value>> chartRows(const xb::Value& data) {
    std::vector<std::vector<xb::Value>> rows;
    if (data.isArray()) {
        for (const auto& row : data.asArray()->items) {
            if (row.isArray())
                rows.push_back(row.asArray()->items);
            else
                rows.push_back({row});  // a bare value is a category alone
        }
    } else if (data.isString() && !data.asString().empty()) {
        auto& ws = dbf::workspace();
        dbf::WorkArea* wa = ws.area(std::string_view(data.asString()));
        if (!wa) return rows;
        // Read from a copy of the position, leaving the script's record where
        // it was.
        uint32_t keep = wa->recno();
        bool eof = wa->eof(), bof = wa->bof();
        int n = wa->table().fieldCount();
        for (wa->goTop(); !wa->eof(); wa->skip(1)) {
            std::vector<xb::Value> row;
            row.reserve(static_cast<size_t>(n));
            for (int i = 0; i < n; ++i) row.push_back(wa->get(i));
            rows.push_back(std::move(row));
        }
        wa->goTo(keep);
        wa->setEof(eof);
        wa->setBof(bof);
    }
    return rows;
}

QColor wheelColour(int index) {
    static const QColor wheel[] = {{255, 20, 20}, {20, 20, 255}, {0, 160, 0},   {255, 200, 0},
                                   {160, 0, 160}, {0, 170, 170}, {255, 128, 0}, {128, 128, 128}};
    constexpr int n = static_cast<int>(sizeof wheel / sizeof wheel[0]);
    return wheel[((index % n) + n) % n];
}

std::optional<double> ChartModel::percentOf(double value) const {
    if (!hasPercentScale()) return std::nullopt;
    return value / total * 100.0;
}

double ChartModel::maxValue() const {
    double top = 0;
    for (const auto& s : series)
        for (double v : s.values) top = std::max(top, v);
    return top;
}

double ChartModel::scaleTop() const {
    double top = maxValue();
    double step = leftStep > 0 ? leftStep : 1;
    double rounded = std::ceil(top / step) * step;
    return rounded > 0 ? rounded : step;
}

double ChartModel::tickInterval(double length, double room) const {
    const double step = leftStep > 0 ? leftStep : 1;
    if (!(length > 0) || !(room > 0)) return step;
    const double labels = std::max(1.0, std::floor(length / room));
    const double top = scaleTop();
    for (double decade = 1;; decade *= 10) {
        for (double k : {1.0, 2.0, 5.0}) {
            const double interval = step * k * decade;
            if (top / interval <= labels || interval >= top) return interval;
        }
    }
}

QString axisTitle(const QString& caption, const QString& header) {
    if (header.isEmpty() || header.compare(caption, Qt::CaseInsensitive) == 0) return caption;
    if (caption.isEmpty()) return header;
    return caption + QStringLiteral(" (") + header + QLatin1Char(')');
}

void applyCommonLook(ChartModel& m, const std::string& filterCaption,
                     const std::optional<QFont>& titleFont) {
    m.popupMenu = true;
    m.currentRow = 0;
    m.threeD = true;
    m.depth = 8;
    m.valueLabels = true;
    m.rotated = true;
    m.leftStep = 5;
    m.leftPicture = QStringLiteral("9,999,999");
    m.leftCaption = QStringLiteral("Frecuencia");
    m.leftHeader = QStringLiteral("Cantidad");
    m.title = QStringLiteral("Frecuencia por Tipo de Respuestas");
    QString filter = tk::fromAnsi(filterCaption).trimmed();
    m.subtitle = filter.isEmpty() ? QStringLiteral("Emisión: ") +
                                        QString::fromStdString(xb::formatDate(
                                            xb::todayJulian(), xb::effectiveDateFormat()))
                                  : tk::fromAnsi(filterCaption);
    m.axisXCaption = QStringLiteral("Código Respuestas");
    m.rightCaption = QStringLiteral("Proporcionalidad");
    m.legendCaption = QStringLiteral("Detalle");
    if (titleFont) m.titleFont = *titleFont;
}

void fillFromRows(ChartModel& m, const std::vector<std::vector<xb::Value>>& rows, int32_t today) {
    m.categories.clear();
    for (auto& s : m.series) s.values.clear();
    for (const auto& row : rows) {
        m.categories.push_back(row.empty() ? QString() : categoryText(row[0]));
        for (auto& s : m.series) {
            size_t col = static_cast<size_t>(s.column - 1);
            s.values.push_back(col < row.size() ? chartValue(row[col], today) : 0.0);
        }
    }
    m.viewCount = static_cast<int>(rows.size());
}

ChartModel buildModel(ChartKind kind, const std::vector<std::vector<xb::Value>>& rows, double total,
                      const std::string& filterCaption, int32_t today, const QString& axisX,
                      const std::optional<QFont>& titleFont) {
    ChartModel m;
    QFont bold(QStringLiteral("MS Sans Serif"), 12);
    bold.setBold(true);
    applyCommonLook(m, filterCaption, titleFont ? titleFont : std::optional<QFont>(bold));
    const QColor red = wheelColour(0);
    switch (kind) {
        case ChartKind::Responses:
            m.series = {{QStringLiteral("Respuesta"), red, 2, true, {}}};
            break;
        case ChartKind::ResponsesWithTotal:
            m.windowCaption = QStringLiteral("Análisis estadístico");
            m.background = Qt::white;
            m.series = {{QStringLiteral("Respuesta"), red, 2, true, {}}};
            break;
        case ChartKind::DemosVsSales:
            m.title = QStringLiteral("Demostraciones Vs. Ventas");
            m.series = {{QStringLiteral("Demostr."), red, 2, false, {}},
                        {QStringLiteral("Ventas"), wheelColour(1), 3, false, {}}};
            break;
        case ChartKind::OfferedVsSold:
            m.title = QStringLiteral("Productos/Servicios Ofertados Vs. Vendidos");
            m.axisXCaption = QStringLiteral("Código Productos");
            m.leftCaption = QStringLiteral("Cantidad");
            m.leftHeader = QStringLiteral("Cantidad");
            m.leftStep = 10;
            m.series = {{QStringLiteral("Ofertados"), red, 2, false, {}},
                        {QStringLiteral("Vendidos"), wheelColour(1), 3, false, {}}};
            break;
        case ChartKind::PerDay:
            m.axisXCaption = axisX.isEmpty() ? QStringLiteral("Día") : axisX;
            m.rotated = false;
            m.legendVisible = false;
            m.series = {{QStringLiteral("Día"), red, 2, true, {}}};
            break;
    }
    m.total = total;
    fillFromRows(m, rows, today);
    return m;
}

std::optional<QFont> fontFromValue(const xb::Value& v) {
    xb::Object* o = v.objectPtr();
    if (!o) return std::nullopt;
    auto ask = [o](const char* m, xb::Value& out) {
        xb::Args none;
        try {
            return o->send(m, none, out);
        } catch (...) {
            return false;
        }
    };
    xb::Value face, height, bold, italic;
    if (!ask("CFACENAME", face) || !face.isString()) return std::nullopt;
    QFont f(tk::fromAnsi(face.asString()).trimmed());
    if (ask("NHEIGHT", height) && height.isNum()) {
        // Heights of the toolkit's fonts are given as negative character
        // heights in the old convention; their size is the magnitude.
        int h = static_cast<int>(std::abs(height.asNumber()));
        if (h > 0) f.setPointSize(h);
    }
    if (ask("LBOLD", bold)) f.setBold(bold.asLogical());
    if (ask("LITALIC", italic)) f.setItalic(italic.asLogical());
    return f;
}

}  // namespace charts
