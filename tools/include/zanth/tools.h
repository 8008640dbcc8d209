// The tools library: includes every public header, and the base library's, whose
// interface belongs to the tools library's (strings, errors, files, events).
#ifndef ZANTH_TOOLS_H
#define ZANTH_TOOLS_H

#include <corewu/corewu.h>
#include <zanth/config.h>

#include <zanth/codegenerator.h>
#include <zanth/datetime.h>
#include <zanth/flexmem.h>
#include <zanth/frame.h>
#include <zanth/integer.h>
#include <zanth/iobuffer.h>
#include <zanth/list.h>
#include <zanth/mail.h>
#include <zanth/memcheck.h>
#include <zanth/memmap.h>
#include <zanth/messages.h>
#include <zanth/paper.h>
#include <zanth/position.h>
#include <zanth/progress.h>
#include <zanth/savememory.h>
#include <zanth/serialcom.h>
#include <zanth/terminalprogress.h>
#include <zanth/thread.h>
#include <zanth/timer.h>
#include <zanth/units.h>
#include <zanth/userformat.h>

#include <zanth/filebrowser.h>
#include <zanth/osversion.h>
#include <zanth/singleinstance.h>

#endif // ZANTH_TOOLS_H
