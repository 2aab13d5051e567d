// "IEnumData": the item texts of an enumeration variable, obtained from the variable's QueryInterface
// without a reference. Order of operations is the contract.
#pragma once

#include "zrk/IMInterface.h"

class IEnumData : public IMInterface {
public:
    // The item text at index (from 0), owned by the host; null outside the range.
    virtual const char* ZRK_CALL GetItemText(int index) = 0;
    // The number of items.
    virtual int ZRK_CALL GetItemCount() = 0;
};
