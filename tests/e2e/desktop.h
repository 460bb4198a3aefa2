// A real X display for the end-to-end tests: a private Xvfb (and, when asked,
// the openbox window manager on it), the real program started in a fresh
// installation, and real key and mouse events sent through xdotool (XTEST),
// as a user's keyboard and mouse would send them. Every process started here
// is ended by the destructor.
#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPoint>
#include <QProcess>
#include <QRect>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <memory>

#include "subprocess.h"

namespace e2e {

inline bool waitUntil(const std::function<bool()>& ok, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        if (ok()) return true;
        QThread::msleep(100);
    }
    return ok();
}

inline QStringList readLines(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

inline void stop(QProcess& p) {
    if (p.state() == QProcess::NotRunning) return;
    p.terminate();
    if (!p.waitForFinished(3000)) {
        p.kill();
        p.waitForFinished(3000);
    }
}

class Desktop {
  public:
    // Missing tools are reported through missing(); the set-up script's test
    // command installs them.
    explicit Desktop(bool windowManager) {
        for (const char* tool : {"Xvfb", "xdotool", "openbox"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                missing_ += QString::fromLatin1(tool) + QLatin1Char(' ');
        if (!missing_.isEmpty()) return;
        // -displayfd: the server picks a free display and tells its number.
        xvfb_.start(QStringLiteral("Xvfb"),
                    {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                     QStringLiteral("0"), QStringLiteral("1280x1024x24"),
                     QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        if (!xvfb_.waitForStarted(5000)) return;
        QByteArray number;
        waitUntil(
            [&] {
                xvfb_.waitForReadyRead(100);
                number += xvfb_.readAllStandardOutput();
                return number.contains('\n');
            },
            10000);
        if (!number.contains('\n')) return;
        display_ = QStringLiteral(":") + QString::fromLatin1(number.trimmed());
        if (windowManager) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("DISPLAY"), display_);
            wm_.setProcessEnvironment(env);
            wm_.start(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
            // Ready once it answers for the desktops it manages (on a machine
            // busy with other work that can take more than a few seconds).
            wmReady_ =
                wm_.waitForStarted(5000) &&
                waitUntil([&] { return xdotool({QStringLiteral("get_desktop")}).ok; }, 30000);
        }
    }
    ~Desktop() {
        stop(wm_);
        stop(xvfb_);
    }

    QString missing() const { return missing_; }
    bool ready(bool windowManager) const {
        return !display_.isEmpty() && (!windowManager || wmReady_);
    }
    const QString& display() const { return display_; }

    struct Result {
        bool ok = false;
        QString out;
    };
    Result xdotool(const QStringList& args) const {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display_);
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("xdotool"), args);
        Result r;
        r.ok =
            p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        r.out = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
        return r;
    }
    // The first window whose title is exactly `title`, waiting for it.
    QString window(const QString& title, int timeoutMs = 30000) const {
        QString id;
        const QString pattern =
            QLatin1Char('^') + QRegularExpression::escape(title) + QLatin1Char('$');
        waitUntil(
            [&] {
                const Result r = xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                          QStringLiteral("--name"), pattern});
                id = r.ok ? r.out.section(QLatin1Char('\n'), 0, 0) : QString();
                return !id.isEmpty();
            },
            timeoutMs);
        return id;
    }
    // Gives `window` the keyboard (with or without a window manager) and waits
    // until the server says it has it.
    bool focus(const QString& window) const {
        if (window.isEmpty()) return false;
        return waitUntil(
            [&] {
                xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
                return xdotool({QStringLiteral("getwindowfocus"), QStringLiteral("-f")}).out ==
                       window;
            },
            5000);
    }
    // Real key presses (XTEST) to whatever window has the keyboard.
    bool keys(const QStringList& keys) const {
        return xdotool(QStringList{QStringLiteral("key"), QStringLiteral("--delay"),
                                   QStringLiteral("60")} +
                       keys)
            .ok;
    }
    bool type(const QString& text) const {
        return xdotool(
                   {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("60"), text})
            .ok;
    }
    // The window that has the keyboard ("" when none).
    QString focused() const {
        return xdotool({QStringLiteral("getwindowfocus"), QStringLiteral("-f")}).out;
    }
    // The window that takes the keyboard from `from` (one the program opened
    // over it), or "" when none came within `timeoutMs`.
    QString focusLeaves(const QString& from, int timeoutMs = 15000) const {
        QString now;
        return waitUntil(
                   [&] {
                       now = focused();
                       return !now.isEmpty() && now != from;
                   },
                   timeoutMs)
                   ? now
                   : QString();
    }
    // Answers a message box as the person in front of it: waits until the
    // box the program opened over `under` has the keyboard, presses `keys`
    // there and, when `back`, waits until the keyboard is back in `under`
    // (the box closed). False when no box came or it did not close.
    bool answerBox(const QString& under, const QStringList& keys, bool back = true) const {
        if (focusLeaves(under).isEmpty()) return false;
        QThread::msleep(300);  // the box is drawn and takes keys
        if (!this->keys(keys)) return false;
        return !back || waitUntil([&] { return focused() == under; }, 10000);
    }
    // A real click at (x, y) of `window`. The pointer is first put beside
    // the place: a synchronous move to where it already is never ends.
    bool click(const QString& window, int x, int y, int count = 1) const {
        xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), window,
                 QString::number(x + 1), QString::number(y + 1)});
        return xdotool({QStringLiteral("mousemove"), QStringLiteral("--sync"),
                        QStringLiteral("--window"), window, QString::number(x), QString::number(y)})
                   .ok &&
               xdotool({QStringLiteral("click"), QStringLiteral("--repeat"), QString::number(count),
                        QStringLiteral("1")})
                   .ok;
    }

  private:
    QString missing_;
    QString display_;
    bool wmReady_ = false;
    mutable QProcess xvfb_;
    QProcess wm_;
};

// The real program in a fresh installation of its own, on the display.
class Program {
  public:
    explicit Program(const Desktop& desk) : desk_(desk) {
        installation = dir_.path() + QStringLiteral("/inst");
        trace = dir_.path() + QStringLiteral("/trace.txt");
        msglog = dir_.path() + QStringLiteral("/msg.log");
        assembled_ = QDir().mkpath(installation) && testsupport::assembleInstallation(installation);
    }
    ~Program() { stop(p_); }

    bool assembled() const { return assembled_; }
    // Fills the first company with `prospects` sample prospects and their
    // rows (vdrtool demo); what went wrong, or empty.
    QString fillDemo(int prospects) const {
        QProcess demo;
        demo.setProcessEnvironment(
            testsupport::programEnvironment(installation + QStringLiteral("/demo.log")));
        demo.setWorkingDirectory(installation);
        demo.start(testsupport::binary("vdrtool"),
                   {QStringLiteral("demo"), installation, QStringLiteral("--prospects"),
                    QString::number(prospects)});
        if (!demo.waitForFinished(180000)) return QStringLiteral("vdrtool demo no terminó");
        if (demo.exitCode() != 0) return QString::fromLocal8Bit(demo.readAllStandardError());
        return {};
    }
    // Starts `vdrcontv STATION`. Its message boxes are logged and shown for
    // real, for the test to answer as a person does (Desktop::answerBox);
    // `answers`, when given, answers them instead, in order.
    bool start(const QString& answers = {}) {
        QProcessEnvironment env = testsupport::programEnvironment(msglog, answers);
        if (answers.isEmpty()) env.remove(QStringLiteral("VDR_MSGANSWERS"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("DISPLAY"), desk_.display());
        env.insert(QStringLiteral("VDR_TRACE"), trace);
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        // The X libraries hand strndup buffers that are not NUL-terminated
        // (legitimately, with their length), and keep their connection's
        // memory to the end: the strict string checks and the leak report
        // would judge them, not us. The offscreen tests check our leaks.
        if (env.contains(QStringLiteral("ASAN_OPTIONS")))
            env.insert(QStringLiteral("ASAN_OPTIONS"),
                       QStringLiteral("detect_leaks=0:abort_on_error=1"));
        const QString run = dir_.path() + QStringLiteral("/run");
        QDir().mkpath(run);
        QFile::setPermissions(run, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env.insert(QStringLiteral("TMPDIR"), run);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), run);
        p_.setProcessEnvironment(env);
        p_.setWorkingDirectory(installation);
        p_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p_.start(testsupport::binary("vdrcontv"), {QStringLiteral("CAJA1")});
        return p_.waitForStarted(10000);
    }
    bool running() const { return p_.state() != QProcess::NotRunning; }
    bool waitForEnd(int timeoutMs = 20000) {
        return p_.state() == QProcess::NotRunning || p_.waitForFinished(timeoutMs);
    }
    int exitCode() const { return p_.exitCode(); }

    QStringList traceLines() const { return readLines(trace); }
    QStringList boxes() const { return readLines(msglog); }
    bool waitTrace(const QString& line, int timeoutMs = 60000) const {
        return waitUntil([&] { return traceLines().contains(line); }, timeoutMs);
    }
    bool waitBox(const QString& prefix, int timeoutMs = 15000) const {
        return waitUntil(
            [&] {
                for (const QString& b : boxes())
                    if (b.startsWith(prefix)) return true;
                return false;
            },
            timeoutMs);
    }
    // Where a control of a dialog lies, from the trace ("control NAME ID x
    // y w h"): the last place written, the one after the window settled.
    // Empty when never written.
    QRect controlPlace(const QString& dialog, int id) const {
        QRect place;
        for (const QString& l : traceLines()) {
            const QStringList f = l.split(QLatin1Char(' '));
            if (f.size() == 7 && f[0] == QLatin1String("control") && f[1] == dialog &&
                f[2].toInt() == id)
                place = {f[3].toInt(), f[4].toInt(), f[5].toInt(), f[6].toInt()};
        }
        return place;
    }
    // Its centre; (-1, -1) when never written.
    QPoint controlCentre(const QString& dialog, int id) const {
        const QRect place = controlPlace(dialog, id);
        return place.isNull()
                   ? QPoint(-1, -1)
                   : QPoint(place.x() + place.width() / 2, place.y() + place.height() / 2);
    }
    // Centre of a button of the main window's bar, by its text ("button
    // TEXT x y w h").
    QPoint barButtonCentre(const QString& text) const {
        return buttonCentre(QStringLiteral("button"), text);
    }
    // Centre of a button of a chart window's bar, in the main window, by its
    // text without "&" ("chartbutton TEXT x y w h"); the last chart shown.
    QPoint chartButtonCentre(const QString& text) const {
        return buttonCentre(QStringLiteral("chartbutton"), text);
    }

    QString installation, trace, msglog;

  private:
    QPoint buttonCentre(const QString& kind, const QString& text) const {
        QString name = text;
        name.replace(QLatin1Char(' '), QLatin1Char('_'));
        QPoint centre(-1, -1);
        for (const QString& l : traceLines()) {
            const QStringList f = l.split(QLatin1Char(' '));
            if (f.size() == 6 && f[0] == kind && f[1] == name)
                centre = {f[2].toInt() + f[4].toInt() / 2, f[3].toInt() + f[5].toInt() / 2};
        }
        return centre;
    }

    const Desktop& desk_;
    QTemporaryDir dir_;
    QProcess p_;
    bool assembled_ = false;
};

}  // namespace e2e
