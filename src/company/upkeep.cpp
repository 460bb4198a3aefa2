#include "company/upkeep.h"

#include <sys/stat.h>
#include <QApplication>
#include <QComboBox>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>

#include "company/selection.h"
#include "data/catalogue.h"
#include "data/helpers.h"
#include "data/interaction.h"
#include "data/maintenance.h"
#include "data/msgmeter.h"
#include "data/paths.h"
#include "dbf/order.h"
#include "dbf/workspace.h"
#include "toolkit/browse.h"
#include "toolkit/browse_dbf.h"
#include "toolkit/dialog.h"
#include "toolkit/msgbox.h"
#include "toolkit/resources.h"
#include "xbase/codepage.h"
#include "xbase/date.h"
#include "xbase/runtime.h"

namespace company {

namespace fs = std::filesystem;

namespace {

const QColor kGrey(230, 230, 230);

std::string trim(const std::string& s) {
    const size_t b = s.find_first_not_of(' ');
    return b == std::string::npos ? std::string() : s.substr(b, s.find_last_not_of(' ') - b + 1);
}

std::string padded(const std::string& s, size_t width) {
    std::string out = s.substr(0, width);
    out.resize(width, ' ');
    return out;
}

QString toQ(const std::string& s) {
    return QString::fromStdString(xb::cp1252ToUtf8(s));
}

dbf::WorkArea& control() {
    return *dbf::workspace().area(std::string_view("Control"));
}
int fieldOf(const char* name) {
    return dbf::workspace().fieldIndex(control().number(), name);
}
xb::Value get(const char* name) {
    return control().get(fieldOf(name));
}
void put(const char* name, const xb::Value& v) {
    control().put(fieldOf(name), v);
}

const std::string kCedula = xb::utf8ToCp1252("Cédula");

int alert(const QString& text, const QString& title) {
    return tk::showBox(tk::BoxKind::Alert, title, text, {QStringLiteral("&Aceptar")},
                       QApplication::activeWindow());
}

std::string sessionDirectory() {
    xb::Value v;
    if (!xb::getVar("G_CAMINO", v) || v.type() != 'C') return {};
    const std::string camino = v.asString();
    return camino.substr(0, camino.find('\\'));
}

bool openCatalogue(const char* mode) {
    ensureCatalogue();
    return data::ABRIR("Control", data::kCompanyCatalogue, mode, {data::kCompanyCatalogueBag});
}

// The grid of companies and the three texts under it, shared by the modify
// and the delete dialogs (template "ElimEmpr").
struct CompanyList {
    tk::Dialog& dlg;
    tk::WorkAreaRows rows;
    tk::Browse grid;
    CompanyList(tk::Dialog& d)
        : dlg(d),
          rows(control()),
          grid(d.ctl<QTableView>(101), &rows,
               {tk::BrowseColumn{
                    QStringLiteral("EMPRESA"), [] { return get("EMPRESA"); }, 280, {}, {}, 0},
                tk::BrowseColumn{
                    QStringLiteral("PATH"), [] { return get("CAMINO"); }, 100, {}, {}, 0}}) {
        auto* heading = dlg.ctl<QLabel>(100);
        heading->setText(QStringLiteral("           Empresa"));
        QFont f = heading->font();
        f.setPointSize(f.pointSize() + 6);
        f.setBold(true);
        heading->setFont(f);
        grid.setOnRowChange([this] { showTexts(); });
    }
    void showTexts() {
        const bool none = control().eof();
        dlg.form().setText(102, none ? QString() : toQ(trim(get("EMPRESA").asString())));
        dlg.form().setText(103, none ? QString() : toQ(trim(get("CAMINO").asString())));
        dlg.form().setText(104, none ? QString() : toQ(trim(get("NIT").asString())));
    }
    void refresh() {
        grid.refresh();
        showTexts();
    }
};

}  // namespace

std::optional<std::string> normaliseCompanyCode(const std::string& typed) {
    const std::string t = trim(typed);
    if (t.empty() || t.size() > 5) return std::nullopt;
    for (char c : t)
        if (c < '0' || c > '9') return std::nullopt;
    // A short code stands for the same number with leading zeros, as the
    // codes the program proposes are written.
    return std::string(5 - t.size(), '0') + t;
}

const char* const kCodeRule =
    "El código de empresa es un número de hasta cinco cifras;\n"
    "se completa con ceros a la izquierda (7 es 00007).";

std::string nextCompanyCode() {
    dbf::WorkArea& wa = control();
    wa.goBottom();
    if (wa.eof()) return "00001";
    const long last = std::strtol(trim(get("CODEMPR").asString()).c_str(), nullptr, 10);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%05ld", last + 1);
    return buf;
}

CompanyData newCompanyData(const std::string& code) {
    CompanyData d(FieldCount);
    d[Code] = xb::Value::str(code);
    d[Name] = xb::Value::str(std::string(40, ' '));
    d[Nit] = xb::Value::str(std::string(12, ' '));
    d[Kind] = xb::Value::str("NIT");
    d[Address] = xb::Value::str(std::string(40, ' '));
    d[Phones] = xb::Value::str(std::string(20, ' '));
    d[Fax] = xb::Value::str(std::string(15, ' '));
    d[City] = xb::Value::str(std::string(25, ' '));
    d[Province] = xb::Value::str(std::string(25, ' '));
    d[Start] = xb::Value::date(xb::todayJulian());
    d[Camino] = xb::Value::str("EMP" + code);
    return d;
}

CompanyData companyDataFromRecord() {
    CompanyData d(FieldCount);
    d[Code] = get("CODEMPR");
    d[Name] = get("EMPRESA");
    d[Nit] = get("NIT");
    d[Kind] = xb::Value::str(trim(get("T_NIT").asString()) == "NIT" ? "NIT" : kCedula);
    d[Address] = get("DIR_EMPR");
    d[Phones] = get("TELEFONOS");
    d[Fax] = get("FAX");
    d[City] = get("CIUDAD");
    d[Province] = get("PROVINC");
    d[Start] = get("FECH_INI");
    d[Camino] = get("CAMINO");
    return d;
}

bool isCompanyDirectory(const std::string& camino) {
    const std::string c = trim(camino);
    if (c.size() != 8) return false;
    if (std::toupper(static_cast<unsigned char>(c[0])) != 'E' ||
        std::toupper(static_cast<unsigned char>(c[1])) != 'M' ||
        std::toupper(static_cast<unsigned char>(c[2])) != 'P')
        return false;
    for (size_t i = 3; i < 8; ++i)
        if (c[i] < '0' || c[i] > '9') return false;
    // A link named like a company would lead the removal elsewhere.
    const std::string host = data::hostPath(c);
    std::error_code ec;
    return !fs::is_symlink(host, ec);
}

bool BUSCCODEMP(const std::string& code) {
    dbf::WorkArea& wa = control();
    const uint32_t here = wa.recno();
    const bool taken = dbf::orders(wa).seek(xb::Value::str(padded(trim(code), 5)));
    wa.goTo(here);
    if (taken) {
        alert(QStringLiteral("Código de empresa ya exite,\npor favor seleccione otro."),
              QStringLiteral("Atención....."));
        return false;
    }
    return true;
}

void INIARC() {
    dbf::Workspace& ws = dbf::workspace();
    const int area = ws.current();
    data::MSGMETER(
        [](data::Meter& m) {
            data::INIBASES(m);
            return xb::Value();
        },
        "Procesando datos...", "Por favor espere");
    data::MSGMETER(
        [](data::Meter& m) {
            data::INDEXBASES(m);
            return xb::Value();
        },
        "Procesando datos...", "Por favor espere");
    ws.select(area);
}

namespace {

std::function<void(std::string_view)>& creationHook() {
    static std::function<void(std::string_view)> hook;
    return hook;
}

void creationStep(std::string_view step) {
    if (creationHook()) creationHook()(step);
}

// The catalogue held against the other workstations' creations while a new
// company's code is checked, its folder made and its record written: two
// workstations that chose the same code cannot both take it, and a folder
// found without a record is known to be no other creation in progress.
class CreationLock {
  public:
    CreationLock() {
        for (int i = 0; i < 250 && !(held_ = control().lockFile()); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ~CreationLock() {
        if (held_) control().unlock(0);
    }
    CreationLock(const CreationLock&) = delete;
    CreationLock& operator=(const CreationLock&) = delete;
    explicit operator bool() const { return held_; }

  private:
    bool held_ = false;
};

// Makes the new company's folder and puts its name on the disk before the
// record that points at it. An empty folder of that name, with the code free
// in the catalogue, is one a creation left before its record was written (a
// power cut, a killed program): it is taken as it stands. A folder holding
// anything keeps the code refused, since it may be a company's data.
bool makeCompanyFolder(const std::string& camino) {
    if (!isCompanyDirectory(camino)) return false;
    const std::string folder = data::hostPath(camino);
    if (::mkdir(folder.c_str(), 0777) != 0) {
        std::error_code ec;
        if (errno != EEXIST || !fs::is_directory(folder, ec) || !fs::is_empty(folder, ec) || ec)
            return false;
    }
    try {
        data::syncPath(fs::path(folder).parent_path().string());
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

}  // namespace

void setCreationHook(std::function<void(std::string_view)> hook) {
    creationHook() = std::move(hook);
}

void GRABAEMPR(const std::string& mode, const CompanyData& d, bool& saved) {
    saved = false;
    if (trim(d[Code].asString()).empty() || trim(d[Name].asString()).empty() ||
        trim(d[Nit].asString()).empty()) {
        alert(QStringLiteral("Debe ingresar por lo menos Código, Dirección y Nit"),
              QStringLiteral("Error....."));
        return;
    }
    std::string code = trim(d[Code].asString());
    std::string camino = trim(d[Camino].asString());
    std::optional<CreationLock> lock;
    if (mode == "I") {
        const auto normal = normaliseCompanyCode(code);
        if (!normal) {
            alert(QString::fromUtf8(kCodeRule), QStringLiteral("Error....."));
            return;
        }
        // The directory follows the code it was made from.
        if (camino == "EMP" + code) camino = "EMP" + *normal;
        code = *normal;
        lock.emplace();
        if (!*lock) {
            data::PARE(
                "El cat\xe1logo de empresas est\xe1 bloqueado por otro equipo.\n"
                "Int\xe9ntelo de nuevo.");
            return;
        }
        // Another workstation may have taken the code since the form checked it.
        if (!BUSCCODEMP(code)) return;
        if (!makeCompanyFolder(camino)) {
            data::interaction().beep();
            data::PARE("Error en la creaci\xf3n del subdirectorio");
            return;
        }
        creationStep("folder");
        control().append();
    } else {
        if (!data::REC_LOCK(0)) return;
    }
    put("CODEMPR", xb::Value::str(code));
    put("EMPRESA", d[Name]);
    put("NIT", d[Nit]);
    put("T_NIT", xb::Value::str(d[Kind].asString() == "NIT" ? "NIT" : "CC"));
    put("DIR_EMPR", d[Address]);
    put("TELEFONOS", d[Phones]);
    put("FAX", d[Fax]);
    put("CIUDAD", d[City]);
    put("PROVINC", d[Province]);
    put("FECH_INI", d[Start]);
    put("CAMINO", xb::Value::str(camino));
    // On the disk at once, before the new company's tables are made, not
    // when the catalogue is closed: a power cut after the save cannot take
    // the record and leave its folder behind.
    control().commit();
    lock.reset();
    saved = true;
    if (mode == "I") {
        creationStep("record");
        // The new company is this workstation's company now, and the one it
        // finds highlighted at the next start.
        writeRememberedCompany(camino);
        PUTDATEMPR();
        INIARC();
        creationStep("tables");
    } else if (xb::upper1252(camino) == xb::upper1252(sessionDirectory())) {
        // The session's company name follows at once, on the bar and in what
        // is printed from now on; the directory cannot have changed.
        xb::assignVar("G_EMPRESA", get("EMPRESA"));
        TEXTOSAYBAR(d[Name].asString());
    }
}

bool PANTAEMPR(CompanyData& d, const std::string& mode, QWidget* owner) {
    dbf::WorkArea& wa = control();
    const bool codeFixed = mode == "M" || [&] {
        const uint32_t here = wa.recno();
        wa.goTop();
        const bool empty = wa.eof();
        wa.goTo(here);
        return empty;
    }();
    bool codeOk = codeFixed;
    bool saved = false;

    tk::Dialog dlg(QStringLiteral("FoldIniEmpr"), owner);
    dlg.setWindowTitle(QStringLiteral("Iniciar Empresa"));
    tk::Form& page = dlg.page(101, 1);
    auto slot = [&d](int i) {
        return std::make_pair([&d, i] { return d[i]; }, [&d, i](const xb::Value& v) { d[i] = v; });
    };
    auto bindText = [&](int id, int i, const std::string& picture) {
        auto [g, s] = slot(i);
        tk::EntryBinding b;
        b.get = g;
        b.set = s;
        b.picture = picture;
        return page.bindEntry(id, b);
    };
    // The typed code: five digits (a shorter number is completed with
    // zeros) that no company has yet; the directory follows it.
    auto checkCode = [&] {
        if (codeFixed) return true;
        const auto normal = normaliseCompanyCode(d[Code].asString());
        if (!normal) {
            alert(QString::fromUtf8(kCodeRule), QStringLiteral("Atención....."));
            return false;
        }
        d[Code] = xb::Value::str(*normal);
        if (!BUSCCODEMP(*normal)) return false;
        codeOk = true;
        d[Camino] = xb::Value::str("EMP" + *normal);
        page.refresh();
        return true;
    };
    {
        auto [g, s] = slot(Code);
        tk::EntryBinding b;
        b.get = g;
        b.set = s;
        b.picture = "#####";
        b.readOnly = codeFixed;
        b.valid = [&] { return checkCode(); };
        page.bindEntry(101, b);
        if (codeFixed) page.setColors(101, Qt::black, kGrey);
    }
    bindText(102, Name, "@K!");
    bindText(103, Nit, "@K!");
    page.bindCombo(
        104, {QStringLiteral("NIT"), QStringLiteral("Cédula")},
        [&d] { return d[Kind].asString() == "NIT" ? 1 : 2; },
        [&d](int n) { d[Kind] = xb::Value::str(n == 1 ? std::string("NIT") : kCedula); });
    bindText(105, Address, "@K!");
    bindText(106, Phones, "@K!");
    bindText(107, Fax, "@K!");
    bindText(108, City, "@K!");
    bindText(109, Province, "@K!");
    bindText(110, Start, "99-99-9999");
    {
        auto [g, s] = slot(Camino);
        tk::EntryBinding b;
        b.get = g;
        b.set = s;
        b.picture = "@K!";
        b.readOnly = true;
        page.bindEntry(111, b);
        page.setColors(111, Qt::black, kGrey);
    }
    tk::ButtonSpec ok;
    ok.caption = QStringLiteral("&Aceptar");
    ok.tooltip = QStringLiteral("Graba datos de la empresa");
    ok.action = [&] {
        // A proposed code the user never visited is checked now; a refused
        // one has been told and takes the focus.
        if (!codeOk && !checkCode()) {
            if (auto* code = page.find(101)) code->setFocus();
            return;
        }
        page.commit();
        GRABAEMPR(mode, d, saved);
        if (saved)
            dlg.end(1);
        else if (auto* code = page.find(101))
            code->setFocus();
    };
    page.bindButton(200, ok);
    tk::ButtonSpec cancel;
    cancel.caption = QStringLiteral("&Cancelar");
    cancel.tooltip = QStringLiteral("Cancela inclusión datos");
    cancel.cancel = true;
    cancel.action = [&] { dlg.end(0); };
    page.bindButton(201, cancel);
    // A keyboard user starts in the first field that takes typing and walks
    // the fields with Tab in the order the page shows them; the read-only
    // code and directory (still selectable with the mouse) and the tab of
    // the folder's only page are no stops on the way.
    if (auto* folder = qobject_cast<QTabWidget*>(dlg.form().find(101)))
        folder->tabBar()->setFocusPolicy(Qt::NoFocus);
    for (int id : {101, 111})
        if (QWidget* w = page.find(id);
            w && qobject_cast<QLineEdit*>(w) && qobject_cast<QLineEdit*>(w)->isReadOnly())
            w->setFocusPolicy(Qt::ClickFocus);
    dlg.setOnInit([&] {
        if (QWidget* first = page.find(codeFixed ? 102 : 101)) first->setFocus(Qt::TabFocusReason);
    });
    dlg.run();
    return saved;
}

void DATOSEMPR(const std::string& mode, QWidget* owner) {
    if (!openCatalogue("S")) return;
    if (mode == "I") {
        CompanyData d = newCompanyData(nextCompanyCode());
        PANTAEMPR(d, "I", owner);
    } else {
        MODIEMPR(owner);
    }
    data::CERRAR("Control");
}

void MODIEMPR(QWidget* owner) {
    tk::Dialog dlg(QStringLiteral("ElimEmpr"), owner);
    dlg.setWindowTitle(QStringLiteral("Modificar Empresa"));
    control().goTop();
    CompanyList list(dlg);
    auto modify = [&] {
        if (control().eof()) return;
        CompanyData d = companyDataFromRecord();
        PANTAEMPR(d, "M", &dlg);
        list.refresh();
        dlg.form().setText(102, toQ(trim(d[Name].asString())));
        dlg.form().setText(104, toQ(trim(d[Nit].asString())));
    };
    list.grid.setOnActivate(modify);
    // The template is the delete dialog's: its buttons' pictures and texts
    // are replaced by the modify dialog's own.
    tk::ButtonSpec mod;
    mod.caption = QStringLiteral("&Modificar");
    mod.bitmaps = QStringLiteral("Modif1|Modif2");
    mod.tooltip = QStringLiteral("Modifica los datos de la Empresa");
    mod.action = modify;
    dlg.bindButton(412, mod);
    tk::ButtonSpec cancel;
    cancel.caption = QStringLiteral("&Cancelar");
    cancel.bitmaps = QStringLiteral("Exit1|Exit2");
    cancel.tooltip = QStringLiteral("Cancela modificación de Empresa");
    cancel.cancel = true;
    cancel.action = [&] { dlg.end(0); };
    dlg.bindButton(401, cancel);
    dlg.setOnInit([&] { list.refresh(); });
    dlg.run();
}

bool ELISUBDIR(const std::string& dir, const std::string& sub) {
    std::error_code ec;
    fs::remove_all(fs::path(data::hostPath(dir)) / sub, ec);  // links are removed, never followed
    return !ec;
}

bool BORRAEMPR(const std::string& name, const std::string& camino, const std::string& nit) {
    (void)nit;
    const std::string dir = trim(camino);
    if (xb::upper1252(dir) == "EMP00001") {
        data::interaction().beep();
        alert(QStringLiteral("Empresa de Pruebas no puede ser borrada."),
              QStringLiteral("Atención.....!!!"));
        return false;
    }
    if (!isCompanyDirectory(dir)) {
        data::interaction().beep();
        alert(QStringLiteral("El directorio \"%1\" de esta empresa no es una carpeta de empresa "
                             "(EMP y cinco cifras) "
                             "del directorio de inicio.\nNo se borra nada.")
                  .arg(toQ(dir)),
              QStringLiteral("Atención.....!!!"));
        return false;
    }
    data::CGBELL();
    const QString question =
        QStringLiteral("Seguro desea eliminar la empresa  \"%1\" ?").arg(toQ(trim(name)));
    if (!tk::msgYesNo(question, QStringLiteral("Atención"), QStringLiteral("  &Si  "),
                      QStringLiteral("  &No  "), QApplication::activeWindow()))
        return false;

    // Held against every workstation's selection until its files are gone;
    // this one's own hold goes first, since it is the company being deleted.
    const bool ours = xb::upper1252(dir) == xb::upper1252(sessionDirectory());
    if (ours) releaseCompany();
    CompanyClaim claim(dir);
    if (!claim.claimed()) {
        if (ours) holdCompany(dir);
        data::interaction().beep();
        alert(QStringLiteral("La empresa \"%1\" está en uso en otro equipo.\nNo se borra nada.")
                  .arg(toQ(trim(name))),
              QStringLiteral("Atención.....!!!"));
        return false;
    }

    dbf::WorkArea& wa = control();
    wa.deleteRecord();
    wa.pack();

    // Files first, then every subfolder with whatever it holds, then the directory.
    const fs::path root(data::hostPath(dir));
    std::error_code ec;
    std::vector<std::string> subs;
    for (const auto& e : fs::directory_iterator(root, ec)) {
        if (e.is_directory(ec) && !e.is_symlink(ec))
            subs.push_back(e.path().filename().string());
        else
            fs::remove(e.path(), ec);
    }
    for (const std::string& s : subs) ELISUBDIR(dir, s);
    fs::remove(root, ec);
    return true;
}

void ELIMEMPR(QWidget* owner) {
    if (!openCatalogue("E")) return;
    bool reselect = false;
    {
        tk::Dialog dlg(QStringLiteral("ElimEmpr"), owner);
        dlg.setWindowTitle(QStringLiteral("Borrar una Empresa"));
        control().goTop();
        CompanyList list(dlg);
        tk::ButtonSpec del;
        del.caption = QStringLiteral("&Borrar");
        del.tooltip = QStringLiteral("Borra una Empresa y todo su contenido");
        del.action = [&] {
            dbf::WorkArea& wa = control();
            if (wa.eof()) return;
            const uint32_t here = wa.recno();
            const std::string camino = trim(get("CAMINO").asString());
            if (!BORRAEMPR(get("EMPRESA").asString(), camino, get("NIT").asString())) {
                wa.goTo(here);
                list.refresh();
                return;
            }
            if (xb::upper1252(camino) == xb::upper1252(sessionDirectory())) {
                // The bar no longer names a company that is gone.
                TEXTOSAYBAR(std::string());
                data::interaction().beep();
                alert(QStringLiteral("Debe seleccionar una empresa"), QStringLiteral("Atención"));
                reselect = true;
                dlg.end(0);
                return;
            }
            wa.goTop();
            list.refresh();
        };
        dlg.bindButton(412, del);
        tk::ButtonSpec cancel;
        cancel.caption = QStringLiteral("&Cancelar");
        cancel.tooltip = QStringLiteral("Cancela eliminación de Empresa");
        cancel.cancel = true;
        cancel.action = [&] { dlg.end(0); };
        dlg.bindButton(401, cancel);
        dlg.setOnInit([&] { list.refresh(); });
        dlg.run();
    }
    data::CERRAR("Control");
    if (reselect) SELEEMPR(owner);
}

void registerUpkeepFunctions() {
    auto text = [](xb::Args& a, size_t i) {
        return a[i].type() == 'C' ? a[i].asString() : std::string();
    };
    xb::registerFunction("DATOSEMPR", [text](xb::Args& a) {
        DATOSEMPR(xb::upper1252(trim(text(a, 0))), QApplication::activeWindow());
        return xb::Value();
    });
    xb::registerFunction("ELIMEMPR", [](xb::Args&) {
        ELIMEMPR(QApplication::activeWindow());
        return xb::Value();
    });
    xb::registerFunction("MODIEMPR", [](xb::Args&) {
        if (openCatalogue("S")) {
            MODIEMPR(QApplication::activeWindow());
            data::CERRAR("Control");
        }
        return xb::Value();
    });
    xb::registerFunction("INIARC", [](xb::Args&) {
        INIARC();
        return xb::Value();
    });
    xb::registerFunction("ELISUBDIR", [text](xb::Args& a) {
        return xb::Value::logical(isCompanyDirectory(text(a, 0)) &&
                                  ELISUBDIR(trim(text(a, 0)), trim(text(a, 1))));
    });
}

}  // namespace company
