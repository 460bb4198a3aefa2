#include "dbf/io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "dbf/error.h"

#include <cerrno>

namespace dbf::io {

ssize_t readAt(int fd, void* buf, size_t n, uint64_t off) {
    size_t done = 0;
    auto* p = static_cast<char*>(buf);
    while (done < n) {
        ssize_t r = ::pread(fd, p + done, n - done, static_cast<off_t>(off + done));
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (r == 0) break;
        done += static_cast<size_t>(r);
    }
    return static_cast<ssize_t>(done);
}

bool writeAt(int fd, const void* buf, size_t n, uint64_t off) {
    size_t done = 0;
    auto* p = static_cast<const char*>(buf);
    while (done < n) {
        ssize_t r = ::pwrite(fd, p + done, n - done, static_cast<off_t>(off + done));
        if (r < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(r);
    }
    return true;
}

void writeNewFile(const std::string& path, const void* buf, size_t n, bool whole,
                  const char* what) {
    const std::string target = whole ? path + ".vdrnew" : path;
    const int fd = ::open(target.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int err = errno;
        throw DbfError(kErrCreate,
                       std::string("No se puede crear ") + what + ": " + osText(err) + ".", path,
                       err);
    }
    bool ok = writeAt(fd, buf, n, 0) && (!whole || ::fdatasync(fd) == 0);
    int err = ok ? 0 : errno;
    ::close(fd);
    if (ok && whole && std::rename(target.c_str(), path.c_str()) != 0) ok = false, err = errno;
    if (ok) return;
    if (whole) ::unlink(target.c_str());
    throw DbfError(kErrWrite,
                   std::string("No se puede escribir ") + what + ": " + osText(err) + ".", path,
                   err);
}

uint64_t fileSize(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0) return 0;
    return static_cast<uint64_t>(st.st_size);
}

std::string osText(int err) {
    switch (err) {
        case ENOENT:
            return "el fichero no existe";
        case EACCES:
        case EPERM:
            return "permiso denegado";
        case EROFS:
            return "el sistema de ficheros es de solo lectura";
        case ENOSPC:
        case EDQUOT:
            return "no queda espacio en el disco";
        case EFBIG:
            return "el fichero ha alcanzado el tamaño máximo permitido";
        case EISDIR:
            return "es una carpeta";
        case EMFILE:
        case ENFILE:
            return "demasiados ficheros abiertos";
        case EIO:
            return "error de entrada/salida";
        case ENOTDIR:
            return "una carpeta de la ruta no existe";
        default:
            return "error del sistema " + std::to_string(err);
    }
}

}  // namespace dbf::io
