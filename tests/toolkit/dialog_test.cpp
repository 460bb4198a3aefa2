// Dialogs built from templates, driven as a user would through the test driver.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTest>

#include "toolkit/dialog.h"
#include "toolkit/resources.h"
#include "toolkit/smalldialogs.h"
#include "toolkit/testdriver.h"
#include "xbase/date.h"
#include "xbase/error.h"

namespace {

using tk::test::Driver;
using tk::test::Handle;

struct VendCard {
    xb::Value code = xb::Value::str(std::string(6, ' '));
    xb::Value name = xb::Value::str(std::string(20, ' '));
    int validations = 0;
};

// The salesperson card as its browser builds it: the code refuses "DUP".
int runVendCard(VendCard& card, Driver& driver, std::function<void(Handle&)> act) {
    tk::Dialog d(QStringLiteral("Dlg_Vend"));
    d.bindEntry(101, {.get = [&] { return card.code; },
                      .set = [&](const xb::Value& v) { card.code = v; },
                      .picture = "@K!",
                      .valid =
                          [&] {
                              ++card.validations;
                              if (card.code.asString().rfind("DUP", 0) == 0) {
                                  tk::alert(QStringLiteral("Código ya existe"),
                                            QStringLiteral("Atención.....!!!"));
                                  return false;
                              }
                              return true;
                          },
                      .when = {},
                      .readOnly = false,
                      .confirm = true,
                      .dateFormat = "dd-mm-yyyy"});
    tk::EntryBinding name;
    name.get = [&] { return card.name; };
    name.set = [&](const xb::Value& v) { card.name = v; };
    name.picture = "@K!";
    d.bindEntry(102, name);
    d.bindButton(201, {QString(), QString(), QStringLiteral("Graba datos del Vendedor"), QString(),
                       [&d] { d.end(1); }});
    d.bindButton(202, {QString(), QString(), QString(), QString(), [&d] { d.end(0); }});
    driver.whenOpen(QStringLiteral("Dlg_Vend"), std::move(act));
    driver.watchdog(8000);
    return d.run();
}

TEST(Dialog, RefusedValueKeepsTheFocusAndAcceptedOneMovesOn) {
    Driver driver;
    VendCard card;
    int focusAfterRefusal = -1, focusAfterAccept = -1;
    const int result = runVendCard(card, driver, [&](Handle& h) {
        h.type(101, QStringLiteral("dup1"));
        focusAfterRefusal = h.focusedId();
        h.key(101, Qt::Key_Home);
        h.type(101, QStringLiteral("v0"));  // Home first: no clearing, overwrite "DU"
        focusAfterAccept = h.focusedId();
        h.type(102, QStringLiteral("pérez"));
        h.press(201);
    });
    EXPECT_TRUE(driver.failures().isEmpty()) << driver.failures().join(';').toStdString();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(focusAfterRefusal, 101);
    EXPECT_EQ(focusAfterAccept, 102);
    ASSERT_EQ(driver.boxes().size(), 1u);
    EXPECT_EQ(driver.boxes()[0].text, QStringLiteral("Código ya existe"));
    EXPECT_EQ(card.code.asString(), "V0P1  ");
    EXPECT_EQ(card.name.asString(), "P\xc9REZ" + std::string(15, ' '));
    EXPECT_EQ(card.validations, 2);
}

TEST(Dialog, FocusedEntryHasItsOwnBackground) {
    Driver driver;
    VendCard card;
    QColor focusedBg, dialogBg;
    runVendCard(card, driver, [&](Handle& h) {
        h.focus(102);
        auto* e = qobject_cast<QLineEdit*>(h.control(102));
        const QImage img = e->grab().toImage();
        focusedBg = img.pixelColor(img.width() - 4, img.height() / 2);
        dialogBg = h.window()->palette().color(QPalette::Window);
        h.press(202);
    });
    EXPECT_EQ(focusedBg, QColor(225, 255, 200));
    EXPECT_EQ(dialogBg, QColor(255, 235, 175));
}

TEST(Dialog, ClosingRuleCanRefuse) {
    Driver driver;
    tk::Dialog d(QStringLiteral("SelecEmpr"));
    bool chosen = false;
    int asked = 0;
    d.setCloseRule([&] {
        ++asked;
        if (!chosen)
            tk::alert(QStringLiteral("Debe seleccionar una empresa para continuar"),
                      QStringLiteral("Atención...!!!"));
        return chosen;
    });
    bool stillOpen = false;
    driver.whenOpen(QStringLiteral("Seleccione una empresa"), [&](Handle& h) {
        h.close();
        QTest::keyClick(h.window(), Qt::Key_Escape);
        stillOpen = h.window()->isVisible();
        chosen = true;
        h.close();
    });
    driver.watchdog(8000);
    EXPECT_EQ(d.run(), 0);
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(asked, 3);
    EXPECT_EQ(driver.boxes().size(), 2u);
    EXPECT_TRUE(driver.failures().isEmpty());
}

TEST(Dialog, OnInitRunsOnceAfterTheDialogShows) {
    Driver driver;
    tk::Dialog d(QStringLiteral("MiMsgGet"));
    int runs = 0;
    bool visibleAtInit = false;
    d.setOnInit([&] {
        ++runs;
        visibleAtInit = d.isVisible();
        d.form().setText(101, QStringLiteral("Digite el nombre"));
    });
    QString prompt;
    driver.whenOpen(QStringLiteral("MiMsgGet"), [&](Handle& h) {
        QTest::qWait(30);
        prompt = h.text(101);
        h.press(202);
    });
    d.bindButton(202, {QString(), QString(), QString(), QString(), [&d] { d.end(0); }});
    d.run();
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(visibleAtInit);
    EXPECT_EQ(prompt, QStringLiteral("Digite el nombre"));
}

// A window centred while small and filled afterwards (a card's lists and
// pages) must not end up past the screen's edge, out of the user's reach.
TEST(Dialog, AWindowThatGrowsWhenFilledIsKeptOnTheScreen) {
    Driver driver;
    tk::Dialog d(QStringLiteral("MiMsgGet"));
    ASSERT_NE(d.screen(), nullptr);
    const QRect area = d.screen()->availableGeometry();
    d.setOnInit([&] { d.setMinimumSize(area.width() - 10, area.height() - 10); });
    QRect seen;
    driver.whenOpen(QStringLiteral("MiMsgGet"), [&](Handle& h) {
        QTest::qWait(50);
        seen = d.frameGeometry();
        h.close();
    });
    driver.watchdog(8000);
    d.run();
    EXPECT_GE(seen.width(), area.width() - 10);
    EXPECT_TRUE(area.contains(seen))
        << seen.x() << "," << seen.y() << " " << seen.width() << "x" << seen.height();
}

TEST(Dialog, FolderPagesComeFromPageTemplatesAndAreEnabledOneByOne) {
    tk::Dialog d(QStringLiteral("FoldProsp"));
    ASSERT_EQ(d.pageCount(101), 3);
    auto* folder = d.ctl<QTabWidget>(101);
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(folder->tabText(0), QStringLiteral("&Datos Generales"));
    EXPECT_EQ(folder->tabText(2), QStringLiteral("Productos &Vendidos"));
    // Page templates reuse IDs: each page answers for its own.
    EXPECT_EQ(tk::controlKind(d.page(101, 1).control(101)), QStringLiteral("entry"));
    EXPECT_EQ(tk::controlKind(d.page(101, 2).control(101)), QStringLiteral("grid"));
    d.setPageEnabled(101, 3, false);
    EXPECT_TRUE(folder->isTabEnabled(1));
    EXPECT_FALSE(folder->isTabEnabled(2));
    d.setPageEnabled(101, 3, true);
    EXPECT_TRUE(folder->isTabEnabled(2));
    EXPECT_THROW(d.page(101, 4), xb::Break);
}

TEST(Dialog, ConfirmKeepsAFullFieldUntilEnterAndWithoutItTheFieldIsLeft) {
    Driver driver;
    tk::Dialog d(QStringLiteral("FoldIniEmpr"));
    tk::Form& page = d.page(101, 1);
    xb::Value code = xb::Value::str("     "), date = xb::Value::date(0),
              tax = xb::Value::str("   ");
    tk::EntryBinding c;
    c.get = [&] { return code; };
    c.set = [&](const xb::Value& v) { code = v; };
    c.picture = "#####";
    page.bindEntry(101, c);
    tk::EntryBinding t;
    t.get = [&] { return tax; };
    t.set = [&](const xb::Value& v) { tax = v; };
    t.picture = "@!";
    t.confirm = false;
    page.bindEntry(103, t);
    tk::EntryBinding f;
    f.get = [&] { return date; };
    f.set = [&](const xb::Value& v) { date = v; };
    f.picture = "99-99-9999";
    page.bindEntry(110, f);
    page.bindButton(201, {QString(), QString(), QString(), QString(), [&d] { d.end(0); }});
    int afterFull = 0, afterEnter = 0, afterTax = 0;
    QString dateShown;
    driver.whenOpen(QStringLiteral("FoldIniEmpr"), [&](Handle& h) {
        h.onPage(101, 1);
        h.type(101, QStringLiteral("12345"), false);
        afterFull = h.focusedId();
        h.key(101, Qt::Key_Return);
        afterEnter = h.focusedId();
        h.type(103, QStringLiteral("abc"), false);
        afterTax = h.focusedId();
        h.type(110, QStringLiteral("01022009"));
        dateShown = h.text(110);
        h.press(201);
    });
    driver.watchdog(8000);
    d.run();
    EXPECT_EQ(afterFull, 101);
    EXPECT_NE(afterEnter, 101);
    EXPECT_NE(afterTax, 103);
    EXPECT_EQ(code.asString(), "12345");
    EXPECT_EQ(tax.asString(), "ABC");
    EXPECT_EQ(dateShown, QStringLiteral("01-02-2009"));
    EXPECT_EQ(date.asDate(), xb::Value::date(2454864).asDate());
}

TEST(Dialog, ReadOnlyFieldsAreGreyAndWhenConditionDisables) {
    tk::Dialog d(QStringLiteral("FoldIniEmpr"));
    tk::Form& page = d.page(101, 1);
    bool editable = false;
    xb::Value dir = xb::Value::str("EMP00001  ");
    tk::EntryBinding b;
    b.get = [&] { return dir; };
    b.readOnly = true;
    page.bindEntry(111, b);
    tk::EntryBinding w;
    w.get = [&] { return dir; };
    w.when = [&] { return editable; };
    page.bindEntry(105, w);
    page.refresh();
    auto* e111 = qobject_cast<QLineEdit*>(page.control(111));
    EXPECT_TRUE(e111->isReadOnly());
    EXPECT_EQ(e111->text(), QStringLiteral("EMP00001  "));
    const QImage img = e111->grab().toImage();
    EXPECT_EQ(img.pixelColor(img.width() - 4, img.height() / 2), QColor(230, 230, 230));
    EXPECT_FALSE(page.control(105)->isEnabled());
    editable = true;
    d.refresh();
    EXPECT_TRUE(page.control(105)->isEnabled());
}

// A date field opens the calendar with F4, with Alt+Down and with its small
// button, on the field's date; the day answered goes into the field and is
// the field's value once left; a calendar left with nothing keeps the date.
// A text field, a read-only date and a disabled one open nothing.
TEST(Dialog, DateFieldsOpenTheCalendarOnTheirDate) {
    std::vector<int32_t> starts;
    std::optional<int32_t> answer;
    tk::setDatePicker([&](int32_t start, QWidget*) {
        starts.push_back(start);
        return answer;
    });
    Driver driver;
    VendCard card;
    xb::Value date = xb::Value::date(xb::julianFromYmd(2026, 3, 14));
    tk::Dialog d(QStringLiteral("Dlg_Vend"));
    tk::EntryBinding code;
    code.get = [&] { return card.code; };
    code.set = [&](const xb::Value& v) { card.code = v; };
    code.picture = "@K!";
    d.bindEntry(101, code);
    tk::EntryBinding day;
    day.get = [&] { return date; };
    day.set = [&](const xb::Value& v) { date = v; };
    day.picture = "99-99-9999";
    day.dateFormat = "dd-mm-yyyy";
    tk::EntryField* field = d.bindEntry(102, day);
    d.bindButton(202, {QString(), QString(), QString(), QString(), [&d] { d.end(0); }});
    QString shownAfterPick, shownAfterNothing;
    bool buttonShown = false, buttonShownReadOnly = true;
    driver.whenOpen(QStringLiteral("Dlg_Vend"), [&](Handle& h) {
        h.focus(101);
        h.key(101, Qt::Key_F4);  // a text field: nothing
        h.focus(102);
        answer = xb::julianFromYmd(2026, 4, 2);
        h.key(102, Qt::Key_F4);
        shownAfterPick = h.text(102);
        answer.reset();
        h.key(102, Qt::Key_Down, Qt::AltModifier);
        shownAfterNothing = h.text(102);
        h.key(102, Qt::Key_Tab);
        QList<QAction*> actions = h.control(102)->actions();
        buttonShown = !actions.isEmpty() && actions.first()->isVisible();
        answer = xb::julianFromYmd(2026, 5, 9);
        if (!actions.isEmpty()) actions.first()->trigger();
        h.key(102, Qt::Key_Tab);
        field->setReadOnly(true);
        buttonShownReadOnly = !actions.isEmpty() && actions.first()->isVisible();
        h.key(102, Qt::Key_F4);
        field->setReadOnly(false);
        h.control(102)->setEnabled(false);
        field->pickDate();
        h.press(202);
    });
    driver.watchdog(8000);
    d.run();
    tk::setDatePicker({});
    EXPECT_TRUE(driver.failures().isEmpty()) << driver.failures().join(';').toStdString();
    EXPECT_EQ(starts,
              (std::vector<int32_t>{xb::julianFromYmd(2026, 3, 14), xb::julianFromYmd(2026, 4, 2),
                                    xb::julianFromYmd(2026, 4, 2)}));
    EXPECT_EQ(shownAfterPick, QStringLiteral("02-04-2026"));
    EXPECT_EQ(shownAfterNothing, QStringLiteral("02-04-2026"));
    EXPECT_TRUE(buttonShown);
    EXPECT_FALSE(buttonShownReadOnly);
    EXPECT_EQ(date.asDate(), xb::julianFromYmd(2026, 5, 9));
}

TEST(Dialog, ButtonsCarryBitmapsTooltipAndStatusMessage) {
    QString status;
    tk::setStatusSink([&](const QString& s) { status = s; });
    tk::Dialog d(QStringLiteral("BrowseIn1"));
    QPushButton* b = d.bindButton(201, {QString(),
                                        QStringLiteral("Nuevo1|Nuevo2"),
                                        QStringLiteral("Ingresar Datos de Vendedores"),
                                        QStringLiteral("Ingresar vendedor"),
                                        {}});
    ASSERT_NE(b, nullptr);
    EXPECT_FALSE(b->icon().isNull());
    EXPECT_EQ(b->toolTip(), QStringLiteral("Ingresar Datos de Vendedores"));
    EXPECT_EQ(b->text(), QStringLiteral("&Nuevo"));
    const QImage normal = b->icon().pixmap(24).toImage();
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(b, &enter);
    EXPECT_EQ(status, QStringLiteral("Ingresar vendedor"));
    emit b->pressed();
    const QImage pressed = b->icon().pixmap(24).toImage();
    emit b->released();
    EXPECT_NE(normal, pressed);
    EXPECT_EQ(b->icon().pixmap(24).toImage(), normal);
    EXPECT_THROW(
        d.bindButton(202, {QString(), QStringLiteral("NoHay1|NoHay2"), QString(), QString(), {}}),
        xb::Break);
    tk::setStatusSink({});
}

TEST(Dialog, RadioGroupStartsWithNothingChosen) {
    Driver driver;
    tk::Dialog d(QStringLiteral("Impres2"));
    int chosen = 0;
    d.form().bindRadios(
        {101, 102}, [&] { return chosen; }, [&](int n) { chosen = n; });
    d.setOnInit([&] {
        d.form().setText(101, QStringLiteral("Formato 1"));
        d.form().setText(102, QStringLiteral("Formato 2"));
    });
    d.bindButton(201, {QString(), QString(), QString(), QString(), [&d] { d.end(1); }});
    int before = -1;
    driver.whenOpen(QStringLiteral("Impres2"), [&](Handle& h) {
        before = chosen;
        h.check(102, true);
        h.press(201);
    });
    driver.watchdog(8000);
    d.run();
    EXPECT_EQ(before, 0);
    EXPECT_EQ(chosen, 2);
}

}  // namespace

namespace {

TEST(Dialog, AClickThatMakesTheFieldRefuseDoesNotActButCancelDoes) {
    Driver driver;
    tk::Dialog d(QStringLiteral("Dlg_Prod"));
    xb::Value code = xb::Value::str("      ");
    int saved = 0, validations = 0;
    tk::EntryBinding c;
    c.get = [&] { return code; };
    c.set = [&](const xb::Value& v) { code = v; };
    c.picture = "@K!";
    c.valid = [&] {
        ++validations;
        return code.asString().rfind("X", 0) != 0;  // codes starting with X are refused
    };
    d.bindEntry(101, c);
    tk::ButtonSpec ok;
    ok.action = [&] {
        ++saved;
        d.end(1);
    };
    d.bindButton(201, ok);
    tk::ButtonSpec cancel;
    cancel.action = [&d] { d.end(0); };
    cancel.cancel = true;
    d.bindButton(202, cancel);
    bool openAfterClick = false;
    int focusAfterClick = 0, validationsBeforeCancel = 0;
    driver.whenOpen(QStringLiteral("Dlg_Prod"), [&](Handle& h) {
        h.type(101, QStringLiteral("x1"), false);
        QTest::mouseClick(h.control(201), Qt::LeftButton);
        QApplication::processEvents();
        openAfterClick = h.window()->isVisible();
        focusAfterClick = h.focusedId();
        validationsBeforeCancel = validations;
        QTest::mouseClick(h.control(202), Qt::LeftButton);
    });
    driver.watchdog(8000);
    EXPECT_EQ(d.run(), 0);
    EXPECT_TRUE(openAfterClick);
    EXPECT_EQ(focusAfterClick, 101);
    EXPECT_EQ(saved, 0);
    EXPECT_EQ(validations, validationsBeforeCancel);  // cancel did not validate
    EXPECT_TRUE(driver.failures().isEmpty());
}

}  // namespace

namespace {

TEST(Dialog, AnOwnedDialogHoldsItsOwnControls) {
    QWidget owner;
    tk::Dialog d(QStringLiteral("Dlg_Vend"), &owner);
    EXPECT_EQ(d.parentWidget(), &owner);
    EXPECT_EQ(d.control(101)->window(), &d);
    EXPECT_EQ(d.windowTitle(), QStringLiteral("Ficha Vendedor"));
}

}  // namespace
