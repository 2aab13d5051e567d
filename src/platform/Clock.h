// The one place that reads time: the wrapping millisecond clock, the local wall-clock instant and the
// conversion between calendar time and instants. Tests substitute the source with SetClockSource.
#pragma once

#include <cstdint>

namespace platform {

// A calendar time in the field order of the platform's own structure. dayOfWeek: 0 = Sunday.
struct CalendarTime {
    uint16_t year = 0;
    uint16_t month = 0;
    uint16_t dayOfWeek = 0;
    uint16_t day = 0;
    uint16_t hour = 0;
    uint16_t minute = 0;
    uint16_t second = 0;
    uint16_t milliseconds = 0;
};

// 100 ns units, the scale of instants.
constexpr uint64_t kTicksPerMillisecond = 10000ULL;
constexpr uint64_t kTicksPerSecond = 10000000ULL;
constexpr uint64_t kTicksPerDay = 86400ULL * kTicksPerSecond;
// Waits that never end.
constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// Where time comes from. The real source reads the system; a test installs its own.
class IClockSource {
public:
    virtual uint32_t TickCount() = 0;
    virtual uint64_t LocalInstant() = 0;
    virtual uint64_t UtcInstant() = 0;

protected:
    ~IClockSource() = default;
};

// Installs a substitute source; null restores the system clock. The source must outlive its use.
void SetClockSource(IClockSource* source);

// Milliseconds of a monotonic clock, wrapping at 2^32; compare with unsigned differences.
uint32_t TickCount();
// 100 ns units since 1601-01-01 00:00 of the local wall clock (no zone arithmetic afterwards).
uint64_t LocalInstantNow();
// The same scale in UTC.
uint64_t UtcInstantNow();
CalendarTime LocalTimeNow();
CalendarTime UtcTimeNow();

// Valid for the years 1601 to 30827; false for any field out of range (dayOfWeek is not checked).
bool CalendarToInstant(const CalendarTime& time, uint64_t* instant);
// Fills every field including dayOfWeek; false when the instant lies beyond the year 30827.
bool InstantToCalendar(uint64_t instant, CalendarTime* time);

// The system's readings, for the real source; implemented per platform.
uint32_t SystemTickCount();
uint64_t SystemLocalInstant();
uint64_t SystemUtcInstant();

}  // namespace platform
