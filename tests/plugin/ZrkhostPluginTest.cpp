// The substitute host run as a program against the real plug-in library and a calendar server on
// loopback: start-up, commands, saved settings and a clean end at the end of input.
#if defined(ZRKHOST_PATH) && defined(ZRK_HAVE_CALENDAR_SERVER)

#include <CalendarServer.h>
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "platform/Clock.h"
#include "platform/Process.h"

namespace {

using nlohmann::json;

const char kData[] = R"({
  "locations": [{"location_id": 1, "name": "Main hall", "comment": ""}],
  "variables": [],
  "actions": [{"location_id": 1, "name": "Doors", "macro": "Show A", "date": "+1h",
               "macro_action": 1, "macro_data": ""}]
})";

// A calendar server on 127.0.0.1 with a free port, for the length of one test.
class LoopbackCalendarServer {
public:
    LoopbackCalendarServer() {
        std::string error;
        EXPECT_TRUE(calendar_.Load(kData, platform::LocalInstantNow(), &error)) << error;
        calendar_.Register(server_, nullptr);
        port_ = server_.bind_to_any_port("127.0.0.1");
        EXPECT_GT(port_, 0);
        thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~LoopbackCalendarServer() {
        server_.stop();
        thread_.join();
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_); }

private:
    calendar_server::CalendarServer calendar_;
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
};

struct HostRun {
    platform::ProcessResult process;
    std::vector<json> events;

    std::vector<json> Of(const std::string& what) const {
        std::vector<json> found;
        for (const json& e : events) {
            if (e.is_object() && e.value("what", "") == what) found.push_back(e);
        }
        return found;
    }
};

HostRun RunZrkhost(const std::vector<std::string>& args, const std::string& input) {
    HostRun run;
    run.process = platform::RunProcess(ZRKHOST_PATH, args, input, 20000);
    std::istringstream lines(run.process.out);
    std::string line;
    while (std::getline(lines, line)) run.events.push_back(json::parse(line, nullptr, false));
    return run;
}

TEST(ZrkhostWithPlugin, RunsAgainstTheServerTakesCommandsAndEndsCleanly) {
    LoopbackCalendarServer server;
    HostRun run =
        RunZrkhost({"--server", server.Url(), "--location", "1", "--refresh", "5", "--lookahead", "2"},
                   "refresh\ndisable\nsave\nenable\nsync Stage\n");
    ASSERT_FALSE(run.process.timedOut);
    EXPECT_EQ(run.process.exitCode, 0) << run.process.err;
    for (const json& e : run.events) ASSERT_TRUE(e.is_object()) << run.process.out;
    for (const json& e : run.Of("error")) ADD_FAILURE() << e.dump();

    std::vector<std::string> calls;
    for (const json& e : run.Of("result")) {
        calls.push_back(e.value("call", ""));
        EXPECT_EQ(e.value("code", -1), 0) << e.dump();
    }
    const std::vector<std::string> expected = {
        "GetZRKEntryPoint", "QueryInterface", "Initialize", "SetHostReady",
        "CreateDevice",     "LoadSettings",   "Start",      "SendCommand",
        "SendCommand",      "SaveSettings",   "FreeText",   "SendCommand",
        "SendCommand",      "Stop",           "Release",    "Release"};
    EXPECT_EQ(calls, expected) << run.process.out;

    std::vector<json> settings = run.Of("settings");
    ASSERT_EQ(settings.size(), 1u);
    EXPECT_EQ(settings[0].value("text", ""),
              "<DeviceData Version=\"1000\" Name=\"\" DeviceInternalVersion=\"1\">\n"
              "\t<Setup Local=\"1\" URL=\"" +
                  server.Url() +
                  "\" RefreshPeriod=\"5\" Lookahead=\"2\" LocationId=\"1\" />\n"
                  "</DeviceData>\n");
}

TEST(ZrkhostWithPlugin, SettingsFileAndDefinitionWithTheHostsIds) {
    LoopbackCalendarServer server;
    std::string path = ::testing::TempDir() + "zrkhost_plugin_settings.xml";
    std::ofstream(path, std::ios::binary)
        << "<DeviceData Version=\"1000\" Name=\"Hall\"><Setup Local=\"0\" URL=\"" << server.Url()
        << "\" RefreshPeriod=\"3\" Lookahead=\"1\" LocationId=\"1\"/></DeviceData>";
    HostRun run = RunZrkhost({"--settings", path}, "definition\nstop\nstart\nquit\n");
    ASSERT_FALSE(run.process.timedOut);
    EXPECT_EQ(run.process.exitCode, 0) << run.process.err;
    for (const json& e : run.Of("result")) EXPECT_EQ(e.value("code", -1), 0) << e.dump();
    std::vector<json> definition = run.Of("definition");
    ASSERT_EQ(definition.size(), 1u);
    std::string text = definition[0].value("text", "");
    // zrkhost numbers the device's variables 1 to 8 in the definition's order.
    EXPECT_NE(text.find("<TimeData InstanceID=\"1\" Name=\"NextRefreshTime\" />"), std::string::npos) << text;
    EXPECT_NE(text.find("<StringData InstanceID=\"8\" Name=\"NextEventAction\" />"), std::string::npos)
        << text;
}

// A host that completes calls only on the thread that also stops the device: Stop returns while the
// device's synchronisation waits for such a call, and the host completes the call given up later.
TEST(ZrkhostWithPlugin, StopOnTheThreadThatCompletesHostCallsReturnsWhileADeviceCallIsPending) {
    LoopbackCalendarServer server;
    HostRun run = RunZrkhost({"--server", server.Url(), "--location", "1", "--refresh", "5", "--lookahead",
                              "1", "--pending", "3000", "--main-thread"},
                             "sync Stage\nwait 300\nstop\nstart\nquit\n");
    ASSERT_FALSE(run.process.timedOut) << run.process.out;
    EXPECT_EQ(run.process.exitCode, 0) << run.process.err;
    for (const json& e : run.Of("result")) EXPECT_EQ(e.value("code", -1), 0) << e.dump();
}

}  // namespace

#endif
