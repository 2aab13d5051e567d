// Cancelling the HTTP exchanges of one thread from another. A device's exchange thread binds a token to
// itself; every exchange it then makes (a refresh, the requests of a synchronisation) registers its open
// request with that token, so that Stop can end the exchange in progress through the transport and make
// every later one on that thread fail at once, however the server behaves.
//
// The token is bound to the thread rather than handed down through the REST client and the synchroniser:
// both are shared by every device of the module, and a thread belongs to one device.
#pragma once

#include <mutex>

#include "platform/HttpBackend.h"

class HttpCancel {
public:
    HttpCancel() = default;
    HttpCancel(const HttpCancel&) = delete;
    HttpCancel& operator=(const HttpCancel&) = delete;

    // Any thread: cancels the request in progress, and every later exchange fails until Reset.
    void Cancel();
    // Makes exchanges possible again; only while no bound thread is making one.
    void Reset();
    bool IsCancelled();

    // Binds a token to the calling thread while the scope lives (scopes do not nest).
    class ThreadScope {
    public:
        explicit ThreadScope(HttpCancel* token);
        ~ThreadScope();
        ThreadScope(const ThreadScope&) = delete;
        ThreadScope& operator=(const ThreadScope&) = delete;
    };

    // The exchange's side. The token bound to the calling thread; null when there is none.
    static HttpCancel* OfThisThread();
    // The request now open; cancelled at once when the token is. Every request attached is detached
    // before it is closed, so a cancel never meets a request being closed or already closed.
    void Attach(platform::IHttpBackend* backend, platform::HttpHandle request);
    void Detach();

private:
    std::mutex lock_;
    bool cancelled_ = false;
    platform::IHttpBackend* backend_ = nullptr;
    platform::HttpHandle request_ = nullptr;
};
