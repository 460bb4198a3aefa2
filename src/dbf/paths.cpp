#include "dbf/paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <vector>

#include "xbase/codepage.h"

namespace dbf {

namespace {

bool exists(const std::string& p) {
    struct stat st;
    return ::lstat(p.c_str(), &st) == 0;
}

bool equalAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// Names compare without regard to case, accented letters included ("COMPAÑÍA"
// finds "Compañía"), as on the file systems the installations come from.
bool equalNoCase(std::string_view a, std::string_view b) {
    if (equalAscii(a, b)) return true;
    auto ascii = [](std::string_view s) {
        for (char c : s)
            if (static_cast<unsigned char>(c) >= 0x80) return false;
        return true;
    };
    if (ascii(a) && ascii(b)) return false;
    // Characters outside Windows-1252 become distinct control bytes so that
    // they never match one another by accident.
    std::string la = xb::lower1252(xb::utf8ToCp1252(a, '\x01'));
    std::string lb = xb::lower1252(xb::utf8ToCp1252(b, '\x02'));
    return la == lb;
}

// The entry of `dir` whose name matches `name` without regard to case.
std::optional<std::string> matchInDir(const std::string& dir, std::string_view name) {
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return std::nullopt;
    std::optional<std::string> found;
    while (dirent* e = ::readdir(d)) {
        if (equalNoCase(e->d_name, name)) {
            found = e->d_name;
            break;
        }
    }
    ::closedir(d);
    return found;
}

}  // namespace

std::string normalizeSeparators(std::string_view path) {
    std::string s(path);
    for (char& c : s)
        if (c == '\\') c = '/';
    return s;
}

namespace {

// A path the walk below would keep as it stands when it exists: no doubled
// or trailing slash.
bool plainPath(const std::string& p) {
    return !p.empty() && p.find("//") == std::string::npos && (p.size() == 1 || p.back() != '/');
}

// `found` tells whether the answer names an existing entry.
std::string resolve(std::string_view path, bool& found) {
    std::string p = normalizeSeparators(path);
    found = false;
    if (p.empty()) return p;
    // Written as it stands on the disk (nearly always): every component
    // matches exactly, which the walk below would keep, and one look is
    // enough instead of one per folder.
    const bool plain = plainPath(p);
    if (plain && exists(p)) {
        found = true;
        return p;
    }
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= p.size()) {
        size_t slash = p.find('/', start);
        if (slash == std::string::npos) slash = p.size();
        parts.push_back(p.substr(start, slash - start));
        start = slash + 1;
    }
    std::string out = p[0] == '/' ? "/" : "";
    bool missing = false;  // once a folder is missing, nothing below it can be matched
    bool seen = false;     // the last component was found on the disk
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::string& part = parts[i];
        if (part.empty()) continue;  // leading, doubled or trailing slash
        std::string candidate = out.empty() || out.back() == '/' ? out + part : out + "/" + part;
        seen = false;
        if (!missing && part != "." && part != "..") {
            if (exists(candidate)) {
                seen = true;
            } else if (auto m = matchInDir(out.empty() ? "." : out, part)) {
                candidate = out.empty() || out.back() == '/' ? out + *m : out + "/" + *m;
                seen = true;
            } else {
                missing = true;
            }
        }
        out = candidate;
    }
    found = !missing && !out.empty() && (seen || exists(out));
    return out;
}

}  // namespace

std::string resolvePath(std::string_view path) {
    bool found = false;
    return resolve(path, found);
}

std::optional<std::string> findExisting(std::string_view path) {
    bool found = false;
    std::string r = resolve(path, found);
    if (found) return r;
    return std::nullopt;
}

int openExisting(std::string_view path, int flags, std::string& resolved) {
    std::string p = normalizeSeparators(path);
    if (plainPath(p)) {
        const int fd = ::open(p.c_str(), flags | O_CLOEXEC);
        if (fd >= 0 || (errno != ENOENT && errno != ENOTDIR)) {
            resolved = std::move(p);
            return fd;
        }
    }
    bool found = false;
    resolved = resolve(p, found);
    if (!found) {
        errno = ENOENT;
        return -1;
    }
    return ::open(resolved.c_str(), flags | O_CLOEXEC);
}

std::string withExtension(std::string_view path, std::string_view ext) {
    std::string p = normalizeSeparators(path);
    size_t slash = p.rfind('/');
    size_t dot = p.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) p.erase(dot);
    p += ext;
    return resolvePath(p);
}

std::string baseName(std::string_view path) {
    std::string p = normalizeSeparators(path);
    size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

}  // namespace dbf
