// The template check: every template of the library builds, and every control
// the program's code addresses in a template (by ID, with the kind the code
// expects) is there, so that a template and the code that binds it cannot
// drift apart. What the code addresses is read from the program's sources.
#include <gtest/gtest.h>

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTabWidget>
#include <map>

#include "toolkit/dialog.h"
#include "toolkit/resources.h"
#include "xbase/error.h"

namespace {

using Controls = std::map<int, QString>;  // ID -> kind

// Controls of a form that are its own (not those of a folder's pages).
int ownControlCount(const tk::Form& f) {
    int n = 0;
    for (QWidget* w : f.root()->findChildren<QWidget*>()) {
        if (!w->property("ctlId").isValid()) continue;
        QWidget* p = w->parentWidget();
        while (p != f.root() && !qobject_cast<QTabWidget*>(p)) p = p->parentWidget();
        if (p == f.root()) ++n;
    }
    return n;
}

Controls controlsOf(const tk::Form& f) {
    EXPECT_EQ(ownControlCount(f), f.ids().size()) << "a control ID used twice";
    Controls out;
    for (int id : f.ids()) {
        out[id] = tk::controlKind(f.find(id));
        EXPECT_NE(out[id], QStringLiteral("other")) << "control " << id;
    }
    return out;
}

// Every template as the program builds it: the dialogs, and the pages their
// folders load.
struct Library {
    std::map<QString, Controls> controls;
    std::map<QString, QStringList> pages;  // a folder dialog's page templates
};

const Library& library() {
    static const Library lib = [] {
        Library l;
        for (const QString& n : tk::ResourceLibrary::templateNames()) {
            QFile f(tk::ResourceLibrary::templatePath(n));
            EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << n.toStdString();
            if (!f.readAll().contains("class=\"QDialog\"")) continue;  // a page
            SCOPED_TRACE(n.toStdString());
            tk::Dialog d(n);
            l.controls[n] = controlsOf(d.form());
            for (const auto& [id, kind] : l.controls[n]) {
                if (kind != QStringLiteral("folder")) continue;
                EXPECT_GT(d.pageCount(id), 0) << "folder " << id;
                for (int p = 1; p <= d.pageCount(id); ++p) {
                    const tk::Form& page = d.page(id, p);
                    l.pages[n] << page.root()->objectName();
                    l.controls[page.root()->objectName()] = controlsOf(page);
                }
            }
        }
        return l;
    }();
    return lib;
}

// One control the program's code addresses: where, which ID, and the kind
// the code needs (empty: any kind).
struct Use {
    QString where;
    int id;
    QString kind;
};

// The templates a use may refer to: any of them holds the control, or (a
// dialog built from one of several card templates) every one must.
struct Scope {
    QStringList templates;
    bool every = false;
};

QString kindOfCall(const QString& call, const QString& widgetClass) {
    static const std::map<QString, QString> calls = {
        {"bindEntry", "entry"}, {"entry", "entry"},      {"bindButton", "button"},
        {"bindCombo", "combo"}, {"bindCheck", "check"},  {"bindMemo", "memo"},
        {"page", "folder"},     {"pageCount", "folder"}, {"setPageEnabled", "folder"}};
    static const std::map<QString, QString> classes = {
        {"QTableView", "grid"},   {"QTabWidget", "folder"},  {"QCalendarWidget", "month"},
        {"QLabel", "text"},       {"QPushButton", "button"}, {"QComboBox", "combo"},
        {"QLineEdit", "entry"},   {"QCheckBox", "check"},    {"QPlainTextEdit", "memo"},
        {"QRadioButton", "radio"}};
    if (!widgetClass.isEmpty()) {
        auto it = classes.find(widgetClass);
        EXPECT_NE(it, classes.end()) << "unknown control class " << widgetClass.toStdString();
        return it == classes.end() ? QString() : it->second;
    }
    auto it = calls.find(call);
    return it == calls.end() ? QString() : it->second;
}

// Reads the program's sources: for every control ID a call addresses, the
// scope of templates it belongs to (the template named last before it in the
// same file, or any template the file names when none is named before it).
std::vector<std::pair<Use, Scope>> programUses(QStringList* cardTemplates) {
    static const QRegularExpression name(QStringLiteral("\"(\\w+)\""));
    static const QRegularExpression card(QStringLiteral("Dialog\\s+\\w+\\(\\w+\\.cardTemplate\\b"));
    static const QRegularExpression cardName(
        QStringLiteral("cardTemplate\\s*=\\s*QStringLiteral\\(\"(\\w+)\"\\)"));
    static const QRegularExpression call(QStringLiteral(
        "\\b(bindEntry|bindButton|bindCombo|bindCheck|bindMemo|setText|setColors|setEnabled|"
        "keepTextWidth|control|entry|page|pageCount|setPageEnabled|ctl<(\\w+)>)\\(\\s*(\\d{3})"
        "\\b"));
    static const QRegularExpression radios(QStringLiteral("\\bbindRadios\\(\\s*\\{([^}]*)\\}"));
    static const QRegularExpression cardFields(QStringLiteral("\\bcardFields\\s*=\\s*\\{(.*?)\\};"),
                                               QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression number(QStringLiteral("\\b(\\d{3})\\b"));
    static const QRegularExpression fieldId(QStringLiteral("\\{\\s*(\\d{3})\\s*,"));

    const Library& lib = library();
    std::vector<std::pair<QString, QString>> files;
    QDirIterator it(QStringLiteral(VDR_SOURCE_DIR "/src"), {"*.cpp", "*.h"}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile f(it.next());
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        const QString text = QString::fromLatin1(f.readAll());
        files.emplace_back(f.fileName().mid(QStringLiteral(VDR_SOURCE_DIR).size() + 1), text);
        for (auto m = cardName.globalMatch(text); m.hasNext();)
            *cardTemplates << m.next().captured(1);
    }

    std::vector<std::pair<Use, Scope>> out;
    for (const auto& [path, text] : files) {
        std::map<qsizetype, Scope> marks;  // where a template is named
        for (auto m = name.globalMatch(text); m.hasNext();) {
            const auto n = m.next();
            auto dialog = lib.pages.find(n.captured(1));
            if (lib.controls.count(n.captured(1)) == 0) continue;
            Scope s{{n.captured(1)}};
            if (dialog != lib.pages.end()) s.templates << dialog->second;
            marks[n.capturedStart()] = s;
        }
        for (auto m = card.globalMatch(text); m.hasNext();)
            marks[m.next().capturedStart()] = Scope{*cardTemplates, true};
        Scope anyOfFile;
        for (const auto& [at, s] : marks) anyOfFile.templates << s.templates;
        auto scopeAt = [&](qsizetype at) {
            auto m = marks.lower_bound(at);
            return m == marks.begin() ? anyOfFile : std::prev(m)->second;
        };
        auto add = [&](qsizetype at, int id, const QString& kind) {
            const QString where =
                path + QLatin1Char(':') + QString::number(text.left(at).count('\n') + 1);
            out.push_back({Use{where, id, kind}, scopeAt(at)});
        };
        for (auto m = call.globalMatch(text); m.hasNext();) {
            const auto c = m.next();
            add(c.capturedStart(), c.captured(3).toInt(), kindOfCall(c.captured(1), c.captured(2)));
        }
        for (auto m = radios.globalMatch(text); m.hasNext();) {
            const auto r = m.next();
            for (auto n = number.globalMatch(r.captured(1)); n.hasNext();)
                add(r.capturedStart(), n.next().captured(1).toInt(), QStringLiteral("radio"));
        }
        for (auto m = cardFields.globalMatch(text); m.hasNext();) {
            const auto r = m.next();
            for (auto n = fieldId.globalMatch(r.captured(1)); n.hasNext();)
                add(r.capturedStart(), n.next().captured(1).toInt(), QStringLiteral("entry"));
        }
    }
    return out;
}

TEST(TemplateCheck, EveryControlTheProgramAddressesIsInItsTemplate) {
    const Library& lib = library();
    // Every template is a dialog or a page of one.
    for (const QString& n : tk::ResourceLibrary::templateNames())
        EXPECT_TRUE(lib.controls.count(n))
            << "template neither a dialog nor a page: " << n.toStdString();

    QStringList cards;
    const auto uses = programUses(&cards);
    std::map<QString, int> checked;  // uses found per template
    for (const auto& [use, scope] : uses) {
        SCOPED_TRACE(use.where.toStdString());
        ASSERT_FALSE(scope.templates.isEmpty()) << "control " << use.id << " of no template";
        int found = 0;
        for (const QString& t : scope.templates) {
            const Controls& c = lib.controls.at(t);
            auto ctl = c.find(use.id);
            const bool ok = ctl != c.end() && (use.kind.isEmpty() || ctl->second == use.kind);
            if (ok) ++checked[t], ++found;
            if (!ok && scope.every)
                ADD_FAILURE() << t.toStdString() << " lacks control " << use.id << " ("
                              << use.kind.toStdString() << ")";
        }
        EXPECT_GT(found, 0) << "no control " << use.id << " (" << use.kind.toStdString() << ") in "
                            << scope.templates.join(QLatin1Char('|')).toStdString();
    }
    // Every template is built by the program, and the reading of the sources
    // found controls it addresses in each.
    for (const auto& [name, controls] : lib.controls)
        EXPECT_GT(checked[name], 0) << "no control of " << name.toStdString() << " addressed";
}

TEST(TemplateCheck, MissingTemplateIsAnError) {
    EXPECT_THROW(tk::Dialog d(QStringLiteral("NoExisteDlg")), xb::Break);
    tk::Dialog d(QStringLiteral("Dlg_Vend"));
    EXPECT_THROW(d.control(999), xb::Break);
}

}  // namespace
