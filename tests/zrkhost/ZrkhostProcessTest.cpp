// zrkhost run as a program against the stand-in plug-in: what it calls, in which order, and what it
// writes for each effect.
#include <gtest/gtest.h>

#include <regex>

#include "ReplyWalk.h"
#include "ZrkhostRun.h"

namespace zrkhost_test {
namespace {

using nlohmann::json;

const char kSettings[] =
    "<DeviceData Version=\"1000\" Name=\"\" DeviceInternalVersion=\"1\">\n"
    "\t<Setup Local=\"1\" URL=\"http://127.0.0.1:8123\" RefreshPeriod=\"5\" Lookahead=\"2\" LocationId=\"3\" "
    "/>\n"
    "</DeviceData>\n";

void ExpectNoErrors(const HostRun& run) {
    for (const auto& e : run.Of("error")) ADD_FAILURE() << "unexpected error event: " << e.dump();
}

HostRun RunStandard(const std::string& input, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--host", WriteTempFile("host.json", StandardHostFile()), "--settings",
                                     WriteTempFile("settings.xml", kSettings)};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunHost(args, input);
}

TEST(ZrkhostLifecycle, StartsInTheHostsOrderAndTakesDownAtEndOfInput) {
    HostRun run = RunStandard("");
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.Calls(), (std::vector<std::string>{"GetZRKEntryPoint", "QueryInterface", "Initialize",
                                                     "SetHostReady", "CreateDevice", "LoadSettings", "Start",
                                                     "Stop", "Release", "Release"}));
    for (const auto& e : run.Of("result")) EXPECT_EQ(e["code"], 0) << e.dump();
    // The plug-in saw the calls without codes in their place too.
    auto start = run.Reports("start");
    ASSERT_EQ(start.size(), 1u);
    EXPECT_EQ(start[0]["order"],
              "Initialize,SetHostReady,GetDefinition,CreateDevice,SetHostDevice,LoadSettings,Start");
    ExpectNoErrors(run);
}

TEST(ZrkhostLifecycle, EveryLineIsOneObjectWithLocalTimeAndKind) {
    HostRun run = RunStandard("sync task Show A\nbogus\n");
    ASSERT_FALSE(run.events.empty());
    // "at" and "what" lead every object, in that order.
    std::regex line(R"(\{"at":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}","what":"[a-z]+"(,.*)?\})");
    size_t start = 0;
    while (start < run.out.size()) {
        size_t end = run.out.find('\n', start);
        ASSERT_NE(end, std::string::npos) << "the last line is not ended";
        EXPECT_TRUE(std::regex_match(run.out.substr(start, end - start), line))
            << run.out.substr(start, end - start);
        start = end + 1;
    }
    for (const auto& e : run.events) ASSERT_TRUE(e.is_object()) << run.out;
    auto task = run.Of("task");
    ASSERT_EQ(task.size(), 1u);
    EXPECT_EQ(
        task[0].dump(),
        json::object({{"at", task[0]["at"]}, {"what", "task"}, {"name", "Show A"}, {"result", 0}}).dump());
    auto errors = run.Of("error");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0]["message"], "unknown command: bogus");
}

TEST(ZrkhostLifecycle, QuitEndsTheInputAndLaterLinesAreNotRead) {
    HostRun run = RunStandard("quit\nsync task Show A\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.Of("task").empty());
    EXPECT_EQ(run.Calls().back(), "Release");
}

TEST(ZrkhostLifecycle, WithoutSettingsTheDeviceKeepsItsOwnAndStillLooksUpItsVariables) {
    HostRun run = RunHost({}, "sync status NextEvent hello\n");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> calls = run.Calls();
    ASSERT_GE(calls.size(), 9u);
    EXPECT_EQ(std::vector<std::string>(calls.begin() + 5, calls.begin() + 9),
              (std::vector<std::string>{"SaveSettings", "FreeText", "LoadSettings", "Start"}));
    EXPECT_EQ(run.Of("status", "NextEvent").size(), 1u);
}

TEST(ZrkhostLifecycle, RefusesWhatItCannotRun) {
    HostRun missing = RunHost({"--plugin", "/nonexistent/libNothing.so"}, "", false);
    EXPECT_EQ(missing.exitCode, 1);
    ASSERT_EQ(missing.Of("error").size(), 1u);
    EXPECT_NE(missing.Of("error")[0]["message"].get<std::string>().find("/nonexistent/libNothing.so"),
              std::string::npos);

    HostRun badHost = RunHost({"--host", WriteTempFile("bad.json", R"({"tasks": [1]})")}, "");
    EXPECT_EQ(badHost.exitCode, 2);
    EXPECT_EQ(badHost.Of("error").size(), 1u);
    EXPECT_TRUE(badHost.Calls().empty());

    EXPECT_EQ(RunHost({"--frobnicate"}, "").exitCode, 2);
    EXPECT_EQ(RunHost({"--settings", "x", "--server", "http://h"}, "").exitCode, 2);
    EXPECT_EQ(RunHost({"--pending", "soon"}, "").exitCode, 2);
    EXPECT_EQ(RunHost({"--settings", "/nonexistent/settings.xml"}, "").exitCode, 2);
}

TEST(ZrkhostTasks, KnownTasksStartAndUnknownOnesAreRefusedWithOne) {
    HostRun run = RunStandard("sync task Show A\nsync task Nope\nsync stask Show B\nsync stask Nope\n");
    EXPECT_EQ(run.exitCode, 0);
    auto tasks = run.Of("task");
    ASSERT_EQ(tasks.size(), 4u);
    EXPECT_EQ(tasks[0]["name"], "Show A");
    EXPECT_EQ(tasks[0]["result"], 0);
    EXPECT_EQ(tasks[1]["name"], "Nope");
    EXPECT_EQ(tasks[1]["result"], 1);
    EXPECT_EQ(tasks[2]["result"], 0);
    EXPECT_EQ(tasks[3]["result"], 1);
    // What the plug-in got back is what the host wrote.
    auto async = run.Reports("task");
    ASSERT_EQ(async.size(), 2u);
    EXPECT_EQ(async[0]["final"], 0);
    EXPECT_EQ(async[1]["final"], 1);
    auto sync = run.Reports("stask");
    ASSERT_EQ(sync.size(), 2u);
    EXPECT_EQ(sync[1]["call"], 1);
}

TEST(ZrkhostVariables, SetsIntegersAsNumbersTextsAndEnumerationItems) {
    HostRun run = RunStandard(
        "sync set Volume 42\nsync set Title Hello world\nsync set Mode Day\nsync set Mode Dusk\n"
        "sync set Missing 1\nsync enum Mode\nsync enum Volume\n");
    EXPECT_EQ(run.exitCode, 0);
    auto sets = run.Of("set");
    ASSERT_EQ(sets.size(), 3u);
    EXPECT_EQ(sets[0]["name"], "Volume");
    EXPECT_TRUE(sets[0]["value"].is_number_integer());
    EXPECT_EQ(sets[0]["value"], 42);
    EXPECT_EQ(sets[1]["value"], "Hello world");
    EXPECT_EQ(sets[2]["value"], "Day");
    // An item the enumeration lacks is refused, and said so.
    auto reports = run.Reports("set");
    ASSERT_EQ(reports.size(), 5u);
    EXPECT_EQ(reports[0]["type"], 4);
    EXPECT_EQ(reports[3]["call"], 2);
    EXPECT_FALSE(reports[4]["found"].get<bool>());
    ASSERT_EQ(run.Of("error").size(), 1u);
    EXPECT_NE(run.Of("error")[0]["message"].get<std::string>().find("Dusk"), std::string::npos);

    auto enums = run.Reports("enum");
    ASSERT_EQ(enums.size(), 2u);
    EXPECT_EQ(enums[0]["items"], json::array({"Day", "Night"}));
    EXPECT_TRUE(enums[0]["beyond"].get<bool>());
    EXPECT_EQ(enums[1]["query"], 0x10000000);
}

TEST(ZrkhostVariables, DeviceVariablesReportTextsAndHundredths) {
    HostRun run = RunStandard(
        "sync status NextEvent Show A\nsync time NextRefreshTime 5281500\n"
        "sync time LastEventTime 5\nsync status Unknown x\n");
    EXPECT_EQ(run.exitCode, 0);
    auto next = run.Of("status", "NextEvent");
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(next[0]["value"], "Show A");
    EXPECT_FALSE(next[0].contains("hundredths"));
    auto refresh = run.Of("status", "NextRefreshTime");
    ASSERT_EQ(refresh.size(), 1u);
    EXPECT_EQ(refresh[0]["hundredths"], 5281500);
    EXPECT_FALSE(refresh[0].contains("value"));
    // A time written into a text variable is the plug-in's fault and is reported, not shown as a status.
    EXPECT_TRUE(run.Of("status", "LastEventTime").empty());
    EXPECT_EQ(run.Of("error").size(), 1u);
    auto unknown = run.Reports("status");
    ASSERT_EQ(unknown.size(), 1u);
    EXPECT_FALSE(unknown[0]["found"].get<bool>());
}

TEST(ZrkhostVariables, DefinitionCarriesInstanceIdsOneToEightInOrder) {
    HostRun run = RunStandard("definition\n");
    auto defs = run.Of("definition");
    ASSERT_EQ(defs.size(), 1u);
    std::string text = defs[0]["text"];
    const char* names[] = {"NextRefreshTime", "LastRefreshTime", "LastEvent",     "LastEventTime",
                           "LastEventAction", "NextEvent",       "NextEventTime", "NextEventAction"};
    size_t at = 0;
    for (int i = 0; i < 8; ++i) {
        std::string expected = "InstanceID=\"" + std::to_string(i + 1) + "\" Name=\"" + names[i] + "\"";
        size_t found = text.find(expected);
        ASSERT_NE(found, std::string::npos) << expected << "\n" << text;
        EXPECT_GT(found, at);
        at = found;
    }
}

TEST(ZrkhostRequests, RepliesReadAsTheFilesGroupsItemsAndListing) {
    HostRun run = RunStandard(
        "sync request 27 GrantedRootGroup\nsync request 7 Stage\nsync request 3 Stage\nsync request 3 "
        "Lights\n"
        "sync request 7 Nowhere\nsync request 5 Stage\nsync request 27 Other\nsync srequest 27 "
        "GrantedRootGroup\n");
    EXPECT_EQ(run.exitCode, 0);
    auto r = run.Reports("request");
    ASSERT_EQ(r.size(), 7u);
    std::vector<ReadItem> groups, items, listing, lights;
    ASSERT_TRUE(ReadUserGroups(r[0]["reply"], &groups));
    EXPECT_EQ(groups, (std::vector<ReadItem>{{"Stage", 1}, {"Lights", 2}, {"Foyer", 1}}));
    ASSERT_TRUE(ReadItems(r[1]["reply"], false, &items));
    EXPECT_EQ(items, (std::vector<ReadItem>{{"Volume", 1}, {"Mode", 4}, {"Title", 2}}));
    ASSERT_TRUE(ReadItems(r[2]["reply"], true, &listing));
    EXPECT_EQ(listing, (std::vector<ReadItem>{{"Cue 1", 3}, {"Cue 2", 3}}));
    ASSERT_TRUE(ReadItems(r[3]["reply"], true, &lights));
    EXPECT_EQ(lights, (std::vector<ReadItem>{{"Spot", 3}}));
    EXPECT_EQ(r[4]["final"], 2);
    EXPECT_EQ(r[5]["final"], 19);
    EXPECT_EQ(r[6]["final"], 2);
    EXPECT_FALSE(r[4].contains("reply"));

    auto sync = run.Reports("srequest");
    ASSERT_EQ(sync.size(), 1u);
    EXPECT_EQ(sync[0]["call"], 0);
    EXPECT_EQ(sync[0]["reply"], r[0]["reply"]);
    EXPECT_EQ(sync[0]["freed"], 0);
    EXPECT_TRUE(sync[0]["nulled"].get<bool>());
}

TEST(ZrkhostPending, AsynchronousCallsAnswer21AndCompleteLaterFromAnotherThread) {
    HostRun run =
        RunStandard("sync task Show A\nsync request 3 Stage\nsync task Nope\n", {"--pending", "120"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    auto tasks = run.Reports("task");
    ASSERT_EQ(tasks.size(), 2u);
    for (const auto& t : tasks) {
        EXPECT_EQ(t["call"], 21);
        EXPECT_TRUE(t["otherThread"].get<bool>());
        EXPECT_GE(t["waitedMs"].get<int>(), 100);
        EXPECT_FALSE(t.contains("notBegun"));
        // The host's own reference is dropped again before it completes.
        EXPECT_EQ(t["refs"], 1);
        EXPECT_FALSE(t["underflow"].get<bool>());
    }
    EXPECT_EQ(tasks[0]["final"], 0);
    EXPECT_EQ(tasks[1]["final"], 1);
    auto request = run.Reports("request");
    ASSERT_EQ(request.size(), 1u);
    EXPECT_EQ(request[0]["call"], 21);
    std::vector<ReadItem> listing;
    ASSERT_TRUE(ReadItems(request[0]["reply"], true, &listing));
    EXPECT_EQ(listing.size(), 2u);
    // The synchronous remote is never pending.
    HostRun sync = RunStandard("sync stask Show A\n", {"--pending", "120"});
    ASSERT_EQ(sync.Reports("stask").size(), 1u);
    EXPECT_EQ(sync.Reports("stask")[0]["call"], 0);
    ExpectNoErrors(run);
}

TEST(ZrkhostCommands, DeviceCommandsReachTheDeviceWithTheirCodes) {
    HostRun run = RunStandard("enable\ndisable\nrefresh\nsync\nstop\nstart\nconfigure\n");
    EXPECT_EQ(run.exitCode, 0);
    auto commands = run.Reports("command");
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[0]["id"], 0);
    EXPECT_EQ(commands[1]["id"], 1);
    EXPECT_EQ(commands[2]["id"], 2);
    EXPECT_EQ(run.Calls(),
              (std::vector<std::string>{"GetZRKEntryPoint", "QueryInterface", "Initialize", "SetHostReady",
                                        "CreateDevice", "LoadSettings", "Start", "SendCommand", "SendCommand",
                                        "SendCommand", "SendCommand", "Stop", "Start", "Configure", "Stop",
                                        "Release", "Release"}));
    EXPECT_EQ(run.Of("result", "Configure")[0]["code"], 13);
    auto configure = run.Reports("configure");
    ASSERT_EQ(configure.size(), 1u);
    EXPECT_GT(configure[0]["right"].get<int>(), 0);
    EXPECT_GT(configure[0]["bottom"].get<int>(), 0);
    // The command text came back to the entry it was taken from.
    ExpectNoErrors(run);
}

TEST(ZrkhostSettings, SaveShowsTheTextAndLoadReplacesIt) {
    std::string other =
        "<DeviceData Version=\"1000\" Name=\"B\" DeviceInternalVersion=\"1\"><Setup /></DeviceData>";
    std::string input =
        "save\nload " + WriteTempFile("other.xml", other) + "\nsave\nload /nonexistent/x.xml\nload\n";
    HostRun run = RunStandard(input);
    auto saved = run.Of("settings");
    ASSERT_EQ(saved.size(), 2u);
    EXPECT_EQ(saved[0]["text"], kSettings);
    EXPECT_EQ(saved[1]["text"], other);
    EXPECT_EQ(run.Of("result", "FreeText").size(), 2u);
    EXPECT_EQ(run.Of("result", "LoadSettings").size(), 2u);
    EXPECT_EQ(run.Of("error").size(), 2u);
}

TEST(ZrkhostSettings, ServerOptionsBuildTheSetupElement) {
    HostRun full = RunHost(
        {"--server", "http://127.0.0.1:9999", "--location", "4", "--refresh", "15", "--lookahead", "3"},
        "save\n");
    auto saved = full.Of("settings");
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0]["text"],
              "<DeviceData Version=\"1000\" Name=\"\" DeviceInternalVersion=\"1\">\n"
              "\t<Setup Local=\"1\" URL=\"http://127.0.0.1:9999\" RefreshPeriod=\"15\" Lookahead=\"3\" "
              "LocationId=\"4\" />\n</DeviceData>\n");
    // Only some given: the device's own values stay for the rest.
    HostRun partial = RunHost({"--location", "7"}, "save\n");
    ASSERT_EQ(partial.Of("settings").size(), 1u);
    EXPECT_EQ(partial.Of("settings")[0]["text"],
              "<DeviceData Version=\"1000\" Name=\"\" DeviceInternalVersion=\"1\">\n"
              "\t<Setup Local=\"1\" URL=\"http://localhost:9256\" RefreshPeriod=\"10\" Lookahead=\"1\" "
              "LocationId=\"7\" />\n</DeviceData>\n");
}

TEST(ZrkhostTheme, ThemeIsOfferedOnlyWithTheHostFilesColours) {
    HostRun themed = RunStandard("sync theme 0\nsync theme 11\nsync theme 5\n");
    auto t = themed.Reports("theme");
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0]["query"], 0);
    EXPECT_EQ(t[0]["colour"], 0x302010);
    EXPECT_EQ(t[1]["colour"], 0xFFFFFF);
    EXPECT_EQ(t[2]["colour"], 0);
    EXPECT_FALSE(t[0]["window"].get<bool>());
    HostRun plain = RunHost({}, "sync theme 0\n");
    ASSERT_EQ(plain.Reports("theme").size(), 1u);
    EXPECT_EQ(plain.Reports("theme")[0]["query"], 0x10000000);
}

TEST(ZrkhostPretty, PrettyLinesAreAlignedTextNotJson) {
    HostRun run = RunStandard("sync task Show A\nsync time NextRefreshTime 5221500\n", {"--pretty"});
    EXPECT_EQ(run.exitCode, 0);
    std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}  (\w+) +.*)");
    bool sawTask = false, sawTime = false;
    size_t start = 0;
    while (start < run.out.size()) {
        size_t end = run.out.find('\n', start);
        std::string l = run.out.substr(start, end - start);
        start = end + 1;
        if (l.rfind("    ", 0) == 0) continue;  // a multi-line text's continuation
        EXPECT_TRUE(std::regex_match(l, line)) << l;
        sawTask = sawTask || l.find("task       \"Show A\" -> 0") != std::string::npos;
        sawTime = sawTime || l.find("NextRefreshTime = 14:30:15.00 (5221500)") != std::string::npos;
    }
    EXPECT_TRUE(sawTask) << run.out;
    EXPECT_TRUE(sawTime) << run.out;
}

}  // namespace
}  // namespace zrkhost_test
