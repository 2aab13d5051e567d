#include <gtest/gtest.h>

#include "framework/MTime.h"
#include "framework/MTimeout.h"
#include "support/FakeClock.h"

TEST(Timeout, PeriodZeroNeverElapsesOnTheClockButAlwaysAtAGivenTime) {
    FakeClock clock;
    clock.tick = 5000;
    MTimeout t;
    EXPECT_EQ(t.GetPeriod(), 0u);
    t.Start();
    clock.AdvanceMs(100000);
    EXPECT_FALSE(t.IsElapsed());
    EXPECT_TRUE(t.IsElapsedAt(0));
    EXPECT_TRUE(t.IsElapsedAt(5000));
}

TEST(Timeout, ElapsesWhenThePeriodHasPassedSinceTheStart) {
    FakeClock clock;
    clock.tick = 1000;
    MTimeout t(1000);
    t.Start();
    clock.AdvanceMs(999);
    EXPECT_FALSE(t.IsElapsed());
    clock.AdvanceMs(1);
    EXPECT_TRUE(t.IsElapsed());
    // A restart begins a new period.
    t.Start();
    EXPECT_FALSE(t.IsElapsed());
    t.SetPeriod(0);
    clock.AdvanceMs(5000);
    EXPECT_FALSE(t.IsElapsed());
}

TEST(Timeout, TheDifferenceSurvivesTheClocksWrapAround) {
    MTimeout t(512);
    t.SetStart(0xFFFFFFFFu - 255);  // 256 ms before the clock wraps to 0
    EXPECT_TRUE(t.IsElapsedAt(256));
    EXPECT_FALSE(t.IsElapsedAt(255));
    t.SetPeriod(513);
    EXPECT_FALSE(t.IsElapsedAt(256));

    FakeClock clock;
    clock.tick = 0xFFFFFFFFu - 99;
    MTimeout u(200);
    u.Start();
    clock.tick = 99;
    EXPECT_FALSE(u.IsElapsed());
    clock.tick = 100;
    EXPECT_TRUE(u.IsElapsed());
}

TEST(Timeout, ATimeValueIsTakenAsMillisecondsWhateverItsBase) {
    FakeClock clock;
    clock.tick = 1;  // the clock must not be read when a time is given
    MTimeout t(1000);
    MTime start;
    start.SetBase(MTime::kBaseHundredths);
    start.SetValue(150);  // 1.5 s
    t.Start(&start);
    EXPECT_TRUE(t.IsElapsedAt(2500));
    EXPECT_FALSE(t.IsElapsedAt(2499));

    MTime now;
    now.SetBase(MTime::kBaseMilliseconds);
    now.SetValue(2499);
    EXPECT_FALSE(t.IsElapsed(&now));
    now.SetValue(2500);
    EXPECT_TRUE(t.IsElapsed(&now));
    // The caller's time keeps its own display base.
    EXPECT_EQ(now.GetDisplayBase(), MTime::kBaseHundredths);

    t.SetPeriod(0);
    EXPECT_FALSE(t.IsElapsed(&now));
}
