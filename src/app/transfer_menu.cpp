// The "Utilidades" entries that take a company's data out and bring it in:
// backup (of the company or of the whole installation), restore, export and
// import, the agenda as a calendar. The work is the transfer library's, as in
// vdrtool; here only the file dialogs, the progress with "Cancelar" and the
// result in a message box (the import and export windows are in
// transfer_dialogs.cpp).
#include "app/transfer_menu.h"

#include <QApplication>
#include <QFileDialog>
#include <QMdiArea>

#include "app/inicial.h"
#include "app/mainwindow.h"
#include "app/transfer_dialogs.h"
#include "dbf/workspace.h"
#include "toolkit/msgbox.h"
#include "transfer/backup.h"
#include "transfer/export.h"
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
        TransferProgress p(QStringLiteral("Copiando la empresa..."));
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
        TransferProgress p(QStringLiteral("Copiando toda la instalación..."));
        o.progress = p.callback();
        const transfer::BackupResult r = transfer::backupInstallation(folder.toStdString(), o);
        p.dialog.close();
        if (r.archive.empty()) return;  // cancelled
        const size_t companies = r.manifest.companies.size();
        QString text = QStringLiteral(
                           "Copia de toda la instalación escrita en\n%1\n(%2 empresa%3, "
                           "%4 archivos).")
                           .arg(u(r.archive))
                           .arg(companies)
                           .arg(QLatin1String(companies == 1 ? "" : "s"))
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
        TransferProgress p(QStringLiteral("Restaurando la empresa..."));
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
    exportTableWindow(owner());
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
    importRowsWindow(owner());
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
