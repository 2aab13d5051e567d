// A device stand-in for the worker pass: real status variables (CalendarActions) over recording host
// variables, a recording action target, and a "server" whose action list the test edits.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "calendar/CalendarActions.h"
#include "calendar/CalendarScheduler.h"
#include "platform/Clock.h"
#include "zrk/IHostVariable.h"
#include "zrk/IZRKHostDevice.h"

namespace scheduler_test {

// Local instant of 2026-12-<day> hh:mm:ss.ms.
inline uint64_t At(int h, int m, int s, int ms = 0, int day = 7) {
    platform::CalendarTime t;
    t.year = 2026;
    t.month = 12;
    t.day = static_cast<uint16_t>(day);
    t.hour = static_cast<uint16_t>(h);
    t.minute = static_cast<uint16_t>(m);
    t.second = static_cast<uint16_t>(s);
    t.milliseconds = static_cast<uint16_t>(ms);
    uint64_t instant = 0;
    platform::CalendarToInstant(t, &instant);
    return instant;
}

// Every write lands in a shared log as "Name=value" (times as hundredths), and the last one is kept.
class RecordingVariable final : public IHostVariable {
public:
    RecordingVariable(std::string name, std::vector<std::string>* log) : name_(std::move(name)), log_(log) {}
    int ZRK_CALL QueryInterface(const char*, void** out) override {
        if (out) *out = nullptr;
        return kZrkUnknownInterface;
    }
    int ZRK_CALL Release() override { return 0; }
    int ZRK_CALL GetType() override { return kZrkVariableText; }
    int ZRK_CALL SetInteger(int, int, int) override { return 19; }
    int ZRK_CALL SetReal(double, int, int) override { return 19; }
    int ZRK_CALL SetText(const char* text, int, int) override {
        value = text;
        ++writes;
        log_->push_back(name_ + "=" + value);
        return 0;
    }
    int ZRK_CALL SetTime(int64_t v, int timeBase, int, int) override {
        hundredths = v;
        base = timeBase;
        ++writes;
        log_->push_back(name_ + "=" + std::to_string(v));
        return 0;
    }
    int ZRK_CALL GetInstanceId() override { return 0; }

    std::string value;
    int64_t hundredths = -1;
    int base = -1;
    int writes = 0;

private:
    std::string name_;
    std::vector<std::string>* log_;
};

class RecordingHostDevice : public IZRKHostDevice {
public:
    explicit RecordingHostDevice(std::vector<std::string>* log, bool all = true) {
        for (const char* name : kStatusVariableNames) {
            if (all) variables.emplace(name, new RecordingVariable(name, log));
        }
    }
    ~RecordingHostDevice() {
        for (auto& v : variables) delete v.second;
    }
    int ZRK_CALL QueryInterface(const char*, void** out) override {
        if (out) *out = nullptr;
        return kZrkUnknownInterface;
    }
    int ZRK_CALL Release() override { return 0; }
    IHostVariable* ZRK_CALL GetVariable(const char* name) override {
        auto it = variables.find(name ? name : "");
        return it == variables.end() ? nullptr : it->second;
    }
    std::map<std::string, RecordingVariable*> variables;
};

// Host calls as "task:NAME" and "set:TEXT|VALUE", in order.
class RecordingTarget : public IActionTarget {
public:
    int StartTask(const char* name) override {
        calls.push_back(std::string("task:") + name);
        return result;
    }
    int SetVariable(const char* text, const char* value) override {
        calls.push_back(std::string("set:") + text + "|" + value);
        return result;
    }
    std::vector<std::string> calls;
    int result = 0;
};

struct PlannedAction {
    uint64_t time;
    std::string macro;
    int32_t action = MCalendarEvent::kStartTask;
    std::string data = "";
};

// The device as the pass sees it. An exchange ends as soon as it starts unless `answerAtOnce` is cleared;
// then it stays in flight until Answer().
class FakePassHost : public ICalendarPassHost {
public:
    FakePassHost() : hostDevice(&log) { actions.LookUpVariables(&hostDevice); }
    ~FakePassHost() {
        delete events;
        delete pending;
    }

    int32_t RefreshPeriodMinutes() override { return period; }
    // The server answers with its list as it stands when the request is made.
    void StartRefresh() override {
        ++refreshes;
        log.push_back("refresh");
        if (onRefresh) onRefresh();
        delete pending;
        pending = nullptr;
        ended = answerAtOnce;
        if (!serverUp) return;
        pending = new CalendarEventList();
        for (const PlannedAction& p : server) {
            auto* event = new MCalendarEvent();
            event->time = p.time;
            event->macro = p.macro;
            event->macro_action = p.action;
            event->macro_data = p.data;
            pending->Add(event);
        }
        EventCompare compare;
        pending->Sort(&compare, 0);
    }
    void StartSync() override {
        ++syncs;
        log.push_back("sync");
        if (onSync) onSync();
        ended = answerAtOnce;
    }
    bool ExchangeEnded() override { return ended; }
    void TakeRefreshedList() override {
        if (!pending) return;
        delete events;
        events = pending;
        pending = nullptr;
    }
    void Answer() { ended = true; }
    CalendarEventList* GetEvents() override { return events; }
    void ExecuteAction(MCalendarEvent* event) override {
        log.push_back("execute:" + event->macro);
        CalendarActions::ExecuteAction(event, &target);
    }
    void UpdateEventVariables(MCalendarEvent* event, EventGroup group) override {
        actions.UpdateEventVariables(event, group);
    }
    void WriteTimeOfDay(StatusVariable which, uint64_t instant) override {
        actions.WriteTimeOfDay(which, instant);
    }

    std::string Var(const char* name) { return hostDevice.variables.at(name)->value; }
    int64_t Hundredths(const char* name) { return hostDevice.variables.at(name)->hundredths; }
    // The macros executed so far, in order.
    std::vector<std::string> Executed() const {
        std::vector<std::string> out;
        for (const auto& line : log) {
            if (line.rfind("execute:", 0) == 0) out.push_back(line.substr(8));
        }
        return out;
    }

    std::vector<std::string> log;
    RecordingHostDevice hostDevice;
    CalendarActions actions;
    RecordingTarget target;
    std::vector<PlannedAction> server;
    bool serverUp = true;
    int32_t period = 10;
    int refreshes = 0;
    int syncs = 0;
    std::function<void()> onRefresh;
    std::function<void()> onSync;
    bool answerAtOnce = true;
    bool ended = true;
    CalendarEventList* events = nullptr;
    CalendarEventList* pending = nullptr;  // read by the refresh in flight
};

}  // namespace scheduler_test
