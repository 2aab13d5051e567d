// The plan page's status request with 50 calendar sources (files, each with an event it skips, so every
// source has lines to report) and their readers, over loopback on a kept connection. Goal: under 5 ms.
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "CalendarServer.h"
#include "MedianReporter.h"
#include "ServedCalendar.h"

namespace {

constexpr int kSources = 50;
int g_port = 0;

void BM_Status50Sources(benchmark::State& state) {
    httplib::Client client("127.0.0.1", g_port);
    client.set_keep_alive(true);
    for (auto _ : state) {
        auto res = client.Get("/apiv1/status");
        if (!res || res->status != 200) state.SkipWithError("no answer");
    }
}
BENCHMARK(BM_Status50Sources)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
    unsetenv("http_proxy");
    benchmark::Initialize(&argc, argv);
    calendar_server::CalendarServer calendar;
    calendar.SetNotes([](const std::string&) {});
    std::vector<std::string> files;
    for (int i = 1; i <= kSources; ++i) {
        files.push_back("/tmp/status_bench_" + std::to_string(getpid()) + "_" + std::to_string(i) + ".ics");
        std::ofstream(files.back()) << "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Bench//EN\r\n"
                                       "BEGIN:VEVENT\r\nUID:a\r\nSUMMARY:Doors\r\nDTSTART:20260101T200000\r\n"
                                       "RRULE:FREQ=DAILY\r\nEND:VEVENT\r\nBEGIN:VEVENT\r\nUID:b\r\n"
                                       "SUMMARY:Fountain @dusk+x\r\nDTSTART:20260101T200000\r\nEND:VEVENT\r\n"
                                       "END:VCALENDAR\r\n";
        std::string error;
        if (!calendar.AddIcsSource(i, files.back(), calendar_server::IcsSource::Options(), &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
    }
    calendar.StartSources(10000);
    ServedCalendar served(calendar);
    g_port = served.port();
    // Each location has a reader, as when show controllers poll.
    httplib::Client reader("127.0.0.1", g_port);
    for (int i = 1; i <= kSources; ++i)
        reader.Get(("/apiv1/calendar/" + std::to_string(i) + "/actions?date=2026-06-01").c_str());

    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("/apiv1/status with %d sources: %.2f ms (goal: under 5 ms)\n", kSources,
                reporter.medians["BM_Status50Sources"] / 1000.0);
    for (const std::string& f : files) std::remove(f.c_str());
    return 0;
}
