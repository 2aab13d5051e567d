// The plan page's items request for a week of 1,000 actions, over loopback on a kept connection, asked as a
// browser asks (taking every compression): the data file's one-off actions, and as many planned items.
// Goal: under 20 ms each, so that the page's first load stays under 300 ms.
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "CalendarServer.h"
#include "MedianReporter.h"
#include "ServedCalendar.h"
#include "platform/Clock.h"

namespace {

constexpr int kActions = 1000;
constexpr int kWriters = 8;
int g_port = 0;
std::string g_weeks[3];  // each location's window, "start=...&end=..."

void Items(benchmark::State& state, int location) {
    httplib::Client client("127.0.0.1", g_port);
    client.set_keep_alive(true);
    client.set_decompress(false);
    const std::string target = "/apiv1/plan/" + std::to_string(location) + "/items?" + g_weeks[location];
    for (auto _ : state) {
        auto res = client.Get(target.c_str(), {{"Accept-Encoding", "gzip, deflate, br"}});
        if (!res || res->status != 200) state.SkipWithError("no answer");
    }
}
void BM_ItemsOneOffWeek(benchmark::State& state) {
    Items(state, 1);
}
void BM_ItemsPlannedWeek(benchmark::State& state) {
    Items(state, 2);
}
BENCHMARK(BM_ItemsOneOffWeek)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_ItemsPlannedWeek)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// The week's day and minute of action i: from 06:00 to 23:59, a few at the same minute as a show has.
std::string When(uint64_t monday, int i, bool date) {
    const uint64_t minute = 6 * 60 + static_cast<uint64_t>(i * 37) % (18 * 60);
    const std::string text =
        calendar_server::FormatLocalTime(monday + static_cast<uint64_t>(i % 7) * platform::kTicksPerDay +
                                         minute * 60 * platform::kTicksPerSecond);
    return date ? text.substr(0, 10) : text.substr(11);
}

}  // namespace

int main(int argc, char** argv) {
    unsetenv("http_proxy");
    benchmark::Initialize(&argc, argv);
    const uint64_t now = platform::LocalInstantNow();
    const uint64_t today = now - now % platform::kTicksPerDay;
    // 1601-01-01 was a Monday.
    const uint64_t monday = today - (today / platform::kTicksPerDay % 7) * platform::kTicksPerDay;
    g_weeks[1] = "start=" + When(monday, 0, true) + "&end=" + When(monday, 6, true);
    g_weeks[2] = "start=" + When(today, 0, true) + "&end=" + When(today, 6, true);
    nlohmann::json data{{"locations",
                         {{{"location_id", 1}, {"name", "Main hall"}, {"comment", ""}},
                          {{"location_id", 2}, {"name", "Studio"}, {"comment", ""}}}},
                        {"actions", nlohmann::json::array()}};
    for (int i = 0; i < kActions; ++i) {
        const std::string name = "Cue " + std::to_string(i);
        data["actions"].push_back({{"location_id", 1},
                                   {"name", name},
                                   {"macro", name},
                                   {"date", When(monday, i, true) + "T" + When(monday, i, false)},
                                   {"macro_action", 1},
                                   {"macro_data", ""}});
    }
    calendar_server::CalendarServer calendar;
    calendar.SetNotes([](const std::string&) {});
    std::string error;
    if (!calendar.Load(data.dump(), now, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    ServedCalendar served(calendar);
    g_port = served.port();
    // The planned items go in as the page writes them (those before today are refused, so their week starts
    // today), from a few clients at once.
    std::atomic<int> failed{0};
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
        writers.emplace_back([&, w] {
            httplib::Client writer("127.0.0.1", g_port);
            for (int i = w; i < kActions; i += kWriters) {
                const std::string name = "Cue " + std::to_string(i);
                const nlohmann::json item{{"name", name},
                                          {"date", When(today, i, true)},
                                          {"time", When(today, i, false)},
                                          {"macro_action", 1},
                                          {"macro", name}};
                auto res = writer.Post("/apiv1/plan/2", item.dump(), "application/json");
                if (!res || res->status != 201) ++failed;
            }
        });
    }
    for (std::thread& t : writers) t.join();
    if (failed) {
        std::fprintf(stderr, "%d planned items were refused\n", failed.load());
        return 1;
    }

    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf(
        "plan page items of a week, %d one-off actions: %.2f ms, %d planned items: %.2f ms (goal: under "
        "20 ms each)\n",
        kActions, reporter.medians["BM_ItemsOneOffWeek"] / 1000.0, kActions,
        reporter.medians["BM_ItemsPlannedWeek"] / 1000.0);
    return 0;
}
