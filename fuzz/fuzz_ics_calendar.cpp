// Calendar texts as a calendar application, a web calendar or an attacker writes them, read by the
// calendar server's iCalendar reader and answered for the window it indexed and for one expanded on
// request: no crash, no hang, and every answer is a JSON list of actions inside its window.
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "CalendarServer.h"
#include "FuzzCheck.h"
#include "IcsCalendar.h"

namespace {

uint64_t At(const char* text) {
    uint64_t instant = 0;
    FUZZ_CHECK(calendar_server::ParseLocalTime(text, &instant, nullptr));
    return instant;
}

void CheckAnswer(const calendar_server::IcsCalendar& calendar, uint64_t from, uint64_t to) {
    std::string json;
    calendar.AppendActions(from, to, &json);
    const nlohmann::json actions = nlohmann::json::parse("[" + json + "]", nullptr, false);
    FUZZ_CHECK(!actions.is_discarded());
    for (const auto& action : actions) {
        uint64_t at = 0;
        FUZZ_CHECK(calendar_server::ParseLocalTime(action["date"].get<std::string>(), &at, nullptr));
        FUZZ_CHECK(at >= from && at <= to);
        FUZZ_CHECK(action["name"].is_string() && action["macro"].is_string());
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A zone with daylight-saving changes inside the windows asked.
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = FuzzText(data, size);
    std::vector<std::string> notes;
    std::string error;
    const uint64_t from = At("2025-03-01T00:00:00"), to = At("2025-04-30T23:59:59");
    auto calendar = calendar_server::IcsCalendar::Parse(text, from, to, &notes, &error);
    if (!calendar) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    CheckAnswer(*calendar, At("2025-03-30T00:00:00"), At("2025-03-30T23:59:59"));
    CheckAnswer(*calendar, At("2025-10-26T00:00:00"), At("2025-10-27T23:59:59"));
    (void)calendar->name();
    return 0;
}
