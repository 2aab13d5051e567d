// The process's stop requests: SIGINT and SIGTERM on POSIX; Ctrl+C, Ctrl+Break, closing the console,
// logging off and shutting down on Windows. Caught, they wake one waiting thread instead of ending the
// process, so that the program stops cleanly.
#pragma once

namespace platform {

// Call once, before any other thread starts (POSIX threads inherit the blocked signals).
void CatchStopRequests();
// Blocks until a stop request arrives or WakeStopWaiter is called.
void WaitStopRequest();
// Wakes WaitStopRequest as a request would (the program ended by itself).
void WakeStopWaiter();
// Ends the process at once with the code: no destructors, no waiting for other threads.
[[noreturn]] void ExitNow(int code);

}  // namespace platform
