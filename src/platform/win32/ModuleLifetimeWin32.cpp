#include <windows.h>

#include "platform/ModuleLifetime.h"

namespace platform {

void PinOwnLibrary() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&PinOwnLibrary), &module);
}

}  // namespace platform
