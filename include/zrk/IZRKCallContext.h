// The host's arguments of one SendCommand: a list of entries, each with a text and optional sub-entries.
// Valid only during the call. Order of operations is the contract.
#pragma once

#include "zrk/IMInterface.h"

class IZRKCallEntry;

class IZRKCallContext : public IMInterface {
public:
    // The number of entries.
    virtual int ZRK_CALL GetEntryCount() = 0;
    // The entry at index (from 0), or null.
    virtual IZRKCallEntry* ZRK_CALL GetEntry(int index) = 0;
};

class IZRKCallEntry : public IMInterface {
public:
    // The sub-entry at index (from 0), or null when there is none.
    virtual IZRKCallEntry* ZRK_CALL GetSubEntry(int index) = 0;
    // The entry's text, owned by the host; never null.
    virtual const char* ZRK_CALL GetText() = 0;
    // Hands back the address GetText gave, once the device has taken its copy. 0, or 2 for another address.
    virtual int ZRK_CALL ReturnText(const char* text) = 0;
};
