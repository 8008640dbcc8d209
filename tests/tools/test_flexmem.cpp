// ZCFlexibleMemory: page arithmetic, guard words, edge-only commits, errors.
#include "testsupport.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/resource.h>

namespace {

using testsupport::CatchError;

LONG Page()
{
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    return static_cast<LONG>(info.dwPageSize);
}

ULONG Word(const unsigned char* p)
{
    ULONG value;
    std::memcpy(&value, p, 4);
    return value;
}

MEMORY_BASIC_INFORMATION Query(const void* p)
{
    MEMORY_BASIC_INFORMATION info{};
    ::VirtualQuery(p, &info, sizeof info);
    return info;
}

bool IsCommitted(const void* p)
{
    return Query(p).State == MEM_COMMIT;
}

// Checks a raised error of the flexible-memory catalog.
void ExpectFlexError(const testsupport::CaughtError& caught, WORD message, const std::string& count)
{
    ASSERT_TRUE(caught.raised);
    EXPECT_EQ(message, caught.message);
    EXPECT_EQ(0u, caught.text.find("[TFlexibleMemory::FlexibleMemoryError " +
                                   std::to_string(message) + "]"))
        << caught.text;
    EXPECT_EQ(count, caught.entry.a1.AsAnsi());
    EXPECT_NE(std::string::npos, caught.text.find("0x" + count)) << caught.text;
}

std::string Hex(unsigned long long value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%llx", value);
    return buffer;
}

// The address space that the process's mappings take (VmSize), which the kernel
// holds against RLIMIT_AS.
ULONGLONG MappedBytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmSize:", 0) == 0) {
            return std::stoull(line.substr(7)) * 1024;
        }
    }
    return 0;
}

} // namespace

// Reserve(n) reserves (n + 8) rounded up to whole pages, from a page-aligned base
// 4 bytes before Start(); nothing is committed.
TEST(FlexibleMemory, ReserveRoundsTheRangeToPages)
{
    const LONG page = Page();
    for (LONG n : {LONG{0}, LONG{1}, page - 8, page - 7, page, 3 * page + 5, LONG{1000000}}) {
        ZCFlexibleMemory memory;
        memory.Reserve(n);
        ASSERT_NE(nullptr, memory.Start()) << n;
        EXPECT_EQ(0u, (reinterpret_cast<std::uintptr_t>(memory.Start()) - 4) % page) << n;
        EXPECT_EQ(0, memory.Size());
        MEMORY_BASIC_INFORMATION info = Query(memory.Start());
        EXPECT_EQ(static_cast<DWORD>(MEM_RESERVE), info.State) << n;
        EXPECT_EQ(static_cast<SIZE_T>((page + n + 7) / page * page), info.RegionSize) << n;
        EXPECT_EQ(1u, memory.Check());
    }
}

// A window carries 0x12345678 just before and just after it; breaking any byte of
// either guard is detected, while bytes inside the window are free to change.
TEST(FlexibleMemory, GuardWordsAroundTheWindow)
{
    for (LONG offset : {LONG{0}, LONG{1}, LONG{4093}, LONG{10000}}) {
        ZCFlexibleMemory memory;
        memory.Reserve(20000);
        unsigned char* window = memory.Commit(offset, 100);
        ASSERT_EQ(memory.Start() + offset, window);
        EXPECT_EQ(window, memory.First());
        EXPECT_EQ(window + 100, memory.FirstInvalid());
        EXPECT_EQ(100, memory.Size());
        EXPECT_EQ(0x12345678u, Word(window - 4));
        EXPECT_EQ(0x12345678u, Word(window + 100));
        EXPECT_EQ(1u, memory.Check());
        std::memset(window, 0xEE, 100);
        EXPECT_EQ(1u, memory.Check());
        for (int at : {-4, -3, -2, -1, 100, 101, 102, 103}) {
            const unsigned char saved = window[at];
            window[at] ^= 0x01;
            EXPECT_EQ(0u, memory.Check()) << "offset " << offset << " byte " << at;
            window[at] = saved;
            EXPECT_EQ(1u, memory.Check());
        }
    }
}

// Commit(f, 0) decommits everything and returns null; Check() is then 1.
TEST(FlexibleMemory, CommitOfSizeZeroDecommits)
{
    ZCFlexibleMemory memory;
    memory.Reserve(10000);
    unsigned char* window = memory.Commit(0, 5000);
    window[5000] = 0; // break the back guard
    EXPECT_EQ(0u, memory.Check());
    EXPECT_EQ(nullptr, memory.Commit(100, 0));
    EXPECT_EQ(0, memory.Size());
    EXPECT_EQ(memory.Start(), memory.First());
    EXPECT_EQ(1u, memory.Check());
    EXPECT_FALSE(IsCommitted(memory.Start()));
}

// Grow(+d) keeps the bytes and the address and moves the back guard; the new bytes
// read as zeros. Grow(-d) shrinks and gives back the pages wholly past the new
// back guard.
TEST(FlexibleMemory, GrowKeepsBytesAndAddresses)
{
    const LONG page = Page();
    ZCFlexibleMemory memory;
    memory.Reserve(64 * page);
    unsigned char* start = memory.Commit(0, 3 * page);
    for (LONG i = 0; i < 3 * page; ++i) {
        start[i] = static_cast<unsigned char>(i * 7);
    }
    memory.Grow(5 * page + 10);
    EXPECT_EQ(start, memory.First());
    EXPECT_EQ(8 * page + 10, memory.Size());
    bool same = true;
    for (LONG i = 0; i < 3 * page; ++i) {
        same &= start[i] == static_cast<unsigned char>(i * 7);
    }
    EXPECT_TRUE(same);
    // The old back guard sat at 3 * page; what follows it is fresh.
    EXPECT_EQ(0x12345678u, Word(start + 3 * page));
    EXPECT_EQ(0, start[3 * page + 4]);
    EXPECT_EQ(0, start[8 * page + 9]);
    EXPECT_EQ(0x12345678u, Word(start + 8 * page + 10));
    EXPECT_EQ(1u, memory.Check());

    memory.Grow(-(6 * page));
    EXPECT_EQ(2 * page + 10, memory.Size());
    EXPECT_EQ(0x12345678u, Word(start + 2 * page + 10));
    EXPECT_EQ(1u, memory.Check());
    EXPECT_EQ(static_cast<unsigned char>(100 * 7), start[100]);
    // The last committed page is the one holding the back guard's end.
    unsigned char* lastPage =
        memory.Start() - 4 + ((2 * page + 10 + 8 + page - 1) / page - 1) * page;
    EXPECT_TRUE(IsCommitted(lastPage));
    EXPECT_FALSE(IsCommitted(lastPage + page));

    memory.Grow(-(2 * page + 10));
    EXPECT_EQ(0, memory.Size());
    EXPECT_FALSE(IsCommitted(memory.Start()));
}

// A window that does not overlap the current one drops the old contents: the old
// pages are decommitted first and read as zeros when committed again.
TEST(FlexibleMemory, NonOverlappingCommitDropsTheOldWindow)
{
    const LONG page = Page();
    ZCFlexibleMemory memory;
    memory.Reserve(32 * page);
    unsigned char* first = memory.Commit(0, page);
    std::memset(first, 0x55, page);
    unsigned char* second = memory.Commit(16 * page, page);
    EXPECT_EQ(memory.Start() + 16 * page, second);
    EXPECT_FALSE(IsCommitted(memory.Start() + 10));
    EXPECT_EQ(0x12345678u, Word(second - 4));
    first = memory.Commit(0, page);
    EXPECT_EQ(0, first[10]);
    EXPECT_EQ(0, first[page - 1]);
}

// Sliding a window so that the old and new page ranges overlap keeps the bytes of
// the shared pages, commits and decommits only the edges, and moves both guards.
TEST(FlexibleMemory, SlidingKeepsTheSharedPages)
{
    const LONG page = Page();
    ZCFlexibleMemory memory;
    memory.Reserve(32 * page);
    unsigned char* start = memory.Start();
    memory.Commit(2 * page, 6 * page);
    for (LONG i = 2 * page; i < 8 * page; ++i) {
        start[i] = static_cast<unsigned char>(i % 251);
    }
    // Forward: the window now starts 3 pages later and is 5 pages long.
    memory.Commit(5 * page, 5 * page);
    EXPECT_EQ(0x12345678u, Word(start + 5 * page - 4));
    EXPECT_EQ(0x12345678u, Word(start + 10 * page));
    EXPECT_EQ(1u, memory.Check());
    bool kept = true;
    for (LONG i = 5 * page; i < 8 * page - 4; ++i) {
        kept &= start[i] == static_cast<unsigned char>(i % 251);
    }
    EXPECT_TRUE(kept);
    EXPECT_EQ(0, start[9 * page]); // a fresh page at the back
    EXPECT_FALSE(IsCommitted(start + 3 * page));
    EXPECT_TRUE(IsCommitted(start + 5 * page - 4));

    // Backward: a page earlier, shorter.
    memory.Commit(4 * page, 2 * page);
    EXPECT_EQ(0x12345678u, Word(start + 4 * page - 4));
    EXPECT_EQ(0x12345678u, Word(start + 6 * page));
    EXPECT_EQ(static_cast<unsigned char>((5 * page + 1) % 251), start[5 * page + 1]);
    EXPECT_EQ(0, start[4 * page]); // committed anew
    EXPECT_FALSE(IsCommitted(start + 8 * page));
}

// A window that passes the end of the reservation raises message 2 with the byte
// count of the pages that were to be committed, and the object stays usable: the
// old window, its bytes and its guards are untouched.
TEST(FlexibleMemory, CommitBeyondTheReservationRaisesAndLeavesTheObjectUsable)
{
    const LONG page = Page();
    ZCFlexibleMemory memory;
    memory.Reserve(4 * page - 8); // exactly four pages
    unsigned char* window = memory.Commit(0, page);
    std::memset(window, 0x77, page);

    // Growing past the end (the window overlaps the old one: only the back edge,
    // pages 2 to 5, was to be committed).
    auto caught = CatchError([&] { memory.Grow(4 * page); });
    ExpectFlexError(caught, 2, Hex(4ull * page));
    EXPECT_EQ(page, memory.Size());
    EXPECT_EQ(1u, memory.Check());
    EXPECT_EQ(0x77, window[page - 1]);

    // Moving the window wholly outside: refused before the old one is given up.
    caught = CatchError([&] { memory.Commit(10 * page, 16); });
    ExpectFlexError(caught, 2, Hex(static_cast<unsigned long long>(page)));
    EXPECT_EQ(page, memory.Size());
    EXPECT_EQ(1u, memory.Check());
    EXPECT_EQ(0x77, window[0]);

    // Growing the front below the reservation (a negative offset).
    caught = CatchError([&] { memory.Commit(-page, 2 * page); });
    ASSERT_TRUE(caught.raised);
    EXPECT_EQ(2, caught.message);
    EXPECT_EQ(1u, memory.Check());

    // The largest window that fits still commits.
    unsigned char* full = memory.Commit(0, 4 * page - 8);
    EXPECT_EQ(window, full);
    EXPECT_EQ(0x77, full[page - 1]);
    EXPECT_EQ(1u, memory.Check());
    EXPECT_EQ(0u, GetErrorCount());
}

// Errors for bad requests: a negative size, growing below zero, committing with
// nothing reserved, a negative reservation. The system error stands beneath.
TEST(FlexibleMemory, BadRequestsRaiseClearErrors)
{
    ZCFlexibleMemory memory;
    auto caught = CatchError([&] { memory.Commit(0, 16); });
    ExpectFlexError(caught, 2, "10");

    caught = CatchError([&] { memory.Reserve(-1); });
    ExpectFlexError(caught, 0, "ffffffff");
    EXPECT_EQ(nullptr, memory.Start());

    memory.Reserve(1000);
    caught = CatchError([&] { memory.Commit(0, -5); });
    ASSERT_TRUE(caught.raised);
    EXPECT_EQ(2, caught.message);
    memory.Commit(0, 10);
    caught = CatchError([&] { memory.Grow(-11); });
    ASSERT_TRUE(caught.raised);
    EXPECT_EQ(2, caught.message);
    EXPECT_EQ(10, memory.Size());

    // The system error is pushed beneath the library message.
    try {
        memory.Commit(0, 100000);
        FAIL() << "no error";
    } catch (const TException&) {
        DecrementPendingCount();
        const std::string stack = GetErrorText().AsAnsi();
        EXPECT_NE(std::string::npos, stack.find("[system error 487]")) << stack;
        ClearError();
    }
}

// Release() gives the range back (the address becomes free), does nothing on an
// empty object and is harmless twice; Reserve releases an older range; the
// destructor releases as well.
TEST(FlexibleMemory, ReleaseAndReReserveGiveTheRangeBack)
{
    ZCFlexibleMemory empty;
    empty.Release();
    empty.Release();
    EXPECT_EQ(nullptr, empty.Start());

    unsigned char* old;
    {
        ZCFlexibleMemory memory;
        memory.Reserve(100000);
        old = memory.Start();
        memory.Commit(0, 50000);
        memory.Reserve(100);
        EXPECT_EQ(static_cast<DWORD>(MEM_FREE), Query(old).State);
        EXPECT_EQ(0, memory.Size());
        old = memory.Start();
        memory.Commit(0, 50);
        memory.Release();
        EXPECT_EQ(nullptr, memory.Start());
        EXPECT_EQ(static_cast<DWORD>(MEM_FREE), Query(old).State);
        memory.Release();
        memory.Reserve(100);
        old = memory.Start();
    }
    EXPECT_EQ(static_cast<DWORD>(MEM_FREE), Query(old).State);
}

// MaxFree() is 0 or a whole number of allocation granules less 8, and Reserve can
// take it.
TEST(FlexibleMemory, MaxFreeIsATrueFigure)
{
    const ULONG free = ZCFlexibleMemory::MaxFree();
    ASSERT_NE(0u, free);
    EXPECT_EQ(0u, (free + 8) % 0x10000);
    EXPECT_LE(free, 0x7FFFFFF8u);
    ZCFlexibleMemory memory;
    memory.Reserve(static_cast<LONG>(free));
    unsigned char* p = memory.Commit(static_cast<LONG>(free) - 100, 100);
    p[99] = 1;
    EXPECT_EQ(1u, memory.Check());
}

// Under an address-space limit (`ulimit -v`) MaxFree() is what the limit leaves, not
// the largest gap of the address space: at most the allowance, still a whole number
// of granules less 8, and Reserve can take it. (In a child process, which alone
// carries the limit.)
TEST(FlexibleMemory, MaxFreeHonoursTheAddressSpaceLimit)
{
    if (testsupport::kUnderSanitizer) {
        GTEST_SKIP() << "the sanitizer's run time maps memory of its own at any time, which "
                        "an address-space limit that the test uses up would refuse";
    }
    const auto child = testsupport::RunInChild([](std::string& report) {
        const ULONGLONG allowance = 48ull << 20;
        struct rlimit limit;
        ::getrlimit(RLIMIT_AS, &limit);
        limit.rlim_cur = MappedBytes() + allowance;
        if (::setrlimit(RLIMIT_AS, &limit) != 0) {
            report = "setrlimit failed";
            return testsupport::kChildSkipped;
        }
        const ULONG free = ZCFlexibleMemory::MaxFree();
        if (free > allowance || free < allowance / 2 || (free + 8) % 0x10000 != 0) {
            report += "MaxFree() = " + std::to_string(free) + " under an allowance of " +
                      std::to_string(allowance);
            return 1;
        }
        ZCFlexibleMemory memory;
        memory.Reserve(static_cast<LONG>(free));
        unsigned char* p = memory.Commit(static_cast<LONG>(free) - 100, 100);
        p[99] = 1;
        return memory.Check() == 1 ? 0 : 1;
    });
    if (child.status == testsupport::kChildSkipped) {
        GTEST_SKIP() << child.output;
    }
    EXPECT_EQ(0, child.status) << child.output;
}

// The window can grow to a large size in small steps without moving, and only
// the pages under it are committed.
TEST(FlexibleMemory, GrowingInStepsNeverMoves)
{
    ZCFlexibleMemory memory;
    memory.Reserve(64 << 20);
    unsigned char* start = memory.Commit(0, 1);
    for (int step = 0; step < 256; ++step) {
        memory.Grow(0x10000);
        ASSERT_EQ(start, memory.First());
        start[memory.Size() - 1] = static_cast<unsigned char>(step);
    }
    EXPECT_EQ(1 + 256 * 0x10000, memory.Size());
    EXPECT_EQ(1u, memory.Check());
    EXPECT_FALSE(IsCommitted(start + memory.Size() + 2 * Page()));
}
