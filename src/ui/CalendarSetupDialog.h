// The setup dialog's presenter: every rule of the dialog (what it loads and shows, how its pick lists are
// filled, sorted and selected, what its buttons do, which status text shows, what OK stores) lives here and
// works against ISetupDialogView, so that each platform's window only shows and reports.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hostsync/IKorrelRemoteCallback.h"
#include "ui/ISetupDialogView.h"
#include "ui/VCThemeHelper.h"
#include "zrk/IMInterface.h"

class MCalendarStore;

namespace ui {

// The device's values that the dialog edits.
struct SetupSettings {
    std::string url;
    int32_t locationId = 1;
    int32_t refreshPeriod = 10;
    bool local = true;
    int32_t lookahead = 1;
    std::string groupName;  // the user group that "Sync DB" mirrors
};

// What the dialog uses of the module and of the device's host remote access.
class ISetupDialogServices {
public:
    virtual ~ISetupDialogServices() = default;
    // The module's store; its location list fills the location list.
    virtual MCalendarStore* Store() = 0;
    // Hands the typed address to the client the dialog's own exchanges use (the running device keeps its
    // address until the dialog's values are stored).
    virtual void SetServerURL(const std::string& url) = 0;
    // True when the server answered with a location list, which then replaces the store's locations.
    virtual bool TestConnection() = 0;
    // Lists the host's user groups, calling dialog->OnUserGroup for each.
    virtual void EnumerateUserGroups(CalendarSetupDialog* dialog) = 0;
    // Mirrors the host group's variables into the server's table of that location.
    virtual bool SyncGroup(const std::string& group, int32_t location) = 0;
};

}  // namespace ui

class CalendarSetupDialog : public IKorrelRemoteCallback {
public:
    // Longest address read from the address field.
    static constexpr size_t kMaxUrlChars = 1023;
    // Ranges of the arrows beside the refresh period (minutes) and the lookahead (days).
    static constexpr int kRefreshMin = 1;
    static constexpr int kRefreshMax = 1200;
    static constexpr int kLookaheadMin = 1;
    static constexpr int kLookaheadMax = 7;

    // Status texts.
    static constexpr const char* kConnecting = "Connecting..";
    static constexpr const char* kConnectionSuccess = "Connection Success";
    static constexpr const char* kConnectionFailed = "Connection Failed";
    static constexpr const char* kSyncing = "Syncing..";
    static constexpr const char* kSyncSuccess = "Sync Success";
    static constexpr const char* kSyncFailed = "Sync Failed";
    static constexpr const char* kAddressNotExact = "Address has characters this system cannot pass on";
    static constexpr const char* kLookaheadTooLong = "Lookahead is at most 366 days";

    // `host` (may be null) gives the theme and the owner window; `services` must outlive the dialog.
    CalendarSetupDialog(IMInterface* host, ui::ISetupDialogServices* services);
    virtual ~CalendarSetupDialog();
    CalendarSetupDialog(const CalendarSetupDialog&) = delete;
    CalendarSetupDialog& operator=(const CalendarSetupDialog&) = delete;

    // Copy the six values from and back to the device's settings; null is ignored.
    void LoadFrom(const ui::SetupSettings* settings);
    void StoreTo(ui::SetupSettings* settings) const;

    // Where the dialog's top left corner goes when it opens (screen pixels).
    void SetPosition(int x, int y);
    // The dialog window's outer size, measured when the dialog was built; 0 when no window can be made.
    int Width() const { return width_; }
    int Height() const { return height_; }

    // Runs the dialog modally: kDialogOk, kDialogCancel, or kDialogFailed when it cannot be created.
    int Show();

    // One user group of the host, added to the group list (the depth is not shown).
    void OnUserGroup(const char* name, int depth) override;

    // Called by the view: the window exists and shows its controls.
    void OnInitDialog(ui::ISetupDialogView* view);
    // Called by the view: a button was pressed or a pick list changed. True when the command was handled
    // as a button press. Commands that arrive while another one is still running are ignored.
    bool OnCommand(int id, int notification);
    // Called by the view when its window is gone; the presenter no longer touches it.
    void OnDialogEnd();

    // Which colour kind a control (or the dialog itself, id 0) is painted with, or -1 when the toolkit's
    // own colours apply (no theme).
    int ColourKindFor(int id) const;
    const ui::VCThemeHelper& Theme() const { return theme_; }

    // Entries of the pick lists as shown, in order (for views and diagnostics).
    std::vector<std::string> LocationTexts() const;
    std::vector<std::string> GroupTexts() const;

    // Keeps a window of `window`'s size inside `area`: the left edge moves right onto the area, then the
    // right edge moves left onto it; the same for top and bottom. The size never changes.
    static ui::ScreenRect FitOnWorkArea(const ui::ScreenRect& window, const ui::ScreenRect& area);
    // The number of a numeric field: decimal digits with optional surrounding blanks, up to 2147483647;
    // 0 for any other text.
    static int32_t ParseFieldNumber(const std::string& text);
    // The value an up-down control writes into its field when its arrow moves by `delta`: the field's
    // number (the low end when it is no number) brought into the range, then stepped within it.
    static int32_t StepArrow(const std::string& text, int low, int high, int delta);

private:
    struct Entry {
        std::string text;
        int32_t data;
    };

    void FillLocations();
    void FillGroups();
    int AddSorted(int id, std::vector<Entry>& list, const std::string& text, int32_t data);
    static int FindPrefix(const std::vector<Entry>& list, const std::string& prefix);
    void ReadSelectedLocation();
    // False (with the reason shown) when the address cannot be taken exactly; nothing is contacted then.
    bool ReadAddress();
    void TestConnection();
    void SyncGroup();
    void KeepOnScreen();

    IMInterface* host_;
    ui::ISetupDialogServices* services_;
    ui::VCThemeHelper theme_;
    ui::ISetupDialogView* view_ = nullptr;
    int x_ = 0;
    int y_ = 0;
    int height_ = 0;
    int width_ = 0;
    std::string url_;
    int32_t locationId_ = 1;
    int32_t locationIndex_ = -1;
    int32_t refreshPeriod_ = 10;
    bool local_ = true;
    int32_t lookahead_ = 1;
    std::string groupName_;
    std::vector<Entry> locations_;
    std::vector<Entry> groups_;
    bool groupPicked_ = false;  // the user changed the group list's selection since it was filled
    bool busy_ = false;
};
