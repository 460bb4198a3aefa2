#include "ui/messages.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiArea>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <cmath>
#include <memory>

#include "toolkit/dialog.h"
#include "toolkit/resources.h"
#include "toolkit/smalldialogs.h"
#include "toolkit/text.h"
#include "xbase/compiler.h"
#include "xbase/date.h"
#include "xbase/runtime.h"

namespace ui {

namespace {

// A window as the language sees it (ODLGMSG1 holds one): :End() and
// :Close() close it; :hWnd tells whether it is still open.
class WindowObject : public xb::Object {
  public:
    explicit WindowObject(QWidget* w) : w_(w) {}
    std::string className() const override { return "TDIALOG"; }
    bool send(std::string_view m, xb::Args&, xb::Value& r) override {
        if (m == "END" || m == "CLOSE") {
            if (w_) w_->close();
            r = xb::Value::logical(true);
            return true;
        }
        if (m == "HWND") {
            r = xb::Value::integer(w_ ? 1 : 0);
            return true;
        }
        return false;
    }
    bool assign(std::string_view, const xb::Value&) override { return false; }
    QWidget* widget() const { return w_; }

  private:
    QPointer<QWidget> w_;
};

QWidget* mainWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* m = qobject_cast<QMainWindow*>(w)) return m;
    return nullptr;
}

QString q(const std::string& s) {
    return tk::fromAnsi(s);
}

// A button's action (and tooltip), the rest from the template.
// A bitmap of the library as a button's icon; none when the library lacks it.
QIcon buttonIcon(const QString& name) {
    return tk::ResourceLibrary::bitmapPath(name).isEmpty() ? QIcon() : QIcon(tk::bitmap(name));
}

tk::ButtonSpec press(std::function<void()> action, const QString& tooltip = QString(),
                     bool cancel = false) {
    tk::ButtonSpec s;
    s.action = std::move(action);
    s.tooltip = tooltip;
    s.cancel = cancel;
    return s;
}

}  // namespace

xb::Value windowObject(QWidget* window) {
    return xb::Value::object(std::make_shared<WindowObject>(window));
}

void setScriptExit() {
    if (xb::varExists("_EXIT")) xb::assignVar("_EXIT", xb::Value::logical(true));
}

// ------------------------------------------------------- progress message
QWidget* progressMessage() {
    xb::Value v;
    if (!xb::getVar("ODLGMSG1", v) || !v.isObject()) return nullptr;
    auto* w = dynamic_cast<WindowObject*>(v.asObject().get());
    return w && w->widget() && w->widget()->isVisible() ? w->widget() : nullptr;
}

void closeProgressMessage() {
    if (QWidget* w = progressMessage()) {
        w->close();
        w->deleteLater();
    }
}

QWidget* DLGMENSAJ(const std::string& text) {
    closeProgressMessage();
    auto* dlg = new QDialog(mainWindow(), Qt::Dialog | Qt::CustomizeWindowHint);
    dlg->setObjectName(QStringLiteral("DLGMENSAJ"));
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->setSizeGripEnabled(true);
    dlg->resize(500, 70);
    dlg->setStyleSheet(QStringLiteral("QDialog { background: rgb(192,192,192); }"));
    auto* frame = new QGroupBox(dlg);
    frame->setGeometry(8, 0, 484, 62);
    auto* label = new QLabel(dlg);
    label->setObjectName(QStringLiteral("texto"));
    label->setGeometry(20, 26, 470, 24);
    label->setStyleSheet(QStringLiteral("color: rgb(0,0,100); background: rgb(192,192,192);"));
    label->setText(q(text).trimmed());
    if (QScreen* s = QGuiApplication::primaryScreen())
        dlg->move(s->availableGeometry().center() - QPoint(250, 35));
    dlg->show();
    xb::createPublic("ODLGMSG1");
    xb::assignVar("ODLGMSG1", xb::Value::object(std::make_shared<WindowObject>(dlg)));
    return dlg;
}

QWidget* MIMENSAJ(const std::string& text) {
    QWidget* w = DLGMENSAJ(text);
    QApplication::processEvents();
    return w;
}

// ----------------------------------------------------------------- banner
namespace {
QPointer<QTimer> g_banner;
xb::Value g_bannerFont;
}  // namespace

bool bannerRunning() {
    return g_banner && g_banner->isActive();
}
void stopBanner() {
    delete g_banner.data();
    g_bannerFont = {};
}

void MSGSUBLIM1(const xb::Value& font) {
    if (bannerRunning()) return;
    if (!g_banner) {
        g_banner = new QTimer(qApp);
        g_banner->setInterval(3000);
        QObject::connect(g_banner.data(), &QTimer::timeout,
                         [] { MSGSUBLIM2("Compre productos Valdrosa", g_bannerFont); });
    }
    g_bannerFont = font;
    g_banner->start();
}

void MSGSUBLIM2(const std::string& text, const xb::Value& font) {
    QWidget* main = mainWindow();
    if (!main) return;
    auto* mw = static_cast<QMainWindow*>(main);
    QWidget* client = mw->centralWidget() ? mw->centralWidget() : main;
    auto* label = client->findChild<QLabel*>(QStringLiteral("banner"), Qt::FindDirectChildrenOnly);
    if (!label) {
        label = new QLabel(client);
        label->setObjectName(QStringLiteral("banner"));
        label->setStyleSheet(QStringLiteral("color: rgb(30,30,185); background: rgb(51,0,153);"));
    }
    QFont f = label->font();
    if (font.isObject()) {
        xb::Value face;
        xb::Args none;
        if (font.asObject()->send("CFACENAME", none, face) && face.isString())
            f.setFamily(q(face.asString()));
    }
    label->setFont(f);
    const int lineH = label->fontMetrics().height();
    const int charW = label->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    label->move(5 * charW, lineH);
    label->setText(q(text));
    label->adjustSize();
    label->show();
    label->raise();
    QApplication::processEvents();
    label->setText(QString(70, QLatin1Char(' ')));
}

// ----------------------------------------------------------------- inputs
bool MIMSGGET(const std::string& title, const std::string& prompt, xb::Value& value) {
    tk::Dialog dlg(QStringLiteral("MiMsgGet"));
    dlg.setWindowTitle(title.empty() ? QStringLiteral("Ingreso de datos") : q(title));
    dlg.form().setText(101, prompt.empty() ? QStringLiteral("Digite dato") : q(prompt));
    xb::Value copy = value;
    tk::EntryBinding bind;
    bind.get = [&copy] { return copy; };
    bind.set = [&copy](const xb::Value& v) { copy = v; };
    bind.picture = "@!S80";
    dlg.bindEntry(102, bind);
    bool accepted = false;
    dlg.bindButton(201, press(
                            [&] {
                                dlg.form().commit();
                                accepted = true;
                                dlg.end(1);
                            },
                            QStringLiteral("Aceptar dato ingresado")));
    dlg.bindButton(202,
                   press([&] { dlg.end(0); }, QStringLiteral("Cancelar ingreso de datos"), true));
    dlg.run();
    if (accepted) value = copy;
    return accepted;
}

xb::Value GENLOCALBLOCK(const xb::Value& fields, int n) {
    auto arr = fields.asArray();
    if (!arr || n < 1 || static_cast<size_t>(n) > arr->items.size()) return {};
    const xb::Value& entry = arr->items[static_cast<size_t>(n) - 1];
    const xb::Value name =
        entry.isArray() && !entry.asArray()->items.empty() ? entry.asArray()->items[0] : entry;
    if (!name.isString()) return {};
    std::string var;
    for (char c : name.asString())
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') var += c;
    if (var.empty()) return {};
    return xb::compileBlock("{|x| IIF(x == NIL, " + var + ", " + var + " := x)}");
}

namespace {

xb::Value item(const xb::Value& entry, size_t i) {
    auto a = entry.asArray();
    return a && i < a->items.size() ? a->items[i] : xb::Value();
}
int num(const xb::Value& v) {
    return v.isNum() ? static_cast<int>(v.asNumber()) : 0;
}
constexpr int kUnit = 2;  // pixels per dialog unit of the run-time dialogs

}  // namespace

xb::Value CGDIALGET(int height, int width, const xb::Value& labels, const xb::Value& fields,
                    const std::string& title) {
    auto la = labels.asArray();
    auto fa = fields.asArray();
    // 1. Remember every variable and its value, for a cancel.
    std::vector<std::pair<std::string, xb::Value>> saved;
    if (fa) {
        for (size_t i = 0; i < fa->items.size(); ++i) {
            const xb::Value name = item(fa->items[i], 0);
            if (!name.isString()) continue;
            char suffix[24];
            std::snprintf(suffix, sizeof suffix, "%03zu", i + 1);
            xb::Value current;
            xb::getVar(name.asString(), current);
            xb::createPrivate(std::string("cVar") + suffix, name);
            xb::createPrivate(std::string("cDato") + suffix, current);
            saved.emplace_back(name.asString(), current);
        }
    }
    if (!la || !fa || la->items.empty() || fa->items.empty()) {
        tk::alertBytes("Error en la creaci\xb0n del Di\xa0logo o alguno de sus componentes",
                       "Atenci\xb0n.....", {});
        setScriptExit();
        return {};
    }

    QDialog dlg(QApplication::activeWindow());
    dlg.setObjectName(QStringLiteral("CGDIALGET"));
    dlg.setWindowTitle(q(title));
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(8);
    dlg.setFont(font);
    dlg.setFixedSize(std::max(width, 120), std::max(height, 80));
    for (const xb::Value& l : la->items) {
        auto* label = new QLabel(q(item(l, 0).toText()), &dlg);
        label->move(num(item(l, 2)) * kUnit, num(item(l, 1)) * kUnit);
        label->adjustSize();
    }
    std::vector<std::unique_ptr<tk::EntryField>> entries;
    const int dW = dlg.fontMetrics().horizontalAdvance(QLatin1Char('D'));
    for (size_t i = 0; i < fa->items.size(); ++i) {
        const xb::Value& f = fa->items[i];
        const xb::Value name = item(f, 0);
        if (!name.isString()) continue;
        xb::Value current;
        xb::getVar(name.asString(), current);
        std::string picture;
        double count = 0;
        bool right = false;
        if (current.isDate()) {
            picture = "@ ##-##-####";
            count = xb::formatDate(current.asDate(), xb::effectiveDateFormat()).size() / 1.3;
        } else if (current.isNum()) {
            const xb::Value p = item(f, 3);
            picture = p.isString() && !p.asString().empty() ? p.asString() : "###############.##";
            count = picture.size() / 1.6;
            right = true;
        } else {
            picture = "@K";
            count = current.isString() ? current.asString().size() : current.toText().size();
        }
        auto* edit = new QLineEdit(&dlg);
        edit->setObjectName(QStringLiteral("campo%1").arg(i + 1));
        edit->move(num(item(f, 2)) * kUnit, num(item(f, 1)) * kUnit);
        edit->resize(std::max(40, static_cast<int>(std::lround(0.6 * dW * count * kUnit))),
                     9 * kUnit + 4);
        if (right) edit->setAlignment(Qt::AlignRight);
        const std::string var = name.asString();
        const xb::Value block = GENLOCALBLOCK(fields, static_cast<int>(i) + 1);
        tk::EntryBinding bind;
        bind.get = [block] { return xb::evalBlock(block); };
        bind.set = [block](const xb::Value& v) { xb::evalBlock(block, {v}); };
        bind.picture = picture;
        bind.dateFormat = xb::effectiveDateFormat();
        entries.push_back(std::make_unique<tk::EntryField>(edit, bind));
    }
    bool accepted = false;
    bool closing = false;
    const int buttonRow = (height / 2 - 15) * kUnit;
    const int half = width / 2;
    auto* ok = new QPushButton(QStringLiteral("&Aceptar"), &dlg);
    ok->setObjectName(QStringLiteral("aceptar"));
    ok->setToolTip(QStringLiteral("Aceptar dato ingresado"));
    ok->setIcon(buttonIcon(QStringLiteral("OK1")));
    ok->setGeometry((half / 2 - 43) * kUnit, buttonRow, 40 * kUnit, 9 * kUnit + 6);
    auto* cancel = new QPushButton(QStringLiteral("&Cancelar"), &dlg);
    cancel->setObjectName(QStringLiteral("cancelar"));
    cancel->setToolTip(QStringLiteral("Cancelar ingreso de datos"));
    cancel->setIcon(buttonIcon(QStringLiteral("Exit1")));
    cancel->setGeometry((half / 2 + 3) * kUnit, buttonRow, 40 * kUnit, 11 * kUnit + 2);
    QObject::connect(ok, &QPushButton::clicked, &dlg, [&] {
        // A field that refuses its value keeps the dialog open on it.
        for (auto& e : entries)
            if (!e->leave()) return;
        accepted = true;
        closing = true;
        dlg.accept();
    });
    QObject::connect(cancel, &QPushButton::clicked, &dlg, [&] {
        setScriptExit();
        closing = true;
        dlg.reject();
    });
    // Only the two buttons close it: Escape and the close box do nothing.
    struct Guard : QObject {
        bool* closing;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Close && !*closing) {
                e->ignore();
                return true;
            }
            if (e->type() == QEvent::KeyPress &&
                static_cast<QKeyEvent*>(e)->key() == Qt::Key_Escape)
                return true;
            return false;
        }
    } guard;
    guard.closing = &closing;
    dlg.installEventFilter(&guard);
    for (auto& e : entries) e->refresh();
    dlg.exec();
    entries.clear();

    bool exitSet = false;
    xb::Value ex;
    if (xb::getVar("_EXIT", ex)) exitSet = ex.asLogical();
    if (!accepted || exitSet)
        for (const auto& [name, value] : saved) xb::assignVar(name, value);
    return xb::Value::logical(accepted);
}

int SELECCFRM(const std::string& option1, const std::string& option2) {
    tk::Dialog dlg(QStringLiteral("Impres2"));
    int chosen = 0;
    dlg.form().bindRadios(
        {101, 102}, [&] { return chosen; }, [&](int n) { chosen = n; });
    dlg.setOnInit([&] {
        dlg.form().setText(101, q(option1));
        dlg.form().setText(102, q(option2));
    });
    bool byButton = false;
    dlg.setCloseRule([&] { return byButton; });
    dlg.bindButton(201, press(
                            [&] {
                                byButton = true;
                                dlg.end(1);
                            },
                            QStringLiteral("Proceder con impresión")));
    dlg.bindButton(202, press(
                            [&] {
                                setScriptExit();
                                byButton = true;
                                dlg.end(0);
                            },
                            QStringLiteral("Cancela impresión"), true));
    dlg.run();
    return chosen;
}

// --------------------------------------------------------------- utilities
int32_t ULT_DAY(int32_t jdn) {
    if (jdn == 0) return 0;
    const xb::Ymd d = xb::ymdFromJulian(jdn);
    if (d.month == 12) return xb::julianFromYmd(d.year, 12, 31);
    return xb::julianFromYmd(d.year, d.month + 1, 1) - 1;
}

bool POWERPNT(const std::string& file) {
    QString path = q(file).trimmed();
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QFileInfo fi(path);
    if (path.isEmpty() || !fi.exists()) return false;
    const QByteArray opener = qgetenv("VDR_OPENER");
    if (!opener.isEmpty())
        return QProcess::startDetached(QString::fromLocal8Bit(opener), {fi.absoluteFilePath()});
    return QProcess::startDetached(QStringLiteral("xdg-open"), {fi.absoluteFilePath()});
}

// ------------------------------------------------------------ registration
void registerMessageFunctions() {
    using xb::Args;
    using xb::Value;
    auto s = [](Args& a, size_t i) { return a[i].isString() ? a[i].asString() : std::string(); };
    xb::registerFunction("DLGMENSAJ", [s](Args& a) {
        DLGMENSAJ(s(a, 0));
        xb::Value v;
        xb::getVar("ODLGMSG1", v);
        return v;
    });
    xb::registerFunction("MIMENSAJ", [s](Args& a) {
        MIMENSAJ(s(a, 0));
        return Value();
    });
    xb::registerFunction("MSGSUBLIM1", [](Args& a) {
        MSGSUBLIM1(a[0]);
        return Value();
    });
    xb::registerFunction("MSGSUBLIM2", [s](Args& a) {
        MSGSUBLIM2(s(a, 0), a[1]);
        return Value();
    });
    xb::registerFunction("MIMSGGET", [s](Args& a) {
        Value v = a[2];
        const bool ok = MIMSGGET(s(a, 0), s(a, 1), v);
        if (ok && a.isRef(2)) a.setRef(2, v);
        return Value::logical(ok);
    });
    xb::registerFunction("MIMSGGET2", [s](Args& a) {
        Value v = a[3];
        const bool ok = MIMSGGET(s(a, 0), s(a, 1), v);
        if (ok && a.isRef(3)) a.setRef(3, v);
        return Value::logical(ok);
    });
    xb::registerFunction(
        "CGDIALGET", [s](Args& a) { return CGDIALGET(num(a[0]), num(a[1]), a[2], a[3], s(a, 4)); });
    xb::registerFunction("GENLOCALBLOCK", [](Args& a) { return GENLOCALBLOCK(a[0], num(a[1])); });
    xb::registerFunction("SELECCFRM",
                         [s](Args& a) { return Value::integer(SELECCFRM(s(a, 0), s(a, 1))); });
    xb::registerFunction(
        "ULT_DAY", [](Args& a) { return Value::date(ULT_DAY(a[0].asDate())); }, true);
    xb::registerFunction("POWERPNT", [s](Args& a) { return Value::logical(POWERPNT(s(a, 0))); });
}

}  // namespace ui
