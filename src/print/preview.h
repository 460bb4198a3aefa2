// The preview window of a print document: the pages as they will print, with
// zoom, printing on a system printer and saving as PDF.
//
// The pages stay on disk (the document keeps them there); the window draws
// only the pages in sight, at the size they are shown, and keeps the last
// few it drew (PageView::kHeldPages), so that a document of any length
// takes the same memory. The window may open while the document is still
// being drawn (Document::previewWhileDrawing()): it shows the first page at
// once, takes each new page as it ends, offers "&Cancelar" to stop the
// drawing, and prints or saves only once the document is finished.
#pragma once

#include <QAbstractScrollArea>
#include <QDialog>
#include <QImage>
#include <functional>
#include <list>
#include <utility>

class QLabel;
class QPushButton;

namespace print {

class Document;

// The pages one under the other, each as wide as the view at first.
class PageView : public QAbstractScrollArea {
    Q_OBJECT
  public:
    static constexpr int kHeldPages = 6;
    PageView(const Document& doc, QWidget* parent);
    void zoomIn();
    void zoomOut();
    // The document has more pages.
    void pagesAdded();
    // Pages drawn and kept in memory now, and drawn since the view opened.
    int heldPages() const { return static_cast<int>(held_.size()); }
    int pagesDrawn() const { return drawn_; }

  protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

  private:
    double scale() const;  // screen pixels a page pixel
    QSize shownPage() const;
    void layoutBars();
    const QImage& pageImage(int n);

    const Document& doc_;
    double zoom_ = 1;                         // over the width that fits the view
    std::list<std::pair<int, QImage>> held_;  // most recently shown first
    int drawn_ = 0;
};

class PreviewWindow : public QDialog {
    Q_OBJECT
  public:
    // `drawing`: the document is still being drawn.
    PreviewWindow(Document& doc, bool drawing);
    PageView* view() const { return view_; }
    // The document has more pages; it is finished (printing and saving
    // become possible, "Cancelar" goes away).
    void pagesAdded();
    void drawingFinished();

  protected:
    void reject() override;

  private:
    // What printing or saving the pages reports to: a window with the pages
    // done and "Cancelar" (shown when the work lasts), which sets
    // `cancelled` and stops the work.
    std::function<bool(int done, int total)> working(const QString& what, bool& cancelled);

    Document& doc_;
    PageView* view_;
    QLabel* pages_;
    QPushButton *print_, *save_, *cancel_;
    bool drawing_ = true;
};

// Opens the window of a document still being drawn (shown, application
// modal, not waiting): what Document::previewWhileDrawing() uses.
PreviewWindow* openPreview(Document& doc);

// Shows `doc` in the modal preview window (object name "PrintPreview",
// caption "Vista previa - " + the document's name) and returns when the user
// closes it: the window opened while drawing, or a new one. A preview
// observer (document.h) sees the window first.
void showPreview(Document& doc);

}  // namespace print
