// ZCMetaTimeAndDate: the system clock as a raw 64-bit FILETIME value.
#include <zanth/timer.h>

#include <cstring>

namespace ZANTH {

LONGLONG* ZCMetaTimeAndDate::CastFromFileTimeToRaw(FILETIME* fileTime)
{
    return reinterpret_cast<LONGLONG*>(fileTime);
}

LONGLONG ZCMetaTimeAndDate::GetCurrent()
{
    // FILETIME keeps the low half first, so on this little-endian platform its
    // bytes are the 64-bit value; they are copied, not read through the cast
    // pointer, which a FILETIME's 4-byte alignment would not allow.
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    LONGLONG raw;
    std::memcpy(&raw, CastFromFileTimeToRaw(&now), sizeof raw);
    return raw;
}

SYSTEMTIME ZCMetaTimeAndDate::GetSystemTime()
{
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    SYSTEMTIME time{};
    ::FileTimeToSystemTime(&now, &time);
    return time;
}

} // namespace ZANTH
