// Time texts as a host or a user types them, read in every time base (the unknown ones included), and the
// text forms of whatever value comes out.
#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "FuzzCheck.h"
#include "framework/MTime.h"

namespace {

// The text form of `value` printed into a buffer of exactly kTextSize bytes.
std::string Printed(int value, int base) {
    std::unique_ptr<char[]> out(new char[MTime::kTextSize]);
    MTime::Format(value, out.get(), base);
    FUZZ_CHECK(std::memchr(out.get(), '\0', MTime::kTextSize) != nullptr);
    return out.get();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    int base = input.ConsumeIntegralInRange<int>(-1, 6);
    int displayBase = input.ConsumeIntegralInRange<int>(-1, 6);
    std::string text = input.ConsumeRemainingBytesAsString();
    std::unique_ptr<char[]> heapText(new char[text.size() + 1]);
    std::memcpy(heapText.get(), text.c_str(), text.size() + 1);

    int value = 0x5a5a;
    FUZZ_CHECK(MTime::Parse(heapText.get(), &value, base));
    FUZZ_CHECK(MTime::Parse(heapText.get(), nullptr, base));

    // The parsed value in every base and display base: texts stay within their buffers.
    for (int b = -1; b <= 6; ++b) Printed(value, b);
    std::string printed = Printed(value, base);
    long long perDay = base == MTime::kBaseMilliseconds ? 24LL * 3600000 : 24LL * 360000;
    bool withinDay = value > -perDay && value < perDay;
    if (withinDay && (base == MTime::kBaseHundredths || base == MTime::kBaseMilliseconds)) {
        // In the plain bases the text form of a time within a day reads back as the same value (longer
        // texts read as times of day, by design).
        int back = 0;
        FUZZ_CHECK(MTime::Parse(printed.c_str(), &back, base));
        FUZZ_CHECK(back == value);
    }

    MTime time;
    time.SetBase(base);
    time.SetDisplayBase(displayBase);
    time.SetFromText(heapText.get());
    FUZZ_CHECK(time.GetValue() == value);
    FUZZ_CHECK(std::strlen(time.ToText()) < static_cast<size_t>(MTime::kTextSize));
    FUZZ_CHECK(std::strlen(time.ToDisplayText()) < static_cast<size_t>(MTime::kTextSize));
    (void)time.GetDisplayValue();
    (void)time.GetDisplayHours();
    (void)time.GetDisplayMinutes();
    (void)time.GetDisplaySeconds();
    (void)time.GetDisplayFrames();
    (void)time.GetHours();
    (void)time.GetFrames();
    (void)MTime::ToHundredths(value, base);
    (void)MTime::FromHundredths(value, base);
    return 0;
}
