#include <windows.h>

#include "platform/TextConversion.h"

namespace platform {

// The system's ANSI code page maps every byte to a character, so no input is rejected.
std::wstring AnsiToWide(const char* text) {
    std::wstring wide;
    if (text == nullptr || *text == '\0') return wide;
    const int needed = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (needed <= 1) return wide;
    wide.resize(static_cast<size_t>(needed));
    MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], needed);
    wide.resize(static_cast<size_t>(needed - 1));
    return wide;
}

}  // namespace platform
