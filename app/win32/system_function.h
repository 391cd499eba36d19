#pragma once
// A function of a system DLL that older Windows lacks, looked up at run time
// so that the program still starts there (every import must exist on
// Windows XP SP3, keluflash.exe on Windows 98). Null where the DLL is not
// loaded or lacks the function.
#include "drive/win32/windows_api.h"

namespace keluflash {

template <typename Function>
Function SystemFunction(const char* module, const char* name) {
    const HMODULE library = GetModuleHandleA(module);
    // Through a plain function pointer type: FARPROC's own would not convert quietly.
    return library != nullptr ? reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)))
                              : nullptr;
}

}  // namespace keluflash
