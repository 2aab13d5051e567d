// The calendar device's setup dialog: run modally from Configure on the host's thread, with the module's
// store and REST client and the device's host remote access behind it.
#include <string>

#include "calendar/DeviceSetupServices.h"
#include "calendar/MVeltranoCalendarDevice.h"
#include "hostsync/DBVariableSyncer.h"
#include "hostsync/KorrelRemote.h"
#include "module/MVeltranoCalendarModule.h"
#include "platform/TextConversion.h"
#include "server/MCalendarRESTClient.h"
#include "ui/CalendarSetupDialog.h"

DeviceSetupServices::DeviceSetupServices(MVeltranoCalendarModule* module, KorrelRemote* remote)
    : module_(module), remote_(remote), client_(module ? module->GetStore() : nullptr) {
    if (module_ == nullptr) return;
    // The dialog starts from the device's address and exchanges as the module's client does.
    MCalendarRESTClient* shared = module_->GetRESTClient();
    client_.SetBackend(shared->GetBackend());
    client_.SetServerURL(shared->GetHost() + L":" + std::to_wstring(shared->GetPort()));
}

MCalendarStore* DeviceSetupServices::Store() {
    return module_ ? module_->GetStore() : nullptr;
}

void DeviceSetupServices::SetServerURL(const std::string& url) {
    client_.SetServerURL(platform::AnsiToWide(url.c_str()));
}

bool DeviceSetupServices::TestConnection() {
    return module_ && client_.TestConnection();
}

void DeviceSetupServices::EnumerateUserGroups(CalendarSetupDialog* dialog) {
    if (remote_) remote_->EnumerateUserGroups(dialog);
}

bool DeviceSetupServices::SyncGroup(const std::string& group, int32_t location) {
    if (!module_) return false;
    DBVariableSyncer syncer(remote_, module_->GetStore(), &client_, location);
    return syncer.Sync(group.c_str(), true);
}

int MVeltranoCalendarDevice::RunSetupDialog(const DialogPlacement& placement) {
    DeviceSetupServices services(module_, remote_);
    CalendarSetupDialog dialog(module_ ? module_->GetHost() : nullptr, &services);
    if (placement.given) dialog.SetPosition(placement.X(dialog.Width()), placement.Y(dialog.Height()));

    CalendarDeviceSettings settings = GetSettings();
    ui::SetupSettings values;
    values.url = settings.url.Get() ? settings.url.Get() : "";
    values.locationId = settings.locationId;
    values.refreshPeriod = settings.refreshPeriod;
    values.local = settings.local;
    values.lookahead = settings.lookahead;
    values.groupName = settings.calendarGroup;
    dialog.LoadFrom(&values);

    const int result = dialog.Show();
    if (result == ui::kDialogOk) {
        dialog.StoreTo(&values);
        // The worker may have changed nothing meanwhile, but the copy is taken again so that only the
        // dialog's six values are replaced.
        settings = GetSettings();
        settings.url = values.url.c_str();
        settings.locationId = values.locationId;
        settings.refreshPeriod = values.refreshPeriod;
        settings.local = values.local;
        settings.lookahead = values.lookahead;
        settings.calendarGroup = values.groupName;
        SetSettings(settings);
    }
    return result;
}
