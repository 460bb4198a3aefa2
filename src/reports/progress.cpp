#include "reports/progress.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProgressDialog>

#include "reports/printer.h"
#include "xbase/abandon.h"
#include "xbase/runtime.h"

namespace reports {

namespace {

RunProgress* g_current = nullptr;

// How often the window is brought up to date and the user answered.
constexpr qint64 kEveryMs = 100;

}  // namespace

struct RunProgress::State {
    QProgressDialog dialog;
    QElapsedTimer clock;
    size_t done = 0, total = 0;
    bool shown = false;

    // Brings the window up to date and lets the user act; the document
    // being drawn, if any.
    print::Document* show() {
        int pages = 0;
        QString text = QStringLiteral("Preparando el informe...\n");
        xb::Value oprn;
        print::Document* doc = xb::getVar("OPRN", oprn) ? documentOf(oprn) : nullptr;
        if (doc) {
            pages = doc->pageCount();
            text = QStringLiteral("Informe: %1\n").arg(doc->options().name);
            // The preview open while drawing shows the pages and offers
            // "Cancelar" itself.
            if (doc->livePreview() && dialog.isVisible()) dialog.hide();
        }
        text += total ? QStringLiteral("Registros leídos: %1 de %2").arg(done).arg(total)
                      : QStringLiteral("Contando los registros...");
        text += QStringLiteral("\nPáginas: %1").arg(pages);
        dialog.setLabelText(text);
        // The bar in thousandths: a table may hold more records than an int.
        dialog.setValue(total ? static_cast<int>(done * 1000 / total) : 0);
        QApplication::processEvents();
        clock.restart();
        return doc;
    }
};

RunProgress::RunProgress(QWidget* owner) : s_(std::make_unique<State>()) {
    QProgressDialog& d = s_->dialog;
    d.setParent(owner ? owner : QApplication::activeWindow(), d.windowFlags());
    d.setObjectName(QStringLiteral("ProgresoInforme"));
    d.setWindowTitle(QStringLiteral("Por favor espere"));
    d.setCancelButtonText(QStringLiteral("&Cancelar"));
    d.setRange(0, 1000);
    d.setAutoReset(false);
    d.setAutoClose(false);
    d.setMinimumDuration(0);
    d.setWindowModality(Qt::ApplicationModal);
    d.setMinimumWidth(360);
    g_current = this;
    d.show();
    s_->show();
}

RunProgress::~RunProgress() {
    if (g_current == this) g_current = nullptr;
}

RunProgress* RunProgress::current() {
    return g_current;
}

void RunProgress::pulse(size_t done, size_t total) {
    RunProgress* p = g_current;
    if (!p) return;
    State& s = *p->s_;
    s.done = done;
    s.total = total;
    if (s.clock.elapsed() < kEveryMs) return;
    print::Document* doc = s.show();
    if (s.dialog.wasCanceled() || (doc && doc->cancelRequested())) {
        g_current = nullptr;  // the run unwinds: no more pulses here
        s.dialog.hide();
        throw xb::Abandon("Informe cancelado");
    }
}

void RunProgress::finished() {
    if (RunProgress* p = g_current) {
        g_current = nullptr;
        p->s_->dialog.hide();
    }
}

}  // namespace reports
