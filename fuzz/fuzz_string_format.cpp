// MString::Format with fuzzed directives: flags, widths and precisions (written out or taken from '*'
// arguments), length modifiers and conversions, each directive given an argument of the type it reads,
// between literal texts. The result must be exactly what the C library prints for the same call.
#include <fuzzer/FuzzedDataProvider.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "framework/MString.h"

namespace {

// The C library's own rendering, or nothing when it fails (too long, an unprintable wide text).
bool Reference(std::string* out, const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (n < 0) {
        va_end(again);
        return false;
    }
    std::vector<char> buffer(static_cast<size_t>(n) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, again);
    va_end(again);
    out->assign(buffer.data(), static_cast<size_t>(n));
    return true;
}

// Literal text with every '%' doubled, so that only the built directive converts.
std::string Literal(FuzzedDataProvider& input) {
    std::string raw = input.ConsumeRandomLengthString(24);
    std::string safe;
    for (char c : raw) {
        if (c == '\0') break;
        safe += c;
        if (c == '%') safe += '%';
    }
    return safe;
}

// A width or precision as written in the directive: none, or up to five digits, leading zeros included.
// Numbers beyond the int range are left out: Format's estimate for them is the int maximum, and the
// buffer of that size it takes before the printing fails costs the fuzzer a second a run. The failing
// printing itself is reached through unprintable wide texts.
std::string Number(FuzzedDataProvider& input) {
    switch (input.ConsumeIntegralInRange<int>(0, 7)) {
        case 0:
            return "";
        case 1:
            return "0" + std::to_string(input.ConsumeIntegralInRange<int>(0, 999));
        default:
            return std::to_string(input.ConsumeIntegralInRange<int>(0, 99999));
    }
}

// A value for '*': small ones of either sign (a negative width means left-justified, a negative precision
// none). The most negative int only as a precision: as a width the C library pads to 2^31 characters.
int StarValue(FuzzedDataProvider& input, bool precision) {
    if (precision && input.ConsumeIntegralInRange<int>(0, 15) == 0) return INT_MIN;
    return input.ConsumeIntegralInRange<int>(-99999, 99999);
}

enum class Arg { kInt, kLong, kLongLong, kShort, kChar, kDouble, kLongDouble, kText, kWideText, kPointer };

struct Conversion {
    const char* modifier;
    char conversion;
    Arg arg;
};

const Conversion kConversions[] = {
    {"", 'd', Arg::kInt},         {"", 'i', Arg::kInt},         {"", 'u', Arg::kInt},
    {"", 'x', Arg::kInt},         {"", 'X', Arg::kInt},         {"", 'o', Arg::kInt},
    {"h", 'd', Arg::kShort},      {"hh", 'u', Arg::kChar},      {"l", 'd', Arg::kLong},
    {"l", 'x', Arg::kLong},       {"ll", 'd', Arg::kLongLong},  {"ll", 'u', Arg::kLongLong},
    {"ll", 'X', Arg::kLongLong},  {"j", 'd', Arg::kLongLong},   {"z", 'u', Arg::kLongLong},
    {"", 'c', Arg::kInt},         {"", 'f', Arg::kDouble},      {"", 'F', Arg::kDouble},
    {"", 'e', Arg::kDouble},      {"", 'E', Arg::kDouble},      {"", 'g', Arg::kDouble},
    {"", 'G', Arg::kDouble},      {"", 'a', Arg::kDouble},      {"", 'A', Arg::kDouble},
    {"L", 'f', Arg::kLongDouble}, {"L", 'g', Arg::kLongDouble}, {"", 's', Arg::kText},
    {"l", 's', Arg::kWideText},   {"", 'p', Arg::kPointer},
};

double FuzzDouble(FuzzedDataProvider& input) {
    switch (input.ConsumeIntegralInRange<int>(0, 7)) {
        case 0:
            return 1.7e308;
        case 1:
            return -DBL_MAX;
        case 2:
            return NAN;
        case 3:
            return -INFINITY;
        case 4:
            return DBL_TRUE_MIN;
        default:
            return input.ConsumeFloatingPoint<double>();
    }
}

// Prints with the directive's argument after `stars` int arguments for '*'; checks against the reference.
template <typename T>
void Check(const std::string& format, int stars, int star1, int star2, T argument) {
    MString text("previous text");
    std::string expected;
    bool printable;
    int n;
    const char* f = format.c_str();
    std::fprintf(stderr, "format \"%s\" stars %d %d %d\n", f, stars, star1, star2);
    if (stars == 0) {
        printable = Reference(&expected, f, argument);
        n = text.Format(f, argument);
    } else if (stars == 1) {
        printable = Reference(&expected, f, star1, argument);
        n = text.Format(f, star1, argument);
    } else {
        printable = Reference(&expected, f, star1, star2, argument);
        n = text.Format(f, star1, star2, argument);
    }
    if (!printable) {
        // Nothing printable: an empty string and 0, never a partial or stale text.
        FUZZ_CHECK(n == 0);
        FUZZ_CHECK(text.GetLength() == 0);
        return;
    }
    FUZZ_CHECK(n == static_cast<int>(expected.size()));
    FUZZ_CHECK(text.GetLength() == n);
    FUZZ_CHECK(std::memcmp(text.Get(), expected.data(), expected.size()) == 0);
    FUZZ_CHECK(text.Get()[n] == '\0');
}

}  // namespace

#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const Conversion& c = input.PickValueInArray(kConversions);
    std::string format = Literal(input) + "%";
    static const char kFlags[] = {'-', '+', ' ', '#', '0'};
    int flagCount = input.ConsumeIntegralInRange<int>(0, 3);
    for (int i = 0; i < flagCount; ++i) format += input.PickValueInArray(kFlags);
    // The '*' values in the order the directive takes them.
    int stars = 0;
    int starValues[2] = {0, 0};
    if (input.ConsumeBool()) {
        format += '*';
        starValues[stars++] = StarValue(input, false);
    } else {
        format += Number(input);
    }
    if (input.ConsumeBool()) {
        format += '.';
        if (input.ConsumeBool()) {
            format += '*';
            starValues[stars++] = StarValue(input, true);
        } else {
            format += Number(input);
        }
    }
    format += c.modifier;
    format += c.conversion;
    format += Literal(input);
    int star1 = starValues[0];
    int star2 = starValues[1];

    switch (c.arg) {
        case Arg::kInt:
            Check(format, stars, star1, star2, input.ConsumeIntegral<int>());
            break;
        case Arg::kShort:
            Check(format, stars, star1, star2, static_cast<int>(input.ConsumeIntegral<short>()));
            break;
        case Arg::kChar:
            Check(format, stars, star1, star2, static_cast<int>(input.ConsumeIntegral<unsigned char>()));
            break;
        case Arg::kLong:
            Check(format, stars, star1, star2, input.ConsumeIntegral<long>());
            break;
        case Arg::kLongLong:
            Check(format, stars, star1, star2, input.ConsumeIntegral<long long>());
            break;
        case Arg::kDouble:
            Check(format, stars, star1, star2, FuzzDouble(input));
            break;
        case Arg::kLongDouble:
            Check(format, stars, star1, star2, static_cast<long double>(FuzzDouble(input)));
            break;
        case Arg::kPointer:
            Check(format, stars, star1, star2,
                  reinterpret_cast<void*>(static_cast<uintptr_t>(input.ConsumeIntegral<uintptr_t>())));
            break;
        case Arg::kText: {
            bool null = input.ConsumeIntegralInRange<int>(0, 15) == 0;
            std::string argument = input.ConsumeRemainingBytesAsString();
            Check(format, stars, star1, star2, null ? static_cast<const char*>(nullptr) : argument.c_str());
            break;
        }
        case Arg::kWideText: {
            std::wstring argument;
            while (input.remaining_bytes() > 0 && argument.size() < 64) {
                argument += static_cast<wchar_t>(input.ConsumeIntegralInRange<uint32_t>(1, 0x10FFFF));
            }
            Check(format, stars, star1, star2, argument.c_str());
            break;
        }
    }
    return 0;
}
