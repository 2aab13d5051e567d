#include "SlowLookup.h"

#if !defined(_WIN32)
#include <dlfcn.h>
#include <netdb.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

namespace {
std::atomic<int> g_begun{0};
}

int lookup_test::SlowLookupsBegun() {
    return g_begun.load();
}

// Replaces the C library's function for the whole program (the program exports it, whatever the
// build's default visibility).
extern "C" __attribute__((visibility("default"))) int getaddrinfo(const char* node, const char* service,
                                                                  const struct addrinfo* hints,
                                                                  struct addrinfo** result) {
    using Fn = int (*)(const char*, const char*, const struct addrinfo*, struct addrinfo**);
    static Fn system = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "getaddrinfo"));
    if (node != nullptr && std::strcmp(node, lookup_test::kSlowHost) == 0) {
        ++g_begun;
        std::this_thread::sleep_for(std::chrono::milliseconds(lookup_test::kSlowLookupMs));
        node = "127.0.0.1";
    }
    return system(node, service, hints, result);
}
#else
int lookup_test::SlowLookupsBegun() {
    return 0;
}
#endif
