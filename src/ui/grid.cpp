#include "ui/grid.h"

#include <QApplication>
#include <QDateTime>
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTableView>
#include <QVBoxLayout>

#include "data/helpers.h"
#include "data/session.h"
#include "dbf/error.h"
#include "dbf/workspace.h"
#include "print/document.h"
#include "print/listreport.h"
#include "toolkit/browse.h"
#include "toolkit/browse_dbf.h"
#include "toolkit/dialog.h"
#include "toolkit/msgbox.h"
#include "toolkit/resources.h"
#include "toolkit/text.h"
#include "ui/messages.h"
#include "ui/search.h"
#include "xbase/compiler.h"
#include "xbase/date.h"
#include "xbase/picture.h"
#include "xbase/runtime.h"

namespace ui {

namespace {

QString q(const std::string& s) {
    return tk::fromAnsi(s);
}

// A button's action (and tooltip), the rest from the template.
tk::ButtonSpec press(std::function<void()> action, const QString& tooltip = QString(),
                     bool cancel = false) {
    tk::ButtonSpec s;
    s.action = std::move(action);
    s.tooltip = tooltip;
    s.cancel = cancel;
    return s;
}

const QColor kSelText{0, 0, 0};
const QColor kSelBack{0, 228, 0};
const QColor kPickerBack{225, 225, 225};
const QColor kGridBack{235, 235, 235};

EditGrid* g_active = nullptr;

void stylePalette(QTableView* grid, const QColor& back) {
    QPalette p = grid->palette();
    p.setColor(QPalette::Base, back);
    p.setColor(QPalette::Highlight, kSelBack);
    p.setColor(QPalette::HighlightedText, kSelText);
    grid->setPalette(p);
}

}  // namespace

void PICTLISTB(QTableView* grid) {
    if (!grid) return;
    stylePalette(grid, kPickerBack);
    grid->setShowGrid(true);
    grid->setGridStyle(Qt::SolidLine);  // line style 3 of the old toolkit: solid in-set lines
    QFont f(QStringLiteral("Ms Sans Serif"));
    f.setPointSize(8);
    grid->setFont(f);
    setListFont();
}

void setListFont() {
    // The public list font follows, for whoever draws lists after us.
    const xb::Value font = data::fontDescription("Ms Sans Serif", 0, 8);
    xb::createPublic("OFONTLBX", font);
    xb::assignVar("OFONTLBX", font);
}

// ------------------------------------------------------------------ picker
xb::Value BROWSAUX1(const xb::Value& value, const std::vector<std::string>& fieldsIn,
                    const std::vector<std::string>& headers, const std::string& title,
                    int extraWidth, int extraHeight, int helpId, bool* cancelled) {
    dbf::Workspace& ws = dbf::workspace();
    dbf::WorkArea* area = ws.selected();
    if (!area || fieldsIn.empty()) return value;
    const int areaNo = area->number();
    std::vector<std::string> fields = fieldsIn;
    if (fields.size() > 7) fields.resize(1);

    std::vector<tk::BrowseColumn> columns;
    for (size_t i = 0; i < fields.size(); ++i) {
        const xb::Expr e = xb::compile(fields[i]);
        tk::BrowseColumn c;
        c.header = i < headers.size() ? q(headers[i]) : q(fields[i]);
        c.value = [e, areaNo] {
            return dbf::workspace().withArea(areaNo, [&] { return e.eval(); });
        };
        columns.push_back(std::move(c));
    }

    QDialog dlg(QApplication::activeWindow());
    dlg.setObjectName(QStringLiteral("BROWSAUX1"));
    dlg.setWindowTitle(QStringLiteral("Seleccione ") + q(title));
    if (helpId) dlg.setProperty("helpTopic", helpId);
    dlg.resize(std::max(200, 515 + extraWidth), std::max(120, 247 + extraHeight));
    auto* view = new QTableView(&dlg);
    view->setObjectName(QStringLiteral("lista"));
    tk::WorkAreaRows rows(*area);
    tk::Browse browse(view, &rows, std::move(columns));
    PICTLISTB(view);
    // Within the window's own size, codes and numbers in full; the widest
    // text column takes the rest.
    browse.fitColumns(-1, false);

    xb::Value result = value;
    bool picked = false;
    auto pick = [&] {
        if (cancelled) *cancelled = false;
        result = dbf::workspace().withArea(areaNo, [&] { return xb::evalText(fields[0]); });
        picked = true;
        dlg.accept();
    };
    browse.setOnActivate(pick);

    auto* buttons = new QVBoxLayout;
    auto add = [&](const QString& caption, const QString& icon, auto action) {
        auto* b = new QPushButton(caption, &dlg);
        if (!tk::ResourceLibrary::bitmapPath(icon).isEmpty()) b->setIcon(QIcon(tk::bitmap(icon)));
        b->setAutoDefault(false);
        QObject::connect(b, &QPushButton::clicked, &dlg, action);
        buttons->addWidget(b);
        return b;
    };
    buttons->addStretch();
    add(QStringLiteral("&Seleccionar"), QStringLiteral("Ok1"), pick);
    add(QStringLiteral("&Buscar"), QStringLiteral("Buscar1"), [&] {
        // This window and its own list, not whichever browser lies behind.
        BUSCA1(&dlg, &browse, area->alias(), fields, headers);
        ws.select(areaNo);
        browse.refresh();
        view->setFocus();
    });
    add(QStringLiteral("&Cancelar"), QStringLiteral("Exit1"), [&] {
        if (cancelled) *cancelled = true;
        dlg.reject();
    });
    buttons->addStretch();
    auto* lay = new QHBoxLayout(&dlg);
    lay->addWidget(view, 1);
    lay->addLayout(buttons);
    browse.refresh();
    view->setFocus();
    dlg.exec();
    ws.select(areaNo);
    return picked ? result : value;
}

// ------------------------------------------------------------ editable grid
EditGrid::EditGrid(dbf::WorkArea& area, QTableView* view) : area_(area), view_(view) {
    const int areaNo = area.number();
    std::vector<tk::BrowseColumn> columns;
    const auto& fields = area.table().fields();
    for (size_t i = 0; i < fields.size(); ++i) {
        tk::BrowseColumn c;
        c.header = q(fields[i].name);
        c.width = 100;
        const int n = static_cast<int>(i);
        c.value = [areaNo, n] {
            dbf::WorkArea* a = dbf::workspace().area(areaNo);
            return a ? a->get(n) : xb::Value();
        };
        columns.push_back(std::move(c));
    }
    rows_ = std::make_unique<tk::WorkAreaRows>(area);
    browse_ = std::make_unique<tk::Browse>(view, rows_.get(), std::move(columns));
    view->setSelectionBehavior(QAbstractItemView::SelectItems);
    stylePalette(view, kGridBack);
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setPixelSize(12);
    view->setFont(f);
    browse_->setOnKey([this](int key) { return keyDown(key); });
    // Enter modifies the record and a double click edits the clicked cell:
    // taken before the browse's own "activate" sees them (the filter
    // installed last runs first).
    struct Filter : QObject {
        EditGrid* grid;
        bool eventFilter(QObject* o, QEvent* e) override {
            QTableView* v = grid->view();
            if (o == v && e->type() == QEvent::KeyPress) {
                const int k = static_cast<QKeyEvent*>(e)->key();
                if (k == Qt::Key_Return || k == Qt::Key_Enter) return grid->keyChar(k);
            }
            if (o == v->viewport() && e->type() == QEvent::MouseButtonDblClick) {
                const QModelIndex i =
                    v->indexAt(static_cast<QMouseEvent*>(e)->position().toPoint());
                if (i.isValid()) grid->editCell(i.row(), i.column());
                return true;
            }
            return false;
        }
    };
    auto* filter = new Filter;
    filter->grid = this;
    filter_.reset(filter);
    view->installEventFilter(filter);
    view->viewport()->installEventFilter(filter);
    g_active = this;
}

EditGrid::~EditGrid() {
    view_->removeEventFilter(filter_.get());
    view_->viewport()->removeEventFilter(filter_.get());
    if (g_active == this) g_active = nullptr;
}

EditGrid* activeGrid() {
    return g_active;
}

void EditGrid::refresh() {
    browse_->refresh();
}

void EditGrid::addRecord() {
    try {
        area_.append();
        area_.unlock();
    } catch (const dbf::DbfError&) {
        tk::msgStop(QStringLiteral("Fichero no disponible"));
        return;
    }
    refresh();
    if (auto* m = view_->model(); m && m->rowCount() > 0)
        view_->setCurrentIndex(m->index(m->rowCount() - 1, 0));
    view_->setFocus();
}

bool EditGrid::writeField(int field, const xb::Value& v) {
    if (!area_.lockRecord()) {
        tk::msgStop(QStringLiteral("Fichero no disponible"));
        return false;
    }
    try {
        area_.put(field, v);
        area_.flush();
    } catch (const dbf::DbfError& e) {
        area_.unlock(area_.recno());
        tk::msgStop(q(e.what()));
        return false;
    }
    area_.unlock(area_.recno());
    return true;
}

void EditGrid::recDelete() {
    if (editing_ || area_.eof() || area_.recCount() == 0) return;
    QApplication::beep();
    if (!tk::msgYesNo(QStringLiteral("Desea eliminar este registro ?"),
                      QStringLiteral("Por favor confirme")))
        return;
    if (!area_.lockRecord()) {
        tk::msgStop(QStringLiteral("Fichero no disponible"));
        return;
    }
    area_.deleteRecord();
    area_.flush();
    area_.unlock(area_.recno());
    // Packing rewrites the file under the other users' feet: only with the
    // table to ourselves. A shared table keeps the record marked.
    if (area_.table().exclusive()) {
        area_.pack();
        area_.goTop();
    } else {
        area_.skip(1);
        if (area_.eof()) area_.goBottom();
    }
    refresh();
}

std::optional<xb::Value> EditGrid::editInCell(int row, int column, const xb::Value& value) {
    const QModelIndex idx = view_->model()->index(row, column);
    view_->scrollTo(idx);
    const QRect r = view_->visualRect(idx);
    auto* edit = new QLineEdit(view_->viewport());
    edit->setObjectName(QStringLiteral("editorCelda"));
    edit->setGeometry(r.adjusted(0, 0, 60, 0));
    edit->setStyleSheet(QStringLiteral("color: rgb(0,0,0); background: rgb(220,220,220);"));
    xb::Value current = value;
    tk::EntryBinding bind;
    bind.get = [&current] { return current; };
    bind.set = [&current](const xb::Value& v) { current = v; };
    bind.dateFormat = xb::effectiveDateFormat();
    // Only Enter confirms: a field that fills up is not left (and refused)
    // before the user says so.
    bind.confirm = true;
    tk::EntryField field(edit, bind);
    QEventLoop loop;
    int outcome = 0;  // 1 confirmed, 0 left
    struct Keys : QObject {
        QEventLoop* loop;
        int* outcome;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::KeyPress) {
                const int k = static_cast<QKeyEvent*>(e)->key();
                if (k == Qt::Key_Return || k == Qt::Key_Enter) {
                    *outcome = 1;
                    loop->quit();
                    return true;
                }
                if (k == Qt::Key_Escape) {
                    loop->quit();
                    return true;
                }
            }
            if (e->type() == QEvent::FocusOut &&
                static_cast<QFocusEvent*>(e)->reason() != Qt::PopupFocusReason)
                loop->quit();
            return false;
        }
    } keys;
    keys.loop = &loop;
    keys.outcome = &outcome;
    field.refresh();
    edit->installEventFilter(&keys);
    edit->show();
    edit->setFocus();
    editing_ = true;
    std::optional<xb::Value> result;
    // A value the field refuses is never written: the editor stays open
    // with it, to be corrected or left with Escape.
    while (true) {
        outcome = 0;
        loop.exec();
        if (outcome != 1) break;
        if (field.leave()) {
            result = current;
            break;
        }
        edit->setFocus();
    }
    editing_ = false;
    edit->removeEventFilter(&keys);
    edit->hide();
    edit->deleteLater();
    view_->setFocus();
    return result;
}

std::optional<std::string> EditGrid::editText(const std::string& text, const QString& caption,
                                              QWidget* owner) {
    QDialog dlg(owner);
    dlg.setObjectName(QStringLiteral("editorMemo"));
    dlg.setWindowTitle(caption);
    dlg.resize(500, 320);
    auto* edit = new QPlainTextEdit(&dlg);
    edit->setObjectName(QStringLiteral("texto"));
    QString shown = q(text);
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    edit->setPlainText(shown);
    auto* ok = new QPushButton(QStringLiteral("&Aceptar"), &dlg);
    ok->setObjectName(QStringLiteral("aceptar"));
    auto* cancel = new QPushButton(QStringLiteral("&Cancelar"), &dlg);
    cancel->setObjectName(QStringLiteral("cancelar"));
    QObject::connect(ok, &QPushButton::clicked, &dlg, &QDialog::accept);
    QObject::connect(cancel, &QPushButton::clicked, &dlg, &QDialog::reject);
    auto* lay = new QVBoxLayout(&dlg);
    lay->addWidget(edit, 1);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(ok);
    row->addWidget(cancel);
    lay->addLayout(row);
    if (dlg.exec() != QDialog::Accepted) return std::nullopt;
    QString out = edit->toPlainText();
    out.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return tk::toAnsi(out);
}

void EditGrid::editCell(int row, int column) {
    if (editing_ || column < 0 || column >= area_.table().fieldCount()) return;
    const QModelIndex idx = view_->model()->index(row, column);
    if (!idx.isValid()) return;
    view_->setCurrentIndex(idx);  // puts the table on that row's record
    const dbf::Field& f = area_.table().fields()[static_cast<size_t>(column)];
    const xb::Value value = area_.get(column);
    std::optional<xb::Value> edited;
    if (f.isMemo()) {
        editing_ = true;
        const auto text =
            editText(value.isString() ? value.asString() : std::string(), q(f.name), view_);
        editing_ = false;
        if (text) edited = xb::Value::memo(*text);
    } else {
        edited = editInCell(row, column, value);
    }
    if (edited && writeField(column, *edited)) refresh();
    view_->setCurrentIndex(view_->model()->index(row, column));
}

void EditGrid::recModify() {
    if (editing_ || area_.eof() || area_.recCount() == 0) return;
    const int row = browse_->currentRow();
    const auto& fields = area_.table().fields();
    for (size_t i = 0; i < fields.size(); ++i) {
        const int n = static_cast<int>(i);
        std::optional<xb::Value> edited;
        if (fields[i].isMemo()) {
            editing_ = true;
            const xb::Value v = area_.get(n);
            const auto text =
                editText(v.isString() ? v.asString() : std::string(), q(fields[i].name), view_);
            editing_ = false;
            if (text) edited = xb::Value::memo(*text);
        } else {
            edited = editInCell(row, n, area_.get(n));
        }
        if (!edited) break;
        browse_->model()->forgetRows();
        if (!writeField(n, *edited)) break;
    }
    refresh();
}

bool EditGrid::keyDown(int key) {
    if (editing_) return false;
    if (key == Qt::Key_Delete) {
        recDelete();
        return true;
    }
    return false;
}

bool EditGrid::keyChar(int key) {
    if (editing_) return false;
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        recModify();
        return true;
    }
    return false;
}

void MIBROWSEG(const std::string& title) {
    dbf::Workspace& ws = dbf::workspace();
    dbf::WorkArea* area = ws.selected();
    if (!area) return;
    const int areaNo = area->number();
    tk::Dialog dlg(QStringLiteral("Edit_Tabl"));
    dlg.setWindowTitle(q(title));
    auto* view = dlg.ctl<QTableView>(101);
    EditGrid grid(*area, view);
    dlg.bindButton(410, press([&] { grid.addRecord(); }));
    dlg.bindButton(411, press([&] {
                       grid.recModify();
                       view->setFocus();
                   }));
    dlg.bindButton(412, press([&] {
                       grid.recDelete();
                       view->setFocus();
                   }));
    dlg.bindButton(413, press([&] { REPMIBRW(&grid.area(), "Listado de Informes Adicionales"); }));
    dlg.bindButton(402, press([&] { dlg.end(0); }, QString(), true));
    // Insert adds a record while the grid's dialog has the focus; Delete is
    // the grid's own key (see EditGrid::keyDown), so that it never deletes a
    // record while the user edits a text elsewhere.
    auto* ins = new QShortcut(QKeySequence(Qt::Key_Insert), &dlg);
    ins->setContext(Qt::WindowShortcut);
    QObject::connect(ins, &QShortcut::activated, &dlg, [&] {
        if (!grid.editing()) grid.addRecord();
    });
    area->goTop();
    grid.refresh();
    dlg.setOnInit([&] { view->setFocus(); });
    dlg.run();
    ws.select(areaNo);
}

// ------------------------------------------------------------ printed list
bool REPMIBRW(dbf::WorkArea* areaIn, const std::string& titleIn) {
    dbf::Workspace& ws = dbf::workspace();
    dbf::WorkArea* area = areaIn ? areaIn : ws.selected();
    if (!area) return false;
    const std::string title = titleIn.empty() ? area->alias() : titleIn;
    MIMENSAJ("Procesando Informe......");
    auto doc =
        print::Document::create(QStringLiteral("Informes Valdrosa 2000"), print::Output::Preview);
    if (!doc) {
        closeProgressMessage();
        return false;
    }
    doc->addFont(QStringLiteral("Arial"), 0, 10);  // handle 1: regular
    const int bold = doc->addFont(QStringLiteral("Arial"), 0, 10, true);
    xb::Value company;
    xb::getVar("G_EMPRESA", company);
    print::ListReportSpec layout;
    layout.title = QStringLiteral("Fichero:   ") + q(title);
    layout.headerLeft = {QStringLiteral("Fecha: ") +
                             q(xb::formatDate(xb::todayJulian(), xb::effectiveDateFormat())) +
                             QStringLiteral(", Hora: ") +
                             QTime::currentTime().toString(QStringLiteral("HH:mm:ss")),
                         company.isString() ? q(company.asString()).trimmed() : QString()};
    layout.footer = [](int page) {
        return QStringLiteral("Página: %1").arg(page, 3, 10, QLatin1Char(' '));
    };
    layout.bodyFont = 1;
    layout.headingFont = bold;
    const auto& fields = area->table().fields();
    static const std::string kNumPicture = "@ 999,999,999.99";
    for (const dbf::Field& f : fields) {
        print::ListColumn c;
        c.caption = q(f.name);
        const bool numeric =
            f.type == 'N' || f.type == 'F' || f.type == 'I' || f.type == 'Y' || f.type == 'B';
        c.chars = numeric ? static_cast<int>(kNumPicture.size()) - 2
                          : std::clamp(static_cast<int>(f.isMemo() ? 30 : f.len), 4, 40);
        c.chars = std::max(c.chars, static_cast<int>(f.name.size()));
        c.align = numeric ? print::Align::Right : print::Align::Left;
        layout.columns.push_back(c);
    }
    // The preview opens at the first page and takes the rest as they are
    // drawn; it is modal, so the grid behind stays as the list walks it.
    doc->previewWhileDrawing();
    bool cancelled = false;
    {
        print::ListReport list(*doc, layout);
        QElapsedTimer answered;
        area->goTop();
        while (!area->eof()) {
            QStringList cells;
            for (size_t i = 0; i < fields.size(); ++i) {
                const xb::Value v = area->get(static_cast<int>(i));
                const bool numeric = layout.columns[i].align == print::Align::Right;
                std::string text = numeric ? xb::transform(v, kNumPicture) : v.toText();
                if (fields[i].isMemo()) {
                    const auto cut = text.find_first_of("\r\n");
                    if (cut != std::string::npos) text.resize(cut);
                }
                cells << q(text).trimmed();
            }
            list.addRow(cells);
            area->skip(1);
            // Now and then the preview answers the user; its "Cancelar"
            // stops the list, and the unfinished document goes unshown.
            if (doc->livePreview() && (!answered.isValid() || answered.elapsed() >= 100)) {
                QApplication::processEvents();
                answered.start();
                if (doc->cancelRequested()) {
                    cancelled = true;
                    break;
                }
            }
        }
        area->goTop();
    }
    closeProgressMessage();
    return !cancelled && doc->finish();
}

xb::Value FINFO1(const std::string& alias, int field) {
    return xb::compileBlock("{|| " + alias + "->(FIELDNAME(" + std::to_string(field) + "))}");
}
xb::Value FINFO2(const std::string& alias, int field) {
    return xb::compileBlock("{|| " + alias + "->(FIELDGET(" + std::to_string(field) + "))}");
}

void registerGridFunctions() {
    using xb::Args;
    using xb::Value;
    auto s = [](Args& a, size_t i) { return a[i].isString() ? a[i].asString() : std::string(); };
    auto n = [](Args& a, size_t i) { return a[i].isNum() ? static_cast<int>(a[i].asNumber()) : 0; };
    auto list = [](const Value& v) {
        std::vector<std::string> out;
        if (auto arr = v.asArray())
            for (const Value& e : arr->items) out.push_back(e.toText());
        else if (v.isString())
            out.push_back(v.asString());
        return out;
    };
    xb::registerFunction("BROWSAUX1", [s, n, list](Args& a) {
        bool cancelled = a[7].asLogical();
        const Value r =
            BROWSAUX1(a[0], list(a[1]), list(a[2]), s(a, 3), n(a, 4), n(a, 5), n(a, 6), &cancelled);
        if (a.isRef(7)) a.setRef(7, Value::logical(cancelled));
        return r;
    });
    xb::registerFunction("PICTLISTB", [](Args& a) {
        setListFont();
        return a[0];
    });
    xb::registerFunction("MIBROWSEG", [s](Args& a) {
        MIBROWSEG(s(a, 0));
        return Value();
    });
    // A plain browse of the current table: the same grid, titled with the
    // table's alias. False when no table is selected.
    xb::registerFunction("BROWSE", [](Args&) {
        dbf::WorkArea* area = dbf::workspace().selected();
        if (!area) return Value::logical(false);
        MIBROWSEG(area->alias());
        return Value::logical(true);
    });
    xb::registerFunction("REPMIBRW", [s](Args& a) {
        EditGrid* g = activeGrid();
        REPMIBRW(g && a[0].isObject() ? &g->area() : nullptr, s(a, 1));
        return Value();
    });
    xb::registerFunction("RECDELETE", [](Args&) {
        if (EditGrid* g = activeGrid()) g->recDelete();
        return Value();
    });
    xb::registerFunction("RECMODIFY", [](Args&) {
        if (EditGrid* g = activeGrid()) g->recModify();
        return Value();
    });
    xb::registerFunction("EDITCELL", [n](Args& a) {
        if (EditGrid* g = activeGrid()) g->editCell(n(a, 1) - 1, n(a, 2) - 1);
        return Value();
    });
    xb::registerFunction("KEYDOWN", [n](Args& a) {
        EditGrid* g = activeGrid();
        return Value::logical(g && n(a, 1) == 46 && g->keyDown(Qt::Key_Delete));
    });
    xb::registerFunction("KEYCHAR", [n](Args& a) {
        EditGrid* g = activeGrid();
        return Value::logical(g && n(a, 1) == 13 && g->keyChar(Qt::Key_Return));
    });
    xb::registerFunction("FINFO1", [s, n](Args& a) { return FINFO1(s(a, 0), n(a, 1)); });
    xb::registerFunction("FINFO2", [s, n](Args& a) { return FINFO2(s(a, 0), n(a, 1)); });
}

}  // namespace ui
