// A variable of the host (a user variable or one of the device's own), handed out without a reference:
// it lives as long as the host. Order of operations is the contract.
#pragma once

#include "zrk/IMInterface.h"

// Type codes of GetType.
enum ZrkVariableType : int {
    kZrkVariableText = 1,
    kZrkVariableTime = 2,
    kZrkVariableEnum = 3,
    kZrkVariableInteger = 4,
};

// The time base of SetTime that counts hundredths of a second.
constexpr int kZrkTimeBaseHundredths = 4;

// QueryInterface also answers "IEnumData" for an enumeration variable.
class IHostVariable : public IMInterface {
public:
    // Sets a fractional number; a and b are 0.
    virtual int ZRK_CALL SetReal(double value, int a, int b) = 0;
    // Sets a text (an enumeration takes one of its item texts); a and b are 0.
    virtual int ZRK_CALL SetText(const char* text, int a, int b) = 0;
    // Sets a whole number; a and b are 0.
    virtual int ZRK_CALL SetInteger(int value, int a, int b) = 0;
    // One of ZrkVariableType.
    virtual int ZRK_CALL GetType() = 0;
    // Sets a time of value units in timeBase (kZrkTimeBaseHundredths); a and b are 0.
    virtual int ZRK_CALL SetTime(int64_t value, int timeBase, int a, int b) = 0;
    // The host's instance id of the variable (the device definition's "InstanceID").
    virtual int ZRK_CALL GetInstanceId() = 0;
};
