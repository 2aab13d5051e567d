// Stop while the server's name is still being looked up, with the plug-in loaded as the host loads it.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "SlowLookup.h"
#include "platform/SharedLibrary.h"
#include "support/Eventually.h"
#include "support/PluginTestHost.h"
#include "zrk/ZrkHost.h"

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

TEST(StopDuringLookup, ReturnsPromptlyAndTheLibraryOutlivesTheLookupThread) {
#if defined(_WIN32)
    GTEST_SKIP() << "the lookup is replaced on POSIX only";
#else
    platform::SharedLibrary library;
    ASSERT_TRUE(library.Open(ZRK_PLUGIN_PATH)) << library.Error();
    auto entry = reinterpret_cast<ZrkEntryPointFn>(library.Symbol(ZRK_ENTRY_POINT_NAME));
    ASSERT_NE(entry, nullptr);
    plugin_test::TestRootHost host;
    plugin_test::TestHostDevice hostDevice;
    IZRKModule* module = nullptr;
    ASSERT_EQ(entry(&module), kZrkOk);
    ASSERT_EQ(module->Initialize(&host, 0, 0), kZrkOk);
    ASSERT_EQ(module->SetHostReady(1), kZrkOk);
    IZRKDevice* device = nullptr;
    ASSERT_EQ(module->CreateDevice(0, &device), kZrkOk);
    device->SetHostDevice(&hostDevice);
    const std::string settings =
        std::string("<DeviceData Version=\"1000\" Name=\"\"><Setup Local=\"1\" URL=\"http://") +
        lookup_test::kSlowHost + ":9\" RefreshPeriod=\"10\" Lookahead=\"1\" LocationId=\"1\"/></DeviceData>";
    ASSERT_EQ(device->LoadSettings(settings.c_str()), kZrkOk);

    ASSERT_EQ(device->Start(), kZrkOk);
    ASSERT_TRUE(Eventually([] { return lookup_test::SlowLookupsBegun() == 1; }));
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(device->Stop(), kZrkOk);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));  // the lookup takes 6 s

    // The lookup thread still runs; the host's close must not unmap the code it returns into.
    EXPECT_EQ(device->Release(), kZrkOk);
    EXPECT_EQ(module->Release(), kZrkOk);
    library.Close();
    void* still = dlopen(ZRK_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD);
    EXPECT_NE(still, nullptr);
    if (still != nullptr) dlclose(still);
#endif
}
