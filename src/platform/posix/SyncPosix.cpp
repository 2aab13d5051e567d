// Critical sections and events on POSIX: the standard library's recursive mutex, and a mutex with a
// condition variable, built in the storage the portable header reserves.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

#include "platform/Clock.h"
#include "platform/Sync.h"

namespace platform {
namespace {

struct EventState {
    std::mutex mutex;
    std::condition_variable cv;
};

static_assert(sizeof(std::recursive_mutex) <= MCriticalSection::kStorage, "critical section storage");
static_assert(alignof(std::recursive_mutex) <= 16, "critical section alignment");
static_assert(sizeof(EventState) <= MEvent::kStorage, "event storage");
static_assert(alignof(EventState) <= 16, "event alignment");

}  // namespace

MCriticalSection::MCriticalSection() {
    new (storage_) std::recursive_mutex();
}

MCriticalSection::~MCriticalSection() {
    std::launder(reinterpret_cast<std::recursive_mutex*>(storage_))->~recursive_mutex();
}

void MCriticalSection::Enter() {
    std::launder(reinterpret_cast<std::recursive_mutex*>(storage_))->lock();
}

bool MCriticalSection::TryEnter() {
    return std::launder(reinterpret_cast<std::recursive_mutex*>(storage_))->try_lock();
}

void MCriticalSection::Leave() {
    std::launder(reinterpret_cast<std::recursive_mutex*>(storage_))->unlock();
}

namespace {
EventState& State(unsigned char* storage) {
    return *std::launder(reinterpret_cast<EventState*>(storage));
}
}  // namespace

MEvent::MEvent(bool manualReset, bool initiallySignalled)
    : manual_(manualReset), signalled_(initiallySignalled) {
    new (storage_) EventState();
}

MEvent::~MEvent() {
    State(storage_).~EventState();
}

void MEvent::Set() {
    // Notify while holding the mutex: a waiter cannot return before Set has let go of the event, so it may
    // destroy the event (as a thread waiting on a context on its stack does) as soon as its Wait returns.
    EventState& state = State(storage_);
    std::lock_guard<std::mutex> lock(state.mutex);
    signalled_ = true;
    if (manual_) {
        state.cv.notify_all();
    } else {
        state.cv.notify_one();
    }
}

void MEvent::Reset() {
    EventState& state = State(storage_);
    std::lock_guard<std::mutex> lock(state.mutex);
    signalled_ = false;
}

bool MEvent::Wait(uint32_t milliseconds) {
    EventState& state = State(storage_);
    std::unique_lock<std::mutex> lock(state.mutex);
    if (milliseconds == kInfinite) {
        state.cv.wait(lock, [this] { return signalled_; });
    } else if (!state.cv.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                  [this] { return signalled_; })) {
        return false;
    }
    if (!manual_) signalled_ = false;
    return true;
}

bool MEvent::IsSignalled() {
    EventState& state = State(storage_);
    std::lock_guard<std::mutex> lock(state.mutex);
    return signalled_;
}

}  // namespace platform
