// A script opened for editing: with the desktop's text editor when it names
// one, else $EDITOR in a terminal, else the program's own editor window,
// which keeps the file's code page and line ends. The desktop's tools are
// stand-ins on PATH that write down how they were called.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include "messages_fixture.h"
#include "ui/texteditor.h"

namespace {

class TextEditorTest : public uitest::UiTest {
  protected:
    void SetUp() override {
        UiTest::SetUp();
        for (const char* v : {"PATH", "VISUAL", "EDITOR"}) saved_.push_back(qgetenv(v));
        bin_ = dir.filePath(QStringLiteral("bin"));
        QDir().mkpath(bin_);
        qputenv("PATH", bin_.toLocal8Bit());
        qunsetenv("VISUAL");
        qunsetenv("EDITOR");
    }
    void TearDown() override {
        const char* vars[] = {"PATH", "VISUAL", "EDITOR"};
        for (size_t i = 0; i < 3; ++i)
            if (saved_[i].isNull())
                qunsetenv(vars[i]);
            else
                qputenv(vars[i], saved_[i]);
        UiTest::TearDown();
    }
    // A stand-in program: a shell script that runs `body`.
    void tool(const QString& name, const QString& body) {
        QFile f(bin_ + QLatin1Char('/') + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(("#!/bin/sh\n" + body + "\n").toUtf8());
        f.close();
        f.setPermissions(f.permissions() | QFile::ExeOwner);
    }
    QString marker() const { return dir.filePath(QStringLiteral("called.txt")); }
    QString called() const {
        QFile f(marker());
        // The stand-in makes the file before it writes its line: wait for the line.
        for (int i = 0; i < 100 && (!f.exists() || f.size() == 0); ++i) QTest::qWait(50);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).trimmed() : QString();
    }

    QString bin_;
    std::vector<QByteArray> saved_;
};

TEST_F(TextEditorTest, DesktopEditorThenEditorInATerminalThenOwnWindow) {
    const QString script = dir.filePath(QStringLiteral("INF1.RPO"));
    {
        QFile f(script);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("? \"A\xd1O\"\r\nRETURN\r\n");  // Windows-1252, CR LF
    }
    // A desktop that names a text editor: xdg-open takes the file.
    tool(QStringLiteral("xdg-mime"), QStringLiteral("echo gedit.desktop"));
    tool(QStringLiteral("xdg-open"), QStringLiteral("echo \"$@\" > '%1'").arg(marker()));
    EXPECT_EQ(ui::openTextEditor(script), ui::EditorUsed::Desktop);
    EXPECT_EQ(called(), script);
    QFile::remove(marker());

    // None named (xdg-open would do nothing): $EDITOR in a terminal.
    tool(QStringLiteral("xdg-mime"), QStringLiteral("true"));
    tool(QStringLiteral("vi"), QStringLiteral("true"));
    tool(QStringLiteral("x-terminal-emulator"), QStringLiteral("echo \"$@\" > '%1'").arg(marker()));
    qputenv("EDITOR", "vi -R");
    EXPECT_EQ(ui::openTextEditor(script), ui::EditorUsed::Terminal);
    EXPECT_EQ(called(), QStringLiteral("-e vi -R ") + script);
    QFile::remove(marker());

    // No editor and no terminal either: the program's own window.
    qunsetenv("EDITOR");
    ASSERT_EQ(ui::openTextEditor(script), ui::EditorUsed::OwnWindow);
    QPointer<QWidget> w;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->objectName() == QStringLiteral("textEditor") && top->isVisible()) w = top;
    ASSERT_TRUE(w);
    auto* text = w->findChild<QPlainTextEdit*>();
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->toPlainText(), QStringLiteral("? \"AÑO\"\nRETURN\n"));
    text->moveCursor(QTextCursor::End);
    text->insertPlainText(QStringLiteral("* año\n"));
    for (QPushButton* b : w->findChildren<QPushButton*>())
        if (b->text() == QStringLiteral("&Grabar")) b->click();
    {
        QFile f(script);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), QByteArray("? \"A\xd1O\"\r\nRETURN\r\n* a\xf1o\r\n"));
    }
    w->close();  // nothing left to save: no question
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(w.isNull());

    // A file that cannot be read is told, and nothing opens.
    driver->answer({1});
    EXPECT_EQ(ui::openTextEditor(dir.filePath(QStringLiteral("NOESTA.RPO"))), ui::EditorUsed::None);
    ASSERT_FALSE(driver->boxes().empty());
    EXPECT_TRUE(driver->boxes().back().text.startsWith(QStringLiteral("No se pudo abrir")));
}

}  // namespace
