// Clocks: the performance counter (the monotonic clock in nanoseconds), system
// time as FILETIME (100-ns units since 1601-01-01 UTC) and SYSTEMTIME in UTC and in
// the local time zone, and the conversions between the two.
#include "futex.h"
#include "internal.h"

#include <ctime>

namespace zanth::platform {
namespace {

constexpr LONGLONG kTicksPerSecond = 10000000;           // FILETIME units per second
constexpr LONGLONG kSecondsFrom1601To1970 = 11644473600; // 369 years, 89 of them leap

// Days since 1970-01-01 of a proleptic Gregorian date, and back (H. Hinnant's
// well-known civil-calendar algorithms).
LONGLONG DaysFromCivil(LONGLONG y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const LONGLONG era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<LONGLONG>(doe) - 719468;
}

void CivilFromDays(LONGLONG z, LONGLONG& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const LONGLONG era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<LONGLONG>(yoe) + era * 400 + (m <= 2);
}

bool IsLeap(LONGLONG y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

void FromTm(const std::tm& parts, long nanoseconds, SYSTEMTIME& out)
{
    out.wYear = static_cast<WORD>(parts.tm_year + 1900);
    out.wMonth = static_cast<WORD>(parts.tm_mon + 1);
    out.wDayOfWeek = static_cast<WORD>(parts.tm_wday);
    out.wDay = static_cast<WORD>(parts.tm_mday);
    out.wHour = static_cast<WORD>(parts.tm_hour);
    out.wMinute = static_cast<WORD>(parts.tm_min);
    out.wSecond = static_cast<WORD>(parts.tm_sec > 59 ? 59 : parts.tm_sec); // leap second
    out.wMilliseconds = static_cast<WORD>(nanoseconds / 1000000);
}

} // namespace
} // namespace zanth::platform

using namespace zanth::platform;

extern "C" {

BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* count)
{
    if (!count) {
        ::SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    count->QuadPart = MonotonicNs();
    return TRUE;
}

BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* frequency)
{
    if (!frequency) {
        ::SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    frequency->QuadPart = 1000000000;
    return TRUE;
}

void WINAPI GetSystemTimeAsFileTime(LPFILETIME systemTimeAsFileTime)
{
    if (!systemTimeAsFileTime) {
        return; // nowhere to write: nothing to do
    }
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    const ULONGLONG ticks = static_cast<ULONGLONG>(
        (static_cast<LONGLONG>(now.tv_sec) + kSecondsFrom1601To1970) * kTicksPerSecond +
        now.tv_nsec / 100);
    systemTimeAsFileTime->dwLowDateTime = static_cast<DWORD>(ticks);
    systemTimeAsFileTime->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

BOOL WINAPI FileTimeToSystemTime(const FILETIME* fileTime, LPSYSTEMTIME systemTime)
{
    if (!fileTime || !systemTime) {
        ::SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    const ULONGLONG ticks =
        (static_cast<ULONGLONG>(fileTime->dwHighDateTime) << 32) | fileTime->dwLowDateTime;
    if (ticks & 0x8000000000000000ull) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const ULONGLONG seconds = ticks / kTicksPerSecond;
    const LONGLONG days = static_cast<LONGLONG>(seconds / 86400);
    const ULONGLONG secondOfDay = seconds % 86400;
    LONGLONG year;
    unsigned month, day;
    CivilFromDays(days - DaysFromCivil(1970, 1, 1) + DaysFromCivil(1601, 1, 1), year, month, day);
    systemTime->wYear = static_cast<WORD>(year);
    systemTime->wMonth = static_cast<WORD>(month);
    systemTime->wDay = static_cast<WORD>(day);
    systemTime->wDayOfWeek = static_cast<WORD>((days + 1) % 7); // 1601-01-01 was a Monday
    systemTime->wHour = static_cast<WORD>(secondOfDay / 3600);
    systemTime->wMinute = static_cast<WORD>(secondOfDay / 60 % 60);
    systemTime->wSecond = static_cast<WORD>(secondOfDay % 60);
    systemTime->wMilliseconds = static_cast<WORD>(ticks % kTicksPerSecond / 10000);
    return TRUE;
}

BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME* systemTime, LPFILETIME fileTime)
{
    if (!systemTime || !fileTime) {
        ::SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    static const unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const SYSTEMTIME& t = *systemTime;
    if (t.wYear < 1601 || t.wYear > 30827 || t.wMonth < 1 || t.wMonth > 12 || t.wDay < 1 ||
        t.wDay > kDays[t.wMonth - 1] + (t.wMonth == 2 && IsLeap(t.wYear)) || t.wHour > 23 ||
        t.wMinute > 59 || t.wSecond > 59 || t.wMilliseconds > 999) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const LONGLONG days = DaysFromCivil(t.wYear, t.wMonth, t.wDay) - DaysFromCivil(1601, 1, 1);
    const ULONGLONG ticks =
        static_cast<ULONGLONG>(((days * 24 + t.wHour) * 60 + t.wMinute) * 60 + t.wSecond) *
            kTicksPerSecond +
        static_cast<ULONGLONG>(t.wMilliseconds) * 10000;
    fileTime->dwLowDateTime = static_cast<DWORD>(ticks);
    fileTime->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return TRUE;
}

void WINAPI GetSystemTime(LPSYSTEMTIME systemTime)
{
    if (!systemTime) {
        return; // nowhere to write: nothing to do
    }
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    std::tm parts{};
    gmtime_r(&now.tv_sec, &parts);
    FromTm(parts, now.tv_nsec, *systemTime);
}

void WINAPI GetLocalTime(LPSYSTEMTIME systemTime)
{
    if (!systemTime) {
        return; // nowhere to write: nothing to do
    }
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    std::tm parts{};
    localtime_r(&now.tv_sec, &parts);
    FromTm(parts, now.tv_nsec, *systemTime);
}

DWORD WINAPI GetTickCount(void)
{
    return static_cast<DWORD>(MonotonicNs() / 1000000);
}

} // extern "C"
