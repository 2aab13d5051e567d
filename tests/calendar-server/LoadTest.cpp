// The calendar server under load: concurrent long windows of a large calendar, and every day's answer
// afterwards as a quiet server gives it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <thread>
#include <vector>

#include "CalendarServer.h"
#include "IcsCalendar.h"
#include "support/LoopbackServer.h"

using calendar_server::CalendarServer;

namespace {

// One server of one calendar (location 1), with its HTTP front on loopback.
struct Served {
    Served(const std::string& path, int budgetMs) {
        std::string error;
        calendar.SetNotes([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex);
            notes += line + "\n";
        });
        calendar_server::IcsSource::Options options;
        options.expandBudgetMs = budgetMs;
        EXPECT_TRUE(calendar.AddIcsSource(1, path, options, &error)) << error;
        calendar.StartSources(60000);
        calendar.Register(http.server, nullptr);
        EXPECT_NE(0, http.Start());
    }
    // The status and body of one window's answer.
    std::pair<int, std::string> Get(const std::string& query) {
        httplib::Client client("127.0.0.1", http.port());
        client.set_read_timeout(60);
        auto res = client.Get(("/apiv1/calendar/1/actions?" + query).c_str());
        return res ? std::make_pair(res->status, res->body) : std::make_pair(-1, std::string());
    }

    // The notes outlive the calendar's readers, which may still write them while it stops.
    std::mutex mutex;
    std::string notes;
    CalendarServer calendar;
    LoopbackServer http;
};

// Days of 2027 from March on: beyond the occurrences kept ready, so each is expanded on request.
std::string Day(int index) {
    std::tm t{};
    t.tm_year = 127, t.tm_mon = 2, t.tm_mday = 1 + index, t.tm_hour = 12;
    std::mktime(&t);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &t);
    return text;
}

}  // namespace

// Long windows asked at once by several clients overrun the loaded server's time budget (a second here,
// so that this happens in a moment on any machine; a day takes a small part of it): each is answered whole or
// refused with 503, and every day asked afterwards is answered as a quiet server answers it.
TEST(IcsLoad, WindowsCutUnderLoadAreRefusedAndEveryDayIsAnsweredAsAQuietServerAnswersIt) {
    ScopedEnv zone{"TZ", "CET-1CEST,M3.5.0,M10.5.0/3"};
    tzset();
    // A whole window stays under the 16 MiB an answer may take (about 117,000 actions of some 100 bytes).
    const int events = 60, windowDays = 150, clients = 4;
    const int days[] = {0, 30, 75, 120, 160};
    const std::string path = ::testing::TempDir() + "ics_load_" + std::to_string(getpid()) + ".ics";
    {
        std::ofstream text(path, std::ios::binary);
        text << "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//load//EN\r\n";
        for (int i = 0; i < events; ++i) {
            text << "BEGIN:VEVENT\r\nUID:" << i << "\r\nSUMMARY:Cue " << i << "\r\nDTSTART:20260105T1000"
                 << (i % 60 < 10 ? "0" : "") << i % 60
                 << "\r\nRRULE:FREQ=DAILY;BYHOUR=10,11,12,13,14,15,16,17,18,"
                 << "19,20,21,22\r\nEND:VEVENT\r\n";
        }
        text << "END:VCALENDAR\r\n";
    }

    Served quiet(path, calendar_server::IcsCalendar::kDefaultBudgetMs);
    std::map<int, std::string> expected;
    for (int d : days) {
        auto answer = quiet.Get("date=" + Day(d));
        ASSERT_EQ(200, answer.first) << answer.second;
        EXPECT_EQ(size_t(events * 13), nlohmann::json::parse(answer.second)["calendaractions"].size());
        expected[d] = answer.second;
    }

    Served loaded(path, 1000);
    auto window = [&](int c) { return "start=" + Day(c * 5) + "&end=" + Day(c * 5 + windowDays - 1); };
    std::vector<std::pair<int, std::string>> answers(clients);
    std::vector<std::thread> load;
    for (int c = 0; c < clients; ++c) load.emplace_back([&, c] { answers[c] = loaded.Get(window(c)); });
    for (std::thread& t : load) t.join();
    for (int c = 0; c < clients; ++c) {
        const auto& answer = answers[c];
        if (answer.first == 200) {  // not cut, so whole
            EXPECT_TRUE(quiet.Get(window(c)).second == answer.second) << "window " << c << " is not whole";
        } else {
            EXPECT_EQ(503, answer.first);
            EXPECT_NE(std::string::npos, answer.second.find("\"error\"")) << answer.second;
        }
    }
    for (int d : days) {
        const auto answer = loaded.Get("date=" + Day(d));
        EXPECT_EQ(200, answer.first) << Day(d);
        EXPECT_TRUE(expected[d] == answer.second) << Day(d) << " differs from a quiet server's answer";
    }
    std::lock_guard<std::mutex> lock(loaded.mutex);
    if (std::any_of(answers.begin(), answers.end(), [](const auto& a) { return a.first == 503; })) {
        EXPECT_NE(std::string::npos, loaded.notes.find("that window is not answered")) << loaded.notes;
    }
    tzset();
    std::remove(path.c_str());
}
