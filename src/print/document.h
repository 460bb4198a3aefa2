// Print documents: what every printed page of the program is drawn on.
//
// A Document takes its pages as drawing operations in device pixels of a
// fixed logical resolution (kDpi dots per inch) and hands each page to its
// device when the page ends, so that a document of any length holds one page
// in memory:
//
// Outputs:
//   Preview - the pages go to a temporary file on disk as they end; finish()
//             shows the preview window (print, save as PDF, close), modal,
//             and returns when the user closes it. With
//             previewWhileDrawing() the window opens as soon as the first
//             page has ended and takes each page as it ends;
//   Printer - the pages go to the named system printer (CUPS), or to the
//             default one when no name is given, or to the printer at the
//             address given as name (ipp://... or ipps://..., a printer the
//             system need not know), without any dialog. The job opens on
//             the printer when the first page ends, titled as the document,
//             and takes each page as a PDF as soon as the page ends;
//             finish() ends it and says whether the printer took it, and a
//             document destroyed unfinished cancels it;
//   Pdf     - the pages go to the PDF file given at creation, no dialog. The
//             file is written under a temporary name and takes its own name
//             at finish(), whole; a document destroyed unfinished, or whose
//             writing failed, leaves no part of it.
// For unattended runs (tests, scheduled reports) setUnattendedPdf() turns
// every Preview and Printer document into a PDF file, without any window;
// the setting is read when the document's first page ends.
//
// Coordinates: (row, column) = (y, x) from the top-left corner of the
// printable area, in device pixels, as the scripts' printer object speaks.
// Centimetres convert to pixels with cmToRow()/cmToCol(): cm x 10 x pixels
// per millimetre - the printing offset, never below 0.
//
// Fonts and pens are created on the document and referred to by handle, the
// way the scripts' fonts and pens are bound to their device. Handle 0 is the
// document's default font (Arial 10) and default pen (solid, 1 pixel, black).
// A page is drawn with the fonts and pens as they are when it reaches its
// device: when it ends for a PDF or a printer, at finish() for the preview.
//
// Texts are Unicode (QString): callers convert from the tables' code page at
// their edge (xb::cp1252ToUtf8).
//
// Typical use:
//   auto doc = print::Document::create({.name = "Informe", .output = Output::Pdf,
//                                       .pdfPath = "/tmp/x.pdf"});
//   int bold = doc->addFont("Arial", 0, 10, true);
//   doc->startPage();
//   doc->say(doc->cmToRow(2), doc->cmToCol(2), "Título", bold);
//   doc->box(100, 100, 400, 900);
//   doc->endPage();
//   doc->finish();
#pragma once

#include <QColor>
#include <QFont>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QHash>
#include <QList>
#include <QPen>
#include <QPointF>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <variant>
#include <vector>

#include "print/pdfwriter.h"

class QIODevice;
class QPagedPaintDevice;
class QPainter;
class QPrinter;
class QWidget;

namespace print {

class PreviewWindow;
class QuickShaper;

enum class Output { Preview, Printer, Pdf };
enum class Orientation { Portrait, Landscape };
enum class Align { Left, Right, Center };

struct Options {
    QString name = QStringLiteral("Documento");  // job name and preview caption
    Output output = Output::Preview;
    Orientation orientation = Orientation::Portrait;
    QString pdfPath;      // Output::Pdf
    QString printerName;  // Output::Printer; empty = the system's default; or ipp(s)://...
    QWidget* owner = nullptr;
};

// Every Preview/Printer document goes to a PDF file instead (no window):
// `path` is a file name, or a directory where each document becomes
// "<n>-<name>.pdf". Empty restores normal output. The environment variable
// VDR_PRINT_PDF sets it at start-up (see initFromEnvironment()).
void setUnattendedPdf(const QString& path);
QString unattendedPdf();
void initFromEnvironment();
// PDF files written by finish() in this process, in order (tests and logs).
QStringList writtenPdfs();
// Whether a system printer exists (the "printing device" of the reports).
bool printerAvailable();

class Document {
  public:
    static constexpr int kDpi = 300;

    // Returns nullptr when the output device cannot be had: Printer output
    // with no printer installed, or none of the name given (and no
    // unattended PDF set). A printer's address is not tried here.
    static std::unique_ptr<Document> create(const Options& options);
    // The same for the usual cases: a name, an output and, for Output::Pdf,
    // the file.
    static std::unique_ptr<Document> create(const QString& name, Output output,
                                            const QString& pdfPath = QString(),
                                            Orientation orientation = Orientation::Portrait);
    ~Document();
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    const Options& options() const { return opt_; }

    // ------------------------------------------------------------ device
    // Logical resolution (pixels per inch), the paper's printable size in
    // millimetres and pixels, and the printing offsets in pixels.
    int resolutionX() const { return kDpi; }
    int resolutionY() const { return kDpi; }
    double sizeMmX() const;
    double sizeMmY() const;
    int pageWidth() const;   // printable width in pixels
    int pageHeight() const;  // printable height in pixels
    int offsetX() const { return offX_; }
    int offsetY() const { return offY_; }
    int cmToRow(double cm) const;
    int cmToCol(double cm) const;

    // ------------------------------------------------------- fonts, pens
    // `height` is the font's character height in points (a negative height
    // means the same: the sign is the caller's convention); `width` 0 is the
    // face's natural width, otherwise the average character width in points.
    int addFont(const QString& face, int width, int height, bool bold = false, bool italic = false,
                bool underline = false);
    // Resizes a font so that its cell (ascent plus descent) is `points` high.
    void fitCellHeight(int handle, double points);
    // `style`: 0 solid, 1 dash, 2 dot, 3 dash-dot, 4 dash-dot-dot, 5 none.
    int addPen(int width = 1, int style = 0, const QColor& colour = Qt::black);
    QFont font(int handle) const;
    // Metrics of a font in pixels: text width, line height and ascent.
    int textWidth(const QString& text, int font = 0) const;
    int lineHeight(int font = 0) const;
    int ascent(int font = 0) const;

    // ------------------------------------------------------------- pages
    // startPage() opens a page (ending an open one); the drawing calls open
    // one themselves when none is open. endPage() hands the page to the
    // device (opening it at the first page).
    void startPage();
    void endPage();
    int pageCount() const { return pages_; }
    int currentPage() const { return pageCount(); }  // 1-based; 0 before the first

    // Text with its top-left corner at (row, col); Right alignment puts its
    // right edge at col, Center its middle. Returns the text's width.
    int say(int row, int col, const QString& text, int font = 0, Align align = Align::Left,
            const QColor& colour = Qt::black);
    // Text in centimetres.
    int sayCm(double row, double col, const QString& text, int font = 0, Align align = Align::Left);
    void box(int top, int left, int bottom, int right, int pen = 0);
    void line(int top, int left, int bottom, int right, int pen = 0);
    void fill(int top, int left, int bottom, int right, const QColor& colour);

    // ------------------------------------------------------------ output
    // Ends the open page and completes the output. Returns false when the
    // output failed (PDF not writable, printer refused), at whatever page it
    // failed; the reason is in error(). Preview returns when the preview
    // window closes.
    bool finish();
    const QString& error() const { return error_; }
    // The PDF file written by finish(), when the output was a PDF.
    const QString& pdfWritten() const { return pdfWritten_; }

    // A Preview document opens its window at the first ended page and keeps
    // it up to date while the rest is drawn; whoever draws lets the window
    // answer the user now and then (processing the events) and stops when
    // cancelRequested(). No effect on an unattended run or without a screen.
    void previewWhileDrawing() { live_ = true; }
    // The preview window open while drawing, or nullptr.
    QWidget* livePreview() const;
    // The user asked the preview to stop the drawing (its "Cancelar", or
    // closing it before the document was finished).
    void requestCancel() { cancel_ = true; }
    bool cancelRequested() const { return cancel_; }

    // The pages kept for the preview (ended pages of a Preview document not
    // turned into a PDF by an unattended run): drawn on any printer, false
    // when the device could not be opened or no pages are kept.
    // `going`, when given, hears each page as it is done (pages done, pages
    // in all) and stops the work by answering false: render() and
    // writePdf() then answer false too, and writePdf() leaves no file.
    using Progress = std::function<bool(int done, int total)>;
    bool render(QPrinter& printer, const Progress& going = {}) const;
    // How many pages are kept, and one of them (from 0) drawn on `painter`
    // with the whole sheet scaled to `scale` device pixels a pixel: what the
    // preview shows. False when the page could not be read.
    int keptPages() const;
    bool drawKept(int n, QPainter& painter, double scale) const;
    // The whole sheet in pixels (the printable area and its borders).
    QSize paperSize() const;
    // The kept pages as a PDF file; false, leaving no part of it, when it
    // could not be written whole or no pages are kept.
    bool writePdf(const QString& path, const Progress& going = {}) const;

  private:
    explicit Document(const Options& o);
    struct Shaped;
    struct Text {
        int row, col;
        QString text;
        int font;
        QColor colour;
        // As shaped when said (none when read back from the spool, or when
        // its font changed since).
        std::shared_ptr<const Shaped> shaped;
    };
    struct Shape {
        enum Kind { Box, Line, Fill } kind;
        int top, left, bottom, right;
        int pen;
        QColor colour;
    };
    using Op = std::variant<Text, Shape>;
    using Page = std::vector<Op>;
    struct Device;  // the open PDF writer, on a file or a printer's job
    struct Spool;   // the preview's pages on disk
    void ensurePage();
    const QFontMetricsF& metrics(int handle) const;
    // Opens the output at the first ended page; false (error() says why)
    // when it cannot be had.
    bool openOutput();
    // Draws one page scaled by `scale` (device pixels a pixel) with its
    // origin moved by `shift` device pixels.
    void drawPage(QPainter& painter, QSizeF scale, QPointF shift, const Page& page) const;
    // A PDF writer of this document's paper on `file`, and one page drawn
    // on it.
    std::unique_ptr<PdfWriter> pdfWriter(QIODevice& file) const;
    void drawPdf(PdfWriter& pdf, const Page& page) const;
    // Draws the kept pages on `device`.
    bool paintKept(QPagedPaintDevice& device, QPointF shift, const Progress& going) const;

    Options opt_;
    std::vector<QFont> fonts_;
    std::vector<QFontMetricsF> metrics_;  // of fonts_, one for one
    // The texts of each font as shaped once (glyphs, positions and width):
    // a report measures and draws the same captions, dates and names over and
    // over, and shaping is the dearest part of both.
    struct Shaped {
        QList<QGlyphRun> runs;  // positions from the text's top-left corner
        int width = 0;
        mutable PdfWriter::Encoded pdf;  // a run alone as the PDF writer wrote it
    };
    // Two generations for each font: when the newer one is full it becomes
    // the older, and a text found in the older moves back; so the texts a
    // report keeps printing stay shaped, and the ones it prints once go.
    struct ShapedTexts {
        QHash<QString, std::shared_ptr<const Shaped>> newer, older;
    };
    static constexpr int kShapedKept = 10000;  // a generation's texts
    const std::shared_ptr<const Shaped>& shapedText(const QString& text, int font) const;
    const Shaped& shaped(const QString& text, int font) const { return *shapedText(text, font); }
    mutable std::vector<ShapedTexts> shaped_;
    // Of fonts_, one for one: the plain texts shaped without a layout.
    std::vector<std::unique_ptr<QuickShaper>> quick_;
    std::vector<QPen> pens_;
    Page page_;  // the open page's operations
    int pages_ = 0;
    bool pageOpen_ = false;
    bool outputTried_ = false;  // openOutput() ran
    std::unique_ptr<Device> device_;
    std::unique_ptr<Spool> spool_;
    bool live_ = false, cancel_ = false;
    QPointer<PreviewWindow> window_;  // the preview open while drawing
    // Like a real printer, a page has a border it does not print in: a
    // quarter of an inch. Pixels count from the printable area's corner, so
    // text at column 0 never touches the paper's edge, on paper or in a PDF.
    static constexpr int kBorder = kDpi / 4;
    int offX_ = kBorder, offY_ = kBorder;
    QString error_, pdfWritten_;
};

// Observes every preview window as it opens (tests take a picture of it or
// press its buttons); the window closes when the observer returns true.
using PreviewObserver = std::function<bool(QWidget* preview, Document& doc)>;
void setPreviewObserver(PreviewObserver observer);

}  // namespace print
