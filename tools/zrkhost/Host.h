// The substitute host's side of the boundary: its root and services, the per-device objects and the
// device's variables. Every object here lives as long as the Host; the plug-in receives them without a
// reference, except the remote handles, which it releases.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "EventLog.h"
#include "HostFile.h"
#include "PendingQueue.h"
#include "zrk/ZrkHost.h"

namespace zrkhost {

class Host;

// Instance ids of the host file's variables start here; the device's own variables count from 1.
constexpr int kFirstUserInstanceId = 1001;

// A variable from the host file: integer, text or enumeration ("IEnumData").
class UserVariable final : public IHostVariable, public IEnumData {
public:
    UserVariable(EventLog& log, VariableSpec spec, int instanceId);

    int ZRK_CALL QueryInterface(const char* name, void** out) override;
    int ZRK_CALL Release() override { return 0; }
    int ZRK_CALL GetType() override;
    int ZRK_CALL SetInteger(int value, int a, int b) override;
    int ZRK_CALL SetReal(double value, int a, int b) override;
    int ZRK_CALL SetText(const char* text, int a, int b) override;
    int ZRK_CALL SetTime(int64_t value, int timeBase, int a, int b) override;
    int ZRK_CALL GetInstanceId() override { return instanceId_; }
    const char* ZRK_CALL GetItemText(int index) override;
    int ZRK_CALL GetItemCount() override;

    const std::string& Name() const { return spec_.name; }

private:
    int Refuse(const std::string& why, int code);

    EventLog& log_;
    std::mutex mutex_;
    VariableSpec spec_;  // holds the current value
    const int instanceId_;
};

// One of the device's own variables, declared by its definition: a text or a time of day.
class StatusVariable final : public IHostVariable {
public:
    StatusVariable(EventLog& log, std::string name, bool isTime, int instanceId)
        : log_(log), name_(std::move(name)), isTime_(isTime), instanceId_(instanceId) {}

    int ZRK_CALL QueryInterface(const char* name, void** out) override;
    int ZRK_CALL Release() override { return 0; }
    int ZRK_CALL GetType() override { return isTime_ ? kZrkVariableTime : kZrkVariableText; }
    int ZRK_CALL SetInteger(int value, int a, int b) override;
    int ZRK_CALL SetReal(double value, int a, int b) override;
    int ZRK_CALL SetText(const char* text, int a, int b) override;
    int ZRK_CALL SetTime(int64_t value, int timeBase, int a, int b) override;
    int ZRK_CALL GetInstanceId() override { return instanceId_; }

    const std::string& Name() const { return name_; }
    bool IsTime() const { return isTime_; }

private:
    int Refuse(const std::string& why);

    EventLog& log_;
    const std::string name_;
    const bool isTime_;
    const int instanceId_;
};

// The synchronous remote handle of one device.
class SyncRemote final : public IKorrelRemote {
public:
    explicit SyncRemote(Host& host) : host_(host) {}
    int ZRK_CALL QueryInterface(const char* name, void** out) override;
    int ZRK_CALL Release() override;
    int ZRK_CALL StartTask(const char* name) override;
    int ZRK_CALL Subscribe(IKorrelRemoteHandler* handler, const char* root) override;
    int ZRK_CALL Unsubscribe() override;
    int ZRK_CALL Request(const char* text, int code, char** reply) override;
    int ZRK_CALL FreeReply(char** reply) override;

    int References() const { return references_.load(); }

private:
    Host& host_;
    std::atomic<int> references_{1};
    std::atomic<IKorrelRemoteHandler*> handler_{nullptr};
};

// The asynchronous remote handle of one device; answers at once, or 21 with --pending.
class AsyncRemote final : public IKorrelRemote2 {
public:
    explicit AsyncRemote(Host& host) : host_(host) {}
    int ZRK_CALL QueryInterface(const char* name, void** out) override;
    int ZRK_CALL Release() override;
    int ZRK_CALL SetHandler(IKorrelRemoteHandler* handler) override;
    int ZRK_CALL Subscribe(const char* root, const char* filter, IExecContext* context, int flags) override;
    int ZRK_CALL Unsubscribe(int subscription, IExecContext* context, int flags) override;
    int ZRK_CALL StartTask(const char* name, IExecContext* context, int flags) override;
    int ZRK_CALL Request(const char* text, int code, IExecContext* context, int flags) override;

    int References() const { return references_.load(); }

private:
    Host& host_;
    std::atomic<int> references_{1};
    std::atomic<IKorrelRemoteHandler*> handler_{nullptr};
};

// The arguments of one SendCommand: entries with texts (no sub-entries from the command line).
class CallContext final : public IZRKCallContext {
public:
    CallContext(EventLog& log, const std::vector<std::string>& texts);
    int ZRK_CALL QueryInterface(const char* name, void** out) override;
    int ZRK_CALL Release() override { return 0; }
    int ZRK_CALL GetEntryCount() override { return int(entries_.size()); }
    IZRKCallEntry* ZRK_CALL GetEntry(int index) override;

private:
    class Entry final : public IZRKCallEntry {
    public:
        Entry(EventLog& log, std::string text) : log_(log), text_(std::move(text)) {}
        int ZRK_CALL QueryInterface(const char* name, void** out) override;
        int ZRK_CALL Release() override { return 0; }
        IZRKCallEntry* ZRK_CALL GetSubEntry(int) override { return nullptr; }
        const char* ZRK_CALL GetText() override { return text_.c_str(); }
        int ZRK_CALL ReturnText(const char* text) override;

    private:
        EventLog& log_;
        std::string text_;
    };
    std::vector<std::unique_ptr<Entry>> entries_;
};

// The screen area given to Configure.
class Rect final : public IZRKRect {
public:
    Rect(int left, int top, int right, int bottom) : left_(left), top_(top), right_(right), bottom_(bottom) {}
    int ZRK_CALL QueryInterface(const char* name, void** out) override;
    int ZRK_CALL Release() override { return 0; }
    int ZRK_CALL GetLeft() override { return left_; }
    int ZRK_CALL GetTop() override { return top_; }
    int ZRK_CALL GetRight() override { return right_; }
    int ZRK_CALL GetBottom() override { return bottom_; }

private:
    int left_, top_, right_, bottom_;
};

class Host {
public:
    // pendingMs < 0: the asynchronous remote answers at once. mainThread: pending calls are completed by
    // the constructing thread, in RunPending, and its own calls are answered at once.
    Host(HostFile file, EventLog& log, int pendingMs, bool mainThread = false);
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    IMInterface* Root();
    IZRKHostDevice* HostDevice();
    // Creates the device's variables from its definition: the children of Device/Variables in order get
    // the instance ids 1, 2, ...; "TimeData" ones hold times, the rest texts. Without a readable
    // definition the eight calendar status variables are created in their usual order.
    void DefineDeviceVariables(const char* definition);
    const std::vector<std::unique_ptr<StatusVariable>>& DeviceVariables() const { return status_; }

    // The host's services behind both remotes.
    int StartTask(const char* name);
    int Request(const char* text, int code, std::string* reply);
    // Runs work for an asynchronous call: at once (result and text into the context), or queued (21).
    int Dispatch(IExecContext* context, PendingQueue::Work work);

    // On the main thread: completes pending calls for `ms` milliseconds (with mainThread; otherwise the
    // completion thread does, and this only waits). Returns the number of calls still queued.
    size_t RunPending(unsigned ms);

    SyncRemote* NewSyncRemote();
    AsyncRemote* NewAsyncRemote();

    // After the module's release: ends the completion thread and reports what the plug-in left behind
    // (calls never completed, remote handles never released).
    void Shutdown();

    EventLog& Log() { return log_; }

private:
    class RootObject;
    class RuntimeInfo;
    class RemoteManager;
    class RemoteManager2;
    class VariableManager;
    class ThemeManager;
    class DeviceObject;

    HostFile file_;
    EventLog& log_;
    std::unique_ptr<PendingQueue> pending_;
    std::vector<std::unique_ptr<UserVariable>> variables_;
    std::vector<std::unique_ptr<StatusVariable>> status_;
    std::mutex remotesMutex_;
    std::vector<std::unique_ptr<SyncRemote>> syncRemotes_;
    std::vector<std::unique_ptr<AsyncRemote>> asyncRemotes_;
    std::unique_ptr<RootObject> root_;
    std::unique_ptr<RuntimeInfo> runtimeInfo_;
    std::unique_ptr<RemoteManager> remoteManager_;
    std::unique_ptr<RemoteManager2> remoteManager2_;
    std::unique_ptr<VariableManager> variableManager_;
    std::unique_ptr<ThemeManager> themeManager_;
    std::unique_ptr<DeviceObject> deviceObject_;
};

}  // namespace zrkhost
