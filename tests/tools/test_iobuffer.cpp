// Buffered reading and writing: the reader's refill and end-of-data mark, the
// writer's growth and write-out, the TFile bindings, and constructor clean-up.
#include "testsupport.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

using testsupport::CatchError;
using testsupport::WideTempPath;

constexpr LONG kDefault = 0x100000;

// The byte at position i of every test source: a pattern that does not repeat
// within any buffer size used here, so a byte from the wrong place shows.
unsigned char PatternByte(std::size_t i)
{
    return static_cast<unsigned char>((i * 2654435761u) >> 13);
}

std::vector<unsigned char> Pattern(std::size_t size)
{
    std::vector<unsigned char> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = PatternByte(i);
    }
    return bytes;
}

// A reader over bytes in memory that records each ReadData request. The source can
// be extended later, as a growing log file or a pipe would be.
class MemoryReader : public TReadBuffer
{
public:
    MemoryReader(LONG size, std::vector<unsigned char> source)
        : TReadBuffer(size), m_Source(std::move(source))
    {}

    std::vector<LONG> requests;
    std::vector<unsigned char*> targets;
    bool fail = false;
    std::vector<unsigned char>& Source() { return m_Source; }
    unsigned char* Start() const { return BufferStart(); }

protected:
    LONG ReadData(unsigned char* dest, LONG n) override
    {
        requests.push_back(n);
        targets.push_back(dest);
        if (fail) {
            ThrowNewError(0, 0, TEXT("source failed"), TString::NullString, TString::NullString,
                          nullptr);
        }
        const std::size_t count = std::min<std::size_t>(n, m_Source.size() - m_Position);
        if (count > 0) {
            std::memcpy(dest, m_Source.data() + m_Position, count);
        }
        m_Position += count;
        return static_cast<LONG>(count);
    }

private:
    std::vector<unsigned char> m_Source;
    std::size_t m_Position = 0;
};

// A writer into memory that records each WriteData call; it writes its pending
// bytes out in its destructor, as a derived class must.
class MemoryWriter : public TWriteBuffer
{
public:
    explicit MemoryWriter(LONG size = 0) : TWriteBuffer(size) {}
    ~MemoryWriter() override { Finish(); }

    void Seek(LONG, ULONG) override { Finish(); }
    void End() override { Finish(); }
    ULONG Position() override
    {
        Finish();
        return static_cast<ULONG>(sink.size());
    }

    std::vector<LONG> calls;
    std::vector<unsigned char> sink;

protected:
    void WriteData(unsigned char* src, LONG n) override
    {
        calls.push_back(n);
        sink.insert(sink.end(), src, src + n);
    }
};

// The same writer without the Finish() in its destructor.
class ForgetfulWriter : public TWriteBuffer
{
public:
    void Seek(LONG, ULONG) override {}
    void End() override {}
    ULONG Position() override { return 0; }
    LONG written = 0;

protected:
    void WriteData(unsigned char*, LONG n) override { written += n; }
};

void ExpectFlexError(const testsupport::CaughtError& caught, WORD message)
{
    ASSERT_TRUE(caught.raised);
    EXPECT_EQ(message, caught.message) << caught.text;
    EXPECT_EQ(0u, caught.text.find("[TFlexibleMemory::FlexibleMemoryError " +
                                   std::to_string(message) + "]"))
        << caught.text;
}

// Bytes of private memory reserved or committed in the process (our reservations
// included), from a walk of the address space with VirtualQuery.
unsigned long long PrivateBytes()
{
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    const auto top = reinterpret_cast<std::uintptr_t>(info.lpMaximumApplicationAddress);
    unsigned long long total = 0;
    std::uintptr_t at = 0;
    while (at < top) {
        MEMORY_BASIC_INFORMATION region{};
        if (::VirtualQuery(reinterpret_cast<void*>(at), &region, sizeof region) == 0) {
            break;
        }
        if (region.State != MEM_FREE && region.Type == MEM_PRIVATE) {
            total += region.RegionSize;
        }
        const std::uintptr_t next =
            reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize;
        if (next <= at) {
            break;
        }
        at = next;
    }
    return total;
}

std::vector<unsigned char> FileBytes(const TString& path)
{
    std::ifstream in(path.AsAnsi(), std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const TString& path, const std::vector<unsigned char>& bytes)
{
    TFile file;
    file.Open(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
    file.Write(bytes.data(), static_cast<DWORD>(bytes.size()));
}

} // namespace

// --- The reader ---------------------------------------------------------------------

// A fresh reader of the default size has a 1 MiB buffer that counts as consumed; its
// first Read asks the source once for the whole buffer.
TEST(ReadBuffer, FirstReadFillsTheWholeDefaultBuffer)
{
    MemoryReader reader(0, Pattern(3 * kDefault));
    EXPECT_EQ(kDefault, reader.BufferSize());
    EXPECT_TRUE(reader.requests.empty());
    unsigned char byte = 0;
    EXPECT_EQ(1, reader.Read(&byte, 1));
    EXPECT_EQ(PatternByte(0), byte);
    ASSERT_EQ(1u, reader.requests.size());
    EXPECT_EQ(kDefault, reader.requests[0]);
    EXPECT_EQ(reader.Start(), reader.targets[0]);
    EXPECT_EQ(kDefault, reader.Size());
}

// Buffer of 100: after 10 bytes are consumed, a request for 95 moves the 90 unread
// bytes to the front, asks the source for the 10 bytes freed, and answers 95.
TEST(ReadBuffer, RefillMovesTheUnreadTailAndReadsOnlyTheFreedPart)
{
    MemoryReader reader(100, Pattern(1000));
    unsigned char dest[100];
    ASSERT_EQ(10, reader.Read(dest, 10));
    LONG got = 0;
    const unsigned char* at = reader.BeginRead(95, &got);
    EXPECT_EQ(95, got);
    EXPECT_EQ(reader.Start(), at);
    ASSERT_EQ(2u, reader.requests.size());
    EXPECT_EQ(10, reader.requests[1]);
    EXPECT_EQ(reader.Start() + 90, reader.targets[1]);
    for (int i = 0; i < 95; ++i) {
        ASSERT_EQ(PatternByte(10 + i), at[i]) << i;
    }
    reader.EndRead(95);
    ASSERT_EQ(5, reader.Read(dest, 5));
    EXPECT_EQ(PatternByte(105), dest[0]);
    EXPECT_EQ(PatternByte(109), dest[4]);
}

// A single request gives at most the buffer size; BeginRead with no count pointer
// hands out the pointer only; requests the buffer can answer leave the source alone.
TEST(ReadBuffer, RequestsLargerThanTheBufferAndNullCount)
{
    MemoryReader reader(100, Pattern(1000));
    std::vector<unsigned char> dest(500);
    EXPECT_EQ(100, reader.Read(dest.data(), 500));
    EXPECT_EQ(PatternByte(99), dest[99]);
    const unsigned char* at = reader.BeginRead(30, nullptr);
    ASSERT_NE(nullptr, at);
    EXPECT_EQ(PatternByte(100), at[0]);
    reader.EndRead(30);
    const std::size_t before = reader.requests.size();
    LONG got = -1;
    reader.BeginRead(70, &got);
    EXPECT_EQ(70, got);
    EXPECT_EQ(before, reader.requests.size());
    reader.EndRead(70);
}

// The mended fault: the reader remembers where the source's data ends. After a short
// refill, later requests never count the stale bytes behind it as data; a request
// near the end gets exactly what remains, then 0.
TEST(ReadBuffer, NeverHandsOutBytesPastTheEndOfTheData)
{
    struct Case
    {
        LONG buffer;
        std::size_t source;
        std::vector<LONG> requests;
        std::vector<LONG> counts;
    };
    const Case cases[] = {
        // 100 + 50 bytes: the second refill is short; the old code answered the
        // third request with 10 stale bytes.
        {100, 150, {100, 60, 10, 10}, {100, 50, 0, 0}},
        {100, 130, {40, 40, 40, 40, 40}, {40, 40, 40, 10, 0}},
        {100, 0, {1, 100}, {0, 0}},
        {100, 99, {50, 60}, {50, 49}},
        // A request larger than the buffer near the end.
        {64, 200, {500, 500, 500, 500, 500}, {64, 64, 64, 8, 0}},
    };
    for (const Case& test : cases) {
        const std::vector<unsigned char> source = Pattern(test.source);
        MemoryReader reader(test.buffer, source);
        std::vector<unsigned char> dest(1000);
        std::size_t position = 0;
        for (std::size_t i = 0; i < test.requests.size(); ++i) {
            const LONG count = reader.Read(dest.data(), test.requests[i]);
            ASSERT_EQ(test.counts[i], count)
                << "buffer " << test.buffer << ", source " << test.source << ", request " << i;
            for (LONG j = 0; j < count; ++j) {
                ASSERT_EQ(source[position + j], dest[j]);
            }
            position += count;
        }
    }
}

// A source that has run out and later has more (a growing file): the reader goes on
// with the new bytes after the old ones, without gaps or repeats.
TEST(ReadBuffer, GoesOnWhenTheSourceGrowsAfterAShortRead)
{
    const std::vector<unsigned char> all = Pattern(400);
    MemoryReader reader(100, std::vector<unsigned char>(all.begin(), all.begin() + 130));
    std::vector<unsigned char> got;
    unsigned char dest[100];
    for (LONG count; got.size() <= all.size() && (count = reader.Read(dest, 70)) > 0;) {
        got.insert(got.end(), dest, dest + count);
    }
    EXPECT_EQ(130u, got.size());
    reader.Source().assign(all.begin(), all.end());
    for (LONG count; got.size() <= all.size() && (count = reader.Read(dest, 70)) > 0;) {
        got.insert(got.end(), dest, dest + count);
    }
    EXPECT_EQ(all, got);
}

// Requests of random sizes, read by copy or in place with partial consumption,
// against the rule that every request gets min(request, buffer size, bytes left).
TEST(ReadBuffer, RandomRequestsFollowTheCountRule)
{
    std::mt19937 random(20240607);
    for (LONG buffer : {LONG{1}, LONG{7}, LONG{100}, LONG{4096}, LONG{65536}}) {
        const std::vector<unsigned char> source = Pattern(200000 + buffer);
        MemoryReader reader(buffer, source);
        std::vector<unsigned char> dest(3 * buffer + 1);
        std::size_t position = 0;
        while (true) {
            const LONG n = std::uniform_int_distribution<LONG>(0, 2 * buffer + 1)(random);
            const LONG expected = static_cast<LONG>(std::min<std::size_t>(
                {std::size_t(n), std::size_t(buffer), source.size() - position}));
            LONG count;
            if (random() % 2 == 0) {
                count = reader.Read(dest.data(), n);
                ASSERT_EQ(expected, count);
                ASSERT_EQ(0, std::memcmp(dest.data(), source.data() + position, count));
            } else {
                const unsigned char* at = reader.BeginRead(n, &count);
                ASSERT_EQ(expected, count);
                ASSERT_EQ(0, std::memcmp(at, source.data() + position, count));
                // Consume only part of it sometimes; the rest comes again.
                count = count == 0 ? 0 : std::uniform_int_distribution<LONG>(0, count)(random);
                reader.EndRead(count);
            }
            position += count;
            if (position == source.size()) {
                break;
            }
        }
        LONG count = -1;
        reader.BeginRead(10, &count);
        EXPECT_EQ(0, count);
    }
}

// A Read of at least the buffer size takes the source's bytes straight into the
// caller's memory, yet asks the source for exactly what a refill through the buffer
// would ask: the same requests made through Read and through BeginRead/EndRead (with
// a copy) see the same ReadData sizes, counts, bytes and Size(), on a source that runs
// short and with an error in between that keeps the unread bytes for the next request.
TEST(ReadBuffer, LargeReadsGoStraightToTheCallerWithTheSameSourceRequests)
{
    const LONG requests[] = {30,  100, 250, 10,  100, 99,  1000, 40,  -1, 0,
                             100, 77,  100, 100, 100, 100, 100,  100, 5};
    const std::vector<unsigned char> source = Pattern(777);
    MemoryReader copying(100, source);
    MemoryReader direct(100, source);
    std::vector<unsigned char> viaBuffer(1000);
    std::vector<unsigned char> viaRead(1000);
    std::size_t position = 0;
    for (std::size_t i = 0; i < std::size(requests); ++i) {
        const LONG n = requests[i];
        if (i == 10) {
            // 23 bytes are unread here; the failed request leaves them in place.
            copying.fail = direct.fail = true;
            EXPECT_TRUE(CatchError([&] { copying.BeginRead(n, nullptr); }).raised);
            EXPECT_TRUE(CatchError([&] { direct.Read(viaRead.data(), n); }).raised);
            copying.fail = direct.fail = false;
        }
        LONG count = 0;
        const unsigned char* at = copying.BeginRead(n, &count);
        if (count > 0) {
            std::memcpy(viaBuffer.data(), at, static_cast<std::size_t>(count));
        }
        copying.EndRead(count);
        ASSERT_EQ(count, direct.Read(viaRead.data(), n)) << "request " << i;
        ASSERT_EQ(0, std::memcmp(viaRead.data(), source.data() + position, count)) << i;
        ASSERT_EQ(0, std::memcmp(viaBuffer.data(), viaRead.data(), count)) << i;
        ASSERT_EQ(copying.requests, direct.requests) << "request " << i;
        EXPECT_EQ(copying.Size(), direct.Size()) << "request " << i;
        position += static_cast<std::size_t>(count);
    }
    EXPECT_EQ(source.size(), position);
    // The large requests were read into the caller's memory, the others into the buffer.
    std::size_t straight = 0;
    for (unsigned char* target : direct.targets) {
        if (target >= viaRead.data() && target < viaRead.data() + viaRead.size()) {
            ++straight;
        } else {
            EXPECT_TRUE(target >= direct.Start() && target < direct.Start() + 100);
        }
    }
    EXPECT_GE(straight, 5u);
}

// Bad counts: a negative request asks for nothing and leaves the source alone;
// EndRead never moves past the buffered data.
TEST(ReadBuffer, NegativeAndOversizedCountsStayInsideTheData)
{
    MemoryReader reader(100, Pattern(120));
    LONG got = -1;
    reader.BeginRead(-5, &got);
    EXPECT_EQ(0, got);
    EXPECT_TRUE(reader.requests.empty());
    unsigned char dest[100];
    EXPECT_EQ(0, reader.Read(dest, -1));
    ASSERT_EQ(60, reader.Read(dest, 60));
    reader.EndRead(-10); // consumes nothing
    reader.BeginRead(100, &got);
    EXPECT_EQ(60, got); // 40 buffered + the 20 the source still had
    reader.EndRead(1000000);
    EXPECT_EQ(0, reader.Read(dest, 10));
}

// An error of the source passes through; the unread bytes stay for the next request.
TEST(ReadBuffer, SourceErrorsPassThroughAndKeepTheUnreadBytes)
{
    class FailingReader : public TReadBuffer
    {
    public:
        FailingReader() : TReadBuffer(100) {}
        bool fail = false;
        std::size_t position = 0;

    protected:
        LONG ReadData(unsigned char* dest, LONG n) override
        {
            if (fail) {
                ThrowNewError(0, 0, TEXT("source failed"), TString::NullString, TString::NullString,
                              nullptr);
            }
            for (LONG i = 0; i < n; ++i) {
                dest[i] = PatternByte(position++);
            }
            return n;
        }
    } reader;
    unsigned char dest[100];
    ASSERT_EQ(70, reader.Read(dest, 70));
    reader.fail = true;
    const auto caught = CatchError([&] { reader.Read(dest, 50); });
    ASSERT_TRUE(caught.raised);
    EXPECT_EQ("source failed", caught.text);
    reader.fail = false;
    ASSERT_EQ(50, reader.Read(dest, 50));
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(PatternByte(70 + i), dest[i]) << i;
    }
}

// --- The writer ---------------------------------------------------------------------

// The buffer is as large as the largest request: 0 at first, 4096 after a write of
// 4096; a following write of 100 that does not fit first passes the 4096 pending
// bytes on.
TEST(WriteBuffer, GrowsToTheLargestRequestAndWritesOutWhatDoesNotFit)
{
    MemoryWriter writer;
    EXPECT_EQ(0, writer.BufferSize());
    const std::vector<unsigned char> data = Pattern(5000);
    writer.Write(data.data(), 4096);
    EXPECT_EQ(4096, writer.BufferSize());
    EXPECT_EQ(4096, writer.Size());
    EXPECT_TRUE(writer.calls.empty());
    writer.Write(data.data() + 4096, 100);
    ASSERT_EQ(1u, writer.calls.size());
    EXPECT_EQ(4096, writer.calls[0]);
    EXPECT_EQ(100, writer.Size());
    writer.Finish();
    EXPECT_EQ(std::vector<unsigned char>(data.begin(), data.begin() + 4196), writer.sink);
    // Finish with nothing pending does not call WriteData.
    writer.Finish();
    EXPECT_EQ(2u, writer.calls.size());
}

// Repeated writes of one size pass the previous one on each time (the buffer is no
// larger than the request); giving the buffer its full size first collects them.
TEST(WriteBuffer, EqualRequestsAndAFullSizedBuffer)
{
    const std::vector<unsigned char> data = Pattern(640);
    {
        MemoryWriter writer(4096);
        for (int i = 0; i < 10; ++i) {
            writer.Write(data.data() + 64 * i, 64);
            EXPECT_EQ(static_cast<std::size_t>(i), writer.calls.size());
        }
        writer.Finish();
        EXPECT_EQ(std::vector<LONG>(10, 64), writer.calls);
        EXPECT_EQ(data, writer.sink);
    }
    {
        MemoryWriter writer(256);
        writer.BeginWrite(256);
        writer.EndWrite(0);
        EXPECT_EQ(256, writer.BufferSize());
        for (int i = 0; i < 10; ++i) {
            writer.Write(data.data() + 64 * i, 64);
        }
        writer.Finish();
        EXPECT_EQ((std::vector<LONG>{256, 256, 128}), writer.calls);
        EXPECT_EQ(data, writer.sink);
    }
}

// BeginWrite/EndWrite place bytes in the buffer without a copy. Growing the buffer
// keeps the pending bytes in place (they are passed on right after, as the larger
// request does not fit behind them); EndWrite never counts more than the room.
TEST(WriteBuffer, InPlaceWritesAndGrowthKeepPendingBytes)
{
    MemoryWriter writer(1000);
    unsigned char* at = writer.BeginWrite(10);
    std::memcpy(at, "0123456789", 10);
    writer.EndWrite(4); // only 4 of them are used
    EXPECT_EQ(4, writer.Size());
    at = writer.BeginWrite(500);
    EXPECT_EQ(500, writer.BufferSize());
    ASSERT_EQ((std::vector<LONG>{4}), writer.calls);
    EXPECT_EQ("0123", std::string(writer.sink.begin(), writer.sink.end()));
    std::memcpy(at, "abc", 3);
    writer.EndWrite(3);
    writer.EndWrite(100000); // stops at the end of the buffer
    EXPECT_EQ(500, writer.Size());
    writer.EndWrite(-7); // adds nothing
    writer.Finish();
    ASSERT_EQ(504u, writer.sink.size());
    EXPECT_EQ("0123abc", std::string(writer.sink.begin(), writer.sink.begin() + 7));
}

// A request larger than the reservation cannot be committed: message 2, and the
// buffer and its pending bytes stay usable.
TEST(WriteBuffer, RequestLargerThanTheReservationRaisesMessage2)
{
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    const LONG page = static_cast<LONG>(info.dwPageSize);
    MemoryWriter writer(page);
    const std::vector<unsigned char> data = Pattern(4 * page);
    writer.Write(data.data(), 100);
    ExpectFlexError(CatchError([&] { writer.Write(data.data(), 2 * page); }), 2);
    ExpectFlexError(CatchError([&] { writer.BeginWrite(4 * page); }), 2);
    EXPECT_EQ(100, writer.Size());
    writer.Write(data.data() + 100, 50);
    writer.Finish();
    EXPECT_EQ(std::vector<unsigned char>(data.begin(), data.begin() + 150), writer.sink);
}

// The writer's buffer is at most the size given to its constructor (a
// request larger than the reserved size cannot be committed), not the whole last
// page of the reservation: TFileWriteBuffer(100, ...) refuses a write of 101 bytes
// as it refuses one of 4088, with message 2 naming the request's byte count. The
// pending bytes stay and reach the file.
TEST(WriteBuffer, ARequestLargerThanTheConstructorsSizeRaisesMessage2WithItsCount)
{
    const TString path = WideTempPath("limit.bin");
    const std::vector<unsigned char> data = Pattern(8192);
    TFile file;
    file.Open(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
    {
        TFileWriteBuffer writer(100, &file, 0);
        writer.BeginWrite(100); // the whole buffer may be committed
        writer.EndWrite(0);
        writer.Write(data.data(), 60);
        for (LONG n : {LONG{101}, LONG{4088}, LONG{4089}, LONG{8192}}) {
            const auto caught = CatchError([&] { writer.Write(data.data() + 60, n); });
            ExpectFlexError(caught, 2);
            char count[16];
            std::snprintf(count, sizeof count, "%x", static_cast<unsigned>(n));
            EXPECT_EQ(count, caught.entry.a1.AsAnsi()) << n;
            EXPECT_NE(std::string::npos,
                      caught.text.find(std::string("could not commit 0x") + count + " bytes"))
                << caught.text;
            EXPECT_EQ(60, writer.Size());
        }
        ExpectFlexError(CatchError([&] { writer.BeginWrite(101); }), 2);
        writer.Write(data.data() + 60, 40); // 100 pending: the buffer is full
        EXPECT_EQ(100, writer.BufferSize());
        writer.Write(data.data() + 100, 100); // writes the first 100 out
        EXPECT_EQ(100u, file.Length());
    }
    EXPECT_TRUE(std::vector<unsigned char>(data.begin(), data.begin() + 200) == FileBytes(path));
}

// A derived class that forgets Finish() in its destructor loses its pending bytes:
// the base cannot reach the sink any more. That is raised as an error instead of
// calling a function of a class that is gone.
TEST(WriteBuffer, PendingBytesLeftToTheBaseDestructorAreReported)
{
    const std::vector<unsigned char> data = Pattern(10);
    const auto caught = CatchError([&] {
        ForgetfulWriter writer;
        writer.Write(data.data(), 10);
    });
    ASSERT_TRUE(caught.raised);
    EXPECT_EQ(0, caught.catalog);
    EXPECT_NE(std::string::npos, caught.text.find("10 pending bytes were lost")) << caught.text;
    // With nothing pending the destructor is silent.
    EXPECT_FALSE(CatchError([&] {
                     ForgetfulWriter writer;
                     writer.Write(data.data(), 10);
                     writer.Finish();
                 }).raised);
}

// While another exception unwinds, the base destructor's report of lost bytes is
// dropped under the destructor rule: the program goes on, the error that unwinds is
// the one the caller catches and the only one on the error stack. A file write buffer
// destroyed on the same road still writes its pending bytes to the file.
TEST(WriteBuffer, NoSecondErrorWhileAnotherOneUnwinds)
{
    const std::vector<unsigned char> data = Pattern(10);
    try {
        ForgetfulWriter writer;
        writer.Write(data.data(), 10);
        ThrowNewError(0, 0, TEXT("the first error"), TString::NullString, TString::NullString,
                      nullptr);
    } catch (const TException& error) {
        DecrementPendingCount();
        EXPECT_EQ("the first error", std::string(error.what()));
        EXPECT_EQ(1u, GetErrorCount());
        EXPECT_EQ(std::string::npos, GetErrorText().AsAnsi().find("pending bytes were lost"));
        ClearError();
    }

    bool unwound = false;
    try {
        ForgetfulWriter writer;
        writer.Write(data.data(), 10);
        throw std::runtime_error("not the library's");
    } catch (const std::runtime_error&) {
        unwound = true;
    }
    EXPECT_TRUE(unwound);
    EXPECT_EQ(0, GetPendingCount());
    EXPECT_EQ(0u, GetErrorCount());

    TFile file;
    file.Open(WideTempPath("unwinding.bin"), GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
    unwound = false;
    try {
        TFileWriteBuffer writer(0, &file, 0);
        writer.Write(data.data(), 10);
        throw std::runtime_error("not the library's");
    } catch (const std::runtime_error&) {
        unwound = true;
    }
    EXPECT_TRUE(unwound);
    EXPECT_EQ(10u, file.Length());
    EXPECT_EQ(0u, GetErrorCount());
}

// --- Constructors -------------------------------------------------------------------

// A reservation that cannot be made raises FlexibleMemoryError message 0 from every
// constructor, and the pending-error count is back where it was afterwards.
TEST(IOBufferConstruction, AFailedReservationRaisesMessage0)
{
    TFile file;
    file.Open(WideTempPath("construct.bin"), GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
    const std::function<void()> constructors[] = {
        [] { MemoryReader reader(-1, {}); },
        [] { MemoryWriter writer(-1); },
        [&] { TFileReadBuffer reader(-1, &file, 0); },
        [&] { TFileWriteBuffer writer(-1, &file, 0); },
    };
    for (const auto& construct : constructors) {
        const LONG pending = GetPendingCount();
        ExpectFlexError(CatchError(construct), 0);
        EXPECT_EQ(pending, GetPendingCount());
        EXPECT_EQ(0u, GetErrorCount());
    }
}

// A file buffer whose file cannot be positioned (closed) or is missing fails in its
// constructor after its buffer was reserved and committed; the buffer is given back.
TEST(IOBufferConstruction, AFailedConstructorGivesItsBufferBack)
{
    TFile closed;
    const unsigned long long before = PrivateBytes();
    for (int i = 0; i < 64; ++i) {
        const auto seek = CatchError([&] { TFileReadBuffer reader(0, &closed, 0); });
        ASSERT_TRUE(seek.raised);
        EXPECT_EQ(3, seek.message) << seek.text; // the file's seek error, unchanged
        ASSERT_TRUE(CatchError([&] { TFileWriteBuffer writer(0, &closed, 0); }).raised);
        const auto null = CatchError([] { TFileReadBuffer reader(0, nullptr, 0); });
        ASSERT_TRUE(null.raised);
        EXPECT_EQ(0, null.catalog);
        EXPECT_NE(std::string::npos, null.text.find("TFileReadBuffer")) << null.text;
        ASSERT_TRUE(CatchError([] { TFileWriteBuffer writer(0, nullptr, 0); }).raised);
    }
    // 256 leaked buffers of 1 MiB would be 256 MiB.
    EXPECT_LT(PrivateBytes(), before + (32ull << 20));
}

// --- File buffers -------------------------------------------------------------------

// A 10 MiB file read with random request sizes, some larger than the 64 KiB buffer,
// by copy and in place: the file comes back exactly, every count follows the rule,
// and the file ends with a short count, then 0.
TEST(FileReadBuffer, ReadsA10MiBFileBackExactly)
{
    const std::size_t size = 10u << 20;
    const std::vector<unsigned char> pattern = Pattern(size);
    const TString path = WideTempPath("pattern.bin");
    WriteFileBytes(path, pattern);

    constexpr LONG kBuffer = 65536;
    std::mt19937 random(7);
    TFile file;
    file.Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    TFileReadBuffer reader(kBuffer, &file, 0, 0);
    EXPECT_EQ(kBuffer, reader.BufferSize());
    std::vector<unsigned char> back;
    back.reserve(size);
    std::vector<unsigned char> dest(3 * kBuffer);
    LONG lastRequest = 0;
    LONG lastCount = 0;
    while (true) {
        // Mostly small requests, one in eight larger than the buffer.
        const LONG n = random() % 8 == 0
                           ? std::uniform_int_distribution<LONG>(kBuffer, 3 * kBuffer)(random)
                           : std::uniform_int_distribution<LONG>(1, 5000)(random);
        const LONG expected = static_cast<LONG>(
            std::min<std::size_t>({std::size_t(n), std::size_t(kBuffer), size - back.size()}));
        LONG count;
        if (random() % 2 == 0) {
            count = reader.Read(dest.data(), n);
            back.insert(back.end(), dest.data(), dest.data() + count);
        } else {
            const unsigned char* at = reader.BeginRead(n, &count);
            back.insert(back.end(), at, at + count);
            reader.EndRead(count);
        }
        ASSERT_EQ(expected, count) << "at " << back.size();
        if (count == 0) {
            break;
        }
        lastRequest = std::min(n, kBuffer);
        lastCount = count;
    }
    EXPECT_LT(lastCount, lastRequest) << "the last request should come back short";
    EXPECT_TRUE(back == pattern);
}

// The constructor moves the file by `offset` from where it stands (FILE_CURRENT).
TEST(FileReadBuffer, StartsAtTheOffsetFromTheCurrentPosition)
{
    const TString path = WideTempPath("offset.bin");
    WriteFileBytes(path, Pattern(1000));
    TFile file;
    file.Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    file.Seek(100, FILE_BEGIN);
    TFileReadBuffer reader(64, &file, 25, 12345);
    unsigned char byte = 0;
    ASSERT_EQ(1, reader.Read(&byte, 1));
    EXPECT_EQ(PatternByte(125), byte);
}

// The same random sequence of writes (by copy and in place), seeks (from the start,
// from the current position, from the end), End and Position, done once through a
// TFileWriteBuffer and once with plain TFile calls, gives the same 10 MiB file.
TEST(FileWriteBuffer, RandomWritesAndSeeksGiveTheSameFileAsPlainWrites)
{
    const std::vector<unsigned char> data = Pattern(1u << 20);
    constexpr LONG kBuffer = 256 * 1024;
    constexpr std::size_t kTotal = 10u << 20;

    struct Op
    {
        int kind; // 0 write, 1 in-place write, 2 seek, 3 end, 4 position
        LONG size;
        LONG offset;
        ULONG mode;
        std::size_t from;
    };
    // The sequence is decided against a model of the file, so that seeks stay inside
    // it and the file reaches 10 MiB.
    std::mt19937 random(1234);
    std::vector<Op> ops;
    {
        std::size_t length = 0;
        std::size_t position = 0;
        while (length < kTotal) {
            const unsigned roll = random() % 100;
            Op op{};
            if (roll < 80) {
                op.kind = roll < 60 ? 0 : 1;
                op.size = random() % 10 == 0
                              ? std::uniform_int_distribution<LONG>(kBuffer / 2, kBuffer)(random)
                              : std::uniform_int_distribution<LONG>(1, 3000)(random);
                op.from =
                    std::uniform_int_distribution<std::size_t>(0, data.size() - op.size)(random);
                position += op.size;
                length = std::max(length, position);
            } else if (roll < 94) {
                op.kind = 2;
                op.mode = random() % 3;
                const auto target = std::uniform_int_distribution<std::size_t>(0, length)(random);
                op.offset = op.mode == 0 ? static_cast<LONG>(target)
                            : op.mode == 1
                                ? static_cast<LONG>(LONGLONG(target) - LONGLONG(position))
                                : static_cast<LONG>(LONGLONG(target) - LONGLONG(length));
                position = target;
            } else if (roll < 97) {
                op.kind = 3;
                position = length;
            } else {
                op.kind = 4;
            }
            ops.push_back(op);
        }
    }

    const TString plainPath = WideTempPath("plain.bin");
    const TString bufferedPath = WideTempPath("buffered.bin");
    {
        TFile plain;
        plain.Open(plainPath, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
        for (const Op& op : ops) {
            if (op.kind <= 1) {
                plain.Write(data.data() + op.from, static_cast<DWORD>(op.size));
            } else if (op.kind == 2) {
                plain.Seek(op.offset, op.mode);
            } else if (op.kind == 3) {
                plain.End();
            }
        }
    }
    {
        TFile file;
        file.Open(bufferedPath, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
        TFileWriteBuffer writer(kBuffer, &file, 0);
        std::size_t position = 0;
        std::size_t length = 0;
        for (const Op& op : ops) {
            if (op.kind == 0) {
                writer.Write(data.data() + op.from, op.size);
            } else if (op.kind == 1) {
                std::memcpy(writer.BeginWrite(op.size), data.data() + op.from, op.size);
                writer.EndWrite(op.size);
            } else if (op.kind == 2) {
                writer.Seek(op.offset, op.mode);
            } else if (op.kind == 3) {
                writer.End();
            }
            // Track the position to check Position() against.
            if (op.kind <= 1) {
                position += op.size;
                length = std::max(length, position);
            } else if (op.kind == 2) {
                position = op.mode == 0   ? op.offset
                           : op.mode == 1 ? position + op.offset
                                          : length + op.offset;
            } else if (op.kind == 3) {
                position = length;
            } else {
                ASSERT_EQ(position, writer.Position());
                EXPECT_EQ(length, file.Length()) << "Position() writes the pending bytes";
            }
        }
        // The last pending bytes reach the file when the buffer is destroyed.
    }
    const std::vector<unsigned char> plain = FileBytes(plainPath);
    EXPECT_GE(plain.size(), kTotal);
    EXPECT_TRUE(plain == FileBytes(bufferedPath));
}

// Position(), End() and destruction write the pending bytes to the file before they
// do anything else.
TEST(FileWriteBuffer, PendingBytesReachTheFileFirst)
{
    const TString path = WideTempPath("pending.bin");
    const std::vector<unsigned char> data = Pattern(300);
    TFile file;
    file.Open(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS);
    {
        TFileWriteBuffer writer(0, &file, 0);
        writer.BeginWrite(4096);
        writer.EndWrite(0);
        writer.Write(data.data(), 100);
        EXPECT_EQ(0u, file.Length());
        EXPECT_EQ(100u, writer.Position());
        EXPECT_EQ(100u, file.Length());
        writer.Seek(10, FILE_BEGIN);
        writer.Write(data.data() + 100, 20); // overwrites bytes 10..29
        writer.End();
        EXPECT_EQ(100u, file.Position());
        writer.Write(data.data() + 120, 180);
        EXPECT_EQ(100u, file.Length());
    }
    EXPECT_EQ(280u, file.Length());
    std::vector<unsigned char> expected(data.begin(), data.begin() + 100);
    std::copy(data.begin() + 100, data.begin() + 120, expected.begin() + 10);
    expected.insert(expected.end(), data.begin() + 120, data.end());
    file.Close();
    EXPECT_TRUE(expected == FileBytes(path));
}

// A position past 4 GiB does not fit Position()'s 32-bit result: CoreErrors message
// 2 rather than a cut-off value. (The file stays empty: seeking writes nothing.)
TEST(FileWriteBuffer, PositionPast4GiBIsAnError)
{
    TFile file;
    file.Open(WideTempPath("far.bin"), GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
    TFileWriteBuffer writer(0, &file, 0);
    writer.Seek(0x7FFFFFFF, FILE_BEGIN);
    EXPECT_EQ(0x7FFFFFFFu, writer.Position());
    writer.Seek(0x7FFFFFFF, FILE_CURRENT);
    writer.Seek(2, FILE_CURRENT);
    const auto caught = CatchError([&] { writer.Position(); });
    ASSERT_TRUE(caught.raised);
    EXPECT_EQ(2, caught.message);
    EXPECT_NE(std::string::npos, caught.text.find("TFileWriteBuffer::Position")) << caught.text;
    EXPECT_EQ(0x100000000ull, file.Position());
}

// A write that fails part of the way (the file may grow no further: RLIMIT_FSIZE,
// as a full disk would refuse it) keeps pending only the bytes that did not reach
// the file. A retry after the limit is lifted (Finish, or the destructor) writes
// each byte once, so the file is exactly what was written. (In a child process,
// which alone carries the limit.)
TEST(FileWriteBuffer, ARetriedWriteAfterAPartialFailureWritesEachByteOnce)
{
    for (const bool byDestructor : {false, true}) {
        const std::string name = byDestructor ? "retry-destructor.bin" : "retry-finish.bin";
        const auto child = testsupport::RunInChild([&](std::string& report) {
            const std::size_t total = 300 * 1024;
            const std::vector<unsigned char> data = Pattern(total);
            const TString path = WideTempPath(name);
            ::signal(SIGXFSZ, SIG_IGN);
            struct rlimit limit;
            ::getrlimit(RLIMIT_FSIZE, &limit);
            const rlim_t unlimited = limit.rlim_cur;
            TFile file;
            file.Open(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
            auto* writer = new TFileWriteBuffer(0, &file, 0);
            writer->Write(data.data(), static_cast<LONG>(total));
            limit.rlim_cur = 100 * 1024;
            ::setrlimit(RLIMIT_FSIZE, &limit);
            const auto caught = CatchError([&] { writer->Finish(); });
            if (!caught.raised || caught.text.find("[TFile::FileErrors 2]") != 0) {
                report += "the write did not fail as the file's error: " + caught.text + "\n";
            }
            if (file.Length() != 100 * 1024 || writer->Size() != 200 * 1024) {
                report += "after the failure: file " + std::to_string(file.Length()) +
                          " bytes, pending " + std::to_string(writer->Size()) + "\n";
            }
            limit.rlim_cur = unlimited;
            ::setrlimit(RLIMIT_FSIZE, &limit);
            if (byDestructor) {
                delete writer;
            } else {
                writer->Finish();
                delete writer;
            }
            file.Close();
            if (FileBytes(path) != data) {
                report += "the file is " + std::to_string(FileBytes(path).size()) +
                          " bytes and not what was written\n";
            }
            return report.empty() ? 0 : 1;
        });
        EXPECT_EQ(0, child.status) << name << ": " << child.output;
    }
}

// The case on a real full disk: a 300 KiB write on a filesystem with room
// for less fails part of the way; after space is freed, the retry completes the
// file exactly (it used to come out 344 KiB, corrupt from the point of failure).
// (A 512 KiB tmpfs, mounted in a child process.)
TEST(FileWriteBuffer, ARetryAfterFreeingSpaceOnAFullDiskGivesTheExactFile)
{
    const auto child = testsupport::RunInChild([](std::string& report) {
        std::string why;
        const std::string dir = testsupport::MountSmallTmpfs(512 * 1024, why);
        if (dir.empty()) {
            report = why;
            return testsupport::kChildSkipped;
        }
        const TString filler = TString::FromAnsi((dir + "/filler.bin").c_str());
        WriteFileBytes(filler, Pattern(320 * 1024));
        const TString path = TString::FromAnsi((dir + "/data.bin").c_str());
        const std::vector<unsigned char> data = Pattern(300 * 1024);
        TFile file;
        file.Open(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
        {
            TFileWriteBuffer writer(0, &file, 0);
            writer.Write(data.data(), static_cast<LONG>(data.size()));
            const auto caught = CatchError([&] { writer.Finish(); });
            if (!caught.raised || caught.text.find("[TFile::FileErrors 2]") != 0) {
                report += "the write did not fail as the file's error: " + caught.text + "\n";
            }
            if (file.Length() == 0 || file.Length() >= data.size() ||
                writer.Size() != static_cast<LONG>(data.size() - file.Length())) {
                report += "after the failure: file " + std::to_string(file.Length()) +
                          " bytes, pending " + std::to_string(writer.Size()) + "\n";
            }
            if (!::DeleteFileW(filler)) {
                report += "the filler could not be deleted\n";
            }
            writer.Finish();
        }
        file.Close();
        if (FileBytes(path) != data) {
            report += "the file is " + std::to_string(FileBytes(path).size()) +
                      " bytes and not what was written\n";
        }
        return report.empty() ? 0 : 1;
    });
    if (child.status == testsupport::kChildSkipped) {
        GTEST_SKIP() << child.output;
    }
    EXPECT_EQ(0, child.status) << child.output;
}

// Errors of the file pass through unchanged, from Finish and from the destructor
// that writes the pending bytes; the bytes the file refused are reported once, by the
// file's error.
TEST(FileWriteBuffer, FileErrorsPassThrough)
{
    const TString path = WideTempPath("readonly.bin");
    WriteFileBytes(path, Pattern(10));
    TFile file;
    file.Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    const std::vector<unsigned char> data = Pattern(100);
    auto* writer = new TFileWriteBuffer(0, &file, 0);
    writer->Write(data.data(), 100);
    const auto onFinish = CatchError([&] { writer->Finish(); });
    ASSERT_TRUE(onFinish.raised);
    EXPECT_EQ(0u, onFinish.text.find("[TFile::FileErrors 2]")) << onFinish.text;
    EXPECT_EQ(100, writer->Size()); // still pending
    const auto onDestroy = CatchError([&] { delete writer; });
    ASSERT_TRUE(onDestroy.raised);
    EXPECT_EQ(0u, onDestroy.text.find("[TFile::FileErrors 2]")) << onDestroy.text;
    EXPECT_EQ(0, GetPendingCount());
}

// A reader and a writer derived with the operations written exactly as their users
// declare them (unsigned char* buffers, long as LONG, unsigned long as DWORD),
// without calling anything the base does not document: both must compile as
// overrides and work.
namespace {

class DocumentedReader : public TReadBuffer
{
public:
    explicit DocumentedReader(LONG size) : TReadBuffer(size) {}
    LONG served = 0;

protected:
    LONG ReadData(unsigned char* dest, LONG n) override
    {
        const LONG count = n < 10 - served ? n : 10 - served;
        for (LONG i = 0; i < count; ++i) {
            dest[i] = static_cast<unsigned char>('0' + served + i);
        }
        served += count;
        return count;
    }
};

class DocumentedWriter : public TWriteBuffer
{
public:
    explicit DocumentedWriter(LONG size) : TWriteBuffer(size) {}
    std::string sink;
    DWORD seekMode = 99;

    void Seek(LONG, DWORD mode) override
    {
        Finish();
        seekMode = mode;
    }
    void End() override { Finish(); }
    DWORD Position() override
    {
        Seek(0, 1);
        return static_cast<DWORD>(sink.size());
    }

protected:
    void WriteData(unsigned char* src, LONG n) override
    {
        sink.append(reinterpret_cast<char*>(src), static_cast<std::size_t>(n));
    }
};

} // namespace

TEST(DocumentedSignatures, DerivedReaderAndWriterWork)
{
    DocumentedReader reader(4);
    unsigned char got[32] = {};
    EXPECT_EQ(reader.Read(got, 3), 3);
    EXPECT_EQ(reader.Read(got + 3, 16), 4); // at most the buffer size
    EXPECT_EQ(std::string(reinterpret_cast<char*>(got), 7), "0123456");

    DocumentedWriter writer(0);
    unsigned char text[] = {'a', 'b', 'c'};
    writer.Write(text, 3); // a non-const buffer, as callers pass it
    unsigned char* room = writer.BeginWrite(2);
    room[0] = 'd';
    room[1] = 'e';
    writer.EndWrite(2);
    EXPECT_EQ(writer.Position(), 5u);
    EXPECT_EQ(writer.seekMode, 1u);
    EXPECT_EQ(writer.sink, "abcde");
    writer.Finish();
}

// ztools takes file names from its command line as the bytes they are: a target
// whose name is not UTF-8 is created under exactly that name and leaves a file
// whose name merely looks alike (U+FFFD where the byte was) alone.
TEST(BuffersCommand, CopyWritesExactlyTheNamedFile)
{
    const std::string ztools = testsupport::HelperPath("ztools");
    if (::access(ztools.c_str(), X_OK) != 0) {
        GTEST_SKIP() << "ztools is not built";
    }
    const std::string source = testsupport::TempPath("in.txt");
    const std::string target = testsupport::TempPath("victim\xFF");
    const std::string lookAlike = testsupport::TempPath("victim\xEF\xBF\xBD");
    const std::string sourceNotUtf8 = testsupport::TempPath("in\xFE");
    std::ofstream(source, std::ios::binary) << "copied text";
    std::ofstream(lookAlike, std::ios::binary) << "unrelated";
    std::ofstream(sourceNotUtf8, std::ios::binary) << "from an odd name";
    const auto read = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };

    auto result = testsupport::RunChild({ztools, "buffers", "copy", source, target});
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(read(target), "copied text");
    EXPECT_EQ(read(lookAlike), "unrelated");

    // A source whose name is not UTF-8 can be read as well.
    result = testsupport::RunChild({ztools, "buffers", "copy", sourceNotUtf8, target});
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(read(target), "from an odd name");
    EXPECT_EQ(read(lookAlike), "unrelated");
}
