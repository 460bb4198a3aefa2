#include "ui/searchbrowser.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <algorithm>

#include "data/helpers.h"
#include "data/interaction.h"
#include "dbf/order.h"
#include "dbf/workspace.h"
#include "toolkit/browse.h"
#include "toolkit/browse_dbf.h"
#include "toolkit/dialog.h"
#include "xbase/codepage.h"
#include "xbase/runtime.h"

namespace ui {

namespace {

std::string trim(const std::string& s) {
    const size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

std::string textVar(const std::string& name) {
    xb::Value v;
    return xb::getVar(name, v) && v.isString() ? v.asString() : std::string();
}

dbf::WorkArea* areaOf(const FileSpec& file) {
    return dbf::workspace().area(std::string_view(xb::upper1252(file.alias)));
}

std::vector<tk::Browse*>& fileBrowses() {
    static std::vector<tk::Browse*> s;
    return s;
}

// The buttons' look: the caption turns green while the mouse is over it.
void styleButton(QPushButton* b, const QColor& back) {
    if (b == nullptr) return;
    b->setStyleSheet(QStringLiteral("QPushButton { background-color: %1; color: black; }"
                                    "QPushButton:hover { color: rgb(75,105,0); }")
                         .arg(back.name()));
}

tk::ButtonSpec button(const QString& caption, const ButtonText& t, std::function<void()> action,
                      bool cancel = false) {
    return tk::ButtonSpec{caption,   t.bitmaps,         t.tooltip.isEmpty() ? t.message : t.tooltip,
                          t.message, std::move(action), cancel};
}

xb::Value emptyOf(const dbf::Field& f) {
    switch (f.type) {
        case 'N':
        case 'F':
            return xb::Value::num(0, f.len, f.dec);
        case 'D':
            return xb::Value::date(0);
        case 'L':
            return xb::Value::logical(false);
        default:
            return xb::Value::str(std::string(f.len, ' '));
    }
}

bool blank(const xb::Value& v) {
    if (v.isString()) return trim(v.asString()).empty();
    return v.isEmpty();
}

}  // namespace

tk::Browse* currentFileBrowse() {
    return fileBrowses().empty() ? nullptr : fileBrowses().back();
}

SaveResult saveFile(const FileSpec& file, const std::string& mode,
                    const std::vector<xb::Value>& values) {
    dbf::WorkArea* wa = areaOf(file);
    if (wa == nullptr) return SaveResult::Abandoned;
    const std::string code =
        !values.empty() && values[0].isString() ? values[0].asString() : std::string();
    return saveWithUniqueCode(*wa, file.codeField, code, file.codeLabel, mode == "I", [&] {
        for (size_t i = 0; i < file.cardFields.size() && i < values.size(); ++i) {
            const int f = wa->table().fieldIndex(file.cardFields[i].field);
            if (f >= 0) wa->put(f, values[i]);
        }
    });
}

bool deleteFile(const FileSpec& file, tk::Browse* browse) {
    dbf::WorkArea* wa = areaOf(file);
    // An empty grid or the end of the file: there is nothing to delete and
    // nothing to ask.
    if (wa == nullptr || wa->eof()) return false;
    data::CGBELL();
    if (data::alertDialog(file.deleteQuestion, "Atenci\xf3n.....", {"  &Si  ", "  &No  "}) != 1)
        return false;
    const bool done = deleteCurrent(*wa);
    if (browse != nullptr) browse->refresh();
    return done;
}

bool fileCard(const FileSpec& file, const std::string& mode, QWidget* owner) {
    dbf::WorkArea* wa = areaOf(file);
    if (wa == nullptr) return false;
    const bool isNew = mode == "I";
    // Changing needs a record: on an empty grid there is nothing to change.
    if (!isNew && (wa->eof() || !wa->visible())) return false;
    dbf::workspace().select(wa->number());
    xb::Procedure frame(file.cardTemplate.toStdString());
    xb::createPrivate("LREG", xb::Value::integer(isNew ? -1 : static_cast<int64_t>(wa->recno())));

    std::vector<xb::Value> values;
    for (const CardField& cf : file.cardFields) {
        const int f = wa->table().fieldIndex(cf.field);
        if (f < 0) {
            values.push_back(xb::Value::str(""));
            continue;
        }
        values.push_back(isNew ? emptyOf(wa->table().fields()[f]) : wa->get(f));
    }

    tk::Dialog dlg(file.cardTemplate, owner);
    dlg.setWindowTitle(file.cardCaption);
    dlg.setBrush(tk::kDialogBrush);
    for (size_t i = 0; i < file.cardFields.size(); ++i) {
        tk::EntryBinding b;
        b.get = [&values, i] { return values[i]; };
        b.set = [&values, i](const xb::Value& v) { values[i] = v; };
        b.picture = file.cardFields[i].picture;
        if (i == 0)
            b.valid = [&values, &file] {
                return CHKDUP(values[0], file.codeLabel, file.codeField);
            };
        dlg.bindEntry(file.cardFields[i].id, b);
    }
    bool saved = false;
    dlg.bindButton(201, button(QStringLiteral("&Aceptar"), file.aceptar, [&] {
                       dlg.form().commit();
                       // Both the code and the name blank: nothing to save.
                       if (blank(values[0]) && (values.size() < 2 || blank(values[1]))) return;
                       const SaveResult r = saveFile(file, mode, values);
                       if (r == SaveResult::Saved) {
                           saved = true;
                           dlg.end(1);
                       } else if (r == SaveResult::Duplicate) {
                           if (QWidget* c = dlg.form().find(file.cardFields[0].id)) c->setFocus();
                       }
                   }));
    dlg.bindButton(202, button(
                            QStringLiteral("&Cancelar"), file.cancelar, [&] { dlg.end(0); }, true));
    styleButton(dlg.ctl<QPushButton>(201), file.buttonBack);
    styleButton(dlg.ctl<QPushButton>(202), file.buttonBack);
    dlg.run();
    return saved;
}

void browseFile(const FileSpec& file, QWidget* owner) {
    if (!data::ABRIR(file.alias, textVar(file.tableVar), "S", {textVar(file.bagVar)})) return;
    dbf::WorkArea* wa = areaOf(file);
    if (wa == nullptr) return;
    struct Close {
        std::string alias;
        ~Close() { data::CERRAR(alias); }
    } close{file.alias};
    dbf::orders(*wa).setOrder(1);
    int order = 1;
    wa->goTop();

    tk::Dialog dlg(QStringLiteral("BrowseIn1"), owner);
    dlg.setWindowTitle(file.caption);
    dlg.setBrush(tk::kDialogBrush);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(8);
    dlg.setFont(font);

    std::vector<tk::BrowseColumn> cols;
    const int digit = dlg.fontMetrics().horizontalAdvance(QLatin1Char('0'));
    for (const FileColumn& c : file.columns) {
        const int f = wa->table().fieldIndex(c.field);
        // Wide enough for the field (long texts take what is left), and
        // texts shown without their padding.
        const int chars = f < 0 ? 10 : std::clamp<int>(wa->table().fields()[f].len, 10, 28);
        cols.push_back(tk::BrowseColumn{c.header,
                                        [wa, f] {
                                            if (f < 0) return xb::Value::str("");
                                            xb::Value v = wa->get(f);
                                            if (v.type() != 'C') return v;
                                            std::string s = v.asString();
                                            s.erase(s.find_last_not_of(' ') + 1);
                                            return xb::Value::str(s);
                                        },
                                        digit * chars + 12,
                                        {},
                                        {},
                                        c.order});
    }
    tk::WorkAreaRows rows(*wa);
    tk::Browse grid(dlg.ctl<QTableView>(101), &rows, std::move(cols));
    grid.setRowColours(Qt::black, tk::kBrowseBg);
    BrowseStack inStack(&grid);
    fileBrowses().push_back(&grid);
    struct Pop {
        ~Pop() { fileBrowses().pop_back(); }
    } pop;

    // How many records the order lets through, beside the order list.
    QLabel* count = addRecordCount(dlg.ctl<QComboBox>(102));
    auto settle = [&] {
        ESTABILIZA(&grid);
        grid.refresh();
        grid.view()->setFocus();
        showRecordCount(count, grid);
    };
    auto change = [&] {
        fileCard(file, "M", &dlg);
        settle();
    };
    grid.setOnActivate(change);
    grid.setOnRowChange([&] { ESTABILIZA(&grid); });
    ESTABILIZA(&grid);

    auto* combo = dlg.form().bindCombo(
        102, file.orderItems, [&] { return order; }, {},
        [&](int n) {
            const QString item = file.orderItems.value(n - 1);
            COMBO2INDEX(&grid, bytes(item), order);
            showRecordCount(count, grid);
        });
    // A click on the heading of a column tied to an order that the list
    // offers (item n is order n) chooses it as the list would.
    std::vector<int> listOrders;
    for (int i = 1; i <= file.orderItems.size(); ++i) listOrders.push_back(i);
    headingsChooseOrder(grid, combo, std::move(listOrders), [&](int item) {
        COMBO2INDEX(&grid, bytes(file.orderItems.value(item)), order);
        showRecordCount(count, grid);
    });
    dlg.bindButton(201, button(QStringLiteral("&Nuevo"), file.nuevo, [&] {
                       fileCard(file, "I", &dlg);
                       settle();
                   }));
    dlg.bindButton(202, button(QStringLiteral("&Modificar"), file.modificar, change));
    dlg.bindButton(203, button(QStringLiteral("&Borrar"), file.borrar, [&] {
                       deleteFile(file, &grid);
                       settle();
                   }));
    dlg.bindButton(204, button(QStringLiteral("B&uscar"), file.buscar, [&] {
                       BUSCA1(&dlg, &grid, file.alias, file.searchFields, file.searchLabels);
                       settle();
                   }));
    dlg.bindButton(205, button(QStringLiteral("&Salir"), file.salir, [&] { dlg.end(0); }));
    for (int id = 201; id <= 205; ++id) styleButton(dlg.ctl<QPushButton>(id), file.buttonBack);
    dlg.setOnInit([&] {
        grid.syncToRecord();
        grid.view()->setFocus();
        showRecordCount(count, grid);
    });
    dlg.run();
}

void registerFileFunctions(const std::string& browser, const std::string& card,
                           const std::string& save, const std::string& remove,
                           const FileSpec& (*file)()) {
    xb::registerFunction(browser, [file](xb::Args&) {
        browseFile(file(), QApplication::activeWindow());
        return xb::Value();
    });
    xb::registerFunction(card, [file](xb::Args& a) {
        const std::string mode = a[0].isString() ? a[0].asString() : std::string("M");
        return xb::Value::logical(fileCard(file(), mode, QApplication::activeWindow()));
    });
    // The save takes the card's values as the language passes them.
    xb::registerFunction(save, [file](xb::Args& a) {
        std::vector<xb::Value> values;
        for (size_t i = 1; i < a.size(); ++i) values.push_back(a[i]);
        const std::string mode = a[0].isString() ? a[0].asString() : std::string("M");
        return xb::Value::logical(saveFile(file(), mode, values) == SaveResult::Saved);
    });
    xb::registerFunction(remove, [file](xb::Args&) {
        return xb::Value::logical(deleteFile(file(), currentFileBrowse()));
    });
}

}  // namespace ui
