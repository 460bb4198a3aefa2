#include "app/menu.h"

#include <QAction>
#include <QDir>
#include <QKeySequence>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <vector>

#include "app/application.h"
#include "app/files.h"
#include "data/helpers.h"
#include "data/menutable.h"
#include "dbf/error.h"
#include "dbf/order.h"
#include "dbf/workspace.h"
#include "toolkit/resources.h"
#include "xbase/codepage.h"
#include "xbase/compiler.h"
#include "xbase/runtime.h"

namespace app {

namespace {

// Colours of the submenus (the bar itself keeps the desktop's look).
QString submenuStyle() {
    // The side band runs from the end colour lightened by 230 to the end colour.
    const QColor end(96, 149, 174);
    auto lighten = [](int c) {
        return c + (255 - c) * 230 / 255 + ((255 - c) * 230 % 255 * 2 >= 255 ? 1 : 0);
    };
    const QColor start(lighten(end.red()), lighten(end.green()), lighten(end.blue()));
    return QStringLiteral(
               "QMenu { background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 %1, stop:0.06 "
               "%2, "
               "stop:0.0601 rgb(250,250,250), stop:1 rgb(250,250,250)); color: black; }"
               "QMenu::item { padding: 3px 24px 3px 30px; }"
               "QMenu::item:selected { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, "
               "stop:0 rgb(255,238,194), stop:1 rgb(255,238,38)); color: black; border: 1px solid "
               "black; }"
               "QMenu::separator { height: 1px; background: rgb(180,180,180); margin: 3px 6px 3px "
               "30px; }")
        .arg(start.name(), end.name());
}

QString text(const xb::Value& v) {
    return QString::fromStdString(
               xb::cp1252ToUtf8(v.type() == 'C' || v.type() == 'M' ? v.asString() : v.toText()))
        .trimmed();
}

// The item handed to its action: answers the usual messages of a menu item.
class MenuItemObject : public xb::Object {
  public:
    explicit MenuItemObject(QAction* action) : action_(action) {}
    std::string className() const override { return "TMENUITEM"; }
    bool send(std::string_view m, xb::Args&, xb::Value& result) override {
        if (!action_) return false;
        if (m == "CPROMPT")
            result = xb::Value::str(xb::utf8ToCp1252(action_->text().toStdString()));
        else if (m == "CMSG")
            result = xb::Value::str(xb::utf8ToCp1252(action_->statusTip().toStdString()));
        else if (m == "LCHECKED")
            result = xb::Value::logical(action_->isChecked());
        else if (m == "LACTIVE")
            result = xb::Value::logical(action_->isEnabled());
        else
            return false;
        return true;
    }
    bool assign(std::string_view m, const xb::Value& v) override {
        if (!action_) return false;
        if (m == "LCHECKED") {
            action_->setCheckable(true);
            action_->setChecked(v.asLogical());
        } else if (m == "LACTIVE") {
            action_->setEnabled(v.asLogical());
        } else if (m == "CPROMPT") {
            action_->setText(text(v));
        } else {
            return false;
        }
        return true;
    }

  private:
    QPointer<QAction> action_;
};

// Rebuilds the POSITION bag from the table. Another workstation building its
// own menu at this very moment has the table open: its bag is as good as ours.
void rebuildBag(const std::string& table, const std::string& bag) {
    dbf::Workspace& ws = dbf::workspace();
    const int previous = ws.current();
    try {
        const int area = ws.open(table, "MENUBUILD", dbf::OpenOptions{false, false});
        try {
            dbf::orders(*ws.area(area)).createTag(bag, "POSITION", "_Field->Position");
        } catch (...) {
            ws.close(area);
            ws.select(previous);
            throw;
        }
        ws.close(area);
    } catch (const dbf::DbfError&) {
    }
    ws.select(previous);
}

void addWindowMenu(QMenuBar* bar, QMdiArea* mdi) {
    QMenu* window = bar->addMenu(QStringLiteral("Ve&ntana"));
    window->setStyleSheet(submenuStyle());
    QObject::connect(window, &QMenu::aboutToShow, window, [window, mdi] {
        window->clear();
        if (!mdi) return;
        window->addAction(QStringLiteral("&Cascada"), mdi, &QMdiArea::cascadeSubWindows);
        window->addAction(QStringLiteral("&Mosaico"), mdi, &QMdiArea::tileSubWindows);
        window->addAction(QStringLiteral("Cerrar &todas"), mdi, &QMdiArea::closeAllSubWindows);
        const QList<QMdiSubWindow*> open = mdi->subWindowList();
        if (!open.isEmpty()) window->addSeparator();
        int n = 0;
        for (QMdiSubWindow* sub : open) {
            QAction* a =
                window->addAction(QStringLiteral("&%1 %2").arg(++n).arg(sub->windowTitle()));
            a->setCheckable(true);
            a->setChecked(sub == mdi->activeSubWindow());
            QObject::connect(a, &QAction::triggered, mdi,
                             [mdi, sub] { mdi->setActiveSubWindow(sub); });
        }
    });
}

}  // namespace

QMenuBar* ACTIVAMENU(QWidget* owner, QMdiArea* mdi) {
    auto* bar = new QMenuBar(owner);
    dbf::Workspace& ws = dbf::workspace();
    const std::string table = startFile(QString::fromLatin1(data::kMenuTable)).toStdString();
    const std::string bag = startFile(QString::fromLatin1(data::kMenuBag)).toStdString();

    try {
        rebuildBag(table, bag);
        if (!data::ABRIR("Menu", table, "S", {bag})) {
            addWindowMenu(bar, mdi);
            return bar;
        }
    } catch (...) {
        reportUnhandledError();
        addWindowMenu(bar, mdi);
        return bar;
    }

    dbf::WorkArea& wa = *ws.area(std::string_view("Menu"));
    const int area = wa.number();
    auto field = [&](const char* name) { return ws.fieldIndex(area, name); };
    const int fType = field("TYPE"), fText = field("TEXT"), fMsg = field("MSG"),
              fRes = field("RESOURCE"), fAction = field("ACTION");
    auto value = [&](int f) { return f < 0 ? QString() : text(wa.get(f)); };

    const QString style = submenuStyle();
    std::vector<QMenu*> open;  // innermost submenu last; empty = the bar itself
    QAction* last = nullptr;
    auto addTo = [&](QAction* a) {
        if (open.empty())
            bar->addAction(a);
        else
            open.back()->addAction(a);
    };

    try {
        for (wa.goTop(); !wa.eof(); wa.skip(1)) {
            const QString type = value(fType);
            if (type == QLatin1String("0")) {
                auto* menu = new QMenu(bar);
                menu->setStyleSheet(style);
                if (last) {
                    menu->setTitle(last->text());
                    last->setMenu(menu);
                } else {
                    addTo(menu->menuAction());
                }
                open.push_back(menu);
            } else if (type == QLatin1String("1")) {
                // A key after a tab in the text ("Agenda\tF6") is the item's own
                // key, shown beside it and working wherever the frame has the keyboard.
                QString caption = value(fText);
                QKeySequence key;
                if (const qsizetype tab = caption.indexOf(QLatin1Char('\t')); tab >= 0) {
                    key = QKeySequence(caption.mid(tab + 1).trimmed());
                    caption.truncate(tab);
                }
                auto* item = new QAction(caption, bar);
                if (!key.isEmpty()) item->setShortcut(key);
                item->setStatusTip(value(fMsg));
                item->setCheckable(false);
                item->setEnabled(true);
                const QString res = value(fRes);
                if (!res.isEmpty()) {
                    try {
                        item->setIcon(tk::bitmap(res));
                    } catch (...) {
                        reportUnhandledError();
                    }
                }
                const QString action = value(fAction);
                if (!action.isEmpty()) {
                    try {
                        const std::string src = xb::utf8ToCp1252(action.toStdString());
                        const bool isBlock = action.startsWith(QLatin1Char('{'));
                        xb::Value block = xb::compileBlock(isBlock ? src : "{|oItem| " + src + "}");
                        auto self = std::make_shared<MenuItemObject>(item);
                        QObject::connect(item, &QAction::triggered, item, [block, self] {
                            xb::evalBlock(block, xb::ArgList{xb::Value::object(self)});
                        });
                    } catch (...) {
                        reportUnhandledError();
                    }
                }
                addTo(item);
                last = item;
                xb::createPublic("OITEM");
                xb::assignVar("OITEM", xb::Value::object(std::make_shared<MenuItemObject>(item)));
            } else if (type == QLatin1String("2")) {
                if (open.empty())
                    bar->addSeparator();
                else
                    open.back()->addSeparator();
            } else if (type == QLatin1String("3")) {
                if (!open.empty()) open.pop_back();
                last = nullptr;
            }
        }
    } catch (...) {
        reportUnhandledError();
    }
    data::CERRAR("Menu");
    addWindowMenu(bar, mdi);
    return bar;
}

}  // namespace app
