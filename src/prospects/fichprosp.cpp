#include "prospects/fichprosp.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFont>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <memory>

#include "data/helpers.h"
#include "data/interaction.h"
#include "dbf/order.h"
#include "dbf/workspace.h"
#include "prospects/pick.h"
#include "prospects/rows.h"
#include "prospects/save.h"
#include "toolkit/browse.h"
#include "toolkit/browse_dbf.h"
#include "toolkit/dialog.h"
#include "toolkit/msgbox.h"
#include "toolkit/resources.h"
#include "toolkit/text.h"
#include "xbase/picture.h"

namespace prospects {

namespace {

dbf::Workspace& ws() {
    return dbf::workspace();
}

const char* kAttention = "Atenci\xf3n.....";
const QColor kGreyBg{192, 192, 192};
const QColor kDisplayGrey{222, 222, 222};
const QColor kDarkBlue{0, 0, 128};
const char* kTotalPicture = "@ ###,###,###,###.##";

QString q(const std::string& s) {
    return tk::fromAnsi(s);
}

// An entry bound to a text of the card.
tk::EntryBinding textBinding(std::string& s, const std::string& picture) {
    tk::EntryBinding b;
    b.get = [&s] { return xb::Value::str(s); };
    b.set = [&s](const xb::Value& v) { s = v.asString(); };
    b.picture = picture;
    return b;
}

tk::EntryBinding dateBinding(int32_t& d) {
    tk::EntryBinding b;
    b.get = [&d] { return xb::Value::date(d); };
    b.set = [&d](const xb::Value& v) { d = v.asDate(); };
    b.picture = "99-99-9999";
    return b;
}

// A "99:99" field takes any digits: an hour that no clock shows is
// refused here, as an impossible date is, and an empty hour stays allowed.
tk::EntryBinding hourBinding(std::string& s) {
    tk::EntryBinding b = textBinding(s, "99:99");
    b.valid = [&s] {
        if (validHour(s)) return true;
        data::interaction().info("La hora " + trimmed(s) +
                                     " no es v\xe1lida.\nEscr\xed"
                                     "bala como horas:minutos, "
                                     "de 00:00 a 23:59, o d\xe9jela en blanco.",
                                 kAttention);
        return false;
    };
    return b;
}

tk::EntryBinding numberBinding(double& n, const std::string& picture) {
    tk::EntryBinding b;
    b.get = [&n] { return xb::Value::num(n); };
    b.set = [&n](const xb::Value& v) { n = v.asNumber(); };
    b.picture = picture;
    return b;
}

QString totalText(double t) {
    return q(xb::transform(xb::Value::num(t, 18, 2), kTotalPicture));
}

void setBold(QWidget* w, const char* family = "Ms Sans Serif", int points = 8) {
    QFont f(QString::fromLatin1(family), points);
    f.setBold(true);
    w->setFont(f);
}

// A picker that was opened by a field's own check counts as the answer to a
// click on the field's search button in the same change of focus.
struct PickerMemory {
    QElapsedTimer since;
    void note() { since.start(); }
    bool justNow() {
        const bool r = since.isValid() && since.elapsed() < 700;
        since.invalidate();
        return r;
    }
};

tk::ButtonSpec button(const QString& tooltip, std::function<void()> action, bool cancel = false) {
    tk::ButtonSpec b;
    b.tooltip = tooltip;
    b.action = std::move(action);
    b.cancel = cancel;
    return b;
}

void moveFocus(tk::Form& f, int id) {
    if (QWidget* w = f.find(id)) w->setFocus();
}

// A lookup left through the picker's "&Salir": the field shows again what
// it held and keeps the focus. The field is let go first so that it shows
// the value put back instead of what was typed, then the focus returns.
void refuse(tk::Form& f, int id) {
    QWidget* w = f.find(id);
    if (!w) return;
    QTimer::singleShot(0, w, [w] { w->setFocus(Qt::OtherFocusReason); });
}

// Product code lookup of the product dialog: four values remembered, and
// the field refused only when the picker it opened was left with "&Salir".
struct ProductDialog {
    ProductRow row;
    std::string shownCode;  // the code as last accepted
    PickerMemory memory;
};

double unitPrice(double total, double qty) {
    return qty == 0 ? 0 : total / qty;
}

void productDialog(int n, const std::string& mode, QWidget* page, CardValues& v) {
    dbf::WorkArea& buf = listBuffer(n);
    dbf::WorkArea& prod = areaOf("Producto");
    const int prev = ws().current();
    ProductDialog d;
    d.row.code = pad("", 20);
    d.row.name = pad("", 60);
    if (mode == "I") {
        prod.goTop();
    } else {
        if (buf.eof()) return;  // "Modificar" on an empty list
        d.row.code = S(buf, "CODPROD");
        d.row.qty = N(buf, "CANT");
        d.row.total = N(buf, "VALORTOT");
        d.row.price = unitPrice(d.row.total, d.row.qty);
        std::string name;
        if (lookupCode("Producto", d.row.code, "NOMBRE", name)) d.row.name = name;
    }
    d.shownCode = d.row.code;
    tk::Dialog dlg(QStringLiteral("Dlg_Prd_Of"), page);
    dlg.setWindowTitle(n == 1 ? QStringLiteral("Producto Ofertado")
                              : QStringLiteral("Producto Vendido"));
    dlg.setBrush(tk::kDialogBrush);
    tk::Form& f = dlg.form();
    ProductRow& r = d.row;
    auto takeProduct = [&] {
        r.code = S(prod, "CODIGO");
        r.name = S(prod, "NOMBRE");
        r.price = N(prod, "PRECIO");
        double t = 0;
        r.total = productTotal(r.qty, r.price, t) ? t : 0;
    };
    auto recompute = [&] {
        double t = 0;
        if (!productTotal(r.qty, r.price, t)) {
            data::interaction().info(
                "La cantidad por el precio unitario no cabe en el valor total (m\xe1ximo "
                "999.999.999,99).\nCorrija la cantidad o el precio.",
                kAttention);
            return false;
        }
        r.total = t;
        f.refresh();
        return true;
    };
    tk::EntryBinding code = textBinding(r.code, "@!");
    code.valid = [&] {
        // The field's binding already holds what was typed: the code to
        // put back is the one the row had before.
        ProductRow kept = r;
        kept.code = d.shownCode;
        std::string name;
        if (lookupCode("Producto", r.code, "NOMBRE", name)) {
            takeProduct();
            d.shownCode = r.code;
            f.refresh();
            return true;
        }
        prod.goTop();
        const bool picked = pickRecord("Producto", "Producto", &dlg);
        d.memory.note();
        if (picked)
            takeProduct();
        else
            r = kept;
        f.refresh();
        return picked;
    };
    f.bindEntry(101, code);
    tk::EntryBinding name = textBinding(r.name, "@!");
    name.readOnly = true;
    f.bindEntry(102, name);
    tk::EntryBinding qty = numberBinding(r.qty, "@K 9,999,999.99");
    qty.valid = recompute;
    f.bindEntry(103, qty);
    tk::EntryBinding price = numberBinding(r.price, "@K 999,999,999.99");
    price.valid = recompute;
    f.bindEntry(104, price);
    tk::EntryBinding total = numberBinding(r.total, "@K 999,999,999.99");
    total.readOnly = true;
    f.bindEntry(105, total);
    for (int id : {102, 105}) {
        f.setColors(id, Qt::yellow, kDarkBlue);
        setBold(f.control(id));
    }
    f.bindButton(500, button(QStringLiteral("Seleccionar Producto"), [&] {
                     if (!d.memory.justNow()) {
                         const ProductRow kept = r;
                         if (pickRecord("Producto", "Producto", &dlg))
                             takeProduct();
                         else
                             r = kept;
                         f.refresh();
                     }
                     moveFocus(f, 101);
                 }));
    f.bindButton(
        201, button(n == 1 ? QStringLiteral("Graba datos Producto / Servicio Ofertado") : QString(),
                    [&] {
                        f.commit();
                        if (blank(r.code) && blank(r.name)) return;
                        double t = 0;
                        if (!productTotal(r.qty, r.price, t)) {
                            recompute();
                            return;
                        }
                        writeProductRow(n, mode, r, v);
                        dlg.end(1);
                    }));
    f.bindButton(202, button(
                          QStringLiteral("Cancela inclusi\xf3n datos"), [&] { dlg.end(0); }, true));
    dlg.run();
    ws().select(prev);
}

}  // namespace

bool askDelete(const std::string& question) {
    data::interaction().tone(125, 55);
    data::interaction().tone(300, 55);
    return data::interaction().alert(question, kAttention, {"  &Si  ", "  &No  "}) == 1;
}

void ADDPRODOF(const std::string& mode, QWidget* page, CardValues& v) {
    productDialog(1, mode, page, v);
}
void ADDPRODVT(const std::string& mode, QWidget* page, CardValues& v) {
    productDialog(3, mode, page, v);
}

namespace {

// Asks the list's question and deletes row `recno` of its buffer.
bool deleteListRow(int n, uint32_t recno) {
    if (!askDelete(cardList(n).deleteQuestion)) return false;
    const int prev = ws().current();
    deleteBufferRow(n, recno);
    ws().select(prev);
    return true;
}

}  // namespace

bool BORRAPRODOF(uint32_t recno) {
    return deleteListRow(1, recno);
}
bool BORRAPRODVT(uint32_t recno) {
    return deleteListRow(3, recno);
}
bool BORRACONTAC(uint32_t recno) {
    return deleteListRow(2, recno);
}

bool ADDCONTACTO(const std::string& mode, CardValues& v, QWidget* page) {
    dbf::WorkArea& buf = listBuffer(2);
    dbf::WorkArea& resp = areaOf("Respuesta");
    const int prev = ws().current();
    ContactRow c;
    c.resultado = pad("", 120);
    c.horProx = pad("", 5);
    c.horReal = pad("", 5);
    c.codRes = pad("", 8);
    if (mode == "M") {
        if (buf.eof()) return false;
        c = readContact(buf);
    }
    tk::Dialog dlg(QStringLiteral("AddContacto"), page);
    if (mode == "M") dlg.setWindowTitle(QStringLiteral("Modifica Contacto"));
    dlg.setBrush(tk::kDialogBrush);
    tk::Form& f = dlg.form();
    PickerMemory memory;
    f.bindEntry(101, dateBinding(c.fecCont));
    static const char* kinds[] = {"Personal", "Telef\xf3nico", "email", "Fax"};
    f.bindCombo(
        102, {q(kinds[0]), q(kinds[1]), q(kinds[2]), q(kinds[3])},
        [&] {
            for (int i = 0; i < 4; ++i)
                if (trimmed(c.tipo) == kinds[i]) return i + 1;
            return 1;
        },
        [&](int i) { c.tipo = kinds[std::max(1, std::min(i, 4)) - 1]; });
    auto take = [&] {
        c.resultado = S(resp, "DETALLE");
        c.codRes = S(resp, "CODIGO");
    };
    tk::EntryBinding res = textBinding(c.resultado, "@!S120");
    std::string shownText = c.resultado;
    res.valid = [&] {
        const std::string keptText = shownText, keptCode = c.codRes;
        dbf::Orders& o = dbf::orders(resp);
        o.setOrder(2);
        const std::string typed = trimmed(c.resultado);
        if (typed.empty()) {
            c.resultado = pad("", 120);
            c.codRes = pad("", 8);
        } else if (o.seek(xb::Value::str(typed))) {
            take();
        } else {
            resp.goTop();
            const bool picked = pickRecord("Respuesta", "Respuesta", &dlg);
            memory.note();
            if (picked)
                take();
            else {
                c.resultado = keptText;
                c.codRes = keptCode;
            }
        }
        o.setOrder(1);
        shownText = c.resultado;
        f.refresh();
        return true;
    };
    f.bindEntry(103, res);
    f.bindMemo(
        104, [&] { return xb::Value::memo(c.observac); },
        [&](const xb::Value& x) { c.observac = x.asString(); });
    f.bindEntry(105, dateBinding(c.fecProx));
    f.bindEntry(106, hourBinding(c.horProx));
    f.bindEntry(107, dateBinding(c.fecReal));
    f.bindEntry(108, hourBinding(c.horReal));
    f.bindButton(500, button(QStringLiteral("Seleccionar Respuesta"), [&] {
                     if (!memory.justNow()) {
                         const std::string keptText = c.resultado, keptCode = c.codRes;
                         dbf::Orders& o = dbf::orders(resp);
                         o.setOrder(1);
                         if (!o.seek(xb::Value::str(trimmed(c.codRes))) || blank(c.codRes))
                             resp.goTop();
                         if (pickRecord("Respuesta", "Respuesta", &dlg))
                             take();
                         else {
                             c.resultado = keptText;
                             c.codRes = keptCode;
                         }
                         shownText = c.resultado;
                         f.refresh();
                     }
                     moveFocus(f, 103);
                     ws().select(prev);
                 }));
    bool written = false;
    f.bindButton(200, button(QStringLiteral("Graba datos contacto"), [&] {
                     f.commit();
                     writeContactRow(mode, c, v);
                     written = true;
                     dlg.end(1);
                 }));
    f.bindButton(201, button(
                          QStringLiteral("Cancela inclusi\xf3n datos"), [&] { dlg.end(0); }, true));
    dlg.run();
    ws().select(prev);
    return written;
}

// ---------------------------------------------------------------- the card

namespace {

// The columns of a product list (1 offered, 3 sold).
std::vector<tk::BrowseColumn> productColumns(int n) {
    std::vector<tk::BrowseColumn> cols;
    const char* buffer = cardList(n).buffer;
    cols.push_back({QStringLiteral("CODIGO"),
                    [buffer] { return xb::Value::str(S(areaOf(buffer), "CODPROD")); },
                    130,
                    {},
                    {},
                    0});
    if (n == 1) {
        cols.push_back({QStringLiteral("NOMBRE"),
                        [] {
                            dbf::WorkArea& p = areaOf("Producto");
                            return xb::Value::str(p.eof() ? std::string() : S(p, "NOMBRE"));
                        },
                        390,
                        {},
                        {},
                        0});
    } else {
        cols.push_back({QStringLiteral("NOMBRE"),
                        [] {
                            std::string name;
                            return xb::Value::str(
                                lookupCode("Producto", S(listBuffer(3), "CODPROD"), "NOMBRE", name)
                                    ? name
                                    : std::string("Error"));
                        },
                        390,
                        {},
                        {},
                        0});
    }
    cols.push_back({QStringLiteral("CANTIDAD"),
                    [buffer] { return xb::Value::num(N(areaOf(buffer), "CANT")); }, 65,
                    "###,###.##", Qt::AlignRight | Qt::AlignVCenter, 0});
    cols.push_back({QStringLiteral("VAL.TOTAL"),
                    [buffer] { return xb::Value::num(N(areaOf(buffer), "VALORTOT")); }, 120,
                    "###,###,###,###.##", Qt::AlignRight | Qt::AlignVCenter, 0});
    return cols;
}

// The columns of the contacts.
std::vector<tk::BrowseColumn> contactColumns(int) {
    std::vector<tk::BrowseColumn> cols;
    auto date = [](const char* name) {
        return [name] { return xb::Value::date(D(listBuffer(2), name)); };
    };
    cols.push_back({QStringLiteral("FEC.CONT"), date("FEC_CONT"), 82, {}, {}, 0});
    cols.push_back({QStringLiteral("TIPO"),
                    [] { return xb::Value::str(S(listBuffer(2), "TIPO")); },
                    97,
                    {},
                    {},
                    0});
    cols.push_back({QStringLiteral("FEC.PROX"), date("FEC_PROX"), 82, {}, {}, 0});
    cols.push_back({QStringLiteral("FEC.REAL"), date("FEC_REAL"), 82, {}, {}, 0});
    return cols;
}

bool productListDialog(int n, const std::string& mode, QWidget* page, CardValues& v) {
    productDialog(n, mode, page, v);
    return true;  // the list and its total are shown again however it ended
}

bool contactListDialog(int, const std::string& mode, QWidget* page, CardValues& v) {
    return ADDCONTACTO(mode, v, page);
}

// One of the card's lists as the card shows it (the tables' side is
// cardList()): the grid on its page, its columns, the tooltips of its
// buttons "new", "modify" and "delete" (501 to 503 of the page), and the
// dialog that edits a row, which answers whether the card must show the
// list again.
struct ListView {
    int gridId;
    std::vector<tk::BrowseColumn> (*columns)(int n);
    const char* tips[3];
    bool (*dialog)(int n, const std::string& mode, QWidget* page, CardValues& v);
};

const ListView& listView(int n) {
    static const ListView views[] = {
        {114,
         productColumns,
         {"Ingresar nuevo producto", "Modificar datos producto", "Borrar producto ofertado"},
         productListDialog},
        {101, contactColumns, {nullptr, nullptr, nullptr}, contactListDialog},
        {104,
         productColumns,
         {"Ingresar nuevo producto", "Modificar datos producto", nullptr},
         productListDialog}};
    return views[n - 1];
}

class Card {
  public:
    Card(const std::string& mode, CardValues& v, QWidget* owner)
        : mode_(mode),
          v_(v),
          dlg_(QStringLiteral("FoldProsp"), owner),
          p1_(dlg_.page(101, 1)),
          p2_(dlg_.page(101, 2)),
          p3_(dlg_.page(101, 3)),
          lists_{{p1_, tk::WorkAreaRows(listBuffer(1)), nullptr},
                 {p2_, tk::WorkAreaRows(listBuffer(2)), nullptr},
                 {p3_, tk::WorkAreaRows(listBuffer(3)), nullptr}} {
        lastCode_ = v_.p.codprosp;
        shownVend_ = v_.p.codvend;
        shownPlanOf_ = v_.planOf;
        shownPlanVt_ = v_.planVt;
        dlg_.setWindowTitle(mode == "M" ? q("Ficha Prospecto : " + trimmed(v_.p.nombre))
                                        : QStringLiteral("Ficha Prospecto "));
        dlg_.setBrush(tk::kDialogBrush);
        buildPage1();
        buildPage2();
        buildPage3();
        auto* folder = dlg_.ctl<QTabWidget>(101);
        folder->setTabText(0, QStringLiteral("&Datos Generales"));
        folder->setTabText(1, QStringLiteral("&Contactos efectuados"));
        folder->setTabText(2, QStringLiteral("Productos &Vendidos"));
        QObject::connect(folder, &QTabWidget::currentChanged, folder, [this](int i) {
            if (i == 2) enterPage3();
        });
        initialStates();
        baseline_ = snapshot();
        dlg_.setCloseRule([this] { return saved_ || leaving_ || mayLeave(); });
    }

    int run() { return dlg_.run(); }
    tk::Dialog& dialog() { return dlg_; }

    // Puts the contacts' list on the contact numbered `nt` (the one a visit
    // came from); on the first contact when the list has none so numbered.
    void goToContact(const std::string& nt) {
        dbf::WorkArea& b = listBuffer(2);
        const int f = b.table().fieldIndex("NT");
        const uint32_t count = b.recCount();
        uint32_t at = 0;
        for (uint32_t r = 1; r <= count && at == 0 && f >= 0; ++r) {
            b.goTo(r);
            if (!b.deleted() && trimmed(b.table().getString(f)) == trimmed(nt)) at = r;
        }
        if (at == 0) b.goTop();
        grid(2).refresh();
    }

  private:
    // ------------------------------------------------------------ page 1
    void buildPage1() {
        tk::Form& f = p1_;
        ProspectFields& p = v_.p;
        setBold(f.control(400));
        // Names and plan details as long as they come leave the card its size.
        f.keepTextWidth(400);
        f.keepTextWidth(401);
        f.setText(400, q(trimmed(v_.vendName)));
        tk::EntryBinding vend = textBinding(p.codvend, "@!");
        vend.valid = [this] { return vendorCheck(); };
        f.bindEntry(101, vend);
        f.bindButton(500,
                     button(QStringLiteral("Seleccionar Vendedor"), [this] { vendorButton(); }));
        tk::EntryBinding code = textBinding(p.codprosp, "@!");
        code.valid = [this] { return VALIDAPROSP(); };
        f.bindEntry(102, code);
        f.bindButton(505,
                     button(QStringLiteral("Seleccionar Prospecto"), [this] { prospectButton(); }));
        f.bindCombo(
            103, {QStringLiteral("Si"), QStringLiteral("No")},
            [this] { return trimmed(v_.p.nuevo) == "No" ? 2 : 1; },
            [this](int i) { v_.p.nuevo = i == 2 ? "No" : "Si"; },
            [this](int) { p1_.setEnabled(505, trimmed(v_.p.nuevo) == "No" && mode_ == "I"); });
        f.bindCombo(
            104, {q(kJuridica), QStringLiteral("Natural")},
            [this] { return v_.p.tip.rfind("Ju", 0) == 0 ? 1 : 2; },
            [this](int i) { v_.p.tip = i == 1 ? kJuridica : "Natural"; });
        f.bindCombo(
            119, {"001", "002", "003", "004", "005"},
            [this] {
                const int c = std::atoi(trimmed(v_.p.cat).c_str());
                return c >= 1 && c <= 5 ? c : 1;
            },
            [this](int i) { v_.p.cat = "00" + std::to_string(i); });
        tk::EntryBinding name = textBinding(p.nombre, "@!");
        name.valid = [this] {
            ruleA();
            return true;
        };
        f.bindEntry(105, name);
        f.bindEntry(106, textBinding(p.direc, "@!"));
        f.bindEntry(107, textBinding(p.telef, "@!"));
        f.bindEntry(108, textBinding(p.fax, "@!"));
        f.bindEntry(109, textBinding(p.email, "@S60"));
        f.bindEntry(110, textBinding(p.ciudad, "@!"));
        f.bindEntry(111, textBinding(p.represent, "@!"));
        f.bindEntry(112, textBinding(p.telfrep, "@!"));
        f.bindEntry(113, textBinding(p.encargado, "@!"));
        contactButton(107, false);
        contactButton(109, true);
        contactButton(112, false);
        makeGrid(1);
        listLook(grid(1));
        tk::EntryBinding plan = textBinding(v_.planOf, "@!S120");
        plan.valid = [this] { return planCheck(v_.planOf, v_.planOfDet, p1_, 401, 115); };
        plan.when = [] { return bufferRows(1) > 0; };
        f.bindEntry(115, plan);
        f.setColors(401, kDarkBlue);
        f.control(401)->setFont(QFont(QStringLiteral("Arial"), 9));
        f.setText(401, q(trimmed(v_.planOfDet)));
        f.bindButton(504, button(QStringLiteral("Seleccionar Plan de Mercadeo"),
                                 [this] { planButton(v_.planOf, v_.planOfDet, p1_, 401, 115); }));
        f.bindMemo(
            116, [this] { return xb::Value::memo(v_.p.observac); },
            [this](const xb::Value& x) { v_.p.observac = x.asString(); });
        f.bindCheck(
            117, [this] { return v_.p.vta; }, {}, [this](bool on) { toggleSale(on); });
        tk::EntryBinding fv = dateBinding(p.fecVta);
        fv.valid = [this] {
            v_.fecVtaCopy = v_.p.fecVta;
            p3_.refresh();
            return true;
        };
        f.bindEntry(118, fv);
        bindListButtons(1);
        setBold(f.control(402));
        bindSaveAndExit(f, true);
    }

    // The e-mail and the telephones open with the desktop's program, by F3
    // in the field or by the small button inside it.
    void contactButton(int id, bool mail) {
        tk::EntryField* e = p1_.entry(id);
        if (!e) return;
        QLineEdit* edit = e->edit();
        QAction* a = edit->addAction(contactIcon(mail), QLineEdit::TrailingPosition);
        a->setToolTip(mail ? QStringLiteral("Escribir un correo (F3)")
                           : QStringLiteral("Llamar (F3)"));
        QObject::connect(a, &QAction::triggered, edit, [this, id, mail] { openContact(id, mail); });
        struct Key : QObject {
            std::function<void()> act;
            bool eventFilter(QObject*, QEvent* ev) override {
                if (ev->type() != QEvent::KeyPress) return false;
                auto* k = static_cast<QKeyEvent*>(ev);
                if (k->key() != Qt::Key_F3 || k->modifiers() != Qt::NoModifier) return false;
                act();
                return true;
            }
        };
        auto* key = new Key;
        key->setParent(edit);
        key->act = [this, id, mail] { openContact(id, mail); };
        edit->installEventFilter(key);
    }

    static QIcon contactIcon(bool mail) {
        // The telephone is a handset drawn in the resource library.
        if (!mail) return QIcon(tk::bitmap(QStringLiteral("Telefono"), QSize(16, 16)));
        QPixmap pm(14, 14);
        pm.fill(Qt::transparent);
        QPainter g(&pm);
        g.setRenderHint(QPainter::Antialiasing);
        g.setPen(QPen(kDarkBlue, 1.2));
        g.setBrush(Qt::white);
        g.drawRect(QRectF(0.5, 2.5, 13, 9));
        g.drawLine(QPointF(0.5, 2.5), QPointF(7, 8));
        g.drawLine(QPointF(13.5, 2.5), QPointF(7, 8));
        return QIcon(pm);
    }

    void openContact(int id, bool mail) {
        tk::EntryField* e = p1_.entry(id);
        if (!e) return;
        const std::string uri = contactUri(e->value().asString(), mail);
        if (uri.empty()) return;
        const QString tool = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
        const std::string what = mail ? "el programa de correo" : "el programa de llamadas";
        if (tool.isEmpty())
            data::interaction().info(
                "No se pudo abrir " + what + ": falta el programa xdg-open (paquete xdg-utils).",
                kAttention);
        else if (!QProcess::startDetached(tool, {QString::fromStdString(uri)}))
            data::interaction().info("No se pudo abrir " + what + " con " + uri + ".", kAttention);
    }

    static void listLook(tk::Browse& g) {
        g.setFrozen(static_cast<int>(g.model()->columnCount()));
        g.setRowExtra(1);
        g.setHeaderExtra(10);
        g.view()->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        g.view()->setFont(QFont(QStringLiteral("Ms Sans Serif"), 8));
        // No horizontal scrolling: the grid is as wide as its four columns.
        int width = 0;
        for (const tk::BrowseColumn& c : g.model()->columns()) width += c.width;
        g.view()->setMinimumWidth(width + g.view()->verticalHeader()->sizeHint().width() + 24);
    }

    bool vendorCheck() {
        const std::string keptCode = shownVend_, keptName = v_.vendName;
        std::string name;
        if (lookupCode("Vendedor", v_.p.codvend, "NOMBRE", name)) {
            v_.p.codvend = shownVend_ = S(areaOf("Vendedor"), "CODIGO");
            v_.vendName = name;
            p1_.setText(400, q(trimmed(name)));
            return true;
        }
        areaOf("Vendedor").goTop();
        const bool picked = pickRecord("Vendedor", "Vendedor", &dlg_);
        vendorMemory_.note();
        if (picked) {
            v_.p.codvend = S(areaOf("Vendedor"), "CODIGO");
            v_.vendName = S(areaOf("Vendedor"), "NOMBRE");
        } else {
            v_.p.codvend = keptCode;
            v_.vendName = keptName;
            refuse(p1_, 101);
        }
        shownVend_ = v_.p.codvend;
        p1_.setText(400, q(trimmed(v_.vendName)));
        p1_.refresh();
        return true;
    }

    void vendorButton() {
        if (!vendorMemory_.justNow()) {
            const std::string keptCode = v_.p.codvend, keptName = v_.vendName;
            if (pickRecord("Vendedor", "Vendedor", &dlg_)) {
                v_.p.codvend = S(areaOf("Vendedor"), "CODIGO");
                v_.vendName = S(areaOf("Vendedor"), "NOMBRE");
            } else {
                v_.p.codvend = keptCode;
                v_.vendName = keptName;
            }
            shownVend_ = v_.p.codvend;
            p1_.setText(400, q(trimmed(v_.vendName)));
            p1_.refresh();
        }
        moveFocus(p1_, 101);
    }

    // VALIDAPROSP: the code field is never refused.
    bool VALIDAPROSP() {
        const bool changed = v_.p.codprosp != lastCode_;
        lastCode_ = v_.p.codprosp;
        shownVend_ = v_.p.codvend;
        shownPlanOf_ = v_.planOf;
        shownPlanVt_ = v_.planVt;
        const bool found = lookupClient(v_.p.codprosp, v_, changed);
        p1_.refresh();
        if (found) {
            for (int i = 1; i <= 3; ++i) dlg_.setPageEnabled(101, i, true);
        } else if (changed) {
            dlg_.setPageEnabled(101, 2, false);
            dlg_.setPageEnabled(101, 3, false);
        }
        ws().select("Prospecto");
        return true;
    }

    void prospectButton() {
        const std::string kept = v_.p.codprosp;
        if (pickProspect(&dlg_))
            v_.p.codprosp = S(areaOf("Prospecto"), "CODPROSP");
        else
            v_.p.codprosp = kept;
        p1_.refresh();
        moveFocus(p1_, 102);
    }

    bool planCheck(std::string& code, std::string& det, tk::Form& f, int detId, int fieldId) {
        std::string& shown = fieldId == 115 && &f == &p1_ ? shownPlanOf_ : shownPlanVt_;
        const std::string keptCode = shown, keptDet = det;
        std::string d;
        if (lookupCode("Plan", code, "DETALLE", d)) {
            code = S(areaOf("Plan"), "CODIGO");
            det = d;
        } else if (blank(code)) {
            det.clear();
        } else {
            areaOf("Plan").goTop();
            if (pickRecord("Plan", "Plan de Mercadeo", &dlg_)) {
                code = S(areaOf("Plan"), "CODIGO");
                det = S(areaOf("Plan"), "DETALLE");
            } else {
                code = keptCode;
                det = keptDet;
                refuse(f, fieldId);
            }
        }
        shown = code;
        f.setText(detId, q(trimmed(det)));
        f.refresh();
        return true;
    }

    void planButton(std::string& code, std::string& det, tk::Form& f, int detId, int fieldId) {
        // "&Salir" keeps the plan the card had (the picker no longer drops
        // in whatever plan the table happened to be on).
        if (pickRecord("Plan", "Plan de Mercadeo", &dlg_)) {
            code = S(areaOf("Plan"), "CODIGO");
            det = S(areaOf("Plan"), "DETALLE");
        }
        (fieldId == 115 && &f == &p1_ ? shownPlanOf_ : shownPlanVt_) = code;
        f.setText(detId, q(trimmed(det)));
        f.refresh();
        moveFocus(f, fieldId);
    }

    void ruleA() {
        const ProspectFields& p = v_.p;
        const bool all = !blank(p.codvend) && !blank(p.codprosp) && !blank(p.nuevo) &&
                         !blank(p.tip) && !blank(p.nombre);
        dlg_.setPageEnabled(101, 2, all);
        dlg_.setPageEnabled(101, 3, false);
    }

    void toggleSale(bool on) {
        if (!on && mode_ == "M" && bufferRows(3) > 0 &&
            data::interaction().alert(
                "Al quitar la venta se borrar\xe1n los Productos vendidos de este Prospecto "
                "cuando grabe la ficha.\n\xbf Desea quitar la venta ?",
                kAttention, {"  &Si  ", "  &No  "}) != 1) {
            p1_.refresh();  // the box stays checked
            return;
        }
        v_.p.vta = on;
        saleState();
        dlg_.setPageEnabled(101, 2, true);
        dlg_.setPageEnabled(101, 3, on);
        if (on) moveFocus(p1_, 118);
    }

    void saleState() {
        if (tk::EntryField* e = p1_.entry(118)) {
            e->setReadOnly(!v_.p.vta);
            e->setColors(Qt::black, v_.p.vta ? QColor(Qt::white) : kGreyBg);
        }
    }

    void planFieldState() {
        const bool any = bufferRows(1) > 0;
        p1_.setEnabled(115, any);
        p1_.setEnabled(504, any);
        if (tk::EntryField* e = p1_.entry(115))
            e->setColors(Qt::black, any ? QColor(Qt::white) : kGreyBg);
    }

    void showTotals() {
        p1_.setText(402, totalText(v_.totalOf));
        p3_.setText(402, totalText(v_.totalVt));
    }

    // The list's grid, with its columns, on its page.
    void makeGrid(int n) {
        ListPart& l = list(n);
        l.grid = std::make_unique<tk::Browse>(l.page.ctl<QTableView>(listView(n).gridId), &l.rows,
                                              listView(n).columns(n));
    }

    void bindListButtons(int n) {
        tk::Form& f = list(n).page;
        const char* const* tips = listView(n).tips;
        auto tip = [](const char* t) { return t ? QString::fromLatin1(t) : QString(); };
        f.bindButton(501, button(tip(tips[0]), [this, n] { editList(n, "I"); }));
        f.bindButton(502, button(tip(tips[1]), [this, n] { editList(n, "M"); }));
        f.bindButton(503, button(tip(tips[2]), [this, n] { listDelete(n); }));
    }

    // A row of the list added ("I") or changed ("M") through its dialog,
    // and the card brought up to date: the product lists' totals (the first
    // product offered opens the plan field), the contact shown, the grid.
    void editList(int n, const std::string& mode) {
        ListPart& l = list(n);
        if (!listView(n).dialog(n, mode, l.page.root(), v_)) return;
        if (n == 2) {
            l.page.refresh();
        } else {
            if (bufferRows(n) > 0) {
                if (n == 1 && mode == "I") planFieldState();
                (n == 1 ? v_.totalOf : v_.totalVt) = bufferTotal(n);
            }
            showTotals();
        }
        grid(n).refresh();
        grid(n).view()->setFocus();
    }

    void listDelete(int n) {
        dbf::WorkArea& b = listBuffer(n);
        if (b.eof()) return;
        const uint32_t noted = b.recno();
        const bool done = deleteListRow(n, noted);
        if (done) {
            const uint32_t count = b.recCount();
            if (count == 0)
                b.goTop();
            else
                b.goTo(noted > count ? count : noted);
        } else {
            b.goTo(noted);
        }
        if (n == 1) {
            if (bufferRows(1) == 0) {
                v_.planOf = shownPlanOf_ = pad("", 8);
                v_.planOfDet.clear();
                p1_.setText(401, QString());
                v_.totalOf = 0;
                p1_.refresh();
                planFieldState();
            } else {
                v_.totalOf = bufferTotal(1);
            }
        } else if (n == 3) {
            v_.totalVt = bufferRows(3) == 0 ? 0 : bufferTotal(3);
        }
        showTotals();
        tk::Browse& g = grid(n);
        g.refresh();
        g.view()->setFocus();
        if (n == 2) showFirstContact();
    }

    void bindSaveAndExit(tk::Form& f, bool firstPage) {
        f.bindButton(200, button(QStringLiteral("Actualizar datos"), [this, &f] {
                         f.commit();
                         p1_.commit();
                         p3_.commit();
                         const SaveResult r = saveProspect(mode_, v_);
                         if (r == SaveResult::NoCode) {
                             dlg_.ctl<QTabWidget>(101)->setCurrentIndex(0);
                             moveFocus(p1_, 102);
                             return;
                         }
                         // Changed underneath or given up: the card stays, nothing typed is lost.
                         if (r != SaveResult::Saved) return;
                         saved_ = true;
                         dlg_.end(1);
                     }));
        f.bindButton(201, button(
                              QStringLiteral("Salir de Fichas de Prospectos"),
                              [this, firstPage] {
                                  // Asked before the prospect table moves, so
                                  // that "&No" leaves everything as it was.
                                  if (!mayLeave()) return;
                                  leaving_ = true;
                                  if (firstPage) areaOf("Prospecto").goTo(v_.openedAt);
                                  if (!dlg_.end(0)) leaving_ = false;
                              },
                              true));
    }

    // ------------------------------------------------------------ leaving
    // What the user can change in the card: the prospect's fields, the plan
    // codes, the sale document and the rows of the three lists.
    struct Snapshot {
        ProspectFields p;
        std::string planOf, planVt, docum;
        std::string rows[3];
        bool operator==(const Snapshot&) const = default;
    };

    // Every row of a buffer, deletion mark and stored bytes, read without
    // moving the grid's current row.
    static std::string bufferRowsText(int n) {
        dbf::WorkArea& b = listBuffer(n);
        const uint32_t at = b.recno();
        const bool bof = b.bof(), eof = b.eof();
        std::string out;
        const uint32_t count = b.recCount();
        for (uint32_t r = 1; r <= count; ++r) {
            b.goTo(r);
            out += b.deleted() ? '*' : ' ';
            for (int i = 0; i < b.table().fieldCount(); ++i) out += b.table().raw(i);
        }
        b.goTo(at);
        b.setBof(bof);
        b.setEof(eof);
        return out;
    }

    Snapshot snapshot() const {
        Snapshot s{v_.p, v_.planOf, v_.planVt, v_.docum, {}};
        for (int n = 1; n <= 3; ++n) s.rows[n - 1] = bufferRowsText(n);
        return s;
    }

    // Something typed, chosen or listed since the card opened: a field still
    // being edited counts when its text changed.
    bool changed() {
        for (tk::Form* f : {&p1_, &p3_})
            for (int id : f->ids())
                if (tk::EntryField* e = f->entry(id); e && e->buffer().changed()) return true;
        return !(snapshot() == baseline_);
    }

    // A card with changes asks before it closes; "&No", the default, keeps it.
    bool mayLeave() {
        if (!changed()) return true;
        return tk::showBox(tk::BoxKind::Question, q(kAttention),
                           q("\xbf"
                             "Desea salir sin grabar los cambios?"),
                           {QStringLiteral("&Si"), QStringLiteral("&No")}, &dlg_, 2) == 1;
    }

    // ------------------------------------------------------------ page 2
    void buildPage2() {
        tk::Form& f = p2_;
        makeGrid(2);
        grid(2).setFrozen(4);
        grid(2).view()->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setBold(grid(2).view());
        grid(2).setOnRowChange([this] { showFirstContact(); });
        auto ro = [&f](int id, tk::EntryBinding b) {
            b.readOnly = true;
            f.bindEntry(id, b);
            f.setColors(id, Qt::black, kDisplayGrey);
        };
        ro(102, dateBinding(v_.cFecCont));
        static const char* kinds[] = {"Personal", "Telef\xf3nico", "email", "Fax"};
        f.bindCombo(103, {q(kinds[0]), q(kinds[1]), q(kinds[2]), q(kinds[3])},
                    [this] {
                        for (int i = 0; i < 4; ++i)
                            if (trimmed(v_.cTipo) == kinds[i]) return i + 1;
                        return 1;
                    },
                    {});
        f.setEnabled(103, false);
        ro(104, textBinding(v_.cResultado, "@!"));
        f.bindMemo(
            105, [this] { return xb::Value::memo(v_.cObservac); }, {}, true);
        f.setColors(105, Qt::black, kDisplayGrey);
        ro(106, dateBinding(v_.cFecProx));
        ro(107, textBinding(v_.cHorProx, "99:99"));
        ro(108, dateBinding(v_.cFecReal));
        ro(109, textBinding(v_.cHorReal, "99:99"));
        bindListButtons(2);
        bindSaveAndExit(f, false);
    }

    void showFirstContact() {
        dbf::WorkArea& b = listBuffer(2);
        if (!b.eof()) showContact(readContact(b), v_);
        p2_.refresh();
    }

    // ------------------------------------------------------------ page 3
    void buildPage3() {
        tk::Form& f = p3_;
        tk::EntryBinding date = dateBinding(v_.fecVtaCopy);
        date.readOnly = true;
        f.bindEntry(101, date);
        f.setColors(101, Qt::black, kGreyBg);
        f.bindEntry(102, textBinding(v_.docum, "@!"));
        tk::EntryBinding plan = textBinding(v_.planVt, "@!");
        plan.valid = [this] { return planCheck(v_.planVt, v_.planVtDet, p3_, 401, 103); };
        f.bindEntry(103, plan);
        f.setColors(401, kDarkBlue);
        f.control(401)->setFont(QFont(QStringLiteral("Arial"), 9));
        f.keepTextWidth(401);
        f.setText(401, q(trimmed(v_.planVtDet)));
        f.bindButton(500, button(QStringLiteral("Seleccionar Plan de Mercadeo"),
                                 [this] { planButton(v_.planVt, v_.planVtDet, p3_, 401, 103); }));
        makeGrid(3);
        listLook(grid(3));
        bindListButtons(3);
        setBold(f.control(402));
        bindSaveAndExit(f, false);
    }

    void enterPage3() {
        if (blank(v_.planVt)) {
            v_.fecVtaCopy = v_.p.fecVta;
            v_.planVt = shownPlanVt_ = v_.planOf;
            v_.planVtDet = v_.planOfDet;
            // Defaults the page takes by itself are no change of the user's.
            baseline_.planVt = v_.planVt;
            p3_.setText(401, q(trimmed(v_.planVtDet)));
            p3_.refresh();
        }
        moveFocus(p3_, 102);
    }

    void initialStates() {
        p1_.setEnabled(505, false);
        if (mode_ == "M") {
            p1_.setEnabled(102, false);
            if (tk::EntryField* e = p1_.entry(102)) e->setColors(Qt::black, kGreyBg);
        }
        planFieldState();
        dlg_.setPageEnabled(101, 2, false);
        dlg_.setPageEnabled(101, 3, false);
        if (mode_ == "M") {
            dlg_.setPageEnabled(101, 2, true);
            dlg_.setPageEnabled(101, 3, v_.p.vta);
        }
        saleState();
        showTotals();
        for (int n = 1; n <= 3; ++n) listBuffer(n).goTop();
    }

    std::string mode_;
    CardValues& v_;
    tk::Dialog dlg_;
    tk::Form& p1_;
    tk::Form& p2_;
    tk::Form& p3_;
    // A list of the card: its page, the rows its grid reads, the grid.
    struct ListPart {
        tk::Form& page;
        tk::WorkAreaRows rows;
        std::unique_ptr<tk::Browse> grid;
    };
    ListPart lists_[3];
    ListPart& list(int n) { return lists_[n - 1]; }
    tk::Browse& grid(int n) { return *lists_[n - 1].grid; }
    PickerMemory vendorMemory_;
    std::string lastCode_;
    // What the lookup fields held when last accepted: the binding already
    // holds the typed text when the check runs.
    std::string shownVend_, shownPlanOf_, shownPlanVt_;
    bool saved_ = false;
    bool leaving_ = false;
    Snapshot baseline_;
};

CardValues* openCard = nullptr;

}  // namespace

void FICHPROSP(const std::string& mode, QWidget* owner, int page, const std::string& contactNt) {
    // One card at a time; "Producto" open by anyone but the kept card
    // tables of the browser is another card (or a user of the alias).
    if (openCard || (ws().used("Producto") && !CardTablesKept::active())) return;
    const int prev = ws().current();
    CardValues v;
    if (!prepareCard(mode, v)) {
        closeBuffers();
        closeCardTables();
        ws().select(prev);
        return;
    }
    ws().select("Prospecto");
    {
        Card card(mode, v, owner);
        if (page > 1) card.dialog().ctl<QTabWidget>(101)->setCurrentIndex(page - 1);
        if (!contactNt.empty()) card.goToContact(contactNt);
        openCard = &v;
        card.run();
        openCard = nullptr;
    }
    for (int a : ws().openAreas())
        if (dbf::WorkArea* w = ws().area(a)) w->flush();
    closeCardTables();
    closeBuffers();
    ws().select("Prospecto");
}

}  // namespace prospects
