#include "platform/Clock.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<IClockSource*> g_source{nullptr};

bool IsLeap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int64_t y, int m) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Days from 1601-01-01 to the given date (proleptic Gregorian calendar).
int64_t DaysFromEpoch(int64_t y, int m, int d) {
    // Shift the year to start in March so the leap day is the last day of the shifted year.
    y -= m <= 2;
    const int64_t era = y / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t daysFromCivil0 = era * 146097 + doe;  // days since 0000-03-01
    static const int64_t kEpoch = 584694;               // 1601-01-01 counted the same way
    return daysFromCivil0 - kEpoch;
}

constexpr int kMaxYear = 30827;

}  // namespace

void SetClockSource(IClockSource* source) { g_source.store(source); }

uint32_t TickCount() {
    IClockSource* s = g_source.load();
    return s ? s->TickCount() : SystemTickCount();
}

uint64_t LocalInstantNow() {
    IClockSource* s = g_source.load();
    return s ? s->LocalInstant() : SystemLocalInstant();
}

uint64_t UtcInstantNow() {
    IClockSource* s = g_source.load();
    return s ? s->UtcInstant() : SystemUtcInstant();
}

CalendarTime LocalTimeNow() {
    CalendarTime t;
    InstantToCalendar(LocalInstantNow(), &t);
    return t;
}

CalendarTime UtcTimeNow() {
    CalendarTime t;
    InstantToCalendar(UtcInstantNow(), &t);
    return t;
}

bool CalendarToInstant(const CalendarTime& t, uint64_t* instant) {
    if (t.year < 1601 || t.year > kMaxYear || t.month < 1 || t.month > 12 || t.day < 1 ||
        t.day > DaysInMonth(t.year, t.month) || t.hour > 23 || t.minute > 59 || t.second > 59 ||
        t.milliseconds > 999) {
        return false;
    }
    const uint64_t days = static_cast<uint64_t>(DaysFromEpoch(t.year, t.month, t.day));
    const uint64_t seconds = days * 86400ULL + t.hour * 3600ULL + t.minute * 60ULL + t.second;
    if (instant) *instant = seconds * kTicksPerSecond + t.milliseconds * kTicksPerMillisecond;
    return true;
}

bool InstantToCalendar(uint64_t instant, CalendarTime* t) {
    const int64_t days = static_cast<int64_t>(instant / kTicksPerDay);
    const uint64_t inDay = instant % kTicksPerDay;
    // Inverse of DaysFromEpoch.
    const int64_t z = days + 584694;
    const int64_t era = z / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = yoe + era * 400 + (m <= 2);
    if (y > kMaxYear) return false;
    if (t) {
        t->year = static_cast<uint16_t>(y);
        t->month = static_cast<uint16_t>(m);
        t->day = static_cast<uint16_t>(d);
        t->dayOfWeek = static_cast<uint16_t>((days + 1) % 7);  // 1601-01-01 was a Monday
        const uint64_t ms = inDay / kTicksPerMillisecond;
        t->hour = static_cast<uint16_t>(ms / 3600000);
        t->minute = static_cast<uint16_t>(ms / 60000 % 60);
        t->second = static_cast<uint16_t>(ms / 1000 % 60);
        t->milliseconds = static_cast<uint16_t>(ms % 1000);
    }
    return true;
}

}  // namespace platform
