#include "app/errorsys.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <gnu/libc-version.h>
#include <QApplication>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTableView>
#include <QThread>
#include <QVBoxLayout>
#include <cstdio>
#include <fstream>

#include "app/sysinfo.h"
#include "dbf/error.h"
#include "dbf/locks.h"
#include "dbf/order.h"
#include "dbf/table.h"
#include "dbf/workspace.h"
#include "print/document.h"
#include "print/listreport.h"
#include "toolkit/browse.h"
#include "toolkit/browse_dbf.h"
#include "toolkit/text.h"
#include "xbase/codepage.h"
#include "xbase/date.h"
#include "xbase/picture.h"
#include "xbase/runtime.h"

namespace app {

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr const char* kLogAlias = "Error";
constexpr const char* kLogTag = "Err_DDHH";
constexpr const char* kLogKey = "( DtoS( Fecha ) + Hora )";

bool g_installed = false;
bool g_inHandler = false;
std::function<void(int)> g_exit;

QString q(const std::string& s) {
    return tk::fromAnsi(s);
}

std::string pad(const std::string& s, size_t n) {
    std::string r = s.substr(0, n);
    r.resize(n, ' ');
    return r;
}
std::string num(long long v, int width) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%*lld", width, v);
    return buf;
}
std::string logical(bool b) {
    return b ? ".T." : ".F.";
}
std::string underline(const std::string& title, size_t width = 0) {
    return title + kCrLf + std::string(width ? width : title.size(), '=') + kCrLf;
}
std::string line(const std::string& s) {
    return s + kCrLf;
}

std::string programFile() {
    if (QCoreApplication::instance())
        return xb::utf8ToCp1252(QCoreApplication::applicationFilePath().toStdString());
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

std::string nowDate() {
    return xb::formatDate(xb::todayJulian(), xb::effectiveDateFormat());
}
std::string nowTime() {
    return QTime::currentTime().toString(QStringLiteral("HH:mm:ss")).toStdString();
}

std::string firstLineOf(const std::string& path, const std::string& prefix) {
    std::ifstream in(path);
    std::string l;
    while (std::getline(in, l))
        if (l.rfind(prefix, 0) == 0) return l;
    return {};
}

long long meminfo(const char* key) {
    const std::string l = firstLineOf("/proc/meminfo", key);
    if (l.empty()) return 0;
    return std::atoll(l.c_str() + std::strlen(key));
}

int fileHandleLimit() {
    rlimit lim{};
    if (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY)
        return static_cast<int>(lim.rlim_cur);
    return 0;
}

std::vector<std::pair<int, std::string>> runningTasks() {
    std::vector<std::pair<int, std::string>> out;
    QDir proc(QStringLiteral("/proc"));
    for (const QString& e : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const int pid = e.toInt(&ok);
        if (!ok) continue;
        std::ifstream in("/proc/" + e.toStdString() + "/comm");
        std::string name;
        std::getline(in, name);
        if (!name.empty()) out.emplace_back(pid, name);
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::string valueText(const xb::Value& v) {
    if (v.isArray()) return "{...}";
    if (v.isBlock()) return "{|| ... }";
    if (v.isObject()) return v.asObject()->className();
    std::string text = v.toText();
    if (v.isNum()) text.erase(0, text.find_first_not_of(' '));
    return text;
}

// The script runner's current line, when a script is being run.
int scriptLine() {
    xb::Value store;
    if (!xb::getVar("OAPEJEC", store) || !store.isObject()) return 0;
    xb::Value n;
    xb::Args none;
    if (!store.asObject()->send("NLINEJEC", none, n)) return 0;
    return n.isNum() ? static_cast<int>(n.asNumber()) : 0;
}

// Frames of the program above the handler's own.
std::vector<xb::Frame> callers() {
    std::vector<xb::Frame> frames = xb::callStack();
    if (!frames.empty() && frames.front().name == "ERRORDIALOG") frames.erase(frames.begin());
    if (frames.size() > 72) frames.resize(72);
    return frames;
}

void trace(const xb::Error& e) {
    const QString path = qEnvironmentVariable("VDR_TRACE");
    if (path.isEmpty()) return;
    QFile f(path);
    if (!f.open(QIODevice::Append | QIODevice::Text)) return;
    const auto frames = callers();
    f.write(QStringLiteral("error %1: %2 (%3)\n")
                .arg(q(e.operation), q(e.description),
                     frames.empty() ? QStringLiteral("0") : QString::number(frames.front().line))
                .toUtf8());
}

[[noreturn]] void endProgram(int code) {
    if (g_exit) {
        g_exit(code);
        // A test's replacement returns: unwind what is left as a break.
        throw xb::Break(xb::makeError(0, 0, "Fin del programa"));
    }
    try {
        _FINAL();
    } catch (...) {
    }
    std::fflush(nullptr);
    ::_exit(code);
}

}  // namespace

// --------------------------------------------------------------- messages
std::string ERRORMESSAGE(const xb::Error& e) {
    return e.message();
}

std::string CGETINFO(const xb::Value& v) {
    if (v.isString()) return "\"" + v.asString() + "\"";
    if (v.isObject()) return "Class: " + v.asObject()->className();
    if (v.isArray()) return "Len: " + num(static_cast<long long>(v.asArray()->items.size()), 4);
    return valueText(v);
}

// ----------------------------------------------------------------- report
std::string errorReport(const xb::Error& e, std::string* shortReport, QStringList* chain) {
    std::string r;
    // 1. The application.
    const std::string exe = programFile();
    r += underline("Aplicaci\xF3n:");
    r += line("   Path y nombre: " + exe);
    // Programs of this platform outgrow the old seven digits.
    r += line(
        "   Tam.: " + xb::transform(xb::Value::integer(QFileInfo(q(exe)).size()), "999,999,999") +
        " bytes");
    r += line("   M\xE1ximo de ficheros abiertos: ( SetHandleCount() ) " +
              num(fileHandleLimit(), 3));
    r += line(
        "   Error ocurrido el d\xED"
        "a: " +
        nowDate() + ", a la hora: " + nowTime());
    r += line("   Nombre del error: " + ERRORMESSAGE(e));
    if (e.hasArgs) {
        r += line("   Args:");
        for (size_t i = 0; i < e.args.size(); ++i)
            r += line("     [" + num(static_cast<long long>(i) + 1, 4) +
                      "] = " + std::string(1, e.args[i].type()) + "   " + valueText(e.args[i]));
    }
    // 2. The short report: what the dialog prints.
    std::string shortR = r + kCrLf;
    // 3. The call chain.
    r += underline("Llamadas a funciones");
    const int sline = scriptLine();
    for (const xb::Frame& f : callers()) {
        if (f.name.empty()) continue;
        // A script run names its script where a compiled procedure names
        // its source line; the script's own line follows its text. Each
        // level of nested runs has its own line.
        const bool script =
            sline > 0 && f.name.find("EJECUTAR") != std::string::npos && !f.info.empty();
        std::string where = std::to_string(f.line);
        if (script && !f.params.empty() && f.params[0].isString()) {
            where = f.params[0].asString();
            where.erase(0, where.find_first_not_of(' '));
            where.erase(where.find_last_not_of(' ') + 1);
        }
        std::string l = "   Llamado por " + f.name + "(" + where + ")";
        if (script) l += "  : " + f.info + " - Lin.: " + std::to_string(f.line);
        r += line(l);
        shortR += line(l);
        if (chain) chain->append(q(l));
    }
    // 4. The system: this platform's own figures under the old labels.
    r += underline("Sistema");
    std::string cpu = firstLineOf("/proc/cpuinfo", "model name");
    if (const auto c = cpu.find(':'); c != std::string::npos) cpu = cpu.substr(c + 2);
    r += line("   CPU tipo: " + (cpu.empty() ? std::string("desconocido") : cpu));
    const long long availKb = meminfo("MemAvailable:") + 768;
    r += line("   Memoria: " + std::to_string(availKb) + " (" + std::to_string(availKb / 1024) +
              " megas)");
    r += kCrLf;
    const MemoryFigures mem = readMemoryFigures();
    const long long totalKb = std::max(1LL, meminfo("MemTotal:"));
    const long long swapTotal = meminfo("SwapTotal:");
    r += line("   Recursos libres .....: % " + std::to_string(mem.freeResourcesPercent));
    r += line("        GDI  recursos ..: % " +
              std::to_string(meminfo("MemAvailable:") * 100 / totalKb));
    r += line("        Usuarios recurs.: % " +
              std::to_string(swapTotal > 0 ? meminfo("SwapFree:") * 100 / swapTotal : 100));
    utsname un{};
    int kMaj = 0, kMin = 0, cMaj = 0, cMin = 0;
    if (uname(&un) == 0) std::sscanf(un.release, "%d.%d", &kMaj, &kMin);
    std::sscanf(gnu_get_libc_version(), "%d.%d", &cMaj, &cMin);
    r += line("   Version de Windows y MS-Dos: " + num(kMaj, 2) + "." + num(kMin, 2) + ", " +
              num(cMaj, 2) + "." + num(cMin, 2));
    const auto tasks = runningTasks();
    r += line("   Total de aplicaciones WIN ejecutandose: " +
              num(static_cast<long long>(tasks.size()), 3));
    for (const auto& [pid, name] : tasks) r += line("    " + num(pid, 3) + " " + name);
    if (shortReport) *shortReport = shortR;
    return r;
}

namespace {

// The second half of the report: variables, tables, classes, memory.
std::string reportTail() {
    std::string r;
    r += underline("Variables en uso");
    r += line("   Programa      Tipo   Valor");
    r += line("   ==========================");
    for (const xb::Frame& f : callers()) {
        if (f.name.empty()) continue;
        r += line("   " + f.name);
        for (size_t i = 0; i < f.params.size(); ++i)
            r += line("     Param " + num(static_cast<long long>(i) + 1, 3) + ":    " +
                      std::string(1, f.params[i].type()) + "    " + CGETINFO(f.params[i]));
        for (size_t i = 0; i < f.locals.size(); ++i)
            r += line("     Local " + num(static_cast<long long>(i) + 1, 3) + ":    " +
                      std::string(1, f.locals[i].type()) + "    " + CGETINFO(f.locals[i]));
    }
    r += underline("Linked RDDs");
    r += line("   DBFCDX");
    r += underline("Ficheros en uso");
    dbf::Workspace& ws = dbf::workspace();
    for (int n : ws.openAreas()) {
        dbf::WorkArea* wa = ws.area(n);
        if (!wa) continue;
        r += kCrLf;
        r += line(num(n, 3) + ": " + (n == ws.current() ? "=> " : "   ") + pad(wa->alias(), 15) +
                  std::string(20, ' ') + "RddName: DBFCDX");
        r += line("     ==============================");
        r += line("     RecNo    RecCount    BOF   EOF");
        r += line("    " + xb::transform(xb::Value::integer(wa->recno()), "99999") +
                  std::string(6, ' ') + xb::transform(xb::Value::integer(wa->recCount()), "99999") +
                  std::string(6, ' ') + logical(wa->bof()) + "   " + logical(wa->eof()));
        r += kCrLf;
        r += line("     Indices in uso " + std::string(23, ' ') + "TagName");
        r += line("     ------------------------------------- -------");
        if (dbf::Orders* o = dbf::findOrders(*wa)) {
            for (int i = 1; i <= std::min(o->orderCount(), 15); ++i) {
                const std::string key = o->orderKey(i);
                if (key.empty()) continue;
                r += line(std::string(8, ' ') + (i == o->orderNumber() ? "=> " : "   ") +
                          pad(key, 35) + o->orderName(i));
            }
            r += line("     Relaciones en uso");
            for (int i = 1; i <= 8; ++i) {
                const std::string text = o->relationText(i);
                if (text.empty()) continue;
                dbf::WorkArea* child = ws.area(o->relationArea(i));
                r += line(std::string(8, ' ') + std::to_string(i) + ": TO " + text + " INTO " +
                          (child ? child->alias() : std::string("?")));
            }
        } else {
            r += line("     Relaciones en uso");
        }
    }
    r += underline("Clases en uso:", 15);
    const auto classes = xb::registeredClasses();
    for (size_t i = 0; i < classes.size(); ++i)
        r += line("   " + num(static_cast<long long>(i) + 1, 3) + " " + classes[i]);
    r += underline("An\xE1lisis de Memoria");
    const MemoryFigures mem = readMemoryFigures();
    r += line("   Memoria del sistema disponible: " +
              std::to_string(meminfo("MemAvailable:") * 1024) + " bytes");
    r += line("   Memoria din\xE1mica consumida:");
    r += line("      Valor actual  : " + std::to_string(mem.usedBytes) + " bytes");
    r += line("      Valor m\xE1s alto: " + std::to_string(mem.peakBytes) + " bytes");
    return r;
}

}  // namespace

// -------------------------------------------------------------------- log
std::string errorLogDir() {
    const QString dir = QDir::current().absoluteFilePath(QStringLiteral("Error"));
    if (QFileInfo(dir).isDir() || QDir().mkpath(dir)) return dir.toStdString();
    std::fprintf(stderr, "NO se pudo crear %s\nse usar\u00e1 el directorio %s\n",
                 dir.toLocal8Bit().constData(), QDir::currentPath().toLocal8Bit().constData());
    return QDir::currentPath().toStdString();
}

namespace {

// Held while a workstation opens the log, creating it when missing: two
// workstations that find it missing at the same moment must not both
// create it (the second would empty the first one's records), nor may one
// open it while the other still holds it alone to build its index.
class LogOpening {
  public:
    explicit LogOpening(const QDir& dir)
        : fd_(::open(dir.filePath(QStringLiteral("Error.lck")).toLocal8Bit().constData(),
                     O_RDWR | O_CREAT | O_CLOEXEC, 0666)) {
        if (fd_ >= 0) dbf::locks::waitLock(fd_, 0, 1, dbf::locks::Kind::Write);
    }
    ~LogOpening() {
        if (fd_ >= 0) ::close(fd_);  // gives the lock back
    }
    LogOpening(const LogOpening&) = delete;
    LogOpening& operator=(const LogOpening&) = delete;

  private:
    int fd_;
};

}  // namespace

bool ABREERROR() {
    dbf::Workspace& ws = dbf::workspace();
    if (ws.used(kLogAlias)) return true;
    // A failure before the session opened its door to the tables still gets
    // its record: the index key reads the log's fields through it.
    if (!xb::fieldAccess()) xb::setFieldAccess(&ws);
    const int previous = ws.current();
    const QDir dir(QString::fromStdString(errorLogDir()));
    const std::string table = dir.filePath(QStringLiteral("Error.Dbf")).toStdString();
    const std::string bag = dir.filePath(QStringLiteral("Error.cdx")).toStdString();
    try {
        const LogOpening opening(dir);
        if (!QFileInfo::exists(QString::fromStdString(table)))
            dbf::Table::create(table, {{"FECHA", 'D', 8, 0},
                                       {"HORA", 'C', 8, 0},
                                       {"ERROR", 'C', 50, 0},
                                       {"TEXTO", 'M', 10, 0}});
        if (!QFileInfo::exists(QString::fromStdString(bag))) {
            const int n = ws.open(table, "ERRORNEW", dbf::OpenOptions{false, false});
            try {
                dbf::orders(*ws.area(n)).createTag(bag, kLogTag, kLogKey);
            } catch (...) {
                ws.close(n);
                throw;
            }
            ws.close(n);
        }
        const int n = ws.open(table, kLogAlias, dbf::OpenOptions{true, false});
        dbf::orders(*ws.area(n)).addBag(bag);
        dbf::orders(*ws.area(n)).setOrder(std::string_view(kLogTag));
    } catch (...) {
        if (previous) ws.select(previous);
        return false;
    }
    if (previous) ws.select(previous);
    return true;
}

void closeErrorLog() {
    dbf::Workspace& ws = dbf::workspace();
    if (dbf::WorkArea* wa = ws.area(kLogAlias)) ws.close(wa->number());
}

bool writeErrorLog(const std::string& message, const std::string& report) {
    // Nothing in here may reach the handler again: a failure loses this
    // record only.
    xb::QuietErrors quiet;
    dbf::Workspace& ws = dbf::workspace();
    const int previous = ws.current();
    const bool wasOpen = ws.used(kLogAlias);
    bool ok = false;
    try {
        if (ABREERROR()) {
            dbf::WorkArea* wa = ws.area(kLogAlias);
            wa->append();
            wa->lockRecord();
            wa->put(0, xb::Value::date(xb::todayJulian()));
            wa->put(1, xb::Value::str(nowTime()));
            wa->put(2, xb::Value::str(message.substr(0, 50)));
            wa->put(3, xb::Value::memo(report));
            wa->commit();
            wa->unlock();
            ok = true;
        }
    } catch (...) {
        ok = false;
    }
    try {
        if (!wasOpen) closeErrorLog();
    } catch (...) {
    }
    if (previous && ws.area(previous)) ws.select(previous);
    return ok;
}

// ---------------------------------------------------------------- closing
void _FINAL() {
    dbf::Workspace& ws = dbf::workspace();
    for (int n : ws.openAreas()) {
        try {
            ws.area(n)->commit();
        } catch (...) {
        }
    }
    ws.closeAll();
    ws.select(1);
    if (QApplication::instance())
        if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    releaseUnusedMemory();
}

void setProgramExit(std::function<void(int)> exitFn) {
    g_exit = std::move(exitFn);
}

// ----------------------------------------------------------------- viewer
void IMPERROR(QWidget* browser, const std::string& text) {
    print::Options options;
    options.name = QStringLiteral("Registro de Errores");
    options.owner = browser ? browser->window() : nullptr;
    auto doc = print::Document::create(options);
    if (!doc) return;
    const int times = doc->addFont(QStringLiteral("Times New Roman"), 0, 10);
    const int bold = doc->addFont(QStringLiteral("Times New Roman"), 0, 10, true);
    print::ListReportSpec layout;
    layout.title = QStringLiteral("ERROR DEL PROGRAMA ") + q(programFile());
    layout.headerRight = {QStringLiteral("Fecha :") + q(nowDate()),
                          QStringLiteral("Hora :") + q(nowTime())};
    layout.footer = [](int page) {
        return QStringLiteral("Página %1").arg(page, 3, 10, QLatin1Char(' '));
    };
    layout.footerAlign = print::Align::Center;
    layout.bodyFont = times;
    layout.headingFont = bold;
    layout.columns = {{QStringLiteral("Descripción del error"), 65, print::Align::Left}};
    {
        print::ListReport list(*doc, layout);
        for (const QString& l : print::breakLines(q(text), 65)) list.addRow({l});
    }
    doc->finish();
    if (browser) {
        browser->update();
        browser->setFocus();
    }
}

void _SHOWERROR(QWidget* owner) {
    dbf::Workspace& ws = dbf::workspace();
    const int previous = ws.current();
    if (!ABREERROR()) return;
    dbf::WorkArea* wa = ws.area(kLogAlias);
    const int areaNo = wa->number();
    dbf::Orders& ord = dbf::orders(*wa);
    ord.seek(xb::Value::str(xb::dtos(xb::todayJulian())), true);
    if (wa->eof()) wa->goBottom();

    const QScreen* screen = QGuiApplication::primaryScreen();
    const bool narrow = screen && screen->geometry().width() < 800;
    QDialog dlg(owner ? owner : QApplication::activeWindow());
    dlg.setObjectName(QStringLiteral("_SHOWERROR"));
    dlg.setWindowTitle(narrow ? QStringLiteral("Registro de Errores del Programa")
                              : QStringLiteral("Registro de Errores del programa"));
    dlg.resize(narrow ? QSize(600, 440) : QSize(750, 500));
    auto field = [areaNo](int i) {
        return [areaNo, i] {
            dbf::WorkArea* a = dbf::workspace().area(areaNo);
            return a ? a->get(i) : xb::Value();
        };
    };
    std::vector<tk::BrowseColumn> cols(3);
    cols[0] = {QStringLiteral("Fecha"), field(0), 90, {}, Qt::AlignRight | Qt::AlignVCenter};
    cols[1] = {QStringLiteral("Hora"), field(1), 90, {}, Qt::AlignRight | Qt::AlignVCenter};
    cols[2] = {
        narrow ? QStringLiteral("Descripcion del error") : QStringLiteral("Nombre del error"),
        field(2),
        150,
        {},
        Qt::AlignLeft | Qt::AlignVCenter};
    auto* view = new QTableView(&dlg);
    view->setObjectName(QStringLiteral("registro"));
    tk::WorkAreaRows rows(*wa);
    tk::Browse browse(view, &rows, std::move(cols));
    auto* text = new QPlainTextEdit(&dlg);
    text->setObjectName(QStringLiteral("texto"));
    text->setReadOnly(true);
    auto show = [&] {
        dbf::WorkArea* a = ws.area(areaNo);
        if (!a || a->eof()) {
            text->clear();
            return;
        }
        const xb::Value t = a->get(3);
        text->setPlainText(t.isString()
                               ? q(t.asString()).replace(QLatin1String("\r\n"), QLatin1String("\n"))
                               : QString());
    };
    browse.setOnRowChange(show);
    auto* print =
        new QPushButton(narrow ? QStringLiteral("&Ver") : QStringLiteral("&Imprimir"), &dlg);
    auto* leave = new QPushButton(QStringLiteral("&Salir"), &dlg);
    QObject::connect(print, &QPushButton::clicked, &dlg,
                     [&] { IMPERROR(view, tk::toAnsi(text->toPlainText())); });
    QObject::connect(leave, &QPushButton::clicked, &dlg, &QDialog::accept);
    auto* lay = new QVBoxLayout(&dlg);
    lay->addWidget(view, 3);
    lay->addWidget(text, 2);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(print);
    row->addWidget(leave);
    lay->addLayout(row);
    browse.refresh();
    show();
    dlg.exec();
    closeErrorLog();
    if (previous && ws.area(previous)) ws.select(previous);
}

// ---------------------------------------------------------------- handler
namespace {

enum class Choice { None, Retry, Skip };

Choice showErrorDialog(const xb::Error& e, const std::string& report,
                       const std::string& shortReport, const QStringList& chain) {
    QDialog dlg(QApplication::activeWindow());
    dlg.setObjectName(QStringLiteral("ERRORDIALOG"));
    dlg.setWindowTitle(QStringLiteral("LISTA DE ERRORES PRODUCIDOS POR EL PROGAMA"));
    QFont f(QStringLiteral("Ms Sans Serif"));
    f.setPointSize(10);
    dlg.setFont(f);
    dlg.setMinimumSize(300, 290);
    dlg.resize(460, 340);
    QString name;
    for (const QString& l : q(report).split(QStringLiteral("\r\n")))
        if (l.startsWith(QLatin1String("   Nombre del error: "))) name = l;
    auto* icon = new QLabel(&dlg);
    icon->setPixmap(dlg.style()->standardIcon(QStyle::SP_MessageBoxCritical).pixmap(32, 32));
    auto* top = new QLabel(name.trimmed(), &dlg);
    top->setObjectName(QStringLiteral("nombre"));
    top->setWordWrap(true);
    auto* stackLabel = new QLabel(QStringLiteral("&Stack List"), &dlg);
    auto* list = new QListWidget(&dlg);
    list->setObjectName(QStringLiteral("llamadas"));
    for (const QString& l : chain) list->addItem(l.trimmed());
    stackLabel->setBuddy(list);
    auto* more = new QLabel(QStringLiteral("\"&Mas...\" visualiza el Registro de Errores"), &dlg);

    Choice choice = Choice::None;
    auto* buttons = new QHBoxLayout;
    auto button = [&](const QString& caption, auto action) {
        auto* b = new QPushButton(caption, &dlg);
        b->setAutoDefault(false);
        QObject::connect(b, &QPushButton::clicked, &dlg, action);
        buttons->addWidget(b);
        return b;
    };
    button(QStringLiteral("&Imprimir"), [&] { IMPERROR(nullptr, shortReport); });
    button(QStringLiteral("&Mas..."), [&] { _SHOWERROR(&dlg); });
    button(QStringLiteral("&Salir"), [&] { dlg.reject(); });
    if (e.canRetry)
        button(QStringLiteral("&Reintentar"), [&] {
            choice = Choice::Retry;
            dlg.accept();
        });
    if (e.canSubstitute)
        button(QStringLiteral("&Omitir"), [&] {
            choice = Choice::Skip;
            dlg.accept();
        });
    auto* head = new QHBoxLayout;
    head->addWidget(icon, 0, Qt::AlignTop);
    head->addWidget(top, 1);
    auto* lay = new QVBoxLayout(&dlg);
    lay->addLayout(head);
    lay->addWidget(stackLabel);
    lay->addWidget(list, 1);
    lay->addWidget(more);
    lay->addLayout(buttons);
    dlg.exec();
    return choice;
}

}  // namespace

xb::HandlerAnswer ERRORDIALOG(xb::Error& e) {
    // The silent cases, before anything is built, shown or logged.
    if (e.genCode == xb::gen::ZeroDiv) return {xb::ErrorAction::Substitute, xb::Value::integer(0)};
    if (e.canSubstitute && ((e.genCode == xb::gen::Open && (e.osCode == 32 || e.osCode == 5)) ||
                            e.genCode == xb::gen::AppendLock)) {
        dbf::workspace().setNetErr(true);
        return {xb::ErrorAction::Substitute, xb::Value::logical(false)};
    }
    // A failure while the handler is at work would recurse: end at once.
    if (g_inHandler) endProgram(1);
    g_inHandler = true;
    struct Leave {
        ~Leave() { g_inHandler = false; }
    } leave;
    xb::Procedure self("ERRORDIALOG");
    trace(e);
    std::string shortReport;
    QStringList chain;
    std::string report = errorReport(e, &shortReport, &chain);
    report += reportTail();
    writeErrorLog(ERRORMESSAGE(e), report);

    Choice choice = Choice::None;
    if (QApplication::instance()) choice = showErrorDialog(e, report, shortReport, chain);
    const bool loopRunning = QThread::currentThread()->loopLevel() > 0;
    if (choice == Choice::None || (choice == Choice::Retry && !loopRunning)) endProgram(1);
    if (choice == Choice::Retry) return {xb::ErrorAction::Retry, {}};
    return {xb::ErrorAction::Substitute, xb::Value::logical(false)};
}

void ERRORSYS() {
    xb::setErrorHandler([](xb::Error& e) { return ERRORDIALOG(e); });
    g_installed = true;
}

bool errorSysInstalled() {
    return g_installed;
}

namespace {

// An error condition as scripts see it (ERRORNEW()): the fields of the
// condition by their usual message names, so that a script can build one and
// hand it to ERRORMESSAGE or ERRORDIALOG.
class ErrorObject : public xb::Object {
  public:
    std::string className() const override { return "ERROR"; }
    bool send(std::string_view m, xb::Args&, xb::Value& r) override {
        if (m == "GENCODE")
            r = xb::Value::integer(e.genCode);
        else if (m == "OSCODE")
            r = xb::Value::integer(e.osCode);
        else if (m == "SEVERITY")
            r = xb::Value::integer(e.severity);
        else if (m == "SUBSYSTEM")
            r = xb::Value::str(e.subsystem);
        else if (m == "SUBCODE")
            r = xb::Value::integer(e.subCode);
        else if (m == "DESCRIPTION")
            r = xb::Value::str(e.description);
        else if (m == "FILENAME")
            r = xb::Value::str(e.filename);
        else if (m == "OPERATION")
            r = xb::Value::str(e.operation);
        else if (m == "CANRETRY")
            r = xb::Value::logical(e.canRetry);
        else if (m == "CANSUBSTITUTE" || m == "CANDEFAULT")
            r = xb::Value::logical(e.canSubstitute);
        else
            return false;
        return true;
    }
    bool assign(std::string_view m, const xb::Value& v) override {
        const int n = v.isNum() ? static_cast<int>(v.asNumber()) : 0;
        const std::string t = v.isString() ? v.asString() : std::string();
        if (m == "GENCODE")
            e.genCode = n;
        else if (m == "OSCODE")
            e.osCode = n;
        else if (m == "SEVERITY")
            e.severity = n;
        else if (m == "SUBSYSTEM")
            e.subsystem = t;
        else if (m == "SUBCODE")
            e.subCode = n;
        else if (m == "DESCRIPTION")
            e.description = t;
        else if (m == "FILENAME")
            e.filename = t;
        else if (m == "OPERATION")
            e.operation = t;
        else if (m == "CANRETRY")
            e.canRetry = v.asLogical();
        else if (m == "CANSUBSTITUTE" || m == "CANDEFAULT")
            e.canSubstitute = v.asLogical();
        else
            return false;
        return true;
    }
    xb::Error e;
};

xb::Error* errorOf(const xb::Value& v) {
    auto* o = v.isObject() ? dynamic_cast<ErrorObject*>(v.asObject().get()) : nullptr;
    return o ? &o->e : nullptr;
}

}  // namespace

void registerErrorFunctions() {
    using xb::Args;
    using xb::Value;
    xb::registerClass("ERROR");
    xb::registerFunction("ERRORNEW",
                         [](Args&) { return Value::object(std::make_shared<ErrorObject>()); });
    xb::registerFunction("ERRORMESSAGE", [](Args& a) {
        const xb::Error* e = errorOf(a[0]);
        return Value::str(e ? ERRORMESSAGE(*e) : std::string());
    });
    xb::registerFunction("ERRORDIALOG", [](Args& a) {
        xb::Error* e = errorOf(a[0]);
        if (!e) return Value();
        const xb::HandlerAnswer r = ERRORDIALOG(*e);
        if (r.action == xb::ErrorAction::Retry) return Value::logical(true);
        return r.value;
    });
    xb::registerFunction("ERRORSYS", [](Args&) {
        ERRORSYS();
        return Value();
    });
    xb::registerFunction("ABREERROR", [](Args&) { return Value::logical(ABREERROR()); });
    xb::registerFunction("_SHOWERROR", [](Args&) {
        _SHOWERROR();
        return Value();
    });
    xb::registerFunction("IMPERROR", [](Args& a) {
        IMPERROR(nullptr, a[1].isString() ? a[1].asString() : a[0].toText());
        return Value();
    });
    xb::registerFunction("CGETINFO", [](Args& a) { return Value::str(CGETINFO(a[0])); });
    xb::registerFunction("_FINAL", [](Args&) {
        _FINAL();
        return Value();
    });
}

}  // namespace app
