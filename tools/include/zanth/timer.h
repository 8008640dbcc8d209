// Stop-watch timer, time-sliced work, the raw system clock and the console control handler.
#ifndef ZANTH_TIMER_H
#define ZANTH_TIMER_H

#include <zanth/config.h>

#endif // ZANTH_TIMER_H
