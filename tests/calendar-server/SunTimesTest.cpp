// Events that follow the sun: the marker, and their times against an independent ephemeris (a Python
// script run at test time) within a minute.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "CalendarServer.h"
#include "IcsCalendar.h"
#include "SunTimes.h"
#include "platform/Clock.h"
#include "support/LoopbackServer.h"

using namespace calendar_server;

namespace {

const Coordinates kBerlin{52.52, 13.405};

uint64_t At(uint16_t year, uint16_t month, uint16_t day) {
    platform::CalendarTime t;
    t.year = year, t.month = month, t.day = day;
    uint64_t instant = 0;
    platform::CalendarToInstant(t, &instant);
    return instant;
}

std::string Calendar(const std::string& events) {
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//sun tests//EN\r\n" + events + "END:VCALENDAR\r\n";
}

std::string Event(const std::string& summary, const std::string& more) {
    return "BEGIN:VEVENT\r\nUID:" + summary + "\r\nSUMMARY:" + summary + "\r\n" + more + "END:VEVENT\r\n";
}

// The reference's answer per line "EVENT LATITUDE LONGITUDE YYYY-MM-DD": a local time or "none".
std::vector<std::string> Reference(const std::string& queries) {
    const std::string input = ::testing::TempDir() + "sun_queries_" + std::to_string(getpid());
    std::ofstream(input) << queries;
    std::vector<std::string> lines;
    FILE* out = popen((std::string(PYTHON3) + " " + SUN_REFERENCE + " < " + input).c_str(), "r");
    char line[128];
    while (out && std::fgets(line, sizeof line, out)) lines.emplace_back(line, std::strcspn(line, "\n"));
    if (out) pclose(out);
    std::remove(input.c_str());
    return lines;
}

// Actions of [from, to] by name: their local times.
std::map<std::string, std::vector<uint64_t>> Actions(const IcsCalendar& calendar, uint64_t from,
                                                     uint64_t to) {
    std::string list;
    calendar.AppendActions(from, to, &list);
    std::map<std::string, std::vector<uint64_t>> byName;
    for (const auto& a : nlohmann::json::parse("[" + list + "]")) {
        uint64_t t = 0;
        bool dateOnly = false;
        ParseLocalTime(a["date"].get<std::string>(), &t, &dateOnly);
        byName[a["name"].get<std::string>()].push_back(t);
    }
    return byName;
}

class SunTimes : public ::testing::Test {
protected:
    void SetUp() override { tzset(); }
    void TearDown() override { tzset(); }
    // The server's zone: Central European, summer time from 2026-03-29.
    ScopedEnv zone{"TZ", "CET-1CEST,M3.5.0,M10.5.0/3"};
};

}  // namespace

TEST(SunMarker, ReadsTheLastWordAndRefusesNearMisses) {
    struct Case {
        const char* summary;
        MarkerRead read;
        const char* name;
        SunEvent event;
        int64_t offset;
    };
    const Case cases[] = {
        {"Lights @sunset+30m", MarkerRead::kMarker, "Lights", SunEvent::kSunset, 1800},
        {"Shutters open @SunRise-1h30m ", MarkerRead::kMarker, "Shutters open", SunEvent::kSunrise, -5400},
        {"Level=3 @NOON+90s", MarkerRead::kMarker, "Level=3", SunEvent::kNoon, 90},
        {"@dawn", MarkerRead::kMarker, "", SunEvent::kDawn, 0},
        {"Fountain\t@dusk-1h1m1s", MarkerRead::kMarker, "Fountain", SunEvent::kDusk, -3661},
        {"Mail me@home", MarkerRead::kNone, "Mail me@home", SunEvent::kSunset, 0},
        {"@sunset at the gate", MarkerRead::kNone, "@sunset at the gate", SunEvent::kSunset, 0},
    };
    for (const Case& c : cases) {
        std::string summary = c.summary;
        SunMarker marker;
        EXPECT_EQ(c.read, ReadSunMarker(&summary, &marker)) << c.summary;
        EXPECT_EQ(c.name, summary) << c.summary;
        if (c.read != MarkerRead::kMarker) continue;
        EXPECT_EQ(c.event, marker.event) << c.summary;
        EXPECT_EQ(c.offset, marker.offsetSeconds) << c.summary;
    }
    for (const char* bad : {"Lights @sunsett", "Lights @sunset+", "Lights @sunset+30", "Lights @sunset30m",
                            "Lights @sunset+25h", "Lights @moonrise", "Lights @sunset+1d", "Lights @",
                            "Lights @sunset+9999999s"}) {
        std::string summary = bad;
        SunMarker marker;
        EXPECT_EQ(MarkerRead::kBad, ReadSunMarker(&summary, &marker)) << bad;
    }
}

TEST_F(SunTimes, OccurrencesTakeTheirDatesSunTimeWithinAMinuteOfAnEphemeris) {
    // Berlin's sunset across the change to summer time (the location's coordinates); sunrise in Tromso
    // through the end of its polar night and civil dusk less 15 minutes in Sydney (each with its own GEO,
    // which takes precedence over the location's).
    const std::string text =
        Calendar(Event("Facade @sunset", "DTSTART:20260327T120000\r\nRRULE:FREQ=DAILY;COUNT=4\r\n") +
                 Event("Shutters @sunrise",
                       "GEO:69.65;18.96\r\nDTSTART:20260112T090000\r\nRRULE:FREQ=DAILY;COUNT=7\r\n") +
                 Event("Fountain @dusk-15m",
                       "GEO:-33.87;151.21\r\nDTSTART:20260327T230000\r\nRRULE:FREQ=DAILY;COUNT=4\r\n"));
    struct Expected {
        const char* name;
        const char* event;
        Coordinates where;
        int firstDay, month, days;
        int64_t offset;
    };
    const Expected expected[] = {{"Facade", "sunset", kBerlin, 27, 3, 4, 0},
                                 {"Shutters", "sunrise", {69.65, 18.96}, 12, 1, 7, 0},
                                 {"Fountain", "dusk", {-33.87, 151.21}, 27, 3, 4, -15 * 60}};
    std::string queries;
    for (const Expected& e : expected) {
        for (int d = 0; d < e.days; ++d) {
            char line[96];
            std::snprintf(line, sizeof line, "%s %.4f %.4f 2026-%02d-%02d\n", e.event, e.where.latitude,
                          e.where.longitude, e.month, e.firstDay + d);
            queries += line;
        }
    }
    const std::vector<std::string> reference = Reference(queries);

    std::vector<std::string> notes;
    std::string error;
    auto calendar =
        IcsCalendar::Parse(text, At(2026, 1, 1), At(2026, 4, 30), &notes, &error, nullptr, nullptr, &kBerlin);
    ASSERT_TRUE(calendar) << error;
    const auto actions = Actions(*calendar, At(2026, 1, 1), At(2026, 4, 30));
    size_t line = 0, polar = 0;
    for (const Expected& e : expected) {
        const std::vector<uint64_t>& times =
            actions.count(e.name) ? actions.at(e.name) : std::vector<uint64_t>();
        size_t next = 0;
        for (int d = 0; d < e.days; ++d, ++line) {
            ASSERT_LT(line, reference.size()) << "the reference gave too few lines";
            if (reference[line] == "none") {
                ++polar;
                continue;
            }
            uint64_t want = 0;
            bool dateOnly = false;
            ASSERT_TRUE(ParseLocalTime(reference[line], &want, &dateOnly)) << reference[line];
            want += static_cast<uint64_t>(e.offset * static_cast<int64_t>(platform::kTicksPerSecond));
            ASSERT_LT(next, times.size()) << e.name << " has no action near " << reference[line];
            const uint64_t got = times[next++];
            const uint64_t apart = got > want ? got - want : want - got;
            EXPECT_LT(apart, 60 * platform::kTicksPerSecond)
                << e.name << ": " << FormatLocalTime(got) << ", the reference " << reference[line];
        }
        EXPECT_EQ(next, times.size()) << e.name << " has actions on dates without its sun event";
    }
    EXPECT_GT(polar, 0u) << "the dates chosen should reach into the polar night";
    ASSERT_EQ(1u, notes.size());
    EXPECT_NE(std::string::npos, notes[0].find(std::to_string(polar) + " occurrences give no action"))
        << notes[0];
}

TEST_F(SunTimes, TheBriefDaysAtEitherEndOfAPolarNightHaveTheirSunriseAndSunset) {
    // Tromso: the sun's centre barely clears the sunrise altitude at its transit on these dates.
    const Coordinates tromso{69.6492, 18.9553};
    const std::vector<std::string> reference = Reference(
        "sunrise 69.6492 18.9553 2027-01-15\nsunset 69.6492 18.9553 2027-01-15\n"
        "sunrise 69.6492 18.9553 2026-11-27\nsunset 69.6492 18.9553 2026-11-27\n");
    ASSERT_EQ(4u, reference.size());
    for (size_t i = 0; i < 4; ++i) {
        uint64_t want = 0, got = 0;
        bool dateOnly = false, sunless = false;
        ASSERT_TRUE(ParseLocalTime(reference[i], &want, &dateOnly)) << reference[i];
        const SunPlan plan{SunMarker{i % 2 ? SunEvent::kSunset : SunEvent::kSunrise, 0}, tromso};
        ASSERT_TRUE(SunTime(plan, want, &got, &sunless)) << "none on the date of " << reference[i];
        EXPECT_LT(got > want ? got - want : want - got, 60 * platform::kTicksPerSecond)
            << FormatLocalTime(got) << ", the reference " << reference[i];
    }
}

TEST_F(SunTimes, MistypedMarkersBadGeoAndMissingCoordinatesSkipTheEventWithANote) {
    const std::string text = Calendar(Event("Lights @sunsett", "DTSTART:20260327T120000\r\n") +
                                      Event("Shutters @sunrise", "GEO:91;10\r\nDTSTART:20260327T120000\r\n") +
                                      Event("Fountain @dusk", "DTSTART:20260327T120000\r\n") +
                                      Event("Doors", "DTSTART:20260327T120000\r\n"));
    std::vector<std::string> notes;
    std::string error;
    auto calendar = IcsCalendar::Parse(text, At(2026, 3, 1), At(2026, 4, 1), &notes, &error);
    ASSERT_TRUE(calendar) << error;
    EXPECT_EQ(1u, calendar->eventCount());
    ASSERT_EQ(3u, notes.size());
    EXPECT_NE(std::string::npos, notes[0].find("\"Lights @sunsett\"")) << notes[0];
    EXPECT_NE(std::string::npos, notes[1].find("bad GEO")) << notes[1];
    EXPECT_NE(std::string::npos, notes[2].find("no coordinates")) << notes[2];
}

namespace {

// The action of the "Noon @noon" calendar that a server with a calendar for location 4 gives on
// 2026-03-28; empty when it gives none.
std::string NoonServed(CalendarServer& calendar, const std::string& ics, IcsSource::Options options) {
    std::string error;
    calendar.SetNotes([](const std::string&) {});
    std::ofstream(ics, std::ios::binary)
        << Calendar(Event("Noon @noon", "DTSTART:20260327T120000\r\nRRULE:FREQ=DAILY\r\n"));
    if (!calendar.AddIcsSource(4, ics, options, &error)) return error;
    calendar.StartSources(5000);
    LoopbackServer http;
    calendar.Register(http.server, nullptr);
    if (http.Start() == 0) return "no server";
    httplib::Client client("127.0.0.1", http.port());
    auto res = client.Get("/apiv1/calendar/4/actions?date=2026-03-28");
    http.Stop();
    if (!res || res->status != 200) return "no answer";
    const auto list = nlohmann::json::parse(res->body)["calendaractions"];
    return list.empty() ? "" : list[0]["date"].get<std::string>();
}

}  // namespace

TEST_F(SunTimes, ALocationsCoordinatesComeFromTheDataFile) {
    ScopedEnv noProxy{"http_proxy", nullptr};
    const std::string ics = ::testing::TempDir() + "sun_noon_" + std::to_string(getpid()) + ".ics";
    CalendarServer calendar;
    std::string error;
    ASSERT_TRUE(
        calendar.Load(R"({"locations": [{"location_id": 4, "latitude": 52.52, "longitude": 13.405}]})",
                      At(2026, 3, 1), &error))
        << error;
    // Berlin's noon is about 12:11 in winter time.
    EXPECT_EQ(0u, NoonServed(calendar, ics, IcsSource::Options()).rfind("2026-03-28T12:1", 0));
    std::remove(ics.c_str());
}

TEST_F(SunTimes, ADatabaseOfTheFormerSchemaKeepsEveryRowAndStoresTheCoordinatesGiven) {
    ScopedEnv noProxy{"http_proxy", nullptr};
    const std::string base = ::testing::TempDir() + "sun_db_" + std::to_string(getpid());
    std::string error;
    {
        Database old;
        ASSERT_TRUE(old.Open(base + ".db", &error)) << error;
        ASSERT_TRUE(old.Exec(R"(
            CREATE TABLE locations(location_id INTEGER NOT NULL UNIQUE, name TEXT NOT NULL, comment TEXT NOT NULL,
                                   from_calendar INTEGER NOT NULL DEFAULT 0);
            CREATE TABLE variables(variable_id INTEGER NOT NULL UNIQUE, location_id INTEGER NOT NULL,
                                   name TEXT NOT NULL, var_type INTEGER NOT NULL, var_data TEXT NOT NULL);
            CREATE TABLE actions(location_id INTEGER NOT NULL, time INTEGER NOT NULL, name TEXT NOT NULL,
                                 macro TEXT NOT NULL, macro_action INTEGER NOT NULL, macro_data TEXT NOT NULL);
            CREATE INDEX actions_by_time ON actions(location_id, time);
            CREATE TABLE calendar_copies(location_id INTEGER PRIMARY KEY, source TEXT NOT NULL, body BLOB NOT NULL);
            INSERT INTO locations VALUES(4, 'Stage', '', 0), (5, 'Foyer', 'bar', 0);
            INSERT INTO variables VALUES(1, 5, 'Mode', 4, 'Day,Night');
            INSERT INTO actions VALUES(5, 1, 'Doors', 'Open doors', 1, '');
            INSERT INTO calendar_copies VALUES(4, 'elsewhere.ics', 'BEGIN:VCALENDAR');
            PRAGMA user_version = 1;)",
                             &error))
            << error;
    }
    {
        // --geo for the calendar's location: stored with it.
        CalendarServer first;
        ASSERT_TRUE(first.OpenDatabase(base + ".db", &error)) << error;
        IcsSource::Options placed;
        placed.place = kBerlin;
        EXPECT_EQ(0u, NoonServed(first, base + ".ics", placed).rfind("2026-03-28T12:1", 0));
    }
    {
        // A restart without --geo takes them from the database.
        CalendarServer second;
        ASSERT_TRUE(second.OpenDatabase(base + ".db", &error)) << error;
        EXPECT_EQ(0u, NoonServed(second, base + ".ics", IcsSource::Options()).rfind("2026-03-28T12:1", 0));
    }
    Database db;
    ASSERT_TRUE(db.Open(base + ".db", &error)) << error;
    Statement rows(
        db.handle(),
        "SELECT (SELECT group_concat(location_id || name || comment || ifnull(latitude, '-'), ';') "
        "FROM locations), (SELECT group_concat(name || var_data) FROM variables), "
        "(SELECT group_concat(location_id || macro) FROM actions), (SELECT COUNT(*) FROM calendar_copies)");
    ASSERT_TRUE(rows.Step());
    EXPECT_EQ("4Stage52.52;5Foyerbar-", rows.Text(0));
    EXPECT_EQ("ModeDay,Night", rows.Text(1));
    EXPECT_EQ("5Open doors", rows.Text(2));
    EXPECT_EQ(1, rows.Int(3));
    for (const char* suffix : {".db", ".db-wal", ".db-shm", ".ics"}) std::remove((base + suffix).c_str());
}
