// "IKorrelRuntimeInfo": facts about the running host. Order of operations is the contract.
#pragma once

#include "zrk/IMInterface.h"
#include "zrk/ZrkHandles.h"

class IKorrelRuntimeInfo : public IMInterface {
public:
    // The host's main window, the owner of the plug-in's dialogs; null when the host shows none.
    virtual ZrkWindowHandle ZRK_CALL GetMainWindow() = 0;
};
