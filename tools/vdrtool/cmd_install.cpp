// vdrtool install DIR: builds a default installation's data files from the
// readable sources in install/ (see sourcesDir() for where they are found):
// the structure templates, the structure catalogue VDRBASES.INI with its bag,
// the company catalogue with the test company and that company's tables and
// bags. A data file that exists is never overwritten, so running it over a
// working installation keeps its data; the help pages and their pictures
// (folder Ayuda), which are no data, are brought up to date.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "command.h"
#include "data/bags.h"
#include "data/catalogue.h"
#include "data/helpers.h"
#include "data/interaction.h"
#include "data/maintenance.h"
#include "data/menutable.h"
#include "data/paths.h"
#include "data/session.h"
#include "data/structures.h"
#include "dbf/table.h"
#include "dbf/workspace.h"
#include "tool_session.h"
#include "xbase/codepage.h"
#include "xbase/date.h"
#include "xbase/runtime.h"

namespace {

namespace fs = std::filesystem;

std::vector<dbf::FieldDef> defs(const std::vector<data::FieldSpec>& f) {
    std::vector<dbf::FieldDef> d;
    for (const auto& x : f) d.push_back({x.name, x.type, x.width, x.decimals});
    return d;
}

// The sources of a new installation: --fuentes DIR when given; else those
// installed with the program, in install/ beside its bin/ folder (as the
// program finds its resources/ there); else, for a vdrtool run from the build
// that made it, the install/ of the source tree it was built from. Never the
// current or the target folder, which hold no sources. Empty when none.
std::string sourcesDir(const std::string& given) {
    if (!given.empty()) return given;
    char exe[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return {};
    exe[n] = 0;
    const fs::path bin = fs::path(exe).parent_path();
    std::error_code ec;
    if (fs::exists(bin.parent_path() / "install" / "structures.txt", ec))
        return (bin.parent_path() / "install").string();
#if defined(VDR_BUILD_BIN_DIR) && defined(VDR_BUILD_SOURCES)
    if (fs::equivalent(bin, VDR_BUILD_BIN_DIR, ec) &&
        fs::exists(fs::path(VDR_BUILD_SOURCES) / "structures.txt", ec))
        return VDR_BUILD_SOURCES;
#endif
    return {};
}

void say(const std::string& s) {
    std::cout << s << "\n";
}

void put(dbf::Table& t, const char* field, const xb::Value& v) {
    int i = t.fieldIndex(field);
    if (i < 0) throw std::runtime_error(std::string("falta el campo ") + field);
    t.putValue(i, v);
}

// The structure catalogue: one record per template.
void buildStructureCatalogue(const std::vector<data::TableSource>& src) {
    const data::TableSource* cat = nullptr;
    for (const auto& t : src)
        if (xb::upper1252(t.file) == data::kStructCatalogue) cat = &t;
    if (!cat) throw std::runtime_error("las fuentes no describen VDRBASES.INI");
    if (!data::fileExists(data::kStructCatalogue)) {
        dbf::Table::create(data::kStructCatalogue, defs(cat->fields));
        auto t = dbf::Table::open(data::kStructCatalogue, {false, false});
        for (const auto& s : src) {
            if (!s.isTemplate) continue;
            t->appendBlank();
            put(*t, "ARCHIVO", xb::Value::str(xb::upper1252(s.file)));
            put(*t, "ESTRUCTURA", xb::Value::memo(data::structureLiteral(s.fields)));
        }
        t->commit();
        say("  creado " + std::string(data::kStructCatalogue));
    }
    if (!data::fileExists(data::kStructCatalogueBag)) {
        data::INDEXA(data::kStructCatalogue, data::kStructCatalogueBag, data::kStructCatalogueKey,
                     data::kStructCatalogueTag, false);
        say("  creado " + std::string(data::kStructCatalogueBag));
    }
}

void buildCompanyCatalogue(const std::vector<data::TableSource>& src) {
    const data::TableSource* cat = nullptr;
    for (const auto& t : src)
        if (xb::upper1252(t.file) == xb::upper1252(data::kCompanyCatalogue)) cat = &t;
    if (!cat) throw std::runtime_error("las fuentes no describen ContEmpr.Ini");
    if (!data::fileExists(data::kCompanyCatalogue)) {
        dbf::Table::create(data::kCompanyCatalogue, defs(cat->fields));
        auto t = dbf::Table::open(data::kCompanyCatalogue, {false, false});
        t->appendBlank();
        put(*t, "CODEMPR", xb::Value::str("00001"));
        put(*t, "CAMINO", xb::Value::str("EMP00001"));
        put(*t, "EMPRESA", xb::Value::str("EMPRESA DE PRUEBAS"));
        put(*t, "T_NIT", xb::Value::str("NIT"));
        put(*t, "FECH_INI", xb::Value::date(xb::todayJulian()));
        t->commit();
        say("  creado " + std::string(data::kCompanyCatalogue) + " con la empresa de pruebas");
    }
    if (!data::fileExists(data::kCompanyCatalogueBag)) {
        int prev = dbf::workspace().current();
        int n = dbf::workspace().open(data::kCompanyCatalogue, "CONTROL", {false, false}, 0);
        struct CloseIt {
            int n, prev;
            ~CloseIt() {
                dbf::workspace().close(n);
                dbf::workspace().select(prev);
            }
        } closeIt{n, prev};
        data::createTag(*dbf::workspace().area(n), data::kCompanyCatalogueBag,
                        data::kCompanyCatalogueTag, data::kCompanyCatalogueKey, "", false);
        say("  creado " + std::string(data::kCompanyCatalogueBag));
    }
}

int runInstall(const vdrtool::Args& args) {
    std::string dir, fuentes;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--fuentes" && i + 1 < args.size())
            fuentes = args[++i];
        else if (dir.empty() && args[i].rfind("--", 0) != 0)
            dir = args[i];
        else
            return vdrtool::fail("argumento no reconocido «" + args[i] + "».");
    }
    if (dir.empty()) return vdrtool::fail("indique la carpeta de la instalación.");
    std::string sources = sourcesDir(fuentes);
    if (sources.empty())
        return vdrtool::fail(
            "no se encuentran las fuentes de la instalación junto al programa; indíquelas con "
            "--fuentes CARPETA.");
    sources = fs::absolute(sources).string();
    std::vector<data::TableSource> src = data::loadStructures(sources + "/structures.txt");

    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) return vdrtool::fail("no se puede crear la carpeta " + dir + ": " + ec.message());
    fs::current_path(dir);

    data::UnattendedInteraction quiet;
    data::ScopedInteraction scoped(quiet);
    data::applySessionSettings();
    data::registerDataFunctions();
    data::createSessionVariables("VDRTOOL");
    // A failure ends the installation with its message instead of a question.
    xb::setErrorHandler([](xb::Error&) { return xb::HandlerAnswer{}; });

    say("Instalación en " + fs::current_path().string());
    for (const auto& t : src) {
        if (!t.isTemplate || data::fileExists(t.file)) continue;
        dbf::Table::create(t.file, defs(t.fields));
        say("  creada la plantilla " + t.file);
    }
    buildStructureCatalogue(src);
    buildCompanyCatalogue(src);
    if (data::buildMenuTable(sources + "/menu/VdrMenu.txt"))
        say("  creado " + std::string(data::kMenuTable) + " con " + data::kMenuBag);

    // The test company's tables, created and indexed as a new company's are.
    fs::create_directories("EMP00001");
    xb::assignVar("G_CAMINO", xb::Value::str("EMP00001\\"));
    data::NOMBBASES();
    bool missingBag = false;
    for (const auto& t : data::tables())
        if (!data::fileExists(data::bagPath(t, "EMP00001\\"))) missingBag = true;
    data::PlainMeter meter;
    meter.onChange = [last = std::string()](const data::PlainMeter& m) mutable {
        if (m.text() != last) say("  " + xb::cp1252ToUtf8(last = m.text()));
    };
    data::INIBASES(meter);
    if (missingBag) data::INDEXBASES(meter);
    data::HACEPRUEBA();
    dbf::workspace().closeAll();
    // The default report scripts go into a new installation's script store.
    if (vdrtool::scriptInstaller && !data::fileExists("cgFuente.dbf") &&
        fs::is_directory(sources + "/scripts")) {
        vdrtool::scriptInstaller(sources);
        say("  creado el almacén de guiones cgFuente con los informes");
    }
    if (fs::is_directory(sources + "/help")) {
        fs::create_directories("Ayuda");
        int copied = 0;
        for (const auto& f : fs::directory_iterator(sources + "/help")) {
            if (!f.is_regular_file()) continue;
            fs::copy_file(f.path(), fs::path("Ayuda") / f.path().filename(),
                          fs::copy_options::overwrite_existing, ec);
            if (ec)
                return vdrtool::fail("no se puede copiar la ayuda " + f.path().string() + ": " +
                                     ec.message());
            ++copied;
        }
        say("  ayuda al día en Ayuda (" + std::to_string(copied) + " ficheros)");
    }
    say("Instalación lista.");
    return 0;
}

}  // namespace

VDRTOOL_COMMAND("install", "CARPETA [--fuentes DIR]",
                "crea los ficheros de datos de una instalación (sin sobrescribir ninguno)",
                runInstall);
