#include "app/transfer_dialogs.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStandardItemModel>
#include <QTableView>
#include <memory>
#include <vector>

#include "data/catalogue.h"
#include "data/paths.h"
#include "dbf/table.h"
#include "toolkit/browse.h"
#include "toolkit/dialog.h"
#include "toolkit/msgbox.h"
#include "toolkit/text.h"
#include "transfer/export.h"
#include "transfer/import.h"
#include "xbase/codepage.h"
#include "xbase/runtime.h"

namespace app {

TransferProgress::TransferProgress(const QString& label, QWidget* owner)
    : dialog(label, QStringLiteral("&Cancelar"), 0, 100,
             owner ? owner : QApplication::activeWindow()) {
    dialog.setWindowTitle(QStringLiteral("Por favor espere"));
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setMinimumDuration(0);
    dialog.setValue(0);
}

bool TransferProgress::step(int done, int total) {
    dialog.setMaximum(std::max(total, 1));
    dialog.setValue(std::min(done, std::max(total, 1)));
    QApplication::processEvents();
    return !dialog.wasCanceled();
}

transfer::Progress TransferProgress::callback() {
    return [this](int done, int total, const std::string& what) {
        if (!what.empty()) dialog.setLabelText(QString::fromStdString(what));
        return step(done, total);
    };
}

namespace {

std::string camino() {
    xb::Value v;
    return xb::getVar("G_CAMINO", v) && v.isString() ? v.asString() : std::string();
}

QString u(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

// A table as the windows offer it and as the transfer library names it.
struct TableChoice {
    const char* caption;
    const char* name;
};
constexpr TableChoice kImportable[] = {{"Prospectos", "prospectos"},
                                       {"Vendedores", "vendedores"},
                                       {"Productos", "productos"},
                                       {"Planes", "planes"},
                                       {"Respuestas", "respuestas"}};
constexpr TableChoice kExportable[] = {
    {"Prospectos", "prospectos"},         {"Vendedores", "vendedores"},
    {"Productos", "productos"},           {"Planes", "planes"},
    {"Respuestas", "respuestas"},         {"Contactos", "contactos"},
    {"Productos ofrecidos", "ofrecidos"}, {"Productos vendidos", "vendidos"}};

template <size_t N>
QStringList captions(const TableChoice (&tables)[N]) {
    QStringList l;
    for (const TableChoice& t : tables) l << QString::fromUtf8(t.caption);
    return l;
}

void styleGrid(QTableView* view) {
    view->setHorizontalHeader(new tk::BrowseHeader(view));
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionMode(QAbstractItemView::NoSelection);
    view->setWordWrap(false);
    QPalette pal = view->palette();
    pal.setColor(QPalette::Base, tk::kBrowseBg);
    view->setPalette(pal);
}

const QString kLeftOut = QStringLiteral("(no importar)");

}  // namespace

void importRowsWindow(QWidget* owner) {
    tk::Dialog dlg(QStringLiteral("ImportaFil"), owner);
    dlg.setBrush(tk::kDialogBrush);
    tk::Form& f = dlg.form();
    f.makeTextsTransparent();
    auto* view = f.ctl<QTableView>(101);
    auto* model = new QStandardItemModel(view);
    view->setModel(model);
    styleGrid(view);
    auto* info = f.ctl<QLabel>(104);
    auto* report = f.ctl<QPlainTextEdit>(106);
    report->setReadOnly(true);
    report->setPlaceholderText(
        QStringLiteral("Elija la tabla y el fichero; «Comprobar» prueba todas las filas sin "
                       "grabar nada."));

    int tableChoice = 1;
    bool allOrNothing = false;
    QString file;
    transfer::ImportPreview preview;
    std::vector<QComboBox*> fieldOf;  // of each column of the file
    bool checked = false;             // the last check holds for what is shown
    transfer::ImportResult lastCheck;

    auto table = [&]() -> const data::TableDef& {
        return *transfer::importTableByName(kImportable[tableChoice - 1].name);
    };
    auto columns = [&] {
        std::vector<std::string> c;
        for (QComboBox* box : fieldOf)
            c.push_back(box->currentIndex() <= 0 ? std::string()
                                                 : box->currentText().toStdString());
        return c;
    };
    auto setChecked = [&](bool on) {
        checked = on;
        f.setEnabled(203, on && lastCheck.accepted > 0);
    };
    auto describe = [&] {
        if (file.isEmpty()) {
            info->setText(QString());
            return;
        }
        QString kind = preview.format == "CSV"
                           ? QStringLiteral("CSV %1, separador «%2»")
                                 .arg(u(preview.encoding), preview.separator == '\t'
                                                               ? QStringLiteral("tabulador")
                                                               : QString(QChar(preview.separator)))
                           : QStringLiteral("Libro %1, primera hoja").arg(u(preview.format));
        int left = 0;
        for (QComboBox* box : fieldOf)
            if (box->currentIndex() <= 0) ++left;
        QString text = QStringLiteral("%1; %2 filas de datos").arg(kind).arg(preview.rows);
        if (left > 0)
            text += QStringLiteral("; %1 columna%2 sin importar")
                        .arg(left)
                        .arg(QLatin1String(left == 1 ? "" : "s"));
        info->setText(text);
    };
    auto load = [&] {
        model->clear();
        fieldOf.clear();
        report->clear();
        setChecked(false);
        if (file.isEmpty()) return describe();
        try {
            preview = transfer::previewImport(camino(), table(), file.toStdString(), 8);
        } catch (const std::exception& e) {
            file.clear();
            f.refresh();
            describe();
            tk::msgStop(QStringLiteral("No se puede leer el fichero.\n") + u(e.what()),
                        QStringLiteral("Importar filas"), &dlg);
            return;
        }
        const int cols = static_cast<int>(preview.headers.size());
        model->setColumnCount(cols);
        model->setRowCount(1 + static_cast<int>(preview.first.size()));
        QStringList rowNames{QStringLiteral("Campo")};
        // Rows named as the check names them: by their line, or their sheet row.
        for (int line : preview.lines) rowNames << QString::number(line);
        model->setVerticalHeaderLabels(rowNames);
        QStringList heads;
        for (const std::string& h : preview.headers) heads << u(h);
        model->setHorizontalHeaderLabels(heads);
        QStringList fields{kLeftOut};
        for (const std::string& name : preview.fields) fields << u(name);
        for (int c = 0; c < cols; ++c) {
            auto* box = new QComboBox(view);
            box->addItems(fields);
            box->setCurrentIndex(std::max(
                0, static_cast<int>(fields.indexOf(u(preview.matched[static_cast<size_t>(c)])))));
            box->setToolTip(
                QStringLiteral("Campo de la tabla al que va la columna «%1»").arg(heads[c]));
            QObject::connect(box, &QComboBox::currentIndexChanged, &dlg, [&](int) {
                report->clear();
                setChecked(false);
                describe();
            });
            view->setIndexWidget(model->index(0, c), box);
            fieldOf.push_back(box);
            for (size_t r = 0; r < preview.first.size(); ++r) {
                const std::vector<std::string>& row = preview.first[r];
                // On one line, as the card will show it.
                QString cell = static_cast<size_t>(c) < row.size() ? u(row[static_cast<size_t>(c)])
                                                                   : QString();
                cell.replace(QLatin1Char('\n'), QLatin1Char(' '));
                model->setItem(static_cast<int>(r) + 1, c, new QStandardItem(cell));
            }
        }
        view->resizeColumnsToContents();
        describe();
    };
    auto runCheck = [&] {
        if (file.isEmpty()) {
            tk::msgStop(QStringLiteral("Elija primero el fichero que se importa."),
                        QStringLiteral("Importar filas"), &dlg);
            return;
        }
        transfer::ImportOptions o;
        o.dryRun = true;
        o.columns = columns();
        try {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            lastCheck = transfer::importFile(camino(), table(), file.toStdString(), o);
            QApplication::restoreOverrideCursor();
        } catch (const std::exception& e) {
            QApplication::restoreOverrideCursor();
            report->setPlainText(QStringLiteral("No se puede importar: ") + u(e.what()));
            setChecked(false);
            return;
        }
        const char* row = lastCheck.format == "CSV" ? "línea" : "fila";
        QString text = QStringLiteral("%1 filas: %2 aceptadas, %3 rechazadas.")
                           .arg(lastCheck.rows)
                           .arg(lastCheck.accepted)
                           .arg(lastCheck.rejected.size());
        for (const transfer::RejectedRow& r : lastCheck.rejected)
            text += QStringLiteral("\n%1 %2: %3")
                        .arg(QString::fromUtf8(row))
                        .arg(r.line)
                        .arg(u(r.reason));
        if (lastCheck.accepted == 0) text += QStringLiteral("\nNo hay filas que grabar.");
        report->setPlainText(text);
        setChecked(true);
    };
    auto runImport = [&] {
        if (!checked) return;
        if (allOrNothing && !lastCheck.rejected.empty()) {
            tk::msgStop(QStringLiteral("Hay filas rechazadas y está marcado «Todo o nada»: no se "
                                       "graba ninguna."),
                        QStringLiteral("Importar filas"), &dlg);
            return;
        }
        const QString name = QString::fromUtf8(kImportable[tableChoice - 1].caption).toLower();
        if (!tk::msgYesNo(QStringLiteral("¿Grabar las %1 filas aceptadas en %2?")
                              .arg(lastCheck.accepted)
                              .arg(name),
                          QStringLiteral("Importar filas")))
            return;
        transfer::ImportOptions o;
        o.allOrNothing = allOrNothing;
        o.columns = columns();
        try {
            TransferProgress p(QStringLiteral("Grabando las filas..."), &dlg);
            o.progress = [&p](int done, int total) { return p.step(done, total); };
            const transfer::ImportResult r =
                transfer::importFile(camino(), table(), file.toStdString(), o);
            p.close();
            setChecked(false);
            QString text = r.cancelled ? QStringLiteral(
                                             "Importación cancelada: %1 filas grabadas "
                                             "en %2; las demás no.")
                                       : QStringLiteral("%1 filas grabadas en %2.");
            text = text.arg(r.written).arg(name);
            if (r.rejected.size() > lastCheck.rejected.size())
                text += QStringLiteral(
                            "\n%1 filas más rechazadas al grabar (otra estación grabó "
                            "sus códigos entretanto).")
                            .arg(r.rejected.size() - lastCheck.rejected.size());
            report->setPlainText(text);
            tk::msgInfo(text, QStringLiteral("Importar filas"), &dlg);
        } catch (const std::exception& e) {
            setChecked(false);
            tk::msgStop(QStringLiteral("No se ha importado nada.\n") + u(e.what()),
                        QStringLiteral("Importar filas"), &dlg);
        }
    };

    f.bindCombo(
        102, captions(kImportable), [&] { return tableChoice; }, [&](int i) { tableChoice = i; },
        [&](int) { load(); });
    tk::EntryBinding shownFile;
    shownFile.get = [&] { return xb::Value::str(tk::toAnsi(file)); };
    shownFile.set = [](const xb::Value&) {};
    shownFile.readOnly = true;
    f.bindEntry(103, shownFile);
    f.bindCheck(
        105, [&] { return allOrNothing; }, [&](bool on) { allOrNothing = on; });
    f.bindButton(202, {{}, {}, QStringLiteral("Elegir el fichero CSV, xlsx u ods"), {}, [&] {
                           const QString chosen = QFileDialog::getOpenFileName(
                               &dlg, QStringLiteral("Fichero que se importa"),
                               file.isEmpty() ? QDir::homePath() : file,
                               QStringLiteral("Datos (*.csv *.txt *.xlsx *.ods);;Todos (*)"));
                           if (chosen.isEmpty()) return;
                           file = chosen;
                           f.refresh();
                           load();
                       }});
    f.bindButton(201,
                 {{}, {}, QStringLiteral("Comprobar las filas sin grabar nada"), {}, runCheck});
    f.bindButton(203, {{}, {}, QStringLiteral("Grabar las filas aceptadas"), {}, runImport});
    f.bindButton(205,
                 {{}, {}, QStringLiteral("Salir sin importar"), {}, [&] { dlg.end(0); }, true});
    dlg.setOnInit([&] {
        setChecked(false);
        f.ctl<QComboBox>(102)->setFocus();
    });
    dlg.run();
}

void exportTableWindow(QWidget* owner) {
    const std::string company = camino();
    // The salespeople to choose the prospects by.
    std::vector<std::string> vendCodes{""};
    QStringList vendItems{QStringLiteral("(Todos)")};
    try {
        auto v = dbf::Table::open(
            data::hostPath(data::tablePath(*data::findTable("Vendedor"), company)), {true, true});
        const int fCode = v->fieldIndex("CODIGO"), fName = v->fieldIndex("NOMBRE");
        for (uint32_t r = 1; r <= v->recCount(); ++r) {
            if (!v->read(r) || v->deleted()) continue;
            const std::string code = tk::toAnsi(tk::fromAnsi(v->getString(fCode)).trimmed());
            if (code.empty()) continue;
            vendCodes.push_back(code);
            vendItems << tk::fromAnsi(code) + QStringLiteral(" - ") +
                             tk::fromAnsi(v->getString(fName)).trimmed();
        }
    } catch (const std::exception&) {
        // Without the salespeople, whole tables can still be written.
    }

    tk::Dialog dlg(QStringLiteral("ExportaTab"), owner);
    dlg.setBrush(tk::kDialogBrush);
    tk::Form& f = dlg.form();
    f.makeTextsTransparent();
    auto* info = f.ctl<QLabel>(106);
    int tableChoice = 1, vendChoice = 1, formatChoice = 1;
    std::string prospect;
    struct Format {
        const char* caption;
        char separator;
        const char* extension;
    };
    static const Format kFormats[] = {{"CSV separado por punto y coma (;)", ';', ".csv"},
                                      {"CSV separado por comas (,)", ',', ".csv"},
                                      {"CSV separado por tabuladores", '\t', ".csv"},
                                      {"Libro de cálculo (xlsx)", 0, ".xlsx"}};
    QStringList formats;
    for (const Format& fm : kFormats) formats << QString::fromUtf8(fm.caption);

    auto table = [&]() -> const data::TableDef& {
        return *transfer::tableByName(kExportable[tableChoice - 1].name);
    };
    auto describe = [&] {
        const bool selects = transfer::selectsProspects(table());
        f.setEnabled(103, selects);
        f.setEnabled(104, selects);
        const QString what = QString::fromUtf8(kExportable[tableChoice - 1].caption).toLower();
        QString text;
        if (!selects || (vendChoice <= 1 && prospect.empty()))
            text = QStringLiteral("Se escriben todas las filas de %1.").arg(what);
        else if (!prospect.empty())
            text = QStringLiteral("Se escriben las filas de %1 del prospecto %2.")
                       .arg(what, tk::fromAnsi(prospect));
        else
            text = QStringLiteral("Se escriben las filas de %1 de los prospectos del vendedor %2.")
                       .arg(what, tk::fromAnsi(vendCodes[static_cast<size_t>(vendChoice - 1)]));
        info->setText(text);
    };
    auto run = [&] {
        tk::leaveFocusedEntry(&dlg);
        const Format& fm = kFormats[formatChoice - 1];
        const QString ext = QString::fromLatin1(fm.extension);
        QString file = QFileDialog::getSaveFileName(
            &dlg, QStringLiteral("Fichero que se escribe"),
            QDir::homePath() + "/" + QString::fromUtf8(kExportable[tableChoice - 1].name) + ext,
            fm.separator ? QStringLiteral("CSV (*.csv)") : QStringLiteral("Libro xlsx (*.xlsx)"));
        if (file.isEmpty()) return;
        if (!file.endsWith(ext, Qt::CaseInsensitive)) file += ext;
        transfer::ExportOptions o;
        if (fm.separator) o.separator = fm.separator;
        if (transfer::selectsProspects(table())) {
            o.salesperson = xb::cp1252ToUtf8(vendCodes[static_cast<size_t>(vendChoice - 1)]);
            o.prospect = xb::cp1252ToUtf8(prospect);
        }
        try {
            TransferProgress p(QStringLiteral("Escribiendo las filas..."), &dlg);
            o.progress = [&p](int done, int total) { return p.step(done, total); };
            const size_t n = transfer::exportTable(company, table(), file.toStdString(), o);
            p.close();
            tk::msgInfo(QStringLiteral("%1 filas escritas en\n%2").arg(n).arg(file),
                        QStringLiteral("Exportar tabla"), &dlg);
        } catch (const std::exception& e) {
            tk::msgStop(QStringLiteral("No se ha exportado la tabla.\n") + u(e.what()),
                        QStringLiteral("Exportar tabla"), &dlg);
        }
    };

    f.bindCombo(
        102, captions(kExportable), [&] { return tableChoice; }, [&](int i) { tableChoice = i; },
        [&](int) { describe(); });
    f.bindCombo(
        103, vendItems, [&] { return vendChoice; }, [&](int i) { vendChoice = i; },
        [&](int) { describe(); });
    tk::EntryBinding code;
    // As wide as the prospects' code: the field takes its length from the value.
    code.get = [&] {
        return xb::Value::str(prospect +
                              std::string(prospect.size() < 8 ? 8 - prospect.size() : 0, ' '));
    };
    code.set = [&](const xb::Value& v) {
        prospect = tk::toAnsi(tk::fromAnsi(v.asString()).trimmed());
        describe();
    };
    code.picture = "@!";
    f.bindEntry(104, code);
    f.bindCombo(
        105, formats, [&] { return formatChoice; }, [&](int i) { formatChoice = i; });
    f.bindButton(201, {{}, {}, QStringLiteral("Escribir el fichero"), {}, run});
    f.bindButton(205,
                 {{}, {}, QStringLiteral("Salir sin exportar"), {}, [&] { dlg.end(0); }, true});
    dlg.setOnInit([&] {
        describe();
        f.ctl<QComboBox>(102)->setFocus();
    });
    dlg.run();
}

}  // namespace app
