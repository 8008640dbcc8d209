// Common settings of the tools library: the export macro and the base library.
#ifndef ZANTH_CONFIG_H
#define ZANTH_CONFIG_H

#include <corewu/corewu.h>

// Marks what libzanthtools.so exports; everything else in the library is hidden.
#define ZANTH_TOOLS_API __attribute__((visibility("default")))

#endif // ZANTH_CONFIG_H
