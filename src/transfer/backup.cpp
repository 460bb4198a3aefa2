#include "transfer/backup.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
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
#include "dbf/order_tools.h"
#include "dbf/table.h"
#include "transfer/sha256.h"
#include "transfer/zip.h"

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
// workstation folders: nothing that could land outside it.
bool safeName(const std::string& n) {
    if (n.empty() || n.size() > 200 || n.front() == '/' || n.back() == '/') return false;
    if (std::count(n.begin(), n.end(), '/') > 1) return false;
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

// The archives of `code` in `folder`, oldest first (names carry the time).
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
    o << "VDRCOPIA 1\nprograma " << version << "\nfecha " << date << "\nempresa " << company
      << "\nnombre " << companyName << "\n";
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
    bool first = true, ended = false;
    while (std::getline(in, line)) {
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
        if (w == "programa")
            m.version = rest();
        else if (w == "fecha")
            m.date = rest();
        else if (w == "empresa")
            m.company = rest();
        else if (w == "nombre")
            m.companyName = rest();
        else if (w == "archivo") {
            ArchivedFile f;
            std::string k1, k2;
            l >> f.name >> f.size >> f.sha256;
            if (l >> k1 >> f.records >> k2 >> f.live) {
                if (k1 != "registros" || k2 != "activos") break;
            }
            if (f.sha256.size() != 64 || !safeName(f.name)) break;
            m.files.push_back(std::move(f));
        } else if (w == "fin") {
            ended = true;
            break;
        }
    }
    if (first || !ended || m.company.empty())
        throw std::runtime_error("el manifiesto de la copia está dañado o no es de este programa");
    return m;
}

// -------------------------------------------------------------------- backup

BackupResult backupCompany(const std::string& camino, const std::string& folder,
                           const BackupOptions& o) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        throw std::runtime_error("la carpeta de copias " + folder + " no existe");
    const std::string dir = companyFolder(camino);
    std::vector<CompanyTable> tables = companyTables(camino);
    const int total = static_cast<int>(tables.size()) + 2;

    std::vector<ZipEntry> entries;
    Manifest m;
    m.version = VDR_PROGRAM_VERSION;
    m.company = o.companyCode;
    m.companyName = o.companyName;
    const std::time_t now = std::time(nullptr);
    m.date = timestamp(now, "%Y-%m-%d %H:%M:%S");
    {
        // Every table locked at once and kept locked until all are copied:
        // the copy agrees with itself across tables.
        std::vector<std::unique_ptr<dbf::Table>> open;
        int step = 0;
        for (const CompanyTable& ct : tables) {
            const std::string name = fs::path(ct.table).filename().string();
            if (!tell(o.progress, step++, total, "Bloqueando " + name)) return {};
            try {
                open.push_back(dbf::Table::open(ct.table, {true, false}));
            } catch (const dbf::DbfError& e) {
                throw std::runtime_error("no se puede abrir " + name + ": " + e.what());
            }
            dbf::Table& t = *open.back();
            lockWaiting(t, o.lockWaitMs, name);
            const std::string bytes = readWhole(ct.table);
            ArchivedFile f = describe(name, bytes);
            f.records = t.recCount();
            f.live = 0;
            for (uint32_t r = 1; r <= t.recCount(); ++r)
                if (t.read(r) && !t.deleted()) ++f.live;
            m.files.push_back(f);
            entries.push_back({name, bytes});
            for (const std::string& extra : {t.hasMemo() ? t.memoPath() : std::string(), ct.bag}) {
                if (extra.empty() || !fs::exists(extra, ec)) continue;
                const std::string n = fs::path(extra).filename().string();
                const std::string b = readWhole(extra);
                m.files.push_back(describe(n, b));
                entries.push_back({n, b});
            }
        }
        // A save that died half way left its journal, which settles it the
        // next time the company is opened: it goes with the tables it
        // concerns, so that the restored company settles it the same way.
        for (const auto& e : fs::directory_iterator(dir, ec)) {
            if (!e.is_directory(ec)) continue;
            for (const auto& j : fs::directory_iterator(e.path(), ec)) {
                const std::string n =
                    e.path().filename().string() + "/" + j.path().filename().string();
                if (!j.is_regular_file(ec) || !isJournal(j.path()) || !safeName(n)) continue;
                const std::string b = readWhole(j.path().string());
                m.files.push_back(describe(n, b));
                entries.push_back({n, b});
            }
        }
        for (auto& t : open) t->unlockAll();
    }
    entries.insert(entries.begin(), {kManifestName, m.text()});
    if (!tell(o.progress, total - 2, total, "Comprimiendo")) return {};
    const std::string zip = makeZip(entries, now);

    const std::string stem =
        (fs::path(folder) / (o.companyCode + "-" + timestamp(now, "%Y%m%d-%H%M%S"))).string();
    std::string path = stem + ".zip";
    for (int n = 2; fs::exists(path, ec); ++n) path = stem + "-" + std::to_string(n) + ".zip";
    if (!tell(o.progress, total - 1, total, "Escribiendo " + path)) return {};
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
    r.manifest = m;
    if (o.keep > 0) {
        std::vector<fs::path> all = archivesOf(folder, o.companyCode);
        for (size_t i = 0; i + static_cast<size_t>(o.keep) < all.size(); ++i)
            if (fs::remove(all[i], ec)) r.removed.push_back(all[i].string());
    }
    tell(o.progress, total, total, "");
    return r;
}

// ------------------------------------------------------------------- restore

RestoreResult restoreCompany(const std::string& camino, const std::string& code,
                             const std::string& archive, const Progress& progress) {
    std::error_code ec;
    const std::string dir = companyFolder(camino);
    if (!tell(progress, 0, 5, "Leyendo " + archive)) return {};
    std::vector<ZipEntry> entries;
    try {
        entries = readZip(readWhole(archive), true);
    } catch (const std::runtime_error& e) {
        throw std::runtime_error("la copia " + archive + " no se puede usar: " + e.what());
    }
    auto entry = [&](const std::string& name) -> const ZipEntry* {
        for (const ZipEntry& e : entries)
            if (e.name == name) return &e;
        return nullptr;
    };
    const ZipEntry* me = entry(kManifestName);
    if (!me) throw std::runtime_error("la copia " + archive + " no tiene manifiesto");
    RestoreResult result;
    Manifest& m = result.manifest;
    m = Manifest::parse(me->data);
    if (m.company != code)
        throw std::runtime_error("la copia es de la empresa " + m.company + ", no de la " + code);
    if (entries.size() != m.files.size() + 1)
        throw std::runtime_error("la copia tiene archivos que su manifiesto no nombra");
    for (const ArchivedFile& f : m.files) {
        const ZipEntry* e = entry(f.name);
        if (!e) throw std::runtime_error("falta " + f.name + " en la copia");
        if (e->data.size() != f.size || sha256Hex(e->data) != f.sha256)
            throw std::runtime_error("la suma de control de " + f.name +
                                     " no coincide: la copia está dañada");
    }
    auto archived = [&](const char* file) -> const ArchivedFile* {
        for (const ArchivedFile& f : m.files)
            if (lower(f.name) == lower(file)) return &f;
        return nullptr;
    };
    for (const data::TableDef& d : data::tables())
        if (d.inCompanyDir && (!archived(d.file) || archived(d.file)->records < 0))
            throw std::runtime_error(std::string("la copia no contiene la tabla ") + d.file);

    // Everything is put together and checked beside the company's folder
    // (same file system), so that the exchange is one rename.
    if (!tell(progress, 1, 5, "Extrayendo")) return {};
    const std::string stage = dir + ".restaurando";
    fs::remove_all(stage, ec);
    struct Cleanup {
        std::string path;
        ~Cleanup() {
            std::error_code e;
            if (!path.empty()) fs::remove_all(path, e);
        }
    } cleanup{stage};
    if (!fs::create_directory(stage, ec))
        throw std::runtime_error("no se puede crear la carpeta " + stage);
    for (const ArchivedFile& f : m.files) {
        const fs::path p = fs::path(stage) / f.name;
        if (f.name.find('/') != std::string::npos) fs::create_directories(p.parent_path(), ec);
        writeWhole(p.string(), entry(f.name)->data);
    }

    if (!tell(progress, 2, 5, "Comprobando las tablas")) return {};
    std::vector<std::string> faults;
    for (const data::TableDef& d : data::tables()) {
        if (!d.inCompanyDir) continue;
        const ArchivedFile* f = archived(d.file);
        const std::string path = (fs::path(stage) / f->name).string();
        try {
            std::vector<std::string> found;
            uint32_t count = 0;
            {
                auto t = dbf::Table::open(path, {true, true});
                found = t->check();
                count = t->recCount();
            }
            if (count != f->records)
                found.push_back("tiene " + std::to_string(count) + " registros y el manifiesto " +
                                std::to_string(f->records));
            if (const ArchivedFile* bag = archived(d.bag)) {
                std::vector<std::string> more =
                    dbf::checkBags(path, {(fs::path(stage) / bag->name).string()});
                found.insert(found.end(), more.begin(), more.end());
            }
            for (const std::string& s : found) faults.push_back(f->name + ": " + s);
        } catch (const dbf::DbfError& e) {
            faults.push_back(f->name + ": " + e.what());
        }
    }
    if (!faults.empty()) {
        std::string all;
        for (const std::string& s : faults) all += "\n  " + s;
        throw std::runtime_error("las tablas de la copia no pasan la comprobación:" + all);
    }

    // Nobody may have the company open: every table taken exclusively, and
    // kept so until the exchange (who opens it then finds the restored one).
    if (!tell(progress, 3, 5, "Comprobando que la empresa no está en uso")) return {};
    std::vector<std::unique_ptr<dbf::Table>> held;
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
    // What the archive does not hold stays (the workstations' folders),
    // but not a journal of a save that died: it belongs to the old tables.
    for (auto it = fs::recursive_directory_iterator(dir, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::path rel = fs::relative(it->path(), dir, ec);
        const fs::path to = fs::path(stage) / rel;
        if (it->is_directory(ec)) {
            fs::create_directories(to, ec);
        } else if (!isJournal(it->path()) && !archived(rel.generic_string().c_str()) &&
                   !fs::exists(to, ec)) {
            fs::copy_file(it->path(), to, ec);
            if (ec) throw std::runtime_error("no se pudo copiar " + it->path().string());
        }
    }
    data::syncPath(stage);

    if (!tell(progress, 4, 5, "Sustituyendo los archivos")) return {};
    // One step: the two folders exchange their names.
    if (::renameat2(AT_FDCWD, stage.c_str(), AT_FDCWD, dir.c_str(), RENAME_EXCHANGE) != 0) {
        // A file system without the exchange: two renames, the old folder
        // kept aside until the new one is in place.
        const std::string old = dir + ".anterior";
        fs::remove_all(old, ec);
        if (::rename(dir.c_str(), old.c_str()) != 0)
            throw std::runtime_error("no se pudo apartar la carpeta " + dir);
        if (::rename(stage.c_str(), dir.c_str()) != 0) {
            ::rename(old.c_str(), dir.c_str());
            throw std::runtime_error("no se pudo poner en su sitio la carpeta restaurada");
        }
        cleanup.path = old;
    }
    data::syncPath(fs::path(dir).parent_path().empty() ? std::string(".")
                                                       : fs::path(dir).parent_path().string());
    held.clear();
    tell(progress, 5, 5, "");
    return result;
}

}  // namespace transfer
