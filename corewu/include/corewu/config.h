// Common settings of the base library: the export macro and the Win32 layer.
#ifndef COREWU_CONFIG_H
#define COREWU_CONFIG_H

#include <zanth/win32/windows.h>

// Marks the classes and functions that libcorewu.so exports; everything else in
// the library is hidden.
#define COREWU_API __attribute__((visibility("default")))

#endif // COREWU_CONFIG_H
