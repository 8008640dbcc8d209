// Virtual memory: VirtualAlloc, VirtualFree and VirtualQuery with Win32's
// reserve-and-commit model on Linux.
//
// A reservation is an inaccessible private mapping (PROT_NONE): it takes address
// space only, so reserving far more than the machine could back succeeds, and the
// kernel charges nothing against the commit limit for it. Committing makes pages
// accessible with mprotect, which is where the kernel charges the commit; pages
// that were never touched read as zeros. Decommitting maps fresh inaccessible
// anonymous pages over the range (MAP_FIXED): the old pages and their charge go
// back to the kernel at once, and a later commit sees zeros, as on Windows.
//
// Reservations start on a 64 KiB boundary (Win32's allocation granularity). The
// layer keeps a table of its own reservations with the committed page runs of
// each, so that commits outside a reservation fail with ERROR_INVALID_ADDRESS and
// VirtualQuery can tell reserved from committed pages. Everything else in the
// address space (program, libraries, heap, stacks, other mappings) is read from
// /proc/self/maps, and the gaps between mappings are reported as MEM_FREE.
//
// GlobalMemoryStatusEx reports the address space that the process can still
// reserve, which an address-space limit (RLIMIT_AS) cuts down.
#include "internal.h"

#include <zanth/win32/zanthext.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <unistd.h>

namespace zanth::platform {
namespace {

constexpr std::uintptr_t kGranularity = 0x10000;

std::uintptr_t PageSize()
{
    static const std::uintptr_t size = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    return size;
}

std::uintptr_t PageDown(std::uintptr_t address)
{
    return address & ~(PageSize() - 1);
}

// Rounds up to a page boundary; false when the result would wrap around.
bool PageUp(std::uintptr_t address, std::uintptr_t& result)
{
    const std::uintptr_t mask = PageSize() - 1;
    if (address > ~std::uintptr_t{0} - mask) {
        return false;
    }
    result = (address + mask) & ~mask;
    return true;
}

// The highest address an application may use, plus one (GetSystemInfo's
// lpMaximumApplicationAddress + 1).
std::uintptr_t AddressSpaceEnd()
{
    // Read once: GetSystemInfo also counts the processors, which reads /sys.
    static const std::uintptr_t end = [] {
        SYSTEM_INFO info;
        ::GetSystemInfo(&info);
        return reinterpret_cast<std::uintptr_t>(info.lpMaximumApplicationAddress) + 1;
    }();
    return end;
}

// Win32 page protection to mmap protection; false for values VirtualAlloc refuses
// or that this layer does not offer (PAGE_GUARD, PAGE_WRITECOPY, ...).
bool ToProt(DWORD protect, int& prot)
{
    switch (protect) {
    case PAGE_NOACCESS:
        prot = PROT_NONE;
        return true;
    case PAGE_READONLY:
        prot = PROT_READ;
        return true;
    case PAGE_READWRITE:
        prot = PROT_READ | PROT_WRITE;
        return true;
    case PAGE_EXECUTE:
        prot = PROT_EXEC;
        return true;
    case PAGE_EXECUTE_READ:
        prot = PROT_READ | PROT_EXEC;
        return true;
    case PAGE_EXECUTE_READWRITE:
        prot = PROT_READ | PROT_WRITE | PROT_EXEC;
        return true;
    default:
        return false;
    }
}

// One reservation made by VirtualAlloc. `committed` maps the start of each run of
// committed pages to its end and protection; runs never overlap, and adjacent runs
// with the same protection are merged.
struct Run
{
    std::uintptr_t end;
    DWORD protect;
};

struct Reservation
{
    std::uintptr_t size = 0;
    DWORD protect = 0;
    std::map<std::uintptr_t, Run> committed;
};

class MemoryTable
{
public:
    std::mutex& Lock() { return m_Lock; }

    // With Lock() held: the reservation containing [lo, hi), or end().
    std::map<std::uintptr_t, Reservation>::iterator FindLocked(std::uintptr_t lo, std::uintptr_t hi)
    {
        auto it = m_Reservations.upper_bound(lo);
        if (it == m_Reservations.begin()) {
            return m_Reservations.end();
        }
        --it;
        if (lo >= it->first + it->second.size || hi > it->first + it->second.size) {
            return m_Reservations.end();
        }
        return it;
    }

    std::map<std::uintptr_t, Reservation>& ReservationsLocked() { return m_Reservations; }

private:
    std::mutex m_Lock;
    std::map<std::uintptr_t, Reservation> m_Reservations;
};

MemoryTable& Table()
{
    // Never destroyed: memory may be released while static objects are torn down.
    static MemoryTable* table = new MemoryTable;
    return *table;
}

// Marks [lo, hi) as committed with `protect` in the run map of a reservation.
void AddRun(Reservation& reservation, std::uintptr_t lo, std::uintptr_t hi, DWORD protect);

// Marks [lo, hi) as reserved (not committed).
void RemoveRun(Reservation& reservation, std::uintptr_t lo, std::uintptr_t hi)
{
    auto& runs = reservation.committed;
    auto it = runs.upper_bound(lo);
    if (it != runs.begin()) {
        --it;
    }
    while (it != runs.end() && it->first < hi) {
        const std::uintptr_t start = it->first;
        const Run run = it->second;
        if (run.end <= lo) {
            ++it;
            continue;
        }
        it = runs.erase(it);
        if (start < lo) {
            runs.emplace(start, Run{lo, run.protect});
        }
        if (run.end > hi) {
            runs.emplace(hi, Run{run.end, run.protect});
        }
    }
}

void AddRun(Reservation& reservation, std::uintptr_t lo, std::uintptr_t hi, DWORD protect)
{
    RemoveRun(reservation, lo, hi);
    auto& runs = reservation.committed;
    auto it = runs.emplace(lo, Run{hi, protect}).first;
    // Merge with the neighbours that carry the same protection.
    if (it != runs.begin()) {
        auto before = std::prev(it);
        if (before->second.end == lo && before->second.protect == protect) {
            before->second.end = hi;
            runs.erase(it);
            it = before;
        }
    }
    auto after = std::next(it);
    if (after != runs.end() && after->first == it->second.end && after->second.protect == protect) {
        it->second.end = after->second.end;
        runs.erase(after);
    }
}

// Gives the pages of [lo, hi) back to the kernel and leaves them inaccessible.
bool DropPages(std::uintptr_t lo, std::uintptr_t hi)
{
    void* result = ::mmap(reinterpret_cast<void*>(lo), hi - lo, PROT_NONE,
                          MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    if (result == MAP_FAILED) {
        SetLastErrorFromErrno();
        return false;
    }
    return true;
}

// Maps `size` bytes of inaccessible address space at a 64 KiB boundary: at
// `wanted` when it is not 0 (which must be free), else wherever the kernel finds
// room. Returns 0 with the last error set on failure.
std::uintptr_t MapReservation(std::uintptr_t wanted, std::uintptr_t size)
{
    const int flags = MAP_PRIVATE | MAP_ANONYMOUS;
    if (wanted) {
        void* p = ::mmap(reinterpret_cast<void*>(wanted), size, PROT_NONE,
                         flags | MAP_FIXED_NOREPLACE, -1, 0);
        if (p == MAP_FAILED) {
            ::SetLastError(errno == EEXIST ? ERROR_INVALID_ADDRESS : ZanthErrorFromErrno(errno));
            return 0;
        }
        if (reinterpret_cast<std::uintptr_t>(p) != wanted) {
            // A kernel without MAP_FIXED_NOREPLACE treats it as a hint.
            ::munmap(p, size);
            ::SetLastError(ERROR_INVALID_ADDRESS);
            return 0;
        }
        return wanted;
    }
    // Most mappings land on a 64 KiB boundary anyway; try the exact size first.
    void* p = ::mmap(nullptr, size, PROT_NONE, flags, -1, 0);
    if (p == MAP_FAILED) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    std::uintptr_t base = reinterpret_cast<std::uintptr_t>(p);
    if ((base & (kGranularity - 1)) == 0) {
        return base;
    }
    ::munmap(p, size);
    // The kernel placed it at the top of a free gap; the boundary just below is
    // free as well when the gap is a little larger. Trying there first needs no
    // more address space than the size itself, which matters under an address-space
    // limit (RLIMIT_AS), where the padded mapping below may not fit.
    const std::uintptr_t below = base & ~(kGranularity - 1);
    p = ::mmap(reinterpret_cast<void*>(below), size, PROT_NONE, flags | MAP_FIXED_NOREPLACE, -1, 0);
    if (p != MAP_FAILED) {
        if (reinterpret_cast<std::uintptr_t>(p) == below) {
            return below;
        }
        ::munmap(p, size);
    }
    if (size > ~std::uintptr_t{0} - kGranularity) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    const std::uintptr_t padded = size + kGranularity - PageSize();
    p = ::mmap(nullptr, padded, PROT_NONE, flags, -1, 0);
    if (p == MAP_FAILED) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    base = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t aligned = (base + kGranularity - 1) & ~(kGranularity - 1);
    if (aligned > base) {
        ::munmap(p, aligned - base);
    }
    const std::uintptr_t end = base + padded;
    if (end > aligned + size) {
        ::munmap(reinterpret_cast<void*>(aligned + size), end - (aligned + size));
    }
    return aligned;
}

// Commits [lo, hi) of a reservation with the given protection; on failure the
// pages keep the state they had.
bool CommitLocked(Reservation& reservation, std::uintptr_t lo, std::uintptr_t hi, DWORD protect,
                  int prot)
{
    if (::mprotect(reinterpret_cast<void*>(lo), hi - lo, prot) != 0) {
        const int error = errno;
        // mprotect may have changed part of the range before it failed: put the
        // old protections back so that the table stays true.
        std::uintptr_t at = lo;
        auto& runs = reservation.committed;
        auto it = runs.upper_bound(lo);
        if (it != runs.begin()) {
            --it;
        }
        for (; it != runs.end() && it->first < hi; ++it) {
            const std::uintptr_t runLo = std::max(it->first, lo);
            const std::uintptr_t runHi = std::min(it->second.end, hi);
            if (runLo >= runHi) {
                continue;
            }
            if (runLo > at) {
                ::mprotect(reinterpret_cast<void*>(at), runLo - at, PROT_NONE);
            }
            int old = PROT_NONE;
            ToProt(it->second.protect, old);
            ::mprotect(reinterpret_cast<void*>(runLo), runHi - runLo, old);
            at = runHi;
        }
        if (at < hi) {
            ::mprotect(reinterpret_cast<void*>(at), hi - at, PROT_NONE);
        }
        // The kernel says ENOMEM when the commit limit is reached.
        ::SetLastError(error == ENOMEM ? ERROR_NOT_ENOUGH_MEMORY : ZanthErrorFromErrno(error));
        return false;
    }
    AddRun(reservation, lo, hi, protect);
    return true;
}

// ---------------------------------------------------------------------------
// The rest of the address space, from /proc/self/maps
// ---------------------------------------------------------------------------
struct MapsEntry
{
    std::uintptr_t start;
    std::uintptr_t end;
    char perms[4];
    bool fileBacked;
    std::string path;
};

std::vector<MapsEntry> ReadMaps()
{
    std::vector<MapsEntry> entries;
    int fd = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return entries;
    }
    std::string text;
    char buffer[16384];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);

    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t eol = text.find('\n', pos);
        if (eol == std::string::npos) {
            eol = text.size();
        }
        const std::string line = text.substr(pos, eol - pos);
        pos = eol + 1;
        // "start-end perms offset dev inode   path"
        unsigned long long start = 0, end = 0, offset = 0, inode = 0;
        char perms[5] = {};
        char dev[32] = {};
        int consumed = 0;
        if (std::sscanf(line.c_str(), "%llx-%llx %4s %llx %31s %llu %n", &start, &end, perms,
                        &offset, dev, &inode, &consumed) < 6) {
            continue;
        }
        MapsEntry entry;
        entry.start = static_cast<std::uintptr_t>(start);
        entry.end = static_cast<std::uintptr_t>(end);
        std::memcpy(entry.perms, perms, 4);
        entry.fileBacked = inode != 0;
        if (consumed > 0 && static_cast<std::size_t>(consumed) <= line.size()) {
            entry.path = line.substr(static_cast<std::size_t>(consumed));
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

DWORD ProtectFromPerms(const char* perms)
{
    const bool r = perms[0] == 'r';
    const bool w = perms[1] == 'w';
    const bool x = perms[2] == 'x';
    if (x) {
        return w ? PAGE_EXECUTE_READWRITE : r ? PAGE_EXECUTE_READ : PAGE_EXECUTE;
    }
    if (w) {
        return PAGE_READWRITE;
    }
    return r ? PAGE_READONLY : PAGE_NOACCESS;
}

// Describes an address that lies in none of this layer's reservations: a mapping
// of somebody else (library, heap, stack, file view) or a free gap. `limit` is
// where the next reservation of this layer (or the address space) begins.
void DescribeForeign(std::uintptr_t address, std::uintptr_t limit, MEMORY_BASIC_INFORMATION& info)
{
    const std::vector<MapsEntry> maps = ReadMaps();
    const std::uintptr_t base = PageDown(address);
    std::uintptr_t nextStart = limit;
    for (const MapsEntry& entry : maps) {
        if (entry.start <= address && address < entry.end) {
            info.BaseAddress = reinterpret_cast<PVOID>(base);
            info.AllocationBase = reinterpret_cast<PVOID>(entry.start);
            const DWORD protect = ProtectFromPerms(entry.perms);
            // An inaccessible anonymous mapping is somebody's reservation (a thread
            // stack's guard, an allocator's arena): reserved, not committed.
            const bool reserved = protect == PAGE_NOACCESS && !entry.fileBacked;
            info.AllocationProtect = reserved ? PAGE_NOACCESS : protect;
            info.RegionSize = std::min(entry.end, limit) - base;
            info.State = reserved ? MEM_RESERVE : MEM_COMMIT;
            info.Protect = reserved ? 0 : protect;
            if (!entry.fileBacked) {
                info.Type = MEM_PRIVATE;
            } else {
                // A file with an executable mapping is a loaded image.
                bool image = false;
                for (const MapsEntry& other : maps) {
                    if (other.fileBacked && other.perms[2] == 'x' && other.path == entry.path) {
                        image = true;
                        break;
                    }
                }
                info.Type = image ? MEM_IMAGE : MEM_MAPPED;
            }
            return;
        }
        if (entry.start > address && entry.start < nextStart) {
            nextStart = entry.start;
        }
    }
    info.BaseAddress = reinterpret_cast<PVOID>(base);
    info.AllocationBase = nullptr;
    info.AllocationProtect = 0;
    info.RegionSize = nextStart - base;
    info.State = MEM_FREE;
    info.Protect = PAGE_NOACCESS;
    info.Type = 0;
}

// A "Name:   value kB" line of /proc/self/status or /proc/meminfo, in bytes; false
// when the file or the line is missing.
bool ProcValue(const char* file, const char* name, std::uint64_t& bytes)
{
    int fd = ::open(file, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    const std::string key = std::string("\n") + name + ":";
    const std::string all = "\n" + text;
    const std::size_t at = all.find(key);
    if (at == std::string::npos) {
        return false;
    }
    unsigned long long kib = 0;
    if (std::sscanf(all.c_str() + at + key.size(), "%llu", &kib) != 1) {
        return false;
    }
    bytes = static_cast<std::uint64_t>(kib) * 1024;
    return true;
}

} // namespace
} // namespace zanth::platform

using namespace zanth::platform;

extern "C" {

LPVOID WINAPI VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocationType, DWORD protect)
{
    int prot = 0;
    if (size == 0 || !ToProt(protect, prot) ||
        (allocationType & ~(MEM_RESERVE | MEM_COMMIT)) != 0 ||
        !(allocationType & (MEM_RESERVE | MEM_COMMIT))) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::uintptr_t wanted = reinterpret_cast<std::uintptr_t>(address);
    const std::uintptr_t spaceEnd = AddressSpaceEnd();
    MemoryTable& table = Table();

    // MEM_COMMIT without an address reserves and commits, as on Windows.
    if ((allocationType & MEM_RESERVE) || !address) {
        const std::uintptr_t base = wanted & ~(kGranularity - 1);
        std::uintptr_t end = 0;
        if (wanted > spaceEnd || size > spaceEnd - wanted || !PageUp(wanted + size, end) ||
            end > spaceEnd) {
            ::SetLastError(wanted ? ERROR_INVALID_ADDRESS : ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        const std::uintptr_t length = end - base;
        std::lock_guard<std::mutex> guard(table.Lock());
        const std::uintptr_t mapped = MapReservation(base, length);
        if (!mapped) {
            return nullptr;
        }
        Reservation reservation;
        reservation.size = length;
        reservation.protect = protect;
        if (allocationType & MEM_COMMIT) {
            if (!CommitLocked(reservation, mapped, mapped + length, protect, prot)) {
                const DWORD error = ::GetLastError();
                ::munmap(reinterpret_cast<void*>(mapped), length);
                ::SetLastError(error);
                return nullptr;
            }
        }
        table.ReservationsLocked()[mapped] = std::move(reservation);
        return reinterpret_cast<LPVOID>(mapped);
    }

    // MEM_COMMIT inside an existing reservation.
    const std::uintptr_t lo = PageDown(wanted);
    std::uintptr_t hi = 0;
    if (size > ~std::uintptr_t{0} - wanted || !PageUp(wanted + size, hi)) {
        ::SetLastError(ERROR_INVALID_ADDRESS);
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(table.Lock());
    auto it = table.FindLocked(lo, hi);
    if (it == table.ReservationsLocked().end()) {
        ::SetLastError(ERROR_INVALID_ADDRESS);
        return nullptr;
    }
    if (!CommitLocked(it->second, lo, hi, protect, prot)) {
        return nullptr;
    }
    return reinterpret_cast<LPVOID>(lo);
}

BOOL WINAPI VirtualFree(LPVOID address, SIZE_T size, DWORD freeType)
{
    const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(address);
    MemoryTable& table = Table();
    // The map itself is only touched under the table's lock below.
    auto& reservations = table.ReservationsLocked();
    if (freeType == MEM_RELEASE) {
        // Only a whole reservation can be released, named by its base, size 0.
        if (size != 0) {
            ::SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        std::lock_guard<std::mutex> guard(table.Lock());
        auto it = reservations.find(at);
        if (it == reservations.end()) {
            ::SetLastError(ERROR_INVALID_ADDRESS);
            return FALSE;
        }
        if (::munmap(address, it->second.size) != 0) {
            SetLastErrorFromErrno();
            return FALSE;
        }
        reservations.erase(it);
        return TRUE;
    }
    if (freeType != MEM_DECOMMIT) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(table.Lock());
    std::uintptr_t lo = PageDown(at);
    std::uintptr_t hi = 0;
    if (size == 0) {
        // Size 0 decommits the whole reservation when the address is its base.
        auto it = reservations.find(at);
        if (it == reservations.end()) {
            ::SetLastError(ERROR_INVALID_ADDRESS);
            return FALSE;
        }
        hi = at + it->second.size;
    } else if (size > ~std::uintptr_t{0} - at || !PageUp(at + size, hi)) {
        ::SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    auto it = table.FindLocked(lo, hi);
    if (it == reservations.end()) {
        ::SetLastError(ERROR_INVALID_ADDRESS);
        return FALSE;
    }
    if (!DropPages(lo, hi)) {
        return FALSE;
    }
    RemoveRun(it->second, lo, hi);
    return TRUE;
}

// The virtual figures are the process's: its user address space, cut to the
// address-space limit (RLIMIT_AS, `ulimit -v`) when one is set, less what its
// mappings already take (VmSize, the figure that the kernel holds against the
// limit). So ullAvailVirtual is what the process can still reserve in all, as on
// Windows. The physical figures come from sysinfo and /proc/meminfo; the "page file"
// is memory and swap together.
BOOL WINAPI GlobalMemoryStatusEx(LPMEMORYSTATUSEX buffer)
{
    if (!buffer || buffer->dwLength != sizeof(MEMORYSTATUSEX)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    struct sysinfo system;
    if (::sysinfo(&system) != 0) {
        SetLastErrorFromErrno();
        return FALSE;
    }
    const std::uint64_t unit = system.mem_unit ? system.mem_unit : 1;
    const std::uint64_t totalPhys = static_cast<std::uint64_t>(system.totalram) * unit;
    std::uint64_t availPhys = static_cast<std::uint64_t>(system.freeram) * unit;
    std::uint64_t available = 0;
    if (ProcValue("/proc/meminfo", "MemAvailable", available)) {
        availPhys = std::min(available, totalPhys);
    }
    const std::uint64_t swapTotal = static_cast<std::uint64_t>(system.totalswap) * unit;
    const std::uint64_t swapFree = static_cast<std::uint64_t>(system.freeswap) * unit;

    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    std::uint64_t totalVirtual =
        reinterpret_cast<std::uintptr_t>(info.lpMaximumApplicationAddress) + 1 -
        reinterpret_cast<std::uintptr_t>(info.lpMinimumApplicationAddress);
    struct rlimit limit;
    if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        totalVirtual = std::min<std::uint64_t>(totalVirtual, limit.rlim_cur);
    }
    std::uint64_t used = 0;
    if (!ProcValue("/proc/self/status", "VmSize", used)) {
        for (const MapsEntry& entry : ReadMaps()) {
            used += entry.end - entry.start;
        }
    }

    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    status.dwMemoryLoad =
        totalPhys ? static_cast<DWORD>((totalPhys - availPhys) * 100 / totalPhys) : 0;
    status.ullTotalPhys = totalPhys;
    status.ullAvailPhys = availPhys;
    status.ullTotalPageFile = totalPhys + swapTotal;
    status.ullAvailPageFile = availPhys + swapFree;
    status.ullTotalVirtual = totalVirtual;
    status.ullAvailVirtual = used < totalVirtual ? totalVirtual - used : 0;
    status.ullAvailExtendedVirtual = 0;
    *buffer = status;
    return TRUE;
}

SIZE_T WINAPI VirtualQuery(LPCVOID address, PMEMORY_BASIC_INFORMATION buffer, SIZE_T length)
{
    if (!buffer || length < sizeof(MEMORY_BASIC_INFORMATION)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(address);
    const std::uintptr_t spaceEnd = AddressSpaceEnd();
    if (at >= spaceEnd) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    MEMORY_BASIC_INFORMATION info{};
    const std::uintptr_t base = PageDown(at);
    MemoryTable& table = Table();
    std::unique_lock<std::mutex> guard(table.Lock());
    auto& reservations = table.ReservationsLocked();
    auto it = table.FindLocked(base, base + 1);
    if (it != reservations.end()) {
        const Reservation& reservation = it->second;
        const std::uintptr_t end = it->first + reservation.size;
        info.BaseAddress = reinterpret_cast<PVOID>(base);
        info.AllocationBase = reinterpret_cast<PVOID>(it->first);
        info.AllocationProtect = reservation.protect;
        info.Type = MEM_PRIVATE;
        auto run = reservation.committed.upper_bound(base);
        auto next = run;
        if (run != reservation.committed.begin() && std::prev(run)->second.end > base) {
            --run;
            info.State = MEM_COMMIT;
            info.Protect = run->second.protect;
            info.RegionSize = run->second.end - base;
        } else {
            info.State = MEM_RESERVE;
            info.Protect = 0;
            info.RegionSize = (next == reservation.committed.end() ? end : next->first) - base;
        }
    } else {
        auto next = reservations.upper_bound(base);
        const std::uintptr_t limit =
            next == reservations.end() ? spaceEnd : std::min(next->first, spaceEnd);
        guard.unlock();
        DescribeForeign(at, limit, info);
    }
    std::memcpy(buffer, &info, sizeof info);
    return sizeof info;
}

} // extern "C"
