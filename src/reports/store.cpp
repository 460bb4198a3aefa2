#include "reports/store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "data/bags.h"
#include "data/helpers.h"
#include "data/interaction.h"
#include "data/paths.h"
#include "data/session.h"
#include "dbf/error.h"
#include "dbf/table.h"
#include "dbf/workspace.h"
#include "xbase/codepage.h"
#include "xbase/picture.h"
#include "xbase/runtime.h"

namespace reports {

namespace {

constexpr const char* kTitle = "Atenci\xf3n.....";
constexpr const char* kBusy =
    "Sistema en uso en otra terminal. Por favor espere un momento y digite <Enter>";
// The new store is written under these names before it is swapped in.
constexpr const char* kTmpTable = "cgFtmp.dbf";
constexpr const char* kTmpText = "cgFtmp.dbt";
constexpr const char* kTmpBag = "cgFtmp.cdx";

std::function<void(std::string_view)>& hookSlot() {
    static std::function<void(std::string_view)> h;
    return h;
}

void crashPoint(const char* step) {
    if (hookSlot()) hookSlot()(step);
}

std::string trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return std::string(s.substr(b, e - b));
}

void tell(const std::string& message, const std::string& title = kTitle) {
    data::alertDialog(message, title, {"&Aceptar"});
}

void notExists(const std::string& name) {
    data::CGBELL();
    tell("El formato " + name + " no existe");
}

std::string host(std::string_view p) {
    return data::hostPath(p);
}

// Reads a whole file; nothing when it cannot be read.
std::optional<std::string> readFile(const std::string& programPath) {
    int fd = ::open(host(programPath).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string out;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return out;
}

// Writes `bytes` to a new file and syncs it; throws with a Spanish message.
void writeSynced(const std::string& hostName, std::string_view bytes) {
    int fd = ::open(hostName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw std::runtime_error("No se puede crear " + hostName + ": " + std::strerror(errno));
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            int e = errno;
            ::close(fd);
            throw std::runtime_error("No se puede escribir " + hostName + ": " + std::strerror(e));
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0)
        throw std::runtime_error("No se puede grabar " + hostName + ": " + std::strerror(errno));
}

std::string dirOf(const std::string& hostName) {
    size_t p = hostName.rfind('/');
    return p == std::string::npos ? "." : hostName.substr(0, p);
}

// Replaces `programPath` by `bytes` through a temporary file and a rename, so
// that a reader sees the old file or the new one, never half of one.
void replaceFile(const std::string& programPath, std::string_view bytes) {
    std::string final = host(programPath);
    std::string tmp = final + "~";
    writeSynced(tmp, bytes);
    if (::rename(tmp.c_str(), final.c_str()) != 0)
        throw std::runtime_error("No se puede renombrar " + tmp + ": " + std::strerror(errno));
    data::syncPath(dirOf(final));
}

// The store table open for reading or rewriting; nothing when the user gave
// up waiting for another workstation or the table is missing.
struct OpenStore {
    std::unique_ptr<dbf::Table> table;
    StoreStatus status = StoreStatus::Missing;
};

OpenStore openStore(bool exclusive) {
    OpenStore s;
    recoverStore();
    if (!data::fileExists(kStoreTable)) return s;
    for (;;) {
        try {
            s.table = dbf::Table::open(kStoreTable, {!exclusive, !exclusive});
            s.status = StoreStatus::Ok;
            return s;
        } catch (const dbf::DbfError& e) {
            if (!e.sharingViolation()) {
                s.status = StoreStatus::Damaged;
                return s;
            }
        }
        // Held by another workstation: wait as long as the user wants to.
        int b = data::alertDialog(kBusy, kTitle, {"&Reintentar", "&Cancelar"});
        if (b != 1) {
            s.status = StoreStatus::Busy;
            return s;
        }
    }
}

// The records of an open store, each checked against the text file's size.
StoreIndex indexOf(dbf::Table& t, uint64_t textSize) {
    StoreIndex ix;
    ix.status = StoreStatus::Ok;
    int fName = t.fieldIndex("NOMBRE");
    // The two numbers are taken by position, as the store has always been
    // written: the first numeric field is the offset, the second the length.
    int fBegin = -1, fLength = -1;
    for (int i = 0; i < t.fieldCount(); ++i) {
        if (t.fields()[i].type != 'N') continue;
        if (fBegin < 0)
            fBegin = i;
        else if (fLength < 0)
            fLength = i;
    }
    if (fName < 0 || fBegin < 0 || fLength < 0) {
        ix.status = StoreStatus::Damaged;
        ix.problem = "la tabla cgFuente no tiene los campos NOMBRE, BEGIN y LENGTH";
        return ix;
    }
    uint32_t n = t.recCount();
    for (uint32_t r = 1; r <= n; ++r) {
        t.read(r);
        if (t.deleted()) continue;
        StoredScript s;
        s.name = xb::upper1252(trim(t.getString(fName)));
        double b = t.getNumber(fBegin), l = t.getNumber(fLength);
        if (b < 0 || l < 0 || b + l > static_cast<double>(textSize)) {
            ix.status = StoreStatus::Damaged;
            ix.problem = "el texto de " + s.name + " queda fuera de cgFuente.dbt";
            s.damaged = true;
            ix.entries.push_back(std::move(s));
            continue;
        }
        s.begin = static_cast<uint64_t>(b);
        s.length = static_cast<uint64_t>(l);
        ix.entries.push_back(std::move(s));
    }
    return ix;
}

uint64_t fileSize(const std::string& programPath) {
    struct stat st {};
    if (::stat(host(programPath).c_str(), &st) != 0) return 0;
    return static_cast<uint64_t>(st.st_size);
}

void damaged(const std::string& problem) {
    data::CGBELL();
    tell(
        "El almac\xe9n de formatos (cgFuente) est\xe1 da\xf1"
        "ado: " +
        problem + ". No se ha modificado.");
}

// Reads `len` bytes at `begin` from the text file.
std::optional<std::string> readSlice(uint64_t begin, uint64_t len) {
    int fd = ::open(host(kStoreText).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string out(len, '\0');
    size_t done = 0;
    while (done < len) {
        ssize_t n = ::pread(fd, out.data() + done, len - done, static_cast<off_t>(begin + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ::close(fd);
            return std::nullopt;
        }
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    return out;
}

struct Entry {
    std::string name;
    std::string text;
};

// Reads every stored text; nothing (after telling the user) when the store
// is damaged, so that no rewrite drops a script it could not read.
std::optional<std::vector<Entry>> readAll(dbf::Table& t) {
    uint64_t size = fileSize(kStoreText);
    StoreIndex ix = indexOf(t, size);
    if (ix.status != StoreStatus::Ok) {
        damaged(ix.problem);
        return std::nullopt;
    }
    std::optional<std::string> all = readFile(kStoreText);
    if (!all && !ix.entries.empty()) {
        damaged("no se puede leer cgFuente.dbt");
        return std::nullopt;
    }
    std::vector<Entry> out;
    for (const auto& s : ix.entries) out.push_back({s.name, all->substr(s.begin, s.length)});
    return out;
}

// Writes the complete new store under the temporary names and swaps it in.
void writeStore(const std::vector<Entry>& entries) {
    for (const char* f : {kTmpTable, kTmpText, kTmpBag}) data::removeFile(f);
    std::string text;
    {
        dbf::Table::create(kTmpTable,
                           {{"NOMBRE", 'C', 12, 0}, {"BEGIN", 'N', 10, 0}, {"LENGTH", 'N', 10, 0}});
        auto t = dbf::Table::open(kTmpTable, {false, false});
        for (const auto& e : entries) {
            t->appendBlank();
            t->putString(0, e.name);
            t->putNumber(1, static_cast<double>(text.size()));
            t->putNumber(2, static_cast<double>(e.text.size()));
            text += e.text;
        }
        t->commit();
    }
    data::syncPath(host(kTmpTable));
    writeSynced(host(kTmpText), text);
    crashPoint("temp-text");
    {
        auto& ws = dbf::workspace();
        int prev = ws.current();
        int n = ws.open(kTmpTable, "CGFTMP", {false, false}, 0);
        struct Close {
            int n, prev;
            ~Close() {
                dbf::workspace().close(n);
                dbf::workspace().select(prev);
            }
        } close{n, prev};
        data::createTag(*ws.area(n), kTmpBag, "NOMBRE", "NOMBRE", "", false);
    }
    data::syncPath(host(kTmpBag));
    crashPoint("temp-written");
    // The commit point: from here on the new store is the store.
    writeSynced(host(kStoreMarker), "cgFuente\r\n");
    data::syncPath(dirOf(host(kStoreMarker)));
    crashPoint("marker");
    recoverStore();
}

}  // namespace

// ---------------------------------------------------------------- names

std::optional<std::string> plainScriptName(std::string_view given) {
    std::string n = xb::upper1252(trim(given));
    for (char& c : n)
        if (c == '/') c = '\\';
    if (n.empty() || n.size() > 240) return std::nullopt;
    // Folders below the script folder are fine; anything that climbs out of
    // it, names a drive or the root, or that a shared drive cannot hold
    // as a file name is not.
    size_t start = 0;
    while (true) {
        const size_t sep = n.find('\\', start);
        const std::string part = n.substr(start, sep == std::string::npos ? sep : sep - start);
        if (part.empty() || part == "." || part == "..") return std::nullopt;
        for (char ch : part) {
            const auto c = static_cast<unsigned char>(ch);
            if (c < 0x20 || c == 0x7F || std::strchr("<>:\"|?*", ch) != nullptr)
                return std::nullopt;
        }
        if (xb::cp1252ToUtf8(part).size() > 255) return std::nullopt;
        if (sep == std::string::npos) break;
        // A folder named with a trailing point or blank is not kept so.
        if (part.back() == '.' || part.back() == ' ') return std::nullopt;
        start = sep + 1;
    }
    if (n.find('.', n.rfind('\\') == std::string::npos ? 0 : n.rfind('\\')) == std::string::npos)
        n += '.';
    return n;
}

std::string storeKey(const std::string& plain) {
    return !plain.empty() && plain.back() == '.' ? plain.substr(0, plain.size() - 1) : plain;
}

std::string loosePath(const std::string& plain) {
    // "EXT." names the file EXT, as it always did where a trailing point is
    // dropped by the file system.
    std::string file = storeKey(plain);
    if (file.find(".CG") != std::string::npos) return file;
    return std::string(kLooseFolder) + "\\" + file;
}

std::string scriptCacheVariable(std::string_view name) {
    std::optional<std::string> plain = plainScriptName(name);
    if (!plain) return {};
    std::string key = "V" + storeKey(*plain);
    for (char& c : key)
        if (c == '.') c = '_';
    return key;
}

std::vector<std::string> scriptLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t nl = text.find('\n', start);
        size_t end = nl == std::string_view::npos ? text.size() : nl;
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty()) lines.emplace_back(line);
        if (nl == std::string_view::npos) break;
        start = nl + 1;
    }
    return lines;
}

void refuseName(std::string_view given) {
    data::CGBELL();
    tell("El nombre de formato \"" + std::string(given) +
         "\" no es v\xe1lido: debe quedar dentro de la carpeta de formatos (sin \"..\", "
         "unidad ni barra al comienzo) y no llevar los caracteres < > : \" | ? * ni de "
         "control.");
}

// ---------------------------------------------------------------- reading

StoreIndex readStoreIndex() {
    OpenStore s = openStore(false);
    if (s.status != StoreStatus::Ok) {
        StoreIndex ix;
        ix.status = s.status;
        return ix;
    }
    return indexOf(*s.table, fileSize(kStoreText));
}

ScriptText findScript(std::string_view given, bool tellUser) {
    ScriptText out;
    std::optional<std::string> plain = plainScriptName(given);
    if (!plain) {
        if (tellUser) refuseName(given);
        return out;
    }
    std::string loose = loosePath(*plain);
    if (data::fileExists(loose)) {
        if (auto t = readFile(loose)) {
            out.source = Source::Loose;
            out.text = std::move(*t);
            return out;
        }
    }
    OpenStore s = openStore(false);
    std::string key = storeKey(*plain);
    if (s.status == StoreStatus::Ok) {
        StoreIndex ix = indexOf(*s.table, fileSize(kStoreText));
        for (const auto& e : ix.entries) {
            if (e.name != key) continue;
            // A damaged record is never read: its offsets point anywhere.
            if (e.damaged) {
                s.status = StoreStatus::Damaged;
                break;
            }
            if (auto t = readSlice(e.begin, e.length)) {
                out.source = Source::Stored;
                out.text = std::move(*t);
                return out;
            }
            break;
        }
    }
    if (tellUser) {
        std::string why =
            s.status == StoreStatus::Busy      ? " (el almac\xe9n de formatos est\xe1 en uso)"
            : s.status == StoreStatus::Damaged ? " (el almac\xe9n de formatos est\xe1 da\xf1"
                                                 "ado)"
                                               : "";
        tell("No se encuentra el formato " + *plain + why);
    }
    return out;
}

// ---------------------------------------------------------------- writing

void recoverStore() {
    std::string marker = host(kStoreMarker);
    if (data::fileExists(kStoreMarker)) {
        // The new files were complete when the marker was written: finish.
        const std::pair<const char*, const char*> moves[] = {
            {kTmpText, kStoreText}, {kTmpTable, kStoreTable}, {kTmpBag, kStoreBag}};
        for (const auto& [from, to] : moves) {
            if (!data::fileExists(from)) continue;
            std::string f = host(from), t = host(to);
            if (::rename(f.c_str(), t.c_str()) != 0)
                throw std::runtime_error("No se puede renombrar " + f + ": " +
                                         std::strerror(errno));
            if (std::strcmp(from, kTmpText) == 0) crashPoint("renamed-text");
        }
        data::syncPath(dirOf(marker));
        ::unlink(marker.c_str());
        data::syncPath(dirOf(marker));
        return;
    }
    // No marker: whatever temporary files lie about never became the store.
    for (const char* f : {kTmpTable, kTmpText, kTmpBag}) data::removeFile(f);
}

bool INCLUIR(std::string_view name) {
    std::optional<std::string> plain = plainScriptName(name);
    if (!plain) {
        refuseName(name);
        return false;
    }
    if (storeKey(*plain).size() > 12) {
        data::CGBELL();
        tell("El nombre de formato " + *plain +
             " es demasiado largo para el almac\xe9n de formatos: admite hasta 12 caracteres.");
        return false;
    }
    std::string loose = loosePath(*plain);
    if (!data::fileExists(loose)) {
        notExists(trim(name));
        return false;
    }
    std::optional<std::string> text = readFile(loose);
    if (!text) {
        tell("No se puede leer el formato " + loose);
        return false;
    }
    try {
        std::vector<Entry> entries;
        {
            OpenStore s = openStore(true);
            if (s.status == StoreStatus::Busy) {
                tell(
                    "El almac\xe9n de formatos est\xe1 en uso en otra terminal; no se ha "
                    "incluido " +
                    *plain + ".");
                return false;
            }
            if (s.status == StoreStatus::Damaged) {
                damaged("no se puede abrir cgFuente.dbf");
                return false;
            }
            if (s.status == StoreStatus::Ok) {
                auto all = readAll(*s.table);
                if (!all) return false;
                entries = std::move(*all);
            }
        }
        // Only the script of exactly this name is replaced.
        std::string key = storeKey(*plain);
        bool replaced = false;
        for (auto& e : entries)
            if (e.name == key) {
                e.text = *text;
                replaced = true;
            }
        if (!replaced) entries.push_back({key, *text});
        writeStore(entries);
        crashPoint("store-in-place");
    } catch (const std::exception& e) {
        tell(std::string("No se pudo incluir el formato: ") + e.what());
        return false;
    }
    // The store now holds the script: the loose copy may go.
    data::removeFile(loose);
    return true;
}

bool EXTRAER(std::string_view name) {
    std::optional<std::string> plain = plainScriptName(name);
    if (!plain) {
        refuseName(name);
        return false;
    }
    OpenStore s = openStore(false);
    if (s.status != StoreStatus::Ok) {
        if (s.status == StoreStatus::Damaged)
            damaged("no se puede abrir cgFuente.dbf");
        else if (s.status == StoreStatus::Busy)
            tell("El almac\xe9n de formatos est\xe1 en uso en otra terminal.");
        else
            notExists(trim(name));
        return false;
    }
    std::string key = storeKey(*plain);
    StoreIndex ix = indexOf(*s.table, fileSize(kStoreText));
    for (const auto& e : ix.entries) {
        if (e.name != key) continue;
        if (e.damaged) {
            damaged("el texto de " + e.name + " queda fuera de cgFuente.dbt");
            return false;
        }
        std::optional<std::string> t = readSlice(e.begin, e.length);
        if (!t) {
            damaged("no se puede leer cgFuente.dbt");
            return false;
        }
        try {
            data::HACEPRUEBA();
            replaceFile(loosePath(*plain), *t);
        } catch (const std::exception& ex) {
            tell(std::string("No se pudo extraer el formato: ") + ex.what());
            return false;
        }
        return true;
    }
    notExists(trim(name));
    return false;
}

std::string cleanForLoose(std::string t) {
    auto replaceAll = [](std::string& s, const std::string& a, const std::string& b) {
        size_t p = 0;
        while ((p = s.find(a, p)) != std::string::npos) {
            s.replace(p, a.size(), b);
            p += b.size();
        }
    };
    while (t.find("\r\n\r\n\r\n") != std::string::npos) replaceAll(t, "\r\n\r\n\r\n", "\r\n\r\n");
    auto endsWith = [&](const std::string& e) {
        return t.size() >= e.size() && t.compare(t.size() - e.size(), e.size(), e) == 0;
    };
    while (endsWith("\r\n")) t.resize(t.size() - 2);
    while (endsWith("\r\n ")) t.resize(t.size() - 3);
    t = trim(t);
    if (t.size() % 2) t += ' ';
    return t;
}

static double freeBytes() {
    struct statvfs st {};
    if (::statvfs(".", &st) != 0) return 0;
    return static_cast<double>(st.f_bavail) * static_cast<double>(st.f_frsize);
}

bool VACIAR() {
    if (data::alertDialog("Desea continuar ?", kTitle, {"  &No  ", "  &Si  "}) != 2) return false;
    double before = freeBytes();
    if (before / 1024 / 1024 - 10 <= 0) {
        // Too little room to write the scripts out: stop before touching anything.
        tell("Espacio insuficiente " +
             xb::transform(xb::Value::num(before, 16, 0), "999,999,999,999"));
        return false;
    }
    bool emptied = true;
    try {
        OpenStore s = openStore(true);
        if (s.status == StoreStatus::Missing) {
            tell("El almac\xe9n de formatos est\xe1 vac\xedo.");
            return false;
        }
        if (s.status == StoreStatus::Busy) {
            tell("El almac\xe9n de formatos est\xe1 en uso en otra terminal.");
            return false;
        }
        if (s.status == StoreStatus::Damaged) {
            damaged("no se puede abrir cgFuente.dbf");
            return false;
        }
        auto all = readAll(*s.table);
        if (!all) return false;
        data::HACEPRUEBA();
        struct stat storeSt {};
        ::stat(host(kStoreText).c_str(), &storeSt);
        // A name the store holds is checked as a typed one is: a store from an
        // older program, or damaged, may name a file outside the script
        // folder. Such a script is not written; it stays in the store.
        std::vector<Entry> kept;
        for (const auto& e : *all) {
            const std::optional<std::string> plain = plainScriptName(e.name);
            if (!plain) {
                data::CGBELL();
                tell("El formato \"" + e.name +
                     "\" del almac\xe9n tiene un nombre no v\xe1lido y no se ha escrito en la "
                     "carpeta: queda en el almac\xe9n.");
                kept.push_back(e);
                continue;
            }
            std::string loose = loosePath(*plain);
            std::string cleaned = cleanForLoose(e.text);
            struct stat looseSt {};
            if (::stat(host(loose).c_str(), &looseSt) == 0 && looseSt.st_mtime > storeSt.st_mtime) {
                int b = data::alertDialog(
                    "El formato " + e.name +
                        " de la carpeta es m\xe1s reciente que el del almac\xe9n.\n"
                        "\xbf"
                        "Desea reemplazarlo por el del almac\xe9n ?",
                    kTitle, {"  &No  ", "  &Si  "});
                if (b != 2) continue;  // the newer loose file stays as it is
            }
            replaceFile(loose, cleaned);
            // Read back: the store is emptied only when every file is there.
            std::optional<std::string> back = readFile(loose);
            if (!back || *back != cleaned)
                throw std::runtime_error("el formato " + loose + " no se pudo comprobar");
        }
        crashPoint("loose-written");
        writeStore(kept);
        if (!kept.empty()) emptied = false;
    } catch (const std::exception& e) {
        tell(std::string("No se pudo vaciar el almac\xe9n: ") + e.what());
        return false;
    }
    double after = freeBytes();
    tell("Espacio consumido=" +
         xb::transform(xb::Value::num(before - after, 16, 0), "999,999,999,999"));
    return emptied;
}

void setStoreHook(std::function<void(std::string_view)> hook) {
    hookSlot() = std::move(hook);
}

void registerStoreFunctions() {
    auto text = [](const xb::Value& v) { return v.isString() ? v.asString() : std::string(); };
    xb::registerFunction("INCLUIR",
                         [=](xb::Args& a) { return xb::Value::logical(INCLUIR(text(a[0]))); });
    xb::registerFunction("EXTRAER",
                         [=](xb::Args& a) { return xb::Value::logical(EXTRAER(text(a[0]))); });
    xb::registerFunction("VACIAR", [](xb::Args&) { return xb::Value::logical(VACIAR()); });
}

}  // namespace reports
