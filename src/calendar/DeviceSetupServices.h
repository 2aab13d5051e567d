// What the calendar device's setup dialog reaches through the module and the device. The dialog talks to
// the address typed into it through a REST client of its own: while it is open the running device goes on
// exchanging with its own address, which changes only when the dialog's values are stored on OK.
#pragma once

#include <string>

#include "server/MCalendarRESTClient.h"
#include "ui/CalendarSetupDialog.h"

class KorrelRemote;
class MVeltranoCalendarModule;

class DeviceSetupServices : public ui::ISetupDialogServices {
public:
    // Neither is owned; either may be null.
    DeviceSetupServices(MVeltranoCalendarModule* module, KorrelRemote* remote);

    MCalendarStore* Store() override;
    // Points the dialog's own client at the address; the module's client is left alone.
    void SetServerURL(const std::string& url) override;
    bool TestConnection() override;
    void EnumerateUserGroups(CalendarSetupDialog* dialog) override;
    bool SyncGroup(const std::string& group, int32_t location) override;

    // The dialog's client, for the tests.
    MCalendarRESTClient* Client() { return &client_; }

private:
    MVeltranoCalendarModule* module_;
    KorrelRemote* remote_;
    MCalendarRESTClient client_;
};
