// Typing into entry fields as a user does: clicks into the blank tail of a
// field, select-all and replace, a full field, refused values and how to get
// out of them, buttons pressed by their key, Enter in a drop-down list, the
// program-wide keys and where the focus goes after a dialog.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "toolkit/dialog.h"
#include "toolkit/entrymask.h"
#include "toolkit/msgbox.h"
#include "toolkit/programkeys.h"
#include "toolkit/testdriver.h"

namespace {

using tk::test::Driver;
using tk::test::Handle;

// ------------------------------------------------------------ the buffer

tk::EntryBuffer buffer(const std::string& value, const std::string& picture) {
    tk::EntryBuffer b;
    b.start(xb::Value::str(value), tk::Picture::parse(picture));
    return b;
}

TEST(EntryTyping, AClickBeyondTheTextPutsTheCursorAfterIt) {
    tk::EntryBuffer b = buffer(std::string(25, ' '), "@K!");
    b.clickAt(12);
    EXPECT_EQ(b.cursor(), 0);
    for (char c : std::string("Cundinamarca")) b.typeChar(c);
    EXPECT_EQ(b.value().asString(), "CUNDINAMARCA" + std::string(13, ' '));

    tk::EntryBuffer filled = buffer("BOGOTA" + std::string(19, ' '), "@!");
    filled.clickAt(20);
    EXPECT_EQ(filled.cursor(), 6);  // right after the text
    filled.clickAt(3);
    EXPECT_EQ(filled.cursor(), 3);  // inside the text, where clicked

    // An empty date or time takes the typing from its start, wherever the
    // click lands; a date partly typed, after its last digit.
    tk::EntryBuffer date;
    date.start(xb::Value::date(0), tk::Picture::parse("99-99-9999"));
    date.clickAt(5);
    for (char c : std::string("09122026")) date.typeChar(c);
    EXPECT_EQ(date.text(), "09-12-2026");
    date.start(xb::Value::date(0), tk::Picture::parse("99-99-9999"));
    date.clickAt(10);
    EXPECT_EQ(date.cursor(), 0);
    for (char c : std::string("091")) date.typeChar(c);
    date.clickAt(9);
    EXPECT_EQ(date.cursor(), 4);
    date.clickAt(1);
    EXPECT_EQ(date.cursor(), 1);
    tk::EntryBuffer time = buffer("     ", "99:99");
    time.clickAt(4);
    for (char c : std::string("0930")) time.typeChar(c);
    EXPECT_EQ(time.text(), "09:30");
}

TEST(EntryTyping, AFullFieldRefusesMoreKeysInsteadOfOverwritingTheLast) {
    tk::EntryBuffer b = buffer(std::string(5, ' '), "@!");
    int taken = 0;
    for (char c : std::string("ABCDEFGH")) taken += b.typeChar(c) ? 1 : 0;
    EXPECT_EQ(taken, 5);
    EXPECT_EQ(b.value().asString(), "ABCDE");
    EXPECT_TRUE(b.atEnd());
    b.backspace();  // erases the last typed character
    EXPECT_EQ(b.value().asString(), "ABCD ");
    EXPECT_TRUE(b.typeChar('Z'));
    EXPECT_EQ(b.value().asString(), "ABCDZ");
    b.left();  // moving makes room again: overwrite where the cursor is
    EXPECT_TRUE(b.typeChar('Y'));
    EXPECT_EQ(b.value().asString(), "ABCYZ");
}

TEST(EntryTyping, ErasingARangeClosesUpTextAndBlanksDates) {
    tk::EntryBuffer t = buffer("ABCDEFGH", "");
    t.eraseRange(2, 5);
    EXPECT_EQ(t.value().asString(), "ABFGH   ");
    EXPECT_EQ(t.cursor(), 2);
    t.eraseRange(0, 8);
    EXPECT_EQ(t.value().asString(), std::string(8, ' '));

    tk::EntryBuffer d;
    d.start(xb::Value::date(0), tk::Picture::parse("99-99-9999"));
    for (char c : std::string("15032026")) d.typeChar(c);
    d.eraseRange(0, 10);
    EXPECT_EQ(d.text(), "  -  -    ");
}

// ------------------------------------------------------------ the fields

struct Card {
    xb::Value code = xb::Value::str(std::string(6, ' '));
    xb::Value name = xb::Value::str(std::string(20, ' '));
    int saved = 0;
};

// The salesperson template: 101 code (refuses "DUP..." silently), 102 name,
// 201 save, 202 cancel.
int runCard(Card& card, Driver& driver, std::function<void(Handle&)> act) {
    tk::Dialog d(QStringLiteral("Dlg_Vend"));
    tk::EntryBinding code;
    code.get = [&] { return card.code; };
    code.set = [&](const xb::Value& v) { card.code = v; };
    code.picture = "@!";
    code.valid = [&] { return card.code.asString().rfind("DUP", 0) != 0; };
    d.bindEntry(101, code);
    tk::EntryBinding name;
    name.get = [&] { return card.name; };
    name.set = [&](const xb::Value& v) { card.name = v; };
    name.picture = "@K!";
    d.bindEntry(102, name);
    d.bindButton(201, {QString(), QString(), QString(), QString(), [&] {
                           ++card.saved;
                           d.end(1);
                       }});
    tk::ButtonSpec cancel{QString(), QString(), QString(), QString(), [&d] { d.end(0); }};
    cancel.cancel = true;
    d.bindButton(202, cancel);
    driver.whenOpen(QStringLiteral("Dlg_Vend"), std::move(act));
    driver.watchdog(8000);
    return d.run();
}

void clickAt(QLineEdit* e, int x) {
    QTest::mouseClick(e, Qt::LeftButton, Qt::NoModifier, QPoint(x, e->height() / 2));
}

TEST(EntryTyping, ClickIntoTheMiddleOfAnEmptyFieldTypesFromItsStart) {
    Driver driver;
    Card card;
    runCard(card, driver, [&](Handle& h) {
        auto* name = qobject_cast<QLineEdit*>(h.control(102));
        h.focus(102);
        clickAt(name, name->width() / 2);
        h.type(102, QStringLiteral("900123456"), false);
        h.press(201);
    });
    EXPECT_TRUE(driver.failures().isEmpty()) << driver.failures().join(';').toStdString();
    EXPECT_EQ(card.name.asString(), "900123456" + std::string(11, ' '));
}

TEST(EntryTyping, SelectAllThenDeleteBackspaceOrTypingReplacesTheWholeText) {
    Driver driver;
    Card card;
    card.name = xb::Value::str("PEREZ GOMEZ" + std::string(9, ' '));
    card.code = xb::Value::str("V00017");
    runCard(card, driver, [&](Handle& h) {
        auto* code = qobject_cast<QLineEdit*>(h.control(101));
        h.focus(101);
        h.key(101, Qt::Key_A, Qt::ControlModifier);
        h.key(101, Qt::Key_Delete);
        h.type(101, QStringLiteral("w9"), false);
        EXPECT_EQ(code->text(), QStringLiteral("W9    "));
        // A double click takes the whole text too; typing replaces it.
        auto* name = qobject_cast<QLineEdit*>(h.control(102));
        h.focus(102);
        QTest::mouseDClick(name, Qt::LeftButton, Qt::NoModifier, QPoint(10, name->height() / 2));
        h.type(102, QStringLiteral("ruiz"), false);
        EXPECT_EQ(name->text().trimmed(), QStringLiteral("RUIZ"));
        h.key(102, Qt::Key_A, Qt::ControlModifier);
        h.key(102, Qt::Key_Backspace);
        EXPECT_EQ(name->text().trimmed(), QString());
        h.type(102, QStringLiteral("díaz"), false);
        h.press(201);
    });
    EXPECT_TRUE(driver.failures().isEmpty()) << driver.failures().join(';').toStdString();
    EXPECT_EQ(card.code.asString(), "W9    ");
    EXPECT_EQ(card.name.asString(),
              "D\xcd"
              "AZ" +
                  std::string(16, ' '));
}

TEST(EntryTyping, TypingOrPastingBeyondTheWidthStopsAtIt) {
    Driver driver;
    Card card;
    runCard(card, driver, [&](Handle& h) {
        h.type(101, QStringLiteral("abcdefghij"), false);
        EXPECT_EQ(h.text(101), QStringLiteral("ABCDEF"));
        h.key(101, Qt::Key_A, Qt::ControlModifier);
        QApplication::clipboard()->setText(QStringLiteral("xyz123456789"));
        h.key(101, Qt::Key_V, Qt::ControlModifier);
        EXPECT_EQ(h.text(101), QStringLiteral("XYZ123"));
        h.press(201);
    });
    EXPECT_EQ(card.code.asString(), "XYZ123");
}

TEST(EntryTyping, ARefusedValueSaysWhyKeepsTheFocusAndEscapeLeavesWithoutSaving) {
    // An impossible date, on the company form's date field.
    {
        Driver driver;
        xb::Value start = xb::Value::date(0);
        int sets = 0;
        tk::Dialog d(QStringLiteral("FoldIniEmpr"));
        tk::EntryBinding date;
        date.get = [&] { return start; };
        date.set = [&](const xb::Value& v) {
            ++sets;
            start = v;
        };
        date.picture = "99-99-9999";
        d.page(101, 1).bindEntry(110, date);
        int focusAfter = 0;
        driver.whenOpen(QStringLiteral("FoldIniEmpr"), [&](Handle& h) {
            h.onPage(101, 1);
            h.type(110, QStringLiteral("31022026"));
            focusAfter = h.focusedId();
            h.key(110, Qt::Key_Escape);
        });
        driver.watchdog(8000);
        EXPECT_EQ(d.run(), 0);
        EXPECT_TRUE(driver.failures().isEmpty()) << driver.failures().join(';').toStdString();
        EXPECT_EQ(focusAfter, 110);
        EXPECT_EQ(sets, 0);
        ASSERT_EQ(driver.boxes().size(), 1u) << driver.boxTexts().join(';').toStdString();
        EXPECT_TRUE(driver.boxes()[0].text.contains(QStringLiteral("31-02-2026")));
    }
    // A rule that refuses without a word: the field says it, Cancel leaves.
    {
        Driver driver;
        Card card;
        int focusAfter = 0;
        const int result = runCard(card, driver, [&](Handle& h) {
            h.type(101, QStringLiteral("dup"));
            focusAfter = h.focusedId();
            h.press(202);
        });
        EXPECT_EQ(result, 0);
        EXPECT_EQ(focusAfter, 101);
        EXPECT_EQ(card.saved, 0);
        EXPECT_EQ(driver.boxes().size(), 1u);
    }
}

TEST(EntryTyping, AButtonPressedByItsKeyLeavesTheFieldFirst) {
    // The field still being edited refuses: the button does not act.
    {
        Driver driver;
        Card card;
        int savedBefore = -1;
        runCard(card, driver, [&](Handle& h) {
            h.type(101, QStringLiteral("dup1"), false);
            qobject_cast<QPushButton*>(h.control(201))->click();  // the focus stays in 101
            savedBefore = card.saved;
            h.key(101, Qt::Key_Escape);
        });
        EXPECT_EQ(savedBefore, 0);
        EXPECT_EQ(driver.boxes().size(), 1u);
    }
    // Accepted: the value typed counts in what is saved.
    {
        Driver driver;
        Card card;
        runCard(card, driver, [&](Handle& h) {
            h.type(102, QStringLiteral("luna"), false);
            qobject_cast<QPushButton*>(h.control(201))->click();
        });
        EXPECT_EQ(card.saved, 1);
        EXPECT_EQ(card.name.asString(), "LUNA" + std::string(16, ' '));
    }
}

TEST(EntryTyping, EnterInADropDownListMovesOnAndPressesNoButton) {
    Driver driver;
    int pressed = 0;
    int kind = 1;
    tk::Dialog d(QStringLiteral("FoldIniEmpr"));
    tk::Form& page = d.page(101, 1);
    page.bindCombo(
        104, {QStringLiteral("NIT"), QStringLiteral("Cédula")}, [&] { return kind; },
        [&](int n) { kind = n; });
    page.bindButton(200, {QString(), QString(), QString(), QString(), [&] { ++pressed; }});
    qobject_cast<QPushButton*>(page.control(200))->setDefault(true);
    int focusAfter = 0;
    driver.whenOpen(QStringLiteral("FoldIniEmpr"), [&](Handle& h) {
        h.onPage(101, 1);
        h.focus(104);
        h.key(104, Qt::Key_Down);
        h.key(104, Qt::Key_Return);
        focusAfter = h.focusedId();
        h.close();
    });
    driver.watchdog(8000);
    d.run();
    EXPECT_EQ(pressed, 0);
    EXPECT_EQ(kind, 2);
    EXPECT_NE(focusAfter, 104);
    EXPECT_NE(focusAfter, 200);
}

TEST(ProgramKeys, ActInsideAModalDialogAndNotTwiceAtOnce) {
    int f5 = 0;
    tk::setProgramKey(Qt::Key_F5, [&] {
        ++f5;
        // A second F5 while the first one's box is open is ignored.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F5);
    });
    Driver driver;
    Card card;
    runCard(card, driver, [&](Handle& h) {
        h.type(102, QStringLiteral("ab"), false);
        h.key(102, Qt::Key_F5);
        h.key(102, Qt::Key_F5, Qt::ShiftModifier);  // not the program's key
        h.press(201);
    });
    tk::setProgramKey(Qt::Key_F5, {});
    EXPECT_EQ(f5, 1);
    EXPECT_EQ(card.name.asString(), "AB" + std::string(18, ' '));
}

TEST(FocusReturn, AfterADialogClosesTheFieldThatOpenedItHasTheKeyboard) {
    Driver driver;
    Card card;
    QWidget* focusAfter = nullptr;
    QWidget* field = nullptr;
    runCard(card, driver, [&](Handle& h) {
        h.focus(102);
        field = h.control(102);
        // A second dialog over the first, where the user types and leaves.
        tk::Dialog other(QStringLiteral("Dlg_Vend"), h.window());
        QTimer::singleShot(50, &other, [&other] {
            other.ctl<QLineEdit>(101)->setFocus();
            other.end(0);
        });
        other.run();
        QApplication::processEvents();
        focusAfter = QApplication::focusWidget();
        h.press(202);
    });
    EXPECT_EQ(focusAfter, field);
}

}  // namespace
