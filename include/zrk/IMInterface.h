// The first two operations of every interface that crosses the host boundary.
#pragma once

#include "zrk/ZrkTypes.h"

class IMInterface {
public:
    // Fills *out with the interface of that name; 0, kZrkUnknownInterface (out null) or kZrkNullArgument.
    virtual int ZRK_CALL QueryInterface(const char* name, void** out) = 0;
    // Drops the caller's reference (or destroys the object, as each interface says).
    virtual int ZRK_CALL Release() = 0;
};
