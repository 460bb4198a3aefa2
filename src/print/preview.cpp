#include "print/preview.h"

#include <QDialog>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "print/document.h"

namespace print {

namespace {
PreviewObserver g_observer;
}

void setPreviewObserver(PreviewObserver observer) {
    g_observer = std::move(observer);
}

void showPreview(Document& doc) {
    QDialog dlg(doc.options().owner);
    dlg.setObjectName(QStringLiteral("PrintPreview"));
    dlg.setWindowTitle(QStringLiteral("Vista previa - ") + doc.options().name);
    dlg.resize(900, 1000);

    QPrinter printer(QPrinter::HighResolution);
    printer.setFullPage(true);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageOrientation(doc.options().orientation == Orientation::Portrait
                                   ? QPageLayout::Portrait
                                   : QPageLayout::Landscape);
    auto* view = new QPrintPreviewWidget(&printer, &dlg);
    QObject::connect(view, &QPrintPreviewWidget::paintRequested, &dlg,
                     [&doc](QPrinter* p) { doc.render(*p); });

    auto* bar = new QHBoxLayout;
    auto button = [&](const QString& caption, auto action) {
        auto* b = new QPushButton(caption, &dlg);
        b->setAutoDefault(false);
        QObject::connect(b, &QPushButton::clicked, &dlg, action);
        bar->addWidget(b);
        return b;
    };
    button(QStringLiteral("&Imprimir"), [&] {
        QPrinter out(QPrinter::HighResolution);
        out.setDocName(doc.options().name);
        out.setFullPage(true);
        out.setPageOrientation(printer.pageLayout().orientation());
        QPrintDialog ask(&out, &dlg);
        if (ask.exec() == QDialog::Accepted && !doc.render(out))
            QMessageBox::warning(&dlg, QStringLiteral("Atención....."),
                                 QStringLiteral("La impresora no aceptó el documento."));
    });
    button(QStringLiteral("Guardar &PDF"), [&] {
        const QString path = QFileDialog::getSaveFileName(
            &dlg, QStringLiteral("Guardar como PDF"), doc.options().name + QStringLiteral(".pdf"),
            QStringLiteral("PDF (*.pdf)"));
        if (!path.isEmpty() && !doc.writePdf(path))
            QMessageBox::warning(&dlg, QStringLiteral("Atención....."),
                                 QStringLiteral("No se pudo escribir el fichero %1").arg(path));
    });
    button(QStringLiteral("Ampliar &+"), [view] { view->zoomIn(); });
    button(QStringLiteral("Reducir &-"), [view] { view->zoomOut(); });
    auto* pages = new QLabel(QStringLiteral("Páginas: %1").arg(doc.pageCount()), &dlg);
    bar->addWidget(pages);
    bar->addStretch();
    button(QStringLiteral("&Cerrar"), [&dlg] { dlg.accept(); });

    auto* lay = new QVBoxLayout(&dlg);
    lay->addLayout(bar);
    lay->addWidget(view, 1);

    if (g_observer) {
        QTimer::singleShot(0, &dlg, [&dlg, &doc] {
            if (g_observer && g_observer(&dlg, doc)) dlg.accept();
        });
    }
    dlg.exec();
}

}  // namespace print
