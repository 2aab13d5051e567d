// The plan page's requests against a server in process: planned items and iCalendar events through the one
// expansion that answers the plug-in, closed days and skips, refused writes, the login, status and health.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <thread>

#include "CalendarServer.h"
#include "Database.h"
#include "PageApi.h"
#include "support/Eventually.h"
#include "support/FakeClock.h"
#include "support/LoopbackServer.h"

using calendar_server::Access;
using calendar_server::CalendarServer;
using calendar_server::Database;
using calendar_server::IcsSource;
using calendar_server::PageApi;
using calendar_server::Statement;
using nlohmann::json;

namespace {

const char kPlanData[] = R"({
  "locations": [{"location_id": 1, "name": "Hall", "comment": "", "latitude": 52.52, "longitude": 13.405},
                {"location_id": 2, "name": "Foyer", "comment": ""}],
  "variables": [{"variable_id": 1, "location_id": 1, "name": "Mode", "var_type": 4, "var_data": "Day,Night"},
                {"variable_id": 2, "location_id": 1, "name": "Level", "var_type": 1, "var_data": ""}],
  "actions": [{"location_id": 1, "name": "Doors", "macro": "Open doors", "date": "2026-12-10T19:00:00",
               "macro_action": 1}]})";

// A calendar location with an event that follows the sun and one at a clock time.
const char kIcs[] =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\n"
    "BEGIN:VEVENT\r\nUID:a\r\nSUMMARY:Facade @sunset+30m\r\nDTSTART:20261201T120000\r\nRRULE:FREQ=DAILY\r\n"
    "END:VEVENT\r\nBEGIN:VEVENT\r\nUID:b\r\nSUMMARY:Mode=Day\r\nDTSTART:20261201T080000\r\nRRULE:FREQ="
    "DAILY\r\n"
    "END:VEVENT\r\nBEGIN:VEVENT\r\nUID:c\r\nSUMMARY:Fountain "
    "@dusk+x\r\nDTSTART:20261201T080000\r\nEND:VEVENT\r\n"
    "END:VCALENDAR\r\n";

class PlanPage : public ::testing::Test {
protected:
    void SetUp() override {
        tzset();
        clock.SetLocal(2026, 12, 9, 12);  // a Wednesday
    }
    void TearDown() override {
        server.Stop();
        for (const std::string& f : files) std::remove(f.c_str());
        tzset();
    }
    std::string Temp(const std::string& name, const std::string& text = "") {
        const std::string path = ::testing::TempDir() + "plan_" + std::to_string(getpid()) + "_" + name;
        files.push_back(path);
        if (!text.empty()) std::ofstream(path, std::ios::binary) << text;
        return path;
    }
    void Start(Access access = Access(), PageApi::Options options = PageApi::Options(),
               const std::string& url = "") {
        std::string error;
        ASSERT_TRUE(calendar.Load(kPlanData, platform::LocalInstantNow(), &error)) << error;
        calendar.SetNotes([](const std::string&) {});
        IcsSource::Options read;
        read.place = calendar_server::Coordinates{52.52, 13.405};
        ASSERT_TRUE(calendar.AddIcsSource(4, Temp("facade.ics", kIcs), read, &error)) << error;
        if (!url.empty()) {
            read.timeoutMs = 2000;
            ASSERT_TRUE(calendar.AddIcsSource(5, url, read, &error)) << error;
        }
        calendar.StartSources(5000);
        calendar.SetAccess(std::move(access));
        page.reset(new PageApi(calendar, options));
        calendar.Register(server.server, nullptr);
        page->Register(server.server);
        ASSERT_NE(0, server.Start());
        http.reset(new httplib::Client("127.0.0.1", server.port()));
    }
    json Call(const std::string& method, const std::string& target, const json& body = json(),
              int expected = 200) {
        httplib::Headers headers;
        if (!cookie.empty()) headers.emplace("Cookie", cookie);
        const std::string text = body.is_null() ? "" : body.dump();
        httplib::Result res = method == "GET" ? http->Get(target.c_str(), headers)
                              : method == "POST"
                                  ? http->Post(target.c_str(), headers, text, "application/json")
                              : method == "PUT" ? http->Put(target.c_str(), headers, text, "application/json")
                                                : http->Delete(target.c_str(), headers);
        EXPECT_TRUE(res) << method << " " << target;
        if (!res) return json();
        EXPECT_EQ(expected, res->status) << method << " " << target << " " << text << " -> " << res->body;
        last = res.value();
        return json::parse(res->body, nullptr, false);
    }
    // The plug-in's answer and the page's firing items of a window, each as "date name macro=data".
    static std::vector<std::string> Lines(const json& list, bool firingOnly) {
        std::vector<std::string> lines;
        for (const json& a : list) {
            if (firingOnly && (a.contains("closed") || a.contains("skipped"))) continue;
            lines.push_back(a["date"].get<std::string>() + " " + a["name"].get<std::string>() + " " +
                            std::to_string(a["macro_action"].get<int>()) + a["macro"].get<std::string>() +
                            "=" + a["macro_data"].get<std::string>());
        }
        return lines;
    }
    void ExpectPageAgreesWithPlugin(int location, const std::string& start, const std::string& end) {
        const json plugin = Call("GET", "/apiv1/calendar/" + std::to_string(location) +
                                            "/actions?start=" + start + "T00:00:00&end=" + end);
        const json items =
            Call("GET", "/apiv1/plan/" + std::to_string(location) + "/items?start=" + start + "&end=" + end);
        EXPECT_EQ(Lines(plugin["calendaractions"], false), Lines(items["items"], true));
    }

    ScopedEnv zone{"TZ", "CET-1CEST,M3.5.0,M10.5.0/3"};
    ScopedEnv noProxy{"http_proxy", nullptr};
    FakeClock clock;
    std::vector<std::string> files;
    CalendarServer calendar;
    std::unique_ptr<PageApi> page;
    LoopbackServer server;
    std::unique_ptr<httplib::Client> http;
    std::string cookie;
    httplib::Response last;
};

const json kNight = {
    {"name", "Night"},      {"date", "2026-12-08"},
    {"time", "20:00"},      {"repeat", {{"every", "weekly"}, {"interval", 2}, {"days", {"MO", "WE"}}}},
    {"macro_action", 2},    {"macro", "Mode"},
    {"macro_data", "Night"}};

}  // namespace

TEST_F(PlanPage, PlannedRepeatsAndSunEventsAreServedToThePluginAsThePageListsThem) {
    Start();
    // Every second week from Tuesday's week: Wednesday the 9th, then the Monday and Wednesday two weeks on.
    const json night = Call("POST", "/apiv1/plan/1", kNight, 201);
    EXPECT_EQ("weekly", night["repeat"]["every"]);
    json lights = {{"name", "Lights"},
                   {"date", "2026-12-09"},
                   {"sun", {{"event", "sunset"}, {"offset", "+30m"}}},
                   {"repeat", {{"every", "daily"}, {"count", 3}}},
                   {"macro_action", 1},
                   {"macro", "Lights"}};
    const int64_t lightsId = Call("POST", "/apiv1/plan/1", lights, 201)["id"].get<int64_t>();
    const json items = Call("GET", "/apiv1/plan/1/items?start=2026-12-09&end=2026-12-23");
    std::vector<std::string> nights, sunsets;
    for (const json& i : items["items"]) {
        if (i["name"] == "Night") nights.push_back(i["date"]);
        if (i["name"] == "Lights") {
            EXPECT_EQ("@sunset+30m", i["sun"]);
            EXPECT_EQ(lightsId, i["plan_id"]);
            sunsets.push_back(i["date"]);
        }
    }
    EXPECT_EQ((std::vector<std::string>{"2026-12-09T20:00:00", "2026-12-21T20:00:00", "2026-12-23T20:00:00"}),
              nights);
    ASSERT_EQ(3u, sunsets.size());
    // Berlin's sunset is near 15:53 in December.
    EXPECT_EQ(0u, sunsets[0].rfind("2026-12-09T16:2", 0)) << sunsets[0];
    EXPECT_TRUE(items["editable"]);
    ExpectPageAgreesWithPlugin(1, "2026-12-09", "2026-12-23");
    ExpectPageAgreesWithPlugin(4, "2026-12-09", "2026-12-12");
    const json facade = Call("GET", "/apiv1/plan/4/items?start=2026-12-09&end=2026-12-09");
    EXPECT_FALSE(facade["editable"]);
    ASSERT_EQ(2u, facade["items"].size());
    EXPECT_EQ("@sunset+30m", facade["items"][1]["sun"]);
    EXPECT_FALSE(facade["items"][0].contains("sun"));
    // A change is served at once; a deleted item no more.
    lights["time"] = "07:00";
    lights.erase("sun");
    Call("PUT", "/apiv1/plan/1/" + std::to_string(lightsId), lights);
    EXPECT_EQ("2026-12-10T07:00:00",
              Call("GET", "/apiv1/calendar/1/actions?date=2026-12-10")["calendaractions"][0]["date"]);
    Call("DELETE", "/apiv1/plan/1/" + std::to_string(lightsId));
    EXPECT_EQ(1u, Call("GET", "/apiv1/plan/1")["items"].size());
    ExpectPageAgreesWithPlugin(1, "2026-12-09", "2026-12-23");
}

// The plan is kept between requests and built outside the database's lock: a write is seen by the very next
// request, also when another request was building the plan from the rows before that write.
TEST_F(PlanPage, AWriteIsSeenByTheNextRequestWhileOthersRebuildThePlan) {
    Start();
    json item = {{"name", "Cue"},     {"date", "2026-12-08"},
                 {"time", "09:00"},   {"repeat", {{"every", "daily"}}},
                 {"macro_action", 1}, {"macro", "Cue"}};
    for (int i = 0; i < 40; ++i) Call("POST", "/apiv1/plan/1", item, 201);  // a plan worth rebuilding
    item["date"] = "2026-12-09";
    const std::string id = std::to_string(Call("POST", "/apiv1/plan/1", item, 201)["id"].get<int64_t>());
    std::atomic<bool> done{false};
    std::thread reader([&] {
        httplib::Client other("127.0.0.1", server.port());
        while (!done) other.Get("/apiv1/plan/1/items?start=2026-12-09&end=2026-12-09");
    });
    for (int minute = 10; minute < 40; ++minute) {
        item["time"] = "13:" + std::to_string(minute);
        Call("PUT", "/apiv1/plan/1/" + id, item);
        const json items = Call("GET", "/apiv1/plan/1/items?start=2026-12-09&end=2026-12-09");
        ASSERT_EQ(41u, items["items"].size());
        EXPECT_EQ("2026-12-09T13:" + std::to_string(minute) + ":00", items["items"].back()["date"]);
    }
    done = true;
    reader.join();
}

TEST_F(PlanPage, ClosedDaysAndSkipsAreMarkedForThePageAndNeverServedToThePlugin) {
    Start();
    const std::string id = std::to_string(Call("POST", "/apiv1/plan/1", kNight, 201)["id"].get<int64_t>());
    Call("POST", "/apiv1/closed/1", {{"start", "2026-12-10"}, {"label", "Private event"}}, 201);
    Call("POST", "/apiv1/closed/4", {{"start", "2026-12-10"}, {"end", "2026-12-11"}, {"label", "Christmas"}},
         201);
    Call("POST", "/apiv1/plan/1/" + id + "/skip", {{"date", "2026-12-21"}});
    // A date the item does not fire on cannot be skipped.
    EXPECT_EQ("date", Call("POST", "/apiv1/plan/1/" + id + "/skip", {{"date", "2026-12-22"}}, 400)["field"]);

    const json items = Call("GET", "/apiv1/plan/1/items?start=2026-12-09&end=2026-12-23");
    std::vector<std::string> marks;
    for (const json& i : items["items"])
        marks.push_back(i["date"].get<std::string>() + " " + i.value("closed", "") +
                        (i.contains("skipped") ? "skipped" : ""));
    EXPECT_EQ((std::vector<std::string>{"2026-12-09T20:00:00 ", "2026-12-10T19:00:00 Private event",
                                        "2026-12-21T20:00:00 skipped", "2026-12-23T20:00:00 "}),
              marks);
    ExpectPageAgreesWithPlugin(1, "2026-12-09", "2026-12-23");
    EXPECT_EQ(0u, Call("GET", "/apiv1/calendar/4/actions?date=2026-12-11")["calendaractions"].size());
    EXPECT_EQ(2u, Call("GET", "/apiv1/calendar/4/actions?date=2026-12-12")["calendaractions"].size());
    ExpectPageAgreesWithPlugin(4, "2026-12-09", "2026-12-12");

    // Taken back, both fire again.
    Call("DELETE", "/apiv1/plan/1/" + id + "/skip/2026-12-21");
    const int64_t closed = Call("GET", "/apiv1/closed/4")["closed"][0]["id"].get<int64_t>();
    Call("DELETE", "/apiv1/closed/4/" + std::to_string(closed));
    EXPECT_EQ(1u, Call("GET", "/apiv1/calendar/1/actions?date=2026-12-21")["calendaractions"].size());
    EXPECT_EQ(2u, Call("GET", "/apiv1/calendar/4/actions?date=2026-12-11")["calendaractions"].size());
}

TEST_F(PlanPage, RefusedWritesNameTheFieldAndChangeNothing) {
    Start();
    struct Case {
        json change;
        const char* field;
    };
    const Case cases[] = {
        {{{"name", ""}}, "name"},
        {{{"date", "2028-02-01"}}, "date"},  // beyond the 400 days served
        {{{"date", "2026-02-30"}}, "date"},
        {{{"time", "24:00"}}, "time"},
        {{{"sun", {{"event", "sunset"}}}}, "time"},  // both a time and a sun event
        {{{"time", nullptr}, {"sun", {{"event", "sunset"}, {"offset", "+2d"}}}}, "sun.offset"},
        {{{"repeat", {{"every", "monthly"}}}}, "repeat.every"},
        {{{"repeat", {{"every", "weekly"}, {"days", {"XX"}}}}}, "repeat.days"},
        {{{"repeat", {{"every", "weekly"}, {"days", {"MO"}}, {"interval", 0}}}}, "repeat.interval"},
        {{{"repeat", {{"every", "daily"}, {"count", 2}, {"until", "2026-12-20"}}}}, "repeat.count"},
        {{{"repeat", {{"every", "daily"}, {"until", "2026-12-01"}}}}, "repeat.until"},
        // Only Mondays, ending on the Sunday before the first: no occurrence at all.
        {{{"repeat", {{"every", "weekly"}, {"days", {"MO"}}, {"until", "2026-12-13"}}}}, "repeat"},
        {{{"macro", "Volume"}}, "macro"},          // no such variable
        {{{"macro_data", "Dusk"}}, "macro_data"},  // not one of the enumeration's
        {{{"macro", "Level"}, {"macro_data", "3.5"}}, "macro_data"},
        {{{"macro_action", 3}}, "macro_action"},
        {{{"colour", "red"}}, "colour"},
    };
    for (const Case& c : cases) {
        json body = kNight;
        for (auto it = c.change.begin(); it != c.change.end(); ++it) body[it.key()] = it.value();
        const json refusal = Call("POST", "/apiv1/plan/1", body, 400);
        EXPECT_EQ(c.field, refusal.value("field", "")) << body.dump() << " " << refusal.dump();
    }
    const json level2 = {{"name", "Foyer doors"},
                         {"date", "2026-12-09"},
                         {"time", "19:00"},
                         {"macro_action", 1},
                         {"macro", "Doors"}};
    json sunAtFoyer = kNight;
    sunAtFoyer.erase("time");
    sunAtFoyer["sun"] = {{"event", "dusk"}};
    sunAtFoyer["macro_action"] = 1;
    sunAtFoyer.erase("macro_data");
    EXPECT_EQ("sun", Call("POST", "/apiv1/plan/2", sunAtFoyer, 400)["field"]);  // no coordinates
    EXPECT_EQ("end", Call("POST", "/apiv1/closed/1",
                          {{"start", "2026-12-10"}, {"end", "2026-12-09"}, {"label", "x"}}, 400)["field"]);
    // Another location's item is not reached through this one.
    const std::string other = std::to_string(Call("POST", "/apiv1/plan/2", level2, 201)["id"].get<int64_t>());
    Call("PUT", "/apiv1/plan/1/" + other, kNight, 404);
    Call("DELETE", "/apiv1/plan/1/" + other, json(), 404);
    EXPECT_EQ("Foyer doors", Call("GET", "/apiv1/plan/2")["items"][0]["name"]);
    Call("POST", "/apiv1/plan/4", kNight, 409);  // planned in its calendar application
    Call("POST", "/apiv1/plan/9", kNight, 404);
    EXPECT_EQ(0u, Call("GET", "/apiv1/plan/1")["items"].size());
    EXPECT_EQ(0u, Call("GET", "/apiv1/closed/1")["closed"].size());
    // A whole-number variable takes a whole number.
    json level = kNight;
    level["macro"] = "Level";
    level["macro_data"] = "-12";
    Call("POST", "/apiv1/plan/1", level, 201);
}

TEST_F(PlanPage, BeyondLoopbackThePagesWritesNeedALoginAndThePluginsRequestsDoNot) {
    Access beyond;
    beyond.loopbackOnly = false;
    Start(beyond);
    EXPECT_TRUE(Call("GET", "/apiv1/status")["login"]["required"]);
    Call("POST", "/apiv1/plan/1", kNight, 401);
    EXPECT_EQ("password", Call("POST", "/apiv1/login", {{"password", "x"}}, 401)["field"]);  // none set yet
    std::string error;
    ASSERT_TRUE(PageApi::SetPassword(calendar, "stage door 7", &error)) << error;
    Call("POST", "/apiv1/login", {{"password", "stage door 7"}});
    const std::string set = last.get_header_value("Set-Cookie");
    EXPECT_NE(std::string::npos, set.find("HttpOnly"));
    EXPECT_NE(std::string::npos, set.find("SameSite=Strict"));
    cookie =
        "theme=dark; " + set.substr(0, set.find(';')) + "; calendar_session_old=x";  // as a browser sends
    Call("POST", "/apiv1/plan/1", kNight, 201);
    Call("POST", "/apiv1/logout");
    Call("POST", "/apiv1/closed/1", {{"start", "2026-12-10"}, {"label", "x"}}, 401);
    cookie.clear();
    // The plug-in's reads and writes are guarded as before, without a login.
    Call("GET", "/apiv1/calendar/1/actions?date=2026-12-09");
    Call("PUT", "/apiv1/variable",
         {{"variable_id", 2}, {"location_id", 1}, {"name", "Level"}, {"var_type", 1}});
    // Five failures a minute from one address; then even the right password waits.
    for (int i = 0; i < 4; ++i) Call("POST", "/apiv1/login", {{"password", "guess"}}, 401);  // and the first
    Call("POST", "/apiv1/login", {{"password", "stage door 7"}}, 429);
}

TEST_F(PlanPage, TheStatusTellsEachSourcesReadsSkippedEventsAndReadersAndHealthFailsOnAFailingSource) {
    LoopbackServer missing;
    missing.server.Get("/facade.ics",
                       [](const httplib::Request&, httplib::Response& res) { res.status = 404; });
    ASSERT_NE(0, missing.Start());
    Start(Access(), PageApi::Options(), "http://127.0.0.1:" + std::to_string(missing.port()) + "/facade.ics");
    Call("GET", "/apiv1/calendar/4/actions?date=2026-12-09");
    const json status = Call("GET", "/apiv1/status");
    EXPECT_EQ(0, status["offset_minutes"]);  // the fake clock's
    EXPECT_EQ("2026-12-09T12:00:00", status["now"]);
    EXPECT_FALSE(status["zone"].get<std::string>().empty());
    std::map<int64_t, json> byLocation;
    for (const json& l : status["locations"]) byLocation[l["location_id"].get<int64_t>()] = l;
    EXPECT_EQ("database", byLocation[1]["source"]["kind"]);
    const json& file = byLocation[4];
    EXPECT_EQ("file", file["source"]["kind"]);
    EXPECT_EQ("2026-12-09T12:00:00", file["source"]["last_success"]);
    ASSERT_EQ(1u, file["source"]["skipped"].size());
    EXPECT_NE(std::string::npos, file["source"]["skipped"][0].get<std::string>().find("Fountain"));
    EXPECT_EQ("127.0.0.1", file["readers"][0]["address"]);
    EXPECT_FALSE(file.contains("trouble"));
    const json& url = byLocation[5];
    EXPECT_EQ("url", url["source"]["kind"]);
    EXPECT_TRUE(url["source"]["last_success"].is_null());
    EXPECT_NE(std::string::npos, url["trouble"].get<std::string>().find("404")) << url.dump();

    const json health = Call("GET", "/health", json(), 503);
    ASSERT_EQ(1u, health["reasons"].size());
    EXPECT_EQ(0u, health["reasons"][0].get<std::string>().rfind("location 5: ", 0));
}

TEST_F(PlanPage, HealthIsGoodWhileEverySourceReadWithinThreePeriods) {
    Start();
    EXPECT_EQ("ok", Call("GET", "/health")["status"]);
    clock.AdvanceMs(3 * 5 * 60 * 1000 + 1000);  // three default periods without a read
    EXPECT_EQ("trouble", Call("GET", "/health", json(), 503)["status"]);
}

TEST(PlanDatabase, ASchema2DatabaseKeepsEveryRowAndTakesPlannedItems) {
    const std::string path = ::testing::TempDir() + "plan_schema2_" + std::to_string(getpid()) + ".db";
    std::string error;
    {
        Database old;
        ASSERT_TRUE(old.Open(path, &error)) << error;
        ASSERT_TRUE(old.Exec(R"(
            CREATE TABLE locations(location_id INTEGER NOT NULL UNIQUE, name TEXT NOT NULL, comment TEXT NOT NULL,
                                   from_calendar INTEGER NOT NULL DEFAULT 0, latitude REAL, longitude REAL);
            CREATE TABLE variables(variable_id INTEGER NOT NULL UNIQUE, location_id INTEGER NOT NULL,
                                   name TEXT NOT NULL, var_type INTEGER NOT NULL, var_data TEXT NOT NULL);
            CREATE TABLE actions(location_id INTEGER NOT NULL, time INTEGER NOT NULL, name TEXT NOT NULL,
                                 macro TEXT NOT NULL, macro_action INTEGER NOT NULL, macro_data TEXT NOT NULL);
            CREATE INDEX actions_by_time ON actions(location_id, time);
            CREATE TABLE calendar_copies(location_id INTEGER PRIMARY KEY, source TEXT NOT NULL, body BLOB NOT NULL);
            INSERT INTO locations VALUES(5, 'Foyer', 'bar', 0, 52.5, 13.4);
            INSERT INTO variables VALUES(1, 5, 'Mode', 4, 'Day,Night');
            INSERT INTO actions VALUES(5, 1, 'Doors', 'Open doors', 1, '');
            INSERT INTO calendar_copies VALUES(4, 'elsewhere.ics', 'BEGIN:VCALENDAR');
            PRAGMA user_version = 2;)",
                             &error))
            << error;
    }
    {
        CalendarServer server;
        ASSERT_TRUE(server.OpenDatabase(path, &error)) << error;
        ASSERT_TRUE(PageApi::SetPassword(server, "pw", &error)) << error;
    }
    Database db;
    ASSERT_TRUE(db.Open(path, &error)) << error;
    Statement rows(
        db.handle(),
        "SELECT (SELECT group_concat(location_id || name || comment || latitude) FROM locations), "
        "(SELECT group_concat(name || var_data) FROM variables), "
        "(SELECT group_concat(location_id || macro) FROM actions), (SELECT COUNT(*) FROM calendar_copies), "
        "(SELECT COUNT(*) FROM settings), (SELECT COUNT(*) FROM plans)");
    ASSERT_TRUE(rows.Step());
    EXPECT_EQ("5Foyerbar52.5", rows.Text(0));
    EXPECT_EQ("ModeDay,Night", rows.Text(1));
    EXPECT_EQ("5Open doors", rows.Text(2));
    EXPECT_EQ(1, rows.Int(3));
    EXPECT_EQ(1, rows.Int(4));
    EXPECT_EQ(0, rows.Int(5));
    Statement version(db.handle(), "PRAGMA user_version");
    ASSERT_TRUE(version.Step());
    EXPECT_EQ(3, version.Int(0));
    for (const char* suffix : {"", "-wal", "-shm"}) std::remove((path + suffix).c_str());
}

TEST(PlanProgram, SetPasswordReadsStandardInputAndStoresOnlyAHash) {
    const std::string path = ::testing::TempDir() + "plan_password_" + std::to_string(getpid()) + ".db";
    FILE* program = popen(
        (std::string(CALENDAR_SERVER_PROGRAM) + " --db " + path + " --set-password 2>/dev/null").c_str(),
        "w");
    ASSERT_NE(nullptr, program);
    std::fputs("stage door 7\n", program);
    ASSERT_EQ(0, pclose(program));
    std::string error;
    Database db;
    ASSERT_TRUE(db.Open(path, &error)) << error;
    Statement hash(db.handle(), "SELECT value FROM settings WHERE key = 'password_hash'");
    ASSERT_TRUE(hash.Step());
    EXPECT_EQ(std::string::npos, hash.Text(0).find("stage door"));
    calendar_server::Login login;
    std::string session;
    EXPECT_EQ(calendar_server::Login::Result::kWrong,
              login.Try("a", "stage door 7\n", hash.Text(0), &session));
    EXPECT_EQ(calendar_server::Login::Result::kIn, login.Try("a", "stage door 7", hash.Text(0), &session));
    EXPECT_TRUE(login.Valid(session));
    for (const char* suffix : {"", "-wal", "-shm"}) std::remove((path + suffix).c_str());
}

TEST(PlanSourceHealth, SkippedLinesAreTheLastReadsAndAFailedReadKeepsTheLastSuccess) {
    ScopedEnv noProxy{"http_proxy", nullptr};
    const std::string path = ::testing::TempDir() + "plan_health_" + std::to_string(getpid()) + ".ics";
    auto write = [&](const std::string& summaries) {
        std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\n";
        for (char c : summaries) {
            text += std::string("BEGIN:VEVENT\r\nUID:") + c + "\r\nSUMMARY:" + c + " @nightfall\r\n" +
                    "DTSTART:20261201T080000\r\nEND:VEVENT\r\n";
        }
        std::ofstream(path, std::ios::binary) << text << "END:VCALENDAR\r\n";
    };
    write("A");
    IcsSource::Options options;
    options.pollMs = 10;
    IcsSource source(
        4, path, options, [](const std::string&) {}, nullptr);
    source.Start();
    source.WaitFirstRead(5000);
    const IcsSource::Health first = source.health();
    EXPECT_NE(0u, first.lastSuccess);
    EXPECT_EQ(1u, first.skipped.size());
    write("BCD");
    EXPECT_TRUE(Eventually([&] { return source.health().skipped.size() == 3; }));
    EXPECT_EQ(0u, source.health().skipped[0].find("event \"B"));
    std::ofstream(path, std::ios::binary) << "not a calendar at all";
    EXPECT_TRUE(Eventually([&] { return !source.health().lastError.empty(); }));
    const IcsSource::Health failed = source.health();
    EXPECT_GE(failed.lastAttempt, failed.lastSuccess);
    EXPECT_NE(0u, failed.lastSuccess);
    EXPECT_EQ(3u, failed.skipped.size());  // what the calendar still served skipped
    source.Stop();
    std::remove(path.c_str());
}
