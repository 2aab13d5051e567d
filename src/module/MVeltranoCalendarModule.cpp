#include "module/MVeltranoCalendarModule.h"

#include <cstring>
#include <new>

#include "calendar/MVeltranoCalendarDevice.h"
#include "framework/MZRKDeviceBase.h"
#include "framework/MZRKXmlDefinition.h"

namespace {

// Set while a module exists; written only by the module's construction (through Obtain) and destruction.
std::atomic<MVeltranoCalendarModule*> g_module{nullptr};

}  // namespace

MVeltranoCalendarModule* MVeltranoCalendarModule::Obtain() {
    MVeltranoCalendarModule* module = g_module.load();
    if (module != nullptr) return module;
    try {
        module = new MVeltranoCalendarModule();
    } catch (...) {
        return nullptr;
    }
    g_module.store(module);
    return module;
}

MVeltranoCalendarModule* MVeltranoCalendarModule::Instance() {
    return g_module.load();
}

MVeltranoCalendarModule::MVeltranoCalendarModule() : restClient_(&store_) {}

MVeltranoCalendarModule::~MVeltranoCalendarModule() {
    MVeltranoCalendarModule* self = this;
    g_module.compare_exchange_strong(self, nullptr);
    delete[] definitionText_;
}

int ZRK_CALL MVeltranoCalendarModule::QueryInterface(const char* name, void** out) {
    if (name == nullptr || out == nullptr) return kZrkNullArgument;
    *out = nullptr;
    if (std::strcmp(name, "IZRKModule") == 0) {
        *out = static_cast<IZRKModule*>(this);
        return kZrkOk;
    }
    return kZrkUnknownInterface;
}

int ZRK_CALL MVeltranoCalendarModule::Release() {
    // The host may unload the library once this returns. Nothing is waited for: where the platform's
    // threads may still run this library's code (requests being closed, a name lookup), the library has
    // kept itself loaded since it started them.
    delete this;
    return kZrkOk;
}

int ZRK_CALL MVeltranoCalendarModule::Initialize(IMInterface* host, int, int) {
    host_.store(host);
    return kZrkOk;
}

int ZRK_CALL MVeltranoCalendarModule::Shutdown(int) {
    return kZrkOk;
}

int ZRK_CALL MVeltranoCalendarModule::SetHostReady(int value) {
    hostReady_.store(value);
    return kZrkOk;
}

const char* ZRK_CALL MVeltranoCalendarModule::GetDefinition() {
    std::lock_guard<std::mutex> guard(definitionLock_);
    delete[] definitionText_;
    definitionText_ = nullptr;
    MZRKXmlDefinition definition;
    if (!definition.LoadFromResource(platform::OwnModule(), MZRKXmlDefinition::kDefinitionResourceId)) {
        return nullptr;
    }
    const char* text = definition.GetText();
    size_t length = std::strlen(text);
    definitionText_ = new (std::nothrow) char[length + 1];
    if (definitionText_ != nullptr) std::memcpy(definitionText_, text, length + 1);
    return definitionText_;
}

std::string MVeltranoCalendarModule::CopyDefinition() {
    MZRKXmlDefinition definition;
    if (!definition.LoadFromResource(platform::OwnModule(), MZRKXmlDefinition::kDefinitionResourceId)) {
        return std::string();
    }
    return definition.GetText();
}

int ZRK_CALL MVeltranoCalendarModule::GetDeviceTypeCount(int* out) {
    if (out != nullptr) *out = 1;
    return kZrkOk;
}

int ZRK_CALL MVeltranoCalendarModule::GetDeviceCount(uint32_t* out) {
    if (out != nullptr) *out = MZRKDeviceBase::GetDeviceCount();
    return kZrkOk;
}

int ZRK_CALL MVeltranoCalendarModule::CreateDevice(int, IZRKDevice** out) {
    // A null out-pointer cannot receive the device: refused like one that was not cleared.
    if (out == nullptr || *out != nullptr) return kZrkBadArgument;
    if (MZRKDeviceBase::GetDeviceCount() >= static_cast<unsigned>(deviceLimit_)) return kZrkDeviceLimit;
    if (hostReady_.load() == 0) return kZrkHostNotReady;
    MVeltranoCalendarDevice* device = nullptr;
    try {
        device = new MVeltranoCalendarDevice(this, nullptr);
    } catch (...) {
        return kZrkNoDevice;
    }
    *out = static_cast<IZRKDevice*>(device);
    return kZrkOk;
}

IZRKDevice* ZRK_CALL MVeltranoCalendarModule::GetDevice(uint32_t index) {
    auto* device = dynamic_cast<MVeltranoCalendarDevice*>(MZRKDeviceBase::GetDeviceAt(index));
    return device != nullptr ? static_cast<IZRKDevice*>(device) : nullptr;
}

int ZRK_CALL MVeltranoCalendarModule::Notify(int, int, int, int) {
    return kZrkOk;
}

void MVeltranoCalendarModule::OnDeviceDestroyed(MVeltranoCalendarDevice*) {}
