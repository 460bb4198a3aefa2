#include "data/replace.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "data/paths.h"

namespace data {

namespace {

std::function<void(ReplaceStep)>& hookSlot() {
    static std::function<void(ReplaceStep)> h;
    return h;
}

const char* kJournalMagic = "VALDROSA-REEMPLAZO 1";

std::string errText() {
    return std::strerror(errno);
}

bool exists(const std::string& host) {
    struct stat st;
    return ::stat(host.c_str(), &st) == 0;
}

std::string hostDir(const std::string& host) {
    size_t k = host.rfind('/');
    return k == std::string::npos ? std::string(".") : (k == 0 ? "/" : host.substr(0, k));
}

std::string hostFile(const std::string& host) {
    size_t k = host.rfind('/');
    return k == std::string::npos ? host : host.substr(k + 1);
}

std::string join(const std::string& dir, const std::string& name) {
    if (dir == ".") return name;
    return dir + (dir.back() == '/' ? "" : "/") + name;
}

void renameOrThrow(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0)
        throw ReplaceError("No se puede renombrar " + from + " como " + to + ": " + errText());
}

void unlinkIfThere(const std::string& host) {
    if (::unlink(host.c_str()) != 0 && errno != ENOENT)
        throw ReplaceError("No se puede borrar " + host + ": " + errText());
}

// Copies a file byte for byte and flushes the copy; used only when the
// scratch directory lies on another file system than the target.
void copyFile(const std::string& from, const std::string& to) {
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) throw ReplaceError("No se puede abrir " + from + ": " + errText());
    int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out < 0) {
        std::string e = errText();
        ::close(in);
        throw ReplaceError("No se puede crear " + to + ": " + e);
    }
    std::vector<char> buf(1 << 16);
    bool ok = true;
    std::string why;
    for (;;) {
        ssize_t n = ::read(in, buf.data(), buf.size());
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false, why = errText();
            break;
        }
        for (ssize_t off = 0; off < n;) {
            ssize_t w = ::write(out, buf.data() + off, static_cast<size_t>(n - off));
            if (w < 0) {
                if (errno == EINTR) continue;
                ok = false, why = errText();
                break;
            }
            off += w;
        }
        if (!ok) break;
    }
    if (ok && ::fsync(out) != 0) ok = false, why = errText();
    ::close(in);
    if (::close(out) != 0 && ok) ok = false, why = errText();
    if (!ok) {
        ::unlink(to.c_str());
        throw ReplaceError("No se puede copiar " + from + " en " + to + ": " + why);
    }
}

void sync(const std::string& host) {
    try {
        syncPath(host);
    } catch (const std::runtime_error& e) {
        throw ReplaceError(e.what());
    }
}

// The memo's target: the existing memo of the table, else the table's name
// with "FPT" for its last three characters.
std::string memoTargetHost(const std::string& tableHost) {
    std::string guess = tableHost.size() >= 3 ? tableHost.substr(0, tableHost.size() - 3) + "FPT"
                                              : tableHost + "FPT";
    return hostPath(guess);
}

struct Journal {
    std::string newTable, newMemo;  // bare names in the target's directory; newMemo "-" = none
    std::string table, memo;        // bare names of the targets
};

void writeJournal(const std::string& path, const Journal& j) {
    std::string tmp = path + ".tmp";
    {
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        f << kJournalMagic << "\n"
          << "TABLA\t" << j.newTable << "\t" << j.table << "\n"
          << "MEMO\t" << j.newMemo << "\t" << j.memo << "\n"
          << "FIN\n";
        f.flush();
        if (!f) {
            f.close();
            ::unlink(tmp.c_str());
            throw ReplaceError("No se puede escribir el diario " + tmp);
        }
    }
    try {
        sync(tmp);
    } catch (...) {
        ::unlink(tmp.c_str());
        throw;
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        std::string e = errText();
        ::unlink(tmp.c_str());
        throw ReplaceError("No se puede escribir el diario " + path + ": " + e);
    }
}

// A journal is trusted only when complete; it is renamed into place whole,
// so an incomplete one means a damaged disk rather than an interruption.
bool readJournal(const std::string& path, Journal& j) {
    std::ifstream f(path, std::ios::binary);
    std::string line;
    if (!std::getline(f, line) || line != kJournalMagic) return false;
    auto field = [&](const char* tag, std::string& a, std::string& b) {
        if (!std::getline(f, line)) return false;
        std::istringstream ls(line);
        std::string t;
        return std::getline(ls, t, '\t') && t == tag && std::getline(ls, a, '\t') &&
               std::getline(ls, b) && !a.empty() && !b.empty();
    };
    if (!field("TABLA", j.newTable, j.table) || !field("MEMO", j.newMemo, j.memo)) return false;
    return std::getline(f, line) && line == "FIN";
}

// Steps 3 and 4, also used to finish an interrupted replacement: each move
// is skipped when it was done already.
void applyJournal(const std::string& dir, const Journal& j, bool hooks) {
    std::string newMemo = j.newMemo == "-" ? std::string() : join(dir, j.newMemo);
    std::string memo = join(dir, j.memo);
    if (!newMemo.empty()) {
        if (exists(newMemo)) renameOrThrow(newMemo, memo);
    } else if (exists(join(dir, j.newTable))) {
        // The new table has no memo: the old memo goes, but only while the
        // old table has not yet been switched (afterwards a memo of that
        // name could only be one written since).
        unlinkIfThere(memo);
    }
    if (hooks) replaceHook(ReplaceStep::MemoMoved);
    std::string newTable = join(dir, j.newTable);
    if (exists(newTable)) renameOrThrow(newTable, join(dir, j.table));
    if (hooks) replaceHook(ReplaceStep::TableMoved);
    sync(dir);
}

}  // namespace

void setReplaceHook(std::function<void(ReplaceStep)> hook) {
    hookSlot() = std::move(hook);
}

void replaceHook(ReplaceStep step) {
    if (hookSlot()) hookSlot()(step);
}

std::string memoPathOf(const std::string& table) {
    std::string guess = table.size() >= 3 ? table.substr(0, table.size() - 3) + "FPT" : table;
    if (fileExists(guess)) return hostPath(guess);
    return guess;
}

namespace {

// The journal's name beside the table `host` (a path on the disk), as a
// replacement writes it.
std::string journalNameBeside(const std::string& host) {
    std::string file = hostFile(host);
    size_t dot = file.rfind('.');
    std::string stem = dot == std::string::npos ? file : file.substr(0, dot);
    return join(hostDir(host), stem + ".RPL");
}

}  // namespace

std::string journalPathOf(const std::string& target) {
    return hostPath(journalNameBeside(hostPath(target)));
}

void replaceTable(const std::string& newTable, const std::string& target) {
    // A replacement left unfinished before must not be mixed with this one.
    finishReplacement(target);

    std::string newHost = hostPath(newTable);
    std::string newMemoHost = memoTargetHost(newHost);
    bool hasMemo = exists(newMemoHost);
    std::string targetHost = hostPath(target);
    std::string dir = hostDir(targetHost);
    std::string memoHost = memoTargetHost(targetHost);
    if (!exists(newHost)) throw ReplaceError("No existe la tabla nueva " + newHost);

    auto dropNew = [&] {
        ::unlink(newHost.c_str());
        if (hasMemo) ::unlink(newMemoHost.c_str());
    };

    // Step 1: the new files, flushed, under names of their own next to the
    // target. The names belong to this target alone, so that rebuilding
    // another table in the same scratch directory can never touch the files
    // a pending journal names.
    std::string stagedTable = targetHost + ".nuevo", stagedMemo = memoHost + ".nuevo";
    std::vector<std::string> staged;
    try {
        sync(newHost);
        if (hasMemo) sync(newMemoHost);
        for (auto [from, to] : {std::pair{newHost, stagedTable}, {newMemoHost, stagedMemo}}) {
            if (from == newMemoHost && !hasMemo) continue;
            if (::rename(from.c_str(), to.c_str()) != 0) {
                if (errno != EXDEV)
                    throw ReplaceError("No se puede mover " + from + ": " + errText());
                copyFile(from, to);
                ::unlink(from.c_str());
            }
            staged.push_back(to);
        }
        sync(dir);
        if (hostDir(newHost) != dir) sync(hostDir(newHost));
        replaceHook(ReplaceStep::Staged);
    } catch (...) {
        for (const auto& st : staged) ::unlink(st.c_str());
        dropNew();
        throw;
    }

    // Step 2: the commit point.
    Journal j{hostFile(stagedTable), hasMemo ? hostFile(stagedMemo) : "-", hostFile(targetHost),
              hostFile(memoHost)};
    std::string journal = journalPathOf(target);
    try {
        writeJournal(journal, j);
        sync(dir);
    } catch (...) {
        ::unlink(stagedTable.c_str());
        if (hasMemo) ::unlink(stagedMemo.c_str());
        throw;
    }
    replaceHook(ReplaceStep::Journaled);

    // Steps 3 and 4.
    applyJournal(dir, j, true);
    unlinkIfThere(journal);
    sync(dir);
    replaceHook(ReplaceStep::Done);
}

namespace {

std::string lowerAscii(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool endsWith(const std::string& s, const std::string& end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// Whether the folder holds anything a replacement of the table with this
// file name leaves behind (its journal, the journal being written, the new
// files under their staged names), whatever the case: one listing of the
// folder instead of a look for each name.
bool leftoversOf(const std::string& dir, const std::string& file) {
    // Accented names match in more ways than ASCII case: the full look decides.
    for (char c : file)
        if (static_cast<unsigned char>(c) >= 0x80) return true;
    const size_t dot = file.rfind('.');
    const std::string stem =
        lowerAscii(dot == std::string::npos ? file : file.substr(0, dot)) + ".";
    // The memo's staged name, as memoTargetHost() makes it from the table's.
    const std::string memoStaged =
        lowerAscii(file.size() >= 3 ? file.substr(0, file.size() - 3) : file) + "fpt.nuevo";
    DIR* d = ::opendir(dir.c_str());
    if (!d) return true;  // not known: the full look decides
    bool found = false;
    while (dirent* e = ::readdir(d)) {
        const std::string name = lowerAscii(e->d_name);
        if (name == memoStaged ||
            (name.compare(0, stem.size(), stem) == 0 &&
             (endsWith(name, ".rpl") || endsWith(name, ".rpl.tmp") || endsWith(name, ".nuevo")))) {
            found = true;
            break;
        }
    }
    ::closedir(d);
    return found;
}

}  // namespace

bool finishReplacement(const std::string& target) {
    std::string targetHost = hostPath(target);
    std::string dir = hostDir(targetHost);
    // Nearly always nothing is left over: every open of a table asks.
    if (!leftoversOf(dir, hostFile(targetHost))) return false;
    std::string journal = journalPathOf(target);
    bool found = false;
    if (exists(journal + ".tmp")) {
        // Interrupted before the commit point: the old files are whole.
        unlinkIfThere(journal + ".tmp");
        found = true;
    }
    std::string t = targetHost + ".nuevo";
    std::string m = memoTargetHost(targetHost) + ".nuevo";
    if (!exists(journal) && (exists(t) || exists(m))) {
        unlinkIfThere(t);
        unlinkIfThere(m);
        found = true;
    }
    if (!exists(journal)) {
        if (found) sync(dir);
        return found;
    }
    Journal j;
    if (!readJournal(journal, j))
        throw ReplaceError("El diario de reemplazo " + journal + " está dañado; revise la tabla " +
                           targetHost + " a mano.");
    applyJournal(dir, j, false);
    unlinkIfThere(journal);
    sync(dir);
    return true;
}

bool finishCommittedReplacement(const std::string& target) {
    struct stat st;
    if (::stat(journalNameBeside(hostPath(target)).c_str(), &st) != 0) return false;
    return finishReplacement(target);
}

}  // namespace data
