// The answer to GET /apiv1/calendar/<id>/actions, any bytes, through the REST client into the store: the
// same records as the reference reading, sorted by time.
#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "FuzzCheck.h"
#include "FuzzRest.h"
#include "ReferenceAnswers.h"
#include "calendar/MCalendarEvent.h"
#include "calendar/MCalendarStore.h"
#include "server/MCalendarRESTClient.h"

namespace {

using Record = std::tuple<uint64_t, std::string, std::string, int32_t, std::string>;

Record Of(const MCalendarEvent& e) {
    return Record(e.time, e.name, e.macro, e.macro_action, e.macro_data);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    int lookahead = input.ConsumeIntegralInRange<int>(-1, 3);
    FakeHttpBackend backend;
    std::string body = ScriptAnswer(input, &backend);

    MCalendarStore store;
    auto* before = new CalendarEventList();
    before->Add(new MCalendarEvent())->name = "before";
    store.SetEvents(before);
    MCalendarRESTClient client(&store);
    client.SetBackend(&backend);
    client.RefreshActions(7, lookahead);

    std::vector<reference::json> elements;
    CalendarEventList* after = store.GetEvents();
    if (!reference::Elements(body, "calendaractions", &elements)) {
        FUZZ_CHECK(after == before);
        return 0;
    }
    FUZZ_CHECK(after != before);
    std::vector<Record> expected;
    for (const reference::json& element : elements) {
        MCalendarEvent e;
        reference::ReadText(element, "name", &e.name);
        reference::ReadText(element, "macro", &e.macro);
        std::string date;
        reference::ReadText(element, "date", &date);
        if (!date.empty()) ParseEventTime(date.c_str(), &e);
        reference::ReadInt(element, "macro_action", &e.macro_action);
        reference::ReadText(element, "macro_data", &e.macro_data);
        expected.push_back(Of(e));
    }
    std::vector<Record> got;
    uint64_t previous = 0;
    for (MCalendarEvent* e = after->GetFirst(); e; e = after->GetNext()) {
        FUZZ_CHECK(e->time >= previous);  // ascending time, as the scheduler walks it
        previous = e->time;
        got.push_back(Of(*e));
    }
    // Actions of equal time may come in any order.
    std::sort(expected.begin(), expected.end());
    std::sort(got.begin(), got.end());
    FUZZ_CHECK(got == expected);
    return 0;
}
