// The process-wide call window of the framework's threads: one thread of its own that runs marshalled calls
// one at a time, in order. It exists from the first use (CallWindowAddUser) to the end of the last; when
// the last user leaves, its end is requested and happens once the calls before it have run, unless a new
// user came meanwhile. Windows: a hidden window with its own message loop (messages 0x8FFE and 0x8FFF);
// POSIX: a thread with a queue.
#pragma once

#include <cstdint>

namespace platform {

using CallWindowFunction = int (*)(void* argument);

void CallWindowAddUser();
void CallWindowRemoveUser();
// Runs function(argument) on the window's thread and waits for its result; on that thread itself the call
// runs directly. False when no window exists.
bool CallWindowCall(CallWindowFunction function, void* argument, int* result);
bool CallWindowIsCurrent();
bool CallWindowExists();
// When the window's end is pending, gives it up to `milliseconds` to finish and collects its thread, so
// that no code of the library runs on it afterwards.
void CallWindowSettlePendingEnd(uint32_t milliseconds);

}  // namespace platform
