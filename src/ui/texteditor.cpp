#include "ui/texteditor.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSaveFile>
#include <QStandardPaths>
#include <QVBoxLayout>

#include "toolkit/msgbox.h"
#include "toolkit/text.h"

namespace ui {

namespace {

QString run(const QString& program, const QStringList& args) {
    if (QStandardPaths::findExecutable(program).isEmpty()) return {};
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished(1000);
        return {};
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) return {};
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

// xdg-open hands a file to the desktop's application for its type; without
// a text editor registered it starts nothing and says nothing, so it is used
// only when the desktop names one.
bool desktopEditor(const QString& file) {
    if (run(QStringLiteral("xdg-mime"),
            {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("text/plain")})
            .isEmpty())
        return false;
    return QProcess::startDetached(QStringLiteral("xdg-open"), {file});
}

bool terminalEditor(const QString& file) {
    for (const char* var : {"VISUAL", "EDITOR"}) {
        QStringList editor = QProcess::splitCommand(qEnvironmentVariable(var));
        if (editor.isEmpty() || QStandardPaths::findExecutable(editor[0]).isEmpty()) continue;
        // Both take the command to run after -e, each argument apart.
        for (const char* terminal : {"x-terminal-emulator", "xterm"}) {
            const QString t = QStandardPaths::findExecutable(QString::fromLatin1(terminal));
            if (t.isEmpty()) continue;
            if (QProcess::startDetached(t, QStringList{QStringLiteral("-e")} + editor << file))
                return true;
        }
        return false;
    }
    return false;
}

class EditorWindow : public QWidget {
  public:
    EditorWindow(const QString& file, const QByteArray& bytes, QWidget* owner)
        : QWidget(owner, Qt::Window), file_(file) {
        setAttribute(Qt::WA_DeleteOnClose);
        setObjectName(QStringLiteral("textEditor"));
        setWindowTitle(QStringLiteral("Editor de textos - ") + QFileInfo(file).fileName());
        crlf_ = bytes.contains("\r\n");
        text_ = new QPlainTextEdit(this);
        text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        text_->setLineWrapMode(QPlainTextEdit::NoWrap);
        text_->setPlainText(
            tk::fromAnsi(bytes.toStdString()).replace(QLatin1String("\r\n"), QLatin1String("\n")));
        text_->document()->setModified(false);
        auto* save = new QPushButton(QStringLiteral("&Grabar"), this);
        auto* leave = new QPushButton(QStringLiteral("&Salir"), this);
        connect(save, &QPushButton::clicked, this, [this] { this->save(); });
        connect(leave, &QPushButton::clicked, this, &QWidget::close);
        auto* buttons = new QHBoxLayout;
        buttons->addStretch();
        buttons->addWidget(save);
        buttons->addWidget(leave);
        auto* lay = new QVBoxLayout(this);
        lay->addWidget(text_);
        lay->addLayout(buttons);
        resize(720, 520);
    }

    bool save() {
        QString t = text_->toPlainText();
        if (crlf_) t.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
        QSaveFile f(file_);
        const std::string bytes = tk::toAnsi(t);
        if (!f.open(QIODevice::WriteOnly) ||
            f.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
                static_cast<qint64>(bytes.size()) ||
            !f.commit()) {
            tk::msgStop(QStringLiteral("No se pudo grabar %1:\n%2").arg(file_, f.errorString()),
                        QStringLiteral("Atención....."), this);
            return false;
        }
        text_->document()->setModified(false);
        return true;
    }

  protected:
    void closeEvent(QCloseEvent* e) override {
        if (text_->document()->isModified()) {
            const int answer = tk::showBox(
                tk::BoxKind::Question, QStringLiteral("Atención....."),
                QStringLiteral("¿Desea grabar los cambios de %1?").arg(QFileInfo(file_).fileName()),
                {QStringLiteral("  &Si  "), QStringLiteral("  &No  "), QStringLiteral("&Cancelar")},
                this);
            if (answer == 3 || answer == 0 || (answer == 1 && !save())) {
                e->ignore();
                return;
            }
        }
        e->accept();
    }

  private:
    QString file_;
    QPlainTextEdit* text_;
    bool crlf_ = false;
};

}  // namespace

QWidget* openOwnEditor(const QString& file, QWidget* owner) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        tk::msgStop(
            QStringLiteral("No se pudo abrir %1 para editarlo:\n%2").arg(file, f.errorString()),
            QStringLiteral("Atención....."), owner);
        return nullptr;
    }
    auto* w = new EditorWindow(file, f.readAll(), owner);
    // Over the window it was asked from, as the program's dialogs open.
    if (owner != nullptr) w->move(owner->window()->geometry().center() - w->rect().center());
    w->show();
    w->raise();
    w->activateWindow();
    return w;
}

EditorUsed openTextEditor(const QString& file, QWidget* owner) {
    if (desktopEditor(file)) return EditorUsed::Desktop;
    if (terminalEditor(file)) return EditorUsed::Terminal;
    return openOwnEditor(file, owner) ? EditorUsed::OwnWindow : EditorUsed::None;
}

}  // namespace ui
