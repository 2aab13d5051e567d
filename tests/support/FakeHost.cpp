#include "FakeHost.h"

#include <chrono>
#include <cstring>

namespace fakehost {

namespace {

std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

int AnswerQuery(IMInterface* self, const char* name, void** out, const char* const* names) {
    if (!name || !out) return kZrkNullArgument;
    for (; *names; ++names) {
        if (std::strcmp(name, *names) == 0) {
            *out = self;
            return 0;
        }
    }
    *out = nullptr;
    return kZrkUnknownInterface;
}

}  // namespace

// ---- variables ------------------------------------------------------------------------------------------

FakeVariable::FakeVariable(std::string name, int type, std::vector<std::string> items)
    : name_(std::move(name)), type_(type), items_(std::move(items)) {}

int FakeVariable::QueryInterface(const char* name, void** out) {
    if (!name || !out) return kZrkNullArgument;
    if (std::strcmp(name, "IEnumData") == 0 && type_ == kZrkVariableEnum && offerEnumData) {
        *out = static_cast<IEnumData*>(this);
        return 0;
    }
    if (std::strcmp(name, "IHostVariable") == 0 || std::strcmp(name, "IMInterface") == 0) {
        *out = static_cast<IHostVariable*>(this);
        return 0;
    }
    *out = nullptr;
    return kZrkUnknownInterface;
}

void FakeVariable::Note(const char* setter, std::string value) {
    std::lock_guard<std::mutex> lock(mutex_);
    lastSetter_ = setter;
    lastValue_ = std::move(value);
    ++sets_;
}

int FakeVariable::SetInteger(int value, int, int) {
    Note("integer", std::to_string(value));
    return 0;
}
int FakeVariable::SetReal(double value, int, int) {
    Note("real", std::to_string(value));
    return 0;
}
int FakeVariable::SetText(const char* text, int, int) {
    Note("text", text ? text : "(null)");
    return 0;
}
int FakeVariable::SetTime(int64_t value, int, int, int) {
    Note("time", std::to_string(value));
    return 0;
}

const char* FakeVariable::GetItemText(int index) {
    if (index < 0 || static_cast<size_t>(index) >= items_.size()) return nullptr;
    return items_[static_cast<size_t>(index)].c_str();
}

int FakeVariable::GetItemCount() {
    return static_cast<int>(items_.size());
}

std::string FakeVariable::LastSetter() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastSetter_;
}
std::string FakeVariable::LastValue() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lastValue_;
}
int FakeVariable::SetCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sets_;
}

int FakeVariableManager::QueryInterface(const char* name, void** out) {
    static const char* const kNames[] = {"IVariableManager", "IMInterface", nullptr};
    return AnswerQuery(this, name, out, kNames);
}

IHostVariable* FakeVariableManager::GetVariable(const char* name) {
    std::lock_guard<std::mutex> lock(mutex_);
    lookups_.push_back(name ? name : "(null)");
    if (!name) return nullptr;
    for (auto& v : variables_) {
        if (v->Name() == name) return v.get();
    }
    return nullptr;
}

FakeVariable* FakeVariableManager::Add(const std::string& name, int type, std::vector<std::string> items) {
    std::lock_guard<std::mutex> lock(mutex_);
    variables_.emplace_back(new FakeVariable(name, type, std::move(items)));
    return variables_.back().get();
}

FakeVariable* FakeVariableManager::Find(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& v : variables_) {
        if (v->Name() == name) return v.get();
    }
    return nullptr;
}

std::vector<std::string> FakeVariableManager::Lookups() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lookups_;
}

// ---- the host's answers ----------------------------------------------------------------------------------

void FakeRemoteHost::SetReply(int code, const std::string& text, int result, const std::string& reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    replies_[{code, text}] = {result, reply};
}

int FakeRemoteHost::Answer(int code, const char* text, std::string* reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    reply->clear();
    auto it = replies_.find({code, text ? text : ""});
    if (it == replies_.end()) return unknownRequestResult.load();
    if (it->second.first == 0) *reply = it->second.second;
    return it->second.first;
}

std::string FakeRemoteHost::ItemsReply(const std::vector<std::pair<std::string, std::string>>& items) {
    std::string xml = "<Reply>";
    for (const auto& item : items) {
        xml += "<Object Name=\"" + Escape(item.first) + "\" Value=\"" + Escape(item.second) + "\"/>";
    }
    return xml + "</Reply>";
}

std::string FakeRemoteHost::ListingReply(const std::vector<std::string>& names) {
    std::string xml = "<Reply>";
    for (const auto& name : names) xml += "<Object Name=\"" + Escape(name) + "\"/>";
    return xml + "</Reply>";
}

void FakeRemoteHost::SetGroup(const std::string& group,
                              const std::vector<std::pair<std::string, std::string>>& items,
                              const std::vector<std::string>& listing) {
    SetReply(7, group, 0, ItemsReply(items));
    SetReply(3, group, 0, ListingReply(listing));
}

void FakeRemoteHost::Record(const std::string& op, const char* text, int code) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back({op, text ? text : "", code});
}

std::vector<Call> FakeRemoteHost::Calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

int FakeRemoteHost::CountCalls(const std::string& op) {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (const auto& c : calls_) n += c.op == op;
    return n;
}

void FakeRemoteHost::ClearCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
}

// ---- synchronous remote -----------------------------------------------------------------------------------

FakeSyncRemote::~FakeSyncRemote() = default;

int FakeSyncRemote::QueryInterface(const char* name, void** out) {
    static const char* const kNames[] = {"IKorrelRemote", "IMInterface", nullptr};
    return AnswerQuery(this, name, out, kNames);
}

int FakeSyncRemote::StartTask(const char* name) {
    host_.Record("StartTask", name, 0);
    return host_.taskResult.load();
}

int FakeSyncRemote::Subscribe(IKorrelRemoteHandler* handler, const char* root) {
    host_.Record("Subscribe", root, 0);
    handler_ = handler;
    return host_.subscribeResult.load();
}

int FakeSyncRemote::Unsubscribe() {
    host_.Record("Unsubscribe", nullptr, 0);
    handler_ = nullptr;
    return host_.unsubscribeResult.load();
}

int FakeSyncRemote::Request(const char* text, int code, char** reply) {
    host_.Record("Request", text, code);
    if (!reply) return kZrkBadArgument;
    std::string answer;
    const int result = host_.Answer(code, text, &answer);
    if (result != 0 && !replyWithRefusal) return result;
    char* copy = new char[answer.size() + 1];
    std::memcpy(copy, answer.c_str(), answer.size() + 1);
    *reply = copy;
    ++outstanding_;
    return result;
}

int FakeSyncRemote::FreeReply(char** reply) {
    host_.Record("FreeReply", nullptr, 0);
    if (!reply || !*reply) return kZrkBadArgument;
    delete[] * reply;
    *reply = nullptr;
    --outstanding_;
    return 0;
}

// ---- asynchronous remote ----------------------------------------------------------------------------------

FakeAsyncRemote::~FakeAsyncRemote() {
    while (CompleteHeld()) {
    }
    for (auto& t : completers_) t.join();
}

int FakeAsyncRemote::QueryInterface(const char* name, void** out) {
    static const char* const kNames[] = {"IKorrelRemote2", "IMInterface", nullptr};
    return AnswerQuery(this, name, out, kNames);
}

int FakeAsyncRemote::SetHandler(IKorrelRemoteHandler* handler) {
    host_.Record("SetHandler", nullptr, 0);
    handler_ = handler;
    return 0;
}

int FakeAsyncRemote::Subscribe(const char* root, const char* filter, IExecContext* context, int) {
    host_.Record("Subscribe", root, filter && *filter ? 1 : 0);
    return Dispatch(context, host_.subscribeResult.load(), std::string());
}

int FakeAsyncRemote::Unsubscribe(int subscription, IExecContext* context, int) {
    host_.Record("Unsubscribe", nullptr, subscription);
    return Dispatch(context, host_.unsubscribeResult.load(), std::string());
}

int FakeAsyncRemote::StartTask(const char* name, IExecContext* context, int) {
    host_.Record("StartTask", name, 0);
    return Dispatch(context, host_.taskResult.load(), std::string());
}

int FakeAsyncRemote::Request(const char* text, int code, IExecContext* context, int) {
    host_.Record("Request", text, code);
    std::string reply;
    const int result = host_.Answer(code, text, &reply);
    return Dispatch(context, result, reply);
}

void FakeAsyncRemote::Finish(const Pending& pending) {
    pending.context->SetResult(pending.result);
    void* second = nullptr;
    if (pending.context->QueryInterface("IExecContext2", &second) == 0 && second) {
        static_cast<IExecContext2*>(second)->SetText(pending.reply.c_str());
    }
    pending.context->Complete();
}

int FakeAsyncRemote::Dispatch(IExecContext* context, int result, const std::string& reply) {
    if (!context) return kZrkBadArgument;
    const int delay = pendingMs_.load();
    Pending pending{context, result, reply};
    if (delay < 0 && !held_.load()) {
        Finish(pending);
        return result;
    }
    context->Begin();
    std::lock_guard<std::mutex> lock(mutex_);
    if (held_.load()) {
        heldCalls_.push_back(pending);
        heldChanged_.notify_all();
    } else {
        completers_.emplace_back([pending, delay] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
            Finish(pending);
        });
    }
    return kZrkPending;
}

bool FakeAsyncRemote::WaitForHeld(size_t count, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return heldChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&] { return heldCalls_.size() >= count; });
}

bool FakeAsyncRemote::CompleteHeld() {
    Pending pending;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (heldCalls_.empty()) return false;
        pending = heldCalls_.front();
        heldCalls_.pop_front();
    }
    Finish(pending);
    return true;
}

}  // namespace fakehost
