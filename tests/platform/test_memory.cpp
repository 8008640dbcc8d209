// Virtual memory of the platform layer: each test states the Win32 behaviour of
// VirtualAlloc, VirtualFree, VirtualQuery and GetSystemInfo that it checks.
#include "testsupport.h"

#include <cstring>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

SIZE_T PageSize()
{
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    return info.dwPageSize;
}

MEMORY_BASIC_INFORMATION Query(const void* address)
{
    MEMORY_BASIC_INFORMATION info{};
    EXPECT_EQ(sizeof info, ::VirtualQuery(address, &info, sizeof info));
    return info;
}

// How many of the pages of [p, p + size) the kernel holds in memory for us.
std::size_t ResidentPages(void* p, std::size_t size)
{
    const std::size_t pages = size / PageSize();
    std::vector<unsigned char> residency(pages);
    if (::mincore(p, size, residency.data()) != 0) {
        return ~std::size_t{0};
    }
    std::size_t n = 0;
    for (unsigned char page : residency) {
        n += page & 1;
    }
    return n;
}

bool AllZero(const unsigned char* p, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) {
        if (p[i] != 0) {
            return false;
        }
    }
    return true;
}

} // namespace

// GetSystemInfo reports the real page size, Win32's 64 KiB allocation granularity,
// and the top of the 47-bit user address space less one page.
TEST(VirtualMemory, SystemInfo)
{
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    EXPECT_EQ(static_cast<DWORD>(::sysconf(_SC_PAGESIZE)), info.dwPageSize);
    EXPECT_EQ(0x10000u, info.dwAllocationGranularity);
    EXPECT_EQ((std::uintptr_t{1} << 47) - info.dwPageSize - 1,
              reinterpret_cast<std::uintptr_t>(info.lpMaximumApplicationAddress));
}

// MEM_RESERVE returns a base on the allocation granularity; the whole range is
// reserved (not committed), private, and its size is rounded up to pages.
TEST(VirtualMemory, ReserveIsAlignedAndOnlyReserved)
{
    const SIZE_T page = PageSize();
    for (SIZE_T size : {SIZE_T{1}, page, 3 * page + 1, SIZE_T{0x10000}, SIZE_T{0x123456}}) {
        void* base = ::VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_READWRITE);
        ASSERT_NE(nullptr, base) << size;
        EXPECT_EQ(0u, reinterpret_cast<std::uintptr_t>(base) % 0x10000) << size;
        MEMORY_BASIC_INFORMATION info = Query(base);
        EXPECT_EQ(base, info.BaseAddress);
        EXPECT_EQ(base, info.AllocationBase);
        EXPECT_EQ(static_cast<DWORD>(MEM_RESERVE), info.State);
        EXPECT_EQ(static_cast<DWORD>(MEM_PRIVATE), info.Type);
        EXPECT_EQ(static_cast<DWORD>(PAGE_READWRITE), info.AllocationProtect);
        EXPECT_EQ((size + page - 1) / page * page, info.RegionSize) << size;
        EXPECT_TRUE(::VirtualFree(base, 0, MEM_RELEASE));
    }
}

// A reservation is only address space: reserving far more than the machine has
// (memory and swap together) succeeds, and so does committing a little of it.
TEST(VirtualMemory, ReservingMoreThanTheMachineHasWorks)
{
    const SIZE_T physical = static_cast<SIZE_T>(::sysconf(_SC_PHYS_PAGES)) * PageSize();
    const SIZE_T size = std::max<SIZE_T>(physical * 8, SIZE_T{1} << 40);
    auto* base =
        static_cast<unsigned char*>(::VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(nullptr, base) << ::GetLastError();
    unsigned char* far = base + size / 2;
    ASSERT_EQ(far, ::VirtualAlloc(far, 0x10000, MEM_COMMIT, PAGE_READWRITE));
    far[0] = 1;
    far[0xFFFF] = 2;
    EXPECT_EQ(1, far[0]);
    EXPECT_TRUE(::VirtualFree(base, 0, MEM_RELEASE));
}

// Committed pages read as zeros; decommitting gives the pages back to the system
// (they are no longer resident) and a later commit sees zeros again, while a
// commit of pages that are already committed keeps their contents.
TEST(VirtualMemory, CommitZeroFillsAndDecommitGivesPagesBack)
{
    const SIZE_T size = 16 * PageSize();
    auto* base =
        static_cast<unsigned char*>(::VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(nullptr, base);
    ASSERT_EQ(base, ::VirtualAlloc(base, size, MEM_COMMIT, PAGE_READWRITE));
    EXPECT_TRUE(AllZero(base, size));
    std::memset(base, 0xAB, size);
    EXPECT_EQ(16u, ResidentPages(base, size));

    // Committing again keeps what is there.
    ASSERT_EQ(base, ::VirtualAlloc(base, size, MEM_COMMIT, PAGE_READWRITE));
    EXPECT_EQ(0xAB, base[size - 1]);

    ASSERT_TRUE(::VirtualFree(base, size, MEM_DECOMMIT));
    EXPECT_EQ(0u, ResidentPages(base, size));
    EXPECT_EQ(static_cast<DWORD>(MEM_RESERVE), Query(base).State);

    ASSERT_EQ(base, ::VirtualAlloc(base, size, MEM_COMMIT, PAGE_READWRITE));
    EXPECT_TRUE(AllZero(base, size));
    EXPECT_TRUE(::VirtualFree(base, 0, MEM_RELEASE));
}

// A commit covers every page touched by [address, address + size) and returns
// the address rounded down to its page; VirtualQuery then shows the reservation
// split into reserved, committed and reserved runs of pages.
TEST(VirtualMemory, PartialCommitSplitsTheRegion)
{
    const SIZE_T page = PageSize();
    auto* base = static_cast<unsigned char*>(
        ::VirtualAlloc(nullptr, 10 * page, MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(nullptr, base);
    // From the middle of page 2 to the first byte of page 5: pages 2 to 5.
    void* got = ::VirtualAlloc(base + 2 * page + 100, 3 * page - 99, MEM_COMMIT, PAGE_READWRITE);
    EXPECT_EQ(base + 2 * page, got);

    struct Expected
    {
        SIZE_T offset;
        DWORD state;
        SIZE_T size;
        DWORD protect;
    };
    const Expected regions[] = {{0, MEM_RESERVE, 2 * page, 0},
                                {2 * page, MEM_COMMIT, 4 * page, PAGE_READWRITE},
                                {6 * page, MEM_RESERVE, 4 * page, 0}};
    for (const Expected& e : regions) {
        MEMORY_BASIC_INFORMATION info = Query(base + e.offset + 7);
        EXPECT_EQ(base + e.offset, info.BaseAddress) << e.offset;
        EXPECT_EQ(base, info.AllocationBase) << e.offset;
        EXPECT_EQ(e.state, info.State) << e.offset;
        EXPECT_EQ(e.size, info.RegionSize) << e.offset;
        EXPECT_EQ(e.protect, info.Protect) << e.offset;
    }
    // A query inside a run reports from its own page to the end of the run.
    EXPECT_EQ(3 * page, Query(base + 3 * page).RegionSize);

    // Decommitting the middle of the committed run splits it in two.
    ASSERT_TRUE(::VirtualFree(base + 3 * page, page, MEM_DECOMMIT));
    EXPECT_EQ(page, Query(base + 2 * page).RegionSize);
    EXPECT_EQ(static_cast<DWORD>(MEM_RESERVE), Query(base + 3 * page).State);
    EXPECT_EQ(static_cast<DWORD>(MEM_COMMIT), Query(base + 4 * page).State);
    EXPECT_EQ(2 * page, Query(base + 4 * page).RegionSize);

    // Size 0 with the reservation's base decommits all of it.
    ASSERT_TRUE(::VirtualFree(base, 0, MEM_DECOMMIT));
    EXPECT_EQ(10 * page, Query(base).RegionSize);
    EXPECT_EQ(static_cast<DWORD>(MEM_RESERVE), Query(base).State);
    EXPECT_TRUE(::VirtualFree(base, 0, MEM_RELEASE));
}

// Committing (or decommitting) pages that lie outside a reservation, or that run
// past its end, fails with ERROR_INVALID_ADDRESS and changes nothing.
TEST(VirtualMemory, CommitOutsideAReservationFails)
{
    const SIZE_T page = PageSize();
    auto* base =
        static_cast<unsigned char*>(::VirtualAlloc(nullptr, 4 * page, MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(nullptr, base);
    struct Case
    {
        const char* what;
        void* address;
        SIZE_T size;
    };
    static int notReserved;
    const Case cases[] = {
        {"past the end", base + 3 * page, 2 * page},
        {"just behind", base + 4 * page, 1},
        {"just before", base - 1, 2},
        {"a static variable", &notReserved, 4},
    };
    for (const Case& c : cases) {
        ::SetLastError(0);
        EXPECT_EQ(nullptr, ::VirtualAlloc(c.address, c.size, MEM_COMMIT, PAGE_READWRITE)) << c.what;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_ADDRESS), ::GetLastError()) << c.what;
        ::SetLastError(0);
        EXPECT_FALSE(::VirtualFree(c.address, c.size, MEM_DECOMMIT)) << c.what;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_ADDRESS), ::GetLastError()) << c.what;
    }
    EXPECT_EQ(static_cast<DWORD>(MEM_RESERVE), Query(base + 3 * page).State);
    EXPECT_EQ(4 * page, Query(base).RegionSize);
    EXPECT_TRUE(::VirtualFree(base, 0, MEM_RELEASE));
}

// MEM_RELEASE takes size 0 and the reservation's base: any other size is
// ERROR_INVALID_PARAMETER, any other address ERROR_INVALID_ADDRESS. After the
// release the range is free.
TEST(VirtualMemory, ReleaseNeedsTheBaseAndSizeZero)
{
    const SIZE_T page = PageSize();
    auto* base = static_cast<unsigned char*>(
        ::VirtualAlloc(nullptr, 4 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(nullptr, base);
    base[0] = 1;

    ::SetLastError(0);
    EXPECT_FALSE(::VirtualFree(base, 4 * page, MEM_RELEASE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), ::GetLastError());
    ::SetLastError(0);
    EXPECT_FALSE(::VirtualFree(base + page, 0, MEM_RELEASE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_ADDRESS), ::GetLastError());
    ::SetLastError(0);
    EXPECT_FALSE(::VirtualFree(base, 0, MEM_RELEASE | MEM_DECOMMIT));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), ::GetLastError());
    EXPECT_EQ(1, base[0]);

    ASSERT_TRUE(::VirtualFree(base, 0, MEM_RELEASE));
    EXPECT_EQ(static_cast<DWORD>(MEM_FREE), Query(base).State);
    ::SetLastError(0);
    EXPECT_FALSE(::VirtualFree(base, 0, MEM_RELEASE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_ADDRESS), ::GetLastError());
}

// MEM_RESERVE at a given address reserves there (rounded down to the
// granularity) when the range is free, and fails with ERROR_INVALID_ADDRESS when
// it is in use. MEM_COMMIT without an address reserves and commits.
TEST(VirtualMemory, ReserveAtAnAddressAndCommitWithoutOne)
{
    void* first = ::VirtualAlloc(nullptr, 0x20000, MEM_RESERVE, PAGE_READWRITE);
    ASSERT_NE(nullptr, first);
    ::SetLastError(0);
    EXPECT_EQ(nullptr, ::VirtualAlloc(first, 0x10000, MEM_RESERVE, PAGE_READWRITE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_ADDRESS), ::GetLastError());
    ASSERT_TRUE(::VirtualFree(first, 0, MEM_RELEASE));

    auto* inside = static_cast<unsigned char*>(first) + 0x1234;
    void* again = ::VirtualAlloc(inside, 0x100, MEM_RESERVE, PAGE_READWRITE);
    EXPECT_EQ(first, again);
    if (again) {
        EXPECT_TRUE(::VirtualFree(again, 0, MEM_RELEASE));
    }

    auto* both =
        static_cast<unsigned char*>(::VirtualAlloc(nullptr, 5000, MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(nullptr, both);
    EXPECT_EQ(static_cast<DWORD>(MEM_COMMIT), Query(both).State);
    both[4999] = 7;
    EXPECT_TRUE(::VirtualFree(both, 0, MEM_RELEASE));
}

// Arguments VirtualAlloc and VirtualQuery refuse: ERROR_INVALID_PARAMETER.
TEST(VirtualMemory, BadArguments)
{
    struct Case
    {
        const char* what;
        SIZE_T size;
        DWORD type;
        DWORD protect;
    };
    const Case cases[] = {
        {"size 0", 0, MEM_RESERVE, PAGE_READWRITE},
        {"no type", 0x1000, 0, PAGE_READWRITE},
        {"decommit as type", 0x1000, MEM_DECOMMIT, PAGE_READWRITE},
        {"no protection", 0x1000, MEM_RESERVE, 0},
        {"two protections", 0x1000, MEM_RESERVE, PAGE_READONLY | PAGE_READWRITE},
    };
    for (const Case& c : cases) {
        ::SetLastError(0);
        EXPECT_EQ(nullptr, ::VirtualAlloc(nullptr, c.size, c.type, c.protect)) << c.what;
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), ::GetLastError()) << c.what;
    }
    MEMORY_BASIC_INFORMATION info;
    EXPECT_EQ(0u, ::VirtualQuery(&info, &info, sizeof info - 1));
    EXPECT_EQ(0u,
              ::VirtualQuery(reinterpret_cast<void*>(std::uintptr_t{1} << 47), &info, sizeof info));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), ::GetLastError());
}

// VirtualQuery walks the whole address space: regions follow each other without
// gaps from address 0 up to the maximum application address, free gaps are
// MEM_FREE, our reservation shows as MEM_RESERVE and MEM_COMMIT runs, and the
// code of this program is part of a committed image.
TEST(VirtualMemory, QueryWalksTheWholeAddressSpace)
{
    const SIZE_T page = PageSize();
    auto* base =
        static_cast<unsigned char*>(::VirtualAlloc(nullptr, 8 * page, MEM_RESERVE, PAGE_READWRITE));
    ASSERT_NE(nullptr, base);
    ASSERT_NE(nullptr, ::VirtualAlloc(base, page, MEM_COMMIT, PAGE_READWRITE));

    SYSTEM_INFO system;
    ::GetSystemInfo(&system);
    const auto top = reinterpret_cast<std::uintptr_t>(system.lpMaximumApplicationAddress);
    const auto code = reinterpret_cast<std::uintptr_t>(&PageSize);
    std::uintptr_t at = 0;
    int regions = 0;
    bool sawFree = false, sawOurCommit = false, sawOurReserve = false, sawCode = false;
    while (at < top) {
        MEMORY_BASIC_INFORMATION info{};
        ASSERT_EQ(sizeof info, ::VirtualQuery(reinterpret_cast<void*>(at), &info, sizeof info));
        ASSERT_EQ(at, reinterpret_cast<std::uintptr_t>(info.BaseAddress));
        ASSERT_GT(info.RegionSize, 0u);
        const std::uintptr_t end = at + info.RegionSize;
        if (info.State == MEM_FREE && at != 0) {
            sawFree = true;
            EXPECT_EQ(nullptr, info.AllocationBase);
        }
        if (info.AllocationBase == base) {
            sawOurCommit |=
                info.State == MEM_COMMIT && at == reinterpret_cast<std::uintptr_t>(base);
            sawOurReserve |= info.State == MEM_RESERVE && info.RegionSize == 7 * page;
        }
        if (at <= code && code < end) {
            sawCode = info.State == MEM_COMMIT && info.Type == MEM_IMAGE &&
                      (info.Protect == PAGE_EXECUTE_READ || info.Protect == PAGE_EXECUTE_READWRITE);
        }
        at = end;
        ++regions;
    }
    EXPECT_EQ(top + 1, at);
    EXPECT_GT(regions, 3);
    EXPECT_TRUE(sawFree);
    EXPECT_TRUE(sawOurCommit);
    EXPECT_TRUE(sawOurReserve);
    EXPECT_TRUE(sawCode);
    EXPECT_TRUE(::VirtualFree(base, 0, MEM_RELEASE));
}

// GlobalMemoryStatusEx needs dwLength set (ERROR_INVALID_PARAMETER otherwise) and
// reports the process's user address space, of which a lot is free, and the
// machine's memory.
TEST(VirtualMemory, GlobalMemoryStatus)
{
    MEMORYSTATUSEX status{};
    ::SetLastError(0);
    EXPECT_FALSE(::GlobalMemoryStatusEx(&status));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), ::GetLastError());

    status.dwLength = sizeof status;
    ASSERT_TRUE(::GlobalMemoryStatusEx(&status));
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    struct rlimit limit;
    ASSERT_EQ(0, ::getrlimit(RLIMIT_AS, &limit));
    if (limit.rlim_cur == RLIM_INFINITY) {
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(info.lpMaximumApplicationAddress) + 1 -
                      reinterpret_cast<std::uintptr_t>(info.lpMinimumApplicationAddress),
                  status.ullTotalVirtual);
        EXPECT_GT(status.ullAvailVirtual, 0x100000000ull);
    }
    EXPECT_LT(status.ullAvailVirtual, status.ullTotalVirtual);
    EXPECT_GT(status.ullTotalPhys, 0u);
    EXPECT_LE(status.ullAvailPhys, status.ullTotalPhys);
    EXPECT_LE(status.dwMemoryLoad, 100u);
    EXPECT_GE(status.ullTotalPageFile, status.ullTotalPhys);
}

// Under an address-space limit (RLIMIT_AS, `ulimit -v`) the total is the limit and
// what is available is what the process may still map: a reservation of that size
// (on the allocation granularity) succeeds, and one of 1 MiB more fails. (In a
// child process, which alone carries the limit.)
TEST(VirtualMemory, GlobalMemoryStatusHonoursTheAddressSpaceLimit)
{
    if (testsupport::kUnderSanitizer) {
        GTEST_SKIP() << "the sanitizer's run time maps memory of its own at any time, which "
                        "an address-space limit that the test uses up would refuse";
    }
    const auto child = testsupport::RunInChild([](std::string& report) {
        MEMORYSTATUSEX before{};
        before.dwLength = sizeof before;
        ::GlobalMemoryStatusEx(&before);
        const ULONGLONG used = before.ullTotalVirtual - before.ullAvailVirtual;
        const ULONGLONG allowance = 64ull << 20;
        struct rlimit limit;
        ::getrlimit(RLIMIT_AS, &limit);
        limit.rlim_cur = used + allowance;
        if (::setrlimit(RLIMIT_AS, &limit) != 0) {
            report = "setrlimit failed";
            return testsupport::kChildSkipped;
        }
        MEMORYSTATUSEX status{};
        status.dwLength = sizeof status;
        if (!::GlobalMemoryStatusEx(&status)) {
            report += "GlobalMemoryStatusEx failed";
            return 1;
        }
        if (status.ullTotalVirtual != used + allowance) {
            report += "total " + std::to_string(status.ullTotalVirtual) + ", limit " +
                      std::to_string(used + allowance) + "\n";
        }
        if (status.ullAvailVirtual > allowance || status.ullAvailVirtual < allowance / 2) {
            report += "available " + std::to_string(status.ullAvailVirtual) +
                      " of an allowance of " + std::to_string(allowance) + "\n";
        }
        const SIZE_T fits = static_cast<SIZE_T>(status.ullAvailVirtual) & ~SIZE_T{0xFFFF};
        void* p = ::VirtualAlloc(nullptr, fits, MEM_RESERVE, PAGE_READWRITE);
        if (p == nullptr) {
            report += "reserving the available " + std::to_string(fits) + " bytes failed\n";
        } else {
            ::VirtualFree(p, 0, MEM_RELEASE);
        }
        ::SetLastError(0);
        void* q = ::VirtualAlloc(nullptr, static_cast<SIZE_T>(status.ullAvailVirtual) + (1 << 20),
                                 MEM_RESERVE, PAGE_READWRITE);
        if (q != nullptr || ::GetLastError() != static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY)) {
            report +=
                "reserving more than is available did not fail with ERROR_NOT_ENOUGH_MEMORY\n";
        }
        return report.empty() ? 0 : 1;
    });
    if (child.status == testsupport::kChildSkipped) {
        GTEST_SKIP() << child.output;
    }
    EXPECT_EQ(0, child.status) << child.output;
}
