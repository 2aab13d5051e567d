#include "calendar/CalendarScheduler.h"

#include "platform/Clock.h"

void CalendarScheduler::OnStart(uint64_t now) {
    lastCheckTime_.store(now);
    refreshRequested_.store(true);
    exchange_ = Exchange::kNone;
    nextUnknown_ = true;
}

void CalendarScheduler::Pass(uint64_t now) {
    platform::CalendarTime calendar;
    const int day = platform::InstantToCalendar(now, &calendar) ? calendar.day : 0;

    // A new day: the old day's actions no longer apply until the new list is read. Taken once, also when
    // the refresh must wait for an exchange in progress.
    if (day != lastDay_) {
        lastDay_ = day;
        refreshRequested_.store(true);
        ShowNext(nullptr);
        host_->UpdateEventVariables(nullptr, EventGroup::kLast);
    }

    // An exchange that has ended makes room for the next; a refresh's answer takes effect before this pass
    // fires, so from here on the new list alone decides.
    TakeEndedExchange();

    // Signed: a period of 0 or below makes every pass refresh. Instants stay far below 2^63.
    const int64_t period = static_cast<int64_t>(host_->RefreshPeriodMinutes()) * kTicksPerMinute;
    const int64_t due = static_cast<int64_t>(lastRefreshTime_) + period;
    if (exchange_ == Exchange::kNone && (refreshRequested_.load() || due <= static_cast<int64_t>(now))) {
        StartRefresh(now, period);
        TakeEndedExchange();
    }
    // After a start the list held from the last run fires until the first answer has come; what shows as
    // next is written again only when that changes it.
    if (nextUnknown_) FindNext(true);

    if (lastCheckTime_.load() < nextEventTime_ && nextEventTime_ <= now) Fire(now);

    // Taken before the work, so that a request arriving meanwhile runs once more rather than being lost.
    if (exchange_ == Exchange::kNone && syncRequested_.exchange(false)) {
        exchange_ = Exchange::kSync;
        host_->StartSync();
        TakeEndedExchange();
    }
}

void CalendarScheduler::StartRefresh(uint64_t now, int64_t period) {
    // Cleared before the request, so that a "Refresh" arriving meanwhile is honoured after it.
    refreshRequested_.store(false);
    // The attempt counts from its start, whether or not the server answers: the next one comes a full
    // period later.
    lastRefreshTime_ = now;
    refreshPeriod_ = period;
    exchange_ = Exchange::kRefresh;
    host_->StartRefresh();
}

void CalendarScheduler::TakeEndedExchange() {
    if (exchange_ == Exchange::kNone || !host_->ExchangeEnded()) return;
    const Exchange ended = exchange_;
    exchange_ = Exchange::kNone;
    if (ended == Exchange::kRefresh) FinishRefresh();
}

void CalendarScheduler::FinishRefresh() {
    host_->TakeRefreshedList();
    host_->WriteTimeOfDay(kStatusLastRefreshTime, lastRefreshTime_);
    const int64_t nextRefresh = static_cast<int64_t>(lastRefreshTime_) + refreshPeriod_;
    host_->WriteTimeOfDay(kStatusNextRefreshTime, nextRefresh > 0 ? static_cast<uint64_t>(nextRefresh) : 0);
    FindNext(false);
}

void CalendarScheduler::FindNext(bool onlyWhenChanged) {
    nextUnknown_ = false;
    // The next action is the first one not yet executed: after the last firing window. The actions the
    // old list fired lie at or before it, so none fires twice; an action of the new list that came due
    // since then fires in this same pass, so none is skipped; an action only the old list held is gone.
    // Taking the first one at or after `now` instead would pass over an action that came due since the
    // last firing.
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
    if (!onlyWhenChanged || (next ? next->time : 0) != nextShown_) ShowNext(next);
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
        ShowNext(next);
    } else {
        // nextEventTime_ stays at or before `now`, so no firing until a refresh finds a later action.
        ShowNext(nullptr);
    }
    lastCheckTime_.store(now);
}

void CalendarScheduler::ShowNext(MCalendarEvent* event) {
    nextShown_ = event ? event->time : 0;
    host_->UpdateEventVariables(event, EventGroup::kNext);
}

uint32_t CalendarScheduler::WaitMilliseconds(uint64_t now) const {
    // A request that can be started now is started at once (the first refresh at Start among them).
    if (exchange_ == Exchange::kNone && (refreshRequested_.load() || syncRequested_.load())) return 0;
    if (!(lastCheckTime_.load() < nextEventTime_)) return kLongestWaitMs;
    if (nextEventTime_ <= now) return 0;
    // Rounded up, so that the wait never ends before the action is due.
    const uint64_t ms =
        (nextEventTime_ - now + platform::kTicksPerMillisecond - 1) / platform::kTicksPerMillisecond;
    return ms < kLongestWaitMs ? static_cast<uint32_t>(ms) : kLongestWaitMs;
}
