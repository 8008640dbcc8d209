// File mapping of the platform layer: each test states the Win32 behaviour of
// CreateFileMappingW, MapViewOfFile and UnmapViewOfFile that it checks.
#include "testsupport.h"

#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using testsupport::WideTempPath;

// Creates (or empties) a file with the given bytes and returns its path.
TString MakeFile(const std::string& name, const std::string& bytes)
{
    TString path = WideTempPath(name);
    HANDLE file = ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    if (!bytes.empty()) {
        EXPECT_TRUE(
            ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    }
    ::CloseHandle(file);
    return path;
}

HANDLE OpenFile(const TString& path, DWORD access)
{
    return ::CreateFileW(path, access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

ULONGLONG FileSize(const TString& path)
{
    HANDLE file = OpenFile(path, GENERIC_READ);
    LARGE_INTEGER size{};
    ::GetFileSizeEx(file, &size);
    ::CloseHandle(file);
    return static_cast<ULONGLONG>(size.QuadPart);
}

std::string ReadAllBytes(const TString& path)
{
    HANDLE file = OpenFile(path, GENERIC_READ);
    std::string bytes(static_cast<std::size_t>(FileSize(path)), '\0');
    DWORD read = 0;
    if (!bytes.empty()) {
        ::ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    }
    ::CloseHandle(file);
    return bytes;
}

} // namespace

// A read-only mapping of size 0 maps the whole file; the view shows its bytes and
// VirtualQuery reports it as a committed, mapped (not private) region.
TEST(FileMapping, ReadOnlyViewShowsTheFile)
{
    const std::string text = "mapped bytes, read through a view";
    TString path = MakeFile("ro.bin", text);
    HANDLE file = OpenFile(path, GENERIC_READ);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    HANDLE mapping = ::CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    ASSERT_NE(nullptr, mapping);
    auto* view = static_cast<const char*>(::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    ASSERT_NE(nullptr, view);
    EXPECT_EQ(text, std::string(view, text.size()));

    MEMORY_BASIC_INFORMATION info{};
    ASSERT_EQ(sizeof info, ::VirtualQuery(view, &info, sizeof info));
    EXPECT_EQ(static_cast<DWORD>(MEM_COMMIT), info.State);
    EXPECT_EQ(static_cast<DWORD>(MEM_MAPPED), info.Type);
    EXPECT_EQ(static_cast<DWORD>(PAGE_READONLY), info.Protect);

    EXPECT_TRUE(::UnmapViewOfFile(view));
    EXPECT_TRUE(::CloseHandle(mapping));
    EXPECT_TRUE(::CloseHandle(file));
}

// Mapping an empty file with size 0 fails with ERROR_FILE_INVALID.
TEST(FileMapping, EmptyFileCannotBeMapped)
{
    TString path = MakeFile("empty.bin", "");
    for (DWORD protect : {PAGE_READONLY, PAGE_READWRITE}) {
        HANDLE file = OpenFile(path, GENERIC_READ | GENERIC_WRITE);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        ::SetLastError(0);
        EXPECT_EQ(nullptr, ::CreateFileMappingW(file, nullptr, protect, 0, 0, nullptr));
        EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_INVALID), ::GetLastError());
        ::CloseHandle(file);
    }
}

// A PAGE_READWRITE mapping larger than the file extends the file to the mapping's
// size; bytes written through a FILE_MAP_WRITE view reach the file.
TEST(FileMapping, WritableMappingExtendsTheFileAndWritesThrough)
{
    TString path = MakeFile("rw.bin", "abc");
    HANDLE file = OpenFile(path, GENERIC_READ | GENERIC_WRITE);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    HANDLE mapping = ::CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, 100000, nullptr);
    ASSERT_NE(nullptr, mapping);
    LARGE_INTEGER size{};
    ASSERT_TRUE(::GetFileSizeEx(file, &size));
    EXPECT_EQ(100000, size.QuadPart);
    auto* view = static_cast<char*>(::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(nullptr, view);
    EXPECT_EQ("abc", std::string(view, 3));
    EXPECT_EQ(0, view[99999]); // the extension reads as zeros
    std::memcpy(view, "XYZ", 3);
    view[99999] = 'E';
    EXPECT_TRUE(::UnmapViewOfFile(view));
    EXPECT_TRUE(::CloseHandle(mapping));
    EXPECT_TRUE(::CloseHandle(file));
    const std::string bytes = ReadAllBytes(path);
    ASSERT_EQ(100000u, bytes.size());
    EXPECT_EQ("XYZ", bytes.substr(0, 3));
    EXPECT_EQ('E', bytes[99999]);
}

// The file's access must allow the mapping's protection, and the mapping's
// protection the view's access: ERROR_ACCESS_DENIED otherwise. A read-only
// mapping cannot be larger than its file (ERROR_NOT_ENOUGH_MEMORY), and the file
// keeps its size.
TEST(FileMapping, AccessMustMatch)
{
    TString path = MakeFile("access.bin", std::string(5000, 'a'));
    HANDLE readOnly = OpenFile(path, GENERIC_READ);
    ASSERT_NE(INVALID_HANDLE_VALUE, readOnly);
    ::SetLastError(0);
    EXPECT_EQ(nullptr, ::CreateFileMappingW(readOnly, nullptr, PAGE_READWRITE, 0, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), ::GetLastError());

    ::SetLastError(0);
    EXPECT_EQ(nullptr, ::CreateFileMappingW(readOnly, nullptr, PAGE_READONLY, 0, 6000, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), ::GetLastError());
    EXPECT_EQ(5000u, FileSize(path));

    HANDLE mapping = ::CreateFileMappingW(readOnly, nullptr, PAGE_READONLY, 0, 0, nullptr);
    ASSERT_NE(nullptr, mapping);
    ::SetLastError(0);
    EXPECT_EQ(nullptr, ::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), ::GetLastError());
    ::CloseHandle(mapping);
    ::CloseHandle(readOnly);

    HANDLE writeOnly = ::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, writeOnly);
    ::SetLastError(0);
    EXPECT_EQ(nullptr, ::CreateFileMappingW(writeOnly, nullptr, PAGE_READONLY, 0, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), ::GetLastError());
    ::CloseHandle(writeOnly);
}

// View offsets must be multiples of the allocation granularity
// (ERROR_MAPPED_ALIGNMENT) and views must lie inside the mapping
// (ERROR_ACCESS_DENIED); a view at an offset shows the bytes from there.
TEST(FileMapping, ViewOffsetsAndSizes)
{
    std::string bytes(0x30000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i / 0x10000 + 1);
    }
    TString path = MakeFile("offsets.bin", bytes);
    HANDLE file = OpenFile(path, GENERIC_READ);
    HANDLE mapping = ::CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    ASSERT_NE(nullptr, mapping);

    ::SetLastError(0);
    EXPECT_EQ(nullptr, ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0x1000, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MAPPED_ALIGNMENT), ::GetLastError());
    ::SetLastError(0);
    EXPECT_EQ(nullptr, ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0x20000, 0x10001));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), ::GetLastError());
    ::SetLastError(0);
    EXPECT_EQ(nullptr, ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0x30000, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), ::GetLastError());

    auto* view = static_cast<const char*>(::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0x10000, 0));
    ASSERT_NE(nullptr, view);
    EXPECT_EQ(2, view[0]);
    EXPECT_EQ(3, view[0x1FFFF]);
    EXPECT_TRUE(::UnmapViewOfFile(view));
    ::CloseHandle(mapping);
    ::CloseHandle(file);
}

// A view keeps its mapping and file alive: after both handles are closed the view
// still reads the file, and unmapping it gives everything back. Unmapping an
// address that is not a view's base fails with ERROR_INVALID_ADDRESS.
TEST(FileMapping, ViewOutlivesItsHandles)
{
    const DWORD handlesBefore = ZanthOpenHandleCount();
    TString path = MakeFile("alive.bin", "still here");
    HANDLE file = OpenFile(path, GENERIC_READ);
    HANDLE mapping = ::CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    auto* view = static_cast<const char*>(::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    ASSERT_NE(nullptr, view);
    EXPECT_TRUE(::CloseHandle(mapping));
    EXPECT_TRUE(::CloseHandle(file));
    EXPECT_EQ(handlesBefore, ZanthOpenHandleCount());
    EXPECT_EQ("still here", std::string(view, 10));

    ::SetLastError(0);
    EXPECT_FALSE(::UnmapViewOfFile(view + 1));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_ADDRESS), ::GetLastError());
    EXPECT_TRUE(::UnmapViewOfFile(view));
    ::SetLastError(0);
    EXPECT_FALSE(::UnmapViewOfFile(view));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_ADDRESS), ::GetLastError());
}

// A mapping of INVALID_HANDLE_VALUE is backed by memory: it needs a size, and two
// views of it share their bytes. Handles that are no mapping are refused with
// ERROR_INVALID_HANDLE.
TEST(FileMapping, MemoryBackedMappingAndBadHandles)
{
    ::SetLastError(0);
    EXPECT_EQ(nullptr,
              ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), ::GetLastError());

    HANDLE mapping =
        ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 8192, nullptr);
    ASSERT_NE(nullptr, mapping);
    auto* a = static_cast<char*>(::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
    auto* b = static_cast<char*>(::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    ASSERT_NE(nullptr, a);
    ASSERT_NE(nullptr, b);
    EXPECT_NE(a, b);
    EXPECT_EQ(0, b[8191]);
    a[8191] = 'q';
    EXPECT_EQ('q', b[8191]);
    EXPECT_TRUE(::UnmapViewOfFile(a));
    EXPECT_TRUE(::UnmapViewOfFile(b));

    ::SetLastError(0);
    EXPECT_EQ(nullptr, ::MapViewOfFile(nullptr, FILE_MAP_READ, 0, 0, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), ::GetLastError());
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::SetLastError(0);
    EXPECT_EQ(nullptr, ::MapViewOfFile(event, FILE_MAP_READ, 0, 0, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), ::GetLastError());
    ::SetLastError(0);
    EXPECT_EQ(nullptr, ::CreateFileMappingW(mapping, nullptr, PAGE_READONLY, 0, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), ::GetLastError());
    ::CloseHandle(event);
    ::CloseHandle(mapping);
}

// Only regular files can be mapped: a device or a FIFO gives ERROR_NOT_SUPPORTED
// (a device used to pass for an empty file, ERROR_FILE_INVALID). GetFileType tells
// a disk file from a character device and a FIFO.
TEST(FileMapping, OnlyRegularFilesAreMapped)
{
    TString path = MakeFile("regular.bin", "x");
    HANDLE regular = OpenFile(path, GENERIC_READ);
    EXPECT_EQ(static_cast<DWORD>(FILE_TYPE_DISK), ::GetFileType(regular));
    ::CloseHandle(regular);

    HANDLE device = OpenFile(TEXT("/dev/zero"), GENERIC_READ);
    ASSERT_NE(INVALID_HANDLE_VALUE, device);
    EXPECT_EQ(static_cast<DWORD>(FILE_TYPE_CHAR), ::GetFileType(device));
    ::SetLastError(0);
    EXPECT_EQ(nullptr, ::CreateFileMappingW(device, nullptr, PAGE_READONLY, 0, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED), ::GetLastError());
    ::SetLastError(0);
    EXPECT_EQ(nullptr, ::CreateFileMappingW(device, nullptr, PAGE_READONLY, 0, 4096, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_SUPPORTED), ::GetLastError());
    ::CloseHandle(device);

    ::SetLastError(0);
    EXPECT_EQ(static_cast<DWORD>(FILE_TYPE_UNKNOWN), ::GetFileType(INVALID_HANDLE_VALUE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), ::GetLastError());
}

// CreateFileW never waits for the other end of a FIFO, as Windows' CreateFile never
// waits for a pipe: opening one for reading returns at once, opening one for writing
// while nobody reads fails with ERROR_PIPE_NOT_CONNECTED. Reads and writes on the
// handle wait as usual (a read waits for the byte a writer sends later). A mapping
// of it is refused. (In a child process, whose alarm ends a wait that never ends.)
TEST(FileMapping, AFifoIsOpenedWithoutWaitingAndNotMapped)
{
    const std::string fifo = testsupport::TempPath("open.fifo");
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    const TString name = TString::FromAnsi(fifo.c_str());
    const auto child = testsupport::RunInChild([&](std::string& report) {
        ::alarm(20);
        ::SetLastError(0);
        HANDLE lonelyWriter = ::CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (lonelyWriter != INVALID_HANDLE_VALUE ||
            ::GetLastError() != static_cast<DWORD>(ERROR_PIPE_NOT_CONNECTED)) {
            report += "writing without a reader: error " + std::to_string(::GetLastError()) + "\n";
        }
        HANDLE reader = ::CreateFileW(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (reader == INVALID_HANDLE_VALUE) {
            report += "the reader did not open\n";
            return 1;
        }
        if (::GetFileType(reader) != FILE_TYPE_PIPE) {
            report += "a FIFO is not FILE_TYPE_PIPE\n";
        }
        if (::CreateFileMappingW(reader, nullptr, PAGE_READONLY, 0, 0, nullptr) != nullptr ||
            ::GetLastError() != static_cast<DWORD>(ERROR_NOT_SUPPORTED)) {
            report += "a FIFO was mapped, or not with ERROR_NOT_SUPPORTED\n";
        }
        HANDLE writer = ::CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (writer == INVALID_HANDLE_VALUE) {
            report += "the writer did not open\n";
            return 1;
        }
        // The reader waits for a byte that comes later (a non-blocking handle would
        // fail at once).
        HANDLE thread = ::CreateThread(
            nullptr, 0,
            [](LPVOID handle) -> DWORD {
                ::Sleep(200);
                DWORD done = 0;
                return ::WriteFile(static_cast<HANDLE>(handle), "z", 1, &done, nullptr) ? 0 : 1;
            },
            writer, 0, nullptr);
        char byte = 0;
        DWORD read = 0;
        if (!::ReadFile(reader, &byte, 1, &read, nullptr) || read != 1 || byte != 'z') {
            report += "the read did not wait for the byte: error " +
                      std::to_string(::GetLastError()) + "\n";
        }
        ::WaitForSingleObject(thread, INFINITE);
        ::CloseHandle(thread);
        ::CloseHandle(writer);
        ::CloseHandle(reader);
        return report.empty() ? 0 : 1;
    });
    EXPECT_EQ(0, child.status) << child.output;
    ::unlink(fifo.c_str());
}

// A PAGE_READWRITE mapping that makes its file longer reserves the file's blocks:
// on a full filesystem it fails with ERROR_DISK_FULL (instead of a view whose first
// write into the missing blocks raises SIGBUS), and the file keeps its length. One
// that fits is backed entirely. (A 1 MiB tmpfs, mounted in a child process.)
TEST(FileMapping, GrowingOnAFullFilesystemFailsWithDiskFull)
{
    const auto child = testsupport::RunInChild([](std::string& report) {
        std::string why;
        const std::string dir = testsupport::MountSmallTmpfs(1 << 20, why);
        if (dir.empty()) {
            report = why;
            return testsupport::kChildSkipped;
        }
        const TString path = TString::FromAnsi((dir + "/grow.bin").c_str());
        HANDLE file = ::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD done = 0;
        ::WriteFile(file, "abc", 3, &done, nullptr);
        ::SetLastError(0);
        HANDLE mapping = ::CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, 4 << 20, nullptr);
        if (mapping != nullptr || ::GetLastError() != static_cast<DWORD>(ERROR_DISK_FULL)) {
            report += "4 MiB on 1 MiB: error " + std::to_string(::GetLastError()) + "\n";
            if (mapping != nullptr) {
                ::CloseHandle(mapping);
            }
        }
        LARGE_INTEGER size{};
        ::GetFileSizeEx(file, &size);
        if (size.QuadPart != 3) {
            report += "the file's length became " + std::to_string(size.QuadPart) + "\n";
        }
        mapping = ::CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, 512 << 10, nullptr);
        auto* view = mapping ? static_cast<char*>(::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0))
                             : nullptr;
        if (!view) {
            report += "a mapping that fits failed\n";
            return 1;
        }
        std::memset(view + 3, 'w', (512 << 10) - 3);
        ::UnmapViewOfFile(view);
        ::CloseHandle(mapping);
        ::CloseHandle(file);
        const std::string bytes = ReadAllBytes(path);
        if (bytes != "abc" + std::string((512 << 10) - 3, 'w')) {
            report += "the mapping that fits does not read back\n";
        }
        return report.empty() ? 0 : 1;
    });
    if (child.status == testsupport::kChildSkipped) {
        GTEST_SKIP() << child.output;
    }
    EXPECT_EQ(0, child.status) << child.output;
}
