// The module object that GetZRKEntryPoint hands out: the host's way into the plug-in. The host calls by
// slot: the order below is the contract.
#pragma once

#include "zrk/IMInterface.h"

class IZRKDevice;

class IZRKModule : public IMInterface {
public:
    // Stores the host's root interface; a and b are the host's and are ignored. 0.
    virtual int ZRK_CALL Initialize(IMInterface* host, int a, int b) = 0;
    // The host is shutting down; no effect. 0.
    virtual int ZRK_CALL Shutdown(int value) = 0;
    // Non-zero allows devices to be created. 0.
    virtual int ZRK_CALL SetHostReady(int value) = 0;
    // The device definition text, owned by the module until the next call; null when unavailable.
    virtual const char* ZRK_CALL GetDefinition() = 0;
    // Writes the number of device types (1). 0.
    virtual int ZRK_CALL GetDeviceTypeCount(int* out) = 0;
    // Writes the number of live devices. 0.
    virtual int ZRK_CALL GetDeviceCount(uint32_t* out) = 0;
    // Creates a device into *out (which must be null on entry): 0, 2, 7, 10 or 17.
    virtual int ZRK_CALL CreateDevice(int kind, IZRKDevice** out) = 0;
    // The live device at index (from 0, in order of creation), or null.
    virtual IZRKDevice* ZRK_CALL GetDevice(uint32_t index) = 0;
    // A host notification; no effect. 0.
    virtual int ZRK_CALL Notify(int a, int b, int c, int d) = 0;
};
