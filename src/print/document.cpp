#include "print/document.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QPageSize>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTemporaryFile>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

#include "print/cupsjob.h"
#include "print/pdfwriter.h"
#include "print/preview.h"
#include "print/quickshaper.h"

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

// The file an unattended run writes a document named `name` to.
QString unattendedFile(const QString& name) {
    if (!QFileInfo(g_unattended).isDir()) return g_unattended;
    return QDir(g_unattended)
        .filePath(QStringLiteral("%1-%2.pdf")
                      .arg(++g_serial, 3, 10, QLatin1Char('0'))
                      .arg(fileSafe(name)));
}

// Device pixels to one of our pixels.
QSizeF deviceScale(const QPagedPaintDevice& device) {
    return {device.logicalDpiX() / static_cast<double>(Document::kDpi),
            device.logicalDpiY() / static_cast<double>(Document::kDpi)};
}

}  // namespace

// The output of a streamed document, written page by page: a PDF file, under
// a temporary name in its folder until it takes its own at commit, or a job
// on a printer, which has each page as it ends.
struct Document::Device {
    QSaveFile file;
    std::unique_ptr<CupsJob> job;  // a printer's; none for a file
    std::unique_ptr<PdfWriter> writer;
    QString path;

    ~Device() {
        writer.reset();
        // Unfinished: the PDF under its temporary name goes away, and the
        // printer throws away what it has of the job.
        if (job)
            job->cancel();
        else
            file.cancelWriting();
    }
};

// The pages kept for the preview, on disk: each page is its
// operations written with QDataStream, `at` the offset of each page.
struct Document::Spool {
    QTemporaryFile file;
    std::vector<qint64> at;
    bool failed = false;

    bool open() { return file.open(); }
    void append(const Page& page) {
        if (failed) return;
        if (!file.seek(file.size())) {
            failed = true;
            return;
        }
        at.push_back(file.pos());
        QDataStream out(&file);
        out << static_cast<quint32>(page.size());
        for (const Op& op : page) {
            if (const auto* t = std::get_if<Text>(&op)) {
                out << quint8(0) << qint32(t->row) << qint32(t->col) << t->text << qint32(t->font)
                    << t->colour;
            } else if (const auto* sh = std::get_if<Shape>(&op)) {
                out << quint8(1 + sh->kind) << qint32(sh->top) << qint32(sh->left)
                    << qint32(sh->bottom) << qint32(sh->right) << qint32(sh->pen) << sh->colour;
            }
        }
        if (out.status() != QDataStream::Ok) failed = true;
    }
    bool read(size_t n, Page& page) {
        page.clear();
        if (n >= at.size() || !file.seek(at[n])) return false;
        QDataStream in(&file);
        quint32 count = 0;
        in >> count;
        for (quint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
            quint8 kind = 0;
            in >> kind;
            if (kind == 0) {
                qint32 row = 0, col = 0, font = 0;
                Text t;
                in >> row >> col >> t.text >> font >> t.colour;
                t.row = row;
                t.col = col;
                t.font = font;
                page.push_back(std::move(t));
            } else {
                qint32 top = 0, left = 0, bottom = 0, right = 0, pen = 0;
                QColor colour;
                in >> top >> left >> bottom >> right >> pen >> colour;
                page.push_back(Shape{static_cast<Shape::Kind>(kind - 1), top, left, bottom, right,
                                     pen, colour});
            }
        }
        return in.status() == QDataStream::Ok;
    }
};

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
        // A printer's address is taken as it is: whether a printer answers
        // there is known when the first page goes to it.
        const QString& name = options.printerName;
        const bool found = name.isEmpty()             ? printerAvailable()
                           : CupsJob::isAddress(name) ? true
                                                      : !QPrinterInfo::printerInfo(name).isNull();
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

Document::~Document() {
    delete window_.data();
    device_.reset();  // unfinished: cancelled
}

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
    metrics_.emplace_back(f);
    shaped_.emplace_back();
    quick_.push_back(std::make_unique<QuickShaper>(f));
    return static_cast<int>(fonts_.size()) - 1;
}

void Document::fitCellHeight(int handle, double points) {
    if (handle < 0 || handle >= static_cast<int>(fonts_.size()) || points <= 0) return;
    QFont& f = fonts_[static_cast<size_t>(handle)];
    const double cell = QFontMetricsF(f).height();
    if (cell <= 0) return;
    const double want = points * kDpi / 72.0;
    f.setPixelSize(std::max(1, static_cast<int>(std::lround(f.pixelSize() * want / cell))));
    metrics_[static_cast<size_t>(handle)] = QFontMetricsF(f);
    shaped_[static_cast<size_t>(handle)] = {};
    quick_[static_cast<size_t>(handle)] = std::make_unique<QuickShaper>(f);
    // The open page's texts in this font are drawn in its new size.
    for (Op& op : page_)
        if (auto* t = std::get_if<Text>(&op); t && t->font == handle) t->shaped.reset();
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

const QFontMetricsF& Document::metrics(int handle) const {
    return handle >= 0 && static_cast<size_t>(handle) < metrics_.size() ? metrics_[handle]
                                                                        : metrics_[0];
}

const std::shared_ptr<const Document::Shaped>& Document::shapedText(const QString& text,
                                                                    int f) const {
    const size_t h = f >= 0 && static_cast<size_t>(f) < shaped_.size() ? f : 0;
    ShapedTexts& known = shaped_[h];
    if (const auto it = known.newer.constFind(text); it != known.newer.cend()) return *it;
    if (known.newer.size() >= kShapedKept) {
        known.older = std::move(known.newer);
        known.newer = {};
    }
    if (const auto it = known.older.find(text); it != known.older.end())
        return *known.newer.emplace(text, std::move(*it));
    auto s = std::make_shared<Shaped>();
    QGlyphRun run;
    if (quick_[h]->shape(text, run, s->width)) {
        s->runs.push_back(std::move(run));
    } else {
        QTextLayout layout(text, fonts_[h]);
        layout.beginLayout();
        QTextLine line = layout.createLine();
        layout.endLayout();
        s->width = static_cast<int>(std::ceil(line.naturalTextWidth()));
        s->runs = layout.glyphRuns();
    }
    return *known.newer.emplace(text, std::move(s));
}

int Document::textWidth(const QString& text, int f) const {
    return shaped(text, f).width;
}
int Document::lineHeight(int f) const {
    return static_cast<int>(std::ceil(metrics(f).lineSpacing()));
}
int Document::ascent(int f) const {
    return static_cast<int>(std::ceil(metrics(f).ascent()));
}

void Document::startPage() {
    endPage();
    ++pages_;
    pageOpen_ = true;
}

void Document::endPage() {
    if (!pageOpen_) return;
    pageOpen_ = false;
    if (!outputTried_) openOutput();
    if (device_) {
        PdfWriter& pdf = *device_->writer;
        pdf.beginPage();
        drawPdf(pdf, page_);
        pdf.endPage();
    } else if (spool_) {
        spool_->append(page_);
        if (live_ && !window_ && !cancel_ &&
            qobject_cast<QApplication*>(QCoreApplication::instance()))
            window_ = openPreview(*this);
        if (window_) window_->pagesAdded();
    }
    page_.clear();
}
void Document::ensurePage() {
    if (!pageOpen_) startPage();
}

int Document::say(int row, int col, const QString& text, int f, Align align, const QColor& colour) {
    ensurePage();
    std::shared_ptr<const Shaped> sh = shapedText(text, f);
    const int w = sh->width;
    int x = col;
    if (align == Align::Right) x = col - w;
    if (align == Align::Center) x = col - w / 2;
    page_.push_back(Text{row, x, text, f, colour, std::move(sh)});
    return w;
}

int Document::sayCm(double row, double col, const QString& text, int f, Align align) {
    return say(cmToRow(row), cmToCol(col), text, f, align);
}

void Document::box(int top, int left, int bottom, int right, int pen) {
    ensurePage();
    page_.push_back(Shape{Shape::Box, top, left, bottom, right, pen, {}});
}
void Document::line(int top, int left, int bottom, int right, int pen) {
    ensurePage();
    page_.push_back(Shape{Shape::Line, top, left, bottom, right, pen, {}});
}
void Document::fill(int top, int left, int bottom, int right, const QColor& colour) {
    ensurePage();
    page_.push_back(Shape{Shape::Fill, top, left, bottom, right, 0, colour});
}

std::unique_ptr<PdfWriter> Document::pdfWriter(QIODevice& file) const {
    // A4 in points, as the page of the printer.
    QSizeF paper = QPageSize(QPageSize::A4).sizePoints();
    if (opt_.orientation == Orientation::Landscape) paper.transpose();
    return std::make_unique<PdfWriter>(file, opt_.name, paper, 72.0 / kDpi);
}

bool Document::openOutput() {
    outputTried_ = true;
    QString pdf = opt_.output == Output::Pdf ? opt_.pdfPath : QString();
    if (opt_.output != Output::Pdf && !g_unattended.isEmpty()) pdf = unattendedFile(opt_.name);
    if (pdf.isEmpty() && opt_.output == Output::Printer) {
        // The job opens on the printer now, and takes each page as it ends.
        auto d = std::make_unique<Device>();
        d->job = std::make_unique<CupsJob>();
        if (!d->job->begin(opt_.printerName, opt_.name)) {
            error_ = d->job->errorString();
            return false;
        }
        d->path = d->job->printer();
        d->writer = pdfWriter(*d->job);
        device_ = std::move(d);
        return true;
    }
    if (pdf.isEmpty()) {
        // The preview keeps its pages on disk until finish().
        spool_ = std::make_unique<Spool>();
        if (spool_->open()) return true;
        spool_.reset();
        error_ = QStringLiteral("No se pudo crear el fichero temporal de las páginas");
        return false;
    }
    // The file keeps its temporary name until commit() at finish(), which
    // fails when any write did (a full disk).
    auto d = std::make_unique<Device>();
    d->path = pdf;
    d->file.setFileName(pdf);
    if (d->file.open(QIODevice::WriteOnly)) {
        d->writer = pdfWriter(d->file);
        device_ = std::move(d);
        return true;
    }
    error_ = QStringLiteral("No se pudo escribir el fichero %1").arg(pdf);
    return false;
}

QWidget* Document::livePreview() const {
    return window_.data();
}

int Document::keptPages() const {
    return spool_ ? static_cast<int>(spool_->at.size()) : 0;
}

QSize Document::paperSize() const {
    return {pageWidth() + 2 * offX_, pageHeight() + 2 * offY_};
}

bool Document::drawKept(int n, QPainter& painter, double scale) const {
    Page page;
    if (!spool_ || spool_->failed || n < 0 || !spool_->read(static_cast<size_t>(n), page))
        return false;
    drawPage(painter, QSizeF(scale, scale), QPointF(), page);
    return true;
}

bool Document::render(QPrinter& printer, const Progress& going) const {
    // The printer's paper may start before its printable area; our pixels
    // count from the paper's corner.
    const QRectF paper = printer.paperRect(QPrinter::DevicePixel);
    const QRectF page = printer.pageRect(QPrinter::DevicePixel);
    return paintKept(printer, paper.topLeft() - page.topLeft(), going);
}

void Document::drawPage(QPainter& painter, QSizeF scale, QPointF shift, const Page& page) const {
    painter.save();
    painter.translate(shift);
    painter.scale(scale.width(), scale.height());
    painter.translate(offX_, offY_);
    for (size_t i = 0; i < page.size(); ++i) {
        const Op& op = page[i];
        if (const auto* t = std::get_if<Text>(&op)) {
            painter.setPen(t->colour);
            const QList<QGlyphRun>& runs = shaped(t->text, t->font).runs;
            if (runs.size() != 1 || runs[0].flags()) {
                for (const QGlyphRun& run : runs)
                    painter.drawGlyphRun(QPointF(t->col, t->row), run);
                continue;
            }
            // The texts that follow on the same line in the same font and
            // colour (a report's row, column by column) go as one run of
            // glyphs, each where it was: a device takes a run at a time.
            QGlyphRun line = runs[0];
            QList<quint32> glyphs = line.glyphIndexes();
            QList<QPointF> at = line.positions();
            size_t j = i + 1;
            for (; j < page.size(); ++j) {
                const auto* u = std::get_if<Text>(&page[j]);
                if (!u || u->row != t->row || u->font != t->font || u->colour != t->colour) break;
                const QList<QGlyphRun>& more = shaped(u->text, u->font).runs;
                if (more.isEmpty()) continue;  // an empty text
                if (more.size() != 1 || more[0].flags() || more[0].rawFont() != line.rawFont())
                    break;
                glyphs += more[0].glyphIndexes();
                for (const QPointF& p : more[0].positions())
                    at.push_back(p + QPointF(u->col - t->col, 0));
            }
            if (j > i + 1) {
                line.setGlyphIndexes(glyphs);
                line.setPositions(at);
            }
            painter.drawGlyphRun(QPointF(t->col, t->row), line);
            i = j - 1;
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

void Document::drawPdf(PdfWriter& pdf, const Page& page) const {
    for (const Op& op : page) {
        if (const auto* t = std::get_if<Text>(&op)) {
            const QPointF at(t->col + offX_, t->row + offY_);
            const Shaped& sh = t->shaped ? *t->shaped : shaped(t->text, t->font);
            if (sh.runs.size() == 1) {
                pdf.glyphs(at, sh.runs[0], t->colour, t->text, &sh.pdf);
                continue;
            }
            for (const QGlyphRun& run : sh.runs) pdf.glyphs(at, run, t->colour, t->text);
        } else if (const auto* s = std::get_if<Shape>(&op)) {
            // The rectangle as the painter takes a QRect: its last row and
            // column included.
            const QRect r(QPoint(std::min(s->left, s->right), std::min(s->top, s->bottom)),
                          QPoint(std::max(s->left, s->right), std::max(s->top, s->bottom)));
            const QRectF area(r.left() + offX_, r.top() + offY_, r.width(), r.height());
            if (s->kind == Shape::Fill) {
                pdf.fillRect(area, s->colour);
                continue;
            }
            const size_t pi = static_cast<size_t>(s->pen) < pens_.size() ? s->pen : 0;
            if (s->kind == Shape::Box)
                pdf.strokeRect(area, pens_[pi]);
            else
                pdf.line(QPointF(s->left + offX_, s->top + offY_),
                         QPointF(s->right + offX_, s->bottom + offY_), pens_[pi]);
        }
    }
}

bool Document::paintKept(QPagedPaintDevice& device, QPointF shift, const Progress& going) const {
    if (!spool_ || spool_->failed) return false;
    QPainter painter;
    if (!painter.begin(&device)) return false;
    Page page;
    bool ok = true;
    const int total = static_cast<int>(spool_->at.size());
    for (int n = 0; n < total; ++n) {
        if (!spool_->read(static_cast<size_t>(n), page)) ok = false;
        if (n > 0) device.newPage();
        drawPage(painter, deviceScale(device), shift, page);
        if (going && !going(n + 1, total)) {
            // What the printer has is thrown away, not printed.
            if (auto* printer = dynamic_cast<QPrinter*>(&device)) printer->abort();
            painter.end();
            return false;
        }
    }
    return painter.end() && ok;
}

bool Document::writePdf(const QString& path, const Progress& going) const {
    if (!spool_ || spool_->failed) return false;
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly)) return false;
    const std::unique_ptr<PdfWriter> pdf = pdfWriter(out);
    Page page;
    bool ok = true;
    const int total = static_cast<int>(spool_->at.size());
    for (int n = 0; n < total && ok; ++n) {
        ok = spool_->read(static_cast<size_t>(n), page) && pdf->ok();
        pdf->beginPage();
        drawPdf(*pdf, page);
        pdf->endPage();
        if (ok && going && !going(n + 1, total)) ok = false;
    }
    if (!ok || !pdf->finish()) {
        out.cancelWriting();
        return false;
    }
    // A failed write (a full disk) fails the commit, which leaves whatever
    // stood at `path` as it was.
    return out.commit();
}

bool Document::finish() {
    // An empty document still has its one blank page, as a printer would feed.
    if (pages_ == 0) startPage();
    endPage();
    if (device_ && device_->job) {
        std::unique_ptr<Device> d = std::move(device_);
        if (!d->writer->finish()) {
            // Not all of it reached the printer: the job is cancelled.
            error_ = d->job->errorString();
            if (error_.isEmpty())
                error_ = QStringLiteral("La impresora %1 no ha aceptado el trabajo.").arg(d->path);
            return false;
        }
        if (!d->job->finish()) {
            error_ = d->job->errorString();
            return false;
        }
        return true;
    }
    if (device_) {
        std::unique_ptr<Device> d = std::move(device_);
        const bool ok = d->writer->finish() && d->file.commit();
        if (!ok) {
            error_ = QStringLiteral("No se pudo escribir el fichero %1").arg(d->path);
            return false;
        }
        pdfWritten_ = d->path;
        g_written << pdfWritten_;
        return true;
    }
    if (!spool_) return false;  // the output could not be opened: error() says why
    if (spool_->failed) {
        error_ = QStringLiteral("No se pudo escribir el fichero temporal de las páginas");
        return false;
    }
    showPreview(*this);
    return true;
}

}  // namespace print
