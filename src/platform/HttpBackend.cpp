#include "platform/HttpBackend.h"

#include <atomic>

namespace platform {
namespace {

const HttpTimeouts kDefaults;
std::atomic<uint32_t> g_connectMs{kDefaults.connectMs};
std::atomic<uint32_t> g_sendMs{kDefaults.sendMs};
std::atomic<uint32_t> g_receiveMs{kDefaults.receiveMs};
std::atomic<uint32_t> g_exchangeMs{kDefaults.exchangeMs};

}  // namespace

void SetHttpTimeoutsForTesting(const HttpTimeouts* timeouts) {
    const HttpTimeouts& t = timeouts ? *timeouts : kDefaults;
    g_connectMs = t.connectMs;
    g_sendMs = t.sendMs;
    g_receiveMs = t.receiveMs;
    g_exchangeMs = t.exchangeMs;
}

HttpTimeouts CurrentHttpTimeouts() {
    HttpTimeouts t;
    t.connectMs = g_connectMs;
    t.sendMs = g_sendMs;
    t.receiveMs = g_receiveMs;
    t.exchangeMs = g_exchangeMs;
    return t;
}

}  // namespace platform
