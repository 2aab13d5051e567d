// Calendars planned in a calendar application, served as actions through the REST interface: the mapping
// of events to actions, recurrences and time zones, and sources that break or hang.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "CalendarServer.h"
#include "support/Eventually.h"
#include "support/FakeClock.h"
#include "support/LoopbackServer.h"

using calendar_server::CalendarServer;
using calendar_server::IcsSource;
using nlohmann::json;

namespace {

// Written for these tests. The server's zone (set below) is US Eastern, whose summer time begins on
// 2025-03-09; the Berlin zone of the calendar changes on 2025-03-30.
const char kCalendar[] = R"(BEGIN:VCALENDAR
VERSION:2.0
PRODID:-//calendar-server tests//EN
X-WR-CALNAME:Stage plan
BEGIN:VTIMEZONE
TZID:Europe/Berlin
BEGIN:STANDARD
DTSTART:19701025T030000
RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU
TZOFFSETFROM:+0200
TZOFFSETTO:+0100
END:STANDARD
BEGIN:DAYLIGHT
DTSTART:19700329T020000
RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU
TZOFFSETFROM:+0100
TZOFFSETTO:+0200
END:DAYLIGHT
END:VTIMEZONE
BEGIN:VEVENT
UID:rehearsal
SUMMARY:Rehearsal
DTSTART:20250303T180000
RRULE:FREQ=WEEKLY;COUNT=5
RDATE:20250305T090000
EXDATE:20250310T180000
END:VEVENT
BEGIN:VEVENT
UID:rehearsal
RECURRENCE-ID:20250317T180000
SUMMARY:Rehearsal late
DTSTART:20250317T200000
END:VEVENT
BEGIN:VEVENT
UID:doors
SUMMARY:Doors
DTSTART;TZID=Europe/Berlin:20250323T100000
RRULE:FREQ=WEEKLY
END:VEVENT
BEGIN:VEVENT
UID:announce
SUMMARY:Announce
DTSTART:20250324T150000Z
END:VEVENT
BEGIN:VEVENT
UID:holiday
SUMMARY:Holiday
DTSTART;VALUE=DATE:20250324
END:VEVENT
BEGIN:VEVENT
UID:cancelled
SUMMARY:Cancelled show
DTSTART:20250324T120000
STATUS:CANCELLED
END:VEVENT
BEGIN:VEVENT
UID:mode
SUMMARY:Mode=Night=late
DTSTART:20250324T190000
END:VEVENT
BEGIN:VEVENT
UID:broken
SUMMARY:Broken
DTSTART:20250230T100000
END:VEVENT
END:VCALENDAR
)";

std::string TempFile(const std::string& name, const std::string& text) {
    const std::string path = ::testing::TempDir() + "ics_" + std::to_string(getpid()) + "_" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

// Serves one location from a calendar source, in the server's zone.
class IcsServed : public ::testing::Test {
protected:
    void SetUp() override {
        tzset();
        options.pollMs = 20;
    }
    void TearDown() override {
        server.Stop();
        tzset();
    }
    void Start(const std::string& source) {
        std::string error;
        calendar.SetNotes([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(notesMutex);
            notes += line + "\n";
        });
        ASSERT_TRUE(calendar.AddIcsSource(4, source, options, &error)) << error;
        calendar.StartSources(5000);
        calendar.Register(server.server, nullptr);
        ASSERT_NE(0, server.Start());
        http.reset(new httplib::Client("127.0.0.1", server.port()));
        http->set_read_timeout(5);
    }
    // One line per action: date, macro_action, macro, macro_data, name.
    std::vector<std::string> Actions(const std::string& query) {
        auto res = http->Get(("/apiv1/calendar/4/actions?" + query).c_str());
        std::vector<std::string> lines;
        if (!res || res->status != 200) return {"no answer"};
        const json answer = json::parse(res->body);
        for (const json& a : answer["calendaractions"]) {
            lines.push_back(a["date"].get<std::string>() + " " +
                            std::to_string(a["macro_action"].get<int>()) + " " +
                            a["macro"].get<std::string>() + "|" + a["macro_data"].get<std::string>() + "|" +
                            a["name"].get<std::string>());
        }
        return lines;
    }
    std::string Notes() {
        std::lock_guard<std::mutex> lock(notesMutex);
        return notes;
    }

    ScopedEnv zone{"TZ", "EST5EDT,M3.2.0,M11.1.0"};
    ScopedEnv noProxy{"http_proxy", nullptr};
    IcsSource::Options options;
    std::mutex notesMutex;
    std::string notes;
    CalendarServer calendar;
    LoopbackServer server;
    std::unique_ptr<httplib::Client> http;
};

}  // namespace

TEST_F(IcsServed, EventsBecomeActionsOfADayAndOfAWindowInLocalTime) {
    // Today is 2025-03-16: the days ahead are answered from the index, March's start is expanded on request.
    FakeClock clock;
    clock.SetLocal(2025, 3, 16, 12);
    const std::string path = TempFile("plan.ics", kCalendar);
    Start(path);

    auto res = http->Get("/apiv1/location");
    ASSERT_TRUE(res);
    EXPECT_EQ(json::parse(R"({"locations": [{"location_id": 4, "name": "Stage plan", "comment": ""}]})"),
              json::parse(res->body));

    // The all-day and the cancelled events give nothing; the UTC one is at 11:00 summer time.
    EXPECT_EQ((std::vector<std::string>{"2025-03-24T11:00:00 1 Announce||Announce",
                                        "2025-03-24T18:00:00 1 Rehearsal||Rehearsal",
                                        "2025-03-24T19:00:00 2 Mode|Night=late|Mode=Night=late"}),
              Actions("date=2025-03-24"));
    // The weekly series with its extra date, its excluded week and its moved instance; the Berlin event
    // keeps 10:00 in Berlin across Berlin's change (09:00 then 08:00 UTC).
    const std::vector<std::string> march{"2025-03-03T18:00:00 1 Rehearsal||Rehearsal",
                                         "2025-03-05T09:00:00 1 Rehearsal||Rehearsal",
                                         "2025-03-17T20:00:00 1 Rehearsal late||Rehearsal late",
                                         "2025-03-23T05:00:00 1 Doors||Doors",
                                         "2025-03-24T11:00:00 1 Announce||Announce",
                                         "2025-03-24T18:00:00 1 Rehearsal||Rehearsal",
                                         "2025-03-24T19:00:00 2 Mode|Night=late|Mode=Night=late",
                                         "2025-03-30T04:00:00 1 Doors||Doors",
                                         "2025-03-31T18:00:00 1 Rehearsal||Rehearsal"};
    EXPECT_EQ(march, Actions("start=2025-03-01T00:00:00&end=2025-03-31T23:59:59"));
    EXPECT_EQ(std::vector<std::string>(march.begin() + 2, march.end()),
              Actions("start=2025-03-17T00:00:00&end=2025-03-31T23:59:59"));
    EXPECT_EQ(std::vector<std::string>{}, Actions("date=2025-03-10"));
    EXPECT_EQ((std::vector<std::string>{"2025-04-06T04:00:00 1 Doors||Doors"}), Actions("date=2025-04-06"));

    EXPECT_NE(std::string::npos, Notes().find("\"Broken\" (UID broken): bad start date; skipped")) << Notes();
    std::remove(path.c_str());
}

TEST_F(IcsServed, ASourceThatBreaksOrHangsKeepsTheLastGoodCalendarAndRequestsGoOn) {
    FakeClock clock;
    clock.SetLocal(2025, 3, 16, 12);
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    std::atomic<int> mode{2};  // 0 good, 1 cut short, 2 not a calendar, 3 hangs
    LoopbackServer source;
    source.server.Get("/plan.ics", [&](const httplib::Request&, httplib::Response& res) {
        const std::string text = kCalendar;
        switch (mode.load()) {
            case 0:
                res.set_content(text, "text/calendar");
                break;
            case 1:
                res.set_content(text.substr(0, text.size() / 2), "text/calendar");
                break;
            case 2:
                res.set_content("<html>maintenance</html>", "text/html");
                break;
            default: {
                std::unique_lock<std::mutex> lock(mutex);
                released.wait_for(lock, std::chrono::seconds(10), [&] { return release; });
            }
        }
    });
    ASSERT_NE(0, source.Start());
    options.rereadMs = 100;
    options.timeoutMs = 1500;
    Start("http://127.0.0.1:" + std::to_string(source.port()) + "/plan.ics");
    // Before any good read there is no list to give: an error, so that a client keeps the one it has.
    auto res = http->Get("/apiv1/calendar/4/actions?date=2025-03-24");
    ASSERT_TRUE(res);
    EXPECT_EQ(503, res->status);
    EXPECT_TRUE(json::parse(res->body).contains("error"));
    mode = 0;
    std::vector<std::string> good;
    ASSERT_TRUE(Eventually([&] { return (good = Actions("date=2025-03-24")).size() == 3; }));

    // Cut short, not a calendar, then no answer: each for several reads.
    for (int m : {1, 2, 3}) {
        mode = m;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(m == 3 ? 2500 : 500);
        while (std::chrono::steady_clock::now() < end) {
            const auto asked = std::chrono::steady_clock::now();
            EXPECT_EQ(good, Actions("date=2025-03-24")) << "mode " << m;
            EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(1000))
                << "mode " << m;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        release = true;
    }
    released.notify_all();
    const std::string notes = Notes();
    EXPECT_NE(std::string::npos, notes.find("not a whole calendar")) << notes;
    EXPECT_NE(std::string::npos, notes.find("Timeout")) << notes;
    EXPECT_NE(std::string::npos, notes.find("no calendar to serve yet")) << notes;
    EXPECT_NE(std::string::npos, notes.find("keeping the calendar read before")) << notes;
}

TEST(IcsSourceUrl, WebcalIsASubscriptionReadOverHttps) {
    IcsSource webcal(1, "webcal://calendar.example/venue.ics", IcsSource::Options(), nullptr, nullptr);
    EXPECT_TRUE(webcal.IsUrl());
    EXPECT_EQ("https://calendar.example/venue.ics", webcal.TransferUrl());
    IcsSource plain(1, "http://calendar.example/venue.ics", IcsSource::Options(), nullptr, nullptr);
    EXPECT_EQ("http://calendar.example/venue.ics", plain.TransferUrl());
}
