// What the module's last release needs before the host may unload the library: the platform may still
// hold requests that were closed by their owners (a cancelled exchange), and it calls back into this
// library until each has ended.
#pragma once

#include <cstdint>

namespace platform {

// Requests of the system HTTP backend that the platform has not yet let go of, closed or not.
int LiveHttpRequests();

// Waits at most timeoutMs for LiveHttpRequests() to reach zero; true when it did. Never called while the
// system holds its loader lock (the library's load and unload entry), where the platform's threads that
// end the requests could not run.
bool WaitForHttpRequestsToEnd(uint32_t timeoutMs);

// Keeps this library loaded until the process ends, whatever the host does: the way out when requests
// did not end in time, so that their late notifications never run unloaded code.
void PinOwnLibrary();

}  // namespace platform
