// The host's XML reply with a group's data items (request 7), any bytes.
#include <cstdint>
#include <memory>
#include <string>

#include "FuzzReply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::unique_ptr<char[]> copy = FuzzHeapText(data, size);
    const char* text = copy.get();
    CheckingConsumer consumer(77);
    bool read = korrel_reply::ReadItems(text, &consumer, 77);
    CheckRefusal(text, read, consumer);
    return 0;
}
