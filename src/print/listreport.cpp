#include "print/listreport.h"

#include <algorithm>

namespace print {

QStringList breakLines(const QString& text, int width) {
    QStringList out;
    QString t = text;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const QStringList paragraphs = t.split(QLatin1Char('\n'));
    for (const QString& p : paragraphs) {
        if (width <= 0 || p.size() <= width) {
            out << p;
            continue;
        }
        for (qsizetype i = 0; i < p.size(); i += width) out << p.mid(i, width);
    }
    return out;
}

ListReport::ListReport(Document& doc, ListReportSpec layout) : doc_(doc), spec_(std::move(layout)) {
    const int margin = doc_.cmToCol(spec_.marginCm10 / 10.0);
    left_ = margin;
    top_ = doc_.cmToRow(spec_.marginCm10 / 10.0);
    bottom_ = doc_.pageHeight() - top_;
    const int charW = std::max(1, doc_.textWidth(QStringLiteral("0"), spec_.bodyFont));
    const int gap = charW;
    int x = left_;
    for (const ListColumn& c : spec_.columns) {
        // A caption wider than its column widens it, so captions never run
        // into each other.
        const int w =
            std::max(std::max(c.chars, 1) * charW, doc_.textWidth(c.caption, spec_.headingFont));
        lefts_.push_back(x);
        widths_.push_back(w);
        x += w + gap;
    }
    total_ = spec_.columns.empty() ? doc_.pageWidth() - 2 * margin : x - gap - left_;
    lineH_ = doc_.lineHeight(spec_.bodyFont);
}

ListReport::~ListReport() {
    close();
}

void ListReport::newPage() {
    doc_.startPage();
    open_ = true;
    ++pages_;
    y_ = top_;
    const int right = left_ + std::max(total_, doc_.pageWidth() / 2);
    if (!spec_.title.isEmpty()) {
        doc_.say(y_, (left_ + right) / 2, spec_.title, spec_.headingFont, Align::Center);
        y_ += doc_.lineHeight(spec_.headingFont) * 3 / 2;
    }
    const qsizetype n = std::max(spec_.headerLeft.size(), spec_.headerRight.size());
    for (qsizetype i = 0; i < n; ++i) {
        if (i < spec_.headerLeft.size()) doc_.say(y_, left_, spec_.headerLeft[i], spec_.bodyFont);
        if (i < spec_.headerRight.size())
            doc_.say(y_, right, spec_.headerRight[i], spec_.bodyFont, Align::Right);
        y_ += lineH_;
    }
    if (n > 0) y_ += lineH_ / 2;
    if (!spec_.columns.empty()) {
        for (size_t i = 0; i < spec_.columns.size(); ++i) {
            const ListColumn& c = spec_.columns[i];
            const int x = c.align == Align::Right    ? lefts_[i] + widths_[i]
                          : c.align == Align::Center ? lefts_[i] + widths_[i] / 2
                                                     : lefts_[i];
            doc_.say(y_, x, c.caption, spec_.headingFont, c.align);
        }
        y_ += doc_.lineHeight(spec_.headingFont);
        doc_.line(y_, left_, y_, left_ + total_);
        y_ += lineH_ / 3;
    }
}

void ListReport::endPage() {
    if (!open_) return;
    if (spec_.footer) {
        const QString text = spec_.footer(pages_);
        if (!text.isEmpty()) {
            const int y = bottom_ + lineH_ / 2;
            const int right = left_ + std::max(total_, doc_.pageWidth() / 2);
            const int x = spec_.footerAlign == Align::Left    ? left_
                          : spec_.footerAlign == Align::Right ? right
                                                              : (left_ + right) / 2;
            doc_.say(y, x, text, spec_.bodyFont, spec_.footerAlign);
        }
    }
    doc_.endPage();
    open_ = false;
}

void ListReport::needLine() {
    // A page whose headings fill it still takes one body line.
    if (open_ && y_ + lineH_ > bottom_ && y_ > top_) endPage();
    if (!open_) newPage();
}

QStringList ListReport::fitLines(const QString& text, int width) const {
    QStringList out;
    QString rest = text;
    auto fits = [&](const QString& t) { return doc_.textWidth(t, spec_.bodyFont) <= width; };
    while (!fits(rest)) {
        // The longest beginning that fits, of one character at least.
        qsizetype lo = 1, hi = rest.size() - 1;
        while (lo < hi) {
            const qsizetype mid = (lo + hi + 1) / 2;
            if (fits(rest.left(mid)))
                lo = mid;
            else
                hi = mid - 1;
        }
        // Broken at its last blank when it has one, else inside the word.
        const qsizetype blank = rest.lastIndexOf(QLatin1Char(' '), lo);
        if (blank > 0) {
            out << rest.left(blank);
            rest = rest.mid(blank + 1);
        } else {
            out << rest.left(lo);
            rest = rest.mid(lo);
        }
    }
    if (!rest.isEmpty() || out.isEmpty()) out << rest;
    return out;
}

void ListReport::addRow(const QStringList& cells) {
    // A cell wider than its column goes on over as many lines as it needs,
    // inside the column: nothing of it is lost and nothing runs into the next.
    std::vector<QStringList> lines;
    qsizetype height = 1;
    for (size_t i = 0; i < spec_.columns.size() && static_cast<qsizetype>(i) < cells.size(); ++i) {
        lines.push_back(fitLines(cells[static_cast<qsizetype>(i)], widths_[i]));
        height = std::max(height, lines.back().size());
    }
    for (qsizetype k = 0; k < height; ++k) {
        needLine();
        for (size_t i = 0; i < lines.size(); ++i) {
            if (k >= lines[i].size()) continue;
            const ListColumn& c = spec_.columns[i];
            const int x = c.align == Align::Right    ? lefts_[i] + widths_[i]
                          : c.align == Align::Center ? lefts_[i] + widths_[i] / 2
                                                     : lefts_[i];
            doc_.say(y_, x, lines[i][k], spec_.bodyFont, c.align);
        }
        y_ += lineH_;
    }
    ++rows_;
}

void ListReport::addLine(const QString& text) {
    needLine();
    if (!text.isEmpty()) doc_.say(y_, left_, text, spec_.bodyFont);
    y_ += lineH_;
}

void ListReport::close() {
    if (closed_) return;
    closed_ = true;
    if (!open_ && pages_ == 0) newPage();
    endPage();
}

}  // namespace print
