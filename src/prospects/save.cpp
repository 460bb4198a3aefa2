#include "prospects/save.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <sstream>
#include <string_view>
#include <thread>
#include <vector>

#include "data/helpers.h"
#include "data/interaction.h"
#include "data/paths.h"
#include "dbf/bulk.h"
#include "dbf/locks.h"
#include "dbf/order.h"
#include "dbf/paths.h"
#include "dbf/workspace.h"
#include "prospects/rows.h"
#include "xbase/date.h"
#include "xbase/value.h"

namespace prospects {

namespace {

dbf::Workspace& ws() {
    return dbf::workspace();
}

std::function<void(SaveStep, int)>& hookRef() {
    static std::function<void(SaveStep, int)> h;
    return h;
}

void step(SaveStep s, int n = 1) {
    if (hookRef()) hookRef()(s, n);
}

const char* kAttention = "Atenci\xf3n.....";

// ------------------------------------------------------------------ journal

std::string hex(const std::string& s) {
    static const char* d = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out += d[c >> 4];
        out += d[c & 15];
    }
    return out.empty() ? "-" : out;
}

std::string unhex(const std::string& h) {
    if (h == "-") return {};
    std::string out;
    for (size_t i = 0; i + 1 < h.size(); i += 2)
        out += static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16));
    return out;
}

Link linkFromKey(const std::string& k) {
    Link l;
    if (k.size() < 38) return l;
    l.numprosp = k.substr(0, 14);
    l.codprosp = k.substr(14, 8);
    const std::string d = k.substr(22, 8);
    l.fecCrea = d == "        "
                    ? 0
                    : xb::julianFromYmd(std::stoi(d.substr(0, 4)), std::stoi(d.substr(4, 2)),
                                        std::stoi(d.substr(6, 2)));
    l.codvend = k.substr(30, 8);
    return l;
}

struct Journal {
    std::string op = "SAVE";  // or DELETE
    std::string mode = "M";
    uint32_t prosRec = 0;
    Link oldLink, newLink;
    uint32_t base[4] = {0, 0, 0, 0};
    std::vector<uint32_t> old[4];
    ProspectFields fields;
    // Mode "M": the prospect as the save found it under its lock.
    ProspectFields before;
    bool hasBefore = false;
    // Committed from the start: a save that writes no row, or a deletion,
    // is finished from its journal whatever point it reached.
    bool committed = false;

    static std::string fieldsText(const ProspectFields& p) {
        std::ostringstream o;
        o << hex(p.codvend) << " " << hex(p.codprosp) << " " << hex(p.nuevo) << " " << hex(p.tip)
          << " " << hex(p.nombre) << " " << hex(p.direc) << " " << hex(p.telef) << " " << hex(p.fax)
          << " " << hex(p.email) << " " << hex(p.ciudad) << " " << hex(p.represent) << " "
          << hex(p.telfrep) << " " << hex(p.encargado) << " " << hex(p.numprosp) << " " << p.fecCrea
          << " " << hex(p.observac) << " " << (p.vta ? 1 : 0) << " " << p.fecVta << " "
          << hex(p.cat);
        return o.str();
    }

    static bool parseFields(std::istream& l, ProspectFields& p) {
        std::string h[19];
        int vta = 0;
        l >> h[0] >> h[1] >> h[2] >> h[3] >> h[4] >> h[5] >> h[6] >> h[7] >> h[8] >> h[9] >>
            h[10] >> h[11] >> h[12] >> h[13] >> p.fecCrea >> h[15] >> vta >> p.fecVta >> h[18];
        p.codvend = unhex(h[0]);
        p.codprosp = unhex(h[1]);
        p.nuevo = unhex(h[2]);
        p.tip = unhex(h[3]);
        p.nombre = unhex(h[4]);
        p.direc = unhex(h[5]);
        p.telef = unhex(h[6]);
        p.fax = unhex(h[7]);
        p.email = unhex(h[8]);
        p.ciudad = unhex(h[9]);
        p.represent = unhex(h[10]);
        p.telfrep = unhex(h[11]);
        p.encargado = unhex(h[12]);
        p.numprosp = unhex(h[13]);
        p.observac = unhex(h[15]);
        p.vta = vta != 0;
        p.cat = unhex(h[18]);
        return static_cast<bool>(l);
    }

    std::string text() const {
        std::ostringstream o;
        o << "VDRGRABA 1\nOP " << op << "\nMODE " << mode << "\nPROSREC " << prosRec << "\nOLD "
          << hex(oldLink.key()) << "\nNEW " << hex(newLink.key()) << "\n";
        for (int t = 1; t <= 3; ++t) {
            o << "BASE " << t << " " << base[t] << "\nROWS " << t;
            for (uint32_t r : old[t]) o << " " << r;
            o << "\n";
        }
        o << "F " << fieldsText(fields) << "\n";
        if (hasBefore) o << "B " << fieldsText(before) << "\n";
        if (committed) o << "COMMIT\n";
        // A sum of the text before it: a journal whose write a power cut
        // left half done (some of its sectors those of an older one) is not
        // taken for a whole one.
        std::string body = o.str();
        body += "SUM " + std::to_string(sum(body)) + "\nEND\n";
        return body;
    }

    static uint64_t sum(std::string_view text) {
        uint64_t h = 1469598103934665603ull;  // FNV-1a
        for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
        return h;
    }

    // False for a journal cut short before its END line, or whose text is
    // not the one its sum was made of (it was never in place).
    bool parse(const std::string& s) {
        if (const size_t at = s.find("\nSUM "); at != std::string::npos) {
            const size_t end = s.find('\n', at + 1);
            if (end == std::string::npos ||
                s.substr(at + 5, end - at - 5) !=
                    std::to_string(sum(std::string_view(s).substr(0, at + 1))))
                return false;
        }
        std::istringstream in(s);
        std::string line;
        bool ended = false;
        while (std::getline(in, line)) {
            std::istringstream l(line);
            std::string w;
            l >> w;
            if (w == "OP")
                l >> op;
            else if (w == "MODE")
                l >> mode;
            else if (w == "PROSREC")
                l >> prosRec;
            else if (w == "OLD" || w == "NEW") {
                std::string h;
                l >> h;
                (w == "OLD" ? oldLink : newLink) = linkFromKey(unhex(h));
            } else if (w == "BASE") {
                int t = 0;
                l >> t;
                if (t >= 1 && t <= 3) l >> base[t];
            } else if (w == "ROWS") {
                int t = 0;
                l >> t;
                uint32_t r;
                if (t >= 1 && t <= 3)
                    while (l >> r) old[t].push_back(r);
            } else if (w == "F") {
                parseFields(l, fields);
            } else if (w == "B") {
                hasBefore = parseFields(l, before);
            } else if (w == "END")
                ended = true;
            else if (line == "COMMIT")
                committed = true;
        }
        return ended;
    }
};

// The journal is held with the byte-range lock the tables take, on the byte
// an exclusive open of a table locks: a network share carries that kind of
// lock between machines, whereas flock() may be kept by each machine for
// itself, and another workstation would then settle a save while it runs
// and delete the rows it is writing.
bool holdJournal(int fd) {
    return dbf::locks::tryLock(fd, dbf::locks::kExclusiveByte, 1, dbf::locks::Kind::Write);
}

void writeAll(int fd, const std::string& s, off_t at) {
    size_t done = 0;
    while (done < s.size()) {
        const ssize_t n =
            ::pwrite(fd, s.data() + done, s.size() - done, at + static_cast<off_t>(done));
        if (n <= 0) throw std::runtime_error("no se pudo escribir el diario de grabación");
        done += static_cast<size_t>(n);
    }
}

// The journal of this workstation, kept open and locked between the
// operations of a browser (see closeKeptFiles()): an operation then opens
// and locks nothing for it.
struct KeptJournal {
    std::string written;  // the path as the company's variables give it
    std::string path;     // as found on the disk
    int fd = -1;
    bool empty = false;  // emptied by the last operation
    void drop() {
        if (fd >= 0) ::close(fd);
        fd = -1;
        empty = false;
        written.clear();
    }
};

KeptJournal& keptJournal() {
    static KeptJournal k;
    return k;
}

// The journal of this workstation's running operation. The file stays from
// one operation to the next, emptied when one ends: its name reaches the
// disk once, and an operation changes no folder. An empty journal (or one
// cut short before its END line) says nothing is running.
class JournalFile {
  public:
    explicit JournalFile(const Journal& j) {
        KeptJournal& k = keptJournal();
        const std::string written = workstationFolder() + kJournalName;
        if (k.fd < 0 || k.written != written) {
            k.drop();
            open(written);
            k.written = written;
            k.path = path_;
            k.fd = fd_;
        }
        path_ = k.path;
        fd_ = k.fd;
        const std::string text = j.text();
        try {
            if (!k.empty && ::ftruncate(fd_, 0) != 0) fail();
            k.empty = false;
            writeAll(fd_, text, 0);
            size_ = static_cast<off_t>(text.size());
            if (::fdatasync(fd_) != 0) fail();
        } catch (...) {
            k.drop();  // let go, as after any failure
            throw;
        }
    }
    void commit() {
        writeAll(fd_, "COMMIT\n", size_);
        if (::fdatasync(fd_) != 0) fail();
    }
    // Done: the journal is emptied (while the prospect's lock is still held).
    // When that fails it is let go as a failed operation's is.
    void finish() {
        if (fd_ < 0) return;
        if (::ftruncate(fd_, 0) == 0) {
            fd_ = -1;
            keptJournal().empty = true;
        }
    }
    // An operation that failed half way leaves its journal for settling,
    // unlocked, as a dead process would.
    ~JournalFile() {
        if (fd_ >= 0) keptJournal().drop();
    }
    JournalFile(const JournalFile&) = delete;
    JournalFile& operator=(const JournalFile&) = delete;

  private:
    void open(const std::string& written) {
        fd_ = dbf::openExisting(written, O_RDWR, path_);
        if (fd_ < 0 && errno == ENOENT) {
            // The first operation of this workstation: its folder too, if
            // need be.
            const std::string folder = data::hostPath(workstationFolder());
            path_ = folder + "/" + kJournalName;
            const bool madeFolder =
                !data::dirExists(workstationFolder()) && ::mkdir(folder.c_str(), 0777) == 0;
            fd_ = ::open(path_.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0666);
            if (fd_ >= 0) {
                data::syncPath(folder);
                if (madeFolder) data::syncPath(data::hostPath(tableVar("G_CAMINO")));
            }
        }
        if (fd_ < 0) throw std::runtime_error("no se pudo crear el diario de grabación " + path_);
        // Another workstation may be settling what a dead run of ours left
        // there: it lets go in a moment.
        for (int tries = 0; !holdJournal(fd_); ++tries) {
            if (tries == 250) {
                ::close(fd_);
                fd_ = -1;
                throw std::runtime_error("no se pudo bloquear el diario de grabación " + path_);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    [[noreturn]] void fail() {
        throw std::runtime_error("no se pudo escribir el diario de grabación " + path_ + ": " +
                                 std::strerror(errno));
    }
    std::string path_;
    int fd_ = -1;
    off_t size_ = 0;
};

// ------------------------------------------------------------------- locks

// Locks the current record of `wa` through REC_LOCK(0): the user may give
// up waiting, and then nothing has been written.
bool lockPatiently(dbf::WorkArea& wa) {
    const int prev = ws().current();
    ws().select(wa.number());
    const bool ok = data::REC_LOCK(0);  // which reads the record again
    ws().select(prev);
    return ok;
}

// A row of a save under way (its journal written) is locked whatever it
// takes: the save is half done and giving up is no longer an option; other
// workstations hold row locks only for one write.
// `recno` 0 is the current record, which the lock reads again.
void lockRow(dbf::WorkArea& wa, uint32_t recno = 0, bool releaseOthers = true) {
    for (int tries = 0; !wa.lockRecord(recno, releaseOthers); ++tries) {
        if (tries % 100 == 99)
            data::alertDialog("Registro bloqueado en " + wa.alias() + ". Por favor espere ...",
                              kAttention);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void lockFileWaiting(dbf::WorkArea& wa) {
    for (int tries = 0; !wa.lockFile(); ++tries) {
        if (tries % 100 == 99)
            data::alertDialog("Registro bloqueado en " + wa.alias() + ". Por favor espere ...",
                              kAttention);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// Locks the listed rows of `wa` that exist, keeping the locks it holds,
// and answers them. Taken before any change of the bag, so that a change of
// the bag never waits for another workstation.
std::vector<uint32_t> lockRows(dbf::WorkArea& wa, const std::vector<uint32_t>& rows) {
    std::vector<uint32_t> held;
    for (uint32_t r : rows)
        if (wa.table().holds(r)) held.push_back(r);
    // Consecutive rows in one call; when another workstation holds some,
    // those are waited for one by one.
    if (!wa.table().lockRecords(held))
        for (uint32_t r : held) lockRow(wa, r, false);
    return held;
}

// Deletes the rows of `held` (locked) that still carry `link`, inside the
// caller's change of the bag.
void deleteHeld(dbf::WorkArea& wa, int t, const std::vector<uint32_t>& held, const Link& link,
                int& counter) {
    for (uint32_t r : held) {
        wa.goTo(r);  // read once it is ours
        if (!wa.table().deleted() && rowHasLink(wa, t, link)) wa.deleteRecord();
        step(SaveStep::OldRowDeleted, ++counter);
    }
}

// Deletes the listed rows that still carry `link`, as one change of the bag.
// The table goes into `written` when there was something to delete.
void deleteRows(int t, const std::vector<uint32_t>& rows, const Link& link, int& counter,
                std::vector<dbf::Table*>& written) {
    dbf::WorkArea& wa = areaOf(dependentAlias(t));
    if (!rows.empty()) written.push_back(&wa.table());
    const std::vector<uint32_t> held = lockRows(wa, rows);
    {
        std::optional<dbf::ChangeBatch> batch;
        if (!held.empty()) batch.emplace(wa, dbf::ChangeBatch::Changes);
        deleteHeld(wa, t, held, link, counter);
    }
    for (uint32_t r : held) wa.unlock(r);
    // Flushed, not synced: until the journal goes, settling can redo them;
    // the journal goes only after syncWritten().
    wa.flush();
    wa.goTop();
}

// On the disk before the journal is removed: once it is gone nothing can
// redo them, and the removal of a name may reach the disk before pages
// written earlier. One wait for all of them (no order among them matters).
void syncWritten(std::vector<dbf::Table*> written, dbf::WorkArea* prospect = nullptr) {
    if (prospect) written.push_back(&prospect->table());
    dbf::Table::commitTogether(written);
}

// Rolls back a save that died before its commit point: the rows it had
// appended carry the new link and lie past the counts noted before; the old
// rows it had deleted are the ones noted, still carrying the old link.
void rollBack(const Journal& j) {
    std::vector<dbf::Table*> written;
    for (int t = 1; t <= 3; ++t) {
        std::vector<uint32_t> added;
        for (uint32_t r : linkedRows(t, j.newLink))
            if (r > j.base[t]) added.push_back(r);
        int n = 0;
        deleteRows(t, added, j.newLink, n, written);
        dbf::WorkArea& wa = areaOf(dependentAlias(t));
        const uint32_t count = j.old[t].empty() ? 0 : wa.recCount();
        for (uint32_t r : j.old[t]) {
            if (r == 0 || r > count || r > j.base[t]) continue;
            wa.goTo(r);
            if (!wa.table().deleted() || !rowHasLink(wa, t, j.oldLink)) continue;
            lockRow(wa);
            if (wa.table().deleted() && rowHasLink(wa, t, j.oldLink)) {
                wa.recall();
                if (std::find(written.begin(), written.end(), &wa.table()) == written.end())
                    written.push_back(&wa.table());
            }
            wa.unlock(r);
        }
        wa.flush();
        wa.goTop();
    }
    syncWritten(written);
}

bool sameProspect(dbf::WorkArea& p, const Link& l) {
    return !p.table().deleted() && S(p, "NUMPROSP") == pad(l.numprosp, 14) &&
           S(p, "CODPROSP") == pad(l.codprosp, 8) && D(p, "FEC_CREA") == l.fecCrea;
}

// Finishes a save or deletion that died after its commit point.
void rollForward(const Journal& j) {
    int n = 0;
    std::vector<dbf::Table*> written;
    for (int t = 1; t <= 3; ++t) deleteRows(t, j.old[t], j.oldLink, n, written);
    dbf::WorkArea& p = areaOf("Prospecto");
    if (j.mode == "I" && j.op == "SAVE") {
        dbf::Orders& o = dbf::orders(p);
        const int before = o.orderNumber();
        o.setOrder("NumProsp0");
        const bool there = o.seek(xb::Value::str(j.newLink.key()));
        o.setOrder(before);
        if (!there) {
            p.append();
            writeProspect(p, j.fields);
            p.unlock(0);
        }
    } else if (j.prosRec && j.prosRec <= p.recCount()) {
        p.goTo(j.prosRec);
        lockRow(p);
        if (j.op == "SAVE" && j.hasBefore) {
            // Written again only while the record holds what the save found
            // or wrote, or a mix of both a cut left: a journal whose emptying
            // a cut undid must not write over a later save of another
            // workstation.
            if (prospectBetween(p, j.before, j.fields)) writeProspect(p, j.fields);
        } else if (sameProspect(p, j.oldLink)) {
            if (j.op == "DELETE")
                p.deleteRecord();
            else
                writeProspect(p, j.fields);
        }
        p.unlock(0);
    }
    syncWritten(written, &p);
}

std::string readFile(int fd) {
    std::string s;
    char buf[4096];
    ::lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) s.append(buf, static_cast<size_t>(n));
    return s;
}

}  // namespace

void setSaveHook(std::function<void(SaveStep, int)> hook) {
    hookRef() = std::move(hook);
}

namespace {

// The company's folder, kept open between the cards of a browser: a look
// for pending journals, at every card, is then a read of its listing.
struct KeptFolder {
    std::string written;
    std::string path;
    DIR* dir = nullptr;
    void drop() {
        if (dir) ::closedir(dir);
        dir = nullptr;
        written.clear();
    }
};

KeptFolder& keptFolder() {
    static KeptFolder k;
    return k;
}

void closeUnlessKept() {
    if (!CardTablesKept::active()) closeKeptFiles();
}

DIR* companyFolder(std::string& path) {
    KeptFolder& k = keptFolder();
    const std::string written = tableVar("G_CAMINO");
    if (!k.dir || k.written != written) {
        if (k.dir) ::closedir(k.dir);
        k.path = data::hostPath(written);
        if (k.path.empty()) k.path = ".";
        k.dir = ::opendir(k.path.c_str());
        k.written = k.dir ? written : std::string();
    } else {
        ::rewinddir(k.dir);
    }
    path = k.path;
    return k.dir;
}

}  // namespace

void closeKeptFiles() {
    keptJournal().drop();
    keptFolder().drop();
}

int settlePendingSaves() {
    std::string company;
    std::vector<std::string> found;
    if (DIR* d = companyFolder(company)) {
        while (const dirent* e = ::readdir(d)) {
            const std::string_view name = e->d_name;
            if (name == "." || name == ".." || (e->d_type != DT_DIR && e->d_type != DT_UNKNOWN))
                continue;
            // An empty journal: nothing running there.
            const std::string j = company + "/" + std::string(name) + "/" + kJournalName;
            struct stat st;
            if (::stat(j.c_str(), &st) == 0 && st.st_size > 0) found.push_back(j);
        }
    }
    closeUnlessKept();
    if (found.empty()) return 0;

    // The tables the settling needs; those opened here are closed again.
    const int prev = ws().current();
    std::vector<std::string> opened;
    for (const char* a :
         {"Prospecto", "Producto", "Plan", "ProdOfer", "ProdVta", "Contacto", "Respuesta"})
        if (!ws().used(a)) opened.push_back(a);
    if (!ws().used("Prospecto") &&
        !data::ABRIR("Prospecto", tableVar("VDRPROSP"), "S", {tableVar("VDRPRPX1")}))
        return 0;
    if (!openCardTables()) return 0;
    int settled = 0;
    for (const std::string& path : found) {
        const int fd = ::open(path.c_str(), O_RDWR);
        if (fd < 0) continue;
        // Held: the operation is running on its workstation.
        if (!holdJournal(fd)) {
            ::close(fd);
            continue;
        }
        Journal j;
        if (j.parse(readFile(fd))) {
            if (j.committed)
                rollForward(j);
            else if (j.op == "SAVE")
                rollBack(j);
            ++settled;
        }
        // Emptied, not removed: the file is its workstation's for good.
        (void)::ftruncate(fd, 0);
        ::close(fd);
    }
    for (const std::string& a : opened)
        if (dbf::WorkArea* w = ws().area(a)) ws().close(w->number());
    ws().select(prev);
    return settled;
}

namespace {

// How many of the rows of list `t` the card would store are already stored
// as they are, from the first on: the buffer's rows, in order, against the
// prospect's `rows`, field by field, with the plan and document the save
// stamps on them (the link is the same: the caller sees to it). Those keep
// their records; the save writes the rest, after them, as the list's order
// asks (a prospect's rows are listed in record order). A contact added at
// the end of the list is then one row appended, nothing deleted.
struct Kept {
    size_t rows = 0;    // the rows kept
    size_t listed = 0;  // the rows of the buffer
};

// The values a save in `mode` stamps on every row of list `t` it writes,
// besides the link: the offered plan on the offers; a change stamps the
// card's sale on every row sold, a new card keeps each row as it was
// entered.
std::vector<std::pair<const char*, std::string>> stampedValues(int t, const std::string& mode,
                                                               const CardValues& v) {
    if (t == 1) return {{"PLAN", v.planOf}};
    if (t == 3 && mode == "M") return {{"PLAN", v.planVt}, {"DOCUM", v.docum}};
    return {};
}

Kept storedAsIs(int t, const std::string& mode, const std::vector<uint32_t>& rows,
                dbf::WorkArea* src, const CardValues& v) {
    dbf::WorkArea& dst = areaOf(dependentAlias(t));
    Kept kept;
    if (!src) return kept;
    dbf::Table& a = src->table();
    dbf::Table& b = dst.table();
    if (a.structure() != b.structure()) {
        kept.listed = static_cast<size_t>(src->countVisible());
        return kept;
    }
    // The values the save stamps, as the fields hold them; the link's four
    // fields are left out.
    std::vector<std::pair<int, std::string>> stamped;
    for (const auto& [f, value] : stampedValues(t, mode, v))
        if (const int i = b.fieldIndex(f); i >= 0)
            stamped.emplace_back(i, pad(value, b.fields()[static_cast<size_t>(i)].len));
    std::vector<bool> skip(static_cast<size_t>(b.fieldCount()), false);
    for (const char* f : {"NUMPROSP", "CLIENTE", dateField(t), "VENDEDOR"})
        if (const int i = b.fieldIndex(f); i >= 0) skip[static_cast<size_t>(i)] = true;
    for (const auto& [i, value] : stamped) skip[static_cast<size_t>(i)] = true;

    // Read through the tables, not the areas: a move of an area would look
    // up the product of each row through its relation. Both are put back
    // where they stood, without a move either.
    struct Place {
        dbf::WorkArea& w;
        const uint32_t recno = w.recno();
        const bool eof = w.eof();
        ~Place() {
            w.table().read(recno);
            w.setEof(eof);
        }
    } places[] = {{*src}, {dst}};
    bool same = true;
    for (uint32_t r = 1; a.read(r); ++r) {
        if (a.deleted()) continue;
        ++kept.listed;
        if (!same || kept.rows == rows.size()) {
            same = false;
            continue;
        }
        b.read(rows[kept.rows]);
        for (const auto& [i, value] : stamped) same = same && b.raw(i) == value;
        for (int i = 0; same && i < b.fieldCount(); ++i) {
            if (skip[static_cast<size_t>(i)]) continue;
            const dbf::Field& f = b.fields()[static_cast<size_t>(i)];
            if (a.isNull(i) != b.isNull(i))
                same = false;
            else if (f.isMemo())
                same = a.getMemo(i) == b.getMemo(i);
            else  // the same bytes, or values a copy would make the same
                same = a.raw(i) == b.raw(i) || xb::exactEquals(a.value(i), b.value(i));
        }
        if (same) ++kept.rows;
    }
    return kept;
}

}  // namespace

SaveResult saveProspect(const std::string& mode, CardValues& v) {
    if (blank(v.p.codprosp)) {
        data::interaction().info(
            "Debe asignar un C\xf3"
            "digo al Prospecto.....",
            kAttention);
        return SaveResult::NoCode;
    }
    const int prev = ws().current();
    dbf::WorkArea& p = areaOf("Prospecto");
    for (int t = 1; t <= 3; ++t) listBuffer(t).flush();

    Journal j;
    j.mode = mode == "I" ? "I" : "M";
    bool writesProspect = true;
    if (j.mode == "M") {
        // Still on the card's record (as a card leaves it), the lock alone
        // reads it again; else, or when another workstation holds it, it is
        // gone to and waited for.
        bool locked = v.recno != 0 && p.recno() == v.recno && !p.eof() && p.lockRecord(0);
        if (!locked) {
            p.goTo(v.recno);
            locked = lockPatiently(p);
        }
        if (!locked) {
            ws().select(prev);
            return SaveResult::Abandoned;
        }
        if (v.recno == 0 || p.table().deleted() || readProspect(p) != v.stored) {
            p.unlock(0);
            ws().select(prev);
            data::interaction().info(
                "Otra estaci\xf3n de trabajo modific\xf3 o borr\xf3 este Prospecto despu\xe9s de "
                "abrir la ficha.\nNo se grab\xf3 nada: salga y vuelva a abrir la ficha para ver "
                "los datos actuales.",
                kAttention);
            return SaveResult::Changed;
        }
        j.prosRec = v.recno;
        j.oldLink = v.stored.link();
        // Fields the card left as they are stored are not written again.
        writesProspect = !prospectBetween(p, v.p, v.p);
    } else {
        // Held until the new record is written: no other workstation can
        // take the same link key in between.
        lockFileWaiting(p);
        dbf::Orders& o = dbf::orders(p);
        const int before = o.orderNumber();
        o.setOrder("NumProsp0");
        while (o.seek(xb::Value::str(v.p.link().key()))) {
            // Same code, salesperson and second as a stored prospect: the
            // next second makes the control number distinct again.
            long long n = std::stoll(trimmed(v.p.numprosp).empty() ? "0" : trimmed(v.p.numprosp));
            v.p.numprosp = std::to_string(n + 1);
        }
        o.setOrder(before);
        j.oldLink = v.p.link();
    }
    j.newLink = v.p.link();
    j.fields = v.p;
    if (j.mode == "M") {
        j.before = v.stored;
        j.hasBefore = true;
    }
    const bool keepSold = j.mode == "I" || v.p.vta;
    // What each list writes: the rows after those stored as they are (all
    // of them when the link changes). The rows kept stay where they stand:
    // rewritten, they would come out the same.
    size_t keep[4] = {0, 0, 0, 0}, listed[4] = {0, 0, 0, 0};
    bool writes[4] = {false, false, false, false};
    {
        dbf::ReadBatch looks;  // the rows found are read again from memory
        for (int t = 1; t <= 3; ++t) {
            dbf::WorkArea* src = t == 3 && !keepSold ? nullptr : &listBuffer(t);
            if (j.mode == "M") j.old[t] = linkedRows(t, j.oldLink);
            Kept k;
            if (j.mode == "M" && j.newLink.key() == j.oldLink.key())
                k = storedAsIs(t, j.mode, j.old[t], src, v);
            else if (src)
                k.listed = static_cast<size_t>(src->countVisible());
            keep[t] = k.rows;
            listed[t] = k.listed;
            j.old[t].erase(j.old[t].begin(), j.old[t].begin() + static_cast<long>(k.rows));
            writes[t] = k.listed > k.rows || !j.old[t].empty();
        }
    }
    // Without rows to write, the prospect's record is all the save changes:
    // its journal is committed as it is written, and the record is written
    // and synced after it. Else the counts before the new rows tell, if the
    // save dies before its commit point, which rows it had appended.
    const bool rowsWritten = writes[1] || writes[2] || writes[3];
    if (!rowsWritten && !writesProspect) {
        // Nothing the card holds differs from what is stored.
        p.unlock(0);
        closeUnlessKept();
        step(SaveStep::Done);
        ws().select(prev);
        return SaveResult::Saved;
    }
    j.committed = !rowsWritten;
    if (rowsWritten)
        for (int t = 1; t <= 3; ++t) j.base[t] = areaOf(dependentAlias(t)).recCount();

    {
        JournalFile jf(j);
        step(SaveStep::Journaled);
        int appended = 0, deleted = 0;
        std::vector<dbf::Table*> written;
        // The old rows locked first, every table's, before any change of a
        // bag (which must never wait for another workstation).
        std::vector<uint32_t> held[4];
        for (int t = 1; t <= 3; ++t) held[t] = lockRows(areaOf(dependentAlias(t)), j.old[t]);
        std::optional<dbf::ReadBatch> looks{std::in_place};  // of the products the rows name
        for (int t = 1; t <= 3; ++t) {
            if (!writes[t]) continue;
            dbf::WorkArea& dst = areaOf(dependentAlias(t));
            dbf::WorkArea* src = t == 3 && !keepSold ? nullptr : &listBuffer(t);
            const bool adds = src && listed[t] > keep[t];
            if (!adds && held[t].empty()) continue;
            // The new rows go to the table in one write, and they and the
            // old rows' deletions to the bag in one write-back, when the
            // batch ends.
            {
                dbf::ChangeBatch batch(
                    dst, adds ? dbf::ChangeBatch::Appends : dbf::ChangeBatch::Changes);
                if (adds) {
                    const uint32_t at = src->recno();
                    size_t listed = 0;
                    for (src->goTop(); !src->eof(); src->skip(1)) {
                        if (listed++ < keep[t]) continue;  // stored as it is
                        dst.append(false);                 // the old rows stay locked
                        dbf::copyMatchingFields(src->table(), dst.table());
                        stampLink(dst, t, j.newLink);
                        for (const auto& [f, value] : stampedValues(t, j.mode, v))
                            putS(dst, f, value);
                        dst.flush();
                        step(SaveStep::RowAppended, ++appended);
                    }
                    src->goTo(at);
                }
                deleteHeld(dst, t, held[t], j.oldLink, deleted);
            }
            dst.unlock(0);
            dst.flush();
            written.push_back(&dst.table());
        }
        looks.reset();
        if (rowsWritten) {
            // On disk, all of them, before the commit mark says they are
            // there (one sync of each row table for both its new rows and
            // its old).
            syncWritten(written);
            jf.commit();
            step(SaveStep::Committed);
        }
        written.clear();
        if (j.mode == "I")
            p.append();
        else if (p.recno() != v.recno)
            p.goTo(v.recno);  // else its buffer holds it as read under the lock
        if (writesProspect) {
            writeProspect(p, v.p);
            syncWritten(written, &p);
        }
        step(SaveStep::ProspectWritten);
        jf.finish();
        v.recno = p.recno();
        v.stored = readProspect(p);
        p.unlock(0);
    }
    closeUnlessKept();
    // The rows' tables stay where the save left them: the card closes after
    // a save and puts them back at the top (or closes them).
    step(SaveStep::Done);
    ws().select(prev);
    return SaveResult::Saved;
}

bool deleteProspect(uint32_t recno) {
    dbf::WorkArea& p = areaOf("Prospecto");
    if (recno == 0 || recno > p.recCount()) return false;
    p.goTo(recno);
    if (!lockPatiently(p)) return false;
    if (p.table().deleted()) {
        p.unlock(0);
        data::interaction().info("Otra estaci\xf3n de trabajo ya borr\xf3 este Prospecto.",
                                 kAttention);
        return false;
    }
    Journal j;
    j.op = "DELETE";
    j.prosRec = recno;
    j.oldLink = j.newLink = readProspect(p).link();
    j.fields = readProspect(p);
    // Products sold stay with the deleted prospect, as they always have.
    for (int t = 1; t <= 2; ++t) {
        j.base[t] = areaOf(dependentAlias(t)).recCount();
        j.old[t] = linkedRows(t, j.oldLink);
    }
    j.committed = true;  // finished from here on, whatever happens
    {
        JournalFile jf(j);
        step(SaveStep::Journaled);
        int n = 0;
        std::vector<dbf::Table*> written;
        for (int t = 1; t <= 2; ++t) deleteRows(t, j.old[t], j.oldLink, n, written);
        p.goTo(recno);
        p.deleteRecord();
        syncWritten(written, &p);
        step(SaveStep::ProspectWritten);
        jf.finish();
        p.unlock(0);
    }
    closeUnlessKept();
    step(SaveStep::Done);
    return true;
}

}  // namespace prospects
