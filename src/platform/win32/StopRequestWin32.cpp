#include <windows.h>

#include <cstdlib>

#include "platform/StopRequest.h"

namespace platform {
namespace {

HANDLE StopEvent() {
    // Manual reset: once stopping, every later wait returns at once.
    static HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event;
}

BOOL WINAPI OnControl(DWORD type) {
    // Only a service sees a log-off (console programs end with their session): a user who logs off does not
    // stop the service.
    if (type == CTRL_LOGOFF_EVENT) return FALSE;
    SetEvent(StopEvent());
    // Closing the console, logging off and shutting down end the process as soon as the handler returns:
    // it waits for the clean stop instead, which the program bounds itself.
    if (type == CTRL_CLOSE_EVENT || type == CTRL_SHUTDOWN_EVENT) Sleep(5000);
    return TRUE;
}

}  // namespace

void CatchStopRequests() {
    StopEvent();
    SetConsoleCtrlHandler(OnControl, TRUE);
}

void WaitStopRequest() {
    WaitForSingleObject(StopEvent(), INFINITE);
}

void WakeStopWaiter() {
    SetEvent(StopEvent());
}

void ExitNow(int code) {
    std::_Exit(code);
}

}  // namespace platform
