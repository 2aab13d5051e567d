// A restartable worker thread that runs a handler object (or its own overridable Run) with a settable
// priority class, and that can take part in the process-wide dispatcher through which calls are run on
// one shared thread.
//
// Priority classes: 0 idle, 1 lowest, 2 below normal, 3 normal (the default), 4 above normal, 5 highest,
// 6 time critical; any other class is applied as normal. On POSIX the classes are per-thread nice values
// relative to the process's own level (see src/platform/posix/ThreadPosix.cpp for the table). A process
// without the right to raise priority keeps the stored class, but SetPriority answers false for a class
// above the thread's current level and GetPriority answers the level the thread really has.
//
// Suspend / Resume stop the thread where it stands, whatever it is doing. Hazards, as with any such stop:
//  - a thread suspended while it holds a lock (its own, the allocator's, the standard library's) blocks
//    every other thread that needs that lock, including the one that wants to resume it;
//  - the suspending thread must therefore not allocate or take locks the target might hold until it has
//    resumed it, and waiting for the end of a suspended thread waits forever;
//  - on POSIX the stop is a signal (the thread blocks in its handler until resumed): a blocking system
//    call of the target is interrupted and restarted, and the signal numbers SIGRTMIN+6 and SIGRTMIN+7 are
//    taken for this;
//  - a thread may suspend itself; it then waits until another thread resumes it. It counts as suspended
//    from the moment it asks; a Resume that comes before it really stands still answers false and
//    should be repeated.
// Use it for diagnostics and tests, not as a way to coordinate threads.
//
// Stop(true) asks for a forced termination. POSIX offers no safe way to kill a single thread, so there the
// stop is only requested and the result is false.
//
// Lifetime: the owner stops the thread and waits for its end (WaitForExit) before destroying the object.
// As a last safety the destructor of a started object requests the stop and waits for the end itself
// (unless it runs on that very thread); a derived class with its own Run must do the same in its own
// destructor, since its part is gone by the time the base destructor runs.
#pragma once

#include <atomic>
#include <climits>
#include <cstdint>

#include "framework/IThreadHandler.h"
#include "platform/Clock.h"
#include "platform/Sync.h"
#include "platform/ThreadPlatform.h"

class MThread {
public:
    // A function run on the dispatcher thread, and its result.
    using WindowCall = int (*)(void* argument);
    // What CallInWindowThread answers for an object that does not use the dispatcher.
    static constexpr int kNoWindow = INT_MAX;

    explicit MThread(IThreadHandler* handler = nullptr);
    MThread(bool usesWindow, IThreadHandler* handler);
    virtual ~MThread();
    MThread(const MThread&) = delete;
    MThread& operator=(const MThread&) = delete;

    // Starts the thread unless one exists (then true at once). With `wait`, waits at most `milliseconds`
    // for the thread to begin. False when the thread cannot be created.
    bool Start(bool wait = false, uint32_t milliseconds = platform::kInfinite);
    // Requests the stop (resuming a suspended thread first); never waits. False without thread. With
    // `terminate` the thread is also ended where it stands, where the platform can do that (false where
    // it cannot: the request alone then stands).
    bool Stop(bool terminate = false);
    // Waits at most `milliseconds` for the thread to end; returns at once on the thread itself.
    void WaitForExit(uint32_t milliseconds);

    bool Suspend();
    bool Resume();

    // Stores the class; applies it when a thread exists (false without thread or when refused).
    bool SetPriority(unsigned priorityClass);
    // The class of the thread's real priority (stored); the stored class without thread.
    int GetPriority();
    bool SetPriorityBoost(bool enable);
    bool IsPriorityBoostEnabled();
    // The previous ideal processor, -1 for a processor that does not exist, 32 without thread.
    int SetIdealProcessor(int processor);

    // Stack to reserve for the next start; 0 takes the default.
    void SetStackSize(uint32_t bytes) { stackSize_ = bytes; }

    platform::ThreadRef GetHandle() const;
    uint32_t GetThreadId() const { return threadId_.load(); }
    bool IsStopRequested() const { return stopRequested_.load(); }
    // A pause of the body that a stop request ends at once; true when it ended by the request.
    bool WaitForStopRequest(uint32_t milliseconds) { return stopEvent_.Wait(milliseconds); }
    bool IsRunning() const { return running_.load(); }
    bool IsSuspended() const { return suspended_.load(); }

    // Runs `function(argument)` on the dispatcher thread and returns its result; 0 when a stop was
    // requested or the dispatcher is gone, kNoWindow when the object does not use it.
    int CallInWindowThread(WindowCall function, void* argument);
    bool IsCallPending() { return callEvent_.IsSignalled(); }

    // True on the dispatcher thread (for the tests and for code that must not wait on it).
    static bool IsWindowThread();
    // Whether the dispatcher thread currently exists.
    static bool WindowExists();

    // The thread's body when no handler is given; the base returns 0 at once.
    virtual int Run();

private:
    static void ThreadBody(void* self);
    void EndWindowUse();
    platform::ThreadRef LastThread() const;

    mutable platform::MCriticalSection state_;  // guards handle_ and last_ against the thread's own end
    platform::ThreadRef handle_;
    // The last thread started, kept after its body has let go of handle_: the waits are on it, so they end
    // only when the thread has left the library's code, not when its body has reached its last lines.
    platform::ThreadRef last_;
    std::atomic<uint32_t> threadId_{0};
    std::atomic<bool> stopRequested_{true};
    std::atomic<bool> suspended_{false};
    platform::MCriticalSection suspendLock_;  // guards the suspension's hand-over between threads
    platform::ThreadRef suspendedHandle_;
    std::atomic<bool> running_{false};
    std::atomic<int> priorityClass_{3};
    platform::MEvent callEvent_{true, false};
    platform::MEvent startedEvent_{true, false};
    platform::MEvent stopEvent_{true, true};  // set exactly when stopRequested_ is
    IThreadHandler* const handler_;
    uint32_t stackSize_ = 0;
    std::atomic<bool> windowUser_{false};
    const bool usesWindow_;
};
