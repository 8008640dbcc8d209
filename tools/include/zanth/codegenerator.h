// ZCCodeGenerator: an append-only buffer for generated machine code that never moves.
#ifndef ZANTH_CODEGENERATOR_H
#define ZANTH_CODEGENERATOR_H

#include <zanth/config.h>

#endif // ZANTH_CODEGENERATOR_H
