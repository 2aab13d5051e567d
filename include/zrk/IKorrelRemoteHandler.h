// The callback a device registers with the host's remote handles (Subscribe / SetHandler) to hear about
// changes of the host's objects. Order of operations is the contract.
#pragma once

#include "zrk/IMInterface.h"

class IKorrelRemoteHandler : public IMInterface {
public:
    // An object below the subscribed root changed: the kind of change, its path, the object's name and
    // type, and the host's sequence number. The handler's result is not read.
    virtual int ZRK_CALL OnObjectChanged(int change, const char* path, const char* name, const char* type,
                                         int sequence) = 0;
    // The host's connection to its objects changed: new state, previous state, reason. Result not read.
    virtual int ZRK_CALL OnStateChanged(int state, int previous, int reason) = 0;
};
