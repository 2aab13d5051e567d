#include "calendar/CalendarScheduler.h"

#include "platform/Clock.h"

void CalendarScheduler::OnStart(uint64_t now) {
    lastCheckTime_.store(now);
    refreshRequested_.store(true);
}

void CalendarScheduler::Pass(uint64_t now) {
    platform::CalendarTime calendar;
    const int day = platform::InstantToCalendar(now, &calendar) ? calendar.day : 0;

    // A new day: the old day's actions no longer apply until the new list is read.
    if (day != lastDay_) {
        refreshRequested_.store(true);
        host_->UpdateEventVariables(nullptr, EventGroup::kNext);
        host_->UpdateEventVariables(nullptr, EventGroup::kLast);
    }

    // Signed: a period of 0 or below makes every pass refresh. Instants stay far below 2^63.
    const int64_t period = static_cast<int64_t>(host_->RefreshPeriodMinutes()) * kTicksPerMinute;
    const int64_t due = static_cast<int64_t>(lastRefreshTime_) + period;
    if (refreshRequested_.load() || due <= static_cast<int64_t>(now)) Refresh(now, day, period);

    if (lastCheckTime_.load() < nextEventTime_ && nextEventTime_ <= now) Fire(now);

    // Taken before the work, so that a request arriving meanwhile runs once more rather than being lost.
    if (syncRequested_.exchange(false)) host_->Synchronise();
}

void CalendarScheduler::Refresh(uint64_t now, int day, int64_t period) {
    lastDay_ = day;
    // Cleared before the request, so that a "Refresh" arriving meanwhile is honoured at the next pass.
    refreshRequested_.store(false);
    host_->RefreshActions();
    // The attempt counts, whether or not the server answered: the next one comes a full period later.
    lastRefreshTime_ = now;
    host_->WriteTimeOfDay(kStatusLastRefreshTime, now);
    const int64_t nextRefresh = static_cast<int64_t>(now) + period;
    host_->WriteTimeOfDay(kStatusNextRefreshTime, nextRefresh > 0 ? static_cast<uint64_t>(nextRefresh) : 0);

    // The next action is the first one not yet executed: after the last firing window. Taking the first one
    // at or after `now` instead would pass over an action that came due since the last firing (a refresh
    // in the same pass, or the device enabled again after a refresh period), which would then wait for a
    // later action to trigger it, or never run when none follows. An action due already fires below, in
    // this same pass.
    nextEventTime_ = 0;
    MCalendarEvent* next = nullptr;
    // Only this thread replaces the list, so the walk needs no lock.
    MIDoubleListIterator<MCalendarEvent> it(host_->GetEvents());
    for (MCalendarEvent* event = it.Current(); event; event = it.Next()) {
        if (event->time > lastCheckTime_.load()) {
            next = event;
            break;
        }
    }
    if (next) nextEventTime_ = next->time;
    host_->UpdateEventVariables(next, EventGroup::kNext);
}

void CalendarScheduler::Fire(uint64_t now) {
    MCalendarEvent* next = nullptr;
    MIDoubleListIterator<MCalendarEvent> it(host_->GetEvents());
    for (MCalendarEvent* event = it.Current(); event; event = it.Next()) {
        if (event->time > now) {
            next = event;
            break;
        }
        // At or before the last window's end: executed then, or dated before the start.
        if (event->time <= lastCheckTime_.load()) continue;
        host_->ExecuteAction(event);
        host_->UpdateEventVariables(event, EventGroup::kLast);
    }
    if (next) {
        nextEventTime_ = next->time;
        host_->UpdateEventVariables(next, EventGroup::kNext);
    } else {
        // nextEventTime_ stays at or before `now`, so no firing until a refresh finds a later action.
        host_->UpdateEventVariables(nullptr, EventGroup::kNext);
    }
    lastCheckTime_.store(now);
}

uint32_t CalendarScheduler::WaitMilliseconds(uint64_t now) const {
    if (!(lastCheckTime_.load() < nextEventTime_)) return kLongestWaitMs;
    if (nextEventTime_ <= now) return 0;
    // Rounded up, so that the wait never ends before the action is due.
    const uint64_t ms =
        (nextEventTime_ - now + platform::kTicksPerMillisecond - 1) / platform::kTicksPerMillisecond;
    return ms < kLongestWaitMs ? static_cast<uint32_t>(ms) : kLongestWaitMs;
}
