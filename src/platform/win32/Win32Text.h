// Text conversions shared by the Windows parts of the platform layer (included by win32/ sources only).
#pragma once

#include <windows.h>

#include <string>

namespace platform {

// UTF-8 (the product's texts: paths, URLs, names) as the wide text Windows calls take.
inline std::wstring Utf8ToWide(const std::string& text) {
    std::wstring wide;
    if (text.empty()) return wide;
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return wide;
    wide.resize(static_cast<size_t>(n));
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

// The system's own words for an error code, in UTF-8 without its line end; empty when it has none.
inline std::string SystemMessage(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out;
    if (n > 0 && text) {
        const int bytes =
            WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
        if (bytes > 0) {
            out.resize(static_cast<size_t>(bytes));
            WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), &out[0], bytes, nullptr, nullptr);
        }
        while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' '))
            out.pop_back();
    }
    if (text) LocalFree(text);
    return out;
}

}  // namespace platform
