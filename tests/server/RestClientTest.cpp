// The REST client against a scripted backend: server address, request targets and bodies, and the lenient
// reading of answers into the store.
#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <random>

#include "FakeHttpBackend.h"
#include "calendar/MCalendarEnumVariable.h"
#include "calendar/MCalendarStore.h"
#include "server/MCalendarRESTClient.h"
#include "support/FakeClock.h"

namespace {

class RestClient : public ::testing::Test {
protected:
    RestClient() { client.SetBackend(&fake); }

    // Queues one answer of the server.
    void Answer(const std::string& body, uint32_t status = 200) {
        fake.script.push_back(::Answer(status, body));
    }

    std::vector<MCalendarEvent*> Events() {
        std::vector<MCalendarEvent*> v;
        CalendarEventList* list = store.GetEvents();
        for (MCalendarEvent* e = list->GetFirst(); e; e = list->GetNext()) v.push_back(e);
        return v;
    }
    std::vector<MCalendarLocation*> Locations() {
        std::vector<MCalendarLocation*> v;
        CalendarLocationList* list = store.GetLocations();
        for (MCalendarLocation* l = list->GetFirst(); l; l = list->GetNext()) v.push_back(l);
        return v;
    }
    std::vector<MCalendarVariable*> Variables() {
        return std::vector<MCalendarVariable*>(store.GetVariables()->begin(), store.GetVariables()->end());
    }
    static uint64_t At(uint16_t y, uint16_t mo, uint16_t d, uint16_t h = 0, uint16_t mi = 0, uint16_t s = 0) {
        platform::CalendarTime t;
        t.year = y, t.month = mo, t.day = d, t.hour = h, t.minute = mi, t.second = s;
        uint64_t instant = 0;
        platform::CalendarToInstant(t, &instant);
        return instant;
    }

    FakeHttpBackend fake;
    MCalendarStore store;
    MCalendarRESTClient client{&store};
};

}  // namespace

TEST_F(RestClient, ServerUrlGivesHostAndPortAsTheSettingsWriteThem) {
    EXPECT_EQ(L"127.0.0.1", client.GetHost());
    EXPECT_EQ(9256, client.GetPort());
    struct Case {
        const wchar_t* url;
        const wchar_t* host;
        int32_t port;
    } cases[] = {
        {L"http://server:8080", L"server", 8080},
        {L"server", L"server", 9256},
        {L"server:", L"server", 9256},
        {L"http://server:8080/api", L"server", 8080},
        {L"HTTP://server", L"HTTP", 0},
        {L"https://server:443", L"https", 0},
        {L"server/api", L"server/api", 9256},
        {L"server: +81", L"server", 81},
        {L"server:-5", L"server", -5},
        {L"server:abc", L"server", 0},
        {L"server:99999999999", L"server", INT32_MAX},
        {L"server:-99999999999", L"server", INT32_MIN},
        {L"", L"", 9256},
        {L"http://", L"", 9256},
        {L":1", L"", 1},
    };
    for (const Case& c : cases) {
        client.SetServerURL(L"other:1234");
        client.SetServerURL(c.url);
        EXPECT_EQ(c.host, client.GetHost()) << c.url;
        EXPECT_EQ(c.port, client.GetPort()) << c.url;
    }
}

TEST_F(RestClient, ServerUrlSurvivesArbitraryCharacters) {
    std::mt19937 random(7);
    for (int i = 0; i < 2000; ++i) {
        std::wstring url(random() % 40, L'\0');
        for (wchar_t& c : url) c = static_cast<wchar_t>(random() % 4 ? random() % 128 : random() % 0x110000);
        client.SetServerURL(url);
        EXPECT_LE(client.GetHost().size(), url.size());
    }
}

TEST_F(RestClient, EveryRequestUsesThePlainAgentWithoutCredentials) {
    client.SetServerURL(L"http://calendar:74792");
    Answer("{}");
    EXPECT_TRUE(client.RefreshLocations());
    const std::vector<std::string> start = {"Open WinHttpClient", "Connect calendar:9256",
                                            "OpenRequest GET /apiv1/location 0x100", "Send"};
    EXPECT_EQ(start, std::vector<std::string>(fake.calls.begin(), fake.calls.begin() + 4));
    EXPECT_EQ(L"", fake.sentHeaders[0]);
    EXPECT_EQ(0, fake.Count("SetCredentials"));
}

TEST_F(RestClient, ActionTargetsUseTheDateFormOrTheRangeToTheLastLookaheadDay) {
    const uint64_t dec30 = At(2024, 12, 30, 18, 45, 10);
    EXPECT_EQ(L"/apiv1/calendar/3/actions?date=2024-12-30", MCalendarRESTClient::ActionsPath(3, 0, dec30));
    EXPECT_EQ(L"/apiv1/calendar/3/actions?date=2024-12-30", MCalendarRESTClient::ActionsPath(3, 1, dec30));
    EXPECT_EQ(L"/apiv1/calendar/3/actions?date=2024-12-30", MCalendarRESTClient::ActionsPath(3, -4, dec30));
    EXPECT_EQ(L"/apiv1/calendar/3/actions?start=2024-12-30T00:00:00&end=2025-01-01T23:59:59",
              MCalendarRESTClient::ActionsPath(3, 2, dec30));
    EXPECT_EQ(L"/apiv1/calendar/-1/actions?start=2024-02-28T00:00:00&end=2024-03-01T23:59:59",
              MCalendarRESTClient::ActionsPath(-1, 2, At(2024, 2, 28)));
    // A stored lookahead longer than the server serves is used as 366 days.
    EXPECT_EQ(L"/apiv1/calendar/3/actions?start=2024-12-30T00:00:00&end=2025-12-31T23:59:59",
              MCalendarRESTClient::ActionsPath(3, INT_MAX, dec30));
    // A lookahead past the calendar's end stops at its last day instead of wrapping around.
    EXPECT_EQ(L"/apiv1/calendar/3/actions?start=30827-12-30T00:00:00&end=30827-12-31T23:59:59",
              MCalendarRESTClient::ActionsPath(3, 366, At(30827, 12, 30)));
}

TEST_F(RestClient, RefreshActionsAsksForTheClocksToday) {
    FakeClock clock;
    clock.SetLocal(2024, 12, 30, 23, 59, 59);
    Answer("{}");
    Answer("{}");
    client.RefreshActions(5, 1);
    client.RefreshActions(5, 2);
    EXPECT_EQ(1, fake.Count("OpenRequest GET /apiv1/calendar/5/actions?date=2024-12-30 0x100"));
    EXPECT_EQ(
        1, fake.Count("OpenRequest GET "
                      "/apiv1/calendar/5/actions?start=2024-12-30T00:00:00&end=2025-01-01T23:59:59 0x100"));
}

TEST_F(RestClient, VariableRequestsCarryTheirBodiesByteForByte) {
    Answer("", 201);
    Answer("", 200);
    Answer("", 200);
    Answer("{}", 200);
    MCalendarVariable show(0, 2, "Show");
    show.location_id = 99;  // the record's own location is not sent
    EXPECT_TRUE(client.CreateVariable(7, &show));
    MCalendarEnumVariable mode(12, "Mode");
    mode.values = {"Day", "Night"};
    EXPECT_TRUE(client.UpdateVariable(7, &mode));
    EXPECT_TRUE(client.DeleteVariable(7, 12));
    EXPECT_TRUE(client.RefreshVariables(7));

    EXPECT_EQ(1, fake.Count("OpenRequest POST /apiv1/variable 0x100"));
    EXPECT_EQ(1, fake.Count("OpenRequest PUT /apiv1/variable 0x100"));
    EXPECT_EQ(1, fake.Count("OpenRequest DELETE /apiv1/variable/12 0x100"));
    EXPECT_EQ(1, fake.Count("OpenRequest GET /apiv1/variable?locationid=7 0x100"));
    ASSERT_EQ(4u, fake.sentBodies.size());
    EXPECT_EQ("{\"location_id\":7,\"name\":\"Show\",\"var_type\":2,\"variable_id\":0}", fake.sentBodies[0]);
    EXPECT_EQ(
        "{\"location_id\":7,\"name\":\"Mode\",\"var_data\":\"Day,Night\",\"var_type\":4,\"variable_id\":12}",
        fake.sentBodies[1]);
    EXPECT_EQ(L"Content_Type: application/json", fake.sentHeaders[0]);
    EXPECT_EQ(L"Content_Type: application/json", fake.sentHeaders[1]);
    EXPECT_EQ("", fake.sentBodies[2]);
    EXPECT_EQ(L"", fake.sentHeaders[2]);
    EXPECT_EQ(L"", fake.sentHeaders[3]);
}

TEST_F(RestClient, VariableBodiesKeepUtf8AndRefuseWhatIsNotUtf8) {
    Answer("");
    MCalendarVariable accented(3, 1, "Caf\xC3\xA9 \"A\"");
    EXPECT_TRUE(client.CreateVariable(1, &accented));
    EXPECT_EQ("{\"location_id\":1,\"name\":\"Caf\xC3\xA9 \\\"A\\\"\",\"var_type\":1,\"variable_id\":3}",
              fake.sentBodies[0]);

    MCalendarVariable broken(3, 1, "bad \xC3(");
    EXPECT_FALSE(client.UpdateVariable(1, &broken));
    EXPECT_FALSE(client.CreateVariable(1, nullptr));
    EXPECT_EQ(1, fake.Count("Send"));
}

TEST_F(RestClient, RequestResultsNeedA2xxStatus) {
    FakeResponse refused;
    refused.sendOk = false;
    Answer("", 500);
    Answer("", 299);
    fake.script.push_back(refused);
    MCalendarVariable v(0, 1, "x");
    EXPECT_FALSE(client.CreateVariable(1, &v));
    EXPECT_TRUE(client.UpdateVariable(1, &v));
    EXPECT_FALSE(client.DeleteVariable(1, 2));
}

TEST_F(RestClient, ErrorAnswersWithJsonBodiesKeepEveryList) {
    Answer(R"({"locations": [{"location_id": 1, "name": "Kept"}]})");
    Answer(R"({"calendaractions": [{"name": "kept", "date": "2024-01-01"}]})");
    Answer(R"({"variables": [{"name": "kept"}]})");
    ASSERT_TRUE(client.RefreshLocations());
    client.RefreshActions(1, 0);
    ASSERT_TRUE(client.RefreshVariables(1));
    CalendarLocationList* locations = store.GetLocations();
    CalendarEventList* events = store.GetEvents();
    CalendarVariableList* variables = store.GetVariables();
    const std::pair<uint32_t, const char*> errors[] = {
        {500, R"({"error":"boom"})"}, {404, R"({"error":"unknown location"})"}, {304, "null"}};
    for (const auto& e : errors) {
        for (int i = 0; i < 5; ++i) Answer(e.second, e.first);
        EXPECT_FALSE(client.RefreshLocations()) << e.first;
        EXPECT_FALSE(client.TestConnection()) << e.first;
        client.RefreshActions(1, 0);
        EXPECT_FALSE(client.RefreshVariables(1)) << e.first;
        uint32_t status = 0;
        EXPECT_FALSE(client.RefreshVariables(1, &status)) << e.first;
        EXPECT_EQ(e.first, status);
    }
    EXPECT_EQ(locations, store.GetLocations());
    EXPECT_EQ(events, store.GetEvents());
    EXPECT_EQ(variables, store.GetVariables());
    EXPECT_EQ("kept", Events()[0]->name);
}

TEST_F(RestClient, LocationsAreReadFieldByFieldAndReplaceTheList) {
    Answer(R"({"locations": [
        {"location_id": 7, "name": "Main hall", "comment": "upstairs", "extra": [1]},
        {"location_id": "8", "name": 5, "comment": null},
        {"location_id": 2.75, "name": "Foyer"},
        {"location_id": true},
        "not an object"
    ], "other": 1})");
    EXPECT_TRUE(client.RefreshLocations());
    const auto l = Locations();
    ASSERT_EQ(5u, l.size());
    EXPECT_EQ(7, l[0]->location_id);
    EXPECT_EQ("Main hall", l[0]->name);
    EXPECT_EQ("upstairs", l[0]->comment);
    EXPECT_EQ(0, l[1]->location_id);
    EXPECT_EQ("", l[1]->name);
    EXPECT_EQ(2, l[2]->location_id);
    EXPECT_EQ("Foyer", l[2]->name);
    EXPECT_EQ(1, l[3]->location_id);
    EXPECT_EQ(0, l[4]->location_id);
}

TEST_F(RestClient, UnreadableLocationAnswersLeaveTheListAsItWas) {
    Answer(R"({"locations": [{"location_id": 1, "name": "Kept"}]})");
    ASSERT_TRUE(client.RefreshLocations());
    CalendarLocationList* before = store.GetLocations();
    for (const char* body :
         {"<html><body>Not Found</body></html>", "[1, 2]", "\"text\"", "{\"locations\": [",
          "{\"locations\": [] /* comment */}", "", "{\"locations\": [{\"name\": \"a\xFF\"}]}"}) {
        Answer(body);
        EXPECT_FALSE(client.RefreshLocations()) << body;
        EXPECT_EQ(before, store.GetLocations()) << body;
    }
    EXPECT_EQ("Kept", Locations()[0]->name);
    FakeResponse refused;
    refused.sendOk = false;
    fake.script.push_back(refused);
    EXPECT_FALSE(client.TestConnection());
    EXPECT_EQ(before, store.GetLocations());
}

TEST_F(RestClient, EmptyOrNullLocationAnswersEmptyTheList) {
    for (const char* body :
         {R"({"locations": []})", "{}", "null", R"({"locations": null})", R"({"locations": {}})"}) {
        Answer(R"({"locations": [{"location_id": 1}]})");
        ASSERT_TRUE(client.RefreshLocations());
        ASSERT_EQ(1u, Locations().size());
        Answer(body);
        EXPECT_TRUE(client.TestConnection()) << body;
        EXPECT_EQ(0u, Locations().size()) << body;
    }
}

TEST_F(RestClient, MembersOfAnObjectAndABareScalarAreElementsToo) {
    Answer(R"({"locations": {"a": {"location_id": 4}, "b": {"location_id": 5}}})");
    EXPECT_TRUE(client.RefreshLocations());
    ASSERT_EQ(2u, Locations().size());
    EXPECT_EQ(4, Locations()[0]->location_id);
    Answer(R"({"locations": 12})");
    EXPECT_TRUE(client.RefreshLocations());
    ASSERT_EQ(1u, Locations().size());
    EXPECT_EQ(0, Locations()[0]->location_id);
}

TEST_F(RestClient, ActionsAreReadLenientlyAndSortedByTime) {
    Answer(R"({"calendaractions": [
        {"name": "late", "macro": "Show", "date": "2024-05-01T22:00:00", "macro_action": 1},
        {"name": "early", "macro": "Lights", "date": "2024-05-01T08:30:00.000+02:00", "macro_action": 2,
         "macro_data": "On"},
        {"name": "undated", "macro": "x", "macro_action": "1"},
        {"name": "blank", "date": "", "macro_action": 2.9},
        {"name": "bad date", "date": "2024-13-01", "macro_action": 1e300},
        {"name": "day only", "date": "2024-05-01", "macro_action": -3}
    ]})");
    client.RefreshActions(1, 0);
    const auto e = Events();
    ASSERT_EQ(6u, e.size());
    // The three without a usable date come first (their order among each other is the sort's).
    for (int i = 0; i < 3; ++i) EXPECT_EQ(0u, e[i]->time) << e[i]->name;
    EXPECT_EQ("day only", e[3]->name);
    EXPECT_EQ(At(2024, 5, 1), e[3]->time);
    EXPECT_EQ(-3, e[3]->macro_action);
    EXPECT_EQ("early", e[4]->name);
    EXPECT_EQ(At(2024, 5, 1, 8, 30), e[4]->time);
    EXPECT_EQ("Lights", e[4]->macro);
    EXPECT_EQ(2, e[4]->macro_action);
    EXPECT_EQ("On", e[4]->macro_data);
    EXPECT_EQ("late", e[5]->name);
    EXPECT_EQ(1, e[5]->macro_action);
    std::map<std::string, int32_t> kinds;
    for (int i = 0; i < 3; ++i) kinds[e[i]->name] = e[i]->macro_action;
    EXPECT_EQ(0, kinds["undated"]);  // a string is not a number
    EXPECT_EQ(2, kinds["blank"]);
    EXPECT_EQ(INT32_MIN, kinds["bad date"]);
}

TEST_F(RestClient, UnreadableActionsOrAFailedExchangeKeepTheEventList) {
    Answer(R"({"calendaractions": [{"name": "kept", "date": "2024-01-01"}]})");
    client.RefreshActions(1, 0);
    CalendarEventList* before = store.GetEvents();
    Answer("{\"calendaractions\": [{\"name\": \"cut");
    client.RefreshActions(1, 0);
    FakeResponse refused;
    refused.sendOk = false;
    fake.script.push_back(refused);
    client.RefreshActions(1, 0);
    EXPECT_EQ(before, store.GetEvents());
    EXPECT_EQ("kept", Events()[0]->name);
}

TEST_F(RestClient, VariablesAreReadAsPlainOrEnumeratedRecordsOfTheAskedLocation) {
    Answer(R"({"variables": [
        {"variable_id": 12, "name": "Mode", "var_type": 4, "var_data": "Off, On", "location_id": 99},
        {"variable_id": 13, "name": "Count", "var_type": 1, "var_data": "ignored"},
        7,
        {"variable_id": 14, "name": "Empty enum", "var_type": 4}
    ]})");
    EXPECT_TRUE(client.RefreshVariables(3));
    const auto v = Variables();
    ASSERT_EQ(4u, v.size());
    auto* mode = dynamic_cast<MCalendarEnumVariable*>(v[0]);
    ASSERT_NE(nullptr, mode);
    EXPECT_EQ((std::vector<std::string>{"Off", "On"}), mode->values);
    EXPECT_EQ(12, mode->variable_id);
    EXPECT_EQ(4, mode->var_type);
    EXPECT_EQ(3, mode->location_id);
    EXPECT_EQ(nullptr, dynamic_cast<MCalendarEnumVariable*>(v[1]));
    EXPECT_EQ("Count", v[1]->name);
    EXPECT_EQ(1, v[1]->var_type);
    EXPECT_EQ(nullptr, dynamic_cast<MCalendarEnumVariable*>(v[2]));
    EXPECT_EQ(0, v[2]->var_type);
    EXPECT_EQ(0, v[2]->variable_id);
    EXPECT_EQ("", v[2]->name);
    EXPECT_EQ(3, v[2]->location_id);
    auto* empty = dynamic_cast<MCalendarEnumVariable*>(v[3]);
    ASSERT_NE(nullptr, empty);
    EXPECT_TRUE(empty->values.empty());
}

TEST_F(RestClient, VariablesResultTellsWhetherTheListWasReplaced) {
    Answer(R"({"variables": [{"name": "kept"}]})");
    ASSERT_TRUE(client.RefreshVariables(1));
    CalendarVariableList* before = store.GetVariables();
    Answer("not json");
    EXPECT_FALSE(client.RefreshVariables(1));
    EXPECT_EQ(before, store.GetVariables());
    FakeResponse refused;
    refused.sendOk = false;
    fake.script.push_back(refused);
    EXPECT_FALSE(client.RefreshVariables(1));
    EXPECT_EQ(before, store.GetVariables());
    EXPECT_EQ("kept", Variables()[0]->name);
}

TEST_F(RestClient, ReadersSurviveArbitraryAndMangledAnswers) {
    const std::string seeds[] = {
        R"({"locations":[{"location_id":1,"name":"a","comment":"b"}]})",
        R"({"calendaractions":[{"name":"n","macro":"m","date":"2024-05-01T10:00:00","macro_action":1,"macro_data":"d"}]})",
        R"({"variables":[{"variable_id":1,"name":"v","var_type":4,"var_data":"a,b, c"}]})",
    };
    std::mt19937 random(11);
    for (int i = 0; i < 3000; ++i) {
        std::string body = seeds[i % 3];
        const int edits = 1 + static_cast<int>(random() % 6);
        for (int k = 0; k < edits; ++k) {
            const size_t at = random() % (body.size() + 1);
            switch (random() % 3) {
                case 0:
                    body.insert(at, 1, static_cast<char>(random() % 256));
                    break;
                case 1:
                    if (at < body.size()) body.erase(at, 1);
                    break;
                default:
                    if (at < body.size()) body[at] = static_cast<char>(random() % 256);
                    break;
            }
        }
        if (i % 50 == 0) body = std::string(random() % 64, static_cast<char>(random() % 256));
        Answer(body);
        Answer(body);
        Answer(body);
        client.RefreshLocations();
        client.RefreshActions(1, 3);
        client.RefreshVariables(1);
    }
    // Very deep nesting is refused or read without exhausting the stack.
    Answer("{\"locations\":" + std::string(100000, '[') + std::string(100000, ']') + "}");
    client.RefreshLocations();
}
