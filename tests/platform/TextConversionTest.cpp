// ANSI texts widened for server addresses. POSIX (UTF-8): valid sequences decoded, stray bytes kept.
// Windows: the system's ANSI code page (a single-byte Western page under Wine).
#include <gtest/gtest.h>

#include <string>

#include "platform/TextConversion.h"

namespace {

#if defined(_WIN32)
TEST(AnsiToWide, PlainTextsAndEveryByteOfTheCodePageAsOneCharacter) {
    EXPECT_EQ(platform::AnsiToWide(nullptr), L"");
    EXPECT_EQ(platform::AnsiToWide(""), L"");
    EXPECT_EQ(platform::AnsiToWide("http://127.0.0.1:9256"), L"http://127.0.0.1:9256");
    EXPECT_EQ(platform::AnsiToWide("caf\xE9"), L"caf\u00e9");
    for (int byte = 1; byte < 256; ++byte) {
        const char text[2] = {static_cast<char>(byte), '\0'};
        EXPECT_EQ(platform::AnsiToWide(text).size(), 1u) << byte;
    }
}
#else
TEST(AnsiToWide, PlainAndMultiByteTexts) {
    EXPECT_EQ(platform::AnsiToWide(nullptr), L"");
    EXPECT_EQ(platform::AnsiToWide(""), L"");
    EXPECT_EQ(platform::AnsiToWide("http://127.0.0.1:9256"), L"http://127.0.0.1:9256");
    EXPECT_EQ(platform::AnsiToWide("caf\xC3\xA9"), L"caf\u00e9");
    EXPECT_EQ(platform::AnsiToWide("\xE2\x82\xAC"), L"\u20ac");
    std::wstring astral = platform::AnsiToWide("\xF0\x9F\x8E\xB5");
    if (sizeof(wchar_t) == 2) {
        EXPECT_EQ(astral, std::wstring({wchar_t(0xD83C), wchar_t(0xDFB5)}));
    } else {
        EXPECT_EQ(astral, std::wstring(1, wchar_t(0x1F3B5)));
    }
}

TEST(AnsiToWide, BytesOutsideValidSequencesStandForThemselves) {
    // A lone Latin-1 byte, a cut sequence, an over-long form and an encoded surrogate.
    EXPECT_EQ(platform::AnsiToWide("caf\xE9"), L"caf\u00e9");
    EXPECT_EQ(platform::AnsiToWide("a\xE2\x82"), std::wstring({L'a', wchar_t(0xE2), wchar_t(0x82)}));
    EXPECT_EQ(platform::AnsiToWide("\xC0\xAF"), std::wstring({wchar_t(0xC0), wchar_t(0xAF)}));
    EXPECT_EQ(platform::AnsiToWide("\xED\xA0\x80"),
              std::wstring({wchar_t(0xED), wchar_t(0xA0), wchar_t(0x80)}));
}
#endif

TEST(AnsiToWide, ArbitraryBytesAlwaysConvert) {
    uint32_t seed = 77;
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        int length = round % 24;
        for (int i = 0; i < length; ++i) {
            seed = seed * 1664525u + 1013904223u;
            char c = static_cast<char>((seed >> 24) | 0x01);  // never NUL
            text.push_back(c);
        }
        std::wstring wide = platform::AnsiToWide(text.c_str());
        EXPECT_LE(wide.size(), text.size());
        EXPECT_EQ(wide.empty(), text.empty());
    }
}

}  // namespace
