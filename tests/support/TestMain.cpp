#include <gtest/gtest.h>

#include "platform/HttpBackend.h"

int main(int argc, char** argv) {
    // No test looks for a proxy on the network: the environment names it, as each test sets it.
    platform::HttpProxySetting environment;
    environment.fromEnvironment = true;
    platform::SetHttpProxyForTesting(&environment);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
