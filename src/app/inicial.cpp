#include "app/inicial.h"
#include "app/functions.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTextStream>
#include <QTimer>
#include <QToolBar>

#include "app/files.h"
#include "app/help.h"
#include "app/mainwindow.h"
#include "app/menu.h"
#include "app/sysinfo.h"
#include "company/selection.h"
#include "company/upkeep.h"
#include "data/helpers.h"
#include "dbf/locks.h"
#include "dbf/workspace.h"
#include "toolkit/dialog.h"
#include "toolkit/msgbox.h"
#include "toolkit/programkeys.h"
#include "toolkit/resources.h"
#include "xbase/codepage.h"
#include "xbase/runtime.h"

namespace app {

namespace {

MainWindow* g_main = nullptr;

QPixmap startPicture(const QString& name) {
    const QString path = startFile(name);
    return QFileInfo::exists(path) ? QPixmap(path) : QPixmap();
}

// Calls a function of the program by name, so that every button reaches the
// same entry functions that menus and scripts call.
void callByName(const char* name) {
    xb::callFunction(name);
}

QString formatFigure(int64_t bytes) {
    xb::Value v =
        xb::callFunction("TRANSFORM", xb::ArgList{xb::Value::num(static_cast<double>(bytes), 15, 0),
                                                  xb::Value::str("999,999,999,999")});
    return QString::fromStdString(xb::cp1252ToUtf8(v.asString())).trimmed();
}

void clearSessionObjects() {
    for (const char* name : {"OWIN", "OBARWIN", "OBRUSHDLG"}) {
        xb::Value v;
        if (xb::getVar(name, v)) xb::assignVar(name, xb::Value());
    }
}

// A window or brush of the session as the language sees it (OWIN, OBARWIN,
// OBRUSHDLG): scripts and menu actions test it with VALTYPE and ask it for
// its handle, title or colour.
class SessionObject : public xb::Object {
  public:
    SessionObject(std::string cls, QWidget* w, QColor colour = {})
        : cls_(std::move(cls)), w_(w), colour_(colour) {}
    std::string className() const override { return cls_; }
    bool send(std::string_view m, xb::Args&, xb::Value& out) override {
        if (m == "HWND") {
            out = xb::Value::num(w_ ? static_cast<double>(w_->winId()) : 0.0, 10, 0);
        } else if (m == "CTITLE" || m == "CCAPTION") {
            out = xb::Value::str(w_ ? xb::utf8ToCp1252(w_->windowTitle().toStdString())
                                    : std::string());
        } else if (m == "NRGBCOLOR" || m == "NCOLOR") {
            // The colour as a Windows RGB number: red + green * 256 + blue * 65536.
            out = xb::Value::num(colour_.red() + colour_.green() * 256.0 + colour_.blue() * 65536.0,
                                 10, 0);
        } else if (m == "LVISIBLE") {
            out = xb::Value::logical(w_ && w_->isVisible());
        } else {
            return false;
        }
        return true;
    }
    bool assign(std::string_view, const xb::Value&) override { return false; }

  private:
    std::string cls_;
    QPointer<QWidget> w_;
    QColor colour_;
};

void setSessionObject(const char* name, xb::ObjectPtr object) {
    xb::createPublic(name);
    xb::assignVar(name, object ? xb::Value::object(std::move(object)) : xb::Value());
}

// The toolkit's list of graphic resources still held when the session ends:
// every dialog built from a template that was never destroyed.
void writeResourceLog() {
    QFile log(startFile(QString::fromLatin1(kResourceLog)));
    if (!log.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) return;
    QTextStream out(&log);
    const QList<tk::Dialog*> left = tk::Dialog::liveDialogs();
    for (tk::Dialog* d : left) out << "Dialog " << d->templateName() << '\n';
    out << "Recursos sin liberar: " << left.size() << '\n';
}

}  // namespace

void removeResourceLog() {
    QFile::remove(startFile(QString::fromLatin1(kResourceLog)));
}

MainWindow* mainWindow() {
    return g_main;
}

bool ISDOUBLEDWIN(const QString& title) {
    static int claimed = -1;
    static QString claimedTitle;
    if (claimed >= 0 && claimedTitle == title) return false;
    // Named after this machine too: the guard is about this desktop, even
    // where the temporary folder is shared.
    const QByteArray hash =
        QCryptographicHash::hash((title + QLatin1Char('@') + QSysInfo::machineHostName()).toUtf8(),
                                 QCryptographicHash::Sha1)
            .toHex()
            .left(16);
    const QString path =
        QDir::tempPath() +
        QStringLiteral("/vdrwin-%1-%2.lock").arg(QString::fromLatin1(hash)).arg(getuid());
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;  // nothing to compare with: do not stop the user
    // The byte-range lock of the tables: one kind of lock in the whole
    // program, the kind a network share carries between machines (flock()
    // may be kept by each machine for itself).
    if (!dbf::locks::tryLock(fd, dbf::locks::kExclusiveByte, 1, dbf::locks::Kind::Write)) {
        ::close(fd);
        return true;
    }
    // The lock lives as long as the process; the system drops it even after a crash.
    claimed = fd;
    claimedTitle = title;
    return false;
}

QString GETSYSFONT() {
    return QStringLiteral("Ms Sans Serif");
}

void CHECKMIMEMORIA() {
    const MemoryFigures m = readMemoryFigures();
    tk::msgInfo(QStringLiteral("MemUsed: %1\nMemMax : %2\nResources: %3%")
                    .arg(formatFigure(m.usedBytes), formatFigure(m.peakBytes))
                    .arg(m.freeResourcesPercent),
                QString(), QApplication::activeWindow());
    releaseUnusedMemory();
}

bool startCalculator() {
    static const char* const candidates[] = {
        "gnome-calculator", "kcalc",       "mate-calc", "galculator",
        "qalculate-gtk",    "speedcrunch", "xcalc"};
    for (const char* c : candidates) {
        const QString exe = QStandardPaths::findExecutable(QString::fromLatin1(c));
        if (!exe.isEmpty() && QProcess::startDetached(exe, {})) return true;
    }
    return false;
}

void FINAL() {
    dbf::Workspace& ws = dbf::workspace();
    for (int area : ws.openAreas()) ws.area(area)->commit();
    ws.closeAll();
    // Every dialog and button of a running session needs the library, so a
    // call from the menu leaves it registered; at the end of the session it goes.
    if (!g_main) tk::ResourceLibrary::unload();
}

void registerAppFunctions() {
    xb::registerFunction("FINAL$", [](xb::Args&) {
        FINAL();
        return xb::Value();
    });
    xb::registerFunction("CHECKMIMEMORIA", [](xb::Args&) {
        CHECKMIMEMORIA();
        return xb::Value();
    });
    xb::registerFunction("GETSYSFONT", [](xb::Args&) { return xb::Value::str("Ms Sans Serif"); });
    auto text = [](xb::Args& a, size_t i) {
        return a[i].type() == 'C' ? QString::fromStdString(xb::cp1252ToUtf8(a[i].asString()))
                                  : QString();
    };
    auto back = [](const QString& s) { return xb::Value::str(xb::utf8ToCp1252(s.toStdString())); };
    xb::registerFunction("HELPINDEX", [text](xb::Args& a) {
        HELPINDEX(text(a, 0), text(a, 1));
        return xb::Value();
    });
    xb::registerFunction("SETHELPFILE", [text, back](xb::Args& a) {
        return back(SETHELPFILE(text(a, 0), text(a, 1)));
    });
    xb::registerFunction("SETHELPTOPIC",
                         [text, back](xb::Args& a) { return back(SETHELPTOPIC(text(a, 0))); });
}

int INICIAL() {
    // 1. Help file, resource library, F5.
    SETHELPFILE(QString::fromUtf8(kHelpFile), QString::fromUtf8(kHelpTitle));
    // The library ships in the installation; a build tree keeps it beside the
    // program's folder, which serves a program started from there.
    QString bundle = startFile(QStringLiteral("ZariReva.rcc"));
    if (!QFileInfo::exists(bundle)) bundle.clear();
    const QString built =
        QCoreApplication::applicationDirPath() + QStringLiteral("/../resources/ZariReva.rcc");
    if (bundle.isEmpty() && QFileInfo::exists(built)) bundle = built;
    tk::ResourceLibrary::require(
        bundle.isEmpty() ? QDir::current().absoluteFilePath(QStringLiteral("ZariReva.rcc"))
                         : bundle);
    registerProgramFunctions();

    // 2-3. The frame and its pictures.
    MainWindow window;
    g_main = &window;
    window.setWindowIcon(tk::icon(QStringLiteral("VALDROSF")));
    window.setPictures(startPicture(QStringLiteral("Fondo01.bmp")),
                       startPicture(QStringLiteral("Valdro32.bmp")));
    window.setBarBrush(tk::bitmap(QStringLiteral("Marco9D")));
    window.setMenuBar(ACTIVAMENU(&window, window.mdiArea()));
    // F5 and F1 act in every window of the session, dialogs included; F1
    // shows the page of the window in front.
    tk::setProgramKey(Qt::Key_F5, [] { CHECKMIMEMORIA(); });
    tk::setProgramKey(Qt::Key_F1, [] { helpForWindowInFront(); });
    // The session's shared objects: the frame, its button bar and the
    // dialogs' background brush.
    setSessionObject("OWIN", std::make_shared<SessionObject>("TMDIFRAME", &window));
    setSessionObject("OBARWIN", std::make_shared<SessionObject>("TBAR", window.buttonBar()));
    setSessionObject("OBRUSHDLG",
                     std::make_shared<SessionObject>("TBRUSH", nullptr, tk::kDialogBrush));

    // 5. A copy started under another file name is caught by the title.
    if (ISDOUBLEDWIN(window.windowTitle())) {
        tk::msgInfo(QStringLiteral("La aplicación ya está abierta."),
                    QStringLiteral("Atención....."));
        g_main = nullptr;
        clearSessionObjects();
        tk::ResourceLibrary::unload();
        return 0;
    }

    // 6. The seven buttons, in order.
    const BarButton buttons[] = {
        {QStringLiteral("CALCUL"),
         QStringLiteral("CALCUL2"),
         {},
         QStringLiteral("Calculadora"),
         [] { startCalculator(); }},
        {QStringLiteral("Calendar"),
         QStringLiteral("Calendar2"),
         {},
         QStringLiteral("Calendario"),
         [] { callByName("MICALENDAR"); }},
        {QStringLiteral("Tabla1"),
         QStringLiteral("Tabla2"),
         {},
         QStringLiteral("Tabla de Respuestas"),
         [] { callByName("BROWINRESP"); }},
        {QStringLiteral("Prospect1"),
         QStringLiteral("Prospect2"),
         {},
         QStringLiteral("Fichas de Prospectos/Clientes"),
         [] { callByName("BROWINPROSP"); }},
        {QStringLiteral("Automant1"),
         QStringLiteral("Automant2"),
         {},
         QStringLiteral("Automantenimiento"),
         [] { callByName("AUTOMANTEN"); }},
        {QStringLiteral("mn_Help"),
         {},
         {},
         QStringLiteral("Ayuda en línea"),
         [] { HELPINDEX(QString::fromUtf8(kHelpFile), QStringLiteral("HTMLHelp")); }},
        {QStringLiteral("Exit1"), QStringLiteral("Exit2"), QStringLiteral("Salir"),
         QStringLiteral("Terminar Aplicación"), [&window] { window.close(); }},
    };
    for (const BarButton& b : buttons)
        window.addBarButton(b, tk::bitmap(b.normalBitmap),
                            b.pressedBitmap.isEmpty() ? QPixmap() : tk::bitmap(b.pressedBitmap));

    // 7. The company caption over the bar (TEXTOSAYBAR).
    auto* caption = new QLabel(window.buttonBar());
    // Row 15.5 (rounded), column 423, 358 x 13 pixels.
    caption->setGeometry(423, 16, 358, 13);
    caption->setTextFormat(Qt::PlainText);
    caption->setAlignment(Qt::AlignCenter);
    caption->setAttribute(Qt::WA_TranslucentBackground);
    caption->setStyleSheet(QStringLiteral("color: rgb(0,0,118); background: transparent;"));
    QFont captionFont(GETSYSFONT());
    captionFont.setPixelSize(8);
    caption->setFont(captionFont);
    caption->setObjectName(QStringLiteral("companyCaption"));
    company::setCaptionSink([caption](const QString& text) {
        // The caption shows every "&" of the name: as plain text the doubled
        // ones collapse back to one.
        QString shown = text;
        shown.replace(QLatin1String("&&"), QLatin1String("&"));
        caption->setText(shown);
        caption->raise();
    });

    // Each company chosen: the notice of the visits due today, once the
    // selection has closed and the frame has the keyboard again.
    company::setAfterChoice(
        [&window] { QTimer::singleShot(0, &window, [] { callByName("AVISOAGENDA"); }); });
    // When first shown: the company selection.
    window.setOnFirstShow([&window] {
        if (!company::SELEEMPR(&window)) QCoreApplication::exit(0);
    });

    // 8. Shown maximised; the bell before the exit question.
    window.setBeforeCloseQuestion([] { data::CGBELL(); });
    if (QScreen* screen = QGuiApplication::primaryScreen())
        window.setGeometry(screen->availableGeometry());
    window.showMaximized();
    const int status = QApplication::exec();

    // 9. Clean-up, and the list of what was left unreleased.
    g_main = nullptr;
    company::setAfterChoice({});
    clearSessionObjects();
    tk::setProgramKey(Qt::Key_F5, {});
    tk::setProgramKey(Qt::Key_F1, {});
    FINAL();
    writeResourceLog();
    return status;
}

}  // namespace app
