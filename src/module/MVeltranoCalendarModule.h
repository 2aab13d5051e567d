// The module object that the plug-in's entry point hands to the host. It answers for the library as a
// whole (the device definition, the live devices, the creation of the one calendar device) and owns what
// every device of the library shares: the calendar store and the REST client that fills it.
//
// There is at most one module at a time (Instance). The host releases its devices before the module.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "calendar/MCalendarStore.h"
#include "server/MCalendarRESTClient.h"
#include "zrk/IZRKDevice.h"
#include "zrk/IZRKModule.h"

class MVeltranoCalendarDevice;

class MVeltranoCalendarModule : public IZRKModule {
public:
    // The live module, created on first use; null when none could be made. Called by the entry point,
    // which the host calls from one thread at a time.
    static MVeltranoCalendarModule* Obtain();
    // The live module, or null.
    static MVeltranoCalendarModule* Instance();

    MVeltranoCalendarModule();
    MVeltranoCalendarModule(const MVeltranoCalendarModule&) = delete;
    MVeltranoCalendarModule& operator=(const MVeltranoCalendarModule&) = delete;

    int ZRK_CALL QueryInterface(const char* name, void** out) override;
    int ZRK_CALL Release() override;
    int ZRK_CALL Initialize(IMInterface* host, int a, int b) override;
    int ZRK_CALL Shutdown(int value) override;
    int ZRK_CALL SetHostReady(int value) override;
    const char* ZRK_CALL GetDefinition() override;
    int ZRK_CALL GetDeviceTypeCount(int* out) override;
    int ZRK_CALL GetDeviceCount(uint32_t* out) override;
    int ZRK_CALL CreateDevice(int kind, IZRKDevice** out) override;
    IZRKDevice* ZRK_CALL GetDevice(uint32_t index) override;
    int ZRK_CALL Notify(int a, int b, int c, int d) override;

    virtual ~MVeltranoCalendarModule();
    // Called by every calendar device as it is destroyed; nothing to do.
    virtual void OnDeviceDestroyed(MVeltranoCalendarDevice* device);

    // What the devices, the setup dialog and the synchroniser use.
    IMInterface* GetHost() const { return host_.load(); }
    MCalendarStore* GetStore() { return &store_; }
    MCalendarRESTClient* GetRESTClient() { return &restClient_; }
    // A copy of the definition text read afresh from the resources; empty when it cannot be read. Unlike
    // GetDefinition it does not disturb the text last handed to the host.
    std::string CopyDefinition();

private:
    int deviceLimit_ = 1;
    char* definitionText_ = nullptr;
    std::mutex definitionLock_;  // host threads may ask for the definition side by side
    std::atomic<int> hostReady_{0};
    MCalendarStore store_;
    MCalendarRESTClient restClient_;
    std::atomic<IMInterface*> host_{nullptr};
};
