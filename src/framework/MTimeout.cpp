#include "framework/MTimeout.h"

#include "framework/MTime.h"
#include "platform/Clock.h"

namespace {

// A time value as milliseconds of the clock's scale, or the clock's own reading without one.
uint32_t NowOf(const MTime* now) {
    if (now == nullptr) return platform::TickCount();
    MTime copy(*now);
    copy.SetDisplayBase(MTime::kBaseMilliseconds);
    return static_cast<uint32_t>(copy.GetDisplayValue());
}

}  // namespace

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

void MTimeout::Start(const MTime* now) {
    platform::MLock lock(lock_);
    start_ = NowOf(now);
}

bool MTimeout::IsElapsedAt(uint32_t now) {
    platform::MLock lock(lock_);
    return now - start_ >= period_;
}

bool MTimeout::IsElapsed(const MTime* now) {
    platform::MLock lock(lock_);
    if (period_ == 0) return false;
    return NowOf(now) - start_ >= period_;
}
