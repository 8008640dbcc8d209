// The library frame: allocation entry points, the library's message box, the
// common-dialog error texts and the console stop event.
#ifndef ZANTH_FRAME_H
#define ZANTH_FRAME_H

#include <corewu/sync.h>
#include <corewu/tstring.h>
#include <zanth/config.h>

namespace ZANTH {

// Allocates with the run time's malloc; null on failure, no exception. Memory
// handed across the library boundary is taken here and given back with _ToolsFree.
ZANTH_TOOLS_API void* _ToolsMalloc(unsigned int size);
ZANTH_TOOLS_API void _ToolsFree(void* p);

} // namespace ZANTH

// Shows a message box: first invokes callback id 3 (no data) on g_ptheMessageQueue,
// then shows the box with MB_TOPMOST | MB_TASKMODAL added, and gives the foreground
// back to the window that had it. Returns what MessageBoxW returns. Runs on the
// caller's thread and blocks it until the box closes.
ZANTH_TOOLS_API int ZanthMessageBox(void* owner, const WCHAR* text, const WCHAR* caption,
                                    unsigned int type);
ZANTH_TOOLS_API int ZanthMessageBox(const WCHAR* text, const WCHAR* caption, unsigned int type);

// The text of a common-dialog extended error code (CDERR_*, PDERR_*, CFERR_*,
// FNERR_*, FRERR_*); empty for 0 and for codes outside the table.
ZANTH_TOOLS_API TString GetCommonDlgErrorText(int code);

// Set by ConsoleControlHandler when the console asks the program to end; named
// "<process id>_<computer name>_CONTROL_HANDLER_EVENT", manual reset. Built when the
// library loads, closed when it unloads; any thread may wait on it.
extern ZANTH_TOOLS_API ZANTH::ZCEvent g_theControlHandlerStopEvent;

#endif // ZANTH_FRAME_H
