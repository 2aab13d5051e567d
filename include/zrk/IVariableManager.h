// "IVariableManager": finds the host's variables by name. Order of operations is the contract.
#pragma once

#include "zrk/IMInterface.h"

class IHostVariable;

class IVariableManager : public IMInterface {
public:
    // The variable of that name (exact comparison), without a reference; null when the host has none.
    virtual IHostVariable* ZRK_CALL GetVariable(const char* name) = 0;
};
