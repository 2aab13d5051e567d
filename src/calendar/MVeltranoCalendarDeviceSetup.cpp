// The calendar device's setup dialog: run modally from Configure on the host's thread, with the module's
// store and REST client and the device's host remote access behind it.
#include <string>

#include "calendar/MVeltranoCalendarDevice.h"
#include "hostsync/DBVariableSyncer.h"
#include "hostsync/KorrelRemote.h"
#include "module/MVeltranoCalendarModule.h"
#include "platform/TextConversion.h"
#include "server/MCalendarRESTClient.h"
#include "ui/CalendarSetupDialog.h"

namespace {

// What the dialog reaches through the module and the device.
class DeviceSetupServices : public ui::ISetupDialogServices {
public:
    DeviceSetupServices(MVeltranoCalendarModule* module, KorrelRemote* remote)
        : module_(module), remote_(remote) {}

    MCalendarStore* Store() override { return module_ ? module_->GetStore() : nullptr; }

    void SetServerURL(const std::string& url) override {
        if (module_) module_->GetRESTClient()->SetServerURL(platform::AnsiToWide(url.c_str()));
    }

    bool TestConnection() override { return module_ && module_->GetRESTClient()->TestConnection(); }

    void EnumerateUserGroups(CalendarSetupDialog* dialog) override {
        if (remote_) remote_->EnumerateUserGroups(dialog);
    }

    bool SyncGroup(const std::string& group, int32_t location) override {
        if (!module_) return false;
        DBVariableSyncer syncer(remote_, module_->GetStore(), module_->GetRESTClient(), location);
        return syncer.Sync(group.c_str(), true);
    }

private:
    MVeltranoCalendarModule* module_;
    KorrelRemote* remote_;
};

}  // namespace

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
