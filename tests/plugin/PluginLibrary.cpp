#include "PluginLibrary.h"

namespace plugin_test {

void PluginLibraryTest::SetUp() {
    ASSERT_TRUE(library_.Open(ZRK_PLUGIN_PATH)) << library_.Error();
    entry_ = reinterpret_cast<ZrkEntryPointFn>(library_.Symbol(ZRK_ENTRY_POINT_NAME));
    ASSERT_NE(entry_, nullptr);
}

void PluginLibraryTest::TearDown() {
    if (device_ != nullptr) {
        device_->Stop();
        device_->Release();
    }
    if (module_ != nullptr) module_->Release();
    library_.Close();
}

IZRKModule* PluginLibraryTest::ReadyModule(IMInterface* host) {
    EXPECT_EQ(entry_(&module_), kZrkOk);
    if (module_ == nullptr) return nullptr;
    EXPECT_EQ(module_->Initialize(host, 0, 0), kZrkOk);
    EXPECT_EQ(module_->SetHostReady(1), kZrkOk);
    return module_;
}

IZRKDevice* PluginLibraryTest::NewDevice() {
    if (module_ == nullptr && ReadyModule(&host_) == nullptr) return nullptr;
    EXPECT_EQ(module_->CreateDevice(0, &device_), kZrkOk);
    if (device_ != nullptr) device_->SetHostDevice(&hostDevice_);
    return device_;
}

std::string PluginLibraryTest::Saved(IZRKDevice* device) {
    char* text = nullptr;
    EXPECT_EQ(device->SaveSettings(&text), kZrkOk);
    if (text == nullptr) return std::string();
    std::string copy = text;
    EXPECT_EQ(device->FreeText(&text), kZrkOk);
    EXPECT_EQ(text, nullptr);
    return copy;
}

}  // namespace plugin_test
