#include "SoakLedger.h"

#include <algorithm>
#include <cstdio>

#include "platform/Clock.h"

namespace soak {

uint64_t ParseHostTime(const std::string& text) {
    unsigned year, month, day, hour, minute, second, ms;
    char tail;
    if (std::sscanf(text.c_str(), "%4u-%2u-%2uT%2u:%2u:%2u.%3u%c", &year, &month, &day, &hour, &minute,
                    &second, &ms, &tail) != 7) {
        return 0;
    }
    platform::CalendarTime t;
    t.year = static_cast<uint16_t>(year);
    t.month = static_cast<uint16_t>(month);
    t.day = static_cast<uint16_t>(day);
    t.hour = static_cast<uint16_t>(hour);
    t.minute = static_cast<uint16_t>(minute);
    t.second = static_cast<uint16_t>(second);
    t.milliseconds = static_cast<uint16_t>(ms);
    uint64_t instant = 0;
    if (ms > 999 || !platform::CalendarToInstant(t, &instant)) return 0;
    return instant;
}

SoakLedger::SoakLedger(std::vector<PlannedAction> plan) : plan_(std::move(plan)), firings_(plan_.size()) {
    for (size_t i = 0; i < plan_.size(); ++i) {
        const PlannedAction& a = plan_[i];
        if (a.setVariable)
            byValue_[a.macro + "=" + a.data] = static_cast<int>(i);
        else
            byTask_[a.macro] = static_cast<int>(i);
    }
}

void SoakLedger::Fired(int index, uint64_t at) {
    firings_[static_cast<size_t>(index)].push_back(at);
}

void SoakLedger::TaskStarted(const std::string& name, uint64_t at) {
    auto it = byTask_.find(name);
    if (it == byTask_.end()) {
        unknown_.push_back("task " + name);
        return;
    }
    Fired(it->second, at);
}

void SoakLedger::VariableSet(const std::string& name, const std::string& value, uint64_t at) {
    auto it = byValue_.find(name + "=" + value);
    if (it == byValue_.end()) {
        unknown_.push_back("set " + name + "=" + value);
        return;
    }
    Fired(it->second, at);
}

void SoakLedger::RunStarted(uint64_t at) {
    if (!runs_.empty() && runs_.back().stopWritten == 0) return;  // a start while running changes nothing
    runs_.push_back(Run{at, 0});
}

void SoakLedger::StopWritten(uint64_t at) {
    if (!runs_.empty() && runs_.back().stopWritten == 0) runs_.back().stopWritten = at;
}

void SoakLedger::StopStalled(uint64_t from) {
    if (!runs_.empty()) runs_.back().stalledFrom = from;
}

void SoakLedger::Paused(uint64_t from, uint64_t to) {
    pauses_.push_back(DisabledSpan{from, to});
}

Verdict SoakLedger::Judge(uint64_t firstCorrect) const {
    Verdict v;
    auto note = [&v](const std::string& text) {
        if (v.problems.size() < 12) v.problems.push_back(text);
    };
    for (const std::string& u : unknown_) note("effect of no planned action: " + u);
    v.unknownFired = static_cast<int>(unknown_.size());
    for (size_t i = 0; i < plan_.size(); ++i) {
        const PlannedAction& a = plan_[i];
        const std::vector<uint64_t>& fired = firings_[i];
        std::string name = "action " + std::to_string(a.index) + " (" + DateText(a.instant) + ")";
        if (!fired.empty()) ++v.fired;
        if (fired.size() > 1) {
            ++v.firedTwice;
            note(name + " fired " + std::to_string(fired.size()) + " times");
        }
        for (uint64_t at : fired) {
            // zrkhost stamps in whole milliseconds after the call; the device fires at or after the time.
            if (at + kTicksPerMs < a.instant) {
                ++v.firedEarly;
                note(name + " fired early");
            } else if (at > a.instant) {
                v.latestLateTicks = std::max(v.latestLateTicks, at - a.instant);
            }
        }
        bool must = false;
        if (firstCorrect != 0) {
            for (const Run& run : runs_) {
                uint64_t end = run.stopWritten ? run.stopWritten : UINT64_MAX;
                if (run.stalledFrom != 0 && run.stalledFrom < end) end = run.stalledFrom;
                uint64_t due = std::max(a.instant, firstCorrect);
                if (a.instant > run.started + kStartMargin && due + kStopMargin <= end) must = true;
            }
            for (const DisabledSpan& p : pauses_) {
                if (a.instant + kStopMargin >= p.from && a.instant <= p.to + kStartMargin) must = false;
            }
        }
        if (must) {
            ++v.mustFire;
            if (fired.empty()) {
                ++v.missed;
                note(name + " never fired");
            } else if (a.instant >= firstCorrect + kStartMargin) {
                v.heldLateTicks.push_back(fired.front() > a.instant ? fired.front() - a.instant : 0);
            }
        }
    }
    std::sort(v.heldLateTicks.begin(), v.heldLateTicks.end());
    v.passed = v.firedTwice == 0 && v.firedEarly == 0 && v.missed == 0 && v.unknownFired == 0;
    return v;
}

}  // namespace soak
