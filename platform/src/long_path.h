// Paths longer than the kernel's PATH_MAX (long_path.cpp), for the file calls and
// the directory search.
#ifndef ZANTH_PLATFORM_LONG_PATH_H
#define ZANTH_PLATFORM_LONG_PATH_H

#include <string>
#include <sys/stat.h>

namespace zanth::platform {

// The directory holding the last component of `path`, walked in pieces below the
// kernel's PATH_MAX when the path is longer; `rest` receives what is left to open
// relative to it. Returns AT_FDCWD for a short path, a descriptor the caller closes
// for a long one, or -1 with errno set.
int OpenLongPathParent(const std::string& path, std::string& rest);

// stat() for a path of any length; follows symbolic links.
int StatLongPath(const std::string& path, struct stat* info);

} // namespace zanth::platform

#endif // ZANTH_PLATFORM_LONG_PATH_H
