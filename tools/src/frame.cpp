// The library frame's functions: allocation entry points, the message box and the
// common-dialog error texts.
#include <corewu/callback.h>
#include <zanth/frame.h>
#include <zanth/messages.h>

#include <zanth/win32/cderr.h>

#include <cstdlib>

namespace ZANTH {

void* _ToolsMalloc(unsigned int size)
{
    return std::malloc(size);
}

void _ToolsFree(void* p)
{
    std::free(p);
}

} // namespace ZANTH

int ZanthMessageBox(void* owner, const WCHAR* text, const WCHAR* caption, unsigned int type)
{
    g_ptheMessageQueue->InvokeAll(3, nullptr);
    HWND foreground = ::GetForegroundWindow();
    const int result =
        ::MessageBoxW(static_cast<HWND>(owner), text, caption, type | MB_TOPMOST | MB_TASKMODAL);
    ::SetForegroundWindow(foreground);
    return result;
}

int ZanthMessageBox(const WCHAR* text, const WCHAR* caption, unsigned int type)
{
    return ZanthMessageBox(nullptr, text, caption, type);
}

TString GetCommonDlgErrorText(int code)
{
    struct Entry
    {
        int code;
        WORD message;
    };
    // Within each group the message numbers follow the alphabetical order of the
    // constants' names.
    static const Entry kTable[] = {
        {CDERR_DIALOGFAILURE, 0},     {CDERR_STRUCTSIZE, 12},      {CDERR_INITIALIZATION, 2},
        {CDERR_NOTEMPLATE, 10},       {CDERR_NOHINSTANCE, 8},      {CDERR_LOADSTRFAILURE, 4},
        {CDERR_FINDRESFAILURE, 1},    {CDERR_LOADRESFAILURE, 3},   {CDERR_LOCKRESFAILURE, 5},
        {CDERR_MEMALLOCFAILURE, 6},   {CDERR_MEMLOCKFAILURE, 7},   {CDERR_NOHOOK, 9},
        {CDERR_REGISTERMSGFAIL, 11},  {PDERR_SETUPFAILURE, 24},    {PDERR_PARSEFAILURE, 21},
        {PDERR_RETDEFFAILURE, 23},    {PDERR_LOADDRVFAILURE, 18},  {PDERR_GETDEVMODEFAIL, 16},
        {PDERR_INITFAILURE, 17},      {PDERR_NODEVICES, 20},       {PDERR_NODEFAULTPRN, 19},
        {PDERR_DNDMMISMATCH, 15},     {PDERR_CREATEICFAILURE, 13}, {PDERR_PRINTERNOTFOUND, 22},
        {PDERR_DEFAULTDIFFERENT, 14}, {CFERR_NOFONTS, 26},         {CFERR_MAXLESSTHANMIN, 25},
        {FNERR_SUBCLASSFAILURE, 29},  {FNERR_INVALIDFILENAME, 28}, {FNERR_BUFFERTOOSMALL, 27},
        {FRERR_BUFFERLENGTHZERO, 30},
    };
    for (const Entry& entry : kTable) {
        if (entry.code == code) {
            return GetMessageW(ComDlgExtentErrors, entry.message, TString::NullString,
                               TString::NullString, TString::NullString);
        }
    }
    return TString();
}
