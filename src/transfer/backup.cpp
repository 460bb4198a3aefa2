#include "transfer/backup.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "data/catalogue.h"
#include "data/paths.h"
#include "dbf/error.h"
#include "dbf/locks.h"
#include "dbf/order_tools.h"
#include "dbf/table.h"
#include "transfer/sha256.h"
#include "transfer/zip.h"
#include "xbase/codepage.h"

namespace fs = std::filesystem;

namespace transfer {

namespace {

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("no se puede leer " + path);
    std::ostringstream s;
    s << in.rdbuf();
    if (in.bad()) throw std::runtime_error("no se puede leer " + path);
    return s.str();
}

void writeWhole(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) throw std::runtime_error("no se puede crear " + path);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            ::close(fd);
            throw std::runtime_error("no se pudo escribir " + path + " (¿disco lleno?)");
        }
        done += static_cast<size_t>(n);
    }
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    if (!synced) throw std::runtime_error("no se pudo escribir " + path + " en el disco");
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The company's folder on this file system, without the final separator.
std::string companyFolder(const std::string& camino) {
    std::string d = data::hostPath(camino);
    while (d.size() > 1 && d.back() == '/') d.pop_back();
    return d.empty() ? std::string(".") : d;
}

std::string timestamp(std::time_t t, const char* format) {
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, format, &tm);
    return buf;
}

bool tell(const Progress& p, int done, int total, const std::string& what) {
    return !p || p(done, total, what);
}

// Archived names are one file of the company folder or of one of its
// workstation folders, or in an installation's archive one of those under
// the company's folder, or a file of the installation two folders deep at
// most: nothing that could land outside the folder restored.
bool safeName(const std::string& n) {
    if (n.empty() || n.size() > 200 || n.front() == '/' || n.back() == '/') return false;
    if (std::count(n.begin(), n.end(), '/') > 2) return false;
    std::stringstream parts(n);
    for (std::string part; std::getline(parts, part, '/');) {
        if (part.empty() || part == "." || part == "..") return false;
        for (char c : part)
            if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-'))
                return false;
    }
    return true;
}

bool isJournal(const fs::path& p) {
    return lower(p.extension().string()) == ".jnl";
}

// Files never copied from the installation's own folders: locks, journals
// and the half-written files of a rewrite in progress.
bool isTransient(const fs::path& p) {
    const std::string e = lower(p.extension().string());
    return e == ".lck" || e == ".jnl" || e == ".tmp" || e == ".swp" || e == ".rpl" || e == ".nuevo";
}

// Folders of the installation that are no part of it: a restore's stage and
// the folder it set aside.
bool isStageFolder(const std::string& name) {
    const std::string n = lower(name);
    for (const char* end : {".restaurando", ".anterior"})
        if (n.size() > std::strlen(end) && n.compare(n.size() - std::strlen(end), n.npos, end) == 0)
            return true;
    return false;
}

struct CompanyTable {
    const data::TableDef* def;
    std::string table, memo, bag;  // host paths; memo and bag "" when absent
};

std::vector<CompanyTable> companyTables(const std::string& camino) {
    std::vector<CompanyTable> out;
    for (const data::TableDef& d : data::tables()) {
        if (!d.inCompanyDir) continue;
        CompanyTable t{&d, data::hostPath(data::tablePath(d, camino)), {}, {}};
        if (data::fileExists(data::bagPath(d, camino)))
            t.bag = data::hostPath(data::bagPath(d, camino));
        out.push_back(std::move(t));
    }
    // The prospects first: every save of a prospect holds its record (or the
    // file) from before its first dependent row until after the last one,
    // so once the prospects' file is locked no prospect is half written, and
    // none can start until the snapshot is taken.
    std::stable_partition(out.begin(), out.end(), [](const CompanyTable& t) {
        return std::string(t.def->alias) == "Prospecto";
    });
    return out;
}

void lockWaiting(dbf::Table& t, int waitMs, const std::string& name) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (!t.lockFile()) {
        if (std::chrono::steady_clock::now() >= until)
            throw std::runtime_error("la tabla " + name +
                                     " sigue bloqueada por otra estación; no se ha hecho la copia. "
                                     "Inténtelo de nuevo más tarde.");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

ArchivedFile describe(const std::string& name, const std::string& bytes) {
    ArchivedFile f;
    f.name = name;
    f.size = bytes.size();
    f.sha256 = sha256Hex(bytes);
    return f;
}

// What goes into an archive, file by file, with its line of the manifest.
struct Snapshot {
    std::vector<ZipEntry> entries;
    std::vector<ArchivedFile> files;
    std::vector<std::string> notes;

    void add(const std::string& name, std::string bytes, int64_t records = -1, int64_t live = -1) {
        ArchivedFile f = describe(name, bytes);
        f.records = records;
        f.live = live;
        files.push_back(std::move(f));
        entries.push_back({name, std::move(bytes)});
    }
};

using Step = std::function<bool(const std::string& what)>;

// A table (locked by the caller) with its counts, and its memo file.
void addTable(dbf::Table& t, const std::string& path, const std::string& name, Snapshot& s) {
    const std::string bytes = readWhole(path);
    int64_t live = 0;
    for (uint32_t r = 1; r <= t.recCount(); ++r)
        if (t.read(r) && !t.deleted()) ++live;
    s.add(name, bytes, t.recCount(), live);
    std::error_code ec;
    if (t.hasMemo() && fs::exists(t.memoPath(), ec)) {
        const fs::path memo(t.memoPath());
        s.add((fs::path(name).parent_path() / memo.filename()).generic_string(),
              readWhole(memo.string()));
    }
}

// Every table, memo and bag of the company whose folder is `camino`, named
// `prefix` + their name in the folder: every table locked at once and kept
// locked until all are copied, so that the copy agrees with itself across
// tables. False when cancelled.
bool snapshotCompany(const std::string& camino, const std::string& prefix, int waitMs,
                     const Step& step, Snapshot& s) {
    std::error_code ec;
    std::vector<std::unique_ptr<dbf::Table>> open;
    for (const CompanyTable& ct : companyTables(camino)) {
        const std::string name = prefix + fs::path(ct.table).filename().string();
        if (!step("Bloqueando " + name)) return false;
        try {
            open.push_back(dbf::Table::open(ct.table, {true, false}));
        } catch (const dbf::DbfError& e) {
            throw std::runtime_error("no se puede abrir " + name + ": " + e.what());
        }
        lockWaiting(*open.back(), waitMs, name);
        addTable(*open.back(), ct.table, name, s);
        if (!ct.bag.empty() && fs::exists(ct.bag, ec))
            s.add(prefix + fs::path(ct.bag).filename().string(), readWhole(ct.bag));
    }
    // A save that died half way left its journal, which settles it the next
    // time the company is opened: it goes with the tables it concerns, so
    // that the restored company settles it the same way.
    for (const auto& e : fs::directory_iterator(companyFolder(camino), ec)) {
        if (!e.is_directory(ec)) continue;
        for (const auto& j : fs::directory_iterator(e.path(), ec)) {
            const std::string n =
                prefix + e.path().filename().string() + "/" + j.path().filename().string();
            if (j.is_regular_file(ec) && isJournal(j.path()) && safeName(n))
                s.add(n, readWhole(j.path().string()));
        }
    }
    for (auto& t : open) t->unlockAll();
    return true;
}

// The companies of the catalogue of the installation `root` (its folder,
// "" for the current one), as the catalogue names them.
std::vector<Manifest::Company> catalogueOf(const std::string& root) {
    std::vector<Manifest::Company> out;
    const std::string path =
        root.empty() ? data::hostPath(data::kCompanyCatalogue)
                     : data::hostPath(root + "/" + std::string(data::kCompanyCatalogue));
    auto t = dbf::Table::open(path, {true, true});
    const int fCode = t->fieldIndex("CODEMPR"), fPath = t->fieldIndex("CAMINO"),
              fName = t->fieldIndex("EMPRESA");
    auto trim = [](std::string v) {
        while (!v.empty() && v.back() == ' ') v.pop_back();
        while (!v.empty() && v.front() == ' ') v.erase(0, 1);
        return v;
    };
    for (uint32_t r = 1; r <= t->recCount(); ++r) {
        if (!t->read(r) || t->deleted()) continue;
        Manifest::Company c{trim(t->getString(fCode)), trim(t->getString(fPath)),
                            xb::cp1252ToUtf8(trim(t->getString(fName)))};
        while (!c.folder.empty() && (c.folder.back() == '\\' || c.folder.back() == '/'))
            c.folder.pop_back();
        if (!c.code.empty()) out.push_back(std::move(c));
    }
    return out;
}

// The installation's own files (everything in the current directory but
// the companies' folders, the folder of the copies and what isTransient()
// names): the tables at its root each under its lock, all held until the
// last file is copied. False when cancelled.
bool snapshotShared(const std::vector<std::string>& companyFolders, const std::string& copies,
                    int waitMs, const Step& step, Snapshot& s) {
    std::error_code ec;
    std::vector<fs::path> rootFiles;
    for (const auto& e : fs::directory_iterator(".", ec))
        if (e.is_regular_file(ec)) rootFiles.push_back(e.path().filename());
    std::sort(rootFiles.begin(), rootFiles.end());
    std::vector<std::unique_ptr<dbf::Table>> open;
    std::vector<std::string> taken;
    for (const fs::path& f : rootFiles) {
        const std::string ext = lower(f.extension().string()), name = f.string();
        if (ext != ".dbf" && ext != ".ini") continue;
        std::unique_ptr<dbf::Table> t;
        try {
            t = dbf::Table::open(name, {true, false});
        } catch (const dbf::DbfError&) {
            continue;  // not a table: copied as any other file
        }
        if (!step("Bloqueando " + name)) return false;
        lockWaiting(*t, waitMs, name);
        addTable(*t, name, name, s);
        taken.push_back(lower(name));
        if (t->hasMemo()) taken.push_back(lower(fs::path(t->memoPath()).filename().string()));
        open.push_back(std::move(t));
    }
    if (!step("Copiando los ficheros comunes")) return false;
    auto skipFolder = [&](const fs::directory_entry& e, int depth) {
        const std::string n = lower(e.path().filename().string());
        if (isStageFolder(n) || fs::equivalent(e.path(), copies, ec)) return true;
        for (const std::string& c : companyFolders)
            if (depth == 0 && lower(c) == n) return true;
        return false;
    };
    std::vector<std::pair<std::string, fs::path>> others;
    for (auto it = fs::recursive_directory_iterator(".", ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string rel = fs::relative(it->path(), ".", ec).generic_string();
        if (it->is_directory(ec)) {
            if (skipFolder(*it, it.depth())) it.disable_recursion_pending();
            continue;
        }
        if (!it->is_regular_file(ec) || isTransient(it->path()) ||
            (it.depth() == 0 && std::find(taken.begin(), taken.end(), lower(rel)) != taken.end()))
            continue;
        if (!safeName(rel)) {
            s.notes.push_back("no se copia " + rel + ": nombre o profundidad no admitidos");
            continue;
        }
        others.emplace_back(rel, it->path());
    }
    std::sort(others.begin(), others.end());
    for (const auto& [rel, path] : others) s.add(rel, readWhole(path.string()));
    for (auto& t : open) t->unlockAll();
    return true;
}

// The archives named `stem`-<date>-<time>.zip in `folder`, oldest first.
std::vector<fs::path> archivesOf(const std::string& folder, const std::string& code) {
    std::vector<std::pair<std::string, fs::path>> found;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) {
        const std::string n = e.path().filename().string();
        if (e.is_regular_file(ec) && n.size() > code.size() + 5 && n.rfind(code + "-", 0) == 0 &&
            n.substr(n.size() - 4) == ".zip")
            found.emplace_back(n.substr(0, n.size() - 4), e.path());
    }
    std::sort(found.begin(), found.end());
    std::vector<fs::path> out;
    for (auto& f : found) out.push_back(f.second);
    return out;
}

// Writes the archive `folder`/`stem`-<date>-<time>.zip of the snapshot with
// its manifest first, whole or not at all, and rotates the archives of the
// same stem. An empty result when cancelled.
BackupResult writeArchive(const std::string& folder, const std::string& stem, Manifest m,
                          Snapshot& s, std::time_t now, int keep, const Step& step) {
    std::error_code ec;
    m.files = s.files;
    s.entries.insert(s.entries.begin(), {kManifestName, m.text()});
    if (!step("Comprimiendo")) return {};
    const std::string zip = makeZip(s.entries, now);
    const std::string base =
        (fs::path(folder) / (stem + "-" + timestamp(now, "%Y%m%d-%H%M%S"))).string();
    std::string path = base + ".zip";
    for (int n = 2; fs::exists(path, ec); ++n) path = base + "-" + std::to_string(n) + ".zip";
    if (!step("Escribiendo " + path)) return {};
    const std::string tmp = path + ".tmp";
    try {
        writeWhole(tmp, zip);
    } catch (...) {
        fs::remove(tmp, ec);
        throw;
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        fs::remove(tmp, ec);
        throw std::runtime_error("no se pudo poner en su sitio " + path);
    }
    data::syncPath(folder);

    BackupResult r;
    r.archive = path;
    r.manifest = std::move(m);
    r.notes = s.notes;
    if (keep > 0) {
        std::vector<fs::path> all = archivesOf(folder, stem);
        for (size_t i = 0; i + static_cast<size_t>(keep) < all.size(); ++i)
            if (fs::remove(all[i], ec)) r.removed.push_back(all[i].string());
    }
    return r;
}

Manifest newManifest(std::time_t now) {
    Manifest m;
    m.version = VDR_PROGRAM_VERSION;
    m.date = timestamp(now, "%Y-%m-%d %H:%M:%S");
    return m;
}

void requireFolder(const std::string& folder) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        throw std::runtime_error("la carpeta de copias " + folder + " no existe");
}

}  // namespace

std::string companyCodeOf(const std::string& camino) {
    std::string want = lower(companyFolder(camino));
    auto t = dbf::Table::open(data::kCompanyCatalogue, {true, true});
    const int fCode = t->fieldIndex("CODEMPR"), fPath = t->fieldIndex("CAMINO");
    const uint32_t n = t->recCount();
    for (uint32_t r = 1; r <= n; ++r) {
        if (!t->read(r) || t->deleted()) continue;
        std::string path = t->getString(fPath);
        while (!path.empty() && path.back() == ' ') path.pop_back();
        if (!path.empty() && lower(companyFolder(path)) == want) {
            std::string code = t->getString(fCode);
            while (!code.empty() && code.back() == ' ') code.pop_back();
            return code;
        }
    }
    throw std::runtime_error("la empresa de la carpeta " + camino + " no está en el catálogo");
}

// ------------------------------------------------------------------ manifest

std::string Manifest::text() const {
    std::ostringstream o;
    o << "VDRCOPIA 1\n";
    if (installation) o << "tipo instalacion\n";
    o << "programa " << version << "\nfecha " << date << "\n";
    if (!installation) o << "empresa " << company << "\nnombre " << companyName << "\n";
    for (const Company& c : companies)
        o << "incluye " << c.code << " " << c.folder << " " << c.name << "\n";
    for (const ArchivedFile& f : files) {
        o << "archivo " << f.name << " " << f.size << " " << f.sha256;
        if (f.records >= 0) o << " registros " << f.records << " activos " << f.live;
        o << "\n";
    }
    o << "fin\n";
    return o.str();
}

Manifest Manifest::parse(const std::string& text) {
    Manifest m;
    std::istringstream in(text);
    std::string line;
    bool first = true, ended = false, bad = false;
    while (!bad && std::getline(in, line)) {
        std::istringstream l(line);
        std::string w;
        l >> w;
        if (first) {
            if (line != "VDRCOPIA 1") break;
            first = false;
            continue;
        }
        auto rest = [&] {
            std::string r;
            std::getline(l >> std::ws, r);
            return r;
        };
        if (w == "tipo")
            m.installation = rest() == "instalacion";
        else if (w == "programa")
            m.version = rest();
        else if (w == "fecha")
            m.date = rest();
        else if (w == "empresa")
            m.company = rest();
        else if (w == "nombre")
            m.companyName = rest();
        else if (w == "incluye") {
            Company c;
            l >> c.code >> c.folder;
            c.name = rest();
            bad = c.code.empty() || !safeName(c.folder) || c.folder.find('/') != std::string::npos;
            m.companies.push_back(std::move(c));
        } else if (w == "archivo") {
            ArchivedFile f;
            std::string k1, k2;
            l >> f.name >> f.size >> f.sha256;
            if (l >> k1 >> f.records >> k2 >> f.live) bad = k1 != "registros" || k2 != "activos";
            bad = bad || f.sha256.size() != 64 || !safeName(f.name);
            m.files.push_back(std::move(f));
        } else if (w == "fin") {
            ended = true;
            break;
        }
    }
    if (first || !ended || bad || (m.company.empty() && !m.installation))
        throw std::runtime_error("el manifiesto de la copia está dañado o no es de este programa");
    return m;
}

// -------------------------------------------------------------------- backup

BackupResult backupCompany(const std::string& camino, const std::string& folder,
                           const BackupOptions& o) {
    requireFolder(folder);
    const int total = static_cast<int>(companyTables(camino).size()) + 2;
    int done = 0;
    const Step step = [&](const std::string& what) {
        return tell(o.progress, done++, total, what);
    };
    const std::time_t now = std::time(nullptr);
    Manifest m = newManifest(now);
    m.company = o.companyCode;
    m.companyName = o.companyName;
    Snapshot s;
    if (!snapshotCompany(camino, "", o.lockWaitMs, step, s)) return {};
    BackupResult r = writeArchive(folder, o.companyCode, std::move(m), s, now, o.keep, step);
    if (!r.archive.empty()) tell(o.progress, total, total, "");
    return r;
}

BackupResult backupInstallation(const std::string& folder, const BackupOptions& o) {
    requireFolder(folder);
    if (!data::fileExists(data::kCompanyCatalogue))
        throw std::runtime_error(std::string("esta carpeta no es una instalación (falta ") +
                                 data::kCompanyCatalogue + ")");
    const std::time_t now = std::time(nullptr);
    Manifest m = newManifest(now);
    m.installation = true;
    m.companies = catalogueOf("");
    std::vector<std::string> folders;
    for (const Manifest::Company& c : m.companies) {
        if (!safeName(c.folder) || c.folder.find('/') != std::string::npos ||
            c.folder.find('\\') != std::string::npos || c.folder.find(':') != std::string::npos)
            throw std::runtime_error("la carpeta «" + c.folder + "» de la empresa " + c.code +
                                     " no es una carpeta de la instalación; la copia de toda la "
                                     "instalación sólo recoge las empresas de su carpeta");
        if (!data::dirExists(c.folder))
            throw std::runtime_error("falta la carpeta " + c.folder + " de la empresa " + c.code);
        folders.push_back(data::filePart(data::hostPath(c.folder)));
    }
    const int total = static_cast<int>(m.companies.size() * (companyTables("").size() + 1)) + 16;
    int done = 0;
    const Step step = [&](const std::string& what) {
        return tell(o.progress, std::min(done++, total - 1), total, what);
    };
    Snapshot s;
    if (!snapshotShared(folders, folder, o.lockWaitMs, step, s)) return {};
    // Each company as its own snapshot, one after the other: a company's
    // tables are never all locked while another's are.
    for (size_t i = 0; i < m.companies.size(); ++i) {
        m.companies[i].folder = folders[i];
        if (!step("Empresa " + m.companies[i].code)) return {};
        if (!snapshotCompany(m.companies[i].folder + "\\", folders[i] + "/", o.lockWaitMs, step, s))
            return {};
    }
    BackupResult r = writeArchive(folder, kInstallationArchive, std::move(m), s, now, o.keep, step);
    if (!r.archive.empty()) tell(o.progress, total, total, "");
    return r;
}

// ------------------------------------------------------------------- restore

namespace {

// An archive read whole, its manifest parsed and every file checked against it.
struct Loaded {
    std::vector<ZipEntry> entries;
    Manifest m;

    const ZipEntry* entry(const std::string& name) const {
        for (const ZipEntry& e : entries)
            if (e.name == name) return &e;
        return nullptr;
    }
    const ArchivedFile* archived(const std::string& name) const {
        for (const ArchivedFile& f : m.files)
            if (lower(f.name) == lower(name)) return &f;
        return nullptr;
    }
};

Loaded loadArchive(const std::string& archive) {
    Loaded l;
    try {
        l.entries = readZip(readWhole(archive), true);
    } catch (const std::runtime_error& e) {
        throw std::runtime_error("la copia " + archive + " no se puede usar: " + e.what());
    }
    const ZipEntry* me = l.entry(kManifestName);
    if (!me) throw std::runtime_error("la copia " + archive + " no tiene manifiesto");
    l.m = Manifest::parse(me->data);
    if (l.entries.size() != l.m.files.size() + 1)
        throw std::runtime_error("la copia tiene archivos que su manifiesto no nombra");
    for (const ArchivedFile& f : l.m.files) {
        const ZipEntry* e = l.entry(f.name);
        if (!e) throw std::runtime_error("falta " + f.name + " en la copia");
        if (e->data.size() != f.size || sha256Hex(e->data) != f.sha256)
            throw std::runtime_error("la suma de control de " + f.name +
                                     " no coincide: la copia está dañada");
    }
    return l;
}

// Throws unless the archive holds every table of a company under `prefix`.
void requireCompanyTables(const Loaded& l, const std::string& prefix) {
    for (const data::TableDef& d : data::tables()) {
        const ArchivedFile* f = l.archived(prefix + d.file);
        if (d.inCompanyDir && (!f || f->records < 0))
            throw std::runtime_error("la copia no contiene la tabla " + prefix + d.file);
    }
}

// The bag that goes with the table file `name`, when the program names one.
std::string bagOf(const std::string& name) {
    const std::string file = lower(fs::path(name).filename().string());
    for (const data::TableDef& d : data::tables())
        if (lower(d.file) == file) return d.bag;
    if (file == lower(data::kCompanyCatalogue)) return data::kCompanyCatalogueBag;
    if (file == lower(data::kStructCatalogue)) return data::kStructCatalogueBag;
    return {};
}

// A folder beside `dir` for putting a restored one together (the same file
// system, so that the exchange is one rename), removed when it goes.
struct Stage {
    explicit Stage(const std::string& dir) : path(dir + ".restaurando") {
        std::error_code ec;
        fs::remove_all(path, ec);
        if (!fs::create_directory(path, ec))
            throw std::runtime_error("no se puede crear la carpeta " + path);
    }
    ~Stage() {
        std::error_code e;
        if (!path.empty()) fs::remove_all(path, e);
    }
    Stage(const Stage&) = delete;
    Stage& operator=(const Stage&) = delete;
    std::string path;
};

// Every file of the archive written in `stage`, then every table checked
// with its bag and its count against the manifest.
void extractAndCheck(const Loaded& l, const std::string& stage, const Progress& progress, int step,
                     int total) {
    std::error_code ec;
    for (const ArchivedFile& f : l.m.files) {
        const fs::path p = fs::path(stage) / f.name;
        if (f.name.find('/') != std::string::npos) fs::create_directories(p.parent_path(), ec);
        writeWhole(p.string(), l.entry(f.name)->data);
    }
    tell(progress, step, total, "Comprobando las tablas");
    std::vector<std::string> faults;
    for (const ArchivedFile& f : l.m.files) {
        if (f.records < 0) continue;
        const std::string path = (fs::path(stage) / f.name).string();
        try {
            std::vector<std::string> found;
            uint32_t count = 0;
            {
                auto t = dbf::Table::open(path, {true, true});
                found = t->check();
                count = t->recCount();
            }
            if (count != f.records)
                found.push_back("tiene " + std::to_string(count) + " registros y el manifiesto " +
                                std::to_string(f.records));
            const std::string bag = bagOf(f.name);
            const std::string bagName = (fs::path(f.name).parent_path() / bag).generic_string();
            if (!bag.empty())
                if (const ArchivedFile* b = l.archived(bagName)) {
                    std::vector<std::string> more =
                        dbf::checkBags(path, {(fs::path(stage) / b->name).string()});
                    found.insert(found.end(), more.begin(), more.end());
                }
            for (const std::string& s : found) faults.push_back(f.name + ": " + s);
        } catch (const dbf::DbfError& e) {
            faults.push_back(f.name + ": " + e.what());
        }
    }
    if (!faults.empty()) {
        std::string all;
        for (const std::string& s : faults) all += "\n  " + s;
        throw std::runtime_error("las tablas de la copia no pasan la comprobación:" + all);
    }
}

// Every table of the company whose folder is `camino` taken exclusively:
// refused while the company is open anywhere.
void holdTables(const std::string& camino, const std::string& code,
                std::vector<std::unique_ptr<dbf::Table>>& held) {
    std::error_code ec;
    for (const CompanyTable& ct : companyTables(camino)) {
        if (!fs::exists(ct.table, ec)) continue;
        try {
            held.push_back(dbf::Table::open(ct.table, {false, true}));
        } catch (const dbf::DbfError&) {
            throw std::runtime_error("la empresa " + code + " está en uso en otra estación (" +
                                     fs::path(ct.table).filename().string() +
                                     "); ciérrela en todas antes de restaurar. No se ha cambiado "
                                     "nada.");
        }
    }
}

// What `dir` holds and the archive does not (workstations' folders, files
// of no table) goes into `stage` too, but not a journal of a save that
// died: it belongs to the old tables.
void carryOver(const std::string& dir, const std::string& stage, const Loaded& l) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::path rel = fs::relative(it->path(), dir, ec);
        const fs::path to = fs::path(stage) / rel;
        if (it->is_directory(ec)) {
            if (isStageFolder(rel.filename().string()))
                it.disable_recursion_pending();
            else
                fs::create_directories(to, ec);
        } else if (!isJournal(it->path()) && !l.archived(rel.generic_string()) &&
                   !fs::exists(to, ec)) {
            fs::create_hard_link(it->path(), to, ec);
            if (ec) fs::copy_file(it->path(), to, ec);
            if (ec) throw std::runtime_error("no se pudo copiar " + it->path().string());
        }
    }
}

void syncFolders(const std::string& stage) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(stage, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec))
        if (it->is_directory(ec)) data::syncPath(it->path().string());
    data::syncPath(stage);
}

// One step: the two folders exchange their names; `stage` ends up holding
// the old one, removed with it.
void exchange(Stage& stage, const std::string& dir) {
    if (::renameat2(AT_FDCWD, stage.path.c_str(), AT_FDCWD, dir.c_str(), RENAME_EXCHANGE) != 0) {
        // A file system without the exchange: two renames, the old folder
        // kept aside until the new one is in place.
        const std::string old = dir + ".anterior";
        std::error_code ec;
        fs::remove_all(old, ec);
        if (::rename(dir.c_str(), old.c_str()) != 0)
            throw std::runtime_error("no se pudo apartar la carpeta " + dir);
        if (::rename(stage.path.c_str(), dir.c_str()) != 0) {
            ::rename(old.c_str(), dir.c_str());
            throw std::runtime_error("no se pudo poner en su sitio la carpeta restaurada");
        }
        stage.path = old;
    }
    const fs::path parent = fs::path(dir).parent_path();
    data::syncPath(parent.empty() ? std::string(".") : parent.string());
}

}  // namespace

Manifest readManifest(const std::string& archive) {
    std::vector<ZipEntry> entries;
    try {
        entries = readZip(readWhole(archive), true);
    } catch (const std::runtime_error& e) {
        throw std::runtime_error("la copia " + archive + " no se puede usar: " + e.what());
    }
    for (const ZipEntry& e : entries)
        if (e.name == kManifestName) return Manifest::parse(e.data);
    throw std::runtime_error("la copia " + archive + " no tiene manifiesto");
}

RestoreResult restoreCompany(const std::string& camino, const std::string& code,
                             const std::string& archive, const Progress& progress) {
    const std::string dir = companyFolder(camino);
    if (!tell(progress, 0, 5, "Leyendo " + archive)) return {};
    const Loaded l = loadArchive(archive);
    if (l.m.installation)
        throw std::runtime_error("la copia " + archive +
                                 " es de toda la instalación, no de una empresa");
    if (l.m.company != code)
        throw std::runtime_error("la copia es de la empresa " + l.m.company + ", no de la " + code);
    requireCompanyTables(l, "");

    if (!tell(progress, 1, 5, "Extrayendo")) return {};
    Stage stage(dir);
    extractAndCheck(l, stage.path, progress, 2, 5);

    // Nobody may have the company open: every table taken exclusively, and
    // kept so until the exchange (who opens it then finds the restored one).
    if (!tell(progress, 3, 5, "Comprobando que la empresa no está en uso")) return {};
    std::vector<std::unique_ptr<dbf::Table>> held;
    holdTables(camino, code, held);
    carryOver(dir, stage.path, l);
    syncFolders(stage.path);

    if (!tell(progress, 4, 5, "Sustituyendo los archivos")) return {};
    exchange(stage, dir);
    held.clear();
    tell(progress, 5, 5, "");
    return {l.m};
}

RestoreResult restoreInstallation(const std::string& target, const std::string& archive,
                                  const Progress& progress) {
    std::error_code ec;
    std::string dir = fs::absolute(target, ec).lexically_normal().string();
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (!tell(progress, 0, 5, "Leyendo " + archive)) return {};
    const Loaded l = loadArchive(archive);
    if (!l.m.installation)
        throw std::runtime_error("la copia " + archive + " es de la empresa " + l.m.company +
                                 ", no de toda la instalación");
    if (!l.archived(data::kCompanyCatalogue))
        throw std::runtime_error(std::string("la copia no contiene el catálogo de empresas ") +
                                 data::kCompanyCatalogue);
    for (const Manifest::Company& c : l.m.companies) requireCompanyTables(l, c.folder + "/");

    // The folder restored into: new, empty, or an installation.
    const bool existed = fs::is_directory(dir, ec);
    const bool installed =
        existed && fs::exists(data::hostPath(dir + "/" + data::kCompanyCatalogue));
    if (existed && !installed && !fs::is_empty(dir, ec))
        throw std::runtime_error("la carpeta " + dir +
                                 " no está vacía y no es una instalación; elija una carpeta vacía");
    if (!existed && !fs::create_directory(dir, ec))
        throw std::runtime_error("no se puede crear la carpeta " + dir);
    struct DropNew {
        std::string path;
        ~DropNew() {
            std::error_code e;
            if (!path.empty()) fs::remove(path, e);  // only while still empty
        }
    } dropNew{existed ? std::string() : dir};

    if (!tell(progress, 1, 5, "Extrayendo")) return {};
    Stage stage(dir);
    extractAndCheck(l, stage.path, progress, 2, 5);

    // Nobody may be using the installation: each company's EnUso.lck and
    // every table taken exclusively, the shared tables too, all kept until
    // the exchange.
    if (!tell(progress, 3, 5, "Comprobando que la instalación no está en uso")) return {};
    std::vector<std::unique_ptr<dbf::Table>> held;
    struct Claims {
        std::vector<int> fds;
        ~Claims() {
            for (int fd : fds) ::close(fd);
        }
    } claims;
    if (installed) {
        std::vector<Manifest::Company> using_ = catalogueOf(dir);
        for (const Manifest::Company& c : l.m.companies)
            if (std::none_of(using_.begin(), using_.end(), [&](const Manifest::Company& u) {
                    return lower(u.folder) == lower(c.folder);
                }))
                using_.push_back(c);
        for (const Manifest::Company& c : using_) {
            const std::string camino = dir + "/" + c.folder;
            if (!data::dirExists(camino)) continue;
            const int fd =
                ::open(data::hostPath(camino + "/" + data::kInUseFile).c_str(), O_RDWR | O_CLOEXEC);
            if (fd >= 0) {
                claims.fds.push_back(fd);
                if (!dbf::locks::tryLock(fd, 0, 1, dbf::locks::Kind::Write))
                    throw std::runtime_error("la empresa " + c.code + " (" + c.folder +
                                             ") está en uso en otra estación; cierre el programa "
                                             "en todas antes de restaurar. No se ha cambiado "
                                             "nada.");
            }
            holdTables(camino + "\\", c.code, held);
        }
        for (const auto& e : fs::directory_iterator(dir, ec)) {
            const std::string ext = lower(e.path().extension().string());
            if (!e.is_regular_file(ec) || (ext != ".dbf" && ext != ".ini")) continue;
            try {
                held.push_back(dbf::Table::open(e.path().string(), {false, true}));
            } catch (const dbf::DbfError& x) {
                if (!x.sharingViolation()) continue;  // no table: nobody keeps it open
                throw std::runtime_error("la instalación está en uso en otra estación (" +
                                         e.path().filename().string() +
                                         " abierta); cierre el programa en todas antes de "
                                         "restaurar. No se ha cambiado nada.");
            }
        }
        carryOver(dir, stage.path, l);
    }
    syncFolders(stage.path);

    if (!tell(progress, 4, 5, "Sustituyendo los archivos")) return {};
    exchange(stage, dir);
    dropNew.path.clear();
    held.clear();
    // This process's own directory may have been the one exchanged.
    if (fs::equivalent(fs::current_path(ec), stage.path, ec)) fs::current_path(dir, ec);
    tell(progress, 5, 5, "");
    return {l.m};
}

}  // namespace transfer
