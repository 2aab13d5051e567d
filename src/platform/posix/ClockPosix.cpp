#include <sys/time.h>
#include <time.h>

#include "platform/Clock.h"

namespace platform {
namespace {

uint64_t ToInstant(const struct tm& tm, long nanoseconds) {
    CalendarTime t;
    t.year = static_cast<uint16_t>(tm.tm_year + 1900);
    t.month = static_cast<uint16_t>(tm.tm_mon + 1);
    t.day = static_cast<uint16_t>(tm.tm_mday);
    t.hour = static_cast<uint16_t>(tm.tm_hour);
    t.minute = static_cast<uint16_t>(tm.tm_min);
    // A leap second reads as the last second of its minute.
    t.second = static_cast<uint16_t>(tm.tm_sec > 59 ? 59 : tm.tm_sec);
    uint64_t instant = 0;
    CalendarToInstant(t, &instant);
    return instant + static_cast<uint64_t>(nanoseconds) / 100;
}

}  // namespace

uint32_t SystemTickCount() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000ULL + static_cast<uint64_t>(ts.tv_nsec) / 1000000ULL;
    return static_cast<uint32_t>(ms);
}

uint64_t SystemLocalInstant() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tm;
    localtime_r(&ts.tv_sec, &tm);
    return ToInstant(tm, ts.tv_nsec);
}

uint64_t SystemUtcInstant() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tm;
    gmtime_r(&ts.tv_sec, &tm);
    return ToInstant(tm, ts.tv_nsec);
}

}  // namespace platform
