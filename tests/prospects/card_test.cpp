// The prospect card as a user works it: the three pages, the product and
// contact dialogs, the sale, the save; the card reopened on a second
// workstation; the deletion. Driven through the toolkit's test driver over
// the real dialogs of the resource library.
#include <QAbstractButton>
#include <QAction>
#include <QFile>
#include <QHelpEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

#include "prospect_fixture.h"
#include "prospects/fichprosp.h"
#include "toolkit/dialog.h"
#include "toolkit/testdriver.h"
#include "xbase/codepage.h"

using namespace prospects;
using tk::test::Handle;

namespace {

using Rows = std::vector<std::string>;

int gridRows(Handle& h, int id) {
    auto* v = qobject_cast<QTableView*>(h.control(id));
    return v ? v->model()->rowCount() : -1;
}

QString cell(Handle& h, int id, int row, int col) {
    auto* v = qobject_cast<QTableView*>(h.control(id));
    return v->model()->index(row, col).data().toString().trimmed();
}

void seedReference() {
    pt::addVendor("V1", "ANA PEREZ");
    pt::addVendor("V2", "LUIS GOMEZ");
    pt::addProduct("P1", "PLAN BASICO", 1500);
    pt::addProduct("P2", "PLAN PLUS", 250.5);
    pt::addPlan("PL1", "PLAN DE VERANO");
}

// The product dialog: code, quantity, then "&Aceptar".
void productRow(tk::test::Driver& d, const QString& code, const QString& qty,
                QString* total = nullptr) {
    d.whenOpen(QStringLiteral("Dlg_Prd_Of"), [=](Handle& h) {
        h.type(101, code);
        h.type(103, qty);
        if (total) *total = h.text(105).trimmed();
        h.press(201);
    });
}

}  // namespace

// Create a prospect with two products offered, a contact with its next
// visit and a sale; change its salesperson; reopen it on a second
// workstation; delete it.
TEST_F(ProspectFixture, LongScenarioThroughTheCard) {
    seedReference();
    tk::test::Driver driver;
    driver.watchdog(60000);
    QString vendName, total1, afterTwo, page2Before;
    bool page2AfterName = false, page3AfterSale = false;
    driver.whenOpen(QStringLiteral("FoldProsp"), [&](Handle& h) {
        auto* d = h.dialog();
        auto* folder = qobject_cast<QTabWidget*>(d->control(101));
        h.onPage(101, 1);
        h.type(101, "V1");
        vendName = h.text(400);
        h.type(102, "C900");
        page2Before = folder->isTabEnabled(1) ? "on" : "off";
        h.type(105, "CLIENTE NUEVO");
        page2AfterName = folder->isTabEnabled(1);
        h.type(109, "compras@cliente.example");
        h.press(501);
        h.press(501);
        afterTwo = h.text(402).trimmed();
        h.type(115, "PL1");
        h.check(117, true);
        page3AfterSale = folder->isTabEnabled(2);
        h.type(118, "09122026");
        h.onPage(101, 2).press(501);
        h.onPage(101, 3);
        h.focus(102);
        h.type(102, "FAC-9");
        h.press(501);
        h.press(200);
    });
    productRow(driver, "P1", "2", &total1);
    productRow(driver, "P2", "1");
    bool badHourLeft = true, emptyHourLeft = false;
    driver.whenOpen(QStringLiteral("AddContacto"), [&](Handle& h) {
        h.type(101, "09122026");
        h.choose(102, QString::fromUtf8("Telefónico"));
        h.type(105, "15122026");
        badHourLeft = h.type(106, "2599");
        h.key(106, Qt::Key_Home);
        h.type(106, "1030");
        emptyHourLeft = h.type(108, "");
        h.press(200);
    });
    productRow(driver, "P1", "1");
    FICHPROSP("I");
    ASSERT_TRUE(driver.allRun()) << driver.failures().join('|').toStdString();
    EXPECT_EQ(vendName, "ANA PEREZ");
    EXPECT_EQ(page2Before, "off");
    EXPECT_TRUE(page2AfterName);
    EXPECT_TRUE(page3AfterSale);
    EXPECT_EQ(total1, "3,000.00");
    EXPECT_EQ(afterTwo, "3,250.50");
    EXPECT_FALSE(badHourLeft);
    EXPECT_TRUE(emptyHourLeft);
    bool hourTold = false;
    for (const auto& s : interaction.shown())
        hourTold = hourTold || s.message.rfind("La hora 25:99 no es v\xe1lida.", 0) == 0;
    EXPECT_TRUE(hourTold);

    // Stored: the prospect and its three lists under one link.
    dbf::WorkArea& p = pt::area("Prospecto");
    p.goTop();
    ASSERT_FALSE(p.eof());
    const ProspectFields stored = readProspect(p);
    const uint32_t rec = p.recno();
    EXPECT_EQ(trimmed(stored.codprosp), "C900");
    EXPECT_EQ(trimmed(stored.email), "compras@cliente.example");
    EXPECT_TRUE(stored.vta);
    EXPECT_EQ(pt::whatOf(1, stored.link()), (Rows{"P1", "P2"}));
    EXPECT_EQ(pt::whatOf(3, stored.link()), Rows{"P1"});
    for (const pt::StoredRow& r : pt::storedRows(1)) EXPECT_EQ(r.plan, "PL1");
    EXPECT_EQ(pt::storedRows(3).at(0).docum, "FAC-9");
    pt::withTable("Contacto", [&](dbf::WorkArea& c) {
        c.goTop();
        ASSERT_FALSE(c.eof());
        EXPECT_EQ(D(c, "FEC_PROX"), xb::julianFromYmd(2026, 12, 15));
        EXPECT_EQ(S(c, "HOR_PROX"), "10:30");
        EXPECT_EQ(trimmed(S(c, "TIPO")), "Telef\xf3nico");
        EXPECT_EQ(N(c, "NT"), 1);
    });

    // The salesperson changes: every row follows.
    driver.whenOpen(QStringLiteral("FoldProsp"), [&](Handle& h) {
        h.onPage(101, 1);
        EXPECT_FALSE(h.control(102)->isEnabled());
        h.type(101, "V2");
        h.press(200);
    });
    p.goTo(rec);
    FICHPROSP("M");
    ASSERT_TRUE(driver.allRun()) << driver.failures().join('|').toStdString();
    Link moved = stored.link();
    moved.codvend = pad("V2", 8);
    EXPECT_TRUE(pt::whatOf(1, stored.link()).empty());
    EXPECT_EQ(pt::whatOf(1, moved), (Rows{"P1", "P2"}));
    EXPECT_EQ(pt::whatOf(2, moved).size(), 1u);
    EXPECT_EQ(pt::whatOf(3, moved), Rows{"P1"});

    // A second workstation opens the card and sees everything.
    pt::startWorkstation("WS2");
    pt::openBrowserTables();
    pt::area("Prospecto").goTo(rec);
    int offered = 0, sold = 0, contacts = 0;
    QString nextVisit, soldTotal, caption, docum, offeredName, soldName;
    driver.whenOpen(QStringLiteral("FoldProsp"), [&](Handle& h) {
        caption = h.window()->windowTitle();
        h.onPage(101, 1);
        offered = gridRows(h, 114);
        offeredName = cell(h, 114, 0, 1);
        h.onPage(101, 2);
        contacts = gridRows(h, 101);
        nextVisit = h.text(106);
        h.onPage(101, 3);
        sold = gridRows(h, 104);
        soldName = cell(h, 104, 0, 1);
        soldTotal = h.text(402).trimmed();
        docum = h.text(102).trimmed();
        h.press(201);
    });
    FICHPROSP("M");
    ASSERT_TRUE(driver.allRun()) << driver.failures().join('|').toStdString();
    EXPECT_EQ(caption, "Ficha Prospecto : CLIENTE NUEVO");
    EXPECT_EQ(offered, 2);
    EXPECT_EQ(offeredName, "PLAN BASICO");
    EXPECT_EQ(soldName, "PLAN BASICO");
    EXPECT_EQ(contacts, 1);
    EXPECT_EQ(nextVisit, "15-12-2026");
    EXPECT_EQ(sold, 1);
    EXPECT_EQ(soldTotal, "1,500.00");
    EXPECT_EQ(docum, "FAC-9");
    EXPECT_TRUE(QFile::exists(dir.filePath("EMP00001/WS2/Buffer1.dbf")));

    // Deleted from the second workstation.
    pt::area("Prospecto").goTo(rec);
    interaction.answer(1);
    EXPECT_TRUE(BORRAPROSPS());
    EXPECT_TRUE(pt::whatOf(1, moved).empty());
    EXPECT_TRUE(pt::whatOf(2, moved).empty());
    EXPECT_EQ(pt::whatOf(3, moved), Rows{"P1"});  // products sold stay
    EXPECT_EQ(pt::vdrtoolCheck(), "");
}

// Typed data kept: an unknown code blanks the fields only when it changed;
// a total that does not fit is refused with a message; clearing the sale asks
// before the products sold go; deleting with nothing current does nothing.
TEST_F(ProspectFixture, TheCardKeepsWhatWasTyped) {
    seedReference();
    tk::test::Driver driver;
    driver.watchdog(60000);
    QString nameAfterSame, nameAfterChange, emailAfterChange;
    bool overflowStays = false;
    driver.whenOpen(QStringLiteral("FoldProsp"), [&](Handle& h) {
        h.onPage(101, 1);
        h.type(101, "V1");
        h.type(102, "ZZ1");
        h.type(105, "TECLEADO");
        h.type(109, "x@y.example");
        h.focus(102);
        h.type(102, "", true);  // left again unchanged
        nameAfterSame = h.text(105).trimmed();
        h.type(102, "ZZ2");
        nameAfterChange = h.text(105).trimmed();
        emailAfterChange = h.text(109);
        h.press(501);
        driver.answer({1});  // leave without saving what was typed
        h.press(201);
    });
    driver.whenOpen(QStringLiteral("Dlg_Prd_Of"), [&](Handle& h) {
        h.type(101, "P1");
        h.type(103, "9999999");
        h.type(104, "999999999");
        overflowStays = h.window()->isVisible();
        h.press(202);
    });
    FICHPROSP("I");
    ASSERT_TRUE(driver.allRun()) << driver.failures().join('|').toStdString();
    EXPECT_EQ(nameAfterSame, "TECLEADO");
    EXPECT_EQ(nameAfterChange, "");
    const dbf::Table& prosp = pt::area("Prospecto").table();
    EXPECT_EQ(emailAfterChange.size(), prosp.fields()[prosp.fieldIndex("EMAIL")].len);
    EXPECT_TRUE(overflowStays);
    bool told = false;
    for (const auto& s : interaction.shown())
        if (s.message.find("no cabe en el valor total") != std::string::npos) told = true;
    EXPECT_TRUE(told);

    // Clearing the sale of a stored prospect with products sold asks first.
    ProspectFields f = pt::prospect("C1", "V1", "20260314101010", "VENDIDO");
    f.vta = true;
    const uint32_t rec = pt::addProspect(f);
    pt::addRow(3, f.link(), "P2", 1, 250.5);
    bool stillChecked = false;
    driver.whenOpen(QStringLiteral("FoldProsp"), [&](Handle& h) {
        h.onPage(101, 1);
        h.check(117, false);
        stillChecked = qobject_cast<QAbstractButton*>(h.control(117))->isChecked();
        h.press(200);
    });
    interaction.answer(2);  // "  &No  "
    pt::area("Prospecto").goTo(rec);
    FICHPROSP("M");
    ASSERT_TRUE(driver.allRun()) << driver.failures().join('|').toStdString();
    EXPECT_TRUE(stillChecked);
    EXPECT_EQ(pt::whatOf(3, f.link()), Rows{"P2"});

    // Nothing current: no question, nothing deleted.
    const size_t shown = interaction.shown().size();
    pt::area("Prospecto").goBottom();
    pt::area("Prospecto").skip(1);
    EXPECT_FALSE(BORRAPROSPS());
    EXPECT_EQ(interaction.shown().size(), shown);
}

// Leaving a card: untouched it closes at once; with a field typed or a
// list row added it asks first, "&No" (the default) keeps the card with
// what was typed, "&Si" leaves it and nothing is written.
TEST_F(ProspectFixture, LeavingAChangedCardAsksFirst) {
    seedReference();
    const uint32_t rec = pt::addProspect(pt::prospect("C7", "V1", "20260314101010", "QUIETO"));
    tk::test::Driver driver;
    driver.watchdog(60000);
    const QString question = QString::fromUtf8("¿Desea salir sin grabar los cambios?");
    // Untouched, on each page and by Escape: no question.
    for (int page : {1, 2, 0}) {
        driver.whenOpen(QStringLiteral("FoldProsp"), [page](Handle& h) {
            if (page == 0)
                QTest::keyClick(h.window(), Qt::Key_Escape);
            else
                h.onPage(101, page).press(201);
        });
        pt::area("Prospecto").goTo(rec);
        FICHPROSP("M");
    }
    ASSERT_TRUE(driver.allRun()) << driver.failures().join('|').toStdString();
    EXPECT_TRUE(driver.boxes().empty()) << driver.boxTexts().join('|').toStdString();

    QString defaultButton, kept;
    bool stayedAfterNo = false, stayedAfterEnter = false, stayedWhileTyping = false;
    driver.whenOpen(QStringLiteral("FoldProsp"), [&](Handle& h) {
        h.onPage(101, 1);
        // A text typed and not yet left counts.
        h.type(107, "555", false);
        driver.answer({2});
        QTest::keyClick(h.window(), Qt::Key_Escape);
        stayedWhileTyping = h.window()->isVisible();
        h.type(106, "CALLE NUEVA");
        driver.answer({2});
        h.press(201);
        stayedAfterNo = h.window()->isVisible();
        kept = h.text(106).trimmed();
        // The box as the user sees it: Enter takes "&No".
        driver.answer({-1});
        driver.whenOpen(QStringLiteral("Atención....."), [&](Handle& box) {
            auto* b = qobject_cast<QMessageBox*>(box.window());
            if (b && b->defaultButton()) defaultButton = b->defaultButton()->text();
            QTest::keyClick(box.window(), Qt::Key_Return);
        });
        h.close();
        stayedAfterEnter = h.window()->isVisible();
        driver.answer({1});
        h.press(201);
    });
    pt::area("Prospecto").goTo(rec);
    FICHPROSP("M");
    ASSERT_TRUE(driver.allRun()) << driver.failures().join('|').toStdString();
    EXPECT_TRUE(stayedAfterNo);
    EXPECT_EQ(kept, "CALLE NUEVA");
    EXPECT_EQ(defaultButton, "&No");
    EXPECT_TRUE(stayedAfterEnter);
    EXPECT_TRUE(stayedWhileTyping);
    ASSERT_EQ(driver.boxes().size(), 4u);
    for (const tk::BoxShown& b : driver.boxes()) {
        EXPECT_EQ(b.text, question);
        EXPECT_EQ(b.buttons, (QStringList{"&Si", "&No"}));
    }
    pt::area("Prospecto").goTo(rec);
    EXPECT_EQ(trimmed(S(pt::area("Prospecto"), "DIREC")), "");

    // A row added to a list is a change too; "&Si" leaves without writing it.
    driver.whenOpen(QStringLiteral("FoldProsp"), [&](Handle& h) {
        h.onPage(101, 1).press(501);
        driver.answer({1});
        h.onPage(101, 2).press(201);
    });
    productRow(driver, "P1", "2");
    pt::area("Prospecto").goTo(rec);
    FICHPROSP("M");
    ASSERT_TRUE(driver.allRun()) << driver.failures().join('|').toStdString();
    EXPECT_EQ(driver.boxes().size(), 5u);
    EXPECT_TRUE(pt::whatOf(1, pt::prospect("C7", "V1", "20260314101010", "QUIETO").link()).empty());
}

// The e-mail and the telephones go to the desktop's program (xdg-open,
// here a stub on PATH that writes down what it was given): F3 in the
// field or its small button; an empty field opens nothing.
TEST_F(ProspectFixture, EmailAndTelephoneOpenWithTheDesktop) {
    EXPECT_EQ(contactUri("  ventas.sur@acme.example  ", true), "mailto:ventas.sur@acme.example");
    EXPECT_EQ(contactUri("jos\xe9 p@x.example", true), "mailto:jos%C3%A9%20p@x.example");
    EXPECT_EQ(contactUri("+57 (601) 555-1234", false), "tel:+576015551234");
    EXPECT_EQ(contactUri("    ", true), "");
    EXPECT_EQ(contactUri("SIN TEL", false), "");

    QTemporaryDir stubs;
    const QString log = stubs.filePath("opened.txt");
    {
        QFile stub(stubs.filePath("xdg-open"));
        ASSERT_TRUE(stub.open(QIODevice::WriteOnly));
        stub.write(("#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" + log.toUtf8() + "'\n"));
        stub.setPermissions(stub.permissions() | QFileDevice::ExeOwner);
    }
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", stubs.path().toUtf8() + ":" + path);
    seedReference();
    ProspectFields f = pt::prospect("C8", "V1", "20260314101010", "CONTACTO");
    f.email = pad("ventas@acme.example", kWEmail);
    f.telef = pad("(601) 555-1234", kWTelef);
    const uint32_t rec = pt::addProspect(f);
    tk::test::Driver driver;
    driver.watchdog(60000);
    bool buttons = true;
    driver.whenOpen(QStringLiteral("FoldProsp"), [&](Handle& h) {
        h.onPage(101, 1);
        for (int id : {107, 109, 112}) buttons = buttons && h.control(id)->actions().size() == 1;
        h.focus(109);
        h.key(109, Qt::Key_F3);
        h.control(107)->actions().first()->trigger();
        h.focus(112);
        h.key(112, Qt::Key_F3);  // empty: nothing
        h.control(112)->actions().first()->trigger();
        h.press(201);
    });
    pt::area("Prospecto").goTo(rec);
    FICHPROSP("M");
    ASSERT_TRUE(driver.allRun()) << driver.failures().join('|').toStdString();
    // Started detached: given time to write, and a moment more for a third.
    auto opened = [&] {
        QFile in(log);
        return in.open(QIODevice::ReadOnly)
                   ? QString::fromUtf8(in.readAll()).split('\n', Qt::SkipEmptyParts)
                   : QStringList();
    };
    for (int i = 0; i < 100 && opened().size() < 2; ++i) QTest::qWait(50);
    QTest::qWait(300);
    QStringList lines = opened();
    EXPECT_TRUE(buttons);
    lines.sort();
    EXPECT_EQ(lines, (QStringList{"mailto:ventas@acme.example", "tel:6015551234"}));
    EXPECT_TRUE(driver.boxes().empty());

    // No xdg-open on this desktop: the user is told which program is missing.
    QTemporaryDir none;
    qputenv("PATH", none.path().toUtf8());
    driver.whenOpen(QStringLiteral("FoldProsp"), [&](Handle& h) {
        h.onPage(101, 1);
        h.focus(109);
        h.key(109, Qt::Key_F3);
        h.press(201);
    });
    pt::area("Prospecto").goTo(rec);
    FICHPROSP("M");
    qputenv("PATH", path);
    ASSERT_TRUE(driver.allRun()) << driver.failures().join('|').toStdString();
    ASSERT_FALSE(interaction.shown().empty());
    EXPECT_EQ(interaction.shown().back().message,
              "No se pudo abrir el programa de correo: falta el programa xdg-open (paquete "
              "xdg-utils).");
}

// A plan detail of 120 characters and a salesperson name of 40 leave the
// card as wide as it is: the texts show their beginning, the whole text in
// the tooltip, and the card fits a 1280-pixel screen.
TEST_F(ProspectFixture, LongTextsLeaveTheCardItsWidth) {
    const std::string detail =
        "CAMPAÑA NACIONAL DE FIDELIZACION PARA CLIENTES CORPORATIVOS CON DESCUENTOS "
        "ESCALONADOS Y VISITAS DE SEGUIMIENTO MENSUAL.";
    ASSERT_EQ(xb::utf8ToCp1252(detail).size(), 120u);
    pt::addVendor("V1", "MARIA FERNANDA RODRIGUEZ DE LA SANTISIMA");
    pt::addProduct("P1", "PLAN BASICO", 1500);
    pt::addPlan("PL120", xb::utf8ToCp1252(detail));
    ProspectFields f = pt::prospect("C9", "V1", "20260314101010", "LARGO");
    const uint32_t rec = pt::addProspect(f);
    pt::withTable("ProdOfer", [&](dbf::WorkArea& d) {
        d.append();
        stampLink(d, 1, f.link());
        putS(d, "CODPROD", "P1");
        putS(d, "PLAN", "PL120");
        d.unlock(0);
    });
    tk::test::Driver driver;
    driver.watchdog(60000);
    driver.whenOpen(QStringLiteral("FoldProsp"), [&](Handle& h) {
        h.onPage(101, 1);
        QApplication::processEvents();
        EXPECT_LE(h.window()->width(), 1280 - 20);
        auto* plan = qobject_cast<QLabel*>(h.control(401));
        ASSERT_NE(plan, nullptr);
        EXPECT_EQ(plan->text(), QString::fromStdString(detail));
        EXPECT_LT(plan->width(), plan->fontMetrics().horizontalAdvance(plan->text()));
        const QPoint at(4, plan->height() / 2);
        QHelpEvent tip(QEvent::ToolTip, at, plan->mapToGlobal(at));
        QApplication::sendEvent(plan, &tip);
        EXPECT_EQ(QToolTip::text(), QString::fromStdString(detail));
        h.press(201);
    });
    pt::area("Prospecto").goTo(rec);
    FICHPROSP("M");
    EXPECT_TRUE(driver.allRun()) << driver.failures().join('|').toStdString();
}

// Pictures of the browser and of the card's three pages with data, for a
// person to look at, written to the folder VDR_PROSP_SHOTS. Not a test:
// started on purpose with --gtest_also_run_disabled_tests.
TEST_F(ProspectFixture, DISABLED_Screenshots) {
    const char* out = std::getenv("VDR_PROSP_SHOTS");
    ASSERT_TRUE(out && *out) << "VDR_PROSP_SHOTS not set";
    seedReference();
    ProspectFields f = pt::prospect("C001", "V1", "20260314101010", "ACME LTDA");
    f.direc = pad("CALLE 10 # 20-30", kWDirec);
    f.ciudad = pad("BOGOTA", kWCiudad);
    f.email = pad("ventas@acme.example", kWEmail);
    f.vta = true;
    f.fecVta = xb::julianFromYmd(2026, 12, 1);
    const uint32_t rec = pt::addProspect(f);
    pt::addProspect(pt::prospect("C002", "V2", "20260314111111", "BETA Y CIA"));
    pt::addProspect(pt::prospect("C003", "V9", "20260314121212", "GAMMA SIN VENDEDOR"));
    pt::addRow(1, f.link(), "P1", 3, 4500);
    pt::addRow(1, f.link(), "P2", 2, 501);
    pt::addRow(2, f.link(), "PRIMERA VISITA", 0, 0);
    pt::addRow(3, f.link(), "P1", 3, 4500);
    tk::test::Driver driver;
    driver.watchdog(60000);
    auto shot = [&](QWidget* w, const char* name) {
        QApplication::processEvents();
        w->grab().save(QString::fromLocal8Bit(out) + "/" + name + ".png");
    };
    driver.whenOpen(QStringLiteral("FoldProsp"), [&](Handle& h) {
        auto* folder = qobject_cast<QTabWidget*>(h.dialog()->control(101));
        for (int i = 0; i < 3; ++i) {
            folder->setCurrentIndex(i);
            shot(h.window(), ("card_page" + std::to_string(i + 1)).c_str());
        }
        h.onPage(101, 1).press(201);
    });
    pt::area("Prospecto").goTo(rec);
    FICHPROSP("M");
    driver.whenOpen(QStringLiteral("BROWSEINPROSP"), [&](Handle& h) {
        shot(h.window(), "browser");
        h.press(205);
    });
    dbf::workspace().closeAll();
    BROWINPROSP();
    EXPECT_TRUE(driver.allRun()) << driver.failures().join('|').toStdString();
}
