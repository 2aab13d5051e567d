// A device's access to the host's objects outside the device: tasks, variables and user groups. Every
// operation returns once the host has finished with the call; a call the host answers as pending (21)
// blocks its caller on an execution context of its own until the host completes it.
//
// The asynchronous remote is preferred whenever the host gave one. The remote handles and the variable
// manager stay the device's: it releases them after deleting this object.
#pragma once

#include <atomic>
#include <cstdint>

#include "framework/CalendarDeviceExecContext.h"
#include "framework/IAsyncDeviceExecContextHandler.h"
#include "framework/MAsyncDeviceExecContext.h"
#include "framework/MIObjectMap.h"
#include "framework/MString.h"
#include "hostsync/IKorrelRemoteCallback.h"
#include "hostsync/IMRUserGroupIteratorCallback.h"
#include "hostsync/MyPostponedObject.h"
#include "zrk/IKorrelRemote.h"
#include "zrk/IKorrelRemoteHandler.h"
#include "zrk/IVariableManager.h"

class MZRKDeviceBase;

class KorrelRemote : public IKorrelRemoteHandler, public IAsyncDeviceExecContextHandler {
public:
    // The request codes the plug-in sends.
    static constexpr int kRequestUserGroups = 27;
    static constexpr int kRequestGroupItems = 7;
    static constexpr int kRequestGroupListing = 3;
    // The root the device subscribes to and asks the user group tree of.
    static constexpr const char* kRootGroup = "GrantedRootGroup";

    // Any of the host objects may be null; `device` (may be null) owns this object.
    KorrelRemote(MZRKDeviceBase* device, IKorrelRemote* syncRemote, IKorrelRemote2* asyncRemote,
                 IVariableManager* variableManager);
    virtual ~KorrelRemote();
    KorrelRemote(const KorrelRemote&) = delete;
    KorrelRemote& operator=(const KorrelRemote&) = delete;

    // The remote answers no queries and is not reference-counted: both give 0x10000001, `out` untouched.
    int ZRK_CALL QueryInterface(const char* name, void** out) override;
    int ZRK_CALL Release() override;
    // The host's change notifications are accepted and ignored.
    int ZRK_CALL OnObjectChanged(int change, const char* path, const char* name, const char* type,
                                 int sequence) override;
    int ZRK_CALL OnStateChanged(int state, int previous, int reason) override;
    virtual int ZRK_CALL OnHostNotice(int notice);
    // A completed asynchronous context is released here only when no device owns the remote.
    int OnContextDone(MDefaultDeviceExecContext* context) override;

    // The reply of request `code` with argument `text`; empty when the code is not one the host serves
    // (0..30, 100, 1000), when the host refused it or when there is no remote.
    MString SendRequest(const char* text, int code);
    // OnUserGroup for every group of the host's tree; false when the reply was not XML.
    bool EnumerateUserGroups(IKorrelRemoteCallback* consumer);
    // OnItem for the group's data items, then for its second listing; false only for a null consumer.
    bool EnumerateVariables(const char* group, IMRUserGroupIteratorCallback* consumer, int32_t context);
    // As EnumerateVariables, but tells whether both listings could be had: false when a request was
    // refused (or there is no remote) or a reply was not XML. The items of a usable listing are still
    // reported. Lets a caller tell a group without items from a host that could not be asked.
    bool EnumerateVariablesChecked(const char* group, IMRUserGroupIteratorCallback* consumer,
                                   int32_t context);

    int StartTask(const char* name);
    // `text` is a variable name, or "name=value" (then `value` is ignored). 19 for a bare name with an
    // empty value, else 0, also when the host has no such variable.
    int SetVariable(const char* text, const char* value);
    int Subscribe();
    int Unsubscribe();

    IVariableManager* GetVariableManager() const { return variableManager_; }

    // The number of host calls in progress (a context waiting on the host, or about to).
    int GetPendingCallCount();

    // Stop's side: a host may complete calls only on the thread that stops the device, so a thread of the
    // device waiting for a pending call gives it up (with kZrkCancelled, the host keeping the context until
    // it completes it) and no new call is made, until ResumeCalls.
    void EndCalls() { callsEnded_.store(true); }
    void ResumeCalls() { callsEnded_.store(false); }

private:
    // Runs `call` through the asynchronous remote with a context on pendingCalls_, waiting when the host
    // answers 21; *reply receives the context's text when the final result is 0.
    template <class Call>
    int CallAsync(Call call, MString* reply);
    // One request's reply with its outcome: 0, the host's refusal, or 19 for no remote / a code not served.
    int Request(const char* text, int code, MString* reply);

    IKorrelRemote* syncRemote_;
    IKorrelRemote2* asyncRemote_;
    IVariableManager* variableManager_;
    MZRKDeviceBase* device_;
    CalendarDeviceExecContext::Registry pendingCalls_{false};
    std::atomic<bool> callsEnded_{false};
    MAsyncDeviceExecContext::Registry asyncContexts_{false};
    MIObjectMap<MyPostponedObject>* postponed_;
};

// The walks of the host's XML replies; each returns false when the reply is not XML (then nothing is
// reported). Replies nested deeper than kMaxReplyDepth are refused as not XML, so that a hostile reply
// cannot exhaust the stack of the parser or of the walk.
namespace korrel_reply {
constexpr int kMaxReplyDepth = 64;
bool ReadUserGroups(const char* reply, IKorrelRemoteCallback* consumer);
bool ReadItems(const char* reply, IMRUserGroupIteratorCallback* consumer, int32_t context);
bool ReadListing(const char* reply, IMRUserGroupIteratorCallback* consumer, int32_t context);
// The deepest element nesting of a reply, as a cheap scan before parsing (comments, CDATA, processing
// instructions and quoted attribute values are passed over).
int NestingDepth(const char* reply);
}  // namespace korrel_reply
