// TList and TListElement: an intrusive doubly linked list.
#ifndef ZANTH_LIST_H
#define ZANTH_LIST_H

#include <zanth/config.h>

#endif // ZANTH_LIST_H
