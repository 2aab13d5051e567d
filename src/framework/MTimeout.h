// A thread-safe elapsed-time test on the wrapping millisecond clock. Differences are unsigned 32-bit, so
// a test across the clock's wrap-around still answers right (for periods below 2^31 ms).
#pragma once

#include <cstdint>

#include "platform/Sync.h"

class MTime;

class MTimeout {
public:
    MTimeout() = default;
    explicit MTimeout(uint32_t period) : period_(period) {}
    virtual ~MTimeout() = default;
    MTimeout(const MTimeout&) = delete;
    MTimeout& operator=(const MTimeout&) = delete;

    void SetPeriod(uint32_t milliseconds);
    virtual uint32_t GetPeriod();
    virtual void SetStart(uint32_t milliseconds);
    // Starts the period now: at the clock's reading, or at `now` taken as milliseconds.
    virtual void Start(const MTime* now = nullptr);
    // now − start ≥ period; true whenever the period is 0.
    virtual bool IsElapsedAt(uint32_t now);
    // The same against the clock's reading (or `now` taken as milliseconds), except that a period of 0
    // never elapses.
    virtual bool IsElapsed(const MTime* now = nullptr);

private:
    uint32_t start_ = 0;
    uint32_t period_ = 0;
    platform::MCriticalSection lock_;
};
