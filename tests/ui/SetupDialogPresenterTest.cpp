// The setup dialog's rules, driven through a view in memory and services that record what they are asked.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "FakeSetupView.h"
#include "calendar/MCalendarStore.h"
#include "ui/CalendarSetupDialog.h"
#include "zrk/IKorrelRuntimeInfo.h"
#include "zrk/IThemeManager.h"

namespace {

using ui::SetupSettings;
using ui_test::FakeSetupView;

CalendarLocationList* Locations(std::vector<std::pair<int, std::string>> entries) {
    auto* list = new CalendarLocationList();
    for (auto& e : entries) {
        auto* location = new MCalendarLocation();
        location->location_id = e.first;
        location->name = e.second;
        list->Add(location);
    }
    return list;
}

class FakeServices : public ui::ISetupDialogServices {
public:
    MCalendarStore* Store() override { return &store; }
    void SetServerURL(const std::string& url) override { urls.push_back(url); }
    bool TestConnection() override {
        ++tests;
        if (duringTest) duringTest();
        if (answer && !nextLocations.empty()) store.SetLocations(Locations(nextLocations));
        return answer;
    }
    void EnumerateUserGroups(CalendarSetupDialog* dialog) override {
        for (const auto& g : groups) dialog->OnUserGroup(g.c_str(), 1);
    }
    bool SyncGroup(const std::string& group, int32_t location) override {
        syncs.push_back({group, location});
        return syncAnswer;
    }

    MCalendarStore store;
    std::vector<std::string> urls;
    int tests = 0;
    bool answer = true;
    std::vector<std::pair<int, std::string>> nextLocations;
    std::function<void()> duringTest;
    std::vector<std::string> groups;
    std::vector<std::pair<std::string, int32_t>> syncs;
    bool syncAnswer = true;
};

SetupSettings DeviceSettings() {
    SetupSettings s;
    s.url = "http://127.0.0.1:9256";
    s.locationId = 1;
    s.refreshPeriod = 10;
    s.local = true;
    s.lookahead = 1;
    s.groupName = "";
    return s;
}

class SetupDialogTest : public ::testing::Test {
protected:
    // Opens the dialog on the fake view with the device's settings loaded.
    void Open(const SetupSettings& settings) {
        dialog.LoadFrom(&settings);
        dialog.OnInitDialog(&view);
    }

    FakeServices services;
    FakeSetupView view;
    CalendarSetupDialog dialog{nullptr, &services};
};

TEST_F(SetupDialogTest, InitShowsTheSettingsAndTheArrowRanges) {
    SetupSettings s = DeviceSettings();
    s.url = "http://calendar.local:81";
    s.refreshPeriod = 30;
    s.lookahead = 3;
    Open(s);
    EXPECT_EQ(view.texts[ui::kIdUrl], "http://calendar.local:81");
    EXPECT_EQ(view.texts[ui::kIdRefreshPeriod], "30");
    EXPECT_EQ(view.texts[ui::kIdLookahead], "3");
    EXPECT_EQ(view.ranges[ui::kIdRefreshSpin], std::make_pair(1, 1200));
    EXPECT_EQ(view.ranges[ui::kIdLookaheadSpin], std::make_pair(1, 7));
    EXPECT_TRUE(view.statuses.empty());
}

TEST_F(SetupDialogTest, LocationsAreSortedAndTheDevicesLocationSelected) {
    services.store.SetLocations(Locations({{1, "Zeta"}, {2, "Alpha"}, {3, "Mid"}}));
    Open(DeviceSettings());
    EXPECT_EQ(view.combos[ui::kIdLocations], (std::vector<std::string>{"Alpha", "Mid", "Zeta"}));
    EXPECT_EQ(view.Selected(ui::kIdLocations), "Zeta");

    // OK without touching the list keeps the location.
    dialog.OnCommand(ui::kIdOk, 0);
    SetupSettings out;
    dialog.StoreTo(&out);
    EXPECT_EQ(out.locationId, 1);
}

TEST_F(SetupDialogTest, SortingIgnoresCaseAndKeepsTheOrderOfEqualNames) {
    services.store.SetLocations(Locations({{1, "beta"}, {2, "Alpha"}, {3, "BETA"}, {4, "alpha2"}}));
    SetupSettings s = DeviceSettings();
    s.locationId = 3;
    Open(s);
    EXPECT_EQ(view.combos[ui::kIdLocations], (std::vector<std::string>{"Alpha", "alpha2", "beta", "BETA"}));
    EXPECT_EQ(view.ComboSelection(ui::kIdLocations), 3);
}

TEST_F(SetupDialogTest, UnlistedLocationSelectsTheFirstEntryAlphabetically) {
    services.store.SetLocations(Locations({{1, "Zeta"}, {2, "Alpha"}, {3, "Mid"}}));
    SetupSettings s = DeviceSettings();
    s.locationId = 42;
    Open(s);
    EXPECT_EQ(view.Selected(ui::kIdLocations), "Alpha");
    dialog.OnCommand(ui::kIdOk, 0);
    SetupSettings out;
    dialog.StoreTo(&out);
    EXPECT_EQ(out.locationId, 2);
}

TEST_F(SetupDialogTest, OkWithNoLocationsKeepsTheDevicesLocation) {
    SetupSettings s = DeviceSettings();
    s.locationId = 5;
    services.answer = false;
    Open(s);
    dialog.OnCommand(ui::kIdVerify, 0);  // the server does not answer: still nothing listed
    EXPECT_TRUE(view.combos[ui::kIdLocations].empty());
    EXPECT_TRUE(dialog.OnCommand(ui::kIdOk, 0));
    EXPECT_EQ(view.ended, std::vector<int>{ui::kDialogOk});
    SetupSettings out = DeviceSettings();
    dialog.StoreTo(&out);
    EXPECT_EQ(out.locationId, 5);
}

TEST_F(SetupDialogTest, OkStoresTypedValuesAsTyped) {
    services.store.SetLocations(Locations({{1, "Zeta"}, {2, "Alpha"}}));
    Open(DeviceSettings());
    view.texts[ui::kIdRefreshPeriod] = "5000";
    view.texts[ui::kIdLookahead] = " 9 ";
    view.texts[ui::kIdUrl] = "http://10.1.2.3:7000";
    ASSERT_TRUE(view.Pick(ui::kIdLocations, "Alpha"));
    dialog.OnCommand(ui::kIdOk, 0);

    SetupSettings out = DeviceSettings();
    dialog.StoreTo(&out);
    EXPECT_EQ(out.refreshPeriod, 5000);
    EXPECT_EQ(out.lookahead, 9);
    EXPECT_EQ(out.url, "http://10.1.2.3:7000");
    EXPECT_EQ(out.locationId, 2);
    // The layout has no "Local" box: the device's value stays.
    EXPECT_TRUE(out.local);
    SetupSettings notLocal = DeviceSettings();
    notLocal.local = false;
    CalendarSetupDialog second(nullptr, &services);
    second.LoadFrom(&notLocal);
    FakeSetupView view2;
    second.OnInitDialog(&view2);
    second.OnCommand(ui::kIdOk, 0);
    second.StoreTo(&out);
    EXPECT_FALSE(out.local);
}

// The server serves no window much longer than a year: a longer look-ahead would fail every refresh.
TEST_F(SetupDialogTest, ALookaheadAboveAYearIsRefusedAndTheDialogStaysOpen) {
    Open(DeviceSettings());
    view.texts[ui::kIdLookahead] = "367";
    dialog.OnCommand(ui::kIdOk, 0);
    EXPECT_TRUE(view.ended.empty());
    EXPECT_EQ(view.statuses.back(), CalendarSetupDialog::kLookaheadTooLong);
    view.texts[ui::kIdLookahead] = "366";
    dialog.OnCommand(ui::kIdOk, 0);
    EXPECT_EQ(view.ended, std::vector<int>{ui::kDialogOk});
    SetupSettings out = DeviceSettings();
    dialog.StoreTo(&out);
    EXPECT_EQ(out.lookahead, 366);
}

TEST_F(SetupDialogTest, NumbersOfTheFieldsAreReadStrictly) {
    EXPECT_EQ(CalendarSetupDialog::ParseFieldNumber("5000"), 5000);
    EXPECT_EQ(CalendarSetupDialog::ParseFieldNumber("  12\t"), 12);
    EXPECT_EQ(CalendarSetupDialog::ParseFieldNumber("0"), 0);
    EXPECT_EQ(CalendarSetupDialog::ParseFieldNumber("2147483647"), 2147483647);
    EXPECT_EQ(CalendarSetupDialog::ParseFieldNumber("2147483648"), 0);
    EXPECT_EQ(CalendarSetupDialog::ParseFieldNumber("99999999999999999999999"), 0);
    EXPECT_EQ(CalendarSetupDialog::ParseFieldNumber(""), 0);
    EXPECT_EQ(CalendarSetupDialog::ParseFieldNumber("ten"), 0);
    EXPECT_EQ(CalendarSetupDialog::ParseFieldNumber("12abc"), 0);
    EXPECT_EQ(CalendarSetupDialog::ParseFieldNumber("-5"), 0);
    EXPECT_EQ(CalendarSetupDialog::ParseFieldNumber("1 2"), 0);
    EXPECT_EQ(CalendarSetupDialog::ParseFieldNumber(std::string("7\0", 2)), 0);

    Open(DeviceSettings());
    view.texts[ui::kIdRefreshPeriod] = "soon";
    dialog.OnCommand(ui::kIdOk, 0);
    SetupSettings out = DeviceSettings();
    dialog.StoreTo(&out);
    EXPECT_EQ(out.refreshPeriod, 0);
}

TEST_F(SetupDialogTest, AddressIsReadUpTo1023Characters) {
    Open(DeviceSettings());
    view.texts[ui::kIdUrl] = std::string(1500, 'a');
    dialog.OnCommand(ui::kIdVerify, 0);
    ASSERT_EQ(services.urls.size(), 1u);
    EXPECT_EQ(services.urls[0].size(), 1023u);
}

TEST_F(SetupDialogTest, ConnectionTestRefillsTheLocationsAndReportsSuccess) {
    Open(DeviceSettings());
    view.texts[ui::kIdUrl] = "http://127.0.0.1:5555";
    services.nextLocations = {{7, "Stage"}, {1, "Foyer"}};
    std::vector<std::string> statusesDuringTest;
    services.duringTest = [&] { statusesDuringTest = view.statuses; };

    EXPECT_TRUE(dialog.OnCommand(ui::kIdVerify, 0));
    EXPECT_EQ(services.urls, std::vector<std::string>{"http://127.0.0.1:5555"});
    EXPECT_EQ(statusesDuringTest, std::vector<std::string>{"Connecting.."});
    EXPECT_EQ(view.statuses, (std::vector<std::string>{"Connecting..", "Connection Success"}));
    EXPECT_EQ(view.combos[ui::kIdLocations], (std::vector<std::string>{"Foyer", "Stage"}));
    EXPECT_EQ(view.Selected(ui::kIdLocations), "Foyer");
    EXPECT_TRUE(view.ended.empty());
}

TEST_F(SetupDialogTest, FailedConnectionTestRefillsFromTheUnchangedStore) {
    services.store.SetLocations(Locations({{1, "Zeta"}, {2, "Alpha"}}));
    Open(DeviceSettings());
    ASSERT_TRUE(view.Pick(ui::kIdLocations, "Alpha"));
    services.answer = false;
    dialog.OnCommand(ui::kIdVerify, 0);
    EXPECT_EQ(view.statuses.back(), "Connection Failed");
    EXPECT_EQ(view.combos[ui::kIdLocations], (std::vector<std::string>{"Alpha", "Zeta"}));
    // The refill selects the dialog's location again (the pick was not yet taken by OK or a change).
    EXPECT_EQ(view.Selected(ui::kIdLocations), "Zeta");
}

TEST_F(SetupDialogTest, CancelAfterAConnectionTestLeavesTheSettings) {
    services.store.SetLocations(Locations({{1, "Zeta"}, {2, "Alpha"}}));
    Open(DeviceSettings());
    view.texts[ui::kIdUrl] = "http://127.0.0.1:6000";
    view.texts[ui::kIdRefreshPeriod] = "99";
    dialog.OnCommand(ui::kIdVerify, 0);
    ASSERT_TRUE(view.Pick(ui::kIdLocations, "Alpha"));
    dialog.OnCommand(ui::kIdLocations, ui::kSelectionChanged);
    EXPECT_TRUE(dialog.OnCommand(ui::kIdCancel, 0));
    EXPECT_EQ(view.ended, std::vector<int>{ui::kDialogCancel});

    // The device stores nothing on Cancel; the module's client keeps the tested address.
    SetupSettings device = DeviceSettings();
    EXPECT_EQ(device.url, "http://127.0.0.1:9256");
    EXPECT_EQ(services.urls, std::vector<std::string>{"http://127.0.0.1:6000"});
}

TEST_F(SetupDialogTest, SelectionChangeIsTakenAtOnceAndOtherCommandsAreNotHandled) {
    services.store.SetLocations(Locations({{1, "Zeta"}, {2, "Alpha"}, {3, "Mid"}}));
    services.groups = {"Stage"};
    Open(DeviceSettings());
    ASSERT_TRUE(view.Pick(ui::kIdLocations, "Mid"));
    EXPECT_FALSE(dialog.OnCommand(ui::kIdLocations, 0));  // not a selection change: ignored
    dialog.OnCommand(ui::kIdSync, 0);
    ASSERT_EQ(services.syncs.size(), 1u);
    EXPECT_EQ(services.syncs[0].second, 3);  // the pick is what the view shows, whatever the dialog's field

    EXPECT_FALSE(dialog.OnCommand(ui::kIdLocations, ui::kSelectionChanged));
    EXPECT_FALSE(dialog.OnCommand(4711, 0));
    view.combos[ui::kIdLocations].clear();
    view.selections[ui::kIdLocations] = -1;
    dialog.OnCommand(ui::kIdSync, 0);
    ASSERT_EQ(services.syncs.size(), 2u);
    EXPECT_EQ(services.syncs[1].second, 3);  // the changed selection became the dialog's location
}

TEST_F(SetupDialogTest, SyncWithoutASelectedLocationUsesTheDialogsLocation) {
    services.groups = {"Stage", "Bar"};
    SetupSettings s = DeviceSettings();
    s.locationId = 5;
    s.groupName = "st";
    Open(s);  // no locations at all: nothing selected
    view.texts[ui::kIdUrl] = "http://127.0.0.1:7001";
    EXPECT_TRUE(dialog.OnCommand(ui::kIdSync, 0));
    ASSERT_EQ(services.syncs.size(), 1u);
    EXPECT_EQ(services.syncs[0], std::make_pair(std::string("Stage"), 5));
    EXPECT_EQ(services.urls, std::vector<std::string>{"http://127.0.0.1:7001"});
    EXPECT_EQ(view.statuses, (std::vector<std::string>{"Syncing..", "Sync Success"}));

    // A negative location of the dialog is not used in place of the missing selection.
    CalendarSetupDialog second(nullptr, &services);
    SetupSettings none = DeviceSettings();
    none.locationId = -1;
    second.LoadFrom(&none);
    FakeSetupView view2;
    second.OnInitDialog(&view2);
    second.OnCommand(ui::kIdSync, 0);
    ASSERT_EQ(services.syncs.size(), 2u);
    EXPECT_EQ(services.syncs[1].second, -1);
}

TEST_F(SetupDialogTest, SyncWithoutAGroupFailsAndSendsNothing) {
    Open(DeviceSettings());
    EXPECT_EQ(view.ComboSelection(ui::kIdGroups), -1);
    EXPECT_TRUE(dialog.OnCommand(ui::kIdSync, 0));
    EXPECT_TRUE(services.syncs.empty());
    EXPECT_TRUE(services.urls.empty());
    EXPECT_EQ(view.statuses, (std::vector<std::string>{"Syncing..", "Sync Failed"}));

    // A group with an empty name counts as none.
    services.groups = {""};
    CalendarSetupDialog second(nullptr, &services);
    FakeSetupView view2;
    second.OnInitDialog(&view2);
    EXPECT_EQ(view2.ComboSelection(ui::kIdGroups), 0);
    second.OnCommand(ui::kIdSync, 0);
    EXPECT_TRUE(services.syncs.empty());
    EXPECT_EQ(view2.statuses.back(), "Sync Failed");
}

TEST_F(SetupDialogTest, FailedSyncIsReported) {
    services.groups = {"Stage"};
    services.syncAnswer = false;
    Open(DeviceSettings());
    dialog.OnCommand(ui::kIdSync, 0);
    EXPECT_EQ(services.syncs.size(), 1u);
    EXPECT_EQ(view.statuses.back(), "Sync Failed");
}

TEST_F(SetupDialogTest, AddressTheCodePageCannotHoldIsRefusedAndNothingIsContacted) {
    services.groups = {"Stage"};
    Open(DeviceSettings());
    view.inexact.insert(ui::kIdUrl);
    const std::string refused = CalendarSetupDialog::kAddressNotExact;
    for (int command : {ui::kIdVerify, ui::kIdSync, ui::kIdOk}) {
        view.statuses.clear();
        dialog.OnCommand(command, 0);
        EXPECT_EQ(view.statuses.back(), refused) << command;
    }
    EXPECT_TRUE(services.urls.empty());
    EXPECT_EQ(services.tests, 0);
    EXPECT_TRUE(services.syncs.empty());
    EXPECT_TRUE(view.ended.empty());
}

TEST_F(SetupDialogTest, GroupListIsSortedAndSelectedByPrefixWithoutCase) {
    services.groups = {"Stage", "bar", "Lights", "STAGE B"};
    SetupSettings s = DeviceSettings();
    s.groupName = "stage b";
    Open(s);
    EXPECT_EQ(view.combos[ui::kIdGroups], (std::vector<std::string>{"bar", "Lights", "Stage", "STAGE B"}));
    EXPECT_EQ(view.Selected(ui::kIdGroups), "STAGE B");

    FakeSetupView emptyName, unknownName;
    CalendarSetupDialog a(nullptr, &services), b(nullptr, &services);
    a.OnInitDialog(&emptyName);
    EXPECT_EQ(emptyName.Selected(ui::kIdGroups), "bar");
    SetupSettings unknown = DeviceSettings();
    unknown.groupName = "Orchestra";
    b.LoadFrom(&unknown);
    b.OnInitDialog(&unknownName);
    EXPECT_EQ(unknownName.Selected(ui::kIdGroups), "bar");
}

TEST_F(SetupDialogTest, OkStoresOnlyAGroupTheUserPickedAndKeepsTheNameOtherwise) {
    services.groups = {"Stage", "Bar"};
    SetupSettings s = DeviceSettings();
    s.groupName = "Stage";
    Open(s);
    ASSERT_TRUE(view.Pick(ui::kIdGroups, "Bar"));
    EXPECT_FALSE(dialog.OnCommand(ui::kIdGroups, ui::kSelectionChanged));
    dialog.OnCommand(ui::kIdOk, 0);
    SetupSettings out = DeviceSettings();
    dialog.StoreTo(&out);
    EXPECT_EQ(out.groupName, "Bar");

    // The list's own choice on opening (the first entry, or the first that begins with the stored name) is
    // not stored.
    const std::pair<const char*, const char*> opened[] = {
        {"", "Bar"}, {"Orchestra", "Bar"}, {"sta", "Stage"}};
    for (const auto& loaded : opened) {
        CalendarSetupDialog automatic(nullptr, &services);
        SetupSettings a = DeviceSettings();
        a.groupName = loaded.first;
        automatic.LoadFrom(&a);
        FakeSetupView automaticView;
        automatic.OnInitDialog(&automaticView);
        ASSERT_EQ(automaticView.Selected(ui::kIdGroups), loaded.second);
        automatic.OnCommand(ui::kIdOk, 0);
        automatic.StoreTo(&a);
        EXPECT_EQ(a.groupName, loaded.first);
    }

    services.groups.clear();
    CalendarSetupDialog second(nullptr, &services);
    second.LoadFrom(&s);
    FakeSetupView view2;
    second.OnInitDialog(&view2);
    second.OnCommand(ui::kIdOk, 0);
    second.StoreTo(&out);
    EXPECT_EQ(out.groupName, "Stage");
}

TEST_F(SetupDialogTest, NullArgumentsAndNullGroupNamesAreHarmless) {
    dialog.LoadFrom(nullptr);
    dialog.StoreTo(nullptr);
    EXPECT_FALSE(dialog.OnCommand(ui::kIdOk, 0));  // no view yet
    dialog.OnUserGroup(nullptr, 0);
    EXPECT_EQ(dialog.GroupTexts(), std::vector<std::string>{""});

    CalendarSetupDialog bare(nullptr, nullptr);
    FakeSetupView v;
    bare.OnInitDialog(&v);
    bare.OnCommand(ui::kIdVerify, 0);
    EXPECT_EQ(v.statuses.back(), "Connection Failed");
    bare.OnCommand(ui::kIdOk, 0);
    EXPECT_EQ(v.ended, std::vector<int>{ui::kDialogOk});
}

TEST_F(SetupDialogTest, CommandsDuringALongCallAreDropped) {
    services.store.SetLocations(Locations({{1, "Zeta"}}));
    Open(DeviceSettings());
    bool nested = true;
    services.duringTest = [&] {
        nested = dialog.OnCommand(ui::kIdOk, 0) || dialog.OnCommand(ui::kIdVerify, 0);
    };
    dialog.OnCommand(ui::kIdVerify, 0);
    EXPECT_FALSE(nested);
    EXPECT_EQ(services.tests, 1);
    EXPECT_TRUE(view.ended.empty());
    // Afterwards the dialog answers again.
    EXPECT_TRUE(dialog.OnCommand(ui::kIdCancel, 0));
}

TEST_F(SetupDialogTest, DialogEndDetachesTheView) {
    Open(DeviceSettings());
    dialog.OnDialogEnd();
    EXPECT_FALSE(dialog.OnCommand(ui::kIdCancel, 0));
    EXPECT_TRUE(view.ended.empty());
}

// --- placement ---

TEST(SetupDialogPlacement, MovesToThePositionAndStaysOnTheWorkArea) {
    FakeServices services;
    CalendarSetupDialog dialog(nullptr, &services);
    FakeSetupView view;
    view.workArea = {0, 0, 1280, 800};
    dialog.SetPosition(1200, -20);
    dialog.OnInitDialog(&view);
    ASSERT_FALSE(view.moves.empty());
    EXPECT_EQ(view.moves.front(), std::make_pair(1200, -20));
    EXPECT_EQ(view.window.left, 880);  // right edge on the area's right edge
    EXPECT_EQ(view.window.top, 0);
    EXPECT_EQ(view.window.right - view.window.left, 400);

    // Without a work area the dialog stays where it was put.
    CalendarSetupDialog second(nullptr, &services);
    FakeSetupView free;
    free.hasWorkArea = false;
    second.SetPosition(-50, 5000);
    second.OnInitDialog(&free);
    EXPECT_EQ(free.moves.size(), 1u);
    EXPECT_EQ(free.window.left, -50);
}

TEST(SetupDialogPlacement, FitOnWorkAreaEdges) {
    using R = ui::ScreenRect;
    const R area{100, 50, 1100, 850};
    auto fit = [&](R w) { return CalendarSetupDialog::FitOnWorkArea(w, area); };
    R inside = fit({200, 100, 600, 400});
    EXPECT_EQ(inside.left, 200);
    EXPECT_EQ(inside.top, 100);
    R leftTop = fit({0, 0, 400, 300});
    EXPECT_EQ(leftTop.left, 100);
    EXPECT_EQ(leftTop.top, 50);
    R rightBottom = fit({900, 700, 1300, 1000});
    EXPECT_EQ(rightBottom.left, 700);
    EXPECT_EQ(rightBottom.bottom, 850);
    EXPECT_EQ(rightBottom.right - rightBottom.left, 400);
    // Wider than the area: the right edges coincide, the size stays.
    R wide = fit({0, 60, 1200, 160});
    EXPECT_EQ(wide.right, 1100);
    EXPECT_EQ(wide.left, -100);
}

// --- host, theme and the view factory ---

class PresenterTheme : public IThemeManager {
public:
    int ZRK_CALL QueryInterface(const char*, void**) override { return kZrkUnknownInterface; }
    int ZRK_CALL Release() override { return 0; }
    ZrkColour ZRK_CALL GetColour(int index) override { return 0x010101u * static_cast<unsigned>(index); }
};

class RuntimeInfo : public IKorrelRuntimeInfo {
public:
    int ZRK_CALL QueryInterface(const char*, void**) override { return kZrkUnknownInterface; }
    int ZRK_CALL Release() override { return 0; }
    ZrkWindowHandle ZRK_CALL GetMainWindow() override { return window; }
    ZrkWindowHandle window = nullptr;
};

class Host : public IMInterface {
public:
    int ZRK_CALL QueryInterface(const char* name, void** out) override {
        if (!name || !out) return kZrkNullArgument;
        *out = nullptr;
        if (withTheme && std::strcmp(name, "IThemeManager") == 0) *out = static_cast<IThemeManager*>(&theme);
        if (withInfo && std::strcmp(name, "IKorrelRuntimeInfo") == 0) {
            *out = static_cast<IKorrelRuntimeInfo*>(&info);
        }
        return *out ? 0 : kZrkUnknownInterface;
    }
    int ZRK_CALL Release() override { return 0; }
    bool withTheme = true;
    bool withInfo = true;
    PresenterTheme theme;
    RuntimeInfo info;
};

class Factory : public ui::ISetupDialogViewFactory {
public:
    bool MeasureDialog(int* width, int* height) override {
        *width = 480;
        *height = 320;
        return measurable;
    }
    int RunModal(CalendarSetupDialog* presenter, ZrkWindowHandle owner) override {
        owners.push_back(owner);
        presenter->OnInitDialog(&view);
        presenter->OnCommand(ui::kIdCancel, 0);
        presenter->OnDialogEnd();
        return view.ended.empty() ? ui::kDialogFailed : view.ended.back();
    }
    bool measurable = true;
    std::vector<ZrkWindowHandle> owners;
    FakeSetupView view;
};

struct FactoryInstalled {
    explicit FactoryInstalled(ui::ISetupDialogViewFactory* f) { ui::InstallSetupDialogViewFactory(f); }
    ~FactoryInstalled() { ui::InstallSetupDialogViewFactory(nullptr); }
};

TEST(SetupDialogHost, ThemeDecidesTheColoursOfControls) {
    Host host;
    CalendarSetupDialog themed(&host, nullptr);
    EXPECT_TRUE(themed.Theme().IsReady());
    EXPECT_EQ(themed.ColourKindFor(ui::kIdBand), ui::kColourKindBand);
    EXPECT_EQ(themed.ColourKindFor(0), ui::kColourKindDialog);
    EXPECT_EQ(themed.ColourKindFor(ui::kIdStatus), ui::kColourKindDialog);

    host.withTheme = false;
    CalendarSetupDialog plain(&host, nullptr);
    EXPECT_FALSE(plain.Theme().IsReady());
    EXPECT_EQ(plain.ColourKindFor(ui::kIdBand), -1);
    EXPECT_EQ(plain.ColourKindFor(0), -1);
}

TEST(SetupDialogHost, ShowWithoutAViewFailsAndMeasuresNothing) {
    CalendarSetupDialog dialog(nullptr, nullptr);
    EXPECT_EQ(dialog.Width(), 0);
    EXPECT_EQ(dialog.Height(), 0);
    EXPECT_EQ(dialog.Show(), ui::kDialogFailed);
}

TEST(SetupDialogHost, ShowRunsTheViewOverTheHostsMainWindow) {
    Factory factory;
    FactoryInstalled installed(&factory);
    Host host;
    host.info.window = reinterpret_cast<ZrkWindowHandle>(0x1234);
    CalendarSetupDialog dialog(&host, nullptr);
    EXPECT_EQ(dialog.Width(), 480);
    EXPECT_EQ(dialog.Height(), 320);
    EXPECT_EQ(dialog.Show(), ui::kDialogCancel);
    host.withInfo = false;
    EXPECT_EQ(dialog.Show(), ui::kDialogCancel);
    EXPECT_EQ(factory.owners, (std::vector<ZrkWindowHandle>{host.info.window, nullptr}));

    factory.measurable = false;
    CalendarSetupDialog unmeasured(&host, nullptr);
    EXPECT_EQ(unmeasured.Width(), 0);
    EXPECT_EQ(unmeasured.Height(), 0);
}

}  // namespace

namespace {

TEST(SetupDialogArrows, StepWithinTheRangeWhateverWasTyped) {
    EXPECT_EQ(CalendarSetupDialog::StepArrow("10", 1, 1200, 1), 11);
    EXPECT_EQ(CalendarSetupDialog::StepArrow("10", 1, 1200, -1), 9);
    EXPECT_EQ(CalendarSetupDialog::StepArrow("1200", 1, 1200, 1), 1200);
    EXPECT_EQ(CalendarSetupDialog::StepArrow("1", 1, 1200, -1), 1);
    EXPECT_EQ(CalendarSetupDialog::StepArrow("5000", 1, 1200, 1), 1200);
    EXPECT_EQ(CalendarSetupDialog::StepArrow("5000", 1, 1200, -1), 1199);
    EXPECT_EQ(CalendarSetupDialog::StepArrow("0", 1, 7, 1), 2);
    EXPECT_EQ(CalendarSetupDialog::StepArrow("", 1, 7, 1), 2);
    EXPECT_EQ(CalendarSetupDialog::StepArrow("days", 1, 7, -1), 1);
    EXPECT_EQ(CalendarSetupDialog::StepArrow("7", 7, 1, 1), 7);
}

}  // namespace
