// The built plug-in library loaded as the host loads it, and the module it hands out.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/SharedLibrary.h"
#include "support/PluginTestHost.h"
#include "zrk/ZrkHost.h"

namespace plugin_test {

// Loads the library for each test and releases whatever the test left alive before unloading it.
class PluginLibraryTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // GetZRKEntryPoint, then Initialize with `host` and SetHostReady(1); fails the test on a non-zero code.
    IZRKModule* ReadyModule(IMInterface* host);
    // A device of a ready module, with the test's host device set.
    IZRKDevice* NewDevice();
    // Settings text through SaveSettings, handed back with FreeText.
    std::string Saved(IZRKDevice* device);

    platform::SharedLibrary library_;
    ZrkEntryPointFn entry_ = nullptr;
    IZRKModule* module_ = nullptr;
    IZRKDevice* device_ = nullptr;
    TestRootHost host_;
    TestHostDevice hostDevice_;
};

}  // namespace plugin_test
