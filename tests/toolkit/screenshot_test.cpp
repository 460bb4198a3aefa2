// A picture of two dialogs as the user sees them: the salespeople browser
// (grid and bitmap buttons) and its card with the code field focused. Runs
// only when VDR_SCREENSHOT names the PNG to write (under Xvfb, platform xcb):
//   VDR_SCREENSHOT=/tmp/shot.png QT_QPA_PLATFORM=xcb xvfb-run -s '-screen 0 1280x800x24'
//       build/asan/tests/test_toolkit --gtest_also_run_disabled_tests
//       --gtest_filter='Screenshot.*'   (one command line)
// Picture makers, not tests: disabled in the suite.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPainter>
#include <QScreen>
#include <QTableView>
#include <QTest>

#include "toolkit/browse.h"
#include "toolkit/dialog.h"
#include "toolkit/resources.h"

#include <QFile>

namespace {

class Rows : public tk::RowSource {
  public:
    std::vector<std::pair<std::string, std::string>> recs;
    int64_t pos = 1;
    int64_t keyCount() override { return static_cast<int64_t>(recs.size()); }
    int64_t keyNo() override { return pos; }
    bool goKeyNo(int64_t n) override {
        pos = n;
        return n >= 1 && n <= keyCount();
    }
    bool skip() override { return ++pos <= keyCount(); }
    uint32_t recNo() override { return static_cast<uint32_t>(pos); }
    void goRecord(uint32_t r) override { pos = r; }
    int order() override { return 1; }
};

TEST(Screenshot, DISABLED_BrowserAndCard) {
    const QByteArray out = qgetenv("VDR_SCREENSHOT");
    ASSERT_FALSE(out.isEmpty()) << "VDR_SCREENSHOT not set";
    Rows rows;
    const char* names[] = {"ALVAREZ RUIZ, ANA",  "BENITEZ SOTO, LUIS",   "DIAZ MORENO, CARMEN",
                           "GARCIA PEREZ, JUAN", "GOMEZ NUÑEZ, MARTA",   "LOPEZ TORRES, PEDRO",
                           "MARTIN SANZ, ELENA", "PEREZ ROMERO, JAVIER", "SANCHEZ GIL, LUCIA",
                           "TORRES VEGA, RAUL",  "ZAMORA LEON, SOFIA"};
    for (int i = 0; i < 11; ++i) {
        QByteArray latin = QString::fromUtf8(names[i]).toLatin1();
        rows.recs.push_back({"V" + std::to_string(101 + i), std::string(latin.constData())});
    }
    rows.pos = 4;
    tk::Dialog browser(QStringLiteral("BrowseIn1"));
    browser.setWindowTitle(QStringLiteral("Fichas de Vendedores"));
    auto* view = browser.ctl<QTableView>(101);
    tk::Browse grid(view, &rows,
                    {{QStringLiteral("Codigo"),
                      [&] { return xb::Value::str(rows.recs[rows.pos - 1].first); },
                      90,
                      "",
                      {},
                      1},
                     {QStringLiteral("Nombre"),
                      [&] { return xb::Value::str(rows.recs[rows.pos - 1].second); },
                      330,
                      "",
                      {},
                      2}});
    browser.form().bindCombo(102, {}, [] { return 1; }, {});
    browser.move(30, 40);
    browser.show();

    tk::Dialog card(QStringLiteral("Dlg_Vend"), &browser);
    xb::Value code = xb::Value::str("V104  "), name = xb::Value::str("GARCIA PEREZ, JUAN  ");
    tk::EntryBinding c;
    c.get = [&] { return code; };
    c.set = [&](const xb::Value& v) { code = v; };
    c.picture = "@K!";
    card.bindEntry(101, c);
    tk::EntryBinding n;
    n.get = [&] { return name; };
    n.picture = "@K!";
    card.bindEntry(102, n);
    card.show();
    card.move(660, 250);
    QTest::qWait(300);
    card.activateWindow();
    card.control(101)->setFocus();
    QTest::qWait(300);
    ASSERT_TRUE(card.control(101)->hasFocus());
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
    ASSERT_FALSE(shot.isNull());
    EXPECT_TRUE(shot.save(QString::fromLocal8Bit(out)));
}

}  // namespace

namespace {

// Pictures of every dialog template as built (VDR_TEMPLATE_SHOTS names a folder).
TEST(Screenshot, DISABLED_EveryTemplate) {
    const QString dir = qEnvironmentVariable("VDR_TEMPLATE_SHOTS");
    ASSERT_FALSE(dir.isEmpty()) << "VDR_TEMPLATE_SHOTS not set";
    for (const QString& name : tk::ResourceLibrary::templateNames()) {
        QFile f(tk::ResourceLibrary::templatePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        if (!f.readAll().contains("class=\"QDialog\"")) continue;
        tk::Dialog d(name);
        d.show();
        QApplication::processEvents();
        EXPECT_TRUE(d.grab().save(dir + QLatin1Char('/') + name + QStringLiteral(".png")));
    }
    // Every bitmap and icon on one sheet, as the toolkit draws them.
    const QStringList bitmaps = tk::ResourceLibrary::bitmapNames();
    const QStringList icons = tk::ResourceLibrary::iconNames();
    QImage sheet(10 * 72, static_cast<int>((bitmaps.size() + icons.size()) / 10 + 1) * 72,
                 QImage::Format_RGB32);
    sheet.fill(QColor(255, 235, 175));
    QPainter p(&sheet);
    int i = 0;
    for (const QString& b : bitmaps)
        p.drawPixmap((i % 10) * 72 + 4, (i / 10) * 72 + 4, tk::bitmap(b, QSize(64, 64))), ++i;
    for (const QString& ic : icons)
        p.drawPixmap((i % 10) * 72 + 4, (i / 10) * 72 + 4, tk::iconPixmap(ic, 64)), ++i;
    p.end();
    EXPECT_TRUE(sheet.save(dir + QStringLiteral("/bitmaps.png")));
}

}  // namespace
