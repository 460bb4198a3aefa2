#include "print/quickshaper.h"

#include <QList>
#include <QPointF>
#include <QString>
#include <QTextLayout>
#include <cmath>

namespace print {

namespace {

// Texts longer than this go to the layout, which breaks long ones in items.
constexpr qsizetype kLongest = 200;

struct Laid {
    QList<QGlyphRun> runs;
    double natural = 0, advance = 0;
};

Laid layOut(const QString& text, const QFont& font) {
    QTextLayout layout(text, font);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    layout.endLayout();
    return {layout.glyphRuns(), line.naturalTextWidth(), line.horizontalAdvance()};
}

// A length in 64ths of a pixel, when it is a whole number of them.
bool fixed(double v, int& out) {
    const long long f = std::llround(v * 64);
    if (static_cast<double>(f) / 64 != v || std::abs(f) > (1 << 24)) return false;
    out = static_cast<int>(f);
    return true;
}

// Letters, digits, punctuation and the space of Latin-1; no controls, no
// soft hyphen, no no-break space (the layout breaks and joins around them).
bool latin(char16_t c) {
    return (c >= 0x20 && c < 0x7f) || (c >= 0xa1 && c <= 0xff && c != 0xad);
}

}  // namespace

bool QuickShaper::plain(char16_t c) {
    if (!latin(c)) return false;
    Char& ch = chars_[c];
    if (ch.state != 0) return ch.state > 0;
    ch.state = -1;
    if (!faceKnown_) {
        // The face, baseline and box of a plain letter set the ones of all.
        faceKnown_ = true;
        const Laid n = layOut(QStringLiteral("n"), font_);
        if (n.runs.size() != 1 || n.runs[0].flags() || n.runs[0].positions().size() != 1 ||
            !fixed(n.runs[0].positions()[0].x(), x0_)) {
            raw_ = QRawFont();
            return false;
        }
        raw_ = n.runs[0].rawFont();
        y_ = n.runs[0].positions()[0].y();
        box_ = n.runs[0].boundingRect();
    }
    if (!raw_.isValid()) return false;
    const Laid one = layOut(QString(QChar(c)), font_);
    if (one.runs.size() != 1) return false;
    const QGlyphRun& run = one.runs[0];
    const QList<quint32> glyphs = run.glyphIndexes();
    const QList<QPointF> at = run.positions();
    int x = 0, advance = 0;
    if (run.flags() || run.rawFont() != raw_ || glyphs.size() != 1 || at.size() != 1 ||
        at[0].y() != y_ || !fixed(at[0].x(), x) || x != x0_ || !fixed(one.advance, advance) ||
        one.natural != one.advance)
        return false;
    ch.glyph = glyphs[0];
    ch.advance = advance;
    ch.state = 1;
    return true;
}

bool QuickShaper::plainPair(char16_t a, char16_t b) {
    if (pairs_.empty()) pairs_.assign(256 * 256, 0);
    qint8& state = pairs_[a * 256u + b];
    if (state != 0) return state > 0;
    state = -1;
    const QChar two[2] = {QChar(a), QChar(b)};
    const Laid laid = layOut(QString(two, 2), font_);
    if (laid.runs.size() != 1) return false;
    const QGlyphRun& run = laid.runs[0];
    const QList<quint32> glyphs = run.glyphIndexes();
    const QList<QPointF> at = run.positions();
    const Char &ca = chars_[a], &cb = chars_[b];
    int x1 = 0, x2 = 0, advance = 0;
    if (run.flags() || run.rawFont() != raw_ || glyphs.size() != 2 || at.size() != 2 ||
        glyphs[0] != ca.glyph || glyphs[1] != cb.glyph || at[0].y() != y_ || at[1].y() != y_ ||
        !fixed(at[0].x(), x1) || !fixed(at[1].x(), x2) || !fixed(laid.advance, advance) ||
        x1 != x0_ || x2 != x0_ + ca.advance || advance != ca.advance + cb.advance)
        return false;
    state = 1;
    return true;
}

bool QuickShaper::shape(QStringView text, QGlyphRun& run, int& width) {
    const qsizetype n = text.size();
    if (n == 0 || n > kLongest) return false;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (!plain(c) || (i > 0 && !plainPair(text[i - 1].unicode(), c))) return false;
    }
    QList<quint32> glyphs(n);
    QList<QPointF> at(n);
    long long x = x0_, advance = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text[i].unicode();
        const Char& ch = chars_[c];
        glyphs[i] = ch.glyph;
        at[i] = QPointF(static_cast<double>(x) / 64, y_);
        x += ch.advance;
        advance += ch.advance;
    }
    width = static_cast<int>(std::ceil(static_cast<double>(advance) / 64));
    run = QGlyphRun();
    run.setRawFont(raw_);
    run.setGlyphIndexes(glyphs);
    run.setPositions(at);
    run.setBoundingRect(QRectF(static_cast<double>(x0_) / 64, box_.y(),
                               static_cast<double>(advance) / 64, box_.height()));
    return true;
}

}  // namespace print
