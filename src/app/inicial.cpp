#include "app/inicial.h"
#include "app/functions.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QScreen>
#include <QShortcut>
#include <QStandardPaths>
#include <QToolBar>

#include "app/files.h"
#include "app/help.h"
#include "app/mainwindow.h"
#include "app/menu.h"
#include "app/sysinfo.h"
#include "company/selection.h"
#include "company/upkeep.h"
#include "data/helpers.h"
#include "dbf/workspace.h"
#include "toolkit/msgbox.h"
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

}  // namespace

MainWindow* mainWindow() {
    return g_main;
}

bool ISDOUBLEDWIN(const QString& title) {
    static int claimed = -1;
    static QString claimedTitle;
    if (claimed >= 0 && claimedTitle == title) return false;
    const QByteArray hash =
        QCryptographicHash::hash(title.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    const QString path =
        QDir::tempPath() +
        QStringLiteral("/vdrwin-%1-%2.lock").arg(QString::fromLatin1(hash)).arg(getuid());
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;  // nothing to compare with: do not stop the user
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
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
    auto* f5 = new QShortcut(QKeySequence(Qt::Key_F5), &window);
    f5->setContext(Qt::ApplicationShortcut);
    QObject::connect(f5, &QShortcut::activated, &window, [] { CHECKMIMEMORIA(); });

    // 5. A copy started under another file name is caught by the title.
    if (ISDOUBLEDWIN(window.windowTitle())) {
        tk::msgInfo(QStringLiteral("La aplicación ya está abierta."),
                    QStringLiteral("Atención....."));
        g_main = nullptr;
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
    caption->setGeometry(423, 15, 358, 15);
    caption->setTextFormat(Qt::PlainText);
    caption->setAlignment(Qt::AlignCenter);
    caption->setAttribute(Qt::WA_TranslucentBackground);
    caption->setStyleSheet(QStringLiteral("color: rgb(0,0,118); background: transparent;"));
    QFont captionFont(GETSYSFONT());
    captionFont.setPixelSize(11);
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

    // 9. Clean-up.
    g_main = nullptr;
    FINAL();
    return status;
}

}  // namespace app
