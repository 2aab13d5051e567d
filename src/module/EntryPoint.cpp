// The plug-in's only exported function: the host's way to the module.
#include "module/MVeltranoCalendarModule.h"
#include "zrk/ZrkEntryPoint.h"

ZRK_EXPORT int ZRK_CALL GetZRKEntryPoint(IZRKModule** out) {
    if (out == nullptr) return kZrkBadArgument;
    MVeltranoCalendarModule* module = MVeltranoCalendarModule::Obtain();
    if (module == nullptr) return kZrkNoModule;
    *out = module;
    return kZrkOk;
}
