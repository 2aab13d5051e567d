// Common definitions of the host boundary. The host may be built by another compiler: interfaces are
// pure virtual tables without destructors, data members or library types.
#pragma once

#include <stdint.h>

#if defined(_WIN32)
#define ZRK_CALL __stdcall
#define ZRK_EXPORT extern "C" __declspec(dllexport)
#else
#define ZRK_CALL
#define ZRK_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// Result codes that cross the boundary.
enum ZrkResult : int {
    kZrkOk = 0,
    kZrkUnknownCommand = 1,
    kZrkBadArgument = 2,
    kZrkNoModule = 6,
    kZrkNoDevice = 7,
    kZrkDeviceLimit = 10,
    kZrkCancelled = 13,
    kZrkHostNotReady = 17,
    kZrkNotSupported = 19,
    kZrkPending = 21,
    kZrkDataRejected = 22,
    kZrkStateAnswer = 24,
    kZrkCapabilityAnswer = 772,
};

// QueryInterface answers.
constexpr int kZrkUnknownInterface = 0x10000000;
constexpr int kZrkNullArgument = 0x10000001;
