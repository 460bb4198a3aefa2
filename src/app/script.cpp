#include "app/script.h"

#include <spawn.h>
#include <sys/wait.h>
#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>

#include "data/paths.h"
#include "dbf/cdx.h"
#include "dbf/workspace.h"
#include "reports/progress.h"
#include "reports/store.h"
#include "xbase/codepage.h"
#include "xbase/compiler.h"
#include "xbase/runtime.h"
#include "xbase/tpublic.h"

extern char** environ;

namespace app {

namespace {

std::string trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return std::string(s.substr(b, e - b));
}

// The session's record of the line being run (OAPEJEC:nLinEjec), read by the
// error handler; absent outside a session.
xb::TPublic* lineStore() {
    xb::Value v;
    if (!xb::getVar("OAPEJEC", v) || !v.isObject()) return nullptr;
    return dynamic_cast<xb::TPublic*>(v.objectPtr());
}

void setLineNumber(int n) {
    if (xb::TPublic* s = lineStore(); s && s->isDef("nLinEjec"))
        s->set("nLinEjec", xb::Value::integer(n));
}

int lineNumber() {
    if (xb::TPublic* s = lineStore(); s && s->isDef("nLinEjec"))
        return static_cast<int>(s->get("nLinEjec").asNumber());
    return 0;
}

// Is the script of `key` one whose lines are kept, by the session list _FORM?
bool cachedByForm(const std::string& key) {
    xb::Value form;
    if (!xb::getVar("_FORM", form) || !form.isArray()) return false;
    std::string bare = key.substr(1);
    for (const auto& e : form.arrayPtr()->items) {
        if (!e.isString()) continue;
        std::string entry = xb::upper1252(trim(e.asString()));
        if (!bare.empty() && entry.compare(0, bare.size(), bare) == 0) return true;
    }
    return false;
}

// Evaluates a code block once for each record the current table holds when
// the line starts, in the current order; records added by the block itself
// are not visited, and records it hides are skipped.
void overRecords(const xb::Value& block) {
    auto& ws = dbf::workspace();
    int n = ws.currentArea();
    dbf::WorkArea* wa = n ? ws.area(n) : nullptr;
    if (!wa) return;
    // A report run from the program's windows answers its "Cancelar" here.
    // The records are listed a few hundred at a time under one look at the
    // order's bag, never while the user is answered.
    std::vector<uint32_t> recs;
    wa->goTop();
    while (!wa->eof()) {
        {
            dbf::ReadBatch batch;
            for (int k = 0; k < 512 && !wa->eof(); ++k, wa->skip(1)) recs.push_back(wa->recno());
        }
        reports::RunProgress::pulse(0, 0);
    }
    for (size_t i = 0; i < recs.size(); ++i) {
        reports::RunProgress::pulse(i, recs.size());
        wa = ws.area(n);
        if (!wa) return;  // the block closed the table
        wa->goTo(recs[i]);
        if (!wa->visible()) continue;
        xb::evalBlock(block);
    }
}

void unsupported(const std::string& name, const std::string& what) {
    xb::Error e =
        xb::makeError(xb::gen::Unsupported, 1001,
                      "Funci\xf3n no disponible en este sistema (" + what + "): " + name, name);
    e.canSubstitute = true;
    xb::raise(std::move(e));
}

// Runs a program with its arguments, without a shell, and waits for it.
int waitRun(const std::vector<std::string>& argv) {
    std::vector<char*> p;
    for (const auto& a : argv) p.push_back(const_cast<char*>(a.c_str()));
    p.push_back(nullptr);
    pid_t pid = 0;
    int rc = ::posix_spawnp(&pid, p[0], nullptr, nullptr, p.data(), environ);
    if (rc != 0) {
        xb::Error e = xb::makeError(
            xb::gen::Open, 2020,
            "No se puede ejecutar el programa: " + xb::utf8ToCp1252(std::strerror(rc)), argv[0]);
        e.canSubstitute = true;
        return static_cast<int>(xb::raise(std::move(e)).value.asNumber());
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

ScriptOutput& scriptOutput() {
    static ScriptOutput out;
    return out;
}

void outputLine(const std::string& line) {
    ScriptOutput& o = scriptOutput();
    if (o.console) {
        if (o.consoleSink)
            o.consoleSink(line);
        else
            std::cout << xb::cp1252ToUtf8(line) << "\n" << std::flush;
    }
    if (o.printer && o.printerSink) o.printerSink(line);
    if (o.alternate && !o.alternateFile.empty()) {
        std::ofstream f(data::hostPath(o.alternateFile), std::ios::app | std::ios::binary);
        f << line << "\r\n";
    }
}

std::string scriptCacheKey(std::string_view name) {
    return reports::scriptCacheVariable(name);
}

std::vector<std::string> splitScriptLines(std::string_view text) {
    return reports::scriptLines(text);
}

bool EJECUTAR(std::string_view name, const std::optional<std::string>& source) {
    xb::Procedure proc("EJECUTAR");
    // What the error report lists for this level: the script asked for.
    proc.setParams(
        {xb::Value::str(std::string(name)), source ? xb::Value::str(*source) : xb::Value::nil()});
    int outerLine = lineNumber();
    xb::createPrivate("G_REP", xb::Value());
    xb::createPrivate("_EXIT", xb::Value::logical(false));
    auto& ws = dbf::workspace();
    int areaAtStart = ws.current();
    xb::createPrivate("A_P", xb::Value::integer(areaAtStart));
    setLineNumber(0);
    struct Restore {
        int area, line;
        ~Restore() {
            dbf::workspace().select(area);
            setLineNumber(line);
        }
    } restore{areaAtStart, outerLine};

    std::optional<std::string> plain = reports::plainScriptName(name);
    if (!plain) {
        reports::refuseName(name);
        return false;
    }
    std::string key = scriptCacheKey(*plain);
    std::vector<std::string> lines;
    xb::Value cached;
    if (xb::getVar(key, cached) && cached.isArray()) {
        for (const auto& v : cached.arrayPtr()->items)
            if (v.isString()) lines.push_back(v.asString());
        proc.setLocals({xb::Value::str(key), cached});
    } else {
        std::string text;
        if (source && !data::fileExists(reports::loosePath(*plain))) {
            text = *source;
        } else {
            reports::ScriptText found = reports::findScript(*plain, true);
            if (found.source == reports::Source::None) return false;
            text = std::move(found.text);
        }
        if (text.empty()) return true;
        lines = splitScriptLines(text);
        xb::Value arr = xb::Value::newArray();
        for (const auto& l : lines) arr.arrayPtr()->items.push_back(xb::Value::str(l));
        if (cachedByForm(key)) {
            xb::createPublic(key, arr);
            xb::assignVar(key, arr);
        }
        proc.setLocals({xb::Value::str(key), arr});
    }

    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        int number = static_cast<int>(i) + 1;
        setLineNumber(number);
        proc.setLine(number, line);
        xb::assignVar("G_REP", xb::Value::str(line));
        bool bracket = line[0] == '[';
        if (line.find(":=") != std::string::npos) {
            if (!bracket) xb::evalText(line);
        } else {
            xb::Value v = bracket ? xb::Value::str(line) : xb::evalText(line);
            xb::assignVar("G_REP", v);
            if (v.isBlock()) {
                overRecords(v);
            } else if (!v.isArray() && !v.isNil() && !v.isLogical()) {
                const ScriptOutput& o = scriptOutput();
                if (o.console || o.printer || o.alternate) outputLine(v.toText());
            }
        }
        xb::Value stop;
        if (xb::getVar("_EXIT", stop) && stop.asLogical()) break;
    }
    return true;
}

void registerScriptFunctions() {
    auto text = [](const xb::Value& v) { return v.isString() ? v.asString() : std::string(); };
    xb::registerFunction("EJECUTAR", [=](xb::Args& a) {
        std::optional<std::string> src;
        if (a[1].isString()) src = a[1].asString();
        EJECUTAR(text(a[0]), src);
        return xb::Value();
    });
    // The output switches answer their former state, as SET() does.
    auto toggle = [](bool ScriptOutput::*flag) {
        return [flag](xb::Args& a) {
            bool old = scriptOutput().*flag;
            if (a[0].isLogical()) scriptOutput().*flag = a[0].asLogical();
            return xb::Value::logical(old);
        };
    };
    xb::registerFunction("SETCONSOLE", toggle(&ScriptOutput::console));
    xb::registerFunction("SETPRINTER", toggle(&ScriptOutput::printer));
    xb::registerFunction("SETALTERNATE", [](xb::Args& a) {
        bool old = scriptOutput().alternate;
        if (a[1].isString()) scriptOutput().alternateFile = trim(a[1].asString());
        if (a[0].isLogical()) scriptOutput().alternate = a[0].asLogical();
        return xb::Value::logical(old);
    });
    xb::registerFunction("QOUT", [](xb::Args& a) {
        std::string line;
        for (size_t i = 0; i < a.size(); ++i) line += (i ? " " : "") + a[i].toText();
        outputLine(line);
        return xb::Value();
    });
    xb::registerFunction("WAITRUN", [=](xb::Args& a) {
        std::vector<std::string> argv;
        if (a[1].isArray()) {
            argv.push_back(trim(text(a[0])));
            for (const auto& v : a[1].arrayPtr()->items) argv.push_back(v.toText());
        } else {
            // A command line: words at blanks, never through a shell.
            std::string cmd = text(a[0]);
            size_t p = 0;
            while (p < cmd.size()) {
                while (p < cmd.size() && cmd[p] == ' ') ++p;
                size_t e = cmd.find(' ', p);
                if (e == std::string::npos) e = cmd.size();
                if (e > p) argv.push_back(cmd.substr(p, e - p));
                p = e;
            }
            for (size_t i = 1; i < a.size(); ++i) argv.push_back(a[i].toText());
        }
        if (argv.empty() || argv[0].empty()) return xb::Value::integer(-1);
        for (auto& s : argv) s = xb::cp1252ToUtf8(s);
        return xb::Value::integer(waitRun(argv));
    });
    // PUBLIC and PRIVATE of a script line: a line cannot declare, so these
    // create the named variables (nil; a public keeps its value when it
    // exists). A private belongs to the run of the script that declared it.
    xb::registerFunction("__MVPUBLIC", [](xb::Args& a) {
        for (size_t i = 0; i < a.size(); ++i)
            if (a[i].isString()) xb::createPublic(trim(a[i].asString()), xb::Value());
        return xb::Value();
    });
    xb::registerFunction("__MVPRIVATE", [](xb::Args& a) {
        for (size_t i = 0; i < a.size(); ++i)
            if (a[i].isString()) xb::createPrivate(trim(a[i].asString()), xb::Value());
        return xb::Value();
    });
    // One key, by its INKEY() code, for the field that has the focus, as if
    // typed after what is already waiting; false when no field has it.
    xb::registerFunction("KEYPUT", [](xb::Args& a) {
        QWidget* target = QApplication::focusWidget();
        if (!target || !a[0].isNum()) return xb::Value::logical(false);
        const int code = static_cast<int>(a[0].asNumber());
        static const std::pair<int, Qt::Key> named[] = {
            {13, Qt::Key_Return},   {27, Qt::Key_Escape}, {9, Qt::Key_Tab},
            {8, Qt::Key_Backspace}, {5, Qt::Key_Up},      {24, Qt::Key_Down},
            {19, Qt::Key_Left},     {4, Qt::Key_Right},   {1, Qt::Key_Home},
            {6, Qt::Key_End},       {18, Qt::Key_PageUp}, {3, Qt::Key_PageDown},
            {22, Qt::Key_Insert},   {7, Qt::Key_Delete}};
        int key = 0;
        QString text;
        for (const auto& [c, k] : named)
            if (c == code) key = k;
        if (key == 0) {
            if (code < 32 || code > 255) return xb::Value::logical(false);
            const std::string ch(1, static_cast<char>(code));
            text = QString::fromStdString(xb::cp1252ToUtf8(ch));
            key = text.at(0).toUpper().unicode();
        } else if (key == Qt::Key_Return || key == Qt::Key_Tab) {
            text = key == Qt::Key_Return ? QStringLiteral("\r") : QStringLiteral("\t");
        }
        QCoreApplication::postEvent(target,
                                    new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier, text));
        QCoreApplication::postEvent(target,
                                    new QKeyEvent(QEvent::KeyRelease, key, Qt::NoModifier, text));
        return xb::Value::logical(true);
    });
    const std::pair<const char*, const char*> missing[] = {
        {"PRINTERESC",
         "c\xf3"
         "digos de escape directos a la impresora"},
        {"INIT_PORT", "puertos serie"},
        {"UNINT_PORT", "puertos serie"},
        {"INBUFSIZE", "puertos serie"},
        {"OUTCHR", "puertos serie"},
        {"INCHR", "puertos serie"},
        {"TACTIVEX", "controles ActiveX"},
        {"OLEUNINITIALIZE", "controles ActiveX"},
        {"GETPROCADDRESS", "llamadas a bibliotecas din\xe1micas"},
        {"LIBDO", "llamadas a bibliotecas din\xe1micas"},
    };
    for (const auto& [fn, what] : missing) {
        std::string n = fn, w = what;
        xb::registerFunction(fn, [n, w](xb::Args&) {
            unsupported(n, w);
            return xb::Value();
        });
    }
}

}  // namespace app
