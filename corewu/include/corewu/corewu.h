// The base library: everything the tools library and applications use from it.
#ifndef COREWU_COREWU_H
#define COREWU_COREWU_H

#include <corewu/callback.h>
#include <corewu/config.h>
#include <corewu/errors.h>
#include <corewu/file.h>
#include <corewu/geometry.h>
#include <corewu/lifecycle.h>
#include <corewu/log.h>
#include <corewu/messages.h>
#include <corewu/module.h>
#include <corewu/ptrlist.h>
#include <corewu/registry.h>
#include <corewu/smartptr.h>
#include <corewu/sync.h>
#include <corewu/tstring.h>
#include <corewu/widestr.h>

#endif // COREWU_COREWU_H
