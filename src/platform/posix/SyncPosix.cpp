#include "platform/Sync.h"

#include <chrono>

#include "platform/Clock.h"

namespace platform {

MEvent::MEvent(bool manualReset, bool initiallySignalled) : manual_(manualReset), signalled_(initiallySignalled) {}

void MEvent::Set() {
    // Notify while holding the mutex: a waiter cannot return before Set has let go of the event, so it may
    // destroy the event (as a thread waiting on a context on its stack does) as soon as its Wait returns.
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = true;
    if (manual_) {
        cv_.notify_all();
    } else {
        cv_.notify_one();
    }
}

void MEvent::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = false;
}

bool MEvent::Wait(uint32_t milliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (milliseconds == kInfinite) {
        cv_.wait(lock, [this] { return signalled_; });
    } else if (!cv_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return signalled_; })) {
        return false;
    }
    if (!manual_) signalled_ = false;
    return true;
}

bool MEvent::IsSignalled() {
    std::lock_guard<std::mutex> lock(mutex_);
    return signalled_;
}

}  // namespace platform
