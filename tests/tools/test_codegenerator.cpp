// ZCCodeGenerator: writes in argument order, counting mode, growth by one step at a
// time without moving, the limit, and the checks around the code pointer.
#include "testsupport.h"

#include <cstring>
#include <random>
#include <vector>

namespace {

using testsupport::CatchError;
using ZANTH::ZCCodeGenerator;

ULONG Word(const unsigned char* p)
{
    ULONG value;
    std::memcpy(&value, p, 4);
    return value;
}

bool IsCommitted(const void* p)
{
    MEMORY_BASIC_INFORMATION info{};
    ::VirtualQuery(p, &info, sizeof info);
    return info.State == MEM_COMMIT;
}

void ExpectNoRoom(const testsupport::CaughtError& caught)
{
    ASSERT_TRUE(caught.raised);
    EXPECT_EQ(1, caught.message);
    EXPECT_EQ(0u, caught.text.find("[ZCZCCodeGeneratorMSG 1] The code buffer cannot grow"))
        << caught.text;
}

// Writes one instruction of k bytes (1 to 7) through the matching overload.
void Emit(ZCCodeGenerator& code, const unsigned char* b, int k)
{
    switch (k) {
    case 1:
        code.Write(b[0]);
        break;
    case 2:
        code.Write(b[0], b[1]);
        break;
    case 3:
        code.Write(b[0], b[1], b[2]);
        break;
    case 4:
        code.Write(b[0], b[1], b[2], b[3]);
        break;
    case 5:
        code.Write(b[0], b[1], b[2], b[3], b[4]);
        break;
    case 6:
        code.Write(b[0], b[1], b[2], b[3], b[4], b[5]);
        break;
    default:
        code.Write(b[0], b[1], b[2], b[3], b[4], b[5], b[6]);
        break;
    }
}

} // namespace

// After Init(4096, 256) the code pointer is the buffer's start (page base + 4, the
// front guard before it); 256 one-byte writes fit, the 257th grows the window to
// 512: the back guard word moves from start + 256 to start + 512.
TEST(CodeGenerator, InitAndTheFirstGrowth)
{
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    ZCCodeGenerator code;
    code.Init(4096, 256);
    unsigned char* start = code.GetCodePtr();
    ASSERT_NE(nullptr, start);
    EXPECT_EQ(0u, (reinterpret_cast<std::uintptr_t>(start) - 4) % info.dwPageSize);
    EXPECT_EQ(0x12345678u, Word(start - 4));
    for (int i = 0; i < 256; ++i) {
        code.Write(0x90);
    }
    EXPECT_EQ(start + 256, code.GetCodePtr());
    EXPECT_EQ(0x12345678u, Word(start + 256)); // still the guard: no growth yet
    code.Write(0xC3);
    EXPECT_EQ(0xC3, start[256]);
    EXPECT_EQ(0x12345678u, Word(start + 512));
    EXPECT_EQ(0, start[260]); // past the old guard: fresh
    EXPECT_EQ(0u, code.CodeSize());
}

// Every overload stores its bytes in argument order and advances by their number.
TEST(CodeGenerator, WritesStoreTheirBytesInOrder)
{
    const unsigned char bytes[] = {0x55, 0x8B, 0xEC, 0x83, 0xEC, 0x10, 0xC3};
    ZCCodeGenerator code;
    code.Init(1 << 16, 4096);
    for (int k = 1; k <= 7; ++k) {
        unsigned char* at = code.GetCodePtr();
        Emit(code, bytes, k);
        EXPECT_EQ(at + k, code.GetCodePtr()) << k;
        EXPECT_EQ(0, std::memcmp(at, bytes, k)) << k;
        EXPECT_EQ(0, at[k]) << k;
    }
    unsigned char* at = code.GetCodePtr();
    code.Write(0x55, 0x8B, 0xEC);
    EXPECT_EQ(0x55, at[0]);
    EXPECT_EQ(0x8B, at[1]);
    EXPECT_EQ(0xEC, at[2]);
}

// Counting mode touches nothing and counts: four bytes and ReserveBytes(10) make 14.
// Back in writing mode the writes go on where they stopped.
TEST(CodeGenerator, CountingModeOnlyCounts)
{
    ZCCodeGenerator code;
    code.Init(1 << 16, 4096);
    unsigned char* start = code.GetCodePtr();
    code.Mode(ZCCodeGenerator::CountMode);
    code.Write(1, 2, 3, 4);
    code.ReserveBytes(10);
    EXPECT_EQ(14u, code.CodeSize());
    EXPECT_EQ(start, code.GetCodePtr());
    EXPECT_EQ(0, start[0]);
    // Counting needs no buffer and no room: far more than the maximum is counted.
    code.ReserveBytes(1u << 20);
    EXPECT_EQ(14u + (1u << 20), code.CodeSize());
    code.Mode(ZCCodeGenerator::WriteMode);
    code.Write(0xAA);
    EXPECT_EQ(0xAA, start[0]);
    EXPECT_EQ(14u + (1u << 20), code.CodeSize());
}

// ReserveBytes skips bytes without touching them: zeros in fresh pages, earlier code
// where the pointer was set back.
TEST(CodeGenerator, ReserveBytesLeavesTheSkippedBytes)
{
    ZCCodeGenerator code;
    code.Init(1 << 16, 4096);
    unsigned char* start = code.GetCodePtr();
    code.ReserveBytes(100);
    EXPECT_EQ(start + 100, code.GetCodePtr());
    EXPECT_EQ(0, start[50]);
    code.Write(0x11, 0x22, 0x33, 0x44);
    // Patch: go back, skip two bytes, overwrite the next.
    code.SetCodePtr(start + 100);
    code.ReserveBytes(2);
    code.Write(0x99);
    code.SetCodePtr(start + 104);
    EXPECT_EQ(0x11, start[100]);
    EXPECT_EQ(0x22, start[101]);
    EXPECT_EQ(0x99, start[102]);
    EXPECT_EQ(0x44, start[103]);
}

// A single request larger than the growth step at the end of the window raises
// message 1 and changes nothing; within one step it grows.
TEST(CodeGenerator, RequestLargerThanOneStepRaisesMessage1)
{
    ZCCodeGenerator code;
    code.Init(1 << 20, 4096);
    unsigned char* start = code.GetCodePtr();
    code.ReserveBytes(4000);
    ExpectNoRoom(CatchError([&] { code.ReserveBytes(4097); }));
    EXPECT_EQ(start + 4000, code.GetCodePtr());
    EXPECT_EQ(0x12345678u, Word(start + 4096)); // the window did not change
    code.ReserveBytes(4096);                    // exactly one step: fits
    EXPECT_EQ(start + 8096, code.GetCodePtr());
    EXPECT_EQ(0x12345678u, Word(start + 8192));
    // A count no 32-bit signed size can hold.
    ExpectNoRoom(CatchError([&] { code.ReserveBytes(0x80000000u); }));
    EXPECT_EQ(start + 8096, code.GetCodePtr());
}

// The window grows in steps of the initial size up to the maximum less one step:
// maximum 1000 and initial 100 give 900 bytes; a request beyond raises message 1.
TEST(CodeGenerator, GrowsUpToTheMaximumLessOneStep)
{
    struct Case
    {
        unsigned int maximum, initial, usable;
    };
    const Case cases[] = {
        {1000, 100, 900},
        {1050, 100, 950}, // the last step is shorter: what is left below max - step
        {4096, 4096, 4096},
        {65536, 256, 65280},
    };
    for (const Case& test : cases) {
        ZCCodeGenerator code;
        code.Init(test.maximum, test.initial);
        unsigned char* start = code.GetCodePtr();
        unsigned int written = 0;
        while (!CatchError([&] { code.Write(0x90); }).raised) {
            ++written;
        }
        EXPECT_EQ(test.usable, written) << test.maximum << "/" << test.initial;
        EXPECT_EQ(start + written, code.GetCodePtr());
        ExpectNoRoom(CatchError([&] { code.Write(0x90); }));
    }
}

// The addresses of the code never move while the buffer grows from its initial size
// to its limit: instructions of one to seven random bytes, a pointer to each kept,
// every byte checked at every growth and at the end.
TEST(CodeGenerator, AddressesNeverMoveWhileGrowingToTheLimit)
{
    constexpr unsigned int kMaximum = 4u << 20;
    constexpr unsigned int kStep = 64 * 1024;
    std::mt19937 random(99);
    ZCCodeGenerator code;
    code.Init(kMaximum, kStep);
    unsigned char* const start = code.GetCodePtr();
    std::vector<unsigned char> expected;
    std::vector<std::pair<unsigned char*, std::size_t>> addresses; // (pointer, index)
    unsigned char bytes[7];
    int growths = 0;
    std::size_t window = kStep;
    while (true) {
        const int k = static_cast<int>(random() % 7) + 1;
        for (int i = 0; i < k; ++i) {
            bytes[i] = static_cast<unsigned char>(random());
        }
        unsigned char* at = code.GetCodePtr();
        const bool grows = expected.size() + k > window;
        const auto caught = CatchError([&] { Emit(code, bytes, k); });
        if (caught.raised) {
            ExpectNoRoom(caught);
            EXPECT_EQ(at, code.GetCodePtr());
            break;
        }
        ASSERT_EQ(start + expected.size(), at);
        addresses.emplace_back(at, expected.size());
        expected.insert(expected.end(), bytes, bytes + k);
        if (grows) {
            ++growths;
            window += kStep;
            EXPECT_TRUE(IsCommitted(start + window - 1));
            EXPECT_EQ(0x12345678u, Word(start + window));
            // All code written so far is still where it was written.
            ASSERT_EQ(0, std::memcmp(start, expected.data(), expected.size()));
        }
    }
    EXPECT_GE(expected.size(), kMaximum - kStep - 6);
    EXPECT_LE(expected.size(), kMaximum - kStep);
    EXPECT_EQ(static_cast<int>((kMaximum - 2 * kStep) / kStep), growths);
    for (const auto& [pointer, index] : addresses) {
        ASSERT_EQ(expected[index], *pointer);
    }
    ASSERT_EQ(0, std::memcmp(start, expected.data(), expected.size()));
}

// Init again drops the old code: a fresh reservation, zeros, a zero count. Delete
// gives the pages back and keeps the reservation for the next Init.
TEST(CodeGenerator, InitAgainAndDelete)
{
    ZCCodeGenerator code;
    code.Init(1 << 20, 4096);
    code.Write(0x12, 0x34);
    code.Mode(ZCCodeGenerator::CountMode);
    code.Write(1);
    code.Mode(ZCCodeGenerator::WriteMode);
    EXPECT_EQ(1u, code.CodeSize());
    code.Init(1 << 16, 8192);
    unsigned char* start = code.GetCodePtr();
    EXPECT_EQ(0u, code.CodeSize());
    EXPECT_EQ(0, start[0]);
    EXPECT_EQ(0x12345678u, Word(start + 8192));
    code.Write(0x77);
    code.Delete();
    EXPECT_FALSE(IsCommitted(start));
    code.Init(1 << 16, 4096);
    EXPECT_EQ(0, code.GetCodePtr()[0]);
    code.Write(0x66);
    EXPECT_EQ(0x66, code.GetCodePtr()[-1]);
}

// Bad use gives clear errors, never a stray write: writing before Init or after a
// failed Init raises message 1; Init with an initial size above the maximum, or a
// maximum above 2 GiB, raises the flexible memory's error; a code pointer outside the
// reservation is refused.
TEST(CodeGenerator, BadUseGivesClearErrors)
{
    {
        ZCCodeGenerator code;
        EXPECT_EQ(nullptr, code.GetCodePtr());
        ExpectNoRoom(CatchError([&] { code.Write(0x90); }));
        ExpectNoRoom(CatchError([&] { code.ReserveBytes(1); }));
    }
    {
        ZCCodeGenerator code;
        const auto caught = CatchError([&] { code.Init(4096, 1 << 20); });
        ASSERT_TRUE(caught.raised);
        EXPECT_EQ(0u, caught.text.find("[TFlexibleMemory::FlexibleMemoryError 2]")) << caught.text;
        ExpectNoRoom(CatchError([&] { code.Write(0x90); }));
    }
    {
        ZCCodeGenerator code;
        code.Init(4096, 256);
        code.Write(1);
        const auto caught = CatchError([&] { code.Init(0x80000000u, 4096); });
        ASSERT_TRUE(caught.raised);
        EXPECT_EQ(0u, caught.text.find("[TFlexibleMemory::FlexibleMemoryError 0]")) << caught.text;
        ExpectNoRoom(CatchError([&] { code.Write(0x90); }));
    }
    {
        ZCCodeGenerator code;
        code.Init(1 << 16, 4096);
        unsigned char* start = code.GetCodePtr();
        for (unsigned char* bad :
             {start - 1, start + (1 << 16) + 1, static_cast<unsigned char*>(nullptr)}) {
            const auto caught = CatchError([&] { code.SetCodePtr(bad); });
            ASSERT_TRUE(caught.raised);
            EXPECT_EQ(0, caught.catalog);
            EXPECT_NE(std::string::npos, caught.text.find("outside the code buffer"))
                << caught.text;
            EXPECT_EQ(start, code.GetCodePtr());
        }
        // Far past the window (but inside the reservation): one step cannot reach it.
        code.SetCodePtr(start + 3 * 4096);
        ExpectNoRoom(CatchError([&] { code.Write(0x90); }));
        // Just past the window: one step covers it.
        code.SetCodePtr(start + 4096 + 10);
        code.Write(0x90);
        EXPECT_EQ(0x90, start[4106]);
    }
}
