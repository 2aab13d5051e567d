#include "framework/MTimeout.h"

#include "platform/Clock.h"

void MTimeout::SetPeriod(uint32_t milliseconds) {
    platform::MLock lock(lock_);
    period_ = milliseconds;
}

uint32_t MTimeout::GetPeriod() {
    platform::MLock lock(lock_);
    return period_;
}

void MTimeout::SetStart(uint32_t milliseconds) {
    platform::MLock lock(lock_);
    start_ = milliseconds;
}

void MTimeout::Start() {
    platform::MLock lock(lock_);
    start_ = platform::TickCount();
}

bool MTimeout::IsElapsedAt(uint32_t now) {
    platform::MLock lock(lock_);
    return now - start_ >= period_;
}

bool MTimeout::IsElapsed() {
    platform::MLock lock(lock_);
    if (period_ == 0) return false;
    return platform::TickCount() - start_ >= period_;
}
