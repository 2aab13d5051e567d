// The device's saved settings as the host hands them back, any bytes: LoadSettings either refuses them,
// leaving the settings as they were (only the device's name may already have been taken), or takes them,
// and what it took is saved and loaded again unchanged.
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzCheck.h"
#include "calendar/MVeltranoCalendarDevice.h"
#include "module/MVeltranoCalendarModule.h"
#include "support/PluginTestHost.h"
#include "zrk/ZrkTypes.h"

namespace {

// One module and device for the whole run, as in a host: creating a device per input would mostly measure
// the registration with the process-wide timer.
struct Host {
    Host() {
        module.Initialize(&root, 0, 0);
        module.SetHostReady(1);
        IZRKDevice* created = nullptr;
        FUZZ_CHECK(module.CreateDevice(0, &created) == kZrkOk);
        device = static_cast<MVeltranoCalendarDevice*>(created);
        device->SetHostDevice(&hostDevice);
    }
    plugin_test::TestRootHost root;
    plugin_test::TestHostDevice hostDevice;
    MVeltranoCalendarModule module;
    MVeltranoCalendarDevice* device = nullptr;
};

// The settings proper, without the device's name.
std::string SetupOf(MVeltranoCalendarDevice* device) {
    CalendarDeviceSettings s = device->GetSettings();
    return std::to_string(s.local) + "|" + std::to_string(s.locationId) + "|" +
           std::to_string(s.refreshPeriod) + "|" + std::to_string(s.lookahead) + "|" + s.url.Get();
}

std::string Saved(MVeltranoCalendarDevice* device) {
    char* text = nullptr;
    FUZZ_CHECK(device->SaveSettings(&text) == kZrkOk);
    FUZZ_CHECK(text != nullptr);
    std::string copy = text;
    FUZZ_CHECK(device->FreeText(&text) == kZrkOk);
    return copy;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Host* host = new Host();  // lives to the end of the process with its timer thread
    char* text = new char[size + 1];
    std::memcpy(text, data, size);
    text[size] = '\0';
    std::string before = SetupOf(host->device);
    int result = host->device->LoadSettings(text);
    delete[] text;
    FUZZ_CHECK(result == kZrkOk || result == kZrkBadArgument || result == kZrkDataRejected);
    if (result != kZrkOk) {
        FUZZ_CHECK(SetupOf(host->device) == before);
        return 0;
    }
    std::string after = Saved(host->device);
    // Settings taken are written out whole: loading that text again gives the same text.
    FUZZ_CHECK(host->device->LoadSettings(after.c_str()) == kZrkOk);
    FUZZ_CHECK(Saved(host->device) == after);
    return 0;
}
