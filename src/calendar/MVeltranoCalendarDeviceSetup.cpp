// The calendar device's setup dialog: run modally from Configure on the host's thread.
#include "calendar/MVeltranoCalendarDevice.h"

int MVeltranoCalendarDevice::RunSetupDialog(const DialogPlacement&) {
    // No dialog can be shown yet: the setup counts as cancelled and the settings stay as they are.
    return 0;
}
