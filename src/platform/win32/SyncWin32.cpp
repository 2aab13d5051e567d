// Critical sections and events on Windows: a CRITICAL_SECTION, deleted with its object, and an event made
// of a slim reader/writer lock and a condition variable, which hold no handle at all. (The standard
// library's mutexes of this toolchain are never destroyed: each one that was ever contended would keep an
// event handle for the rest of the process.)
#include <windows.h>

#include <chrono>
#include <new>

#include "platform/Clock.h"
#include "platform/Sync.h"

namespace platform {
namespace {

struct EventState {
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE cv = CONDITION_VARIABLE_INIT;
};

static_assert(sizeof(CRITICAL_SECTION) <= MCriticalSection::kStorage, "critical section storage");
static_assert(alignof(CRITICAL_SECTION) <= 16, "critical section alignment");
static_assert(sizeof(EventState) <= MEvent::kStorage, "event storage");
static_assert(alignof(EventState) <= 16, "event alignment");

CRITICAL_SECTION* Section(unsigned char* storage) {
    return std::launder(reinterpret_cast<CRITICAL_SECTION*>(storage));
}

EventState& State(unsigned char* storage) {
    return *std::launder(reinterpret_cast<EventState*>(storage));
}

// Holds the event's lock for a scope.
class Exclusive {
public:
    explicit Exclusive(SRWLOCK* lock) : lock_(lock) { AcquireSRWLockExclusive(lock_); }
    ~Exclusive() { ReleaseSRWLockExclusive(lock_); }
    Exclusive(const Exclusive&) = delete;
    Exclusive& operator=(const Exclusive&) = delete;

private:
    SRWLOCK* lock_;
};

}  // namespace

MCriticalSection::MCriticalSection() {
    InitializeCriticalSection(new (storage_) CRITICAL_SECTION);
}

MCriticalSection::~MCriticalSection() {
    DeleteCriticalSection(Section(storage_));
}

void MCriticalSection::Enter() {
    EnterCriticalSection(Section(storage_));
}

bool MCriticalSection::TryEnter() {
    return TryEnterCriticalSection(Section(storage_)) != 0;
}

void MCriticalSection::Leave() {
    LeaveCriticalSection(Section(storage_));
}

MEvent::MEvent(bool manualReset, bool initiallySignalled)
    : manual_(manualReset), signalled_(initiallySignalled) {
    new (storage_) EventState();
}

MEvent::~MEvent() {
    State(storage_).~EventState();
}

void MEvent::Set() {
    // Woken under the lock: a waiter cannot return before Set has let go of the event.
    EventState& state = State(storage_);
    Exclusive hold(&state.lock);
    signalled_ = true;
    if (manual_) {
        WakeAllConditionVariable(&state.cv);
    } else {
        WakeConditionVariable(&state.cv);
    }
}

void MEvent::Reset() {
    EventState& state = State(storage_);
    Exclusive hold(&state.lock);
    signalled_ = false;
}

bool MEvent::Wait(uint32_t milliseconds) {
    EventState& state = State(storage_);
    Exclusive hold(&state.lock);
    if (milliseconds == kInfinite) {
        while (!signalled_) SleepConditionVariableSRW(&state.cv, &state.lock, INFINITE, 0);
    } else {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (!signalled_) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            SleepConditionVariableSRW(&state.cv, &state.lock, static_cast<DWORD>(left.count()), 0);
        }
    }
    if (!manual_) signalled_ = false;
    return true;
}

bool MEvent::IsSignalled() {
    EventState& state = State(storage_);
    Exclusive hold(&state.lock);
    return signalled_;
}

}  // namespace platform
