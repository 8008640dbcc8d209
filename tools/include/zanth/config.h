// Common settings of the tools library: the Win32 types of the base library and the
// export macro. Each family header includes the base library's headers it uses.
#ifndef ZANTH_CONFIG_H
#define ZANTH_CONFIG_H

#include <corewu/config.h>

// Marks what libzanthtools.so exports; everything else in the library is hidden.
// On Windows: exported while zanthtools.dll is built, imported by its users.
#ifdef _WIN32
#ifdef ZANTH_TOOLS_BUILD
#define ZANTH_TOOLS_API __declspec(dllexport)
#else
#define ZANTH_TOOLS_API __declspec(dllimport)
#endif
#else
#define ZANTH_TOOLS_API __attribute__((visibility("default")))
#endif

#endif // ZANTH_CONFIG_H
