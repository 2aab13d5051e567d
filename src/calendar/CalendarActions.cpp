#include "calendar/CalendarActions.h"

#include <cstdio>

#include "platform/Clock.h"
#include "zrk/IHostVariable.h"
#include "zrk/IZRKHostDevice.h"

const char* const kStatusVariableNames[kStatusVariableCount] = {
    "LastEvent",     "LastEventTime",   "LastEventAction", "NextEvent",
    "NextEventTime", "NextEventAction", "NextRefreshTime", "LastRefreshTime"};

uint32_t SecondsOfDay(uint64_t instant) {
    platform::CalendarTime t;
    if (!platform::InstantToCalendar(instant, &t)) return 0;
    return t.hour * 3600u + t.minute * 60u + t.second;
}

std::string FormatSecondsOfDay(int64_t seconds) {
    if (seconds < 0) seconds = 0;
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>((seconds % 3600) / 60),
                  static_cast<long long>((seconds % 3600) % 60));
    return text;
}

std::string EventDisplayText(const MCalendarEvent& event) {
    std::string text = event.macro;
    if (event.macro_action == MCalendarEvent::kSetVariable && event.macro.find('=') == std::string::npos) {
        text += '=';
        text += event.macro_data;
    }
    if (text.size() > kMaxDisplayText) {
        // Cut before a character that a multi-byte sequence continues, so the text stays whole characters.
        size_t cut = kMaxDisplayText;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
        text.resize(cut);
    }
    return text;
}

const char* EventActionText(int32_t macroAction) {
    switch (macroAction) {
        case MCalendarEvent::kStartTask:
            return "Start Task";
        case MCalendarEvent::kSetVariable:
            return "Set Variable";
        default:
            return nullptr;
    }
}

CalendarActions::CalendarActions() {
    for (auto& handle : handles_) handle.store(nullptr);
}

void CalendarActions::LookUpVariables(IZRKHostDevice* hostDevice) {
    if (!hostDevice) return;
    for (int i = 0; i < kStatusVariableCount; ++i) {
        handles_[i].store(hostDevice->GetVariable(kStatusVariableNames[i]));
    }
}

void CalendarActions::SetHandle(StatusVariable which, IHostVariable* variable) {
    if (which >= 0 && which < kStatusVariableCount) handles_[which].store(variable);
}

IHostVariable* CalendarActions::GetHandle(StatusVariable which) const {
    return which >= 0 && which < kStatusVariableCount ? handles_[which].load() : nullptr;
}

void CalendarActions::ExecuteAction(const MCalendarEvent* event, IActionTarget* target) {
    if (!event || !target) return;
    switch (event->macro_action) {
        case MCalendarEvent::kStartTask:
            target->StartTask(event->macro.c_str());
            break;
        case MCalendarEvent::kSetVariable:
            target->SetVariable(event->macro.c_str(), event->macro_data.c_str());
            break;
        default:
            break;
    }
}

void CalendarActions::UpdateEventVariables(const MCalendarEvent* event, EventGroup group) {
    const bool last = group == EventGroup::kLast;
    const StatusVariable eventVar = last ? kStatusLastEvent : kStatusNextEvent;
    const StatusVariable timeVar = last ? kStatusLastEventTime : kStatusNextEventTime;
    const StatusVariable actionVar = last ? kStatusLastEventAction : kStatusNextEventAction;
    if (!event) {
        WriteText(eventVar, "None");
        WriteText(timeVar, "");
        WriteText(actionVar, "");
        return;
    }
    WriteText(eventVar, EventDisplayText(*event).c_str());
    WriteText(timeVar, FormatSecondsOfDay(SecondsOfDay(event->time)).c_str());
    // A kind that executes nothing leaves the action text as it was.
    if (const char* action = EventActionText(event->macro_action)) WriteText(actionVar, action);
}

void CalendarActions::WriteTimeOfDay(StatusVariable which, uint64_t instant) {
    IHostVariable* variable = GetHandle(which);
    if (variable)
        variable->SetTime(static_cast<int64_t>(SecondsOfDay(instant)) * 100, kZrkTimeBaseHundredths, 0, 0);
}

void CalendarActions::WriteText(StatusVariable which, const char* text) {
    IHostVariable* variable = GetHandle(which);
    if (variable) variable->SetText(text, 0, 0);
}
