// TMemoryCheck: the memory leak checker switched on by a marker file.
#ifndef ZANTH_MEMCHECK_H
#define ZANTH_MEMCHECK_H

#include <corewu/tstring.h>
#include <zanth/config.h>
#include <zanth/list.h>

// A developer's aid that tracks registered memory blocks and reports the blocks
// still alive when the library is unloaded.
//
// It is switched on at load by the file "memory.txt" in the temp directory: a box
// asks whether to record. Record mode ("Yes") writes the sequence numbers of the
// blocks that survive to that file at unload (32-bit little-endian integers, in
// registration order). Replay mode (any other answer) reads the numbers of the
// recorded run and, at each registration with one of those numbers, writes a line
// to the log and passes through GetNextPtr: a breakpoint there stops at the
// allocation that leaked before. Without the file every call is one flag test.
//
// The library registers every ZCFlexibleMemory reservation; applications register
// their own blocks with New and Delete. The only instance is built and destroyed by
// the library itself.
// Thread rules: New and Delete may be called from any thread (the checker keeps its
// own lock).
class ZANTH_TOOLS_API TMemoryCheck
{
public:
    // Copies carry nothing: the checker's state is class-wide.
    TMemoryCheck(const TMemoryCheck&) {}
    TMemoryCheck& operator=(const TMemoryCheck&) { return *this; }
    // Calls Destructor under the library's destructor rule.
    virtual ~TMemoryCheck() noexcept(false);

    // Registers a block (nothing happens while the checker is off).
    static void New(void* p, LONG size);
    // Forgets the most recent registration of p; an unknown pointer is ignored.
    static void Delete(void* p);

    // The report at unload: shows a box, and writes the survivors' sequence numbers
    // to the report file when there are any.
    void Destructor();

private:
    friend class ZCFlexibleMemory;

    TMemoryCheck();

    static void NewMemory(void* p, LONG size);
    static void DeleteMemory(void* p);
    // Moves to the next sequence number of the recorded run; -1 when there is none.
    static void GetNextPtr();

    static unsigned int s_Installed;
    // The tracked blocks, oldest at the head.
    static TList s_ElementList;
    // Temp directory + s_ReportName.
    static TString s_ReportPath;
    static TString s_ReportName;
    static TMemoryCheck s_MemoryChecker;
};

#endif // ZANTH_MEMCHECK_H
