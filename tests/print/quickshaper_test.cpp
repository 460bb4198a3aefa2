// The quick shaper against the text layout it stands in for: for the texts
// it takes, the very glyphs, positions, face and width; the ones it must not
// take (kerned pairs, ligatures, other faces, underlined fonts) left alone.
#include <gtest/gtest.h>

#include <QFont>
#include <QTemporaryDir>
#include <QTextLayout>
#include <cmath>

#include "print/document.h"
#include "print/quickshaper.h"

namespace {

QFont fontOf(const QString& face, int pixels, bool bold = false, bool italic = false,
             bool underline = false, int stretch = 0) {
    QFont f(face);
    f.setPixelSize(pixels);
    f.setBold(bold);
    f.setItalic(italic);
    f.setUnderline(underline);
    if (stretch) f.setStretch(stretch);
    return f;
}

struct Laid {
    QList<QGlyphRun> runs;
    int width = 0;
};

Laid layOut(const QString& text, const QFont& font) {
    QTextLayout layout(text, font);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    layout.endLayout();
    return {layout.glyphRuns(), static_cast<int>(std::ceil(line.naturalTextWidth()))};
}

const QStringList kTexts = {
    QStringLiteral("P0017654"),
    QStringLiteral("12-12-2024"),
    QStringLiteral("VOLVER A LLAMAR     "),
    QStringLiteral("  Telefónico  "),
    QStringLiteral("PANADERIA GONZALEZ S.L."),
    QStringLiteral("Fecha: 11-12-2026   Página: 1"),
    QStringLiteral("Total contactos: 2000000   Visitas: 499886"),
    QStringLiteral("AVENIDA DE LA TORRE, 11"),
    QStringLiteral("Tavira y Yáñez; «Ñandú» ¿qué? ¡sí! 100% @ #1 $ & ~"),
    QStringLiteral("offline affine fiesta"),
    QStringLiteral("Te Ty To Yo LT 11 17 ff"),
    QStringLiteral("       "),
    QStringLiteral("x"),
    QStringLiteral("Precio 10 € y 5\u00a0kg\u00adextra"),
    QStringLiteral("Línea\tcon\ttabulador"),
    QStringLiteral("ÀÉÎÕÜ àéîõü çÇ ßøÆ"),
};

}  // namespace

TEST(QuickShaper, GivesWhatTheLayoutGivesOrLeavesTheTextToIt) {
    const QList<QFont> fonts = {
        fontOf(QStringLiteral("Liberation Sans"), 38),
        fontOf(QStringLiteral("Liberation Sans"), 38, true),
        fontOf(QStringLiteral("Liberation Sans"), 58, true),
        fontOf(QStringLiteral("Liberation Serif"), 42, false, true),
        fontOf(QStringLiteral("Liberation Mono"), 33),
        fontOf(QStringLiteral("Liberation Sans"), 38, false, false, false, 80),
        fontOf(QStringLiteral("Liberation Sans"), 38, false, false, true),
    };
    int quick = 0, left = 0;
    for (const QFont& font : fonts) {
        print::QuickShaper shaper(font);
        // Twice: the second time from what the first one learnt.
        for (int round = 0; round < 2; ++round)
            for (const QString& text : kTexts) {
                SCOPED_TRACE((font.toString() + QStringLiteral(" / ") + text).toStdString());
                const Laid want = layOut(text, font);
                QGlyphRun run;
                int width = -1;
                if (!shaper.shape(text, run, width)) {
                    ++left;
                    continue;
                }
                ++quick;
                ASSERT_EQ(want.runs.size(), 1);
                const QGlyphRun& w = want.runs[0];
                EXPECT_EQ(run.glyphIndexes(), w.glyphIndexes());
                EXPECT_EQ(run.positions(), w.positions());
                EXPECT_TRUE(run.rawFont() == w.rawFont());
                EXPECT_EQ(run.flags(), w.flags());
                EXPECT_EQ(run.boundingRect(), w.boundingRect());
                EXPECT_EQ(width, want.width);
            }
        // The same texts in another font are shaped in that font.
        print::QuickShaper other(fontOf(QStringLiteral("Liberation Sans"), 50));
        QGlyphRun a, b;
        int wa = 0, wb = 0;
        if (shaper.shape(QStringLiteral("P0017654"), a, wa) &&
            other.shape(QStringLiteral("P0017654"), b, wb)) {
            EXPECT_NE(a.positions(), b.positions());
        }
    }
    // Most report texts are plain; the underlined font, the euro sign, the
    // tab, the soft hyphen and the no-break space are not.
    EXPECT_GT(quick, left);
    print::QuickShaper underlined(fonts.last());
    QGlyphRun run;
    int width = 0;
    EXPECT_FALSE(underlined.shape(QStringLiteral("P0017654"), run, width));
    print::QuickShaper sans(fonts.first());
    EXPECT_FALSE(sans.shape(kTexts[13], run, width));
    EXPECT_FALSE(sans.shape(kTexts[14], run, width));
    EXPECT_FALSE(sans.shape(QString(), run, width));
}

// A document's plain texts follow their font: the same text in two fonts,
// and in one font before and after it is resized, each as the layout has it.
TEST(QuickShaper, DocumentTextsFollowTheirFontAndItsNewSize) {
    QTemporaryDir dir;
    auto doc = print::Document::create(QStringLiteral("Prueba"), print::Output::Pdf,
                                       dir.filePath(QStringLiteral("x.pdf")));
    ASSERT_TRUE(doc);
    const int normal = doc->addFont(QStringLiteral("Arial"), 0, -9);
    const int bold = doc->addFont(QStringLiteral("Arial"), 0, -9, true);
    const QString text = QStringLiteral("P0017654 VOLVER A LLAMAR");
    auto laidWidth = [&](int f) { return layOut(text, doc->font(f)).width; };
    EXPECT_EQ(doc->textWidth(text, normal), laidWidth(normal));
    EXPECT_EQ(doc->textWidth(text, bold), laidWidth(bold));
    EXPECT_NE(doc->textWidth(text, normal), doc->textWidth(text, bold));
    const int before = doc->textWidth(text, normal);
    doc->fitCellHeight(normal, 20);
    EXPECT_EQ(doc->textWidth(text, normal), laidWidth(normal));
    EXPECT_GT(doc->textWidth(text, normal), before);
}
