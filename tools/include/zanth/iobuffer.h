// Buffered reading and writing through a fixed memory buffer, for files and other sources.
#ifndef ZANTH_IOBUFFER_H
#define ZANTH_IOBUFFER_H

#include <zanth/config.h>

#endif // ZANTH_IOBUFFER_H
