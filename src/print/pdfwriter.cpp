#include "print/pdfwriter.h"

#include <zlib.h>

#include <QDateTime>
#include <QIODevice>
#include <QPainterPath>
#include <QRawFont>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace print {

namespace {

// Page contents compress at zlib's level 3: on a long report's pages about
// as fast as level 1 for a fifth less; level 6 takes two and a half times as
// long for a sixth less again.
constexpr int kPageLevel = 3;
// A glyph further back than this from the end of the one before it starts
// its text again.
constexpr long long kBack = 100000;
// How far (millionths of the size) a glyph may stand from its place before
// a shift puts it there: a two-thousandth of a pixel at ten points.
constexpr long long kSlack = 50;
// What the fonts and tables collect before they go to the device in one write.
constexpr size_t kFlushAt = 256 * 1024;

void appendInt(std::string& s, long long v) {
    char buf[24];
    char* e = buf + sizeof buf;
    char* p = e;
    const bool neg = v < 0;
    unsigned long long u = neg ? 0ULL - static_cast<unsigned long long>(v) : v;
    do {
        *--p = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u);
    if (neg) *--p = '-';
    s.append(p, e);
}

// A number with up to three decimals, as short as it goes.
void appendNum(std::string& s, double v) {
    long long n = std::llround(v * 1000);
    if (n < 0) {
        s += '-';
        n = -n;
    }
    appendInt(s, n / 1000);
    int frac = static_cast<int>(n % 1000);
    if (frac == 0) return;
    char d[4] = {static_cast<char>('0' + frac / 100), static_cast<char>('0' + frac / 10 % 10),
                 static_cast<char>('0' + frac % 10), 0};
    int len = 3;
    while (d[len - 1] == '0') --len;
    s += '.';
    s.append(d, static_cast<size_t>(len));
}

// Two numbers and a space between them: a point, a width and height.
void appendPair(std::string& s, double a, double b) {
    appendNum(s, a);
    s += ' ';
    appendNum(s, b);
}

void appendHex4(std::string& s, unsigned v) {
    static const char hex[] = "0123456789ABCDEF";
    const char c[4] = {hex[(v >> 12) & 15], hex[(v >> 8) & 15], hex[(v >> 4) & 15], hex[v & 15]};
    s.append(c, 4);
}

// A text string of the Info dictionary: UTF-16 with its byte-order mark.
std::string textString(const QString& t) {
    std::string s = "<FEFF";
    for (QChar c : t) appendHex4(s, c.unicode());
    s += '>';
    return s;
}

// A name object's characters: letters, digits and '-' only.
std::string pdfName(const QString& t) {
    std::string s;
    for (QChar c : t)
        if ((c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
            (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
            (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-'))
            s += static_cast<char>(c.unicode());
    return s.empty() ? std::string("Font") : s;
}

bool deflateAll(const std::string& in, std::string& out, int level) {
    z_stream z{};
    if (deflateInit(&z, level) != Z_OK) return false;
    out.resize(deflateBound(&z, static_cast<uLong>(in.size())));
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return rc == Z_STREAM_END;
}

// ------------------------------------------------------------- TrueType
// Big-endian fields of the font tables.
void put16(std::string& s, int v) {
    s += static_cast<char>((v >> 8) & 0xFF);
    s += static_cast<char>(v & 0xFF);
}
void put32(std::string& s, quint32 v) {
    put16(s, static_cast<int>(v >> 16));
    put16(s, static_cast<int>(v & 0xFFFF));
}
quint32 checksum(const std::string& t) {
    quint32 sum = 0;
    for (size_t i = 0; i < t.size(); i += 4) {
        quint32 w = 0;
        for (size_t k = 0; k < 4; ++k)
            w = (w << 8) | (i + k < t.size() ? static_cast<unsigned char>(t[i + k]) : 0U);
        sum += w;
    }
    return sum;
}

struct Point {
    int x, y;
    bool on;
};

// One glyph as TrueType outlines: its contours (quadratic curves, font units,
// y upwards), its bounding box and advance.
struct Glyph {
    std::vector<std::vector<Point>> contours;
    int xMin = 0, yMin = 0, xMax = 0, yMax = 0;
    int advance = 0;
    int points() const {
        int n = 0;
        for (const auto& c : contours) n += static_cast<int>(c.size());
        return n;
    }
};

// The outline of a glyph (from the face at one pixel per font unit, y
// downwards) as TrueType contours: lines as they are, each cubic curve as
// as many quadratic ones as keep within half a unit of it.
Glyph outline(const QPainterPath& path) {
    Glyph g;
    std::vector<Point>* c = nullptr;
    auto pt = [](QPointF p, bool on) {
        return Point{static_cast<int>(std::lround(p.x())), static_cast<int>(std::lround(-p.y())),
                     on};
    };
    auto close = [&] {
        if (!c) return;
        if (c->size() > 1 && c->back().on && c->back().x == c->front().x &&
            c->back().y == c->front().y)
            c->pop_back();
        if (c->size() < 2) g.contours.pop_back();
        c = nullptr;
    };
    QPointF cur;
    const int n = path.elementCount();
    for (int i = 0; i < n; ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        if (e.isMoveTo()) {
            close();
            g.contours.emplace_back();
            c = &g.contours.back();
            cur = e;
            c->push_back(pt(cur, true));
        } else if (e.isLineTo()) {
            if (!c) continue;
            cur = e;
            const Point p = pt(cur, true);
            if (p.x != c->back().x || p.y != c->back().y || !c->back().on) c->push_back(p);
        } else if (e.isCurveTo() && i + 2 < n) {
            if (!c) continue;
            const QPointF p0 = cur, p1 = e, p2 = path.elementAt(i + 1), p3 = path.elementAt(i + 2);
            i += 2;
            // The distance of a cubic from its quadratic midpoint fit falls
            // with the cube of the pieces it is cut into.
            const QPointF third = p3 - 3 * p2 + 3 * p1 - p0;
            const double err = std::hypot(third.x(), third.y()) * std::sqrt(3.0) / 36;
            const int pieces = std::clamp(static_cast<int>(std::ceil(std::cbrt(err / 0.5))), 1, 16);
            auto at = [&](double t) {
                const double u = 1 - t;
                return u * u * u * p0 + 3 * u * u * t * p1 + 3 * u * t * t * p2 + t * t * t * p3;
            };
            auto slope = [&](double t) {
                const double u = 1 - t;
                return 3 * u * u * (p1 - p0) + 6 * u * t * (p2 - p1) + 3 * t * t * (p3 - p2);
            };
            for (int k = 0; k < pieces; ++k) {
                const double t0 = double(k) / pieces, t1 = double(k + 1) / pieces;
                const QPointF q0 = at(t0), q3 = at(t1);
                const QPointF q1 = q0 + (t1 - t0) / 3 * slope(t0);
                const QPointF q2 = q3 - (t1 - t0) / 3 * slope(t1);
                c->push_back(pt((3 * (q1 + q2) - (q0 + q3)) / 4, false));
                c->push_back(pt(k + 1 == pieces ? p3 : q3, true));
            }
            cur = p3;
        }
    }
    close();
    bool first = true;
    for (const auto& contour : g.contours)
        for (const Point& p : contour) {
            if (first) {
                g.xMin = g.xMax = p.x;
                g.yMin = g.yMax = p.y;
                first = false;
            }
            g.xMin = std::min(g.xMin, p.x);
            g.xMax = std::max(g.xMax, p.x);
            g.yMin = std::min(g.yMin, p.y);
            g.yMax = std::max(g.yMax, p.y);
        }
    return g;
}

// A simple glyph's record in the glyf table (no instructions).
std::string glyphRecord(const Glyph& g) {
    std::string s;
    if (g.contours.empty()) return s;
    put16(s, static_cast<int>(g.contours.size()));
    put16(s, g.xMin);
    put16(s, g.yMin);
    put16(s, g.xMax);
    put16(s, g.yMax);
    int end = -1;
    for (const auto& c : g.contours) {
        end += static_cast<int>(c.size());
        put16(s, end);
    }
    put16(s, 0);  // instructions
    std::string flags, xs, ys;
    // One coordinate's move: none (the "same" bit), a byte with its sign in
    // the "same" bit beside the "short" bit, or two bytes.
    auto move = [](int d, unsigned shortBit, unsigned sameBit, std::string& out) -> unsigned {
        if (d == 0) return sameBit;
        if (d > -256 && d < 256) {
            out += static_cast<char>(std::abs(d));
            return shortBit | (d > 0 ? sameBit : 0);
        }
        put16(out, d);
        return 0;
    };
    int px = 0, py = 0;
    for (const auto& c : g.contours)
        for (const Point& p : c) {
            unsigned f = p.on ? 1 : 0;
            f |= move(p.x - px, 0x02, 0x10, xs);
            f |= move(p.y - py, 0x04, 0x20, ys);
            flags += static_cast<char>(f);
            px = p.x;
            py = p.y;
        }
    s += flags;
    s += xs;
    s += ys;
    while (s.size() % 4) s += '\0';
    return s;
}

struct FontMetrics {
    int upem = 1000;
    int ascent = 0, descent = 0, leading = 0;
    bool bold = false, italic = false;
};

// A TrueType font of `glyphs` (indexed by glyph number; the ones not used
// are empty) with the tables a PDF reader needs to draw them.
std::string trueTypeFont(const std::vector<Glyph>& glyphs, const FontMetrics& m) {
    const int count = static_cast<int>(glyphs.size());
    std::string glyf, loca, hmtx;
    int xMin = 0, yMin = 0, xMax = 0, yMax = 0, maxPoints = 0, maxContours = 0, advMax = 0;
    int minLsb = 0, minRsb = 0, maxExtent = 0;
    bool any = false;
    for (const Glyph& g : glyphs) {
        put32(loca, static_cast<quint32>(glyf.size()));
        glyf += glyphRecord(g);
        put16(hmtx, g.advance);
        put16(hmtx, g.contours.empty() ? 0 : g.xMin);
        advMax = std::max(advMax, g.advance);
        if (g.contours.empty()) continue;
        maxPoints = std::max(maxPoints, g.points());
        maxContours = std::max(maxContours, static_cast<int>(g.contours.size()));
        if (!any) {
            xMin = g.xMin, yMin = g.yMin, xMax = g.xMax, yMax = g.yMax;
            minLsb = g.xMin, minRsb = g.advance - g.xMax, maxExtent = g.xMax;
            any = true;
        }
        xMin = std::min(xMin, g.xMin);
        yMin = std::min(yMin, g.yMin);
        xMax = std::max(xMax, g.xMax);
        yMax = std::max(yMax, g.yMax);
        minLsb = std::min(minLsb, g.xMin);
        minRsb = std::min(minRsb, g.advance - g.xMax);
        maxExtent = std::max(maxExtent, g.xMax);
    }
    put32(loca, static_cast<quint32>(glyf.size()));

    std::string head;
    put32(head, 0x00010000);
    put32(head, 0x00010000);  // font revision
    put32(head, 0);           // checksum adjustment, set below
    put32(head, 0x5F0F3CF5);
    put16(head, 0x000B);  // baseline at y 0, integer scaling
    put16(head, m.upem);
    for (int i = 0; i < 4; ++i) put32(head, 0);  // created, modified
    put16(head, xMin);
    put16(head, yMin);
    put16(head, xMax);
    put16(head, yMax);
    put16(head, (m.bold ? 1 : 0) | (m.italic ? 2 : 0));
    put16(head, 8);  // smallest readable size
    put16(head, 2);
    put16(head, 1);  // long offsets in loca
    put16(head, 0);

    std::string hhea;
    put32(hhea, 0x00010000);
    put16(hhea, m.ascent);
    put16(hhea, -m.descent);
    put16(hhea, m.leading);
    put16(hhea, advMax);
    put16(hhea, minLsb);
    put16(hhea, minRsb);
    put16(hhea, maxExtent);
    put16(hhea, 1);  // caret slope
    put16(hhea, 0);
    put16(hhea, 0);
    for (int i = 0; i < 5; ++i) put16(hhea, 0);
    put16(hhea, count);

    std::string maxp;
    put32(maxp, 0x00010000);
    put16(maxp, count);
    put16(maxp, maxPoints);
    put16(maxp, maxContours);
    put16(maxp, 0);
    put16(maxp, 0);
    put16(maxp, 2);  // zones
    for (int i = 0; i < 8; ++i) put16(maxp, 0);

    std::string post;
    put32(post, 0x00030000);
    put32(post, m.italic ? static_cast<quint32>(-12 * 65536) : 0);
    put16(post, -m.upem / 10);
    put16(post, m.upem / 20);
    for (int i = 0; i < 5; ++i) put32(post, 0);

    const std::pair<const char*, const std::string*> tables[] = {
        {"glyf", &glyf}, {"head", &head}, {"hhea", &hhea}, {"hmtx", &hmtx},
        {"loca", &loca}, {"maxp", &maxp}, {"post", &post}};
    const int n = 7;
    std::string font;
    put32(font, 0x00010000);
    put16(font, n);
    put16(font, 64);  // search range: 16 x the largest power of 2 <= n
    put16(font, 2);
    put16(font, n * 16 - 64);
    size_t offset = 12 + 16 * n, headAt = 0;
    for (const auto& [tag, data] : tables) {
        font.append(tag, 4);
        put32(font, checksum(*data));
        put32(font, static_cast<quint32>(offset));
        put32(font, static_cast<quint32>(data->size()));
        if (std::strcmp(tag, "head") == 0) headAt = offset;
        offset += (data->size() + 3) / 4 * 4;
    }
    for (const auto& table : tables) {
        font += *table.second;
        while (font.size() % 4) font += '\0';
    }
    const quint32 adjust = 0xB1B0AFBAU - checksum(font);
    for (int i = 0; i < 4; ++i)
        font[headAt + 8 + static_cast<size_t>(i)] = static_cast<char>(adjust >> (24 - 8 * i));
    return font;
}

// ---------------------------------------------------------------- writer

std::atomic<quint64> g_writers{0};

}  // namespace

struct PdfWriter::Impl {
    const quint64 serial = ++g_writers;
    QIODevice& out;
    QString title;
    QSizeF paper;
    double unit;
    bool good = true;
    qint64 written = 0;
    std::string buf;              // what goes to the file next
    std::vector<qint64> offsets;  // of each object, by number (0 unused)
    std::vector<int> pageObjects;
    static constexpr int kCatalog = 1, kPages = 2, kInfo = 3, kResources = 4;

    // A face used by the pages: its glyphs and what they show.
    struct Font {
        QRawFont unitFont;  // at one pixel per font unit
        FontMetrics metrics;
        QString name;
        std::vector<quint8> state;          // by glyph: 0 unused, 1 used, 2 mapped to characters
        std::vector<QString> unicode;       // by glyph, the characters it shows
        int descriptor = 0, toUnicode = 0;  // their objects, at finish()
    };
    std::vector<Font> fonts;
    // A font at one size: a font resource of the pages, whose glyph widths
    // are the advances of the glyphs at that size, so that the glyphs of a
    // word follow one another with no shifts between them.
    struct Sized {
        int font;
        double size;
        QRawFont raw;
        std::vector<long long> widths;  // by glyph, millionths of the size; -1 not known yet
    };
    std::vector<Sized> sizes;
    // The faces of the runs as drawn, and their font resource.
    struct Face {
        QRawFont raw;
        int sized;
    };
    std::vector<Face> faces;
    int lastFace = -1;

    // The page being drawn and its graphics state.
    std::string page, packed;
    bool inText = false, inArray = false;
    int textFont = -1;
    double textSize = 0, textY = 0, lineX = 0;  // the open array's line
    long long pen = 0;                          // its position, in millionths of the size
    QRgb fillColour = 0, strokeColour = 0;
    double lineWidth = -1;
    int dashStyle = -1, capStyle = -1;

    Impl(QIODevice& o, const QString& t, QSizeF p, double u) : out(o), title(t), paper(p), unit(u) {
        offsets.resize(kResources + 1, 0);
        put("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
    }

    void put(const char* s) { buf += s; }
    void put(const std::string& s) { buf += s; }
    void flush() {
        if (buf.empty()) return;
        if (good && out.write(buf.data(), static_cast<qint64>(buf.size())) !=
                        static_cast<qint64>(buf.size()))
            good = false;
        written += static_cast<qint64>(buf.size());
        buf.clear();
    }
    int newObject() {
        offsets.push_back(0);
        return static_cast<int>(offsets.size()) - 1;
    }
    void beginObject(int n) {
        offsets[static_cast<size_t>(n)] = written + static_cast<qint64>(buf.size());
        appendInt(buf, n);
        buf += " 0 obj\n";
    }
    void endObject() {
        buf += "endobj\n";
        if (buf.size() >= kFlushAt) flush();
    }
    void stream(int n, const std::string& dict, const std::string& data) {
        beginObject(n);
        buf += "<<";
        buf += dict;
        buf += "/Length ";
        appendInt(buf, static_cast<long long>(data.size()));
        buf += ">>\nstream\n";
        buf += data;
        buf += "\nendstream\n";
        endObject();
    }
    void ref(std::string& s, int n) {
        appendInt(s, n);
        s += " 0 R";
    }

    // ---------------------------------------------------------- fonts
    int sizedOf(const QRawFont& raw) {
        if (lastFace >= 0 && faces[static_cast<size_t>(lastFace)].raw == raw)
            return faces[static_cast<size_t>(lastFace)].sized;
        for (size_t i = 0; i < faces.size(); ++i)
            if (faces[i].raw == raw) {
                lastFace = static_cast<int>(i);
                return faces[i].sized;
            }
        // The same face at another size is the same font; a face stretched
        // or condensed is drawn so in its outlines, and is another one.
        QRawFont unitFont(raw);
        const double upem = raw.unitsPerEm() > 0 ? raw.unitsPerEm() : 1000;
        unitFont.setPixelSize(upem);
        const QList<quint32> probe = unitFont.glyphIndexesForString(QStringLiteral("n"));
        const double probeWidth =
            probe.isEmpty() ? 0 : unitFont.advancesForGlyphIndexes(probe).value(0).x();
        int font = -1;
        for (size_t i = 0; i < fonts.size() && font < 0; ++i) {
            const QRawFont& u = fonts[i].unitFont;
            if (u.familyName() == raw.familyName() && u.styleName() == raw.styleName() &&
                u.weight() == raw.weight() && u.style() == raw.style() &&
                u.unitsPerEm() == raw.unitsPerEm()) {
                const QList<quint32> p = u.glyphIndexesForString(QStringLiteral("n"));
                const double w = p.isEmpty() ? 0 : u.advancesForGlyphIndexes(p).value(0).x();
                if (std::abs(w - probeWidth) < 0.5) font = static_cast<int>(i);
            }
        }
        if (font < 0) {
            Font f;
            f.unitFont = unitFont;
            f.metrics.upem = static_cast<int>(std::lround(upem));
            f.metrics.ascent = static_cast<int>(std::lround(unitFont.ascent()));
            f.metrics.descent = static_cast<int>(std::lround(unitFont.descent()));
            f.metrics.leading = static_cast<int>(std::lround(unitFont.leading()));
            f.metrics.bold = raw.weight() >= QFont::DemiBold;
            f.metrics.italic = raw.style() != QFont::StyleNormal;
            QString style = raw.styleName();
            f.name = raw.familyName() + (style.isEmpty() || style == QLatin1String("Regular")
                                             ? QString()
                                             : QLatin1Char('-') + style);
            fonts.push_back(std::move(f));
            font = static_cast<int>(fonts.size()) - 1;
        }
        int sized = -1;
        for (size_t i = 0; i < sizes.size() && sized < 0; ++i)
            if (sizes[i].font == font && sizes[i].size == raw.pixelSize())
                sized = static_cast<int>(i);
        if (sized < 0) {
            sizes.push_back({font, raw.pixelSize(), raw, {}});
            sized = static_cast<int>(sizes.size()) - 1;
        }
        faces.push_back({raw, sized});
        lastFace = static_cast<int>(faces.size()) - 1;
        return sized;
    }

    void use(Font& f, quint32 glyph) {
        if (glyph >= f.state.size()) {
            f.state.resize(glyph + 1, 0);
            f.unicode.resize(glyph + 1);
        }
    }
    long long widthOf(Sized& z, quint32 glyph) {
        use(fonts[static_cast<size_t>(z.font)], glyph);
        if (glyph >= z.widths.size()) z.widths.resize(glyph + 1, -1);
        long long& w = z.widths[glyph];
        if (w < 0) {
            const QList<QPointF> a = z.raw.advancesForGlyphIndexes(QList<quint32>{glyph});
            w = a.isEmpty() ? 0 : std::max(0LL, std::llround(a[0].x() * 1e6 / z.size));
        }
        return w;
    }

    // Which characters of `text` each glyph of the run shows: the glyphs
    // follow the characters in order; one the face does not give for its
    // character stands for all the characters up to the next glyph's one
    // (a ligature), and characters the face has no glyph for are in
    // another run.
    void mapGlyphs(Font& f, const QRawFont& raw, const QList<quint32>& glyphs, QStringView text) {
        std::vector<uint> chars;
        for (qsizetype i = 0; i < text.size(); ++i) {
            uint c = text[i].unicode();
            if (QChar::isHighSurrogate(c) && i + 1 < text.size() &&
                QChar::isLowSurrogate(text[i + 1].unicode())) {
                c = QChar::surrogateToUcs4(text[i].unicode(), text[i + 1].unicode());
                ++i;
            }
            chars.push_back(c);
        }
        std::vector<quint32> nominal(chars.size(), 0);
        for (size_t k = 0; k < chars.size(); ++k) {
            const QList<quint32> g = raw.glyphIndexesForString(
                QString::fromUcs4(reinterpret_cast<const char32_t*>(&chars[k]), 1));
            nominal[k] = g.isEmpty() ? 0 : g[0];
        }
        auto isNominal = [&](quint32 g, size_t from) {
            return std::find(nominal.begin() + static_cast<std::ptrdiff_t>(from), nominal.end(),
                             g) != nominal.end();
        };
        auto assign = [&](quint32 g, size_t from, size_t to) {
            if (g >= f.state.size() || f.state[g] == 2 || from >= to) return;
            QString s;
            for (size_t k = from; k < to; ++k)
                s += QString::fromUcs4(reinterpret_cast<const char32_t*>(&chars[k]), 1);
            f.unicode[g] = s;
            f.state[g] = 2;
        };
        size_t k = 0;
        for (qsizetype i = 0; i < glyphs.size() && k < chars.size();) {
            const quint32 g = glyphs[i];
            if (nominal[k] == g) {
                assign(g, k, k + 1);
                ++i, ++k;
            } else if (nominal[k] == 0 || isNominal(g, k + 1)) {
                ++k;  // drawn by another run, or shows no glyph
            } else {
                size_t end = chars.size();
                if (i + 1 < glyphs.size())
                    for (size_t e = k + 1; e < chars.size(); ++e)
                        if (nominal[e] == glyphs[i + 1]) {
                            end = e;
                            break;
                        }
                assign(g, k, end);
                k = end;
                ++i;
            }
        }
    }

    // ---------------------------------------------------------- pages
    // An encoded run with its first glyph at `origin` + e.first: on the line
    // of the text before it when it goes on that line, after a shift.
    void show(QPointF origin, const PdfWriter::Encoded& e, QRgb rgb) {
        if (rgb != fillColour) {
            closeArray();
            colour(rgb, false);
        }
        if (!inText) {
            page += "BT\n";
            inText = true;
        }
        if (e.font != textFont || e.size != textSize) {
            closeArray();
            textFont = e.font;
            textSize = e.size;
            page += "/F";
            appendInt(page, e.font + 1);
            page += ' ';
            appendNum(page, e.size);
            page += " Tf\n";
        }
        const double x = origin.x() + e.first.x(), y = origin.y() + e.first.y();
        long long target = std::llround((x - lineX) * 1e6 / e.size);
        if (!inArray || std::abs(y - textY) > 1e-3 || target < pen - kBack) {
            closeArray();
            page += "1 0 0 -1 ";
            appendPair(page, x, y);
            page += " Tm\n[";
            inArray = true;
            textY = y;
            lineX = std::llround(x * 1000) / 1000.0;
            pen = target = 0;
        }
        const long long shift = pen - target;
        if (shift > kSlack || shift < -kSlack)
            appendNum(page, shift / 1000.0);
        else
            target = pen;
        page += e.shown;
        pen = target + e.end;
    }
    void closeArray() {
        if (inArray) page += "]TJ\n";
        inArray = false;
    }
    void endText() {
        closeArray();
        if (inText) page += "ET\n";
        inText = false;
        textFont = -1;
    }
    void colour(QRgb c, bool stroke) {
        QRgb& cur = stroke ? strokeColour : fillColour;
        if (c == cur) return;
        cur = c;
        appendPair(page, qRed(c) / 255.0, qGreen(c) / 255.0);
        page += ' ';
        appendNum(page, qBlue(c) / 255.0);
        page += stroke ? " RG\n" : " rg\n";
    }
    void strokeStyle(double width, int style, int cap) {
        const bool widthChanged = width != lineWidth;
        if (widthChanged) {
            lineWidth = width;
            appendNum(page, width);
            page += " w\n";
        }
        if (cap != capStyle) {
            capStyle = cap;
            page += cap == 2 ? "2 J\n" : "0 J\n";
        }
        // Dashes in pen widths, as the painter draws them.
        static const std::vector<int> patterns[] = {
            {}, {4, 2}, {1, 2}, {4, 2, 1, 2}, {4, 2, 1, 2, 1, 2}};
        if (style < 0 || style > 4) style = 0;
        if (style != dashStyle || (style != 0 && widthChanged)) {
            dashStyle = style;
            page += '[';
            for (size_t i = 0; i < patterns[style].size(); ++i) {
                if (i) page += ' ';
                appendNum(page, patterns[style][i] * std::max(1.0, width));
            }
            page += "]0 d\n";
        }
    }
    bool strokePen(const QPen& pen) {
        int style = 0;
        switch (pen.style()) {
            case Qt::NoPen:
                return false;
            case Qt::DashLine:
                style = 1;
                break;
            case Qt::DotLine:
                style = 2;
                break;
            case Qt::DashDotLine:
                style = 3;
                break;
            case Qt::DashDotDotLine:
                style = 4;
                break;
            default:
                break;
        }
        endText();
        strokeStyle(pen.widthF() > 0 ? pen.widthF() : 1, style, 2);
        colour(pen.color().rgb(), true);
        return true;
    }
};

PdfWriter::PdfWriter(QIODevice& out, const QString& title, QSizeF pagePoints, double unit)
    : d_(std::make_unique<Impl>(out, title, pagePoints, unit)) {}

PdfWriter::~PdfWriter() = default;

bool PdfWriter::ok() const {
    return d_->good;
}
int PdfWriter::pageCount() const {
    return static_cast<int>(d_->pageObjects.size());
}

void PdfWriter::beginPage() {
    Impl& d = *d_;
    d.page.clear();
    d.inText = d.inArray = false;
    d.textFont = -1;
    d.fillColour = d.strokeColour = qRgb(0, 0, 0);
    d.lineWidth = 1;
    d.dashStyle = 0;
    d.capStyle = 2;
    // Units from the sheet's top-left corner, y downwards; square line ends
    // and bevelled corners, as the painter draws.
    appendNum(d.page, d.unit);
    d.page += " 0 0 ";
    appendNum(d.page, -d.unit);
    d.page += " 0 ";
    appendNum(d.page, d.paper.height());
    d.page += " cm\n2 J 2 j\n";
}

void PdfWriter::glyphs(QPointF origin, const QGlyphRun& run, const QColor& colour, QStringView text,
                       Encoded* kept) {
    Impl& d = *d_;
    const QRgb rgb = colour.rgb();
    bool underline = false;
    if (kept && kept->writer == d.serial) {
        d.show(origin, *kept, rgb);
        underline = kept->underline;
    } else {
        underline = run.flags() & QGlyphRun::Underline;
        const QList<quint32> glyphs = run.glyphIndexes();
        if (glyphs.isEmpty()) return;
        const QList<QPointF> at = run.positions();
        const QRawFont raw = run.rawFont();
        const double size = raw.pixelSize();
        if (size <= 0) return;
        const int fi = d.sizedOf(raw);
        Impl::Sized& z = d.sizes[static_cast<size_t>(fi)];
        Impl::Font& f = d.fonts[static_cast<size_t>(z.font)];
        bool unseen = false;
        for (quint32 g : glyphs) {
            d.widthOf(z, g);
            if (f.state[g] == 0) unseen = true;
        }
        if (unseen) {
            if (!text.isEmpty()) d.mapGlyphs(f, raw, glyphs, text);
            for (quint32 g : glyphs)
                if (f.state[g] == 0) f.state[g] = 1;
        }
        // The glyphs of one baseline, left to right, go as one string of
        // glyphs and shifts; any others one by one.
        bool plain = true;
        for (qsizetype i = 1; i < glyphs.size() && plain; ++i)
            plain = at[i].y() == at[0].y() && at[i].x() >= at[i - 1].x();
        Encoded one;
        Encoded& e = kept && plain ? *kept : one;
        e.font = fi;
        e.size = size;
        e.underline = underline;
        const double scale = 1e6 / size;
        for (qsizetype i = 0; i < glyphs.size(); ++i) {
            if (i == 0 || !plain) {
                e.first = at[i];
                e.shown.clear();
                e.end = 0;
            }
            const long long shift = e.end - std::llround((at[i].x() - e.first.x()) * scale);
            if (shift > kSlack || shift < -kSlack) {
                appendNum(e.shown, shift / 1000.0);
                e.end -= shift;
                e.shown += '<';
            } else if (e.shown.empty()) {
                e.shown += '<';
            } else {
                e.shown.pop_back();  // the string goes on
            }
            appendHex4(e.shown, glyphs[i]);
            e.shown += '>';
            e.end += z.widths[glyphs[i]];
            if (!plain) d.show(origin, e, rgb);
        }
        if (plain) {
            e.writer = kept ? d.serial : 0;
            d.show(origin, e, rgb);
        }
    }

    if (underline) {
        // Under the run's whole width, as thick as the face says, just
        // under the baseline.
        const QRawFont raw = run.rawFont();
        const QRectF box = run.boundingRect();
        const QList<QPointF> at = run.positions();
        if (at.isEmpty()) return;
        const double y = origin.y() + at[0].y() + std::ceil(raw.underlinePosition()) + 0.5;
        const double x0 = origin.x() + box.x();
        const double thickness = raw.lineThickness() > 0 ? raw.lineThickness() : 1;
        d.endText();
        d.strokeStyle(thickness, 0, 0);
        d.colour(rgb, true);
        appendPair(d.page, x0, y);
        d.page += " m ";
        appendPair(d.page, x0 + std::floor(box.width()), y);
        d.page += " l S\n";
    }
}

void PdfWriter::strokeRect(const QRectF& r, const QPen& pen) {
    Impl& d = *d_;
    if (!d.strokePen(pen)) return;
    appendPair(d.page, r.x(), r.y());
    d.page += ' ';
    appendPair(d.page, r.width(), r.height());
    d.page += " re S\n";
}

void PdfWriter::line(QPointF from, QPointF to, const QPen& pen) {
    Impl& d = *d_;
    if (!d.strokePen(pen)) return;
    appendPair(d.page, from.x(), from.y());
    d.page += " m ";
    appendPair(d.page, to.x(), to.y());
    d.page += " l S\n";
}

void PdfWriter::fillRect(const QRectF& r, const QColor& colour) {
    Impl& d = *d_;
    d.endText();
    d.colour(colour.rgb(), false);
    appendPair(d.page, r.x(), r.y());
    d.page += ' ';
    appendPair(d.page, r.width(), r.height());
    d.page += " re f\n";
}

void PdfWriter::endPage() {
    Impl& d = *d_;
    d.endText();
    if (!deflateAll(d.page, d.packed, kPageLevel)) d.good = false;
    const int content = d.newObject();
    d.stream(content, "/Filter/FlateDecode", d.packed);
    const int pageObj = d.newObject();
    d.pageObjects.push_back(pageObj);
    d.beginObject(pageObj);
    std::string& b = d.buf;
    b += "<</Type/Page/Parent 2 0 R/MediaBox[0 0 ";
    appendNum(b, d.paper.width());
    b += ' ';
    appendNum(b, d.paper.height());
    b += "]/Resources 4 0 R/Contents ";
    d.ref(b, content);
    b += ">>\n";
    d.endObject();
    d.page.clear();
    d.flush();  // the page reaches the file as it ends
}

bool PdfWriter::finish() {
    Impl& d = *d_;
    if (d.pageObjects.empty()) {
        beginPage();
        endPage();
    }
    // The fonts, each with the glyphs the pages used.
    std::string fontRefs;
    for (size_t i = 0; i < d.fonts.size(); ++i) {
        Impl::Font& f = d.fonts[i];
        if (f.state.empty()) f.state.resize(1, 0);
        f.state[0] = std::max<quint8>(f.state[0], 1);  // the missing-glyph glyph
        std::vector<Glyph> glyphs(f.state.size());
        int bx0 = 0, by0 = 0, bx1 = 0, by1 = 0;
        for (size_t g = 0; g < f.state.size(); ++g) {
            if (!f.state[g]) continue;
            glyphs[g] = outline(f.unitFont.pathForGlyph(static_cast<quint32>(g)));
            const QList<QPointF> adv =
                f.unitFont.advancesForGlyphIndexes(QList<quint32>{static_cast<quint32>(g)});
            glyphs[g].advance = adv.isEmpty() ? 0 : static_cast<int>(std::lround(adv[0].x()));
            if (glyphs[g].contours.empty()) continue;
            bx0 = std::min(bx0, glyphs[g].xMin);
            by0 = std::min(by0, glyphs[g].yMin);
            bx1 = std::max(bx1, glyphs[g].xMax);
            by1 = std::max(by1, glyphs[g].yMax);
        }
        const std::string program = trueTypeFont(glyphs, f.metrics);
        const double k = 1000.0 / f.metrics.upem;

        // The subset's tag: six capitals of its own.
        std::string name = "VDR";
        for (int div : {676, 26, 1})
            name += static_cast<char>('A' + static_cast<int>(i) / div % 26);
        name += '+';
        name += pdfName(f.name);

        f.name = QString::fromStdString(name);
        const int desc = d.newObject(), file = d.newObject(), cmap = d.newObject();
        f.descriptor = desc;
        f.toUnicode = cmap;

        const QRawFont& u = f.unitFont;
        int flags = 4;  // symbolic: glyphs by number
        if (u.familyName().contains(QLatin1String("Mono"))) flags |= 1;
        if (u.familyName().contains(QLatin1String("Serif")) ||
            u.familyName().contains(QLatin1String("Roman")))
            flags |= 2;
        if (f.metrics.italic) flags |= 64;
        std::string s = "<</Type/FontDescriptor/FontName/" + name + "/Flags ";
        appendInt(s, flags);
        s += "/FontBBox[";
        appendInt(s, std::lround(bx0 * k));
        s += ' ';
        appendInt(s, std::lround(by0 * k));
        s += ' ';
        appendInt(s, std::lround(bx1 * k));
        s += ' ';
        appendInt(s, std::lround(by1 * k));
        s += "]/ItalicAngle ";
        appendInt(s, f.metrics.italic ? -12 : 0);
        s += "/Ascent ";
        appendInt(s, std::lround(f.metrics.ascent * k));
        s += "/Descent ";
        appendInt(s, -std::lround(f.metrics.descent * k));
        s += "/CapHeight ";
        appendInt(s, std::lround(u.capHeight() * k));
        s += "/StemV ";
        appendInt(s, f.metrics.bold ? 140 : 80);
        s += "/FontFile2 ";
        d.ref(s, file);
        s += ">>\n";
        d.beginObject(desc);
        d.put(s);
        d.endObject();

        std::string packed;
        if (!deflateAll(program, packed, Z_BEST_COMPRESSION)) d.good = false;
        s = "/Filter/FlateDecode/Length1 ";
        appendInt(s, static_cast<long long>(program.size()));
        d.stream(file, s, packed);

        // Glyphs back to characters.
        std::vector<size_t> mapped;
        for (size_t g = 0; g < f.state.size(); ++g)
            if (f.state[g] == 2) mapped.push_back(g);
        std::string c =
            "/CIDInit/ProcSet findresource begin\n12 dict begin\nbegincmap\n"
            "/CIDSystemInfo<</Registry(Adobe)/Ordering(UCS)/Supplement 0>>def\n"
            "/CMapName/Adobe-Identity-UCS def\n/CMapType 2 def\n"
            "1 begincodespacerange\n<0000><FFFF>\nendcodespacerange\n";
        for (size_t at = 0; at < mapped.size(); at += 100) {
            const size_t n = std::min<size_t>(100, mapped.size() - at);
            appendInt(c, static_cast<long long>(n));
            c += " beginbfchar\n";
            for (size_t j = at; j < at + n; ++j) {
                c += '<';
                appendHex4(c, static_cast<unsigned>(mapped[j]));
                c += "><";
                for (QChar ch : f.unicode[mapped[j]]) appendHex4(c, ch.unicode());
                c += ">\n";
            }
            c += "endbfchar\n";
        }
        c += "endcmap\nCMapName currentdict/CMap defineresource pop\nend\nend\n";
        std::string cpacked;
        if (!deflateAll(c, cpacked, Z_BEST_COMPRESSION)) d.good = false;
        d.stream(cmap, "/Filter/FlateDecode", cpacked);
    }
    // Each size of a font, with the widths of its glyphs at that size.
    for (size_t i = 0; i < d.sizes.size(); ++i) {
        const Impl::Sized& z = d.sizes[i];
        const Impl::Font& f = d.fonts[static_cast<size_t>(z.font)];
        const std::string name = f.name.toStdString();
        const int type0 = d.newObject(), cid = d.newObject();
        std::string s =
            "<</Type/Font/Subtype/Type0/BaseFont/" + name + "/Encoding/Identity-H/DescendantFonts[";
        d.ref(s, cid);
        s += "]/ToUnicode ";
        d.ref(s, f.toUnicode);
        s += ">>\n";
        d.beginObject(type0);
        d.put(s);
        d.endObject();

        s = "<</Type/Font/Subtype/CIDFontType2/BaseFont/" + name +
            "/CIDSystemInfo<</Registry(Adobe)/Ordering(Identity)/Supplement 0>>/FontDescriptor ";
        d.ref(s, f.descriptor);
        s += "/CIDToGIDMap/Identity/W[";
        for (size_t g = 0; g < z.widths.size();) {
            if (z.widths[g] < 0) {
                ++g;
                continue;
            }
            appendInt(s, static_cast<long long>(g));
            s += '[';
            const size_t from = g;
            for (; g < z.widths.size() && z.widths[g] >= 0; ++g) {
                if (g > from) s += ' ';
                appendNum(s, z.widths[g] / 1000.0);
            }
            s += ']';
        }
        s += "]>>\n";
        d.beginObject(cid);
        d.put(s);
        d.endObject();

        fontRefs += "/F";
        appendInt(fontRefs, static_cast<long long>(i) + 1);
        fontRefs += ' ';
        d.ref(fontRefs, type0);
    }

    d.beginObject(Impl::kResources);
    d.put("<</ProcSet[/PDF/Text]/Font<<" + fontRefs + ">>>>\n");
    d.endObject();

    d.beginObject(Impl::kPages);
    d.put("<</Type/Pages/Kids[");
    for (size_t i = 0; i < d.pageObjects.size(); ++i) {
        if (i) d.buf += ' ';
        d.ref(d.buf, d.pageObjects[i]);
        if (d.buf.size() >= kFlushAt) d.flush();
    }
    d.put("]/Count ");
    appendInt(d.buf, static_cast<long long>(d.pageObjects.size()));
    d.put(">>\n");
    d.endObject();

    d.beginObject(Impl::kCatalog);
    d.put("<</Type/Catalog/Pages 2 0 R>>\n");
    d.endObject();

    d.beginObject(Impl::kInfo);
    d.put("<</Title" + textString(d.title) + "/Creator" +
          textString(QStringLiteral("Valdrosa Comercial")) + "/CreationDate(D:" +
          QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddhhmmss")).toStdString() +
          "Z)>>\n");
    d.endObject();

    const qint64 xref = d.written + static_cast<qint64>(d.buf.size());
    d.put("xref\n0 ");
    appendInt(d.buf, static_cast<long long>(d.offsets.size()));
    d.put("\n0000000000 65535 f \n");
    for (size_t n = 1; n < d.offsets.size(); ++n) {
        char entry[24];
        std::snprintf(entry, sizeof entry, "%010lld 00000 n \n",
                      static_cast<long long>(d.offsets[n]));
        d.buf += entry;
        if (d.buf.size() >= kFlushAt) d.flush();
    }
    d.put("trailer\n<</Size ");
    appendInt(d.buf, static_cast<long long>(d.offsets.size()));
    d.put("/Root 1 0 R/Info 3 0 R>>\nstartxref\n");
    appendInt(d.buf, xref);
    d.put("\n%%EOF\n");
    d.flush();
    return d.good;
}

}  // namespace print
