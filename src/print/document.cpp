#include "print/document.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <algorithm>
#include <cmath>

#include "print/preview.h"

namespace print {

namespace {

QString g_unattended;
QStringList g_written;
int g_serial = 0;

// Faces of the old desktop mapped to what a Linux desktop has; the font
// system substitutes the rest.
QString faceFor(const QString& face) {
    const QString f = face.trimmed().toLower();
    if (f == QLatin1String("ms sans serif") || f == QLatin1String("arial") || f.isEmpty())
        return QStringLiteral("Liberation Sans");
    if (f == QLatin1String("times new roman")) return QStringLiteral("Liberation Serif");
    if (f == QLatin1String("courier new") || f == QLatin1String("courier"))
        return QStringLiteral("Liberation Mono");
    return face.trimmed();
}

Qt::PenStyle penStyle(int style) {
    switch (style) {
        case 1:
            return Qt::DashLine;
        case 2:
            return Qt::DotLine;
        case 3:
            return Qt::DashDotLine;
        case 4:
            return Qt::DashDotDotLine;
        case 5:
            return Qt::NoPen;
        default:
            return Qt::SolidLine;
    }
}

QString fileSafe(const QString& name) {
    QString s = name;
    s.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_.-]+")), QStringLiteral("_"));
    return s.isEmpty() ? QStringLiteral("documento") : s;
}

}  // namespace

void setUnattendedPdf(const QString& path) {
    g_unattended = path;
}
QString unattendedPdf() {
    return g_unattended;
}
void initFromEnvironment() {
    const QByteArray v = qgetenv("VDR_PRINT_PDF");
    if (!v.isEmpty()) g_unattended = QString::fromLocal8Bit(v);
}
QStringList writtenPdfs() {
    return g_written;
}
bool printerAvailable() {
    return !QPrinterInfo::availablePrinters().isEmpty();
}

std::unique_ptr<Document> Document::create(const Options& options) {
    if (options.output == Output::Printer && g_unattended.isEmpty()) {
        const bool found = options.printerName.isEmpty()
                               ? printerAvailable()
                               : !QPrinterInfo::printerInfo(options.printerName).isNull();
        if (!found) return nullptr;
    }
    return std::unique_ptr<Document>(new Document(options));
}

std::unique_ptr<Document> Document::create(const QString& name, Output output,
                                           const QString& pdfPath, Orientation orientation) {
    Options o;
    o.name = name;
    o.output = output;
    o.pdfPath = pdfPath;
    o.orientation = orientation;
    return create(o);
}

Document::Document(const Options& o) : opt_(o) {
    addFont(QStringLiteral("Arial"), 0, 10);
    addPen();
}

Document::~Document() = default;

// The printable size: the A4 sheet less the border on each side.
double Document::sizeMmX() const {
    return (opt_.orientation == Orientation::Portrait ? 210 : 297) - 2 * 25.4 * offX_ / kDpi;
}
double Document::sizeMmY() const {
    return (opt_.orientation == Orientation::Portrait ? 297 : 210) - 2 * 25.4 * offY_ / kDpi;
}
int Document::pageWidth() const {
    return static_cast<int>(std::lround(sizeMmX() / 25.4 * kDpi));
}
int Document::pageHeight() const {
    return static_cast<int>(std::lround(sizeMmY() / 25.4 * kDpi));
}

int Document::cmToRow(double cm) const {
    return std::max(0, static_cast<int>(std::lround(cm * 10 * pageHeight() / sizeMmY() - offY_)));
}
int Document::cmToCol(double cm) const {
    return std::max(0, static_cast<int>(std::lround(cm * 10 * pageWidth() / sizeMmX() - offX_)));
}

int Document::addFont(const QString& face, int width, int height, bool bold, bool italic,
                      bool underline) {
    QFont f(faceFor(face));
    const double points = height == 0 ? 10 : std::abs(height);
    f.setPixelSize(std::max(1, static_cast<int>(std::lround(points * kDpi / 72.0))));
    f.setBold(bold);
    f.setItalic(italic);
    f.setUnderline(underline);
    if (width != 0) {
        const double wanted = std::abs(width) * kDpi / 72.0;
        const double natural = QFontMetricsF(f).averageCharWidth();
        if (natural > 0)
            f.setStretch(std::clamp(static_cast<int>(wanted / natural * 100), 25, 400));
    }
    fonts_.push_back(f);
    return static_cast<int>(fonts_.size()) - 1;
}

void Document::fitCellHeight(int handle, double points) {
    if (handle < 0 || handle >= static_cast<int>(fonts_.size()) || points <= 0) return;
    QFont& f = fonts_[static_cast<size_t>(handle)];
    const double cell = QFontMetricsF(f).height();
    if (cell <= 0) return;
    const double want = points * kDpi / 72.0;
    f.setPixelSize(std::max(1, static_cast<int>(std::lround(f.pixelSize() * want / cell))));
}

int Document::addPen(int width, int style, const QColor& colour) {
    QPen p(colour);
    p.setWidth(std::max(1, width));
    p.setStyle(penStyle(style));
    pens_.push_back(p);
    return static_cast<int>(pens_.size()) - 1;
}

QFont Document::font(int handle) const {
    return handle >= 0 && static_cast<size_t>(handle) < fonts_.size() ? fonts_[handle] : fonts_[0];
}

int Document::textWidth(const QString& text, int f) const {
    return static_cast<int>(std::ceil(QFontMetricsF(font(f)).horizontalAdvance(text)));
}
int Document::lineHeight(int f) const {
    return static_cast<int>(std::ceil(QFontMetricsF(font(f)).lineSpacing()));
}
int Document::ascent(int f) const {
    return static_cast<int>(std::ceil(QFontMetricsF(font(f)).ascent()));
}

void Document::startPage() {
    pages_.emplace_back();
    pageOpen_ = true;
}
void Document::endPage() {
    pageOpen_ = false;
}
void Document::ensurePage() {
    if (!pageOpen_) startPage();
}

int Document::say(int row, int col, const QString& text, int f, Align align, const QColor& colour) {
    ensurePage();
    const int w = textWidth(text, f);
    int x = col;
    if (align == Align::Right) x = col - w;
    if (align == Align::Center) x = col - w / 2;
    pages_.back().push_back(Text{row, x, text, f, colour});
    return w;
}

int Document::sayCm(double row, double col, const QString& text, int f, Align align) {
    return say(cmToRow(row), cmToCol(col), text, f, align);
}

void Document::box(int top, int left, int bottom, int right, int pen) {
    ensurePage();
    pages_.back().push_back(Shape{Shape::Box, top, left, bottom, right, pen, {}});
}
void Document::line(int top, int left, int bottom, int right, int pen) {
    ensurePage();
    pages_.back().push_back(Shape{Shape::Line, top, left, bottom, right, pen, {}});
}
void Document::fill(int top, int left, int bottom, int right, const QColor& colour) {
    ensurePage();
    pages_.back().push_back(Shape{Shape::Fill, top, left, bottom, right, 0, colour});
}

void Document::setupPrinter(QPrinter& p) const {
    p.setDocName(opt_.name);
    p.setFullPage(true);
    p.setPageSize(QPageSize(QPageSize::A4));
    p.setPageOrientation(opt_.orientation == Orientation::Portrait ? QPageLayout::Portrait
                                                                   : QPageLayout::Landscape);
}

bool Document::render(QPrinter& printer) const {
    // The printer's paper may start before its printable area; our pixels
    // count from the paper's corner.
    const QRectF paper = printer.paperRect(QPrinter::DevicePixel);
    const QRectF page = printer.pageRect(QPrinter::DevicePixel);
    return paint(printer, paper.topLeft() - page.topLeft());
}

bool Document::paint(QPagedPaintDevice& device, QPointF shift) const {
    QPainter painter;
    if (!painter.begin(&device)) return false;
    const double sx = device.logicalDpiX() / static_cast<double>(kDpi);
    const double sy = device.logicalDpiY() / static_cast<double>(kDpi);
    for (size_t n = 0; n < pages_.size(); ++n) {
        if (n > 0) device.newPage();
        painter.save();
        painter.translate(shift);
        painter.scale(sx, sy);
        painter.translate(offX_, offY_);
        for (const Op& op : pages_[n]) {
            if (const auto* t = std::get_if<Text>(&op)) {
                const QFont f = font(t->font);
                painter.setFont(f);
                painter.setPen(t->colour);
                painter.drawText(QPointF(t->col, t->row + QFontMetricsF(f).ascent()), t->text);
            } else if (const auto* s = std::get_if<Shape>(&op)) {
                const QRect r(QPoint(std::min(s->left, s->right), std::min(s->top, s->bottom)),
                              QPoint(std::max(s->left, s->right), std::max(s->top, s->bottom)));
                if (s->kind == Shape::Fill) {
                    painter.fillRect(r, s->colour);
                    continue;
                }
                const size_t pi = static_cast<size_t>(s->pen) < pens_.size() ? s->pen : 0;
                painter.setPen(pens_[pi]);
                painter.setBrush(Qt::NoBrush);
                if (s->kind == Shape::Box)
                    painter.drawRect(r);
                else
                    painter.drawLine(QPoint(s->left, s->top), QPoint(s->right, s->bottom));
            }
        }
        painter.restore();
    }
    return painter.end();
}

bool Document::writePdf(const QString& path) const {
    QBuffer pdf;
    if (!pdf.open(QIODevice::WriteOnly)) return false;
    {
        QPdfWriter writer(&pdf);
        writer.setResolution(kDpi);
        writer.setCreator(QStringLiteral("Valdrosa Comercial"));
        writer.setTitle(opt_.name);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4),
                                         opt_.orientation == Orientation::Portrait
                                             ? QPageLayout::Portrait
                                             : QPageLayout::Landscape,
                                         QMarginsF()));
        if (!paint(writer, QPointF())) return false;
    }
    // The PDF writer does not tell a failed write (a full disk): the file is
    // written from memory here, whole or not at all, and a failure leaves
    // whatever stood at `path` as it was.
    QSaveFile out(path);
    return out.open(QIODevice::WriteOnly) && out.write(pdf.data()) == pdf.size() && out.commit();
}

bool Document::finish() {
    endPage();
    // An empty document still has its one blank page, as a printer would feed.
    if (pages_.empty()) pages_.emplace_back();
    QString pdf = opt_.output == Output::Pdf ? opt_.pdfPath : QString();
    if (opt_.output != Output::Pdf && !g_unattended.isEmpty()) {
        if (QFileInfo(g_unattended).isDir())
            pdf = QDir(g_unattended)
                      .filePath(QStringLiteral("%1-%2.pdf")
                                    .arg(++g_serial, 3, 10, QLatin1Char('0'))
                                    .arg(fileSafe(opt_.name)));
        else
            pdf = g_unattended;
    }
    if (!pdf.isEmpty()) {
        if (!writePdf(pdf)) {
            error_ = QStringLiteral("No se pudo escribir el fichero %1").arg(pdf);
            return false;
        }
        pdfWritten_ = pdf;
        g_written << pdf;
        return true;
    }
    if (opt_.output == Output::Printer) {
        QPrinter printer(QPrinter::HighResolution);
        if (!opt_.printerName.isEmpty()) printer.setPrinterName(opt_.printerName);
        setupPrinter(printer);
        if (!printer.isValid()) {
            // The printer went away since the document was begun.
            error_ = printerAvailable() ? QStringLiteral("La impresora %1 no está disponible.")
                                              .arg(printer.printerName())
                                        : QStringLiteral("No hay ninguna impresora instalada");
            return false;
        }
        if (!render(printer) || printer.printerState() == QPrinter::Error) {
            error_ = QStringLiteral("La impresora no aceptó el documento.");
            return false;
        }
        return true;
    }
    showPreview(*this);
    return true;
}

}  // namespace print
