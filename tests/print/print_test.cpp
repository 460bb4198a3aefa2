// The printing layer as its users see it: real PDF files, read back with
// poppler's pdftotext and pdfinfo, pages rendered to pictures, and jobs sent
// to a real printer (ippeveprinter, of cups-ipp-utils) that keeps what it
// receives.
#include <arpa/inet.h>
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QWidget>
#include <cstring>
#include <filesystem>

#include "application.h"
#include "pdf_text.h"
#include "print/document.h"
#include "print/listreport.h"
#include "print/preview.h"

namespace {

class QtEnv : public ::testing::Environment {
  public:
    void SetUp() override { testsupport::application(); }
};
const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new QtEnv);

using testsupport::pdfText;
using testsupport::runProgram;

int pdfPages(const QString& pdf) {
    const QString info = runProgram(QStringLiteral("pdfinfo"), {pdf}).out;
    for (const QString& line : info.split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("Pages:"))) return line.mid(6).trimmed().toInt();
    return -1;
}

// The page rendered at 50 dpi, for looking at where ink fell.
QImage pdfPage(const QString& pdf, int page, const QString& dir) {
    const QString base = dir + QStringLiteral("/page");
    runProgram(QStringLiteral("pdftoppm"),
               {QStringLiteral("-r"), QStringLiteral("50"), QStringLiteral("-f"),
                QString::number(page), QStringLiteral("-l"), QString::number(page),
                QStringLiteral("-png"), QStringLiteral("-singlefile"), pdf, base});
    return QImage(base + QStringLiteral(".png"));
}

bool darkAt(const QImage& img, int x, int y) {
    return qGray(img.pixel(x, y)) < 128;
}

// ------------------------------------------------------------ a real printer

// Where a program of the system is, also in the administrators' folders
// (ippeveprinter is in /usr/sbin); empty when it is not installed.
QString systemProgram(const QString& name) {
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(
            name,
            {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"), QStringLiteral("/usr/bin")});
    return path;
}

// A port of this machine no one listens on (as the system gives it now).
quint16 freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof at;
    quint16 port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&at), size) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&at), &size) == 0)
        port = ntohs(at.sin_port);
    if (fd >= 0) ::close(fd);
    return port;
}

// A document for the printer at `uri`, named `name`.
std::unique_ptr<print::Document> printerDocument(const QString& name, const QString& uri) {
    print::Options o;
    o.name = name;
    o.output = print::Output::Printer;
    o.printerName = uri;
    return print::Document::create(o);
}

// A printer of our own: ippeveprinter (cups-ipp-utils) on a free port of this
// machine, a printer that takes PDF documents and keeps each one it receives
// in its spool folder. It wants a message bus to announce itself on; it gets
// a private one, from dbus-daemon, with nothing else on it.
class TestPrinter {
  public:
    static QString program() { return systemProgram(QStringLiteral("ippeveprinter")); }

    ~TestPrinter() {
        for (QProcess* p : {&printer_, &bus_})
            if (p->state() != QProcess::NotRunning) {
                p->terminate();
                if (!p->waitForFinished(5000)) {
                    p->kill();
                    p->waitForFinished();
                }
            }
    }

    // Starts the printer with its files in `dir`, taking documents of
    // `format`; false, with why(), when it does not answer.
    bool start(const QString& dir, const QString& format = QStringLiteral("application/pdf")) {
        spool_ = dir + QStringLiteral("/spool");
        QDir().mkpath(spool_);
        const QString socket = dir + QStringLiteral("/bus");
        // Both end with the test, even one that crashed.
        for (QProcess* p : {&bus_, &printer_})
            p->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        bus_.setProgram(systemProgram(QStringLiteral("dbus-daemon")));
        bus_.setArguments({QStringLiteral("--session"), QStringLiteral("--nofork"),
                           QStringLiteral("--address=unix:path=") + socket});
        bus_.start();
        if (!bus_.waitForStarted() || !waitFor([&] { return QFile::exists(socket); }))
            return failed(QStringLiteral("dbus-daemon no arranca"));
        port_ = freePort();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"),
                   QStringLiteral("unix:path=") + socket);
        printer_.setProcessEnvironment(env);
        printer_.setProcessChannelMode(QProcess::MergedChannels);
        log_ = dir + QStringLiteral("/printer.log");
        printer_.setStandardOutputFile(log_);
        printer_.setProgram(program());
        printer_.setArguments({QStringLiteral("-r"), QStringLiteral("off"), QStringLiteral("-n"),
                               QStringLiteral("localhost"), QStringLiteral("-p"),
                               QString::number(port_), QStringLiteral("-d"), spool_,
                               QStringLiteral("-k"), QStringLiteral("-f"), format,
                               QStringLiteral("Prueba")});
        printer_.start();
        if (!printer_.waitForStarted()) return failed(QStringLiteral("ippeveprinter no arranca"));
        const bool up = waitFor([&] {
            if (printer_.state() == QProcess::NotRunning) return true;
            http_t* http = httpConnect2("localhost", port_, nullptr, AF_UNSPEC,
                                        HTTP_ENCRYPTION_NEVER, 1, 500, nullptr);
            if (http) httpClose(http);
            return http != nullptr;
        });
        if (!up || printer_.state() == QProcess::NotRunning)
            return failed(QStringLiteral("ippeveprinter no responde: ") + log());
        return true;
    }
    QString uri() const { return QStringLiteral("ipp://localhost:%1/ipp/print").arg(port_); }
    const QString& why() const { return why_; }
    // What the printer said on its standard error.
    QString log() const {
        QFile f(log_);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    // The documents received, and the bytes of them.
    QStringList received() const {
        QStringList files;
        for (const QFileInfo& f : QDir(spool_).entryInfoList(QDir::Files, QDir::Name))
            files << f.filePath();
        return files;
    }
    qint64 receivedBytes() const {
        qint64 bytes = 0;
        for (const QString& f : received()) bytes += QFileInfo(f).size();
        return bytes;
    }

    // The printer's jobs as it tells them: number, state and name.
    struct Job {
        int id = 0;
        ipp_jstate_t state = IPP_JSTATE_PENDING;
        QString name;
    };
    std::vector<Job> jobs() const {
        std::vector<Job> out;
        http_t* http = httpConnect2("localhost", port_, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_NEVER,
                                    1, 5000, nullptr);
        if (!http) return out;
        ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
        const QByteArray printer = uri().toUtf8();
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                     printer.constData());
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
        static const char* const wanted[] = {"job-id", "job-state", "job-name"};
        ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3,
                      nullptr, wanted);
        ipp_t* response = cupsDoRequest(http, request, "/ipp/print");
        // Each job is a group of its own; the groups part at separators.
        bool inJob = false;
        for (ipp_attribute_t* a = ippFirstAttribute(response); a; a = ippNextAttribute(response)) {
            const char* name = ippGetName(a);
            if (ippGetGroupTag(a) != IPP_TAG_JOB || !name) {
                inJob = false;
                continue;
            }
            if (!inJob) out.emplace_back();
            inJob = true;
            if (!std::strcmp(name, "job-id")) out.back().id = ippGetInteger(a, 0);
            if (!std::strcmp(name, "job-state"))
                out.back().state = static_cast<ipp_jstate_t>(ippGetInteger(a, 0));
            if (!std::strcmp(name, "job-name"))
                out.back().name = QString::fromUtf8(ippGetString(a, 0, nullptr));
        }
        ippDelete(response);
        httpClose(http);
        return out;
    }
    // Waits for the printer's one job to reach `state`; true when it did.
    bool jobReaches(ipp_jstate_t state) const {
        return waitFor([&] {
            const auto all = jobs();
            return all.size() == 1 && all[0].state == state;
        });
    }
    // Waits, a while at most, for `done` to turn true; true when it did.
    template <typename F>
    static bool waitFor(F done) {
        for (int i = 0; i < 1200; ++i) {
            if (done()) return true;
            QThread::msleep(50);
        }
        return done();
    }

  private:
    bool failed(const QString& why) {
        why_ = why;
        return false;
    }
    QProcess bus_, printer_;
    QString spool_, why_, log_;
    quint16 port_ = 0;
};

// The printer of the test, or a skip when there is none to start: allowed
// only outside CI, where the machine may lack cups-ipp-utils.
#define START_TEST_PRINTER(printer, ...)                                                      \
    if (TestPrinter::program().isEmpty() && qEnvironmentVariableIsEmpty("CI"))                \
        GTEST_SKIP() << "ippeveprinter (cups-ipp-utils) no está instalado";                   \
    ASSERT_FALSE(TestPrinter::program().isEmpty()) << "ippeveprinter (cups-ipp-utils) falta"; \
    ASSERT_TRUE(printer.start(__VA_ARGS__)) << printer.why().toStdString()

// The text of each page of a PDF, as pdftotext reads it.
QStringList pdfPageTexts(const QString& pdf) {
    QStringList pages =
        runProgram(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")}).out.split(QChar('\f'));
    if (!pages.isEmpty() && pages.last().trimmed().isEmpty()) pages.removeLast();
    for (QString& p : pages) p = p.simplified();
    return pages;
}

class PrintTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        print::setUnattendedPdf({});
    }
    QString file(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    QTemporaryDir dir;
};

TEST_F(PrintTest, ListReportPrintsTitleHeadersCaptionsRowsAndNumberedPages) {
    const QString pdf = file("list.pdf");
    auto doc = print::Document::create(QStringLiteral("Listado"), print::Output::Pdf, pdf);
    ASSERT_TRUE(doc);
    const int bold = doc->addFont(QStringLiteral("Arial"), 0, 10, true);
    print::ListReportSpec layout;
    layout.title = QStringLiteral("Fichero:   CLIENTES");
    layout.headerLeft = {QStringLiteral("Fecha: 09-12-2026, Hora: 10:11:12"),
                         QStringLiteral("Compañía Ñandú")};
    layout.footer = [](int page) {
        return QStringLiteral("Página: %1").arg(page, 3, 10, QLatin1Char(' '));
    };
    layout.headingFont = bold;
    layout.columns = {{QStringLiteral("NOMBRE"), 20, print::Align::Left},
                      {QStringLiteral("IMPORTE"), 14, print::Align::Right}};
    {
        print::ListReport list(*doc, layout);
        for (int i = 1; i <= 150; ++i)
            list.addRow(
                {QStringLiteral("Cliente %1").arg(i), QStringLiteral("%1.50").arg(i * 1000)});
        EXPECT_EQ(list.rows(), 150);
        EXPECT_GT(list.pages(), 1);
    }
    ASSERT_TRUE(doc->finish()) << doc->error().toStdString();
    EXPECT_EQ(doc->pdfWritten(), pdf);

    const int pages = pdfPages(pdf);
    EXPECT_EQ(pages, doc->pageCount());
    ASSERT_GT(pages, 1);
    const QString text = pdfText(pdf);
    EXPECT_EQ(text.count(QStringLiteral("Fichero: CLIENTES")), pages) << text.toStdString();
    EXPECT_EQ(text.count(QStringLiteral("Compañía Ñandú")), pages);
    EXPECT_EQ(text.count(QStringLiteral("NOMBRE")), pages);
    for (int p = 1; p <= pages; ++p)
        EXPECT_TRUE(text.contains(QStringLiteral("Página: %1").arg(p))) << p;
    // Every row once, in order.
    qsizetype at = 0;
    for (int i = 1; i <= 150; ++i) {
        const qsizetype found =
            text.indexOf(QRegularExpression(QStringLiteral("Cliente %1\\s").arg(i)), at);
        ASSERT_GE(found, at) << "row " << i;
        at = found;
    }
    EXPECT_TRUE(text.contains(QStringLiteral("150000.50")));
}

TEST_F(PrintTest, EmptyListStillPrintsItsHeadingsOnOnePage) {
    const QString pdf = file("empty.pdf");
    auto doc = print::Document::create(QStringLiteral("Prueba"), print::Output::Pdf, pdf);
    print::ListReportSpec layout;
    layout.title = QStringLiteral("Sin registros");
    layout.columns = {{QStringLiteral("CAMPO"), 10}};
    print::ListReport(*doc, layout).close();
    ASSERT_TRUE(doc->finish());
    EXPECT_EQ(pdfPages(pdf), 1);
    EXPECT_TRUE(pdfText(pdf).contains(QStringLiteral("Sin registros")));
}

TEST_F(PrintTest, LongCellsWrapInTheirColumnAndTextIsBrokenIntoLines) {
    const QStringList lines = print::breakLines(QStringLiteral("abcdefghij\r\n12345\rxy\n"), 4);
    EXPECT_EQ(lines, (QStringList{"abcd", "efgh", "ij", "1234", "5", "xy", ""}));
    EXPECT_EQ(print::breakLines(QString(), 10), QStringList{QString()});

    // Cells wider than their column, in characters wider than "0" too: every
    // character is printed, words kept whole where a blank allows, and the
    // next row starts below the last line of the tallest cell.
    const QString pdf = file("wrap.pdf");
    auto doc = print::Document::create(QStringLiteral("Prueba"), print::Output::Pdf, pdf);
    print::ListReportSpec layout;
    layout.columns = {
        {QStringLiteral("A"), 5}, {QStringLiteral("B"), 8}, {QStringLiteral("C"), 65}};
    {
        print::ListReport list(*doc, layout);
        list.addRow({QStringLiteral("XXXXXXXXXXXXXXXXXXXX"), QStringLiteral("EMP00001"),
                     QString(65, QLatin1Char('M'))});
        list.addRow({QStringLiteral("uno dos tres"), QStringLiteral("fin"),
                     QStringLiteral("ERROR EN TRIM(")});
        list.addRow({QStringLiteral("zz")});
        EXPECT_EQ(list.rows(), 3);
    }
    ASSERT_TRUE(doc->finish());
    const QString text = pdfText(pdf);
    EXPECT_EQ(text.count(QLatin1Char('X')), 20) << text.toStdString();
    EXPECT_EQ(text.count(QLatin1Char('M')), 65 + 2) << text.toStdString();  // EMP, TRIM
    EXPECT_EQ(text.count(QStringLiteral("EMP")), 1);
    EXPECT_EQ(text.count(QLatin1Char('0')), 4);
    EXPECT_EQ(text.count(QLatin1Char('1')), 1);
    for (const char* word : {"uno", "dos", "tres", "fin", "TRIM("})
        EXPECT_TRUE(text.contains(
            QRegularExpression(QStringLiteral("\\b%1(\\s|$)")
                                   .arg(QRegularExpression::escape(QString::fromLatin1(word))))))
            << word << "\n"
            << text.toStdString();
    EXPECT_GT(text.indexOf(QStringLiteral("uno")), text.lastIndexOf(QLatin1Char('X')));
    EXPECT_GT(text.indexOf(QStringLiteral("zz")), text.lastIndexOf(QLatin1Char('M')));
    EXPECT_GT(text.indexOf(QStringLiteral("zz")), text.indexOf(QStringLiteral("tres")));
}

TEST_F(PrintTest, BoxesAndLinesLandWhereTheirCentimetresSay) {
    const QString pdf = file("shapes.pdf");
    auto doc = print::Document::create(QStringLiteral("Prueba"), print::Output::Pdf, pdf);
    // The conversion: cm from the paper's edge x 10 x pixels per mm, less the
    // border the printer does not print in, clamped at 0.
    EXPECT_GT(doc->offsetX(), 0);
    EXPECT_EQ(doc->cmToCol(2.54), print::Document::kDpi - doc->offsetX());
    EXPECT_EQ(doc->cmToRow(0), 0);
    EXPECT_EQ(doc->cmToRow(-3), 0);
    const int thick = doc->addPen(12);
    doc->box(doc->cmToRow(5), doc->cmToCol(5), doc->cmToRow(10), doc->cmToCol(15), thick);
    doc->line(doc->cmToRow(20), 0, doc->cmToRow(20), doc->pageWidth(), thick);
    ASSERT_TRUE(doc->finish());
    const QImage img = pdfPage(pdf, 1, dir.path());
    ASSERT_FALSE(img.isNull());
    const double pxPerCm = 50 / 2.54;
    auto at = [&](double xcm, double ycm) {
        return darkAt(img, int(xcm * pxPerCm), int(ycm * pxPerCm));
    };
    EXPECT_TRUE(at(5, 7.5));    // left edge of the box
    EXPECT_TRUE(at(15, 7.5));   // right edge
    EXPECT_TRUE(at(10, 5));     // top edge
    EXPECT_FALSE(at(10, 7.5));  // inside: boxes are not filled
    EXPECT_TRUE(at(3, 20));     // the line across
    EXPECT_FALSE(at(3, 15));
}

TEST_F(PrintTest, FontsKeepTheirStyleAndTextAlignsRightAtItsColumn) {
    const QString pdf = file("fonts.pdf");
    auto doc = print::Document::create(QStringLiteral("Apaisado"), print::Output::Pdf, pdf,
                                       print::Orientation::Landscape);
    EXPECT_GT(doc->pageWidth(), doc->pageHeight());
    const int big = doc->addFont(QStringLiteral("Times New Roman"), 0, -24, true, true);
    EXPECT_TRUE(doc->font(big).bold());
    EXPECT_TRUE(doc->font(big).italic());
    EXPECT_GT(doc->lineHeight(big), doc->lineHeight(0) * 2);
    const int w = doc->say(300, 1000, QStringLiteral("Derecha"), big, print::Align::Right);
    EXPECT_EQ(w, doc->textWidth(QStringLiteral("Derecha"), big));
    doc->startPage();
    doc->say(300, 300, QStringLiteral("Segunda hoja"));
    ASSERT_TRUE(doc->finish());
    EXPECT_EQ(pdfPages(pdf), 2);
    const QString text = pdfText(pdf);
    EXPECT_TRUE(text.contains(QStringLiteral("Derecha")));
    EXPECT_TRUE(text.contains(QStringLiteral("Segunda hoja")));
}

// What the PDF writer puts in the file: texts in every face, readable back
// with their accents; the faces embedded as subsets; the sheet turned; and
// the page, rendered, where the painter draws the same page.
TEST_F(PrintTest, PdfEmbedsTheFacesUsedAndLooksLikeThePaintedPage) {
    const QString accents = QStringLiteral("ÑÁÉÍÓÚáéíóúñü¿¡€");
    auto draw = [&](print::Document& doc) {
        const int bold = doc.addFont(QStringLiteral("Arial"), 0, 14, true);
        const int italic = doc.addFont(QStringLiteral("Times New Roman"), 0, 14, false, true);
        const int mono = doc.addFont(QStringLiteral("Courier New"), 0, 12, true, true);
        const int under = doc.addFont(QStringLiteral("Arial"), 0, 16, false, false, true);
        const int dejavu = doc.addFont(QStringLiteral("DejaVu Sans"), 0, 14);
        doc.say(100, 100, QStringLiteral("Normal ") + accents);
        doc.say(200, 100, QStringLiteral("Negrita ") + accents, bold);
        doc.say(300, 100, QStringLiteral("Cursiva ") + accents, italic);
        doc.say(400, 100, QStringLiteral("Fija ") + accents, mono);
        doc.say(500, 100, QStringLiteral("Subrayado"), under);
        doc.say(500, 2000, QStringLiteral("Fichero confirmado"), dejavu);  // a ligature
        doc.say(600, 100, QStringLiteral("Izquierda"));
        doc.say(600, 3000, QStringLiteral("Derecha"), 0, print::Align::Right, Qt::red);
        for (int style = 0; style <= 5; ++style)
            doc.line(800 + style * 60, 100, 800 + style * 60, 1500, doc.addPen(3, style));
        doc.box(800, 1700, 1200, 2400, doc.addPen(6, 0, Qt::blue));
        doc.fill(1300, 100, 1600, 900, QColor(0, 128, 0));
        doc.fill(1300, 1000, 1600, 1800, Qt::black);
        doc.startPage();
        doc.say(100, 100, QStringLiteral("Segunda hoja"));
    };

    const QString pdf = file("caras.pdf");
    auto doc = print::Document::create(QStringLiteral("Caras"), print::Output::Pdf, pdf,
                                       print::Orientation::Landscape);
    draw(*doc);
    ASSERT_TRUE(doc->finish()) << doc->error().toStdString();

    const QString info = runProgram(QStringLiteral("pdfinfo"), {pdf}).out;
    EXPECT_TRUE(info.contains(QRegularExpression(QStringLiteral("Page size:\\s+842 x 595 pts"))))
        << info.toStdString();
    EXPECT_TRUE(info.contains(QRegularExpression(QStringLiteral("Title:\\s+Caras\\n"))));
    EXPECT_TRUE(
        info.contains(QRegularExpression(QStringLiteral("Creator:\\s+Valdrosa Comercial"))));
    EXPECT_EQ(pdfPages(pdf), 2);

    const QStringList lines = pdfText(pdf).split(QLatin1Char('\n'));
    auto lineWith = [&](const QString& text) {
        for (int i = 0; i < lines.size(); ++i)
            if (lines[i].contains(text)) return i;
        return -1;
    };
    for (const char* face : {"Normal ", "Negrita ", "Cursiva ", "Fija "})
        EXPECT_GE(lineWith(QString::fromUtf8(face) + accents), 0) << face;
    EXPECT_LT(lineWith(QStringLiteral("Normal")), lineWith(QStringLiteral("Negrita")));
    EXPECT_LT(lineWith(QStringLiteral("Fija")), lineWith(QStringLiteral("Subrayado")));
    EXPECT_GE(lineWith(QStringLiteral("Fichero confirmado")), 0);
    EXPECT_GE(lineWith(QStringLiteral("Izquierda Derecha")), 0);
    EXPECT_GT(lineWith(QStringLiteral("Segunda hoja")), lineWith(QStringLiteral("Derecha")));

    // Every face embedded, as a subset, with its way back to the characters.
    const QStringList fonts =
        runProgram(QStringLiteral("pdffonts"), {pdf}).out.split(QLatin1Char('\n')).mid(2);
    int embedded = 0;
    for (const QString& f : fonts) {
        if (f.trimmed().isEmpty()) continue;
        EXPECT_TRUE(f.contains(QRegularExpression(
            QStringLiteral("^[A-Z]{6}\\+\\S+\\s+CID TrueType\\s+Identity-H\\s+yes yes yes"))))
            << f.toStdString();
        ++embedded;
    }
    EXPECT_GE(embedded, 5);  // Sans, Sans bold, Serif italic, Mono, DejaVu

    // The same page painted: ink where the PDF has ink, within a pixel.
    auto kept = print::Document::create(QStringLiteral("Caras"), print::Output::Preview, QString(),
                                        print::Orientation::Landscape);
    draw(*kept);
    kept->endPage();
    const double scale = 50.0 / print::Document::kDpi;
    const QImage rendered = pdfPage(pdf, 1, dir.path());
    ASSERT_FALSE(rendered.isNull());
    ASSERT_LE(std::abs(rendered.width() - kept->paperSize().width() * scale), 1);
    QImage painted(rendered.size(), QImage::Format_RGB32);
    painted.fill(Qt::white);
    {
        QPainter p(&painted);
        ASSERT_TRUE(kept->drawKept(0, p, scale));
    }
    auto inkNear = [](const QImage& img, int x, int y) {
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                const int px = x + dx, py = y + dy;
                if (px >= 0 && py >= 0 && px < img.width() && py < img.height() &&
                    qGray(img.pixel(px, py)) < 160)
                    return true;
            }
        return false;
    };
    if (const char* shots = std::getenv("VDR_SHOTS")) {
        painted.save(QString::fromLocal8Bit(shots) + QStringLiteral("/caras-pintada.png"));
        rendered.save(QString::fromLocal8Bit(shots) + QStringLiteral("/caras-pdf.png"));
    }
    int ink = 0, strays = 0;
    for (int y = 0; y < painted.height(); ++y)
        for (int x = 0; x < painted.width(); ++x) {
            const bool a = qGray(painted.pixel(x, y)) < 96, b = qGray(rendered.pixel(x, y)) < 96;
            ink += a;
            if ((a && !inkNear(rendered, x, y)) || (b && !inkNear(painted, x, y))) ++strays;
        }
    EXPECT_GT(ink, 5000);
    EXPECT_LT(strays, ink / 100) << "of " << ink;
    // The shapes in their colours: the green fill, the blue box's edge.
    const QRgb green = rendered.pixel(qRound((75 + 500) * scale), qRound((75 + 1450) * scale));
    EXPECT_TRUE(qGreen(green) > 100 && qRed(green) < 50 && qBlue(green) < 50);
    bool blue = false;
    for (int x = qRound((75 + 1700) * scale) - 2; x <= qRound((75 + 1700) * scale) + 2; ++x) {
        const QRgb c = rendered.pixel(x, qRound((75 + 1000) * scale));
        blue = blue || (qBlue(c) > 150 && qRed(c) < 100);
    }
    EXPECT_TRUE(blue);
    kept.reset();
}

TEST_F(PrintTest, UnattendedRunsTurnPreviewAndPrinterIntoPdfFiles) {
    print::setUnattendedPdf(dir.path());
    const qsizetype before = print::writtenPdfs().size();
    for (auto out : {print::Output::Preview, print::Output::Printer}) {
        auto doc = print::Document::create(QStringLiteral("Informe x/y"), out);
        ASSERT_TRUE(doc);
        doc->say(100, 100, QStringLiteral("sin diálogo"));
        ASSERT_TRUE(doc->finish());
        EXPECT_TRUE(QFile::exists(doc->pdfWritten()));
        EXPECT_TRUE(doc->pdfWritten().startsWith(dir.path()));
        EXPECT_TRUE(pdfText(doc->pdfWritten()).contains(QStringLiteral("sin diálogo")));
    }
    EXPECT_EQ(print::writtenPdfs().size(), before + 2);
    print::setUnattendedPdf({});
}

TEST_F(PrintTest, LongDocumentsReachTheirFileAsPagesEndAndOnlyAFinishedOneTakesItsName) {
    const QString pdf = file("largo.pdf");
    // Bytes written in the folder under no final name yet: files of other
    // names, and files of this process that have no name at all (the system
    // may create a temporary file unnamed and give it its name at the end).
    auto pending = [&](const QString& final) {
        qint64 bytes = 0;
        for (const QFileInfo& f : QDir(dir.path()).entryInfoList(QDir::Files))
            if (f.fileName() != final) bytes += f.size();
        for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code ec;
            const std::string target = std::filesystem::read_symlink(fd.path(), ec).string();
            struct stat st {};
            if (!ec && target.rfind(dir.path().toStdString() + "/", 0) == 0 &&
                target.find(" (deleted)") != std::string::npos &&
                ::stat(fd.path().c_str(), &st) == 0)
                bytes += st.st_size;
        }
        return bytes;
    };
    auto doc = print::Document::create(QStringLiteral("Largo"), print::Output::Pdf, pdf);
    std::vector<qint64> sizes;
    for (int p = 1; p <= 90; ++p) {
        doc->startPage();
        for (int l = 0; l < 60; ++l)
            doc->say(100 + l * 50, 100, QStringLiteral("Página %1, línea %2").arg(p).arg(l));
        doc->endPage();
        if (p % 30 == 0) sizes.push_back(pending(QString()));
    }
    EXPECT_FALSE(QFile::exists(pdf));
    EXPECT_LT(0, sizes[0]);
    EXPECT_LT(sizes[0], sizes[1]);
    EXPECT_LT(sizes[1], sizes[2]);
    ASSERT_TRUE(doc->finish()) << doc->error().toStdString();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("largo.pdf")});
    EXPECT_EQ(pdfPages(pdf), 90);
    EXPECT_EQ(doc->pageCount(), 90);
    const QString text = pdfText(pdf);
    EXPECT_TRUE(text.contains(QStringLiteral("Página 1, línea 0")));
    EXPECT_TRUE(text.contains(QStringLiteral("Página 90, línea 59")));

    // A document given up before finish() leaves nothing, under any name.
    const QString other = file("abandonado.pdf");
    {
        auto gone = print::Document::create(QStringLiteral("Otro"), print::Output::Pdf, other);
        for (int p = 1; p <= 30; ++p) {
            for (int l = 0; l < 60; ++l)
                gone->say(100 + l * 50, 100, QStringLiteral("Hoja %1, línea %2").arg(p).arg(l));
            gone->endPage();
        }
        EXPECT_GT(pending(QStringLiteral("largo.pdf")), 0);
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("largo.pdf")});
    EXPECT_EQ(pending(QStringLiteral("largo.pdf")), 0);
}

TEST_F(PrintTest, MissingPrinterOrUnwritablePdfIsReportedNotCrashed) {
    EXPECT_FALSE([] {
        print::Options o;
        o.output = print::Output::Printer;
        o.printerName = QStringLiteral("NoExisteImpresora");
        return print::Document::create(o);
    }());
    auto doc = print::Document::create(QStringLiteral("x"), print::Output::Pdf,
                                       QStringLiteral("/nonexistent/dir/x.pdf"));
    doc->say(0, 0, QStringLiteral("x"));
    EXPECT_FALSE(doc->finish());
    EXPECT_FALSE(doc->error().isEmpty());

    // A printer's address where no printer answers: the document is had, and
    // fails at finish() with the reason, in Spanish.
    const QString nowhere = QStringLiteral("ipp://127.0.0.1:%1/ipp/print").arg(freePort());
    auto none = printerDocument(QStringLiteral("Sin impresora"), nowhere);
    ASSERT_TRUE(none);
    for (int p = 1; p <= 3; ++p) {
        none->say(100, 100, QStringLiteral("Hoja %1").arg(p));
        none->endPage();
    }
    EXPECT_FALSE(none->finish());
    EXPECT_TRUE(none->error().contains(QStringLiteral("impresora"))) << none->error().toStdString();
    EXPECT_TRUE(none->error().contains(nowhere)) << none->error().toStdString();
}

TEST_F(PrintTest, PrinterHasEachPageAsItEndsAndPrintsTheWholeDocument) {
    TestPrinter printer;
    START_TEST_PRINTER(printer, dir.path());
    const QString name = QStringLiteral("Cuarenta páginas");
    auto doc = printerDocument(name, printer.uri());
    ASSERT_TRUE(doc);
    qint64 early = 0;
    for (int p = 1; p <= 40; ++p) {
        doc->startPage();
        doc->say(100, 100, QStringLiteral("Página %1 de 40").arg(p));
        for (int l = 1; l <= 40; ++l)
            doc->say(200 + l * 60, 100, QStringLiteral("Línea %1 de la hoja %2").arg(l).arg(p));
        doc->endPage();
        if (p == 10) {
            // Long before finish() the job is on the printer, under the
            // document's name, and has the pages that ended.
            ASSERT_TRUE(TestPrinter::waitFor([&] { return printer.receivedBytes() > 0; }));
            early = printer.receivedBytes();
            const auto jobs = printer.jobs();
            ASSERT_EQ(jobs.size(), 1u);
            EXPECT_EQ(jobs[0].name, name);
            EXPECT_LT(jobs[0].state, IPP_JSTATE_CANCELED);
        }
        if (p == 30) {
            EXPECT_TRUE(TestPrinter::waitFor([&] { return printer.receivedBytes() > early; }));
        }
    }
    ASSERT_TRUE(doc->finish()) << doc->error().toStdString();
    ASSERT_EQ(printer.received().size(), 1);
    const QString got = printer.received()[0];
    EXPECT_TRUE(TestPrinter::waitFor([&] { return pdfPages(got) == 40; }));
    const QStringList pages = pdfPageTexts(got);
    ASSERT_EQ(pages.size(), 40);
    for (int p = 1; p <= 40; ++p) {
        EXPECT_TRUE(pages[p - 1].startsWith(QStringLiteral("Página %1 de 40").arg(p)))
            << pages[p - 1].left(80).toStdString();
        EXPECT_TRUE(pages[p - 1].endsWith(QStringLiteral("Línea 40 de la hoja %1").arg(p)));
    }
    EXPECT_TRUE(printer.jobReaches(IPP_JSTATE_COMPLETED));
}

TEST_F(PrintTest, PrinterJobOfADocumentGivenUpIsCancelledAndOneRefusedIsReported) {
    TestPrinter printer;
    START_TEST_PRINTER(printer, dir.path());
    {
        auto doc = printerDocument(QStringLiteral("Abandonado"), printer.uri());
        ASSERT_TRUE(doc);
        for (int p = 1; p <= 5; ++p) {
            doc->say(100, 100, QStringLiteral("Hoja %1").arg(p));
            doc->endPage();
        }
        ASSERT_TRUE(TestPrinter::waitFor([&] { return printer.jobs().size() == 1; }));
    }
    EXPECT_TRUE(printer.jobReaches(IPP_JSTATE_CANCELED))
        << (printer.jobs().empty() ? -1 : printer.jobs()[0].state);

    // A printer that takes no PDF refuses the document: finish() says so.
    TestPrinter other;
    START_TEST_PRINTER(other, dir.filePath(QStringLiteral("otra")),
                       QStringLiteral("application/postscript"));
    auto doc = printerDocument(QStringLiteral("Rechazado"), other.uri());
    ASSERT_TRUE(doc);
    doc->say(100, 100, QStringLiteral("Hoja 1"));
    EXPECT_FALSE(doc->finish());
    EXPECT_TRUE(doc->error().startsWith(
        QStringLiteral("La impresora %1 no ha aceptado el trabajo").arg(other.uri())))
        << doc->error().toStdString();
}

TEST_F(PrintTest, PreviewShowsThePagesAndClosesWhenTheObserverSaysSo) {
    auto doc = print::Document::create(QStringLiteral("Vista"), print::Output::Preview);
    const int bold = doc->addFont(QStringLiteral("Courier New"), 0, 14, true);
    doc->say(100, 100, QStringLiteral("Hola"));
    doc->startPage();
    doc->say(200, 200, QStringLiteral("Señor Muñoz"), bold);
    doc->box(400, 100, 800, 1500);
    doc->startPage();
    doc->fill(600, 1200, 900, 1500, Qt::black);
    QString caption;
    int pages = 0;
    // What the preview saves is the kept pages, read back from disk; its
    // "Cancelar" stops the saving at the page it hears, leaving no file.
    const QString saved = file("guardado.pdf"), stopped = file("parado.pdf");
    bool written = false, stoppedWritten = true;
    QList<int> heard;
    print::setPreviewObserver([&](QWidget* w, print::Document& d) {
        caption = w->windowTitle();
        pages = d.pageCount();
        written = d.writePdf(saved, [&](int done, int total) {
            heard << done * 10 + total;
            return true;
        });
        stoppedWritten = d.writePdf(stopped, [](int done, int) { return done < 2; });
        return true;
    });
    EXPECT_TRUE(doc->finish());
    print::setPreviewObserver({});
    EXPECT_EQ(caption, QStringLiteral("Vista previa - Vista"));
    EXPECT_EQ(pages, 3);
    ASSERT_TRUE(written);
    EXPECT_EQ(heard, (QList<int>{13, 23, 33}));
    EXPECT_FALSE(stoppedWritten);
    EXPECT_FALSE(QFile::exists(stopped));
    EXPECT_EQ(pdfPages(saved), 3);
    const QString text = pdfText(saved);
    EXPECT_TRUE(text.contains(QStringLiteral("Hola")));
    EXPECT_TRUE(text.contains(QStringLiteral("Señor Muñoz")));
    EXPECT_TRUE(darkAt(pdfPage(saved, 3, dir.path()), 237, 137));   // the filled square
    EXPECT_FALSE(darkAt(pdfPage(saved, 2, dir.path()), 237, 137));  // inside the box
}

// A preview opened while its document is drawn shows the first page as soon
// as it has ended and takes the pages as they end; it draws only the pages
// in sight and keeps few of them drawn. Its "Cancelar" is told to whoever
// draws, and the window goes with the document.
TEST_F(PrintTest, PreviewWhileDrawingShowsPageOneAtOnceAndKeepsFewPagesDrawn) {
    auto doc = print::Document::create(QStringLiteral("Vivo"), print::Output::Preview);
    doc->previewWhileDrawing();
    doc->fill(0, 0, 3000, 2000, Qt::black);
    EXPECT_EQ(doc->livePreview(), nullptr);
    doc->endPage();
    auto* w = qobject_cast<print::PreviewWindow*>(doc->livePreview());
    ASSERT_TRUE(w);
    EXPECT_TRUE(w->isVisible());
    const QImage first = w->view()->viewport()->grab().toImage();
    EXPECT_EQ(w->view()->pagesDrawn(), 1);
    EXPECT_TRUE(darkAt(first, first.width() / 2, first.height() / 3));  // page 1 in sight
    for (int p = 2; p <= 60; ++p) {
        doc->say(100, 100, QStringLiteral("Página %1").arg(p));
        doc->endPage();
        if (p % 5 == 0) {
            w->view()->verticalScrollBar()->setValue(w->view()->verticalScrollBar()->maximum());
            w->view()->viewport()->grab();
        }
    }
    if (const char* shots = std::getenv("VDR_SHOTS"))
        w->grab().save(QString::fromLocal8Bit(shots) + QStringLiteral("/preview.png"));
    EXPECT_GT(w->view()->pagesDrawn(), 12);
    EXPECT_LE(w->view()->heldPages(), print::PageView::kHeldPages);
    EXPECT_FALSE(doc->cancelRequested());
    for (QPushButton* b : w->findChildren<QPushButton*>())
        if (b->text() == QStringLiteral("&Cancelar")) QTest::mouseClick(b, Qt::LeftButton);
    EXPECT_TRUE(doc->cancelRequested());
    QPointer<QWidget> gone(w);
    doc.reset();
    EXPECT_TRUE(gone.isNull());
}

}  // namespace
