// The bounded command queue between the host's threads and a device's worker: a first-in-first-out queue
// of waiting commands, one current command, a manual-reset event that wakes the worker and a lock.
//
// A device derives from it and overrides ExecuteCommand, which acts on the command and ends it with
// CompleteCurrent. Its worker waits for the event, runs ExecutePending, and its timer runs WatchdogPass,
// which starts a command that overran its time-out once more and drops it after the second time-out.
//
// Results: -1 null command, -2 nothing current or queue empty, -3 busy (a command is current, the lock is
// held elsewhere or commands are queued). A full queue never refuses a command: the oldest waiting one is
// destroyed instead. The check is made before the new command goes in, so the queue holds at most the
// maximum plus one commands (1001 with the default).
//
// Without hold-lock-while-executing, ExecuteCommand runs after the lock is released; a Flush or
// CompleteCurrent from another thread may then destroy the command under it. Devices that complete
// commands from more than one thread keep the lock held (the calendar device does).
#pragma once

#include <cstdint>
#include <deque>

#include "framework/MCommandObject.h"
#include "platform/Sync.h"

class MThread;

class MCommandManager {
public:
    static constexpr uint32_t kDefaultMaxQueueLength = 1000;

    MCommandManager(int defaultTimeout, bool immediate, bool holdLockWhileExecuting);
    MCommandManager(const MCommandManager&) = delete;
    MCommandManager& operator=(const MCommandManager&) = delete;

    // Waits at most `milliseconds` for the command event; true when it was signalled.
    virtual bool WaitForCommand(uint32_t milliseconds);
    virtual void SignalCommand();
    // Resets the event; takes the oldest waiting command as current: 0, -2 when none waits, -3 when a
    // command is current.
    virtual int FetchNextCommand();
    // (Re)starts the current command: its start time becomes now and ExecuteCommand runs; -2 without one.
    virtual int ExecuteCurrent();
    // Destroys the current command (-2 without one); signals the event when commands still wait.
    virtual int CompleteCurrent();
    virtual int ResetSignalIfCurrent();
    // Takes ownership of `command`: 1 executed at once (immediate mode), 2 queued, 3 queued after the
    // oldest waiting command was dropped, -1 for null. A command without time-out gets the default.
    virtual int PostCommand(MCommandObject* command);
    // Executes `command` at once when nothing waits, nothing is current and the lock is free: 1 (the
    // manager then owns it); otherwise -3 and the command stays the caller's. -1 for null.
    virtual int ExecuteNow(MCommandObject* command);
    // True when the current command has run past its time-out; the lock then stays held and the caller
    // must call Unlock. `out` receives the current command (null when none).
    virtual bool IsCurrentTimedOut(MCommandObject** out);
    // The execution hook; the base does nothing.
    virtual bool ExecuteCommand(MCommandObject* command);
    virtual void SetMaxQueueLength(uint32_t length);
    virtual uint32_t GetMaxQueueLength();
    virtual ~MCommandManager();

    // Takes the lock and returns the current command with the lock held, or null (lock released).
    MCommandObject* LockCurrent();
    void Unlock();
    // Destroys every waiting command and the current one.
    void Flush();

    // The worker's side: fetches and executes waiting commands one after another until none is left, a
    // command stays current or `thread` (if given) is asked to stop. Returns how many were started.
    int ExecutePending(const MThread* thread = nullptr);
    // The timer's side: a command that overran its time-out is started again once; after its second
    // time-out it is destroyed and the next waiting command is started.
    void WatchdogPass();

    uint32_t GetQueueLength();
    bool IsSignalled() { return event_.IsSignalled(); }

private:
    // Takes the oldest waiting command out (null when none).
    MCommandObject* TakeOldest();
    // Runs ExecuteCommand for the current command. Entered with the lock held once; returns with it
    // released.
    void RunCurrentAndLeave(MCommandObject* command);
    static uint32_t StartTimeNow();

    // New commands go in at the back, the oldest leaves from the front.
    std::deque<MCommandObject*> queue_;
    platform::MCriticalSection queueLock_;
    MCommandObject* current_ = nullptr;
    uint32_t startTime_ = 0;  // 0: the current command has not been started
    int defaultTimeout_;
    platform::MCriticalSection lock_;
    bool immediate_;
    bool holdLock_;
    uint32_t maxQueueLength_ = kDefaultMaxQueueLength;
    platform::MEvent event_{true, false};
};
