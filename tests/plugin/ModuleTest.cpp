// The library as the host meets it: its one export, the entry point and the module's answers.
#include <cstring>
#include <sstream>

#include "PluginLibrary.h"
#include "platform/Process.h"

namespace plugin_test {
namespace {

#if !defined(_WIN32)  // The DLL's export table is checked from Linux (tools/windows/check-exports.sh).
TEST(PluginExports, TheEntryPointIsTheOnlyExportedFunction) {
    platform::ProcessResult nm =
        platform::RunProcess("/usr/bin/nm", {"-D", "--defined-only", ZRK_PLUGIN_PATH}, "", 20000);
    ASSERT_TRUE(nm.started);
    ASSERT_EQ(nm.exitCode, 0) << nm.err;
    std::istringstream lines(nm.out);
    std::string line;
    std::vector<std::string> functions;
    while (std::getline(lines, line)) {
        // "address type name": text symbols (T, W, i) are functions.
        std::istringstream fields(line);
        std::string address, type, name;
        if (!(fields >> address >> type >> name)) continue;
        if (type == "T" || type == "t" || type == "W" || type == "w" || type == "i")
            functions.push_back(name);
    }
    EXPECT_EQ(functions, std::vector<std::string>{"GetZRKEntryPoint"}) << nm.out;
}
#endif

using ModuleEntry = PluginLibraryTest;

TEST_F(ModuleEntry, HandsOutOneModuleUntilItIsReleased) {
    EXPECT_EQ(entry_(nullptr), kZrkBadArgument);
    IZRKModule* first = nullptr;
    IZRKModule* second = nullptr;
    ASSERT_EQ(entry_(&first), kZrkOk);
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(entry_(&second), kZrkOk);
    EXPECT_EQ(first, second);

    // A released module is gone: the next one starts afresh (not ready for devices).
    EXPECT_EQ(first->SetHostReady(1), kZrkOk);
    EXPECT_EQ(first->Release(), kZrkOk);
    ASSERT_EQ(entry_(&module_), kZrkOk);
    ASSERT_NE(module_, nullptr);
    IZRKDevice* device = nullptr;
    EXPECT_EQ(module_->CreateDevice(0, &device), kZrkHostNotReady);
    EXPECT_EQ(device, nullptr);
}

TEST_F(ModuleEntry, AnswersOnlyToItsOwnInterfaceName) {
    ASSERT_EQ(entry_(&module_), kZrkOk);
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(module_->QueryInterface("IZRKModule", &out), kZrkOk);
    EXPECT_EQ(out, static_cast<void*>(module_));
    out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(module_->QueryInterface("IZRKDevice", &out), kZrkUnknownInterface);
    EXPECT_EQ(out, nullptr);
    out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(module_->QueryInterface("izrkmodule", &out), kZrkUnknownInterface);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(module_->QueryInterface("IZRKModule2", &out), kZrkUnknownInterface);
    EXPECT_EQ(module_->QueryInterface(nullptr, &out), kZrkNullArgument);
    EXPECT_EQ(module_->QueryInterface("IZRKModule", nullptr), kZrkNullArgument);
}

TEST_F(ModuleEntry, FixedAnswers) {
    ASSERT_EQ(entry_(&module_), kZrkOk);
    int types = 0;
    EXPECT_EQ(module_->GetDeviceTypeCount(&types), kZrkOk);
    EXPECT_EQ(types, 1);
    EXPECT_EQ(module_->Shutdown(5), kZrkOk);
    EXPECT_EQ(module_->Notify(1, 2, 3, 4), kZrkOk);
    EXPECT_EQ(module_->Initialize(nullptr, 7, 8), kZrkOk);
}

TEST_F(ModuleEntry, DefinitionIsTheDeviceDefinitionAndIsReloadedEachCall) {
    ASSERT_EQ(entry_(&module_), kZrkOk);
    const char* first = module_->GetDefinition();
    ASSERT_NE(first, nullptr);
    std::string copy = first;
    EXPECT_NE(copy.find("<Command ID=\"3\" Name=\"Sync DB\""), std::string::npos);
    EXPECT_NE(copy.find("Name=\"NextEventAction\""), std::string::npos);
    const char* second = module_->GetDefinition();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(copy, second);
}

using ModuleDevices = PluginLibraryTest;

TEST_F(ModuleDevices, CreationFollowsReadinessLimitAndClearedOutPointer) {
    ASSERT_EQ(entry_(&module_), kZrkOk);
    ASSERT_EQ(module_->Initialize(&host_, 0, 0), kZrkOk);
    uint32_t count = 99;
    EXPECT_EQ(module_->GetDeviceCount(&count), kZrkOk);
    EXPECT_EQ(count, 0u);

    IZRKDevice* device = nullptr;
    EXPECT_EQ(module_->CreateDevice(0, &device), kZrkHostNotReady);
    ASSERT_EQ(module_->SetHostReady(0), kZrkOk);
    EXPECT_EQ(module_->CreateDevice(0, &device), kZrkHostNotReady);
    ASSERT_EQ(module_->SetHostReady(1), kZrkOk);

    // An out-pointer that was not cleared is refused before anything is made; so is a missing one.
    auto* stale = reinterpret_cast<IZRKDevice*>(0x10);
    EXPECT_EQ(module_->CreateDevice(0, &stale), kZrkBadArgument);
    EXPECT_EQ(stale, reinterpret_cast<IZRKDevice*>(0x10));
    EXPECT_EQ(module_->CreateDevice(0, nullptr), kZrkBadArgument);
    EXPECT_EQ(module_->GetDeviceCount(&count), kZrkOk);
    EXPECT_EQ(count, 0u);

    ASSERT_EQ(module_->CreateDevice(0, &device_), kZrkOk);
    ASSERT_NE(device_, nullptr);
    EXPECT_EQ(module_->GetDeviceCount(&count), kZrkOk);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(module_->GetDevice(0), device_);
    EXPECT_EQ(module_->GetDevice(1), nullptr);

    IZRKDevice* second = nullptr;
    EXPECT_EQ(module_->CreateDevice(0, &second), kZrkDeviceLimit);
    EXPECT_EQ(second, nullptr);

    // The limit counts live devices: after the release a new one can be made.
    EXPECT_EQ(device_->Release(), kZrkOk);
    device_ = nullptr;
    EXPECT_EQ(module_->GetDeviceCount(&count), kZrkOk);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(module_->GetDevice(0), nullptr);
    ASSERT_EQ(module_->CreateDevice(0, &device_), kZrkOk);
    EXPECT_EQ(module_->GetDevice(0), device_);
}

TEST_F(ModuleDevices, DeviceAsksTheHostForItsServicesAndGivesTheHandlesBack) {
    ASSERT_NE(NewDevice(), nullptr);
    EXPECT_EQ(host_.Queries(), (std::vector<std::string>{"IKorrelRemoteManager", "IKorrelRemoteManager2",
                                                         "IVariableManager"}));
    EXPECT_EQ(host_.remoteManager.handedOut.load(), 1);
    EXPECT_EQ(host_.remoteManager2.handedOut.load(), 1);
    EXPECT_EQ(host_.remoteManager2.askedFor.load(), device_);
    EXPECT_EQ(device_->Release(), kZrkOk);
    device_ = nullptr;
    EXPECT_EQ(host_.remoteManager.remote.References(), 0);
    EXPECT_EQ(host_.remoteManager2.remote.References(), 0);
}

// Only the calls that reach the remote, without handler settings.
std::vector<std::string> RemoteCalls(std::vector<std::string> calls) {
    std::vector<std::string> kept;
    for (auto& c : calls) {
        if (c.rfind("SetHandler", 0) != 0) kept.push_back(c);
    }
    return kept;
}

TEST_F(ModuleDevices, StartRegistersAfreshThroughThePreferredRemote) {
    ASSERT_NE(NewDevice(), nullptr);
    EXPECT_EQ(device_->Start(), kZrkOk);
    EXPECT_EQ(RemoteCalls(host_.remoteManager2.remote.Calls()),
              (std::vector<std::string>{"Unsubscribe", "Subscribe GrantedRootGroup"}));
    EXPECT_TRUE(host_.remoteManager.remote.Calls().empty());
    EXPECT_EQ(device_->Stop(), kZrkOk);
    EXPECT_EQ(device_->Start(), kZrkOk);
    EXPECT_EQ(RemoteCalls(host_.remoteManager2.remote.Calls()).size(), 4u);
}

TEST_F(ModuleDevices, StartUsesTheSynchronousRemoteWhenItIsTheOnlyOne) {
    host_.offerRemote2 = false;
    ASSERT_NE(NewDevice(), nullptr);
    EXPECT_EQ(device_->Start(), kZrkOk);
    EXPECT_EQ(RemoteCalls(host_.remoteManager.remote.Calls()),
              (std::vector<std::string>{"Unsubscribe", "Subscribe GrantedRootGroup"}));
}

TEST_F(ModuleDevices, DeviceWorksWithoutHostServices) {
    host_.offerRemote = host_.offerRemote2 = host_.offerVariables = false;
    ASSERT_NE(NewDevice(), nullptr);
    EXPECT_EQ(device_->Start(), kZrkOk);
    EXPECT_EQ(device_->SendCommand(2, nullptr, 0), kZrkOk);
    EXPECT_EQ(device_->Stop(), kZrkOk);
    EXPECT_EQ(host_.remoteManager.handedOut.load(), 0);
}

TEST_F(ModuleDevices, ModuleWithoutHostStillMakesADevice) {
    ASSERT_NE(ReadyModule(nullptr), nullptr);
    ASSERT_EQ(module_->CreateDevice(0, &device_), kZrkOk);
    EXPECT_EQ(device_->Start(), kZrkOk);
    EXPECT_EQ(device_->Stop(), kZrkOk);
    EXPECT_TRUE(host_.Queries().empty());
}

TEST_F(ModuleDevices, ModuleReleasedAndCreatedAnewServesANewDevice) {
    ASSERT_NE(NewDevice(), nullptr);
    EXPECT_EQ(device_->Start(), kZrkOk);
    EXPECT_EQ(device_->Stop(), kZrkOk);
    EXPECT_EQ(device_->Release(), kZrkOk);
    device_ = nullptr;
    EXPECT_EQ(module_->Release(), kZrkOk);
    module_ = nullptr;

    ASSERT_NE(ReadyModule(&host_), nullptr);
    uint32_t count = 99;
    EXPECT_EQ(module_->GetDeviceCount(&count), kZrkOk);
    EXPECT_EQ(count, 0u);
    ASSERT_EQ(module_->CreateDevice(0, &device_), kZrkOk);
    device_->SetHostDevice(&hostDevice_);
    EXPECT_EQ(device_->Start(), kZrkOk);
    EXPECT_EQ(device_->GetRunState(), kZrkCapabilityAnswer);
}

}  // namespace
}  // namespace plugin_test

namespace plugin_test {
namespace {

// The host unloads the library as soon as the module is released: by then no thread of the plug-in may
// still be running its code (the worker and the shared timer have really ended, not just said so).
TEST(PluginUnload, LibraryCanBeUnloadedRightAfterTheModuleIsReleased) {
    for (int round = 0; round < 40; ++round) {
        platform::SharedLibrary library;
        ASSERT_TRUE(library.Open(ZRK_PLUGIN_PATH)) << library.Error();
        auto entry = reinterpret_cast<ZrkEntryPointFn>(library.Symbol(ZRK_ENTRY_POINT_NAME));
        ASSERT_NE(entry, nullptr);
        IZRKModule* module = nullptr;
        ASSERT_EQ(entry(&module), kZrkOk);
        ASSERT_EQ(module->SetHostReady(1), kZrkOk);
        IZRKDevice* device = nullptr;
        ASSERT_EQ(module->CreateDevice(0, &device), kZrkOk);
        EXPECT_EQ(device->Start(), kZrkOk);
        EXPECT_EQ(device->SendCommand(2, nullptr, 0), kZrkOk);
        EXPECT_EQ(device->Stop(), kZrkOk);
        EXPECT_EQ(device->Release(), kZrkOk);
        EXPECT_EQ(module->Release(), kZrkOk);
        library.Close();
    }
}

TEST(PluginUnload, MissingLibraryIsReportedNotFatal) {
    platform::SharedLibrary library("/nonexistent/libNothing.so");
    EXPECT_FALSE(library.IsLoaded());
    EXPECT_FALSE(library.Error().empty());
    EXPECT_EQ(library.Symbol(ZRK_ENTRY_POINT_NAME), nullptr);
}

}  // namespace
}  // namespace plugin_test
