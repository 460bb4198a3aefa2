// The help window: opened from the installation's help file, replaced by a
// fresh one on a second request, closed by Escape, and nothing at all
// without a help file. Qt's own dialogs in Spanish.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

#include "app/application.h"
#include "app/help.h"

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
