// The module list (one record per library that registers itself when loaded) and
// the run-time hooks that a library installs when it is loaded.
#ifndef COREWU_MODULE_H
#define COREWU_MODULE_H

#include <corewu/tstring.h>

#include <mutex>
#include <vector>

// What a library records about itself: its module handle, a signed value (-1 from
// the tools library) and the full path of its file.
struct COREWU_API TModuleRecord
{
    HMODULE module = nullptr;
    LONG value = -1;
    TString path;
};

// The list of module records, in the order in which they were appended. Records
// stay when a library is unloaded. Thread rules: any thread.
class COREWU_API TModuleList
{
public:
    void Append(const TModuleRecord& record);
    std::size_t Count() const;
    TModuleRecord At(std::size_t index) const;
    // The last record appended for a module handle; false when there is none.
    bool Find(HMODULE module, TModuleRecord& record) const;

private:
    mutable std::mutex m_Lock;
    std::vector<TModuleRecord> m_Records;
};

extern COREWU_API TModuleList* g_pTheModuleList;

// The new-handler that libraries install: reports the failed allocation to the
// log and throws std::bad_alloc.
COREWU_API void zanth_new_handler();

// The structured-exception translator of the Windows build. Linux has no such
// mechanism: faults the processor would raise (integer division by zero) are
// checked in code and raised as library errors instead, so this does nothing.
COREWU_API void zanth_exception_transformation();

#endif // COREWU_MODULE_H
