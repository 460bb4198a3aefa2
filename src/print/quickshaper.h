// Plain texts of one font shaped without a text layout.
//
// A report prints a new name or code on every row, and laying each one out
// (items, shaping, lines) costs more than everything else the row does. Most
// of those texts are plain Latin-1 letters, digits and punctuation, whose
// glyphs simply follow one another: the shaper learns, from the text layout
// itself, each character's glyph and advance and, for each pair of
// characters met side by side, whether the layout sets them as their two
// advances say (no kerning, no ligature). A text made only of characters and
// pairs known to behave so is shaped by adding advances, and gives the very
// glyphs, positions and width the layout gives; any other text is left to
// the layout (shape() answers false).
//
// Typical use:
//   print::QuickShaper quick(font);
//   QGlyphRun run;
//   int width;
//   if (!quick.shape(text, run, width)) { ... QTextLayout ... }
#pragma once

#include <QFont>
#include <QGlyphRun>
#include <QRawFont>
#include <QStringView>
#include <array>
#include <vector>

namespace print {

class QuickShaper {
  public:
    explicit QuickShaper(const QFont& font) : font_(font) {}

    // The text as one run of glyphs, positioned from its top-left corner as
    // QTextLayout positions them, and its width rounded up to whole pixels
    // (its spaces counted); false when the text is not plain.
    bool shape(QStringView text, QGlyphRun& run, int& width);

  private:
    // Advances and positions in 64ths of a pixel, the layout's own unit.
    struct Char {
        quint32 glyph = 0;
        int advance = 0;
        qint8 state = 0;  // 0 not tried, 1 plain, -1 left to the layout
    };
    bool plain(char16_t c);
    bool plainPair(char16_t a, char16_t b);

    QFont font_;
    bool faceKnown_ = false;
    QRawFont raw_;  // the face the layout shapes plain characters with
    double y_ = 0;  // their baseline from the top
    int x0_ = 0;    // the first glyph's position
    QRectF box_;    // a run's bounding box, its x and width aside
    std::array<Char, 256> chars_{};
    std::vector<qint8> pairs_;  // 256 x 256, as Char::state
};

}  // namespace print
