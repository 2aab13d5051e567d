// Base of every device the plug-in creates: name, process-unique instance number, running and opened
// flags, the process-wide registry of live devices, and the outer "DeviceData" element of the device's
// persisted data.
#pragma once

#include <tinyxml.h>

#include <atomic>

#include "zrk/ZrkTypes.h"

class MZRKDeviceBase {
public:
    // ReadDeviceData results besides 0 (read).
    static constexpr int kNotDeviceData = -1;
    static constexpr int kBadVersion = 2;

    // Registers the device and takes the next instance number; `name` may be null (no name).
    explicit MZRKDeviceBase(const char* name);
    // Unregisters the device.
    virtual ~MZRKDeviceBase();

    // Keeps a copy of `name`; null leaves the device without a name. These two take the host's calling
    // convention: a device answers the host's SetName and GetName with them, and one function cannot
    // override two conventions (the 32-bit build tells them apart).
    virtual void ZRK_CALL SetName(const char* name);
    // The name, or an empty text when there is none.
    virtual const char* ZRK_CALL GetName();
    virtual int GetInstanceNumber();
    virtual void SetRunning(bool running);
    virtual bool IsRunning();
    virtual void SetOpened(bool opened);
    virtual bool IsOpened();
    // A new "DeviceData" element with "Version" = `version`, "Name" and "DeviceInternalVersion" = 1, in
    // that order. The caller owns it, adds its own children, prints and deletes it.
    virtual TiXmlElement* CreateDeviceData(int version);
    // Reads the outer element of persisted data: -1 when `element` is null or not "DeviceData"; 2 when its
    // "Version" is missing or not an integer (the name is left alone in both cases); otherwise the version
    // goes to *version, the "Name" attribute becomes the name (none when missing) and the result is 0.
    // `expectedVersion` is not consulted: the derived device judges the version it gets back.
    virtual int ReadDeviceData(const TiXmlElement* element, int expectedVersion, int* version);

    // The registry of live devices, in order of construction.
    static unsigned GetDeviceCount();
    // The device at `index` (from 0), or null when the index is not below the live count.
    static MZRKDeviceBase* GetDeviceAt(unsigned index);
    // The live device with that instance number, or null.
    static MZRKDeviceBase* FindDeviceByInstance(int instanceNumber);

    MZRKDeviceBase(const MZRKDeviceBase&) = delete;
    MZRKDeviceBase& operator=(const MZRKDeviceBase&) = delete;

private:
    // The host reads the name and the flags from its own threads; only host calls and the device's own
    // start and stop write them.
    char* name_ = nullptr;
    int instanceNumber_ = 0;
    std::atomic<bool> running_{false};
    std::atomic<bool> opened_{false};
};
