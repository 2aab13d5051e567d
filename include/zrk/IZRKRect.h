// A rectangle of the host's screen (the area to centre the setup dialog on). Order is the contract.
#pragma once

#include "zrk/IMInterface.h"

class IZRKRect : public IMInterface {
public:
    virtual int ZRK_CALL GetLeft() = 0;
    virtual int ZRK_CALL GetTop() = 0;
    // Exclusive right edge.
    virtual int ZRK_CALL GetRight() = 0;
    // Exclusive bottom edge.
    virtual int ZRK_CALL GetBottom() = 0;
};
