#include <cstdint>
#include <cstring>

#include "platform/TextConversion.h"

namespace platform {

namespace {

// Length of the valid UTF-8 sequence at s (at most `left` bytes) and its code point; 0 when invalid.
size_t DecodeUtf8(const unsigned char* s, size_t left, uint32_t* out) {
    unsigned char c = s[0];
    size_t length;
    uint32_t cp;
    if (c < 0x80) {
        *out = c;
        return 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (length > left) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((s[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (s[i] & 0x3F);
    }
    // Over-long forms, surrogates and values past the last plane are not UTF-8.
    if ((length == 3 && cp < 0x800) || (length == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    *out = cp;
    return length;
}

void AppendCodePoint(std::wstring& text, uint32_t cp) {
    if (sizeof(wchar_t) == 2 && cp > 0xFFFF) {
        cp -= 0x10000;
        text.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
        text.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        text.push_back(static_cast<wchar_t>(cp));
    }
}

}  // namespace

std::wstring AnsiToWide(const char* text) {
    std::wstring wide;
    if (text == nullptr) return wide;
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    size_t left = std::strlen(text);
    while (left > 0) {
        uint32_t cp = 0;
        size_t used = DecodeUtf8(s, left, &cp);
        if (used == 0) {
            cp = s[0];
            used = 1;
        }
        AppendCodePoint(wide, cp);
        s += used;
        left -= used;
    }
    return wide;
}

}  // namespace platform
