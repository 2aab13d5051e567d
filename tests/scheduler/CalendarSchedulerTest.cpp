// The worker pass in virtual time: each test hands the scheduler the instants a real worker would see.
#include <gtest/gtest.h>

#include <algorithm>

#include "SchedulerFakes.h"

using scheduler_test::At;
using scheduler_test::FakePassHost;
using V = std::vector<std::string>;

namespace {

// Passes once a second from `from` to `to` inclusive, as the worker does without commands.
void PassEverySecond(CalendarScheduler& s, uint64_t from, uint64_t to) {
    for (uint64_t now = from; now <= to; now += platform::kTicksPerSecond) s.Pass(now);
}

}  // namespace

TEST(SchedulerFiring, StartAtTenShowsTheNextActionFiresItOnTimeAndNeverTheOneBeforeStart) {
    FakePassHost host;
    host.server = {{At(9, 0, 0), "Morning"}, {At(10, 0, 30), "Doors"}, {At(11, 0, 0), "Close"}};
    CalendarScheduler s(&host);
    s.OnStart(At(10, 0, 0));
    s.Pass(At(10, 0, 0));
    EXPECT_EQ(host.refreshes, 1);
    EXPECT_EQ(host.Var("NextEvent"), "Doors");
    EXPECT_EQ(host.Var("NextEventTime"), "10:00:30");
    EXPECT_EQ(host.Var("NextEventAction"), "Start Task");
    EXPECT_EQ(s.NextEventTime(), At(10, 0, 30));

    PassEverySecond(s, At(10, 0, 1), At(10, 0, 29));
    EXPECT_TRUE(host.Executed().empty());
    s.Pass(At(10, 0, 30));
    EXPECT_EQ(host.Executed(), V{"Doors"});
    EXPECT_EQ(host.target.calls, V{"task:Doors"});
    EXPECT_EQ(host.Var("LastEvent"), "Doors");
    EXPECT_EQ(host.Var("LastEventTime"), "10:00:30");
    EXPECT_EQ(host.Var("NextEvent"), "Close");
    EXPECT_EQ(host.Var("NextEventTime"), "11:00:00");

    PassEverySecond(s, At(10, 0, 31), At(10, 0, 40));
    s.Pass(At(11, 0, 0, 200));
    EXPECT_EQ(host.Executed(), (V{"Doors", "Close"}));
    EXPECT_EQ(host.Var("NextEvent"), "None");
    EXPECT_EQ(host.Var("NextEventTime"), "");
    EXPECT_EQ(host.Var("NextEventAction"), "");
    // Nothing left to fire: more passes execute nothing and a wait lasts the full second.
    PassEverySecond(s, At(11, 0, 1), At(11, 0, 5));
    EXPECT_EQ(host.Executed().size(), 2u);
    EXPECT_EQ(s.WaitMilliseconds(At(11, 0, 5)), CalendarScheduler::kLongestWaitMs);
}

TEST(SchedulerFiring, ActionsAtTheSameSecondRunTogetherInListOrder) {
    FakePassHost host;
    host.server = {{At(10, 0, 30), "First"}, {At(10, 0, 30), "Level", 2, "7"}, {At(10, 5, 0), "Later"}};
    CalendarScheduler s(&host);
    s.OnStart(At(10, 0, 0));
    s.Pass(At(10, 0, 0));
    s.Pass(At(10, 0, 30, 3));
    EXPECT_EQ(host.Executed(), (V{"First", "Level"}));
    EXPECT_EQ(host.target.calls, (V{"task:First", "set:Level|7"}));
    EXPECT_EQ(host.Var("LastEvent"), "Level=7");
    EXPECT_EQ(host.Var("LastEventAction"), "Set Variable");
    EXPECT_EQ(host.Var("NextEvent"), "Later");
}

TEST(SchedulerFiring, ActionAtTheRefreshInstantFiresInThatPassButOneAtTheStartInstantNever) {
    FakePassHost host;
    host.server = {{At(10, 0, 0), "AtStart"}, {At(10, 0, 5), "AtRefresh"}};
    CalendarScheduler s(&host);
    s.OnStart(At(10, 0, 0));
    s.Pass(At(10, 0, 0));
    EXPECT_TRUE(host.Executed().empty());
    EXPECT_EQ(host.Var("NextEvent"), "AtRefresh");
    s.RequestRefresh();
    s.Pass(At(10, 0, 5));
    EXPECT_EQ(host.refreshes, 2);
    EXPECT_EQ(host.Executed(), V{"AtRefresh"});
}

TEST(SchedulerFiring, NothingFiresTwiceEvenWhenPassesRepeatTheSameInstantOrTheClockStepsBack) {
    FakePassHost host;
    host.server = {{At(10, 0, 10), "A"}, {At(10, 0, 20), "B"}};
    CalendarScheduler s(&host);
    s.OnStart(At(10, 0, 0));
    s.Pass(At(10, 0, 0));
    s.Pass(At(10, 0, 10));
    s.Pass(At(10, 0, 10));
    s.Pass(At(10, 0, 5));  // the wall clock was set back
    s.Pass(At(10, 0, 10));
    s.Pass(At(10, 0, 20));
    s.Pass(At(10, 0, 21));
    EXPECT_EQ(host.Executed(), (V{"A", "B"}));
}

TEST(SchedulerFiring, AnActionMissedWhileTheWorkerWasBusyRunsWithTheOneThatTriggersTheNextFiring) {
    FakePassHost host;
    host.server = {{At(10, 0, 10), "A"}, {At(10, 0, 12), "B"}, {At(10, 0, 30), "C"}};
    CalendarScheduler s(&host);
    s.OnStart(At(10, 0, 0));
    s.Pass(At(10, 0, 0));
    // The worker was held (a long host call) from 10:00:09 to 10:00:15.
    s.Pass(At(10, 0, 15));
    EXPECT_EQ(host.Executed(), (V{"A", "B"}));
    EXPECT_EQ(host.Var("LastEvent"), "B");
    EXPECT_EQ(host.Var("NextEvent"), "C");
}

TEST(SchedulerFiring, ActionsWithoutADateSortFirstAndAreNeitherShownNorExecuted) {
    FakePassHost host;
    host.server = {{0, "Undated"}, {At(10, 0, 3), "Dated"}};
    CalendarScheduler s(&host);
    s.OnStart(At(10, 0, 0));
    s.Pass(At(10, 0, 0));
    EXPECT_EQ(host.events->GetFirst()->macro, "Undated");
    EXPECT_EQ(host.Var("NextEvent"), "Dated");
    PassEverySecond(s, At(10, 0, 1), At(10, 0, 5));
    EXPECT_EQ(host.Executed(), V{"Dated"});
}

TEST(SchedulerFiring, AnEmptyListShowsNoneAndExecutesNothing) {
    FakePassHost host;
    CalendarScheduler s(&host);
    s.OnStart(At(10, 0, 0));
    s.Pass(At(10, 0, 0));
    EXPECT_EQ(host.Var("NextEvent"), "None");
    EXPECT_EQ(host.Var("NextEventTime"), "");
    EXPECT_EQ(s.NextEventTime(), 0u);
    PassEverySecond(s, At(10, 0, 1), At(10, 0, 10));
    EXPECT_TRUE(host.Executed().empty());
    EXPECT_EQ(s.WaitMilliseconds(At(10, 0, 10)), CalendarScheduler::kLongestWaitMs);
}

TEST(SchedulerEnable, EnablingBeforeThePeriodRunsOutFiresTheMissedActionAtOnce) {
    FakePassHost host;
    host.server = {{At(10, 1, 0), "TenOne"}, {At(10, 10, 0), "TenTen"}};
    CalendarScheduler s(&host);
    s.OnStart(At(10, 0, 0));
    s.Pass(At(10, 0, 0));
    // Disabled from 10:00:00 to 10:05:00: the worker makes no enabled pass.
    s.Pass(At(10, 5, 0));
    EXPECT_EQ(host.refreshes, 1);
    EXPECT_EQ(host.Executed(), V{"TenOne"});
    EXPECT_EQ(host.Var("NextEvent"), "TenTen");
}

TEST(SchedulerEnable, EnablingAfterThePeriodRanOutRefreshesFirstAndStillFiresTheMissedActionAtOnce) {
    FakePassHost host;
    host.period = 5;
    host.server = {{At(10, 1, 0), "TenOne"}, {At(10, 10, 0), "TenTen"}};
    CalendarScheduler s(&host);
    s.OnStart(At(10, 0, 0));
    s.Pass(At(10, 0, 0));
    host.log.clear();
    s.Pass(At(10, 5, 0));
    EXPECT_EQ(host.refreshes, 2);
    EXPECT_EQ(host.Executed(), V{"TenOne"});
    EXPECT_LT(std::find(host.log.begin(), host.log.end(), "refresh"),
              std::find(host.log.begin(), host.log.end(), "execute:TenOne"));
    EXPECT_EQ(host.Var("NextEvent"), "TenTen");
    PassEverySecond(s, At(10, 9, 55), At(10, 10, 0));
    EXPECT_EQ(host.Executed(), (V{"TenOne", "TenTen"}));
}

TEST(SchedulerRefresh, ARefreshInThePassWhereAnActionCameDueDoesNotLoseIt) {
    FakePassHost host;
    host.server = {{At(10, 10, 0), "OnTheHour"}};
    CalendarScheduler s(&host);
    s.OnStart(At(10, 0, 0, 300));
    s.Pass(At(10, 0, 0, 300));
    PassEverySecond(s, At(10, 9, 50, 300), At(10, 9, 59, 300));
    EXPECT_TRUE(host.Executed().empty());
    // The period runs out 300 ms after the action's time: the same pass refreshes and must still fire it,
    // although no later action exists to trigger a firing.
    s.Pass(At(10, 10, 0, 300));
    EXPECT_EQ(host.refreshes, 2);
    EXPECT_EQ(host.Executed(), V{"OnTheHour"});
    EXPECT_EQ(host.Var("LastEvent"), "OnTheHour");
    EXPECT_EQ(host.Var("NextEvent"), "None");
    PassEverySecond(s, At(10, 10, 1), At(10, 10, 5));
    EXPECT_EQ(host.Executed().size(), 1u);
}

TEST(SchedulerRefresh, RefreshesOnStartOnRequestWhenThePeriodRunsOutAndEveryPassWithoutAPeriod) {
    FakePassHost host;
    CalendarScheduler s(&host);
    s.OnStart(At(10, 0, 0));
    s.Pass(At(10, 0, 0));
    EXPECT_FALSE(s.RefreshRequested());
    s.Pass(At(10, 9, 59, 999));
    EXPECT_EQ(host.refreshes, 1);
    s.Pass(At(10, 10, 0));
    EXPECT_EQ(host.refreshes, 2);
    EXPECT_EQ(s.LastRefreshTime(), At(10, 10, 0));
    s.RequestRefresh();
    s.Pass(At(10, 10, 1));
    EXPECT_EQ(host.refreshes, 3);

    for (int32_t period : {0, -5, INT32_MIN}) {
        host.period = period;
        const int before = host.refreshes;
        s.Pass(At(10, 10, 2));
        s.Pass(At(10, 10, 3));
        EXPECT_EQ(host.refreshes, before + 2) << period;
    }
    // A setup change of the period applies at once to the refresh due (the last one was at 10:10:03).
    const int before = host.refreshes;
    host.period = 1;
    s.Pass(At(10, 11, 2));
    host.period = 2;
    s.Pass(At(10, 11, 3));
    EXPECT_EQ(host.refreshes, before);
    s.Pass(At(10, 12, 3));
    EXPECT_EQ(host.refreshes, before + 1);
}

TEST(SchedulerRefresh, AFailedRefreshKeepsTheActionsAndStillCountsAsTheAttempt) {
    FakePassHost host;
    host.server = {{At(10, 0, 20), "A"}, {At(10, 0, 40), "B"}};
    CalendarScheduler s(&host);
    s.OnStart(At(10, 0, 0));
    s.Pass(At(10, 0, 0));
    host.serverUp = false;
    s.RequestRefresh();
    s.Pass(At(10, 0, 10));
    EXPECT_EQ(host.refreshes, 2);
    EXPECT_EQ(host.Hundredths("LastRefreshTime"), (10 * 3600 + 10) * 100);
    EXPECT_EQ(host.Hundredths("NextRefreshTime"), (10 * 3600 + 10 * 60 + 10) * 100);
    EXPECT_EQ(host.Var("NextEvent"), "A");
    PassEverySecond(s, At(10, 0, 11), At(10, 0, 45));
    EXPECT_EQ(host.Executed(), (V{"A", "B"}));
    EXPECT_EQ(host.refreshes, 2);  // the next attempt comes a full period after the failed one
}

TEST(SchedulerRefresh, RefreshTimesAreTheTimeOfDayInHundredthsIncludingPastMidnight) {
    {
        FakePassHost host;
        CalendarScheduler s(&host);
        s.OnStart(At(23, 55, 10, 700));
        s.Pass(At(23, 55, 10, 700));
        EXPECT_EQ(host.Hundredths("NextRefreshTime"), 31000);
        EXPECT_EQ(host.Hundredths("LastRefreshTime"), 8611000);
        EXPECT_EQ(host.hostDevice.variables.at("LastRefreshTime")->base, kZrkTimeBaseHundredths);
    }
    {
        FakePassHost host;
        CalendarScheduler s(&host);
        s.OnStart(At(14, 30, 15));
        s.Pass(At(14, 30, 15));
        EXPECT_EQ(host.Hundredths("LastRefreshTime"), 5221500);
        EXPECT_EQ(host.Hundredths("NextRefreshTime"), 5281500);
        // Written in that order, right after the request.
        const V& log = host.log;
        auto refresh = std::find(log.begin(), log.end(), "refresh");
        ASSERT_NE(refresh, log.end());
        EXPECT_EQ(*(refresh + 1), "LastRefreshTime=5221500");
        EXPECT_EQ(*(refresh + 2), "NextRefreshTime=5281500");
    }
}

TEST(SchedulerRefresh, ARefreshRequestArrivingDuringTheRequestIsHonouredNextPass) {
    FakePassHost host;
    CalendarScheduler s(&host);
    s.OnStart(At(10, 0, 0));
    host.onRefresh = [&] {
        if (host.refreshes == 1) s.RequestRefresh();
    };
    s.Pass(At(10, 0, 0));
    s.Pass(At(10, 0, 1));
    EXPECT_EQ(host.refreshes, 2);
    s.Pass(At(10, 0, 2));
    EXPECT_EQ(host.refreshes, 2);
}

TEST(SchedulerNewDay, FirstPassShowsNoneInBothGroupsThenTheNewDaysNextAction) {
    FakePassHost host;
    host.period = 60;
    host.server = {{At(23, 59, 50, 0, 7), "Late"}};
    CalendarScheduler s(&host);
    s.OnStart(At(23, 59, 0, 0, 7));
    s.Pass(At(23, 59, 0, 0, 7));
    EXPECT_EQ(s.LastDay(), 7);
    s.Pass(At(23, 59, 50, 0, 7));
    EXPECT_EQ(host.Var("LastEvent"), "Late");

    host.server = {{At(6, 0, 0, 0, 8), "Morning"}};
    host.log.clear();
    s.Pass(At(0, 0, 0, 400, 8));
    EXPECT_EQ(host.refreshes, 2);
    EXPECT_EQ(s.LastDay(), 8);
    const V expected = {"NextEvent=None",    "NextEventTime=",         "NextEventAction=",
                        "LastEvent=None",    "LastEventTime=",         "LastEventAction=",
                        "refresh",           "LastRefreshTime=0",      "NextRefreshTime=360000",
                        "NextEvent=Morning", "NextEventTime=06:00:00", "NextEventAction=Start Task"};
    EXPECT_EQ(host.log, expected);
}

TEST(SchedulerNewDay, TheVeryFirstPassCountsAsANewDay) {
    FakePassHost host;
    CalendarScheduler s(&host);
    s.OnStart(At(12, 0, 0));
    s.Pass(At(12, 0, 0));
    ASSERT_GE(host.log.size(), 6u);
    EXPECT_EQ(V(host.log.begin(), host.log.begin() + 6),
              (V{"NextEvent=None", "NextEventTime=", "NextEventAction=", "LastEvent=None",
                 "LastEventTime=", "LastEventAction="}));
    // A restart on the same day is no new day.
    host.log.clear();
    s.OnStart(At(12, 5, 0));
    s.Pass(At(12, 5, 0));
    EXPECT_EQ(host.log.front(), "refresh");
}

TEST(SchedulerSync, RunsOncePerRequestAfterFiringAndARequestDuringItRunsAgain) {
    FakePassHost host;
    host.server = {{At(10, 0, 1), "A"}};
    CalendarScheduler s(&host);
    s.OnStart(At(10, 0, 0));
    s.Pass(At(10, 0, 0));
    EXPECT_EQ(host.syncs, 0);
    s.RequestSync();
    s.Pass(At(10, 0, 1));
    EXPECT_EQ(host.syncs, 1);
    EXPECT_EQ(host.log.back(), "sync");  // after the firing of the same pass
    EXPECT_EQ(host.Executed(), V{"A"});
    host.onSync = [&] {
        if (host.syncs == 2) s.RequestSync();
    };
    s.RequestSync();
    s.Pass(At(10, 0, 2));
    s.Pass(At(10, 0, 3));
    s.Pass(At(10, 0, 4));
    EXPECT_EQ(host.syncs, 3);
}

TEST(SchedulerWait, TheWaitEndsWhenTheNextActionIsDueAndNeverEarly) {
    FakePassHost host;
    host.server = {{At(10, 0, 30), "A"}};
    CalendarScheduler s(&host);
    s.OnStart(At(10, 0, 0));
    EXPECT_EQ(s.WaitMilliseconds(At(10, 0, 0)), 0u);  // the first refresh comes at once
    s.Pass(At(10, 0, 0));
    EXPECT_EQ(s.WaitMilliseconds(At(10, 0, 0)), 1000u);
    EXPECT_EQ(s.WaitMilliseconds(At(10, 0, 29)), 1000u);
    EXPECT_EQ(s.WaitMilliseconds(At(10, 0, 29, 400)), 600u);
    // Rounded up: 1.2 ms ahead waits 2 ms; 100 ns ahead waits 1 ms.
    EXPECT_EQ(s.WaitMilliseconds(At(10, 0, 30) - 12000), 2u);
    EXPECT_EQ(s.WaitMilliseconds(At(10, 0, 30) - 1), 1u);
    EXPECT_EQ(s.WaitMilliseconds(At(10, 0, 30)), 0u);
    EXPECT_EQ(s.WaitMilliseconds(At(10, 0, 31)), 0u);
    s.Pass(At(10, 0, 30));
    EXPECT_EQ(host.Executed(), V{"A"});
    EXPECT_EQ(s.WaitMilliseconds(At(10, 0, 30)), 1000u);
}

TEST(SchedulerWait, AnActionBeforeTheStartDoesNotShortenTheWait) {
    FakePassHost host;
    host.server = {{At(10, 0, 0), "AtStart"}};
    CalendarScheduler s(&host);
    s.OnStart(At(10, 0, 0));
    s.Pass(At(10, 0, 0));
    // At the window's end: never executed, so neither shown as next nor waited for.
    EXPECT_EQ(host.Var("NextEvent"), "None");
    EXPECT_EQ(s.NextEventTime(), 0u);
    EXPECT_EQ(s.WaitMilliseconds(At(10, 0, 0, 1)), 1000u);
}

// Exchanges in flight: the pass starts a refresh and goes on; the answer arrives at a pass of the test's
// choosing (host.Answer()).
class SchedulerExchange : public ::testing::Test {
protected:
    // Started at 10:00:00 with the server's first list read; later refreshes stay in flight until answered.
    void StartWith(std::vector<scheduler_test::PlannedAction> plan) {
        host.server = std::move(plan);
        s.OnStart(At(10, 0, 0));
        s.Pass(At(10, 0, 0));
        host.answerAtOnce = false;
    }
    void RefreshInFlightAt(uint64_t now) {
        s.RequestRefresh();
        s.Pass(now);
        ASSERT_EQ(s.InProgress(), CalendarScheduler::Exchange::kRefresh);
    }

    FakePassHost host;
    CalendarScheduler s{&host};
};

TEST_F(SchedulerExchange, AnActionDueWhileARefreshIsInFlightFiresOnTimeFromTheListHeldAndNeverAgain) {
    StartWith({{At(10, 0, 10), "A"}, {At(10, 0, 20), "B"}});
    RefreshInFlightAt(At(10, 0, 5));
    // The wait is as precise as when idle, and the action fires at its time.
    EXPECT_EQ(s.WaitMilliseconds(At(10, 0, 9, 700)), 300u);
    s.Pass(At(10, 0, 10));
    EXPECT_EQ(host.Executed(), V{"A"});
    EXPECT_EQ(host.Hundredths("LastRefreshTime"), 10 * 3600 * 100);  // still the first refresh's
    host.Answer();
    s.Pass(At(10, 0, 12));
    EXPECT_EQ(s.InProgress(), CalendarScheduler::Exchange::kNone);
    EXPECT_EQ(host.Hundredths("LastRefreshTime"), (10 * 3600 + 5) * 100);  // the attempt's start
    EXPECT_EQ(host.Var("NextEvent"), "B");
    PassEverySecond(s, At(10, 0, 13), At(10, 0, 25));
    EXPECT_EQ(host.Executed(), (V{"A", "B"}));
}

// The rule at the switch: the arriving list takes effect before the firing of the pass that takes it, so
// from that instant on it alone decides. The first action not yet executed is the first one after the
// last firing window, in the new list: what the old list fired is not fired again, what the new list holds
// and came due since is fired in that pass, and what only the old list held is not fired.
TEST_F(SchedulerExchange, TheArrivingListDecidesFromTheInstantItIsTaken) {
    StartWith({{At(10, 0, 10), "A"}, {At(10, 0, 15), "Dropped"}});
    host.server = {{At(10, 0, 10), "A"}, {At(10, 0, 14), "Added"}, {At(10, 0, 30), "Later"}};
    RefreshInFlightAt(At(10, 0, 5));
    s.Pass(At(10, 0, 10));
    host.Answer();
    s.Pass(At(10, 0, 15));  // "Dropped" is due in this very pass, but the new list no longer holds it
    EXPECT_EQ(host.Executed(), (V{"A", "Added"}));
    EXPECT_EQ(host.Var("NextEvent"), "Later");
    PassEverySecond(s, At(10, 0, 16), At(10, 0, 30));
    EXPECT_EQ(host.Executed(), (V{"A", "Added", "Later"}));
}

TEST_F(SchedulerExchange, RequestsDuringAnExchangeWaitForItsEndAndThenRunInOrder) {
    StartWith({});
    RefreshInFlightAt(At(10, 0, 1));
    s.RequestSync();
    s.RequestRefresh();
    PassEverySecond(s, At(10, 0, 2), At(10, 0, 4));
    EXPECT_EQ(host.refreshes, 2);
    EXPECT_EQ(host.syncs, 0);
    EXPECT_EQ(s.WaitMilliseconds(At(10, 0, 4)), CalendarScheduler::kLongestWaitMs);
    // At the end both go in the pass's order, one exchange at a time: the refresh first, then the
    // synchronisation.
    host.Answer();
    s.Pass(At(10, 0, 5));
    EXPECT_EQ(s.InProgress(), CalendarScheduler::Exchange::kRefresh);
    EXPECT_EQ(host.refreshes, 3);
    EXPECT_EQ(host.syncs, 0);
    host.Answer();
    s.Pass(At(10, 0, 6));
    EXPECT_EQ(s.InProgress(), CalendarScheduler::Exchange::kSync);
    EXPECT_EQ(host.syncs, 1);
    EXPECT_FALSE(s.RefreshRequested());
    EXPECT_FALSE(s.SyncRequested());
}

TEST_F(SchedulerExchange, AfterARestartTheListHeldFiresWhileTheFirstRefreshIsInFlight) {
    StartWith({{At(10, 0, 10), "A"}, {At(10, 0, 15), "BeforeRestart"}, {At(10, 0, 30), "C"}});
    s.Pass(At(10, 0, 10));
    // Stopped at 10:00:12 with the refresh of the next run held by the server.
    s.OnStart(At(10, 0, 20));
    s.Pass(At(10, 0, 20));
    EXPECT_EQ(s.InProgress(), CalendarScheduler::Exchange::kRefresh);
    EXPECT_EQ(host.Var("NextEvent"), "C");
    s.Pass(At(10, 0, 30));
    EXPECT_EQ(host.Executed(), (V{"A", "C"}));
}

// An action the operator adds beside one the old list fires while the refresh is in flight: the new list
// fires it at the switch, and the one fired already is not fired again.
TEST_F(SchedulerExchange, AnActionAddedInTheWindowOfTheRefreshFiresOnceAtTheSwitch) {
    StartWith({{At(10, 10, 0), "A"}});
    host.server = {{At(10, 10, 0), "A"}, {At(10, 10, 0), "C"}, {At(10, 10, 0), "A"}};
    RefreshInFlightAt(At(10, 10, 0, 300));
    EXPECT_EQ(host.Executed(), V{"A"});
    host.Answer();
    PassEverySecond(s, At(10, 10, 1), At(10, 10, 5));
    // The duplicate of A counts as another action: only one of the two was fired from the old list.
    EXPECT_EQ(host.Executed(), (V{"A", "A", "C"}));
}

// Local time stepped back before a restart while UTC went on (the repeated hour of a daylight-saving
// change): what fired before the restart does not fire again.
TEST_F(SchedulerExchange, ARestartAfterADaylightSavingStepBackDoesNotFireAgain) {
    StartWith({{At(10, 0, 30), "A"}, {At(10, 0, 40), "B"}});
    PassEverySecond(s, At(10, 0, 1), At(10, 0, 31));
    const uint64_t stepBack = At(10, 0, 32) - At(10, 0, 10);  // UTC is that far ahead of local time now
    s.OnStart(At(10, 0, 10), At(10, 0, 10) + stepBack);
    for (uint64_t now = At(10, 0, 10); now <= At(10, 0, 41); now += platform::kTicksPerSecond)
        s.Pass(now, now + stepBack);
    EXPECT_EQ(host.Executed(), (V{"A", "B"}));
}

// The operator set the clock forward to try an evening action, set it back (UTC went back too) and
// restarted: the afternoon's actions fire, and so does the evening's at its real time.
TEST_F(SchedulerExchange, ARestartAfterTheClockWasSetBackStartsAfresh) {
    StartWith({{At(14, 0, 30), "Afternoon"}, {At(20, 0, 0), "Evening"}});
    PassEverySecond(s, At(19, 59, 55), At(20, 0, 5));
    s.OnStart(At(14, 0, 0));
    s.Pass(At(14, 0, 0));
    EXPECT_EQ(host.Var("NextEvent"), "Afternoon");
    PassEverySecond(s, At(14, 0, 1), At(14, 0, 31));
    s.Pass(At(20, 0, 0));
    // The jump forward fired what it passed over; after the restart all of it fires again at its time.
    EXPECT_EQ(host.Executed(), (V{"Afternoon", "Evening", "Afternoon", "Evening"}));
}
