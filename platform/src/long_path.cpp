// Paths longer than the kernel's PATH_MAX: the directory search and the file
// identity reach them through these helpers (long_path.h).
#include "long_path.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <unistd.h>

namespace zanth::platform {

// Opens the directory that holds the last component of `path` and leaves that
// component in `rest`. Paths within PATH_MAX need no descriptor (AT_FDCWD comes
// back); longer ones are walked in pieces below PATH_MAX with openat, so that no
// path is cut or refused for its length alone. Returns -1 (errno set) on failure;
// the caller closes a descriptor other than AT_FDCWD.
int OpenLongPathParent(const std::string& path, std::string& rest)
{
    if (path.size() < PATH_MAX) {
        rest = path;
        return AT_FDCWD;
    }
    int fd = AT_FDCWD;
    std::size_t start = 0;
    if (path[0] == '/') {
        fd = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            return -1;
        }
        start = 1;
    }
    while (path.size() - start >= PATH_MAX) {
        // The longest piece that ends at a separator and stays below PATH_MAX.
        std::size_t cut = path.rfind('/', start + PATH_MAX - 2);
        if (cut == std::string::npos || cut <= start) {
            if (fd != AT_FDCWD) {
                ::close(fd);
            }
            errno = ENAMETOOLONG; // a single component longer than PATH_MAX
            return -1;
        }
        const std::string piece = path.substr(start, cut - start);
        const int inner = ::openat(fd, piece.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        const int error = errno;
        if (fd != AT_FDCWD) {
            ::close(fd);
        }
        if (inner < 0) {
            errno = error;
            return -1;
        }
        fd = inner;
        start = cut + 1;
    }
    rest = path.substr(start);
    if (rest.empty()) {
        rest.assign(1, '.');
    }
    return fd;
}

int StatLongPath(const std::string& path, struct stat* info)
{
    std::string rest;
    const int dirFd = OpenLongPathParent(path, rest);
    if (dirFd == -1) {
        return -1;
    }
    const int result = ::fstatat(dirFd, rest.c_str(), info, 0);
    const int error = errno;
    if (dirFd != AT_FDCWD) {
        ::close(dirFd);
    }
    errno = error;
    return result;
}

} // namespace zanth::platform
