// In-process stand-ins for the host's side of the remote access: remote handles (synchronous and
// asynchronous, answering at once or pending and completed later from another thread), the variable
// manager and host variables with enumeration data. Every call the plug-in makes is recorded.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "zrk/ZrkHost.h"

namespace fakehost {

// One call the plug-in made on a remote handle.
struct Call {
    std::string op;  // "StartTask", "Subscribe", "Unsubscribe", "Request", "SetHandler", "FreeReply"
    std::string text;
    int code = 0;
};

// A host variable; an enumeration answers "IEnumData" unless told not to.
class FakeVariable : public IHostVariable, public IEnumData {
public:
    FakeVariable(std::string name, int type, std::vector<std::string> items = {});

    int ZRK_CALL QueryInterface(const char* name, void** out) override;
    int ZRK_CALL Release() override { return 0; }
    int ZRK_CALL GetType() override { return type_; }
    int ZRK_CALL SetInteger(int value, int a, int b) override;
    int ZRK_CALL SetReal(double value, int a, int b) override;
    int ZRK_CALL SetText(const char* text, int a, int b) override;
    int ZRK_CALL SetTime(int64_t value, int timeBase, int a, int b) override;
    int ZRK_CALL GetInstanceId() override { return 1001; }
    const char* ZRK_CALL GetItemText(int index) override;
    int ZRK_CALL GetItemCount() override;

    const std::string& Name() const { return name_; }
    // What the last setter stored: "integer", "real", "text" or "time", and the value as text.
    std::string LastSetter();
    std::string LastValue();
    int SetCount();
    bool offerEnumData = true;

private:
    void Note(const char* setter, std::string value);

    std::mutex mutex_;
    const std::string name_;
    const int type_;
    const std::vector<std::string> items_;
    std::string lastSetter_;
    std::string lastValue_;
    int sets_ = 0;
};

class FakeVariableManager : public IVariableManager {
public:
    int ZRK_CALL QueryInterface(const char* name, void** out) override;
    int ZRK_CALL Release() override { return 0; }
    IHostVariable* ZRK_CALL GetVariable(const char* name) override;

    FakeVariable* Add(const std::string& name, int type, std::vector<std::string> items = {});
    FakeVariable* Find(const std::string& name);
    std::vector<std::string> Lookups();

private:
    std::mutex mutex_;
    std::vector<std::unique_ptr<FakeVariable>> variables_;
    std::vector<std::string> lookups_;
};

// The host's answers, shared by both remote handles, and the record of the calls.
class FakeRemoteHost {
public:
    // The answer of request `code` with argument `text`: a result and, for 0, a reply text. A request
    // without an answer gets `unknownRequestResult`.
    void SetReply(int code, const std::string& text, int result, const std::string& reply = std::string());
    int Answer(int code, const char* text, std::string* reply);

    // A group's data items (name, "Value" text) and second listing as the host writes them.
    static std::string ItemsReply(const std::vector<std::pair<std::string, std::string>>& items);
    static std::string ListingReply(const std::vector<std::string>& names);
    // Answers 7 and 3 for the group with those replies.
    void SetGroup(const std::string& group, const std::vector<std::pair<std::string, std::string>>& items,
                  const std::vector<std::string>& listing = {});

    void Record(const std::string& op, const char* text, int code);
    std::vector<Call> Calls();
    int CountCalls(const std::string& op);
    void ClearCalls();

    std::atomic<int> taskResult{0};
    std::atomic<int> subscribeResult{0};
    std::atomic<int> unsubscribeResult{0};
    std::atomic<int> unknownRequestResult{2};

private:
    std::mutex mutex_;
    std::map<std::pair<int, std::string>, std::pair<int, std::string>> replies_;
    std::vector<Call> calls_;
};

class FakeSyncRemote : public IKorrelRemote {
public:
    explicit FakeSyncRemote(FakeRemoteHost& host) : host_(host) {}
    ~FakeSyncRemote();
    int ZRK_CALL QueryInterface(const char* name, void** out) override;
    int ZRK_CALL Release() override { return 0; }
    int ZRK_CALL StartTask(const char* name) override;
    int ZRK_CALL Subscribe(IKorrelRemoteHandler* handler, const char* root) override;
    int ZRK_CALL Unsubscribe() override;
    int ZRK_CALL Request(const char* text, int code, char** reply) override;
    int ZRK_CALL FreeReply(char** reply) override;

    // Replies handed out and not yet given back.
    int OutstandingReplies() const { return outstanding_.load(); }
    IKorrelRemoteHandler* Handler() const { return handler_.load(); }
    // When set, a refused request still hands out a reply text (which the caller must give back).
    bool replyWithRefusal = false;

private:
    FakeRemoteHost& host_;
    std::atomic<int> outstanding_{0};
    std::atomic<IKorrelRemoteHandler*> handler_{nullptr};
};

// Answers at once, or (SetPending) answers 21 and completes each call later from its own thread.
class FakeAsyncRemote : public IKorrelRemote2 {
public:
    explicit FakeAsyncRemote(FakeRemoteHost& host) : host_(host) {}
    // Completes whatever is still held and joins the completion threads.
    ~FakeAsyncRemote();
    int ZRK_CALL QueryInterface(const char* name, void** out) override;
    int ZRK_CALL Release() override { return 0; }
    int ZRK_CALL SetHandler(IKorrelRemoteHandler* handler) override;
    int ZRK_CALL Subscribe(const char* root, const char* filter, IExecContext* context, int flags) override;
    int ZRK_CALL Unsubscribe(int subscription, IExecContext* context, int flags) override;
    int ZRK_CALL StartTask(const char* name, IExecContext* context, int flags) override;
    int ZRK_CALL Request(const char* text, int code, IExecContext* context, int flags) override;

    // delayMs >= 0: every call answers 21 and a thread completes it after delayMs. A negative delay: the
    // calls answer at once.
    void SetPending(int delayMs) { pendingMs_ = delayMs; }
    // Hold pending calls until CompleteHeld is called (from any thread).
    void SetHeld(bool held) { held_ = held; }
    // Waits (at most timeoutMs) until `count` calls are held.
    bool WaitForHeld(size_t count, int timeoutMs);
    // Completes the oldest held call on the calling thread; false when none is held.
    bool CompleteHeld();
    IKorrelRemoteHandler* Handler() const { return handler_.load(); }

private:
    struct Pending {
        IExecContext* context;
        int result;
        std::string reply;
    };
    int Dispatch(IExecContext* context, int result, const std::string& reply);
    static void Finish(const Pending& pending);

    FakeRemoteHost& host_;
    std::atomic<IKorrelRemoteHandler*> handler_{nullptr};
    std::atomic<int> pendingMs_{-1};
    std::atomic<bool> held_{false};
    std::mutex mutex_;
    std::condition_variable heldChanged_;
    std::deque<Pending> heldCalls_;
    std::vector<std::thread> completers_;
};

// The whole host side in one object.
struct FakeHost {
    FakeRemoteHost services;
    FakeSyncRemote syncRemote{services};
    FakeAsyncRemote asyncRemote{services};
    FakeVariableManager variables;
};

}  // namespace fakehost
