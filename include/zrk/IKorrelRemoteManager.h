// "IKorrelRemoteManager" and "IKorrelRemoteManager2": hand each device its remote handle. Order of
// operations is the contract.
#pragma once

#include "zrk/IMInterface.h"

class IKorrelRemote;
class IKorrelRemote2;
class IZRKDevice;

class IKorrelRemoteManager : public IMInterface {
public:
    // A new synchronous handle with one reference for the caller, or null.
    virtual IKorrelRemote* ZRK_CALL GetRemote() = 0;
};

class IKorrelRemoteManager2 : public IMInterface {
public:
    // A new asynchronous handle for that device with one reference for the caller, or null.
    virtual IKorrelRemote2* ZRK_CALL GetRemote(IZRKDevice* device) = 0;
};
