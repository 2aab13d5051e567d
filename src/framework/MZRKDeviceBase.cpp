#include "framework/MZRKDeviceBase.h"

#include <cstring>

#include "framework/MIDoubleList.h"
#include "framework/TextCopy.h"
#include "platform/Sync.h"

namespace {

// The registry's list exists only while a device is alive, so the library holds no device state between
// the last device and the next. Its lock lives as long as the process: were it created with the first
// device and destroyed with the last, a device being created on one host thread could find the lock
// half made or already gone while another thread destroys the last device.
struct Registry {
    platform::MCriticalSection lock;
    MIDoubleList<MZRKDeviceBase>* devices = nullptr;
    unsigned liveCount = 0;
    int instanceCounter = 0;  // last number handed out; never reset while the library is loaded
};

Registry*& RegistrySlot() {
    // Made on first use, safely also when two host threads come at once.
    static Registry* registry = new Registry();
    return registry;
}

Registry& TheRegistry() {
    // Made again only should a device be created after the reclaim below.
    Registry*& registry = RegistrySlot();
    if (registry == nullptr) registry = new Registry();
    return *registry;
}

// When the library is unloaded (or the process ends) with no device alive, the registry goes with it, so
// a host that loads and unloads the plug-in repeatedly loses nothing. With a device still alive it stays:
// that device may be released later, after the static destructors, and must still be able to unregister.
struct RegistryReclaim {
    ~RegistryReclaim() {
        Registry*& registry = RegistrySlot();
        if (registry != nullptr && registry->liveCount == 0) {
            delete registry;
            registry = nullptr;
        }
    }
} g_registryReclaim;

}  // namespace

MZRKDeviceBase::MZRKDeviceBase(const char* name) {
    Registry& registry = TheRegistry();
    platform::MLock lock(registry.lock);
    if (registry.liveCount == 0) registry.devices = new MIDoubleList<MZRKDeviceBase>(false, nullptr);
    ++registry.liveCount;
    registry.devices->Add(this);
    name_ = CopyText(name);
    // Taken under the lock: two host threads creating devices at once still get distinct numbers.
    instanceNumber_ = ++registry.instanceCounter;
}

MZRKDeviceBase::~MZRKDeviceBase() {
    {
        Registry& registry = TheRegistry();
        platform::MLock lock(registry.lock);
        --registry.liveCount;
        registry.devices->Remove(this);
        if (registry.liveCount == 0) {
            delete registry.devices;
            registry.devices = nullptr;
        }
    }
    delete[] name_;
}

void ZRK_CALL MZRKDeviceBase::SetName(const char* name) {
    // Copy first: `name` may be the device's own name.
    char* copy = CopyText(name);
    delete[] name_;
    name_ = copy;
}

const char* ZRK_CALL MZRKDeviceBase::GetName() {
    return name_ ? name_ : "";
}

int MZRKDeviceBase::GetInstanceNumber() {
    return instanceNumber_;
}

void MZRKDeviceBase::SetRunning(bool running) {
    running_ = running;
}

bool MZRKDeviceBase::IsRunning() {
    return running_;
}

void MZRKDeviceBase::SetOpened(bool opened) {
    opened_ = opened;
}

bool MZRKDeviceBase::IsOpened() {
    return opened_;
}

TiXmlElement* MZRKDeviceBase::CreateDeviceData(int version) {
    TiXmlElement* element = new TiXmlElement("DeviceData");
    element->SetAttribute("Version", version);
    element->SetAttribute("Name", GetName());
    element->SetAttribute("DeviceInternalVersion", 1);
    return element;
}

int MZRKDeviceBase::ReadDeviceData(const TiXmlElement* element, int /*expectedVersion*/, int* version) {
    if (!element || !element->Value() || std::strcmp(element->Value(), "DeviceData") != 0) {
        return kNotDeviceData;
    }
    int read = 0;
    if (element->QueryIntAttribute("Version", &read) != TIXML_SUCCESS) return kBadVersion;
    if (version) *version = read;
    SetName(element->Attribute("Name"));
    return 0;
}

unsigned MZRKDeviceBase::GetDeviceCount() {
    Registry& registry = TheRegistry();
    platform::MLock lock(registry.lock);
    return registry.liveCount;
}

MZRKDeviceBase* MZRKDeviceBase::GetDeviceAt(unsigned index) {
    Registry& registry = TheRegistry();
    platform::MLock lock(registry.lock);
    if (!registry.devices || index >= registry.liveCount) return nullptr;
    MIDoubleListIterator<MZRKDeviceBase> it(registry.devices);
    MZRKDeviceBase* device = it.Current();
    for (unsigned i = 0; device && i < index; ++i) device = it.Next();
    return device;
}

MZRKDeviceBase* MZRKDeviceBase::FindDeviceByInstance(int instanceNumber) {
    Registry& registry = TheRegistry();
    platform::MLock lock(registry.lock);
    if (!registry.devices) return nullptr;
    MIDoubleListIterator<MZRKDeviceBase> it(registry.devices);
    for (MZRKDeviceBase* device = it.Current(); device; device = it.Next()) {
        if (device->instanceNumber_ == instanceNumber) return device;
    }
    return nullptr;
}
