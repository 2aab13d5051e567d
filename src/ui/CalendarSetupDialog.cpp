#include "ui/CalendarSetupDialog.h"

#include <algorithm>
#include <mutex>

#include "calendar/MCalendarStore.h"
#include "framework/MIDoubleList.h"
#include "server/MCalendarRESTClient.h"
#include "zrk/IKorrelRuntimeInfo.h"
#include "zrk/IThemeManager.h"

namespace ui {
namespace {

std::mutex& FactoryMutex() {
    static std::mutex mutex;
    return mutex;
}
ISetupDialogViewFactory* g_factory = nullptr;

char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The order of the sorted pick lists: by text, without regard to case.
bool LessNoCase(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(FoldCase(x)) < static_cast<unsigned char>(FoldCase(y));
    });
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
    if (prefix.size() > text.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (FoldCase(text[i]) != FoldCase(prefix[i])) return false;
    }
    return true;
}

}  // namespace

void InstallSetupDialogViewFactory(ISetupDialogViewFactory* factory) {
    std::lock_guard<std::mutex> guard(FactoryMutex());
    g_factory = factory;
}

ISetupDialogViewFactory* SetupDialogViewFactory() {
    std::lock_guard<std::mutex> guard(FactoryMutex());
    return g_factory;
}

}  // namespace ui

using ui::ISetupDialogView;
using ui::LessNoCase;
using ui::StartsWithNoCase;

CalendarSetupDialog::CalendarSetupDialog(IMInterface* host, ui::ISetupDialogServices* services)
    : host_(host), services_(services) {
    if (ui::ISetupDialogViewFactory* factory = ui::SetupDialogViewFactory()) {
        if (!factory->MeasureDialog(&width_, &height_)) width_ = height_ = 0;
    }
    if (host_) {
        void* theme = nullptr;
        if (host_->QueryInterface("IThemeManager", &theme) == 0 && theme) {
            theme_.Init(static_cast<IThemeManager*>(theme));
        }
    }
}

CalendarSetupDialog::~CalendarSetupDialog() = default;

void CalendarSetupDialog::LoadFrom(const ui::SetupSettings* settings) {
    if (!settings) return;
    url_ = settings->url;
    locationId_ = settings->locationId;
    refreshPeriod_ = settings->refreshPeriod;
    local_ = settings->local;
    lookahead_ = settings->lookahead;
    groupName_ = settings->groupName;
}

void CalendarSetupDialog::StoreTo(ui::SetupSettings* settings) const {
    if (!settings) return;
    settings->url = url_;
    settings->locationId = locationId_;
    settings->refreshPeriod = refreshPeriod_;
    settings->local = local_;
    settings->lookahead = lookahead_;
    settings->groupName = groupName_;
}

void CalendarSetupDialog::SetPosition(int x, int y) {
    x_ = x;
    y_ = y;
}

int CalendarSetupDialog::Show() {
    ZrkWindowHandle owner = nullptr;
    if (host_) {
        void* info = nullptr;
        if (host_->QueryInterface("IKorrelRuntimeInfo", &info) == 0 && info) {
            owner = static_cast<IKorrelRuntimeInfo*>(info)->GetMainWindow();
        }
    }
    ui::ISetupDialogViewFactory* factory = ui::SetupDialogViewFactory();
    if (!factory) return ui::kDialogFailed;
    return factory->RunModal(this, owner);
}

void CalendarSetupDialog::OnUserGroup(const char* name, int /*depth*/) {
    AddSorted(ui::kIdGroups, groups_, name ? name : "", 0);
}

void CalendarSetupDialog::OnInitDialog(ISetupDialogView* view) {
    view_ = view;
    if (!view_) return;
    view_->SetText(ui::kIdUrl, url_);
    view_->SetText(ui::kIdRefreshPeriod, std::to_string(refreshPeriod_));
    view_->SetText(ui::kIdLookahead, std::to_string(lookahead_));
    view_->SetSpinRange(ui::kIdRefreshSpin, kRefreshMin, kRefreshMax);
    view_->SetSpinRange(ui::kIdLookaheadSpin, kLookaheadMin, kLookaheadMax);
    FillLocations();
    FillGroups();
    view_->MoveTo(x_, y_);
    KeepOnScreen();
}

void CalendarSetupDialog::OnDialogEnd() {
    view_ = nullptr;
}

bool CalendarSetupDialog::OnCommand(int id, int notification) {
    if (!view_) return false;
    // A pick in the group list only marks the choice as the user's, also while a long call runs.
    if (id == ui::kIdGroups) {
        if (notification == ui::kSelectionChanged) groupPicked_ = true;
        return false;
    }
    // A long call pumps the window's events so that its status shows; a second press meanwhile is dropped.
    if (busy_) return false;
    busy_ = true;
    bool handled = true;
    switch (id) {
        case ui::kIdOk: {
            refreshPeriod_ = ParseFieldNumber(view_->GetText(ui::kIdRefreshPeriod, 64));
            // A window the server would refuse fails every refresh, silently: the dialog stays open.
            const int32_t lookahead = ParseFieldNumber(view_->GetText(ui::kIdLookahead, 64));
            static_assert(MCalendarRESTClient::kMaxLookaheadDays == 366, "the status text names the limit");
            if (lookahead > MCalendarRESTClient::kMaxLookaheadDays) {
                view_->SetStatus(kLookaheadTooLong);
                break;
            }
            lookahead_ = lookahead;
            // An address that cannot be kept exactly would reach another host: the dialog stays open.
            if (!view_->GetExactText(ui::kIdUrl, kMaxUrlChars, &url_)) {
                view_->SetStatus(kAddressNotExact);
                break;
            }
            // The layout has no "Local" check box: the loaded value is kept.
            // With no location listed (the server never answered here) the device keeps its own.
            if (!locations_.empty()) ReadSelectedLocation();
            // "Sync DB" mirrors the group the user picked here; the list's own choice on opening (the first
            // entry, or the first that begins with the stored name) is no choice of the user's.
            const int group = view_->ComboSelection(ui::kIdGroups);
            if (groupPicked_ && group >= 0 && group < static_cast<int>(groups_.size())) {
                groupName_ = groups_[group].text;
            }
            view_->EndDialog(ui::kDialogOk);
            break;
        }
        case ui::kIdCancel:
            view_->EndDialog(ui::kDialogCancel);
            break;
        case ui::kIdLocations:
            if (notification == ui::kSelectionChanged) ReadSelectedLocation();
            handled = false;
            break;
        case ui::kIdVerify:
            TestConnection();
            break;
        case ui::kIdSync:
            SyncGroup();
            break;
        default:
            handled = false;
            break;
    }
    busy_ = false;
    return handled;
}

int CalendarSetupDialog::ColourKindFor(int id) const {
    if (!theme_.IsReady()) return -1;
    return id == ui::kIdBand ? ui::kColourKindBand : ui::kColourKindDialog;
}

std::vector<std::string> CalendarSetupDialog::LocationTexts() const {
    std::vector<std::string> texts;
    for (const Entry& e : locations_) texts.push_back(e.text);
    return texts;
}

std::vector<std::string> CalendarSetupDialog::GroupTexts() const {
    std::vector<std::string> texts;
    for (const Entry& e : groups_) texts.push_back(e.text);
    return texts;
}

ui::ScreenRect CalendarSetupDialog::FitOnWorkArea(const ui::ScreenRect& window, const ui::ScreenRect& area) {
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    int left = window.left;
    int top = window.top;
    if (left < area.left) left = area.left;
    if (left + width > area.right) left = area.right - width;
    if (top < area.top) top = area.top;
    if (top + height > area.bottom) top = area.bottom - height;
    return ui::ScreenRect{left, top, left + width, top + height};
}

int32_t CalendarSetupDialog::ParseFieldNumber(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    const size_t digitsStart = i;
    int64_t value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        value = value * 10 + (text[i] - '0');
        // Larger numbers would turn negative in the device's signed settings.
        if (value > INT32_MAX) return 0;
        ++i;
    }
    if (i == digitsStart) return 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    return i == text.size() ? static_cast<int32_t>(value) : 0;
}

int32_t CalendarSetupDialog::StepArrow(const std::string& text, int low, int high, int delta) {
    if (high < low) std::swap(low, high);
    const bool isNumber =
        !text.empty() && (ParseFieldNumber(text) != 0 || text.find('0') != std::string::npos);
    int64_t value = isNumber ? ParseFieldNumber(text) : low;
    value = std::min<int64_t>(std::max<int64_t>(value, low), high);
    value = std::min<int64_t>(std::max<int64_t>(value + delta, low), high);
    return static_cast<int32_t>(value);
}

void CalendarSetupDialog::FillLocations() {
    locations_.clear();
    if (view_) view_->ComboReset(ui::kIdLocations);
    MCalendarStore* store = services_ ? services_->Store() : nullptr;
    if (store) {
        auto access = store->AccessLocations();
        if (access.get()) {
            MIDoubleListIterator<MCalendarLocation> it(access.get());
            for (MCalendarLocation* location = it.Current(); location; location = it.Next()) {
                AddSorted(ui::kIdLocations, locations_, location->name, location->location_id);
            }
        }
    }
    int selected = locations_.empty() ? -1 : 0;
    for (size_t i = 0; i < locations_.size(); ++i) {
        if (locations_[i].data == locationId_) {
            selected = static_cast<int>(i);
            break;
        }
    }
    if (view_) view_->ComboSelect(ui::kIdLocations, selected);
}

void CalendarSetupDialog::FillGroups() {
    groups_.clear();
    groupPicked_ = false;
    if (view_) view_->ComboReset(ui::kIdGroups);
    if (services_) services_->EnumerateUserGroups(this);
    int selected = FindPrefix(groups_, groupName_);
    if (selected < 0 && !groups_.empty()) selected = 0;
    if (view_) view_->ComboSelect(ui::kIdGroups, selected);
}

int CalendarSetupDialog::AddSorted(int id, std::vector<Entry>& list, const std::string& text, int32_t data) {
    // After every entry that sorts at or before it, as a sorted list box adds.
    auto at = std::upper_bound(list.begin(), list.end(), text,
                               [](const std::string& t, const Entry& e) { return LessNoCase(t, e.text); });
    const int index = static_cast<int>(at - list.begin());
    list.insert(at, Entry{text, data});
    if (view_) view_->ComboInsert(id, index, text);
    return index;
}

int CalendarSetupDialog::FindPrefix(const std::vector<Entry>& list, const std::string& prefix) {
    for (size_t i = 0; i < list.size(); ++i) {
        if (StartsWithNoCase(list[i].text, prefix)) return static_cast<int>(i);
    }
    return -1;
}

void CalendarSetupDialog::ReadSelectedLocation() {
    const int index = view_ ? view_->ComboSelection(ui::kIdLocations) : -1;
    if (index >= 0 && index < static_cast<int>(locations_.size())) {
        locationIndex_ = index;
        locationId_ = locations_[index].data;
    } else {
        locationIndex_ = -1;
        locationId_ = -1;
    }
}

bool CalendarSetupDialog::ReadAddress() {
    if (!view_->GetExactText(ui::kIdUrl, kMaxUrlChars, &url_)) {
        view_->SetStatus(kAddressNotExact);
        return false;
    }
    if (services_) services_->SetServerURL(url_);
    return true;
}

void CalendarSetupDialog::TestConnection() {
    if (!ReadAddress()) return;
    view_->SetStatus(kConnecting);
    const bool ok = services_ && services_->TestConnection();
    FillLocations();
    view_->SetStatus(ok ? kConnectionSuccess : kConnectionFailed);
}

void CalendarSetupDialog::SyncGroup() {
    const int group = view_->ComboSelection(ui::kIdGroups);
    view_->SetStatus(kSyncing);
    bool ok = false;
    if (group >= 0 && group < static_cast<int>(groups_.size()) && !groups_[group].text.empty()) {
        const std::string name = groups_[group].text;
        const int index = view_->ComboSelection(ui::kIdLocations);
        int32_t location =
            (index >= 0 && index < static_cast<int>(locations_.size())) ? locations_[index].data : -1;
        if (location < 0 && locationId_ >= 0) location = locationId_;
        if (!ReadAddress()) return;
        ok = services_ && services_->SyncGroup(name, location);
    }
    view_->SetStatus(ok ? kSyncSuccess : kSyncFailed);
}

void CalendarSetupDialog::KeepOnScreen() {
    ui::ScreenRect window, area;
    if (!view_->GetWorkArea(&area) || !view_->GetWindowRect(&window)) return;
    const ui::ScreenRect fitted = FitOnWorkArea(window, area);
    if (fitted.left != window.left || fitted.top != window.top) view_->MoveTo(fitted.left, fitted.top);
}
