// A PDF file written page by page: what a printed document becomes when it
// goes to a file.
//
// The pages are drawn in units of the caller's choice (the document's device
// pixels), from the sheet's top-left corner downwards; each page's content is
// compressed and written as soon as the page ends, so that a document of any
// length holds one page in memory. The fonts are written at finish(), when
// the glyphs every page used are known: each face used becomes a TrueType
// font holding those glyphs only, under their own glyph numbers, with the map
// from its glyphs back to the characters they show (so that the text can be
// searched and copied). The cross-reference table closes the file.
//
// The writer writes to a device the caller opened (a QSaveFile, which decides
// whether the file takes its name); ok() turns false at the first write that
// fails and stays so.
//
// Typical use:
//   QSaveFile file(path);
//   file.open(QIODevice::WriteOnly);
//   print::PdfWriter pdf(file, "Informe", QSizeF(595, 842), 72.0 / 300);
//   pdf.beginPage();
//   pdf.glyphs(QPointF(75, 75), run, Qt::black, text);
//   pdf.endPage();
//   if (pdf.finish() && file.commit()) ...
#pragma once

#include <QColor>
#include <QGlyphRun>
#include <QPen>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringView>
#include <memory>
#include <string>

class QIODevice;

namespace print {

class PdfWriter {
  public:
    // Pages of `pagePoints` (width and height in points); one drawing unit
    // is `unit` points.
    PdfWriter(QIODevice& out, const QString& title, QSizeF pagePoints, double unit);
    ~PdfWriter();
    PdfWriter(const PdfWriter&) = delete;
    PdfWriter& operator=(const PdfWriter&) = delete;

    // A run of glyphs as the page shows it, kept by whoever draws the same
    // run again and again (a report's captions, dates and codes): the writer
    // that encoded it writes it again without going through its glyphs.
    struct Encoded {
        quint64 writer = 0;  // the writer it was encoded for; 0 none
        int font = -1;
        double size = 0;
        QPointF first;      // the first glyph's position in the run
        long long end = 0;  // the pen after the last glyph, millionths of the size
        bool underline = false;
        std::string shown;  // strings of glyphs and the shifts between them
    };

    void beginPage();
    // The glyphs of `run` with its positions counted from `origin`, filled
    // in `colour`, underlined when the run says so. `text` is what the run
    // shows (or empty): the glyphs are mapped back to its characters.
    // `kept`, when given, is the same run as encoded before (or to be).
    void glyphs(QPointF origin, const QGlyphRun& run, const QColor& colour, QStringView text,
                Encoded* kept = nullptr);
    // The outline of a rectangle, a line and a filled rectangle, drawn as
    // the painter draws them: the pen's width in units, its dashes in
    // widths, square ends; no pen draws nothing.
    void strokeRect(const QRectF& r, const QPen& pen);
    void line(QPointF from, QPointF to, const QPen& pen);
    void fillRect(const QRectF& r, const QColor& colour);
    // Compresses and writes the page.
    void endPage();
    // Writes the fonts, the page tree and the cross-reference table. False
    // when any write failed (the file is then not whole).
    bool finish();

    bool ok() const;
    int pageCount() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

}  // namespace print
