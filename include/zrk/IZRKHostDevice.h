// The host's own object for one device (given through IZRKDevice::SetHostDevice): the device's variables
// as the host created them from the definition. Order of operations is the contract.
#pragma once

#include "zrk/IMInterface.h"

class IHostVariable;

class IZRKHostDevice : public IMInterface {
public:
    // The device variable of that name, without a reference; null when the definition has none.
    virtual IHostVariable* ZRK_CALL GetVariable(const char* name) = 0;
};
