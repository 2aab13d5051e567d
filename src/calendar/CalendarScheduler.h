// The decisions of the device's worker pass: when to read the calendar again, which actions have come due,
// what the status variables show, and when a synchronisation runs. Everything is decided from the instant
// the pass is given and from whether the exchange it started has ended, so the rules can be followed in
// virtual time; the device supplies the effects.
//
// Exchanges with the server (a refresh, a synchronisation) run off the firing path: the pass starts one
// and goes on firing from the list it holds; a later pass takes the answer once the exchange has ended.
// One exchange at a time; a refresh or synchronisation asked for meanwhile waits for its end.
//
// Instants are local wall-clock times in 100 ns units since 1601 (platform/Clock.h), compared unsigned.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "calendar/CalendarActions.h"
#include "calendar/CalendarEventList.h"

// What a pass does to the world, supplied by the device.
class ICalendarPassHost {
public:
    // The refresh period in minutes, read at every pass (the setup may change it at any time).
    virtual int32_t RefreshPeriodMinutes() = 0;
    // Starts reading the location's actions from the server and returns at once.
    virtual void StartRefresh() = 0;
    // Starts the synchronisations asked for and returns at once.
    virtual void StartSync() = 0;
    // Whether the exchange started last has ended (its answer is in).
    virtual bool ExchangeEnded() = 0;
    // After a refresh has ended: the list it read, when it read one whole, replaces the event list; a
    // failure keeps the previous list. Called on the pass's thread, the only one that walks the list.
    virtual void TakeRefreshedList() = 0;
    // The current event list, ordered by time; may be null. Only TakeRefreshedList replaces it.
    virtual CalendarEventList* GetEvents() = 0;
    virtual void ExecuteAction(MCalendarEvent* event) = 0;
    virtual void UpdateEventVariables(MCalendarEvent* event, EventGroup group) = 0;
    // Writes "LastRefreshTime" or "NextRefreshTime" with the instant's time of day.
    virtual void WriteTimeOfDay(StatusVariable which, uint64_t instant) = 0;

protected:
    ~ICalendarPassHost() = default;
};

class CalendarScheduler {
public:
    // One minute in instant units.
    static constexpr int64_t kTicksPerMinute = 600000000LL;
    // The longest a worker waits for commands between two passes.
    static constexpr uint32_t kLongestWaitMs = 1000;

    // The exchange a pass started and no pass has taken the end of yet.
    enum class Exchange { kNone, kRefresh, kSync };

    explicit CalendarScheduler(ICalendarPassHost* host) : host_(host) {}
    CalendarScheduler(const CalendarScheduler&) = delete;
    CalendarScheduler& operator=(const CalendarScheduler&) = delete;

    // The device starts: nothing dated at or before `now` will be executed, and the first pass refreshes.
    // No exchange of an earlier run is waited for: the device ended it at Stop. `utcNow` is the same
    // instant in UTC: it tells a daylight-saving step back (UTC went on) from a clock set back (UTC too).
    void OnStart(uint64_t now, uint64_t utcNow);
    // For a clock without a zone, where local time is UTC.
    void OnStart(uint64_t now) { OnStart(now, now); }

    // Requests taken by the next enabled pass that finds no exchange in progress; callable from any thread.
    void RequestRefresh() { refreshRequested_.store(true); }
    void RequestSync() { syncRequested_.store(true); }
    bool RefreshRequested() const { return refreshRequested_.load(); }
    bool SyncRequested() const { return syncRequested_.load(); }

    // One enabled pass at `now`: a new day; the end of the exchange in progress taken when it has come (a
    // refresh's list replaces the old one here); a refresh started when due and no exchange is in
    // progress; the firing of every action come due since the last firing, from the list held now; a
    // requested synchronisation started when no exchange is in progress.
    void Pass(uint64_t now, uint64_t utcNow);
    void Pass(uint64_t now) { Pass(now, now); }

    // How long the worker may wait for commands after a pass, read at `now`: until the next action is due,
    // never longer than kLongestWaitMs; 0 when it is due already, or when a request can be started.
    uint32_t WaitMilliseconds(uint64_t now) const;

    uint64_t LastRefreshTime() const { return lastRefreshTime_; }
    uint64_t NextEventTime() const { return nextEventTime_; }
    uint64_t LastCheckTime() const { return lastCheckTime_.load(); }
    int LastDay() const { return lastDay_; }
    Exchange InProgress() const { return exchange_; }

private:
    void StartRefresh(uint64_t now, int64_t period);
    void TakeEndedExchange();
    void FinishRefresh();
    // At the switch to a new list: fires its actions of the window since the refresh began that the old
    // list did not fire.
    void FireMissedAtSwitch();
    // Same time, macro, action and data.
    static bool SameAction(const MCalendarEvent& a, const MCalendarEvent& b);
    // Finds the first action not yet executed in the list held and shows it as next (with
    // `onlyWhenChanged`, only when it is another than the one found before).
    void FindNext(bool onlyWhenChanged);
    // Writes the "Next" group for the action (or "None").
    void ShowNext(MCalendarEvent* event);
    void Fire(uint64_t now, uint64_t utcNow);

    ICalendarPassHost* host_;
    std::atomic<bool> refreshRequested_{false};
    std::atomic<bool> syncRequested_{false};
    // Worker thread only, but for the start instant, which the host's Start sets.
    uint64_t lastRefreshTime_ = 0;  // start of the last refresh
    int64_t refreshPeriod_ = 0;     // the period when it started, in instant units
    uint64_t nextEventTime_ = 0;    // the next due action found at the last refresh or firing; 0: none
    std::atomic<uint64_t> lastCheckTime_{0};  // upper end of the last firing window (or the start)
    uint64_t lastCheckUtc_ = 0;               // the UTC instant at which lastCheckTime_ was set
    int lastDay_ = 0;  // day of the month of the last pass; 0 makes the first pass a new day
    Exchange exchange_ = Exchange::kNone;
    bool nextUnknown_ = false;  // set by a start: nextEventTime_ is the last run's
    uint64_t nextShown_ = 0;    // the instant of the action the "Next" group shows; 0 for "None"
    // The firing mark when the refresh in progress began, and what the old list fired since.
    uint64_t refreshWindowStart_ = 0;
    std::vector<MCalendarEvent> firedDuringRefresh_;
};
