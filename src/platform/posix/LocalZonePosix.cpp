#include <ctime>

#include "platform/LocalZone.h"

namespace platform {

bool UtcToLocalTime(int64_t utcSeconds, CalendarTime* local) {
    const time_t utc = static_cast<time_t>(utcSeconds);
    std::tm tm{};
    if (!localtime_r(&utc, &tm) || tm.tm_year < 1601 - 1900 || tm.tm_year > 30827 - 1900) return false;
    local->year = static_cast<uint16_t>(tm.tm_year + 1900);
    local->month = static_cast<uint16_t>(tm.tm_mon + 1);
    local->day = static_cast<uint16_t>(tm.tm_mday);
    local->dayOfWeek = static_cast<uint16_t>(tm.tm_wday);
    local->hour = static_cast<uint16_t>(tm.tm_hour);
    local->minute = static_cast<uint16_t>(tm.tm_min);
    local->second = static_cast<uint16_t>(tm.tm_sec);
    local->milliseconds = 0;
    return true;
}

bool LocalTimeToUtc(const CalendarTime& local, int64_t* utcSeconds) {
    std::tm tm{};
    tm.tm_year = local.year - 1900;
    tm.tm_mon = local.month - 1;
    tm.tm_mday = local.day;
    tm.tm_hour = local.hour;
    tm.tm_min = local.minute;
    tm.tm_sec = local.second;
    tm.tm_isdst = -1;
    const time_t out = std::mktime(&tm);
    // -1 is also one second before 1970 in UTC.
    if (out == static_cast<time_t>(-1) && !(tm.tm_year == 69 && tm.tm_mon == 11 && tm.tm_mday == 31))
        return false;
    *utcSeconds = static_cast<int64_t>(out);
    return true;
}

}  // namespace platform
