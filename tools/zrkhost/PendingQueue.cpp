#include "PendingQueue.h"

namespace zrkhost {

PendingQueue::PendingQueue(unsigned delayMs, bool onMainThread)
    : delay_(delayMs), onMainThread_(onMainThread), mainThread_(std::this_thread::get_id()) {
    if (!onMainThread_) thread_ = std::thread([this] { Run(); });
}

bool PendingQueue::IsCompletingThread() const {
    return onMainThread_ && std::this_thread::get_id() == mainThread_;
}

size_t PendingQueue::RunDue(unsigned ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (!calls_.empty() && calls_.front().due <= now) {
            Call call = std::move(calls_.front());
            calls_.pop_front();
            lock.unlock();
            Finish(call);
            lock.lock();
            continue;
        }
        if (now >= until || stopping_) return calls_.size();
        auto wakeAt = until;
        if (!calls_.empty() && calls_.front().due < wakeAt) wakeAt = calls_.front().due;
        wake_.wait_until(lock, wakeAt);
    }
}

PendingQueue::~PendingQueue() {
    Shutdown();
}

void PendingQueue::Post(IExecContext* context, Work work) {
    void* second = nullptr;
    context->Begin();
    if (context->QueryInterface("IExecContext2", &second) != 0) second = nullptr;
    IExecContext2* context2 = static_cast<IExecContext2*>(second);
    if (context2) context2->AddRef();
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(Call{std::chrono::steady_clock::now() + delay_, context, context2, std::move(work)});
    wake_.notify_all();
}

void PendingQueue::Finish(Call& call) {
    std::string text;
    int result = call.work(&text);
    call.context->SetResult(result);
    if (call.context2) {
        call.context2->SetText(text.c_str());
        // The owner may destroy the context as soon as it is complete: the reference goes first.
        call.context2->Release();
    }
    call.context->Complete();
}

void PendingQueue::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (stopping_) return;
        if (calls_.empty()) {
            wake_.wait(lock);
            continue;
        }
        auto due = calls_.front().due;
        if (std::chrono::steady_clock::now() < due) {
            wake_.wait_until(lock, due);
            continue;
        }
        Call call = std::move(calls_.front());
        calls_.pop_front();
        lock.unlock();
        Finish(call);
        lock.lock();
    }
}

size_t PendingQueue::Shutdown() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        wake_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    size_t dropped = calls_.size();
    calls_.clear();
    return dropped;
}

}  // namespace zrkhost
