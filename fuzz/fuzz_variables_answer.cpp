// The answer to GET /apiv1/variable?locationid=<id>, any bytes, through the REST client into the store:
// plain and enumerated variables as the reference reading has them.
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "FuzzRest.h"
#include "ReferenceAnswers.h"
#include "calendar/MCalendarEnumVariable.h"
#include "calendar/MCalendarStore.h"
#include "server/MCalendarRESTClient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    int locationId = input.ConsumeIntegral<int>();
    FakeHttpBackend backend;
    std::string body = ScriptAnswer(input, &backend);

    MCalendarStore store;
    auto* before = new CalendarVariableList();
    before->push_back(new MCalendarVariable(1, 2, "before"));
    store.SetVariables(before);
    MCalendarRESTClient client(&store);
    client.SetBackend(&backend);
    const bool replaced = client.RefreshVariables(locationId);

    std::vector<reference::json> elements;
    CalendarVariableList* after = store.GetVariables();
    const bool readable = reference::Elements(body, "variables", &elements);
    FUZZ_CHECK(replaced == readable);
    if (!readable) {
        FUZZ_CHECK(after == before);
        return 0;
    }
    FUZZ_CHECK(after != before);
    FUZZ_CHECK(after->size() == elements.size());
    auto it = after->begin();
    for (const reference::json& element : elements) {
        int32_t type = 0, id = 0;
        std::string text, name;
        reference::ReadInt(element, "var_type", &type);
        reference::ReadText(element, "var_data", &text);
        reference::ReadInt(element, "variable_id", &id);
        reference::ReadText(element, "name", &name);
        MCalendarVariable* v = *it++;
        FUZZ_CHECK(v != nullptr);
        FUZZ_CHECK(v->var_type == type);
        FUZZ_CHECK(v->variable_id == id);
        FUZZ_CHECK(v->name == name);
        FUZZ_CHECK(v->location_id == locationId);
        auto* enumerated = dynamic_cast<MCalendarEnumVariable*>(v);
        FUZZ_CHECK((enumerated != nullptr) == (type == MCalendarVariable::kEnumType));
        if (enumerated) {
            MCalendarEnumVariable expected;
            expected.AppendItemsFromText(text.c_str());
            FUZZ_CHECK(enumerated->values == expected.values);
        }
    }
    return 0;
}
