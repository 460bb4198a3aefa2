// The columnar list report: a title, header lines, a row of column captions
// and one line per record, broken into pages with a footer on each. It is
// what the error log and the generic grid print, and what a report script
// may use for a plain list.
//
//   print::ListReport list(*doc, layout);
//   for (...) list.addRow({a, b, c});
//   list.close();          // footer of the last page; the document is not finished
//   doc->finish();
//
// Widths are in characters of the body font (the width of "0"), so a column
// of 65 holds 65 digits; a longer cell goes on over the next lines inside
// its column (broken at a blank when it can be). A page always has at least
// one body line, whatever the header takes.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

#include "print/document.h"

namespace print {

struct ListColumn {
    QString caption;
    int chars = 10;
    Align align = Align::Left;
};

struct ListReportSpec {
    QString title;  // centred over the page in the heading font
    // Lines under the title, left-aligned and right-aligned (the two lists
    // are printed side by side, line for line).
    QStringList headerLeft, headerRight;
    // The footer of page n (1-based); empty = none.
    std::function<QString(int page)> footer;
    Align footerAlign = Align::Center;
    int bodyFont = 0;     // font handles on the document; 0 = its default
    int headingFont = 0;  // title and column captions
    int marginCm10 = 15;  // left/right/top/bottom margin in millimetres
    std::vector<ListColumn> columns;
};

class ListReport {
  public:
    ListReport(Document& doc, ListReportSpec layout);
    ~ListReport();
    ListReport(const ListReport&) = delete;
    ListReport& operator=(const ListReport&) = delete;

    void addRow(const QStringList& cells);
    // A line across the page's columns, with no cells (a blank line when empty).
    void addLine(const QString& text = QString());
    // Ends the report: footer of the last page. Called by the destructor when
    // not called before. An empty report still prints its headings once.
    void close();
    int rows() const { return rows_; }
    int pages() const { return pages_; }
    // Left edge of column i in pixels, and the width of all columns.
    int columnLeft(size_t i) const { return lefts_.at(i); }
    int totalWidth() const { return total_; }

  private:
    void newPage();
    void endPage();
    void needLine();
    // `text` in lines no wider than `width` pixels of the body font.
    QStringList fitLines(const QString& text, int width) const;

    Document& doc_;
    ListReportSpec spec_;
    std::vector<int> lefts_, widths_;
    int total_ = 0, left_ = 0, top_ = 0, bottom_ = 0;
    int y_ = 0, lineH_ = 0;
    int rows_ = 0, pages_ = 0;
    bool open_ = false, closed_ = false;
};

// Breaks a text into lines of at most `width` characters: at line breaks
// (CR LF, LF or CR) and then every `width` characters. An empty text is one
// empty line.
QStringList breakLines(const QString& text, int width);

}  // namespace print
