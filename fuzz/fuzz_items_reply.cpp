// The host's XML reply with a group's data items (request 7), any bytes.
#include <cstdint>
#include <memory>
#include <string>

#include "FuzzReply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A heap copy of exactly the input and its terminator: reading one byte too far is reported.
    std::unique_ptr<char[]> copy(new char[size + 1]);
    std::memcpy(copy.get(), data, size);
    copy[size] = '\0';
    const char* text = copy.get();
    CheckingConsumer consumer(77);
    bool read = korrel_reply::ReadItems(text, &consumer, 77);
    CheckRefusal(text, read, consumer);
    return 0;
}
