// The soak's judgement: exactly once, never early, and which actions a run had to fire.
#include <gtest/gtest.h>

#include "SoakLedger.h"
#include "platform/Clock.h"

namespace {

using soak::PlannedAction;
using soak::SoakLedger;

const uint64_t kSecond = platform::kTicksPerSecond;
const uint64_t kT0 = 133589952000000000ULL;  // 2024-05-01 00:00 local

// Actions at T0 + 10 s, + 11 s, ...: even ones start tasks, odd ones set "Counter".
std::vector<PlannedAction> Plan(int count) {
    std::vector<PlannedAction> plan;
    for (int i = 0; i < count; ++i) {
        PlannedAction a;
        a.index = i;
        a.instant = kT0 + (10 + static_cast<uint64_t>(i)) * kSecond;
        a.setVariable = i % 2 == 1;
        a.macro = a.setVariable ? "Counter" : "Soak " + std::to_string(i);
        a.data = a.setVariable ? std::to_string(i) : "";
        plan.push_back(a);
    }
    return plan;
}

void FireAll(SoakLedger& ledger, const std::vector<PlannedAction>& plan, uint64_t late = 0) {
    for (const PlannedAction& a : plan) {
        if (a.setVariable)
            ledger.VariableSet(a.macro, a.data, a.instant + late);
        else
            ledger.TaskStarted(a.macro, a.instant + late);
    }
}

}  // namespace

TEST(SoakLedger, EveryActionOnceAndOnTimePasses) {
    auto plan = Plan(6);
    SoakLedger ledger(plan);
    ledger.RunStarted(kT0);
    FireAll(ledger, plan, 300 * soak::kTicksPerMs);
    ledger.StopWritten(kT0 + 60 * kSecond);
    soak::Verdict v = ledger.Judge(kT0 + kSecond);
    EXPECT_TRUE(v.passed);
    EXPECT_EQ(v.mustFire, 6);
    EXPECT_EQ(v.fired, 6);
    EXPECT_EQ(v.latestLateTicks, 300 * soak::kTicksPerMs);
}

TEST(SoakLedger, LatenessCountsTheActionsWhoseListWasHeldBeforeTheirTime) {
    auto plan = Plan(6);  // T0 + 10 s ... T0 + 15 s
    SoakLedger ledger(plan);
    ledger.RunStarted(kT0);
    FireAll(ledger, plan, 300 * soak::kTicksPerMs);
    ledger.TaskStarted("Soak 4", plan[4].instant + 2 * kSecond);  // a second firing does not count
    // The first correct list came at T0 + 11.5 s: the actions from T0 + 13 s on were held a second ahead.
    soak::Verdict v = ledger.Judge(kT0 + 11 * kSecond + kSecond / 2);
    EXPECT_EQ(v.heldLateTicks, std::vector<uint64_t>(3, 300 * soak::kTicksPerMs));
}

TEST(SoakLedger, TwiceEarlyMissedAndStrangeEffectsFail) {
    auto plan = Plan(4);
    SoakLedger ledger(plan);
    ledger.RunStarted(kT0);
    ledger.TaskStarted("Soak 0", plan[0].instant);
    ledger.TaskStarted("Soak 0", plan[0].instant + kSecond);            // twice
    ledger.VariableSet("Counter", "1", plan[1].instant - kSecond / 2);  // early
    ledger.TaskStarted("Soak 2", plan[2].instant);
    // action 3 never fires
    ledger.TaskStarted("Elsewhere", plan[2].instant);
    ledger.VariableSet("Counter", "77", plan[2].instant);
    ledger.StopWritten(kT0 + 60 * kSecond);
    soak::Verdict v = ledger.Judge(kT0);
    EXPECT_FALSE(v.passed);
    EXPECT_EQ(v.firedTwice, 1);
    EXPECT_EQ(v.firedEarly, 1);
    EXPECT_EQ(v.missed, 1);
    EXPECT_EQ(v.unknownFired, 2);
    EXPECT_FALSE(v.problems.empty());
}

TEST(SoakLedger, OnlyActionsARunCouldReachMustFire) {
    auto plan = Plan(40);  // T0 + 10 s ... T0 + 49 s
    SoakLedger ledger(plan);
    // Run 1 from T0 + 12 s to a stop at T0 + 20 s: 10 and 11 lie before its start (plus margin), 19 within
    // the stop margin.
    ledger.RunStarted(kT0 + 11 * kSecond);
    ledger.StopWritten(kT0 + 20 * kSecond);
    // Run 2 from T0 + 25 s, its stop waited for an exchange asked for at T0 + 30 s: nothing after that
    // was the run's to fire.
    ledger.RunStarted(kT0 + 25 * kSecond);
    ledger.StopWritten(kT0 + 40 * kSecond);
    ledger.StopStalled(kT0 + 30 * kSecond);
    // Run 3 from T0 + 41 s, never stopped, but disabled from T0 + 44 s to T0 + 45 s.
    ledger.RunStarted(kT0 + 41 * kSecond);
    ledger.Paused(kT0 + 44 * kSecond, kT0 + 45 * kSecond);

    soak::Verdict v = ledger.Judge(kT0);
    // Run 1: 13..18 (12 is within the start margin, 19 within the stop margin); run 2: 27..28; run 3:
    // 47..49 (43 to 46 lie within the pause and its margins).
    EXPECT_EQ(v.mustFire, 6 + 2 + 3);
    EXPECT_EQ(v.missed, v.mustFire);
    // Without any correct answer nothing had to fire; a list served late moves the first due action.
    EXPECT_EQ(ledger.Judge(0).mustFire, 0);
    EXPECT_EQ(ledger.Judge(kT0 + 47 * kSecond).mustFire, 3);
    EXPECT_EQ(ledger.Judge(kT0 + 48 * kSecond).mustFire, 3);  // 47 fires once the list is there
}

TEST(SoakLedger, HostTimesReadAsLocalInstants) {
    EXPECT_EQ(soak::ParseHostTime("2024-05-01T00:00:10.250"), kT0 + 10 * kSecond + 250 * soak::kTicksPerMs);
    EXPECT_EQ(soak::ParseHostTime("2024-05-01T00:00:10"), 0u);
    EXPECT_EQ(soak::ParseHostTime("2024-13-01T00:00:10.000"), 0u);
    EXPECT_EQ(soak::ParseHostTime(""), 0u);
    EXPECT_EQ(soak::DateText(kT0 + 3661 * kSecond), "2024-05-01T01:01:01");
}
