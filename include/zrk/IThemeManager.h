// "IThemeManager": the host's theme colours. Order of operations is the contract.
#pragma once

#include "zrk/IMInterface.h"
#include "zrk/ZrkHandles.h"

class IThemeManager : public IMInterface {
public:
    // The colour of the host's theme index (0 background, 1 text, ...); 0 for an index the theme lacks.
    virtual ZrkColour ZRK_CALL GetColour(int index) = 0;
};
