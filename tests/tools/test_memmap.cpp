// TMemFile: read-only and writable mappings, closing with a size, errors, moves.
#include "testsupport.h"

#include <cstring>
#include <string>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>
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

// Opens `path` (size 0: read-only) expecting it to fail with message 0 of the
// catalog and the file name; returns the error stack, or why it did not fail.
std::string MapErrorStack(TMemFile& file, const TString& path, DWORD size)
{
    try {
        file.Open(path, size);
    } catch (const TException& error) {
        DecrementPendingCount();
        std::string stack = GetErrorText().AsAnsi();
        ClearError();
        if (error.Message() != 0 || error.Entry().a1 != path ||
            stack.find("[TMemFile::MemmapError 0] The file \"" + path.AsAnsi() +
                       "\" could not be mapped into memory.") != 0) {
            stack = "not message 0 on top: " + stack;
        }
        return stack;
    }
    return "no error";
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
// raises message 0 with the file name, and beneath it message 1, which says that
// the file is empty (not the misleading system text of ERROR_FILE_INVALID).
TEST(MemFile, OpenErrors)
{
    TMemFile file;
    const TString missing = WideTempPath("missing.bin");
    auto caught = CatchError([&] { file.Open(missing, 0); });
    ASSERT_TRUE(caught.raised);
    EXPECT_EQ(static_cast<WORD>(TFile::FileErrors()), caught.catalog);

    const TString empty = WideTempPath("empty.bin");
    WriteFile(empty, "");
    const std::string stack = MapErrorStack(file, empty, 0);
    EXPECT_NE(std::string::npos,
              stack.find("[TMemFile::MemmapError 1] The file is empty, and an empty file "
                         "cannot be mapped."))
        << stack;
    EXPECT_EQ(std::string::npos, stack.find("system error")) << stack;
    EXPECT_EQ(nullptr, file());
    // The failed open left nothing open: the file can be removed and reopened.
    EXPECT_TRUE(::DeleteFileW(empty));
}

// A file longer than 4 GiB cannot be mapped whole (the mapped size is 32 bits): the
// reason beneath message 0 says the file is too large (message 3), not that memory
// ran out. The file is sparse, so it takes no space.
TEST(MemFile, AFileOver4GiBIsTooLarge)
{
    const TString path = WideTempPath("huge.bin");
    {
        TFile huge;
        huge.Open(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
        huge.Seek(0x100000001LL, FILE_BEGIN);
        huge.Truncate();
    }
    TMemFile file;
    const std::string stack = MapErrorStack(file, path, 0);
    EXPECT_NE(std::string::npos, stack.find("[TMemFile::MemmapError 3] The file is larger than "
                                            "4 GiB, too large to be mapped whole"))
        << stack;
    EXPECT_EQ(std::string::npos, stack.find("Not enough memory")) << stack;
    EXPECT_TRUE(::DeleteFileW(path));
}

// Only regular files are mapped. A FIFO is refused at once, read-only or writable,
// rather than waited on for ever (the child's alarm ends a wait); a device is
// refused as well. Each time message 2 beneath message 0 says why.
TEST(MemFile, OnlyRegularFilesAreMappedAndAFifoIsNotWaitedOn)
{
    const std::string fifo = testsupport::TempPath("map.fifo");
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    const auto child = testsupport::RunInChild([&](std::string& report) {
        ::alarm(20);
        const char* notRegular = "[TMemFile::MemmapError 2] The file is not a regular file: "
                                 "only regular files can be mapped, not devices, FIFOs or "
                                 "sockets.";
        TMemFile file;
        const struct
        {
            std::string path;
            DWORD size;
        } cases[] = {{fifo, 0}, {fifo, 4096}, {"/dev/null", 0}, {"/dev/zero", 0}};
        for (const auto& c : cases) {
            const std::string stack =
                MapErrorStack(file, TString::FromAnsi(c.path.c_str()), c.size);
            if (stack.find(notRegular) == std::string::npos || file() != nullptr) {
                report += c.path + " (" + std::to_string(c.size) + "): " + stack + "\n";
            }
        }
        return report.empty() ? 0 : 1;
    });
    EXPECT_EQ(0, child.status) << child.output;
    ::unlink(fifo.c_str());
}

// A writable mapping that makes its file longer reserves the blocks: on a full
// filesystem Open fails with message 0 and ERROR_DISK_FULL beneath, instead of the
// process dying of SIGBUS when it writes the view. The file is left empty, and a
// mapping that fits is written whole. (A 1 MiB tmpfs, mounted in a child process.)
TEST(MemFile, AFullDiskFailsTheOpenInsteadOfTheFirstWrite)
{
    const auto child = testsupport::RunInChild([](std::string& report) {
        std::string why;
        const std::string dir = testsupport::MountSmallTmpfs(1 << 20, why);
        if (dir.empty()) {
            report = why;
            return testsupport::kChildSkipped;
        }
        const TString big = TString::FromAnsi((dir + "/big.bin").c_str());
        TMemFile file;
        bool refused = false;
        try {
            file.Open(big, 4 << 20);
            std::memset(file(), 0x5A, 4 << 20); // SIGBUS where no block is reserved
        } catch (const TException& error) {
            DecrementPendingCount();
            refused = true;
            const std::string stack = GetErrorText().AsAnsi();
            ClearError();
            if (error.Message() != 0 ||
                stack.find("[TMemFile::MemmapError 0]") == std::string::npos ||
                stack.find("[system error 112] There is not enough space on the disk.") ==
                    std::string::npos) {
                report += "unexpected error: " + stack + "\n";
            }
        }
        if (!refused) {
            report += "a 4 MiB mapping was opened on a 1 MiB filesystem\n";
        }
        if (ReadFile(big).size() != 0) {
            report += "the refused file is not empty\n";
        }
        const TString fits = TString::FromAnsi((dir + "/fits.bin").c_str());
        const std::string bytes = Pattern(600 * 1024);
        file.Open(fits, static_cast<DWORD>(bytes.size()));
        std::memcpy(file(), bytes.data(), bytes.size());
        file.Close(static_cast<DWORD>(bytes.size()));
        if (ReadFile(fits) != bytes) {
            report += "the file that fits does not read back\n";
        }
        return report.empty() ? 0 : 1;
    });
    if (child.status == testsupport::kChildSkipped) {
        GTEST_SKIP() << child.output;
    }
    EXPECT_EQ(0, child.status) << child.output;
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
