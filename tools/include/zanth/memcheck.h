// TMemoryCheck: the memory leak checker switched on by a marker file.
#ifndef ZANTH_MEMCHECK_H
#define ZANTH_MEMCHECK_H

#include <zanth/config.h>

#endif // ZANTH_MEMCHECK_H
