// Events and multi-wait, the thread framework and the priority message queue.
#ifndef ZANTH_THREAD_H
#define ZANTH_THREAD_H

#include <zanth/config.h>

#endif // ZANTH_THREAD_H
