#include "framework/MTime.h"
#include "framework/ClampToInt.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/Clock.h"

namespace {

struct BaseUnits {
    int perSecond;
    int perMinute;
    int perHour;
};

const BaseUnits kUnits[6] = {
    {24, 1440, 86400},  {25, 1500, 90000},   {30, 1800, 108000},
    {30, 1800, 108000}, {100, 6000, 360000}, {1000, 60000, 3600000},
};

bool ValidBase(int base) {
    return base >= 0 && base <= 5;
}

const char kZeroText[] = "00:00:00/00";

// Integral part, plus one when the fraction exceeds a half; negative quotients are thereby truncated.
int RoundUpPositiveHalf(double q) {
    double whole = std::trunc(q);
    double fraction = q - whole;
    return ClampToInt(whole + (fraction > 0.5 ? 1.0 : 0.0));
}

// Magnitude rounded half up, sign kept.
double RoundMagnitude(double q) {
    double whole = std::fabs(std::trunc(q));
    double fraction = std::fabs(q - std::trunc(q));
    return whole + (fraction > 0.5 ? 1.0 : 0.0);
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads a number as the C library's "%d" scan does: leading white space, an optional sign, digits.
// Large numbers saturate instead of overflowing.
bool ScanNumber(const char*& p, long long* out) {
    const char* q = p;
    while (*q == ' ' || (*q >= '\t' && *q <= '\r')) ++q;
    bool negative = false;
    if (*q == '+' || *q == '-') negative = *q++ == '-';
    if (!IsDigit(*q)) return false;
    long long v = 0;
    for (; IsDigit(*q); ++q) {
        if (v < 1000000000000LL) v = v * 10 + (*q - '0');
    }
    *out = negative ? -v : v;
    p = q;
    return true;
}

// The strict form hh:mm:ss/ff with every field in range for the base.
bool ParseFields(const char* p, const BaseUnits& u, long long* value) {
    long long h, m, s, f;
    if (!ScanNumber(p, &h) || *p++ != ':') return false;
    if (!ScanNumber(p, &m) || *p++ != ':') return false;
    if (!ScanNumber(p, &s) || *p++ != '/') return false;
    if (!ScanNumber(p, &f)) return false;
    // A negative field is no time of day: such a text is read in the digit form instead.
    if (h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 59 || f < 0 || f > u.perSecond) return false;
    *value = h * u.perHour + m * u.perMinute + s * u.perSecond + f;
    return true;
}

// The lenient form: sub-units after the first '/' or '.', then up to six digits read from the right as
// seconds, minutes and hours, with single separators between them skipped.
long long ParseDigits(const char* body, const BaseUnits& u) {
    size_t length = std::strlen(body);
    long long sub = 0;
    const char* separator = std::strpbrk(body, "/.");
    if (separator) {
        for (const char* p = separator + 1; IsDigit(*p) && sub <= 99; ++p) sub = sub * 10 + (*p - '0');
        if (sub > 99) sub = 99;
        // Whole seconds in an over-large field are dropped, not carried.
        if (sub > u.perSecond) sub %= u.perSecond;
        length = static_cast<size_t>(separator - body);
    }
    int digits[6] = {0, 0, 0, 0, 0, 0};
    int collected = 0;
    bool skipped = false;
    for (size_t i = length; i > 0 && collected < 6; --i) {
        char c = body[i - 1];
        if (IsDigit(c)) {
            digits[collected++] = c - '0';
            skipped = false;
        } else if (!skipped) {
            skipped = true;
        } else {
            break;
        }
    }
    long long seconds = digits[0] + 10 * digits[1];
    long long minutes = digits[2] + 10 * digits[3];
    long long hours = digits[4] + 10 * digits[5];
    return sub + seconds * u.perSecond + minutes * u.perMinute + hours * u.perHour;
}

}  // namespace

MTime::MTime() = default;

MTime::MTime(int value) : value_(value) {}

MTime::MTime(const MTime& other)
    : base_(other.base_), value_(other.value_), displayBase_(other.displayBase_) {}

MTime& MTime::operator=(const MTime& other) {
    base_ = other.base_;
    value_ = other.value_;
    return *this;
}

MTime::~MTime() = default;

bool MTime::SetBase(int base) {
    bool changed = base_ != base;
    base_ = base;
    return changed;
}

bool MTime::SetValue(int value) {
    bool changed = value_ != value;
    value_ = value;
    return changed;
}

bool MTime::SetFromText(const char* text) {
    int parsed = value_;
    if (!Parse(text, &parsed, base_)) return false;
    return SetValue(parsed);
}

const char* MTime::ToText() const {
    Format(value_, text_, base_);
    return text_;
}

const char* MTime::ToDisplayText() const {
    if (!ValidBase(base_) || !ValidBase(displayBase_)) {
        std::snprintf(displayText_, sizeof displayText_, "%s", kZeroText);
        return displayText_;
    }
    int hundredths;
    if (base_ == kBaseHundredths)
        hundredths = value_;
    else if (base_ == kBaseMilliseconds)
        hundredths = value_ / 10;
    else
        hundredths = ToHundredths(value_, base_);
    // Hundredths convert to bases 4 and 5 exactly (h and h x 10), the same as the direct forms.
    Format(FromHundredths(hundredths, displayBase_), displayText_, displayBase_);
    return displayText_;
}

int MTime::GetDisplayValue() const {
    if (base_ == displayBase_) return value_;
    int value = 0;
    Parse(ToDisplayText(), &value, displayBase_);
    return value;
}

int MTime::GetHours() const {
    int h, m, s, f;
    Split(value_, h, m, s, f, base_);
    return h;
}

int MTime::GetMinutes() const {
    int h, m, s, f;
    Split(value_, h, m, s, f, base_);
    return m;
}

int MTime::GetSeconds() const {
    int h, m, s, f;
    Split(value_, h, m, s, f, base_);
    return s;
}

int MTime::GetFrames() const {
    int h, m, s, f;
    Split(value_, h, m, s, f, base_);
    return f;
}

// Fields are found by their separators rather than at fixed columns, so that hours of three or more
// digits (the text does not wrap at 24) do not shift the other fields.
int MTime::DisplayField(int index) const {
    const char* p = ToDisplayText();
    if (*p == '-') ++p;
    for (int field = 0;; ++field) {
        int v = 0;
        for (; IsDigit(*p); ++p) v = v * 10 + (*p - '0');
        if (field == index) return v;
        if (*p == '\0') return 0;
        ++p;
    }
}

int MTime::GetDisplayHours() const {
    return DisplayField(0);
}
int MTime::GetDisplayMinutes() const {
    return DisplayField(1);
}
int MTime::GetDisplaySeconds() const {
    return DisplayField(2);
}
int MTime::GetDisplayFrames() const {
    return DisplayField(3);
}

bool MTime::SetToSystemTime() {
    platform::CalendarTime now = platform::UtcTimeNow();
    long long t = now.hour * 3600LL + now.minute * 60LL + now.second;
    long long ms = now.milliseconds;
    long long v;
    switch (base_) {
        case kBase24Fps:
            v = t * 24 + ms * 24 / 1000;
            break;
        case kBase25Fps:
            v = t * 25 + ms * 25 / 1000;
            break;
        case kBase30Fps:
            v = t * 30 + ms * 30 / 1000;
            break;
        case kBase30FpsDrop: {
            v = t * 30 + ms * 30 / 1000;
            long long q = v / 1800;
            v += 2 * (q / 10) - 2 * q;
            break;
        }
        case kBaseHundredths:
            v = t * 100 + ms / 10;
            break;
        case kBaseMilliseconds:
            v = t * 1000 + ms;
            break;
        default:
            return false;
    }
    return SetValue(ClampToInt(v));
}

bool MTime::SetHMSF(int h, int m, int s, int f) {
    if (!ValidBase(base_)) return false;
    long long t = h * 3600LL + m * 60LL + s;
    long long v;
    if (base_ == kBase30FpsDrop) {
        v = t * 30 + f;
        v += 2 * (v / 18000) - 2 * (v / 1800);
    } else {
        v = t * kUnits[base_].perSecond + f;
    }
    return SetValue(ClampToInt(v));
}

void MTime::Split(int value, int& h, int& m, int& s, int& f, int base) {
    h = m = s = f = 0;
    if (!ValidBase(base)) return;
    const BaseUnits& u = kUnits[base];
    long long d = value < 0 ? -static_cast<long long>(value) : value;
    if (base == kBase30FpsDrop) d += 2 * (d / 1800) - 2 * (d / 18000);
    h = static_cast<int>(d / u.perHour);
    m = static_cast<int>((d % u.perHour) / u.perMinute);
    s = static_cast<int>((d % u.perMinute) / u.perSecond);
    f = static_cast<int>(d % u.perSecond);
}

void MTime::Format(int value, char* out, int base) {
    if (!out) return;
    if (!ValidBase(base)) {
        std::snprintf(out, kTextSize, "%s", kZeroText);
        return;
    }
    int h, m, s, f;
    Split(value, h, m, s, f, base);
    const char* sign = value < 0 ? "-" : "";
    // No 32-bit value needs more than the text buffer; the wide scratch only keeps the printing bounded
    // for any field values, and the copy cuts at the buffer's size all the same.
    char scratch[64];
    if (base == kBaseMilliseconds)
        std::snprintf(scratch, sizeof scratch, "%s%02d:%02d:%02d/%03d", sign, h, m, s, f);
    else
        std::snprintf(scratch, sizeof scratch, "%s%02d:%02d:%02d/%02d", sign, h, m, s, f);
    std::snprintf(out, kTextSize, "%.*s", kTextSize - 1, scratch);
}

bool MTime::Parse(const char* text, int* value, int base) {
    if (!text) return false;
    int result = 0;
    if (*text == '\0' || !ValidBase(base)) {
        if (value) *value = result;
        return true;
    }
    const BaseUnits& u = kUnits[base];
    // At most 15 characters are considered, the sign included.
    char copy[16];
    size_t n = 0;
    while (n < sizeof copy - 1 && text[n] != '\0') {
        copy[n] = text[n];
        ++n;
    }
    copy[n] = '\0';
    const char* body = copy;
    bool negative = false;
    if (*body == '-') {
        negative = true;
        ++body;
    } else if (*body == '+') {
        ++body;
    }
    long long v;
    if (*body == '\0') {
        v = -1;
    } else if (!ParseFields(body, u, &v)) {
        v = ParseDigits(body, u);
    }
    if (base == kBase30FpsDrop) v -= 2 * (v / 1800 - v / 18000);
    if (negative) v = -v;
    result = ClampToInt(v);
    if (value) *value = result;
    return true;
}

int MTime::ToHundredths(int value, int base) {
    switch (base) {
        case kBase24Fps:
            return RoundUpPositiveHalf(static_cast<double>(value) * 100.0 / 24.0);
        case kBase30Fps:
            return RoundUpPositiveHalf(static_cast<double>(value) * 100.0 / 30.0);
        case kBase30FpsDrop: {
            long long v = value;
            v += 2 * (v / 1800 - v / 18000);
            return RoundUpPositiveHalf(static_cast<double>(v) * 100.0 / 30.0);
        }
        case kBase25Fps:
            return ClampToInt(static_cast<long long>(value) * 100 / 25);
        case kBaseHundredths:
            return value;
        case kBaseMilliseconds:
            return value / 10;
        default:
            return 0;
    }
}

int MTime::FromHundredths(int value, int base) {
    double sign = value < 0 ? -1.0 : 1.0;
    switch (base) {
        case kBase24Fps:
            return ClampToInt(sign * RoundMagnitude(static_cast<double>(value) * 24.0 / 100.0));
        case kBase30Fps:
            return ClampToInt(sign * RoundMagnitude(static_cast<double>(value) * 30.0 / 100.0));
        case kBase30FpsDrop: {
            long long v = static_cast<long long>(RoundMagnitude(static_cast<double>(value) * 30.0 / 100.0));
            long long e = v / 1800;
            v += 2 * (e / 10) - 2 * e;
            return ClampToInt(static_cast<long long>(sign) * v);
        }
        case kBase25Fps:
            return ClampToInt(static_cast<long long>(value) * 25 / 100);
        case kBaseHundredths:
            return value;
        case kBaseMilliseconds:
            return ClampToInt(static_cast<long long>(value) * 10);
        default:
            return 0;
    }
}
