// A synchronisation between the substitute host's own objects (answering at once, or pending and completed
// from its completion thread) and the reference calendar server on loopback.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "CalendarServer.h"
#include "Host.h"
#include "calendar/MCalendarEnumVariable.h"
#include "calendar/MCalendarStore.h"
#include "hostsync/DBVariableSyncer.h"
#include "hostsync/KorrelRemote.h"
#include "server/MCalendarRESTClient.h"
#include "support/LoopbackServer.h"

namespace {

const char kHostFile[] = R"({
  "variables": [{"name": "Volume", "type": "integer", "value": 5},
                {"name": "Title", "type": "string", "value": "Opening"},
                {"name": "Mode", "type": "enum", "items": ["Day", "Night"], "value": "Day"}],
  "groups": [{"name": "Stage", "items": ["Volume", "Title", "Mode"], "listing": ["Cue 1"],
              "groups": [{"name": "Lights", "items": []}]}]})";

const char kServerData[] = R"({
  "locations": [{"location_id": 3, "name": "Hall", "comment": ""}],
  "variables": [{"variable_id": 1, "location_id": 3, "name": "Volume", "var_type": 1},
                {"variable_id": 2, "location_id": 3, "name": "Mode", "var_type": 4, "var_data": "Night,Day"},
                {"variable_id": 3, "location_id": 3, "name": "Retired", "var_type": 2}],
  "actions": []})";

class EndToEndSync : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(zrkhost::ParseHostFile(kHostFile, &file, &error)) << error;
        ASSERT_TRUE(calendar.Load(kServerData, 0, &error)) << error;
        calendar.Register(http.server, nullptr);
        ASSERT_NE(0, http.Start());
        client.SetServerURL(L"127.0.0.1:" + std::to_wstring(http.port()));
    }

    // The server's variables as "name:type", enumerations with ":data", in its order.
    std::vector<std::string> ServerVariables() {
        std::vector<std::string> out;
        const nlohmann::json document = calendar.Document();
        for (const auto& v : document["variables"]) {
            std::string line = v["name"].get<std::string>() + ":" + std::to_string(v["var_type"].get<int>());
            if (v["var_type"] == 4) line += ":" + v["var_data"].get<std::string>();
            out.push_back(line);
        }
        return out;
    }

    zrkhost::HostFile file;
    std::FILE* sink = std::tmpfile();
    zrkhost::EventLog log{sink, false};
    calendar_server::CalendarServer calendar;
    LoopbackServer http;
    MCalendarStore store;
    MCalendarRESTClient client{&store};

    ~EndToEndSync() override {
        http.Stop();
        if (sink) std::fclose(sink);
    }
};

INSTANTIATE_TEST_SUITE_P(AtOnceAndPending, EndToEndSync, ::testing::Values(-1, 5));

}  // namespace

TEST_P(EndToEndSync, TheServerEndsWithTheGroupsVariables) {
    zrkhost::Host host(file, log, GetParam());
    void* out = nullptr;
    ASSERT_EQ(0, host.Root()->QueryInterface("IKorrelRemoteManager2", &out));
    IKorrelRemote2* async = static_cast<IKorrelRemoteManager2*>(out)->GetRemote(nullptr);
    ASSERT_EQ(0, host.Root()->QueryInterface("IVariableManager", &out));
    auto* variables = static_cast<IVariableManager*>(out);
    {
        KorrelRemote remote(nullptr, nullptr, async, variables);
        DBVariableSyncer syncer(&remote, &store, &client, 3);
        EXPECT_TRUE(syncer.Sync("Stage", true));
        // A group the host does not know is no empty group: the server keeps its variables.
        DBVariableSyncer unknown(&remote, &store, &client, 3);
        EXPECT_FALSE(unknown.Sync("Nowhere", true));
    }
    async->Release();
    host.Shutdown();

    EXPECT_EQ((std::vector<std::string>{"Volume:1", "Mode:4:Day,Night", "Title:2", "Cue 1:3"}),
              ServerVariables());
    std::vector<std::string> names;
    auto list = store.AccessVariables();
    for (const MCalendarVariable* v : *list) names.push_back(v->name);
    EXPECT_EQ((std::vector<std::string>{"Volume", "Title", "Cue 1", "Mode"}), names);
}
