// The thread facilities the framework's MThread and MThreadTimer stand on: creation, waiting for the end,
// the seven priority classes, suspension, priority boost, ideal processor and the timer-resolution seam.
// Each platform implements it once (src/platform/posix/ for POSIX).
#pragma once

#include <cstdint>
#include <memory>

namespace platform {

// A running (or ended) thread. Shared: the thread itself keeps a reference until its entry returns, so a
// waiter never holds a dangling handle, whoever lets go first.
class ThreadHandle;
using ThreadRef = std::shared_ptr<ThreadHandle>;

using ThreadEntry = void (*)(void* argument);

// Starts `entry(argument)` on a new thread; stackSize 0 takes the default. Null on failure. The thread's
// system id is known when this returns.
ThreadRef ThreadCreate(ThreadEntry entry, void* argument, uint32_t stackSize);

// The system's id of the thread (stays readable after its end) and of the calling thread.
uint32_t ThreadSystemId(const ThreadRef& thread);
uint32_t CurrentThreadSystemId();
bool ThreadIsCurrent(const ThreadRef& thread);

// Waits at most `milliseconds` (kInfinite: without limit) for the entry to return; true when it has.
bool ThreadWaitExit(const ThreadRef& thread, uint32_t milliseconds);
bool ThreadHasExited(const ThreadRef& thread);

// Priority classes: 0 idle, 1 lowest, 2 below normal, 3 normal, 4 above normal, 5 highest, 6 time
// critical; any other class is applied as normal. False when the thread has ended or the system refused
// (on POSIX a process without the right to raise priority cannot go above its own level).
bool ThreadSetPriorityClass(const ThreadRef& thread, int priorityClass);
// Reads the thread's real priority and maps it back to a class; false when it cannot be read.
bool ThreadGetPriorityClass(const ThreadRef& thread, int* priorityClass);

// Stops the thread where it stands, until ThreadResume. Returns false when the thread has ended or the
// stop could not be delivered. A second suspension of a suspended thread does nothing and succeeds.
bool ThreadSuspend(const ThreadRef& thread);
// Lets a suspended thread go on. `previousCount` receives 1 when it had been suspended, 0 otherwise.
bool ThreadResume(const ThreadRef& thread, int* previousCount);

// The system's dynamic priority boost; answered as the platform allows.
bool ThreadSetPriorityBoost(const ThreadRef& thread, bool enable);
bool ThreadIsPriorityBoostEnabled(const ThreadRef& thread, bool* enabled);

// Ends the thread where it stands, with its own exit code, where the platform can do that; the thread's
// entry never returns then. False when the thread has ended or the platform has no such operation (POSIX:
// no thread can be ended alone without leaving the process in an undefined state).
bool ThreadTerminate(const ThreadRef& thread);

// The processor the thread would rather run on. Returns the previous ideal processor, or -1 when the
// processor does not exist; kIdealProcessorQuery only reads it.
constexpr int kIdealProcessorQuery = 32;
int ThreadSetIdealProcessor(const ThreadRef& thread, int processor);

// The resolution of the platform's timer, raised for a timer's lifetime where the platform has such a
// setting. Begin and End must pair up, as on the platform.
void TimerResolutionBegin(uint32_t milliseconds);
void TimerResolutionEnd(uint32_t milliseconds);
// Requests begun and not yet ended, for the given resolution.
int TimerResolutionRequests(uint32_t milliseconds);

}  // namespace platform
