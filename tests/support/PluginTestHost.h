// In-process stand-ins for the host's objects, for tests that play the host against the plug-in through
// the SDK headers: the root with its services, the remote managers and handles, variables, the per-device
// host object, a command's call context and a screen rectangle. Every object records what the plug-in
// asked of it; all of them may be called from any thread.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "zrk/ZrkHost.h"

namespace plugin_test {

// Settings that point the device at a port on loopback that refuses at once, so a refresh never waits
// for a peer.
inline constexpr char kQuietSettings[] =
    "<DeviceData Version=\"1000\" Name=\"\"><Setup Local=\"1\" URL=\"http://127.0.0.1:1\" "
    "RefreshPeriod=\"10\" Lookahead=\"1\" LocationId=\"1\"/></DeviceData>";

// A host variable that keeps what it was last set to.
class TestHostVariable final : public IHostVariable {
public:
    TestHostVariable(int type, int instanceId) : type_(type), instanceId_(instanceId) {}

    int ZRK_CALL QueryInterface(const char* name, void** out) override;
    int ZRK_CALL Release() override { return 0; }
    int ZRK_CALL GetType() override { return type_; }
    int ZRK_CALL SetInteger(int value, int a, int b) override;
    int ZRK_CALL SetReal(double value, int a, int b) override;
    int ZRK_CALL SetText(const char* text, int a, int b) override;
    int ZRK_CALL SetTime(int64_t value, int timeBase, int a, int b) override;
    int ZRK_CALL GetInstanceId() override { return instanceId_; }

    std::string Text();
    int64_t Number();
    int SetCount() { return sets_.load(); }

private:
    const int type_;
    const int instanceId_;
    std::mutex lock_;
    std::string text_;
    int64_t number_ = 0;
    std::atomic<int> sets_{0};
};

// The host's own object for a device: variables by name.
class TestHostDevice : public IZRKHostDevice {
public:
    int ZRK_CALL QueryInterface(const char* name, void** out) override;
    int ZRK_CALL Release() override { return 0; }
    IHostVariable* ZRK_CALL GetVariable(const char* name) override;

    // Adds a variable (owned here) and returns it.
    TestHostVariable* Add(const std::string& name, int type, int instanceId);
    // The names the plug-in asked for, in order.
    std::vector<std::string> Lookups();

private:
    std::mutex lock_;
    std::map<std::string, std::unique_ptr<TestHostVariable>> variables_;
    std::vector<std::string> lookups_;
};

// A synchronous remote handle; counts its references and records the calls.
class TestSyncRemote : public IKorrelRemote {
public:
    int ZRK_CALL QueryInterface(const char* name, void** out) override;
    int ZRK_CALL Release() override;
    int ZRK_CALL StartTask(const char* name) override;
    int ZRK_CALL Subscribe(IKorrelRemoteHandler* handler, const char* root) override;
    int ZRK_CALL Unsubscribe() override;
    int ZRK_CALL Request(const char* text, int code, char** reply) override;
    int ZRK_CALL FreeReply(char** reply) override;

    int References() { return references_.load(); }
    std::vector<std::string> Calls();

    std::atomic<int> references_{1};

private:
    void Record(const std::string& call);
    std::mutex lock_;
    std::vector<std::string> calls_;
};

// An asynchronous remote handle that answers every call at once.
class TestAsyncRemote : public IKorrelRemote2 {
public:
    int ZRK_CALL QueryInterface(const char* name, void** out) override;
    int ZRK_CALL Release() override;
    int ZRK_CALL SetHandler(IKorrelRemoteHandler* handler) override;
    int ZRK_CALL Subscribe(const char* root, const char* filter, IExecContext* context, int flags) override;
    int ZRK_CALL Unsubscribe(int subscription, IExecContext* context, int flags) override;
    int ZRK_CALL StartTask(const char* name, IExecContext* context, int flags) override;
    int ZRK_CALL Request(const char* text, int code, IExecContext* context, int flags) override;

    int References() { return references_.load(); }
    std::vector<std::string> Calls();
    // Requests of that code are answered with the reply from then on (otherwise refused).
    void SetReply(int code, const std::string& reply);

    std::atomic<int> references_{1};

private:
    int Answer(IExecContext* context, int result);
    void Record(const std::string& call);
    std::mutex lock_;
    std::vector<std::string> calls_;
    std::map<int, std::string> replies_;
};

// "IKorrelRemoteManager" and "IKorrelRemoteManager2": each hands out one handle (kept here).
class TestRemoteManager : public IKorrelRemoteManager {
public:
    int ZRK_CALL QueryInterface(const char*, void**) override { return kZrkUnknownInterface; }
    int ZRK_CALL Release() override { return 0; }
    IKorrelRemote* ZRK_CALL GetRemote() override;
    TestSyncRemote remote;
    std::atomic<int> handedOut{0};
};

class TestRemoteManager2 : public IKorrelRemoteManager2 {
public:
    int ZRK_CALL QueryInterface(const char*, void**) override { return kZrkUnknownInterface; }
    int ZRK_CALL Release() override { return 0; }
    IKorrelRemote2* ZRK_CALL GetRemote(IZRKDevice* device) override;
    TestAsyncRemote remote;
    std::atomic<int> handedOut{0};
    std::atomic<IZRKDevice*> askedFor{nullptr};
};

// "IVariableManager": the host's user variables by name.
class TestVariableManager : public IVariableManager {
public:
    int ZRK_CALL QueryInterface(const char*, void**) override { return kZrkUnknownInterface; }
    int ZRK_CALL Release() override { return 0; }
    IHostVariable* ZRK_CALL GetVariable(const char* name) override;
    TestHostVariable* Add(const std::string& name, int type, int instanceId);

private:
    std::mutex lock_;
    std::map<std::string, std::unique_ptr<TestHostVariable>> variables_;
};

// The host's root interface. Each service can be switched off to play a host that lacks it.
class TestRootHost : public IMInterface {
public:
    int ZRK_CALL QueryInterface(const char* name, void** out) override;
    int ZRK_CALL Release() override { return 0; }

    // The names asked for, in order.
    std::vector<std::string> Queries();

    bool offerRemote = true;
    bool offerRemote2 = true;
    bool offerVariables = true;
    TestRemoteManager remoteManager;
    TestRemoteManager2 remoteManager2;
    TestVariableManager variableManager;

private:
    std::mutex lock_;
    std::vector<std::string> queries_;
};

// One entry of a command's call context: a text and optional sub-entries.
class TestCallEntry final : public IZRKCallEntry {
public:
    explicit TestCallEntry(std::string text) : text_(std::move(text)) {}
    int ZRK_CALL QueryInterface(const char*, void**) override { return kZrkUnknownInterface; }
    int ZRK_CALL Release() override { return 0; }
    IZRKCallEntry* ZRK_CALL GetSubEntry(int index) override;
    const char* ZRK_CALL GetText() override { return text_.c_str(); }
    int ZRK_CALL ReturnText(const char* text) override;

    TestCallEntry* AddSub(const std::string& text);
    // The addresses handed back, in order.
    std::vector<const char*> returned;

private:
    std::string text_;
    std::vector<std::unique_ptr<TestCallEntry>> subs_;
};

class TestCallContext : public IZRKCallContext {
public:
    int ZRK_CALL QueryInterface(const char*, void**) override { return kZrkUnknownInterface; }
    int ZRK_CALL Release() override { return 0; }
    int ZRK_CALL GetEntryCount() override { return static_cast<int>(entries_.size()); }
    IZRKCallEntry* ZRK_CALL GetEntry(int index) override;

    TestCallEntry* Add(const std::string& text);

private:
    std::vector<std::unique_ptr<TestCallEntry>> entries_;
};

class TestRect : public IZRKRect {
public:
    TestRect(int left, int top, int right, int bottom) : l_(left), t_(top), r_(right), b_(bottom) {}
    int ZRK_CALL QueryInterface(const char*, void**) override { return kZrkUnknownInterface; }
    int ZRK_CALL Release() override { return 0; }
    int ZRK_CALL GetLeft() override { return ++reads, l_; }
    int ZRK_CALL GetTop() override { return ++reads, t_; }
    int ZRK_CALL GetRight() override { return ++reads, r_; }
    int ZRK_CALL GetBottom() override { return ++reads, b_; }
    int reads = 0;

private:
    int l_, t_, r_, b_;
};

// The device's eight status variables with instance ids 1 to 8 in the definition's order (the two time
// variables first), as a host creates them from the definition.
void AddStatusVariables(TestHostDevice& device);

}  // namespace plugin_test
