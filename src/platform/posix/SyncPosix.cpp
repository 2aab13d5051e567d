// Critical sections and events on POSIX: a recursive pthread mutex, and a mutex with a condition variable
// on the monotonic clock, built in the storage the portable header reserves and destroyed with their
// objects (so that the system, and a thread checker, know the address is free again).
#include <errno.h>
#include <pthread.h>
#include <time.h>

#include <new>

#include "platform/Clock.h"
#include "platform/Sync.h"

namespace platform {
namespace {

struct EventState {
    pthread_mutex_t mutex;
    pthread_cond_t cv;
};

static_assert(sizeof(pthread_mutex_t) <= MCriticalSection::kStorage, "critical section storage");
static_assert(alignof(pthread_mutex_t) <= 16, "critical section alignment");
static_assert(sizeof(EventState) <= MEvent::kStorage, "event storage");
static_assert(alignof(EventState) <= 16, "event alignment");

pthread_mutex_t* Mutex(unsigned char* storage) {
    return std::launder(reinterpret_cast<pthread_mutex_t*>(storage));
}

EventState& State(unsigned char* storage) {
    return *std::launder(reinterpret_cast<EventState*>(storage));
}

// Holds a pthread mutex for a scope.
class Held {
public:
    explicit Held(pthread_mutex_t* mutex) : mutex_(mutex) { pthread_mutex_lock(mutex_); }
    ~Held() { pthread_mutex_unlock(mutex_); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

private:
    pthread_mutex_t* mutex_;
};

}  // namespace

MCriticalSection::MCriticalSection() {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(new (storage_) pthread_mutex_t, &attr);
    pthread_mutexattr_destroy(&attr);
}

MCriticalSection::~MCriticalSection() {
    pthread_mutex_destroy(Mutex(storage_));
}

void MCriticalSection::Enter() {
    pthread_mutex_lock(Mutex(storage_));
}

bool MCriticalSection::TryEnter() {
    return pthread_mutex_trylock(Mutex(storage_)) == 0;
}

void MCriticalSection::Leave() {
    pthread_mutex_unlock(Mutex(storage_));
}

MEvent::MEvent(bool manualReset, bool initiallySignalled)
    : manual_(manualReset), signalled_(initiallySignalled) {
    EventState* state = new (storage_) EventState;
    pthread_mutex_init(&state->mutex, nullptr);
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&state->cv, &attr);
    pthread_condattr_destroy(&attr);
}

MEvent::~MEvent() {
    EventState& state = State(storage_);
    pthread_cond_destroy(&state.cv);
    pthread_mutex_destroy(&state.mutex);
}

void MEvent::Set() {
    // Notify while holding the mutex: a waiter cannot return before Set has let go of the event, so it may
    // destroy the event (as a thread waiting on a context on its stack does) as soon as its Wait returns.
    EventState& state = State(storage_);
    Held hold(&state.mutex);
    signalled_ = true;
    if (manual_) {
        pthread_cond_broadcast(&state.cv);
    } else {
        pthread_cond_signal(&state.cv);
    }
}

void MEvent::Reset() {
    EventState& state = State(storage_);
    Held hold(&state.mutex);
    signalled_ = false;
}

bool MEvent::Wait(uint32_t milliseconds) {
    EventState& state = State(storage_);
    Held hold(&state.mutex);
    if (milliseconds == kInfinite) {
        while (!signalled_) pthread_cond_wait(&state.cv, &state.mutex);
    } else {
        timespec deadline{};
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += static_cast<time_t>(milliseconds / 1000);
        deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
        while (!signalled_) {
            if (pthread_cond_timedwait(&state.cv, &state.mutex, &deadline) == ETIMEDOUT) {
                if (!signalled_) return false;
            }
        }
    }
    if (!manual_) signalled_ = false;
    return true;
}

bool MEvent::IsSignalled() {
    EventState& state = State(storage_);
    Held hold(&state.mutex);
    return signalled_;
}

}  // namespace platform
