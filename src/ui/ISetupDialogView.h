// What the setup dialog's presenter needs of a window on screen. The presenter (CalendarSetupDialog) holds
// every rule of the dialog; a view only shows and reports. Views: the GTK one on POSIX, a fake in the tests.
#pragma once

#include <string>

#include "zrk/ZrkHandles.h"

class CalendarSetupDialog;

namespace ui {

// Control ids of the dialog layout (dialog resource 101).
enum SetupControl : int {
    kIdOk = 1,
    kIdCancel = 2,
    kIdRefreshPeriod = 1001,
    kIdLocations = 1002,
    kIdLocal = 1003,  // not in the layout: the dialog has no such check box
    kIdGroups = 1004,
    kIdUrl = 1006,
    kIdVerify = 1007,
    kIdStatus = 1008,
    kIdLookahead = 1010,
    kIdSync = 1011,
    kIdRefreshSpin = 1012,
    kIdLookaheadSpin = 1013,
    kIdBand = 1015,
};

// Notification of a pick list whose selection the user changed.
constexpr int kSelectionChanged = 1;

// Dialog results.
constexpr int kDialogOk = 1;
constexpr int kDialogCancel = 2;
constexpr int kDialogFailed = -1;

// A rectangle in screen pixels; right and bottom are exclusive.
struct ScreenRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

class ISetupDialogView {
public:
    virtual ~ISetupDialogView() = default;

    // Texts of edits and statics. GetText gives at most `maxChars` characters.
    virtual void SetText(int id, const std::string& text) = 0;
    virtual std::string GetText(int id, size_t maxChars) = 0;
    // GetText for a text that must arrive exactly (the server's address): false, with *text untouched, when
    // the control holds characters that the presenter's texts (the system's ANSI code page) cannot hold.
    virtual bool GetExactText(int id, size_t maxChars, std::string* text) {
        *text = GetText(id, maxChars);
        return true;
    }

    // The range the arrows of an up-down control step through; typed values are not limited by it.
    virtual void SetSpinRange(int id, int low, int high) = 0;

    // Pick lists. The presenter decides the order (it keeps the lists sorted); the view shows the entries
    // at the positions given. ComboSelect(-1) clears the selection; ComboSelection is -1 without one.
    virtual void ComboReset(int id) = 0;
    virtual void ComboInsert(int id, int index, const std::string& text) = 0;
    virtual void ComboSelect(int id, int index) = 0;
    virtual int ComboSelection(int id) = 0;

    // The status line; shown at once, even when a long call follows before the next paint.
    virtual void SetStatus(const std::string& text) = 0;

    // The dialog's outer rectangle on screen; false when it cannot be told.
    virtual bool GetWindowRect(ScreenRect* rect) = 0;
    // The work area of the monitor nearest the owner window (or the dialog without one); false when there
    // is no work area to keep to.
    virtual bool GetWorkArea(ScreenRect* area) = 0;
    // Moves the dialog's top left corner; the size and the stacking order stay.
    virtual void MoveTo(int x, int y) = 0;

    // Ends the modal loop; Show returns `result`.
    virtual void EndDialog(int result) = 0;
};

// Makes and runs the platform's dialog window for a presenter. Installed by the library that carries the
// toolkit (the plug-in); without one the dialog cannot be created.
class ISetupDialogViewFactory {
public:
    virtual ~ISetupDialogViewFactory() = default;
    // The outer size of the dialog window in pixels; false when no window can be made.
    virtual bool MeasureDialog(int* width, int* height) = 0;
    // Runs the dialog modally over `owner` (may be null) and returns the result given to EndDialog, or
    // kDialogFailed when the window cannot be made.
    virtual int RunModal(CalendarSetupDialog* presenter, ZrkWindowHandle owner) = 0;
};

// The installed factory, or null. Installing replaces the previous one; null uninstalls.
void InstallSetupDialogViewFactory(ISetupDialogViewFactory* factory);
ISetupDialogViewFactory* SetupDialogViewFactory();

}  // namespace ui
