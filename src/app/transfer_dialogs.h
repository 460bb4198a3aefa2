// The windows of the "Utilidades" menu that bring rows in and take tables
// out, and the progress window with "Cancelar" the transfer entries share.
#pragma once

#include <QProgressDialog>
#include <QString>

#include "transfer/backup.h"

class QWidget;

namespace app {

// A modal progress window with "Cancelar" for a long step of the transfer
// library; the callbacks answer false once the user has cancelled.
class TransferProgress {
  public:
    explicit TransferProgress(const QString& label, QWidget* owner = nullptr);
    transfer::Progress callback();
    // For steps counted without a text.
    bool step(int done, int total);
    void close() { dialog.close(); }

    QProgressDialog dialog;
};

// "Importar filas": the table, the file (CSV, xlsx, ods), its first rows
// with the field each column goes to (the user may change it), a check of
// every row, then the accepted rows written.
void importRowsWindow(QWidget* owner);

// "Exportar tabla": a table, or the rows of the prospects of a salesperson
// or of one prospect, to CSV (the separator chosen) or xlsx.
void exportTableWindow(QWidget* owner);

}  // namespace app
