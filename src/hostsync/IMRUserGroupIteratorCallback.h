// Receives the named items of one user group from KorrelRemote::EnumerateVariables.
#pragma once

#include <cstdint>

class IMRUserGroupIteratorCallback {
public:
    // Item kinds, which are also the variable types written to the calendar server.
    enum ItemKind : int { kIntegerData = 1, kStringData = 2, kListingItem = 3, kEnumData = 4 };

    // One item; `name` is valid during the call, `context` is the caller's value passed through.
    virtual void OnItem(const char* name, int kind, int32_t context) = 0;

protected:
    ~IMRUserGroupIteratorCallback() = default;
};
