#include "reports/printer.h"

#include <QColor>
#include <array>
#include <cmath>

#include "data/helpers.h"
#include "reports/progress.h"
#include "reports/store.h"
#include "xbase/abandon.h"
#include "xbase/codepage.h"
#include "xbase/error.h"
#include "xbase/runtime.h"

namespace reports {

namespace {

// A font or a pen bound to one document, by the document's handle.
class DeviceTool : public xb::Object {
  public:
    DeviceTool(std::string cls, const print::Document* doc, int handle, int a, int b)
        : cls_(std::move(cls)), doc_(doc), handle_(handle), a_(a), b_(b) {}
    std::string className() const override { return cls_; }
    bool send(std::string_view m, xb::Args&, xb::Value& r) override {
        if (m == "END" || m == "RELEASE") return r = xb::Value(), true;
        if (m == "HANDLE" || m == "HFONT" || m == "HPEN")
            return r = xb::Value::integer(handle_), true;
        if (m == "NWIDTH") return r = xb::Value::integer(a_), true;
        if (m == "NHEIGHT" || m == "NSTYLE") return r = xb::Value::integer(b_), true;
        return false;
    }
    bool assign(std::string_view, const xb::Value&) override { return false; }
    // The handle when the tool belongs to `doc`, else the default (0).
    int handleFor(const print::Document* doc) const { return doc == doc_ ? handle_ : 0; }

  private:
    std::string cls_;
    const print::Document* doc_;
    int handle_, a_, b_;
};

int toolHandle(const xb::Value& v, const print::Document* doc) {
    if (auto* t = dynamic_cast<DeviceTool*>(v.objectPtr())) return t->handleFor(doc);
    return 0;
}

int num(const xb::Value& v, int dflt = 0) {
    return v.isNum() ? static_cast<int>(std::lround(v.asNumber())) : dflt;
}

// A text of the scripts (code page 1252) as the document takes it: each byte
// is one character of the table below, made once from the code page's own
// conversion; none of them goes beyond one UTF-16 unit.
QString text(const xb::Value& v) {
    static const std::array<char16_t, 256> unicode = [] {
        std::array<char16_t, 256> t{};
        for (int c = 0; c < 256; ++c) {
            const QString one = QString::fromStdString(xb::cp1252ToUtf8(std::string(1, char(c))));
            t[static_cast<size_t>(c)] = one.size() == 1 ? one[0].unicode() : u'\xfffd';
        }
        return t;
    }();
    const std::string made = v.isString() ? std::string() : v.toText();
    const std::string& s = v.isString() ? v.asString() : made;
    QString out(static_cast<qsizetype>(s.size()), Qt::Uninitialized);
    char16_t* to = reinterpret_cast<char16_t*>(out.data());
    for (unsigned char c : s) *to++ = unicode[c];
    return out;
}

// Colours of the scripts are RGB numbers as the Windows API packs them.
QColor colour(const xb::Value& v) {
    if (!v.isNum()) return Qt::black;
    unsigned c = static_cast<unsigned>(v.asNumber());
    return QColor(c & 0xff, (c >> 8) & 0xff, (c >> 16) & 0xff);
}

print::Align pad(const xb::Value& v) {
    int p = num(v);
    return p == 1 ? print::Align::Right : p == 2 ? print::Align::Center : print::Align::Left;
}

// A printout that cannot be made is an ordinary situation (no printer, a
// printer gone, a full disk): the user is told, and the report is given up
// for the one who started it to go back to where the user was.
[[noreturn]] void giveUp(const std::string& why) {
    data::CGBELL();
    data::alertDialog(why, "Atenci\xf3n.....", {"&Aceptar"});
    throw xb::Abandon(why);
}

// The page header (ENCABEZADO) runs at every page. Its lines are read once
// for each document begun, and kept where the script runner looks first (the
// script's cache variable), so that a report of thousands of pages does not
// look for it, loose file then store, at each one, while an edited header
// takes effect at the next report.
int g_begun = 0;  // documents begun by PRINTBEGIN
struct {
    int begun = -1;
    std::string key;
    bool ours = false;  // the variable was made here (not kept by _FORM)
} g_header;

void forgetHeaderLines() {
    if (g_header.ours && xb::varExists(g_header.key)) xb::releaseVar(g_header.key);
    g_header.begun = -1;
    g_header.key.clear();
    g_header.ours = false;
}

void keepHeaderLines(const std::string& script) {
    const std::string key = scriptCacheVariable(script);
    if (key.empty() || (g_header.begun == g_begun && g_header.key == key)) return;
    forgetHeaderLines();
    g_header.begun = g_begun;
    g_header.key = key;
    if (xb::varExists(key)) return;
    ScriptText found = findScript(script, false);
    if (found.source == Source::None || found.text.empty()) return;  // EJECUTAR tells
    xb::Value lines = xb::Value::newArray();
    for (std::string& l : scriptLines(found.text))
        lines.arrayPtr()->items.push_back(xb::Value::str(std::move(l)));
    xb::createPublic(key, lines);
    xb::assignVar(key, lines);
    g_header.ours = true;
}

[[noreturn]] void noDevice(std::string_view what) {
    xb::raiseBreak(xb::makeError(xb::gen::Arg, 2001, "No hay documento de impresi\xf3n abierto",
                                 std::string(what)));
}

print::Document* deviceArg(const xb::Value& v, std::string_view fn) {
    print::Document* d = documentOf(v);
    if (!d) noDevice(fn);
    return d;
}

}  // namespace

print::Document& PrinterObject::doc(std::string_view message) {
    if (!doc_) noDevice(message);
    return *doc_;
}

bool PrinterObject::send(std::string_view m, xb::Args& a, xb::Value& r) {
    r = xb::Value();
    if (m == "STARTPAGE") {
        doc(m).startPage();
    } else if (m == "ENDPAGE") {
        doc(m).endPage();
    } else if (m == "SAY" || m == "CMSAY") {
        print::Document& d = doc(m);
        int font = toolHandle(a[3], &d);
        int row = m == "SAY" ? num(a[0]) : d.cmToRow(a[0].asNumber());
        int col = m == "SAY" ? num(a[1]) : d.cmToCol(a[1].asNumber());
        r = xb::Value::integer(d.say(row, col, text(a[2]), font, pad(a[7]), colour(a[5])));
    } else if (m == "BOX" || m == "LINE") {
        print::Document& d = doc(m);
        int pen = toolHandle(a[4], &d);
        if (m == "BOX")
            d.box(num(a[0]), num(a[1]), num(a[2]), num(a[3]), pen);
        else
            d.line(num(a[0]), num(a[1]), num(a[2]), num(a[3]), pen);
    } else if (m == "END" || m == "PREVIEW") {
        if (doc_) {
            // Drawn whole: from here on the preview or the printer has it.
            RunProgress::finished();
            forgetHeaderLines();
            bool ok = doc_->finish();
            QString why = doc_->error();
            doc_.reset();
            if (!ok) giveUp(xb::utf8ToCp1252(why.toStdString()));
        }
    } else if (m == "NVERTRES") {
        r = xb::Value::integer(doc(m).pageHeight());
    } else if (m == "NHORZRES") {
        r = xb::Value::integer(doc(m).pageWidth());
    } else if (m == "NLOGPIXELY") {
        r = xb::Value::integer(doc(m).resolutionY());
    } else if (m == "NLOGPIXELX") {
        r = xb::Value::integer(doc(m).resolutionX());
    } else if (m == "NVERTSIZE") {
        r = xb::Value::num(doc(m).sizeMmY(), 10, 2);
    } else if (m == "NHORZSIZE") {
        r = xb::Value::num(doc(m).sizeMmX(), 10, 2);
    } else if (m == "NYOFFSET") {
        r = xb::Value::integer(doc(m).offsetY());
    } else if (m == "NXOFFSET") {
        r = xb::Value::integer(doc(m).offsetX());
    } else if (m == "GETTEXTWIDTH") {
        print::Document& d = doc(m);
        r = xb::Value::integer(d.textWidth(text(a[0]), toolHandle(a[1], &d)));
    } else if (m == "GETTEXTHEIGHT") {
        print::Document& d = doc(m);
        r = xb::Value::integer(d.lineHeight(toolHandle(a[1], &d)));
    } else if (m == "NPAGE") {
        r = xb::Value::integer(doc(m).pageCount());
    } else if (m == "CDOCUMENT") {
        r = xb::Value::str(xb::utf8ToCp1252(doc(m).options().name.toStdString()));
    } else if (m == "LPREVIEW") {
        r = xb::Value::logical(doc(m).options().output == print::Output::Preview);
    } else {
        return false;
    }
    return true;
}

bool PrinterObject::assign(std::string_view, const xb::Value&) {
    return false;
}

print::Document* documentOf(const xb::Value& printer) {
    auto* p = dynamic_cast<PrinterObject*>(printer.objectPtr());
    return p ? p->document() : nullptr;
}

void dropOpenDocument() {
    xb::Value oprn;
    if (!xb::getVar("OPRN", oprn)) return;
    if (auto* p = dynamic_cast<PrinterObject*>(oprn.objectPtr())) p->drop();
    forgetHeaderLines();
}

xb::Value PRINTBEGIN(const std::string& name, bool preview) {
    auto doc = print::Document::create(QString::fromStdString(xb::cp1252ToUtf8(name)),
                                       preview ? print::Output::Preview : print::Output::Printer);
    if (!doc) giveUp("No hay ninguna impresora instalada");
    ++g_begun;
    // A run from the program's windows shows its preview while it draws.
    if (preview && RunProgress::current()) doc->previewWhileDrawing();
    return xb::Value::object(std::make_shared<PrinterObject>(std::move(doc)));
}

void registerPrinterFunctions() {
    xb::registerFunction("PRINTBEGIN", [](xb::Args& a) {
        bool preview = true;
        xb::Value p;
        if (a[2].isLogical())
            preview = a[2].asLogical();
        else if (a[1].isLogical() && a.size() == 2)
            preview = a[1].asLogical();
        else if (xb::getVar("MPREVW", p) && p.isLogical())
            preview = p.asLogical();
        return PRINTBEGIN(a[0].isString() ? a[0].asString() : "Informe", preview);
    });
    xb::registerFunction("ACTIVAFONT", [](xb::Args& a) {
        print::Document* d = deviceArg(a[3], "ACTIVAFONT");
        int w = num(a[1]), h = num(a[2], 10);
        int handle =
            d->addFont(text(a[0]), std::abs(w), std::abs(h), a[4].asLogical(), a[5].asLogical());
        // A negative height is the characters' own; a positive one is the
        // cell's, leading space included, as fonts have always taken them.
        if (h > 0) d->fitCellHeight(handle, h);
        return xb::Value::object(std::make_shared<DeviceTool>("TFONT", d, handle, w, h));
    });
    xb::registerFunction("ACTIVAPEN", [](xb::Args& a) {
        print::Document* d = deviceArg(a[0], "ACTIVAPEN");
        int w = num(a[1], 1), style = num(a[2], 0);
        int handle = d->addPen(w, style);
        return xb::Value::object(std::make_shared<DeviceTool>("TPEN", d, handle, w, style));
    });
    // Mode 1 (the default): centimetres converted corner by corner; mode 2:
    // device pixels as given; any other mode draws nothing.
    auto shape = [](bool isBox) {
        return [isBox](xb::Args& a) {
            print::Document* d = deviceArg(a[4], isBox ? "CAJARECT" : "LINEA");
            int mode = num(a[6], 1);
            int t, l, b, r;
            if (mode == 1) {
                t = d->cmToRow(a[0].asNumber());
                l = d->cmToCol(a[1].asNumber());
                b = d->cmToRow(a[2].asNumber());
                r = d->cmToCol(a[3].asNumber());
            } else if (mode == 2) {
                t = num(a[0]), l = num(a[1]), b = num(a[2]), r = num(a[3]);
            } else {
                return xb::Value();
            }
            int pen = toolHandle(a[5], d);
            if (isBox)
                d->box(t, l, b, r, pen);
            else
                d->line(t, l, b, r, pen);
            return xb::Value();
        };
    };
    xb::registerFunction("CAJARECT", shape(true));
    xb::registerFunction("LINEA", shape(false));
    // A page header shared by several reports: CDIRRPO names its folder, a
    // folder below the script folder (the script folder itself counts as
    // none); the runner refuses one that leads out of it.
    xb::registerFunction("ENCABEZADO", [](xb::Args& a) {
        std::string name = a[0].isString() ? a[0].asString() : std::string();
        xb::Value dir;
        std::string prefix;
        if (xb::getVar("CDIRRPO", dir) && dir.isString()) prefix = dir.asString();
        std::string p = xb::upper1252(prefix);
        while (!p.empty() && p.back() == ' ') p.pop_back();
        for (const char* folder : {"PRUEBA\\", ".\\PRUEBA\\", "PRUEBA/", "./PRUEBA/"})
            if (p == folder) p.clear();
        const std::string script = p + name;
        keepHeaderLines(script);
        xb::ArgList args{xb::Value::str(script)};
        xb::callFunction("EJECUTAR", args);
        return xb::Value();
    });
}

}  // namespace reports
