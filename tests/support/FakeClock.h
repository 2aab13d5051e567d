// A clock that stands still until the test moves it.
#pragma once

#include <atomic>

#include "platform/Clock.h"

class FakeClock : public platform::IClockSource {
public:
    FakeClock() { platform::SetClockSource(this); }
    ~FakeClock() { platform::SetClockSource(nullptr); }
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;

    uint32_t TickCount() override { return tick.load(); }
    uint64_t LocalInstant() override { return local.load(); }
    uint64_t UtcInstant() override { return utc.load(); }

    // Sets the local wall clock (and UTC to the same reading) to a calendar time.
    void SetLocal(uint16_t y, uint16_t mo, uint16_t d, uint16_t h = 0, uint16_t mi = 0, uint16_t s = 0,
                  uint16_t ms = 0) {
        platform::CalendarTime t;
        t.year = y; t.month = mo; t.day = d; t.hour = h; t.minute = mi; t.second = s; t.milliseconds = ms;
        uint64_t instant = 0;
        platform::CalendarToInstant(t, &instant);
        local = instant;
        utc = instant;
    }
    void AdvanceMs(uint32_t ms) {
        tick += ms;
        local += ms * platform::kTicksPerMillisecond;
        utc += ms * platform::kTicksPerMillisecond;
    }

    std::atomic<uint32_t> tick{0};
    std::atomic<uint64_t> local{0};
    std::atomic<uint64_t> utc{0};
};
