// The small dialogs scripts call by name, driven as a user would: the
// one-value input, the run-time input dialog, the print form choice, the
// progress message, the utilities and opening a document.
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "messages_fixture.h"
#include "ui/messages.h"
#include "xbase/compiler.h"
#include "xbase/date.h"

namespace {

using uitest::UiTest;
using Handle = tk::test::Handle;

QString sv(const char* name) {
    return QString::fromStdString(xb::getVar(name).toText());
}

// Gives a field of a window built at run time the focus, as a click would.
void focusIn(QWidget* w) {
    w->window()->activateWindow();
    QApplication::setActiveWindow(w->window());
    w->setFocus(Qt::MouseFocusReason);
    QApplication::processEvents();
}

class MessagesTest : public UiTest {
  protected:
    void SetUp() override {
        UiTest::SetUp();
        ui::registerMessageFunctions();
    }
};

TEST_F(MessagesTest, OneValueInputWritesBackOnlyWhenAccepted) {
    // Accepted: the value comes back in upper case (picture @!).
    xb::createPrivate("CVAL", xb::Value::str("antes"));
    driver->whenOpen(QStringLiteral("MiMsgGet"), [](Handle& h) {
        EXPECT_EQ(h.window()->windowTitle(), QStringLiteral("Clientes"));
        EXPECT_EQ(h.text(101), QStringLiteral("Nombre del cliente"));
        h.focus(102);
        QTest::keyClick(h.control(102), Qt::Key_End);
        for (int i = 0; i < 10; ++i) QTest::keyClick(h.control(102), Qt::Key_Backspace);
        h.type(102, QStringLiteral("nuevo"), false);
        h.press(201);
    });
    EXPECT_TRUE(xb::evalText("MIMSGGET('Clientes', 'Nombre del cliente', @CVAL)").asLogical());
    EXPECT_EQ(sv("CVAL").trimmed(), QStringLiteral("NUEVO"));

    // Cancelled after typing: unchanged, false; the defaults for title and prompt.
    driver->whenOpen(QStringLiteral("MiMsgGet"), [](Handle& h) {
        EXPECT_EQ(h.window()->windowTitle(), QStringLiteral("Ingreso de datos"));
        EXPECT_EQ(h.text(101), QStringLiteral("Digite dato"));
        h.type(102, QStringLiteral("otro"), false);
        h.press(202);
    });
    xb::Value v = xb::Value::str("ORIGINAL");
    EXPECT_FALSE(ui::MIMSGGET("", "", v));
    EXPECT_EQ(v.asString(), "ORIGINAL");

    // Closed by the close box: false as well; MIMSGGET2 takes the fourth argument.
    driver->whenOpen(QStringLiteral("MiMsgGet"), [](Handle& h) {
        h.type(102, QStringLiteral("x"), false);
        h.close();
    });
    xb::createPrivate("CDOS", xb::Value::str("queda"));
    EXPECT_FALSE(xb::evalText("MIMSGGET2('T', 'P', NIL, @CDOS, NIL)").asLogical());
    EXPECT_EQ(sv("CDOS"), QStringLiteral("queda"));
}

TEST_F(MessagesTest, RuntimeDialogKeepsAcceptedEditsAndUndoesCancelledOnes) {
    xb::createPrivate("_EXIT", xb::Value::logical(false));
    xb::createPrivate("CNOMBRE", xb::Value::str("Ana       "));
    xb::createPrivate("NIMPORTE", xb::Value::num(12.5, 10, 2));
    xb::createPrivate("DDESDE", xb::Value::date(xb::julianFromYmd(2008, 11, 15)));
    const char* call =
        "CGDIALGET(200, 300, {{'Nombre', 5, 5}, {'Importe', 20, 5}}, "
        "{{'CNOMBRE', 5, 50}, {'NIMPORTE', 20, 50}, {'DDESDE', 35, 50}}, 'Datos del informe')";

    // Accepted after two changes: both stay.
    driver->whenOpen(QStringLiteral("Datos del informe"), [](Handle& h) {
        auto* name = h.window()->findChild<QLineEdit*>(QStringLiteral("campo1"));
        auto* amount = h.window()->findChild<QLineEdit*>(QStringLiteral("campo2"));
        ASSERT_TRUE(name && amount);
        EXPECT_EQ(amount->alignment() & Qt::AlignRight, Qt::AlignRight);
        focusIn(name);
        QTest::keyClicks(name, QStringLiteral("Luis"));
        focusIn(amount);
        QTest::keyClick(amount, Qt::Key_Home);
        QTest::keyClicks(amount, QStringLiteral("99"));
        // The close box does not close it.
        h.window()->close();
        EXPECT_TRUE(h.window()->isVisible());
        h.window()->findChild<QPushButton*>(QStringLiteral("aceptar"))->click();
    });
    EXPECT_TRUE(xb::evalText(call).asLogical());
    EXPECT_TRUE(sv("CNOMBRE").startsWith(QStringLiteral("Luis"))) << sv("CNOMBRE").toStdString();
    EXPECT_NE(xb::getVar("NIMPORTE").asNumber(), 12.5);
    EXPECT_FALSE(xb::getVar("_EXIT").asLogical());
    // Its bookkeeping variables name each entry and keep its value on entry.
    EXPECT_EQ(sv("CVAR002"), QStringLiteral("NIMPORTE"));

    // Cancelled after changes: everything as before, and the script stops.
    const QString nameBefore = sv("CNOMBRE");
    const double amountBefore = xb::getVar("NIMPORTE").asNumber();
    driver->whenOpen(QStringLiteral("Datos del informe"), [](Handle& h) {
        auto* name = h.window()->findChild<QLineEdit*>(QStringLiteral("campo1"));
        focusIn(name);
        QTest::keyClicks(name, QStringLiteral("ZZZ"));
        focusIn(h.window()->findChild<QLineEdit*>(QStringLiteral("campo2")));
        h.window()->findChild<QPushButton*>(QStringLiteral("cancelar"))->click();
    });
    EXPECT_FALSE(xb::evalText(call).asLogical());
    EXPECT_EQ(sv("CNOMBRE"), nameBefore);
    EXPECT_EQ(xb::getVar("NIMPORTE").asNumber(), amountBefore);
    EXPECT_TRUE(xb::getVar("_EXIT").asLogical());

    // "&Aceptar" over a date the field refuses: the dialog stays on it
    // until the date is one.
    xb::assignVar("_EXIT", xb::Value::logical(false));
    driver->answer({1});
    bool openAfterRefusal = false;
    driver->whenOpen(QStringLiteral("Datos del informe"), [&](Handle& h) {
        auto* date = h.window()->findChild<QLineEdit*>(QStringLiteral("campo3"));
        auto* ok = h.window()->findChild<QPushButton*>(QStringLiteral("aceptar"));
        focusIn(date);
        QTest::keyClick(date, Qt::Key_Home);
        QTest::keyClicks(date, QStringLiteral("31022026"));
        ok->click();
        openAfterRefusal = h.window()->isVisible();
        focusIn(date);
        QTest::keyClick(date, Qt::Key_Home);
        QTest::keyClicks(date, QStringLiteral("27022026"));
        ok->click();
    });
    EXPECT_TRUE(xb::evalText(call).asLogical());
    EXPECT_TRUE(openAfterRefusal);
    ASSERT_FALSE(driver->boxes().empty());
    EXPECT_TRUE(driver->boxes().back().text.startsWith(QStringLiteral("La fecha 31-02-2026")));
    EXPECT_EQ(xb::getVar("DDESDE").asDate(), xb::julianFromYmd(2026, 2, 27));
}

TEST_F(MessagesTest, RuntimeDialogWithoutEntriesSaysSoAndStopsTheScript) {
    xb::createPrivate("_EXIT", xb::Value::logical(false));
    driver->answer({1});
    EXPECT_TRUE(xb::evalText("CGDIALGET(100, 100, {}, {{'X', 1, 1}}, 'T')").isNil());
    ASSERT_EQ(driver->boxes().size(), 1u);
    EXPECT_TRUE(driver->boxes()[0].text.contains(QStringLiteral("Error en la creaci")));
    EXPECT_TRUE(driver->boxes()[0].text.contains(QStringLiteral("componentes")));
    EXPECT_TRUE(xb::getVar("_EXIT").asLogical());
}

TEST_F(MessagesTest, PrintFormChoiceGivesTheItemAndCancelStopsTheScript) {
    xb::createPrivate("_EXIT", xb::Value::logical(false));
    // "&Imprimir" without a choice: 0.
    driver->whenOpen(QStringLiteral("Impres2"), [](Handle& h) {
        EXPECT_EQ(h.text(101), QStringLiteral("Resumido"));
        EXPECT_EQ(h.text(102), QStringLiteral("Detallado"));
        h.close();  // refused: only the buttons close it
        EXPECT_TRUE(h.window()->isVisible());
        h.press(201);
    });
    EXPECT_EQ(xb::evalText("SELECCFRM('Resumido', 'Detallado')").asNumber(), 0);
    EXPECT_FALSE(xb::getVar("_EXIT").asLogical());

    driver->whenOpen(QStringLiteral("Impres2"), [](Handle& h) {
        h.check(102, true);
        h.press(201);
    });
    EXPECT_EQ(ui::SELECCFRM("Resumido", "Detallado"), 2);

    driver->whenOpen(QStringLiteral("Impres2"), [](Handle& h) {
        h.check(101, true);
        h.press(202);
    });
    ui::SELECCFRM("a", "b");
    EXPECT_TRUE(xb::getVar("_EXIT").asLogical());
}

TEST_F(MessagesTest, LastDayOfTheMonth) {
    auto last = [](int y, int m, int d) {
        const xb::Ymd r = xb::ymdFromJulian(ui::ULT_DAY(xb::julianFromYmd(y, m, d)));
        return r.year * 10000 + r.month * 100 + r.day;
    };
    EXPECT_EQ(last(2008, 2, 1), 20080229);
    EXPECT_EQ(last(2008, 2, 29), 20080229);
    EXPECT_EQ(last(2009, 2, 10), 20090228);
    EXPECT_EQ(last(2008, 12, 5), 20081231);
    EXPECT_EQ(last(2008, 11, 15), 20081130);
    EXPECT_EQ(ui::ULT_DAY(0), 0);
    xb::assignVar("DX", xb::Value::date(xb::julianFromYmd(2008, 11, 15)));
    EXPECT_EQ(xb::evalText("DTOS(ULT_DAY(DX))").asString(), "20081130");
    // The division that tolerates zero is the data layer's, by the same name.
    EXPECT_EQ(xb::evalText("DIV_ZERO(5, 0)").asNumber(), 0);
    EXPECT_EQ(xb::evalText("DIV_ZERO(5, 2)").asNumber(), 2.5);
}

TEST_F(MessagesTest, ANewProgressMessageClosesThePreviousOne) {
    QPointer<QWidget> first = ui::MIMENSAJ("Procesando uno......");
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->findChild<QLabel*>(QStringLiteral("texto"))->text(),
              QStringLiteral("Procesando uno......"));
    QPointer<QWidget> second = ui::MIMENSAJ("  Procesando dos  ");
    QApplication::processEvents();
    EXPECT_TRUE(!first || !first->isVisible());
    EXPECT_EQ(ui::progressMessage(), second.data());
    EXPECT_EQ(second->findChild<QLabel*>(QStringLiteral("texto"))->text(),
              QStringLiteral("Procesando dos"));
    // Its owner closes it through ODLGMSG1.
    xb::evalText("ODLGMSG1:End()");
    QApplication::processEvents();
    EXPECT_TRUE(!second || !second->isVisible());
    EXPECT_EQ(ui::progressMessage(), nullptr);
}

TEST_F(MessagesTest, DocumentsOpenThroughAnArgumentListNeverAShell) {
    // The opener records its arguments one a line.
    const QString log = dir.filePath(QStringLiteral("args.txt"));
    const QString opener = dir.filePath(QStringLiteral("opener.sh"));
    {
        QFile f(opener);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(("#!/bin/sh\nfor a in \"$@\"; do echo \"$a\" >> '" + log + "'; done\n").toUtf8());
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    qputenv("VDR_OPENER", opener.toLocal8Bit());
    const QString odd = QStringLiteral("Informe de ventas; touch HACKED $(id).txt");
    {
        QFile f(dir.filePath(odd));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    EXPECT_TRUE(ui::POWERPNT(odd.toStdString()));
    EXPECT_FALSE(ui::POWERPNT("no existe.doc"));
    qunsetenv("VDR_OPENER");
    // The opener runs on its own: wait for its whole line.
    for (int i = 0; i < 200 && !(QFile::exists(log) && QFileInfo(log).size() > 0); ++i)
        QTest::qWait(50);
    QTest::qWait(100);
    QFile f(log);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QStringList args =
        QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(args.size(), 1);
    EXPECT_EQ(args[0], dir.filePath(odd));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("HACKED"))));
}

TEST_F(MessagesTest, BannerStartsOnceAndEachFlashLeavesBlanks) {
    ui::MSGSUBLIM1();
    EXPECT_TRUE(ui::bannerRunning());
    ui::MSGSUBLIM1();
    EXPECT_TRUE(ui::bannerRunning());
    ui::stopBanner();
    EXPECT_FALSE(ui::bannerRunning());
    // One flash over the main window's client area: shown, then blanked.
    QMainWindow main;
    main.setCentralWidget(new QWidget);
    main.show();
    QString seen;
    QTimer::singleShot(0, [&] {
        if (auto* l = main.centralWidget()->findChild<QLabel*>(QStringLiteral("banner")))
            seen = l->text();
    });
    ui::MSGSUBLIM2("Compre productos Valdrosa");
    auto* label = main.centralWidget()->findChild<QLabel*>(QStringLiteral("banner"));
    ASSERT_TRUE(label);
    EXPECT_EQ(seen, QStringLiteral("Compre productos Valdrosa"));
    EXPECT_EQ(label->text(), QString(70, QLatin1Char(' ')));
}

}  // namespace
