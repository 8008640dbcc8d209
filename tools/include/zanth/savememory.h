// Guarded memory blocks, byte filling and inverted copying, and the MEM_ bit tables.
#ifndef ZANTH_SAVEMEMORY_H
#define ZANTH_SAVEMEMORY_H

#include <zanth/config.h>

#endif // ZANTH_SAVEMEMORY_H
