// The synchroniser between a host fake and a variable table served on loopback: what is sent in which
// order, what the store shows afterwards, and when a synchronisation refuses to run or reports failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "FakeVariableServer.h"
#include "calendar/MCalendarEnumVariable.h"
#include "calendar/MCalendarStore.h"
#include "hostsync/DBVariableSyncer.h"
#include "hostsync/KorrelRemote.h"
#include "platform/Sync.h"
#include "server/HttpCancel.h"
#include "server/MCalendarRESTClient.h"
#include "support/FakeHost.h"

using fakehost::FakeHost;
using fakehost::FakeRemoteHost;

namespace {

constexpr int kLocation = 7;

// A loopback address where nothing listens any more: a port the system handed out, then closed.
std::wstring ClosedPortUrl() {
    int port = 0;
    {
        LoopbackServer gone;
        port = gone.Start();
    }
    return L"127.0.0.1:" + std::to_wstring(port);
}

class VariableSync : public ::testing::Test {
protected:
    VariableSync() { client.SetServerURL(server.Url()); }

    bool Sync(const char* group, bool refreshFirst = true) {
        DBVariableSyncer syncer(&remote, &store, &client, kLocation);
        return syncer.Sync(group, refreshFirst);
    }

    // "name:type:id:location" of each record in the store, in order.
    std::vector<std::string> Store() {
        std::vector<std::string> out;
        auto list = store.AccessVariables();
        for (const MCalendarVariable* v : *list) {
            out.push_back(v->name + ":" + std::to_string(v->var_type) + ":" + std::to_string(v->variable_id) +
                          ":" + std::to_string(v->location_id));
        }
        return out;
    }

    // Reads the server's list into the store, as the device does before it synchronises.
    void LoadStore() {
        ASSERT_TRUE(client.RefreshVariables(kLocation));
        server.ClearRequests();
    }

    FakeVariableServer server;
    FakeHost host;
    KorrelRemote remote{nullptr, &host.syncRemote, nullptr, &host.variables};
    MCalendarStore store;
    MCalendarRESTClient client{&store};
};

}  // namespace

// ---- what is sent -----------------------------------------------------------------------------------------

TEST_F(VariableSync, CreatesThenUpdatesAndTheStoreEndsWithTheHostsView) {
    server.AddVariable(11, kLocation, "Alpha", 1);
    server.AddVariable(12, kLocation, "Beta", 2);
    host.services.SetGroup("Stage",
                           {{"Alpha", "IntegerData"}, {"Beta", "IntegerData"}, {"Gamma", "StringData"}});

    EXPECT_TRUE(Sync("Stage"));

    const auto requests = server.Requests();
    ASSERT_EQ(3u, requests.size());
    EXPECT_EQ("GET", requests[0].method);
    EXPECT_EQ("/apiv1/variable?locationid=7", requests[0].path);
    EXPECT_EQ("POST", requests[1].method);
    EXPECT_EQ(R"({"location_id":7,"name":"Gamma","var_type":2,"variable_id":0})", requests[1].body);
    EXPECT_EQ("PUT", requests[2].method);
    EXPECT_EQ(R"({"location_id":7,"name":"Beta","var_type":1,"variable_id":12})", requests[2].body);
    EXPECT_EQ((std::vector<std::string>{"Alpha:1:11:7", "Gamma:2:0:7", "Beta:1:12:7"}), Store());
}

TEST_F(VariableSync, WithoutRefreshTheStoresListIsTheServersView) {
    server.AddVariable(11, kLocation, "Alpha", 1);
    server.AddVariable(12, kLocation, "Old", 2);
    LoadStore();
    host.services.SetGroup("Stage", {{"Alpha", "IntegerData"}});
    EXPECT_TRUE(Sync("Stage", false));
    EXPECT_EQ((std::vector<std::string>{"DELETE /apiv1/variable/12"}), server.Lines(true));
    EXPECT_EQ((std::vector<std::string>{"Alpha:1:11:7"}), Store());

    // An unchanged record keeps the server's id in the store, so a later change without a refresh
    // updates that row and a later removal deletes it.
    server.ClearRequests();
    host.services.SetGroup("Stage", {{"Alpha", "StringData"}});
    EXPECT_TRUE(Sync("Stage", false));
    host.services.SetGroup("Stage", {});
    EXPECT_TRUE(Sync("Stage", false));
    const auto requests = server.Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ(R"({"location_id":7,"name":"Alpha","var_type":2,"variable_id":11})", requests[0].body);
    EXPECT_EQ("DELETE /apiv1/variable/11", requests[1].method + " " + requests[1].path);
}

TEST_F(VariableSync, OnlyTheFirstOfSeveralServerRecordsOfOneNameIsMatched) {
    server.AddVariable(1, kLocation, "Alpha", 1);
    server.AddVariable(2, kLocation, "Alpha", 1);
    host.services.SetGroup("Stage", {{"Alpha", "IntegerData"}});
    EXPECT_TRUE(Sync("Stage"));
    EXPECT_TRUE(server.Lines().empty());

    // A changed type updates the first of them in place; the duplicate stays on the server.
    server.ClearRequests();
    host.services.SetGroup("Stage", {{"Alpha", "StringData"}});
    EXPECT_TRUE(Sync("Stage"));
    const auto requests = server.Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ(R"({"location_id":7,"name":"Alpha","var_type":2,"variable_id":1})", requests[1].body);
}

TEST_F(VariableSync, EnumerationsCompareTheirTextsInOrder) {
    server.AddVariable(5, kLocation, "Mode", 4, "Day,Night");
    server.AddVariable(6, kLocation, "Scene", 4, "A,B");
    host.variables.Add("Mode", kZrkVariableEnum, {"Day", "Night"});
    host.variables.Add("Scene", kZrkVariableEnum, {"B", "A"});
    host.services.SetGroup("Stage", {{"Mode", "EnumData"}, {"Scene", "enumdata"}});
    EXPECT_TRUE(Sync("Stage"));
    const auto requests = server.Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("PUT", requests[1].method);
    EXPECT_EQ(R"({"location_id":7,"name":"Scene","var_data":"B,A","var_type":4,"variable_id":6})",
              requests[1].body);
    auto list = store.AccessVariables();
    ASSERT_EQ(2u, list->size());
    auto* scene = dynamic_cast<MCalendarEnumVariable*>(list->back());
    ASSERT_NE(nullptr, scene);
    EXPECT_EQ((std::vector<std::string>{"B", "A"}), scene->values);
}

TEST_F(VariableSync, NamesMatchWithRegardToCase) {
    server.AddVariable(3, kLocation, "Level", 1);
    host.services.SetGroup("Stage", {{"level", "IntegerData"}});
    EXPECT_TRUE(Sync("Stage"));
    EXPECT_EQ((std::vector<std::string>{"POST /apiv1/variable", "DELETE /apiv1/variable/3"}), server.Lines());
    EXPECT_EQ((std::vector<std::string>{"level:1:0:7"}), Store());
}

TEST_F(VariableSync, AllCreationsComeBeforeUpdatesAndUpdatesBeforeDeletions) {
    server.AddVariable(1, kLocation, "Gone1", 1);
    server.AddVariable(2, kLocation, "Up1", 1);
    server.AddVariable(3, kLocation, "Gone2", 1);
    server.AddVariable(4, kLocation, "Up2", 1);
    host.services.SetGroup("Stage", {{"Up2", "StringData"}, {"New1", "IntegerData"}, {"Up1", "StringData"}},
                           {"New2"});
    EXPECT_TRUE(Sync("Stage"));
    const auto requests = server.Requests();
    std::vector<std::string> seen;
    for (size_t i = 1; i < requests.size(); ++i) {
        const auto body = nlohmann::json::parse(requests[i].body.empty() ? "null" : requests[i].body);
        seen.push_back(requests[i].method + " " +
                       (body.is_object() ? body["name"].get<std::string>() : requests[i].path));
    }
    EXPECT_EQ((std::vector<std::string>{"POST New1", "POST New2", "PUT Up2", "PUT Up1",
                                        "DELETE /apiv1/variable/1", "DELETE /apiv1/variable/3"}),
              seen);
    EXPECT_EQ((std::vector<std::string>{"New1:1:0:7", "New2:3:0:7", "Up2:2:4:7", "Up1:2:2:7"}), Store());
}

TEST_F(VariableSync, AnEnumerationTheHostCannotDescribeIsLeftOut) {
    server.AddVariable(9, kLocation, "Mode", 4, "Day");
    host.variables.Add("Mode", kZrkVariableEnum, {"Day"})->offerEnumData = false;
    host.services.SetGroup("Stage", {{"Mode", "EnumData"}, {"Missing", "EnumData"}});
    EXPECT_TRUE(Sync("Stage"));
    EXPECT_EQ((std::vector<std::string>{"DELETE /apiv1/variable/9"}), server.Lines());
    EXPECT_TRUE(Store().empty());
}

TEST_F(VariableSync, AGroupWithoutItemsEmptiesTheLocation) {
    server.AddVariable(1, kLocation, "Alpha", 1);
    host.services.SetGroup("Empty", {});
    EXPECT_TRUE(Sync("Empty"));
    EXPECT_EQ((std::vector<std::string>{"DELETE /apiv1/variable/1"}), server.Lines());
    EXPECT_TRUE(Store().empty());
}

// ---- a host listing that could not be had ----------------------------------------------------------------

class UnusableListing : public VariableSync {
protected:
    void SetUp() override {
        server.AddVariable(1, kLocation, "Alpha", 1);
        LoadStore();
        before = store.GetVariables();
    }
    // Nothing reached the server and the store still holds the list it had.
    void ExpectUntouched() {
        EXPECT_TRUE(server.Requests().empty());
        EXPECT_EQ(before, store.GetVariables());
        EXPECT_EQ((std::vector<std::string>{"Alpha:1:1:7"}), Store());
    }
    CalendarVariableList* before = nullptr;
};

TEST_F(UnusableListing, NoRemoteInterface) {
    KorrelRemote bare(nullptr, nullptr, nullptr, nullptr);
    DBVariableSyncer syncer(&bare, &store, &client, kLocation);
    EXPECT_FALSE(syncer.Sync("Stage", true));
    ExpectUntouched();
}

TEST_F(UnusableListing, ARefusedRequest) {
    host.services.SetReply(7, "Stage", 0, FakeRemoteHost::ItemsReply({}));
    host.services.SetReply(3, "Stage", 2);
    EXPECT_FALSE(Sync("Stage"));
    ExpectUntouched();
    host.services.SetGroup("Stage", {});
    host.services.SetReply(7, "Stage", 19);
    EXPECT_FALSE(Sync("Stage"));
    ExpectUntouched();
}

TEST_F(UnusableListing, AReplyThatIsNotXml) {
    host.services.SetReply(7, "Stage", 0, "<Items><Object Name=\"A\" Value=\"IntegerData\"/>");
    host.services.SetReply(3, "Stage", 0, FakeRemoteHost::ListingReply({}));
    EXPECT_FALSE(Sync("Stage"));
    ExpectUntouched();
}

TEST_F(UnusableListing, AnEmptyGroupName) {
    host.services.SetGroup("", {});
    EXPECT_FALSE(Sync(""));
    EXPECT_FALSE(Sync(nullptr));
    ExpectUntouched();
    EXPECT_EQ(0, host.services.CountCalls("Request"));
}

// ---- the server's answers ------------------------------------------------------------------------------

TEST_F(VariableSync, AnUnreachableServerFailsAndTheStoreKeepsItsList) {
    server.AddVariable(1, kLocation, "Alpha", 1);
    LoadStore();
    client.SetServerURL(ClosedPortUrl());
    host.services.SetGroup("Stage", {{"Beta", "StringData"}});
    EXPECT_FALSE(Sync("Stage"));
    EXPECT_EQ((std::vector<std::string>{"Alpha:1:1:7"}), Store());
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(VariableSync, ARefusedRequestFailsButTheRestIsStillSent) {
    server.AddVariable(1, kLocation, "Up", 1);
    server.AddVariable(2, kLocation, "Gone", 1);
    server.Refuse("POST", 500);
    host.services.SetGroup("Stage", {{"New", "IntegerData"}, {"Up", "StringData"}});
    EXPECT_FALSE(Sync("Stage"));
    EXPECT_EQ(
        (std::vector<std::string>{"POST /apiv1/variable", "PUT /apiv1/variable", "DELETE /apiv1/variable/2"}),
        server.Lines());
    EXPECT_EQ((std::vector<std::string>{"New:1:0:7", "Up:2:1:7"}), Store());
}

// A server that takes requests and never answers them would hold the exchange for the transport's limit
// once per variable.
TEST_F(VariableSync, TheFirstRequestLeftUnansweredEndsTheSending) {
    server.AddVariable(1, kLocation, "Gone", 1);
    LoadStore();
    LoopbackServer hanging;
    std::atomic<int> seen{0};
    platform::MEvent release(true, false);
    auto hang = [&](const httplib::Request&, httplib::Response&) {
        ++seen;
        release.Wait(5000);
    };
    hanging.server.Post("/apiv1/variable", hang);
    hanging.server.Delete(R"(/apiv1/variable/(\d+))", hang);
    const int port = hanging.Start();
    ASSERT_NE(0, port);
    client.SetServerURL(L"127.0.0.1:" + std::to_wstring(port));
    platform::HttpTimeouts shortened;
    shortened.receiveMs = 200;
    platform::SetHttpTimeoutsForTesting(&shortened);
    host.services.SetGroup("Stage", {{"New", "IntegerData"}, {"Other", "IntegerData"}});
    EXPECT_FALSE(Sync("Stage", false));
    platform::SetHttpTimeoutsForTesting(nullptr);
    release.Set();
    hanging.Stop();
    EXPECT_EQ(1, seen.load());
}

TEST_F(VariableSync, ARefusedRefreshSendsNothingAndKeepsTheStore) {
    server.AddVariable(1, kLocation, "Up", 1);
    server.AddVariable(2, kLocation, "Gone", 1);
    LoadStore();
    // The refusal's JSON body is no variable list: read as one, it would create, update and delete.
    server.Refuse("GET", 503);
    host.services.SetGroup("Stage", {{"Up", "StringData"}, {"New", "IntegerData"}});
    EXPECT_FALSE(Sync("Stage"));
    EXPECT_EQ((std::vector<std::string>{"GET /apiv1/variable?locationid=7"}), server.Lines(true));
    EXPECT_EQ((std::vector<std::string>{"Up:1:1:7", "Gone:1:2:7"}), Store());
}

TEST_F(VariableSync, EachKindOfChangeCanFailTheSynchronisation) {
    for (const char* method : {"PUT", "DELETE"}) {
        FakeVariableServer other;
        other.AddVariable(1, kLocation, "Up", 1);
        other.AddVariable(2, kLocation, "Gone", 1);
        client.SetServerURL(other.Url());
        LoadStore();
        other.Refuse(method, 404);
        host.services.SetGroup("Stage", {{"Up", "StringData"}});
        EXPECT_FALSE(Sync("Stage")) << method;
        EXPECT_EQ((std::vector<std::string>{"PUT /apiv1/variable", "DELETE /apiv1/variable/2"}),
                  other.Lines())
            << method;
    }
}

// ---- items
// ---------------------------------------------------------------------------------------------------

TEST(VariableSyncItems, EachItemKindBuildsItsRecord) {
    FakeHost host;
    host.variables.Add("Mode", kZrkVariableEnum, {"Day", "Night", "Dusk"});
    KorrelRemote remote(nullptr, nullptr, nullptr, &host.variables);
    DBVariableSyncer syncer(&remote, nullptr, nullptr, kLocation);
    syncer.OnItem("Volume", 1, 0);
    syncer.OnItem("Title", 2, 0);
    syncer.OnItem("Cue 1", 3, 0);
    syncer.OnItem("Mode", 4, 0);
    syncer.OnItem("Nobody", 4, 0);
    const CalendarVariableList& records = syncer.HostVariables();
    ASSERT_EQ(4u, records.size());
    std::vector<std::string> seen;
    for (const MCalendarVariable* v : records) {
        seen.push_back(v->name + ":" + std::to_string(v->var_type) + ":" + std::to_string(v->variable_id) +
                       ":" + std::to_string(v->location_id));
    }
    EXPECT_EQ((std::vector<std::string>{"Volume:1:0:0", "Title:2:0:0", "Cue 1:3:0:0", "Mode:4:0:0"}), seen);
    auto* mode = dynamic_cast<const MCalendarEnumVariable*>(records.back());
    ASSERT_NE(nullptr, mode);
    EXPECT_EQ((std::vector<std::string>{"Day", "Night", "Dusk"}), mode->values);

    // Without a variable manager an enumeration cannot be described.
    KorrelRemote bare(nullptr, nullptr, nullptr, nullptr);
    DBVariableSyncer other(&bare, nullptr, nullptr, kLocation);
    other.OnItem("Mode", 4, 0);
    EXPECT_TRUE(other.HostVariables().empty());
}

// ---- two threads
// ---------------------------------------------------------------------------------------------

// Stop cancels the exchanges of the device's thread: a synchronisation whose host listing was still
// pending then sends nothing.
TEST_F(VariableSync, OnceTheThreadsExchangesAreCancelledNothingMoreIsAskedOrSent) {
    FakeHost pendingHost;
    pendingHost.asyncRemote.SetHeld(true);
    pendingHost.services.SetGroup("A", {{"FromA", "IntegerData"}});
    KorrelRemote slow(nullptr, nullptr, &pendingHost.asyncRemote, nullptr);
    HttpCancel token;
    std::atomic<bool> result{true};
    std::thread device([&] {
        HttpCancel::ThreadScope scope(&token);
        DBVariableSyncer syncer(&slow, &store, &client, kLocation);
        result = syncer.Sync("A", true);
    });
    ASSERT_TRUE(pendingHost.asyncRemote.WaitForHeld(1, 5000));
    token.Cancel();
    while (pendingHost.asyncRemote.WaitForHeld(1, 300) && pendingHost.asyncRemote.CompleteHeld()) {
    }
    device.join();
    EXPECT_FALSE(result.load());
    EXPECT_TRUE(server.Lines(true).empty());

    // A later synchronisation on that thread asks the host nothing.
    HttpCancel::ThreadScope scope(&token);
    const size_t asked = pendingHost.services.Calls().size();
    DBVariableSyncer later(&slow, &store, &client, kLocation);
    EXPECT_FALSE(later.Sync("A", true));
    EXPECT_EQ(asked, pendingHost.services.Calls().size());
}

// A host that completes calls on one thread only (its UI thread, which also runs the setup dialog's
// synchronisation) must be able to: a synchronisation waiting for the host holds no lock the other needs.
TEST_F(VariableSync, ASynchronisationWaitingForTheHostDoesNotHoldUpAnother) {
    FakeHost pendingHost;
    pendingHost.asyncRemote.SetHeld(true);
    pendingHost.services.SetGroup("A", {{"FromA", "IntegerData"}});
    pendingHost.services.SetGroup("B", {{"FromB", "IntegerData"}});
    KorrelRemote slow(nullptr, nullptr, &pendingHost.asyncRemote, nullptr);

    std::thread first([&] {
        DBVariableSyncer syncer(&slow, &store, &client, kLocation);
        syncer.Sync("A", true);
    });
    ASSERT_TRUE(pendingHost.asyncRemote.WaitForHeld(1, 5000));
    // B's host call reaches the host while A's is still pending.
    FakeHost quickHost;
    quickHost.services.SetGroup("B", {{"FromB", "IntegerData"}});
    KorrelRemote quick(nullptr, &quickHost.syncRemote, nullptr, &quickHost.variables);
    DBVariableSyncer second(&quick, &store, &client, kLocation);
    EXPECT_TRUE(second.Sync("B", true));
    EXPECT_EQ((std::vector<std::string>{"FromB:1:0:7"}), Store());

    while (pendingHost.asyncRemote.WaitForHeld(1, 1000) && pendingHost.asyncRemote.CompleteHeld()) {
    }
    first.join();
    // A, the last to end, found FromB on the server: it created FromA and deleted FromB.
    EXPECT_EQ((std::vector<std::string>{"FromA:1:0:7"}), Store());
}

// The dialog's "Sync" beside the device's "Sync DB" of the same group: the second reads the server's list
// only once the first has sent its changes, so the new variable is created once.
TEST_F(VariableSync, TwoSynchronisationsSideBySideCreateAVariableOnce) {
    // The first creation is held until the other synchronisation has read the list (or for half a second).
    server.beforePost = [this] {
        for (int i = 0; i < 50; ++i) {
            const auto lines = server.Lines(true);
            if (std::count(lines.begin(), lines.end(), "GET /apiv1/variable?locationid=7") >= 2) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    };
    FakeHost hosts[2];
    std::vector<std::thread> syncs;
    for (FakeHost& h : hosts) {
        h.services.SetGroup("Stage", {{"New", "IntegerData"}});
        syncs.emplace_back([this, &h] {
            KorrelRemote own(nullptr, &h.syncRemote, nullptr, &h.variables);
            DBVariableSyncer syncer(&own, &store, &client, kLocation);
            EXPECT_TRUE(syncer.Sync("Stage", true));
        });
    }
    for (std::thread& t : syncs) t.join();
    EXPECT_EQ(server.Lines(), (std::vector<std::string>{"POST /apiv1/variable"}));
}

TEST_F(VariableSync, TheStoresListSurvivesWhileASynchronisationReadsIt) {
    for (int i = 0; i < 40; ++i) server.AddVariable(i + 1, kLocation, "Server" + std::to_string(i), 1);
    host.services.SetGroup("Stage", {{"Server1", "StringData"}, {"Host", "IntegerData"}});
    std::atomic<bool> stop{false};
    // Another writer of the variable list, as the dialog's refresh would be.
    std::thread writer([&] {
        while (!stop.load()) {
            auto* list = new CalendarVariableList();
            for (int i = 0; i < 40; ++i)
                list->push_back(new MCalendarVariable(i + 1, 1, "Server" + std::to_string(i)));
            store.SetVariables(list);
        }
    });
    for (int round = 0; round < 5; ++round) Sync("Stage", false);
    stop = true;
    writer.join();
    SUCCEED();
}

TEST_F(VariableSync, TheClientTellsTheStatusOfEachVariableRequest) {
    server.AddVariable(1, kLocation, "Alpha", 1);
    uint32_t status = 1;
    EXPECT_TRUE(client.RefreshVariables(kLocation, &status));
    EXPECT_EQ(200u, status);
    server.Refuse("DELETE", 404);
    status = 1;
    EXPECT_FALSE(client.DeleteVariable(kLocation, 1, &status));
    EXPECT_EQ(404u, status);
    MCalendarVariable v(0, 1, "Beta");
    server.Refuse("POST", 409);
    EXPECT_FALSE(client.CreateVariable(kLocation, &v, &status));
    EXPECT_EQ(409u, status);
    EXPECT_TRUE(client.UpdateVariable(kLocation, &v, &status));
    EXPECT_EQ(200u, status);
    EXPECT_FALSE(client.CreateVariable(kLocation, nullptr, &status));
    EXPECT_EQ(0u, status);
    client.SetServerURL(ClosedPortUrl());
    status = 1;
    EXPECT_FALSE(client.UpdateVariable(kLocation, &v, &status));
    EXPECT_EQ(0u, status);
}
