// The "Utilidades" entries that take a company's data out and bring it in:
// backup (of the company or of the whole installation), restore, CSV export and import, the agenda
// as a calendar. The work is the transfer library's, as in vdrtool; here only the file dialogs, the
// progress with "Cancelar" and the result in a message box.
#include "app/transfer_menu.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QMdiArea>
#include <QProgressDialog>

#include "app/inicial.h"
#include "app/mainwindow.h"
#include "data/paths.h"
#include "dbf/workspace.h"
#include "toolkit/msgbox.h"
#include "transfer/backup.h"
#include "transfer/export.h"
#include "transfer/import.h"
#include "xbase/codepage.h"
#include "xbase/date.h"
#include "xbase/runtime.h"

namespace app {

namespace {

QWidget* owner() {
    return QApplication::activeWindow();
}

std::string camino() {
    xb::Value v;
    return xb::getVar("G_CAMINO", v) && v.isString() ? v.asString() : std::string();
}

QString u(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

bool haveCompany() {
    if (!camino().empty()) return true;
    tk::msgStop(QStringLiteral("Seleccione primero una empresa."), QStringLiteral("Atención....."),
                owner());
    return false;
}

// A progress dialog with "Cancelar" for the library's steps.
struct Progress {
    explicit Progress(const QString& title)
        : dialog(title, QStringLiteral("&Cancelar"), 0, 100, owner()) {
        dialog.setWindowTitle(QStringLiteral("Por favor espere"));
        dialog.setWindowModality(Qt::ApplicationModal);
        dialog.setMinimumDuration(0);
        dialog.setValue(0);
    }
    transfer::Progress callback() {
        return [this](int done, int total, const std::string& what) {
            dialog.setMaximum(total);
            dialog.setValue(done);
            if (!what.empty()) dialog.setLabelText(u(what));
            QApplication::processEvents();
            return !dialog.wasCanceled();
        };
    }
    QProgressDialog dialog;
};

const QStringList& importable() {
    static const QStringList l = {QStringLiteral("prospectos"), QStringLiteral("vendedores"),
                                  QStringLiteral("productos"), QStringLiteral("planes"),
                                  QStringLiteral("respuestas")};
    return l;
}

bool pickTable(const QStringList& names, const QString& title, std::string& chosen) {
    QInputDialog dlg(owner());
    dlg.setWindowTitle(title);
    dlg.setLabelText(QStringLiteral("Tabla:"));
    dlg.setComboBoxItems(names);
    dlg.setComboBoxEditable(false);
    dlg.setOkButtonText(QStringLiteral("&Aceptar"));
    dlg.setCancelButtonText(QStringLiteral("&Cancelar"));
    // Wide enough for the title, which the window frame would otherwise cut.
    if (auto* combo = dlg.findChild<QComboBox*>()) combo->setMinimumWidth(300);
    if (dlg.exec() != QDialog::Accepted || dlg.textValue().isEmpty()) return false;
    chosen = dlg.textValue().toStdString();
    return true;
}

void fail(const std::exception& e, const QString& what) {
    tk::msgStop(what + QStringLiteral("\n") + u(e.what()), QStringLiteral("Atención....."),
                owner());
}

}  // namespace

void COPIAEMPR() {
    if (!haveCompany()) return;
    const QString folder = QFileDialog::getExistingDirectory(
        owner(), QStringLiteral("Carpeta donde guardar la copia"), QDir::homePath());
    if (folder.isEmpty()) return;
    try {
        transfer::BackupOptions o;
        o.companyCode = transfer::companyCodeOf(camino());
        o.companyName = xb::cp1252ToUtf8(xb::getVar("G_EMPRESA").asString());
        Progress p(QStringLiteral("Copiando la empresa..."));
        o.progress = p.callback();
        const transfer::BackupResult r = transfer::backupCompany(camino(), folder.toStdString(), o);
        p.dialog.close();
        if (r.archive.empty()) return;  // cancelled
        tk::msgInfo(QStringLiteral("Copia de la empresa escrita en\n%1\n(%2 archivos).")
                        .arg(u(r.archive))
                        .arg(r.manifest.files.size()),
                    QStringLiteral("Copia de seguridad"), owner());
    } catch (const std::exception& e) {
        fail(e, QStringLiteral("No se ha hecho la copia."));
    }
}

// The whole installation: the shared files and every company of the
// catalogue, each company as its own snapshot.
void COPIAINST() {
    const QString folder = QFileDialog::getExistingDirectory(
        owner(), QStringLiteral("Carpeta donde guardar la copia"), QDir::homePath());
    if (folder.isEmpty()) return;
    try {
        transfer::BackupOptions o;
        Progress p(QStringLiteral("Copiando toda la instalación..."));
        o.progress = p.callback();
        const transfer::BackupResult r = transfer::backupInstallation(folder.toStdString(), o);
        p.dialog.close();
        if (r.archive.empty()) return;  // cancelled
        QString text = QStringLiteral(
                           "Copia de toda la instalación escrita en\n%1\n(%2 empresas, "
                           "%3 archivos).")
                           .arg(u(r.archive))
                           .arg(r.manifest.companies.size())
                           .arg(r.manifest.files.size());
        for (const std::string& n : r.notes) text += QStringLiteral("\n") + u(n);
        tk::msgInfo(text, QStringLiteral("Copia de seguridad"), owner());
    } catch (const std::exception& e) {
        fail(e, QStringLiteral("No se ha hecho la copia."));
    }
}

void RESTEMPR() {
    if (!haveCompany()) return;
    if (MainWindow* m = mainWindow();
        m && m->mdiArea() && !m->mdiArea()->subWindowList().isEmpty()) {
        tk::msgStop(QStringLiteral("Cierre las ventanas abiertas antes de restaurar la empresa."),
                    QStringLiteral("Atención....."), owner());
        return;
    }
    const QString file =
        QFileDialog::getOpenFileName(owner(), QStringLiteral("Copia que se restaura"),
                                     QDir::homePath(), QStringLiteral("Copias (*.zip)"));
    if (file.isEmpty()) return;
    if (!tk::msgYesNo(QStringLiteral("Todos los datos de la empresa se sustituirán por los de la "
                                     "copia.\n¿Desea continuar?"),
                      QStringLiteral("Restaurar empresa")))
        return;
    try {
        const std::string code = transfer::companyCodeOf(camino());
        // This workstation's own tables go first: open, they would keep the
        // company in use.
        dbf::workspace().closeAll();
        Progress p(QStringLiteral("Restaurando la empresa..."));
        const transfer::RestoreResult r =
            transfer::restoreCompany(camino(), code, file.toStdString(), p.callback());
        p.dialog.close();
        if (r.manifest.company.empty()) return;  // cancelled
        tk::msgInfo(QStringLiteral("Empresa restaurada desde la copia del %1 (%2 archivos).")
                        .arg(u(r.manifest.date))
                        .arg(r.manifest.files.size()),
                    QStringLiteral("Restaurar empresa"), owner());
    } catch (const std::exception& e) {
        fail(e, QStringLiteral("No se ha restaurado nada; la empresa sigue como estaba."));
    }
}

void EXPORTACSV() {
    if (!haveCompany()) return;
    std::string table;
    if (!pickTable(
            importable() + QStringList{QStringLiteral("contactos"), QStringLiteral("ofrecidos"),
                                       QStringLiteral("vendidos")},
            QStringLiteral("Exportar a CSV"), table))
        return;
    const QString file = QFileDialog::getSaveFileName(
        owner(), QStringLiteral("Fichero CSV que se escribe"),
        QDir::homePath() + "/" + u(table) + ".csv", QStringLiteral("CSV (*.csv)"));
    if (file.isEmpty()) return;
    try {
        // Semicolons: what the spreadsheets of a Spanish desktop expect.
        const size_t n = transfer::exportCsv(
            data::tablePath(*transfer::tableByName(table), camino()), file.toStdString(), ';');
        tk::msgInfo(QStringLiteral("%1 filas escritas en\n%2").arg(n).arg(file),
                    QStringLiteral("Exportar a CSV"), owner());
    } catch (const std::exception& e) {
        fail(e, QStringLiteral("No se ha exportado la tabla."));
    }
}

void AGENDAICS() {
    if (!haveCompany()) return;
    const QString file = QFileDialog::getSaveFileName(owner(), QStringLiteral("Agenda de visitas"),
                                                      QDir::homePath() + "/agenda.ics",
                                                      QStringLiteral("Calendario (*.ics)"));
    if (file.isEmpty()) return;
    try {
        transfer::AgendaOptions o;
        o.from = xb::todayJulian();
        const size_t n = transfer::exportAgenda(camino(), file.toStdString(), o);
        tk::msgInfo(QStringLiteral("%1 visitas desde hoy escritas en\n%2").arg(n).arg(file),
                    QStringLiteral("Agenda de visitas"), owner());
    } catch (const std::exception& e) {
        fail(e, QStringLiteral("No se ha escrito la agenda."));
    }
}

void IMPORTACSV() {
    if (!haveCompany()) return;
    std::string table;
    if (!pickTable(importable(), QStringLiteral("Importar desde CSV"), table)) return;
    const QString file =
        QFileDialog::getOpenFileName(owner(), QStringLiteral("Fichero CSV que se importa"),
                                     QDir::homePath(), QStringLiteral("CSV (*.csv *.txt)"));
    if (file.isEmpty()) return;
    const data::TableDef* t = transfer::importTableByName(table);
    try {
        // First a dry run: the user sees what would be refused.
        transfer::ImportOptions o;
        o.dryRun = true;
        transfer::ImportResult r = transfer::importCsv(camino(), *t, file.toStdString(), o);
        QString report = QStringLiteral(
                             "%1 (%2, separador «%3»)\n%4 filas: %5 aceptadas, %6 "
                             "rechazadas.")
                             .arg(file, u(r.encoding), QString(QChar(r.separator)))
                             .arg(r.rows)
                             .arg(r.accepted)
                             .arg(r.rejected.size());
        for (size_t i = 0; i < r.rejected.size() && i < 15; ++i)
            report += QStringLiteral("\nlínea %1: %2")
                          .arg(r.rejected[i].line)
                          .arg(u(r.rejected[i].reason));
        if (r.rejected.size() > 15) report += QStringLiteral("\n...");
        if (r.accepted == 0) {
            tk::msgStop(report + QStringLiteral("\n\nNo hay filas que grabar."),
                        QStringLiteral("Importar desde CSV"), owner());
            return;
        }
        if (!tk::msgYesNo(report + QStringLiteral("\n\n¿Grabar las %1 filas aceptadas en %2?")
                                       .arg(r.accepted)
                                       .arg(u(table)),
                          QStringLiteral("Importar desde CSV")))
            return;
        o.dryRun = false;
        r = transfer::importCsv(camino(), *t, file.toStdString(), o);
        tk::msgInfo(QStringLiteral("%1 filas grabadas en %2.").arg(r.written).arg(u(table)),
                    QStringLiteral("Importar desde CSV"), owner());
    } catch (const std::exception& e) {
        fail(e, QStringLiteral("No se ha importado nada."));
    }
}

void registerTransferFunctions() {
    auto add = [](const char* name, void (*fn)()) {
        xb::registerFunction(name, [fn](xb::Args&) {
            fn();
            return xb::Value();
        });
    };
    add("COPIAEMPR", COPIAEMPR);
    add("COPIAINST", COPIAINST);
    add("RESTEMPR", RESTEMPR);
    add("EXPORTACSV", EXPORTACSV);
    add("IMPORTACSV", IMPORTACSV);
    add("AGENDAICS", AGENDAICS);
}

}  // namespace app
