// The main window's frame: title, the exit question answered inside its modal
// loop, and coming to the front when a second copy asks.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMdiArea>
#include <QMessageBox>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTimer>

#include "app/mainwindow.h"
#include "app/script.h"
#include "app/single_instance.h"
#include "application.h"
#include "xbase/compiler.h"

namespace {

QApplication& qapp() {
    return testsupport::application();
}

// Presses the button whose caption is `caption` in the next message box that
// opens, and records its text and title.
struct BoxAnswerer {
    explicit BoxAnswerer(QString c) : caption(std::move(c)) {}
    QString caption;
    QString seenText, seenTitle;
    QStringList seenButtons;
    void arm() {
        QTimer::singleShot(50, [this] { tryAnswer(); });
    }
    void tryAnswer() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            QTimer::singleShot(20, [this] { tryAnswer(); });
            return;
        }
        seenText = box->text();
        seenTitle = box->windowTitle();
        for (QAbstractButton* b : box->buttons())
            if (!b->isHidden()) seenButtons << b->text();
        for (QAbstractButton* b : box->buttons())
            if (b->text() == caption) {
                b->click();
                return;
            }
        box->reject();  // closing the question without a button
    }
};

TEST(MainWindow, TitleAndExitQuestion) {
    qapp();
    app::MainWindow w;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Control de Gestión Area Comercial Valdrosa"));
    w.show();

    BoxAnswerer no{QStringLiteral("   &No   ")};
    no.arm();
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(no.seenText, QStringLiteral("Desea terminar su sesión ?"));
    EXPECT_EQ(no.seenTitle, QStringLiteral("Seleccione su opción"));
    EXPECT_EQ(no.seenButtons,
              (QStringList{QStringLiteral("   &Si   "), QStringLiteral("   &No   ")}));

    BoxAnswerer closeBox{QStringLiteral("(none)")};
    closeBox.arm();
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(w.isVisible());

    BoxAnswerer yes{QStringLiteral("   &Si   ")};
    yes.arm();
    EXPECT_TRUE(w.close());
    EXPECT_FALSE(w.isVisible());
}

TEST(MainWindow, BringToFrontRestoresMinimised) {
    qapp();
    app::MainWindow w;
    w.showMinimized();
    QApplication::processEvents();
    w.bringToFront();
    QApplication::processEvents();
    EXPECT_FALSE(w.windowState() & Qt::WindowMinimized);
    EXPECT_TRUE(w.isVisible());
}

TEST(Keys, KeyputTypesIntoTheFieldThatHasTheFocus) {
    qapp();
    app::registerScriptFunctions();
    QLineEdit edit;
    edit.show();
    QApplication::setActiveWindow(&edit);
    edit.setFocus();
    QApplication::processEvents();
    ASSERT_EQ(QApplication::focusWidget(), &edit);
    for (const char* call : {"KEYPUT(65)", "KEYPUT(241)", "KEYPUT(66)", "KEYPUT(19)", "KEYPUT(8)"})
        EXPECT_TRUE(xb::evalText(call).asLogical()) << call;
    QApplication::processEvents();
    EXPECT_EQ(edit.text(), QStringLiteral("AB"));
    EXPECT_FALSE(xb::evalText("KEYPUT(300)").asLogical());
}

TEST(SingleInstance, SecondCopyAsksFirstToShow) {
    qapp();
    const QString name = QStringLiteral("vdr-test-%1").arg(QCoreApplication::applicationPid());
    app::SingleInstance first(name);
    ASSERT_FALSE(first.anotherIsRunning());
    QSignalSpy spy(&first, &app::SingleInstance::showRequested);
    app::SingleInstance second(name);
    EXPECT_TRUE(second.anotherIsRunning());
    EXPECT_TRUE(spy.wait(3000));
    EXPECT_EQ(spy.count(), 1);
    // The same user on another display is on another desktop; another
    // screen of the same display is not.
    const QByteArray display = qgetenv("DISPLAY");
    qputenv("DISPLAY", ":91");
    app::SingleInstance here(name);
    ASSERT_FALSE(here.anotherIsRunning());
    qputenv("DISPLAY", ":92");
    EXPECT_FALSE(app::SingleInstance(name).anotherIsRunning());
    qputenv("DISPLAY", ":91.1");
    EXPECT_TRUE(app::SingleInstance(name).anotherIsRunning());
    if (display.isNull())
        qunsetenv("DISPLAY");
    else
        qputenv("DISPLAY", display);
}

}  // namespace

namespace {

// The emblem is painted with its centre 60 pixels above and 10 pixels left of
// the centre of the frame's client area, before and after a resize.
TEST(MainWindow, EmblemStaysAboveAndLeftOfCentre) {
    qapp();
    app::MainWindow w;
    QPixmap emblem(20, 20);
    emblem.fill(Qt::red);
    QPixmap tile(8, 8);
    tile.fill(Qt::blue);
    w.setPictures(tile, emblem);
    for (QSize size : {QSize(900, 700), QSize(500, 420)}) {
        w.resize(size);
        w.show();
        QApplication::processEvents();
        QWidget* vp = w.mdiArea()->viewport();
        const QImage img = vp->grab().toImage();
        const QPoint centre(vp->width() / 2 - 10, vp->height() / 2 - 60);
        EXPECT_EQ(img.pixelColor(centre), QColor(Qt::red)) << size.width();
        EXPECT_EQ(img.pixelColor(centre + QPoint(12, 0)), QColor(Qt::blue)) << size.width();
        EXPECT_EQ(img.pixelColor(centre + QPoint(0, 12)), QColor(Qt::blue)) << size.width();
        EXPECT_EQ(img.pixelColor(centre - QPoint(11, 11)), QColor(Qt::blue)) << size.width();
    }
}

TEST(MainWindow, StatusBarFallsBackToDefaultText) {
    qapp();
    app::MainWindow w;
    EXPECT_EQ(w.statusBar()->currentMessage(), QStringLiteral("Seleccione su opción"));
    w.statusBar()->showMessage(QStringLiteral("Calculadora"));
    w.statusBar()->clearMessage();
    EXPECT_EQ(w.statusBar()->currentMessage(), QStringLiteral("Seleccione su opción"));
}

}  // namespace
