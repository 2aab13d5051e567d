// Told when the host completes an asynchronous execution context, in place of a thread waiting for it.
#pragma once

class MDefaultDeviceExecContext;

class IAsyncDeviceExecContextHandler {
public:
    // Called once per completed context, on the host's thread that completed it. The result is handed
    // back to the host as the result of its Complete call.
    virtual int OnContextDone(MDefaultDeviceExecContext* context) = 0;

protected:
    ~IAsyncDeviceExecContextHandler() = default;
};
