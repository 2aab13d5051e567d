// The device as the host sees it. The host calls by slot: the order below is the contract.
#pragma once

#include "zrk/IMInterface.h"
#include "zrk/ZrkHandles.h"

class IZRKHostDevice;
class IZRKRect;
class IZRKCallContext;

class IZRKDevice : public IMInterface {
public:
    // Gives the device the host's own object for it (not owned by the device).
    virtual void ZRK_CALL SetHostDevice(IZRKHostDevice* hostDevice) = 0;
    // 0 for kind 2, 24 for every other kind.
    virtual int ZRK_CALL QueryCapability(int kind) = 0;
    // Names the device (a copy is kept; null removes the name).
    virtual void ZRK_CALL SetName(const char* name) = 0;
    // The device's name, empty when it has none; owned by the device.
    virtual const char* ZRK_CALL GetName() = 0;
    // Runs the setup dialog centred on rect (may be null): 0, or 13 when the user cancels.
    virtual int ZRK_CALL Configure(IZRKRect* rect) = 0;
    // 772 while the device runs, 24 otherwise.
    virtual int ZRK_CALL GetRunState() = 0;
    // Starts the device's worker. 0.
    virtual int ZRK_CALL Start() = 0;
    // Stops the worker, waits for it and discards queued commands. 0.
    virtual int ZRK_CALL Stop() = 0;
    // Reserved. 19.
    virtual int ZRK_CALL ReservedA(int a, int b) = 0;
    // The device's 16 x 16 bitmap, owned by the device; the same handle on every call.
    virtual ZrkBitmapHandle ZRK_CALL GetBitmap() = 0;
    // *out receives a new settings text which the host gives back through FreeText: 0, or 2 for null out.
    virtual int ZRK_CALL SaveSettings(char** out) = 0;
    // Restores the settings from text: 0; 2 null, empty or unreadable text; 22 data rejected.
    virtual int ZRK_CALL LoadSettings(const char* text) = 0;
    // Reserved. 19.
    virtual int ZRK_CALL ReservedB(int a, int b) = 0;
    // Reserved. 0.
    virtual int ZRK_CALL ReservedC(int a) = 0;
    // Reserved. 24.
    virtual int ZRK_CALL ReservedD(int a) = 0;
    // Reserved. 772.
    virtual int ZRK_CALL ReservedE(int a, int b, int c) = 0;
    // Queues the command of the definition with that id (context may be null): 0, or 1 for an unknown id.
    virtual int ZRK_CALL SendCommand(int id, IZRKCallContext* context, int value) = 0;
    // Frees a text handed out by SaveSettings and nulls *text: 0, or 2 when text or *text is null.
    virtual int ZRK_CALL FreeText(char** text) = 0;
    // The definition with the host's instance ids, owned by the device until the next call; may be null.
    virtual const char* ZRK_CALL GetDefinition() = 0;
    // Reserved. 0.
    virtual int ZRK_CALL ReservedF(int a, int b) = 0;
    // Reserved. 19.
    virtual int ZRK_CALL ReservedG(int a, int b) = 0;
};
