// The system's own local time zone, for the calendar server: conversions between UTC seconds since 1970
// and the local wall clock by the zone's rules of each date (daylight-saving time included), as the
// platform's clock (LocalInstantNow) reads it.
#pragma once

#include <cstdint>

#include "platform/Clock.h"

namespace platform {

// The local wall time of an instant; false when it cannot be told (out of the platform's range).
bool UtcToLocalTime(int64_t utcSeconds, CalendarTime* local);
// The instant of a local wall time (milliseconds and dayOfWeek ignored). A time the clocks skip (moving
// forward) or pass twice (moving back) gets one of the instants around it, as the platform chooses.
bool LocalTimeToUtc(const CalendarTime& local, int64_t* utcSeconds);

}  // namespace platform
