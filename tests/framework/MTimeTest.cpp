#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "framework/MTime.h"
#include "support/FakeClock.h"

namespace {

MTime Make(int base, int value) {
    MTime t(value);
    t.SetBase(base);
    return t;
}

int ParseOr(const char* text, int base, int fallback = 12345) {
    int v = fallback;
    EXPECT_TRUE(MTime::Parse(text, &v, base)) << text;
    return v;
}

}  // namespace

TEST(MTimeValue, DefaultsCopiesAndChangeReports) {
    MTime t;
    EXPECT_EQ(t.GetBase(), 4);
    EXPECT_EQ(t.GetDisplayBase(), 4);
    EXPECT_EQ(t.GetValue(), 0);
    EXPECT_FALSE(t.SetValue(0));
    EXPECT_TRUE(t.SetValue(7));
    EXPECT_TRUE(t.SetBase(5));
    EXPECT_FALSE(t.SetBase(5));
    EXPECT_EQ(t.GetValue(), 7);  // the base changes alone, the value is not converted
    t.SetDisplayBase(1);
    MTime copy(t);
    EXPECT_EQ(copy.GetBase(), 5);
    EXPECT_EQ(copy.GetValue(), 7);
    EXPECT_EQ(copy.GetDisplayBase(), 1);
    MTime assigned;
    assigned = t;
    EXPECT_EQ(assigned.GetBase(), 5);
    EXPECT_EQ(assigned.GetDisplayBase(), 4);
    // Equality looks at the values only.
    EXPECT_TRUE(Make(0, 7) == Make(5, 7));
    EXPECT_FALSE(Make(4, 7) == Make(4, 8));
}

TEST(MTimeText, TextFormsOfEachBase) {
    EXPECT_STREQ(Make(4, 366100).ToText(), "01:01:01/00");
    EXPECT_STREQ(Make(4, -6100).ToText(), "-00:01:01/00");
    EXPECT_STREQ(Make(5, 3723004).ToText(), "01:02:03/004");
    EXPECT_STREQ(Make(0, 86400 + 1440 + 24 + 23).ToText(), "01:01:01/23");
    EXPECT_STREQ(Make(1, 90000 * 25 + 24).ToText(), "25:00:00/24");  // hours do not wrap at 24
    EXPECT_STREQ(Make(4, -5).ToText(), "-00:00:00/05");
    // Drop-frame counting: frame 1800 is the first of minute one, numbered 02.
    EXPECT_STREQ(Make(3, 1800).ToText(), "00:01:00/02");
    EXPECT_STREQ(Make(3, 17982).ToText(), "00:10:00/00");
    EXPECT_STREQ(Make(9, 100).ToText(), "00:00:00/00");
    EXPECT_STREQ(Make(-1, 100).ToText(), "00:00:00/00");
}

TEST(MTimeText, ExtremeValuesFitTheTextBuffers) {
    const int values[] = {INT_MIN, INT_MIN + 1, INT_MAX, -1, 0};
    for (int base = 0; base <= 5; ++base) {
        for (int value : values) {
            int h, m, s, f;
            MTime::Split(value, h, m, s, f, base);
            // Written into a buffer with guard bytes: nothing beyond the 16 bytes is touched.
            char out[MTime::kTextSize + 8];
            std::memset(out, '#', sizeof out);
            MTime::Format(value, out, base);
            EXPECT_EQ(std::string(out + MTime::kTextSize, 8), std::string(8, '#'));
            const size_t len = std::strlen(out);
            ASSERT_LT(len, static_cast<size_t>(MTime::kTextSize));
            // Not cut short: the text ends with the complete sub-unit field.
            char tail[8];
            std::snprintf(tail, sizeof tail, base == 5 ? "/%03d" : "/%02d", f);
            EXPECT_EQ(std::string(out).substr(len - std::strlen(tail)), tail) << base << " " << value;
            EXPECT_EQ(std::atoi(out + (value < 0 ? 1 : 0)), h);
            MTime t = Make(base, value);
            for (int display = 0; display <= 5; ++display) {
                t.SetDisplayBase(display);
                EXPECT_LT(std::strlen(t.ToDisplayText()), static_cast<size_t>(MTime::kTextSize));
            }
        }
    }
    EXPECT_STREQ(Make(0, INT_MIN).ToText(), "-24855:08:05/08");
    EXPECT_STREQ(Make(5, INT_MAX).ToText(), "596:31:23/647");
}

TEST(MTimeText, SplitAndFieldAccessors) {
    int h, m, s, f;
    MTime::Split(-3723004, h, m, s, f, 5);
    EXPECT_EQ(h, 1);
    EXPECT_EQ(m, 2);
    EXPECT_EQ(s, 3);
    EXPECT_EQ(f, 4);
    MTime::Split(100, h, m, s, f, 6);
    EXPECT_EQ(h + m + s + f, 0);
    MTime t = Make(1, 90000 + 1500 * 2 + 25 * 3 + 4);
    EXPECT_EQ(t.GetHours(), 1);
    EXPECT_EQ(t.GetMinutes(), 2);
    EXPECT_EQ(t.GetSeconds(), 3);
    EXPECT_EQ(t.GetFrames(), 4);
}

TEST(MTimeSet, SetHMSFInEveryBase) {
    MTime t;
    EXPECT_TRUE(t.SetHMSF(1, 2, 3, 4));
    EXPECT_EQ(t.GetValue(), 372304);
    EXPECT_FALSE(t.SetHMSF(1, 2, 3, 4));
    t.SetBase(5);
    t.SetHMSF(0, 0, 1, 500);
    EXPECT_EQ(t.GetValue(), 1500);
    t.SetBase(0);
    t.SetHMSF(0, 1, 0, 0);
    EXPECT_EQ(t.GetValue(), 1440);
    // Drop frame: 00:01:00/02 is frame 1800, 00:10:00/00 is frame 17982.
    t.SetBase(3);
    t.SetHMSF(0, 1, 0, 2);
    EXPECT_EQ(t.GetValue(), 1800);
    t.SetHMSF(0, 10, 0, 0);
    EXPECT_EQ(t.GetValue(), 17982);
    // Out-of-range fields saturate instead of overflowing.
    t.SetBase(5);
    t.SetHMSF(INT_MAX, 0, 0, 0);
    EXPECT_EQ(t.GetValue(), INT_MAX);
    t.SetBase(8);
    EXPECT_FALSE(t.SetHMSF(0, 0, 1, 0));
}

TEST(MTimeSet, SystemTimeComesFromTheClockInUtc) {
    FakeClock clock;
    clock.SetLocal(2024, 5, 1, 10, 20, 30, 456);
    MTime t;
    EXPECT_TRUE(t.SetToSystemTime());
    EXPECT_EQ(t.GetValue(), (10 * 3600 + 20 * 60 + 30) * 100 + 45);
    EXPECT_FALSE(t.SetToSystemTime());
    t.SetBase(5);
    t.SetToSystemTime();
    EXPECT_EQ(t.GetValue(), (10 * 3600 + 20 * 60 + 30) * 1000 + 456);
    t.SetBase(0);
    t.SetToSystemTime();
    EXPECT_EQ(t.GetValue(), (10 * 3600 + 20 * 60 + 30) * 24 + 10);
    t.SetBase(3);
    t.SetToSystemTime();
    const int c = (10 * 3600 + 20 * 60 + 30) * 30 + 13;
    EXPECT_EQ(t.GetValue(), c + 2 * ((c / 1800) / 10) - 2 * (c / 1800));
    clock.SetLocal(2024, 5, 1, 0, 0, 0, 0);
    t.SetBase(4);
    EXPECT_TRUE(t.SetToSystemTime());
    EXPECT_EQ(t.GetValue(), 0);
}

TEST(MTimeParse, StrictFormAndItsFallbackToDigits) {
    EXPECT_EQ(ParseOr("01:02:03/25", 1), 93100);  // sub-units equal to the units per second accepted
    EXPECT_EQ(ParseOr("24:00:00/00", 4), 24 * 360000);
    EXPECT_EQ(ParseOr("", 4), 0);
    EXPECT_EQ(ParseOr("01:02:03/004", 5), 3723004);
    EXPECT_EQ(ParseOr("-00:01:01/00", 4), -6100);
    EXPECT_EQ(ParseOr("+00:00:01/00", 4), 100);
    EXPECT_EQ(ParseOr(" 1: 2: 3/ 4", 4), 372304);
    // A lone sign: the empty remainder reads as -1, which the minus then negates.
    EXPECT_EQ(ParseOr("-", 4), 1);
    EXPECT_EQ(ParseOr("+", 4), -1);
    // Digit form: read from the right, single separators skipped, sub-units capped at 99.
    EXPECT_EQ(ParseOr("010203", 4), 372300);
    EXPECT_EQ(ParseOr("1:2:3", 4), 8300);  // "123": one minute and 23 seconds
    EXPECT_EQ(ParseOr("00:00:01.5", 4), 105);
    EXPECT_EQ(ParseOr("24:00:00/250", 5), 24 * 3600000 + 99);
    EXPECT_EQ(ParseOr("00:00:00/50", 0), 2);  // 50 mod 24, the whole seconds dropped
    EXPECT_EQ(ParseOr("00:00:25/00", 4), 2500);
    EXPECT_EQ(ParseOr("99:99:99", 4), 99 * 360000 + 99 * 6000 + 99 * 100);
    EXPECT_EQ(ParseOr("12::34", 4), 3400);  // two separators in a row end the digits
    EXPECT_EQ(ParseOr("00:60:00/00", 4), 60 * 6000);
    EXPECT_EQ(ParseOr("00:-1:00/00", 4), 6000);  // a negative field is read as digits
    int untouched = 77;
    EXPECT_FALSE(MTime::Parse(nullptr, &untouched, 4));
    EXPECT_EQ(untouched, 77);
}

TEST(MTimeParse, DropFrameAndLongTexts) {
    EXPECT_EQ(ParseOr("00:01:00/02", 3), 1800);
    EXPECT_EQ(ParseOr("00:10:00/00", 3), 17982);
    EXPECT_EQ(ParseOr("-00:10:00/00", 3), -17982);
    // Only the first 15 characters count (14 after a sign).
    EXPECT_EQ(ParseOr("00:00:01/0000009", 4), 100);
    EXPECT_EQ(ParseOr("-00:00:01/000009", 4), -100);
    EXPECT_EQ(ParseOr("01:02:03/25999999", 1), 93075 + 99 % 25);  // digit form: capped at 99, mod 25
    EXPECT_EQ(ParseOr("-000000000000001234", 4), 0);
    EXPECT_EQ(ParseOr("00000000000000012", 4), 0);
    EXPECT_EQ(ParseOr("99999999999:00:00/00", 4), 99 * 360000 + 99 * 6000);
    MTime t;
    EXPECT_TRUE(t.SetFromText("00:00:01/50"));
    EXPECT_EQ(t.GetValue(), 150);
    EXPECT_FALSE(t.SetFromText("00:00:01/50"));
    EXPECT_FALSE(t.SetFromText(nullptr));
    EXPECT_EQ(t.GetValue(), 150);
}

TEST(MTimeParse, ArbitraryBytesNeverCrash) {
    std::mt19937 rng(1234);
    const char alphabet[] = "0123456789:/.-+ \t\x80\xff";
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        int len = static_cast<int>(rng() % 24);
        for (int k = 0; k < len; ++k) {
            text += (i & 1) ? static_cast<char>(1 + rng() % 255) : alphabet[rng() % (sizeof alphabet - 1)];
        }
        int v = 0;
        ASSERT_TRUE(MTime::Parse(text.c_str(), &v, static_cast<int>(rng() % 8) - 1));
    }
    // Hostile digit runs in every field.
    int v = 0;
    EXPECT_TRUE(MTime::Parse("9999999999:9999999999", &v, 4));
    EXPECT_TRUE(MTime::Parse("23:59:59/100", &v, 4));
    EXPECT_EQ(v, 23 * 360000 + 59 * 6000 + 59 * 100 + 100);
}

TEST(MTimeConvert, HundredthsBothWays) {
    EXPECT_EQ(MTime::ToHundredths(24, 0), 100);
    EXPECT_EQ(MTime::ToHundredths(1, 0), 4);     // 4.1666 truncated
    EXPECT_EQ(MTime::ToHundredths(2, 0), 8);     // 8.333
    EXPECT_EQ(MTime::ToHundredths(5, 0), 21);    // 20.83 rounds up
    EXPECT_EQ(MTime::ToHundredths(-5, 0), -20);  // negatives truncate toward zero
    EXPECT_EQ(MTime::ToHundredths(7, 1), 28);
    EXPECT_EQ(MTime::ToHundredths(1, 2), 3);
    EXPECT_EQ(MTime::ToHundredths(2, 2), 7);
    EXPECT_EQ(MTime::ToHundredths(17982, 3), 60000);  // ten drop-frame minutes
    EXPECT_EQ(MTime::ToHundredths(77, 4), 77);
    EXPECT_EQ(MTime::ToHundredths(1999, 5), 199);
    EXPECT_EQ(MTime::ToHundredths(5, 6), 0);
    EXPECT_EQ(MTime::ToHundredths(INT_MAX, 0), INT_MAX);  // held at the end of the range

    EXPECT_EQ(MTime::FromHundredths(100, 0), 24);
    EXPECT_EQ(MTime::FromHundredths(3, 0), 1);    // 0.72 rounds up
    EXPECT_EQ(MTime::FromHundredths(-3, 0), -1);  // magnitude rounded, sign kept
    EXPECT_EQ(MTime::FromHundredths(5, 2), 1);    // 1.5 exactly stays 1
    EXPECT_EQ(MTime::FromHundredths(6, 2), 2);    // 1.8
    EXPECT_EQ(MTime::FromHundredths(60000, 3), 17982);
    EXPECT_EQ(MTime::FromHundredths(-60000, 3), -17982);
    EXPECT_EQ(MTime::FromHundredths(7, 1), 1);
    EXPECT_EQ(MTime::FromHundredths(7, 5), 70);
    EXPECT_EQ(MTime::FromHundredths(INT_MAX, 5), INT_MAX);
    EXPECT_EQ(MTime::FromHundredths(INT_MIN, 5), INT_MIN);
    EXPECT_EQ(MTime::FromHundredths(5, -1), 0);
}

TEST(MTimeConvert, DisplayTextsAndValues) {
    MTime t = Make(1, 25);
    t.SetDisplayBase(0);
    EXPECT_STREQ(t.ToDisplayText(), "00:00:01/00");
    EXPECT_EQ(t.GetDisplayValue(), 24);
    t.SetDisplayBase(5);
    EXPECT_STREQ(t.ToDisplayText(), "00:00:01/000");
    EXPECT_EQ(t.GetDisplayValue(), 1000);
    t.SetDisplayBase(1);
    EXPECT_EQ(t.GetDisplayValue(), 25);  // same base: the value itself

    // Milliseconds pass through hundredths.
    MTime ms = Make(5, 3723009);
    ms.SetDisplayBase(4);
    EXPECT_STREQ(ms.ToDisplayText(), "01:02:03/00");
    EXPECT_EQ(ms.GetDisplayValue(), 372300);
    MTime h = Make(4, 150);
    h.SetDisplayBase(5);
    EXPECT_EQ(h.GetDisplayValue(), 1500);  // as a timeout reads it
    h.SetValue(-150);
    EXPECT_STREQ(h.ToDisplayText(), "-00:00:01/500");
    EXPECT_EQ(h.GetDisplayValue(), -1500);

    MTime bad = Make(4, 100);
    bad.SetDisplayBase(7);
    EXPECT_STREQ(bad.ToDisplayText(), "00:00:00/00");
    bad.SetBase(6);
    bad.SetDisplayBase(4);
    EXPECT_STREQ(bad.ToDisplayText(), "00:00:00/00");
    // The two buffers are separate: the display text does not overwrite the own text.
    MTime both = Make(5, 1234);
    both.SetDisplayBase(4);
    const char* own = both.ToText();
    const char* shown = both.ToDisplayText();
    EXPECT_STREQ(own, "00:00:01/234");
    EXPECT_STREQ(shown, "00:00:01/23");
}

TEST(MTimeConvert, DisplayFieldsFollowTheSeparators) {
    MTime t = Make(5, -3723004);
    t.SetDisplayBase(5);
    EXPECT_EQ(t.GetDisplayHours(), 1);
    EXPECT_EQ(t.GetDisplayMinutes(), 2);
    EXPECT_EQ(t.GetDisplaySeconds(), 3);
    EXPECT_EQ(t.GetDisplayFrames(), 0);  // 3723004 ms is 372300 hundredths: the last millisecond goes
    MTime longer = Make(4, 123 * 360000 + 4 * 6000 + 5 * 100 + 6);
    longer.SetDisplayBase(4);
    EXPECT_STREQ(longer.ToDisplayText(), "123:04:05/06");
    EXPECT_EQ(longer.GetDisplayHours(), 123);
    EXPECT_EQ(longer.GetDisplayMinutes(), 4);
    EXPECT_EQ(longer.GetDisplaySeconds(), 5);
    EXPECT_EQ(longer.GetDisplayFrames(), 6);
}
