// The help window: opened from the installation's help file, replaced by a
// fresh one on a second request, closed by Escape, and nothing at all
// without a help file. F1 in each screen shows that screen's page, and every
// page and picture the help links is there. Qt's own dialogs in Spanish.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHash>
#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

#include "app/application.h"
#include "app/functions.h"
#include "app/help.h"
#include "company/selection.h"
#include "data/catalogue.h"
#include "data/demo.h"
#include "data/helpers.h"
#include "gui_session.h"
#include "toolkit/dialog.h"
#include "toolkit/programkeys.h"
#include "toolkit/testdriver.h"
#include "xbase/compiler.h"

namespace {

int argc = 1;
char arg0[] = "test_app";
char* argv[] = {arg0, nullptr};

void ensureApp() {
    if (!QApplication::instance()) new QApplication(argc, argv);
}

int visibleHelpWindows(const QString& title) {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->windowTitle() == title) ++n;
    return n;
}

TEST(Help, SecondPressReplacesTheWindowAndMissingFileDoesNothing) {
    ensureApp();
    QTemporaryDir dir;
    const QString previousDir = QDir::currentPath();
    QDir::setCurrent(dir.path());
    QFile f(QStringLiteral("zeridoda.HTML"));  // found whatever the case of its name
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("<html><body><h1>Ayuda de prueba</h1></body></html>");
    f.close();

    QPointer<QWidget> first =
        app::HELPINDEX(QStringLiteral("ZeriDoda.html"), QStringLiteral("HTMLHelp"));
    ASSERT_TRUE(first);
    EXPECT_TRUE(qobject_cast<QTextBrowser*>(first.data())
                    ->toPlainText()
                    .contains(QStringLiteral("Ayuda de prueba")));
    EXPECT_EQ(visibleHelpWindows(QStringLiteral("HTMLHelp")), 1);

    QPointer<QWidget> second =
        app::HELPINDEX(QStringLiteral("ZeriDoda.html"), QStringLiteral("HTMLHelp"));
    QApplication::processEvents();
    ASSERT_TRUE(second);
    EXPECT_NE(first.data(), second.data());
    EXPECT_EQ(visibleHelpWindows(QStringLiteral("HTMLHelp")), 1);

    EXPECT_EQ(app::HELPINDEX(QStringLiteral("NoExiste.html"), QStringLiteral("Otra")), nullptr);
    EXPECT_EQ(visibleHelpWindows(QStringLiteral("Otra")), 0);
    second->close();

    // The stored file and title serve a request without arguments.
    EXPECT_EQ(app::SETHELPFILE(QStringLiteral("ZeriDoda.html"), QStringLiteral("Ayuda Valdrosa")),
              QString());
    QPointer<QWidget> third = app::HELPINDEX();
    ASSERT_TRUE(third);
    EXPECT_EQ(third->windowTitle(), QStringLiteral("Ayuda Valdrosa"));
    // Escape closes it, as it closes a dialog.
    third->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(third));
    QTest::keyClick(third, Qt::Key_Escape);
    for (int i = 0; i < 50 && third; ++i) QTest::qWait(20);
    EXPECT_TRUE(third.isNull());
    QDir::setCurrent(previousDir);
}

// The file dialog (and the print dialog with it) speaks Spanish once the
// program has loaded Qt's translations, as it does at start.
TEST(QtTranslations, TheStandardDialogsSpeakSpanish) {
    ensureApp();
    ASSERT_TRUE(app::installQtTranslations()) << "falta qt6-translations-l10n";
    QFileDialog dlg(nullptr, QStringLiteral("Guardar"));
    dlg.setOption(QFileDialog::DontUseNativeDialog);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    QStringList texts;
    for (QLabel* l : dlg.findChildren<QLabel*>()) texts << l->text();
    EXPECT_TRUE(texts.contains(QStringLiteral("Ver en:"))) << texts.join('|').toStdString();
    EXPECT_TRUE(texts.contains(QStringLiteral("&Nombre de fichero:")))
        << texts.join('|').toStdString();
    EXPECT_EQ(QCoreApplication::translate("QPrintDialog", "Print to File (PDF)"),
              QStringLiteral("Imprimir a archivo (PDF)"));
}

}  // namespace

// F1 in each screen the user meets shows that screen's page. The screens are
// the program's own, opened as the menu opens them over a sample company;
// each handler presses F1 and reads which page the help window shows. With
// VDR_HELP_SHOTS naming a folder, each screen's picture is also written there
// (the help's pictures are made so: VDR_HELP_SHOTS=install/help
// build/asan/tests/test_app --gtest_filter='HelpScreens.*').

namespace {

// The help window open, or nullptr.
QTextBrowser* helpWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->objectName() == QLatin1String("helpWindow"))
            return qobject_cast<QTextBrowser*>(w);
    return nullptr;
}

// The picture in its 256 most frequent colours, each other colour drawn as
// the nearest of them: plain backgrounds stay plain, the file small.
QImage fewColours(const QImage& rgb) {
    QHash<QRgb, int> count;
    for (int y = 0; y < rgb.height(); ++y)
        for (int x = 0; x < rgb.width(); ++x) ++count[rgb.pixel(x, y)];
    QList<QRgb> colours = count.keys();
    std::sort(colours.begin(), colours.end(),
              [&](QRgb a, QRgb b) { return count[a] != count[b] ? count[a] > count[b] : a < b; });
    colours = colours.mid(0, 256);
    QImage out(rgb.size(), QImage::Format_Indexed8);
    out.setColorTable(QList<QRgb>(colours.begin(), colours.end()));
    QHash<QRgb, int> nearest;
    for (int y = 0; y < rgb.height(); ++y)
        for (int x = 0; x < rgb.width(); ++x) {
            const QRgb c = rgb.pixel(x, y);
            auto it = nearest.find(c);
            if (it == nearest.end()) {
                int best = 0, bestDistance = INT_MAX;
                for (int i = 0; i < colours.size(); ++i) {
                    const int r = qRed(c) - qRed(colours[i]), g = qGreen(c) - qGreen(colours[i]),
                              b = qBlue(c) - qBlue(colours[i]);
                    if (r * r + g * g + b * b < bestDistance)
                        best = i, bestDistance = r * r + g * g + b * b;
                }
                it = nearest.insert(c, best);
            }
            out.setPixel(x, y, static_cast<uint>(*it));
        }
    return out;
}

// A picture for the help, at most 600 pixels wide.
void savePicture(QWidget* w, const QString& name) {
    const QString dir = qEnvironmentVariable("VDR_HELP_SHOTS");
    if (dir.isEmpty() || name.isEmpty()) return;
    QImage shot = w->grab().toImage().convertToFormat(QImage::Format_RGB32);
    if (shot.width() > 600) shot = shot.scaledToWidth(600, Qt::SmoothTransformation);
    ASSERT_TRUE(fewColours(shot).save(dir + QLatin1Char('/') + name, "PNG", 0));
}

class HelpScreens : public testsupport::GuiSession {
  protected:
    void SetUp() override {
        startSession(Start::Installation);
        app::registerProgramFunctions();
        ASSERT_TRUE(
            data::ABRIR("Control", data::kCompanyCatalogue, "S", {data::kCompanyCatalogueBag}));
        dbf::workspace().area("Control")->goTop();
        company::PUTDATEMPR();
        data::CERRAR("Control");
        data::DemoOptions demo;
        demo.prospects = 6;
        data::fillDemoCompany(xb::getVar("G_CAMINO").asString(), demo);
        app::SETHELPFILE(QString::fromUtf8(app::kHelpFile), QString::fromUtf8(app::kHelpTitle));
        tk::setProgramKey(Qt::Key_F1, [] { app::helpForWindowInFront(); });
    }
    void TearDown() override {
        tk::setProgramKey(Qt::Key_F1, {});
        GuiSession::TearDown();
    }

    // F1 in `w`: the page the help window shows (its file name), the help
    // window then closed. The picture of `w` is taken first.
    std::string f1(QWidget* w, const QString& picture = {}) {
        QApplication::processEvents();
        savePicture(w, picture);
        w->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(w));
        QTest::keyClick(w, Qt::Key_F1);
        QTextBrowser* help = helpWindow();
        if (!help) return "(ninguna)";
        const std::string page = help->source().fileName().toStdString();
        EXPECT_TRUE(help->source().toLocalFile().contains(QStringLiteral("/Ayuda/")));
        help->close();
        QApplication::processEvents();
        return page;
    }
    // F1 in the window `which` once it opens, then the window closed with
    // its `leave` button (the close box when empty; "Intro": Enter in the
    // grid).
    void expect(const QString& which, const QString& page, const QString& picture = {},
                const QString& leave = {}, std::function<void(tk::test::Handle&)> more = {}) {
        driver->whenOpen(which, [=, this](tk::test::Handle& h) {
            EXPECT_EQ(f1(h.window(), picture), page.toStdString()) << which.toStdString();
            if (more) more(h);
            if (leave.isEmpty())
                h.close();
            else if (leave == QLatin1String("Intro"))
                h.key(101, Qt::Key_Return);
            else
                h.pressCaption(leave);
        });
    }
};

TEST_F(HelpScreens, F1ShowsThePageOfTheWindowInFront) {
    // F1 in `window`, then `press` (when given) and `leave` (the close box
    // when empty); `next` is the window that opens from there, if any.
    struct Screen {
        const char *open, *window, *page, *picture, *press, *leave;
        const char *next = "", *nextPage = "", *nextPicture = "", *nextLeave = "";
    };
    const Screen screens[] = {
        {"SELEEMPR()", "SelecEmpr", "Empresa.html", "empresa.png", "", "Intro"},
        {"DATOSEMPR('I')", "FoldIniEmpr", "EmpresaDatos.html", "empresa-datos.png", "",
         "&Cancelar"},
        {"DATOSEMPR('M')", "Modificar Empresa", "EmpresaDatos.html", "", "", "&Cancelar"},
        {"ELIMEMPR()", "Borrar una Empresa", "EmpresaBorrar.html", "empresa-borrar.png", "",
         "&Cancelar"},
        {"BROWINVEND()", "Fichas de Vendedores", "Vendedores.html", "vendedores.png", "&Nuevo",
         "&Salir", "Dlg_Vend", "Vendedores.html", "vendedor-ficha.png", "&Cancelar"},
        {"BROWINPRODC()", "BrowseIn1", "Productos.html", "productos.png", "&Nuevo", "&Salir",
         "Dlg_Prod", "Productos.html", "producto-ficha.png", "&Cancelar"},
        {"BROWINPLAN()", "BrowseIn1", "Planes.html", "planes.png", "&Nuevo", "&Salir", "Dlg_Plan",
         "Planes.html", "plan-ficha.png", "&Cancelar"},
        {"BROWINRESP()", "BrowseIn1", "Respuestas.html", "respuestas.png", "&Nuevo", "&Salir",
         "Dlg_Resp", "Respuestas.html", "respuesta-ficha.png", "&Cancelar"},
        {"INFORM1('INFPRO.RPO')", "Impres1", "InfProspectos.html", "inf-prospectos.png", "",
         "&Cancelar"},
        {"INFORM1('INFCON.RPO')", "Impres1", "InfContactos.html", "inf-contactos.png", "",
         "&Cancelar"},
        {"INFORM1('INFVTA.RPO')", "Impres1", "InfVendidos.html", "inf-vendidos.png", "",
         "&Cancelar"},
        {"INFORM1('INFVEN.RPO')", "Impres1", "InfVendedores.html", "inf-vendedores.png", "",
         "&Cancelar"},
        {"INFORM1('INFPRC.RPO')", "Impres1", "InfPrecios.html", "inf-precios.png", "", "&Cancelar"},
        {"INFORM1('INFAGE.RPO')", "Impres1", "InfAgenda.html", "inf-agenda.png", "", "&Cancelar"},
        {"EMIINFAD()", "Seleccione Informe Adicional a emitir", "InfAdicionales.html", "", "", ""},
        {"INCINFAD()", "Edit_Tabl", "InfAdicionales.html", "inf-adicionales.png", "", "&Salir"},
        {"MICALENDAR()", "CALEND2", "Calendario.html", "calendario.png", "", "&Salir"},
        {"MAKECGFTE()", "Dlg_cgFuente", "Guiones.html", "guiones.png", "", "&Salir"},
        {"IMPORTACSV()", "ImportaFil", "Importar.html", "importar.png", "E&xaminar...", "&Salir",
         "Fichero que se importa", "Importar.html"},
        {"EXPORTACSV()", "ExportaTab", "Exportar.html", "exportar.png", "&Exportar", "&Salir",
         "Fichero que se escribe", "Exportar.html"},
        {"AGENDAVIS()", "AgendaVis", "Agenda.html", "agenda.png", "", "&Salir"},
        {"AGENDAICS()", "Agenda de visitas", "Exportar.html", "", "", ""},
        {"COPIAEMPR()", "Carpeta donde guardar la copia", "Copias.html", "", "", ""},
        {"COPIAINST()", "Carpeta donde guardar la copia", "Copias.html", "", "", ""},
        {"RESTEMPR()", "Copia que se restaura", "Copias.html", "", "", ""},
    };
    auto u = [](const char* s) { return QString::fromUtf8(s); };
    for (const Screen& s : screens) {
        SCOPED_TRACE(s.open);
        if (u(s.open) == QLatin1String("MAKECGFTE()")) driver->answer({2});  // "Si": go on
        expect(u(s.window), u(s.page), u(s.picture), u(s.leave), [&](tk::test::Handle& h) {
            if (*s.press) h.pressCaption(u(s.press));
        });
        if (*s.next) expect(u(s.next), u(s.nextPage), u(s.nextPicture), u(s.nextLeave));
        xb::evalText(s.open);
        EXPECT_TRUE(driver->allRun()) << driver->failures().join(' ').toStdString();
        dbf::workspace().closeAll();
    }
}

// The prospects: the browser, the card's three pages and the dialogs of
// their lists.
TEST_F(HelpScreens, F1InTheProspectCardShowsThePageInFront) {
    expect(QStringLiteral("BROWSEINPROSP"), QStringLiteral("Prospectos.html"),
           QStringLiteral("prospectos.png"), QStringLiteral("&Salir"), [&](tk::test::Handle& b) {
               const char* pages[] = {"ProspectoFicha.html", "Contactos.html",
                                      "ProductosVendidos.html"};
               const char* pictures[] = {"ficha.png", "ficha-contactos.png", "ficha-vendidos.png"};
               const char* rows[] = {"Producto Ofertado", "AddContacto", "Producto Vendido"};
               const char* rowPages[] = {"ProductosOfertados.html", "Contactos.html",
                                         "ProductosVendidos.html"};
               const char* rowPictures[] = {"producto-ofertado.png", "contacto.png",
                                            "producto-vendido.png"};
               driver->whenOpen(QStringLiteral("FoldProsp"), [&](tk::test::Handle& c) {
                   auto* folder = c.window()->findChild<QTabWidget*>();
                   ASSERT_NE(folder, nullptr);
                   c.onPage(101, 1).check(117, true);  // "Venta realizada": the third page
                   for (int n = 1; n <= 3; ++n) {
                       folder->setCurrentIndex(n - 1);
                       EXPECT_EQ(f1(c.window(), QString::fromUtf8(pictures[n - 1])), pages[n - 1]);
                       expect(QString::fromUtf8(rows[n - 1]), QString::fromUtf8(rowPages[n - 1]),
                              QString::fromUtf8(rowPictures[n - 1]), QStringLiteral("&Cancelar"));
                       c.onPage(101, n).press(501);
                   }
                   driver->answer({1});  // leave without saving
                   c.window()->close();
               });
               b.pressCaption(QStringLiteral("&Modificar"));
           });
    xb::evalText("BROWINPROSP()");
    EXPECT_TRUE(driver->allRun()) << driver->failures().join(' ').toStdString();
}

// A chart inside the frame: F1 in the frame shows the page of the chart in
// front; with no inner window, the index. A window of the agenda of visits
// is known by its caption.
TEST_F(HelpScreens, F1InTheFrameShowsTheInnerWindowInFront) {
    QMainWindow frame;
    frame.setObjectName(QStringLiteral("OWIN"));
    auto* mdi = new QMdiArea;
    frame.setCentralWidget(mdi);
    frame.resize(900, 640);
    frame.show();
    EXPECT_EQ(f1(&frame), "ZeriDoda.html");
    xb::evalText("GENGRAFIC('GRFRES.RPO')");
    ASSERT_NE(mdi->activeSubWindow(), nullptr);
    mdi->activeSubWindow()->resize(760, 480);
    savePicture(mdi->activeSubWindow(), QStringLiteral("grafico.png"));
    EXPECT_EQ(f1(&frame), "Graficos.html");
    mdi->closeAllSubWindows();
}

// Every page the table names is in the installation, and so is every page
// the index links and every picture a page shows.
TEST(HelpPages, EveryPageAndPictureIsInstalled) {
    const QDir help(QStringLiteral(VDR_SOURCE_DIR "/install/help"));
    for (const QString& page : app::helpPages())
        EXPECT_TRUE(help.exists(page)) << page.toStdString();
    const QRegularExpression ref(QStringLiteral("(?:href|src)=\"([^\"#:]+)[\"#]"));
    QStringList checked;
    QStringList toCheck{QStringLiteral("ZeriDoda.html")};
    while (!toCheck.isEmpty()) {
        const QString page = toCheck.takeFirst();
        if (checked.contains(page)) continue;
        checked << page;
        QFile f(help.filePath(page));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << page.toStdString();
        const QString text = QString::fromUtf8(f.readAll());
        for (auto m = ref.globalMatch(text); m.hasNext();) {
            const QString target = m.next().captured(1);
            EXPECT_TRUE(help.exists(target))
                << page.toStdString() << " -> " << target.toStdString();
            if (target.endsWith(QLatin1String(".html"))) toCheck << target;
            if (target.endsWith(QLatin1String(".png"))) {
                EXPECT_LT(QFileInfo(help.filePath(target)).size(), 60 * 1024)
                    << target.toStdString();
            }
        }
    }
    // Every page the table names is reached from the index.
    for (const QString& page : app::helpPages())
        EXPECT_TRUE(checked.contains(page)) << page.toStdString() << " no está en el índice";
}

}  // namespace
