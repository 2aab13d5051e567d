#include <windows.h>

#include "platform/ZoneData.h"

namespace platform {

std::string ShippedZoneDirectory() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return std::string();
    std::wstring dir(path, n);
    dir.erase(dir.find_last_of(L"\\/") + 1);
    dir += L"zoneinfo";
    // The iCalendar library opens files with the C library's narrow calls (the ANSI code page).
    const int bytes = WideCharToMultiByte(CP_ACP, 0, dir.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) return std::string();
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, dir.c_str(), -1, &out[0], bytes, nullptr, nullptr);
    out.resize(static_cast<size_t>(bytes - 1));
    return out;
}

}  // namespace platform
