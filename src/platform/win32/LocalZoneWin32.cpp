// Windows' own zone, by the rules it keeps for each year (the dynamic zone information, read for the year
// of the date converted), so that dates of other years convert as their own daylight-saving dates say.
#include <windows.h>

#include "platform/LocalZone.h"

namespace platform {
namespace {

// Seconds between 1601-01-01 and 1970-01-01.
constexpr int64_t kEpochDifference = 11644473600LL;

bool ZoneOfYear(WORD year, TIME_ZONE_INFORMATION* zone) {
    DYNAMIC_TIME_ZONE_INFORMATION dynamic{};
    *zone = TIME_ZONE_INFORMATION{};
    return GetDynamicTimeZoneInformation(&dynamic) != TIME_ZONE_ID_INVALID &&
           GetTimeZoneInformationForYear(year, &dynamic, zone);
}

SYSTEMTIME ToSystem(const CalendarTime& t) {
    SYSTEMTIME s{};
    s.wYear = t.year;
    s.wMonth = t.month;
    s.wDayOfWeek = t.dayOfWeek;
    s.wDay = t.day;
    s.wHour = t.hour;
    s.wMinute = t.minute;
    s.wSecond = t.second;
    return s;
}

}  // namespace

bool UtcToLocalTime(int64_t utcSeconds, CalendarTime* local) {
    if (utcSeconds < -kEpochDifference) return false;
    const uint64_t ticks = static_cast<uint64_t>(utcSeconds + kEpochDifference) * kTicksPerSecond;
    FILETIME file{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME utc{}, wall{};
    TIME_ZONE_INFORMATION zone;
    if (!FileTimeToSystemTime(&file, &utc) || !ZoneOfYear(utc.wYear, &zone) ||
        !SystemTimeToTzSpecificLocalTime(&zone, &utc, &wall))
        return false;
    *local = CalendarTime{wall.wYear, wall.wMonth,  wall.wDayOfWeek, wall.wDay,
                          wall.wHour, wall.wMinute, wall.wSecond,    0};
    return true;
}

bool LocalTimeToUtc(const CalendarTime& local, int64_t* utcSeconds) {
    const SYSTEMTIME wall = ToSystem(local);
    SYSTEMTIME utc{};
    FILETIME file{};
    TIME_ZONE_INFORMATION zone;
    if (!ZoneOfYear(wall.wYear, &zone) || !TzSpecificLocalTimeToSystemTime(&zone, &wall, &utc) ||
        !SystemTimeToFileTime(&utc, &file))
        return false;
    const uint64_t ticks = (static_cast<uint64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
    *utcSeconds = static_cast<int64_t>(ticks / kTicksPerSecond) - kEpochDifference;
    return true;
}

}  // namespace platform
