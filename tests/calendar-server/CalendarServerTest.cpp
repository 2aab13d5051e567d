// The reference calendar server in process: its dates, its data file, its answers to good and bad requests,
// and the plug-in's REST client talking to it end to end.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "CalendarServer.h"
#include "calendar/MCalendarEnumVariable.h"
#include "calendar/MCalendarStore.h"
#include "platform/Clock.h"
#include "server/MCalendarRESTClient.h"
#include "support/LoopbackServer.h"

using calendar_server::CalendarServer;
using calendar_server::FormatLocalTime;
using calendar_server::ParseActionDate;
using calendar_server::ParseLocalTime;
using nlohmann::json;

namespace {

uint64_t At(uint16_t y, uint16_t mo, uint16_t d, uint16_t h = 0, uint16_t mi = 0, uint16_t s = 0) {
    platform::CalendarTime t;
    t.year = y, t.month = mo, t.day = d, t.hour = h, t.minute = mi, t.second = s;
    uint64_t instant = 0;
    platform::CalendarToInstant(t, &instant);
    return instant;
}

const char kData[] = R"({
  // comments are allowed in the data file
  "locations": [{"location_id": 1, "name": "Main hall", "comment": "upstairs"}, {"location_id": 2, "name": "Foyer"}],
  "variables": [{"variable_id": 5, "location_id": 1, "name": "Mode", "var_type": 4, "var_data": "Day,Night"},
                {"variable_id": 9, "location_id": 2, "name": "Count", "var_type": 1}],
  "actions": [
    {"location_id": 1, "name": "Later", "macro": "Show", "date": "+5m", "macro_action": 1},
    {"location_id": 1, "name": "Soon", "macro": "Mode", "date": "+90s", "macro_action": 2, "macro_data": "Night"},
    {"location_id": 1, "name": "Before", "macro": "Lights", "date": "-1h", "macro_action": 1},
    {"location_id": 2, "name": "Elsewhere", "macro": "x", "date": "2024-05-01T10:00:00"},
    {"location_id": 1, "name": "Fixed", "macro": "y", "date": "2024-05-02T00:00:00", "macro_action": 1}
  ]
})";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class CalendarServerTest : public ::testing::Test {
protected:
    void Start(const char* data = kData, uint64_t start = At(2024, 5, 1, 12, 0, 0)) {
        std::string error;
        ASSERT_TRUE(calendar.Load(data, start, &error)) << error;
        calendar.Register(server.server, &log);
        ASSERT_NE(0, server.Start());
        http.reset(new httplib::Client("127.0.0.1", server.port()));
    }
    json Get(const std::string& target, int expectedStatus = 200) {
        auto res = http->Get(target.c_str());
        EXPECT_TRUE(res) << target;
        if (!res) return json();
        EXPECT_EQ(expectedStatus, res->status) << target << " " << res->body;
        return json::parse(res->body);
    }
    httplib::Result Send(const std::string& method, const std::string& target, const std::string& body) {
        if (method == "POST") return http->Post(target.c_str(), body, "application/json");
        if (method == "PUT") return http->Put(target.c_str(), body, "application/json");
        if (method == "GET") return http->Get(target.c_str());
        return http->Delete(target.c_str());
    }

    ScopedEnv noProxy{"http_proxy", nullptr};
    CalendarServer calendar;
    std::ostringstream log;
    LoopbackServer server;
    std::unique_ptr<httplib::Client> http;
};

}  // namespace

TEST(CalendarServerDates, RelativeDatesCountFromTheStart) {
    const uint64_t start = At(2024, 12, 31, 23, 59, 0);
    uint64_t t = 0;
    ASSERT_TRUE(ParseActionDate("+90s", start, &t));
    EXPECT_EQ("2025-01-01T00:00:30", FormatLocalTime(t));
    ASSERT_TRUE(ParseActionDate("+5m", start, &t));
    EXPECT_EQ("2025-01-01T00:04:00", FormatLocalTime(t));
    ASSERT_TRUE(ParseActionDate("-1h", start, &t));
    EXPECT_EQ("2024-12-31T22:59:00", FormatLocalTime(t));
    ASSERT_TRUE(ParseActionDate("+2d", start, &t));
    EXPECT_EQ("2025-01-02T23:59:00", FormatLocalTime(t));
    ASSERT_TRUE(ParseActionDate("+0s", start, &t));
    EXPECT_EQ(start, t);
    ASSERT_TRUE(ParseActionDate("2024-05-01T10:30:00", start, &t));
    EXPECT_EQ(At(2024, 5, 1, 10, 30), t);
    for (const char* bad : {"", "+", "+s", "90s", "+90", "+90x", "+9 0s", "+-5m", "-999999999999d",
                            "+999999999999d", "2024-05-01T10:30", "2024-13-01T00:00:00",
                            "2024-05-01 10:30:00", "2024-05-01T10:30:00Z", "tomorrow"}) {
        EXPECT_FALSE(ParseActionDate(bad, start, &t)) << bad;
    }
    bool dateOnly = false;
    EXPECT_TRUE(ParseLocalTime("2024-02-29", &t, &dateOnly));
    EXPECT_TRUE(dateOnly);
    EXPECT_FALSE(ParseLocalTime("2023-02-29", &t, &dateOnly));
}

TEST(CalendarServerData, MalformedDataFilesAreRefusedWithAReason) {
    CalendarServer s;
    std::string error;
    for (const char* bad :
         {"", "[]", "{\"locations\": {}}", "{\"locations\": [{\"name\": \"no id\"}]}",
          "{\"locations\": [{\"location_id\": 1}, {\"location_id\": 1}]}",
          "{\"variables\": [{\"variable_id\": 1, \"location_id\": 1, \"name\": \"\", \"var_type\": 1}]}",
          "{\"variables\": [{\"variable_id\": 0, \"location_id\": 1, \"name\": \"a\", \"var_type\": 1}]}",
          "{\"actions\": [{\"location_id\": 1}]}",
          "{\"actions\": [{\"location_id\": 1, \"date\": \"soon\"}]}",
          "{\"actions\": [{\"location_id\": 1, \"date\": \"+1m\", \"macro_action\": \"1\"}]}",
          "{\"locations\": [{\"location_id\": 1, \"latitude\": 90.5, \"longitude\": 0}]}",
          "{\"locations\": [{\"location_id\": 1, \"latitude\": 50}]}"}) {
        error.clear();
        EXPECT_FALSE(s.Load(bad, At(2024, 1, 1), &error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
    EXPECT_TRUE(s.Load("{}", At(2024, 1, 1), &error));
    EXPECT_FALSE(s.LoadFile("/nonexistent/calendar.json", At(2024, 1, 1), &error));
}

TEST_F(CalendarServerTest, ServesLocationsVariablesAndActionsOfADayOrARange) {
    Start();
    EXPECT_EQ(json::parse(R"({"locations": [{"location_id": 1, "name": "Main hall", "comment": "upstairs"},
                                            {"location_id": 2, "name": "Foyer", "comment": ""}]})"),
              Get("/apiv1/location"));
    EXPECT_EQ(
        json::parse(R"({"variables": [{"variable_id": 9, "location_id": 2, "name": "Count", "var_type": 1,
                                             "var_data": ""}]})"),
        Get("/apiv1/variable?locationid=2"));

    const json day = Get("/apiv1/calendar/1/actions?date=2024-05-01");
    ASSERT_EQ(3u, day["calendaractions"].size());
    EXPECT_EQ(json::parse(R"({"name": "Before", "macro": "Lights", "date": "2024-05-01T11:00:00",
                              "macro_action": 1, "macro_data": ""})"),
              day["calendaractions"][0]);
    EXPECT_EQ("2024-05-01T12:01:30", day["calendaractions"][1]["date"]);
    EXPECT_EQ("Night", day["calendaractions"][1]["macro_data"]);
    EXPECT_EQ("2024-05-01T12:05:00", day["calendaractions"][2]["date"]);

    const json range = Get("/apiv1/calendar/1/actions?start=2024-05-01T12:00:00&end=2024-05-02T00:00:00");
    ASSERT_EQ(3u, range["calendaractions"].size());
    EXPECT_EQ("Fixed", range["calendaractions"][2]["name"]);
    EXPECT_EQ(1u, Get("/apiv1/calendar/2/actions?date=2024-05-01")["calendaractions"].size());
    EXPECT_EQ(0u, Get("/apiv1/calendar/2/actions?date=2024-05-02")["calendaractions"].size());
}

TEST_F(CalendarServerTest, BadRequestsGet400AndUnknownThings404WithAJsonError) {
    Start();
    struct Case {
        std::string method, target, body;
        int status;
    } cases[] = {
        {"GET", "/apiv1/variable", "", 400},
        {"GET", "/apiv1/variable?locationid=abc", "", 400},
        {"GET", "/apiv1/variable?locationid=3", "", 404},
        {"GET", "/apiv1/calendar/1/actions", "", 400},
        {"GET", "/apiv1/calendar/1/actions?date=2024-5-1", "", 400},
        {"GET", "/apiv1/calendar/1/actions?start=2024-05-01T00:00:00", "", 400},
        {"GET", "/apiv1/calendar/1/actions?start=x&end=2024-05-01T00:00:00", "", 400},
        {"GET", "/apiv1/calendar/7/actions?date=2024-05-01", "", 404},
        {"GET", "/apiv1/elsewhere", "", 404},
        {"POST", "/apiv1/variable", "{\"location_id\":1,", 400},
        {"POST", "/apiv1/variable", "[1]", 400},
        {"POST", "/apiv1/variable", "{\"location_id\":1,\"name\":\"\",\"var_type\":1}", 400},
        {"POST", "/apiv1/variable", "{\"location_id\":\"1\",\"name\":\"a\",\"var_type\":1}", 400},
        {"POST", "/apiv1/variable", "{\"location_id\":1,\"name\":\"a\",\"var_type\":1,\"var_data\":3}", 400},
        {"POST", "/apiv1/variable", "{\"location_id\":3,\"name\":\"a\",\"var_type\":1}", 404},
        {"POST", "/apiv1/variable", "{\"location_id\":1,\"name\":\"Mode\",\"var_type\":1}", 409},
        {"PUT", "/apiv1/variable", "{\"location_id\":1,\"name\":\"a\",\"var_type\":1}", 400},
        {"PUT", "/apiv1/variable", "{\"location_id\":1,\"name\":\"a\",\"var_type\":1,\"variable_id\":77}",
         404},
        {"DELETE", "/apiv1/variable/77", "", 404},
        {"DELETE", "/apiv1/variable/abc", "", 404},
    };
    for (const Case& c : cases) {
        auto res = Send(c.method, c.target, c.body);
        ASSERT_TRUE(res) << c.target;
        EXPECT_EQ(c.status, res->status) << c.method << " " << c.target << " " << c.body;
        EXPECT_TRUE(json::parse(res->body).contains("error")) << res->body;
    }
    // Nothing was changed by any of them.
    EXPECT_EQ(2u, calendar.Document()["variables"].size());
    // One log line per request (written after each answer went out, so read once the server has stopped).
    server.Stop();
    const std::string lines = log.str();
    EXPECT_EQ(sizeof cases / sizeof cases[0],
              static_cast<size_t>(std::count(lines.begin(), lines.end(), '\n')));
    EXPECT_NE(std::string::npos, lines.find("127.0.0.1 DELETE /apiv1/variable/77 404"));
}

TEST_F(CalendarServerTest, VariablesAreCreatedNumberedUpdatedAndDeleted) {
    Start();
    auto created =
        Send("POST", "/apiv1/variable", R"({"location_id":1,"name":"Show","var_type":2,"variable_id":0})");
    ASSERT_TRUE(created);
    EXPECT_EQ(201, created->status);
    EXPECT_EQ(10, json::parse(created->body)["variable_id"]);  // after the highest number in use

    auto updated = Send("PUT", "/apiv1/variable",
                        R"({"location_id":1,"name":"Show","var_data":"A,B","var_type":4,"variable_id":10})");
    ASSERT_TRUE(updated);
    EXPECT_EQ(200, updated->status);
    const json vars = Get("/apiv1/variable?locationid=1")["variables"];
    ASSERT_EQ(2u, vars.size());
    EXPECT_EQ("A,B", vars[1]["var_data"]);
    EXPECT_EQ(4, vars[1]["var_type"]);

    auto deleted = Send("DELETE", "/apiv1/variable/5", "");
    ASSERT_TRUE(deleted);
    EXPECT_EQ(200, deleted->status);
    EXPECT_EQ(1u, Get("/apiv1/variable?locationid=1")["variables"].size());
}

TEST_F(CalendarServerTest, PersistedChangesReachTheFileWholeAndFailuresChangeNothing) {
    char dir[] = "/tmp/calendar-server-test-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dir));
    const std::string path = std::string(dir) + "/data.json";
    calendar.SetPersistPath(path);
    Start();
    ASSERT_EQ(201,
              Send("POST", "/apiv1/variable", R"({"location_id":2,"name":"Show","var_type":2})")->status);
    ASSERT_EQ(200, Send("DELETE", "/apiv1/variable/9", "")->status);

    const json written = json::parse(ReadFile(path));
    ASSERT_EQ(2u, written["variables"].size());
    EXPECT_EQ("Show", written["variables"][1]["name"]);
    // Actions keep their relative dates, so a restart plans them anew.
    EXPECT_EQ("+90s", written["actions"][1]["date"]);
    std::string error;
    CalendarServer reloaded;
    EXPECT_TRUE(reloaded.Load(ReadFile(path), At(2024, 1, 1), &error)) << error;
    EXPECT_EQ(std::ifstream(path + ".tmp").good(), false);

    // A file that cannot be written refuses the change.
    std::remove(path.c_str());
    rmdir(dir);
    EXPECT_EQ(500,
              Send("POST", "/apiv1/variable", R"({"location_id":2,"name":"Other","var_type":2})")->status);
    EXPECT_EQ(500, Send("DELETE", "/apiv1/variable/5", "")->status);
    EXPECT_EQ(2u, calendar.Document()["variables"].size());
}

TEST_F(CalendarServerTest, TheRestClientReadsAndChangesTheServerEndToEnd) {
    Start(kData, platform::LocalInstantNow());
    MCalendarStore store;
    MCalendarRESTClient client(&store);
    client.SetServerURL(L"http://127.0.0.1:" + std::to_wstring(server.port()));

    ASSERT_TRUE(client.TestConnection());
    ASSERT_EQ(2, store.GetLocations()->GetCount());
    EXPECT_EQ("Main hall", store.GetLocations()->GetFirst()->name);

    ASSERT_TRUE(client.RefreshVariables(1));
    ASSERT_EQ(1u, store.GetVariables()->size());
    auto* mode = dynamic_cast<MCalendarEnumVariable*>(store.GetVariables()->front());
    ASSERT_NE(nullptr, mode);
    EXPECT_EQ((std::vector<std::string>{"Day", "Night"}), mode->values);

    MCalendarVariable show(0, 2, "Show");
    EXPECT_TRUE(client.CreateVariable(1, &show));
    ASSERT_TRUE(client.RefreshVariables(1));
    ASSERT_EQ(2u, store.GetVariables()->size());
    MCalendarVariable* numbered = store.GetVariables()->back();
    EXPECT_EQ(10, numbered->variable_id);
    MCalendarEnumVariable renamed(10, "Show mode");
    renamed.values = {"Off", "On"};
    EXPECT_TRUE(client.UpdateVariable(1, &renamed));
    EXPECT_TRUE(client.DeleteVariable(1, 5));
    ASSERT_TRUE(client.RefreshVariables(1));
    ASSERT_EQ(1u, store.GetVariables()->size());
    auto* after = dynamic_cast<MCalendarEnumVariable*>(store.GetVariables()->front());
    ASSERT_NE(nullptr, after);
    EXPECT_EQ("Show mode", after->name);
    EXPECT_EQ((std::vector<std::string>{"Off", "On"}), after->values);

    // Two days ahead covers the relative actions even just before midnight; they arrive sorted.
    client.RefreshActions(1, 2);
    std::vector<std::string> names;
    CalendarEventList* events = store.GetEvents();
    uint64_t previous = 0;
    for (MCalendarEvent* e = events->GetFirst(); e; e = events->GetNext()) {
        names.push_back(e->name);
        EXPECT_LE(previous, e->time);
        previous = e->time;
    }
    EXPECT_NE(names.end(), std::find(names.begin(), names.end(), "Soon"));
    EXPECT_NE(names.end(), std::find(names.begin(), names.end(), "Later"));
    EXPECT_EQ(names.end(), std::find(names.begin(), names.end(), "Fixed"));

    // An unknown location answers 404 with a JSON error: no list, so the one read before stays.
    client.RefreshActions(42, 0);
    EXPECT_EQ(events, store.GetEvents());
    EXPECT_EQ(names.size(), static_cast<size_t>(store.GetEvents()->GetCount()));
}
