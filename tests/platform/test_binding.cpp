// A program that defines platform functions of its own (Sleep, ReadFile,
// WaitForSingleObject, GetFileSizeEx) keeps them for its own calls, while the
// libraries' calls still reach the platform library: the platform's own calls
// (GetFileSize uses GetFileSizeEx) and those of corewu (TFile::Read uses ReadFile,
// ZCEvent::Wait uses WaitForSingleObject).
//
// This program links only corewu, gtest and gtest_main: the test support library
// would call WaitForSingleObject itself and so reach the definitions below.
#include <corewu/corewu.h>
#include <zanth/win32/windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

// Calls that reached this program's definitions.
std::atomic<int> g_Sleeps{0};
std::atomic<int> g_Reads{0};
std::atomic<int> g_Waits{0};
std::atomic<int> g_Sizes{0};

void ResetCounts()
{
    g_Sleeps = 0;
    g_Reads = 0;
    g_Waits = 0;
    g_Sizes = 0;
}

// A file of known content in the test's temporary directory.
class ScratchFile
{
public:
    explicit ScratchFile(const std::string& content)
    {
        const char* dir = std::getenv("TMPDIR");
        m_Path = std::string(dir && *dir ? dir : "/tmp") + "/binding-" +
                 std::to_string(::getpid()) + ".txt";
        std::ofstream(m_Path, std::ios::binary) << content;
    }
    ~ScratchFile() { std::remove(m_Path.c_str()); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    TString Name() const { return TString(std::basic_string<WCHAR>(m_Path.begin(), m_Path.end())); }
    std::basic_string<WCHAR> Wide() const
    {
        return std::basic_string<WCHAR>(m_Path.begin(), m_Path.end());
    }

private:
    std::string m_Path;
};

} // namespace

// This program's own versions: each records the call and fails, as a stand-in that
// does nothing useful would.
extern "C" {

void WINAPI Sleep(DWORD)
{
    ++g_Sleeps;
}

BOOL WINAPI ReadFile(HANDLE, LPVOID, DWORD, LPDWORD bytesRead, LPOVERLAPPED)
{
    ++g_Reads;
    if (bytesRead) {
        *bytesRead = 0;
    }
    return FALSE;
}

DWORD WINAPI WaitForSingleObject(HANDLE, DWORD)
{
    ++g_Waits;
    return WAIT_FAILED;
}

BOOL WINAPI GetFileSizeEx(HANDLE, PLARGE_INTEGER)
{
    ++g_Sizes;
    return FALSE;
}

} // extern "C"

TEST(Binding, ProgramCallsReachItsOwnDefinitions)
{
    ResetCounts();
    ::Sleep(1);
    DWORD read = 1;
    char byte;
    EXPECT_FALSE(::ReadFile(INVALID_HANDLE_VALUE, &byte, 1, &read, nullptr));
    EXPECT_EQ(::WaitForSingleObject(INVALID_HANDLE_VALUE, 0), WAIT_FAILED);
    EXPECT_EQ(g_Sleeps, 1);
    EXPECT_EQ(g_Reads, 1);
    EXPECT_EQ(g_Waits, 1);
}

TEST(Binding, PlatformKeepsItsOwnCalls)
{
    ScratchFile file("twelve bytes");
    HANDLE handle =
        ::CreateFileW(reinterpret_cast<LPCWSTR>(file.Wide().c_str()), GENERIC_READ, FILE_SHARE_READ,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    ResetCounts();
    DWORD high = 1;
    EXPECT_EQ(::GetFileSize(handle, &high), 12u);
    EXPECT_EQ(high, 0u);
    EXPECT_EQ(g_Sizes, 0);
    ::CloseHandle(handle);
}

TEST(Binding, CorewuCallsReachThePlatform)
{
    ScratchFile file("from the file");
    ResetCounts();
    TFile reader;
    reader.Open(file.Name(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    char buffer[32] = {};
    EXPECT_EQ(reader.Read(buffer, sizeof buffer), 13u);
    EXPECT_STREQ(buffer, "from the file");
    reader.Close();

    ZANTH::ZCEvent event(1, 1, nullptr);
    EXPECT_TRUE(event.Wait(0));
    EXPECT_TRUE(event.IsSet());

    EXPECT_EQ(g_Reads, 0);
    EXPECT_EQ(g_Waits, 0);
    EXPECT_EQ(g_Sleeps, 0);
}

// The library's functions carry the version of its interface; the unversioned
// names a program defines are not them.
TEST(Binding, LibraryFunctionsAreVersioned)
{
    void* platformSleep = ::dlvsym(RTLD_DEFAULT, "Sleep", "ZANTH_PLATFORM_1");
    ASSERT_NE(platformSleep, nullptr);
    EXPECT_NE(platformSleep, reinterpret_cast<void*>(&::Sleep));
    ResetCounts();
    reinterpret_cast<void(WINAPI*)(DWORD)>(platformSleep)(0);
    EXPECT_EQ(g_Sleeps, 0);
    EXPECT_EQ(::dlvsym(RTLD_DEFAULT, "zanth_platform_ReadFile", "ZANTH_PLATFORM_1"),
              ::dlvsym(RTLD_DEFAULT, "ReadFile", "ZANTH_PLATFORM_1"));
}
