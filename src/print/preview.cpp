#include "print/preview.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPaintEvent>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <memory>

#include "print/document.h"

namespace print {

namespace {

PreviewObserver g_observer;
constexpr int kGap = 12;  // screen pixels around and between the pages

}  // namespace

void setPreviewObserver(PreviewObserver observer) {
    g_observer = std::move(observer);
}

// ---------------------------------------------------------------- PageView

PageView::PageView(const Document& doc, QWidget* parent) : QAbstractScrollArea(parent), doc_(doc) {
    setObjectName(QStringLiteral("paginas"));
    viewport()->setBackgroundRole(QPalette::Dark);
    viewport()->setAutoFillBackground(true);
    verticalScrollBar()->setSingleStep(40);
    horizontalScrollBar()->setSingleStep(40);
}

double PageView::scale() const {
    const QSize paper = doc_.paperSize();
    const int room = std::max(100, viewport()->width() - 2 * kGap);
    return zoom_ * room / std::max(1, paper.width());
}

QSize PageView::shownPage() const {
    const QSize paper = doc_.paperSize();
    const double s = scale();
    return {std::max(1, static_cast<int>(paper.width() * s)),
            std::max(1, static_cast<int>(paper.height() * s))};
}

void PageView::layoutBars() {
    const QSize page = shownPage();
    const int n = doc_.keptPages();
    const int height = n * (page.height() + kGap) + kGap;
    const int width = page.width() + 2 * kGap;
    verticalScrollBar()->setPageStep(viewport()->height());
    verticalScrollBar()->setRange(0, std::max(0, height - viewport()->height()));
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setRange(0, std::max(0, width - viewport()->width()));
}

void PageView::pagesAdded() {
    layoutBars();
    viewport()->update();
}

void PageView::zoomIn() {
    zoom_ = std::min(zoom_ * 1.25, 8.0);
    held_.clear();
    layoutBars();
    viewport()->update();
}

void PageView::zoomOut() {
    zoom_ = std::max(zoom_ / 1.25, 0.1);
    held_.clear();
    layoutBars();
    viewport()->update();
}

void PageView::resizeEvent(QResizeEvent* e) {
    QAbstractScrollArea::resizeEvent(e);
    held_.clear();  // the pages' size follows the width
    layoutBars();
}

const QImage& PageView::pageImage(int n) {
    const QSize size = shownPage();
    for (auto it = held_.begin(); it != held_.end(); ++it) {
        if (it->first != n || it->second.size() != size) continue;
        held_.splice(held_.begin(), held_, it);
        return held_.front().second;
    }
    QImage img(size, QImage::Format_RGB32);
    img.fill(Qt::white);
    {
        QPainter painter(&img);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        doc_.drawKept(n, painter, scale());
    }
    ++drawn_;
    held_.emplace_front(n, std::move(img));
    while (static_cast<int>(held_.size()) > kHeldPages) held_.pop_back();
    return held_.front().second;
}

void PageView::paintEvent(QPaintEvent* e) {
    QPainter painter(viewport());
    const QSize page = shownPage();
    const int step = page.height() + kGap;
    const int top = verticalScrollBar()->value();
    const int x =
        std::max(kGap, (viewport()->width() - page.width()) / 2) - horizontalScrollBar()->value();
    const int first = std::max(0, (top - kGap) / step);
    const int n = doc_.keptPages();
    for (int i = first; i < n; ++i) {
        const int y = kGap + i * step - top;
        if (y > e->rect().bottom()) break;
        const QRect where(QPoint(x, y), page);
        if (!where.intersects(e->rect())) continue;
        painter.drawImage(where.topLeft(), pageImage(i));
        painter.setPen(Qt::black);
        painter.drawRect(where.adjusted(0, 0, -1, -1));
    }
}

// ----------------------------------------------------------- PreviewWindow

PreviewWindow::PreviewWindow(Document& doc, bool drawing)
    : QDialog(doc.options().owner), doc_(doc), drawing_(drawing) {
    setObjectName(QStringLiteral("PrintPreview"));
    setWindowTitle(QStringLiteral("Vista previa - ") + doc.options().name);
    resize(900, 1000);
    view_ = new PageView(doc, this);

    auto* bar = new QHBoxLayout;
    auto button = [&](const QString& caption, auto action) {
        auto* b = new QPushButton(caption, this);
        b->setAutoDefault(false);
        QObject::connect(b, &QPushButton::clicked, this, action);
        bar->addWidget(b);
        return b;
    };
    print_ = button(QStringLiteral("&Imprimir"), [this] {
        QPrinter out(QPrinter::HighResolution);
        out.setDocName(doc_.options().name);
        out.setFullPage(true);
        out.setPageOrientation(doc_.options().orientation == Orientation::Portrait
                                   ? QPageLayout::Portrait
                                   : QPageLayout::Landscape);
        QPrintDialog ask(&out, this);
        if (ask.exec() != QDialog::Accepted) return;
        bool cancelled = false;
        const bool done = doc_.render(out, working(QStringLiteral("Imprimiendo"), cancelled));
        if (!done && !cancelled)
            QMessageBox::warning(this, QStringLiteral("Atención....."),
                                 QStringLiteral("La impresora no aceptó el documento."));
    });
    save_ = button(QStringLiteral("Guardar &PDF"), [this] {
        const QString path = QFileDialog::getSaveFileName(
            this, QStringLiteral("Guardar como PDF"), doc_.options().name + QStringLiteral(".pdf"),
            QStringLiteral("PDF (*.pdf)"));
        if (path.isEmpty()) return;
        bool cancelled = false;
        const bool done =
            doc_.writePdf(path, working(QStringLiteral("Guardando el PDF"), cancelled));
        if (!done && !cancelled)
            QMessageBox::warning(this, QStringLiteral("Atención....."),
                                 QStringLiteral("No se pudo escribir el fichero %1").arg(path));
    });
    button(QStringLiteral("Ampliar &+"), [this] { view_->zoomIn(); });
    button(QStringLiteral("Reducir &-"), [this] { view_->zoomOut(); });
    pages_ = new QLabel(this);
    bar->addWidget(pages_);
    bar->addStretch();
    cancel_ = button(QStringLiteral("&Cancelar"), [this] { reject(); });
    cancel_->setVisible(drawing);
    print_->setEnabled(!drawing);
    save_->setEnabled(!drawing);
    button(QStringLiteral("&Cerrar"), [this] { reject(); });

    auto* lay = new QVBoxLayout(this);
    lay->addLayout(bar);
    lay->addWidget(view_, 1);
    pagesAdded();
}

void PreviewWindow::pagesAdded() {
    const int n = doc_.keptPages();
    pages_->setText(drawing_ ? QStringLiteral("Páginas: %1 (preparando...)").arg(n)
                             : QStringLiteral("Páginas: %1").arg(n));
    view_->pagesAdded();
}

void PreviewWindow::drawingFinished() {
    drawing_ = false;
    print_->setEnabled(true);
    save_->setEnabled(true);
    cancel_->hide();
    pagesAdded();
}

std::function<bool(int, int)> PreviewWindow::working(const QString& what, bool& cancelled) {
    auto progress = std::make_shared<QProgressDialog>(what + QStringLiteral("..."),
                                                      QStringLiteral("&Cancelar"), 0, 0, this);
    progress->setWindowTitle(QStringLiteral("Por favor espere"));
    progress->setWindowModality(Qt::WindowModal);
    progress->setMinimumDuration(500);
    progress->setAutoReset(false);
    progress->setAutoClose(false);
    return [progress, what, &cancelled](int done, int total) {
        progress->setMaximum(total);
        progress->setLabelText(
            QStringLiteral("%1: página %2 de %3").arg(what).arg(done).arg(total));
        progress->setValue(done);  // shows the window once the work lasts
        QCoreApplication::processEvents();
        if (progress->wasCanceled()) cancelled = true;
        return !cancelled;
    };
}

void PreviewWindow::reject() {
    // Closed while the document is still being drawn: the drawing stops.
    if (drawing_) doc_.requestCancel();
    QDialog::reject();
}

PreviewWindow* openPreview(Document& doc) {
    auto* w = new PreviewWindow(doc, true);
    w->setWindowModality(Qt::ApplicationModal);
    w->show();
    return w;
}

void showPreview(Document& doc) {
    std::unique_ptr<PreviewWindow> made;
    auto* dlg = qobject_cast<PreviewWindow*>(doc.livePreview());
    if (!dlg) {
        made = std::make_unique<PreviewWindow>(doc, false);
        dlg = made.get();
    }
    dlg->drawingFinished();
    if (g_observer) {
        QTimer::singleShot(0, dlg, [dlg, &doc] {
            if (g_observer && g_observer(dlg, doc)) dlg->accept();
        });
    }
    dlg->exec();
    dlg->hide();
}

}  // namespace print
