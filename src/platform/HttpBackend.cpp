#include "platform/HttpBackend.h"

#include <atomic>
#include <mutex>

namespace platform {
namespace {

const HttpTimeouts kDefaults;
std::atomic<uint32_t> g_connectMs{kDefaults.connectMs};
std::atomic<uint32_t> g_sendMs{kDefaults.sendMs};
std::atomic<uint32_t> g_receiveMs{kDefaults.receiveMs};

std::mutex g_proxyMutex;
bool g_proxyGiven = false;
HttpProxySetting g_proxy;

}  // namespace

void SetHttpTimeoutsForTesting(const HttpTimeouts* timeouts) {
    const HttpTimeouts& t = timeouts ? *timeouts : kDefaults;
    g_connectMs = t.connectMs;
    g_sendMs = t.sendMs;
    g_receiveMs = t.receiveMs;
}

HttpTimeouts CurrentHttpTimeouts() {
    HttpTimeouts t;
    t.connectMs = g_connectMs;
    t.sendMs = g_sendMs;
    t.receiveMs = g_receiveMs;
    return t;
}

void SetHttpProxyForTesting(const HttpProxySetting* setting) {
    std::lock_guard<std::mutex> lock(g_proxyMutex);
    g_proxyGiven = setting != nullptr;
    g_proxy = setting ? *setting : HttpProxySetting();
}

bool CurrentHttpProxyForTesting(HttpProxySetting* setting) {
    std::lock_guard<std::mutex> lock(g_proxyMutex);
    if (g_proxyGiven && setting) *setting = g_proxy;
    return g_proxyGiven;
}

}  // namespace platform
