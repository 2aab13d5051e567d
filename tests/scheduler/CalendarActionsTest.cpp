// Executing one action and what the status variables show for it.
#include <gtest/gtest.h>

#include "SchedulerFakes.h"

using scheduler_test::At;
using scheduler_test::RecordingHostDevice;
using scheduler_test::RecordingTarget;
using V = std::vector<std::string>;

namespace {

MCalendarEvent Event(uint64_t time, const std::string& macro, int32_t action, const std::string& data = "") {
    MCalendarEvent e;
    e.time = time;
    e.macro = macro;
    e.macro_action = action;
    e.macro_data = data;
    return e;
}

struct Device {
    Device() : hostDevice(&log) { actions.LookUpVariables(&hostDevice); }
    std::string Var(const char* name) { return hostDevice.variables.at(name)->value; }
    V log;
    RecordingHostDevice hostDevice;
    CalendarActions actions;
    RecordingTarget target;
};

}  // namespace

TEST(ActionTexts, FormatSecondsOfDayAndSecondsOfDay) {
    EXPECT_EQ(FormatSecondsOfDay(0), "00:00:00");
    EXPECT_EQ(FormatSecondsOfDay(9 * 3600 + 5 * 60 + 7), "09:05:07");
    EXPECT_EQ(FormatSecondsOfDay(86399), "23:59:59");
    EXPECT_EQ(FormatSecondsOfDay(100 * 3600 + 1), "100:00:01");
    EXPECT_EQ(FormatSecondsOfDay(-5), "00:00:00");
    EXPECT_EQ(SecondsOfDay(At(9, 5, 7, 900)), 9u * 3600 + 5 * 60 + 7);
    EXPECT_EQ(SecondsOfDay(At(23, 59, 59, 999)), 86399u);
    EXPECT_EQ(SecondsOfDay(0), 0u);
    EXPECT_EQ(SecondsOfDay(UINT64_MAX), 0u);
}

TEST(ActionTexts, DisplayTextJoinsVariableAndValueUnlessTheMacroIsAnAssignment) {
    EXPECT_EQ(EventDisplayText(Event(0, "Volume", 2, "50")), "Volume=50");
    EXPECT_EQ(EventDisplayText(Event(0, "Volume=50", 2, "7")), "Volume=50");
    EXPECT_EQ(EventDisplayText(Event(0, "Volume", 2, "")), "Volume=");
    EXPECT_EQ(EventDisplayText(Event(0, "Show A", 1, "ignored")), "Show A");
    EXPECT_EQ(EventDisplayText(Event(0, "X", 3, "ignored")), "X");
    // Long texts are cut at 255 bytes, never inside a multi-byte character.
    EXPECT_EQ(EventDisplayText(Event(0, std::string(300, 'a'), 1)).size(), 255u);
    std::string accented = std::string(254, 'a') + "\xC3\xA9" + "tail";
    EXPECT_EQ(EventDisplayText(Event(0, accented, 1)), std::string(254, 'a'));
    EXPECT_EQ(EventDisplayText(Event(0, std::string(250, 'n'), 2, std::string(10, 'v'))),
              std::string(250, 'n') + "=" + std::string(4, 'v'));
}

TEST(ActionExecution, StartsTasksAndSetsVariablesAndIgnoresOtherKinds) {
    RecordingTarget target;
    MCalendarEvent show = Event(0, "Show A", 1, "x");
    MCalendarEvent volume = Event(0, "Volume", 2, "50");
    MCalendarEvent assignment = Event(0, "Volume=50", 2, "7");
    MCalendarEvent other = Event(0, "X", 3, "y");
    MCalendarEvent none = Event(0, "Y", 0);
    target.result = 1;  // refused: still counts as executed, nothing else happens
    for (MCalendarEvent* e : {&show, &volume, &assignment, &other, &none}) {
        CalendarActions::ExecuteAction(e, &target);
    }
    EXPECT_EQ(target.calls, (V{"task:Show A", "set:Volume|50", "set:Volume=50|7"}));
    CalendarActions::ExecuteAction(nullptr, &target);
    CalendarActions::ExecuteAction(&show, nullptr);
    EXPECT_EQ(target.calls.size(), 3u);
}

TEST(ActionVariables, SetVariableActionShowsNameValueTimeWithoutMillisecondsAndKind) {
    Device d;
    MCalendarEvent e = Event(At(9, 5, 7, 900), "Volume", 2, "50");
    d.actions.UpdateEventVariables(&e, EventGroup::kLast);
    EXPECT_EQ(d.log, (V{"LastEvent=Volume=50", "LastEventTime=09:05:07", "LastEventAction=Set Variable"}));
    MCalendarEvent task = Event(At(18, 0, 0), "Show A", 1);
    d.actions.UpdateEventVariables(&task, EventGroup::kNext);
    EXPECT_EQ(d.Var("NextEvent"), "Show A");
    EXPECT_EQ(d.Var("NextEventTime"), "18:00:00");
    EXPECT_EQ(d.Var("NextEventAction"), "Start Task");
    EXPECT_EQ(d.Var("LastEvent"), "Volume=50");  // the other group is untouched
}

TEST(ActionVariables, AnOtherKindMovesNameAndTimeButKeepsTheActionText) {
    Device d;
    MCalendarEvent task = Event(At(11, 0, 0), "Show A", 1);
    d.actions.UpdateEventVariables(&task, EventGroup::kLast);
    MCalendarEvent other = Event(At(12, 0, 0), "X", 3);
    d.actions.UpdateEventVariables(&other, EventGroup::kLast);
    EXPECT_EQ(d.Var("LastEvent"), "X");
    EXPECT_EQ(d.Var("LastEventTime"), "12:00:00");
    EXPECT_EQ(d.Var("LastEventAction"), "Start Task");
    EXPECT_EQ(d.hostDevice.variables.at("LastEventAction")->writes, 1);
}

TEST(ActionVariables, NoActionShowsNoneAndEmptyTextsInOrder) {
    Device d;
    d.actions.UpdateEventVariables(nullptr, EventGroup::kNext);
    EXPECT_EQ(d.log, (V{"NextEvent=None", "NextEventTime=", "NextEventAction="}));
}

TEST(ActionVariables, TimeVariablesTakeTheTimeOfDayInHundredths) {
    Device d;
    d.actions.WriteTimeOfDay(kStatusLastRefreshTime, At(14, 30, 15, 999));
    RecordingHostDevice& h = d.hostDevice;
    EXPECT_EQ(h.variables.at("LastRefreshTime")->hundredths, 5221500);
    EXPECT_EQ(h.variables.at("LastRefreshTime")->base, kZrkTimeBaseHundredths);
    EXPECT_EQ(h.variables.at("NextRefreshTime")->writes, 0);
}

TEST(ActionVariables, WithoutHandlesActionsStillRunAndNothingIsWritten) {
    V log;
    RecordingHostDevice empty(&log, false);
    CalendarActions actions;
    actions.LookUpVariables(&empty);
    for (int i = 0; i < kStatusVariableCount; ++i) {
        EXPECT_EQ(actions.GetHandle(static_cast<StatusVariable>(i)), nullptr);
    }
    RecordingTarget target;
    MCalendarEvent e = Event(At(9, 0, 0), "Show A", 1);
    CalendarActions::ExecuteAction(&e, &target);
    actions.UpdateEventVariables(&e, EventGroup::kLast);
    actions.UpdateEventVariables(nullptr, EventGroup::kNext);
    actions.WriteTimeOfDay(kStatusNextRefreshTime, At(9, 0, 0));
    EXPECT_EQ(target.calls, V{"task:Show A"});
    EXPECT_TRUE(log.empty());
}

TEST(ActionVariables, LookupReplacesEveryHandleByNameAndANullHostDeviceKeepsThem) {
    V log;
    RecordingHostDevice full(&log);
    CalendarActions actions;
    actions.LookUpVariables(&full);
    for (int i = 0; i < kStatusVariableCount; ++i) {
        EXPECT_EQ(actions.GetHandle(static_cast<StatusVariable>(i)),
                  full.variables.at(kStatusVariableNames[i]));
    }
    actions.LookUpVariables(nullptr);
    EXPECT_NE(actions.GetHandle(kStatusNextEvent), nullptr);
    // A host that lost one name: that handle becomes null, the others are looked up afresh.
    delete full.variables.at("NextEvent");
    full.variables.erase("NextEvent");
    actions.LookUpVariables(&full);
    EXPECT_EQ(actions.GetHandle(kStatusNextEvent), nullptr);
    EXPECT_EQ(actions.GetHandle(kStatusLastEvent), full.variables.at("LastEvent"));
}
