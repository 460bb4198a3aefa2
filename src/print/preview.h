// The preview window of a print document: the pages as they will print, with
// zoom, printing on a system printer and saving as PDF.
#pragma once

class QWidget;

namespace print {

class Document;

// Shows `doc` in the modal preview window (object name "PrintPreview",
// caption "Vista previa - " + the document's name) and returns when the user
// closes it. A preview observer (document.h) sees the window first.
void showPreview(Document& doc);

}  // namespace print
