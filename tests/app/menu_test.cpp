// The main menu built from small menu tables: POSITION order, items without
// action, submenus opened by a "0" after an item, unknown kinds, an empty
// table, and actions compiled once that run with the item as argument.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QTemporaryDir>
#include <memory>

#include "app/menu.h"
#include "application.h"
#include "data/interaction.h"
#include "data/menutable.h"
#include "data/session.h"
#include "dbf/workspace.h"
#include "toolkit/msgbox.h"
#include "xbase/codepage.h"
#include "xbase/compiler.h"
#include "xbase/runtime.h"

namespace {

class MenuTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testsupport::application();
        ASSERT_TRUE(dir.isValid());
        previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        xb::resetRuntime();
        data::setInteraction(&scripted);
        ASSERT_TRUE(data::startSession("PRUEBA"));
        tk::setMsgBoxObserver([this](const tk::BoxShown& b) {
            boxes << b.text;
            return 1;
        });
    }
    void TearDown() override {
        tk::setMsgBoxObserver({});
        dbf::workspace().closeAll();
        data::setInteraction(nullptr);
        QDir::setCurrent(previous);
    }
    // Builds VdrMenu.ini from the given lines (POSITION|TYPE|TEXT|MSG|RESOURCE|ACTION).
    void makeMenu(const QStringList& lines) {
        QFile src(dir.filePath(QStringLiteral("menu.txt")));
        ASSERT_TRUE(src.open(QIODevice::WriteOnly));
        src.write(lines.join(QLatin1Char('\n')).toUtf8() + "\n");
        src.close();
        ASSERT_TRUE(
            data::buildMenuTable(src.fileName().toStdString(), "VdrMenu.ini", "VdrMenx1.cdx"));
    }
    // Appends a record the installation's source could not hold (unknown
    // kinds, an action written as a whole block with parameters).
    void addRecord(const char* pos, const char* type, const char* text, const char* action = "") {
        dbf::Workspace& ws = dbf::workspace();
        const int a = ws.open("VdrMenu.ini", "MENUADD", dbf::OpenOptions{});
        dbf::WorkArea& wa = *ws.area(a);
        wa.append();
        wa.put(ws.fieldIndex(a, "POSITION"), xb::Value::str(pos));
        wa.put(ws.fieldIndex(a, "TYPE"), xb::Value::str(type));
        wa.put(ws.fieldIndex(a, "TEXT"), xb::Value::str(text));
        wa.put(ws.fieldIndex(a, "ACTION"), xb::Value::str(action));
        wa.unlock();
        ws.close(a);
    }
    std::unique_ptr<QMenuBar> build() {
        bar.reset(app::ACTIVAMENU(nullptr, nullptr));
        return std::move(bar);
    }
    static QStringList captions(const QList<QAction*>& actions) {
        QStringList out;
        for (QAction* a : actions) out << (a->isSeparator() ? QStringLiteral("--") : a->text());
        return out;
    }

    QTemporaryDir dir;
    QString previous;
    data::ScriptedInteraction scripted;
    QStringList boxes;
    std::unique_ptr<QMenuBar> bar;
};

TEST_F(MenuTest, PositionOrderNotPhysicalOrderAndUnknownKindsSkipped) {
    makeMenu({QStringLiteral("0030|1|&Tercero|||"),
              QStringLiteral("0010|1|&Primero|Ayuda del primero||"), QStringLiteral("0015|2|||")});
    addRecord("0020", "9", "Raro");
    addRecord("0005", "X", "Otro");
    addRecord("0020", "1", "&Segundo");  // appended last, shown in its place
    auto menu = build();
    EXPECT_EQ(
        captions(menu->actions()),
        (QStringList{QStringLiteral("&Primero"), QStringLiteral("--"), QStringLiteral("&Segundo"),
                     QStringLiteral("&Tercero"), QStringLiteral("Ve&ntana")}));
    EXPECT_EQ(menu->actions().first()->statusTip(), QStringLiteral("Ayuda del primero"));
    // The menu table is open only while the menu is built.
    EXPECT_FALSE(dbf::workspace().used("Menu"));
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('|').toStdString();
}

TEST_F(MenuTest, SubmenusItemsWithoutActionAndActionsWithTheirItem) {
    int calls = 0;
    std::string prompt;
    xb::registerFunction("MARCAR", [&](xb::Args& a) {
        ++calls;
        if (a.size() > 0 && a[0].type() == 'O') {
            xb::Value p = xb::evalBlock(xb::compileBlock("{|o| o:cPrompt}"), xb::ArgList{a[0]});
            prompt = p.asString();
        }
        return xb::Value();
    });
    makeMenu({QStringLiteral("0010|1|&Empresas|||"), QStringLiteral("0020|0|||"),
              QStringLiteral("0030|1|&Elegir|Elegir empresa||MARCAR(oItem)"),
              QStringLiteral("0040|2|||"), QStringLiteral("0050|1|&Nada|Sin acción||"),
              QStringLiteral("0060|3|||"), QStringLiteral("0070|1|&Fin|||")});
    addRecord("0055", "1", "&Bloque", "{|o| MARCAR(o)}");
    auto menu = build();
    ASSERT_EQ(captions(menu->actions()),
              (QStringList{QStringLiteral("&Empresas"), QStringLiteral("&Fin"),
                           QStringLiteral("Ve&ntana")}));
    QMenu* sub = menu->actions().first()->menu();
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(captions(sub->actions()),
              (QStringList{QStringLiteral("&Elegir"), QStringLiteral("--"), QStringLiteral("&Nada"),
                           QStringLiteral("&Bloque")}));
    sub->actions().at(2)->trigger();  // no action: nothing happens
    EXPECT_EQ(calls, 0);
    sub->actions().at(0)->trigger();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(prompt, "&Elegir");
    sub->actions().at(3)->trigger();  // an ACTION written as a whole block
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(prompt, "&Bloque");
    // OITEM holds the last item added.
    EXPECT_EQ(xb::evalText("OITEM:cPrompt").asString(), "&Fin");
}

TEST_F(MenuTest, EmptyTableGivesOnlyTheWindowMenu) {
    makeMenu({QStringLiteral("# nada")});
    auto menu = build();
    EXPECT_EQ(captions(menu->actions()), QStringList{QStringLiteral("Ve&ntana")});
}

TEST_F(MenuTest, BadActionsAreReportedAndMissingFunctionsFailWhenChosen) {
    makeMenu({QStringLiteral("0010|1|&Roto|||MARCAR(("),
              QStringLiteral("0020|1|&Ausente|||NOEXISTE()")});
    auto menu = build();
    ASSERT_EQ(captions(menu->actions()),
              (QStringList{QStringLiteral("&Roto"), QStringLiteral("&Ausente"),
                           QStringLiteral("Ve&ntana")}));
    ASSERT_EQ(boxes.size(), 1);  // the compile error, when the menu is built
    EXPECT_THROW(menu->actions().at(1)->trigger(), xb::Break);  // the missing function, when chosen
}

TEST_F(MenuTest, MissingMenuTableGivesTheWindowMenuAndSaysSo) {
    auto menu = build();
    EXPECT_EQ(captions(menu->actions()), QStringList{QStringLiteral("Ve&ntana")});
    EXPECT_FALSE(boxes.isEmpty() && scripted.shown().empty());
}

}  // namespace
