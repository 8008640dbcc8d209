// Win32 file semantics: creation dispositions, share modes, reading and writing,
// the file pointer, size, end of file, attributes and deletion, links and FIFOs that
// an open must neither follow nor wait for, and what an open handle names.
#include "testsupport.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using testsupport::TempPath;
using testsupport::WideTempPath;

namespace {

HANDLE Open(const TString& name, DWORD access, DWORD share, DWORD disposition)
{
    return ::CreateFileW(name, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace

TEST(Files, CreationDispositions)
{
    struct Case
    {
        const char* what;
        bool exists;
        DWORD disposition;
        bool succeeds;
        DWORD lastError;
        const char* contentAfter; // null: file must not exist
    };
    const Case cases[] = {
        {"CREATE_NEW on a new name", false, CREATE_NEW, true, ERROR_SUCCESS, ""},
        {"CREATE_NEW on an existing file", true, CREATE_NEW, false, ERROR_FILE_EXISTS, "old"},
        {"CREATE_ALWAYS on a new name", false, CREATE_ALWAYS, true, ERROR_SUCCESS, ""},
        {"CREATE_ALWAYS empties an existing file", true, CREATE_ALWAYS, true, ERROR_ALREADY_EXISTS,
         ""},
        {"OPEN_EXISTING on a missing file", false, OPEN_EXISTING, false, ERROR_FILE_NOT_FOUND,
         nullptr},
        {"OPEN_EXISTING keeps the content", true, OPEN_EXISTING, true, ERROR_SUCCESS, "old"},
        {"OPEN_ALWAYS on a new name", false, OPEN_ALWAYS, true, ERROR_SUCCESS, ""},
        {"OPEN_ALWAYS on an existing file", true, OPEN_ALWAYS, true, ERROR_ALREADY_EXISTS, "old"},
        {"TRUNCATE_EXISTING on a missing file", false, TRUNCATE_EXISTING, false,
         ERROR_FILE_NOT_FOUND, nullptr},
        {"TRUNCATE_EXISTING empties the file", true, TRUNCATE_EXISTING, true, ERROR_SUCCESS, ""},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = TempPath("disposition" + std::to_string(n++));
        if (c.exists) {
            WriteText(path, "old");
        }
        HANDLE file =
            Open(TString::FromAnsi(path.c_str()), GENERIC_READ | GENERIC_WRITE, 0, c.disposition);
        EXPECT_EQ(file != INVALID_HANDLE_VALUE, c.succeeds);
        EXPECT_EQ(::GetLastError(), c.lastError);
        if (file != INVALID_HANDLE_VALUE) {
            ::CloseHandle(file);
        }
        const bool exists =
            ::GetFileAttributesW(TString::FromAnsi(path.c_str())) != INVALID_FILE_ATTRIBUTES;
        EXPECT_EQ(exists, c.contentAfter != nullptr);
        if (c.contentAfter) {
            EXPECT_EQ(ReadText(path), c.contentAfter);
        }
    }
}

TEST(Files, MissingDirectoryIsPathNotFound)
{
    EXPECT_EQ(Open(WideTempPath("no-such-dir/file"), GENERIC_READ, 0, OPEN_EXISTING),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(Open(WideTempPath(""), GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED)); // a directory
}

TEST(Files, ShareModesBetweenHandles)
{
    const TString name = WideTempPath("shared");
    WriteText(TempPath("shared"), "x");
    struct Case
    {
        const char* what;
        DWORD firstAccess, firstShare, secondAccess, secondShare;
        bool secondOpens;
    };
    const Case cases[] = {
        {"exclusive reader blocks a reader", GENERIC_READ, 0, GENERIC_READ, FILE_SHARE_READ, false},
        {"two sharing readers", GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, true},
        {"reader sharing read blocks a writer", GENERIC_READ, FILE_SHARE_READ, GENERIC_WRITE,
         FILE_SHARE_READ, false},
        {"second must share what the first does", GENERIC_WRITE, FILE_SHARE_READ, GENERIC_READ, 0,
         false},
        {"writer sharing read and write admits a writer", GENERIC_WRITE,
         FILE_SHARE_READ | FILE_SHARE_WRITE, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
         true},
        {"executing reads: blocked without FILE_SHARE_READ", GENERIC_WRITE, FILE_SHARE_WRITE,
         GENERIC_EXECUTE, FILE_SHARE_READ | FILE_SHARE_WRITE, false},
        // A handle without data access (attributes only) takes no part in sharing.
        {"attributes-only handle next to an exclusive one", GENERIC_READ | GENERIC_WRITE, 0, 0, 0,
         true},
        {"exclusive handle next to an attributes-only one", 0, 0, GENERIC_READ | GENERIC_WRITE, 0,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HANDLE first = Open(name, c.firstAccess, c.firstShare, OPEN_EXISTING);
        ASSERT_NE(first, INVALID_HANDLE_VALUE);
        HANDLE second = Open(name, c.secondAccess, c.secondShare, OPEN_EXISTING);
        EXPECT_EQ(second != INVALID_HANDLE_VALUE, c.secondOpens);
        if (second == INVALID_HANDLE_VALUE) {
            EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        } else {
            ::CloseHandle(second);
        }
        ::CloseHandle(first);
    }
    // After the handles are closed the file opens exclusively again.
    HANDLE again = Open(name, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    // Deleting a file open without FILE_SHARE_DELETE is a sharing violation.
    EXPECT_FALSE(::DeleteFileW(name));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    ::CloseHandle(again);
    EXPECT_TRUE(::DeleteFileW(name));
}

TEST(Files, ReadWriteAndFilePointer)
{
    const TString name = WideTempPath("rw");
    HANDLE file = Open(name, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    ASSERT_TRUE(::WriteFile(file, "hello world", 11, &done, nullptr));
    EXPECT_EQ(done, 11u);
    EXPECT_EQ(::SetFilePointer(file, 0, nullptr, FILE_CURRENT), 11u);
    EXPECT_EQ(::SetFilePointer(file, 6, nullptr, FILE_BEGIN), 6u);
    char buffer[32] = {};
    ASSERT_TRUE(::ReadFile(file, buffer, sizeof buffer, &done, nullptr));
    EXPECT_EQ(done, 5u);
    EXPECT_EQ(std::string(buffer, done), "world");
    // At the end a read succeeds with zero bytes.
    ASSERT_TRUE(::ReadFile(file, buffer, sizeof buffer, &done, nullptr));
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(::SetFilePointer(file, -5, nullptr, FILE_END), 6u);
    EXPECT_EQ(::SetFilePointer(file, -100, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
    // Ending the file at the pointer cuts it.
    ::SetFilePointer(file, 5, nullptr, FILE_BEGIN);
    ASSERT_TRUE(::SetEndOfFile(file));
    DWORD high = 99;
    EXPECT_EQ(::GetFileSize(file, &high), 5u);
    EXPECT_EQ(high, 0u);
    EXPECT_TRUE(::FlushFileBuffers(file));
    ::CloseHandle(file);
    EXPECT_EQ(ReadText(TempPath("rw")), "hello");
}

TEST(Files, LargePositionsUseTheHighPart)
{
    HANDLE file = Open(WideTempPath("sparse"), GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    LONG high = 1; // 4 GiB + 16
    EXPECT_EQ(::SetFilePointer(file, 16, &high, FILE_BEGIN), 16u);
    EXPECT_EQ(high, 1);
    ASSERT_TRUE(::SetEndOfFile(file));
    DWORD sizeHigh = 0;
    EXPECT_EQ(::GetFileSize(file, &sizeHigh), 16u);
    EXPECT_EQ(sizeHigh, 1u);
    // Without a high part the position must fit 32 bits.
    EXPECT_EQ(::SetFilePointer(file, 0, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    ::CloseHandle(file);
}

TEST(Files, AFailedMoveLeavesThePointerWhereItWas)
{
    HANDLE file = Open(WideTempPath("pointer"), GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const std::string fifty(50, 'x');
    DWORD done = 0;
    ASSERT_TRUE(::WriteFile(file, fifty.data(), 50, &done, nullptr));
    LARGE_INTEGER zero{}, position{};
    struct Case
    {
        const char* what;
        LONGLONG distance;
        DWORD method;
        DWORD error;
    };
    const Case cases[] = {
        {"before the start, from the end", -100, FILE_END, ERROR_NEGATIVE_SEEK},
        {"before the start, from here", -11, FILE_CURRENT, ERROR_NEGATIVE_SEEK},
        {"an unknown method", 5, 7, ERROR_INVALID_PARAMETER},
        {"beyond the 64-bit range", 0x7FFFFFFFFFFFFFFFLL, FILE_END, ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(::SetFilePointer(file, 10, nullptr, FILE_BEGIN), 10u);
        LARGE_INTEGER distance;
        distance.QuadPart = c.distance;
        EXPECT_FALSE(::SetFilePointerEx(file, distance, &position, c.method));
        EXPECT_EQ(::GetLastError(), c.error);
        ASSERT_TRUE(::SetFilePointerEx(file, zero, &position, FILE_CURRENT));
        EXPECT_EQ(position.QuadPart, 10);
        if (c.distance >= INT32_MIN && c.distance <= INT32_MAX) {
            EXPECT_EQ(::SetFilePointer(file, static_cast<LONG>(c.distance), nullptr, c.method),
                      INVALID_SET_FILE_POINTER);
            EXPECT_EQ(::GetLastError(), c.error);
            EXPECT_EQ(::SetFilePointer(file, 0, nullptr, FILE_CURRENT), 10u);
        }
    }
    ::CloseHandle(file);
}

TEST(Files, WithoutAHighPartEveryThirtyTwoBitPositionIsReachable)
{
    HANDLE file = Open(WideTempPath("edge"), GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(::SetFilePointer(file, 0x7FFFFFFF, nullptr, FILE_BEGIN), 0x7FFFFFFFu);
    EXPECT_EQ(::SetFilePointer(file, 0x7FFFFFFF, nullptr, FILE_CURRENT), 0xFFFFFFFEu);
    // 0xFFFFFFFF is a position as well as INVALID_SET_FILE_POINTER: the last error
    // says which.
    ::SetLastError(ERROR_GEN_FAILURE);
    EXPECT_EQ(::SetFilePointer(file, 1, nullptr, FILE_CURRENT), 0xFFFFFFFFu);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    // One more does not fit 32 bits: refused, and the pointer stays.
    EXPECT_EQ(::SetFilePointer(file, 1, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    LONG high = 0;
    EXPECT_EQ(::SetFilePointer(file, 0, &high, FILE_CURRENT), 0xFFFFFFFFu);
    EXPECT_EQ(high, 0);
    ::CloseHandle(file);
}

TEST(Files, ReadOnlyFilesRefuseWritingAndDeletion)
{
    // The read-only attribute binds every user, the superuser included.
    const TString name = WideTempPath("readonly");
    HANDLE creator = ::CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_READONLY, nullptr);
    ASSERT_NE(creator, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    EXPECT_TRUE(::WriteFile(creator, "keep", 4, &done, nullptr)); // the creating handle writes
    ::CloseHandle(creator);
    EXPECT_TRUE(::GetFileAttributesW(name) & FILE_ATTRIBUTE_READONLY);

    struct Case
    {
        const char* what;
        DWORD access;
        DWORD disposition;
    };
    const Case refused[] = {
        {"open for writing", GENERIC_WRITE, OPEN_EXISTING},
        {"open for reading and writing", GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS},
        {"emptying with CREATE_ALWAYS", GENERIC_READ, CREATE_ALWAYS},
        {"emptying with TRUNCATE_EXISTING", GENERIC_WRITE, TRUNCATE_EXISTING},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Open(name, c.access, FILE_SHARE_READ, c.disposition), INVALID_HANDLE_VALUE);
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    HANDLE reader = Open(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE);
    ::CloseHandle(reader);

    EXPECT_FALSE(::DeleteFileW(name));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(ReadText(TempPath("readonly")), "keep");
    ASSERT_EQ(::chmod(TempPath("readonly").c_str(), 0644), 0); // the attribute taken away
    EXPECT_TRUE(::DeleteFileW(name));
}

TEST(Files, AccessIsChecked)
{
    const TString name = WideTempPath("readonly-handle");
    WriteText(TempPath("readonly-handle"), "abc");
    HANDLE reader = Open(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    DWORD done = 0;
    EXPECT_FALSE(::WriteFile(reader, "x", 1, &done, nullptr));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(::SetEndOfFile(reader));
    ::CloseHandle(reader);
    HANDLE writer = Open(name, GENERIC_WRITE, 0, OPEN_EXISTING);
    char byte;
    EXPECT_FALSE(::ReadFile(writer, &byte, 1, &done, nullptr));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    ::CloseHandle(writer);
    EXPECT_FALSE(::ReadFile(writer, &byte, 1, &done, nullptr));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Files, AttributesAndDeletion)
{
    WriteText(TempPath("plain.txt"), "x");
    WriteText(TempPath(".hidden"), "x");
    WriteText(TempPath("back\\slash"), "x"); // an ordinary character in a name here
    EXPECT_EQ(::GetFileAttributesW(WideTempPath("plain.txt")), FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(::GetFileAttributesW(WideTempPath(".hidden")) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(::GetFileAttributesW(WideTempPath("")) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(::GetFileAttributesW(WideTempPath("back\\slash")), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(::GetFileAttributesW(WideTempPath("missing")), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    EXPECT_TRUE(::DeleteFileW(WideTempPath("plain.txt")));
    EXPECT_FALSE(::DeleteFileW(WideTempPath("plain.txt")));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(::DeleteFileW(WideTempPath("")));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(Files, NonAsciiNamesTravelAsUtf8)
{
    const TString name = WideTempPath("") + TEXT("gr\u00FC\u00DFe-\u65E5\u672C.txt");
    HANDLE file = Open(name, GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ::CloseHandle(file);
    EXPECT_TRUE(std::ifstream(TempPath("gr\xC3\xBC\xC3\x9F"
                                       "e-\xE6\x97\xA5\xE6\x9C\xAC.txt"))
                    .good());
    EXPECT_NE(::GetFileAttributesW(name), INVALID_FILE_ATTRIBUTES);
}

// Opening a FIFO returns at once: for reading whether or not a writer is there, for
// writing with ERROR_PIPE_NOT_CONNECTED when nobody reads it. Once open, reading
// waits for data again as it should.
TEST(Files, OpeningAFifoNeverWaits)
{
    const std::string fifo = TempPath("fifo");
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    struct Case
    {
        const char* what;
        DWORD access;
        DWORD disposition;
        bool reader; // a reader holds the FIFO open while it is opened
        DWORD error; // ERROR_SUCCESS: the open succeeds
    };
    const Case cases[] = {
        {"read, no writer", GENERIC_READ, OPEN_EXISTING, false, ERROR_SUCCESS},
        {"read, open always", GENERIC_READ, OPEN_ALWAYS, false, ERROR_SUCCESS},
        {"write, no reader", GENERIC_WRITE, OPEN_EXISTING, false, ERROR_PIPE_NOT_CONNECTED},
        {"write, create always, no reader", GENERIC_WRITE, CREATE_ALWAYS, false,
         ERROR_PIPE_NOT_CONNECTED},
        {"write with a reader", GENERIC_WRITE, OPEN_EXISTING, true, ERROR_SUCCESS},
        {"read and write", GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING, false, ERROR_SUCCESS},
    };
    for (const Case& c : cases) {
        const int status = testsupport::StatusOfForkedChild([&] {
            const int reader = c.reader ? ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK) : -1;
            HANDLE file = ::CreateFileW(WideTempPath("fifo"), c.access, 0, nullptr, c.disposition,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
            const DWORD error = file == INVALID_HANDLE_VALUE ? ::GetLastError() : ERROR_SUCCESS;
            if (file != INVALID_HANDLE_VALUE && ::GetFileType(file) != FILE_TYPE_PIPE) {
                return 3;
            }
            if (reader >= 0) {
                ::close(reader);
            }
            return error == c.error ? 0 : 2;
        });
        EXPECT_EQ(0, status) << c.what << (status == -1 ? ": the open waited" : "");
    }

    const int status = testsupport::StatusOfForkedChild([&] {
        HANDLE file = ::CreateFileW(WideTempPath("fifo"), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return 2;
        }
        const int writer = ::open(fifo.c_str(), O_WRONLY);
        std::thread late([writer] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            (void)!::write(writer, "data", 4);
            ::close(writer);
        });
        char buffer[8] = {};
        DWORD got = 0;
        const BOOL read = ::ReadFile(file, buffer, sizeof buffer, &got, nullptr);
        late.join();
        return read && got == 4 && std::string(buffer, 4) == "data" ? 0 : 3;
    });
    EXPECT_EQ(0, status) << "a read on the open FIFO does not wait for its data";
}

// FILE_FLAG_OPEN_REPARSE_POINT: a symbolic link in the last component is not
// followed. Opening it is refused with ERROR_CANT_ACCESS_FILE for every disposition,
// so that its target is neither read, written, emptied nor created; CREATE_NEW
// finds the name taken. Without the flag a link is followed as before.
TEST(Files, OpenReparsePointDoesNotFollowLinks)
{
    WriteText(TempPath("target.txt"), "keep me");
    ASSERT_EQ(0, ::symlink(TempPath("target.txt").c_str(), TempPath("link").c_str()));
    ASSERT_EQ(0, ::symlink(TempPath("absent.txt").c_str(), TempPath("dangling").c_str()));
    struct Case
    {
        const char* name;
        DWORD access;
        DWORD disposition;
        DWORD error;
    };
    const Case cases[] = {
        {"link", GENERIC_READ, OPEN_EXISTING, ERROR_CANT_ACCESS_FILE},
        {"link", GENERIC_WRITE, OPEN_EXISTING, ERROR_CANT_ACCESS_FILE},
        {"link", GENERIC_WRITE, OPEN_ALWAYS, ERROR_CANT_ACCESS_FILE},
        {"link", GENERIC_WRITE, CREATE_ALWAYS, ERROR_CANT_ACCESS_FILE},
        {"link", GENERIC_WRITE, TRUNCATE_EXISTING, ERROR_CANT_ACCESS_FILE},
        {"link", GENERIC_WRITE, CREATE_NEW, ERROR_FILE_EXISTS},
        {"dangling", GENERIC_WRITE, OPEN_ALWAYS, ERROR_CANT_ACCESS_FILE},
        {"dangling", GENERIC_WRITE, CREATE_ALWAYS, ERROR_CANT_ACCESS_FILE},
        {"dangling", GENERIC_READ, OPEN_EXISTING, ERROR_CANT_ACCESS_FILE},
    };
    for (const Case& c : cases) {
        HANDLE file = ::CreateFileW(WideTempPath(c.name), c.access, 0, nullptr, c.disposition,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        EXPECT_EQ(file, INVALID_HANDLE_VALUE) << c.name << " " << c.disposition;
        EXPECT_EQ(::GetLastError(), c.error) << c.name << " " << c.disposition;
        if (file != INVALID_HANDLE_VALUE) {
            ::CloseHandle(file);
        }
        EXPECT_EQ(ReadText(TempPath("target.txt")), "keep me");
        struct stat info;
        EXPECT_NE(0, ::stat(TempPath("absent.txt").c_str(), &info)) << "the target was created";
    }
    // A regular file opens with the flag as without it.
    HANDLE plain = ::CreateFileW(WideTempPath("target.txt"), GENERIC_READ, 0, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    EXPECT_NE(plain, INVALID_HANDLE_VALUE);
    ::CloseHandle(plain);
    // Without the flag the link leads to its target.
    HANDLE followed = Open(WideTempPath("link"), GENERIC_READ, 0, OPEN_EXISTING);
    ASSERT_NE(followed, INVALID_HANDLE_VALUE);
    char buffer[16] = {};
    DWORD got = 0;
    EXPECT_TRUE(::ReadFile(followed, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(std::string(buffer, got), "keep me");
    ::CloseHandle(followed);
}

// What an open handle names: its type, its identity (two names of one file give
// the same volume and index), its link count and size, and whether the user owns it.
TEST(Files, TypeIdentityAndOwnerOfAnOpenFile)
{
    WriteText(TempPath("one.txt"), "12345");
    WriteText(TempPath("other.txt"), "x");
    ASSERT_EQ(0, ::link(TempPath("one.txt").c_str(), TempPath("second-name.txt").c_str()));
    HANDLE one = Open(WideTempPath("one.txt"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    HANDLE again =
        Open(WideTempPath("second-name.txt"), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    HANDLE other = Open(WideTempPath("other.txt"), GENERIC_READ, 0, OPEN_EXISTING);
    HANDLE null = Open(TEXT("/dev/null"), GENERIC_WRITE, FILE_SHARE_WRITE, OPEN_EXISTING);
    ASSERT_NE(one, INVALID_HANDLE_VALUE);
    ASSERT_NE(again, INVALID_HANDLE_VALUE);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    ASSERT_NE(null, INVALID_HANDLE_VALUE);

    EXPECT_EQ(::GetFileType(one), FILE_TYPE_DISK);
    EXPECT_EQ(::GetFileType(null), FILE_TYPE_CHAR);
    EXPECT_EQ(::GetFileType(INVALID_HANDLE_VALUE), FILE_TYPE_UNKNOWN);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    BY_HANDLE_FILE_INFORMATION a{}, b{}, c{};
    ASSERT_TRUE(::GetFileInformationByHandle(one, &a));
    ASSERT_TRUE(::GetFileInformationByHandle(again, &b));
    ASSERT_TRUE(::GetFileInformationByHandle(other, &c));
    EXPECT_EQ(a.dwVolumeSerialNumber, b.dwVolumeSerialNumber);
    EXPECT_EQ(a.nFileIndexHigh, b.nFileIndexHigh);
    EXPECT_EQ(a.nFileIndexLow, b.nFileIndexLow);
    EXPECT_FALSE(a.nFileIndexLow == c.nFileIndexLow && a.nFileIndexHigh == c.nFileIndexHigh);
    EXPECT_EQ(a.nNumberOfLinks, 2u);
    EXPECT_EQ(c.nNumberOfLinks, 1u);
    EXPECT_EQ(a.nFileSizeLow, 5u);
    EXPECT_EQ(a.nFileSizeHigh, 0u);
    EXPECT_EQ(a.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
    EXPECT_FALSE(::GetFileInformationByHandle(one, nullptr));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(::GetFileInformationByHandle(INVALID_HANDLE_VALUE, &a));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    EXPECT_TRUE(ZanthIsOwnFile(one));
    EXPECT_FALSE(ZanthIsOwnFile(INVALID_HANDLE_VALUE));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    if (::geteuid() == 0) {
        // The superuser owns /dev/null; a file given to another user stands in.
        ASSERT_EQ(0, ::chown(TempPath("other.txt").c_str(), 65534, 65534));
        EXPECT_FALSE(ZanthIsOwnFile(other));
    } else {
        EXPECT_FALSE(ZanthIsOwnFile(null));
    }
    for (HANDLE h : {one, again, other, null}) {
        ::CloseHandle(h);
    }
}

// A closed standard stream stays closed: a file opened meanwhile does not take its
// place, or what the program writes to standard output would land in that file.
TEST(Files, AFileNeverTakesThePlaceOfAClosedStandardStream)
{
    const int status = testsupport::StatusOfForkedChild([] {
        ::close(STDIN_FILENO);
        ::close(STDOUT_FILENO);
        HANDLE file = Open(WideTempPath("after-close.txt"), GENERIC_WRITE, 0, CREATE_ALWAYS);
        if (file == INVALID_HANDLE_VALUE) {
            return 2;
        }
        const bool closed =
            ::fcntl(STDIN_FILENO, F_GETFD) == -1 && ::fcntl(STDOUT_FILENO, F_GETFD) == -1;
        DWORD written = 0;
        const BOOL wrote = ::WriteFile(file, "x", 1, &written, nullptr);
        ::CloseHandle(file);
        return closed && wrote && written == 1 ? 0 : 3;
    });
    EXPECT_EQ(0, status);
    EXPECT_EQ(ReadText(TempPath("after-close.txt")), "x");
}

// A Linux file name is bytes and need not be UTF-8. Each byte outside well-formed
// UTF-8 travels in the UTF-16 name as U+DC80-U+DCFF, so that every such file can
// be reached and two different names never reach one file (replacing the bytes
// by U+FFFD made "f\xFF", "f\xFE" and "f" U+FFFD all one name).
TEST(Files, NamesThatAreNotUtf8ReachExactlyTheirOwnFile)
{
    struct Case
    {
        const char* bytes;
        std::basic_string<WCHAR> name;
    };
    const Case cases[] = {
        {"f\xFF", TEXT("f\xDCFF")},
        {"f\xFE", TEXT("f\xDCFE")},
        {"f\xEF\xBF\xBD", TEXT("f\uFFFD")}, // a real U+FFFD is a name of its own
        {"f", TEXT("f")},
        {"cut\xE2\x82-", TEXT("cut\xDCE2\xDC82-")}, // each byte of a cut sequence
        {"lead\xC3"
         "A",
         TEXT("lead\xDCC3") TEXT("A")},                     // a lead byte without its tail
        {"overlong\xC0\xAF", TEXT("overlong\xDCC0\xDCAF")}, // never read as '/'
        {"surrogate\xED\xA0\x80", TEXT("surrogate\xDCED\xDCA0\xDC80")},
        {"gr\xC3\xBC\xC3\x9F"
         "e\xFF",
         TEXT("gr\u00FC\u00DF") TEXT("e\xDCFF")},
    };
    const TString directory = WideTempPath("");
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        // The conversion the file functions use, both ways.
        WCHAR wide[64];
        ASSERT_EQ(ZanthFileNameFromBytes(c.bytes, wide, 64), c.name.size());
        EXPECT_EQ(std::basic_string<WCHAR>(wide), c.name);
        char bytes[64];
        ASSERT_EQ(ZanthFileNameToBytes(c.name.c_str(), bytes, 64), std::strlen(c.bytes));
        EXPECT_STREQ(bytes, c.bytes);

        // CREATE_NEW fails if an earlier name reached the same file.
        const TString name = directory + c.name.c_str();
        HANDLE file = Open(name, GENERIC_WRITE, 0, CREATE_NEW);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << ::GetLastError();
        const std::string content = "file " + std::to_string(n++);
        DWORD done = 0;
        EXPECT_TRUE(
            ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &done, nullptr));
        ::CloseHandle(file);
        EXPECT_EQ(ReadText(TempPath(c.bytes)), content); // on disk under exactly its bytes
    }
    n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        const TString name = directory + c.name.c_str();
        EXPECT_EQ(::GetFileAttributesW(name), FILE_ATTRIBUTE_NORMAL);
        HANDLE file = Open(name, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        char buffer[32] = {};
        DWORD done = 0;
        EXPECT_TRUE(::ReadFile(file, buffer, sizeof buffer, &done, nullptr));
        EXPECT_EQ(std::string(buffer, done), "file " + std::to_string(n++));
        ::CloseHandle(file);
        EXPECT_TRUE(::DeleteFileW(name));
        EXPECT_FALSE(std::ifstream(TempPath(c.bytes)).good());
    }
}

// A UTF-16 name that no byte string reads back as cannot name a file: it is
// refused rather than stored under a look-alike.
TEST(Files, NamesThatCannotBeEncodedExactlyAreRefused)
{
    const std::basic_string<WCHAR> names[] = {
        TEXT("high\xD800"),           // a lone high surrogate
        TEXT("high\xDBFF") TEXT("x"), // followed by no low one
        TEXT("low\xDE00"),            // a lone low surrogate outside the byte escapes
        TEXT("ascii\xDC41"),          // an escape of an ASCII byte would read back as 'A'
        TEXT("pair\xDCC3\xDCA4"),     // these escaped bytes would read back as U+00E4
        TEXT("four\xDCF0\xDC9F\xDC98\xDC80"),
    };
    WriteText(TempPath("high\xEF\xBF\xBD"), "a look-alike");
    for (const std::basic_string<WCHAR>& rest : names) {
        const TString name = WideTempPath("") + rest.c_str();
        SCOPED_TRACE(name.AsAnsi());
        ::SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(Open(name, GENERIC_WRITE, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
        EXPECT_EQ(::GetFileAttributesW(name), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
        EXPECT_FALSE(::DeleteFileW(name));
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
        char bytes[64];
        EXPECT_EQ(ZanthFileNameToBytes(rest.c_str(), bytes, 64), 0u);
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
    }
    EXPECT_EQ(ReadText(TempPath("high\xEF\xBF\xBD")), "a look-alike");
}
