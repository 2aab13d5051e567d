#include "calendar/CalendarScheduler.h"

#include <algorithm>

#include "platform/Clock.h"

void CalendarScheduler::OnStart(uint64_t now, uint64_t utcNow) {
    // The list held is kept over a restart, and so is the mark of what it fired when only local time went
    // back (the repeated hour of a daylight-saving change, UTC going on): the later mark keeps an action
    // from firing twice. When UTC went back too, the clock was set back: the mark lies in a time that has
    // not come, and kept it would silently pass over every action up to it.
    if (now > lastCheckTime_.load() || utcNow < lastCheckUtc_) {
        lastCheckTime_.store(now);
        lastCheckUtc_ = utcNow;
    }
    firedDuringRefresh_.clear();
    refreshRequested_.store(true);
    exchange_ = Exchange::kNone;
    nextUnknown_ = true;
}

void CalendarScheduler::Pass(uint64_t now, uint64_t utcNow) {
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

    if (lastCheckTime_.load() < nextEventTime_ && nextEventTime_ <= now) Fire(now, utcNow);

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
    refreshWindowStart_ = lastCheckTime_.load();
    firedDuringRefresh_.clear();
    exchange_ = Exchange::kRefresh;
    host_->StartRefresh();
}

void CalendarScheduler::TakeEndedExchange() {
    if (exchange_ == Exchange::kNone || !host_->ExchangeEnded()) return;
    const Exchange ended = exchange_;
    exchange_ = Exchange::kNone;
    if (ended == Exchange::kRefresh) FinishRefresh();
}

bool CalendarScheduler::SameAction(const MCalendarEvent& a, const MCalendarEvent& b) {
    return a.time == b.time && a.macro == b.macro && a.macro_action == b.macro_action &&
           a.macro_data == b.macro_data;
}

void CalendarScheduler::FireMissedAtSwitch() {
    // The old list fired the window since the refresh began; an action the new list holds in that window
    // (added by the operator meanwhile) was not in it and fires now, once. One the old list fired is
    // matched once, so a duplicate in the new list still fires.
    std::vector<MCalendarEvent> fired;
    fired.swap(firedDuringRefresh_);
    const uint64_t end = lastCheckTime_.load();
    MIDoubleListIterator<MCalendarEvent> it(host_->GetEvents());
    for (MCalendarEvent* event = it.Current(); event; event = it.Next()) {
        if (event->time > end) break;
        if (event->time <= refreshWindowStart_) continue;
        auto match = std::find_if(fired.begin(), fired.end(),
                                  [event](const MCalendarEvent& f) { return SameAction(f, *event); });
        if (match != fired.end()) {
            fired.erase(match);
            continue;
        }
        host_->ExecuteAction(event);
        host_->UpdateEventVariables(event, EventGroup::kLast);
    }
}

void CalendarScheduler::FinishRefresh() {
    host_->TakeRefreshedList();
    FireMissedAtSwitch();
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

void CalendarScheduler::Fire(uint64_t now, uint64_t utcNow) {
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
        // The list arriving may hold actions of this window too; it must know what was fired.
        if (exchange_ == Exchange::kRefresh) firedDuringRefresh_.push_back(*event);
    }
    if (next) {
        nextEventTime_ = next->time;
        ShowNext(next);
    } else {
        // nextEventTime_ stays at or before `now`, so no firing until a refresh finds a later action.
        ShowNext(nullptr);
    }
    lastCheckTime_.store(now);
    lastCheckUtc_ = utcNow;
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
