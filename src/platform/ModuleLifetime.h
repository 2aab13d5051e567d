// What the library needs so that a host may unload it at any time: the platform's own threads that may
// still run this library's code once its last object is gone keep it loaded instead.
#pragma once

namespace platform {

// Keeps this library loaded until the process ends, whatever the host does. Windows: at the first HTTP
// request, since WinHTTP's threads run the library's callbacks until well after a request was closed (and
// no wait can tell when the last of them has returned). POSIX: at the first name lookup, whose thread may
// outlive its transfer. Both: when a host call is given up at Stop, since the host keeps its context.
void PinOwnLibrary();

}  // namespace platform
