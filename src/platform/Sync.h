// Critical sections and events with the platform's semantics. Each platform implements them once
// (posix/SyncPosix.cpp, win32/SyncWin32.cpp) in the storage reserved here, so that the objects need no
// allocation of their own and give back every system resource when they are destroyed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Clock.h"

namespace platform {

// Recursive: the holding thread may enter again (and must leave as often).
class MCriticalSection {
public:
    MCriticalSection();
    ~MCriticalSection();
    MCriticalSection(const MCriticalSection&) = delete;
    MCriticalSection& operator=(const MCriticalSection&) = delete;

    void Enter();
    bool TryEnter();
    void Leave();

    static constexpr size_t kStorage = 64;

private:
    alignas(16) unsigned char storage_[kStorage];
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
    ~MEvent();
    MEvent(const MEvent&) = delete;
    MEvent& operator=(const MEvent&) = delete;

    // A waiter may destroy the event as soon as its Wait returns, even while Set is still on its way out.
    void Set();
    void Reset();
    // Waits at most `milliseconds` (kInfinite: without limit); true when the event was signalled.
    bool Wait(uint32_t milliseconds);
    // Reads the state without consuming it, for either kind.
    bool IsSignalled();

    static constexpr size_t kStorage = 128;

private:
    alignas(16) unsigned char storage_[kStorage];
    const bool manual_;
    bool signalled_;
};

}  // namespace platform
