#include "toolkit/smalldialogs.h"

#include <QApplication>
#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QLabel>
#include <QMediaDevices>
#include <QProgressBar>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>
#include <exception>

#include "toolkit/dialog.h"
#include "toolkit/msgbox.h"
#include "toolkit/text.h"

namespace tk {

int alert(const QString& message, const QString& title, const QStringList& buttons,
          QWidget* owner) {
    QString text = message;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    const QString t = title.isEmpty() ? QStringLiteral("Atención...") : title;
    const QStringList b = buttons.isEmpty() ? QStringList{QStringLiteral("&Aceptar")} : buttons;
    return showBox(BoxKind::Alert, t, text, b, owner);
}

int alertBytes(const std::string& message, const std::string& title,
               const std::vector<std::string>& buttons, bool oem, QWidget* owner) {
    auto conv = [oem](const std::string& s) { return oem ? fromOem(s) : fromAnsi(s); };
    QStringList b;
    for (const std::string& s : buttons) b << conv(s);
    return alert(conv(message), conv(title), b, owner);
}

bool decis(const QString& question, QWidget* owner) {
    return alert(question, QStringLiteral("Seleccione su opción"),
                 {QStringLiteral("   &Si   "), QStringLiteral("   &No   ")}, owner) == 1;
}

void pare(const QString& message, QWidget* owner) {
    alert(message, QStringLiteral("Atención.....!!!"), {QStringLiteral("&Aceptar")}, owner);
}

// ---------------------------------------------------------------- meter

namespace {

std::function<void(const MeterState&)>& meterObserver() {
    static std::function<void(const MeterState&)> obs;
    return obs;
}

}  // namespace

void setMeterObserver(std::function<void(const MeterState&)> observer) {
    meterObserver() = std::move(observer);
}

class MeterDialog : public QDialog, public data::Meter {
  public:
    MeterDialog(const QString& title, const QString& text, QWidget* owner) : QDialog(owner) {
        setWindowTitle(title);
        setObjectName(QStringLiteral("MSGMETER"));
        setWindowFlag(Qt::WindowCloseButtonHint, false);
        setWindowFlag(Qt::WindowContextHelpButtonHint, false);
        auto* lay = new QVBoxLayout(this);
        label_ = new QLabel(text, this);
        bar_ = new QProgressBar(this);
        bar_->setRange(0, 10);
        bar_->setValue(0);
        bar_->setMinimumWidth(320);
        lay->addWidget(label_);
        lay->addWidget(bar_);
        QPalette pal = palette();
        pal.setColor(QPalette::Window, kDialogBrush);
        setPalette(pal);
        setAutoFillBackground(true);
        state_.title = title;
        state_.text = text;
    }
    bool running = false;
    std::exception_ptr failure;

    void setTotal(int total) override {
        bar_->setMaximum(std::max(total, 0));
        state_.total = total;
        notify();
    }
    void setPosition(int position) override {
        bar_->setValue(std::clamp(position, 0, std::max(bar_->maximum(), 0)));
        state_.position = position;
        notify();
    }
    void setText(const std::string& text) override {
        state_.text = fromAnsi(text);
        label_->setText(state_.text);
        notify();
    }
    void refresh() override {
        // Let the screen repaint, without letting the user act meanwhile.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    int total() const override { return state_.total; }
    int position() const override { return state_.position; }
    std::string text() const override { return toAnsi(state_.text); }
    QLabel* label() const { return label_; }
    QProgressBar* bar() const { return bar_; }

  protected:
    void closeEvent(QCloseEvent* e) override {
        if (running) {
            e->ignore();
            return;
        }
        QDialog::closeEvent(e);
    }
    void reject() override {
        if (!running) QDialog::reject();
    }

  private:
    void notify() {
        if (meterObserver()) meterObserver()(state_);
    }
    QLabel* label_;
    QProgressBar* bar_;
    MeterState state_;
};

void runMeter(const QString& title, const QString& text,
              const std::function<void(data::Meter&)>& work, QWidget* owner) {
    MeterDialog dlg(title.isEmpty() ? QStringLiteral("Por favor espere") : title,
                    text.isEmpty() ? QStringLiteral("Procesando...") : text, owner);
    if (meterObserver()) meterObserver()(MeterState{dlg.windowTitle(), dlg.label()->text(), 10, 0});
    QTimer::singleShot(0, &dlg, [&dlg, &work] {
        dlg.running = true;
        try {
            if (work) work(dlg);
        } catch (...) {
            dlg.failure = std::current_exception();
        }
        dlg.running = false;
        dlg.accept();
    });
    dlg.adjustSize();
    if (QScreen* s = dlg.screen()) dlg.move(s->availableGeometry().center() - dlg.rect().center());
    dlg.exec();
    if (dlg.failure) std::rethrow_exception(dlg.failure);
}

// ---------------------------------------------------------------- bell

namespace {
int g_requested = 0;
int g_played = 0;
}  // namespace

int tonesRequested() {
    return g_requested;
}
int tonesPlayed() {
    return g_played;
}

std::vector<int16_t> toneSamples(const std::vector<std::pair<int, int>>& hzAndMs, int sampleRate) {
    std::vector<int16_t> out;
    for (const auto& [hz, ms] : hzAndMs) {
        const int n = sampleRate * std::max(ms, 0) / 1000;
        // A few milliseconds of fade at both ends keep the tone from clicking.
        const int fade = std::min(n / 4, sampleRate / 200);
        for (int i = 0; i < n; ++i) {
            double amp = 0.5;
            if (fade > 0 && i < fade) amp *= static_cast<double>(i) / fade;
            if (fade > 0 && i >= n - fade) amp *= static_cast<double>(n - 1 - i) / fade;
            const double s = std::sin(2.0 * M_PI * hz * i / sampleRate);
            out.push_back(static_cast<int16_t>(std::lround(s * amp * 32767.0)));
        }
    }
    return out;
}

void playTones(const std::vector<std::pair<int, int>>& hzAndMs) {
    ++g_requested;
    if (QCoreApplication::instance() == nullptr) return;
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) return;  // no sound system: the bell stays silent
    QAudioFormat fmt;
    fmt.setSampleRate(22050);
    fmt.setChannelCount(1);
    fmt.setSampleFormat(QAudioFormat::Int16);
    if (!device.isFormatSupported(fmt)) return;
    const std::vector<int16_t> samples = toneSamples(hzAndMs, fmt.sampleRate());
    auto* buffer = new QBuffer;
    buffer->setData(reinterpret_cast<const char*>(samples.data()),
                    static_cast<qsizetype>(samples.size() * sizeof(int16_t)));
    buffer->open(QIODevice::ReadOnly);
    auto* sink = new QAudioSink(device, fmt);
    buffer->setParent(sink);
    QObject::connect(sink, &QAudioSink::stateChanged, sink, [sink](QAudio::State st) {
        if (st == QAudio::IdleState || st == QAudio::StoppedState) {
            sink->stop();
            sink->deleteLater();
        }
    });
    sink->start(buffer);
    if (sink->error() != QAudio::NoError) {
        sink->deleteLater();
        return;
    }
    ++g_played;
}

void bell() {
    playTones({{125, kToneTickMs}, {300, kToneTickMs}});
}

// ---------------------------------------------------------------- interaction

int ToolkitInteraction::alert(const std::string& message, const std::string& title,
                              const std::vector<std::string>& buttons) {
    return alertBytes(message, title, buttons, false);
}

void ToolkitInteraction::info(const std::string& message, const std::string& title) {
    QString text = fromAnsi(message);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    msgInfo(text, fromAnsi(title));
}

void ToolkitInteraction::stop(const std::string& message, const std::string& title) {
    QString text = fromAnsi(message);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    msgStop(text, fromAnsi(title));
}

void ToolkitInteraction::meter(const std::string& title, const std::string& text,
                               const std::function<void(data::Meter&)>& work) {
    runMeter(fromAnsi(title), fromAnsi(text), work);
}

void ToolkitInteraction::tone(int hz, int ms) {
    playTones({{hz, ms}});
}

void ToolkitInteraction::beep() {
    QApplication::beep();
}

}  // namespace tk
