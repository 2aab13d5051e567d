// The call window on Windows: a hidden window of the class "MThreadWindow" on a thread of its own, whose
// message loop runs the marshalled calls (message 0x8FFF: lParam the function, wParam its argument). When
// the last user leaves, 0x8FFE asks the window to go; it does so only if no user came back meanwhile, and
// its thread then ends. The class is registered on this library's own module (its procedure is code of
// this library) and unregistered by the window's thread as it ends. The last user waits for that end, so
// that nothing of the window runs once the last thread that used it has ended; the thread is never waited
// for by a static destructor: a thread waited for while the library unloads would hang the loader.
#include <windows.h>

#include "platform/CallWindow.h"
#include "platform/Sync.h"

namespace platform {
namespace {

constexpr UINT kMessageLastUserGone = 0x8FFE;
constexpr UINT kMessageCall = 0x8FFF;
const char kClassName[] = "MThreadWindow";

// Serialises the starts, so that one window thread at most is being created or ended at a time.
MCriticalSection g_startMutex;
// Guards the fields below; the window procedure takes it too.
MCriticalSection g_mutex;
int g_users = 0;
HWND g_window = nullptr;
HANDLE g_thread = nullptr;
DWORD g_threadId = 0;
bool g_endPending = false;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case kMessageCall:
            return reinterpret_cast<CallWindowFunction>(lParam)(reinterpret_cast<void*>(wParam));
        case kMessageLastUserGone: {
            MLock lock(g_mutex);
            if (g_users == 0 && g_window == window) {
                g_window = nullptr;
                DestroyWindow(window);
            }
            return 0;
        }
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

// The module this code belongs to: the DLL in a host, the program itself in a test program.
HINSTANCE OwnModule() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCSTR>(&WindowProc), &module)) {
        return nullptr;
    }
    return module;
}

// Registers the class on the module; a class of that name left there with another window procedure (a copy
// of the library that ended without unregistering it) is replaced.
bool RegisterWindowClass(HINSTANCE instance) {
    if (instance == nullptr) return false;
    WNDCLASSEXA existing{};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExA(instance, kClassName, &existing)) {
        if (existing.lpfnWndProc == WindowProc) return true;
        UnregisterClassA(kClassName, instance);
    }
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.lpszClassName = kClassName;
    return RegisterClassExA(&wc) != 0;
}

struct StartInfo {
    HANDLE ready;
    HWND window;
};

DWORD WINAPI WindowThread(LPVOID argument) {
    StartInfo* start = static_cast<StartInfo*>(argument);
    HINSTANCE instance = OwnModule();
    HWND window = nullptr;
    if (RegisterWindowClass(instance)) {
        window = CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    }
    start->window = window;
    SetEvent(start->ready);
    if (window == nullptr) {
        if (instance != nullptr) UnregisterClassA(kClassName, instance);
        return 1;
    }
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
    // The procedure belongs to this library: the class must not outlive the window.
    UnregisterClassA(kClassName, instance);
    return 0;
}

// Waits for an ended (or ending) window thread and forgets it. Called with g_startMutex held.
void CollectThread(DWORD milliseconds) {
    HANDLE thread;
    {
        MLock lock(g_mutex);
        if (g_window != nullptr || g_thread == nullptr) return;
        thread = g_thread;
    }
    if (WaitForSingleObject(thread, milliseconds) != WAIT_OBJECT_0) return;
    CloseHandle(thread);
    MLock lock(g_mutex);
    if (g_thread == thread) {
        g_thread = nullptr;
        g_threadId = 0;
        g_endPending = false;
    }
}

}  // namespace

void CallWindowAddUser() {
    MLock start(g_startMutex);
    {
        MLock lock(g_mutex);
        ++g_users;
        // A window still standing keeps serving: its pending end sees the new user and stays.
        if (g_window != nullptr) return;
    }
    // The previous window is gone; its thread is only a return away.
    CollectThread(INFINITE);
    StartInfo info{CreateEventA(nullptr, TRUE, FALSE, nullptr), nullptr};
    if (info.ready == nullptr) return;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, WindowThread, &info, 0, &id);
    if (thread != nullptr) {
        WaitForSingleObject(info.ready, INFINITE);
        MLock lock(g_mutex);
        g_thread = thread;
        g_threadId = id;
        g_window = info.window;
        g_endPending = false;
        // Every user left while the window was being made.
        if (g_window != nullptr && g_users == 0) {
            g_endPending = true;
            PostMessageA(g_window, kMessageLastUserGone, 0, 0);
        }
    }
    CloseHandle(info.ready);
}

void CallWindowRemoveUser() {
    HANDLE thread = nullptr;
    {
        MLock lock(g_mutex);
        if (g_users > 0) --g_users;
        if (g_users != 0 || g_window == nullptr) return;
        g_endPending = true;
        PostMessageA(g_window, kMessageLastUserGone, 0, 0);
        // On the window's own thread (a call that ended the last user) its end cannot be awaited: the next
        // user or a destroyed thread object collects it.
        if (GetCurrentThreadId() == g_threadId) return;
        // A handle of our own: a new user may collect the thread and close the shared one while we wait.
        if (!DuplicateHandle(GetCurrentProcess(), g_thread, GetCurrentProcess(), &thread, SYNCHRONIZE, FALSE,
                             0)) {
            return;
        }
    }
    // The thread ends once the calls before the request have run; a user that came back meanwhile keeps the
    // window, and then its own end is the one to wait for.
    for (;;) {
        if (WaitForSingleObject(thread, 20) == WAIT_OBJECT_0) break;
        MLock lock(g_mutex);
        if (g_users > 0 && g_window != nullptr) break;
    }
    CloseHandle(thread);
    MLock start(g_startMutex);
    CollectThread(0);
}

bool CallWindowCall(CallWindowFunction function, void* argument, int* result) {
    HWND window;
    {
        MLock lock(g_mutex);
        window = g_window;
        if (window == nullptr) return false;
        if (GetCurrentThreadId() == g_threadId) window = nullptr;
    }
    if (window == nullptr) {
        *result = function(argument);
        return true;
    }
    // A window destroyed meanwhile answers 0, as a window that is gone does.
    *result = static_cast<int>(SendMessageA(window, kMessageCall, reinterpret_cast<WPARAM>(argument),
                                            reinterpret_cast<LPARAM>(function)));
    return true;
}

bool CallWindowIsCurrent() {
    MLock lock(g_mutex);
    return g_window != nullptr && GetCurrentThreadId() == g_threadId;
}

bool CallWindowExists() {
    MLock lock(g_mutex);
    return g_window != nullptr;
}

void CallWindowSettlePendingEnd(uint32_t milliseconds) {
    {
        MLock lock(g_mutex);
        if (!g_endPending || GetCurrentThreadId() == g_threadId) return;
    }
    MLock start(g_startMutex);
    CollectThread(milliseconds);
    MLock lock(g_mutex);
    g_endPending = false;
}

}  // namespace platform
