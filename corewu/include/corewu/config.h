// Common settings of the base library: the export macro and the Win32 layer.
#ifndef COREWU_CONFIG_H
#define COREWU_CONFIG_H

#include <zanth/win32/windows.h>

// Marks the classes and functions that libcorewu.so exports; everything else in
// the library is hidden. On Windows: exported while corewu.dll is built, imported
// by its users.
#ifdef _WIN32
#ifdef COREWU_BUILD
#define COREWU_API __declspec(dllexport)
#else
#define COREWU_API __declspec(dllimport)
#endif
#else
#define COREWU_API __attribute__((visibility("default")))
#endif

#endif // COREWU_CONFIG_H
