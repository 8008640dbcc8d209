// ZCFlexibleMemory: reserve once, commit a sliding window, guard both ends.
//
// Address arithmetic is done on integers (uintptr_t) rather than on pointers, so
// that a window asked for outside the reservation is computed without undefined
// behaviour and then refused as a clear error (message 2).
#include <corewu/errors.h>
#include <zanth/flexmem.h>
#include <zanth/memcheck.h>

#include <algorithm>
#include <atomic>
#include <cstring>

LONG ZCFlexibleMemory::s_PageSize = 0;
const ULONG ZCFlexibleMemory::s_CheckLong = 0x12345678;

namespace {

std::uintptr_t Address(const unsigned char* p)
{
    return reinterpret_cast<std::uintptr_t>(p);
}

unsigned char* Pointer(std::uintptr_t address)
{
    return reinterpret_cast<unsigned char*>(address);
}

// The page size, read race-free: every constructor may store it, all store the
// same value.
std::uintptr_t PageSize(LONG& slot)
{
    return static_cast<std::uintptr_t>(std::atomic_ref<LONG>(slot).load(std::memory_order_relaxed));
}

TString Hex(ULONGLONG count)
{
    return TString(count, 16);
}

} // namespace

ZCFlexibleMemory::ZCFlexibleMemory()
{
    std::atomic_ref<LONG> pageSize(s_PageSize);
    if (pageSize.load(std::memory_order_relaxed) == 0) {
        SYSTEM_INFO info;
        ::GetSystemInfo(&info);
        pageSize.store(static_cast<LONG>(info.dwPageSize), std::memory_order_relaxed);
    }
}

ZCFlexibleMemory::~ZCFlexibleMemory() noexcept(false)
{
    RunDestructorWork([this] { Destructor(); });
}

void ZCFlexibleMemory::Destructor()
{
    Release();
}

void ZCFlexibleMemory::Raise(WORD message, const TString& count)
{
    PushSystemError();
    ThrowNewError(FlexibleMemoryError, message, count, TString::NullString, TString::NullString,
                  nullptr);
}

SIZE_T ZCFlexibleMemory::CalcSize(LONG n)
{
    const auto page = static_cast<SIZE_T>(PageSize(s_PageSize));
    return (page + static_cast<SIZE_T>(n) + 7) / page * page;
}

unsigned char* ZCFlexibleMemory::CalcFirst(LONGLONG offset) const
{
    const std::uintptr_t page = PageSize(s_PageSize);
    const std::uintptr_t address =
        Address(m_pStart) + static_cast<std::uintptr_t>(offset) - 4; // wraps, never UB
    return Pointer(address / page * page);
}

unsigned char* ZCFlexibleMemory::CalcFirstInvalid(LONGLONG offset) const
{
    const std::uintptr_t page = PageSize(s_PageSize);
    const std::uintptr_t address =
        Address(m_pStart) + page + static_cast<std::uintptr_t>(offset) + 3;
    return Pointer(address / page * page);
}

void ZCFlexibleMemory::CommitPages(unsigned char* lo, unsigned char* hi)
{
    const ULONGLONG count = Address(hi) - Address(lo);
    // Only pages of this object's own reservation may be committed; anything else
    // (a window past the end, a negative offset, no reservation at all) is refused
    // here, before it could reach a neighbouring reservation.
    const std::uintptr_t base = Address(m_pStart) - 4;
    if (m_pStart == nullptr || Address(lo) < base ||
        Address(hi) > base + CalcSize(m_ReservedSize) || Address(hi) <= Address(lo)) {
        ::SetLastError(ERROR_INVALID_ADDRESS);
        Raise(2, Hex(count));
    }
    if (::VirtualAlloc(lo, static_cast<SIZE_T>(count), MEM_COMMIT, PAGE_READWRITE) == nullptr) {
        Raise(2, Hex(count));
    }
}

void ZCFlexibleMemory::DecommitPages(unsigned char* lo, unsigned char* hi, ULONGLONG reported)
{
    if (!::VirtualFree(lo, static_cast<SIZE_T>(Address(hi) - Address(lo)), MEM_DECOMMIT)) {
        Raise(3, Hex(reported));
    }
}

void ZCFlexibleMemory::WriteGuards()
{
    std::memcpy(m_pStart + m_WindowOffset - 4, &s_CheckLong, 4);
    std::memcpy(m_pStart + m_WindowOffset + m_WindowSize, &s_CheckLong, 4);
}

void ZCFlexibleMemory::Reserve(LONG n)
{
    Release();
    if (n < 0) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        Raise(0, TString(n, 16));
    }
    void* base = ::VirtualAlloc(nullptr, CalcSize(n), MEM_RESERVE, PAGE_READWRITE);
    if (base == nullptr) {
        Raise(0, TString(n, 16));
    }
    m_pStart = static_cast<unsigned char*>(base) + 4;
    m_ReservedSize = n;
    m_WindowOffset = 0;
    m_WindowSize = 0;
    if (TMemoryCheck::s_Installed) {
        TMemoryCheck::NewMemory(m_pStart, n);
    }
}

void ZCFlexibleMemory::Release()
{
    if (m_pStart == nullptr) {
        return;
    }
    Decommit();
    if (TMemoryCheck::s_Installed) {
        TMemoryCheck::DeleteMemory(m_pStart);
    }
    if (!::VirtualFree(m_pStart - 4, 0, MEM_RELEASE)) {
        Raise(1, TString(m_ReservedSize, 16));
    }
    m_pStart = nullptr;
}

unsigned char* ZCFlexibleMemory::Commit(LONG first, LONG size)
{
    if (size == 0) {
        Decommit();
        return nullptr;
    }
    if (size < 0) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        Raise(2, TString(size, 16));
    }
    if (m_pStart == nullptr) {
        // Nothing reserved: there are no pages to commit the window in.
        ::SetLastError(ERROR_INVALID_ADDRESS);
        Raise(2, TString(size, 16));
    }
    unsigned char* newLo = CalcFirst(first);
    unsigned char* newHi = CalcFirstInvalid(static_cast<LONGLONG>(first) + size);
    if (m_WindowSize != 0) {
        unsigned char* oldLo = CalcFirst(m_WindowOffset);
        unsigned char* oldHi =
            CalcFirstInvalid(static_cast<LONGLONG>(m_WindowOffset) + m_WindowSize);
        if (Address(oldLo) < Address(newHi) && Address(newLo) < Address(oldHi)) {
            // The windows overlap: only the edges change. The edges that grow are
            // committed first, so that a refused commit leaves the old window whole
            // (its guards readable, the object usable); the shrinking edges follow.
            const bool growFront = Address(newLo) < Address(oldLo);
            if (growFront) {
                CommitPages(newLo, oldLo);
            }
            if (Address(newHi) > Address(oldHi)) {
                try {
                    CommitPages(oldHi, newHi);
                } catch (TException&) {
                    if (growFront) {
                        ::VirtualFree(newLo, static_cast<SIZE_T>(Address(oldLo) - Address(newLo)),
                                      MEM_DECOMMIT);
                    }
                    throw;
                }
            }
            if (Address(newLo) > Address(oldLo)) {
                DecommitPages(oldLo, newLo, Address(newLo) - Address(oldLo));
            }
            if (Address(newHi) < Address(oldHi)) {
                DecommitPages(newHi, oldHi, Address(oldHi) - Address(newHi));
            }
            m_WindowOffset = first;
            m_WindowSize = size;
            WriteGuards();
            return m_pStart + first;
        }
    }
    // No window yet, or no overlap: nothing of the old window survives. A window
    // outside the reservation is refused before the old one is given up.
    const std::uintptr_t base = Address(m_pStart) - 4;
    if (m_pStart == nullptr || Address(newLo) < base ||
        Address(newHi) > base + CalcSize(m_ReservedSize)) {
        ::SetLastError(ERROR_INVALID_ADDRESS);
        Raise(2, Hex(Address(newHi) - Address(newLo)));
    }
    Decommit();
    CommitPages(newLo, newHi);
    m_WindowOffset = first;
    m_WindowSize = size;
    WriteGuards();
    return m_pStart + first;
}

unsigned char* ZCFlexibleMemory::CommitWithinReserved(LONG first, LONG size)
{
    if (m_pStart != nullptr && size > 0 &&
        (first < 0 || static_cast<LONGLONG>(first) + size > m_ReservedSize)) {
        // The pages of the reservation might still hold the window, but the
        // caller's size does not: refuse it as the platform refuses pages outside
        // the reservation, naming the bytes that were asked for.
        ::SetLastError(ERROR_INVALID_ADDRESS);
        Raise(2, Hex(static_cast<ULONGLONG>(size)));
    }
    return Commit(first, size);
}

void ZCFlexibleMemory::Decommit()
{
    if (m_WindowSize <= 0) {
        return;
    }
    DecommitPages(CalcFirst(m_WindowOffset),
                  CalcFirstInvalid(static_cast<LONGLONG>(m_WindowOffset) + m_WindowSize),
                  static_cast<ULONGLONG>(m_WindowSize));
    m_WindowOffset = 0;
    m_WindowSize = 0;
}

void ZCFlexibleMemory::Grow(LONG delta)
{
    const LONGLONG size = static_cast<LONGLONG>(m_WindowSize) + delta;
    if (size < 0 || size > 0x7FFFFFFF) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        Raise(2, TString(size, 16));
    }
    Commit(m_WindowOffset, static_cast<LONG>(size));
}

unsigned int ZCFlexibleMemory::Check() const
{
    if (m_WindowSize < 1) {
        return 1;
    }
    ULONG front;
    ULONG back;
    std::memcpy(&front, m_pStart + m_WindowOffset - 4, 4);
    std::memcpy(&back, m_pStart + m_WindowOffset + m_WindowSize, 4);
    return front == s_CheckLong && back == s_CheckLong ? 1 : 0;
}

ULONG ZCFlexibleMemory::MaxFree()
{
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    const auto top = reinterpret_cast<std::uintptr_t>(info.lpMaximumApplicationAddress);
    if (top == 0 || info.dwAllocationGranularity == 0) {
        return 0;
    }
    SIZE_T largest = 0;
    std::uintptr_t at = 0;
    while (at < top) {
        MEMORY_BASIC_INFORMATION region;
        if (::VirtualQuery(reinterpret_cast<void*>(at), &region, sizeof region) == 0) {
            break;
        }
        if (region.State == MEM_FREE && region.BaseAddress != nullptr &&
            region.RegionSize > largest) {
            largest = region.RegionSize;
        }
        const std::uintptr_t next =
            reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize;
        if (next <= at) {
            break;
        }
        at = next;
    }
    // A free region is no use beyond what the process may still map in all: an
    // address-space limit (ulimit -v) leaves far less than the largest gap.
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (::GlobalMemoryStatusEx(&status) && status.ullAvailVirtual < largest) {
        largest = static_cast<SIZE_T>(status.ullAvailVirtual);
    }
    // Reserve takes a 32-bit size: the largest it can ask for, as whole granules,
    // is 2 GiB (n = 0x7FFFFFF8 reserves exactly 0x80000000 bytes).
    const SIZE_T granule = info.dwAllocationGranularity;
    const SIZE_T granules = std::min<SIZE_T>(largest / granule, SIZE_T{0x80000000} / granule);
    const SIZE_T size = granules * granule;
    return size > 0 ? static_cast<ULONG>(size - 8) : 0;
}
