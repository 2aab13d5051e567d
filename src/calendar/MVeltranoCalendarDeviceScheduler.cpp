// The worker's scheduler pass of the calendar device: the refresh cycle, the firing of due actions and a
// requested database synchronisation. Run calls it after the commands of each pass while the device is
// enabled. The decisions are CalendarScheduler's; this file gives them the device's server, event list,
// host calls and status variables.
#include "calendar/MVeltranoCalendarDevice.h"
#include "hostsync/DBVariableSyncer.h"
#include "hostsync/KorrelRemote.h"
#include "module/MVeltranoCalendarModule.h"
#include "platform/Clock.h"
#include "server/MCalendarRESTClient.h"

namespace {

// Actions reach the host through the device's remote access.
class RemoteActionTarget : public IActionTarget {
public:
    explicit RemoteActionTarget(KorrelRemote* remote) : remote_(remote) {}
    int StartTask(const char* name) override { return remote_->StartTask(name); }
    int SetVariable(const char* text, const char* value) override {
        return remote_->SetVariable(text, value);
    }

private:
    KorrelRemote* remote_;
};

}  // namespace

void MVeltranoCalendarDevice::RunSchedulerPass() {
    // Requests of commands and Start pass to the scheduler, which takes them in this pass.
    if (refreshRequested_.exchange(false)) scheduler_.RequestRefresh();
    if (syncRequested_.exchange(false)) scheduler_.RequestSync();
    // The handles the host last gave (settings loaded, setup made) are the ones written.
    for (int i = 0; i < kStatusVariableCount; ++i) {
        statusWriter_.SetHandle(static_cast<::StatusVariable>(i),
                                GetStatusVariable(static_cast<StatusVariable>(i)));
    }

    scheduler_.Pass(platform::LocalInstantNow());

    lastRefreshTime_ = scheduler_.LastRefreshTime();
    nextEventTime_ = scheduler_.NextEventTime();
    lastCheckTime_.store(scheduler_.LastCheckTime());
    lastDay_ = scheduler_.LastDay();
}

uint32_t MVeltranoCalendarDevice::SchedulerWaitMs() {
    if (!enabled_.load()) return kCommandWait;
    const uint32_t wait = scheduler_.WaitMilliseconds(platform::LocalInstantNow());
    return wait < kCommandWait ? wait : kCommandWait;
}

int32_t MVeltranoCalendarDevice::SchedulerLink::RefreshPeriodMinutes() {
    return device_->GetSettings().refreshPeriod;
}

void MVeltranoCalendarDevice::SchedulerLink::RefreshActions() {
    if (device_->module_ == nullptr) return;
    const CalendarDeviceSettings settings = device_->GetSettings();
    device_->module_->GetRESTClient()->RefreshActions(settings.locationId, settings.lookahead);
}

CalendarEventList* MVeltranoCalendarDevice::SchedulerLink::GetEvents() {
    return device_->module_ != nullptr ? device_->module_->GetStore()->GetEvents() : nullptr;
}

void MVeltranoCalendarDevice::SchedulerLink::ExecuteAction(MCalendarEvent* event) {
    if (device_->remote_ == nullptr) return;
    RemoteActionTarget target(device_->remote_);
    CalendarActions::ExecuteAction(event, &target);
}

void MVeltranoCalendarDevice::SchedulerLink::UpdateEventVariables(MCalendarEvent* event, EventGroup group) {
    device_->statusWriter_.UpdateEventVariables(event, group);
}

void MVeltranoCalendarDevice::SchedulerLink::WriteTimeOfDay(::StatusVariable which, uint64_t instant) {
    device_->statusWriter_.WriteTimeOfDay(which, instant);
}

void MVeltranoCalendarDevice::SchedulerLink::Synchronise() {
    if (device_->module_ == nullptr) return;
    const CalendarDeviceSettings settings = device_->GetSettings();
    DBVariableSyncer syncer(device_->remote_, device_->module_->GetStore(), device_->module_->GetRESTClient(),
                            settings.locationId);
    syncer.Sync(settings.calendarGroup.c_str(), true);
}
