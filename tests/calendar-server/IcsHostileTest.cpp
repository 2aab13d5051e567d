// Calendars as other programs write them, and calendars written to hurt: events the reader must keep,
// recurrences it must place rightly, and files or rules that must not crash, stall or swamp the server.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

#include "CalendarServer.h"
#include "support/LoopbackServer.h"

using calendar_server::IcsCalendar;

namespace {

// Reads calendar text in the server's zone (Berlin unless given) and lists "date name" of a window.
class IcsRead : public ::testing::Test {
protected:
    void TearDown() override { tzset(); }

    // `events`: VEVENT blocks (or whole calendars when `whole`).
    void Read(const std::string& events, const char* from, const char* to, bool whole = false) {
        tzset();
        const std::string text =
            whole ? events
                  : "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//EN\r\n" + events + "END:VCALENDAR\r\n";
        uint64_t a = 0, b = 0;
        ASSERT_TRUE(calendar_server::ParseLocalTime(from, &a, nullptr));
        ASSERT_TRUE(calendar_server::ParseLocalTime(to, &b, nullptr));
        notes.clear();
        error.clear();
        calendar = IcsCalendar::Parse(text, a, b, &notes, &error,
                                      [this](const std::string& n) { notes.push_back(n); });
    }
    std::vector<std::string> Actions(const char* from, const char* to) {
        uint64_t a = 0, b = 0;
        EXPECT_TRUE(calendar_server::ParseLocalTime(from, &a, nullptr));
        EXPECT_TRUE(calendar_server::ParseLocalTime(to, &b, nullptr));
        std::string json;
        calendar->AppendActions(a, b, &json);
        std::vector<std::string> lines;
        for (const auto& action : nlohmann::json::parse("[" + json + "]")) {
            lines.push_back(action["date"].get<std::string>() + " " + action["name"].get<std::string>());
        }
        return lines;
    }
    std::string Notes() const {
        std::string all;
        for (const auto& n : notes) all += n + "\n";
        return all;
    }
    static std::string Event(const std::string& name, const std::string& lines) {
        return "BEGIN:VEVENT\r\nUID:" + name + "\r\nSUMMARY:" + name + "\r\n" + lines + "END:VEVENT\r\n";
    }

    ScopedEnv zone{"TZ", "CET-1CEST,M3.5.0,M10.5.0/3"};
    std::vector<std::string> notes;
    std::string error;
    std::shared_ptr<const IcsCalendar> calendar;
};

}  // namespace

TEST_F(IcsRead, EmptyTextPropertiesAreIgnoredButAnUnreadablePropertyInUseRefusesTheEvent) {
    Read(Event("Kept", "DESCRIPTION:\r\nLOCATION:\r\nDTSTART:20250303T100000\r\n") +
             Event("Refused", "DTSTART:20250303T110000\r\nRRULE:FREQ=SOMETIMES\r\n"),
         "2025-03-03T00:00:00", "2025-03-04T00:00:00");
    ASSERT_TRUE(calendar) << error;
    EXPECT_EQ((std::vector<std::string>{"2025-03-03T10:00:00 Kept"}),
              Actions("2025-03-03T00:00:00", "2025-03-04T00:00:00"));
    EXPECT_NE(std::string::npos, Notes().find("\"Kept\" (UID Kept): ignored: No value for DESCRIPTION"))
        << Notes();
    EXPECT_NE(std::string::npos, Notes().find("\"Refused\" (UID Refused): Can't parse as RECUR")) << Notes();
}

TEST_F(IcsRead, AnUnreadableGeoIsIgnoredOnAnEventThatDoesNotFollowTheSun) {
    Read(Event("Doors open", "GEO:52.52,13.40\r\nDTSTART:20250303T100000\r\n") +
             Event("Shutters @sunrise", "GEO:52.52,13.40\r\nDTSTART:20250303T100000\r\n"),
         "2025-03-03T00:00:00", "2025-03-04T00:00:00");
    ASSERT_TRUE(calendar) << error;
    EXPECT_EQ((std::vector<std::string>{"2025-03-03T10:00:00 Doors open"}),
              Actions("2025-03-03T00:00:00", "2025-03-04T00:00:00"));
    EXPECT_NE(std::string::npos, Notes().find("\"Doors open\" (UID Doors open): ignored:")) << Notes();
    EXPECT_NE(std::string::npos, Notes().find("GEO")) << Notes();
}

TEST_F(IcsRead, SubDailyIntervalsFollowTheStartInEveryWindow) {
    const std::string events =
        Event("Three", "DTSTART:20250303T100000\r\nRRULE:FREQ=HOURLY;INTERVAL=3\r\n") +
        Event("Odd", "DTSTART:20250303T000000\r\nRRULE:FREQ=MINUTELY;INTERVAL=243\r\n");
    Read(events, "2025-03-01T00:00:00", "2025-03-31T23:59:59");
    ASSERT_TRUE(calendar) << error;
    // On the 4th: 01:00 is 5 steps of 3 h after the start; 00:18 and 04:21 are 6 and 7 steps of 243 min.
    const auto indexed = Actions("2025-03-04T00:00:00", "2025-03-04T05:00:00");
    EXPECT_EQ((std::vector<std::string>{"2025-03-04T00:18:00 Odd", "2025-03-04T01:00:00 Three",
                                        "2025-03-04T04:00:00 Three", "2025-03-04T04:21:00 Odd"}),
              indexed);
    // Asked outside the index (expanded on demand for that window alone), the same instants.
    Read(events, "2025-05-01T00:00:00", "2025-05-02T00:00:00");
    EXPECT_EQ(indexed, Actions("2025-03-04T00:00:00", "2025-03-04T05:00:00"));
}

TEST_F(IcsRead, AnInstanceInADaylightSavingGapMovesAnHourLaterAndTheRepeatedHourKeepsBothInstants) {
    // A time the clocks skip is read with the offset from before the skip (02:30 is 03:30): in the
    // system's zone of that name, in the calendar's own zone, as a floating time, and in a rule's instance.
    Read(
        "BEGIN:VTIMEZONE\r\nTZID:Stage time\r\nBEGIN:STANDARD\r\nDTSTART:19701025T030000\r\n"
        "RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\nTZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\n"
        "END:STANDARD\r\nBEGIN:DAYLIGHT\r\nDTSTART:19700329T020000\r\nRRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-"
        "1SU\r\n"
        "TZOFFSETFROM:+0100\r\nTZOFFSETTO:+0200\r\nEND:DAYLIGHT\r\nEND:VTIMEZONE\r\n" +
            Event("Gap", "DTSTART;TZID=Europe/Berlin:20250330T023000\r\nRRULE:FREQ=DAILY;COUNT=3\r\n") +
            Event("Own zone", "DTSTART;TZID=Stage time:20250330T023000\r\n") +
            Event("Floating", "DTSTART:20250330T023000\r\n") +
            Event("Crossing", "DTSTART:20250329T023000\r\nRRULE:FREQ=DAILY;COUNT=2\r\n") +
            Event("Hourly", "DTSTART:20251026T000000Z\r\nRRULE:FREQ=HOURLY;COUNT=4\r\n"),
        "2025-03-29T00:00:00", "2025-10-27T00:00:00");
    ASSERT_TRUE(calendar) << error;
    EXPECT_EQ((std::vector<std::string>{"2025-03-30T03:30:00 Gap", "2025-03-30T03:30:00 Own zone",
                                        "2025-03-30T03:30:00 Floating", "2025-03-30T03:30:00 Crossing",
                                        "2025-03-31T02:30:00 Gap", "2025-04-01T02:30:00 Gap"}),
              Actions("2025-03-30T00:00:00", "2025-04-01T23:59:59"));
    EXPECT_EQ((std::vector<std::string>{"2025-10-26T02:00:00 Hourly", "2025-10-26T02:00:00 Hourly",
                                        "2025-10-26T03:00:00 Hourly", "2025-10-26T04:00:00 Hourly"}),
              Actions("2025-10-26T00:00:00", "2025-10-26T23:59:59"));
}

TEST_F(IcsRead, CalendarsAsOtherProgramsWriteThem) {
    const std::string second = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\n" +
                               Event("Second", "DTSTART:20250303T120000\r\n") + "END:VCALENDAR\r\n";
    Read(
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\n"
        // A zone with a name only: the system's zone of that name stands in.
        "BEGIN:VTIMEZONE\r\nTZID:Europe/Berlin\r\nEND:VTIMEZONE\r\n" +
            Event("First", "DTSTART;TZID=Europe/Berlin:20250303T100000\r\n") +
            // A whole day excluded from a timed series; DTSTART (a Monday) is the first of 3.
            Event("Daily",
                  "DTSTART:20250303T080000\r\nRRULE:FREQ=DAILY;COUNT=4\r\n"
                  "EXDATE;VALUE=DATE:20250304\r\n") +
            Event("Tuesdays", "DTSTART:20250303T090000\r\nRRULE:FREQ=WEEKLY;BYDAY=TU;COUNT=3\r\n") +
            Event("Endless", "DTSTART:20250303T070000\r\nRRULE:FREQ=DAILY;UNTIL=20250231T000000Z\r\n") +
            "END:VCALENDAR\r\n" + second,
        "2025-03-01T00:00:00", "2025-03-31T23:59:59", true);
    ASSERT_TRUE(calendar) << error;
    EXPECT_EQ((std::vector<std::string>{"2025-03-03T08:00:00 Daily", "2025-03-03T09:00:00 Tuesdays",
                                        "2025-03-03T10:00:00 First", "2025-03-03T12:00:00 Second",
                                        "2025-03-04T09:00:00 Tuesdays", "2025-03-05T08:00:00 Daily",
                                        "2025-03-06T08:00:00 Daily", "2025-03-11T09:00:00 Tuesdays"}),
              Actions("2025-03-01T00:00:00", "2025-03-31T23:59:59"));
    EXPECT_NE(std::string::npos, Notes().find("time zone \"Europe/Berlin\" has no start or offsets"))
        << Notes();
    EXPECT_NE(std::string::npos,
              Notes().find("\"Endless\" (UID Endless): recurrence rule ends on an impossible"))
        << Notes();
}

TEST_F(IcsRead, HostileCalendarsAreRefusedOrBoundedAndSaySo) {
    // Nested without end (lines ended by CR LF or by a bare CR): refused before the tree is built (freeing
    // it would overflow the stack).
    for (const std::string eol : {"\r\n", "\r"}) {
        std::string deep = "BEGIN:VCALENDAR" + eol;
        for (int i = 0; i < 100000; ++i) deep += "BEGIN:X" + eol;
        for (int i = 0; i < 100000; ++i) deep += "END:X" + eol;
        Read(deep + "END:VCALENDAR" + eol, "2025-03-01T00:00:00", "2025-03-31T23:59:59", true);
        EXPECT_FALSE(calendar);
        EXPECT_NE(std::string::npos, error.find("nested deeper")) << error;
    }

    // Rules that never match, or match every second since 1601, end within their bounds; every
    // second is cut to one a minute. The other events are served whole.
    // The bounds are of time too: the events to check come first, so that a slow machine cannot have
    // them given up.
    const auto began = std::chrono::steady_clock::now();
    Read(
        Event("Swamp", "DTSTART:20250301T000000\r\nRRULE:FREQ=SECONDLY\r\n") +
            Event("Good", "DTSTART:20250303T100000\r\nRRULE:FREQ=DAILY\r\n") +
            Event("Never", "DTSTART:20250101T000000\r\nRRULE:FREQ=MINUTELY;BYMONTH=2;BYMONTHDAY=30\r\n") +
            Event("Never daily",
                  "DTSTART:20250101T000000\r\nRRULE:FREQ=DAILY;BYMONTH=2;BYMONTHDAY=30;"
                  "BYHOUR=0,6,12,18;BYMINUTE=0,10,20,30,40,50;BYSECOND=0,15,30,45\r\n") +
            Event("Ancient", "DTSTART:16010101T000000\r\nRRULE:FREQ=SECONDLY;COUNT=2000000000;BYHOUR=12\r\n"),
        "2025-03-01T00:00:00", "2025-03-10T23:59:59");
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(15));
    ASSERT_TRUE(calendar) << error;
    const auto day = Actions("2025-03-09T00:00:00", "2025-03-09T23:59:59");
    EXPECT_EQ(1441u, day.size());
    EXPECT_EQ("2025-03-09T00:00:00 Swamp", day.front());
    EXPECT_EQ("2025-03-09T10:00:00 Good", day.back());
    EXPECT_NE(std::string::npos, Notes().find("given up")) << Notes();
    EXPECT_NE(std::string::npos,
              Notes().find("\"Swamp\" (UID Swamp): more than 1440 instances on 2025-03-01"))
        << Notes();
}
