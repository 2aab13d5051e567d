// An action's "date" text as the server sends it, any bytes at all.
#include <cstdint>
#include <cstring>

#include "FuzzCheck.h"
#include "calendar/MCalendarEvent.h"
#include "platform/Clock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A heap copy of exactly the input and its terminator: reading one byte too far is reported.
    char* text = new char[size + 1];
    std::memcpy(text, data, size);
    text[size] = '\0';
    MCalendarEvent event;
    event.time = 0x1234;
    bool ok = ParseEventTime(text, &event);
    if (!ok) {
        FUZZ_CHECK(event.time == 0x1234);  // a rejected date leaves the action's time alone
    } else {
        // An accepted date is a real calendar time: it converts back to the same instant.
        platform::CalendarTime back;
        FUZZ_CHECK(platform::InstantToCalendar(event.time, &back));
        uint64_t again = 0;
        FUZZ_CHECK(platform::CalendarToInstant(back, &again));
        FUZZ_CHECK(again == event.time);
    }
    delete[] text;
    return 0;
}
