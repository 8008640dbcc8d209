// Process and system information, text conversion, system error texts, clocks,
// message boxes and the foreground window.
#include "testsupport.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

TEST(System, ProcessIdAndComputerName)
{
    EXPECT_EQ(::GetCurrentProcessId(), static_cast<DWORD>(::getpid()));
    WCHAR name[256];
    DWORD size = 256;
    ASSERT_TRUE(::GetComputerNameW(name, &size));
    EXPECT_GT(size, 0u);
    EXPECT_EQ(name[size], 0);
    // Too small a buffer reports the size needed, terminator included.
    DWORD tiny = 1;
    EXPECT_FALSE(::GetComputerNameW(name, &tiny));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
    EXPECT_EQ(tiny, size + 1);
}

TEST(System, ModuleFileNameIsTheRealPathOfTheSharedObject)
{
    HMODULE tools = nullptr;
    ASSERT_TRUE(::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                     reinterpret_cast<LPCWSTR>(&GetCommonDlgErrorText), &tools));
    WCHAR path[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(tools, path, MAX_PATH);
    ASSERT_GT(n, 0u);
    const std::string text = TString(path).AsAnsi();
    EXPECT_EQ(text.front(), '/');
    EXPECT_NE(text.find("libzanthtools.so"), std::string::npos) << text;
    char resolved[4096];
    ASSERT_NE(::realpath(text.c_str(), resolved), nullptr);
    EXPECT_EQ(text, resolved); // no symbolic link left in it
    // A buffer that is too short is filled, terminated, and its size returned.
    WCHAR shortBuffer[4];
    EXPECT_EQ(::GetModuleFileNameW(tools, shortBuffer, 4), 4u);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(shortBuffer[3], 0);
    // Null names the program.
    EXPECT_GT(::GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    EXPECT_NE(TString(path).AsAnsi().find("platform_test_system"), std::string::npos);
}

TEST(System, TempPathFollowsTmpdirWithATrailingSeparator)
{
    WCHAR path[MAX_PATH];
    const DWORD n = ::GetTempPathW(MAX_PATH, path);
    ASSERT_GT(n, 0u);
    std::string expected = std::getenv("TMPDIR");
    if (expected.back() != '/') {
        expected += '/';
    }
    EXPECT_EQ(TString(path).AsAnsi(), expected);
    EXPECT_EQ(::GetTempPathW(2, path), n + 1); // size needed, terminator included
}

// A temp directory whose name is not UTF-8 is reported so that the files made in
// it land in that very directory, not in one whose name merely looks alike.
TEST(System, TempPathKeepsBytesThatAreNotUtf8)
{
    const std::string saved = std::getenv("TMPDIR");
    const std::string odd = saved + "/tmp\xFF";
    ASSERT_EQ(::mkdir(odd.c_str(), 0700), 0);
    ::setenv("TMPDIR", odd.c_str(), 1);
    WCHAR path[MAX_PATH];
    const DWORD n = ::GetTempPathW(MAX_PATH, path);
    ::setenv("TMPDIR", saved.c_str(), 1);
    ASSERT_GT(n, 0u);
    char bytes[MAX_PATH];
    ASSERT_GT(ZanthFileNameToBytes(path, bytes, MAX_PATH), 0u);
    EXPECT_EQ(std::string(bytes), odd + "/");
    const TString file = TString(path) + TEXT("inside.txt");
    HANDLE handle =
        ::CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    ::CloseHandle(handle);
    EXPECT_EQ(::access((odd + "/inside.txt").c_str(), F_OK), 0);
    EXPECT_TRUE(::DeleteFileW(file));
}

TEST(System, SystemInfo)
{
    SYSTEM_INFO info;
    ::GetSystemInfo(&info);
    EXPECT_EQ(info.dwPageSize, static_cast<DWORD>(::sysconf(_SC_PAGESIZE)));
    EXPECT_EQ(info.dwAllocationGranularity, 0x10000u);
    EXPECT_GE(info.dwNumberOfProcessors, 1u);
    EXPECT_GT(reinterpret_cast<std::uintptr_t>(info.lpMaximumApplicationAddress), 0xFFFFFFFFull);
}

TEST(TextConversion, Utf8AndUtf16RoundTrip)
{
    struct Case
    {
        const char* utf8;
        std::basic_string<WCHAR> utf16;
    };
    const Case cases[] = {
        {"plain", TEXT("plain")},
        {"\xC3\xA4\xC3\xB6\xC3\xBC", TEXT("\u00E4\u00F6\u00FC")},
        {"\xE2\x82\xAC", TEXT("\u20AC")},
        {"\xF0\x9F\x98\x80", TEXT("\U0001F600")}, // a surrogate pair
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8);
        const int length = static_cast<int>(std::strlen(c.utf8));
        WCHAR wide[16];
        const int n = ::MultiByteToWideChar(CP_UTF8, 0, c.utf8, length, wide, 16);
        EXPECT_EQ(std::basic_string<WCHAR>(wide, static_cast<std::size_t>(n)), c.utf16);
        EXPECT_EQ(::MultiByteToWideChar(CP_UTF8, 0, c.utf8, length, nullptr, 0), n);
        char back[16];
        const int m =
            ::WideCharToMultiByte(CP_UTF8, 0, c.utf16.data(), static_cast<int>(c.utf16.size()),
                                  back, 16, nullptr, nullptr);
        EXPECT_EQ(std::string(back, static_cast<std::size_t>(m)), c.utf8);
    }
}

TEST(TextConversion, InvalidInputIsReplacedOrRefused)
{
    const char bad[] = "a\xFF"
                       "b\xC3";
    WCHAR wide[8];
    EXPECT_EQ(::MultiByteToWideChar(CP_UTF8, 0, bad, 4, wide, 8), 4);
    EXPECT_EQ(wide[1], 0xFFFD);
    EXPECT_EQ(wide[3], 0xFFFD);
    EXPECT_EQ(::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bad, 4, wide, 8), 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    const WCHAR lone[] = {TEXT('x'), 0xD800, TEXT('y')};
    char text[16];
    EXPECT_EQ(
        ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, 3, text, 16, nullptr, nullptr),
        0);
    EXPECT_EQ(::MultiByteToWideChar(CP_UTF8, 0, "abc", 3, wide, 2), 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(TextConversion, EachIllFormedSubpartBecomesOneReplacementCharacter)
{
    struct Case
    {
        const char* what;
        std::string utf8;
        std::basic_string<WCHAR> utf16;
    };
    const Case cases[] = {
        {"a cut three-byte sequence",
         "\xE2\x82"
         "A",
         TEXT("\uFFFDA")},
        {"a cut four-byte sequence",
         "\xF0\x9F\x98"
         "x",
         TEXT("\uFFFDx")},
        {"a cut sequence at the end", "x\xE2\x82", TEXT("x\uFFFD")},
        {"a lone continuation byte",
         "\x80"
         "b",
         TEXT("\uFFFDb")},
        {"an overlong slash", "\xC0\xAF", TEXT("\uFFFD\uFFFD")},
        {"an overlong three-byte form", "\xE0\x80\xAF", TEXT("\uFFFD\uFFFD\uFFFD")},
        {"an encoded surrogate", "\xED\xA0\x80", TEXT("\uFFFD\uFFFD\uFFFD")},
        {"above U+10FFFF", "\xF4\x90\x80\x80", TEXT("\uFFFD\uFFFD\uFFFD\uFFFD")},
        {"a byte that never starts a sequence",
         "\xF8"
         "c",
         TEXT("\uFFFDc")},
        {"the largest code point", "\xF4\x8F\xBF\xBF", TEXT("\U0010FFFF")},
        {"the last before the surrogates", "\xED\x9F\xBF", TEXT("\uD7FF")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const int length = static_cast<int>(c.utf8.size());
        WCHAR wide[16];
        const int n = ::MultiByteToWideChar(CP_UTF8, 0, c.utf8.data(), length, wide, 16);
        EXPECT_EQ(std::basic_string<WCHAR>(wide, static_cast<std::size_t>(n > 0 ? n : 0)), c.utf16);
        EXPECT_EQ(::MultiByteToWideChar(CP_UTF8, 0, c.utf8.data(), length, nullptr, 0), n);
    }
}

TEST(TextConversion, AMissingOutputBufferIsAnError)
{
    // A length without a buffer would be written through a null pointer.
    EXPECT_EQ(::MultiByteToWideChar(CP_UTF8, 0, "abc", 3, nullptr, 8), 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(::WideCharToMultiByte(CP_UTF8, 0, TEXT("abc"), 3, nullptr, 8, nullptr, nullptr), 0);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(SystemErrors, FormatMessageGivesTheTextOfACode)
{
    WCHAR text[256];
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, ERROR_FILE_NOT_FOUND, 0, text, 256, nullptr);
    EXPECT_EQ(TString(text, static_cast<LONG>(n)).AsAnsi(),
              "The system cannot find the file specified.\r\n");
    EXPECT_EQ(::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 0xDEAD, 0, text, 256, nullptr),
              0u);
    EXPECT_EQ(ZanthErrorFromErrno(ENOENT), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(ZanthErrorFromErrno(EACCES), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(Clocks, FileTimeAndSystemTimeConvertBothWays)
{
    struct Case
    {
        ULONGLONG ticks;
        SYSTEMTIME time; // year, month, weekday, day, hour, minute, second, ms
    };
    const Case cases[] = {
        {0, {1601, 1, 1, 1, 0, 0, 0, 0}},
        {116444736000000000ull, {1970, 1, 4, 1, 0, 0, 0, 0}},
        {125911584000000000ull, {2000, 1, 6, 1, 0, 0, 0, 0}},
        {126594595055670000ull, {2002, 3, 5, 1, 12, 31, 45, 567}},
        {127225727999990000ull, {2004, 2, 0, 29, 23, 59, 59, 999}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ticks);
        FILETIME file{static_cast<DWORD>(c.ticks), static_cast<DWORD>(c.ticks >> 32)};
        SYSTEMTIME time{};
        ASSERT_TRUE(::FileTimeToSystemTime(&file, &time));
        EXPECT_EQ(time.wYear, c.time.wYear);
        EXPECT_EQ(time.wMonth, c.time.wMonth);
        EXPECT_EQ(time.wDay, c.time.wDay);
        EXPECT_EQ(time.wDayOfWeek, c.time.wDayOfWeek);
        EXPECT_EQ(time.wHour, c.time.wHour);
        EXPECT_EQ(time.wMinute, c.time.wMinute);
        EXPECT_EQ(time.wSecond, c.time.wSecond);
        EXPECT_EQ(time.wMilliseconds, c.time.wMilliseconds);
        FILETIME back{};
        ASSERT_TRUE(::SystemTimeToFileTime(&time, &back));
        EXPECT_EQ((static_cast<ULONGLONG>(back.dwHighDateTime) << 32) | back.dwLowDateTime,
                  c.ticks);
    }
    SYSTEMTIME invalid{2003, 2, 0, 29, 0, 0, 0, 0};
    FILETIME out;
    EXPECT_FALSE(::SystemTimeToFileTime(&invalid, &out));
}

TEST(Clocks, SystemTimeAgreesWithFileTimeAndCounterIsMonotonic)
{
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    SYSTEMTIME fromFile, utc;
    ::FileTimeToSystemTime(&now, &fromFile);
    ::GetSystemTime(&utc);
    EXPECT_EQ(fromFile.wYear, utc.wYear);
    EXPECT_GE(utc.wYear, 2024);
    // A null destination is ignored rather than written through.
    ::GetSystemTimeAsFileTime(nullptr);
    ::GetSystemTime(nullptr);
    ::GetLocalTime(nullptr);
    LARGE_INTEGER frequency, a, b;
    ASSERT_TRUE(::QueryPerformanceFrequency(&frequency));
    EXPECT_GT(frequency.QuadPart, 0);
    ::QueryPerformanceCounter(&a);
    ::Sleep(2);
    ::QueryPerformanceCounter(&b);
    EXPECT_GT(b.QuadPart, a.QuadPart);
}

TEST(MessageBoxes, HandlerAnswersAndDefaultButtonsFollowTheType)
{
    {
        testsupport::MessageBoxScript script(IDNO);
        EXPECT_EQ(::MessageBoxW(nullptr, TEXT("Text"), TEXT("Caption"), MB_YESNO | MB_ICONQUESTION),
                  IDNO);
        ASSERT_EQ(script.Boxes().size(), 1u);
        EXPECT_EQ(script.Boxes()[0].text, "Text");
        EXPECT_EQ(script.Boxes()[0].caption, "Caption");
        EXPECT_EQ(script.Boxes()[0].type, MB_YESNO | MB_ICONQUESTION);
    }
    struct Case
    {
        UINT type;
        int button;
    };
    const Case cases[] = {
        {MB_OK, IDOK},
        {MB_YESNO, IDYES},
        {MB_YESNO | MB_DEFBUTTON2, IDNO},
        {MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL},
        {MB_OKCANCEL | MB_DEFBUTTON3, IDOK}, // no third button: the first
        {MB_ABORTRETRYIGNORE | MB_DEFBUTTON2, IDRETRY},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ZanthDefaultMessageBoxButton(c.type), c.button) << c.type;
    }
    // Without a handler and without a terminal the default button is taken.
    EXPECT_EQ(::MessageBoxW(nullptr, TEXT("Unattended"), TEXT("Test"), MB_YESNO | MB_DEFBUTTON2),
              IDNO);
}

TEST(MessageBoxes, ForegroundWindowIsRemembered)
{
    HWND window = reinterpret_cast<HWND>(0x1234);
    EXPECT_TRUE(::SetForegroundWindow(window));
    EXPECT_EQ(::GetForegroundWindow(), window);
    EXPECT_FALSE(::SetForegroundWindow(nullptr));
    EXPECT_EQ(::GetForegroundWindow(), window);
}
