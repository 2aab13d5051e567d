// The worker's scheduler pass of the calendar device: the refresh cycle, the firing of due actions and a
// requested database synchronisation. Run calls it after the commands of each pass while the device is
// enabled. The decisions are CalendarScheduler's; this file gives them the device's server (through the
// exchange thread), event list, host calls and status variables.
#include <utility>

#include "calendar/MCalendarStore.h"
#include "calendar/MVeltranoCalendarDevice.h"
#include "hostsync/DBVariableSyncer.h"
#include "hostsync/IKorrelRemoteCallback.h"
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

// Whether the host's user group tree holds a group of the name asked about.
class GroupFinder : public IKorrelRemoteCallback {
public:
    explicit GroupFinder(const std::string& name) : name_(name) {}
    void OnUserGroup(const char* name, int) override {
        found_ = found_ || (name != nullptr && name_ == name);
    }
    bool Found() const { return found_; }

private:
    const std::string& name_;
    bool found_ = false;
};

// The group to mirror for a "Sync DB" text: a text that names one of the host's user groups names that
// group; any other text (an empty one too) stands for the device's own group.
std::string SyncGroup(KorrelRemote* remote, const std::string& text, const std::string& deviceGroup) {
    if (text.empty() || remote == nullptr) return deviceGroup;
    GroupFinder finder(text);
    remote->EnumerateUserGroups(&finder);
    return finder.Found() ? text : deviceGroup;
}

}  // namespace

void MVeltranoCalendarDevice::RunSchedulerPass() {
    scheduler_.Pass(platform::LocalInstantNow(), platform::UtcInstantNow());
}

uint32_t MVeltranoCalendarDevice::SchedulerWaitMs() {
    if (!enabled_.load()) return kCommandWait;
    const uint32_t wait = scheduler_.WaitMilliseconds(platform::LocalInstantNow());
    return wait < kCommandWait ? wait : kCommandWait;
}

int32_t MVeltranoCalendarDevice::SchedulerLink::RefreshPeriodMinutes() {
    return device_->GetSettings().refreshPeriod;
}

// The settings as they stand when the exchange starts.
void MVeltranoCalendarDevice::SchedulerLink::StartRefresh() {
    MVeltranoCalendarDevice* device = device_;
    device->refreshed_.reset();
    const CalendarDeviceSettings settings = device->GetSettings();
    device->exchange_.Post([device, settings] {
        if (device->module_ == nullptr) return;
        std::unique_ptr<CalendarEventList> list;
        if (device->module_->GetRESTClient()->FetchActions(settings.locationId, settings.lookahead, &list)) {
            device->refreshed_ = std::move(list);
        }
    });
}

void MVeltranoCalendarDevice::SchedulerLink::StartSync() {
    MVeltranoCalendarDevice* device = device_;
    std::string text;
    {
        std::lock_guard<std::mutex> guard(device->syncTextsLock_);
        text.swap(device->syncText_);
    }
    const CalendarDeviceSettings settings = device->GetSettings();
    device->exchange_.Post([device, text, settings] {
        // Once Stop has cancelled the exchange, no further host call or request is made.
        if (device->module_ == nullptr || device->exchange_.Cancelled()) return;
        const std::string group = SyncGroup(device->remote_, text, settings.calendarGroup);
        if (device->exchange_.Cancelled()) return;
        DBVariableSyncer syncer(device->remote_, device->module_->GetStore(),
                                device->module_->GetRESTClient(), settings.locationId);
        syncer.Sync(group.c_str(), true);
    });
}

bool MVeltranoCalendarDevice::SchedulerLink::ExchangeEnded() {
    return device_->exchange_.Ended();
}

// On the worker, between its walks of the list: the list replaced is never read again.
void MVeltranoCalendarDevice::SchedulerLink::TakeRefreshedList() {
    if (device_->refreshed_ && device_->module_ != nullptr) {
        device_->module_->GetStore()->SetEvents(device_->refreshed_.release());
    }
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
