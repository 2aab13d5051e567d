// The plug-in's one exported function. The plug-in defines it; a host looks it up by name and calls it
// through ZrkEntryPointFn.
#pragma once

#include "zrk/IZRKModule.h"

// The exported symbol's name.
#define ZRK_ENTRY_POINT_NAME "GetZRKEntryPoint"

// *out receives the module (the same one while it lives): 0; 2 for a null out; 6 when none could be made.
typedef int(ZRK_CALL* ZrkEntryPointFn)(IZRKModule** out);

ZRK_EXPORT int ZRK_CALL GetZRKEntryPoint(IZRKModule** out);
