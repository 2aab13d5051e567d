// The per-device remote handles: the device's way to the host's tasks and object tree. Each handle is
// handed out with one reference, which the device drops with Release. Order of operations is the contract.
#pragma once

#include "zrk/IExecContext.h"
#include "zrk/IMInterface.h"

class IKorrelRemoteHandler;

// The synchronous handle: every call returns when the host has finished.
class IKorrelRemote : public IMInterface {
public:
    // Starts the host task of that name: 0, or the host's refusal (1 for an unknown task).
    virtual int ZRK_CALL StartTask(const char* name) = 0;
    // Registers handler for changes below the named root (the device passes "GrantedRootGroup").
    virtual int ZRK_CALL Subscribe(IKorrelRemoteHandler* handler, const char* root) = 0;
    // Cancels the registration.
    virtual int ZRK_CALL Unsubscribe() = 0;
    // Request number code with argument text: 0 with *reply holding a host-owned XML text, which the
    // caller gives back with FreeReply; otherwise *reply stays null.
    virtual int ZRK_CALL Request(const char* text, int code, char** reply) = 0;
    // Frees a reply of Request and nulls *reply: 0, or 2 when reply or *reply is null.
    virtual int ZRK_CALL FreeReply(char** reply) = 0;
};

// The asynchronous handle. Each call either finishes before it returns (any result other than 21), or
// returns 21 after calling the context's Begin and later, from any host thread, stores the result code
// (SetResult), for a request the reply text (IExecContext2::SetText) and then calls Complete. The host
// touches the context no more after Complete; a reference it takes meanwhile (IExecContext2::AddRef) is
// dropped before Complete. A host that answers at once stores result and text in the context and returns
// the result.
class IKorrelRemote2 : public IMInterface {
public:
    // Sets the callback for the host's change notifications (null removes it). 0.
    virtual int ZRK_CALL SetHandler(IKorrelRemoteHandler* handler) = 0;
    // Registers for changes below root; filter narrows them ("" for all); flags 0.
    virtual int ZRK_CALL Subscribe(const char* root, const char* filter, IExecContext* context,
                                   int flags) = 0;
    // Cancels subscription (0 for all of the device's subscriptions); flags 0.
    virtual int ZRK_CALL Unsubscribe(int subscription, IExecContext* context, int flags) = 0;
    // Starts the host task of that name: 0, or the host's refusal (1 for an unknown task); flags 0.
    virtual int ZRK_CALL StartTask(const char* name, IExecContext* context, int flags) = 0;
    // Request number code with argument text; on success the reply is the context's text; flags 0.
    virtual int ZRK_CALL Request(const char* text, int code, IExecContext* context, int flags) = 0;
};
