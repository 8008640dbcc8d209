// The base library's process-wide objects. They are created on first use and never
// destroyed, so that other libraries' objects can still log, look up messages and
// raise errors while they are being destroyed at unload or exit.
#include <corewu/callback.h>
#include <corewu/errors.h>
#include <corewu/file.h>
#include <corewu/log.h>
#include <corewu/messages.h>
#include <corewu/module.h>

namespace {

template <class T> T* Leaked()
{
    static T* object = new T;
    return object;
}

// Registers the base library's catalogs while the library loads, before any other
// library's, so that their numbers come first.
struct RegisterCatalogs
{
    RegisterCatalogs()
    {
        (void)TFile::FileErrors();
        (void)CoreErrors();
    }
} g_RegisterCatalogs;

} // namespace

const TMessageBase& CoreErrors()
{
    static const TMessageBase catalog(TEXT("CoreErrors"), TEXT("COREWU"),
                                      TEXT("corewu/src/globals.cpp"), __LINE__);
    return catalog;
}

TLogFile* g_ptheLogfile = Leaked<TLogFile>();
CMessageQueue* g_ptheMessageQueue = Leaked<CMessageQueue>();
TModuleList* g_pTheModuleList = Leaked<TModuleList>();
