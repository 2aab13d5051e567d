// Shared by the fuzz targets of the host's XML replies: a consumer that checks what it is handed.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzCheck.h"
#include "hostsync/KorrelRemote.h"

class CheckingConsumer : public IKorrelRemoteCallback, public IMRUserGroupIteratorCallback {
public:
    explicit CheckingConsumer(int32_t context) : context_(context) {}

    void OnUserGroup(const char* name, int depth) override {
        FUZZ_CHECK(name != nullptr);
        // Depths count the levels of the reply, which is never deeper than the limit.
        FUZZ_CHECK(depth >= 0 && depth < korrel_reply::kMaxReplyDepth);
        bytes += std::strlen(name);
        ++calls;
    }
    void OnItem(const char* name, int kind, int32_t context) override {
        FUZZ_CHECK(name != nullptr);
        FUZZ_CHECK(kind >= IMRUserGroupIteratorCallback::kIntegerData &&
                   kind <= IMRUserGroupIteratorCallback::kEnumData);
        FUZZ_CHECK(context == context_);
        bytes += std::strlen(name);
        ++calls;
    }

    size_t bytes = 0;
    int calls = 0;

private:
    int32_t context_;
};

// A reply nested deeper than the limit is refused before parsing, and nothing is reported for it.
inline void CheckRefusal(const std::string& reply, bool read, const CheckingConsumer& consumer) {
    if (korrel_reply::NestingDepth(reply.c_str()) > korrel_reply::kMaxReplyDepth) {
        FUZZ_CHECK(!read);
        FUZZ_CHECK(consumer.calls == 0);
    }
    if (!read) FUZZ_CHECK(consumer.calls == 0);
}
