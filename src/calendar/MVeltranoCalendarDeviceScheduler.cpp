// The worker's scheduler pass of the calendar device: the refresh cycle, the firing of due actions and a
// requested database synchronisation. Run calls it after the commands of each pass while the device is
// enabled; it works on the scheduler state and the request flags of the device.
#include "calendar/MVeltranoCalendarDevice.h"

void MVeltranoCalendarDevice::RunSchedulerPass() {
    // The refresh cycle and the scheduler join here; until then the worker only executes commands.
}
