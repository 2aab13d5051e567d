// The multimedia millisecond clock and the local and UTC wall clocks, as 100 ns units since 1601.
#include <windows.h>
// After windows.h, whose types it uses.
#include <mmsystem.h>

#include "platform/Clock.h"

namespace platform {
namespace {

uint64_t FromFileTime(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

uint32_t SystemTickCount() {
    return timeGetTime();
}

uint64_t SystemLocalInstant() {
    // The local calendar time read as if it were UTC: the instant carries no zone.
    SYSTEMTIME local;
    GetLocalTime(&local);
    FILETIME time;
    if (!SystemTimeToFileTime(&local, &time)) return 0;
    return FromFileTime(time);
}

uint64_t SystemUtcInstant() {
    FILETIME time;
    GetSystemTimeAsFileTime(&time);
    return FromFileTime(time);
}

}  // namespace platform
