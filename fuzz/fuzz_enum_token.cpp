// An enumerated variable's "var_data" text from the server, read item by item into buffers of every size.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "FuzzCheck.h"
#include "calendar/MCalendarEnumVariable.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    // Buffers from none at all to a little more than the item limit, each exactly as large as claimed.
    size_t bufferSize = input.ConsumeIntegralInRange<size_t>(0, kEnumItemBufferSize + 8);
    std::string text = input.ConsumeRemainingBytesAsString();
    std::unique_ptr<char[]> heapText(new char[text.size() + 1]);
    std::memcpy(heapText.get(), text.c_str(), text.size() + 1);
    const char* end = heapText.get() + std::strlen(heapText.get());

    std::unique_ptr<char[]> buffer(bufferSize ? new char[bufferSize] : nullptr);
    const char* cursor = heapText.get();
    size_t items = 0;
    while (*cursor) {
        const char* before = cursor;
        bool got = NextEnumToken(&cursor, buffer.get(), bufferSize);
        // The cursor always moves forward and never past the terminator, so the reading ends.
        FUZZ_CHECK(cursor > before && cursor <= end);
        if (bufferSize > 0) {
            FUZZ_CHECK(std::memchr(buffer.get(), '\0', bufferSize) != nullptr);
            if (got) {
                // The item is a prefix of the text it was read from, leading blanks passed over.
                const char* item = before;
                while (*item == ' ' || *item == '\t') ++item;
                size_t length = std::strlen(buffer.get());
                FUZZ_CHECK(std::strncmp(item, buffer.get(), length) == 0);
                FUZZ_CHECK(std::memchr(buffer.get(), ',', length) == nullptr);
            }
        }
        if (got) ++items;
    }

    // The whole text through the variable: as many items as the reading above found, each within limit.
    MCalendarEnumVariable variable(1, "fuzzed");
    variable.AppendItemsFromText(heapText.get());
    FUZZ_CHECK(variable.values.size() == items);
    for (const std::string& item : variable.values) FUZZ_CHECK(item.size() <= kEnumItemMaxLength);
    return 0;
}
