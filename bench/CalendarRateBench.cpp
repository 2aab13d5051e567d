// Requests a second one client gets from the calendar server over loopback: on one kept connection, and
// with a new connection per request. Goal: the kept connection at least as fast as closing. For scale, the
// kept connection is also measured against cpp-httplib's own listener with its defaults, as the server
// had before its own (answers waited there for the client's delayed acknowledgement).
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "CalendarServer.h"
#include "MedianReporter.h"
#include "platform/Clock.h"

namespace {

const char kData[] = R"({"locations": [{"location_id": 1, "name": "Main hall", "comment": ""}],
  "variables": [{"variable_id": 1, "location_id": 1, "name": "Mode", "var_type": 4, "var_data": "Day,Night"}]})";

struct Served {
    calendar_server::CalendarServer calendar;
    std::unique_ptr<httplib::Server> http;
    std::thread thread;
    int port = 0;

    explicit Served(httplib::Server* server) : http(server) {
        std::string error;
        calendar.Load(kData, platform::LocalInstantNow(), &error);
        calendar.Register(*http, nullptr);
        port = http->bind_to_any_port("127.0.0.1");
        thread = std::thread([this] { http->listen_after_bind(); });
        while (!http->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~Served() {
        http->stop();
        thread.join();
    }
};

Served* g_server = nullptr;
Served* g_plain = nullptr;

void Requests(benchmark::State& state, const Served& served, bool keepAlive) {
    httplib::Client client("127.0.0.1", served.port);
    client.set_keep_alive(keepAlive);
    for (auto _ : state) {
        auto res = client.Get("/apiv1/location");
        if (!res || res->status != 200) state.SkipWithError("no answer");
    }
}

void BM_KeepAlive(benchmark::State& state) {
    Requests(state, *g_server, true);
}
void BM_Close(benchmark::State& state) {
    Requests(state, *g_server, false);
}
void BM_KeepAlivePlainListener(benchmark::State& state) {
    Requests(state, *g_plain, true);
}
BENCHMARK(BM_KeepAlive)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_Close)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_KeepAlivePlainListener)
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(0.5)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
    unsetenv("http_proxy");
    benchmark::Initialize(&argc, argv);
    Served server(new calendar_server::HttpServer());
    Served plain(new httplib::Server());
    g_server = &server;
    g_plain = &plain;
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    auto rate = [&](const char* name) {
        const double us = reporter.medians[name];
        return us > 0 ? 1e6 / us : 0.0;
    };
    std::printf(
        "requests a second, one client: kept connection %.0f, connection per request %.0f (goal: kept >= "
        "closed); kept connection on cpp-httplib's default listener %.0f\n",
        rate("BM_KeepAlive"), rate("BM_Close"), rate("BM_KeepAlivePlainListener"));
    return 0;
}
