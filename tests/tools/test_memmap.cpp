// TMemFile: read-only and writable mappings, closing with a size, errors, moves.
#include "testsupport.h"

#include <cstring>
#include <string>
#include <type_traits>
#include <utility>

namespace {

using testsupport::CatchError;
using testsupport::WideTempPath;

std::string Pattern(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 131 + i / 256) & 0xFF);
    }
    return bytes;
}

void WriteFile(const TString& path, const std::string& bytes)
{
    TFile file;
    file.Open(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
    if (!bytes.empty()) {
        file.Write(bytes.data(), static_cast<DWORD>(bytes.size()));
    }
}

std::string ReadFile(const TString& path)
{
    TFile file;
    file.Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    std::string bytes(static_cast<std::size_t>(file.Length()), '\0');
    if (!bytes.empty()) {
        EXPECT_EQ(bytes.size(), file.Read(bytes.data(), static_cast<DWORD>(bytes.size())));
    }
    return bytes;
}

} // namespace

// Written through a writable mapping and closed with a size, the file reads back
// byte for byte, at exactly that size.
TEST(MemFile, WrittenThroughTheMappingReadsBackByteForByte)
{
    struct Case
    {
        DWORD mapped;
        DWORD closed;
    };
    const Case cases[] = {{1, 1},       {4096, 4096}, {4097, 4097}, {100000, 100000},
                          {4096, 1000}, {5000, 0},    {1000, 3000}};
    for (const Case& c : cases) {
        const TString path = WideTempPath("written.bin");
        const std::string bytes = Pattern(c.mapped);
        TMemFile file;
        file.Open(path, c.mapped);
        ASSERT_NE(nullptr, file());
        EXPECT_EQ(c.mapped, file.Size());
        std::memcpy(file(), bytes.data(), bytes.size());
        file.Close(c.closed);
        EXPECT_EQ(nullptr, file());

        std::string expected = bytes.substr(0, c.closed);
        expected.resize(c.closed, '\0'); // a longer close extends with zeros
        EXPECT_EQ(expected, ReadFile(path)) << c.mapped << " -> " << c.closed;
    }
}

// A read-only mapping shows the whole file; its size is the file's length.
TEST(MemFile, ReadOnlyMappingShowsTheFile)
{
    const TString path = WideTempPath("read.bin");
    const std::string bytes = Pattern(70000);
    WriteFile(path, bytes);
    TMemFile file;
    file.Open(path, 0);
    ASSERT_NE(nullptr, file());
    EXPECT_EQ(70000u, file.Size());
    EXPECT_EQ(0, std::memcmp(file(), bytes.data(), bytes.size()));
    file.Close(0); // a read-only file keeps its length whatever the size
    EXPECT_EQ(bytes, ReadFile(path));
    file.Close(0); // closing a closed object does nothing
}

// A missing file fails in the file object; an empty file cannot be mapped and
// raises message 0 with the file name, the system error beneath.
TEST(MemFile, OpenErrors)
{
    TMemFile file;
    const TString missing = WideTempPath("missing.bin");
    auto caught = CatchError([&] { file.Open(missing, 0); });
    ASSERT_TRUE(caught.raised);
    EXPECT_EQ(static_cast<WORD>(TFile::FileErrors()), caught.catalog);

    const TString empty = WideTempPath("empty.bin");
    WriteFile(empty, "");
    try {
        file.Open(empty, 0);
        FAIL() << "an empty file was mapped";
    } catch (const TException& error) {
        DecrementPendingCount();
        EXPECT_EQ(0, error.Message());
        EXPECT_EQ(empty, error.Entry().a1);
        EXPECT_EQ(0u, std::string(error.what()).find("[TMemFile::MemmapError 0]")) << error.what();
        const std::string stack = GetErrorText().AsAnsi();
        EXPECT_NE(std::string::npos,
                  stack.find("[system error " + std::to_string(ERROR_FILE_INVALID) + "]"))
            << stack;
        ClearError();
    }
    EXPECT_EQ(nullptr, file());
    // The failed open left nothing open: the file can be removed and reopened.
    EXPECT_TRUE(::DeleteFileW(empty));
}

// Destroying the object, or opening it again, without Close keeps a written file at
// its mapped size with everything written to it.
TEST(MemFile, DestroyingOrReopeningKeepsTheWrittenFile)
{
    const TString first = WideTempPath("first.bin");
    const TString second = WideTempPath("second.bin");
    const std::string bytes = Pattern(12345);
    {
        TMemFile file;
        file.Open(first, 12345);
        std::memcpy(file(), bytes.data(), bytes.size());
        file.Open(second, 100); // reopening closes the first file
        EXPECT_EQ(bytes, ReadFile(first));
        std::memcpy(file(), bytes.data(), 100);
    }
    EXPECT_EQ(bytes.substr(0, 100), ReadFile(second));
}

// The object can be moved but not copied: the handles move with it, the source is
// left closed, and closing both closes every handle exactly once.
TEST(MemFile, MovesTransferTheHandles)
{
    static_assert(!std::is_copy_constructible_v<TMemFile>);
    static_assert(!std::is_copy_assignable_v<TMemFile>);
    const DWORD handles = ZanthOpenHandleCount();
    const TString path = WideTempPath("moved.bin");
    const TString other = WideTempPath("other.bin");
    {
        TMemFile a;
        a.Open(path, 3000);
        std::memset(a(), 'a', 3000);
        void* view = a();

        TMemFile b(std::move(a));
        EXPECT_EQ(nullptr, a());
        EXPECT_EQ(view, b());
        EXPECT_EQ(3000u, b.Size());
        a.Close(0); // nothing to close: b's file keeps its bytes

        TMemFile c;
        c.Open(other, 10);
        std::memset(c(), 'c', 10);
        c = std::move(b); // c's own file is closed first, at its mapped size
        EXPECT_EQ(std::string(10, 'c'), ReadFile(other));
        EXPECT_EQ(view, c());
        c.Close(2000);
        b.Close(0);
    }
    EXPECT_EQ(std::string(2000, 'a'), ReadFile(path));
    EXPECT_EQ(handles, ZanthOpenHandleCount());
}
