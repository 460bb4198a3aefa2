// The printer object that body scripts draw with (OPRN), on the printing
// layer (print::Document), and the drawing helpers of the scripts:
// ACTIVAFONT, ACTIVAPEN, CAJARECT, LINEA and ENCABEZADO.
//
// A script opens the document with PRINTBEGIN(cName [, lPreview]) (preview
// when lPreview, by default MPREVW, else the printer) and talks to it:
//   OPRN:StartPage(), OPRN:EndPage(), OPRN:End()
//   OPRN:Say(nRow, nCol, cText [, oFont [, nWidth [, nColour [, nBkMode [, nPad]]]]])
//   OPRN:CmSay(nRowCm, nColCm, cText [, oFont ...])     nPad 0 left, 1 right, 2 centre
//   OPRN:Box(t, l, b, r [, oPen]), OPRN:Line(t, l, b, r [, oPen])   in pixels
//   OPRN:nVertRes(), OPRN:nHorzRes()        printable height and width in pixels
//   OPRN:nLogPixelY(), OPRN:nLogPixelX()    pixels per inch
//   OPRN:nVertSize(), OPRN:nHorzSize()      printable height and width in mm
//   OPRN:nYOffset(), OPRN:nXOffset()        printing offsets in pixels
//   OPRN:GetTextWidth(cText, oFont), OPRN:GetTextHeight(cText, oFont)
//   OPRN:nPage()                            pages begun so far
// See install/help for the page written for report authors.
#pragma once

#include <memory>

#include "print/document.h"
#include "xbase/value.h"

namespace reports {

class PrinterObject : public xb::Object {
  public:
    explicit PrinterObject(std::unique_ptr<print::Document> doc) : doc_(std::move(doc)) {}
    std::string className() const override { return "TPRINTER"; }
    bool send(std::string_view message, xb::Args& args, xb::Value& result) override;
    bool assign(std::string_view message, const xb::Value& value) override;
    // Nothing once End() has sent the document.
    print::Document* document() const { return doc_.get(); }
    // Drops the unfinished document: no file stays, no job is sent.
    void drop() { doc_.reset(); }

  private:
    print::Document& doc(std::string_view message);
    std::unique_ptr<print::Document> doc_;
};

// The document behind a printer object, or nullptr.
print::Document* documentOf(const xb::Value& printer);

// Drops the unfinished document of the scripts' printer object OPRN, when
// there is one: what a run given up leaves.
void dropOpenDocument();

// Opens a document as PRINTBEGIN does.
xb::Value PRINTBEGIN(const std::string& name, bool preview);

void registerPrinterFunctions();

}  // namespace reports
