// Execution contexts: the host answers a long call with 21 (pending) and reports through the context
// later. The host calls these by position: the order below is the contract.
#pragma once

#include "zrk/IMInterface.h"

class IExecContext : public IMInterface {
public:
    // Stores the host's result code; returns the context.
    virtual IExecContext* ZRK_CALL SetResult(int code) = 0;
    // The host has begun the call; returns the context.
    virtual IExecContext* ZRK_CALL Begin() = 0;
    // The host has finished the call; returns a handler's result or the context's address.
    virtual intptr_t ZRK_CALL Complete() = 0;
    // Reserved; answers 0.
    virtual int ZRK_CALL ReservedA() = 0;
    // Reserved; answers 0.
    virtual int ZRK_CALL ReservedB() = 0;
};

class IExecContext2 : public IExecContext {
public:
    // Takes a reference for the host.
    virtual int ZRK_CALL AddRef() = 0;
    // Reserved; answers 0.
    virtual int ZRK_CALL ReservedC() = 0;
    // Reserved; answers 0.
    virtual int ZRK_CALL ReservedD(int a, int b, int c) = 0;
    // Stores the host's result text (null empties it).
    virtual void ZRK_CALL SetText(const char* text) = 0;
    // 0 created, 1 begun, 2 completed.
    virtual int ZRK_CALL GetState() = 0;
};
