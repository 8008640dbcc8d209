// ZCDateTime: a date-time value with field-wise validation, calendar steps, formatting and parsing.
#ifndef ZANTH_DATETIME_H
#define ZANTH_DATETIME_H

#include <zanth/config.h>

#endif // ZANTH_DATETIME_H
