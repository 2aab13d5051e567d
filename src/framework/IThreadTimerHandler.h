// A tick handler of MThreadTimer: called once per pass with the pass's start time (milliseconds of the
// wrapping clock). The result is ignored by the timer.
#pragma once

#include <cstdint>

class IThreadTimerHandler {
public:
    virtual int OnTimer(uint32_t now) = 0;

protected:
    ~IThreadTimerHandler() = default;
};
