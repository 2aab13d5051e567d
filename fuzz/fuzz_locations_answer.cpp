// The answer to GET /apiv1/location, any bytes, through the REST client into the store.
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "FuzzRest.h"
#include "ReferenceAnswers.h"
#include "calendar/MCalendarStore.h"
#include "server/MCalendarRESTClient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    FakeHttpBackend backend;
    std::string body = ScriptAnswer(input, &backend);

    MCalendarStore store;
    auto* before = new CalendarLocationList();
    before->Add(new MCalendarLocation())->name = "before";
    store.SetLocations(before);
    MCalendarRESTClient client(&store);
    client.SetBackend(&backend);
    // True exactly when the answer could be read and replaced the list.
    const bool replaced = client.RefreshLocations();

    std::vector<reference::json> elements;
    CalendarLocationList* after = store.GetLocations();
    const bool readable = reference::Elements(body, "locations", &elements);
    FUZZ_CHECK(replaced == readable);
    if (!readable) {
        FUZZ_CHECK(after == before);  // an unreadable answer leaves the list as it was
        return 0;
    }
    FUZZ_CHECK(after != before);
    FUZZ_CHECK(after->GetCount() == static_cast<int>(elements.size()));
    MCalendarLocation* location = after->GetFirst();
    for (const reference::json& element : elements) {
        MCalendarLocation expected;
        reference::ReadInt(element, "location_id", &expected.location_id);
        reference::ReadText(element, "comment", &expected.comment);
        reference::ReadText(element, "name", &expected.name);
        FUZZ_CHECK(location != nullptr);
        FUZZ_CHECK(location->location_id == expected.location_id);
        FUZZ_CHECK(location->comment == expected.comment);
        FUZZ_CHECK(location->name == expected.name);
        location = after->GetNext();
    }
    return 0;
}
