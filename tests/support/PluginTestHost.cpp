#include "support/PluginTestHost.h"

#include <cstring>

namespace plugin_test {

int ZRK_CALL TestHostVariable::QueryInterface(const char* name, void** out) {
    if (name == nullptr || out == nullptr) return kZrkNullArgument;
    *out = nullptr;
    return kZrkUnknownInterface;
}

int ZRK_CALL TestHostVariable::SetInteger(int value, int, int) {
    std::lock_guard<std::mutex> guard(lock_);
    number_ = value;
    text_ = std::to_string(value);
    ++sets_;
    return 0;
}

int ZRK_CALL TestHostVariable::SetReal(double value, int, int) {
    std::lock_guard<std::mutex> guard(lock_);
    number_ = static_cast<int64_t>(value);
    text_ = std::to_string(value);
    ++sets_;
    return 0;
}

int ZRK_CALL TestHostVariable::SetText(const char* text, int, int) {
    std::lock_guard<std::mutex> guard(lock_);
    text_ = text != nullptr ? text : "";
    ++sets_;
    return 0;
}

int ZRK_CALL TestHostVariable::SetTime(int64_t value, int, int, int) {
    std::lock_guard<std::mutex> guard(lock_);
    number_ = value;
    ++sets_;
    return 0;
}

std::string TestHostVariable::Text() {
    std::lock_guard<std::mutex> guard(lock_);
    return text_;
}

int64_t TestHostVariable::Number() {
    std::lock_guard<std::mutex> guard(lock_);
    return number_;
}

int ZRK_CALL TestHostDevice::QueryInterface(const char* name, void** out) {
    if (name == nullptr || out == nullptr) return kZrkNullArgument;
    *out = nullptr;
    return kZrkUnknownInterface;
}

IHostVariable* ZRK_CALL TestHostDevice::GetVariable(const char* name) {
    std::lock_guard<std::mutex> guard(lock_);
    lookups_.push_back(name != nullptr ? name : "(null)");
    if (name == nullptr) return nullptr;
    auto found = variables_.find(name);
    return found != variables_.end() ? found->second.get() : nullptr;
}

TestHostVariable* TestHostDevice::Add(const std::string& name, int type, int instanceId) {
    std::lock_guard<std::mutex> guard(lock_);
    auto& slot = variables_[name];
    slot = std::make_unique<TestHostVariable>(type, instanceId);
    return slot.get();
}

std::vector<std::string> TestHostDevice::Lookups() {
    std::lock_guard<std::mutex> guard(lock_);
    return lookups_;
}

int ZRK_CALL TestSyncRemote::QueryInterface(const char*, void**) {
    return kZrkUnknownInterface;
}

int ZRK_CALL TestSyncRemote::Release() {
    return --references_;
}

int ZRK_CALL TestSyncRemote::StartTask(const char* name) {
    Record(std::string("StartTask ") + (name ? name : ""));
    return 0;
}

int ZRK_CALL TestSyncRemote::Subscribe(IKorrelRemoteHandler*, const char* root) {
    Record(std::string("Subscribe ") + (root ? root : ""));
    return 0;
}

int ZRK_CALL TestSyncRemote::Unsubscribe() {
    Record("Unsubscribe");
    return 0;
}

int ZRK_CALL TestSyncRemote::Request(const char* text, int code, char** reply) {
    Record("Request " + std::to_string(code) + " " + (text ? text : ""));
    if (reply != nullptr) *reply = nullptr;
    return kZrkNotSupported;
}

int ZRK_CALL TestSyncRemote::FreeReply(char** reply) {
    if (reply == nullptr || *reply == nullptr) return kZrkBadArgument;
    delete[] * reply;
    *reply = nullptr;
    return 0;
}

void TestSyncRemote::Record(const std::string& call) {
    std::lock_guard<std::mutex> guard(lock_);
    calls_.push_back(call);
}

std::vector<std::string> TestSyncRemote::Calls() {
    std::lock_guard<std::mutex> guard(lock_);
    return calls_;
}

int ZRK_CALL TestAsyncRemote::QueryInterface(const char*, void**) {
    return kZrkUnknownInterface;
}

int ZRK_CALL TestAsyncRemote::Release() {
    return --references_;
}

int ZRK_CALL TestAsyncRemote::SetHandler(IKorrelRemoteHandler* handler) {
    Record(handler != nullptr ? "SetHandler" : "SetHandler null");
    return 0;
}

int ZRK_CALL TestAsyncRemote::Subscribe(const char* root, const char*, IExecContext* context, int) {
    Record(std::string("Subscribe ") + (root ? root : ""));
    return Answer(context, 0);
}

int ZRK_CALL TestAsyncRemote::Unsubscribe(int, IExecContext* context, int) {
    Record("Unsubscribe");
    return Answer(context, 0);
}

int ZRK_CALL TestAsyncRemote::StartTask(const char* name, IExecContext* context, int) {
    Record(std::string("StartTask ") + (name ? name : ""));
    return Answer(context, 0);
}

int ZRK_CALL TestAsyncRemote::Request(const char* text, int code, IExecContext* context, int) {
    Record("Request " + std::to_string(code) + " " + (text ? text : ""));
    std::string reply;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = replies_.find(code);
        if (it == replies_.end()) return Answer(context, kZrkNotSupported);
        reply = it->second;
    }
    // The plug-in hands its own contexts, which carry a reply text.
    if (context != nullptr) static_cast<IExecContext2*>(context)->SetText(reply.c_str());
    return Answer(context, kZrkOk);
}

void TestAsyncRemote::SetReply(int code, const std::string& reply) {
    std::lock_guard<std::mutex> guard(lock_);
    replies_[code] = reply;
}

int TestAsyncRemote::Answer(IExecContext* context, int result) {
    if (context != nullptr) context->SetResult(result);
    return result;
}

void TestAsyncRemote::Record(const std::string& call) {
    std::lock_guard<std::mutex> guard(lock_);
    calls_.push_back(call);
}

std::vector<std::string> TestAsyncRemote::Calls() {
    std::lock_guard<std::mutex> guard(lock_);
    return calls_;
}

IKorrelRemote* ZRK_CALL TestRemoteManager::GetRemote() {
    ++handedOut;
    return &remote;
}

IKorrelRemote2* ZRK_CALL TestRemoteManager2::GetRemote(IZRKDevice* device) {
    ++handedOut;
    askedFor.store(device);
    return &remote;
}

IHostVariable* ZRK_CALL TestVariableManager::GetVariable(const char* name) {
    std::lock_guard<std::mutex> guard(lock_);
    if (name == nullptr) return nullptr;
    auto found = variables_.find(name);
    return found != variables_.end() ? found->second.get() : nullptr;
}

TestHostVariable* TestVariableManager::Add(const std::string& name, int type, int instanceId) {
    std::lock_guard<std::mutex> guard(lock_);
    auto& slot = variables_[name];
    slot = std::make_unique<TestHostVariable>(type, instanceId);
    return slot.get();
}

int ZRK_CALL TestRootHost::QueryInterface(const char* name, void** out) {
    if (name == nullptr || out == nullptr) return kZrkNullArgument;
    *out = nullptr;
    {
        std::lock_guard<std::mutex> guard(lock_);
        queries_.push_back(name);
    }
    if (offerRemote && std::strcmp(name, ZRK_REMOTE_MANAGER) == 0) {
        *out = static_cast<IKorrelRemoteManager*>(&remoteManager);
    } else if (offerRemote2 && std::strcmp(name, ZRK_REMOTE_MANAGER2) == 0) {
        *out = static_cast<IKorrelRemoteManager2*>(&remoteManager2);
    } else if (offerVariables && std::strcmp(name, ZRK_VARIABLE_MANAGER) == 0) {
        *out = static_cast<IVariableManager*>(&variableManager);
    } else {
        return kZrkUnknownInterface;
    }
    return kZrkOk;
}

std::vector<std::string> TestRootHost::Queries() {
    std::lock_guard<std::mutex> guard(lock_);
    return queries_;
}

IZRKCallEntry* ZRK_CALL TestCallEntry::GetSubEntry(int index) {
    if (index < 0 || index >= static_cast<int>(subs_.size())) return nullptr;
    return subs_[index].get();
}

int ZRK_CALL TestCallEntry::ReturnText(const char* text) {
    returned.push_back(text);
    return text == text_.c_str() ? 0 : kZrkBadArgument;
}

TestCallEntry* TestCallEntry::AddSub(const std::string& text) {
    subs_.push_back(std::make_unique<TestCallEntry>(text));
    return subs_.back().get();
}

IZRKCallEntry* ZRK_CALL TestCallContext::GetEntry(int index) {
    if (index < 0 || index >= static_cast<int>(entries_.size())) return nullptr;
    return entries_[index].get();
}

TestCallEntry* TestCallContext::Add(const std::string& text) {
    entries_.push_back(std::make_unique<TestCallEntry>(text));
    return entries_.back().get();
}

void AddStatusVariables(TestHostDevice& device) {
    device.Add("NextRefreshTime", kZrkVariableTime, 1);
    device.Add("LastRefreshTime", kZrkVariableTime, 2);
    device.Add("LastEvent", kZrkVariableText, 3);
    device.Add("LastEventTime", kZrkVariableText, 4);
    device.Add("LastEventAction", kZrkVariableText, 5);
    device.Add("NextEvent", kZrkVariableText, 6);
    device.Add("NextEventTime", kZrkVariableText, 7);
    device.Add("NextEventAction", kZrkVariableText, 8);
}

}  // namespace plugin_test
