#include <gtest/gtest.h>

#include "platform/Clock.h"
#include "support/FakeClock.h"

using platform::CalendarTime;

namespace {

CalendarTime Cal(uint16_t y, uint16_t mo, uint16_t d, uint16_t h = 0, uint16_t mi = 0, uint16_t s = 0,
                 uint16_t ms = 0) {
    CalendarTime t;
    t.year = y;
    t.month = mo;
    t.day = d;
    t.hour = h;
    t.minute = mi;
    t.second = s;
    t.milliseconds = ms;
    return t;
}

}  // namespace

TEST(Clock, KnownInstants) {
    uint64_t v = 1;
    ASSERT_TRUE(platform::CalendarToInstant(Cal(1601, 1, 1), &v));
    EXPECT_EQ(v, 0u);
    // The Unix epoch lies 11644473600 seconds after 1601-01-01.
    ASSERT_TRUE(platform::CalendarToInstant(Cal(1970, 1, 1), &v));
    EXPECT_EQ(v, 116444736000000000ULL);
    ASSERT_TRUE(platform::CalendarToInstant(Cal(2024, 5, 1, 10, 30, 0, 250), &v));
    EXPECT_EQ(v, (1714559400ULL + 11644473600ULL) * 10000000ULL + 2500000ULL);
}

TEST(Clock, RoundTripAcrossTheRangeKeepsEveryFieldAndWeekday) {
    // Sample days across 1601..9999, including leap days and century years.
    const CalendarTime samples[] = {
        Cal(1601, 1, 1),      Cal(1700, 2, 28, 23, 59, 59, 999), Cal(1900, 3, 1),
        Cal(2000, 2, 29, 12), Cal(2024, 12, 31, 1, 2, 3),        Cal(9999, 12, 31, 23, 59, 59, 999)};
    for (const CalendarTime& t : samples) {
        uint64_t v = 0;
        ASSERT_TRUE(platform::CalendarToInstant(t, &v));
        CalendarTime back;
        ASSERT_TRUE(platform::InstantToCalendar(v, &back));
        EXPECT_EQ(back.year, t.year);
        EXPECT_EQ(back.month, t.month);
        EXPECT_EQ(back.day, t.day);
        EXPECT_EQ(back.hour, t.hour);
        EXPECT_EQ(back.minute, t.minute);
        EXPECT_EQ(back.second, t.second);
        EXPECT_EQ(back.milliseconds, t.milliseconds);
    }
    CalendarTime c;
    platform::InstantToCalendar(0, &c);
    EXPECT_EQ(c.dayOfWeek, 1);  // Monday
    uint64_t v = 0;
    platform::CalendarToInstant(Cal(2026, 12, 7), &v);
    platform::InstantToCalendar(v, &c);
    EXPECT_EQ(c.dayOfWeek, 1);
    // Every day of a span maps to consecutive instants.
    uint64_t prev = 0;
    platform::CalendarToInstant(Cal(1999, 12, 31), &prev);
    for (int i = 0; i < 800; ++i) {
        CalendarTime next;
        platform::InstantToCalendar(prev + platform::kTicksPerDay, &next);
        uint64_t again = 0;
        ASSERT_TRUE(platform::CalendarToInstant(next, &again));
        EXPECT_EQ(again, prev + platform::kTicksPerDay);
        prev = again;
    }
}

TEST(Clock, InvalidFieldsAreRejected) {
    uint64_t v = 42;
    EXPECT_FALSE(platform::CalendarToInstant(Cal(2024, 13, 1), &v));
    EXPECT_FALSE(platform::CalendarToInstant(Cal(2024, 0, 1), &v));
    EXPECT_FALSE(platform::CalendarToInstant(Cal(2024, 1, 32), &v));
    EXPECT_FALSE(platform::CalendarToInstant(Cal(2023, 2, 29), &v));
    EXPECT_FALSE(platform::CalendarToInstant(Cal(1900, 2, 29), &v));
    EXPECT_FALSE(platform::CalendarToInstant(Cal(2024, 1, 1, 24), &v));
    EXPECT_FALSE(platform::CalendarToInstant(Cal(2024, 1, 1, 0, 60), &v));
    EXPECT_FALSE(platform::CalendarToInstant(Cal(2024, 1, 1, 0, 0, 60), &v));
    EXPECT_FALSE(platform::CalendarToInstant(Cal(2024, 1, 1, 0, 0, 0, 1000), &v));
    EXPECT_FALSE(platform::CalendarToInstant(Cal(1600, 12, 31), &v));
    EXPECT_FALSE(platform::CalendarToInstant(Cal(0, 0, 0), &v));
    EXPECT_EQ(v, 42u);
    EXPECT_TRUE(platform::CalendarToInstant(Cal(2024, 2, 29), &v));
}

TEST(Clock, SubstituteSourceIsUsedAndRemoved) {
    {
        FakeClock fake;
        fake.tick = 0xFFFFFF00u;
        fake.SetLocal(2024, 5, 1, 10, 0, 0);
        EXPECT_EQ(platform::TickCount(), 0xFFFFFF00u);
        fake.AdvanceMs(0x200);
        EXPECT_EQ(platform::TickCount(), 0x100u);  // wrapped
        CalendarTime now = platform::LocalTimeNow();
        EXPECT_EQ(now.hour, 10);
        EXPECT_EQ(now.second, 0);
        EXPECT_EQ(now.milliseconds, 512);
    }
    // The system clock is back: a real reading is a date of this era.
    EXPECT_GE(platform::LocalTimeNow().year, 2024);
}
