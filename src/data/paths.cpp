#include "data/paths.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace data {

namespace {

// The entry of `dir` whose name equals `name` without regard to case; the
// exact name wins when both exist.
std::string findEntry(const std::string& dir, const std::string& name) {
    std::string probe = (dir.empty() ? std::string() : dir) + name;
    struct stat st;
    if (::stat(probe.empty() ? "." : probe.c_str(), &st) == 0) return name;
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return name;
    std::string found = name;
    while (dirent* e = ::readdir(d)) {
        if (::strcasecmp(e->d_name, name.c_str()) == 0) {
            found = e->d_name;
            break;
        }
    }
    ::closedir(d);
    return found;
}

}  // namespace

std::string hostPath(std::string_view path) {
    std::string p(path);
    for (char& c : p)
        if (c == '\\') c = '/';
    std::string out;
    size_t i = 0;
    if (!p.empty() && p[0] == '/') {
        out = "/";
        i = 1;
    }
    while (i <= p.size()) {
        size_t j = p.find('/', i);
        if (j == std::string::npos) j = p.size();
        std::string comp = p.substr(i, j - i);
        if (!comp.empty()) {
            if (comp == "." || comp == "..")
                out += comp;
            else
                out += findEntry(out, comp);
            if (j < p.size()) out += '/';
        }
        i = j + 1;
    }
    return out;
}

bool fileExists(std::string_view path) {
    struct stat st;
    std::string h = hostPath(path);
    return !h.empty() && ::stat(h.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool dirExists(std::string_view path) {
    struct stat st;
    std::string h = hostPath(path);
    if (h.empty()) h = ".";
    return ::stat(h.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string dirPart(std::string_view path) {
    size_t k = path.find_last_of("\\/");
    return k == std::string_view::npos ? std::string() : std::string(path.substr(0, k + 1));
}

std::string filePart(std::string_view path) {
    size_t k = path.find_last_of("\\/");
    return k == std::string_view::npos ? std::string(path) : std::string(path.substr(k + 1));
}

bool removeFile(std::string_view path) {
    if (!fileExists(path)) return false;
    return ::unlink(hostPath(path).c_str()) == 0;
}

void syncPath(const std::string& hostName) {
    std::string n = hostName.empty() ? "." : hostName;
    int fd = ::open(n.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("No se puede abrir " + n + ": " + std::strerror(errno));
    int rc = ::fsync(fd);
    int err = errno;
    ::close(fd);
    // Some file systems refuse fsync on a directory; that is no data loss.
    if (rc != 0 && err != EINVAL && err != EROFS)
        throw std::runtime_error("No se puede asegurar en disco " + n + ": " + std::strerror(err));
}

}  // namespace data
