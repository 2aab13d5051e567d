// A one-day query through the REST interface against a location whose calendar is an iCalendar file of
// 10,000 recurring events (weekly, daily, monthly rules; zoned, UTC and floating times; exception dates), a
// tenth of which follow the sun (at the location's coordinates or their own).
// Prints the time the calendar took to read and index, and the median of a query for tomorrow (answered
// from the index) and of one a year ahead (expanded on request). Target: tomorrow under 20 ms.
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>

#include "CalendarServer.h"
#include "MedianReporter.h"
#include "platform/Clock.h"

namespace {

constexpr int kEvents = 10000;

std::string DayText(uint64_t instant) {
    return calendar_server::FormatLocalTime(instant).substr(0, 10);
}

std::string MakeCalendar() {
    std::mt19937 random(7);
    std::string text =
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//bench//EN\r\nX-WR-CALNAME:Bench\r\n"
        "BEGIN:VTIMEZONE\r\nTZID:Bench/Zone\r\n"
        "BEGIN:STANDARD\r\nDTSTART:19701025T030000\r\nRRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\n"
        "TZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\nEND:STANDARD\r\n"
        "BEGIN:DAYLIGHT\r\nDTSTART:19700329T020000\r\nRRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU\r\n"
        "TZOFFSETFROM:+0100\r\nTZOFFSETTO:+0200\r\nEND:DAYLIGHT\r\nEND:VTIMEZONE\r\n";
    const uint64_t now = platform::LocalInstantNow();
    const char* rules[] = {"FREQ=WEEKLY;BYDAY=MO,WE,FR", "FREQ=DAILY;INTERVAL=2",
                           "FREQ=MONTHLY;BYMONTHDAY=1,15", "FREQ=WEEKLY;INTERVAL=2", "FREQ=DAILY;COUNT=400"};
    const char* zones[] = {"", ";TZID=Bench/Zone", ""};
    const char* markers[] = {" @sunset+15m", " @sunrise-30m", " @dusk", " @dawn+1h", " @noon"};
    const char* places[] = {"", "GEO:48.14;11.58\r\n", "", "GEO:-33.87;151.21\r\n", "GEO:64.15;-21.94\r\n"};
    for (int i = 0; i < kEvents; ++i) {
        // Series that began up to a year ago.
        const uint64_t start = now - (random() % 365) * platform::kTicksPerDay;
        platform::CalendarTime t;
        platform::InstantToCalendar(start, &t);
        char date[32];
        std::snprintf(date, sizeof date, "%04u%02u%02uT%02u%02u00%s", unsigned(t.year), unsigned(t.month),
                      unsigned(t.day), unsigned(random() % 24), unsigned(random() % 60),
                      i % 3 == 2 ? "Z" : "");
        text += "BEGIN:VEVENT\r\nUID:bench-" + std::to_string(i) + "\r\nSUMMARY:" +
                (i % 4 == 0 ? "Level" + std::to_string(i % 7) + "=" + std::to_string(i)
                            : "Cue " + std::to_string(i)) +
                (i % 10 == 3 ? markers[i / 10 % 5] : "") + "\r\nDTSTART" + zones[i % 3] + ":" + date +
                "\r\nRRULE:" + rules[i % 5] + "\r\n";
        if (i % 10 == 3) text += places[i / 50 % 5];
        if (i % 10 == 0) text += std::string("EXDATE") + zones[i % 3] + ":" + date + "\r\n";
        text += "END:VEVENT\r\n";
    }
    return text + "END:VCALENDAR\r\n";
}

struct Served {
    calendar_server::CalendarServer calendar;
    httplib::Server http;
    std::thread thread;
    int port = 0;
    double readMs = 0;

    Served() {
        char path[] = "/tmp/bench-ics-XXXXXX";
        const int fd = mkstemp(path);
        if (fd >= 0) close(fd);
        std::ofstream(path, std::ios::binary) << MakeCalendar();
        std::string error;
        calendar.SetNotes([](const std::string&) {});
        calendar_server::IcsSource::Options options;
        options.place = calendar_server::Coordinates{52.52, 13.405};
        calendar.AddIcsSource(1, path, options, &error);
        const auto start = std::chrono::steady_clock::now();
        calendar.StartSources(120000);
        readMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        std::remove(path);
        calendar.Register(http, nullptr);
        http.set_tcp_nodelay(true);
        port = http.bind_to_any_port("127.0.0.1");
        thread = std::thread([this] { http.listen_after_bind(); });
        while (!http.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~Served() {
        http.stop();
        thread.join();
    }
};

Served* g_served = nullptr;

void Query(benchmark::State& state, uint64_t day) {
    httplib::Client client("127.0.0.1", g_served->port);
    client.set_read_timeout(120);
    const std::string target = "/apiv1/calendar/1/actions?date=" + DayText(day);
    size_t bytes = 0;
    for (auto _ : state) {
        auto res = client.Get(target.c_str());
        if (!res || res->status != 200)
            state.SkipWithError("no answer");
        else
            bytes = res->body.size();
    }
    state.counters["answer_kB"] = static_cast<double>(bytes) / 1024.0;
}

void BM_DayTomorrow(benchmark::State& state) {
    Query(state, platform::LocalInstantNow() + platform::kTicksPerDay);
}
void BM_DayNextYear(benchmark::State& state) {
    Query(state, platform::LocalInstantNow() + 365 * platform::kTicksPerDay);
}
BENCHMARK(BM_DayTomorrow)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(BM_DayNextYear)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
    unsetenv("http_proxy");
    benchmark::Initialize(&argc, argv);
    Served served;
    g_served = &served;
    std::printf("calendar of %d recurring events (%d following the sun) read and indexed in %.0f ms\n",
                kEvents, kEvents / 10, served.readMs);
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("one-day query, tomorrow: median %.2f ms (target < 20 ms); a year ahead: %.0f ms\n",
                reporter.medians["BM_DayTomorrow"], reporter.medians["BM_DayNextYear"]);
    return 0;
}
