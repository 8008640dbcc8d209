// ZCFlexibleMemory: a reserved address range with one committed window that grows,
// shrinks and slides without moving, guarded by check words at both ends.
#ifndef ZANTH_FLEXMEM_H
#define ZANTH_FLEXMEM_H

#include <corewu/messages.h>
#include <corewu/tstring.h>
#include <zanth/config.h>

// One contiguous range of reserved address space and, inside it, one committed
// window. Reserve the largest size ever needed once, then commit only what is used:
// growing, shrinking or sliding the window commits and decommits pages at its edges
// only, never copies, and never moves the addresses handed out. The 4 bytes before
// the window and the 4 bytes after it hold the guard word 0x12345678 (Check).
//
// Layout of Reserve(n): the range is n + 8 bytes rounded up to whole pages; Start()
// is its base + 4, so that a window at offset 0 has room for its front guard.
// Sizes and offsets are 32-bit (LONG); callers keep offset + size within the
// reserved size. A commit that would pass the end of the reservation raises
// message 2 and leaves the object as it was.
//
// The object owns its reservation and releases it when destroyed or re-reserved;
// it cannot be copied. Every reservation is registered with the leak checker when
// that is installed (TMemoryCheck). Errors: catalog FlexibleMemoryError, messages
// 0 (reserve), 1 (release), 2 (commit), 3 (decommit), each with the byte count in
// hexadecimal and the system error beneath.
// Thread rules: one thread at a time per object.
class ZANTH_TOOLS_API ZCFlexibleMemory
{
public:
    // The error catalog of the class ("TFlexibleMemory::FlexibleMemoryError").
    class ZANTH_TOOLS_API ZMCFlexibleMemoryError : public TMessageBase
    {
    public:
        ZMCFlexibleMemoryError();
        ZMCFlexibleMemoryError& operator=(const ZMCFlexibleMemoryError& other)
        {
            TMessageBase::operator=(other);
            return *this;
        }
    };

    ZCFlexibleMemory();
    // Releases the reservation; an error is raised on only when no other error is
    // being unwound.
    virtual ~ZCFlexibleMemory() noexcept(false);
    ZCFlexibleMemory(const ZCFlexibleMemory&) = delete;
    ZCFlexibleMemory& operator=(const ZCFlexibleMemory&) = delete;

    // Release().
    void Destructor();
    // Releases any old range and reserves room for n bytes; nothing is committed.
    void Reserve(LONG n);
    // Decommits the window and gives the range back. Harmless when empty.
    void Release();
    // Makes bytes first .. first + size - 1 the committed window and returns
    // Start() + first; size 0 decommits everything and returns null. Pages that the
    // old and new windows share keep their contents; new pages read as zeros.
    unsigned char* Commit(LONG first, LONG size);
    // Commit for a caller whose windows must stay within the size passed to
    // Reserve, not just within its pages (the buffered writer): a window
    // that passes that size raises message 2 with the window's size as the count,
    // and the object stays as it was.
    unsigned char* CommitWithinReserved(LONG first, LONG size);
    // Decommits the whole window.
    void Decommit();
    // Commits the window at its offset with its size plus delta (negative shrinks).
    void Grow(LONG delta);
    // 1 when the window is empty or both guard words are intact, else 0.
    unsigned int Check() const;
    // The largest size that Reserve can take now: the largest free region of the
    // address space, limited to what the process may still map in all (an
    // address-space limit, `ulimit -v`, as GlobalMemoryStatusEx reports it) and to
    // what the 32-bit size of Reserve can ask for, rounded down to the allocation
    // granularity, less 8 (the guard words). On a 64-bit system without a limit the
    // free space is far larger than 32 bits, so the result is normally 0x7FFFFFF8 (a
    // reservation of 2 GiB); it is 0 when no granule is free.
    static ULONG MaxFree();

    unsigned char* Start() const { return m_pStart; }
    unsigned char* First() const { return m_pStart + m_WindowOffset; }
    unsigned char* FirstInvalid() const { return m_pStart + m_WindowOffset + m_WindowSize; }
    LONG Size() const { return m_WindowSize; }

protected:
    // The system page size; filled by the first constructor.
    static LONG s_PageSize;
    // The guard word at both ends of the window.
    static const ULONG s_CheckLong;

private:
    // (n + 8) rounded up to whole pages: the bytes to reserve for n (64-bit, as the
    // sum passes 32 bits for the largest n).
    static SIZE_T CalcSize(LONG n);
    // The first page of a window at `offset`: (start + offset - 4) rounded down.
    // Offsets are 64-bit here because offset + size may pass 32 bits.
    unsigned char* CalcFirst(LONGLONG offset) const;
    // The page after a window ending at `offset`: (start + offset + 4) rounded up.
    unsigned char* CalcFirstInvalid(LONGLONG offset) const;
    // Commits [lo, hi), raising message 2 with its byte count when the range is not
    // inside the reservation or the system refuses it.
    void CommitPages(unsigned char* lo, unsigned char* hi);
    // Decommits [lo, hi), raising message 3 with `reported` on failure.
    void DecommitPages(unsigned char* lo, unsigned char* hi, ULONGLONG reported);
    // Raises message `message` with a hexadecimal count and a system error beneath.
    [[noreturn]] static void Raise(WORD message, const TString& count);
    void WriteGuards();

    unsigned char* m_pStart = nullptr;
    LONG m_ReservedSize = 0;
    LONG m_WindowOffset = 0;
    LONG m_WindowSize = 0;

    static ZMCFlexibleMemoryError FlexibleMemoryError;
};

#endif // ZANTH_FLEXMEM_H
