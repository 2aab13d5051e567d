// Critical sections and events with the platform's semantics, in plain C++.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/Clock.h"

namespace platform {

// Recursive: the holding thread may enter again (and must leave as often).
class MCriticalSection {
public:
    void Enter() { mutex_.lock(); }
    bool TryEnter() { return mutex_.try_lock(); }
    void Leave() { mutex_.unlock(); }

private:
    std::recursive_mutex mutex_;
};

// Holds a critical section for a scope.
class MLock {
public:
    explicit MLock(MCriticalSection& cs) : cs_(cs) { cs_.Enter(); }
    ~MLock() { cs_.Leave(); }
    MLock(const MLock&) = delete;
    MLock& operator=(const MLock&) = delete;

private:
    MCriticalSection& cs_;
};

// A manual-reset event stays signalled until Reset; an automatic one releases one waiter and resets.
class MEvent {
public:
    MEvent(bool manualReset, bool initiallySignalled);
    void Set();
    void Reset();
    // Waits at most `milliseconds` (kInfinite: without limit); true when the event was signalled.
    bool Wait(uint32_t milliseconds);
    bool IsSignalled();

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    const bool manual_;
    bool signalled_;
};

}  // namespace platform
