#include "data/paths.h"

#include "dbf/paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace data {

std::string hostPath(std::string_view path) {
    return dbf::resolvePath(path);
}

bool fileExists(std::string_view path) {
    struct stat st;
    std::string h = hostPath(path);
    return !h.empty() && ::stat(h.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool dirExists(std::string_view path) {
    struct stat st;
    std::string h = path.empty() ? std::string(".") : hostPath(path);
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
    auto message = [&](const char* what, int err) {
        std::string m = what;
        m.append(n).append(": ").append(std::strerror(err));
        return m;
    };
    if (fd < 0) throw std::runtime_error(message("No se puede abrir ", errno));
    int rc = ::fsync(fd);
    int err = errno;
    ::close(fd);
    // Some file systems refuse fsync on a directory; that is no data loss.
    if (rc != 0 && err != EINVAL && err != EROFS)
        throw std::runtime_error(message("No se puede asegurar en disco ", err));
}

}  // namespace data
