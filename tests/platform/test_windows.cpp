// GetVersionExW (the system's answer and the test override) and, under an X server
// the test starts, the top-level window calls.
#include "testsupport.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

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
    std::memcpy(fake.szCSDVersion, u" A ", 4 * sizeof(WCHAR));
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

} // namespace
