// GetVersionExW (the system's answer and the test override) and, under an X server
// the test starts, the top-level window calls.
#include "testsupport.h"
#include "xserver.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

std::string Utf8(const WCHAR* text)
{
    return TString(text).AsAnsi();
}

TEST(Version, LinuxReportsTheNtFamilyWithTheKernelRelease)
{
    OSVERSIONINFOW info;
    std::memset(&info, 0xAB, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(::GetVersionExW(&info));
    EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));

    std::string release;
    std::ifstream("/proc/sys/kernel/osrelease") >> release;
    unsigned major = 0, minor = 0, build = 0;
    ASSERT_GE(std::sscanf(release.c_str(), "%u.%u.%u", &major, &minor, &build), 2) << release;
    EXPECT_EQ(info.dwMajorVersion, major);
    EXPECT_EQ(info.dwMinorVersion, minor);
    EXPECT_EQ(info.dwBuildNumber, build);
    const std::string name = Utf8(info.szCSDVersion);
    EXPECT_FALSE(name.empty());
    EXPECT_LT(std::char_traits<WCHAR>::length(info.szCSDVersion), 128u);

    std::ifstream osRelease("/etc/os-release");
    for (std::string line; std::getline(osRelease, line);) {
        if (line.rfind("PRETTY_NAME=", 0) == 0) {
            EXPECT_NE(line.find(name), std::string::npos) << line;
        }
    }
}

TEST(Version, WrongRecordSizeIsRefusedAndTheRecordKept)
{
    for (DWORD size : {0u, 275u, 277u, 284u}) {
        SCOPED_TRACE(size);
        OSVERSIONINFOW info;
        std::memset(&info, 0, sizeof info);
        info.dwOSVersionInfoSize = size;
        info.dwMajorVersion = 77;
        EXPECT_FALSE(::GetVersionExW(&info));
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_EQ(info.dwMajorVersion, 77u);
    }
    EXPECT_FALSE(::GetVersionExW(nullptr));
}

TEST(Version, TheOverrideReplacesAndRestoresTheAnswer)
{
    OSVERSIONINFOW fake{};
    fake.dwOSVersionInfoSize = sizeof fake;
    fake.dwMajorVersion = 4;
    fake.dwMinorVersion = 10;
    fake.dwBuildNumber = 2222;
    fake.dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
    std::memcpy(fake.szCSDVersion, TEXT(" A "), 4 * sizeof(WCHAR));
    ::ZanthSetReportedVersion(&fake);
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(::GetVersionExW(&info));
    EXPECT_EQ(std::memcmp(&info, &fake, sizeof info), 0);

    OSVERSIONINFOW failing{};
    ::ZanthSetReportedVersion(&failing);
    info.dwMajorVersion = 99;
    EXPECT_FALSE(::GetVersionExW(&info));
    EXPECT_EQ(info.dwMajorVersion, 99u);

    ::ZanthSetReportedVersion(nullptr);
    ASSERT_TRUE(::GetVersionExW(&info));
    EXPECT_EQ(info.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
}

std::vector<HWND> TopLevelWindows()
{
    std::vector<HWND> windows;
    EXPECT_TRUE(::EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(parameter)->push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows)));
    return windows;
}

std::string TitleOf(HWND window, int size = 1024)
{
    std::vector<WCHAR> buffer(size);
    const int length = ::GetWindowTextW(window, buffer.data(), size);
    EXPECT_EQ(length, static_cast<int>(std::char_traits<WCHAR>::length(buffer.data())));
    return Utf8(buffer.data());
}

TEST(Windows, NoDisplayMeansNoWindows)
{
    testsupport::NoDisplay noDisplay;
    EXPECT_TRUE(TopLevelWindows().empty());
    WCHAR buffer[8] = {TEXT('x')};
    EXPECT_EQ(::GetWindowTextW(reinterpret_cast<HWND>(0x1234), buffer, 8), 0);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_FALSE(::EnumWindows(nullptr, 0));
    // The foreground window stays within the process.
    HWND window = reinterpret_cast<HWND>(0x4321);
    EXPECT_TRUE(::SetForegroundWindow(window));
    EXPECT_EQ(::GetForegroundWindow(), window);
}

TEST(Windows, ListsTheServersWindowsWithTheirTitles)
{
    testsupport::XServer server;
    if (!server.Ready()) {
        GTEST_SKIP() << server.Reason();
    }
    testsupport::XWindow viewer("Scan Viewer \xE2\x80\x93 page 1"); // an en dash
    testsupport::XWindow plain("", "Caf\xE9 plain");                // WM_NAME only, Latin-1
    ASSERT_TRUE(viewer.Made());
    ASSERT_TRUE(plain.Made());
    const std::vector<HWND> windows = TopLevelWindows();
    EXPECT_NE(std::find(windows.begin(), windows.end(), viewer.Handle()), windows.end());
    EXPECT_NE(std::find(windows.begin(), windows.end(), plain.Handle()), windows.end());
    EXPECT_EQ(TitleOf(viewer.Handle()), "Scan Viewer \xE2\x80\x93 page 1");
    EXPECT_EQ(TitleOf(plain.Handle()), "Caf\xC3\xA9 plain");
    EXPECT_EQ(TitleOf(viewer.Handle(), 5), "Scan") << "cut to the buffer with its terminator";

    // A stopped enumeration reports FALSE after the window that stopped it.
    int seen = 0;
    EXPECT_FALSE(::EnumWindows(
        [](HWND, LPARAM parameter) -> BOOL {
            ++*reinterpret_cast<int*>(parameter);
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&seen)));
    EXPECT_EQ(seen, 1);
    // A window that does not exist has no title, and asking does not end the process.
    EXPECT_EQ(TitleOf(reinterpret_cast<HWND>(0x7fffff0)), "");
}

} // namespace
