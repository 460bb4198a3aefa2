#include "company/selection.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QTableView>
#include <cstdio>
#include <memory>

#include "data/catalogue.h"
#include "data/helpers.h"
#include "data/maintenance.h"
#include "data/msgmeter.h"
#include "data/paths.h"
#include "data/session.h"
#include "dbf/locks.h"
#include "dbf/order.h"
#include "dbf/table.h"
#include "dbf/workspace.h"
#include "toolkit/browse.h"
#include "toolkit/browse_dbf.h"
#include "toolkit/dialog.h"
#include "toolkit/msgbox.h"
#include "xbase/codepage.h"
#include "xbase/compiler.h"
#include "xbase/runtime.h"

namespace company {

namespace {

std::function<void(const QString&)>& captionSink() {
    static std::function<void(const QString&)> sink;
    return sink;
}

std::function<void()>& afterChoice() {
    static std::function<void()> action;
    return action;
}

std::string trim(std::string s) {
    const size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

std::string textVar(const char* name) {
    xb::Value v;
    return xb::getVar(name, v) && v.type() == 'C' ? v.asString() : std::string();
}

// The workstation's own folder of the workstation root.
std::string memoryPath() {
    std::string termin = textVar("USERTERMIN");
    if (!termin.empty() && termin.back() == '\\') termin.pop_back();
    return data::hostPath(std::string(data::kWorkstationRoot) + "\\" + termin) + "/" + kMemoryFile;
}

void makeFolder(const std::string& host) {
    if (!host.empty()) QDir().mkpath(QString::fromStdString(host));
}

dbf::WorkArea& control() {
    return *dbf::workspace().area(std::string_view("Control"));
}

xb::Value field(const char* name) {
    dbf::WorkArea& wa = control();
    return wa.get(dbf::workspace().fieldIndex(wa.number(), name));
}

}  // namespace

bool ensureCatalogue() {
    const std::string table = data::hostPath(data::kCompanyCatalogue);
    if (!data::fileExists(data::kCompanyCatalogue)) {
        dbf::Table::create(table.empty() ? std::string(data::kCompanyCatalogue) : table,
                           {{"CODEMPR", 'C', 5, 0},
                            {"CAMINO", 'C', 8, 0},
                            {"EMPRESA", 'C', 40, 0},
                            {"NIT", 'C', 12, 0},
                            {"T_NIT", 'C', 3, 0},
                            {"DIR_EMPR", 'C', 40, 0},
                            {"TELEFONOS", 'C', 20, 0},
                            {"FAX", 'C', 15, 0},
                            {"CIUDAD", 'C', 25, 0},
                            {"PROVINC", 'C', 25, 0},
                            {"FECH_INI", 'D', 8, 0}});
    }
    if (!data::fileExists(data::kCompanyCatalogueBag))
        data::INDEXA(data::kCompanyCatalogue, data::kCompanyCatalogueBag, "CodEmpr",
                     data::kCompanyCatalogueTag);
    return data::fileExists(data::kCompanyCatalogue) &&
           data::fileExists(data::kCompanyCatalogueBag);
}

std::optional<std::string> readRememberedCompany() {
    FILE* f = std::fopen(memoryPath().c_str(), "rb");
    if (!f) return std::nullopt;
    char buf[256];
    const size_t n = std::fread(buf, 1, sizeof buf, f);
    std::fclose(f);
    std::string text(buf, n);
    const std::string key = "CMEMCAM=";
    if (text.rfind(key, 0) != 0) return std::nullopt;
    std::string value = text.substr(key.size());
    const size_t end = value.find('\n');
    if (end == std::string::npos) return std::nullopt;  // cut short: not ours to trust
    return value.substr(0, end);
}

void writeRememberedCompany(const std::string& camino) {
    const std::string path = memoryPath();
    const std::string tmp = path + ".tmp";
    const std::string text = "CMEMCAM=" + camino + "\n";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;  // the choice still holds for this session
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
                    ::fsync(fd) == 0;
    ::close(fd);
    if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) std::remove(tmp.c_str());
}

QString captionText(const std::string& text) {
    QString shown = QString::fromStdString(xb::cp1252ToUtf8(trim(text)));
    shown.replace(QLatin1String("&"), QLatin1String("&&"));
    const int pad = std::max(0, 45 - static_cast<int>(shown.size()));
    return QString(pad / 2, QLatin1Char(' ')) + shown + QString(pad - pad / 2, QLatin1Char(' '));
}

void setCaptionSink(std::function<void(const QString&)> sink) {
    captionSink() = std::move(sink);
}

void TEXTOSAYBAR(const std::string& text) {
    if (captionSink()) captionSink()(captionText(text));
}

namespace {

// The descriptor holding the session company's shared lock, -1 for none.
int& heldFd() {
    static int fd = -1;
    return fd;
}

std::string inUsePath(const std::string& camino) {
    return data::hostPath(trim(camino) + "\\" + data::kInUseFile);
}

}  // namespace

void holdCompany(const std::string& camino) {
    releaseCompany();
    const int fd = ::open(inUsePath(camino).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return;  // a folder this workstation may not write: nothing to guard
    // Refused only while the company is being deleted: nothing left to hold.
    if (!dbf::locks::tryLock(fd, 0, 1, dbf::locks::Kind::Read)) {
        ::close(fd);
        return;
    }
    heldFd() = fd;
}

void releaseCompany() {
    if (heldFd() >= 0) ::close(heldFd());
    heldFd() = -1;
}

CompanyClaim::CompanyClaim(const std::string& camino) {
    fd_ = ::open(inUsePath(camino).c_str(), O_RDWR | O_CLOEXEC);
    // No lock file: no workstation has held the company since it was made.
    if (fd_ < 0) {
        claimed_ = errno == ENOENT;
        return;
    }
    claimed_ = dbf::locks::tryLock(fd_, 0, 1, dbf::locks::Kind::Write);
}

CompanyClaim::~CompanyClaim() {
    if (fd_ >= 0) ::close(fd_);
}

void PUTDATEMPR() {
    const std::string camino = trim(field("CAMINO").asString());
    const std::string empresa = field("EMPRESA").asString();
    xb::createPublic("G_CAMINO");
    xb::assignVar("G_CAMINO", xb::Value::str(camino + "\\"));
    xb::createPublic("G_EMPRESA");
    xb::assignVar("G_EMPRESA", xb::Value::str(empresa));
    TEXTOSAYBAR(empresa);

    // The workstation's folder inside the company, with an empty ContTrm.ini.
    std::string termin = textVar("USERTERMIN").substr(0, 12);
    if (!termin.empty() && termin.back() == '\\') termin.pop_back();
    makeFolder(data::hostPath(camino));
    const std::string folder = data::hostPath(camino + "\\" + termin);
    makeFolder(folder);
    if (FILE* f = std::fopen((folder + "/" + kTermFile).c_str(), "wb")) std::fclose(f);
    holdCompany(camino);
    data::NOMBBASES();
}

bool EMPTY_EMPR(bool chosen) {
    if (!chosen)
        tk::msgStop(QStringLiteral("Debe seleccionar una empresa para continuar"),
                    QStringLiteral("Atención...!!!"));
    return chosen;
}

bool SELEEMPR(QWidget* owner) {
    // 1-2. The catalogue, and the first company when it has none.
    ensureCatalogue();
    const std::string bag = data::kCompanyCatalogueBag;
    if (!data::ABRIR("Control", data::kCompanyCatalogue, "S", {bag})) return false;
    auto empty = [] {
        dbf::WorkArea& wa = control();
        wa.goTop();
        return wa.eof();
    };
    while (empty()) {
        data::CERRAR("Control");
        xb::callFunction("DATOSEMPR", xb::ArgList{xb::Value::str("I")});
        if (!data::ABRIR("Control", data::kCompanyCatalogue, "S", {bag})) return false;
        if (!empty()) break;
        // Nothing to choose: the user may end the program rather than stay.
        if (tk::msgYesNo(
                QStringLiteral(
                    "No hay ninguna empresa para trabajar.\n¿ Desea terminar el programa ?"),
                QStringLiteral("Atención....."))) {
            data::CERRAR("Control");
            return false;
        }
    }

    // 3-4. The remembered company, or the first one.
    dbf::WorkArea& wa = control();
    wa.goTop();
    std::string remembered = trim(field("CAMINO").asString());
    if (auto mem = readRememberedCompany()) remembered = trim(*mem);
    uint32_t highlight = wa.recno();
    for (wa.goTop(); !wa.eof(); wa.skip(1)) {
        if (trim(field("CAMINO").asString()) == remembered) {
            highlight = wa.recno();
            break;
        }
    }
    wa.goTo(highlight);

    // 5-6. The dialog.
    tk::Dialog dlg(QStringLiteral("SelecEmpr"), owner);
    dlg.setBrush(tk::brickBrush());
    auto* view = dlg.ctl<QTableView>(101);
    tk::WorkAreaRows rows(wa);
    tk::Browse grid(
        view, &rows,
        {tk::BrowseColumn{
             QStringLiteral("EMPRESA"), [] { return field("EMPRESA"); }, 280, {}, {}, 0},
         tk::BrowseColumn{QStringLiteral("PATH"), [] { return field("CAMINO"); }, 100, {}, {}, 0}});
    grid.setFrozen(2);
    grid.setRowExtra(3);
    grid.setHeaderExtra(18);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    bool chosen = false;
    grid.setOnActivate([&] {
        chosen = true;
        dlg.end(1);
    });
    grid.setOnKey([&](int) {
        chosen = true;
        return false;
    });
    dlg.setCloseRule([&] { return EMPTY_EMPR(chosen); });
    dlg.setOnInit([&] {
        wa.goTo(highlight);
        grid.syncToRecord();
    });
    dlg.run();

    // 7-8. The highlighted company becomes the session company.
    writeRememberedCompany(trim(field("CAMINO").asString()));
    PUTDATEMPR();
    data::CERRAR("Control");
    // A company whose creation was cut short gets the tables it lacks.
    if (data::tablesIncomplete())
        data::MSGMETER(
            [](data::Meter& m) {
                data::completeTables(m);
                return xb::Value();
            },
            data::kProcessingText, data::kWaitTitle);
    data::HACEPRUEBA();
    if (afterChoice()) afterChoice()();
    return true;
}

void setAfterChoice(std::function<void()> action) {
    afterChoice() = std::move(action);
}

void registerCompanyFunctions() {
    xb::registerFunction("SELEEMPR", [](xb::Args&) {
        SELEEMPR(QApplication::activeWindow());
        return xb::Value();
    });
    xb::registerFunction("PUTDATEMPR", [](xb::Args&) {
        PUTDATEMPR();
        return xb::Value();
    });
    xb::registerFunction("TEXTOSAYBAR", [](xb::Args& a) {
        TEXTOSAYBAR(a[0].type() == 'C' ? a[0].asString() : std::string());
        return xb::Value();
    });
    xb::registerFunction(
        "EMPTY_EMPR", [](xb::Args& a) { return xb::Value::logical(EMPTY_EMPR(!a[0].isEmpty())); });
}

}  // namespace company
