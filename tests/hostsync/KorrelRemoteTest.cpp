// The remote access against in-process host fakes: which calls reach the host and through which handle,
// the three reply walks, setting variables, and calls the host completes later from another thread.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "hostsync/KorrelRemote.h"
#include "support/FakeHost.h"

using fakehost::FakeHost;
using fakehost::FakeRemoteHost;

namespace {

struct Seen {
    std::string name;
    int value;
    bool operator==(const Seen& o) const { return name == o.name && value == o.value; }
};

void PrintTo(const Seen& s, std::ostream* os) {
    *os << s.name << ":" << s.value;
}

class GroupCollector : public IKorrelRemoteCallback {
public:
    void OnUserGroup(const char* name, int depth) override { seen.push_back({name, depth}); }
    std::vector<Seen> seen;
};

class ItemCollector : public IMRUserGroupIteratorCallback {
public:
    void OnItem(const char* name, int kind, int32_t context) override {
        seen.push_back({name, kind});
        contexts.push_back(context);
    }
    std::vector<Seen> seen;
    std::vector<int32_t> contexts;
};

// Which handle the remote is built with.
enum class Path { kSync, kAsync, kAsyncPending };

class RemotePaths : public ::testing::TestWithParam<Path> {
protected:
    void SetUp() override {
        if (GetParam() == Path::kAsyncPending) host.asyncRemote.SetPending(1);
    }
    KorrelRemote* Make() {
        const bool async = GetParam() != Path::kSync;
        remote.reset(new KorrelRemote(nullptr, async ? nullptr : &host.syncRemote,
                                      async ? &host.asyncRemote : nullptr, &host.variables));
        return remote.get();
    }
    FakeHost host;
    std::unique_ptr<KorrelRemote> remote;
};

INSTANTIATE_TEST_SUITE_P(Handles, RemotePaths,
                         ::testing::Values(Path::kSync, Path::kAsync, Path::kAsyncPending));

const char kTree[] =
    "<Root>"
    "<Object Name=\"User Groups\" Type=\"UserGroup\">"
    "  <Object Name=\"Stage\" Type=\"UserGroup\">"
    "    <Object Name=\"Lights\" Type=\"UserGroup\"/>"
    "  </Object>"
    "  <Object Name=\"Foyer\" Type=\"UserGroup\"/>"
    "</Object>"
    "</Root>";

}  // namespace

// ---- request codes and the reply text ------------------------------------------------------------------

TEST_P(RemotePaths, OnlyTheServedRequestCodesReachTheHost) {
    KorrelRemote* r = Make();
    for (int code : {31, 99, 101, -1, 29999, 1001}) {
        EXPECT_STREQ("", r->SendRequest("x", code).Get()) << code;
    }
    EXPECT_EQ(0, host.services.CountCalls("Request"));
    for (int code : {0, 30, 100, 1000}) {
        host.services.SetReply(code, "x", 0, "<r code=\"" + std::to_string(code) + "\"/>");
        EXPECT_EQ("<r code=\"" + std::to_string(code) + "\"/>", std::string(r->SendRequest("x", code).Get()));
    }
    std::vector<int> codes;
    for (const auto& c : host.services.Calls()) {
        if (c.op == "Request") codes.push_back(c.code);
    }
    EXPECT_EQ((std::vector<int>{0, 30, 100, 1000}), codes);
    // Every reply the synchronous handle handed out went back to it.
    EXPECT_EQ(0, host.syncRemote.OutstandingReplies());
}

TEST_P(RemotePaths, ARefusedRequestGivesTheEmptyText) {
    KorrelRemote* r = Make();
    host.services.SetReply(7, "Stage", 2, "");
    host.syncRemote.replyWithRefusal = true;
    EXPECT_STREQ("", r->SendRequest("Stage", 7).Get());
    EXPECT_EQ(0, host.syncRemote.OutstandingReplies());
}

TEST_P(RemotePaths, TheResultOfTheHostIsReturnedAsIs) {
    KorrelRemote* r = Make();
    EXPECT_EQ(0, r->StartTask("Show A"));
    host.services.taskResult = 1;
    EXPECT_EQ(1, r->StartTask("Unknown"));
    host.services.subscribeResult = 5;
    EXPECT_EQ(5, r->Subscribe());
    host.services.unsubscribeResult = 6;
    // The synchronous cancellation reports nothing back; the asynchronous one its result.
    EXPECT_EQ(GetParam() == Path::kSync ? 0 : 6, r->Unsubscribe());
    const auto calls = host.services.Calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ("Show A", calls[0].text);
    EXPECT_EQ(0, r->GetPendingCallCount());
}

TEST_P(RemotePaths, SubscribingHandsTheHostTheRemoteAndTheRootGroup) {
    KorrelRemote* r = Make();
    r->Subscribe();
    const auto calls = host.services.Calls();
    if (GetParam() == Path::kSync) {
        ASSERT_EQ(1u, calls.size());
        EXPECT_EQ(static_cast<IKorrelRemoteHandler*>(r), host.syncRemote.Handler());
    } else {
        // The handler first, then the subscription with an empty filter.
        ASSERT_EQ(2u, calls.size());
        EXPECT_EQ("SetHandler", calls[0].op);
        EXPECT_EQ(static_cast<IKorrelRemoteHandler*>(r), host.asyncRemote.Handler());
        EXPECT_EQ(0, calls[1].code);
    }
    EXPECT_EQ("Subscribe", calls.back().op);
    EXPECT_EQ("GrantedRootGroup", calls.back().text);
}

TEST(KorrelRemote, WithoutAnyHandleEveryHostCallIsNotSupported) {
    KorrelRemote r(nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(kZrkNotSupported, r.StartTask("Show"));
    EXPECT_EQ(kZrkNotSupported, r.Subscribe());
    EXPECT_EQ(kZrkNotSupported, r.Unsubscribe());
    EXPECT_STREQ("", r.SendRequest("GrantedRootGroup", 27).Get());
    GroupCollector groups;
    EXPECT_FALSE(r.EnumerateUserGroups(&groups));
    ItemCollector items;
    EXPECT_TRUE(r.EnumerateVariables("Stage", &items, 0));
    EXPECT_FALSE(r.EnumerateVariablesChecked("Stage", &items, 0));
    EXPECT_TRUE(items.seen.empty());
    EXPECT_EQ(0, r.SetVariable("Level", "3"));
}

TEST(KorrelRemote, OnlyTheAsynchronousHandleIsUsedWhenBothExist) {
    FakeRemoteHost syncSide;
    FakeRemoteHost asyncSide;
    fakehost::FakeSyncRemote sync(syncSide);
    fakehost::FakeAsyncRemote async(asyncSide);
    KorrelRemote r(nullptr, &sync, &async, nullptr);
    asyncSide.SetReply(27, "GrantedRootGroup", 0, kTree);
    r.StartTask("Show");
    r.Subscribe();
    r.Unsubscribe();
    GroupCollector groups;
    EXPECT_TRUE(r.EnumerateUserGroups(&groups));
    ItemCollector items;
    r.EnumerateVariables("Stage", &items, 0);
    EXPECT_TRUE(syncSide.Calls().empty());
    EXPECT_EQ(1, asyncSide.CountCalls("StartTask"));
    EXPECT_EQ(1, asyncSide.CountCalls("Subscribe"));
    EXPECT_EQ(1, asyncSide.CountCalls("Unsubscribe"));
    EXPECT_EQ(3, asyncSide.CountCalls("Request"));
}

// ---- calls the host completes later --------------------------------------------------------------------

TEST(KorrelRemote, APendingCallWaitsUntilAnotherThreadCompletesIt) {
    FakeHost host;
    host.asyncRemote.SetHeld(true);
    host.services.SetReply(7, "Stage", 0, FakeRemoteHost::ItemsReply({{"Volume", "IntegerData"}}));
    KorrelRemote r(nullptr, nullptr, &host.asyncRemote, nullptr);

    std::atomic<bool> returned{false};
    std::string reply;
    std::thread caller([&] {
        reply = r.SendRequest("Stage", 7).Get();
        returned = true;
    });
    ASSERT_TRUE(host.asyncRemote.WaitForHeld(1, 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(returned.load());
    EXPECT_EQ(1, r.GetPendingCallCount());
    std::thread completer([&] { host.asyncRemote.CompleteHeld(); });
    completer.join();
    caller.join();
    EXPECT_TRUE(returned.load());
    EXPECT_EQ(FakeRemoteHost::ItemsReply({{"Volume", "IntegerData"}}), reply);
    EXPECT_EQ(0, r.GetPendingCallCount());
}

TEST(KorrelRemote, TheStatusStoredByTheHostIsTheResultOfAPendingCall) {
    FakeHost host;
    host.asyncRemote.SetHeld(true);
    host.services.taskResult = 1;
    host.services.SetReply(3, "Stage", 4, "<Reply><Object Name=\"x\"/></Reply>");
    KorrelRemote r(nullptr, nullptr, &host.asyncRemote, nullptr);
    std::atomic<int> task{-1};
    std::string reply = "unset";
    std::thread caller([&] {
        task = r.StartTask("Show");
        reply = r.SendRequest("Stage", 3).Get();
    });
    ASSERT_TRUE(host.asyncRemote.WaitForHeld(1, 5000));
    host.asyncRemote.CompleteHeld();
    ASSERT_TRUE(host.asyncRemote.WaitForHeld(1, 5000));
    host.asyncRemote.CompleteHeld();
    caller.join();
    EXPECT_EQ(1, task.load());
    EXPECT_EQ("", reply);  // a refused request has no reply, whatever text came with it
}

TEST(KorrelRemote, ConcurrentCallersEachWaitOnTheirOwnContext) {
    FakeHost host;
    host.asyncRemote.SetPending(2);
    for (int i = 0; i < 4; ++i)
        host.services.SetReply(7, "G" + std::to_string(i), 0, "<r i=\"" + std::to_string(i) + "\"/>");
    KorrelRemote r(nullptr, nullptr, &host.asyncRemote, nullptr);
    std::vector<std::thread> callers;
    std::atomic<int> wrong{0};
    for (int i = 0; i < 4; ++i) {
        callers.emplace_back([&, i] {
            for (int n = 0; n < 10; ++n) {
                const std::string group = "G" + std::to_string(i);
                if (std::string(r.SendRequest(group.c_str(), 7).Get()) !=
                    "<r i=\"" + std::to_string(i) + "\"/>")
                    ++wrong;
            }
        });
    }
    for (auto& t : callers) t.join();
    EXPECT_EQ(0, wrong.load());
    EXPECT_EQ(0, r.GetPendingCallCount());
}

// ---- the user group tree -------------------------------------------------------------------------------

TEST_P(RemotePaths, UserGroupsBelowTheTopGroupAreReportedFromDepthOne) {
    KorrelRemote* r = Make();
    host.services.SetReply(27, "GrantedRootGroup", 0, kTree);
    GroupCollector groups;
    EXPECT_TRUE(r->EnumerateUserGroups(&groups));
    EXPECT_EQ((std::vector<Seen>{{"Stage", 1}, {"Lights", 2}, {"Foyer", 1}}), groups.seen);
}

TEST(UserGroupWalk, OnlyElementsTypedUserGroupExactlyAreGroups) {
    GroupCollector groups;
    EXPECT_TRUE(korrel_reply::ReadUserGroups(
        "<Tree>"
        "<Skip/>"  // not an Object: the walk starts later
        "<Object Name=\"A\" Type=\"UserGroup\">"
        "  <Object Name=\"Hidden\" Type=\"usergroup\"><Object Name=\"Below\" Type=\"UserGroup\"/></Object>"
        "  <Object Name=\"A1\" Type=\"UserGroup\"/>"
        "</Object>"
        "<Object Name=\"NoType\"><Object Name=\"Below2\" Type=\"UserGroup\"/></Object>"
        "<Object Type=\"UserGroup\"/>"            // no name
        "<Other Name=\"B\" Type=\"UserGroup\"/>"  // a following sibling of any name counts
        "</Tree>",
        &groups));
    EXPECT_EQ((std::vector<Seen>{{"A", 0}, {"A1", 1}, {"B", 0}}), groups.seen);
}

TEST(UserGroupWalk, ChildrenAreWalkedFromTheirFirstObjectElement) {
    GroupCollector groups;
    EXPECT_TRUE(korrel_reply::ReadUserGroups(
        "<T><Object Name=\"A\" Type=\"UserGroup\"><Info Name=\"I\" Type=\"UserGroup\"/>"
        "<Object Name=\"A1\" Type=\"UserGroup\"/><Extra Name=\"A2\" Type=\"UserGroup\"/></Object></T>",
        &groups));
    EXPECT_EQ((std::vector<Seen>{{"A", 0}, {"A1", 1}, {"A2", 1}}), groups.seen);
}

TEST(UserGroupWalk, AReplyThatIsNotXmlIsReported) {
    GroupCollector groups;
    EXPECT_FALSE(korrel_reply::ReadUserGroups("", &groups));
    EXPECT_FALSE(korrel_reply::ReadUserGroups("not xml", &groups));
    EXPECT_FALSE(korrel_reply::ReadUserGroups("<a><b></a>", &groups));
    EXPECT_TRUE(korrel_reply::ReadUserGroups("<empty/>", &groups));
    EXPECT_TRUE(groups.seen.empty());
}

// ---- a group's items -------------------------------------------------------------------------------------

TEST_P(RemotePaths, ItemsComeFirstThenTheSecondListingWithTheContextPassedThrough) {
    KorrelRemote* r = Make();
    host.services.SetReply(
        7, "Stage", 0,
        "<Items>"
        "<Object Name=\"Mode\" Value=\"EnumData\"/>"
        "<Object Name=\"Volume\" Value=\"integerdata\"/>"
        "<Object Name=\"Title\" Value=\"STRINGDATA\"/>"
        "<Object Name=\"Clock\" Value=\"TimeData\"/>"  // not a data item kind
        "<Object Value=\"IntegerData\"/>"              // no name
        "<Object Name=\"NoValue\"/>"
        "<Object Name=\"Parent\" Value=\"StringData\"><Object Name=\"Child\" Value=\"StringData\"/></Object>"
        "<Item Name=\"Sibling\" Value=\"IntegerData\"/>"
        "</Items>");
    host.services.SetReply(
        3, "Stage", 0,
        "<L><Object Name=\"Cue 1\"/><Object Value=\"x\"/><Object Name=\"Cue 2\" Value=\"Junk\">"
        "<Object Name=\"Nested\"/></Object></L>");
    ItemCollector items;
    EXPECT_TRUE(r->EnumerateVariablesChecked("Stage", &items, 42));
    EXPECT_EQ((std::vector<Seen>{{"Mode", 4},
                                 {"Volume", 1},
                                 {"Title", 2},
                                 {"Parent", 2},
                                 {"Sibling", 1},
                                 {"Cue 1", 3},
                                 {"Cue 2", 3}}),
              items.seen);
    for (int32_t c : items.contexts) EXPECT_EQ(42, c);
}

TEST_P(RemotePaths, AnUnusableListingContributesNothingButIsToldApart) {
    KorrelRemote* r = Make();
    host.services.SetReply(7, "Stage", 0, FakeRemoteHost::ItemsReply({{"Volume", "IntegerData"}}));
    host.services.SetReply(3, "Stage", 0, "garbage");
    ItemCollector items;
    EXPECT_TRUE(r->EnumerateVariables("Stage", &items, 0));
    EXPECT_EQ((std::vector<Seen>{{"Volume", 1}}), items.seen);
    EXPECT_FALSE(r->EnumerateVariablesChecked("Stage", &items, 0));

    // A refused request is not an empty group either; an empty group is.
    host.services.SetReply(3, "Stage", 2);
    EXPECT_FALSE(r->EnumerateVariablesChecked("Stage", &items, 0));
    host.services.SetGroup("Empty", {});
    ItemCollector none;
    EXPECT_TRUE(r->EnumerateVariablesChecked("Empty", &none, 0));
    EXPECT_TRUE(none.seen.empty());
    EXPECT_FALSE(r->EnumerateVariables("Stage", nullptr, 0));
    EXPECT_FALSE(r->EnumerateVariablesChecked("Stage", nullptr, 0));
}

// ---- setting variables ---------------------------------------------------------------------------------

TEST(KorrelRemoteSetVariable, TheEqualsFormNamesTheVariableAndCarriesTheValue) {
    FakeHost host;
    auto* level = host.variables.Add("Level", kZrkVariableText);
    KorrelRemote r(nullptr, &host.syncRemote, nullptr, &host.variables);
    EXPECT_EQ(0, r.SetVariable("Level=12", "99"));
    EXPECT_EQ("text", level->LastSetter());
    EXPECT_EQ("12", level->LastValue());
    EXPECT_EQ(0, r.SetVariable("Level", "7"));
    EXPECT_EQ("7", level->LastValue());
    EXPECT_EQ(0, r.SetVariable("Level=", "8"));  // an empty value after "=" is still a value
    EXPECT_EQ("", level->LastValue());
    EXPECT_EQ(0, r.SetVariable("Level=a=b", ""));
    EXPECT_EQ("a=b", level->LastValue());
}

TEST(KorrelRemoteSetVariable, ABareNameWithoutAValueIsNotDone) {
    FakeHost host;
    auto* level = host.variables.Add("Level", kZrkVariableText);
    KorrelRemote r(nullptr, nullptr, nullptr, &host.variables);
    EXPECT_EQ(kZrkNotSupported, r.SetVariable("Level", ""));
    EXPECT_EQ(kZrkNotSupported, r.SetVariable("Level", nullptr));
    EXPECT_EQ(0, level->SetCount());
    EXPECT_TRUE(host.variables.Lookups().empty());
}

TEST(KorrelRemoteSetVariable, TheNameBeforeTheEqualsSignMayBeEmpty) {
    FakeHost host;
    KorrelRemote r(nullptr, nullptr, nullptr, &host.variables);
    EXPECT_EQ(0, r.SetVariable("=5", ""));
    EXPECT_EQ((std::vector<std::string>{""}), host.variables.Lookups());
    // An unknown variable, or no variable manager at all, is not reported.
    EXPECT_EQ(0, r.SetVariable("Nobody", "1"));
    KorrelRemote bare(nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(0, bare.SetVariable("Level=1", ""));
}

TEST(KorrelRemoteSetVariable, AnIntegerVariableGetsTheLeadingNumber) {
    FakeHost host;
    auto* count = host.variables.Add("Count", kZrkVariableInteger);
    KorrelRemote r(nullptr, nullptr, nullptr, &host.variables);
    const std::vector<std::pair<const char*, const char*>> cases = {{"12abc", "12"},
                                                                    {"abc", "0"},
                                                                    {"  -7x", "-7"},
                                                                    {"+3", "3"},
                                                                    {"", "0"},
                                                                    {"1.9", "1"},
                                                                    {"99999999999", "2147483647"},
                                                                    {"-99999999999", "-2147483648"}};
    for (const auto& c : cases) {
        const std::string text = std::string("Count=") + c.first;
        EXPECT_EQ(0, r.SetVariable(text.c_str(), ""));
        EXPECT_EQ("integer", count->LastSetter()) << c.first;
        EXPECT_EQ(c.second, count->LastValue()) << c.first;
    }
    r.SetVariable("Count", "12abc");
    EXPECT_EQ("12", count->LastValue());
}

TEST(KorrelRemoteSetVariable, OtherTypesGetTheText) {
    FakeHost host;
    auto* mode = host.variables.Add("Mode", kZrkVariableEnum, {"Day", "Night"});
    auto* clock = host.variables.Add("Clock", kZrkVariableTime);
    KorrelRemote r(nullptr, nullptr, nullptr, &host.variables);
    r.SetVariable("Mode", "12abc");
    r.SetVariable("Clock=10:00", "");
    EXPECT_EQ("text", mode->LastSetter());
    EXPECT_EQ("12abc", mode->LastValue());
    EXPECT_EQ("text", clock->LastSetter());
    EXPECT_EQ("10:00", clock->LastValue());
}

// ---- the remote as the host sees it ----------------------------------------------------------------------

TEST(KorrelRemote, AnswersNoQueriesAndIsNotReleasedByTheHost) {
    KorrelRemote r(nullptr, nullptr, nullptr, nullptr);
    void* out = &r;
    EXPECT_EQ(0x10000001, r.QueryInterface("IKorrelRemoteHandler", &out));
    EXPECT_EQ(&r, out);
    EXPECT_EQ(0x10000001, r.Release());
    EXPECT_EQ(0, r.OnObjectChanged(1, "a", "b", "c", 2));
    EXPECT_EQ(0, r.OnStateChanged(1, 2, 3));
    EXPECT_EQ(0, r.OnHostNotice(1));
}

TEST(KorrelRemote, ACompletedContextIsReleasedOnlyWithoutAnOwningDevice) {
    // Counts its own destruction, so the release can be seen.
    struct Counted : MDefaultDeviceExecContext {
        explicit Counted(int* d) : destroyed(d) {}
        ~Counted() override { ++*destroyed; }
        int* destroyed;
    };
    int destroyed = 0;
    KorrelRemote ownerless(nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(0, ownerless.OnContextDone(new Counted(&destroyed)));
    EXPECT_EQ(1, destroyed);
    EXPECT_EQ(0, ownerless.OnContextDone(nullptr));

    MZRKDeviceBase* device = reinterpret_cast<MZRKDeviceBase*>(&destroyed);  // only compared, never used
    KorrelRemote owned(device, nullptr, nullptr, nullptr);
    Counted* kept = new Counted(&destroyed);
    owned.OnContextDone(kept);
    EXPECT_EQ(1, destroyed);
    kept->Release();
    EXPECT_EQ(2, destroyed);
}
