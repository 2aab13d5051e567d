#include "server/HttpCancel.h"

namespace {
thread_local HttpCancel* t_bound = nullptr;
}  // namespace

void HttpCancel::Cancel() {
    std::lock_guard<std::mutex> guard(lock_);
    cancelled_ = true;
    if (request_) backend_->CancelRequest(request_);
}

void HttpCancel::Reset() {
    std::lock_guard<std::mutex> guard(lock_);
    cancelled_ = false;
}

bool HttpCancel::IsCancelled() {
    std::lock_guard<std::mutex> guard(lock_);
    return cancelled_;
}

HttpCancel::ThreadScope::ThreadScope(HttpCancel* token) {
    t_bound = token;
}

HttpCancel::ThreadScope::~ThreadScope() {
    t_bound = nullptr;
}

HttpCancel* HttpCancel::OfThisThread() {
    return t_bound;
}

void HttpCancel::Attach(platform::IHttpBackend* backend, platform::HttpHandle request) {
    std::lock_guard<std::mutex> guard(lock_);
    backend_ = backend;
    request_ = request;
    if (cancelled_) backend_->CancelRequest(request_);
}

void HttpCancel::Detach() {
    std::lock_guard<std::mutex> guard(lock_);
    backend_ = nullptr;
    request_ = nullptr;
}
