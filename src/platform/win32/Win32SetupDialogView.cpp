// The setup dialog's window on Windows: dialog template 101 of this module run by the dialog manager, its
// standard controls, and the host's theme painted through GDI. Every rule lives in the presenter
// (CalendarSetupDialog); this file only fills the controls, paints them and reports presses and picks.
// Loading the module installs the view for the presenter.
#include <windows.h>
// After windows.h, which they need.
#include <commctrl.h>
#include <uxtheme.h>
// The platform's macros would rename the portable FindResource and the drawing context's DrawText.
#undef FindResource
#undef DrawText

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Resources.h"
#include "platform/TextConversion.h"
#include "platform/win32/GdiDrawContext.h"
#include "ui/CalendarSetupDialog.h"
#include "ui/ISetupDialogView.h"
#include "ui/VCThemeHelper.h"

namespace platform {
namespace win32 {
namespace {

constexpr int kTemplateId = 101;
// Test hook: a file of actions that the dialog performs on itself once shown (see RunScriptStep).
constexpr const char* kScriptVariable = "ZRK_SETUP_DIALOG_SCRIPT";
constexpr UINT_PTR kScriptTimer = 1;
constexpr UINT kScriptPeriodMs = 150;

// The module holding this code, and with it the dialog template.
HMODULE OwnModuleHandle() {
    return static_cast<HMODULE>(platform::OwnModule());
}

// The up-down controls are common controls: their class exists only once registered.
bool RegisterControls() {
    static const bool registered = [] {
        INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
        return InitCommonControlsEx(&controls) != FALSE;
    }();
    return registered;
}

// A wide text in the system's ANSI code page, as the presenter's texts are. A character the code page
// lacks becomes its default character, never a look-alike ("best fit"), so that ExactlyAnsi can tell.
std::string WideToAnsi(const std::wstring& wide) {
    if (wide.empty()) return std::string();
    const DWORD flags = GetACP() == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int size = WideCharToMultiByte(CP_ACP, flags, wide.data(), static_cast<int>(wide.size()), nullptr,
                                         0, nullptr, nullptr);
    if (size <= 0) return std::string();
    std::string text(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, flags, wide.data(), static_cast<int>(wide.size()), &text[0], size, nullptr,
                        nullptr);
    return text;
}

// True when the ANSI text reads back as the wide text it came from, character for character.
bool ExactlyAnsi(const std::wstring& wide, const std::string& text) {
    return platform::AnsiToWide(text.c_str()) == wide;
}

// At most `maxChars` characters of a window's text.
std::wstring WindowText(HWND window, size_t maxChars) {
    if (!window) return std::wstring();
    const int length = GetWindowTextLengthW(window);
    if (length <= 0) return std::wstring();
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int got = GetWindowTextW(window, &text[0], length + 1);
    text.resize(static_cast<size_t>(got > 0 ? got : 0));
    if (text.size() > maxChars) text.resize(maxChars);
    return text;
}

ui::ScreenRect ToScreenRect(const RECT& r) {
    return ui::ScreenRect{r.left, r.top, r.right, r.bottom};
}

class Win32SetupDialogView : public ui::ISetupDialogView {
public:
    Win32SetupDialogView(CalendarSetupDialog* presenter, HWND owner) : presenter_(presenter), owner_(owner) {}

    int Run() {
        const INT_PTR result = DialogBoxParamW(OwnModuleHandle(), MAKEINTRESOURCEW(kTemplateId), owner_,
                                               DialogProc, reinterpret_cast<LPARAM>(this));
        presenter_->OnDialogEnd();
        if (result == -1 || result == 0) return ui::kDialogFailed;
        return static_cast<int>(result);
    }

    // --- ISetupDialogView ---

    void SetText(int id, const std::string& text) override {
        SetWindowTextW(Item(id), platform::AnsiToWide(text.c_str()).c_str());
    }

    std::string GetText(int id, size_t maxChars) override {
        return WideToAnsi(WindowText(Item(id), maxChars));
    }

    bool GetExactText(int id, size_t maxChars, std::string* text) override {
        const std::wstring wide = WindowText(Item(id), maxChars);
        std::string ansi = WideToAnsi(wide);
        if (!ExactlyAnsi(wide, ansi)) return false;
        *text = std::move(ansi);
        return true;
    }

    void SetSpinRange(int id, int low, int high) override {
        SendMessageW(Item(id), UDM_SETRANGE32, static_cast<WPARAM>(low), static_cast<LPARAM>(high));
    }

    void ComboReset(int id) override { SendMessageW(Item(id), CB_RESETCONTENT, 0, 0); }

    void ComboInsert(int id, int index, const std::string& text) override {
        // At the presenter's position: inserting does not re-sort, even in a sorted list.
        const std::wstring wide = platform::AnsiToWide(text.c_str());
        SendMessageW(Item(id), CB_INSERTSTRING, static_cast<WPARAM>(index),
                     reinterpret_cast<LPARAM>(wide.c_str()));
    }

    void ComboSelect(int id, int index) override {
        SendMessageW(Item(id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }

    int ComboSelection(int id) override {
        const LRESULT index = SendMessageW(Item(id), CB_GETCURSEL, 0, 0);
        return index == CB_ERR ? -1 : static_cast<int>(index);
    }

    void SetStatus(const std::string& text) override {
        SetText(ui::kIdStatus, text);
        // A long call may follow at once: the new text is painted now, not at the next idle moment.
        if (HWND status = Item(ui::kIdStatus)) UpdateWindow(status);
    }

    bool GetWindowRect(ui::ScreenRect* rect) override {
        RECT r;
        if (!window_ || !::GetWindowRect(window_, &r)) return false;
        *rect = ToScreenRect(r);
        return true;
    }

    bool GetWorkArea(ui::ScreenRect* area) override {
        HMONITOR monitor = MonitorFromWindow(owner_ ? owner_ : window_, MONITOR_DEFAULTTONEAREST);
        MONITORINFO info;
        info.cbSize = sizeof info;
        if (monitor && GetMonitorInfoW(monitor, &info)) {
            *area = ToScreenRect(info.rcWork);
            return true;
        }
        RECT work;
        if (SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)) {
            *area = ToScreenRect(work);
            return true;
        }
        return false;
    }

    void MoveTo(int x, int y) override {
        SetWindowPos(window_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    void EndDialog(int result) override {
        ended_ = true;
        ::EndDialog(window_, result);
    }

private:
    HWND Item(int id) const { return window_ ? GetDlgItem(window_, id) : nullptr; }

    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            SetWindowLongPtrW(window, DWLP_USER, lParam);
            auto* view = reinterpret_cast<Win32SetupDialogView*>(lParam);
            view->window_ = window;
            view->OnInit();
            return FALSE;  // no control starts with the focus
        }
        auto* view = reinterpret_cast<Win32SetupDialogView*>(GetWindowLongPtrW(window, DWLP_USER));
        if (!view) return FALSE;
        switch (message) {
            case WM_COMMAND:
                return view->OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
            case WM_DRAWITEM:
                view->DrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
                return TRUE;
            case WM_CTLCOLORDLG:
                return view->CtlColor(reinterpret_cast<HDC>(wParam), 0);
            case WM_CTLCOLORSTATIC:
                return view->CtlColor(reinterpret_cast<HDC>(wParam),
                                      GetDlgCtrlID(reinterpret_cast<HWND>(lParam)));
            case WM_TIMER:
                if (wParam == kScriptTimer) view->OnScriptTimer();
                return TRUE;
            default:
                return FALSE;
        }
    }

    void OnInit() {
        // The theme paints OK and Cancel itself: no visual style may draw over them.
        SetWindowTheme(Item(ui::kIdOk), L"", L"");
        SetWindowTheme(Item(ui::kIdCancel), L"", L"");
        presenter_->OnInitDialog(this);
        StartScript();
    }

    INT_PTR OnCommand(int id, int notification, HWND control) {
        // A press of an owner-drawn button arrives once as a click; its double-click notice is no second
        // press. Notices of the fields (focus, changes) are not commands.
        if (control) {
            wchar_t className[16] = {};
            GetClassNameW(control, className, 16);
            const bool isButton = lstrcmpiW(className, L"Button") == 0;
            const bool isCombo = lstrcmpiW(className, L"ComboBox") == 0;
            if (isButton && notification != BN_CLICKED) return FALSE;
            if (!isButton && !isCombo) return FALSE;
            if (isCombo) notification = notification == CBN_SELCHANGE ? ui::kSelectionChanged : 0x7FFF;
        }
        ++inCommand_;
        const bool handled = presenter_->OnCommand(id, notification);
        --inCommand_;
        // Presses and keys that came in while a long call held the dialog are dropped, not run afterwards.
        if (handled && !ended_) DropQueuedInput();
        return handled ? TRUE : FALSE;
    }

    static void DropQueuedInput() {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
        }
        while (PeekMessageW(&msg, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE)) {
        }
    }

    INT_PTR CtlColor(HDC dc, int id) {
        const int kind = presenter_->ColourKindFor(id);
        if (kind < 0) return FALSE;  // the system's colours
        GdiDrawContext context(dc, &objects_);
        return reinterpret_cast<INT_PTR>(objects_.Brush(presenter_->Theme().CtlColor(&context, kind)));
    }

    void DrawItem(const DRAWITEMSTRUCT& draw) {
        if (draw.CtlType != ODT_BUTTON) return;
        ui::OwnerDrawItem item;
        item.id = static_cast<int>(draw.CtlID);
        item.state = draw.itemState & (ODS_SELECTED | ODS_DISABLED | ODS_FOCUS);
        item.rect = ToScreenRect(draw.rcItem);
        item.text = GetText(item.id, 256);
        GdiDrawContext context(draw.hDC, &objects_);
        if (presenter_->Theme().DrawItem(item, &context)) return;
        // Without the host's theme: a plain push button in the system's colours.
        RECT r = draw.rcItem;
        UINT state = DFCS_BUTTONPUSH;
        if (draw.itemState & ODS_SELECTED) state |= DFCS_PUSHED;
        if (draw.itemState & ODS_DISABLED) state |= DFCS_INACTIVE;
        DrawFrameControl(draw.hDC, &r, DFC_BUTTON, state);
        const int oldMode = ::SetBkMode(draw.hDC, TRANSPARENT);
        const COLORREF oldText = ::SetTextColor(
            draw.hDC, GetSysColor((draw.itemState & ODS_DISABLED) ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
        context.DrawText(item.text, item.rect, ui::kTextSingleLine | ui::kTextVCenter | ui::kTextCenter);
        ::SetTextColor(draw.hDC, oldText);
        ::SetBkMode(draw.hDC, oldMode);
    }

    // --- test hook: actions read from the file named by ZRK_SETUP_DIALOG_SCRIPT, one a line:
    //   type ID TEXT | click ID | pick ID TEXT | arrow ID up|down | tab 1|-1 | wait MS | screenshot PATH |
    //   dump PATH | click-later MS ID (a press posted from another thread while the script goes on)
    // Each runs from the dialog's message loop as a user's action would, after the previous one finished.
    void StartScript() {
        const char* path = std::getenv(kScriptVariable);
        if (!path || !*path) return;
        std::ifstream file(path);
        std::string line;
        while (std::getline(file, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty() && line[0] != '#') script_.push_back(line);
        }
        if (!script_.empty()) SetTimer(window_, kScriptTimer, kScriptPeriodMs, nullptr);
    }

    void OnScriptTimer() {
        if (inCommand_ > 0 || GetTickCount() < waitUntil_) return;
        if (scriptNext_ >= script_.size() || ended_) {
            KillTimer(window_, kScriptTimer);
            return;
        }
        RunScriptStep(script_[scriptNext_++]);
    }

    void RunScriptStep(const std::string& line) {
        std::istringstream in(line);
        std::string verb, rest;
        in >> verb;
        int id = 0;
        if (verb != "wait" && verb != "screenshot" && verb != "dump") in >> id;
        std::getline(in >> std::ws, rest);
        HWND control = Item(id);
        if (verb == "type" && control) {
            SetText(id, rest);
        } else if (verb == "click" && control) {
            SendMessageW(control, BM_CLICK, 0, 0);
        } else if (verb == "click-later") {
            // `id` is the delay here; the control's id follows.
            HWND button = Item(std::atoi(rest.c_str()));
            const DWORD delay = static_cast<DWORD>(id);
            if (button) {
                std::thread([button, delay] {
                    Sleep(delay);
                    PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
                    PostMessageW(button, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
                }).detach();
            }
        } else if (verb == "pick" && control) {
            const std::wstring wide = platform::AnsiToWide(rest.c_str());
            const LRESULT index = SendMessageW(control, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                               reinterpret_cast<LPARAM>(wide.c_str()));
            if (index != CB_ERR) {
                // What the list does when the user picks an entry: select it and tell the dialog.
                SendMessageW(control, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
                SendMessageW(window_, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                             reinterpret_cast<LPARAM>(control));
            }
        } else if (verb == "tab") {
            // What the dialog manager does on Tab and Shift+Tab.
            SendMessageW(window_, WM_NEXTDLGCTL, id < 0 ? 1 : 0, FALSE);
        } else if (verb == "arrow" && control) {
            // A press on the upper or lower half of the arrows, as the mouse gives it.
            RECT r;
            GetClientRect(control, &r);
            const int y = rest == "down" ? r.bottom - 2 : 1;
            SendMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(r.right / 2, y));
            SendMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(r.right / 2, y));
        } else if (verb == "wait") {
            waitUntil_ = GetTickCount() + static_cast<DWORD>(std::atoi(rest.c_str()));
        } else if (verb == "screenshot") {
            Screenshot(rest);
        } else if (verb == "dump") {
            Dump(rest);
        }
    }

    // The dialog as shown on screen, as a 24-bit BMP file.
    void Screenshot(const std::string& path) {
        RedrawWindow(window_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        RECT r;
        if (!::GetWindowRect(window_, &r)) return;
        const int width = r.right - r.left, height = r.bottom - r.top;
        if (width <= 0 || height <= 0) return;
        HDC screen = GetDC(nullptr);
        HDC memory = CreateCompatibleDC(screen);
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = height;  // bottom-up, as the file stores it
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (bitmap && bits) {
            HGDIOBJ old = SelectObject(memory, bitmap);
            BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
            GdiFlush();
            SelectObject(memory, old);
            const DWORD stride = static_cast<DWORD>((width * 3 + 3) & ~3);
            const DWORD imageSize = stride * static_cast<DWORD>(height);
            BITMAPFILEHEADER header = {};
            header.bfType = 0x4D42;  // "BM"
            header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
            header.bfSize = header.bfOffBits + imageSize;
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(&header), sizeof header);
            out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof(BITMAPINFOHEADER));
            out.write(static_cast<const char*>(bits), imageSize);
        }
        if (bitmap) DeleteObject(bitmap);
        DeleteDC(memory);
        ReleaseDC(nullptr, screen);
    }

    // What the window shows, as "id: text" lines and "id: [selection] entry|entry" for the pick lists, in
    // the same form as the other platform's view writes it.
    void Dump(const std::string& path) {
        std::ofstream out(path, std::ios::app | std::ios::binary);
        out << "title: " << WideToAnsi(WindowText(window_, 256)) << "\n";
        HWND focus = GetFocus();
        out << "focus: " << (focus && IsChild(window_, focus) ? GetDlgCtrlID(focus) : 0) << "\n";
        RECT r = {};
        ::GetWindowRect(window_, &r);
        out << "size: " << r.right - r.left << "x" << r.bottom - r.top << " at " << r.left << "," << r.top
            << "\n";
        HWND owner = GetWindow(window_, GW_OWNER);
        out << "owner: " << (owner ? (owner == owner_ ? "host" : "other") : "none") << "\n";
        for (HWND child = GetWindow(window_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            const int id = GetDlgCtrlID(child);
            if (id < 0 || id == 0xFFFF) continue;
            wchar_t className[32] = {};
            GetClassNameW(child, className, 32);
            if (lstrcmpiW(className, L"ComboBox") == 0) {
                out << id << ": [" << ComboSelection(id) << "]";
                const LRESULT count = SendMessageW(child, CB_GETCOUNT, 0, 0);
                for (LRESULT i = 0; i < count; ++i) {
                    const LRESULT length = SendMessageW(child, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
                    std::wstring text(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
                    SendMessageW(child, CB_GETLBTEXT, static_cast<WPARAM>(i),
                                 reinterpret_cast<LPARAM>(&text[0]));
                    text.resize(static_cast<size_t>(length > 0 ? length : 0));
                    out << " " << WideToAnsi(text) << "|";
                }
                out << "\n";
            } else if (lstrcmpiW(className, UPDOWN_CLASSW) == 0) {
                int low = 0, high = 0;
                SendMessageW(child, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low),
                             reinterpret_cast<LPARAM>(&high));
                out << "range " << id << ": " << low << ".." << high << "\n";
            } else {
                out << id << ": " << GetText(id, 2048) << "\n";
            }
        }
    }

    CalendarSetupDialog* presenter_;
    HWND owner_;
    HWND window_ = nullptr;
    GdiObjects objects_;
    bool ended_ = false;
    int inCommand_ = 0;
    std::vector<std::string> script_;
    size_t scriptNext_ = 0;
    DWORD waitUntil_ = 0;
};

class Win32SetupDialogViewFactory : public ui::ISetupDialogViewFactory {
public:
    bool MeasureDialog(int* width, int* height) override {
        if (!RegisterControls()) return false;
        // The template made once, hidden and without owner, only to read its size in this system's units.
        HWND window =
            CreateDialogParamW(OwnModuleHandle(), MAKEINTRESOURCEW(kTemplateId), nullptr, nullptr, 0);
        if (!window) return false;
        RECT r;
        const bool ok = ::GetWindowRect(window, &r) != FALSE;
        DestroyWindow(window);
        if (!ok) return false;
        *width = r.right - r.left;
        *height = r.bottom - r.top;
        return true;
    }

    int RunModal(CalendarSetupDialog* presenter, ZrkWindowHandle owner) override {
        if (!presenter || !RegisterControls()) return ui::kDialogFailed;
        HWND ownerWindow = reinterpret_cast<HWND>(owner);
        if (ownerWindow && !IsWindow(ownerWindow)) ownerWindow = nullptr;
        Win32SetupDialogView view(presenter, ownerWindow);
        return view.Run();
    }
};

Win32SetupDialogViewFactory g_factory;

// Installs the view while the module is loaded.
struct Installer {
    Installer() { ui::InstallSetupDialogViewFactory(&g_factory); }
    ~Installer() {
        if (ui::SetupDialogViewFactory() == &g_factory) ui::InstallSetupDialogViewFactory(nullptr);
    }
} g_installer;

}  // namespace
}  // namespace win32
}  // namespace platform

// Named by the plug-in's link so that this file, and with it the installer above, is kept in the DLL.
extern "C" void zrk_win32_setup_dialog_view() {}
