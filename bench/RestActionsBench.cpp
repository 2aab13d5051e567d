// Reading a calendar of 10,000 actions from a loopback server (exchange, parse, records, sort, hand-over to
// the store), against a bare JSON parse of the same bytes in the same run. Prints the ratio of the medians
// and the process's peak memory. Target: ratio at most 1.5.
#include <benchmark/benchmark.h>
#include <httplib.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <thread>

#include "MedianReporter.h"
#include "calendar/MCalendarStore.h"
#include "server/MCalendarRESTClient.h"
#include "server/MHttpClient.h"

namespace {

constexpr int kActions = 10000;

std::string MakeAnswer() {
    std::mt19937 random(42);
    nlohmann::json actions = nlohmann::json::array();
    for (int i = 0; i < kActions; ++i) {
        char date[32];
        std::snprintf(date, sizeof date, "2024-05-%02uT%02u:%02u:%02u", unsigned(1 + random() % 3),
                      unsigned(random() % 24), unsigned(random() % 60), unsigned(random() % 60));
        const bool setVariable = random() % 2 == 0;
        actions.push_back({{"name", "Action " + std::to_string(i)},
                           {"macro", setVariable ? "Stage mode" : "Start show " + std::to_string(i % 50)},
                           {"date", date},
                           {"macro_action", setVariable ? 2 : 1},
                           {"macro_data", setVariable ? "Night" : ""},
                           {"location_id", 1}});
    }
    return nlohmann::json{{"calendaractions", actions}}.dump(1);
}

const std::string& Answer() {
    static const std::string answer = MakeAnswer();
    return answer;
}

// The calendar server's part, on a loopback port chosen at run time.
class Server {
public:
    Server() {
        server_.Get(R"(/apiv1/calendar/(\d+)/actions)", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(Answer(), "application/json");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~Server() {
        server_.stop();
        thread_.join();
    }
    int port() const { return port_; }

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
};

Server* g_server = nullptr;

void BM_RefreshActions(benchmark::State& state) {
    MCalendarStore store;
    MCalendarRESTClient client(&store);
    client.SetServerURL(L"127.0.0.1:" + std::to_wstring(g_server->port()));
    for (auto _ : state) {
        client.RefreshActions(1, 3);
        if (store.GetEvents()->GetCount() != kActions) state.SkipWithError("answer not read whole");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Answer().size()));
}

// The exchange alone, for the breakdown.
void BM_ExchangeOnly(benchmark::State& state) {
    MHttpClient client(L"127.0.0.1", g_server->port(), false, L"WinHttpClient", L"", L"", L"", L"");
    for (auto _ : state) {
        MHttpResponse response;
        client.HttpGet(L"/apiv1/calendar/1/actions?date=2024-05-01", L"", response);
        if (response.body.size() != Answer().size()) state.SkipWithError("body not read whole");
    }
}

// A backend that answers every request with the prepared answer from memory, for the breakdown.
class MemoryBackend : public platform::IHttpBackend {
public:
    platform::HttpHandle Open(const std::wstring&) override { return this; }
    platform::HttpHandle Connect(platform::HttpHandle, const std::wstring&, uint16_t) override {
        return this;
    }
    platform::HttpHandle OpenRequest(platform::HttpHandle, const std::wstring&, const std::wstring&,
                                     uint32_t) override {
        offset_ = 0;
        return this;
    }
    bool SetCredentials(platform::HttpHandle, uint32_t, uint32_t, const std::wstring&,
                        const std::wstring&) override {
        return true;
    }
    bool SendRequest(platform::HttpHandle, const std::wstring&, const void*, uint32_t, uint32_t) override {
        return true;
    }
    bool ReceiveResponse(platform::HttpHandle) override { return true; }
    bool QueryStatusCode(platform::HttpHandle, uint32_t* status) override {
        *status = 200;
        return true;
    }
    bool QueryRawHeaders(platform::HttpHandle, wchar_t* buffer, uint32_t* bytes) override {
        if (!buffer) {
            *bytes = sizeof(wchar_t);
            error_ = platform::kErrorInsufficientBuffer;
            return false;
        }
        buffer[0] = 0;
        *bytes = 0;
        return true;
    }
    bool QueryAuthSchemes(platform::HttpHandle, uint32_t*, uint32_t*, uint32_t*) override { return false; }
    bool QueryDataAvailable(platform::HttpHandle, uint32_t* available) override {
        *available = static_cast<uint32_t>(std::min<size_t>(Answer().size() - offset_, 65536));
        return true;
    }
    bool ReadData(platform::HttpHandle, void* buffer, uint32_t toRead, uint32_t* read) override {
        std::memcpy(buffer, Answer().data() + offset_, toRead);
        offset_ += toRead;
        *read = toRead;
        return true;
    }
    bool CloseHandle(platform::HttpHandle) override { return true; }
    uint32_t LastError() override { return error_; }
    void CancelRequest(platform::HttpHandle) override {}  // every call answers at once: nothing to interrupt

private:
    size_t offset_ = 0;
    uint32_t error_ = 0;
};

// Reading, records, sort and hand-over without the network, for the breakdown.
void BM_ReadOnly(benchmark::State& state) {
    MemoryBackend backend;
    MCalendarStore store;
    MCalendarRESTClient client(&store);
    client.SetBackend(&backend);
    for (auto _ : state) {
        client.RefreshActions(1, 3);
        if (store.GetEvents()->GetCount() != kActions) state.SkipWithError("answer not read whole");
    }
}

void BM_BareParse(benchmark::State& state) {
    for (auto _ : state) {
        nlohmann::json parsed = nlohmann::json::parse(Answer());
        benchmark::DoNotOptimize(parsed);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Answer().size()));
}

BENCHMARK(BM_RefreshActions)->Unit(benchmark::kMillisecond)->Repetitions(15)->ReportAggregatesOnly(true);
BENCHMARK(BM_ExchangeOnly)->Unit(benchmark::kMillisecond)->Repetitions(15)->ReportAggregatesOnly(true);
BENCHMARK(BM_ReadOnly)->Unit(benchmark::kMillisecond)->Repetitions(15)->ReportAggregatesOnly(true);
BENCHMARK(BM_BareParse)->Unit(benchmark::kMillisecond)->Repetitions(15)->ReportAggregatesOnly(true);

long PeakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    unsetenv("http_proxy");
    // Repetitions of the two benchmarks are interleaved so that both meet the same load on the machine.
    std::vector<char*> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    Server server;
    g_server = &server;

    // The memory one refresh needs, before any bare parse has raised the process's peak; a small exchange
    // first, so that the HTTP library's one-time set-up is not counted.
    {
        MHttpClient warmUp(L"127.0.0.1", server.port(), false, L"WinHttpClient", L"", L"", L"", L"");
        MHttpResponse response;
        warmUp.HttpGet(L"/apiv1/location", L"", response);
    }
    const long baseline = PeakKilobytes();
    {
        MCalendarStore store;
        MCalendarRESTClient client(&store);
        client.SetServerURL(L"127.0.0.1:" + std::to_wstring(server.port()));
        client.RefreshActions(1, 3);
    }
    std::printf("answer: %d actions, %zu bytes; peak memory %.1f MiB before a refresh, %.1f MiB after it\n",
                kActions, Answer().size(), baseline / 1024.0, PeakKilobytes() / 1024.0);
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const double refresh = reporter.medians["BM_RefreshActions"];
    const double parse = reporter.medians["BM_BareParse"];
    if (refresh > 0 && parse > 0) {
        std::printf("median RefreshActions %.3f ms, bare parse %.3f ms: ratio %.2f (target <= 1.5)\n",
                    refresh, parse, refresh / parse);
    }
    std::printf("peak memory of the whole run (bare parses included): %.1f MiB\n", PeakKilobytes() / 1024.0);
    return 0;
}
